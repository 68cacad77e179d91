#include "filters/CPravonFilterCML.h"
#include "filters/tests/ProbeFilter.h"
#include "platform/pravon/CPravonMemoryManager.h"
#include "platform/pravon/PravonGraph.h"
#include "testing/IccBytesWriter.h"
#include "testing/IccTestProfiles.h"
#include "testing/NotificationRecorder.h"
#include "testing/PravonTestSupport.h"
#include "testing/TempFolder.h"
#include "testing/TileSizeSweep.h"

#include <gtest/gtest.h>
#include <lcms2.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <vector>

namespace {

using namespace kvtest;
using PravonColorSpace::kGrey8;
using PravonColorSpace::kLab16;
using PravonColorSpace::kLab8;
using PravonColorSpace::kRGB16;
using PravonColorSpace::kRGB8;

// Hears colour-space changes with their values, which the plain recorder does not keep.
class Recorder : public NotificationRecorder {
public:
    IPravonError* PravonNotify(IPravonDataSource* source, LONG type, void* data) override {
        if (type == PravonNotification::kColorSpace && data)
            spaces.push_back(*static_cast<IPravonDataDestination::ChangeColorSpace*>(data));
        return NotificationRecorder::PravonNotify(source, type, data);
    }
    std::vector<IPravonDataDestination::ChangeColorSpace> spaces;
};

class CMLFilter : public ::testing::Test {
protected:
    CMLFilter()
        : srgb(WriteIccTestProfile(folder, IccTestProfile::SRGB, "srgb.icc")),
          wide(WriteIccTestProfile(folder, IccTestProfile::WideGamut, "wide.icc")),
          wideCopy(WriteIccTestProfile(folder, IccTestProfile::WideGamut, "wide-copy.icc")),
          grey(WriteIccTestProfile(folder, IccTestProfile::Grey, "grey.icc")),
          lab(WriteIccTestProfile(folder, IccTestProfile::Lab, "lab.icc")) {}

    // An engine of its own for the test, between two profile files.
    CPravonFilterCMLEngine& Engine(const std::string& from, const std::string& to) {
        engines.push_back(std::make_unique<CPravonFilterCMLEngine>());
        EXPECT_PV_OK(engines.back()->SetProfiles(PravonFile{from}, PravonFile{to}));
        return *engines.back();
    }

    std::string Xyz() {
        cmsHPROFILE profile = cmsCreateXYZProfile();
        const std::string path = folder.File("xyz.icc");
        EXPECT_TRUE(cmsSaveProfileToFile(profile, path.c_str()));
        cmsCloseProfile(profile);
        return path;
    }

    // Source image -> conversion, set up by the caller; the output is the filter.
    static GraphBuilder Converting(const TestPlane& plane, CPravonFilterCMLEngine& engine, LONG inBits,
                                   LONG outBits, std::function<IPravonError*(CPravonFilterCML&)> setUp = {}) {
        return [=, &engine](IPravonManager& manager, TestGraph& graph) -> IPravonError* {
            IPravonImage* source = graph.Own(MakeImage(manager, plane));
            auto* filter = graph.Own(new CPravonFilterCML(&manager));
            if (IPravonError* e = PravonConnect(source, filter))
                return e;
            if (IPravonError* e = filter->SetCMLEngine(&engine, false))
                return e;
            if (IPravonError* e = filter->SetBitsPerComponent(false, inBits, false))
                return e;
            if (IPravonError* e = filter->SetBitsPerComponent(true, outBits, false))
                return e;
            if (setUp)
                if (IPravonError* e = setUp(*filter))
                    return e;
            graph.output = filter;
            return nullptr;
        };
    }

