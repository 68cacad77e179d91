// Building the dust map of a 24-megapixel picture, phase by phase: a 16-bit RGB picture, and a mosaic of
// the same size (whose build demosaics it first). No peer builds such a map; the figures are the time of
// each phase, in milliseconds, one thread.
#include "bench/BenchTurns.h"
#include "rawlib/filters/dust/CDustAnalyzer.h"
#include "rawlib/filters/dust/CDustMap.h"

#include "platform/pravon/CPravonMemoryManager.h"
#include "platform/quasel/CPravonTagControl.h"

#include <benchmark/benchmark.h>
#include <zlib.h>

#include <bit>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr LONG kWidth = 6000;
constexpr LONG kHeight = 4000;
constexpr LONG kFrame = 6; // the demosaicing gives up this many pixels on each side

using kvbench::Check;

void Put(std::vector<BYTE>& out, ULONG word) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<BYTE>(word >> (8 * i)));
}

// Spots of dust every 211 pixels, darkest at their centres.
double Transmission(LONG x, LONG y) {
    const LONG dx = (x % 211) - 105;
    const LONG dy = (y % 211) - 105;
    const double r = std::hypot(dx, dy);
    return r < 4 ? 0.5 + r / 8 : 1.0;
}

// The "DstR" blob of a reference of the given size (camera type 257, lens 50, f/8).
std::vector<BYTE> ReferenceBlob(LONG width, LONG height) {
    std::vector<BYTE> samples(static_cast<std::size_t>(width) * height);
    for (LONG y = 0; y < height; ++y)
        for (LONG x = 0; x < width; ++x)
            samples[static_cast<std::size_t>(y) * width + x] =
                static_cast<BYTE>(std::lround(128 * Transmission(x, y)));
    uLongf length = compressBound(samples.size());
    std::vector<BYTE> stream(length);
    if (compress(stream.data(), &length, samples.data(), samples.size()) != Z_OK)
        std::exit(1);
    stream.resize(length);
    std::vector<BYTE> blob;
    for (ULONG word : {ULONG{0x52747344}, ULONG{1}, ULONG{28}, ULONG{257}, ULONG(width), ULONG(height),
                       ULONG{0}, ULONG{50}, ULONG{72}, ULONG(stream.size())})
        Put(blob, word);
    blob.insert(blob.end(), stream.begin(), stream.end());
    return blob;
}

PravonTagControlPtr Tags() {
    PravonTagControlPtr tags(new CPravonTagControl());
    auto* control = static_cast<CPravonTagControl*>(tags.get());
    control->SetCameraModel(257);
    std::vector<BYTE> word;
    Put(word, 1);
    Check(control->WriteTag(0x80004, 4, 4, word.data()), "quality tag");
    const auto bits = std::bit_cast<std::uint64_t>(8.0);
    BYTE real[8];
    for (int i = 0; i < 8; ++i)
        real[i] = static_cast<BYTE>(bits >> (8 * i));
    Check(control->WriteTag(0x829D, 12, 8, real), "f-number tag");
    std::vector<BYTE> lens(31, 0);
    lens[0] = '0';
    lens[1] = '1';
    lens[2] = '0';
    lens[3] = '0';
    lens[13] = 50;
    Check(control->WriteTag(0x80098, 0x108, 31, lens.data()), "lens tag");
    const BYTE cfa[] = {0, 2, 0, 2, 0, 1, 1, 2};
    Check(control->WriteTag(0xA302, 1, sizeof cfa, cfa), "colour-filter tag");
    return tags;
}

PravonImagePtr Picture(IPravonManager& manager, bool mosaic) {
    const LONG width = mosaic ? kWidth + 2 * kFrame : kWidth;
    const LONG height = mosaic ? kHeight + 2 * kFrame : kHeight;
    const LONG channels = mosaic ? 1 : 3;
    std::vector<WORD> pixels(static_cast<std::size_t>(width) * height * channels);
    for (LONG y = 0; y < height; ++y)
        for (LONG x = 0; x < width; ++x)
            for (LONG c = 0; c < channels; ++c) {
                const double level =
                    (mosaic ? 1800 : 24000) + (mosaic ? 600 : 8000) * std::sin(x * 0.002 + y * 0.003);
                pixels[(static_cast<std::size_t>(y) * width + x) * channels + c] =
                    static_cast<WORD>(level * Transmission(x, y));
            }
    IPravonImage* image = nullptr;
    Check(manager.CreateImage(1, &image), "picture");
    PravonImagePtr owned(image);
    Check(image->SetSize(width, height), "picture size");
    Check(image->SetColorSpace(mosaic ? PravonColorSpace::kRawMosaic16 : PravonColorSpace::kRGB16),
          "colour space");
    kvbench::CopyTiles(image, pixels.data(), width, height, 2 * channels, true);
    return owned;
}

const char* PhaseName(LONG state) {
    static const char* const kNames[] = {"idle",    "orient",   "demosaic", "luminance", "luminance",
                                         "lum8",    "classify", "contrast", "spread",    "second",
                                         "correct", "compress", "compress", "compress2", "complete"};
    return state >= 0 && state <= 14 ? kNames[state] : "?";
}

void BM_DustMapBuild(benchmark::State& state) {
    const bool mosaic = state.range(0) != 0;
    CPravonMemoryManager manager;
    const LONG side = mosaic ? 2 * kFrame : 0;
    const std::vector<BYTE> blob = ReferenceBlob(kWidth + side, kHeight + side);
    CDustReference reference(&manager);
    Check(reference.Load(static_cast<ULONG>(blob.size()), blob.data()), "reference");
    PravonTagControlPtr tags = Tags();
    CDustAnalyzer analyzer(&manager);
    Check(analyzer.Begin(&reference, tags.get()), "analysis");
    for (LONG position = 0, total = 1; position < total;)
        Check(analyzer.Step(&position, &total), "analysis step");
    PravonImagePtr picture = Picture(manager, mosaic);
    std::map<std::string, double> seconds;
    for (auto _ : state) {
        CDustMap map(&manager);
        const auto start = std::chrono::steady_clock::now();
        Check(map.Begin(&analyzer, picture.get(), false, false), "begin");
        auto last = std::chrono::steady_clock::now();
        seconds["begin"] += std::chrono::duration<double>(last - start).count();
        while (!map.IsComplete()) {
            const LONG phase = map.GetState();
            LONG position = 0;
            LONG total = 0;
            Check(map.Step(&position, &total), "step");
            const auto now = std::chrono::steady_clock::now();
            seconds[PhaseName(phase)] += std::chrono::duration<double>(now - last).count();
            last = now;
        }
        state.SetIterationTime(std::chrono::duration<double>(last - start).count());
    }
    for (const auto& [name, s] : seconds)
        state.counters[name + "_ms"] = 1000 * s / static_cast<double>(state.iterations());
}

BENCHMARK(BM_DustMapBuild)
    ->ArgName("mosaic")
    ->Arg(0)
    ->Arg(1)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
