// demo-host: develops a raw sample into a PNG, tile by tile, with a progress line.
//
//   demo-host [--hq] [--rotate 90|180|270] [--scale FACTOR] [--auto-brightness] [--then exposure=EV]
//             SAMPLE OUTPUT.png
//
// The sample is developed through the exported filter-chain object with its stored settings (with
// --auto-brightness the brightness measured over the chain's histogram; --moire LEVEL (1 to 3), --fine-edge
// and
// --noise LEVEL (the colour-noise level, 1 to 10) set the noise reduction settings, --vignette AMOUNT (100 is
// the full correction) the vignette settings, and --sharpen RADIUS,POWER makes the sharpening list one
// unsharp mask); --then exposure=EV then changes the exposure, develops again, says how many tiles each stage
// made again and writes OUTPUT-then.png.
//
// With --graph the sample develops through the demo's own graph instead, which takes the same flags.
#include "CKvChainDevelop.h"
#include "CKvDemoHost.h"
#include "CKvPngFile.h"
#include "KvCommandLine.h"
#include "platform/win/WinPath.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <memory>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

// Prints "developing: tile N of M (P%)", in place on a terminal, else once at the end.
std::function<void(LONG, LONG)> ProgressLine() {
    const bool terminal = isatty(STDOUT_FILENO) != 0;
    auto lastPercent = std::make_shared<LONG>(-1);
    return [terminal, lastPercent](LONG done, LONG total) {
        const LONG percent = static_cast<LONG>(100LL * done / total);
        if (percent == *lastPercent)
            return;
        *lastPercent = percent;
        if (terminal || done == total) {
            std::printf("%sdeveloping: tile %d of %d (%d%%)%s", terminal ? "\r" : "", done, total, percent,
                        done == total ? "\n" : "");
            std::fflush(stdout);
        }
    };
}

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

void PrintMeasured(const CKvBrightness& measured) {
    std::printf("demo-host: measured black level %d, white level %d (of 65535); brightness to full range "
                "%d/256 EV\n",
                measured.GetBlackLevel(), measured.GetWhiteLevel(), measured.GetMeasuredBrightness());
}