    TempFolder folder;
    const std::string srgb;
    const std::string wide;
    const std::string wideCopy;
    const std::string grey;
    const std::string lab;
    std::vector<std::unique_ptr<CPravonFilterCMLEngine>> engines;
};

// What lcms2 alone makes of the plane's pixels, all in one call (the plane's rows are packed).
TestPlane Direct(const std::string& from, cmsUInt32Number inFormat, const std::string& to,
                 cmsUInt32Number outFormat, const TestPlane& plane, LONG outSpace) {
    TestPlane result(plane.width, plane.height, outSpace);
    cmsHPROFILE a = cmsOpenProfileFromFile(from.c_str(), "r");
    cmsHPROFILE b = cmsOpenProfileFromFile(to.c_str(), "r");
    cmsHTRANSFORM t = cmsCreateTransform(a, inFormat, b, outFormat, INTENT_PERCEPTUAL, 0);
    EXPECT_NE(t, nullptr);
    if (t)
        cmsDoTransform(t, plane.data.data(), result.data.data(),
                       static_cast<cmsUInt32Number>(plane.width) *
                           static_cast<cmsUInt32Number>(plane.height));
    cmsDeleteTransform(t);
    cmsCloseProfile(a);
    cmsCloseProfile(b);
    return result;
}

// What lcms2 makes of the plane's pixels in double precision, rounded to RGB of the output's depth. A
// conversion between two RGB profiles is the filter's own within a level of it (lcms2's 16-bit road
// resamples it into a grid that strays at the gamut's edge).
TestPlane Precise(const std::string& from, cmsUInt32Number inFormat, const std::string& to, LONG outSpace,
                  const TestPlane& plane) {
    TestPlane result(plane.width, plane.height, outSpace);
    const std::size_t count = std::size_t(plane.width) * std::size_t(plane.height);
    std::vector<double> values(count * 3);
    cmsHPROFILE a = cmsOpenProfileFromFile(from.c_str(), "r");
    cmsHPROFILE b = cmsOpenProfileFromFile(to.c_str(), "r");
    cmsHTRANSFORM t = cmsCreateTransform(a, inFormat, b, TYPE_RGB_DBL, INTENT_PERCEPTUAL, 0);
    EXPECT_NE(t, nullptr);
    if (t)
        cmsDoTransform(t, plane.data.data(), values.data(), static_cast<cmsUInt32Number>(count));
    cmsDeleteTransform(t);
    cmsCloseProfile(a);
    cmsCloseProfile(b);
    const double top = outSpace == kRGB8 ? 255.0 : 65535.0;
    for (LONG y = 0; y < plane.height; ++y)
        for (LONG x = 0; x < plane.width; ++x)
            for (LONG c = 0; c < 3; ++c)
                result.SetSample(
                    x, y, c,
                    static_cast<ULONG>(std::lround(
                        std::clamp(values[(std::size_t(y) * plane.width + x) * 3 + c], 0.0, 1.0) * top)));
    return result;
}

// Every sample of one channel through a table.
void Apply(TestPlane& plane, LONG channel, const std::vector<USHORT>& table) {
    for (LONG y = 0; y < plane.height; ++y)
        for (LONG x = 0; x < plane.width; ++x)
            plane.SetSample(x, y, channel, table[plane.Sample(x, y, channel)]);
}

// To Lab and grey as lcms2 converts; between RGB profiles within a level of lcms2 in double precision.
TEST_F(CMLFilter, ConvertsLikeLcms2AtEveryTileSize) {
    struct Case {
        const char* name;
        const std::string& to;
        LONG inSpace, inBits, outBits;
        cmsUInt32Number inFormat, outFormat;
        LONG outSpace;
    };
    const Case cases[] = {
        {"RGB 8 to 8", wide, kRGB8, 8, 8, TYPE_RGB_8, TYPE_RGB_8, kRGB8},
        {"RGB 8 to 16", wide, kRGB8, 8, 16, TYPE_RGB_8, TYPE_RGB_16, kRGB16},
        {"RGB 16 to 16", wide, kRGB16, 16, 16, TYPE_RGB_16, TYPE_RGB_16, kRGB16},
        {"RGB to Lab 16", lab, kRGB16, 16, 16, TYPE_RGB_16, TYPE_Lab_16, kLab16},
        {"RGB to Lab 8", lab, kRGB8, 8, 8, TYPE_RGB_8, TYPE_Lab_8, kLab8},
        {"RGB to grey", grey, kRGB8, 8, 8, TYPE_RGB_8, TYPE_GRAY_8, kGrey8},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        CPravonFilterCMLEngine& engine = Engine(srgb, c.to);
        const TestPlane plane = MakePlane(45, 31, c.inSpace, FillPattern::Random, 17);
        TestPlane out;
        ASSERT_TRUE(SameAtEveryTileSize(Converting(plane, engine, c.inBits, c.outBits), &out));
        EXPECT_EQ(out.colorSpace, c.outSpace);
        if (&c.to == &wide)
            EXPECT_TRUE(PlanesMatch(Precise(srgb, c.inFormat, c.to, c.outSpace, plane), out, 1));
        else
            EXPECT_TRUE(PlanesMatch(Direct(srgb, c.inFormat, c.to, c.outFormat, plane, c.outSpace), out));
    }
}

TEST_F(CMLFilter, EquivalentProfilesPassTheSourceThrough) {
    const TestPlane plane = MakePlane(40, 24, kRGB8, FillPattern::Random, 4);
    CPravonFilterCMLEngine& same = Engine(srgb, srgb);
    CPravonFilterCMLEngine& copies = Engine(wide, wideCopy);
    for (CPravonFilterCMLEngine* engine : {&same, &copies}) {
        TestPlane out;
        bool passed = false;
        ASSERT_TRUE(SameAtEveryTileSize(
            Converting(plane, *engine, 8, 8,
                       [&](CPravonFilterCML& f) {
                           passed = f.IsPassThrough();
                           LONG filtered = 0;
                           EXPECT_PV_OK(f.GetFilteredColorSpace(nullptr, 0, &filtered));
                           EXPECT_EQ(filtered, kRGB8) << "the output colour space is still the destination's";
                           return nullptr;
                       }),
            &out));
        EXPECT_TRUE(passed);
        EXPECT_TRUE(PlanesMatch(plane, out));
    }
    bool passed = true;
    ASSERT_TRUE(SameAtEveryTileSize(Converting(plane, same, 8, 16, [&](CPravonFilterCML& f) {
        passed = f.IsPassThrough();
        return nullptr;
    })));
    EXPECT_FALSE(passed) << "a change of depth still converts";
}

// The tables around lcms2's conversion in double precision: the conversion within a level, which the
// squaring output table (rising by up to two levels a level) may make two.
TEST_F(CMLFilter, LookupTablesApplyOnEachSideAsAroundADirectTransform) {
    constexpr ULONG kThroughSquare = 2;
    std::vector<USHORT> invert(65536), square(65536), widen(256);
    for (std::size_t i = 0; i < invert.size(); ++i) {
        invert[i] = static_cast<USHORT>(65535 - i);
        square[i] = static_cast<USHORT>(i * i / 65535);
    }
    for (std::size_t i = 0; i < widen.size(); ++i)
        widen[i] = static_cast<USHORT>((255 - i) * 257);
    CPravonFilterCMLEngine& engine = Engine(srgb, wide);

    {
        SCOPED_TRACE("16-bit data, a set input table on green and a merged output table on blue");
        const TestPlane plane = MakePlane(45, 31, kRGB16, FillPattern::Random, 8);
        TestPlane out;
        ASSERT_TRUE(SameAtEveryTileSize(
            Converting(plane, engine, 16, 16,
                       [&](CPravonFilterCML& f) {
                           const USHORT* in[2] = {nullptr, invert.data()};
                           const USHORT* outTables[3] = {nullptr, nullptr, square.data()};
                           if (IPravonError* e = f.SetLUT(false, false, in, 16, 16, 2, false))
                               return e;
                           return f.SetLUT(true, true, outTables, 16, 16, 3, false);
                       }),
            &out));
        TestPlane before = plane;
        Apply(before, 1, invert);
        TestPlane expected = Precise(srgb, TYPE_RGB_16, wide, kRGB16, before);
        Apply(expected, 2, square);
        EXPECT_TRUE(PlanesMatch(expected, out, kThroughSquare));
    }
    {
        SCOPED_TRACE("8-bit data widened to 16 bits by input tables, an output table on red");
        const TestPlane plane = MakePlane(45, 31, kRGB8, FillPattern::Random, 9);
        TestPlane out;
        ASSERT_TRUE(SameAtEveryTileSize(
            Converting(plane, engine, 8, 16,
                       [&](CPravonFilterCML& f) {
                           const USHORT* in[3] = {widen.data(), widen.data(), widen.data()};
                           const USHORT* outTables[1] = {square.data()};
                           if (IPravonError* e = f.SetLUT(false, true, in, 8, 16, 3, false))
                               return e;
                           return f.SetLUT(true, false, outTables, 16, 16, 1, false);
                       }),
            &out));
        TestPlane before(plane.width, plane.height, kRGB16);
        for (LONG y = 0; y < plane.height; ++y)
            for (LONG x = 0; x < plane.width; ++x)
                for (LONG c = 0; c < 3; ++c)
                    before.SetSample(x, y, c, widen[plane.Sample(x, y, c)]);
        TestPlane expected = Precise(srgb, TYPE_RGB_16, wide, kRGB16, before);
        Apply(expected, 0, square);
        EXPECT_TRUE(PlanesMatch(expected, out, kThroughSquare));
    }
}

// A source image under the filter, with a recorder downstream.
struct Graph {
    explicit Graph(LONG colorSpace = kRGB8)
        : manager(16), plane(MakePlane(40, 20, colorSpace, FillPattern::Random, 6)),
          source(MakeImage(manager, plane)), probe(&manager, 0), filter(&manager) {
        EXPECT_PV_OK(PravonConnect(source.get(), &probe));
        EXPECT_PV_OK(PravonConnect(&probe, &filter));
        EXPECT_PV_OK(PravonConnect(&filter, &recorder));
    }
    ~Graph() {
        PravonErrorPtr(PravonDisconnect(&filter, &recorder));
        PravonErrorPtr(PravonDisconnect(&probe, &filter));
        PravonErrorPtr(PravonDisconnect(source.get(), &probe));
    }
    IPravonError* Pull() {
        TestPlane out;
        return PullAll(&filter, &out);
    }

