// The colour space filter: every conversion on small pictures worked out by hand, pass-through and cache use
// by the settings, refused formats, and what a change of the settings announces.
#include "filters/CPravonFilterColorSpace.h"
#include "platform/pravon/CPravonMemoryManager.h"
#include "platform/pravon/PravonGraph.h"
#include "testing/ImageCompare.h"
#include "testing/NotificationRecorder.h"
#include "testing/PravonTestSupport.h"
#include "testing/PullAll.h"
#include "testing/TileSizeSweep.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using namespace kvtest;
namespace Cs = PravonColorSpace;
using Filter = CPravonFilterColorSpace;

// Exposes what a test checks of the filter's state.
class CheckedColorSpace : public CPravonFilterColorSpace {
public:
    using CPravonFilterColorSpace::CPravonFilterColorSpace;
    using CPravonFilterColorSpace::DoColorSpaceFiltering;
};

using Pixels = std::vector<std::vector<ULONG>>;

TestPlane PlaneOf(LONG colorSpace, const Pixels& pixels) {
    TestPlane plane(static_cast<LONG>(pixels.size()), 1, colorSpace);
    for (std::size_t x = 0; x < pixels.size(); ++x)
        for (std::size_t c = 0; c < pixels[x].size(); ++c)
            plane.SetSample(static_cast<LONG>(x), 0, static_cast<LONG>(c), pixels[x][c]);
    return plane;
}

GraphBuilder ConvertedOf(const TestPlane& plane, Filter::eOutputColorSpace model,
                         Filter::eOutputBitDepth depth) {
    return [=](IPravonManager& manager, TestGraph& graph) -> IPravonError* {
        IPravonImage* source = graph.Own(MakeImage(manager, plane));
        auto* filter = graph.Own(new CPravonFilterColorSpace(&manager));
        if (IPravonError* e = PravonConnect(source, filter))
            return e;
        if (IPravonError* e = filter->SetOutputColorSpace(model, depth, false))
            return e;
        graph.output = filter;
        return nullptr;
    };
}

struct ConversionCase {
    LONG source;
    Pixels in;
    Filter::eOutputColorSpace model;
    Filter::eOutputBitDepth depth;
    LONG output;
    Pixels expected;
};

TEST(ColorSpaceFilter, EveryConversionGivesTheHandWorkedValues) {
    // Grey is (2R + 5G + B) / 8: (10, 20, 30) is 150 / 8 = 18; 8-bit values widen by 257 first, so
    // (2570, 5140, 7710) gives 38550 / 8 = 4818. (1000, 2000, 3001) gives 15001 / 8 = 1875, or 7 in 8 bits.
    const Pixels rgb8 = {{10, 20, 30}, {255, 255, 255}, {0, 0, 1}};
    const Pixels rgb16 = {{1000, 2000, 3001}, {65535, 65535, 65535}, {0, 0, 7}};
    const Pixels grey8 = {{200}, {255}, {0}};
    const Pixels grey16 = {{0x1234}, {0xFFFF}, {0x00FF}};
    const ConversionCase cases[] = {
        {Cs::kGrey8, grey8, Filter::kKeepColorSpace, Filter::k16Bit, Cs::kGrey16, {{51400}, {65535}, {0}}},
        {Cs::kGrey8,
         grey8,
         Filter::kThreeChannels,
         Filter::kKeepBitDepth,
         Cs::kRGB8,
         {{200, 200, 200}, {255, 255, 255}, {0, 0, 0}}},
        {Cs::kGrey8,
         grey8,
         Filter::kThreeChannels,
         Filter::k16Bit,
         Cs::kRGB16,
         {{51400, 51400, 51400}, {65535, 65535, 65535}, {0, 0, 0}}},
        {Cs::kGrey16, grey16, Filter::kKeepColorSpace, Filter::k8Bit, Cs::kGrey8, {{0x12}, {0xFF}, {0}}},
        {Cs::kGrey16,
         grey16,
         Filter::kThreeChannels,
         Filter::k8Bit,
         Cs::kRGB8,
         {{0x12, 0x12, 0x12}, {0xFF, 0xFF, 0xFF}, {0, 0, 0}}},
        {Cs::kGrey16,
         grey16,
         Filter::kThreeChannels,
         Filter::kKeepBitDepth,
         Cs::kRGB16,
         {{0x1234, 0x1234, 0x1234}, {0xFFFF, 0xFFFF, 0xFFFF}, {0xFF, 0xFF, 0xFF}}},
        {Cs::kRGB8, rgb8, Filter::kOneChannel, Filter::kKeepBitDepth, Cs::kGrey8, {{18}, {255}, {0}}},
        {Cs::kRGB8, rgb8, Filter::kOneChannel, Filter::k16Bit, Cs::kGrey16, {{4818}, {65535}, {32}}},
        {Cs::kRGB8,
         rgb8,
         Filter::kKeepColorSpace,
         Filter::k16Bit,
         Cs::kRGB16,
         {{2570, 5140, 7710}, {65535, 65535, 65535}, {0, 0, 257}}},
        {Cs::kRGB16, rgb16, Filter::kOneChannel, Filter::k8Bit, Cs::kGrey8, {{7}, {255}, {0}}},
        {Cs::kRGB16, rgb16, Filter::kOneChannel, Filter::kKeepBitDepth, Cs::kGrey16, {{1875}, {65535}, {0}}},
        {Cs::kRGB16,
         rgb16,
         Filter::kThreeChannels,
         Filter::k8Bit,
         Cs::kRGB8,
         {{3, 7, 11}, {255, 255, 255}, {0, 0, 0}}},
        // Settings that give the source's own code pass it through.
        {Cs::kRGB16, rgb16, Filter::kKeepColorSpace, Filter::k16Bit, Cs::kRGB16, rgb16},
        {Cs::kGrey8, grey8, Filter::kOneChannel, Filter::k8Bit, Cs::kGrey8, grey8},
        {Cs::kRGB8, rgb8, Filter::kKeepColorSpace, Filter::kKeepBitDepth, Cs::kRGB8, rgb8},
    };
    for (const ConversionCase& c : cases) {
        SCOPED_TRACE(testing::Message() << std::hex << c.source << " to " << c.output);
        TestPlane out;
        ASSERT_TRUE(SameAtEveryTileSize(ConvertedOf(PlaneOf(c.source, c.in), c.model, c.depth), &out));
        EXPECT_EQ(out.colorSpace, c.output);
        EXPECT_TRUE(PlanesMatch(PlaneOf(c.output, c.expected), out));
    }
}