// The PNG with the profile of the chain's output embedded, so that a viewer shows its colours as meant.
bool WriteWithOutputProfile(const CKvChainDevelop& chain, const std::string& path, LONG width, LONG height,
                            const std::vector<BYTE>& rgb, std::string* error) {
    const std::string profile = chain.OutputProfile();
    std::vector<BYTE> bytes;
    if (!profile.empty()) {
        std::ifstream in(WinPath::ToNative(profile), std::ios::binary);
        bytes.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    const std::size_t slash = profile.find_last_of("/\\");
    return CKvPngFile::WriteRgb8WithProfile(path, width, height, rgb,
                                            slash == std::string::npos ? profile : profile.substr(slash + 1),
                                            bytes, error);
}

std::string FileName(const std::string& path) {
    const std::size_t slash = path.find_last_of("/\\");
    return path.empty() ? "none" : slash == std::string::npos ? path : path.substr(slash + 1);
}

// Which profiles the colours went through, and how the picture was stood upright.
void PrintColourAndOrientation(const CKvChainDevelop& chain) {
    std::printf("demo-host: colour from %s to %s\n", FileName(chain.InputProfile()).c_str(),
                FileName(chain.OutputProfile()).c_str());
    bool mirrored = false;
    double clockwise = 0;
    if (!chain.Orientation(&mirrored, &clockwise))
        return;
    if (clockwise == 0)
        std::printf("demo-host: orientation: %s\n", mirrored ? "mirrored" : "as stored");
    else
        std::printf("demo-host: orientation: %sturned %g degrees clockwise\n",
                    mirrored ? "mirrored, then " : "", clockwise);
}

// Develops through the filter-chain object; with `then`, once more after the exposure change.
int DevelopThroughChain(const char* samplePath, const std::string& pngPath, bool highQuality, LONG rotation,
                        double scale, bool autoBrightness, const CKvDemoAdjustments::Settings& detail,
                        double sharpenRadius, double sharpenPower, bool then, double exposure) {
    const auto start = std::chrono::steady_clock::now();
    CKvChainDevelop chain;
    std::vector<BYTE> rgb;
    LONG width = 0;
    LONG height = 0;
    PravonErrorPtr err(chain.Open(samplePath));
    if (!err)
        err.reset(chain.SetModes(highQuality));
    if (!err && (rotation != 0 || scale != 1.0))
        err.reset(chain.SetOutput(rotation, scale));
    if (!err && (detail.moireLevel != 0 || detail.fineEdge))
        err.reset(chain.SetMoireAndFineEdge(detail.moireLevel, detail.fineEdge));
    if (!err && detail.noiseLevel != 0)
        err.reset(chain.SetColorNoise(detail.noiseLevel));
    if (!err && detail.vignetteAmount != 0)
        err.reset(chain.SetVignette(detail.vignetteAmount));
    if (!err && sharpenPower > 0)
        err.reset(chain.SetSharpening(sharpenRadius, sharpenPower));
    if (!err && autoBrightness)
        err.reset(chain.SetAutoBrightness());
    if (!err && autoBrightness)
        PrintMeasured(*chain.GetBrightness());
    if (!err)
        err.reset(chain.Develop(&rgb, &width, &height, ProgressLine()));
    std::string error;
    if (!err && !WriteWithOutputProfile(chain, pngPath, width, height, rgb, &error)) {
        std::fprintf(stderr, "demo-host: cannot write %s: %s\n", pngPath.c_str(), error.c_str());
        return 1;
    }
    const double full = Seconds(start);
    if (!err) {
        std::printf("demo-host: developed %dx%d through the filter chain in %.2f s, written to %s\n", width,
                    height, full, pngPath.c_str());
        PrintColourAndOrientation(chain);
    }
    if (!err && then) {
        const auto again = std::chrono::steady_clock::now();
        chain.ResetStageCounts();
        err.reset(chain.SetExposure(exposure));
        if (!err)
            err.reset(chain.Develop(&rgb, &width, &height, ProgressLine()));
        if (!err) {
            std::printf("demo-host: tiles made again, by stage:");
            for (const auto& [stage, tiles] : chain.StageCounts())
                std::printf(" %d:%llu", stage, static_cast<unsigned long long>(tiles));
            std::printf("\n");
        }
        const std::size_t dot = pngPath.rfind(".png");
        const std::string thenPath =
            (dot == std::string::npos ? pngPath : pngPath.substr(0, dot)) + "-then.png";
        if (!err && !WriteWithOutputProfile(chain, thenPath, width, height, rgb, &error)) {
            std::fprintf(stderr, "demo-host: cannot write %s: %s\n", thenPath.c_str(), error.c_str());
            return 1;
        }
        if (!err)
            std::printf(
                "demo-host: exposure %+.2f EV developed again in %.2f s (%.2f of the first), written to "
                "%s\n",
                exposure, Seconds(again), Seconds(again) / full, thenPath.c_str());
    }
    if (err) {
        std::fprintf(stderr, "\ndemo-host: %s\n", err->Describe().c_str());
        return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    double scale = 1.0;
    bool autoBrightness = false;
    double sharpenRadius = 0;
    double sharpenPower = 0;
    CKvDemoAdjustments::Settings adjustments;
    long long whole = 0;
    bool highQuality = false;
    double rotation = 0;
    bool ownGraph = false;
    bool then = false;
    double thenExposure = 0;
    int first = 1;
    for (; first < argc && std::strncmp(argv[first], "--", 2) == 0; ++first) {
        if (std::strcmp(argv[first], "--chain") == 0) {
            // The default now; kept so that older command lines still run.
        } else if (std::strcmp(argv[first], "--graph") == 0) {
            ownGraph = true;
        } else if (std::strcmp(argv[first], "--then") == 0 && first + 1 < argc) {
            const char* change = argv[++first];
            char* end = nullptr;
            if (std::strncmp(change, "exposure=", 9) == 0)
                thenExposure = std::strtod(change + 9, &end);
            if (!end || end == change + 9 || *end || !(thenExposure >= -10 && thenExposure <= 10)) {
                std::fprintf(stderr, "demo-host: --then takes exposure=EV, an EV from -10 to 10\n");
                return 2;
            }
            then = true;
        } else if (std::strcmp(argv[first], "--auto-brightness") == 0) {
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
        } else if (std::strcmp(argv[first], "--sharpen") == 0 && first + 1 < argc) {
            char* end = nullptr;
            const char* text = argv[++first];
            sharpenRadius = std::strtod(text, &end);
            const bool radiusRead = end != text && *end == ',';
            if (radiusRead) {
                text = end + 1;
                sharpenPower = std::strtod(text, &end);
            }
            if (!radiusRead || end == text || *end || !(sharpenRadius >= 0 && sharpenRadius <= 100) ||
                !(sharpenPower > 0 && sharpenPower <= 10)) {
                std::fprintf(stderr, "demo-host: --sharpen takes RADIUS,POWER: a radius from 0 to 100 and a "
                                     "power above 0 and at most 10\n");
                return 2;
            }
        } else if (std::strcmp(argv[first], "--fine-edge") == 0) {
            adjustments.fineEdge = true;
        } else if (std::strcmp(argv[first], "--noise") == 0 && first + 1 < argc) {
            if (!KvCommandLine::Number(argv[++first], 0, 10, &whole)) {
                std::fprintf(stderr, "demo-host: the noise level must be a whole number from 0 to 10\n");
                return 2;
            }
            adjustments.noiseLevel = static_cast<LONG>(whole);
        } else if (std::strcmp(argv[first], "--moire") == 0 && first + 1 < argc) {
            if (!KvCommandLine::Number(argv[++first], 0, 3, &whole)) {
                std::fprintf(stderr, "demo-host: the moire level must be a whole number from 0 to 3\n");
                return 2;
            }
            adjustments.moireLevel = static_cast<LONG>(whole);
        } else if (std::strcmp(argv[first], "--vignette") == 0 && first + 1 < argc) {
            if (!KvCommandLine::Number(argv[++first], -32768, 32767, &whole)) {
                std::fprintf(stderr,
                             "demo-host: the vignette amount must be a whole number (100 corrects fully)\n");
                return 2;
            }
            adjustments.vignetteAmount = static_cast<SHORT>(whole);
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
                     "usage: %s [--then exposure=EV] [--graph] [--scale FACTOR] [--auto-brightness] [--hq] "
                     "[--rotate 90|180|270] "
                     "[--sharpen RADIUS,POWER] [--noise LEVEL] [--moire LEVEL] [--fine-edge] "
                     "[--vignette AMOUNT] SAMPLE OUTPUT.png\n",
                     argv[0]);
        return 2;
    }
    const char* samplePath = argv[first];
    const char* pngPath = argv[first + 1];
    if (then && ownGraph) {
        std::fprintf(stderr, "demo-host: --then develops through the filter chain, without --graph\n");
        return 2;
    }
    if (!ownGraph)
        return DevelopThroughChain(samplePath, pngPath, highQuality, static_cast<LONG>(rotation), scale,
                                   autoBrightness, adjustments, sharpenRadius, sharpenPower, then,
                                   thenExposure);
    const auto start = std::chrono::steady_clock::now();
    CKvDemoHost host;
    host.SetAdjustments(adjustments);
    host.SetHighQuality(highQuality);
    host.SetRotation(rotation);
    PravonErrorPtr err(host.Open(samplePath));
    if (!err)
        err.reset(host.BuildGraph(scale, autoBrightness, sharpenRadius, sharpenPower));
    std::vector<BYTE> rgb;
    LONG width = 0;
    LONG height = 0;
    if (!err)
        err.reset(host.Develop(&rgb, &width, &height, ProgressLine()));
    if (err) {
        std::fprintf(stderr, "\ndemo-host: %s\n", err->Describe().c_str());
        return 1;
    }
    const double developed = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (autoBrightness)
        PrintMeasured(host.GetBrightness());
    std::string error;
    if (!CKvPngFile::WriteSrgb8(pngPath, width, height, rgb, &error)) {
        std::fprintf(stderr, "demo-host: cannot write %s: %s\n", pngPath, error.c_str());
        return 1;
    }
    std::printf("demo-host: developed %dx%d in %.2f s, written to %s\n", width, height, developed, pngPath);
    return 0;
}
