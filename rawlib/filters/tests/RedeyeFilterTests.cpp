// The red-eye filter over the red-eye library on synthetic portraits: what it corrects and where it serves
// the working copy, what mode changes restore, how regions travel through the settings record, and that
// every failure of the library reaches the caller.
#include "rawlib/filters/CFltFnRedeye.h"

#include "platform/pravon/CPravonMemoryManager.h"
#include "platform/pravon/PravonGraph.h"
#include "platform/quasel/CPravonTagControl.h"
#include "platform/redeye/RedEyeTest.h"
#include "testing/ImageCompare.h"
#include "testing/InvalidArea.h"
#include "testing/NotificationRecorder.h"
#include "testing/PravonTestSupport.h"
#include "testing/PullAll.h"
#include "testing/RedEyePortrait.h"
#include "testing/TileSizeSweep.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace kvtest;

constexpr LONG kRgb8 = PravonColorSpace::kRGB8;
constexpr LONG kRgb16 = PravonColorSpace::kRGB16;
constexpr LONG kWidth = 96;
constexpr LONG kHeight = 72;

// Pupils whose last column (16) and last row (32) are the first of a 16-pixel tile, one across tile
// borders, and pupils cut by the left, right and bottom edges.
const std::vector<TestPupil> kPupils = {{12, 28, 4}, {60, 30, 4}, {0, 50, 3}, {95, 66, 4}, {40, 71, 3}};

std::vector<PravonRect> Boxes(const ReList* list) {
    std::vector<PravonRect> boxes;
    for (const ReRegion* r = ReListNext(list, nullptr); r; r = ReListNext(list, r))
        boxes.push_back({r->left, r->top, r->right, r->bottom});
    return boxes;
}

std::vector<PravonRect> BoxesOf(const std::vector<TestPupil>& pupils) {
    std::vector<PravonRect> boxes;
    for (const TestPupil& p : pupils)
        boxes.push_back(PupilBox(p, kWidth, kHeight));
    return boxes;
}

// The output rectangle a region's change is announced with.
PravonRect Announced(const PravonRect& box) {
    return {box.left, box.top, box.right + 1, box.bottom + 1};
}

CKvRegionBuffer Buffer(const std::vector<BYTE>& bytes) {
    CKvRegionBuffer buffer;
    EXPECT_TRUE(buffer.Allocate(static_cast<DWORD>(bytes.size())));
    buffer.Write(bytes.data(), static_cast<DWORD>(bytes.size()));
    return buffer;
}

// A portrait under the filter, with a recorder downstream.
struct Portrait {
    explicit Portrait(const TestPlane& picture, LONG tileSize = 16)
        : manager(tileSize), plane(picture), source(MakeImage(manager, plane)), filter(&manager) {
        EXPECT_PV_OK(PravonConnect(source.get(), &filter));
        EXPECT_PV_OK(PravonConnect(&filter, &recorder));
    }
    explicit Portrait(const std::vector<TestPupil>& pupils, LONG colorSpace = kRgb8)
        : Portrait(MakePortrait(kWidth, kHeight, colorSpace, pupils)) {}
    ~Portrait() {
        PravonErrorPtr(PravonDisconnect(&filter, &recorder));
        PravonErrorPtr(PravonDisconnect(source.get(), &filter));
    }
    TestPlane Pull() {
        TestPlane out;
        EXPECT_PV_OK(PullAll(&filter, &out));
        return out;
    }
    std::vector<PravonRect> Heard() const {
        std::vector<PravonRect> rects;
        for (const auto& h : recorder.heard)
            if (h.type == PravonNotification::kData && h.rect)
                rects.push_back(*h.rect);
        return rects;
    }

    CPravonMemoryManager manager;
    TestPlane plane;
    PravonImagePtr source;
    CFltFnRedeye filter;
    NotificationRecorder recorder;
};

