// demo-host: develops a raw sample into a picture file, tile by tile, with a progress line.
//
//   demo-host [--hq] [--rotate 90|180|270] [--scale FACTOR] [--auto-brightness] [--then exposure=EV]
//             SAMPLE OUTPUT
//   demo-host [the same settings] [--workers N] [--suffix TEXT] --batch FOLDER SAMPLE...
//
// OUTPUT ending in ".jpg" or ".jpeg" is written as JPEG (quality 95), in ".tif" or ".tiff" as 16-bit TIFF,
// any other as PNG; each carries the profile of the colours it is in. With --batch every sample develops
// into FOLDER as NAME-developed[TEXT].png, several at once (one chain per worker thread, as many workers as
// the processor has cores unless --workers says), with one progress line for the batch; a sample that fails
// is reported by name and the others go on.
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
#include "CKvBatchDevelop.h"
#include "CKvChainDevelop.h"
#include "CKvDemoHost.h"
#include "CKvPngFile.h"
#include "KvCommandLine.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
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

// The settings the command line gives, applied to a picture just opened.
struct ChainSettings {
    bool highQuality = false;
    LONG rotation = 0;
    double scale = 1.0;
    bool autoBrightness = false;
    CKvDemoAdjustments::Settings detail;
    double sharpenRadius = 0;
    double sharpenPower = 0;
};

IPravonError* Apply(CKvChainDevelop& chain, const ChainSettings& s) {
    if (IPravonError* e = chain.SetModes(s.highQuality))
        return e;
    if (s.rotation != 0 || s.scale != 1.0)
        if (IPravonError* e = chain.SetOutput(s.rotation, s.scale))
            return e;
    if (s.detail.moireLevel != 0 || s.detail.fineEdge)
        if (IPravonError* e = chain.SetMoireAndFineEdge(s.detail.moireLevel, s.detail.fineEdge))
            return e;
    if (s.detail.noiseLevel != 0)
        if (IPravonError* e = chain.SetColorNoise(s.detail.noiseLevel))
            return e;
    if (s.detail.vignetteAmount != 0)
        if (IPravonError* e = chain.SetVignette(s.detail.vignetteAmount))
            return e;
    if (s.sharpenPower > 0)
        if (IPravonError* e = chain.SetSharpening(s.sharpenRadius, s.sharpenPower))
            return e;
    if (s.autoBrightness)
        return chain.SetAutoBrightness();
    return nullptr;
}

// Develops through the filter-chain object; with `then`, once more after the exposure change.
int DevelopThroughChain(const char* samplePath, const std::string& outputPath, const ChainSettings& settings,
                        bool then, double exposure) {
    const auto start = std::chrono::steady_clock::now();
    CKvChainDevelop chain;
    LONG width = 0;
    LONG height = 0;
    PravonErrorPtr err(chain.Open(samplePath));
    if (!err)
        err.reset(Apply(chain, settings));
    if (!err && settings.autoBrightness)
        PrintMeasured(*chain.GetBrightness());
    if (!err)
        err.reset(chain.DevelopInto(outputPath, &width, &height, ProgressLine()));
    const double full = Seconds(start);
    if (!err) {
        std::printf("demo-host: developed %dx%d through the filter chain in %.2f s, written to %s\n", width,
                    height, full, outputPath.c_str());
        PrintColourAndOrientation(chain);
    }
    if (!err && then) {
        const auto again = std::chrono::steady_clock::now();
        chain.ResetStageCounts();
        err.reset(chain.SetExposure(exposure));
        const std::size_t dot = outputPath.find_last_of('.');
        const std::size_t slash = outputPath.find_last_of("/\\");
        const bool hasEnding = dot != std::string::npos && (slash == std::string::npos || dot > slash);
        const std::string thenPath =
            hasEnding ? outputPath.substr(0, dot) + "-then" + outputPath.substr(dot) : outputPath + "-then";
        if (!err)
            err.reset(chain.DevelopInto(thenPath, &width, &height, ProgressLine()));
        if (!err) {
            std::printf("demo-host: tiles made again, by stage:");
            for (const auto& [stage, tiles] : chain.StageCounts())
                std::printf(" %d:%llu", stage, static_cast<unsigned long long>(tiles));
            std::printf("\n");
            std::printf(
                "demo-host: exposure %+.2f EV developed again in %.2f s (%.2f of the first), written to "
                "%s\n",
                exposure, Seconds(again), Seconds(again) / full, thenPath.c_str());
        }
    }
    if (err) {
        std::fprintf(stderr, "\ndemo-host: %s\n", err->Describe().c_str());
        return 1;
    }
    return 0;
}

// The file's name without its folder and its ending.
std::string Stem(const std::string& path) {
    const std::size_t slash = path.find_last_of("/\\");
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const std::size_t dot = name.find_last_of('.');
    return dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
}

