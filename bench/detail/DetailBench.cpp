// The detail and lens filters on 24-megapixel 16-bit pictures, one thread, every output tile made again
// from a source held in 256-pixel tiles, each next to an OpenCV filter of the same class on the same
// pixels in the same run:
//   colour noise reduction on Lab at strengths 0.3, 0.7 and 0.95 (radius 1, 2 and 3 plus the box mean), on
//     the plain and the AVX2 path, against bilateralFilter on 32-bit float Lab with the same window and the
//     colour sigma matched to the filter's Gaussian;
//   fine edge on RGB against bilateralFilter (5 x 5) on the two colour-difference planes, for cost;
//   moire at levels 15, 25 and 75 (plain, AVX2 and AVX-512 paths) on the synthetic sample's chart (colour
//   patches, gradients, fine lines
//     and a zone plate, mosaicked and demosaiced) against medianBlur (5 x 5) on the two colour-difference
//     planes;
//   vignette correction at 8 and 16 bits against OpenCV multiplying the picture by a gain map, with the
//     time its gain table takes to build on a change of f-number.
// Each peer runs once before its timed run, as each filter is pulled once before its own: both then work
// in memory they already hold.
// The summary gives megapixels per second from the median of three runs and the filter's speed over the
// peer's (above 1 when the filter is faster), then each filter's plain path's time over its AVX2 path's.
#include "bench/BenchMedians.h"
#include "bench/BenchTurns.h"
#include "platform/pravon/CPravonMemoryManager.h"
#include "platform/pravon/PravonGraph.h"
#include "platform/win/CpuFeatures.h"
#include "rawlib/filters/CDeBayerSingleFilter.h"
#include "rawlib/filters/detail/CFltColorNoise.h"
#include "rawlib/filters/detail/CFltFineEdge.h"
#include "rawlib/filters/detail/CFltMoire.h"
#include "rawlib/filters/detail/CFltVignette.h"
#include "tools/CKvSampleScene.h"

#include <benchmark/benchmark.h>

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

namespace {

constexpr LONG kSceneWidth = 6000;
constexpr LONG kSceneHeight = 4000;
constexpr LONG kFrame = CDeBayerBase::kFrame;
// The demosaiced picture the filters work on.
constexpr LONG kWidth = kSceneWidth - 2 * kFrame;
constexpr LONG kHeight = kSceneHeight - 2 * kFrame;
constexpr double kMegapixels = double(kWidth) * kHeight / 1e6;

using kvbench::Check;

using kvbench::MakeSource;

// The synthetic sample's scene, mosaicked through RGGB and demosaiced by the standard filter: 16-bit RGB
// with the false colour a demosaicing leaves in fine detail.
std::vector<BYTE> DevelopSample() {
    const CKvSampleScene scene(kSceneWidth, kSceneHeight);
    const BYTE rggb[4] = {0, 1, 1, 2};
    const std::vector<WORD> mosaic =
        CKvSampleScene::Mosaic(scene.Render(), kSceneWidth, kSceneHeight, rggb, 1, 1);
    CPravonMemoryManager manager(256);
    PravonImagePtr image =
        MakeSource(manager, PravonColorSpace::kRawMosaic16, mosaic.data(), kSceneWidth, kSceneHeight);
    CDeBayerSingleFilter demosaic(&manager);
    const BYTE descriptor[8] = {0, 2, 0, 2, 0, 1, 1, 2};
    Check(PravonConnect(image.get(), &demosaic), "connect");
    Check(demosaic.SetCFAPattern(descriptor, sizeof descriptor, false), "pattern");
    std::vector<BYTE> rgb(static_cast<std::size_t>(kWidth) * kHeight * 6);
    Check(demosaic.GetData(CPravonRect(0, 0, kWidth, kHeight), rgb.data(), kWidth * 6), "demosaic");
    Check(PravonDisconnect(image.get(), &demosaic), "disconnect");
    return rgb;
}

const std::vector<BYTE>& Developed() {
    static const std::vector<BYTE> rgb = DevelopSample();
    return rgb;
}

// The developed sample as Lab-like samples: its green as lightness, its colour differences around the
// neutral middle with some chroma noise on top.
const std::vector<BYTE>& LabPixels() {
    static const std::vector<BYTE> lab = [] {
        const std::vector<BYTE>& rgb = Developed();
        std::vector<BYTE> out(rgb.size());
        std::uint32_t noise = 4711;
        for (std::size_t i = 0; i < rgb.size() / 6; ++i) {
            WORD p[3];
            std::memcpy(p, rgb.data() + i * 6, 6);
            noise = noise * 1664525u + 1013904223u;
            const int jitter = static_cast<int>(noise >> 22) - 512;
            const WORD q[3] = {p[1],
                               static_cast<WORD>(std::clamp(32768 + (p[0] - p[1]) / 2 + jitter, 0, 65535)),
                               static_cast<WORD>(std::clamp(32768 + (p[2] - p[1]) / 2 - jitter, 0, 65535))};
            std::memcpy(out.data() + i * 6, q, 6);
        }
        return out;
    }();
    return lab;
}

const std::vector<BYTE>& Rgb8Pixels() {
    static const std::vector<BYTE> rgb8 = [] {
        const std::vector<BYTE>& rgb = Developed();
        std::vector<BYTE> out(rgb.size() / 2);
        for (std::size_t i = 0; i < out.size(); ++i) {
            WORD v;
            std::memcpy(&v, rgb.data() + 2 * i, 2);
            out[i] = static_cast<BYTE>(v >> 8);
        }
        return out;
    }();
    return rgb8;
}

// One filter over its source; every run makes every output tile again, as after a change of the whole
// source.
using FilterMaker = std::function<CPravonFilterBase*(IPravonManager&)>;

struct Graph {
    Graph(LONG colorSpace, const std::vector<BYTE>& pixels, const FilterMaker& make)
        : manager(256), source(MakeSource(manager, colorSpace, pixels.data(), kWidth, kHeight)),
          filter(make(manager)) {
        Check(PravonConnect(source.get(), filter.get()), "connect");
    }
    ~Graph() { PravonErrorPtr(PravonDisconnect(source.get(), filter.get())); }

