// The flip and rotate transform on a 24-megapixel RGB picture (8 and 16 bits), turned clockwise by 90
// degrees and mirrored, pulled tile by tile (256-pixel tiles, every tile made again each time) on one
// thread, against OpenCV's rotate and flip of the same pixels in the same run. Before timing, both results
// are compared pixel for pixel. Prints megapixels per second of each and the filter's time over OpenCV's.
#include "bench/BenchTurns.h"
#include "filters/CPravonFilterTransform.h"

#include "platform/pravon/CPravonMemoryManager.h"

#include <benchmark/benchmark.h>

#if KV_HAVE_OPENCV
#include <opencv2/core.hpp>
#endif

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr LONG kWidth = 6000;
constexpr LONG kHeight = 4000;
constexpr double kMegapixels = double(kWidth) * kHeight / 1e6;
constexpr std::size_t kPixels = std::size_t(kWidth) * kHeight;

using kvbench::Check;

struct Setup {
    // bits 8 or 16; turn true: 90 degrees clockwise, false: mirrored.
    Setup(int bits, bool turn)
        : pixelBytes(3 * std::size_t(bits / 8)), turn(turn), outWidth(turn ? kHeight : kWidth),
          outHeight(turn ? kWidth : kHeight), manager(256) {
        // A ramp with some noise, so that a misplaced pixel shows.
        pixels.resize(kPixels * pixelBytes);
        std::uint32_t state = 0x2545F491u;
        for (std::size_t i = 0; i < pixels.size(); ++i) {
            state = state * 1664525u + 1013904223u;
            pixels[i] = static_cast<std::uint8_t>((i / pixelBytes) * 7 + (state >> 29));
        }
        peerOut.resize(pixels.size());
        oursOut.resize(pixels.size());

        source = kvbench::MakeSource(manager, bits == 8 ? PravonColorSpace::kRGB8 : PravonColorSpace::kRGB16,
                                     pixels.data(), kWidth, kHeight);

        filter = std::make_unique<CPravonFilterTransform>(&manager);
        Check(PravonConnect(source.get(), filter.get()), "connect");
        Check(filter->SetTransform(!turn, turn ? 90 : 0, true, false), "transform");
    }
    ~Setup() { PravonErrorPtr(PravonDisconnect(source.get(), filter.get())); }

    // Every output tile made again from the source, as after a change of the whole source.
    void Pull() { kvbench::PullEveryTile(source.get(), filter.get()); }

#if KV_HAVE_OPENCV
    void Peer() {
        const int type = pixelBytes == 3 ? CV_8UC3 : CV_16UC3;
        const cv::Mat in(kHeight, kWidth, type, pixels.data());
        cv::Mat out(outHeight, outWidth, type, peerOut.data());
        if (turn)
            cv::rotate(in, out, cv::ROTATE_90_CLOCKWISE);
        else
            cv::flip(in, out, 1);
    }

    // The filter's pixels are OpenCV's, or the run ends.
    void Compare() {
        Pull();
        Peer();
        kvbench::CopyTiles(filter.get(), oursOut.data(), outWidth, outHeight, pixelBytes, false);
        if (oursOut != peerOut) {
            std::fprintf(stderr, "the transform and OpenCV disagree\n");
            std::exit(1);
        }
    }
#endif

    std::vector<std::uint8_t> pixels;
    std::vector<std::uint8_t> peerOut;
    std::vector<std::uint8_t> oursOut;
    std::size_t pixelBytes;
    bool turn;
    LONG outWidth;
    LONG outHeight;
    CPravonMemoryManager manager;
    PravonImagePtr source;
    std::unique_ptr<CPravonFilterTransform> filter;
};

// range(0): bits per sample; range(1): 1 for the quarter turn, 0 for the mirror.
void BM_Transform(benchmark::State& state) {
    Setup setup(static_cast<int>(state.range(0)), state.range(1) != 0);
#if KV_HAVE_OPENCV
    cv::setNumThreads(1);
    setup.Compare();
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

BENCHMARK(BM_Transform)
    ->ArgNames({"bits", "turn90"})
    ->Args({8, 1})
    ->Args({16, 1})
    ->Args({8, 0})
    ->Args({16, 0})
    ->Iterations(6)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
