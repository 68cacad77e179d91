#include "platform/redeye/RedEye.h"
#include "platform/redeye/RedEyeTest.h"

#include "testing/ImageCompare.h"
#include "testing/RedEyePortrait.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using kvtest::TestPlane;
using kvtest::TestPupil;

constexpr LONG kRgb8 = 0x08060201;
constexpr LONG kRgb16 = 0x10060201;

ReImage Descriptor(TestPlane& plane, const ReCameraInfo* camera = nullptr) {
    const bool wide = plane.BitsPerSample() == 16;
    return {sizeof(ReImage),
            plane.width,
            plane.height,
            static_cast<LONG>(plane.rowBytes),
            wide ? RE_FORMAT_RGB16 : RE_FORMAT_RGB8,
            plane.data.data(),
            camera,
            {0, 0}};
}

// A list head that empties itself.
struct List {
    List() { ReListInit(&head); }
    ~List() { ReListEmpty(&head); }
    List(const List&) = delete;
    List& operator=(const List&) = delete;

    std::vector<PravonRect> Boxes() const {
        std::vector<PravonRect> boxes;
        for (const ReRegion* r = ReListNext(&head, nullptr); r; r = ReListNext(&head, r))
            boxes.push_back({r->left, r->top, r->right, r->bottom});
        return boxes;
    }
    ReList head;
};

std::size_t CountOf(const ReList& list) {
    std::size_t count = 0;
    for (const ReRegion* r = ReListNext(&list, nullptr); r; r = ReListNext(&list, r))
        ++count;
    return count;
}

std::vector<PravonRect> BoxesOf(const std::vector<TestPupil>& pupils, LONG width, LONG height) {
    std::vector<PravonRect> boxes;
    for (const TestPupil& p : pupils)
        boxes.push_back(kvtest::PupilBox(p, width, height));
    return boxes;
}

// Bytes of a saved region, collected by the writer callback.
int Collect(void* context, const void* bytes, DWORD length) {
    auto* out = static_cast<std::vector<BYTE>*>(context);
    const auto* b = static_cast<const BYTE*>(bytes);
    out->insert(out->end(), b, b + length);
    return 1;
}

struct Source {
    const std::vector<BYTE>* bytes;
    std::size_t at = 0;
};

// Gives the bytes in order and refuses to read past their end.
int Give(void* context, void* destination, DWORD length) {
    auto* source = static_cast<Source*>(context);
    if (source->bytes->size() - source->at < length)
        return 0;
    std::memcpy(destination, source->bytes->data() + source->at, length);
    source->at += length;
    return 1;
}

std::vector<BYTE> SaveFirst(const List& list) {
    std::vector<BYTE> bytes;
    DWORD size = 0;
    EXPECT_EQ(ReSaveRegion(ReListNext(&list.head, nullptr), nullptr, nullptr, &size), RE_OK);
    EXPECT_EQ(ReSaveRegion(ReListNext(&list.head, nullptr), Collect, &bytes, &size), RE_OK);
    EXPECT_EQ(bytes.size(), size);
    return bytes;
}

DWORD Load(const std::vector<BYTE>& bytes, List& into, DWORD size) {
    Source source{&bytes};
    ReRegion* region = nullptr;
    const DWORD result = ReLoadRegion(Give, &source, size, &region);
    if (result == RE_OK)
        EXPECT_EQ(ReListInsert(&into.head, region), RE_OK);
    else
        EXPECT_EQ(region, nullptr);
    return result;
}

using kvtest::SavedRedEyeRegion;

class RedEyeLibrary : public ::testing::Test {
protected:
    void SetUp() override { ReTestReset(); }
    void TearDown() override { ReTestReset(); }
};

struct PortraitCase {
    const char* name;
    LONG width, height;
    std::vector<TestPupil> pupils;
};

class DetectsPortraits : public RedEyeLibrary, public ::testing::WithParamInterface<LONG> {};

// Two eyes, one eye cut by the top edge, one in the corner, small and larger pupils.
const PortraitCase kPortraits[] = {
    {"two eyes", 128, 96, {{40, 40, 4}, {88, 40, 4}}},
    {"eye cut by the top edge", 128, 96, {{30, 0, 4}, {90, 50, 3}}},
    {"eye in the corner", 128, 96, {{127, 95, 5}}},
    {"small and larger pupils", 160, 120, {{20, 30, 2}, {80, 60, 6}, {140, 100, 4}}},
};

