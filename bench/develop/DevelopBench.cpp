// The development of the 24-megapixel sample through the exported filter-chain object with the default
// stages, pulled whole as 8-bit RGB, against LibRaw's open_bayer, unpack and dcraw_process (AHD) on the
// same mosaic in the same run; then the development again after one exposure change, which only the gain
// stage and what follows it redo, as a ratio of a full development.
#include "bench/demosaic/DemosaicSample.h"
#include "testing/ProfileMachine.h"
#include "testing/TempFolder.h"
#include "tools/CKvChainDevelop.h"
#include "tools/CKvSampleMaker.h"

#include <cstdio>
#include <cstdlib>
#include <map>

namespace {

using namespace demosaicbench;

constexpr int kRuns = 5;

std::map<std::string, double>& Medians() {
    static std::map<std::string, double> medians;
    return medians;
}

void Record(const std::string& name, double seconds, const SampleAt&) {
    Medians()[name] = seconds;
}

// The demosaicing benchmarks' mosaic, written as a raw sample without stored settings.
const std::string& SamplePath() {
    // The output conversion needs the standard profiles in the machine's profile folder.
    static kvtest::ProfileMachine root{KV_MAKE_PROFILES};
    static kvtest::TempFolder folder;
    static const std::string path = [] {
        CKvSampleMaker::Options options;
        options.width = kWidth;
        options.height = kHeight;
        options.redGain = options.blueGain = 1.0;
        options.samplePath = folder.File("develop.kvraw");
        PravonErrorPtr err(CKvSampleMaker::Make(options));
        if (err)
            std::fprintf(stderr, "develop_bench: %s\n", err->Describe().c_str());
        return options.samplePath;
    }();
    return path;
}

void Skip(benchmark::State& state, const IPravonError* err) {
    state.SkipWithError(err ? err->Describe().c_str() : "failed");
}

void FullDevelopment(benchmark::State& state) {
    const std::string& path = SamplePath();
    std::vector<BYTE> rgb;
    PravonErrorPtr err;
    const double seconds = TimedLoop(state, [&] {
        CKvChainDevelop chain;
        LONG width = 0, height = 0;
        err.reset(chain.Open(path));
        if (!err)
            err.reset(chain.Develop(&rgb, &width, &height, nullptr));
    });
    if (err)
        return Skip(state, err.get());
    Record("chain full", seconds, {});
}

void ExposureChange(benchmark::State& state) {
    CKvChainDevelop chain;
    std::vector<BYTE> rgb;
    LONG width = 0, height = 0;
    PravonErrorPtr err(chain.Open(SamplePath()));
    if (!err)
        err.reset(chain.Develop(&rgb, &width, &height, nullptr));
    if (err)
        return Skip(state, err.get());
    double ev = 0;
    const double seconds = TimedLoop(state, [&] {
        ev = ev == 0 ? 1.0 : 0.0;
        err.reset(chain.SetExposure(ev));
        if (!err)
            err.reset(chain.Develop(&rgb, &width, &height, nullptr));
    });
    if (err)
        return Skip(state, err.get());
    Record("chain after an exposure change", seconds, {});
}

void PrintSummary() {
    const auto& m = Medians();
    std::printf("\nmedian seconds for %.0f MP:\n", kMegapixels);
    for (const auto& [name, seconds] : m)
        std::printf("  %-32s %8.3f\n", name.c_str(), seconds);
    const auto full = m.find("chain full");
    const auto again = m.find("chain after an exposure change");
    if (full != m.end() && again != m.end())
        std::printf("exposure change / full development: %.3f\n", again->second / full->second);
    const auto ahd = m.find("LibRaw AHD");
    if (full != m.end() && ahd != m.end())
        std::printf("chain full / LibRaw AHD: %.3f\n", full->second / ahd->second);
}

const bool kRegistered = [] {
    if (omp_set_num_threads)
        omp_set_num_threads(1);
    benchmark::RegisterBenchmark("Chain/full", FullDevelopment)
        ->Unit(benchmark::kMillisecond)
        ->Iterations(kRuns);
    benchmark::RegisterBenchmark("Chain/exposure-change", ExposureChange)
        ->Unit(benchmark::kMillisecond)
        ->Iterations(kRuns);
#if KV_HAVE_LIBRAW
    benchmark::RegisterBenchmark("LibRaw/AHD", LibRawProcess, 3, "LibRaw AHD", &Record)
        ->Unit(benchmark::kMillisecond)
        ->Iterations(kRuns);
#else
    std::printf(
        "LibRaw not linked: build with -DKV_BENCH_PEERS=ON after KV_BENCH_PEERS=1 tools/setup-deps\n");
#endif
    // The medians are made before the summary is registered, so that they outlive it.
    Medians();
    std::atexit(PrintSummary);
    return true;
}();

} // namespace

BENCHMARK_MAIN();
