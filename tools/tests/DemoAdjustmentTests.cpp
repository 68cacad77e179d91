// The demo host's adjustments: each one changes the developed picture and keeps it the same at every tile
// size, the vignette correction raises the corners, levels out of range are refused, the vignette stage is
// set from the picture's lens tags as the development pipeline sets it, and the chain without the Lab
// conversion is its stages in the pipeline's order with the settings' values.
#include "platform/pravon/PravonGraph.h"
#include "rawlib/filters/detail/CFltFineEdge.h"
#include "rawlib/filters/detail/CFltMoire.h"
#include "rawlib/filters/detail/CFltVignette.h"
#include "testing/ImageCompare.h"
#include "testing/PravonTestSupport.h"
#include "testing/PullAll.h"
#include "testing/TempFolder.h"
#include "testing/TileSizeSweep.h"
#include "tools/CKvDemoAdjustments.h"
#include "tools/CKvDemoHost.h"
#include "tools/CKvSampleMaker.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

using namespace kvtest;
using Settings = CKvDemoAdjustments::Settings;

// Every case develops a small sample of the synthetic scene, made afresh in a folder of its own.
class DemoAdjustments : public ::testing::Test {
protected:
    DemoAdjustments() {
        options.width = 200;
        options.height = 140;
        options.samplePath = folder.File("adjusted.kvraw");
    }
    void SetUp() override { ASSERT_PV_OK(CKvSampleMaker::Make(options)); }

    TempFolder folder;
    CKvSampleMaker::Options options;
};

TestPlane Develop(const std::string& sample, const Settings& settings, LONG tileSize) {
    CKvDemoHost host(tileSize);
    host.SetAdjustments(settings);
    TestPlane out;
    EXPECT_PV_OK(host.Open(sample));
    EXPECT_PV_OK(host.BuildGraph());
    if (host.GetOutput()) {
        EXPECT_PV_OK(PullAll(host.GetOutput(), &out, PullOrder::RandomOrder, 3));
    }
    return out;
}

Settings With(LONG noise, LONG moire, bool fineEdge, SHORT vignette) {
    Settings s;
    s.noiseLevel = noise;
    s.moireLevel = moire;
    s.fineEdge = fineEdge;
    s.vignetteAmount = vignette;
    return s;
}

TEST_F(DemoAdjustments, EachAdjustmentChangesThePictureAndKeepsItAtEveryTileSize) {
    const TestPlane plain = Develop(options.samplePath, Settings{}, 64);
    const Settings cases[] = {With(6, 0, false, 0), With(10, 0, false, 0), With(0, 3, false, 0),
                              With(0, 0, true, 0),  With(0, 0, false, 80), With(9, 2, true, 100)};
    for (const Settings& s : cases) {
        SCOPED_TRACE(testing::Message() << "noise " << s.noiseLevel << ", moire " << s.moireLevel
                                        << ", fine edge " << s.fineEdge << ", vignette " << s.vignetteAmount);
        const TestPlane small = Develop(options.samplePath, s, 16);
        const TestPlane large = Develop(options.samplePath, s, 64);
        EXPECT_TRUE(PlanesMatch(small, large));
        EXPECT_EQ(large.width, plain.width);
        EXPECT_EQ(large.height, plain.height);
        EXPECT_EQ(large.colorSpace, PravonColorSpace::kRGB16);
        EXPECT_GT(ComparePlanes(plain, large).differing, 100u);
    }
}

TEST_F(DemoAdjustments, VignetteCorrectionRaisesTheCorners) {
    const TestPlane plain = Develop(options.samplePath, Settings{}, 64);
    const TestPlane corrected = Develop(options.samplePath, With(0, 0, false, 100), 64);
    // The patch chart's dark grey background at the top-left corner, and near the centre of the picture.
    auto ratio = [&](LONG x, LONG y) {
        return static_cast<double>(corrected.Sample(x, y, 1)) / std::max<ULONG>(plain.Sample(x, y, 1), 1);
    };
    EXPECT_GT(ratio(1, 1), 1.1);
    EXPECT_LT(ratio(plain.width / 2 - 2, plain.height / 2 - 2), 1.01);
    EXPECT_GT(ratio(1, 1), ratio(20, 12));
}

