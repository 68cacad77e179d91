// The standard demosaicing filter on the 24-megapixel synthetic sample (6000 x 4000, RGGB, no white-balance
// gains), one thread, pulled through 256-pixel tiles and copied out as a consumer does, against the peers on
// the same mosaic in the same run: LibRaw (open_bayer, then dcraw_process with PPG and AHD interpolation) and
// OpenCV's Bayer to RGB conversion on 16-bit samples (bilinear into a fresh and into a reused output, and
// edge-aware). Ours runs twice: with a fresh filter every time (its cache image made anew, its tile memory
// coming from the manager) and with one kept filter whose whole output is invalidated before each run; a
// third run of fresh filters declares for the filter that it writes its tiles whole, so that their memory
// is not zero-filled first.
// Each method runs several times; the summary gives the median run in megapixels per second, ours (fresh
// and kept) as a multiple of each peer, and each method's colour PSNR against the scene in linear light,
// over the whole picture (whose fine lines and zone plate reach the sampling limit), over the colour
// patches and over the smooth gradients alone.
#include "DemosaicSample.h"

#include "platform/pravon/PravonGraph.h"
#include "platform/win/CpuFeatures.h"
#include "rawlib/filters/CDeBayerRows.h"
#include "rawlib/filters/CDeBayerSingleFilter.h"

#include <benchmark/benchmark.h>

#if KV_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/core/utility.hpp>
#include <opencv2/imgproc.hpp>
#endif

#include <cstdio>
#include <cstdlib>
#include <malloc.h>
#include <map>
#include <sys/mman.h>
#include <memory>
#include <string>
#include <vector>

