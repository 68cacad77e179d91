// Fuzz target for the readers of colour profiles: the filter library's own header and tag reader, and the
// colour-management layer's profile loading. The readers take file names, so each input is written to a
// file of this process first.
#include "filters/CIccProfileReader.h"
#include "platform/zov/KVCM.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

const std::string& InputPath() {
    static const std::string path = [] {
        const char* dir = std::getenv("TMPDIR");
        return std::string(dir && *dir ? dir : "/tmp") + "/icc_profile_fuzz_" + std::to_string(getpid()) + ".icc";
    }();
    return path;
}

bool WriteInput(const std::uint8_t* data, std::size_t size) {
    std::FILE* f = std::fopen(InputPath().c_str(), "wb");
    if (!f)
        return false;
    const bool ok = size == 0 || std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && ok;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (!WriteInput(data, size))
        return 0;
    const std::string& path = InputPath();

    char signature[4] = {};
    CIccProfileReader::ReadColorSpace(path, signature);
    CIccProfileReader::MatrixShaper shaper;
    if (CIccProfileReader::ReadMatrixShaper(path, &shaper) == 0)
        (void)shaper.IsComplete();

    // The profile on both sides of a transform, converting one pixel when it loads.
    HKVCMXFORM transform = nullptr;
    HKVCMCML cml = nullptr;
    if (KVCMCreateXForm(&transform) == 0 && KVCMCreateCML(&cml) == 0) {
        const bool input = KVCMSetInputProfileFile(transform, path.c_str()) == 0;
        const bool output = KVCMSetOutputProfileFile(transform, path.c_str()) == 0;
        if (input && output && KVCMSetTransform(cml, transform) == 0) {
            std::uint8_t pixel[64] = {};
            KVCMProcessInterleavedData(cml, 1, 1, pixel, pixel, 0, 0);
        }
    }
    if (cml)
        KVCMDestroyCML(cml);
    if (transform)
        KVCMDestroyXForm(transform);
    std::remove(path.c_str());
    return 0;
}