TEST_F(DemoAdjustments, LevelsOutOfRangeAreRefused) {
    for (const Settings& s : {With(11, 0, false, 0), With(-1, 0, false, 0), With(0, 4, false, 0)}) {
        CKvDemoHost host;
        host.SetAdjustments(s);
        ASSERT_PV_OK(host.Open(options.samplePath));
        EXPECT_PV_KIND(host.BuildGraph(), PravonKind::kOutOfRange);
    }
    EXPECT_EQ(CKvDemoAdjustments::NoiseStrength(5), 0.63);
    EXPECT_EQ(CKvDemoAdjustments::NoiseStrength(11), 0.0);
    EXPECT_EQ(CKvDemoAdjustments::MoireFilterLevel(2), 25);
}

struct LensTags {
    const char* version;
    bool flagged;
    bool withDiagonal;
    WORD model;
    // What the stage must hold afterwards.
    bool lens;
    BYTE descriptor[6];
    double fNumber;
    double diagonal;
    double extra;
};

TEST_F(DemoAdjustments, TheVignetteStageIsSetFromTheLensTags) {
    const LensTags cases[] = {
        {"0100", true, true, 258, true, {13, 14, 15, 16, 17, 18}, 2.8, 43.27, 1.0},
        {"0101", true, true, 258, true, {4, 5, 19, 20, 21, 22}, 2.8, 43.27, 1.0},
        {"0199", true, true, 258, false, {}, 1.0, 43.27, 1.0}, // a version not known
        {"0100", false, false, 259, false, {}, 5.65685, 28.2239, 1.9939024390243902},
    };
    for (const LensTags& c : cases) {
        SCOPED_TRACE(c.version);
        IPravonTagControl* raw = nullptr;
        ASSERT_PV_OK(IPravonTagControl::CreateTagControl(&raw));
        PravonTagControlPtr tags(raw);
        // Lens data: the version, then each byte its own offset.
        BYTE data[31];
        for (int i = 0; i < 31; ++i)
            data[i] = static_cast<BYTE>(i);
        std::memcpy(data, c.version, 4);
        const BYTE flags[8] = {0, 0, static_cast<BYTE>(c.flagged ? 1 : 0), 0, 0, 0, 0, 0};
        const double diagonal = 43.27;
        const double fNumber = 2.8;
        ASSERT_PV_OK(tags->WriteTag(0x80098, 0x108, sizeof data, data));
        ASSERT_PV_OK(tags->WriteTag(0x80083, 0x105, sizeof flags, flags));
        ASSERT_PV_OK(tags->WriteTag(0x829D, 4, sizeof fNumber, &fNumber));
        if (c.withDiagonal) {
            ASSERT_PV_OK(tags->WriteTag(0x8000A, 4, sizeof diagonal, &diagonal));
        }
        CPravonMemoryManager manager;
        CFltVignette vignette(&manager);
        ASSERT_PV_OK(SetUpVignette(vignette, 80, tags.get(), c.model));
        EXPECT_EQ(vignette.HasLensId(), c.lens);
        if (c.lens) {
            EXPECT_EQ(std::memcmp(vignette.GetLensId().data(), c.descriptor, 6), 0);
        }
        EXPECT_EQ(vignette.GetFNumber(), c.fNumber);
        EXPECT_NEAR(vignette.GetSensorDiagonal(), c.diagonal, 1e-4);
        EXPECT_EQ(vignette.GetAmount(), 0.8);
        EXPECT_EQ(vignette.GetExtra(), c.extra);
    }
}