class RedeyeFilter : public ::testing::Test {
protected:
    void SetUp() override { ReTestReset(); }
    void TearDown() override { ReTestReset(); }
};

class RedeyeFilterDepths : public RedeyeFilter, public ::testing::WithParamInterface<LONG> {};

TEST_P(RedeyeFilterDepths, CorrectsEveryPupilAtEveryTileSize) {
    const TestPlane plane = MakePortrait(kWidth, kHeight, GetParam(), kPupils);
    TestPlane output;
    EXPECT_TRUE(SameAtEveryTileSize(
        [&plane](IPravonManager& manager, TestGraph& graph) -> IPravonError* {
            IPravonImage* source = graph.Own(MakeImage(manager, plane));
            auto* filter = graph.Own(new CFltFnRedeye(&manager));
            if (IPravonError* e = PravonConnect(source, filter))
                return e;
            graph.output = filter;
            return filter->DetectAuto(nullptr, 0, false);
        },
        &output));
    EXPECT_TRUE(PlanesMatch(CorrectedPortrait(plane, kPupils), output));
}

TEST_P(RedeyeFilterDepths, LeavingAutomaticModeGivesTheSourceBackExactly) {
    Portrait p(kPupils, GetParam());
    ASSERT_PV_OK(p.filter.DetectAuto(nullptr, 0, true));
    EXPECT_EQ(Boxes(p.filter.GetRegionList(CFltFnRedeye::kAutomaticList)), BoxesOf(kPupils));
    EXPECT_TRUE(PlanesMatch(CorrectedPortrait(p.plane, kPupils), p.Pull()));
    p.recorder.Clear();
    ASSERT_PV_OK(p.filter.SetMode(CKvFnRedEye::kModeOff, true));
    EXPECT_TRUE(PlanesMatch(p.plane, p.Pull()));
    std::vector<PravonRect> announced;
    for (const PravonRect& box : BoxesOf(kPupils))
        announced.push_back(Announced(box));
    EXPECT_EQ(p.Heard(), announced) << "one notification per region, cut to the picture";
}

TEST_P(RedeyeFilterDepths, LeavingManualModeGivesTheSourceBackExactly) {
    Portrait p(kPupils, GetParam());
    ASSERT_PV_OK(p.filter.SetMode(CKvFnRedEye::kModeManual, true));
    p.filter.SetClickPoint(58, 40);
    ASSERT_PV_OK(p.filter.DetectAtPoint(true));
    EXPECT_TRUE(PlanesMatch(CorrectedPortrait(p.plane, {kPupils[1]}), p.Pull()));
    ASSERT_PV_OK(p.filter.SetMode(CKvFnRedEye::kModeOff, true));
    EXPECT_TRUE(PlanesMatch(p.plane, p.Pull()));
}

INSTANTIATE_TEST_SUITE_P(Depths, RedeyeFilterDepths, ::testing::Values(kRgb8, kRgb16));

TEST_F(RedeyeFilter, AutomaticModeChangesNoPixelUntilDetectionRuns) {
    Portrait p(kPupils);
    ASSERT_PV_OK(p.filter.SetMode(CKvFnRedEye::kModeAutomatic, true));
    EXPECT_TRUE(PlanesMatch(p.plane, p.Pull()));
    EXPECT_TRUE(p.Heard().empty());
    ASSERT_PV_OK(p.filter.DetectAuto(nullptr, 0, true));
    EXPECT_EQ(p.Heard().size(), kPupils.size());
    EXPECT_TRUE(PlanesMatch(CorrectedPortrait(p.plane, kPupils), p.Pull()));
}

