// The high-quality demosaicing filter on the 24-megapixel synthetic sample (6000 x 4000, RGGB, no
// white-balance gains), one thread, against LibRaw's AHD and DCB interpolations (open_bayer, then
// dcraw_process) on the same mosaic in the same run, with the standard filter beside it. Ours is pulled
// through tiles of 128, 256 and 512 pixels (each tile primes its row stages anew, so small tiles cost more)
// and copied out as a consumer does. The summary gives each method's median run in megapixels per second,
// ours at 256 as a multiple of each peer, and each method's colour PSNR against the scene in linear light
// over the whole picture, the colour patches, the smooth gradients and the fine lines.
#include "platform/pravon/CPravonMemoryManager.h"
#include "platform/pravon/PravonGraph.h"
#include "rawlib/filters/CDeBayerSingleFilter.h"
#include "rawlib/filters/CDeBayerSingleHQ4Filter.h"
#include "tools/CKvSampleScene.h"

#include <benchmark/benchmark.h>

#if KV_HAVE_LIBRAW
#include <libraw/libraw.h>
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
constexpr LONG kOutWidth = kWidth - 2 * kFrame;
constexpr LONG kOutHeight = kHeight - 2 * kFrame;
const BYTE kRggb[8] = {0, 2, 0, 2, 0, 1, 1, 2};

struct Sample {
    Sample() : scene(kWidth, kHeight), rgb(scene.Render()) {
        mosaic = CKvSampleScene::Mosaic(rgb, kWidth, kHeight, kRggb + 4, 1.0, 1.0);
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
    double seconds = 0;
    double psnr[4] = {}; // whole, patches, gradients, lines
};
std::map<std::string, Result> g_results;
std::vector<std::string> g_order;

double ColourPsnr(const PravonRect& rect, const std::function<double(LONG, LONG, int)>& sample) {
    const auto& truth = TheSample().rgb;
    double squares = 0;
    double count = 0;
    for (LONG y = rect.top; y < rect.bottom; ++y)
        for (LONG x = rect.left; x < rect.right; ++x)
            for (int c = 0; c < 3; ++c) {
                const double t = truth[(static_cast<std::size_t>(y) * kWidth + x) * 3 + c] * 65535.0 / 4095.0;
                const double d = sample(x, y, c) - t;
                squares += d * d;
                count += 1;
            }
    return 10.0 * std::log10(65535.0 * 65535.0 / (squares / count));
}

// Every method is measured where all of them see true pixels: inside the frame ours consumes and away
// from the borders between the scene's areas by more than any interpolation reads.
void Record(const std::string& name, double seconds, const std::function<double(LONG, LONG, int)>& sample) {
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
    explicit Source(LONG tileSize) : manager(tileSize) {
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

IPravonError* PullInto(IPravonDataSource& filter, LONG tileSize, std::vector<WORD>& out) {
    LONG w = 0;
    LONG h = 0;
    if (IPravonError* e = filter.GetSize(&w, &h))
        return e;
    if (w != kOutWidth || h != kOutHeight)
        return IPravonError::Add(nullptr, "unexpected output size");
    const LONG columns = (w + tileSize - 1) / tileSize;
    const LONG rows = (h + tileSize - 1) / tileSize;
    for (LONG r = 0; r < rows; ++r)
        for (LONG c = 0; c < columns; ++c) {
            void* data = nullptr;
            if (IPravonError* e = filter.LockTile(c, r, &data, nullptr))
                return e;
            IPravonTile* tile = nullptr;
            PravonErrorPtr(filter.GetTile(c, r, &tile));
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

// A fresh filter of the given kind per run, as the development makes one per picture.
template <class Filter>
void OurDemosaic(benchmark::State& state, LONG tileSize, const char* name) {
    Source source(tileSize);
    if (source.failed) {
        state.SkipWithError("no image");
        return;
    }
    std::vector<WORD> out(static_cast<std::size_t>(kOutWidth) * kOutHeight * 3);
    PravonErrorPtr err;
    const double seconds = TimedLoop(state, [&] {
        if (err)
            return;
        Filter filter(&source.manager);
        err.reset(PravonConnect(source.image.get(), &filter));
        if (!err)
            err.reset(filter.SetCFAPattern(kRggb, 8, false));
        if (!err)
            err.reset(PullInto(filter, tileSize, out));
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
    benchmark::RegisterBenchmark("HQ/LibRaw-AHD", LibRawProcess, 3, "LibRaw AHD")
        ->Unit(benchmark::kMillisecond)
        ->Iterations(kSlowRuns);
    benchmark::RegisterBenchmark("HQ/LibRaw-DCB", LibRawProcess, 4, "LibRaw DCB")
        ->Unit(benchmark::kMillisecond)
        ->Iterations(kSlowRuns);
#endif
    std::atexit(PrintSummary);
    return true;
}();

} // namespace
