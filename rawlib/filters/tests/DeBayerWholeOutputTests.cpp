// Pins the standard demosaicing's output bit for bit: a hash of the whole output per case, checked at
// every tile size, in both pull orders and with both sets of row routines, on the sample scene and on random
// mosaics of every Bayer phase, square and non-square. A change of arithmetic anywhere in the interpolation
// or the resampling fails here even where it stays within every tolerance of the other tests.
#include "rawlib/filters/tests/DeBayerTestSupport.h"

#include "platform/win/CpuFeatures.h"
#include "tools/CKvSampleScene.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <memory>

namespace {

using namespace kvtest;

// FNV-1a over the samples, each as two bytes, low one first: independent of the plane's row padding.
std::uint64_t Hash(const TestPlane& plane) {
    std::uint64_t h = 14695981039346656037ull;
    auto mix = [&h](std::uint32_t byte) {
        h ^= byte;
        h *= 1099511628211ull;
    };
    mix(static_cast<std::uint32_t>(plane.width) & 0xFFFF);
    mix(static_cast<std::uint32_t>(plane.height) & 0xFFFF);
    for (LONG y = 0; y < plane.height; ++y)
        for (LONG x = 0; x < plane.width; ++x)
            for (LONG c = 0; c < plane.Channels(); ++c) {
                const ULONG v = plane.Sample(x, y, c);
                mix(v & 0xFF);
                mix(v >> 8);
            }
    return h;
}

// A mosaic of independent samples from a small generator of our own, so that the pinned hashes do not
// depend on a library's random engine: uniform in 0..top, or, with levels given, drawn from those.
TestPlane RandomMosaic(LONG width, LONG height, std::uint32_t seed, ULONG top,
                       const std::vector<ULONG>& levels = {}) {
    TestPlane plane(width, height, PravonColorSpace::kRawMosaic16);
    std::uint64_t state = seed * 0x9E3779B97F4A7C15ull + 1;
    for (LONG y = 0; y < height; ++y)
        for (LONG x = 0; x < width; ++x) {
            state ^= state << 13;
            state ^= state >> 7;
            state ^= state << 17;
            const ULONG r = static_cast<ULONG>(state >> 32);
            plane.SetSample(x, y, 0, levels.empty() ? r % (top + 1) : levels[r % levels.size()]);
        }
    return plane;
}

// Two levels whose square roots lie exactly the direction threshold apart (sqrt-table[1034] -
// sqrt-table[608] = 30717): every activity is a multiple of the threshold, so the activities of many
// sites differ by exactly the threshold, where the average of both estimates must still be taken.
const std::vector<ULONG> kThresholdLevels = {608, 1034};

TestPlane SceneMosaic(LONG width, LONG height, const std::vector<BYTE>& descriptor, double redGain,
                      double blueGain) {
    const CKvSampleScene scene(width, height);
    const std::vector<WORD> samples =
        CKvSampleScene::Mosaic(scene.Render(), width, height, descriptor.data() + 4, redGain, blueGain);
    TestPlane plane(width, height, PravonColorSpace::kRawMosaic16);
    for (LONG y = 0; y < height; ++y)
        for (LONG x = 0; x < width; ++x)
            plane.SetSample(x, y, 0, samples[static_cast<std::size_t>(y) * width + x]);
    return plane;
}

// The white-balance curves the development gives the filter: 12-bit input, red and blue scaled by the
// gains and held at 4095, green the identity.
struct Curves {
    Curves(double redGain, double blueGain) : red(4096), green(4096), blue(4096) {
        for (int i = 0; i < 4096; ++i) {
            red[i] = static_cast<WORD>(std::min(i * redGain, 4095.0));
            green[i] = static_cast<WORD>(i);
            blue[i] = static_cast<WORD>(std::min(i * blueGain, 4095.0));
        }
    }
    std::vector<WORD> red, green, blue;
};

enum class Input { Scene, Random, ThresholdLevels, Wild };

struct GoldenCase {
    const char* name;
    Input input;
    int layout; // index into BayerLayouts()
    bool nonSquare;
    bool curves;
    PravonRect crop;
    std::uint64_t mosaicHash; // pins the input, so that a changed scene is not taken for a changed filter
    std::uint64_t outputHash;
};

TestPlane MakeInput(const GoldenCase& c) {
    const auto& descriptor = BayerLayouts()[static_cast<std::size_t>(c.layout)].descriptor;
    const std::uint32_t seed = static_cast<std::uint32_t>(c.layout * 2 + (c.nonSquare ? 1 : 0) + 1);
    switch (c.input) {
    case Input::Scene:
        return SceneMosaic(232, 172, descriptor, 1.9, 1.4);
    case Input::Random:
        return RandomMosaic(71, 59, seed, 4095);
    case Input::ThresholdLevels:
        return RandomMosaic(66, 53, seed, 0, kThresholdLevels);
    case Input::Wild:
        return RandomMosaic(57, 49, seed, 65535);
    }
    return {};
}

// A case added with zero hashes fails and prints the hashes of the output as it is now.
// clang-format off
const GoldenCase kCases[] = {
    {"scene RGGB", Input::Scene, 0, false, true, {},
     0xb04bcee0837a3be5ull, 0xdeac9f38239a2c0dull},
    {"scene RGGB non-square", Input::Scene, 0, true, true, {},
     0xb04bcee0837a3be5ull, 0x2b78904c388089a0ull},
    {"scene GBRG without curves", Input::Scene, 2, false, false, {},
     0x6f50b3b874017e8full, 0x460e4f21dfcce7daull},
    {"scene BGGR non-square cropped", Input::Scene, 3, true, true, {7, 5, 131, 188},
     0x8eaaba09caa83759ull, 0xf07171f67bce4b32ull},
    {"random RGGB", Input::Random, 0, false, false, {},
     0xabe3f02e09a8ef2cull, 0xf7a8b35bd6d6a77full},
    {"random RGGB non-square", Input::Random, 0, true, false, {},
     0x324f7d32597cd454ull, 0x6618b9d8c6b38b20ull},
    {"random GRBG", Input::Random, 1, false, false, {},
     0x400a3e142e3a1063ull, 0x8f0c75e449bca0d4ull},
    {"random GRBG non-square", Input::Random, 1, true, false, {},
     0xcaf29b0333f4e836ull, 0x62dcd3fd2d01d7dbull},
    {"random GBRG", Input::Random, 2, false, false, {},
     0x7a2dc4e5f63e4ef4ull, 0x2c1fa80320571106ull},
    {"random GBRG non-square", Input::Random, 2, true, false, {},
     0x837f5a1e8ac0f132ull, 0x6c6220b0300d6ac6ull},
    {"random BGGR", Input::Random, 3, false, false, {},
     0x41384e9f58fc51d3ull, 0xf21fad9ef8e742ccull},
    {"random BGGR non-square", Input::Random, 3, true, false, {},
     0xb676636073c3429full, 0xebce8e0b13ae152cull},
    {"random GRBG with curves, cropped", Input::Random, 1, false, true, {3, 4, 50, 44},
     0x400a3e142e3a1063ull, 0x31e03bc95de63657ull},
    {"random GBRG non-square with curves, cropped", Input::Random, 2, true, true, {1, 2, 40, 70},
     0x837f5a1e8ac0f132ull, 0xae9d7053907f5f83ull},
    {"threshold levels RGGB", Input::ThresholdLevels, 0, false, false, {},
     0x8db95138c64a1230ull, 0x902d76424ceef53cull},
    {"threshold levels BGGR non-square", Input::ThresholdLevels, 3, true, false, {},
     0x4b73daaff33f34c8ull, 0x5b163f67c1753b08ull},
    {"samples beyond 12 bits GRBG", Input::Wild, 1, false, false, {},
     0x16695677c81e2cc8ull, 0x9b9edd083df86991ull},
    {"samples beyond 12 bits RGGB non-square", Input::Wild, 0, true, true, {},
     0x46ac40b2f0f68acbull, 0xfc0b7510ddb51c22ull},
};
// clang-format on

TEST(DeBayerGolden, TheOutputIsTheOnePinnedForEveryCaseAtEveryTileSizeAndPullOrder) {
    ASSERT_EQ(GetSqrtTable()[kThresholdLevels[1]] - GetSqrtTable()[kThresholdLevels[0]],
              CDeBayerSingleFilter::kDirectionThreshold);
    const Curves curves(1.9, 1.4);
    bool unpinned = false;
    for (const GoldenCase& c : kCases) {
        const TestPlane mosaic = MakeInput(c);
        const auto& descriptor = BayerLayouts()[static_cast<std::size_t>(c.layout)].descriptor;
        const std::uint64_t mosaicHash = Hash(mosaic);
        std::uint64_t first = 0;
        // The plain row routines give the pinned output as well as the processor's own.
        for (bool plainRoutines : {false, true}) {
            std::unique_ptr<CCpuFeatureOverride> plain;
            if (plainRoutines)
                plain = std::make_unique<CCpuFeatureOverride>(0, CpuFeature::kAVX2 | CpuFeature::kAVX);
            for (LONG tileSize : {7, 16, 64, 256}) {
                for (PullOrder order : {PullOrder::TileOrder, PullOrder::RandomOrder}) {
                    if (order == PullOrder::RandomOrder && tileSize != 16)
                        continue;
                    Demosaic d(mosaic, descriptor, tileSize);
                    ASSERT_PV_OK(d.filter->SetNonSquareMode(c.nonSquare, nullptr, false));
                    ASSERT_PV_OK(d.filter->SetCropRect(c.crop, nullptr, false));
                    if (c.curves) {
                        ASSERT_PV_OK(d.filter->SetParameters(12, 12, curves.red.data(), curves.green.data(),
                                                             curves.blue.data(), false));
                    }
                    TestPlane out;
                    ASSERT_PV_OK(PullAll(d.filter.get(), &out, order));
                    ASSERT_GT(out.width, 0) << c.name;
                    const std::uint64_t h = Hash(out);
                    if (first == 0)
                        first = h;
                    EXPECT_EQ(h, first) << c.name << " at tile size " << tileSize
                                        << (plainRoutines ? " with the plain routines" : "");
                }
            }
        }
        if (c.outputHash == 0) {
            unpinned = true;
            std::printf("    {\"%s\", ..., 0x%016" PRIx64 "ull, 0x%016" PRIx64 "ull},\n", c.name, mosaicHash,
                        first);
            continue;
        }
        EXPECT_EQ(mosaicHash, c.mosaicHash) << c.name << ": the input itself changed";
        EXPECT_EQ(first, c.outputHash) << c.name;
    }
    EXPECT_FALSE(unpinned) << "cases without a pinned hash";
}

} // namespace