TEST_P(DetectsPortraits, FindsEveryPupilAndCorrectsExactlyItsRedPixels) {
    for (const PortraitCase& c : kPortraits) {
        SCOPED_TRACE(c.name);
        TestPlane plane = kvtest::MakePortrait(c.width, c.height, GetParam(), c.pupils);
        const TestPlane corrected = kvtest::CorrectedPortrait(plane, c.pupils);
        ReImage image = Descriptor(plane);
        List found;
        ASSERT_EQ(ReDetectAuto(&image, 0, nullptr, nullptr, 0, &found.head), RE_OK);
        EXPECT_EQ(found.Boxes(), BoxesOf(c.pupils, c.width, c.height));
        ASSERT_EQ(ReCorrectRegions(&image, &found.head, nullptr, nullptr, 30), RE_OK);
        EXPECT_TRUE(kvtest::PlanesMatch(corrected, plane));
        ASSERT_EQ(ReCorrectRegions(&image, &found.head, nullptr, nullptr, 30), RE_OK);
        EXPECT_TRUE(kvtest::PlanesMatch(corrected, plane)) << "a second correction changes nothing";
    }
}

INSTANTIATE_TEST_SUITE_P(Depths, DetectsPortraits, ::testing::Values(kRgb8, kRgb16));

// Paints a rectangle of one colour.
void Paint(TestPlane& plane, PravonRect r, BYTE red, BYTE green, BYTE blue) {
    for (LONG y = r.top; y < r.bottom; ++y)
        for (LONG x = r.left; x < r.right; ++x) {
            plane.SetSample(x, y, 0, red);
            plane.SetSample(x, y, 1, green);
            plane.SetSample(x, y, 2, blue);
        }
}

TEST_F(RedEyeLibrary, LeavesRedThatIsNotAPupil) {
    struct Case {
        const char* name;
        PravonRect patch;
        BYTE red, green, blue;
    };
    const Case cases[] = {
        {"a square", {20, 20, 28, 28}, 220, 30, 40},
        {"a line", {20, 20, 60, 22}, 220, 30, 40},
        {"too large for the picture", {20, 20, 40, 40}, 220, 30, 40},
        {"too few pixels", {20, 20, 22, 24}, 220, 30, 40},
        {"dark red", {20, 20, 26, 26}, 100, 10, 10},
        {"red, but not twice green", {20, 20, 26, 26}, 220, 111, 40},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TestPlane plane = kvtest::MakePortrait(128, 96, kRgb8, {});
        Paint(plane, c.patch, c.red, c.green, c.blue);
        ReImage image = Descriptor(plane);
        List found;
        ASSERT_EQ(ReDetectAuto(&image, 0, nullptr, nullptr, 0, &found.head), RE_OK);
        EXPECT_TRUE(found.Boxes().empty());
    }
}

TEST_F(RedEyeLibrary, AutomaticDetectionWantsTheFaceAroundThePupil) {
    // A pupil on a red shirt: its neighbourhood is red too. The same pupil on skin is found.
    TestPlane plane = kvtest::MakePortrait(128, 96, kRgb8, {{40, 40, 4}, {100, 40, 4}});
    for (LONG x = 28; x < 53; x += 2) // stripes of red cloth around the first pupil
        Paint(plane, {x, 28, x + 1, 53}, 220, 30, 40);
    ReImage image = Descriptor(plane);
    List found;
    ASSERT_EQ(ReDetectAuto(&image, 0, nullptr, nullptr, 0, &found.head), RE_OK);
    EXPECT_EQ(found.Boxes(), (std::vector<PravonRect>{{96, 36, 104, 44}}));
}