TEST_F(RedeyeFilter, DetectionRunsOnceAndLaterCallsOnlyCorrectAgain) {
    Portrait p(kPupils);
    ASSERT_PV_OK(p.filter.DetectAuto(nullptr, 0, false));
    const TestPlane first = p.Pull();
    const std::size_t corrections = ReTestCallCount(ReCall::kCorrectRegions);
    ASSERT_PV_OK(p.filter.DetectAuto(nullptr, 0, false));
    EXPECT_EQ(ReTestCallCount(ReCall::kDetectAuto), 1u);
    EXPECT_EQ(ReTestCallCount(ReCall::kCorrectRegions), corrections + 1);
    EXPECT_TRUE(PlanesMatch(first, p.Pull()));
    EXPECT_EQ(Boxes(p.filter.GetRegionList(CFltFnRedeye::kAutomaticList)).size(), kPupils.size());
}

struct HostProgress {
    static std::vector<std::pair<LONG, LONG>> seen; // state, context
    static int answerFalseAt;
    static bool Callback(LONG state, LONG percent, LONG context) {
        seen.push_back({state, context});
        return static_cast<int>(seen.size()) != answerFalseAt;
    }
};
std::vector<std::pair<LONG, LONG>> HostProgress::seen;
int HostProgress::answerFalseAt = -1;

TEST_F(RedeyeFilter, ProgressReachesTheHostAndAFalseAnswerStopsDetection) {
    HostProgress::seen.clear();
    HostProgress::answerFalseAt = -1;
    Portrait p(kPupils);
    ASSERT_PV_OK(p.filter.DetectAuto(HostProgress::Callback, 0x1000, false));
    ASSERT_GE(HostProgress::seen.size(), 3u);
    EXPECT_EQ(HostProgress::seen.front(), std::make_pair(0, 0x1000));
    EXPECT_EQ(HostProgress::seen.back(), std::make_pair(2, 0x1000));

    // Stopped at the second report: detection fails, finds nothing, and counts as done.
    HostProgress::seen.clear();
    HostProgress::answerFalseAt = 2;
    Portrait stopped(kPupils);
    EXPECT_PV_KIND(stopped.filter.DetectAuto(HostProgress::Callback, 7, false), PravonKind::kInvalidState);
    EXPECT_EQ(HostProgress::seen.size(), 2u) << "the library stops at the answer";
    EXPECT_TRUE(stopped.filter.IsAutomaticDone());
    EXPECT_TRUE(Boxes(stopped.filter.GetRegionList(CFltFnRedeye::kAutomaticList)).empty());
    EXPECT_PV_OK(stopped.filter.DetectAuto(HostProgress::Callback, 7, false));
    EXPECT_EQ(ReTestCallCount(ReCall::kDetectAuto), 2u) << "one for each filter";
    EXPECT_TRUE(PlanesMatch(stopped.plane, stopped.Pull()));
}

TEST_F(RedeyeFilter, AClickNearAPupilCorrectsThatPupilAlone) {
    Portrait p(kPupils);
    // No tile has been pulled yet: the working copy is made for the click.
    ASSERT_PV_OK(p.filter.SetMode(CKvFnRedEye::kModeManual, true));
    p.filter.SetClickPoint(68, 30); // four pixels right of the pupil at (60, 30)
    ASSERT_PV_OK(p.filter.DetectAtPoint(true));
    const PravonRect box = PupilBox(kPupils[1], kWidth, kHeight);
    EXPECT_EQ(Boxes(p.filter.GetRegionList(CFltFnRedeye::kManualList)), std::vector<PravonRect>{box});
    EXPECT_EQ(p.Heard(), std::vector<PravonRect>{Announced(box)});
    EXPECT_TRUE(PlanesMatch(CorrectedPortrait(p.plane, {kPupils[1]}), p.Pull()));

    // The same click again finds the pupil corrected; a click on skin finds nothing. Neither is an error.
    p.recorder.Clear();
    for (const RePoint click : {RePoint{68, 30}, RePoint{30, 10}}) {
        p.filter.SetClickPoint(click.x, click.y);
        EXPECT_PV_OK(p.filter.DetectAtPoint(true));
    }
    EXPECT_EQ(Boxes(p.filter.GetRegionList(CFltFnRedeye::kManualList)).size(), 1u);
    EXPECT_TRUE(p.Heard().empty());
    EXPECT_PV_OK(p.filter.DetectAtPoint(true)) << "no point pending";
}

