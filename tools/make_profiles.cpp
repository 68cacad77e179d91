// make-profiles: writes the standard colour profiles (CKvStandardProfiles.h says what each one is).
//
//   make-profiles (FOLDER | --install)
//
// --install writes them where the raw library looks for them, in the machine's profile folder, and leaves
// a file with the same bytes alone.
#include "CKvStandardProfiles.h"

#include "rawlib/foundation/KvProfileFolder.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <unistd.h>
#include <vector>

namespace {

bool SameBytes(const std::filesystem::path& path, const std::vector<unsigned char>& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    const std::vector<char> present((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return present.size() == bytes.size() &&
           std::equal(present.begin(), present.end(), bytes.begin(),
                      [](char a, unsigned char b) { return static_cast<unsigned char>(a) == b; });
}

// Written beside the target and renamed over it, so that a reader never sees half a profile.
bool WriteFile(const std::filesystem::path& path, const std::vector<unsigned char>& bytes) {
    const std::filesystem::path partial = path.string() + ".part" + std::to_string(getpid());
    std::error_code error;
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

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s (FOLDER | --install)\n", argv[0]);
        return 2;
    }
    const std::string arg = argv[1];
    const bool install = arg == "--install";
    const std::filesystem::path folder = install ? std::string(GetProfileFolder().GetBuffer()) : arg;
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    for (const CKvStandardProfiles::Profile& profile : CKvStandardProfiles::List()) {
        const std::vector<unsigned char> bytes = CKvStandardProfiles::Bytes(profile.name);
        const std::filesystem::path path = folder / profile.name;
        if (bytes.empty()) {
            std::fprintf(stderr, "make-profiles: lcms2 made no %s\n", profile.name);
            return 1;
        }
        if (install && SameBytes(path, bytes))
            continue;
        if (!WriteFile(path, bytes)) {
            std::fprintf(stderr, "make-profiles: cannot write %s\n", path.string().c_str());
            return 1;
        }
    }
    return 0;
}
