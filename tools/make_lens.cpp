// make-lens: writes a lens file from a lens model (CKvLensModel.h says what the parameters mean).
//
//   make-lens [--lens P:DEG] [--first P:DEG] [--second P:DEG] [--identity] [--ripple A] [--model N]
//             [--cut N] [--extra N] [--version N] [--length N] [--other-id] (OUTPUT | --install)
//
// P is rectilinear, equidistant, equisolid, orthographic or stereographic; DEG the diagonal field of view.
// --install writes the file where the raw library looks for it, in the machine's profile folder, and leaves
// a file with the same bytes alone. --cut, --extra, --version and --length damage the file for tests;
// --other-id stores the id in the other form that readers take too.
#include "CKvLensModel.h"
#include "KvCommandLine.h"

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <unistd.h>

namespace {

using KvCommandLine::Number;
using KvCommandLine::Real;

int Usage(const char* program) {
    std::fprintf(stderr,
                 "usage: %s [--lens P:DEG] [--first P:DEG] [--second P:DEG] [--identity] [--ripple A]\n"
                 "       [--model N] [--cut N] [--extra N] [--version N] [--length N] [--other-id]\n"
                 "       (OUTPUT | --install)\n"
                 "P: rectilinear, equidistant, equisolid, orthographic or stereographic\n",
                 program);
    return 2;
}

// "equidistant:180"
bool ParseView(const std::string& text, CKvLensModel::View* view) {
    const std::size_t colon = text.find(':');
    if (colon == std::string::npos)
        return false;
    return CKvLensModel::ParseProjection(text.substr(0, colon), &view->projection) &&
           Real(text.c_str() + colon + 1, &view->fieldOfView);
}

bool SameBytes(const std::filesystem::path& path, const std::vector<BYTE>& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in)
        return false;
    // A read that stops early gives fewer bytes, which differ.
    const std::vector<char> present((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return present.size() == bytes.size() &&
           std::equal(present.begin(), present.end(), bytes.begin(),
                      [](char a, BYTE b) { return static_cast<BYTE>(a) == b; });
}

// Written beside the target and renamed over it, so that a reader (or another build installing at the same
// time) never sees half a file.
bool WriteFile(const std::filesystem::path& path, const std::vector<BYTE>& bytes, std::string* problem) {
    std::error_code error;
    if (path.has_parent_path())
        std::filesystem::create_directories(path.parent_path(), error);
    const std::filesystem::path partial = path.string() + ".part" + std::to_string(getpid());
    {
        std::ofstream out(partial, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        out.close();
        if (!out) {
            *problem = "cannot write " + partial.string();
            std::filesystem::remove(partial, error);
            return false;
        }
    }
    std::filesystem::rename(partial, path, error);
    if (error) {
        *problem = "cannot put the file at " + path.string() + ": " + error.message();
        std::filesystem::remove(partial, error);
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    CKvLensModel::Parameters parameters;
    CKvLensModel::Damage damage;
    std::string output;
    bool install = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        long long n = 0;
        if (arg == "--identity") {
            parameters.identity = true;
            continue;
        }
        if (arg == "--other-id") {
            damage.otherId = true;
            continue;
        }
        if (arg == "--install") {
            install = true;
            continue;
        }
        if (arg.rfind("--", 0) != 0 && output.empty()) {
            output = arg;
            continue;
        }
        if (!value) {
            return Usage(argv[0]);
        } else if (arg == "--lens" && ParseView(value, &parameters.lens)) {
        } else if (arg == "--first" && ParseView(value, &parameters.first)) {
        } else if (arg == "--second" && ParseView(value, &parameters.second)) {
        } else if (arg == "--ripple" && Real(value, &parameters.ripple)) {
        } else if (arg == "--model" && Number(value, 0, 255, &n)) {
            parameters.lensModel = static_cast<BYTE>(n);
        } else if (arg == "--cut" && Number(value, 0, 1LL << 30, &damage.cut)) {
        } else if (arg == "--extra" && Number(value, 0, 1LL << 30, &damage.extra)) {
        } else if (arg == "--version" && Number(value, 0, 0xFFFF, &damage.version)) {
        } else if (arg == "--length" && Number(value, 0, 0xFFFFFFFFLL, &damage.length)) {
        } else {
            return Usage(argv[0]);
        }
        ++i;
    }
    if (install == !output.empty())
        return Usage(argv[0]);
    if (const std::string problem = CKvLensModel::Check(parameters); !problem.empty()) {
        std::fprintf(stderr, "make-lens: %s\n", problem.c_str());
        return 2;
    }
    if (install) {
        CKvString path;
        if (GetLensFilePath(path, parameters.lensModel) != 0) {
            std::fprintf(stderr, "make-lens: lens model %d has no lens file\n", parameters.lensModel);
            return 1;
        }
        output = path.GetBuffer();
    }
    const std::vector<BYTE> bytes = CKvLensModel::FileBytes(parameters, damage);
    if (install && SameBytes(output, bytes))
        return 0;
    std::string problem;
    if (!WriteFile(output, bytes, &problem)) {
        std::fprintf(stderr, "make-lens: %s\n", problem.c_str());
        return 1;
    }
    std::printf("make-lens: %zu bytes written to %s\n", bytes.size(), output.c_str());
    return 0;
}