TEST_F(RedeyeFilter, AClickMakesOnlyItsRegionAgain) {
    Portrait p(kPupils);
    ASSERT_PV_OK(p.filter.SetMode(CKvFnRedEye::kModeManual, false));
    p.Pull();
    p.filter.SetClickPoint(12, 28);
    ASSERT_PV_OK(p.filter.DetectAtPoint(false));
    TestPlane invalid;
    ASSERT_PV_OK(InvalidArea(&p.filter, &invalid));
    EXPECT_TRUE(
        PlanesMatch(RectMask(kWidth, kHeight, Announced(PupilBox(kPupils[0], kWidth, kHeight))), invalid));
}

TEST_F(RedeyeFilter, StoredRegionsPartlyOutsideThePictureAreCut) {
    Portrait p(kPupils);
    CKvFnRedEye::RegionList stored;
    for (const PravonRect& box : {PravonRect{-1000, 46, 3, 53}, PravonRect{91, 62, 1 << 30, 0x7FFFFFFF},
                                  PravonRect{500, 500, 600, 600}, PravonRect{-0x7FFFFFFF - 1, -20, -1, -1}})
        stored.push_back(Buffer(SavedRedEyeRegion(box)));
    ASSERT_PV_OK(p.filter.SetMode(CKvFnRedEye::kModeManual, true));
    ASSERT_PV_OK(p.filter.LoadRegions(CFltFnRedeye::kManualList, stored));
    EXPECT_TRUE(PlanesMatch(CorrectedPortrait(p.plane, {kPupils[2], kPupils[3]}), p.Pull()));
    p.recorder.Clear();
    ASSERT_PV_OK(p.filter.ClearRegions(true));
    EXPECT_EQ(p.Heard(), (std::vector<PravonRect>{{0, 46, 4, 54}, {91, 62, kWidth, kHeight}}))
        << "announced within the picture, and regions outside it not at all";
    EXPECT_TRUE(PlanesMatch(p.plane, p.Pull()));
    EXPECT_TRUE(Boxes(p.filter.GetRegionList(CFltFnRedeye::kManualList)).empty());
}

TEST_F(RedeyeFilter, RegionsTravelThroughTheSettingsRecord) {
    Portrait found(kPupils);
    ASSERT_PV_OK(found.filter.DetectAuto(nullptr, 0, false));
    CKvFnRedEye settings;
    ASSERT_PV_OK(
        found.filter.GetRegions(CFltFnRedeye::kAutomaticList, settings.GetAutomaticRegions(), false));
    ASSERT_EQ(settings.GetAutomaticRegions().size(), kPupils.size());
    ASSERT_PV_OK(
        found.filter.GetRegions(CFltFnRedeye::kAutomaticList, settings.GetAutomaticRegions(), false));
    EXPECT_EQ(settings.GetAutomaticRegions().size(), kPupils.size()) << "the settings hold them already";

    found.filter.SetClickPoint(40, 20); // nothing there
    ASSERT_PV_OK(found.filter.DetectAtPoint(false));
    found.filter.SetClickPoint(60, 30);
    ASSERT_PV_OK(found.filter.DetectAtPoint(false));
    ASSERT_PV_OK(found.filter.SetKeepAutomatic(1, false));
    ASSERT_PV_OK(found.filter.GetRegions(CFltFnRedeye::kManualList, settings.GetManualRegions(), false));
    ASSERT_EQ(settings.GetManualRegions().size(), 1u);

    std::vector<BYTE> record(static_cast<std::size_t>(settings.GetStateSize()));
    settings.WriteState(record.data(), static_cast<int>(record.size()));
    CKvFnRedEye read;
    ASSERT_EQ(read.ReadState(record.data(), static_cast<int>(record.size())),
              static_cast<int>(record.size()));

    Portrait loaded(kPupils);
    ASSERT_PV_OK(loaded.filter.SetMode(CKvFnRedEye::kModeManual, false));
    ASSERT_PV_OK(loaded.filter.SetKeepAutomatic(1, false));
    ASSERT_PV_OK(loaded.filter.LoadRegions(CFltFnRedeye::kManualList, read.GetManualRegions()));
    ASSERT_PV_OK(loaded.filter.LoadRegions(CFltFnRedeye::kAutomaticList, read.GetAutomaticRegions()));
    EXPECT_EQ(Boxes(loaded.filter.GetRegionList(CFltFnRedeye::kAutomaticList)), BoxesOf(kPupils));
    EXPECT_EQ(Boxes(loaded.filter.GetRegionList(CFltFnRedeye::kManualList)),
              std::vector<PravonRect>{PupilBox(kPupils[1], kWidth, kHeight)});
    EXPECT_TRUE(PlanesMatch(found.Pull(), loaded.Pull()));

    CKvFnRedEye::RegionList replaced(3);
    ASSERT_PV_OK(loaded.filter.GetRegions(CFltFnRedeye::kAutomaticList, replaced, true));
    ASSERT_EQ(replaced.size(), kPupils.size());
    for (std::size_t i = 0; i < replaced.size(); ++i)
        EXPECT_TRUE(replaced[i] == read.GetAutomaticRegions()[i]) << i;
}

