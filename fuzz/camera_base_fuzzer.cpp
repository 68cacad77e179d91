// The camera profile generator's reader of its base profiles over hostile bytes: the input is the base
// profile of a machine folder of this process's own (header byte 100, reserved and 0 in a real profile,
// picks the record). A refused base gives an empty path and leaves no generated file; an accepted one
// gives a file of exactly the generated size whose header states that size and which has the layout of a
// base itself. The fixed profile is never written.
#include "rawlib/pipeline/CCameraProfileGen.h"
#include "rawlib/pipeline/KvCameraProfileFile.h"
#include "rawlib/foundation/KvProfileFolder.h"

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "camera base invariant broken: %s\n", what);
    std::abort();
}

const std::string& ProfileFolder() {
    static const std::string folder = [] {
        char root[] = "/tmp/camera_base_fuzz_XXXXXX";
        if (!mkdtemp(root))
            Fail("no folder for the machine");
        setenv("KV_SYSTEM_ROOT", root, 1);
        static const std::string machine = root;
        std::atexit([] {
            std::error_code error;
            std::filesystem::remove_all(machine, error);
        });
        const std::string profiles = static_cast<const char*>(GetProfileFolder());
        std::filesystem::create_directories(profiles);
        return profiles;
    }();
    return folder;
}

CameraProfileParams Record(int which) {
    CameraProfileParams p;
    p.toneMode = 3;
    p.whiteBalanceKind = 2;
    switch (which % 4) {
    case 0: // MD on the direct path
        p.camera = 4;
        p.tableIndex = 10;
        break;
    case 1: // MBH on the grid path
        p.camera = 5;
        p.tableIndex = 510;
        break;
    case 2: // MA in the fixed-profile mode
        p.camera = 1;
        p.colorMode = 1;
        break;
    default: // MD in colour mode 4
        p.camera = 4;
        p.colorMode = 4;
        p.tableIndex = 66;
        break;
    }
    return p;
}

std::vector<std::uint8_t> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string& folder = ProfileFolder();
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error))
        std::filesystem::remove(entry.path(), error);
    const CameraProfileParams params = Record(size > 100 ? data[100] : 0);
    CCameraProfileGen generator;
    generator.Initialize(params);
    const std::string base = folder + (generator.IsFixedProfile() ? CCameraProfileGen::kFixedProfileName
                                                                  : CCameraProfileGen::kBaseProfileName);
    std::ofstream(base, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    const std::string path = static_cast<const char*>(GenerateCameraProfile(params));
    const std::string name = static_cast<const char*>(CameraProfileFileName(params));
    if (generator.IsFixedProfile()) {
        if (ReadAll(base) != std::vector<std::uint8_t>(data, data + size))
            Fail("the fixed profile was written");
        if (!path.empty() && size != CCameraProfileGen::kFixedProfileSize)
            Fail("a fixed profile of another size was taken");
        return 0;
    }
    if (path.empty()) {
        if (std::filesystem::exists(folder + name))
            Fail("a refused base left a generated file");
        return 0;
    }
    const std::vector<std::uint8_t> bytes = ReadAll(path);
    if (bytes.size() != generator.ProfileSize())
        Fail("the generated file has another size");
    const std::uint32_t stated = std::uint32_t(bytes[0]) << 24 | std::uint32_t(bytes[1]) << 16 |
                                 std::uint32_t(bytes[2]) << 8 | bytes[3];
    if (stated != bytes.size())
        Fail("the header states another size");
    if (!CCameraProfileGen::CheckBaseLayout(std::vector<BYTE>(bytes.begin(), bytes.end()), nullptr))
        Fail("the generated profile lost the layout");
    return 0;
}
