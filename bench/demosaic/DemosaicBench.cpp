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
#include "platform/pravon/CPravonMemoryManager.h"
#include "platform/pravon/PravonGraph.h"
#include "platform/win/CpuFeatures.h"
#include "rawlib/filters/CDeBayerRows.h"
#include "rawlib/filters/CDeBayerSingleFilter.h"
#include "tools/CKvSampleScene.h"

#include <benchmark/benchmark.h>

#if KV_HAVE_LIBRAW
#include <libraw/libraw.h>
#endif
#if KV_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/core/utility.hpp>
#include <opencv2/imgproc.hpp>
#endif

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

// LibRaw runs its interpolations on OpenMP threads unless told otherwise.
extern "C" void omp_set_num_threads(int) __attribute__((weak));

namespace {

constexpr LONG kWidth = 6000;
constexpr LONG kHeight = 4000;
constexpr double kMegapixels = kWidth * kHeight / 1e6;
constexpr LONG kFrame = CDeBayerBase::kFrame;

struct Sample {
    Sample() : scene(kWidth, kHeight), rgb(scene.Render()) {
        const BYTE rggb[4] = {0, 1, 1, 2};
        mosaic = CKvSampleScene::Mosaic(rgb, kWidth, kHeight, rggb, 1.0, 1.0);
    }
    CKvSampleScene scene;
    std::vector<WORD> rgb; // linear 12-bit
    std::vector<WORD> mosaic;
};

const Sample& TheSample() {
    static const Sample sample;
    return sample;
}

struct Result {
    double seconds = 0; // per run
    double psnrWhole = 0;
    double psnrSmooth = 0;
    double psnrPatches = 0;
};
std::map<std::string, Result> g_results;
std::vector<std::string> g_order;

// Colour PSNR in linear 16-bit light over a rectangle of the picture; sample(x, y, c) gives the method's
// linear 16-bit value at a picture pixel.
double ColourPsnr(const PravonRect& rect, const std::function<double(LONG, LONG, int)>& sample) {
    const auto& truth = TheSample().rgb;
    double squares = 0;
    std::size_t count = 0;
    for (LONG y = rect.top; y < rect.bottom; ++y)
        for (LONG x = rect.left; x < rect.right; ++x)
            for (int c = 0; c < 3; ++c) {
                const double t = truth[(static_cast<std::size_t>(y) * kWidth + x) * 3 + c] * 65535.0 / 4095.0;
                const double d = sample(x, y, c) - t;
                squares += d * d;
                ++count;
            }
    const double mse = squares / static_cast<double>(count);
    return mse == 0 ? INFINITY : 10.0 * std::log10(65535.0 * 65535.0 / mse);
}

// Every method is compared inside the frame our filter consumes, so all see the same pixels.
void Record(const std::string& name, double seconds, const std::function<double(LONG, LONG, int)>& sample) {
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

// The mosaic in a source image of the manager the filters make their cache images with.
struct Source {
    Source() : manager(256) {
        const Sample& sample = TheSample();
        IPravonImage* raw = nullptr;
        failed = manager.CreateImage(1, &raw) != nullptr;
        image.reset(raw);
        if (failed)
            return;
        PravonErrorPtr(image->SetColorSpace(PravonColorSpace::kRawMosaic16));
        PravonErrorPtr(image->SetSize(kWidth, kHeight));
        IPravonTileGrid* grid = nullptr;
        PravonErrorPtr(image->MapRect(CPravonRect(0, 0, kWidth, kHeight), &grid));
        for (LONG r = 0; r < grid->GetRowCount(); ++r)
            for (LONG c = 0; c < grid->GetColumnCount(); ++c) {
                void* data = nullptr;
                PravonRect rect;
                LONG rowBytes = 0;
                PravonErrorPtr(image->LockTile(grid, c, r, &data, &rect, nullptr, &rowBytes));
                for (LONG y = rect.top; y < rect.bottom; ++y)
                    std::memcpy(static_cast<BYTE*>(data) + static_cast<std::size_t>(y - rect.top) * rowBytes,
                                sample.mosaic.data() + static_cast<std::size_t>(y) * kWidth + rect.left,
                                static_cast<std::size_t>(rect.right - rect.left) * 2);
                PravonErrorPtr(image->UnlockTile(grid, c, r));
            }
        grid->Release();
    }
    CPravonMemoryManager manager;
    PravonImagePtr image;
    bool failed = false;
};

constexpr LONG kOutWidth = kWidth - 2 * kFrame;
constexpr LONG kOutHeight = kHeight - 2 * kFrame;

// Every output tile pulled and copied into out, as a consumer that wants the picture in one piece does.
// declare: after the first tile, the filter's cache image is told that its generator writes every pixel
// of a tile's invalid area, as the filter base is to tell it; the tiles after the first then skip the
// zero-fill.
IPravonError* PullInto(CDeBayerSingleFilter& filter, std::vector<WORD>& out, bool declare = false) {
    LONG w = 0;
    LONG h = 0;
    if (IPravonError* e = filter.GetSize(&w, &h))
        return e;
    if (w != kOutWidth || h != kOutHeight)
        return IPravonError::Add(nullptr, "unexpected output size");
    const LONG columns = (w + 255) / 256;
    const LONG rows = (h + 255) / 256;
    for (LONG r = 0; r < rows; ++r)
        for (LONG c = 0; c < columns; ++c) {
            void* data = nullptr;
            if (IPravonError* e = filter.LockTile(c, r, &data, nullptr))
                return e;
            IPravonTile* tile = nullptr;
            PravonErrorPtr(filter.GetTile(c, r, &tile));
            if (declare && r == 0 && c == 0)
                PravonErrorPtr(tile->GetImage()->SetGeneratorWritesInvalidArea(true));
            const PravonRect rect = tile->GetRect();
            const LONG rowBytes = tile->GetRowBytes();
            for (LONG y = rect.top; y < rect.bottom; ++y)
                std::memcpy(out.data() + (static_cast<std::size_t>(y) * w + rect.left) * 3,
                            static_cast<BYTE*>(data) + static_cast<std::size_t>(y - rect.top) * rowBytes,
                            static_cast<std::size_t>(rect.right - rect.left) * 6);
            if (IPravonError* e = filter.UnlockTile(c, r))
                return e;
        }
    return nullptr;
}

const BYTE kRggb[8] = {0, 2, 0, 2, 0, 1, 1, 2};

// kept: one filter for every run, its whole output invalidated through its source before each; otherwise a
// new filter (and so a new cache image) per run, declared as writing its tiles whole when declare is set.
void StandardDemosaic(benchmark::State& state, bool kept, bool declare, const char* name) {
    Source source;
    if (source.failed) {
        state.SkipWithError("no image");
        return;
    }
    std::vector<WORD> out(static_cast<std::size_t>(kOutWidth) * kOutHeight * 3);
    std::unique_ptr<CDeBayerSingleFilter> keptFilter;
    auto connect = [&source](CDeBayerSingleFilter& filter) -> IPravonError* {
        if (IPravonError* e = PravonConnect(source.image.get(), &filter))
            return e;
        return filter.SetCFAPattern(kRggb, 8, false);
    };
    PravonErrorPtr err;
    if (kept) {
        keptFilter = std::make_unique<CDeBayerSingleFilter>(&source.manager);
        err.reset(connect(*keptFilter));
        if (!err)
            err.reset(PullInto(*keptFilter, out));
    }
    const double seconds = TimedLoop(state, [&] {
        if (err)
            return;
        if (kept) {
            PravonRect all{0, 0, kWidth, kHeight};
            err.reset(PravonSendDataNotification(source.image.get(), PravonNotification::kData, &all));
            if (!err)
                err.reset(PullInto(*keptFilter, out));
            return;
        }
        CDeBayerSingleFilter filter(&source.manager);
        err.reset(connect(filter));
        if (!err)
            err.reset(PullInto(filter, out, declare));
    });
    if (err) {
        std::fprintf(stderr, "%s\n", err->Describe().c_str());
        state.SkipWithError("the demosaicing failed");
        return;
    }
    const WORD* square = GetSquareTable();
    Record(name, seconds, [&](LONG x, LONG y, int c) {
        return square[out[(static_cast<std::size_t>(y - kFrame) * kOutWidth + (x - kFrame)) * 3 + c]];
    });
}

#if KV_HAVE_LIBRAW
void LibRawProcess(benchmark::State& state, int quality, const char* name) {
    const Sample& sample = TheSample();
    std::vector<BYTE> bytes(sample.mosaic.size() * 2);
    for (std::size_t i = 0; i < sample.mosaic.size(); ++i) {
        bytes[2 * i] = static_cast<BYTE>(sample.mosaic[i]);
        bytes[2 * i + 1] = static_cast<BYTE>(sample.mosaic[i] >> 8);
    }
    LibRaw processor;
    int result = 0;
    const double seconds = TimedLoop(state, [&] {
        processor.recycle();
        auto& p = processor.imgdata.params;
        p.user_qual = quality;
        p.output_bps = 16;
        p.gamm[0] = 1.0;
        p.gamm[1] = 1.0;
        p.no_auto_bright = 1;
        p.use_camera_wb = 0;
        p.use_auto_wb = 0;
        for (float& m : p.user_mul)
            m = 1.0f;
        p.output_color = 0; // the camera's own colours: no matrix
        p.user_black = 0;
        p.user_sat = 4095;
        result = processor.open_bayer(bytes.data(), static_cast<unsigned>(bytes.size()), kWidth, kHeight, 0,
                                      0, 0, 0, 0, LIBRAW_OPENBAYER_RGGB, 4, 0, 0);
        if (result == LIBRAW_SUCCESS)
            result = processor.unpack();
        if (result == LIBRAW_SUCCESS)
            result = processor.dcraw_process();
    });
    if (result != LIBRAW_SUCCESS || processor.imgdata.sizes.iwidth != kWidth ||
        processor.imgdata.sizes.iheight != kHeight) {
        state.SkipWithError("LibRaw failed");
        return;
    }
    const auto* image = processor.imgdata.image;
    Record(name, seconds,
           [&](LONG x, LONG y, int c) { return image[static_cast<std::size_t>(y) * kWidth + x][c]; });
}
#endif

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

// reuse: the same output matrix every run; otherwise a new one, whose memory the system hands out anew.
void OpenCvBayer(benchmark::State& state, bool edgeAware, bool reuse, const char* name) {
    const Sample& sample = TheSample();
    const int code = OpenCvCode(edgeAware);
    if (code < 0) {
        state.SkipWithError("no OpenCV code for RGGB");
        return;
    }
    const cv::Mat mosaic(kHeight, kWidth, CV_16UC1, const_cast<WORD*>(sample.mosaic.data()));
    cv::Mat out;
    const double seconds = TimedLoop(state, [&] {
        if (!reuse)
            out = cv::Mat();
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
    benchmark::RegisterBenchmark("LibRaw/PPG", LibRawProcess, 2, "LibRaw PPG")
        ->Unit(benchmark::kMillisecond)
        ->Iterations(kSlowRuns);
    benchmark::RegisterBenchmark("LibRaw/AHD", LibRawProcess, 3, "LibRaw AHD")
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