TEST_F(RedeyeFilter, StoredRegionsThatCannotBeLoadedAreReportedAndSkipped) {
    Portrait p(kPupils);
    const std::vector<BYTE> good = SavedRedEyeRegion(PupilBox(kPupils[0], kWidth, kHeight));
    std::vector<BYTE> bent = SavedRedEyeRegion(PupilBox(kPupils[1], kWidth, kHeight));
    bent[10] ^= 1;
    CKvFnRedEye::RegionList stored;
    stored.push_back(Buffer(std::vector<BYTE>(good.begin(), good.begin() + 20))); // cut short
    stored.push_back(Buffer({}));
    stored.push_back(Buffer(bent));
    stored.push_back(Buffer(SavedRedEyeRegion(PupilBox(kPupils[4], kWidth, kHeight))));
    stored.push_back(Buffer(good));
    ASSERT_PV_OK(p.filter.SetMode(CKvFnRedEye::kModeManual, false));
    IPravonError* err = p.filter.LoadRegions(CFltFnRedeye::kManualList, stored);
    ASSERT_NE(err, nullptr);
    EXPECT_EQ(err->GetKind(), PravonKind::kInvalidState);
    EXPECT_EQ(err->GetCount(), 3u) << err->Describe();
    err->Release();
    EXPECT_EQ(Boxes(p.filter.GetRegionList(CFltFnRedeye::kManualList)), BoxesOf({kPupils[4], kPupils[0]}));
    EXPECT_TRUE(PlanesMatch(CorrectedPortrait(p.plane, {kPupils[0], kPupils[4]}), p.Pull()));
}

TEST_F(RedeyeFilter, ARegionThatCannotBeSavedIsNotStored) {
    Portrait p(kPupils);
    ASSERT_PV_OK(p.filter.DetectAuto(nullptr, 0, false));
    struct Case {
        DWORD result;
        int skip; // 0: the size query fails, 1: the write
        LONG kind;
    };
    for (const Case& c :
         {Case{RE_S_NOTHING, 0, 0}, Case{RE_E_MEMORY, 0, PravonKind::kOutOfMemory},
          Case{RE_E_WRITE, 1, PravonKind::kInvalidState}, Case{RE_E_ARGUMENT, 1, PravonKind::kBadArgument}}) {
        SCOPED_TRACE(c.result);
        ReTestReset();
        ReTestForceResult(ReCall::kSaveRegion, c.result, c.skip);
        CKvFnRedEye::RegionList stored;
        IPravonError* err = p.filter.GetRegions(CFltFnRedeye::kAutomaticList, stored, true);
        ASSERT_NE(err, nullptr);
        EXPECT_EQ(err->GetKind(), c.kind);
        err->Release();
        EXPECT_TRUE(stored.empty());
    }
}

