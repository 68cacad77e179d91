#include "rawlib/filters/tests/DeBayerTestSupport.h"

#include "testing/NotificationRecorder.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

namespace {

using namespace kvtest;

std::uint64_t Fnv1a(const std::vector<std::uint32_t>& values) {
    std::uint64_t h = 0xcbf29ce484222325ull;
    for (std::uint32_t v : values) {
        h ^= v;
        h *= 0x100000001b3ull;
    }
    return h;
}

TEST(DeBayerTables, SquareRootTableHoldsItsDefiningValues) {
    const LONG* sqrtTable = GetSqrtTable();
    EXPECT_EQ(sqrtTable[0], 0);
    EXPECT_EQ(sqrtTable[1], 4096);
    EXPECT_EQ(sqrtTable[2], 5793);
    EXPECT_EQ(sqrtTable[4094], 262110);
    EXPECT_EQ(sqrtTable[4095], 262143);
    std::vector<std::uint32_t> all(sqrtTable, sqrtTable + 4096);
    std::uint64_t sum = 0;
    for (auto v : all)
        sum += v;
    // Sum and hash of trunc(sqrt(i / 4095) x 262143), computed apart from this code.
    EXPECT_EQ(sum, 715778577u);
    EXPECT_EQ(Fnv1a(all), 0x8ac05ac7aca77684ull);
    EXPECT_EQ(GetSqrtTable(), sqrtTable) << "one table per process";
}

TEST(DeBayerTables, SquareTableHoldsItsDefiningValues) {
    const WORD* square = GetSquareTable();
    EXPECT_EQ(square[0], 0);
    EXPECT_EQ(square[255], 1);
    EXPECT_EQ(square[256], 1);
    EXPECT_EQ(square[32768], 16384);
    EXPECT_EQ(square[65535], 65535);
    std::vector<std::uint32_t> all(square, square + 65536);
    std::uint64_t sum = 0;
    for (auto v : all)
        sum += v;
    EXPECT_EQ(sum, 1431644770u);
    EXPECT_EQ(Fnv1a(all), 0x7c69aca024a0b615ull);
}

// The white-balance curves the development pipeline hands over: 12-bit in and out.
std::vector<WORD> GainCurve(double gain) {
    std::vector<WORD> curve(4096);
    for (int i = 0; i < 4096; ++i)
        curve[i] = static_cast<WORD>(std::min(static_cast<int>(i * gain), 4095));
    return curve;
}

TEST(DeBayerCurves, TwelveBitCurvesMapEachSampleToTheRootOfItsCurveValue) {
    CPravonMemoryManager manager;
    CDeBayerSingleFilter filter(&manager);
    const auto red = GainCurve(1.9);
    const auto green = GainCurve(1.0);
    const auto blue = GainCurve(1.45);
    ASSERT_PV_OK(filter.SetParameters(12, 12, red.data(), green.data(), blue.data(), false));
    ASSERT_PV_OK(filter.BuildChannelLuts());
    const LONG* sqrtTable = GetSqrtTable();
    for (int j = 0; j < 4096; ++j) {
        ASSERT_EQ(filter.GetChannelLut(CDeBayerBase::kRed)[j], sqrtTable[red[j]]) << j;
        ASSERT_EQ(filter.GetChannelLut(CDeBayerBase::kGreen)[j], sqrtTable[j]) << j;
        ASSERT_EQ(filter.GetChannelLut(CDeBayerBase::kBlue)[j], sqrtTable[blue[j]]) << j;
    }
    EXPECT_NE(filter.GetChannelLut(CDeBayerBase::kGreen), sqrtTable) << "a given curve gets its own table";
}

TEST(DeBayerCurves, CurvesOfOtherSizesAreInterpolatedOnBothAxes) {
    CPravonMemoryManager manager;
    CDeBayerSingleFilter filter(&manager);
    // 256 entries of 16-bit values: a gamma-like curve.
    std::vector<WORD> curve(256);
    for (int i = 0; i < 256; ++i)
        curve[i] = static_cast<WORD>(std::lround(std::pow(i / 255.0, 1.8) * 65535));
    ASSERT_PV_OK(filter.SetParameters(8, 16, curve.data(), curve.data(), curve.data(), false));
    ASSERT_PV_OK(filter.BuildChannelLuts());
    const LONG* lut = filter.GetChannelLut(CDeBayerBase::kRed);
    for (int j = 0; j < 4096; ++j) {
        const double d = 255.0 * j / 4095.0;
        const int i = static_cast<int>(d);
        const double f = i < 255 ? curve[i] + (curve[i + 1] - curve[i]) * (d - i) : curve[255];
        const double expected = std::sqrt(f / 65535.0) * 262143.0;
        // Straight lines between table entries sit below the root curve, most where it is steepest.
        const double tolerance = expected < 8192 ? 2100 : 40;
        ASSERT_NEAR(lut[j], expected, tolerance) << j;
        if (j > 0) {
            ASSERT_GE(lut[j], lut[j - 1]) << j;
        }
    }
    EXPECT_EQ(lut[4095], 262143);
}

TEST(DeBayerCurves, CurveValuesBeyondTheirRangeStayInsideTheRootTable) {
    CPravonMemoryManager manager;
    CDeBayerSingleFilter filter(&manager);
    std::vector<WORD> wild(4096, 65535); // stated range 0..255
    ASSERT_PV_OK(filter.SetParameters(12, 8, wild.data(), nullptr, nullptr, false));
    ASSERT_PV_OK(filter.BuildChannelLuts());
    for (int j = 0; j < 4096; ++j)
        ASSERT_EQ(filter.GetChannelLut(CDeBayerBase::kRed)[j], 262143) << j;
}

TEST(DeBayerCurves, CurvesWithAShiftOfZeroAreRefusedAndChangeNothing) {
    CPravonMemoryManager manager;
    CDeBayerSingleFilter filter(&manager);
    const auto curve = GainCurve(1.0);
    ASSERT_PV_OK(filter.SetParameters(12, 12, curve.data(), nullptr, nullptr, false));
    EXPECT_PV_KIND(filter.SetParameters(0, 12, curve.data(), curve.data(), curve.data(), false),
                   PravonKind::kOutOfRange);
    EXPECT_PV_KIND(filter.SetParameters(12, 0, nullptr, curve.data(), nullptr, false),
                   PravonKind::kOutOfRange);
    EXPECT_PV_KIND(filter.SetParameters(0, 0, curve.data(), nullptr, nullptr, false),
                   PravonKind::kOutOfRange);
    EXPECT_PV_KIND(filter.SetParameters(17, 12, curve.data(), nullptr, nullptr, false),
                   PravonKind::kOutOfRange);
    EXPECT_PV_KIND(filter.SetParameters(12, -1, nullptr, nullptr, nullptr, false), PravonKind::kOutOfRange);
    EXPECT_EQ(filter.GetInputShift(), 12);
    EXPECT_EQ(filter.GetOutputShift(), 12);
    EXPECT_TRUE(filter.HasCurve(CDeBayerBase::kRed));
    EXPECT_FALSE(filter.HasCurve(CDeBayerBase::kGreen));
}

TEST(DeBayerCurves, WithoutCurvesEveryChannelReturnsToTheSharedTable) {
    CPravonMemoryManager manager;
    CDeBayerSingleFilter filter(&manager);
    const auto curve = GainCurve(2.0);
    ASSERT_PV_OK(filter.SetParameters(12, 12, curve.data(), curve.data(), curve.data(), false));
    ASSERT_PV_OK(filter.BuildChannelLuts());
    ASSERT_PV_OK(filter.SetParameters(9, 5, nullptr, nullptr, nullptr, false));
    EXPECT_EQ(filter.GetInputShift(), 0);
    EXPECT_EQ(filter.GetOutputShift(), 0);
    EXPECT_NE(filter.GetChannelLut(CDeBayerBase::kRed), GetSqrtTable()) << "until the next tile";
    ASSERT_PV_OK(filter.BuildChannelLuts());
    for (auto channel : {CDeBayerBase::kRed, CDeBayerBase::kGreen, CDeBayerBase::kBlue}) {
        EXPECT_EQ(filter.GetChannelLut(channel), GetSqrtTable());
        EXPECT_EQ(filter.GetLutState(channel), CDeBayerBase::kLutShared);
    }
}

TEST(DeBayerCurves, ANewCurveOfTheSameSizeRebuildsOnlyItsChannel) {
    CPravonMemoryManager manager;
    CDeBayerSingleFilter filter(&manager);
    const auto one = GainCurve(1.0);
    const auto two = GainCurve(2.0);
    ASSERT_PV_OK(filter.SetParameters(12, 12, one.data(), one.data(), nullptr, false));
    ASSERT_PV_OK(filter.BuildChannelLuts());
    const LONG* redTable = filter.GetChannelLut(CDeBayerBase::kRed);
    ASSERT_PV_OK(filter.SetParameters(12, 12, two.data(), one.data(), nullptr, false));
    EXPECT_EQ(filter.GetLutState(CDeBayerBase::kRed), CDeBayerBase::kLutStale);
    ASSERT_PV_OK(filter.BuildChannelLuts());
    EXPECT_EQ(filter.GetChannelLut(CDeBayerBase::kRed), redTable) << "the channel's table is reused";
    EXPECT_EQ(filter.GetChannelLut(CDeBayerBase::kRed)[1000], GetSqrtTable()[2000]);
    EXPECT_EQ(filter.GetChannelLut(CDeBayerBase::kBlue), GetSqrtTable());
}

// Output geometry.

struct Connected {
    Connected(LONG width, LONG height)
        : source(MakeImage(manager, FlatMosaic(width, height, 1000))), filter(&manager) {
        EXPECT_PV_OK(PravonConnect(source.get(), &filter));
        EXPECT_PV_OK(PravonConnect(&filter, &recorder));
    }
    std::pair<LONG, LONG> Size() {
        LONG w = -1;
        LONG h = -1;
        EXPECT_PV_OK(filter.GetWidth(&w));
        EXPECT_PV_OK(filter.GetHeight(&h));
        return {w, h};
    }
    CPravonMemoryManager manager;
    PravonImagePtr source;
    CDeBayerSingleFilter filter;
    NotificationRecorder recorder;
};

TEST(DeBayerGeometry, TheFrameOfSixPixelsIsConsumedOnEverySide) {
    Connected c(100, 80);
    EXPECT_EQ(c.Size(), std::make_pair(88, 68));
    ASSERT_PV_OK(c.filter.SetNonSquareMode(true, nullptr, false));
    EXPECT_EQ(c.Size(), std::make_pair(66, 102));
}

TEST(DeBayerGeometry, SourcesInsideTheFrameGiveAnEmptyOutput) {
    for (auto [w, h] : {std::pair{12, 12}, std::pair{5, 40}, std::pair{40, 3}, std::pair{11, 11}}) {
        Connected c(w, h);
        const auto [ow, oh] = c.Size();
        EXPECT_TRUE(ow == 0 || oh == 0) << w << " x " << h;
        EXPECT_GE(ow, 0);
        EXPECT_GE(oh, 0);
        ASSERT_PV_OK(c.filter.SetNonSquareMode(true, nullptr, false));
        const auto [nw, nh] = c.Size();
        EXPECT_GE(nw, 0);
        EXPECT_GE(nh, 0);
        ASSERT_PV_OK(c.filter.SetCropRect(CPravonRect(0, 0, 5, 5), nullptr, false));
        EXPECT_GE(c.filter.GetCropRect().left, 0);
        EXPECT_GE(c.filter.GetCropRect().Width(), 0);
        TestPlane out;
        EXPECT_PV_OK(PullAll(&c.filter, &out));
    }
}

TEST(DeBayerGeometry, AnEmptyCropSelectsTheWholeOutputAndALargeOneIsFittedInside) {
    Connected c(100, 80);
    ASSERT_PV_OK(c.filter.SetCropRect(CPravonRect(0, 0, 0, 0), nullptr, false));
    EXPECT_EQ(c.filter.GetCropRect(), CPravonRect(0, 0, 88, 68));
    ASSERT_PV_OK(c.filter.SetCropRect(CPravonRect(50, -20, 250, 30), nullptr, false));
    EXPECT_EQ(c.filter.GetCropRect(), CPravonRect(0, 0, 88, 50)) << "shrunk to the output, then moved in";
    ASSERT_PV_OK(c.filter.SetCropRect(CPravonRect(70, 60, 100, 70), nullptr, false));
    EXPECT_EQ(c.filter.GetCropRect(), CPravonRect(58, 58, 88, 68));
    EXPECT_EQ(c.Size(), std::make_pair(30, 10));
}

TEST(DeBayerGeometry, ACropNeedsAnExtentOrASource) {
    CPravonMemoryManager manager;
    CDeBayerSingleFilter filter(&manager);
    EXPECT_PV_KIND(filter.SetCropRect(CPravonRect(0, 0, 10, 10), nullptr, false), PravonKind::kNoSource);
    const CPravonRect extent(0, 0, 40, 30);
    ASSERT_PV_OK(filter.SetCropRect(CPravonRect(0, 0, 500, 500), &extent, false));
    EXPECT_EQ(filter.GetCropRect(), CPravonRect(0, 0, 28, 18));
    ASSERT_PV_OK(filter.SetNonSquareMode(true, nullptr, false));
    EXPECT_EQ(filter.GetCropRect(), CPravonRect()) << "reset to the whole output, whatever it will be";
}

TEST(DeBayerGeometry, PointsMapThroughFrameScaleAndCropAndBack) {
    Connected c(100, 80);
    ASSERT_PV_OK(c.filter.SetNonSquareMode(true, nullptr, false));
    ASSERT_PV_OK(c.filter.SetCropRect(CPravonRect(9, 12, 60, 90), nullptr, false));
    double x = 26;
    double y = 16;
    ASSERT_PV_OK(c.filter.FilterPoint(&x, &y, nullptr, 0));
    EXPECT_DOUBLE_EQ(x, 0.75 * 20 - 9);
    EXPECT_DOUBLE_EQ(y, 1.5 * 10 - 12);
    ASSERT_PV_OK(c.filter.DefilterPoint(&x, &y, nullptr, 0));
    EXPECT_DOUBLE_EQ(x, 26);
    EXPECT_DOUBLE_EQ(y, 16);

    LONG lx = 27;
    LONG ly = 17;
    ASSERT_PV_OK(c.filter.FilterPoint(&lx, &ly, nullptr, 0));
    EXPECT_EQ(lx, 15 - 9) << "trunc(0.75 x 21) - 9";
    EXPECT_EQ(ly, 16 - 12) << "trunc(1.5 x 11) - 12";
    ASSERT_PV_OK(c.filter.DefilterPoint(&lx, &ly, nullptr, 0));
    EXPECT_EQ(lx, 20 + 6) << "trunc(15 / 0.75) + 6";
    EXPECT_EQ(ly, 10 + 6) << "trunc(16 / 1.5) + 6";

    PravonRect r{6, 6, 106, 86};
    ASSERT_PV_OK(c.filter.FilterRect(&r, nullptr, 0));
    EXPECT_EQ(r, CPravonRect(-9, -12, 66, 108));

    ASSERT_PV_OK(c.filter.Enable(false, false));
    x = 26;
    ASSERT_PV_OK(c.filter.FilterPoint(&x, &y, nullptr, 0));
    EXPECT_DOUBLE_EQ(x, 26) << "a disabled filter maps nothing";
}

// Coordinates at the ends of the 32-bit range map to the ends of the range instead of wrapping; under the
// sanitizers an overflow on the way fails the test.
TEST(DeBayerGeometry, ExtremeCoordinatesAndChangesSaturateInsteadOfOverflowing) {
    constexpr LONG kMin = std::numeric_limits<LONG>::min();
    constexpr LONG kMax = std::numeric_limits<LONG>::max();
    struct Case {
        bool nonSquare;
        LONG x, y;
        LONG outX, outY;   // FilterPoint
        LONG backX, backY; // DefilterPoint
    };
    // The crop (9, 12, 60, 90) fits in as (9, 0) on square pixels and (9, 12) on non-square ones. Forward
    // trunc(scale x (v - 6)) - crop, back trunc((v + crop) / scale) + 6, each step held in range.
    const Case kCases[] = {
        {false, kMin, kMin, kMin, kMin, kMin + 9 + 6, kMin + 6},
        {false, kMax, kMax, kMax - 6 - 9, kMax - 6, kMax, kMax},
        {true, kMin, kMin, -1610612740 - 9, kMin, kMin + 6, -1431655757 + 6},
        {true, kMax, kMax, 1610612730 - 9, kMax - 12, kMax, 1431655772 + 6},
        {true, 27, 17, 15 - 9, 16 - 12, 48 + 6, 19 + 6},
    };
    for (const Case& c : kCases) {
        Connected d(100, 80);
        ASSERT_PV_OK(d.filter.SetNonSquareMode(c.nonSquare, nullptr, false));
        ASSERT_PV_OK(d.filter.SetCropRect(CPravonRect(9, 12, 60, 90), nullptr, false));
        LONG x = c.x, y = c.y;
        ASSERT_PV_OK(d.filter.FilterPoint(&x, &y, nullptr, 0));
        EXPECT_EQ(x, c.outX) << c.x;
        EXPECT_EQ(y, c.outY) << c.y;
        x = c.x;
        y = c.y;
        ASSERT_PV_OK(d.filter.DefilterPoint(&x, &y, nullptr, 0));
        EXPECT_EQ(x, c.backX) << c.x;
        EXPECT_EQ(y, c.backY) << c.y;

        // A change over the whole 32-bit plane widens to the whole output, not to a wrapped rectangle.
        PravonRect everything{kMin, kMin, kMax, kMax};
        d.recorder.Clear();
        ASSERT_PV_OK(PravonSendDataNotification(d.source.get(), PravonNotification::kData, &everything));
        ASSERT_EQ(d.recorder.Count(PravonNotification::kData), 1u);
        const PravonRect heard = *d.recorder.heard.back().rect;
        const auto [w, h] = d.Size();
        EXPECT_TRUE(heard.left <= 0 && heard.top <= 0 && heard.right >= w && heard.bottom >= h)
            << heard.left << ", " << heard.top << ", " << heard.right << ", " << heard.bottom;
    }
}

TEST(DeBayerGeometry, ASizeChangeOfTheSourceIsAnnouncedAsTheOutputsChange) {
    Connected c(100, 80);
    ASSERT_PV_OK(c.filter.SetCropRect(CPravonRect(0, 0, 50, 50), nullptr, false));
    IPravonDataDestination::ChangeSize change{100, 80, 200, 30};
    ASSERT_PV_OK(PravonSendDataNotification(c.source.get(), PravonNotification::kSize, &change));
    ASSERT_EQ(c.recorder.Count(PravonNotification::kSize), 1u);
    const auto heard = *c.recorder.heard.back().size;
    EXPECT_EQ(heard.oldWidth, 50);
    EXPECT_EQ(heard.oldHeight, 50);
    EXPECT_EQ(heard.newWidth, 50);
    EXPECT_EQ(heard.newHeight, 18);
}

// Keeps a copy of the colour-space records it hears: they live only during the call.
struct ColorSpaceListener : IPravonDataDestination {
    IPravonError* PravonNotify(IPravonDataSource*, LONG type, void* data) override {
        if (type == PravonNotification::kColorSpace)
            heard.push_back(*static_cast<ChangeColorSpace*>(data));
        return nullptr;
    }
    std::vector<ChangeColorSpace> heard;
};

TEST(DeBayerGeometry, TheMosaicColourSpaceIsAnnouncedAsRgb) {
    Connected c(100, 80);
    ColorSpaceListener listener;
    ASSERT_PV_OK(PravonConnect(&c.filter, &listener));
    IPravonDataDestination::ChangeColorSpace space{PravonColorSpace::kRawMosaic16, PravonColorSpace::kGrey16};
    ASSERT_PV_OK(PravonSendDataNotification(c.source.get(), PravonNotification::kColorSpace, &space));
    ASSERT_EQ(listener.heard.size(), 1u);
    EXPECT_EQ(listener.heard[0].oldColorSpace, PravonColorSpace::kRGB16);
    EXPECT_EQ(listener.heard[0].newColorSpace, PravonColorSpace::kGrey16);
}

TEST(DeBayerGeometry, CropAndModeChangesAnnounceTheOldAndNewSize) {
    Connected c(100, 80);
    ASSERT_PV_OK(c.filter.SetCropRect(CPravonRect(10, 10, 40, 30), nullptr, true));
    ASSERT_EQ(c.recorder.Count(PravonNotification::kSize), 1u);
    auto heard = *c.recorder.heard.back().size;
    EXPECT_EQ(heard.oldWidth, 88);
    EXPECT_EQ(heard.oldHeight, 68);
    EXPECT_EQ(heard.newWidth, 30);
    EXPECT_EQ(heard.newHeight, 20);

    ASSERT_PV_OK(c.filter.SetCropRect(CPravonRect(10, 10, 40, 30), nullptr, true));
    EXPECT_EQ(c.recorder.Count(PravonNotification::kSize), 1u) << "the same crop changes nothing";

    ASSERT_PV_OK(c.filter.SetNonSquareMode(true, nullptr, true));
    ASSERT_EQ(c.recorder.Count(PravonNotification::kSize), 2u);
    heard = *c.recorder.heard.back().size;
    EXPECT_EQ(heard.oldWidth, 30);
    EXPECT_EQ(heard.oldHeight, 20);
    EXPECT_EQ(heard.newWidth, 66);
    EXPECT_EQ(heard.newHeight, 102);
    EXPECT_EQ(c.filter.GetCropRect(), CPravonRect(0, 0, 66, 102));
    ASSERT_PV_OK(c.filter.SetNonSquareMode(true, nullptr, true));
    EXPECT_EQ(c.recorder.Count(PravonNotification::kSize), 2u);
}

TEST(DeBayerGeometry, AMosaicOfAnotherColourSpaceIsRefused) {
    CPravonMemoryManager manager;
    auto source = MakeImage(manager, MakePlane(40, 40, PravonColorSpace::kGrey16, FillPattern::Constant, 9));
    CDeBayerSingleFilter filter(&manager);
    ASSERT_PV_OK(PravonConnect(source.get(), &filter));
    LONG colorSpace = 0;
    PravonErrorPtr err(filter.GetColorSpace(&colorSpace));
    ASSERT_TRUE(err);
    EXPECT_TRUE(err->HasText("Bad source data color space"));
    EXPECT_EQ(err->GetComponent(), CDeBayerBase::kComponent);
}

// The colour-filter descriptor.

TEST(DeBayerPattern, TheFourBayerLayoutsAreAcceptedWithTheirPhases) {
    CPravonMemoryManager manager;
    for (const auto& layout : BayerLayouts()) {
        CDeBayerSingleFilter filter(&manager);
        ASSERT_PV_OK(filter.SetCFAPattern(layout.descriptor.data(), 8, false)) << layout.name;
        EXPECT_EQ(filter.GetGreenPhase(), layout.greenPhase) << layout.name;
        EXPECT_EQ(filter.GetRedRowPhase(), layout.redRowPhase) << layout.name;
    }
}

TEST(DeBayerPattern, OtherLayoutsAreRefusedAndKeptWithTheLastPhases) {
    CPravonMemoryManager manager;
    CDeBayerSingleFilter filter(&manager);
    ASSERT_PV_OK(filter.SetCFAPattern(BayerLayouts()[2].descriptor.data(), 8, false));
    const std::vector<std::vector<BYTE>> refused = {
        {0, 3, 0, 2, 0, 1, 2, 1, 0, 2}, // 3 x 2
        CfaDescriptor(1, 1, 0, 2),      // green on both cells of a row
        CfaDescriptor(0, 1, 1, 0),      // red twice, no blue
        CfaDescriptor(1, 3, 4, 1),      // not red and blue
        {2, 0, 2, 0, 0, 1, 1, 2},       // counts stored in the other byte order
    };
    for (const auto& descriptor : refused) {
        EXPECT_PV_KIND(filter.SetCFAPattern(descriptor.data(), static_cast<ULONG>(descriptor.size()), false),
                       PravonKind::kInvalidState);
        EXPECT_EQ(filter.GetCFAPattern(), descriptor) << "the descriptor is kept";
        EXPECT_EQ(filter.GetGreenPhase(), 1);
        EXPECT_EQ(filter.GetRedRowPhase(), 0);
    }
}

TEST(DeBayerPattern, ShortDescriptorsAreRefusedWithoutReadingPastThem) {
    CPravonMemoryManager manager;
    const std::vector<BYTE> full = CfaDescriptor(0, 1, 1, 2);
    for (std::size_t length = 0; length < full.size(); ++length) {
        CDeBayerSingleFilter filter(&manager);
        ASSERT_PV_OK(filter.SetCFAPattern(BayerLayouts()[3].descriptor.data(), 8, false));
        // A heap block of exactly that length, so that a read past it is reported.
        std::unique_ptr<BYTE[]> bytes(new BYTE[length + (length == 0)]);
        std::copy(full.begin(), full.begin() + static_cast<std::ptrdiff_t>(length), bytes.get());
        EXPECT_PV_KIND(filter.SetCFAPattern(bytes.get(), static_cast<ULONG>(length), false),
                       PravonKind::kInvalidState)
            << length;
    }
}

TEST(DeBayerPattern, ALongerDescriptorIsReadForItsFirstCells) {
    CPravonMemoryManager manager;
    CDeBayerSingleFilter filter(&manager);
    std::vector<BYTE> padded = BayerLayouts()[1].descriptor;
    padded.insert(padded.end(), {0, 0});
    ASSERT_PV_OK(filter.SetCFAPattern(padded.data(), static_cast<ULONG>(padded.size()), false));
    EXPECT_EQ(filter.GetGreenPhase(), 1);
    EXPECT_EQ(filter.GetRedRowPhase(), 1);
}

TEST(DeBayerPattern, TheSameDescriptorTwiceChangesNothingTheSecondTime) {
    Connected c(40, 40);
    const auto& rggb = BayerLayouts()[0].descriptor;
    ASSERT_PV_OK(c.filter.SetCFAPattern(rggb.data(), 8, true));
    ASSERT_EQ(c.recorder.Count(PravonNotification::kData), 1u);
    EXPECT_EQ(*c.recorder.heard.back().rect, CPravonRect(0, 0, 28, 28));
    ASSERT_PV_OK(c.filter.SetCFAPattern(rggb.data(), 8, true));
    EXPECT_EQ(c.recorder.Count(PravonNotification::kData), 1u);
    const auto& bggr = BayerLayouts()[3].descriptor;
    ASSERT_PV_OK(c.filter.SetCFAPattern(bggr.data(), 8, false));
    EXPECT_EQ(c.recorder.Count(PravonNotification::kData), 1u) << "without notify nothing is sent";
}

} // namespace
