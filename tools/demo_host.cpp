// demo-host: develops a raw sample into a PNG, tile by tile, with a progress line.
//
//   demo-host [--scale FACTOR] SAMPLE OUTPUT.png
#include "CKvDemoHost.h"
#include "CKvPngFile.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

int main(int argc, char** argv) {
    double scale = 1.0;
    int first = 1;
    if (argc == 5 && std::strcmp(argv[1], "--scale") == 0) {
        char* end = nullptr;
        scale = std::strtod(argv[2], &end);
        if (!end || *end || !(scale > 0) || scale > 8) {
            std::fprintf(stderr, "demo-host: the scale must be a number above 0 and at most 8\n");
            return 2;
        }
        first = 3;
    } else if (argc != 3) {
        std::fprintf(stderr, "usage: %s [--scale FACTOR] SAMPLE OUTPUT.png\n", argv[0]);
        return 2;
    }
    const char* samplePath = argv[first];
    const char* pngPath = argv[first + 1];
    const auto start = std::chrono::steady_clock::now();
    CKvDemoHost host;
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