TEST(ColorSpaceFilter, ABigPictureIsTheSameAtEveryTileSizeAndGreyIsTheWeightedSum) {
    const TestPlane plane = MakePlane(45, 33, Cs::kRGB16, FillPattern::Random, 11);
    TestPlane out;
    ASSERT_TRUE(SameAtEveryTileSize(ConvertedOf(plane, Filter::kOneChannel, Filter::k8Bit), &out));
    for (LONG y = 0; y < plane.height; ++y)
        for (LONG x = 0; x < plane.width; ++x) {
            const ULONG sum = 2 * plane.Sample(x, y, 0) + 5 * plane.Sample(x, y, 1) + plane.Sample(x, y, 2);
            ASSERT_EQ(out.Sample(x, y, 0), sum / 8 / 256) << x << ", " << y;
        }
}

TEST(ColorSpaceFilter, OutputCodesFollowTheSettingsAndTheSource) {
    struct Case {
        Filter::eOutputColorSpace model;
        Filter::eOutputBitDepth depth;
        LONG source;
        LONG output;
    };
    const Case cases[] = {
        {Filter::kKeepColorSpace, Filter::kKeepBitDepth, Cs::kRGB16, Cs::kRGB16},
        {Filter::kKeepColorSpace, Filter::k8Bit, Cs::kGrey16, Cs::kGrey8},
        {Filter::kOneChannel, Filter::kKeepBitDepth, Cs::kRGB16, Cs::kGrey16},
        {Filter::kThreeChannels, Filter::k8Bit, Cs::kCMYK8, Cs::kRGB8},
        // Nothing is known of another model to keep.
        {Filter::kKeepColorSpace, Filter::k8Bit, Cs::kCMYK8, 0},
        {Filter::kOneChannel, Filter::kKeepBitDepth, Cs::kLab16, 0},
    };
    CPravonMemoryManager manager(16);
    for (const Case& c : cases) {
        CheckedColorSpace filter(&manager);
        ASSERT_PV_OK(filter.SetOutputColorSpace(c.model, c.depth, false));
        EXPECT_EQ(filter.DoColorSpaceFiltering(c.source), c.output) << std::hex << c.source;
        EXPECT_EQ(filter.GetOutputColorSpace(), c.model);
        EXPECT_EQ(filter.GetOutputBitDepth(), c.depth);
    }
    CheckedColorSpace filter(&manager);
    EXPECT_PV_KIND(
        filter.SetOutputColorSpace(static_cast<Filter::eOutputColorSpace>(3), Filter::k8Bit, false),
        PravonKind::kOutOfRange);
    EXPECT_PV_KIND(
        filter.SetOutputColorSpace(Filter::kOneChannel, static_cast<Filter::eOutputBitDepth>(-1), false),
        PravonKind::kOutOfRange);
    EXPECT_EQ(filter.GetOutputColorSpace(), Filter::kKeepColorSpace);
}