TEST_F(RedEyeLibrary, NearestDetectionTakesThePupilClosestToTheClick) {
    const std::vector<TestPupil> pupils = {{40, 40, 4}, {60, 40, 4}};
    struct Case {
        RePoint click;
        DWORD result;
        std::vector<PravonRect> boxes;
    };
    const Case cases[] = {
        {{40, 40}, RE_OK, {{36, 36, 44, 44}}}, // on the pupil
        {{30, 40}, RE_OK, {{36, 36, 44, 44}}}, // 6 pixels left of its edge
        {{50, 40}, RE_OK, {{36, 36, 44, 44}}}, // as near the one as the other: the first in row order
        {{51, 40}, RE_OK, {{56, 36, 64, 44}}}, // nearer the second
        {{40, 55}, RE_S_NOTHING, {}},          // 11 pixels below its last row
        {{-30, -30}, RE_S_NOTHING, {}},        // far outside the picture
        {{100, 80}, RE_S_NOTHING, {}},         // on skin
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.click.x) + "," + std::to_string(c.click.y));
        TestPlane plane = kvtest::MakePortrait(128, 96, kRgb8, pupils);
        ReImage image = Descriptor(plane);
        List found;
        EXPECT_EQ(ReDetectNearest(&image, &c.click, 10, 0, 0, 0, &found.head), c.result);
        EXPECT_EQ(found.Boxes(), c.boxes);
    }
}

TEST_F(RedEyeLibrary, NearestDetectionRefusesAClickOnLargeRed) {
    TestPlane plane = kvtest::MakePortrait(128, 96, kRgb8, {});
    Paint(plane, {10, 10, 60, 60}, 220, 30, 40);
    ReImage image = Descriptor(plane);
    List found;
    const RePoint click{30, 30};
    EXPECT_EQ(ReDetectNearest(&image, &click, 10, 0, 0, 0, &found.head), RE_S_NOTHING);
    EXPECT_TRUE(found.Boxes().empty());
}

TEST_F(RedEyeLibrary, CorrectionStrengthWidensWhatCountsAsRed) {
    // Red 150 over green and blue 100 exceeds them by a third of itself: corrected up to strength 33.
    struct Case {
        LONG strength;
        ULONG red;
    };
    for (const Case& c : {Case{0, 100}, Case{30, 100}, Case{33, 100}, Case{34, 150}, Case{100, 150}}) {
        TestPlane plane(4, 4, kRgb8);
        Paint(plane, {0, 0, 4, 4}, 150, 100, 100);
        ReImage image = Descriptor(plane);
        List regions;
        ASSERT_EQ(Load(SavedRedEyeRegion({0, 0, 2, 2}), regions, 32), RE_OK);
        EXPECT_EQ(ReCorrectRegions(&image, &regions.head, nullptr, nullptr, c.strength), RE_OK);
        EXPECT_EQ(plane.Sample(2, 2, 0), c.red) << "strength " << c.strength;
        EXPECT_EQ(plane.Sample(3, 2, 0), 150u) << "right of the box";
        EXPECT_EQ(plane.Sample(2, 3, 0), 150u) << "below the box";
    }
}

TEST_F(RedEyeLibrary, CorrectionClipsRegionsToTheImage) {
    TestPlane plane = kvtest::MakePortrait(32, 24, kRgb8, {{0, 0, 3}, {31, 23, 3}});
    const TestPlane corrected = kvtest::CorrectedPortrait(plane, {{0, 0, 3}, {31, 23, 3}});
    ReImage image = Descriptor(plane);
    List regions;
    for (const PravonRect& box : {PravonRect{-1000, -1000, 3, 3}, PravonRect{28, 20, 1 << 30, 1 << 30},
                                  PravonRect{100, 100, 200, 200}, PravonRect{-0x7FFFFFFF - 1, 5, -5, 6}})
        ASSERT_EQ(Load(SavedRedEyeRegion(box), regions, 32), RE_OK);
    EXPECT_EQ(ReCorrectRegions(&image, &regions.head, nullptr, nullptr, 30), RE_OK);
    EXPECT_TRUE(kvtest::PlanesMatch(corrected, plane));
}

