// A 24-megapixel 16-bit RGB picture through the dust filter with a map of scattered dust spots, by direct
// gain and through the map's tone tables, pulled tile by tile with every tile made again each time, against
// OpenCV's LUT of the map into gains and a multiply of the picture by them (what any per-pixel gain costs at
// least: one pass that reads the picture and the map and writes the result), one thread each. Prints
// megapixels per second of each and the filter's time over OpenCV's.
#include "bench/BenchTurns.h"
#include "rawlib/filters/dust/CFltDust.h"

#include "platform/pravon/CPravonMemoryManager.h"

#include <benchmark/benchmark.h>
#include <zlib.h>

#if KV_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

#include <cmath>
#include <memory>
#include <vector>

namespace {

constexpr LONG kWidth = 6000;
constexpr LONG kHeight = 4000;
constexpr double kMegapixels = double(kWidth) * kHeight / 1e6;
constexpr std::size_t kPixels = std::size_t(kWidth) * kHeight;
constexpr ULONG kToneEntries = 131072;

using kvbench::Check;

void Put(std::vector<BYTE>& out, ULONG word) {
    for (int i = 0; i < 4; ++i)
        out.push_back(static_cast<BYTE>(word >> (8 * i)));
}

std::vector<BYTE> Deflate(const BYTE* data, std::size_t size) {
    uLongf length = compressBound(size);
    std::vector<BYTE> out(length);
    if (compress(out.data(), &length, data, size) != Z_OK)
        std::exit(1);
    out.resize(length);
    return out;
}

struct Setup {
    Setup() {
        // A smooth picture, and spots of dust (map values 40..127, darker at their centres) every 97 pixels.
        picture.resize(3 * kPixels);
        for (LONG y = 0; y < kHeight; ++y)
            for (LONG x = 0; x < kWidth; ++x)
                for (int c = 0; c < 3; ++c)
                    picture[3 * (std::size_t(y) * kWidth + x) + c] =
                        static_cast<WORD>(20000 + 15000 * std::sin(x * 0.002 + y * 0.003 + c));
        dust.assign(kPixels, 128);
        for (LONG cy = 40; cy < kHeight; cy += 97)
            for (LONG cx = 40; cx < kWidth; cx += 97)
                for (LONG dy = -12; dy <= 12; ++dy)
                    for (LONG dx = -12; dx <= 12; ++dx) {
                        const double r = std::hypot(dx, dy);
                        if (r <= 12)
                            dust[std::size_t(cy + dy) * kWidth + cx + dx] = static_cast<BYTE>(40 + r * 7);
                    }

        std::vector<WORD> tone(kToneEntries);
        for (ULONG i = 0; i < 65536; ++i) {
            tone[i] = static_cast<WORD>(std::lround(65535 * std::pow(i / 65535.0, 2.2)));
            tone[65536 + i] = static_cast<WORD>(std::lround(65535 * std::pow(i / 65535.0, 1 / 2.2)));
        }
        const std::vector<BYTE> toneStream =
            Deflate(reinterpret_cast<const BYTE*>(tone.data()), 2 * tone.size());
        const std::vector<BYTE> mapStream = Deflate(dust.data(), dust.size());
        std::vector<BYTE> blob;
        for (ULONG word : {ULONG{0x4C747344}, ULONG{1}, ULONG{28}, ULONG{kWidth}, ULONG{kHeight}, ULONG{0},
                           kToneEntries, ULONG(toneStream.size()), ULONG(mapStream.size()), ULONG{0}})
            Put(blob, word);
        blob.insert(blob.end(), toneStream.begin(), toneStream.end());
        blob.insert(blob.end(), mapStream.begin(), mapStream.end());
        map = std::make_shared<CDustMap>(&manager);
        Check(map->ReadData(static_cast<ULONG>(blob.size()), blob.data()), "dust map");

        IPravonImage* image = nullptr;
        Check(manager.CreateImage(1, &image), "source image");
        source.reset(image);
        Check(source->SetSize(kWidth, kHeight), "source size");
        Check(source->SetColorSpace(PravonColorSpace::kRGB16), "source colour space");
        kvbench::CopyTiles(source.get(), picture.data(), kWidth, kHeight, 6, true);

        filter = std::make_unique<CFltDust>(&manager);
        Check(PravonConnect(source.get(), filter.get()), "connect");
        Check(filter->SetDustMap(map, false), "attach the map");
        out.resize(3 * kPixels);
    }
    ~Setup() { PravonErrorPtr(PravonDisconnect(source.get(), filter.get())); }

    void Pull() { kvbench::PullEveryTile(source.get(), filter.get()); }

#if KV_HAVE_OPENCV
    void OpenCV() {
        const cv::Mat image(kHeight, kWidth, CV_16UC3, picture.data());
        const cv::Mat values(kHeight, kWidth, CV_8UC1, dust.data());
        cv::Mat gains;
        cv::Mat gains3;
        cv::LUT(values, lut, gains);
        cv::cvtColor(gains, gains3, cv::COLOR_GRAY2BGR);
        cv::Mat result(kHeight, kWidth, CV_16UC3, out.data());
        cv::multiply(image, gains3, result, 1.0, CV_16UC3);
    }
    cv::Mat lut = [] {
        cv::Mat table(1, 256, CV_32FC1);
        for (int b = 0; b < 256; ++b)
            table.at<float>(b) = b == 0 ? 65535.0f : b >= 128 ? 1.0f : 128.0f / b;
        return table;
    }();
#endif

    std::vector<WORD> picture;
    std::vector<BYTE> dust;
    std::vector<WORD> out;
    CPravonMemoryManager manager;
    std::shared_ptr<CDustMap> map;
    PravonImagePtr source;
    std::unique_ptr<CFltDust> filter;
};

Setup& TheSetup() {
    static Setup setup;
    return setup;
}

void BM_DustFilter(benchmark::State& state) {
    Setup& setup = TheSetup();
    Check(setup.filter->SetDirectGain(state.range(0) != 0, false), "gain mode");
#if KV_HAVE_OPENCV
    const kvbench::CBestTimes best = kvbench::TimeInTurns(
        state, [&] { setup.OpenCV(); }, [&] { setup.Pull(); });
    state.counters["opencv_MP/s"] = kMegapixels / best.first;
    state.counters["filter/opencv"] = best.second / best.first;
#else
    const kvbench::CBestTimes best = kvbench::TimeInTurns(
        state, [] {}, [&] { setup.Pull(); });
#endif
    state.counters["filter_MP/s"] = kMegapixels / best.second;
}

BENCHMARK(BM_DustFilter)
    ->ArgName("direct")
    ->Arg(1)
    ->Arg(0)
    ->Iterations(8)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