namespace {

using namespace demosaicbench;

// The tiles of the source's manager, and so of the filters' output.
constexpr LONG kTileSize = 256;

struct Result {
    double seconds = 0; // per run
    double psnrWhole = 0;
    double psnrSmooth = 0;
    double psnrPatches = 0;
};
std::map<std::string, Result> g_results;
std::vector<std::string> g_order;

// Every method is compared inside the frame our filter consumes, so all see the same pixels.
void Record(const std::string& name, double seconds, const SampleAt& sample) {
    const PravonRect whole{kFrame, kFrame, kWidth - kFrame, kHeight - kFrame};
    const PravonRect g = TheSample().scene.GetGradientArea();
    const PravonRect smooth{g.left + 4, g.top + kFrame, g.right - kFrame, g.bottom - 4};
    const PravonRect p = TheSample().scene.GetPatchArea();
    const PravonRect patches{p.left + kFrame, p.top + kFrame, p.right - 4, p.bottom - 4};
    Result r;
    r.seconds = seconds;
    r.psnrWhole = ColourPsnr(whole, sample);
    r.psnrSmooth = ColourPsnr(smooth, sample);
    r.psnrPatches = ColourPsnr(patches, sample);
    if (!g_results.count(name))
        g_order.push_back(name);
    g_results[name] = r;
}

// Each case starts with what the cases before it freed given back to the system, so that none inherits
// pages already in place from another.
void GiveBackFreedMemory() {
    malloc_trim(0);
}

// kept: one filter for every run, its whole output invalidated through its source before each; otherwise a
// new filter (and so a new cache image) per run, declared as writing its tiles whole when declare is set.
void StandardDemosaic(benchmark::State& state, bool kept, bool declare, const char* name) {
    GiveBackFreedMemory();
    Source source(kTileSize);
    std::vector<WORD> out(static_cast<std::size_t>(kOutWidth) * kOutHeight * 3);
    std::unique_ptr<CDeBayerSingleFilter> keptFilter;
    PravonErrorPtr err;
    if (kept) {
        keptFilter = std::make_unique<CDeBayerSingleFilter>(&source.manager);
        err.reset(ConnectMosaic(source, *keptFilter));
        if (!err)
            err.reset(PullInto(*keptFilter, kTileSize, out));
    }
    const double seconds = TimedLoop(state, [&] {
        if (err)
            return;
        if (kept) {
            PravonRect all{0, 0, kWidth, kHeight};
            err.reset(PravonSendDataNotification(source.image.get(), PravonNotification::kData, &all));
            if (!err)
                err.reset(PullInto(*keptFilter, kTileSize, out));
            return;
        }
        CDeBayerSingleFilter filter(&source.manager);
        err.reset(ConnectMosaic(source, filter));
        if (!err)
            err.reset(PullInto(filter, kTileSize, out, declare));
    });
    RecordOurs(state, err.get(), name, seconds, out, &Record);
}

#if KV_HAVE_OPENCV
// OpenCV names its Bayer layouts differently; the code that turns a red-only RGGB mosaic red is the one.
int OpenCvCode(bool edgeAware) {
    const int plain[4] = {cv::COLOR_BayerBG2RGB, cv::COLOR_BayerGB2RGB, cv::COLOR_BayerRG2RGB,
                          cv::COLOR_BayerGR2RGB};
    const int ea[4] = {cv::COLOR_BayerBG2RGB_EA, cv::COLOR_BayerGB2RGB_EA, cv::COLOR_BayerRG2RGB_EA,
                       cv::COLOR_BayerGR2RGB_EA};
    cv::Mat red(16, 16, CV_16UC1, cv::Scalar(0));
    for (int y = 0; y < 16; y += 2)
        for (int x = 0; x < 16; x += 2)
            red.at<WORD>(y, x) = 4000;
    for (int i = 0; i < 4; ++i) {
        cv::Mat out;
        cv::cvtColor(red, out, plain[i]);
        const auto px = out.at<cv::Vec<WORD, 3>>(8, 8);
        if (px[0] > 3000 && px[2] < 500)
            return edgeAware ? ea[i] : plain[i];
    }
    return -1;
}

// A picture's worth of pages mapped anew from the system, so that their first writes fault them in as a
// freshly allocated picture's do. A fresh output cannot come from malloc: a block this large left free by
// the cases before (our filters' tiles, the other OpenCV runs) would be handed out again with its pages
// already in place, and the "fresh" run would time no fresh memory at all.
class FreshPages {
public:
    explicit FreshPages(std::size_t bytes) : m_bytes(bytes) {
        void* p = mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        m_data = p == MAP_FAILED ? nullptr : p;
    }
    ~FreshPages() {
        if (m_data)
            munmap(m_data, m_bytes);
    }
    FreshPages(const FreshPages&) = delete;
    FreshPages& operator=(const FreshPages&) = delete;
    void* Data() const { return m_data; }

private:
    std::size_t m_bytes;
    void* m_data;
};

// reuse: the same output matrix every run; otherwise one over pages mapped anew for the run (and given back
// after it), whatever memory the cases before this one left free.
void OpenCvBayer(benchmark::State& state, bool edgeAware, bool reuse, const char* name) {
    GiveBackFreedMemory();
    const Sample& sample = TheSample();
    const int code = OpenCvCode(edgeAware);
    if (code < 0) {
        state.SkipWithError("no OpenCV code for RGGB");
        return;
    }
    const cv::Mat mosaic(kHeight, kWidth, CV_16UC1, const_cast<WORD*>(sample.mosaic.data()));
    cv::Mat out;
    std::unique_ptr<FreshPages> pages;
    const std::size_t outBytes = static_cast<std::size_t>(kWidth) * kHeight * 3 * sizeof(WORD);
    const double seconds = TimedLoop(state, [&] {
        if (!reuse) {
            out = cv::Mat();
            pages.reset();
            pages = std::make_unique<FreshPages>(outBytes);
            if (pages->Data())
                out = cv::Mat(kHeight, kWidth, CV_16UC3, pages->Data());
        }
        cv::cvtColor(mosaic, out, code);
    });
    // The mosaic's 12-bit scale carries through; widen to 16 bits as the truth is.
    Record(name, seconds,
           [&](LONG x, LONG y, int c) { return out.at<cv::Vec<WORD, 3>>(y, x)[c] * 65535.0 / 4095.0; });
}
#endif

// The row routines alone, plain and AVX2, on one tile row in the cache: what the interpolation costs apart
// from memory, tiles and the cursor. Rates are positions per second.
constexpr LONG kRowPositions = 263; // the mosaic row of a 256-pixel tile row with its margins

struct RowData {
    RowData()
        : samples(kRowPositions + 8), mosaic(5, std::vector<LONG>(kRowPositions + 8)),
          green(kRowPositions + 8), difference(3, std::vector<LONG>(kRowPositions + 8)),
          out(3 * (kRowPositions + 8)) {
        std::uint32_t state = 7;
        auto next = [&state] { return state = state * 1664525u + 1013904223u; };
        for (WORD& v : samples)
            v = static_cast<WORD>(next() >> 20);
        for (auto& row : mosaic)
            for (LONG& v : row)
                v = GetSqrtTable()[next() >> 20];
        for (LONG& v : green)
            v = GetSqrtTable()[next() >> 20];
        for (auto& row : difference)
            for (LONG& v : row)
                v = static_cast<LONG>(next() >> 16) - 32768;
    }
    std::vector<WORD> samples;
    std::vector<std::vector<LONG>> mosaic;
    std::vector<LONG> green;
    std::vector<std::vector<LONG>> difference;
    std::vector<WORD> out;
};

enum class Routine { Load, Green, RedBlue };

void RowRoutine(benchmark::State& state, Routine routine, bool simd) {
    if (simd && !CpuHas(CpuFeature::kAVX2)) {
        state.SkipWithError("no AVX2");
        return;
    }
    const DeBayerRows::Kernels& kernels = simd ? DeBayerRows::Simd() : DeBayerRows::Plain();
    RowData d;
    std::vector<LONG> loaded(kRowPositions + 8);
    // Green rows of kRowPositions positions from mosaic rows of four more, red and blue of two fewer.
    DeBayerRows::GreenRow green;
    for (int r = 0; r < 5; ++r)
        green.mosaic[r] = d.mosaic[static_cast<std::size_t>(r)].data();
    green.count = kRowPositions - 4;
    green.firstGreen = 1;
    green.green = loaded.data();
    green.difference = d.difference[1].data();
    DeBayerRows::RedBlueRow redBlue;
    redBlue.mosaic = d.mosaic[2].data();
    redBlue.green = d.green.data();
    redBlue.above = d.difference[0].data();
    redBlue.centre = d.difference[1].data();
    redBlue.below = d.difference[2].data();
    redBlue.count = kRowPositions - 6;
    redBlue.firstGreen = 0;
    redBlue.redRow = true;
    redBlue.out = d.out.data();
    const LONG* table = GetSqrtTable();
    for (auto _ : state) {
        switch (routine) {
        case Routine::Load:
            kernels.load(d.samples.data(), kRowPositions, table, table, loaded.data(),
                         loaded.data() + DeBayerRows::SplitOdd(kRowPositions));
            break;
        case Routine::Green:
            kernels.green(green);
            break;
        case Routine::RedBlue:
            kernels.redBlue(redBlue);
            break;
        }
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * kRowPositions);
}

constexpr const char* kOursFresh = "Rawmill fresh filter";
constexpr const char* kOursKept = "Rawmill kept filter";
constexpr const char* kOursDeclared = "Rawmill fresh, declared";

void PrintSummary() {
    auto seconds = [](const char* name) {
        const auto it = g_results.find(name);
        return it == g_results.end() ? 0.0 : it->second.seconds;
    };
    const double fresh = seconds(kOursFresh);
    const double kept = seconds(kOursKept);
    std::printf(
        "\nOne thread, %.0f MP, median run of each; ours x = how many times faster ours is; colour PSNR "
        "in dB against the scene in linear light\n",
        kMegapixels);
    std::printf("%-24s %8s %8s %8s %8s %9s %9s\n", "method", "MP/s", "fresh x", "kept x", "whole", "patches",
                "gradients");
    for (const auto& name : g_order) {
        const Result& r = g_results[name];
        char ratios[2][32] = {"-", "-"};
        if (name != kOursFresh && name != kOursKept && name != kOursDeclared) {
            if (fresh > 0)
                std::snprintf(ratios[0], sizeof ratios[0], "%.2f", r.seconds / fresh);
            if (kept > 0)
                std::snprintf(ratios[1], sizeof ratios[1], "%.2f", r.seconds / kept);
        }
        std::printf("%-24s %8.1f %8s %8s %8.2f %9.2f %9.2f\n", name.c_str(), kMegapixels / r.seconds,
                    ratios[0], ratios[1], r.psnrWhole, r.psnrPatches, r.psnrSmooth);
    }
}

// Registered when the program starts, so that the standard benchmark main runs them; the summary is
// printed when it returns. Runs per method: enough for a median that one busy moment does not move.
const bool g_registered = [] {
    if (omp_set_num_threads)
        omp_set_num_threads(1);
#if KV_HAVE_OPENCV
    cv::setNumThreads(1);
#endif
    constexpr int kFastRuns = 9;
    constexpr int kSlowRuns = 3;
    benchmark::RegisterBenchmark("Rawmill/fresh-filter", StandardDemosaic, false, false, kOursFresh)
        ->Unit(benchmark::kMillisecond)
        ->Iterations(kFastRuns);
    benchmark::RegisterBenchmark("Rawmill/fresh-declared", StandardDemosaic, false, true, kOursDeclared)
        ->Unit(benchmark::kMillisecond)
        ->Iterations(kFastRuns);
    benchmark::RegisterBenchmark("Rawmill/kept-filter", StandardDemosaic, true, false, kOursKept)
        ->Unit(benchmark::kMillisecond)
        ->Iterations(kFastRuns);
#if KV_HAVE_OPENCV
    benchmark::RegisterBenchmark("OpenCV/bilinear-fresh", OpenCvBayer, false, false, "OpenCV bilinear fresh")
        ->Unit(benchmark::kMillisecond)
        ->Iterations(kFastRuns);
    benchmark::RegisterBenchmark("OpenCV/bilinear-reused", OpenCvBayer, false, true, "OpenCV bilinear reused")
        ->Unit(benchmark::kMillisecond)
        ->Iterations(kFastRuns);
    benchmark::RegisterBenchmark("OpenCV/edge-aware", OpenCvBayer, true, true, "OpenCV edge-aware")
        ->Unit(benchmark::kMillisecond)
        ->Iterations(kFastRuns);
#else
    std::printf(
        "OpenCV not linked: build with -DKV_BENCH_PEERS=ON after KV_BENCH_PEERS=1 tools/setup-deps\n");
#endif
#if KV_HAVE_LIBRAW
    benchmark::RegisterBenchmark("LibRaw/PPG", LibRawProcess, 2, "LibRaw PPG", &Record)
        ->Unit(benchmark::kMillisecond)
        ->Iterations(kSlowRuns);
    benchmark::RegisterBenchmark("LibRaw/AHD", LibRawProcess, 3, "LibRaw AHD", &Record)
        ->Unit(benchmark::kMillisecond)
        ->Iterations(kSlowRuns);
#else
    std::printf(
        "LibRaw not linked: build with -DKV_BENCH_PEERS=ON after KV_BENCH_PEERS=1 tools/setup-deps\n");
#endif
    for (bool simd : {false, true}) {
        const char* set = simd ? "avx2" : "plain";
        benchmark::RegisterBenchmark((std::string("Rows/load/") + set).c_str(), RowRoutine, Routine::Load,
                                     simd);
        benchmark::RegisterBenchmark((std::string("Rows/green/") + set).c_str(), RowRoutine, Routine::Green,
                                     simd);
        benchmark::RegisterBenchmark((std::string("Rows/red-blue/") + set).c_str(), RowRoutine,
                                     Routine::RedBlue, simd);
    }
    std::atexit(PrintSummary);
    return true;
}();

} // namespace

BENCHMARK_MAIN();