    void PullEverything() { kvbench::PullEveryTile(source.get(), filter.get()); }

    CPravonMemoryManager manager;
    PravonImagePtr source;
    std::unique_ptr<CPravonFilterBase> filter;
};

void Rate(benchmark::State& state) {
    state.counters["MP/s"] = benchmark::Counter(kMegapixels, benchmark::Counter::kIsIterationInvariantRate);
}

// off: the processor features the filter's path may not use.
void RunFilter(benchmark::State& state, LONG colorSpace, const std::vector<BYTE>* pixels, FilterMaker make,
               DWORD off) {
    CCpuFeatureOverride path(0, off);
    Graph graph(colorSpace, *pixels, make);
    graph.PullEverything();
    for (auto _ : state)
        graph.PullEverything();
    Rate(state);
}

CPravonFilterBase* Noise(IPravonManager& manager, double strength) {
    auto* filter = new CFltColorNoise(&manager);
    Check(filter->SetStrength(strength, false), "strength");
    return filter;
}

CPravonFilterBase* Moire(IPravonManager& manager, LONG level) {
    auto* filter = new CFltMoire(&manager);
    Check(filter->SetLevel(level, false), "level");
    return filter;
}

CPravonFilterBase* Vignette(IPravonManager& manager, double fNumber) {
    auto* filter = new CFltVignette(&manager);
    Check(filter->SetFNumber(fNumber, false), "f-number");
    Check(filter->SetAmount(1.0, false), "amount");
    return filter;
}

// The gain table made again: a new f-number before every pull of one tile.
void RunVignetteTable(benchmark::State& state) {
    Graph graph(PravonColorSpace::kRGB16, Developed(), [](IPravonManager& m) { return Vignette(m, 1.0); });
    auto* vignette = static_cast<CFltVignette*>(graph.filter.get());
    double fNumber = 1.0;
    for (auto _ : state) {
        fNumber = fNumber == 1.0 ? 1.4 : 1.0;
        Check(vignette->SetFNumber(fNumber, false), "f-number");
        void* data = nullptr;
        Check(vignette->LockTile(0, 0, &data, nullptr), "pull");
        Check(vignette->UnlockTile(0, 0), "release");
    }
    Rate(state);
}

#if KV_HAVE_OPENCV
cv::Mat Wrap(const std::vector<BYTE>& pixels, int type) {
    return cv::Mat(kHeight, kWidth, type, const_cast<BYTE*>(pixels.data()));
}

// The picture's colour differences R - G and B - G as planes around the middle of the 16-bit range.
std::vector<cv::Mat> DifferencePlanes(int type) {
    cv::Mat planes[3];
    cv::split(Wrap(Developed(), CV_16UC3), planes);
    std::vector<cv::Mat> out(2);
    for (int k = 0; k < 2; ++k) {
        cv::Mat a;
        cv::Mat b;
        planes[k == 0 ? 0 : 2].convertTo(a, CV_32F);
        planes[1].convertTo(b, CV_32F);
        cv::Mat d = (a - b) * 0.5 + 32768.0;
        if (type == CV_32F)
            out[static_cast<std::size_t>(k)] = d / 65535.0;
        else
            d.convertTo(out[static_cast<std::size_t>(k)], CV_16U);
    }
    return out;
}

void RunBilateralLab(benchmark::State& state, double strength) {
    cv::setNumThreads(1);
    cv::Mat lab;
    Wrap(LabPixels(), CV_16UC3).convertTo(lab, CV_32FC3, 1.0 / 65535.0);
    // The filter weighs a difference v as exp(-(v / 16)^2 / (256 sigma^2)) = exp(-v^2 / (2 (181 sigma)^2)).
    const double sigmaColor = std::sqrt(32768.0) * CFltColorNoise::Sigma(strength) / 65535.0;
    const int diameter = 2 * CFltColorNoise::Radius(strength) + 1;
    cv::Mat out;
    // One run before the timed one, as the filter's pull before its timed one: the output's memory is
    // the peer's own and already touched, as the filter's tiles are.
    cv::bilateralFilter(lab, out, diameter, sigmaColor, 1000.0);
    for (auto _ : state) {
        cv::bilateralFilter(lab, out, diameter, sigmaColor, 1000.0);
        benchmark::DoNotOptimize(out.data);
    }
    Rate(state);
}

void RunBilateralDifferences(benchmark::State& state) {
    cv::setNumThreads(1);
    const std::vector<cv::Mat> planes = DifferencePlanes(CV_32F);
    cv::Mat out[2];
    for (int k = 0; k < 2; ++k)
        cv::bilateralFilter(planes[static_cast<std::size_t>(k)], out[k], 5, 0.05, 1000.0);
    for (auto _ : state) {
        for (int k = 0; k < 2; ++k)
            cv::bilateralFilter(planes[static_cast<std::size_t>(k)], out[k], 5, 0.05, 1000.0);
        benchmark::DoNotOptimize(out[1].data);
    }
    Rate(state);
}

void RunMedianDifferences(benchmark::State& state) {
    cv::setNumThreads(1);
    const std::vector<cv::Mat> planes = DifferencePlanes(CV_16U);
    cv::Mat out[2];
    for (int k = 0; k < 2; ++k)
        cv::medianBlur(planes[static_cast<std::size_t>(k)], out[k], 5);
    for (auto _ : state) {
        for (int k = 0; k < 2; ++k)
            cv::medianBlur(planes[static_cast<std::size_t>(k)], out[k], 5);
        benchmark::DoNotOptimize(out[1].data);
    }
    Rate(state);
}

void RunGainMap(benchmark::State& state, int bits) {
    cv::setNumThreads(1);
    const cv::Mat picture = bits == 8 ? Wrap(Rgb8Pixels(), CV_8UC3) : Wrap(Developed(), CV_16UC3);
    cv::Mat gains(kHeight, kWidth, CV_32FC3);
    for (LONG y = 0; y < kHeight; ++y)
        for (LONG x = 0; x < kWidth; ++x) {
            const double r = std::hypot(x - kWidth / 2.0, y - kHeight / 2.0) / std::hypot(kWidth, kHeight);
            const float g = static_cast<float>(1 + r * r);
            gains.at<cv::Vec3f>(y, x) = cv::Vec3f(g, g, g);
        }
    cv::Mat out;
    cv::multiply(picture, gains, out, 1.0, picture.type());
    for (auto _ : state) {
        cv::multiply(picture, gains, out, 1.0, picture.type());
        benchmark::DoNotOptimize(out.data);
    }
    Rate(state);
}
#endif

void Register(const std::string& name, std::function<void(benchmark::State&)> run) {
    kvbench::MedianOfThree(benchmark::RegisterBenchmark(name.c_str(), [run](benchmark::State& state) {
        run(state);
    }))->Iterations(1);
}

struct Row {
    std::string label;
    std::string ours;
    std::string peer;
};

void PrintRatios(const kvbench::CMedianReporter& reporter, const std::vector<Row>& rows) {
    std::printf("\nMegapixels per second (median of 3 runs, one thread, %dx%d); ratio = filter / peer\n",
                kWidth, kHeight);
    std::printf("%-28s %9s %-34s %9s %7s\n", "case", "filter", "peer", "peer", "ratio");
    for (const Row& row : rows) {
        const double ours = reporter.Speed(row.ours, kMegapixels);
        const double theirs = reporter.Speed(row.peer, kMegapixels);
        std::printf("%-28s %9.2f %-34s", row.label.c_str(), ours, row.peer.c_str());
        if (theirs > 0)
            std::printf(" %9.2f %7.2f\n", theirs, ours / theirs);
        else
            std::printf(" %9s %7s\n", "-", "-");
    }
    // The plain path is meant to stay within twice the AVX2 path's time.
    std::printf("\nPlain path's time over the AVX2 path's, same run\n");
    for (const Row& row : rows) {
        const std::size_t at = row.ours.rfind("/plain");
        if (at == std::string::npos || at + 6 != row.ours.size())
            continue;
        const std::string base = row.ours.substr(0, at);
        const double plain = reporter.Speed(row.ours, kMegapixels);
        const double simd = reporter.Speed(base + "/avx2", kMegapixels);
        if (plain > 0 && simd > 0)
            std::printf("%-28s %7.2f\n", base.c_str(), simd / plain);
    }
    const double build = reporter.seconds.count("vignette/table") ? reporter.seconds.at("vignette/table") : 0;
    std::printf("\nVignette gain table for %dx%d made again on a new f-number: %.1f ms\n", kWidth, kHeight,
                build * 1e3);
}

} // namespace