TEST(ColorSpaceFilter, PassThroughAndCacheUseFollowTheSettings) {
    struct Case {
        Filter::eOutputColorSpace model;
        Filter::eOutputBitDepth depth;
        LONG source;
        bool passThrough;
        LONG cacheUsage;
    };
    const Case cases[] = {
        {Filter::kKeepColorSpace, Filter::kKeepBitDepth, Cs::kRGB8, true, 1},
        {Filter::kKeepColorSpace, Filter::k16Bit, Cs::kRGB16, true, 0},
        {Filter::kKeepColorSpace, Filter::k16Bit, Cs::kRGB8, false, 0},
        {Filter::kOneChannel, Filter::kKeepBitDepth, Cs::kRGB16, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.model << ", " << c.depth << " on " << std::hex << c.source);
        CPravonMemoryManager manager(16);
        const PravonImagePtr source(MakeImage(manager, MakePlane(20, 10, c.source, FillPattern::Random, 4)));
        CheckedColorSpace filter(&manager);
        ASSERT_PV_OK(filter.SetOutputColorSpace(c.model, c.depth, false));
        ASSERT_PV_OK(PravonConnect(source.get(), &filter));
        LONG code = 0;
        ASSERT_PV_OK(filter.GetColorSpace(&code)); // the source is examined on the first request
        EXPECT_EQ(filter.IsPassThrough(), c.passThrough);
        EXPECT_EQ(filter.GetCacheUsage(), c.cacheUsage);
        ASSERT_PV_OK(PravonDisconnect(source.get(), &filter));
    }
}

TEST(ColorSpaceFilter, OtherSourceModelsFailTheirTiles) {
    CPravonMemoryManager manager(16);
    const PravonImagePtr source(MakeImage(manager, MakePlane(20, 10, Cs::kCMYK8, FillPattern::Random, 4)));
    CheckedColorSpace filter(&manager);
    ASSERT_PV_OK(filter.SetOutputColorSpace(Filter::kThreeChannels, Filter::k8Bit, false));
    ASSERT_PV_OK(PravonConnect(source.get(), &filter));
    LONG code = 0;
    ASSERT_PV_OK(filter.GetColorSpace(&code));
    EXPECT_EQ(code, Cs::kRGB8);
    EXPECT_FALSE(filter.IsPassThrough()) << "a source of another model is never passed through";
    TestPlane out;
    for (int attempt = 0; attempt < 2; ++attempt) {
        const PravonErrorPtr e(PullAll(&filter, &out));
        ASSERT_NE(e, nullptr);
        EXPECT_TRUE(e->HasText("Bad source data color space")) << e->Describe();
        EXPECT_EQ(e->GetKind(), PravonKind::kUnsupportedColorSpace);
    }
    ASSERT_PV_OK(PravonDisconnect(source.get(), &filter));
}

TEST(ColorSpaceFilter, AChangeOfTheSettingsAnnouncesTheOutputCodesBeforeAndAfter) {
    CPravonMemoryManager manager(16);
    const PravonImagePtr source(MakeImage(manager, MakePlane(20, 10, Cs::kRGB8, FillPattern::Random, 4)));
    CheckedColorSpace filter(&manager);
    NotificationRecorder recorder;
    ASSERT_PV_OK(PravonConnect(source.get(), &filter));
    ASSERT_PV_OK(PravonConnect(&filter, &recorder));
    struct Step {
        Filter::eOutputColorSpace model;
        Filter::eOutputBitDepth depth;
        LONG before, after; // 0: nothing announced
    };
    const Step steps[] = {
        {Filter::kOneChannel, Filter::kKeepBitDepth, Cs::kRGB8, Cs::kGrey8},
        {Filter::kOneChannel, Filter::kKeepBitDepth, 0, 0},
        {Filter::kOneChannel, Filter::k16Bit, Cs::kGrey8, Cs::kGrey16},
        {Filter::kKeepColorSpace, Filter::kKeepBitDepth, Cs::kGrey16, Cs::kRGB8},
    };
    for (const Step& s : steps) {
        recorder.Clear();
        ASSERT_PV_OK(filter.SetOutputColorSpace(s.model, s.depth, true));
        if (!s.before) {
            EXPECT_TRUE(recorder.heard.empty());
            continue;
        }
        ASSERT_EQ(recorder.heard.size(), 1u);
        ASSERT_EQ(recorder.heard[0].type, PravonNotification::kColorSpace);
        const auto& change = recorder.heard[0].colorSpace;
        ASSERT_TRUE(change.has_value());
        EXPECT_EQ(change->oldColorSpace, s.before);
        EXPECT_EQ(change->newColorSpace, s.after);
    }
    ASSERT_PV_OK(PravonDisconnect(&filter, &recorder));
    ASSERT_PV_OK(PravonDisconnect(source.get(), &filter));
}

} // namespace
