// The standard demosaicing filter on the 24-megapixel synthetic sample (6000 x 4000, RGGB, no white-balance
// gains), one thread, pulled through 256-pixel tiles, against the peers on the same mosaic in the same run:
// LibRaw (open_bayer, then dcraw_process with bilinear, VNG and PPG interpolation) and OpenCV's Bayer to RGB
// conversion (bilinear and edge-aware) on 16-bit samples. After the timings it prints megapixels per second,
// our speed as a multiple of each peer's, and each method's colour PSNR against the scene in linear light,
// over the whole picture (whose fine lines and zone plate reach the sampling limit), over the colour patches
// and over the smooth gradients alone.
#include "platform/pravon/CPravonMemoryManager.h"
#include "platform/pravon/PravonGraph.h"
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

// The fastest run is kept for the summary, so that other load on the machine counts as little as it can.
template <class Body>
double TimedLoop(benchmark::State& state, Body body) {
    double fastest = INFINITY;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        body();
        fastest = std::min(fastest,
                           std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    state.counters["MP/s"] = benchmark::Counter(kMegapixels * static_cast<double>(state.iterations()),
                                                benchmark::Counter::kIsRate);
    return fastest;
}

void StandardDemosaic(benchmark::State& state) {
    const Sample& sample = TheSample();
    CPravonMemoryManager manager(256);
    IPravonImage* raw = nullptr;
    if (PravonErrorPtr e{manager.CreateImage(1, &raw)}) {
        state.SkipWithError("no image");
        return;
    }
    PravonImagePtr image(raw);
    PravonErrorPtr(image->SetColorSpace(PravonColorSpace::kRawMosaic16));
    PravonErrorPtr(image->SetSize(kWidth, kHeight));
    {
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
    const BYTE rggb[8] = {0, 2, 0, 2, 0, 1, 1, 2};
    std::vector<WORD> out;
    bool failed = false;
    const double seconds = TimedLoop(state, [&] {
        CDeBayerSingleFilter filter(&manager);
        PravonErrorPtr err(PravonConnect(image.get(), &filter));
        if (!err)
            err.reset(filter.SetCFAPattern(rggb, 8, false));
        LONG w = 0;
        LONG h = 0;
        if (!err)
            err.reset(filter.GetSize(&w, &h));
        const LONG columns = (w + 255) / 256;
        const LONG rows = (h + 255) / 256;
        out.assign(static_cast<std::size_t>(w) * h * 3, 0);
        for (LONG r = 0; !err && r < rows; ++r)
            for (LONG c = 0; !err && c < columns; ++c) {
                void* data = nullptr;
                err.reset(filter.LockTile(c, r, &data, nullptr));
                if (err)
                    break;
                IPravonTile* tile = nullptr;
                PravonErrorPtr(filter.GetTile(c, r, &tile));
                const PravonRect rect = tile->GetRect();
                const LONG rowBytes = tile->GetRowBytes();
                // The consumer's copy of each tile is part of a development, as it is for the peers.
                for (LONG y = rect.top; y < rect.bottom; ++y)
                    std::memcpy(out.data() + (static_cast<std::size_t>(y) * w + rect.left) * 3,
                                static_cast<BYTE*>(data) + static_cast<std::size_t>(y - rect.top) * rowBytes,
                                static_cast<std::size_t>(rect.right - rect.left) * 6);
                err.reset(filter.UnlockTile(c, r));
            }
        if (err) {
            std::fprintf(stderr, "%s\n", err->Describe().c_str());
            failed = true;
        }
    });
    if (failed) {
        state.SkipWithError("the demosaicing failed");
        return;
    }
    const WORD* square = GetSquareTable();
    const LONG outWidth = kWidth - 2 * kFrame;
    Record("Rawmill standard", seconds, [&](LONG x, LONG y, int c) {
        return square[out[(static_cast<std::size_t>(y - kFrame) * outWidth + (x - kFrame)) * 3 + c]];
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

void OpenCvBayer(benchmark::State& state, bool edgeAware, const char* name) {
    const Sample& sample = TheSample();
    const int code = OpenCvCode(edgeAware);
    if (code < 0) {
        state.SkipWithError("no OpenCV code for RGGB");
        return;
    }
    const cv::Mat mosaic(kHeight, kWidth, CV_16UC1, const_cast<WORD*>(sample.mosaic.data()));
    cv::Mat out;
    const double seconds = TimedLoop(state, [&] { cv::cvtColor(mosaic, out, code); });
    // The mosaic's 12-bit scale carries through; widen to 16 bits as the truth is.
    Record(name, seconds,
           [&](LONG x, LONG y, int c) { return out.at<cv::Vec<WORD, 3>>(y, x)[c] * 65535.0 / 4095.0; });
}
#endif

void PrintSummary() {
    const auto ours = g_results.find("Rawmill standard");
    std::printf(
        "\nOne thread, %.0f MP, fastest run of each; colour PSNR in dB against the scene in linear light\n",
        kMegapixels);
    std::printf("%-20s %8s %16s %8s %9s %9s\n", "method", "MP/s", "ours x faster", "whole", "patches",
                "gradients");
    for (const auto& name : g_order) {
        const Result& r = g_results[name];
        const double rate = kMegapixels / r.seconds;
        char ratio[32] = "-";
        if (ours != g_results.end() && name != ours->first)
            std::snprintf(ratio, sizeof ratio, "%.2f", r.seconds / ours->second.seconds);
        std::printf("%-20s %8.1f %16s %8.2f %9.2f %9.2f\n", name.c_str(), rate, ratio, r.psnrWhole,
                    r.psnrPatches, r.psnrSmooth);
    }
}

// Registered when the program starts, so that the standard benchmark main runs them; the summary is
// printed when it returns.
const bool g_registered = [] {
    if (omp_set_num_threads)
        omp_set_num_threads(1);
#if KV_HAVE_OPENCV
    cv::setNumThreads(1);
#endif
    benchmark::RegisterBenchmark("Rawmill/standard", StandardDemosaic)
        ->Unit(benchmark::kMillisecond)
        ->MinTime(3);
#if KV_HAVE_LIBRAW
    benchmark::RegisterBenchmark("LibRaw/bilinear", LibRawProcess, 0, "LibRaw bilinear")
        ->Unit(benchmark::kMillisecond)
        ->Iterations(3);
    benchmark::RegisterBenchmark("LibRaw/VNG", LibRawProcess, 1, "LibRaw VNG")
        ->Unit(benchmark::kMillisecond)
        ->Iterations(2);
    benchmark::RegisterBenchmark("LibRaw/PPG", LibRawProcess, 2, "LibRaw PPG")
        ->Unit(benchmark::kMillisecond)
        ->Iterations(3);
#else
    std::printf(
        "LibRaw not linked: build with -DKV_BENCH_PEERS=ON after KV_BENCH_PEERS=1 tools/setup-deps\n");
#endif
#if KV_HAVE_OPENCV
    benchmark::RegisterBenchmark("OpenCV/bilinear", OpenCvBayer, false, "OpenCV bilinear")
        ->Unit(benchmark::kMillisecond)
        ->MinTime(3);
    benchmark::RegisterBenchmark("OpenCV/edge-aware", OpenCvBayer, true, "OpenCV edge-aware")
        ->Unit(benchmark::kMillisecond)
        ->MinTime(3);
#else
    std::printf(
        "OpenCV not linked: build with -DKV_BENCH_PEERS=ON after KV_BENCH_PEERS=1 tools/setup-deps\n");
#endif
    std::atexit(PrintSummary);
    return true;
}();

} // namespace

BENCHMARK_MAIN();
