// The fisheye filter on a 24-megapixel 16-bit RGB picture, with each table set (flag 0: tables B, flag 1:
// tables A over the background), pulled tile by tile (256-pixel tiles) on one thread, through the standard
// lens file that make-lens writes. The peer, OpenCV's remap with cubic interpolation on one thread, maps the
// same pixels through maps of the same geometry (each output pixel's source position, worked out beforehand
// and not timed). Speeds are megapixels of output per second; the table at the end gives the filter's speed
// over OpenCV's, from the median of three runs. The filter runs three times: on the widest SIMD path the
// processor has, held to AVX2 (four pixels at a time) as a processor without AVX-512 runs it, and on the
// plain path, with its time over the AVX2 path's.
#include "bench/BenchMedians.h"
#include "bench/BenchTurns.h"
#include "platform/pravon/CPravonMemoryManager.h"
#include "platform/pravon/PravonGraph.h"
#include "platform/quasel/CPravonTagControl.h"
#include "platform/win/CpuFeatures.h"
#include "rawlib/filters/CFisheyeFilter.h"
#include "rawlib/filters/CFisheyeGeometry.h"
#include "tools/CKvLensModel.h"

#include <benchmark/benchmark.h>

#if KV_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr LONG kWidth = 6000;
constexpr LONG kHeight = 4000;
constexpr double kMegapixels = kWidth * kHeight / 1e6;

using kvbench::Check;

