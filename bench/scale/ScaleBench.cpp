// The scale filter on a 24-megapixel RGB image (8 and 16 bits): reduced to 25 % and 70 % and enlarged to
// 150 %, with each method, pulled tile by tile (256-pixel tiles) on one thread. The peers (OpenCV's resize,
// libvips' resize and reduce, each on one thread) scale the same pixels in the same run. Speeds are
// megapixels of the source per second; the table at the end gives the filter's speed over each peer's, from
// the median of three runs. The reductions that go mostly into memory traffic are also timed against OpenCV
// in turns, which other load on the machine skews far less than runs timed a second or more apart.
#include "bench/BenchMedians.h"
#include "bench/BenchTurns.h"
#include "filters/CPravonFilterScale.h"
#include "platform/pravon/CPravonMemoryManager.h"
#include "platform/pravon/PravonGraph.h"
#include "platform/win/CpuFeatures.h"

#include <benchmark/benchmark.h>

#if KV_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif
#if KV_HAVE_VIPS
#include <vips/vips.h>
#endif

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

constexpr LONG kWidth = 6000;
constexpr LONG kHeight = 4000;
constexpr double kSourceMegapixels = kWidth * kHeight / 1e6;

struct Case {
    int bits;
    double factor;
    LONG method;
};

const char* MethodName(LONG method) {
    return method == 0 ? "nearest" : method == 1 ? "linear" : "cubic";
}

std::string CaseName(const Case& c) {
    char text[64];
    std::snprintf(text, sizeof text, "rgb%d/%d%%/%s", c.bits, static_cast<int>(c.factor * 100 + 0.5),
                  MethodName(c.method));
    return text;
}

LONG Side(LONG size, double factor) {
    return static_cast<LONG>(size * factor + 0.5);
}

using kvbench::Check;

// The same pixels for every implementation: a smooth ramp with some texture, interleaved RGB.
std::vector<BYTE> MakePixels(int bits) {
    const std::size_t bytes = static_cast<std::size_t>(kWidth) * kHeight * 3 * (bits / 8);
    std::vector<BYTE> pixels(bytes);
    std::uint32_t noise = 12345;
    for (LONG y = 0; y < kHeight; ++y) {
        for (LONG x = 0; x < kWidth; ++x) {
            for (int c = 0; c < 3; ++c) {
                noise = noise * 1664525u + 1013904223u;
                const std::uint32_t v = static_cast<std::uint32_t>(x * (c + 1) + y * 3) * 11 + (noise >> 26);
                const std::size_t i = (static_cast<std::size_t>(y) * kWidth + x) * 3 + c;
                if (bits == 8) {
                    pixels[i] = static_cast<BYTE>(v >> 4);
                } else {
                    const std::uint16_t w = static_cast<std::uint16_t>(v << 2);
                    std::memcpy(&pixels[i * 2], &w, 2);
                }
            }
        }
    }
    return pixels;
}

const std::vector<BYTE>& Pixels(int bits) {
    static std::map<int, std::vector<BYTE>> pixels;
    auto it = pixels.find(bits);
    if (it == pixels.end())
        it = pixels.emplace(bits, MakePixels(bits)).first;
    return it->second;
}

// Our side: the source image holds the pixels in 256-pixel tiles; a scale filter reads it.
struct Graph {
    explicit Graph(const Case& c)
        : manager(256),
          source(kvbench::MakeSource(manager,
                                     c.bits == 8 ? PravonColorSpace::kRGB8 : PravonColorSpace::kRGB16,
                                     Pixels(c.bits).data(), kWidth, kHeight)),
          filter(&manager, c.method) {
        Check(PravonConnect(source.get(), &filter), "connect");
        Check(filter.SetScale(c.factor, false), "scale");
    }

    // Every output tile made again from the source, as after a change of the whole source.
    void PullEverything() { kvbench::PullEveryTile(source.get(), &filter); }

    CPravonMemoryManager manager;
    PravonImagePtr source;
    CPravonFilterScale filter;
};

void RunOurs(benchmark::State& state, Case c) {
    Graph graph(c);
    graph.PullEverything();
    for (auto _ : state)
        graph.PullEverything();
    state.counters["MP/s"] =
        benchmark::Counter(kSourceMegapixels, benchmark::Counter::kIsIterationInvariantRate);
}