// Every sample into the folder, several at once, with one progress line for the batch; 1 when any failed.
int DevelopBatch(const std::string& folder, const std::vector<std::string>& samples,
                 const ChainSettings& settings, unsigned workers, const std::string& suffix) {
    std::vector<CKvBatchDevelop::Job> jobs;
    for (const std::string& sample : samples)
        jobs.push_back({sample, folder + "/" + Stem(sample) + "-developed" + suffix + ".png"});
    const unsigned used = std::min<unsigned>(workers ? workers : CKvBatchDevelop::DefaultWorkers(),
                                             static_cast<unsigned>(jobs.size()));
    const bool terminal = isatty(STDOUT_FILENO) != 0;
    std::size_t failed = 0;
    const auto start = std::chrono::steady_clock::now();
    const std::vector<CKvBatchDevelop::Outcome> outcomes = CKvBatchDevelop::Run(
        jobs, used, [&](CKvChainDevelop& chain) { return Apply(chain, settings); },
        [&](std::size_t done, std::size_t total, const CKvBatchDevelop::Outcome& outcome) {
            failed += outcome.error.empty() ? 0 : 1;
            if (!terminal && done != total)
                return;
            std::printf("%sdeveloping: %zu of %zu pictures (%zu%%)%s%s", terminal ? "\r" : "", done, total,
                        100 * done / total, failed ? ", some failed" : "", done == total ? "\n" : "");
            std::fflush(stdout);
        });
    for (const CKvBatchDevelop::Outcome& outcome : outcomes)
        if (!outcome.error.empty())
            std::fprintf(stderr, "demo-host: %s: %s\n", outcome.input.c_str(), outcome.error.c_str());
    std::printf("demo-host: developed %zu of %zu pictures into %s in %.2f s on %u workers\n",
                outcomes.size() - failed, outcomes.size(), folder.c_str(), Seconds(start), used);
    return failed ? 1 : 0;
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
    const char* batchFolder = nullptr;
    long long workers = 0;
    std::string suffix;
    int first = 1;
    for (; first < argc && std::strncmp(argv[first], "--", 2) == 0; ++first) {
        if (std::strcmp(argv[first], "--batch") == 0 && first + 1 < argc) {
            batchFolder = argv[++first];
        } else if (std::strcmp(argv[first], "--workers") == 0 && first + 1 < argc) {
            if (!KvCommandLine::Number(argv[++first], 1, 1024, &workers)) {
                std::fprintf(stderr,
                             "demo-host: the number of workers must be a whole number from 1 to 1024\n");
                return 2;
            }
        } else if (std::strcmp(argv[first], "--suffix") == 0 && first + 1 < argc) {
            suffix = argv[++first];
            if (suffix.find_first_of("/\\") != std::string::npos) {
                std::fprintf(stderr, "demo-host: the suffix of the pictures' names cannot hold a folder\n");
                return 2;
            }
        } else if (std::strcmp(argv[first], "--chain") == 0) {
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
    if (batchFolder ? argc - first < 1 : argc - first != 2) {
        std::fprintf(stderr,
                     "usage: %s [--then exposure=EV] [--graph] [--scale FACTOR] [--auto-brightness] [--hq] "
                     "[--rotate 90|180|270] "
                     "[--sharpen RADIUS,POWER] [--noise LEVEL] [--moire LEVEL] [--fine-edge] "
                     "[--vignette AMOUNT] SAMPLE OUTPUT(.png|.jpg|.tif)\n"
                     "       %s [the same settings] [--workers N] [--suffix TEXT] --batch FOLDER SAMPLE...\n",
                     argv[0], argv[0]);
        return 2;
    }
    ChainSettings settings;
    settings.highQuality = highQuality;
    settings.rotation = static_cast<LONG>(rotation);
    settings.scale = scale;
    settings.autoBrightness = autoBrightness;
    settings.detail = adjustments;
    settings.sharpenRadius = sharpenRadius;
    settings.sharpenPower = sharpenPower;
    if (batchFolder) {
        if (then || ownGraph) {
            std::fprintf(stderr,
                         "demo-host: --batch develops through the filter chain, without --then or --graph\n");
            return 2;
        }
        return DevelopBatch(batchFolder, std::vector<std::string>(argv + first, argv + argc), settings,
                            static_cast<unsigned>(workers), suffix);
    }
    const char* samplePath = argv[first];
    const char* pngPath = argv[first + 1];
    if (then && ownGraph) {
        std::fprintf(stderr, "demo-host: --then develops through the filter chain, without --graph\n");
        return 2;
    }
    if (!ownGraph)
        return DevelopThroughChain(samplePath, pngPath, settings, then, thenExposure);
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