TEST_F(RedeyeFilter, EveryLibraryFailureIsAnError) {
    struct Case {
        DWORD result;
        LONG kind;
    };
    for (const Case& c :
         {Case{RE_S_NOTHING, 0}, Case{RE_E_ARGUMENT, PravonKind::kBadArgument},
          Case{RE_E_MEMORY, PravonKind::kOutOfMemory}, Case{0xC0000099, PravonKind::kInvalidState}}) {
        SCOPED_TRACE(c.result);
        ReTestReset();
        Portrait p(kPupils);
        ReTestForceResult(ReCall::kDetectAuto, c.result);
        IPravonError* err = p.filter.DetectAuto(nullptr, 0, false);
        ASSERT_NE(err, nullptr);
        EXPECT_EQ(err->GetKind(), c.kind);
        EXPECT_EQ(err->GetComponent(), CFltFnRedeye::kCode);
        err->Release();
        EXPECT_TRUE(p.filter.IsAutomaticDone());

        ReTestForceResult(ReCall::kLoadRegion, c.result);
        CKvFnRedEye::RegionList stored;
        stored.push_back(Buffer(SavedRedEyeRegion({1, 1, 2, 2})));
        EXPECT_PV_KIND(p.filter.LoadRegions(CFltFnRedeye::kManualList, stored), c.kind);
        ReTestForceResult(ReCall::kLoadRegion, RE_OK);
        ReTestForceResult(ReCall::kListInsert, c.result);
        EXPECT_PV_KIND(p.filter.LoadRegions(CFltFnRedeye::kManualList, stored), c.kind);
        EXPECT_TRUE(Boxes(p.filter.GetRegionList(CFltFnRedeye::kManualList)).empty());
    }
}

TEST_F(RedeyeFilter, AFailedCorrectionFailsThePullUntilTheLibraryWorksAgain) {
    Portrait p(kPupils);
    ReTestForceResult(ReCall::kCorrectRegions, RE_E_MEMORY);
    EXPECT_PV_KIND(p.filter.DetectAuto(nullptr, 0, false), PravonKind::kInvalidState);
    TestPlane out;
    EXPECT_PV_KIND(PullAll(&p.filter, &out), PravonKind::kInvalidState);
    ReTestForceResult(ReCall::kCorrectRegions, RE_OK);
    EXPECT_TRUE(PlanesMatch(CorrectedPortrait(p.plane, kPupils), p.Pull()));
}

TEST_F(RedeyeFilter, AFailedClickIsNoError) {
    Portrait p(kPupils);
    ASSERT_PV_OK(p.filter.SetMode(CKvFnRedEye::kModeManual, false));
    for (ReCall call : {ReCall::kDetectNearest, ReCall::kCorrectRegions}) {
        ReTestReset();
        ReTestForceResult(call, RE_E_MEMORY);
        p.filter.SetClickPoint(60, 30);
        EXPECT_PV_OK(p.filter.DetectAtPoint(true));
        EXPECT_TRUE(Boxes(p.filter.GetRegionList(CFltFnRedeye::kManualList)).empty());
    }
    ReTestReset();
    EXPECT_TRUE(PlanesMatch(p.plane, p.Pull()));
}

TEST_F(RedeyeFilter, OnlyRgbSourcesAreCorrected) {
    for (LONG colorSpace : {PravonColorSpace::kGrey8, PravonColorSpace::kCMYK8, PravonColorSpace::kGrey16}) {
        SCOPED_TRACE(colorSpace);
        Portrait p(MakePlane(kWidth, kHeight, colorSpace, FillPattern::Coordinates));
        TestPlane out;
        IPravonError* err = PullAll(&p.filter, &out);
        ASSERT_NE(err, nullptr);
        EXPECT_EQ(err->GetKind(), PravonKind::kUnsupportedColorSpace);
        EXPECT_TRUE(err->HasText("Bad source data color space"));
        err->Release();
        EXPECT_PV_KIND(p.filter.DetectAuto(nullptr, 0, false), PravonKind::kUnsupportedColorSpace);
    }
}