#if KV_HAVE_OPENCV
// OpenCV's resize of a case on one thread, from the same pixels into an output of the filter's size, run once
// when made, as the filter's tiles are pulled once before its timing: the first writes to a fresh output pay
// for the pages the system maps in, which on some machines costs more than the resize.
class CCvResize {
public:
    explicit CCvResize(const Case& c)
        : m_type(c.bits == 8 ? CV_8UC3 : CV_16UC3),
          m_source(kHeight, kWidth, m_type, const_cast<BYTE*>(Pixels(c.bits).data())),
          m_out(Side(kHeight, c.factor), Side(kWidth, c.factor), m_type),
          m_interpolation(c.method == 0   ? cv::INTER_NEAREST
                          : c.factor < 1  ? cv::INTER_AREA
                          : c.method == 1 ? cv::INTER_LINEAR
                                          : cv::INTER_CUBIC) {
        cv::setNumThreads(1);
        (*this)();
    }

    void operator()() {
        cv::resize(m_source, m_out, m_out.size(), 0, 0, m_interpolation);
        benchmark::DoNotOptimize(m_out.data);
    }

private:
    int m_type;
    cv::Mat m_source;
    cv::Mat m_out;
    int m_interpolation;
};

void RunOpenCV(benchmark::State& state, Case c) {
    CCvResize resize(c);
    for (auto _ : state)
        resize();
    state.counters["MP/s"] =
        benchmark::Counter(kSourceMegapixels, benchmark::Counter::kIsIterationInvariantRate);
}
#endif

// The cases whose time goes mostly into tile memory and per-tile work rather than arithmetic.
bool MemoryBound(const Case& c) {
    return c.method == 0 || (c.bits == 16 && c.factor == 0.25);
}

#if KV_HAVE_OPENCV
// The best times of the filter (first) and of OpenCV (second) timed in turns, by case name; the filter's
// plain road under the name with "/plain".
std::map<std::string, kvbench::CBestTimes> turns;

// The filter and OpenCV once each an iteration, taking turns at going first, with the best time of each
// kept: both start from pixels in memory and write an output they wrote before, and both meet the same
// load on the machine.
void RunInTurns(benchmark::State& state, Case c, bool plain) {
    std::unique_ptr<CCpuFeatureOverride> plainRoad;
    if (plain)
        plainRoad = std::make_unique<CCpuFeatureOverride>(0, CpuFeature::kAVX2 | CpuFeature::kAVX);
    Graph graph(c);
    graph.PullEverything();
    CCvResize resize(c);
    turns[CaseName(c) + (plain ? "/plain" : "")] =
        kvbench::TimeInTurns(state, [&] { graph.PullEverything(); }, [&] { resize(); });
}
#endif

#if KV_HAVE_VIPS
int Discard(VipsRegion*, VipsRect*, void*) {
    return 0;
}

// vips_resize for every case; vips_reduce (kernel resampling only, no box shrink first) for reductions.
void RunVips(benchmark::State& state, Case c, bool reduce) {
    const std::vector<BYTE>& pixels = Pixels(c.bits);
    VipsImage* source = vips_image_new_from_memory(pixels.data(), pixels.size(), kWidth, kHeight, 3,
                                                   c.bits == 8 ? VIPS_FORMAT_UCHAR : VIPS_FORMAT_USHORT);
    const VipsKernel kernel = c.method == 0   ? VIPS_KERNEL_NEAREST
                              : c.method == 1 ? VIPS_KERNEL_LINEAR
                                              : VIPS_KERNEL_CUBIC;
    for (auto _ : state) {
        VipsImage* out = nullptr;
        const int failed =
            reduce ? vips_reduce(source, &out, 1 / c.factor, 1 / c.factor, "kernel", kernel, nullptr)
                   : vips_resize(source, &out, c.factor, "kernel", kernel, nullptr);
        if (failed || vips_sink_disc(out, Discard, nullptr)) {
            state.SkipWithError(vips_error_buffer());
            break;
        }
        g_object_unref(out);
    }
    g_object_unref(source);
    state.counters["MP/s"] =
        benchmark::Counter(kSourceMegapixels, benchmark::Counter::kIsIterationInvariantRate);
}
#endif