TEST_F(RedEyeLibrary, SavedRegionsLoadBackAndRepairNothingElse) {
    TestPlane plane = kvtest::MakePortrait(128, 96, kRgb8, {{40, 40, 4}});
    ReImage image = Descriptor(plane);
    List found;
    ASSERT_EQ(ReDetectAuto(&image, 0, nullptr, nullptr, 0, &found.head), RE_OK);
    const std::vector<BYTE> bytes = SaveFirst(found);
    ASSERT_EQ(bytes.size(), 32u);
    EXPECT_EQ(std::string(bytes.begin(), bytes.begin() + 4), "RRG1");

    List loaded;
    ASSERT_EQ(Load(bytes, loaded, static_cast<DWORD>(bytes.size())), RE_OK);
    EXPECT_EQ(loaded.Boxes(), found.Boxes());

    // Every single changed byte is caught, and so is every wrong size and a reader that runs dry.
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        std::vector<BYTE> bent = bytes;
        bent[i] ^= 0x10;
        List none;
        EXPECT_EQ(Load(bent, none, 32), RE_E_BAD_REGION) << "byte " << i;
    }
    for (DWORD size : {0u, 8u, 31u, 33u, 0xFFFFFFFFu}) {
        List none;
        EXPECT_EQ(Load(bytes, none, size), RE_E_BAD_REGION) << "size " << size;
    }
    const std::vector<BYTE> cut(bytes.begin(), bytes.begin() + 20);
    List none;
    EXPECT_EQ(Load(cut, none, 32), RE_E_READ);
}

TEST_F(RedEyeLibrary, SavedBoxesOutOfOrderAreRefused) {
    for (const PravonRect& box : {PravonRect{10, 5, 9, 6}, PravonRect{5, 10, 6, 9}}) {
        List none;
        EXPECT_EQ(Load(SavedRedEyeRegion(box), none, 32), RE_E_BAD_REGION);
    }
    List one;
    EXPECT_EQ(Load(SavedRedEyeRegion({7, 7, 7, 7}), one, 32), RE_OK) << "a one-pixel box is a box";
}

int Refuse(void*, const void*, DWORD) {
    return 0;
}

TEST_F(RedEyeLibrary, AWriterThatRefusesIsAWriteFailure) {
    TestPlane plane = kvtest::MakePortrait(128, 96, kRgb8, {{40, 40, 4}});
    ReImage image = Descriptor(plane);
    List found;
    ASSERT_EQ(ReDetectAuto(&image, 0, nullptr, nullptr, 0, &found.head), RE_OK);
    DWORD size = 0;
    EXPECT_EQ(ReSaveRegion(ReListNext(&found.head, nullptr), Refuse, nullptr, &size), RE_E_WRITE);
}

TEST_F(RedEyeLibrary, ListsKeepOrderThroughInsertMergeAndWalksBothWays) {
    TestPlane plane = kvtest::MakePortrait(160, 120, kRgb8, {{20, 20, 3}, {80, 20, 3}, {140, 20, 3}});
    ReImage image = Descriptor(plane);
    List first, second;
    ASSERT_EQ(ReDetectAuto(&image, 0, nullptr, nullptr, 0, &first.head), RE_OK);
    const RePoint click{20, 20};
    ASSERT_EQ(ReDetectNearest(&image, &click, 10, 0, 0, 0, &second.head), RE_OK);
    ReListMerge(&first.head, &second.head);
    EXPECT_TRUE(second.Boxes().empty());
    const std::vector<PravonRect> forward = first.Boxes();
    ASSERT_EQ(forward.size(), 4u);
    EXPECT_EQ(forward[3], forward[0]);
    std::vector<PravonRect> backward;
    for (const ReRegion* r = ReListPrev(&first.head, nullptr); r; r = ReListPrev(&first.head, r))
        backward.insert(backward.begin(), {r->left, r->top, r->right, r->bottom});
    EXPECT_EQ(backward, forward);

    ReList zeroed{};
    EXPECT_EQ(ReListNext(&zeroed, nullptr), nullptr);
    ReListMerge(&zeroed, &first.head);
    EXPECT_EQ(CountOf(zeroed), 4u);
    ReListEmpty(&zeroed);
    EXPECT_EQ(ReListNext(&zeroed, nullptr), nullptr);
}

struct Reports {
    std::vector<std::pair<int, int>> seen;
    std::size_t stopAt = static_cast<std::size_t>(-1);
};

int Record(void* context, int state, int value) {
    auto* reports = static_cast<Reports*>(context);
    reports->seen.push_back({state, value});
    return reports->seen.size() > reports->stopAt ? 1 : 0;
}