// A fresh machine folder with the standard lens file, for the whole run.
void InstallLensFile() {
    char folder[] = "/tmp/fisheye-bench-XXXXXX";
    if (!mkdtemp(folder)) {
        std::perror("mkdtemp");
        std::exit(1);
    }
    setenv("KV_SYSTEM_ROOT", folder, 1);
    CKvString path;
    if (GetLensFilePath(path, CKvLensInformation::kFisheyeLens) != 0)
        std::exit(1);
    const std::filesystem::path file(path.GetBuffer());
    std::filesystem::create_directories(file.parent_path());
    const std::vector<BYTE> bytes = CKvLensModel::FileBytes(CKvLensModel::Parameters());
    std::ofstream(file, std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

// The same pixels for both: a smooth ramp with some texture, interleaved RGB.
const std::vector<std::uint16_t>& Pixels() {
    static const std::vector<std::uint16_t> pixels = [] {
        std::vector<std::uint16_t> p(static_cast<std::size_t>(kWidth) * kHeight * 3);
        std::uint32_t noise = 12345;
        for (std::size_t i = 0; i < p.size(); ++i) {
            noise = noise * 1664525u + 1013904223u;
            const std::size_t pixel = i / 3;
            const std::uint32_t x = pixel % kWidth, y = static_cast<std::uint32_t>(pixel / kWidth);
            p[i] = static_cast<std::uint16_t>((x * (i % 3 + 1) + y * 3) * 11 + (noise >> 26));
        }
        return p;
    }();
    return pixels;
}

struct Graph {
    explicit Graph(BYTE flag)
        : manager(256),
          source(kvbench::MakeSource(manager, PravonColorSpace::kRGB16, Pixels().data(), kWidth, kHeight)),
          filter(&manager) {
        Check(PravonConnect(source.get(), &filter), "connect");
        CPravonTagControl* tags = new CPravonTagControl;
        const double range[4] = {10.5, 10.5, 2.8, 2.8};
        Check(tags->WriteTag(kKvLensRangeTag, 12, sizeof range, range), "tags");
        Check(filter.SelectLensModel(tags), "lens");
        tags->Release();
        Check(filter.SetTableFlag(flag, false), "table flag");
    }

    // Every output tile made again from the source, as after a change of the whole source.
    void PullEverything() { kvbench::PullEveryTile(source.get(), &filter); }

    CPravonMemoryManager manager;
    PravonImagePtr source;
    CFisheyeFilter filter;
};

// Which of the filter's paths a run takes: the features forced off.
enum Road : int { kWidest = 0, kAvx2 = 1, kPlain = 2 };
constexpr DWORD kRoadOff[] = {0, CpuFeature::kAVX512F, CpuFeature::kAVX512F | CpuFeature::kAVX2};

void RunOurs(benchmark::State& state, BYTE flag, int road) {
    CCpuFeatureOverride features(0, kRoadOff[road]);
    Graph graph(flag);
    graph.PullEverything();
    for (auto _ : state)
        graph.PullEverything();
    state.counters["MP/s"] = benchmark::Counter(kMegapixels, benchmark::Counter::kIsIterationInvariantRate);
}

#if KV_HAVE_OPENCV
void RunOpenCV(benchmark::State& state, BYTE flag, int) {
    cv::setNumThreads(1);
    const cv::Mat source(kHeight, kWidth, CV_16UC3, const_cast<std::uint16_t*>(Pixels().data()));
    // Each output pixel's source position through the table the filter uses; positions the filter leaves
    // alone (outside the picture) lie outside for OpenCV too.
    const auto tables = CKvLensModel::Tables(CKvLensModel::Parameters());
    const CFisheyeGeometry geometry(
        tables[flag == 1 ? CKvLensInformation::kTableA : CKvLensInformation::kTableB].data(), kWidth,
        kHeight);
    cv::Mat mapX(kHeight, kWidth, CV_32FC1), mapY(kHeight, kWidth, CV_32FC1);
    for (int y = 0; y < kHeight; ++y) {
        for (int x = 0; x < kWidth; ++x) {
            double sx = x, sy = y;
            geometry.Map(sx, sy);
            const bool inside = sx >= 0 && sx < kWidth && sy >= 0 && sy < kHeight;
            mapX.at<float>(y, x) = inside ? static_cast<float>(sx) : -10.0f;
            mapY.at<float>(y, x) = inside ? static_cast<float>(sy) : -10.0f;
        }
    }
    WORD background[3];
    CFisheyeFilter::GetBackground(CFisheyeFilter::kDefaultMode, background);
    cv::Mat out(kHeight, kWidth, CV_16UC3, cv::Scalar(0, 0, 0));
    for (auto _ : state) {
        if (flag == 1)
            cv::remap(source, out, mapX, mapY, cv::INTER_CUBIC, cv::BORDER_CONSTANT,
                      cv::Scalar(background[0], background[1], background[2]));
        else
            cv::remap(source, out, mapX, mapY, cv::INTER_CUBIC, cv::BORDER_TRANSPARENT);
        benchmark::DoNotOptimize(out.data);
    }
    state.counters["MP/s"] = benchmark::Counter(kMegapixels, benchmark::Counter::kIsIterationInvariantRate);
}
#endif

void Register(const std::string& name, void (*run)(benchmark::State&, BYTE, int), BYTE flag, int road) {
    kvbench::MedianOfThree(benchmark::RegisterBenchmark(name.c_str(), run, flag, road))->MinTime(0.5);
}

} // namespace

int main(int argc, char** argv) {
    InstallLensFile();
    for (BYTE flag : {0, 1}) {
        const std::string name = "fisheye/rgb16/flag" + std::to_string(flag);
        Register(name + "/filter", RunOurs, flag, kWidest);
        Register(name + "/filter-avx2", RunOurs, flag, kAvx2);
        Register(name + "/filter-plain", RunOurs, flag, kPlain);
#if KV_HAVE_OPENCV
        Register(name + "/opencv", RunOpenCV, flag, kWidest);
#endif
    }
    benchmark::Initialize(&argc, argv);
    kvbench::CMedianReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    std::printf(
        "\nOutput megapixels per second (median of 3 runs, one thread); ratio = filter / OpenCV, above 1 "
        "when the filter is faster\n");
    std::printf("%-34s %8s %8s %6s\n", "case", "filter", "OpenCV", "ratio");
    for (BYTE flag : {0, 1}) {
        const std::string name = "fisheye/rgb16/flag" + std::to_string(flag);
        const double theirs = reporter.Speed(name + "/opencv", kMegapixels);
        for (const char* path : {"/filter", "/filter-avx2", "/filter-plain"}) {
            const double ours = reporter.Speed(name + path, kMegapixels);
            if (theirs > 0)
                std::printf("%-34s %8.1f %8.1f %6.2f\n", (name + path).c_str(), ours, theirs, ours / theirs);
            else
                std::printf("%-34s %8.1f %8s %6s\n", (name + path).c_str(), ours, "-", "-");
        }
    }
    std::printf(
        "\nPlain path time over the AVX2 path's (the plain path is what a processor without AVX2 runs)\n");
    for (BYTE flag : {0, 1}) {
        const std::string name = "fisheye/rgb16/flag" + std::to_string(flag);
        const double avx2 = reporter.Speed(name + "/filter-avx2", kMegapixels);
        const double plain = reporter.Speed(name + "/filter-plain", kMegapixels);
        if (plain > 0)
            std::printf("%-34s %8.2f\n", (name + "/plain-vs-avx2").c_str(), avx2 / plain);
    }
    benchmark::Shutdown();
    std::error_code error;
    std::filesystem::remove_all(std::getenv("KV_SYSTEM_ROOT"), error);
    return 0;
}