    CPravonMemoryManager manager;
    TestPlane plane;
    PravonImagePtr source;
    ProbeFilter probe; // the source as the filter reads it; its calls show whether the filter read at all
    CPravonFilterCML filter;
    Recorder recorder;
};

TEST_F(CMLFilter, TablesAlreadyHeldChangeNothingAndAnnounceNothing) {
    Graph g;
    ASSERT_PV_OK(g.filter.SetCMLEngine(&Engine(srgb, srgb), false));
    ASSERT_TRUE(g.filter.IsPassThrough());
    ASSERT_PV_OK(g.filter.SetLUT(true, true, nullptr, 0, 0, 0, true)) << "the removal call on a fresh filter";
    EXPECT_TRUE(g.recorder.heard.empty());

    std::vector<USHORT> table(256);
    for (std::size_t i = 0; i < table.size(); ++i)
        table[i] = static_cast<USHORT>(255 - i);
    const USHORT* tables[3] = {table.data(), table.data(), table.data()};
    ASSERT_PV_OK(g.filter.SetLUT(false, false, tables, 8, 8, 3, true));
    ASSERT_EQ(g.recorder.heard.size(), 1u);
    EXPECT_EQ(g.recorder.heard[0].type, PravonNotification::kData);
    EXPECT_EQ(*g.recorder.heard[0].rect, CPravonRect(0, 0, 40, 20));
    EXPECT_TRUE(g.filter.AnyLUTs(false));
    EXPECT_FALSE(g.filter.IsPassThrough());

    const std::vector<USHORT> copy = table;
    const USHORT* same[3] = {copy.data(), copy.data(), copy.data()};
    ASSERT_PV_OK(g.filter.SetLUT(false, false, same, 8, 8, 3, true));
    EXPECT_EQ(g.recorder.heard.size(), 1u) << "equal tables are no change";

    ASSERT_PV_OK(g.filter.SetLUT(false, true, nullptr, 0, 0, 0, true));
    EXPECT_EQ(g.recorder.heard.size(), 2u);
    EXPECT_FALSE(g.filter.AnyLUTs(false));
    EXPECT_TRUE(g.filter.IsPassThrough()) << "without tables the filter has nothing to do again";
}

TEST_F(CMLFilter, LookupTableCallsOutOfRangeAreRefusedAndChangeNothing) {
    Graph g;
    ASSERT_PV_OK(g.filter.SetCMLEngine(&Engine(srgb, srgb), false));
    std::vector<USHORT> table(65536);
    const USHORT* five[5] = {table.data(), table.data(), table.data(), table.data(), table.data()};
    const USHORT* one[4] = {table.data(), nullptr, nullptr, nullptr};
    const USHORT* none[4] = {};
    EXPECT_PV_KIND(g.filter.SetLUT(false, false, five, 16, 16, 5, true), PravonKind::kOutOfRange);
    EXPECT_PV_KIND(g.filter.SetLUT(false, false, five, 16, 16, -1, true), PravonKind::kOutOfRange);
    EXPECT_PV_KIND(g.filter.SetLUT(true, false, five, 0, 0, 1, true), PravonKind::kOutOfRange);
    EXPECT_PV_KIND(g.filter.SetLUT(true, false, five, 17, 16, 1, true), PravonKind::kOutOfRange);
    EXPECT_PV_KIND(g.filter.SetLUT(true, false, five, 16, 0, 1, true), PravonKind::kOutOfRange);
    EXPECT_PV_KIND(g.filter.SetLUT(false, true, 0, 0, 1, one, true), PravonKind::kOutOfRange);
    EXPECT_PV_KIND(g.filter.SetLUT(false, true, 20, 20, 15, none, true), PravonKind::kOutOfRange);
    EXPECT_FALSE(g.filter.AnyLUTs(false));
    EXPECT_FALSE(g.filter.AnyLUTs(true));
    EXPECT_TRUE(g.filter.IsPassThrough());
    EXPECT_TRUE(g.recorder.heard.empty());
    EXPECT_PV_OK(g.filter.SetLUT(false, true, 0, 0, 15, none, true));
    EXPECT_PV_OK(g.filter.SetLUT(true, true, nullptr, 0, 0, 0, true));
}

TEST_F(CMLFilter, ASourceTheConversionCannotReadIsRefusedUnread) {
    {
        SCOPED_TRACE("8-bit source, 16-bit input");
        Graph g(kRGB8);
        ASSERT_PV_OK(g.filter.SetCMLEngine(&Engine(srgb, wide), false));
        ASSERT_PV_OK(g.filter.SetBitsPerComponent(false, 16, false));
        ASSERT_PV_OK(g.filter.SetBitsPerComponent(true, 16, false));
        EXPECT_PV_KIND(g.Pull(), PravonKind::kUnsupportedColorSpace);
        EXPECT_TRUE(g.probe.calls.empty()) << "the source was read";
        EXPECT_EQ(g.manager.GetLockCount(), 0);
        ASSERT_PV_OK(g.filter.SetBitsPerComponent(false, 8, false));
        EXPECT_PV_OK(g.Pull()) << "once the bits agree, the same tiles convert";
    }
    {
        SCOPED_TRACE("grey source, RGB source profile");
        Graph g(kGrey8);
        ASSERT_PV_OK(g.filter.SetCMLEngine(&Engine(srgb, wide), false));
        EXPECT_PV_KIND(g.Pull(), PravonKind::kUnsupportedColorSpace);
        EXPECT_TRUE(g.probe.calls.empty()) << "the source was read";
        EXPECT_EQ(g.manager.GetLockCount(), 0);
    }
}

TEST_F(CMLFilter, AnOutputColourSpaceOfZeroIsRefusedBeforeAnythingIsLocked) {
    Graph g;
    ASSERT_PV_OK(g.filter.SetCMLEngine(&Engine(srgb, wide), false));
    ASSERT_PV_OK(g.Pull());
    g.probe.calls.clear();
    // The cache keeps its 8-bit RGB tiles, while the conversion would now write 16-bit XYZ into them.
    ASSERT_PV_OK(g.filter.SetBitsPerComponent(true, 16, false));
    ASSERT_PV_OK(g.filter.SetCMLEngine(&Engine(srgb, Xyz()), false));
    LONG filtered = -1;
    ASSERT_PV_OK(g.filter.GetFilteredColorSpace(nullptr, 0, &filtered));
    EXPECT_EQ(filtered, 0);
    PravonErrorPtr err(g.Pull());
    ASSERT_TRUE(err);
    EXPECT_EQ(err->GetKind(), PravonKind::kUnsupportedColorSpace);
    EXPECT_EQ(err->GetComponent(), CPravonFilterCML::kCode) << err->Describe();
    EXPECT_TRUE(g.probe.calls.empty()) << "the source was read";
    EXPECT_EQ(g.manager.GetLockCount(), 0);
}

TEST_F(CMLFilter, TheOutputColourSpaceFollowsTheDestinationAndTheOutputBits) {
    CPravonMemoryManager manager;
    struct Case {
        const char* signature;
        LONG sixteen;
        LONG eight;
    };
    for (const Case& c :
         {Case{"CMYK", 0, 0x08080202}, Case{"YCbr", 0x10060205, 0}, Case{"GRAY", 0x10020001, kGrey8},
          Case{"Lch ", 0x10060203, 0x08060203}, Case{"XYZ ", 0, 0}}) {
        SCOPED_TRACE(c.signature);
        const std::string to = folder.Write(std::string("bare-") + c.signature[0] + ".icc",
                                            IccBytesWriter(true).ColorSpace(c.signature).Bytes());
        CPravonFilterCML filter(&manager);
        ASSERT_PV_OK(filter.SetCMLEngine(&Engine(srgb, to), false));
        LONG space = -1;
        ASSERT_PV_OK(filter.GetFilteredColorSpace(nullptr, 0, &space));
        EXPECT_EQ(space, c.eight);
        ASSERT_PV_OK(filter.SetBitsPerComponent(true, 16, false));
        ASSERT_PV_OK(filter.GetFilteredColorSpace(nullptr, 0, &space));
        EXPECT_EQ(space, c.sixteen);
    }
}

TEST_F(CMLFilter, WithoutAnEngineTheFilterReportsAMissingObject) {
    Graph g;
    EXPECT_EQ(g.filter.Channels(false), -1);
    LONG filtered = -1;
    ASSERT_PV_OK(g.filter.GetFilteredColorSpace(nullptr, 0, &filtered));
    EXPECT_EQ(filtered, 0);
    PravonImagePtr image = MakeImage(g.manager, MakePlane(8, 8, kRGB8, FillPattern::Constant, 0));
    IPravonTile* tile = nullptr;
    ASSERT_PV_OK(image->GetTile(0, 0, &tile));
    tile->Invalidate();
    EXPECT_PV_KIND(g.filter.ProcessTile(tile, nullptr), PravonKind::kInvalidState);
    EXPECT_TRUE(tile->IsWhollyInvalid());
    EXPECT_PV_KIND(g.filter.SetLUT(true, true, nullptr, 0, 0, 0, false), PravonKind::kInvalidState);
    bool merged = false;
    EXPECT_PV_KIND(g.filter.GetLUTInfo(false, 0, &merged, nullptr, nullptr), PravonKind::kInvalidState);
    EXPECT_EQ(g.manager.GetLockCount(), 0);

    ASSERT_PV_OK(g.filter.SetCMLEngine(nullptr, false));
    EXPECT_TRUE(g.filter.IsPassThrough()) << "with no engine set there is nothing to convert";
    EXPECT_PV_OK(g.Pull());
}

TEST_F(CMLFilter, SettersAnnounceWhatTheyChange) {
    Graph g;
    EXPECT_PV_KIND(g.filter.SetBitsPerComponent(false, 12, true), PravonKind::kBadArgument);
    EXPECT_EQ(g.filter.GetBitsPerComponent(false), 8);
    EXPECT_TRUE(g.recorder.heard.empty());

    ASSERT_PV_OK(g.filter.SetCMLEngine(&Engine(srgb, wide), false));
    ASSERT_PV_OK(g.filter.SetBitsPerComponent(true, 16, true));
    ASSERT_EQ(g.recorder.spaces.size(), 1u);
    EXPECT_EQ(g.recorder.spaces[0].oldColorSpace, kRGB8);
    EXPECT_EQ(g.recorder.spaces[0].newColorSpace, kRGB16);

    ASSERT_PV_OK(g.filter.SetCMLEngine(&Engine(srgb, lab), true));
    ASSERT_EQ(g.recorder.spaces.size(), 2u);
    EXPECT_EQ(g.recorder.spaces[1].oldColorSpace, kRGB16);
    EXPECT_EQ(g.recorder.spaces[1].newColorSpace, kLab16);

    g.recorder.Clear();
    ASSERT_PV_OK(g.filter.SetBitsPerComponent(false, 16, true));
    ASSERT_EQ(g.recorder.heard.size(), 1u);
    EXPECT_EQ(g.recorder.heard[0].type, PravonNotification::kData);
    EXPECT_EQ(*g.recorder.heard[0].rect, CPravonRect(0, 0, 40, 20));

    g.recorder.Clear();
    IPravonDataDestination::ChangeColorSpace change{kRGB8, kRGB16};
    ASSERT_PV_OK(PravonSendDataNotification(&g.probe, PravonNotification::kColorSpace, &change));
    ASSERT_EQ(g.recorder.heard.size(), 1u);
    EXPECT_EQ(g.recorder.heard[0].type, PravonNotification::kData)
        << "a new source colour space changes the pixels, not the output colour space";
}

} // namespace