TEST_F(RedEyeLibrary, ProgressRunsFromStartToEndAndCanStopDetection) {
    TestPlane plane = kvtest::MakePortrait(96, 300, kRgb8, {{30, 200, 4}});
    ReImage image = Descriptor(plane);
    Reports reports;
    List found;
    ASSERT_EQ(ReDetectAuto(&image, 0, Record, &reports, 0, &found.head), RE_OK);
    ASSERT_GE(reports.seen.size(), 4u);
    EXPECT_EQ(reports.seen.front(), std::make_pair(0, 0));
    EXPECT_EQ(reports.seen.back(), std::make_pair(2, 100));
    for (std::size_t i = 1; i + 1 < reports.seen.size(); ++i) {
        EXPECT_EQ(reports.seen[i].first, 1);
        EXPECT_GE(reports.seen[i].second, reports.seen[i - 1].second);
        EXPECT_LT(reports.seen[i].second, 100);
    }
    EXPECT_EQ(CountOf(found.head), 1u);

    for (std::size_t stop = 0; stop + 1 < reports.seen.size(); ++stop) {
        Reports stopping;
        stopping.stopAt = stop;
        List none;
        EXPECT_EQ(ReDetectAuto(&image, 0, Record, &stopping, 0, &none.head), RE_E_CANCELLED) << stop;
        EXPECT_EQ(stopping.seen.size(), stop + 1) << "no report after the stop";
        EXPECT_EQ(CountOf(none.head), 0u) << "a stopped detection adds nothing";
    }
}

TEST_F(RedEyeLibrary, EveryCallCanBeForcedToFailAndIsLogged) {
    TestPlane plane = kvtest::MakePortrait(128, 96, kRgb8, {{40, 40, 4}});
    const ReCameraInfo camera{sizeof(ReCameraInfo), "Model 7", 1, 50, 3};
    ReImage image = Descriptor(plane, &camera);
    List found;
    ASSERT_EQ(ReDetectAuto(&image, 0, nullptr, nullptr, 0, &found.head), RE_OK);
    const std::vector<BYTE> saved = SaveFirst(found);
    const TestPlane before = plane;
    ReTestReset();

    const RePoint click{40, 40};
    for (DWORD code : {RE_S_NOTHING, RE_E_ARGUMENT, RE_E_MEMORY, 0xC0001234u}) {
        SCOPED_TRACE(code);
        for (int c = 0; c < static_cast<int>(ReCall::kCount); ++c)
            ReTestForceResult(static_cast<ReCall>(c), code);
        List list;
        EXPECT_EQ(ReDetectAuto(&image, 0, nullptr, nullptr, 0, &list.head), code);
        EXPECT_EQ(ReDetectNearest(&image, &click, 10, 0, 0, 0, &list.head), code);
        EXPECT_EQ(CountOf(list.head), 0u);
        EXPECT_EQ(ReCorrectRegions(&image, &found.head, nullptr, nullptr, 30), code);
        EXPECT_TRUE(kvtest::PlanesMatch(before, plane));
        DWORD size = 0;
        std::vector<BYTE> bytes;
        EXPECT_EQ(ReSaveRegion(ReListNext(&found.head, nullptr), Collect, &bytes, &size), code);
        EXPECT_TRUE(bytes.empty());
        Source source{&saved};
        ReRegion* region = nullptr;
        EXPECT_EQ(ReLoadRegion(Give, &source, 32, &region), code);
        ReTestForceResult(ReCall::kLoadRegion, RE_OK);
        ASSERT_EQ(ReLoadRegion(Give, &source, 32, &region), RE_OK);
        EXPECT_EQ(ReListInsert(&list.head, region), code) << "the region is freed, as the leak check sees";
        EXPECT_EQ(CountOf(list.head), 0u);
    }

    // Skipping lets the first calls through: the size query works, the write fails.
    ReTestReset();
    ReTestForceResult(ReCall::kSaveRegion, RE_E_MEMORY, 1);
    DWORD size = 0;
    std::vector<BYTE> bytes;
    EXPECT_EQ(ReSaveRegion(ReListNext(&found.head, nullptr), nullptr, nullptr, &size), RE_OK);
    EXPECT_EQ(ReSaveRegion(ReListNext(&found.head, nullptr), Collect, &bytes, &size), RE_E_MEMORY);
    EXPECT_EQ(ReTestCallCount(ReCall::kSaveRegion), 2u);

    ReTestReset();
    ASSERT_EQ(ReCorrectRegions(&image, &found.head, nullptr, nullptr, 30), RE_OK);
    const std::vector<ReTestLogEntry> log = ReTestCallLog();
    ASSERT_EQ(log.size(), 1u);
    EXPECT_EQ(log[0].call, ReCall::kCorrectRegions);
    EXPECT_EQ(
        log[0].detail,
        "128x96 format 0x1805 camera model \"Model 7\" flash 1 focal 50 distance 3 regions 1 strength 30");
    EXPECT_STREQ(ReTestCallName(log[0].call), "ReCorrectRegions");
}

