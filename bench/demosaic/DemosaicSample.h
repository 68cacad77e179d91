// What the two demosaicing benchmarks share: the synthetic 24-megapixel sample and its RGGB mosaic, a
// source image holding the mosaic, the pull of a filter's whole output into one buffer, the timed loop that
// keeps the median run, the colour PSNR against the scene, and LibRaw's development of the same mosaic.
#pragma once

#include "platform/pravon/CPravonMemoryManager.h"
#include "rawlib/filters/CDeBayerBase.h"
#include "tools/CKvSampleScene.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <functional>
#include <string>
#include <vector>

// LibRaw runs its interpolations on OpenMP threads unless told otherwise.
extern "C" void omp_set_num_threads(int) __attribute__((weak));

namespace demosaicbench {

constexpr LONG kWidth = 6000;
constexpr LONG kHeight = 4000;
constexpr double kMegapixels = kWidth * kHeight / 1e6;
constexpr LONG kFrame = CDeBayerBase::kFrame;
constexpr LONG kOutWidth = kWidth - 2 * kFrame;
constexpr LONG kOutHeight = kHeight - 2 * kFrame;
// The filters' descriptor of the RGGB layout: two columns, two rows, then the cells row by row.
inline constexpr BYTE kRggb[8] = {0, 2, 0, 2, 0, 1, 1, 2};

struct Sample {
    Sample();
    CKvSampleScene scene;
    std::vector<WORD> rgb; // linear 12-bit
    std::vector<WORD> mosaic;
};

const Sample& TheSample();

// A method's linear 16-bit value of channel c at picture pixel (x, y).
using SampleAt = std::function<double(LONG, LONG, int)>;
// Keeps a method's median run and its pixels for the summary.
using Recorder = void (*)(const std::string& name, double seconds, const SampleAt& sample);

// Colour PSNR in linear 16-bit light over a rectangle of the picture.
double ColourPsnr(const PravonRect& rect, const SampleAt& sample);

// The median run is kept for the summary: other load on the machine spoils single runs, not the middle one.
template <class Body>
double TimedLoop(benchmark::State& state, Body body) {
    std::vector<double> runs;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        body();
        runs.push_back(std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    state.counters["MP/s"] = benchmark::Counter(kMegapixels * static_cast<double>(state.iterations()),
                                                benchmark::Counter::kIsRate);
    if (runs.empty())
        return INFINITY;
    std::sort(runs.begin(), runs.end());
    const std::size_t n = runs.size();
    return n % 2 ? runs[n / 2] : (runs[n / 2 - 1] + runs[n / 2]) / 2;
}

// The mosaic in an image of a manager of the given tile size, which the filters make their caches with.
struct Source {
    explicit Source(LONG tileSize);
    CPravonMemoryManager manager;
    PravonImagePtr image;
};

// Every output tile (of tileSize pixels) pulled and copied into out, as a consumer that wants the picture
// in one piece does. declare: after the first tile, the filter's cache image is told that its generator
// writes every pixel of a tile's invalid area, as the filter base is to tell it; the tiles after the first
// then skip the zero-fill.
IPravonError* PullInto(IPravonDataSource& filter, LONG tileSize, std::vector<WORD>& out,
                       bool declare = false);

// Connects one of our filters to the mosaic and gives it the RGGB layout.
IPravonError* ConnectMosaic(Source& source, CDeBayerBase& filter);

// Ends a run of ours: an error skips the benchmark with its description; otherwise our output (the whole
// picture inside the frame, in the square-root domain) is recorded in linear light.
void RecordOurs(benchmark::State& state, const IPravonError* error, const char* name, double seconds,
                const std::vector<WORD>& out, Recorder record);

#if KV_HAVE_LIBRAW
// LibRaw's open_bayer, unpack and dcraw_process at the interpolation quality, without white balance,
// brightening or colour matrix, recorded under the name.
void LibRawProcess(benchmark::State& state, int quality, const char* name, Recorder record);
#endif

} // namespace demosaicbench
