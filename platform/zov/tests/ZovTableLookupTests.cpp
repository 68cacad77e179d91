// The lookup of interleaved 16-bit samples into one plane per channel, against the lookup done here sample
// by sample: every width from 1 to 40 pixels and widths around a stretch of the grid road, over the whole
// steps the lookup takes and the pixels left after them, inputs at odd addresses, planes apart by an odd
// number of entries, and samples at both ends of the range.
#include "platform/win/CpuFeatures.h"
#include "platform/zov/CZovRgbGrid.h"
#include "platform/zov/ZovTableLookup.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

namespace {

constexpr std::size_t kEntries = 65536;
constexpr USHORT kGuard = 0xA5A5;

// Tables whose entries differ from channel to channel and from code to code (an odd multiplier is a
// bijection of 16-bit codes), so that a sample taken from the wrong place or looked up in another channel's
// table shows.
std::vector<std::vector<USHORT>> DistinctTables() {
    const unsigned multipliers[3] = {40503, 25173, 13849}, offsets[3] = {1, 12345, 54321};
    std::vector<std::vector<USHORT>> tables(3, std::vector<USHORT>(kEntries));
    for (std::size_t c = 0; c < 3; ++c)
        for (std::size_t k = 0; k < kEntries; ++k)
            tables[c][k] = static_cast<USHORT>(k * multipliers[c] + offsets[c]);
    return tables;
}

// Samples of `pixels` pixels, random but with the lowest and highest codes at every fifth and seventh place,
// written as bytes from `shift` bytes into the buffer.
std::vector<std::uint8_t> Samples(std::size_t pixels, std::size_t shift, std::mt19937* random) {
    std::uniform_int_distribution<unsigned> code(0, kEntries - 1);
    std::vector<std::uint8_t> bytes(shift + 6 * pixels, 0);
    for (std::size_t i = 0; i < 3 * pixels; ++i) {
        const USHORT sample = i % 5 == 0 ? 0 : i % 7 == 0 ? USHORT(kEntries - 1) : USHORT(code(*random));
        std::memcpy(&bytes[shift + 2 * i], &sample, sizeof sample);
    }
    return bytes;
}

TEST(ZovTableLookup, PlanesHoldEachChannelsEntriesAndNothingPastThem) {
    if ((CpuDetectedFeatures() & CpuFeature::kAVX2) == 0)
        GTEST_SKIP() << "no AVX2 on this processor";
    const std::vector<std::vector<USHORT>> tables = DistinctTables();
    const USHORT* const pointers[3] = {tables[0].data(), tables[1].data(), tables[2].data()};
    std::vector<std::size_t> widths;
    for (std::size_t n = 1; n <= 40; ++n)
        widths.push_back(n);
    constexpr std::size_t kStretch = CZovRgbGrid::kStretch;
    for (const std::size_t n : {kStretch - 9, kStretch - 1, kStretch, kStretch + 1, kStretch + 7})
        widths.push_back(n);
    std::mt19937 random(7);
    for (const std::size_t n : widths)
        for (const std::size_t shift : {0, 1, 3})
            for (const std::size_t spare : {0, 1, 5}) {
                SCOPED_TRACE(testing::Message() << n << " pixels, input " << shift << " bytes in, planes "
                                                << n + spare << " entries apart");
                const std::vector<std::uint8_t> in = Samples(n, shift, &random);
                const std::size_t stride = n + spare;
                std::vector<USHORT> expected(3 * stride + 1, kGuard);
                for (std::size_t x = 0; x < n; ++x)
                    for (std::size_t c = 0; c < 3; ++c) {
                        USHORT sample;
                        std::memcpy(&sample, &in[shift + 6 * x + 2 * c], sizeof sample);
                        expected[c * stride + x] = tables[c][sample];
                    }
                std::vector<USHORT> planes(3 * stride + 1, kGuard);
                ZovTables::LookUpRgb16Planes(in.data() + shift, planes.data(), stride, n, pointers);
                EXPECT_EQ(planes, expected);
            }
}

} // namespace
