// demo-host: develops a raw sample into a PNG, tile by tile, with a progress line.
//
//   demo-host [--scale FACTOR] [--noise LEVEL] [--moire LEVEL] [--fine-edge] [--vignette AMOUNT]
//             SAMPLE OUTPUT.png
//
// --noise takes the colour-noise level of the noise reduction settings (1 to 10), --moire the moire level
// (1 to 3), --vignette the vignette correction's amount (100 is the full correction).
#include "CKvDemoHost.h"
#include "CKvPngFile.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <unistd.h>

namespace {

// The number in text, when it is one and lies in low .. high.
bool ParseNumber(const char* text, double low, double high, double* value) {
    char* end = nullptr;
    *value = std::strtod(text, &end);
    return end && end != text && !*end && *value >= low && *value <= high;
}

int Usage(const char* program) {
    std::fprintf(
        stderr,
        "usage: %s [--scale FACTOR] [--noise LEVEL] [--moire LEVEL] [--fine-edge] [--vignette AMOUNT] "
        "SAMPLE OUTPUT.png\n",
        program);
    return 2;
}

} // namespace

int main(int argc, char** argv) {
    double scale = 1.0;
    CKvDemoAdjustments::Settings adjustments;
    int first = 1;
    while (first < argc && std::strncmp(argv[first], "--", 2) == 0) {
        const std::string flag = argv[first];
        if (flag == "--fine-edge") {
            adjustments.fineEdge = true;
            ++first;
            continue;
        }
        if (first + 1 >= argc)
            return Usage(argv[0]);
        double value = 0;
        const char* text = argv[first + 1];
        if (flag == "--scale") {
            if (!ParseNumber(text, 0, 8, &value) || !(value > 0)) {
                std::fprintf(stderr, "demo-host: the scale must be a number above 0 and at most 8\n");
                return 2;
            }
            scale = value;
        } else if (flag == "--noise") {
            if (!ParseNumber(text, 0, 10, &value) || value != static_cast<LONG>(value)) {
                std::fprintf(stderr, "demo-host: the noise level must be a whole number from 0 to 10\n");
                return 2;
            }
            adjustments.noiseLevel = static_cast<LONG>(value);
        } else if (flag == "--moire") {
            if (!ParseNumber(text, 0, 3, &value) || value != static_cast<LONG>(value)) {
                std::fprintf(stderr, "demo-host: the moire level must be a whole number from 0 to 3\n");
                return 2;
            }
            adjustments.moireLevel = static_cast<LONG>(value);
        } else if (flag == "--vignette") {
            if (!ParseNumber(text, -32768, 32767, &value) || value != static_cast<SHORT>(value)) {
                std::fprintf(stderr,
                             "demo-host: the vignette amount must be a whole number (100 corrects fully)\n");
                return 2;
            }
            adjustments.vignetteAmount = static_cast<SHORT>(value);
        } else {
            return Usage(argv[0]);
        }
        first += 2;
    }
    if (argc - first != 2)
        return Usage(argv[0]);
    const char* samplePath = argv[first];
    const char* pngPath = argv[first + 1];
    const auto start = std::chrono::steady_clock::now();
    CKvDemoHost host;
    host.SetAdjustments(adjustments);
    PravonErrorPtr err(host.Open(samplePath));
    if (!err)
        err.reset(host.BuildGraph(scale));
    std::vector<BYTE> rgb;
    LONG width = 0;
    LONG height = 0;
    const bool terminal = isatty(STDOUT_FILENO) != 0;
    LONG lastPercent = -1;
    if (!err)
        err.reset(host.Develop(&rgb, &width, &height, [&](LONG done, LONG total) {
            const LONG percent = static_cast<LONG>(100LL * done / total);
            if (percent == lastPercent)
                return;
            lastPercent = percent;
            if (terminal || done == total) {
                std::printf("%sdeveloping: tile %d of %d (%d%%)%s", terminal ? "\r" : "", done, total,
                            percent, done == total ? "\n" : "");
                std::fflush(stdout);
            }
        }));
    if (err) {
        std::fprintf(stderr, "\ndemo-host: %s\n", err->Describe().c_str());
        return 1;
    }
    const double developed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::string error;
    if (!CKvPngFile::WriteSrgb8(pngPath, width, height, rgb, &error)) {
        std::fprintf(stderr, "demo-host: cannot write %s: %s\n", pngPath, error.c_str());
        return 1;
    }
    std::printf("demo-host: developed %dx%d in %.2f s, written to %s\n", width, height, developed, pngPath);
    return 0;
}