TEST_F(RedEyeLibrary, MalformedArgumentsAreRefused) {
    TestPlane plane = kvtest::MakePortrait(32, 24, kRgb8, {{10, 10, 2}});
    const ReCameraInfo badCamera{sizeof(ReCameraInfo) - 1, nullptr, 0, 0, 0};
    struct Case {
        const char* name;
        void (*bend)(ReImage&, const ReCameraInfo*);
    };
    const Case cases[] = {
        {"descriptor size", [](ReImage& i, const ReCameraInfo*) { i.size = 32; }},
        {"no pixels", [](ReImage& i, const ReCameraInfo*) { i.pixels = nullptr; }},
        {"no width", [](ReImage& i, const ReCameraInfo*) { i.width = 0; }},
        {"negative height", [](ReImage& i, const ReCameraInfo*) { i.height = -3; }},
        {"format", [](ReImage& i, const ReCameraInfo*) { i.format = 0x1806; }},
        {"rows too short", [](ReImage& i, const ReCameraInfo*) { i.rowBytes = 3 * 32 - 1; }},
        {"16-bit rows too short", [](ReImage& i, const ReCameraInfo*) { i.format = RE_FORMAT_RGB16; }},
        {"camera block size", [](ReImage& i, const ReCameraInfo* c) { i.camera = c; }},
    };
    const RePoint click{10, 10};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ReImage image = Descriptor(plane);
        c.bend(image, &badCamera);
        List list;
        EXPECT_EQ(ReDetectAuto(&image, 0, nullptr, nullptr, 0, &list.head), RE_E_ARGUMENT);
        EXPECT_EQ(ReDetectNearest(&image, &click, 10, 0, 0, 0, &list.head), RE_E_ARGUMENT);
        EXPECT_EQ(ReCorrectRegions(&image, &list.head, nullptr, nullptr, 30), RE_E_ARGUMENT);
    }
    ReImage image = Descriptor(plane);
    List list;
    EXPECT_EQ(ReDetectAuto(&image, 0, nullptr, nullptr, 0, nullptr), RE_E_ARGUMENT);
    EXPECT_EQ(ReDetectNearest(&image, nullptr, 10, 0, 0, 0, &list.head), RE_E_ARGUMENT);
    EXPECT_EQ(ReDetectNearest(&image, &click, -1, 0, 0, 0, &list.head), RE_E_ARGUMENT);
    EXPECT_EQ(ReCorrectRegions(&image, nullptr, nullptr, nullptr, 30), RE_E_ARGUMENT);
    EXPECT_EQ(ReCorrectRegions(&image, &list.head, nullptr, nullptr, 101), RE_E_ARGUMENT);
    EXPECT_EQ(ReCorrectRegions(&image, &list.head, nullptr, nullptr, -1), RE_E_ARGUMENT);
    DWORD size = 0;
    EXPECT_EQ(ReSaveRegion(nullptr, nullptr, nullptr, &size), RE_E_ARGUMENT);
    ReRegion* region = nullptr;
    EXPECT_EQ(ReLoadRegion(nullptr, nullptr, 32, &region), RE_E_ARGUMENT);
    EXPECT_EQ(ReListInsert(&list.head, nullptr), RE_E_ARGUMENT);
    EXPECT_EQ(CountOf(list.head), 0u);
}

} // namespace
