// The development of the 24-megapixel sample through the exported filter-chain object with the default
// stages, pulled whole as 8-bit RGB, against LibRaw's open_bayer, unpack and dcraw_process (AHD) on the
// same mosaic in the same run; then the development again after one exposure change, which only the gain
// stage and what follows it redo, as a ratio of a full development. Both are also run as the chain ran
// before its lookup-table stages were composed and its output conversion done on our side ("before":
// every stage making its own tiles, lcms2's 16-bit road), and as on a processor without AVX-512 ("AVX2
// road": the output conversion's grid interpolated eight pixels at a time rather than sixteen).
#include "bench/demosaic/DemosaicSample.h"
#include "platform/win/CpuFeatures.h"
#include "platform/zov/CZovConversion.h"
#include "testing/ProfileMachine.h"
#include "testing/TempFolder.h"
#include "tools/CKvChainDevelop.h"
#include "tools/CKvSampleMaker.h"

#include <cstdio>
#include <cstdlib>
#include <map>
#include <string>

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

enum class Road { kNow, kAvx2, kBefore };

// The suffix of a road's benchmark and of its medians.
const char* BenchSuffix(Road road) {
    return road == Road::kBefore ? "-before" : road == Road::kAvx2 ? "-avx2" : "";
}
std::string MedianSuffix(Road road) {
    return road == Road::kBefore ? ", before" : road == Road::kAvx2 ? ", AVX2 road" : "";
}

// The road as it was: conversions built from here on go through lcms2, and the chain's lookup-table stages
// each make their own tiles; or the AVX-512 roads left aside. Undone when it goes.
struct Before {
    Before(Road road, CKvChainDevelop* chain = nullptr)
        : on(road == Road::kBefore), features(0, road == Road::kAvx2 ? CpuFeature::kAVX512F : 0) {
        CZovConversion::SetLibraryOnly(on);
        if (chain)
            chain->SetReadThrough(!on);
    }
    ~Before() { CZovConversion::SetLibraryOnly(false); }
    bool on;
    CCpuFeatureOverride features;
};

void FullDevelopment(benchmark::State& state, Road road) {
    const std::string& path = SamplePath();
    std::vector<BYTE> rgb;
    PravonErrorPtr err;
    const Before before(road);
    const double seconds = TimedLoop(state, [&] {
        CKvChainDevelop chain;
        chain.SetReadThrough(!before.on);
        LONG width = 0, height = 0;
        err.reset(chain.Open(path));
        if (!err)
            err.reset(chain.Develop(&rgb, &width, &height, nullptr));
    });
    if (err)
        return Skip(state, err.get());
    Record("chain full" + MedianSuffix(road), seconds, {});
}

void ExposureChange(benchmark::State& state, Road road) {
    CKvChainDevelop chain;
    const Before before(road, &chain);
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
    Record("chain after an exposure change" + MedianSuffix(road), seconds, {});
}

void PrintSummary() {
    const auto& m = Medians();
    double load[3] = {};
    getloadavg(load, 3);
    std::printf("\nmedian seconds for %.0f MP (load average %.1f %.1f %.1f):\n", kMegapixels, load[0],
                load[1], load[2]);
    for (const auto& [name, seconds] : m)
        std::printf("  %-40s %8.3f\n", name.c_str(), seconds);
    const auto ratio = [&](const char* what, const std::string& a, const std::string& b) {
        const auto x = m.find(a), y = m.find(b);
        if (x != m.end() && y != m.end())
            std::printf("%s: %.3f\n", what, x->second / y->second);
    };
    for (const std::string road : {MedianSuffix(Road::kNow), MedianSuffix(Road::kAvx2), MedianSuffix(Road::kBefore)}) {
        ratio(("exposure change / full development" + road).c_str(), "chain after an exposure change" + road,
              "chain full" + road);
        ratio(("chain full / LibRaw AHD" + road).c_str(), "chain full" + road, "LibRaw AHD");
    }
}

const bool kRegistered = [] {
    if (omp_set_num_threads)
        omp_set_num_threads(1);
    for (const Road road : {Road::kNow, Road::kAvx2, Road::kBefore}) {
        benchmark::RegisterBenchmark((std::string("Chain/full") + BenchSuffix(road)).c_str(), FullDevelopment,
                                     road)
            ->Unit(benchmark::kMillisecond)
            ->Iterations(kRuns);
        benchmark::RegisterBenchmark((std::string("Chain/exposure-change") + BenchSuffix(road)).c_str(),
                                     ExposureChange, road)
            ->Unit(benchmark::kMillisecond)
            ->Iterations(kRuns);
    }
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
