// The mosaic row reader against the mosaic read here sample by sample: every position of a window's rows,
// inside the image and beyond each edge, looked up in the table of the site it stands for, for source
// tiles smaller than, equal to and larger than the window, with both sets of row routines.
#include "rawlib/filters/CMosaicRowReader.h"

#include "platform/pravon/CPravonMemoryManager.h"
#include "platform/win/CpuFeatures.h"
#include "testing/PravonTestSupport.h"
#include "testing/TestPlane.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>

namespace {

using namespace kvtest;

// Three tables that tell their channel apart at every index.
struct Tables {
    Tables() : green(4096), red(4096), blue(4096) {
        for (LONG i = 0; i < 4096; ++i) {
            green[i] = 3 * i + 1;
            red[i] = 100000 + i;
            blue[i] = 200000 - 7 * i;
        }
    }
    std::vector<LONG> green, red, blue;
};

// The inside coordinate of the same phase nearest to v: two apart, the axis' only pixel when it has one.
LONG Inside(LONG v, LONG size) {
    if (size == 1)
        return 0;
    while (v < 0)
        v += 2;
    while (v >= size)
        v -= 2;
    return v;
}

// The row as the reader is to give it, in position order.
std::vector<LONG> ExpectedRow(const TestPlane& mosaic, const Tables& t, const CMosaicRowReader::Sites& sites,
                              LONG x0, LONG count, LONG y) {
    std::vector<LONG> row(static_cast<std::size_t>(count));
    for (LONG p = 0; p < count; ++p) {
        const LONG x = x0 + p;
        const bool green = (x + y + sites.greenPhase) % 2 != 0;
        const bool red = (y + sites.redRowPhase) % 2 != 0;
        const std::vector<LONG>& table = green ? t.green : red ? t.red : t.blue;
        const ULONG sample = mosaic.Sample(Inside(x, mosaic.width), Inside(y, mosaic.height), 0);
        row[static_cast<std::size_t>(p)] = table[sample > 4095 ? 4095 : sample];
    }
    return row;
}

// A split row (even positions first) back in position order.
std::vector<LONG> Joined(const std::vector<LONG>& split, LONG count) {
    const LONG evens = (count + 1) / 2;
    std::vector<LONG> row(static_cast<std::size_t>(count));
    for (LONG p = 0; p < count; ++p)
        row[static_cast<std::size_t>(p)] = split[static_cast<std::size_t>(p % 2 ? evens + p / 2 : p / 2)];
    return row;
}

TEST(MosaicRowReader, EveryPositionReadsTheSampleOfItsPhaseInTheTableOfItsSite) {
    struct Case {
        LONG width, height, tileSize, x0, count;
    };
    const Case cases[] = {
        {40, 30, 7, -3, 46},    // beyond both sides, many source tiles
        {40, 30, 16, 5, 20},    // inside, across one tile border
        {40, 30, 256, 33, 12},  // one source tile, beyond the right side
        {130, 9, 256, -3, 140}, // long runs for the AVX2 blocks, beyond both sides
        {130, 9, 64, 1, 117},   // runs of odd and even lengths starting at odd positions
        {45, 31, 16, 0, 45},    // the whole odd width
        {13, 13, 7, -3, 19},    // the smallest image with an output
        {1, 3, 7, -2, 5},       // an axis of one pixel
        {40, 30, 16, 12, 0},    // nothing to read
    };
    const Tables tables;
    std::mt19937 random(21);
    std::vector<const DeBayerRows::Kernels*> sets = {&DeBayerRows::Plain()};
    if (CpuDetectedFeatures() & CpuFeature::kAVX2)
        sets.push_back(&DeBayerRows::Simd());
    for (const Case& c : cases) {
        TestPlane mosaic(c.width, c.height, PravonColorSpace::kRawMosaic16);
        for (LONG y = 0; y < c.height; ++y)
            for (LONG x = 0; x < c.width; ++x)
                mosaic.SetSample(x, y, 0, random() % 4 == 0 ? random() % 65536 : random() % 4096);
        CPravonMemoryManager manager(c.tileSize);
        PravonImagePtr image = MakeImage(manager, mosaic);
        for (LONG phases = 0; phases < 4; ++phases) {
            CMosaicRowReader::Sites sites;
            sites.greenLut = tables.green.data();
            sites.redLut = tables.red.data();
            sites.blueLut = tables.blue.data();
            sites.greenPhase = phases & 1;
            sites.redRowPhase = phases >> 1;
            for (const DeBayerRows::Kernels* set : sets) {
                CMosaicRowReader reader(*set);
                ASSERT_PV_OK(reader.Begin(image.get(), c.x0, c.count, sites));
                // Down the rows and back up, as the reader may be asked after a tile row it held.
                std::vector<LONG> rows;
                for (LONG y = -4; y < c.height + 4; ++y)
                    rows.push_back(y);
                rows.push_back(0);
                rows.push_back(-1);
                for (LONG y : rows) {
                    std::vector<LONG> split(static_cast<std::size_t>(c.count) + 1, -1);
                    ASSERT_PV_OK(reader.Read(y, split.data()));
                    ASSERT_EQ(Joined(split, c.count), ExpectedRow(mosaic, tables, sites, c.x0, c.count, y))
                        << c.width << " x " << c.height << " in tiles of " << c.tileSize << ", columns from "
                        << c.x0 << ", row " << y << ", phases " << phases;
                    EXPECT_EQ(split.back(), -1) << "written past the row";
                }
                reader.End();
                EXPECT_EQ(manager.GetLockCount(), 0);
            }
        }
    }
}

TEST(MosaicRowReader, ASourceOfAnotherDepthOrWithoutPixelsIsRefused) {
    const Tables tables;
    CMosaicRowReader::Sites sites;
    sites.greenLut = sites.redLut = sites.blueLut = tables.green.data();
    CPravonMemoryManager manager(16);
    PravonImagePtr rgb = MakeImage(manager, TestPlane(20, 20, PravonColorSpace::kRGB16));
    CMosaicRowReader reader(DeBayerRows::Plain());
    EXPECT_PV_KIND(reader.Begin(rgb.get(), 0, 10, sites), PravonKind::kUnsupportedColorSpace);
    PravonImagePtr empty = MakeImage(manager, TestPlane(0, 20, PravonColorSpace::kRawMosaic16));
    EXPECT_PV_KIND(reader.Begin(empty.get(), 0, 10, sites), PravonKind::kOutOfRange);
    EXPECT_EQ(manager.GetLockCount(), 0);
}

} // namespace