void PrintRatios(const kvbench::CMedianReporter& reporter, const std::vector<Case>& cases) {
    auto speed = [&](const std::string& name) { return reporter.Speed(name, kSourceMegapixels); };
    std::printf(
        "\nSource megapixels per second (median of 3 runs, one thread); ratio = filter / peer, above 1 "
        "when the filter is faster\n");
    std::printf("%-20s %8s %8s %6s %12s %6s %12s %6s\n", "case", "filter", "OpenCV", "ratio", "vips_resize",
                "ratio", "vips_reduce", "ratio");
    for (const Case& c : cases) {
        const std::string name = CaseName(c);
        const double ours = speed("scale/" + name + "/filter");
        std::printf("%-20s %8.1f", name.c_str(), ours);
        int column = 0;
        for (const char* peer : {"opencv", "vips_resize", "vips_reduce"}) {
            const double theirs = speed("scale/" + name + "/" + peer);
            const int width = column++ == 0 ? 8 : 12;
            if (theirs > 0)
                std::printf(" %*.1f %6.2f", width, theirs, ours / theirs);
            else
                std::printf(" %*s %6s", width, "-", "-");
        }
        std::printf("\n");
    }
    std::printf(
        "\nNearest-neighbour and 16-bit 25%% cases, filter / OpenCV: from the medians above; timed in "
        "turns (best of each); the filter's plain road in turns\n");
    for (const Case& c : cases) {
        if (!MemoryBound(c))
            continue;
        const std::string name = CaseName(c);
        const double theirs = speed("scale/" + name + "/opencv");
        if (theirs <= 0)
            continue;
        std::printf("%-20s %6.2f", name.c_str(), speed("scale/" + name + "/filter") / theirs);
#if KV_HAVE_OPENCV
        for (const char* road : {"", "/plain"}) {
            auto it = turns.find(name + road);
            if (it != turns.end() && it->second.first > 0)
                std::printf(" %6.2f", it->second.second / it->second.first);
            else
                std::printf(" %6s", "-");
        }
#endif
        std::printf("\n");
    }
}

// The median of three runs of at least 0.2 s each.
void Repeat(benchmark::internal::Benchmark* bench) {
    kvbench::MedianOfThree(bench)->MinTime(0.2);
}

} // namespace

int main(int argc, char** argv) {
#if KV_HAVE_VIPS
    if (VIPS_INIT(argv[0]))
        return 1;
    vips_concurrency_set(1);
    vips_cache_set_max(0);
#endif
    std::vector<Case> cases;
    for (int bits : {8, 16})
        for (double factor : {0.25, 0.70, 1.50})
            for (LONG method : {0, 1, 2})
                cases.push_back({bits, factor, method});
    for (const Case& c : cases) {
        const std::string name = "scale/" + CaseName(c);
        Repeat(benchmark::RegisterBenchmark((name + "/filter").c_str(), RunOurs, c));
#if KV_HAVE_OPENCV
        Repeat(benchmark::RegisterBenchmark((name + "/opencv").c_str(), RunOpenCV, c));
        if (MemoryBound(c))
            for (bool plain : {false, true})
                benchmark::RegisterBenchmark((name + (plain ? "/turns_plain" : "/turns")).c_str(), RunInTurns,
                                             c, plain)
                    ->UseManualTime()
                    ->Unit(benchmark::kMillisecond)
                    ->MinTime(1.0);
#endif
#if KV_HAVE_VIPS
        Repeat(benchmark::RegisterBenchmark((name + "/vips_resize").c_str(), RunVips, c, false));
        if (c.factor < 1)
            Repeat(benchmark::RegisterBenchmark((name + "/vips_reduce").c_str(), RunVips, c, true));
#endif
    }
    benchmark::Initialize(&argc, argv);
    kvbench::CMedianReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    PrintRatios(reporter, cases);
    benchmark::Shutdown();
#if KV_HAVE_VIPS
    vips_shutdown();
#endif
    return 0;
}