int main(int argc, char** argv) {
    std::vector<Row> rows;
    const bool avx2 = CpuHas(CpuFeature::kAVX2);
    const bool avx512 = CpuHas(CpuFeature::kAVX2 | CpuFeature::kAVX512F);
    constexpr DWORD kPlainOff = CpuFeature::kAVX2 | CpuFeature::kAVX512F;
    // Filters with an AVX-512 path (wide) run it too, their AVX2 path then without it.
    auto both = [&](const std::string& base, LONG colorSpace, const std::vector<BYTE>* pixels,
                    FilterMaker make, const std::string& peer, bool wide = false) {
        Register(base + "/plain",
                 [=](benchmark::State& s) { RunFilter(s, colorSpace, pixels, make, kPlainOff); });
        rows.push_back({base + " plain", base + "/plain", peer});
        if (avx2) {
            Register(base + "/avx2", [=](benchmark::State& s) {
                RunFilter(s, colorSpace, pixels, make, wide ? CpuFeature::kAVX512F : 0);
            });
            rows.push_back({base + " avx2", base + "/avx2", peer});
        }
        if (wide && avx512) {
            Register(base + "/avx512",
                     [=](benchmark::State& s) { RunFilter(s, colorSpace, pixels, make, 0); });
            rows.push_back({base + " avx512", base + "/avx512", peer});
        }
    };
    for (double strength : {0.3, 0.7, 0.95}) {
        char name[32];
        std::snprintf(name, sizeof name, "noise/%.2f", strength);
        const std::string peer = std::string(name) + "/opencv_bilateral";
        both(
            name, PravonColorSpace::kLab16, &LabPixels(),
            [strength](IPravonManager& m) { return Noise(m, strength); }, peer);
#if KV_HAVE_OPENCV
        Register(peer, [strength](benchmark::State& s) { RunBilateralLab(s, strength); });
#endif
    }
    both(
        "fine_edge", PravonColorSpace::kRGB16, &Developed(),
        [](IPravonManager& m) { return new CFltFineEdge(&m); }, "fine_edge/opencv_bilateral_differences");
#if KV_HAVE_OPENCV
    Register("fine_edge/opencv_bilateral_differences", RunBilateralDifferences);
#endif
    for (LONG level : {15, 25, 75}) {
        const std::string name = "moire/" + std::to_string(level);
        both(
            name, PravonColorSpace::kRGB16, &Developed(),
            [level](IPravonManager& m) { return Moire(m, level); }, "moire/opencv_median_differences", true);
    }
#if KV_HAVE_OPENCV
    Register("moire/opencv_median_differences", RunMedianDifferences);
#endif
    for (int bits : {8, 16}) {
        const std::string name = "vignette/rgb" + std::to_string(bits);
        const LONG colorSpace = bits == 8 ? PravonColorSpace::kRGB8 : PravonColorSpace::kRGB16;
        const std::vector<BYTE>* pixels = bits == 8 ? &Rgb8Pixels() : &Developed();
        both(
            name, colorSpace, pixels, [](IPravonManager& m) { return Vignette(m, 1.4); },
            name + "/opencv_multiply");
#if KV_HAVE_OPENCV
        Register(name + "/opencv_multiply", [bits](benchmark::State& s) { RunGainMap(s, bits); });
#endif
    }
    kvbench::MedianOfThree(benchmark::RegisterBenchmark("vignette/table", RunVignetteTable))->Iterations(3);

    benchmark::Initialize(&argc, argv);
    kvbench::CMedianReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    PrintRatios(reporter, rows);
    benchmark::Shutdown();
    return 0;
}
