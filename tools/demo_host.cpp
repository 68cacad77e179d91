// demo-host: develops a raw sample into a PNG, tile by tile, with a progress line.
//
//   demo-host [--scale FACTOR] [--auto-brightness] [--hq] [--rotate 90|180|270] SAMPLE OUTPUT.png
#include "CKvDemoHost.h"
#include "CKvPngFile.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

int main(int argc, char** argv) {
    double scale = 1.0;
    bool autoBrightness = false;
    bool highQuality = false;
    double rotation = 0;
    int first = 1;
    for (; first < argc && std::strncmp(argv[first], "--", 2) == 0; ++first) {
        if (std::strcmp(argv[first], "--auto-brightness") == 0) {
            autoBrightness = true;
        } else if (std::strcmp(argv[first], "--hq") == 0) {
            highQuality = true;
        } else if (std::strcmp(argv[first], "--scale") == 0 && first + 1 < argc) {
            char* end = nullptr;
            scale = std::strtod(argv[++first], &end);
            if (!end || *end || !(scale > 0) || scale > 8) {
                std::fprintf(stderr, "demo-host: the scale must be a number above 0 and at most 8\n");
                return 2;
            }
        } else if (std::strcmp(argv[first], "--rotate") == 0 && first + 1 < argc) {
            const char* turn = argv[++first];
            if (std::strcmp(turn, "90") != 0 && std::strcmp(turn, "180") != 0 &&
                std::strcmp(turn, "270") != 0) {
                std::fprintf(stderr, "demo-host: the rotation must be 90, 180 or 270\n");
                return 2;
            }
            rotation = std::atoi(turn);
        } else {
            first = argc;
        }
    }
    if (argc - first != 2) {
        std::fprintf(stderr,
                     "usage: %s [--scale FACTOR] [--auto-brightness] [--hq] [--rotate 90|180|270] SAMPLE "
                     "OUTPUT.png\n",
                     argv[0]);
        return 2;
    }
    const char* samplePath = argv[first];
    const char* pngPath = argv[first + 1];
    const auto start = std::chrono::steady_clock::now();
    CKvDemoHost host;
    host.SetHighQuality(highQuality);
    host.SetRotation(rotation);
    PravonErrorPtr err(host.Open(samplePath));
    if (!err)
        err.reset(host.BuildGraph(scale, autoBrightness));
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
    if (autoBrightness) {
        const CKvBrightness& measured = host.GetBrightness();
        std::printf("demo-host: measured black level %d, white level %d (of 65535); brightness to full range "
                    "%d/256 EV\n",
                    measured.GetBlackLevel(), measured.GetWhiteLevel(), measured.GetMeasuredBrightness());
    }
    std::string error;
    if (!CKvPngFile::WriteSrgb8(pngPath, width, height, rgb, &error)) {
        std::fprintf(stderr, "demo-host: cannot write %s: %s\n", pngPath, error.c_str());
        return 1;
    }
    std::printf("demo-host: developed %dx%d in %.2f s, written to %s\n", width, height, developed, pngPath);
    return 0;
}
