// The dust tuning vector: its reader over hostile words, and its builder over hostile image tags (see
// DustTagSet.h for the input's form). A vector the builder makes must read back with the values it was built
// from.
#include "DustTagSet.h"

#include "rawlib/filters/dust/KvDustTuning.h"

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "dust tuning invariant broken: %s\n", what);
    std::abort();
}

void Build(const BYTE* data, std::size_t size) {
    PravonTagControlPtr owned(new CPravonTagControl());
    auto* tags = static_cast<CPravonTagControl*>(owned.get());
    dustfuzz::ReadTagSet(data, size, tags);
    std::vector<BYTE> vector;
    if (IPravonError* e = KvDust::BuildTuning(tags, &vector)) {
        e->Release();
        if (!vector.empty())
            Fail("a refused build filled the vector");
        return;
    }
    if (vector.size() != 4 * KvDust::kTuningWords)
        Fail("the built vector is not fifteen words");
    DustTuning tuning;
    if (IPravonError* e = KvDust::ReadTuning(vector.data(), vector.size(), &tuning)) {
        e->Release();
        Fail("a built vector cannot be read back");
    }
    WORD model = 0;
    if (IPravonError* e = tags->GetCameraModel(&model))
        e->Release();
    if (tuning.version != KvDust::kTuningVersion || tuning.cameraType != model ||
        !KvDust::IsDustCameraType(tuning.cameraType))
        Fail("the camera type did not survive");
    if (tuning.lensCode == 0 || tuning.lensCode > 255 || tuning.apertureCode > 255)
        Fail("lens or aperture code out of range");
    for (double gain : tuning.gains)
        if (!std::isfinite(gain) || gain < 0 || gain >= 256)
            Fail("a gain no reader can use");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0 || size > (std::size_t{1} << 16))
        return 0;
    if (data[0] == static_cast<BYTE>(dustfuzz::DustTuningMode::kBuildFromTags)) {
        Build(data + 1, size - 1);
        return 0;
    }
    DustTuning tuning;
    if (IPravonError* e = KvDust::ReadTuning(data + 1, size - 1, &tuning)) {
        e->Release();
        return 0;
    }
    if (tuning.version < 3 && tuning.toneCurveRow != 2)
        Fail("a tone-curve row read from a version without it");
    if (!tuning.hasCfa && tuning.cfaCells != 0)
        Fail("colour-filter cells without a layout");
    return 0;
}