// One stage of a chain connected by hand, with the value the settings stand for.
struct Stage {
    enum Kind { kVignette, kMoire, kFineEdge } kind;
    double value; // the vignette's share of the full correction, the moire filter's level
};

// The unadjusted development through the stages, each connected and set as a user of the filters would:
// the sample has no lens or sensor tags, so the vignette keeps the standard sensor, no lens, the default
// aperture and square pixels.
GraphBuilder ByHand(const TestPlane& developed, const std::vector<Stage>& stages) {
    return [=](IPravonManager& manager, TestGraph& graph) -> IPravonError* {
        constexpr double kNoLensFNumber = 5.65685;
        IPravonDataSource* last = graph.Own(MakeImage(manager, developed));
        auto append = [&](CPravonFilterBase* filter) {
            IPravonError* e = PravonConnect(last, filter);
            last = filter;
            return e;
        };
        for (const Stage& stage : stages) {
            if (stage.kind == Stage::kVignette) {
                auto* vignette = graph.Own(new CFltVignette(&manager));
                if (IPravonError* e = append(vignette))
                    return e;
                if (IPravonError* e = vignette->ResetSensorSize(false))
                    return e;
                if (IPravonError* e = vignette->SetLensId(nullptr, false))
                    return e;
                if (IPravonError* e = vignette->SetFNumber(kNoLensFNumber, false))
                    return e;
                if (IPravonError* e = vignette->SetExtra(1.0, false))
                    return e;
                if (IPravonError* e = vignette->SetAmount(stage.value, false))
                    return e;
            } else if (stage.kind == Stage::kMoire) {
                auto* moire = graph.Own(new CFltMoire(&manager));
                if (IPravonError* e = append(moire))
                    return e;
                if (IPravonError* e = moire->SetLevel(static_cast<LONG>(stage.value), false))
                    return e;
            } else if (IPravonError* e = append(graph.Own(new CFltFineEdge(&manager)))) {
                return e;
            }
        }
        graph.output = last;
        return nullptr;
    };
}

// The filters themselves are checked against references of their own; here the host's chain must be
// exactly vignette (amount 80: 0.8 of the full correction), moire (level 3: the filter's level 75) and fine
// edge, in that order, and each wrong wiring of them must give another picture.
TEST_F(DemoAdjustments, TheChainWithoutLabIsItsStagesInThePipelinesOrder) {
    const TestPlane developed = Develop(options.samplePath, Settings{}, 32);
    const TestPlane chain = Develop(options.samplePath, With(0, 3, true, 80), 32);
    ASSERT_EQ(chain.width, developed.width);
    ASSERT_EQ(chain.height, developed.height);
    const Stage vignette{Stage::kVignette, 0.8};
    const Stage moire{Stage::kMoire, 75};
    const Stage fineEdge{Stage::kFineEdge, 0};
    const struct {
        const char* name;
        std::vector<Stage> stages;
        bool same;
    } cases[] = {
        {"the pipeline's order and values", {vignette, moire, fineEdge}, true},
        {"moire before the vignette", {moire, vignette, fineEdge}, false},
        {"fine edge before the moire", {vignette, fineEdge, moire}, false},
        {"moire at level 2's value", {vignette, {Stage::kMoire, 25}, fineEdge}, false},
        {"the full vignette correction", {{Stage::kVignette, 1.0}, moire, fineEdge}, false},
        {"no fine edge", {vignette, moire}, false},
    };
    for (const auto& c : cases) {
        TestPlane expected;
        ASSERT_TRUE(SameAtEveryTileSize(ByHand(developed, c.stages), &expected, {32})) << c.name;
        if (c.same)
            EXPECT_TRUE(PlanesMatch(expected, chain)) << c.name;
        else
            EXPECT_GT(ComparePlanes(expected, chain).differing, 0u) << c.name << ": the check would miss it";
    }
}

} // namespace
