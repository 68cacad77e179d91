// The load of a 24-megapixel camera file (an uncompressed DNG of the benchmarks' mosaic, the case where
// decoding is cheapest and the decoder process weighs most) through the camera raw loader, which decodes in
// a process of its own, against the same work done in this process with LibRaw (open, unpack, the 12-bit
// samples the loader gives), in the same run.
#include "BenchDng.h"
#include "bench/demosaic/DemosaicSample.h"
#include "platform/pravon/PravonImageData.h"
#include "platform/quasel/IPravonLoad.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>

#if KV_HAVE_LIBRAW
#include <libraw/libraw.h>
#endif

namespace {

using namespace demosaicbench;
using developbench::DngPath;

constexpr int kRuns = 7;
double g_isolated = 0, g_inProcess = 0;

void Isolated(benchmark::State& state) {
    const std::string& path = DngPath();
    CPravonMemoryManager manager(256);
    PravonErrorPtr err;
    g_isolated = TimedLoop(state, [&] {
        IPravonImage* image = nullptr;
        IPravonTagControl* tags = nullptr;
        err.reset(IPravonLoad::LoadFile(&manager, PravonFile{path}, &image, &tags));
        PravonImagePtr imageOwner(image);
        PravonTagControlPtr tagsOwner(tags);
    });
    if (err)
        state.SkipWithError(err->Describe().c_str());
}

#if KV_HAVE_LIBRAW
// What the loader did in this process before, line for line: the file read whole, opened and unpacked by
// LibRaw, the samples scaled to 12 bits into a mosaic of their own and handed to an image.
void InProcess(benchmark::State& state) {
    const std::string& path = DngPath();
    CPravonMemoryManager manager(256);
    bool ok = true;
    g_inProcess = TimedLoop(state, [&] {
        std::ifstream in(path, std::ios::binary);
        std::vector<char> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        LibRaw raw(0);
        ok = raw.open_buffer(file.data(), file.size()) == LIBRAW_SUCCESS && raw.unpack() == LIBRAW_SUCCESS;
        if (!ok)
            return;
        const auto& d = raw.imgdata;
        const auto& color = d.color;
        const std::size_t pitch = d.sizes.raw_pitch / 2;
        std::vector<WORD> samples(std::size_t(d.sizes.width) * d.sizes.height);
        for (int y = 0; y < d.sizes.height; ++y) {
            const ushort* row = d.rawdata.raw_image + (y + d.sizes.top_margin) * pitch + d.sizes.left_margin;
            for (int x = 0; x < d.sizes.width; ++x) {
                const int c = raw.COLOR(y, x) & 3;
                unsigned black = color.black + color.cblack[c];
                if (color.cblack[4] && color.cblack[5])
                    black +=
                        color.cblack[6 + (y % color.cblack[4]) * color.cblack[5] + (x % color.cblack[5])];
                const double range = color.maximum > black ? double(color.maximum - black) : 1.0;
                const double v = row[x] > black ? (row[x] - black) * 4095 / range : 0.0;
                samples[std::size_t(y) * d.sizes.width + x] =
                    static_cast<WORD>(std::min<double>(std::lround(v), 4095));
            }
        }
        IPravonImage* image = nullptr;
        ok = !PravonErrorPtr(manager.CreateImage(1, &image));
        PravonImagePtr owner(image);
        ok = ok && !PravonErrorPtr(image->SetColorSpace(0x10020401)) &&
             !PravonErrorPtr(image->SetSize(d.sizes.width, d.sizes.height)) &&
             !PravonErrorPtr(PravonSetData(image, PravonRect{0, 0, d.sizes.width, d.sizes.height},
                                           samples.data(), std::size_t(d.sizes.width) * 2));
    });
    if (!ok)
        state.SkipWithError("LibRaw could not load the file");
}
#endif

void PrintSummary() {
    std::printf("\ncamera file load, %.0f MP uncompressed DNG, median seconds:\n", kMegapixels);
    std::printf("  %-32s %8.3f\n", "loader (decoder process)", g_isolated);
#if KV_HAVE_LIBRAW
    std::printf("  %-32s %8.3f\n", "LibRaw in this process", g_inProcess);
    if (g_inProcess > 0)
        std::printf("decoder process / in process: %.3f\n", g_isolated / g_inProcess);
#endif
}

const bool kRegistered = [] {
    benchmark::RegisterBenchmark("CameraFile/load-isolated", Isolated)
        ->Unit(benchmark::kMillisecond)
        ->Iterations(kRuns);
#if KV_HAVE_LIBRAW
    benchmark::RegisterBenchmark("CameraFile/load-in-process", InProcess)
        ->Unit(benchmark::kMillisecond)
        ->Iterations(kRuns);
#endif
    std::atexit(PrintSummary);
    return true;
}();

} // namespace