TEST_F(RedeyeFilter, ASourceChangeKeepsTheCorrections) {
    Portrait p(kPupils);
    ASSERT_PV_OK(p.filter.DetectAuto(nullptr, 0, false));
    p.Pull();
    // The same face a little lighter: the regions stay, the working copy is made from the new pixels.
    TestPlane lighter = p.plane;
    for (LONG y = 0; y < kHeight; ++y)
        for (LONG x = 0; x < kWidth; ++x)
            for (LONG c = 0; c < 3; ++c)
                lighter.SetSample(x, y, c, std::min<ULONG>(255, lighter.Sample(x, y, c) + 5));
    ASSERT_PV_OK(WritePlane(p.source.get(), lighter));
    PravonRect whole{0, 0, kWidth, kHeight};
    ASSERT_PV_OK(PravonSendDataNotification(p.source.get(), PravonNotification::kData, &whole));
    EXPECT_TRUE(PlanesMatch(CorrectedPortrait(lighter, kPupils), p.Pull()));
    EXPECT_EQ(ReTestCallCount(ReCall::kDetectAuto), 1u);
}

TEST_F(RedeyeFilter, ModeChangesRestoreAndApplyTheRightLists) {
    // Automatic regions: every pupil but the second; the manual one: the second.
    const std::vector<TestPupil> automatic = {kPupils[0], kPupils[2], kPupils[3], kPupils[4]};
    Portrait p(kPupils);
    CKvFnRedEye::RegionList stored;
    for (const TestPupil& pupil : automatic)
        stored.push_back(Buffer(SavedRedEyeRegion(PupilBox(pupil, kWidth, kHeight))));
    // Regions loaded in automatic mode before detection stand for it.
    ASSERT_PV_OK(p.filter.SetMode(CKvFnRedEye::kModeAutomatic, false));
    ASSERT_PV_OK(p.filter.LoadRegions(CFltFnRedeye::kAutomaticList, stored));
    ASSERT_PV_OK(p.filter.DetectAuto(nullptr, 0, false));
    EXPECT_EQ(ReTestCallCount(ReCall::kDetectAuto), 0u);
    EXPECT_TRUE(PlanesMatch(CorrectedPortrait(p.plane, automatic), p.Pull()));

    ASSERT_PV_OK(p.filter.SetMode(CKvFnRedEye::kModeManual, false));
    EXPECT_TRUE(PlanesMatch(p.plane, p.Pull())) << "manual mode without the automatic regions";
    p.filter.SetClickPoint(60, 30);
    ASSERT_PV_OK(p.filter.DetectAtPoint(false));
    EXPECT_TRUE(PlanesMatch(CorrectedPortrait(p.plane, {kPupils[1]}), p.Pull()));
    ASSERT_PV_OK(p.filter.SetKeepAutomatic(1, false));
    EXPECT_TRUE(PlanesMatch(CorrectedPortrait(p.plane, kPupils), p.Pull())) << "kept automatic regions join";
    ASSERT_PV_OK(p.filter.SetMode(CKvFnRedEye::kModeAutomatic, false));
    EXPECT_TRUE(PlanesMatch(CorrectedPortrait(p.plane, automatic), p.Pull())) << "kept ones stay";
    ASSERT_PV_OK(p.filter.SetMode(CKvFnRedEye::kModeManual, false));
    ASSERT_PV_OK(p.filter.SetKeepAutomatic(0, false));
    EXPECT_TRUE(PlanesMatch(CorrectedPortrait(p.plane, {kPupils[1]}), p.Pull())) << "and leave with the flag";
    ASSERT_PV_OK(p.filter.SetKeepAutomatic(1, false));
    ASSERT_PV_OK(p.filter.SetMode(CKvFnRedEye::kModeOff, false));
    EXPECT_TRUE(PlanesMatch(p.plane, p.Pull()));
    EXPECT_PV_KIND(p.filter.SetMode(3, false), PravonKind::kOutOfRange);
}

