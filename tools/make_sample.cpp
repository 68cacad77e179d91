// make-sample: writes the synthetic raw sample and its scene.
//
//   make-sample [--width N] [--height N] [--pattern RGGB|GRBG|GBRG|BGGR] [--camera-model N]
//               [--red-gain G] [--blue-gain G] [--sensitivity N] [--settings] [--scene PATH] OUTPUT
//
// --settings stores development settings in the sample: white balance, exposure, a tone curve, sharpening
// and a crop.
#include "CKvSampleMaker.h"
#include "KvCommandLine.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

int Usage(const char* program) {
    std::fprintf(
        stderr,
        "usage: %s [--width N] [--height N] [--pattern RGGB|GRBG|GBRG|BGGR] [--camera-model N]\n"
        "       [--red-gain G] [--blue-gain G] [--sensitivity N] [--settings] [--scene PATH] OUTPUT\n",
        program);
    return 2;
}

} // namespace

using KvCommandLine::Number;
using KvCommandLine::Real;

int main(int argc, char** argv) {
    CKvSampleMaker::Options options;
    std::string output;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        long long n = 0;
        if (arg == "--width" && hasValue && Number(argv[i + 1], 13, 65535, &n)) {
            options.width = static_cast<LONG>(n);
        } else if (arg == "--height" && hasValue && Number(argv[i + 1], 13, 65535, &n)) {
            options.height = static_cast<LONG>(n);
        } else if (arg == "--pattern" && hasValue) {
            options.pattern = argv[i + 1];
        } else if (arg == "--camera-model" && hasValue && Number(argv[i + 1], 0, 65535, &n)) {
            options.cameraModel = static_cast<WORD>(n);
        } else if (arg == "--sensitivity" && hasValue && Number(argv[i + 1], 1, 65535, &n)) {
            options.sensitivity = static_cast<WORD>(n);
        } else if (arg == "--red-gain" && hasValue && Real(argv[i + 1], &options.redGain)) {
        } else if (arg == "--blue-gain" && hasValue && Real(argv[i + 1], &options.blueGain)) {
        } else if (arg == "--settings") {
            options.settings = true;
            continue;
        } else if (arg == "--scene" && hasValue) {
            options.scenePath = argv[i + 1];
        } else if (arg.rfind("--", 0) != 0 && output.empty()) {
            output = arg;
            continue;
        } else {
            return Usage(argv[0]);
        }
        ++i;
    }
    if (output.empty())
        return Usage(argv[0]);
    options.samplePath = output;
    PravonErrorPtr err(CKvSampleMaker::Make(options));
    if (err) {
        std::fprintf(stderr, "make-sample: %s\n", err->Describe().c_str());
        return 1;
    }
    std::printf("make-sample: %dx%d %s mosaic, camera model %d, written to %s%s%s\n", options.width,
                options.height, options.pattern.c_str(), options.cameraModel, output.c_str(),
                options.scenePath.empty() ? "" : ", scene to ", options.scenePath.c_str());
    return 0;
}
