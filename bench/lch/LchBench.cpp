// A 24-megapixel 16-bit LCh picture through the LCh editor (lightness, hue and chroma curves with a
// calibration table), pulled tile by tile with every tile made again each time, against lcms2's own Lab to
// LCh conversion of the same picture's 16-bit Lab pixels as a cost reference, one thread each. Prints
// megapixels per second of each and the editor's time over lcms2's.
#include "bench/BenchTurns.h"
#include "rawlib/filters/CFltLch.h"

#include "platform/pravon/CPravonMemoryManager.h"

#include <benchmark/benchmark.h>
#include <lcms2.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

namespace {

constexpr LONG kWidth = 6000;
constexpr LONG kHeight = 4000;
constexpr double kMegapixels = double(kWidth) * kHeight / 1e6;
constexpr std::size_t kPixels = std::size_t(kWidth) * kHeight;
// How the picture keeps LCh in 16-bit samples: L 0..100, C 0..200, h a full turn.
constexpr double kChromaRange = 200;

using kvbench::Check;

struct Setup {
    Setup() {
        // A smooth Lab picture with some noise, 16-bit encoded as lcms2 encodes Lab.
        lab.resize(3 * kPixels);
        lch.resize(3 * kPixels);
        std::uint32_t state = 0x9E3779B9u;
        for (LONG y = 0; y < kHeight; ++y)
            for (LONG x = 0; x < kWidth; ++x) {
                state = state * 1664525u + 1013904223u;
                cmsCIELab c;
                c.L = 100.0 * y / kHeight;
                c.a = 120.0 * x / kWidth - 60 + (state >> 28);
                c.b = 80.0 * std::sin(x * 0.001 + y * 0.002);
                cmsFloat2LabEncoded(&lab[3 * (std::size_t(y) * kWidth + x)], &c);
            }
        Direct();

        source = kvbench::MakeSource(manager, PravonColorSpace::kLCh16, lch.data(), kWidth, kHeight);

        filter = std::make_unique<CFltLch>(&manager);
        Check(PravonConnect(source.get(), filter.get()), "connect");
        std::vector<WORD> lightness(65536);
        std::vector<WORD> hue(65536);
        std::vector<WORD> chroma(65536);
        std::vector<WORD> calibration(65536);
        for (std::size_t i = 0; i < 65536; ++i) {
            lightness[i] = static_cast<WORD>(std::lround(65535 * std::pow(i / 65535.0, 0.8)));
            hue[i] = static_cast<WORD>((i + 2000) & 0xFFFF);
            chroma[i] = static_cast<WORD>(32768 + 20000 * std::cos(i * 6.283185307179586 / 65536));
            calibration[i] = static_cast<WORD>(32768 + 8000 * std::sin(i * 6.283185307179586 / 65536));
        }
        const WORD* tables[4] = {lightness.data(), hue.data(), chroma.data(), calibration.data()};
        Check(filter->SetCurves(tables, 16, 16, 4, false), "curves");
    }
    ~Setup() { PravonErrorPtr(PravonDisconnect(source.get(), filter.get())); }

    // lcms2 decodes each 16-bit Lab pixel, converts it to LCh and the picture's encoding keeps it.
    void Direct() {
        for (std::size_t i = 0; i < kPixels; ++i) {
            cmsCIELab c;
            cmsCIELCh p;
            cmsLabEncoded2Float(&c, &lab[3 * i]);
            cmsLab2LCh(&p, &c);
            WORD* out = &lch[3 * i];
            out[0] = static_cast<WORD>(std::clamp(p.L / 100, 0.0, 1.0) * 65535 + 0.5);
            out[1] = static_cast<WORD>(std::clamp(p.C / kChromaRange, 0.0, 1.0) * 65535 + 0.5);
            out[2] = static_cast<WORD>(static_cast<LONG>(p.h / 360 * 65536 + 0.5) & 0xFFFF);
        }
    }

    void Pull() { kvbench::PullEveryTile(source.get(), filter.get()); }

    std::vector<WORD> lab;
    std::vector<WORD> lch;
    CPravonMemoryManager manager;
    PravonImagePtr source;
    std::unique_ptr<CFltLch> filter;
};

Setup& TheSetup() {
    static Setup setup;
    return setup;
}

// Each iteration converts the Lab pixels with lcms2 and pulls every tile through the editor, in turns.
void BM_LchEditorVersusLcms2(benchmark::State& state) {
    Setup& setup = TheSetup();
    const kvbench::CBestTimes best = kvbench::TimeInTurns(
        state, [&] { setup.Direct(); }, [&] { setup.Pull(); });
    benchmark::DoNotOptimize(setup.lch.data());
    state.counters["lcms2_MP/s"] = kMegapixels / best.first;
    state.counters["editor_MP/s"] = kMegapixels / best.second;
    state.counters["editor/lcms2"] = best.second / best.first;
}

BENCHMARK(BM_LchEditorVersusLcms2)->Iterations(8)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
