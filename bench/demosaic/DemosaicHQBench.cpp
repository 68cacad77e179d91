// The high-quality demosaicing filter on the 24-megapixel synthetic sample (6000 x 4000, RGGB, no
// white-balance gains), one thread, against LibRaw's AHD and DCB interpolations (open_bayer, then
// dcraw_process) on the same mosaic in the same run, with the standard filter beside it. Ours is pulled
// through tiles of 128, 256 and 512 pixels (each tile primes its row stages anew, so small tiles cost more)
// and copied out as a consumer does. The summary gives each method's median run in megapixels per second,
// ours at 256 as a multiple of each peer, and each method's colour PSNR against the scene in linear light
// over the whole picture, the colour patches, the smooth gradients and the fine lines.
#include "DemosaicSample.h"

#include "platform/pravon/PravonGraph.h"
#include "rawlib/filters/CDeBayerSingleFilter.h"
#include "rawlib/filters/CDeBayerSingleHQ4Filter.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>
#include <vector>

namespace {

using namespace demosaicbench;

struct Result {
    double seconds = 0;
    double psnr[4] = {}; // whole, patches, gradients, lines
};
std::map<std::string, Result> g_results;
std::vector<std::string> g_order;

// Every method is measured where all of them see true pixels: inside the frame ours consumes and away
// from the borders between the scene's areas by more than any interpolation reads.
void Record(const std::string& name, double seconds, const SampleAt& sample) {
    const CKvSampleScene& scene = TheSample().scene;
    const auto inset = [](const PravonRect& r) {
        return PravonRect{r.left + 16, r.top + 16, r.right - 16, r.bottom - 16};
    };
    const PravonRect areas[4] = {{16, 16, kWidth - 16, kHeight - 16},
                                 inset(scene.GetPatchArea()),
                                 inset(scene.GetGradientArea()),
                                 inset(scene.GetLineArea())};
    Result r;
    r.seconds = seconds;
    for (int i = 0; i < 4; ++i)
        r.psnr[i] = ColourPsnr(areas[i], sample);
    if (!g_results.count(name))
        g_order.push_back(name);
    g_results[name] = r;
}

// A fresh filter of the given kind per run, as the development makes one per picture.
template <class Filter>
void OurDemosaic(benchmark::State& state, LONG tileSize, const char* name) {
    Source source(tileSize);
    std::vector<WORD> out(static_cast<std::size_t>(kOutWidth) * kOutHeight * 3);
    PravonErrorPtr err;
    const double seconds = TimedLoop(state, [&] {
        if (err)
            return;
        Filter filter(&source.manager);
        err.reset(ConnectMosaic(source, filter));
        if (!err)
            err.reset(PullInto(filter, tileSize, out));
    });
    RecordOurs(state, err.get(), name, seconds, out, &Record);
}

constexpr const char* kHQ = "Rawmill HQ, tiles 256";

void PrintSummary() {
    const auto it = g_results.find(kHQ);
    const double ours = it == g_results.end() ? 0.0 : it->second.seconds;
    std::printf("\nHigh-quality demosaicing, one thread, %.0f MP, median run of each; HQ x = how many times "
                "faster ours (tiles 256) is; colour PSNR in dB against the scene in linear light\n",
                kMegapixels);
    std::printf("%-28s %8s %8s %8s %8s %9s %8s\n", "method", "MP/s", "HQ x", "whole", "patches", "gradients",
                "lines");
    for (const auto& name : g_order) {
        const Result& r = g_results[name];
        char ratio[32] = "-";
        if (name.rfind("LibRaw", 0) == 0 && ours > 0)
            std::snprintf(ratio, sizeof ratio, "%.2f", r.seconds / ours);
        std::printf("%-28s %8.1f %8s %8.2f %8.2f %9.2f %8.2f\n", name.c_str(), kMegapixels / r.seconds, ratio,
                    r.psnr[0], r.psnr[1], r.psnr[2], r.psnr[3]);
    }
}

const bool g_registered = [] {
    if (omp_set_num_threads)
        omp_set_num_threads(1);
    constexpr int kRuns = 5;
    constexpr int kSlowRuns = 3;
    benchmark::RegisterBenchmark("HQ/tiles-256", OurDemosaic<CDeBayerSingleHQ4Filter>, 256, kHQ)
        ->Unit(benchmark::kMillisecond)
        ->Iterations(kRuns);
    benchmark::RegisterBenchmark("HQ/tiles-128", OurDemosaic<CDeBayerSingleHQ4Filter>, 128,
                                 "Rawmill HQ, tiles 128")
        ->Unit(benchmark::kMillisecond)
        ->Iterations(kRuns);
    benchmark::RegisterBenchmark("HQ/tiles-512", OurDemosaic<CDeBayerSingleHQ4Filter>, 512,
                                 "Rawmill HQ, tiles 512")
        ->Unit(benchmark::kMillisecond)
        ->Iterations(kRuns);
    benchmark::RegisterBenchmark("HQ/standard-256", OurDemosaic<CDeBayerSingleFilter>, 256,
                                 "Rawmill standard, tiles 256")
        ->Unit(benchmark::kMillisecond)
        ->Iterations(kRuns);
#if KV_HAVE_LIBRAW
    benchmark::RegisterBenchmark("HQ/LibRaw-AHD", LibRawProcess, 3, "LibRaw AHD", &Record)
        ->Unit(benchmark::kMillisecond)
        ->Iterations(kSlowRuns);
    benchmark::RegisterBenchmark("HQ/LibRaw-DCB", LibRawProcess, 4, "LibRaw DCB", &Record)
        ->Unit(benchmark::kMillisecond)
        ->Iterations(kSlowRuns);
#endif
    std::atexit(PrintSummary);
    return true;
}();

} // namespace
