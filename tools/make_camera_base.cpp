// make-camera-base: writes the camera input-profile generator's base profiles (CKvCameraBaseProfile.h).
//
//   make-camera-base (--install | --base OUTPUT | --fixed OUTPUT)
//
// --install writes "KVDBase_KRX.icm" and "KVMA_KRX.icm" into the machine's profile folder, where the raw
// library reads them, and leaves a file with the same bytes alone.
#include "CKvCameraBaseProfile.h"

#include "rawlib/pipeline/CCameraProfileGen.h"
#include "rawlib/foundation/KvProfileFolder.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <unistd.h>

namespace {

int Usage(const char* program) {
    std::fprintf(stderr, "usage: %s (--install | --base OUTPUT | --fixed OUTPUT)\n", program);
    return 2;
}

bool SameBytes(const std::filesystem::path& path, const std::vector<BYTE>& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    const std::vector<char> present((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return present.size() == bytes.size() &&
           std::equal(present.begin(), present.end(), bytes.begin(),
                      [](char a, BYTE b) { return static_cast<BYTE>(a) == b; });
}

// Written beside the target and renamed over it, so that a reader never sees half a file.
bool WriteFile(const std::filesystem::path& path, const std::vector<BYTE>& bytes) {
    std::error_code error;
    if (path.has_parent_path())
        std::filesystem::create_directories(path.parent_path(), error);
    const std::filesystem::path partial = path.string() + ".part" + std::to_string(getpid());
    {
        std::ofstream out(partial, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        out.close();
        if (!out) {
            std::filesystem::remove(partial, error);
            return false;
        }
    }
    std::filesystem::rename(partial, path, error);
    if (error)
        std::filesystem::remove(partial, error);
    return !error;
}

bool Make(bool fixedProfile, const std::string& output, bool install) {
    std::string problem;
    const std::vector<BYTE> bytes = CKvCameraBaseProfile::Bytes(fixedProfile, &problem);
    if (bytes.empty()) {
        std::fprintf(stderr, "make-camera-base: %s\n", problem.c_str());
        return false;
    }
    if (install && SameBytes(output, bytes))
        return true;
    if (!WriteFile(output, bytes)) {
        std::fprintf(stderr, "make-camera-base: cannot write %s\n", output.c_str());
        return false;
    }
    std::printf("make-camera-base: %zu bytes written to %s\n", bytes.size(), output.c_str());
    return true;
}

} // namespace

int main(int argc, char** argv) {
    const std::string option = argc > 1 ? argv[1] : "";
    if (option == "--install" && argc == 2) {
        const std::string folder = static_cast<const char*>(GetProfileFolder());
        const bool ok = Make(false, folder + CCameraProfileGen::kBaseProfileName, true) &&
                        Make(true, folder + CCameraProfileGen::kFixedProfileName, true);
        return ok ? 0 : 1;
    }
    if ((option == "--base" || option == "--fixed") && argc == 3)
        return Make(option == "--fixed", argv[2], false) ? 0 : 1;
    return Usage(argv[0]);
}