TEST_F(RedeyeFilter, LoadingShownRegionsReplacesThemInThePicture) {
    Portrait p(kPupils);
    ASSERT_PV_OK(p.filter.SetMode(CKvFnRedEye::kModeManual, false));
    CKvFnRedEye::RegionList first, second;
    first.push_back(Buffer(SavedRedEyeRegion(PupilBox(kPupils[0], kWidth, kHeight))));
    second.push_back(Buffer(SavedRedEyeRegion(PupilBox(kPupils[1], kWidth, kHeight))));
    ASSERT_PV_OK(p.filter.LoadRegions(CFltFnRedeye::kManualList, first));
    EXPECT_TRUE(PlanesMatch(CorrectedPortrait(p.plane, {kPupils[0]}), p.Pull()));
    ASSERT_PV_OK(p.filter.LoadRegions(CFltFnRedeye::kManualList, second));
    EXPECT_TRUE(PlanesMatch(CorrectedPortrait(p.plane, {kPupils[1]}), p.Pull()));
}

TEST_F(RedeyeFilter, CameraTagsAreReadOnceAndTheModelIsText) {
    PravonTagControlPtr tags(new CPravonTagControl());
    const char model[3] = {'C', 'a', 'm'}; // no end of text in the tag
    const double focal = 35.7, distance = 1e300;
    const LONG flash = 0x10;
    ASSERT_PV_OK(tags->WriteTag(0x110, 2, sizeof model, model));
    ASSERT_PV_OK(tags->WriteTag(0x920A, 12, sizeof focal, &focal));
    ASSERT_PV_OK(tags->WriteTag(0x9206, 12, sizeof distance, &distance));
    ASSERT_PV_OK(tags->WriteTag(0x9209, 4, sizeof flash, &flash));
    Portrait p(kPupils);
    EXPECT_EQ(p.filter.GetCameraInfo(), nullptr);
    ASSERT_PV_OK(p.filter.ReadCameraTags(tags.get()));
    const ReCameraInfo* camera = p.filter.GetCameraInfo();
    ASSERT_NE(camera, nullptr);
    EXPECT_STREQ(camera->model, "Cam");
    EXPECT_EQ(camera->focalLength, 35);
    EXPECT_EQ(camera->subjectDistance, INT_MAX);
    EXPECT_EQ(camera->flash, 1);

    const LONG shortFocal = 50;
    ASSERT_PV_OK(tags->WriteTag(0x920A, 4, sizeof shortFocal, &shortFocal));
    ASSERT_PV_OK(p.filter.ReadCameraTags(tags.get()));
    EXPECT_EQ(p.filter.GetCameraInfo()->focalLength, 35) << "the tags are read once";
    Portrait other(kPupils);
    ASSERT_PV_OK(other.filter.ReadCameraTags(tags.get()));
    EXPECT_EQ(other.filter.GetCameraInfo()->focalLength, 0) << "a focal length not 8 bytes long is none";

    ASSERT_PV_OK(p.filter.DetectAuto(nullptr, 0, false));
    const std::vector<ReTestLogEntry> log = ReTestCallLog();
    ASSERT_FALSE(log.empty());
    EXPECT_NE(log.front().detail.find("camera model \"Cam\" flash 1 focal 35"), std::string::npos)
        << log.front().detail;
    Portrait unread(kPupils);
    EXPECT_PV_KIND(unread.filter.ReadCameraTags(nullptr), PravonKind::kBadArgument);
}

} // namespace
