// The unsharp mask on a 24-megapixel 16-bit RGB picture, one thread, pulled tile by tile (256-pixel tiles,
// every tile made again each time), against OpenCV's GaussianBlur of the same radius followed by
// addWeighted over one flat buffer, in the same run. The filter runs with its SIMD and its plain blur.
// Prints megapixels per second of each and the filter's time over OpenCV's.
#include "bench/BenchTurns.h"
#include "filters/CUnsharpMaskFilter.h"
#include "platform/pravon/CPravonMemoryManager.h"
#include "platform/pravon/PravonGraph.h"
#include "platform/win/CpuFeatures.h"

#include <benchmark/benchmark.h>

#if KV_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

#include <cmath>
#include <cstdio>
#include <map>
#include <memory>
#include <vector>

namespace {

constexpr LONG kWidth = 6000;
constexpr LONG kHeight = 4000;
constexpr double kMegapixels = double(kWidth) * kHeight / 1e6;
constexpr std::size_t kPixelBytes = 6;
constexpr double kPower = 1;

using kvbench::Check;

// A smooth ramp with noise, the same for both roads.
std::vector<std::uint8_t> MakePixels() {
    std::vector<std::uint8_t> pixels(std::size_t(kWidth) * kHeight * kPixelBytes);
    auto* samples = reinterpret_cast<std::uint16_t*>(pixels.data());
    std::uint32_t noise = 12345;
    for (std::size_t i = 0; i < std::size_t(kWidth) * kHeight * 3; ++i) {
        noise = noise * 1664525u + 1013904223u;
        const std::size_t x = (i / 3) % kWidth;
        const std::size_t y = (i / 3) / kWidth;
        samples[i] = static_cast<std::uint16_t>((x * 7 + y * 5 + (i % 3) * 999) * 3 + (noise >> 22));
    }
    return pixels;
}

const std::vector<std::uint8_t>& Pixels() {
    static const std::vector<std::uint8_t> pixels = MakePixels();
    return pixels;
}

// A source image of the pixels under an unsharp mask of one shape and radius.
struct Setup {
    Setup(LONG method, double radius) : manager(256), filter(&manager) {
        flat = Pixels();
        source = kvbench::MakeSource(manager, PravonColorSpace::kRGB16, flat.data(), kWidth, kHeight);
        Check(PravonConnect(source.get(), &filter), "connect");
        Check(filter.SetMaskMethod(method, false), "method");
        Check(filter.SetRadius(radius, false), "radius");
        Check(filter.SetPower(kPower, false), "power");
#if KV_HAVE_OPENCV
        cv::setNumThreads(1);
        input = cv::Mat(kHeight, kWidth, CV_16UC3, flat.data());
        const int side = 2 * static_cast<int>(std::ceil(3 * radius)) + 1;
        size = cv::Size(side, side);
        sigma = radius;
#endif
    }
    ~Setup() {
        PravonErrorPtr(PravonDisconnect(source.get(), &filter));
    }

    void Pull() {
        kvbench::PullEveryTile(source.get(), &filter);
    }
#if KV_HAVE_OPENCV
    void Peer() {
        cv::GaussianBlur(input, blurred, size, sigma, sigma, cv::BORDER_REPLICATE);
        cv::addWeighted(input, 1 + kPower, blurred, -kPower, 0, output);
    }
    cv::Mat input, blurred, output;
    cv::Size size;
    double sigma = 1;
#endif

    CPravonMemoryManager manager;
    PravonImagePtr source;
    CUnsharpMaskFilter filter;
    std::vector<std::uint8_t> flat;
};

Setup& SetupFor(LONG method, double radius) {
    static std::map<std::pair<LONG, double>, std::unique_ptr<Setup>> setups;
    auto& slot = setups[{method, radius}];
    if (!slot)
        slot = std::make_unique<Setup>(method, radius);
    return *slot;
}

// Arguments: the shape, the radius in tenths, and 1 for the plain blur.
void BM_UsmVersusOpenCV(benchmark::State& state) {
    const LONG method = static_cast<LONG>(state.range(0));
    Setup& setup = SetupFor(method, state.range(1) / 10.0);
    std::unique_ptr<CCpuFeatureOverride> plain;
    if (state.range(2))
        plain = std::make_unique<CCpuFeatureOverride>(0, CpuFeature::kAVX2 | CpuFeature::kAVX);
#if KV_HAVE_OPENCV
    const kvbench::CBestTimes best = kvbench::TimeInTurns(
        state, [&] { setup.Peer(); }, [&] { setup.Pull(); });
    state.counters["opencv_MP/s"] = kMegapixels / best.first;
    state.counters["filter_MP/s"] = kMegapixels / best.second;
    state.counters["filter/opencv"] = best.second / best.first;
#else
    const kvbench::CBestTimes best = kvbench::TimeInTurns(
        state, [] {}, [&] { setup.Pull(); });
    state.counters["filter_MP/s"] = kMegapixels / best.second;
#endif
}

BENCHMARK(BM_UsmVersusOpenCV)
    ->ArgNames({"method", "radius10", "plain"})
    ->Args({0, 10, 0})
    ->Args({0, 20, 0})
    ->Args({0, 20, 1})
    ->Args({3, 30, 0})
    ->Args({3, 30, 1})
    ->Iterations(4)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
