#include "DustTestSupport.h"

#include "rawlib/filters/dust/CFltDust.h"

#include "platform/pravon/CPravonMemoryManager.h"
#include "platform/pravon/PravonGraph.h"
#include "testing/ImageCompare.h"
#include "testing/NotificationRecorder.h"
#include "testing/PravonTestSupport.h"
#include "testing/PullAll.h"
#include "testing/TileSizeSweep.h"

#include <gtest/gtest.h>

#include <cmath>

namespace {

using namespace dusttest;
using kvtest::FillPattern;
using kvtest::MakeImage;
using kvtest::MakePlane;
using kvtest::TestPlane;

constexpr LONG kUnsupported = PravonKind::kOutOfRange;

// A complete map of the given correction values (8-bit plane) and a ramp tone table of `entries`.
std::shared_ptr<CDustMap> MakeMap(IPravonManager& manager, const TestPlane& correction,
                                  ULONG entries = 131072) {
    MapFields fields;
    fields.width = static_cast<ULONG>(correction.width);
    fields.height = static_cast<ULONG>(correction.height);
    fields.toneEntries = entries;
    const Bytes blob = MapBlob(fields, ToneStream(ToneTable(entries)), ZlibStream(Samples(correction)), {});
    std::shared_ptr<CDustMap> map;
    EXPECT_EQ(CDustMap::LoadDustMap(&manager, blob.data(), static_cast<ULONG>(blob.size()), &map), 0);
    return map;
}

TestPlane Constant(LONG width, LONG height, LONG colorSpace, ULONG value) {
    return MakePlane(width, height, colorSpace, FillPattern::Constant, value);
}

// The correction worked by hand from its definition: the gain (128 - b) / b as a real number cut to the
// table's precision, applied in linear light (the ramp tables of the test maps) or to the samples.
ULONG Reference(ULONG v, BYTE b, bool direct, bool eightBit, ULONG entries) {
    if (b >= 128)
        return v;
    const auto raise = [&](ULONG u) -> ULONG {
        if (b == 0)
            return u == 0 ? 0 : 65535;
        int shift = 0;
        const double gain = 128.0 / b - 1;
        while (gain * std::ldexp(1.0, shift + 1) < 65536)
            ++shift;
        const auto multiplier = static_cast<std::uint64_t>(std::floor(gain * std::ldexp(1.0, shift)));
        return static_cast<ULONG>(std::min<std::uint64_t>(65535, u + ((u * multiplier) >> shift)));
    };
    const ULONG max = eightBit ? 255 : 65535;
    if (direct)
        return std::min(max, raise(v));
    // Made once per size: the references run over every sample of the sweeps.
    static const std::vector<WORD> table8 = ToneTable(65792);
    static const std::vector<WORD> table16 = ToneTable(131072);
    const std::vector<WORD>& table = entries == 65792 ? table8 : table16;
    const ULONG forward = entries - 65536;
    return table[forward + raise(table[v])] & max;
}

// Each channel of every pixel through Reference, with the map centred on the source.
TestPlane ReferenceOutput(const TestPlane& source, const TestPlane& map, bool direct, ULONG entries) {
    TestPlane out = source;
    const bool eightBit = source.BitsPerSample() == 8;
    const LONG dx = (map.width - source.width) / 2;
    const LONG dy = (map.height - source.height) / 2;
    for (LONG y = 0; y < source.height; ++y)
        for (LONG x = 0; x < source.width; ++x) {
            const LONG mx = x + dx;
            const LONG my = y + dy;
            const BYTE b = mx >= 0 && my >= 0 && mx < map.width && my < map.height ? map.Row(my)[mx] : 128;
            for (LONG c = 0; c < source.Channels(); ++c) {
                const std::size_t i = static_cast<std::size_t>(x * source.Channels() + c);
                if (eightBit)
                    out.Row(y)[i] = static_cast<BYTE>(Reference(source.Row(y)[i], b, direct, true, entries));
                else
                    reinterpret_cast<WORD*>(out.Row(y))[i] = static_cast<WORD>(Reference(
                        reinterpret_cast<const WORD*>(source.Row(y))[i], b, direct, false, entries));
            }
        }
    return out;
}

struct Pulled {
    PravonErrorPtr error;
    TestPlane plane;
};

Pulled Correct(const TestPlane& source, std::shared_ptr<CDustMap> map, bool direct) {
    CPravonMemoryManager manager;
    PravonImagePtr image = MakeImage(manager, source);
    CFltDust filter(&manager);
    Pulled result;
    if ((result.error = PravonErrorPtr(PravonConnect(image.get(), &filter))))
        return result;
    if ((result.error = PravonErrorPtr(filter.SetDustMap(std::move(map), false))))
        return result;
    if ((result.error = PravonErrorPtr(filter.SetDirectGain(direct, false))))
        return result;
    result.error = PravonErrorPtr(kvtest::PullAll(&filter, &result.plane));
    return result;
}

TEST(DustFilter, GainTableHoldsTheInverseFractionAtTheLargestPrecision) {
    const auto& table = CFltDust::GainTable();
    EXPECT_EQ(table[0].shift, 0);
    EXPECT_EQ(table[0].multiplier, 65535);
    for (int b = 1; b < 128; ++b) {
        SCOPED_TRACE("map value " + std::to_string(b));
        const double gain = 128.0 / b - 1;
        EXPECT_LT(gain * std::ldexp(1.0, table[b].shift), 65536.0);
        EXPECT_GE(gain * std::ldexp(1.0, table[b].shift + 1), 65536.0) << "a larger shift would still fit";
        EXPECT_EQ(table[b].multiplier, static_cast<WORD>(std::floor(gain * std::ldexp(1.0, table[b].shift))));
    }
    const struct {
        int value;
        int shift;
        int multiplier;
    } worked[] = {{1, 9, 65024}, {2, 10, 64512}, {3, 10, 42666}, {64, 15, 32768}, {127, 22, 33026}};
    for (const auto& w : worked) {
        EXPECT_EQ(table[w.value].shift, w.shift) << w.value;
        EXPECT_EQ(table[w.value].multiplier, w.multiplier) << w.value;
    }
}

TEST(DustFilter, CorrectsSinglePixelsAsWorkedByHand) {
    const struct {
        const char* name;
        LONG colorSpace;
        ULONG sample;
        BYTE dust;
        bool direct;
        ULONG entries;
        ULONG expected;
    } cases[] = {
        {"half the light doubles an 8-bit sample", PravonColorSpace::kRGB8, 100, 64, true, 65792, 200},
        {"and clamps at the 8-bit maximum", PravonColorSpace::kRGB8, 200, 64, true, 65792, 255},
        {"a value of 127 raises 40000 by 314", PravonColorSpace::kGrey16, 40000, 127, true, 131072, 40314},
        {"a value of 0 saturates", PravonColorSpace::kRGB16, 1, 0, true, 131072, 65535},
        {"a value of 0 leaves black black", PravonColorSpace::kGrey8, 0, 0, true, 65792, 0},
        {"128 is no dust", PravonColorSpace::kRGB16, 1234, 128, true, 131072, 1234},
        {"255 is no dust", PravonColorSpace::kGrey8, 77, 255, false, 65792, 77},
        {"through the tone table in linear light", PravonColorSpace::kRGB8, 100, 64, false, 65792, 200},
        {"tone table clamps before the inverse", PravonColorSpace::kGrey16, 50000, 64, false, 131072, 65535},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        CPravonMemoryManager manager;
        const TestPlane source = Constant(3, 2, c.colorSpace, c.sample);
        Pulled out = Correct(
            source, MakeMap(manager, Constant(3, 2, PravonColorSpace::kGrey8, c.dust), c.entries), c.direct);
        ASSERT_PV_OK(out.error.release());
        EXPECT_TRUE(kvtest::PlanesMatch(Constant(3, 2, c.colorSpace, c.expected), out.plane));
    }
}

TEST(DustFilter, CentresTheMapAndReadsNoDustOutsideIt) {
    CPravonMemoryManager manager;
    // Map values 0..127 across, so every column shows which map column it read.
    TestPlane map = MakePlane(40, 12, PravonColorSpace::kGrey8, FillPattern::Constant, 0);
    for (LONG y = 0; y < map.height; ++y)
        for (LONG x = 0; x < map.width; ++x)
            map.Row(y)[x] = static_cast<BYTE>(x * 3 + 1);
    const struct {
        const char* name;
        LONG width;
        LONG height;
    } cases[] = {{"10 narrower: from map column 5 on", 30, 12},
                 {"10 wider: 5 columns of no dust each side", 50, 12},
                 {"taller and narrower", 37, 19},
                 {"the same size", 40, 12}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const TestPlane source =
            MakePlane(c.width, c.height, PravonColorSpace::kRGB8, FillPattern::Random, 9);
        for (bool direct : {true, false}) {
            Pulled out = Correct(source, MakeMap(manager, map, 65792), direct);
            ASSERT_PV_OK(out.error.release());
            EXPECT_TRUE(kvtest::PlanesMatch(ReferenceOutput(source, map, direct, 65792), out.plane));
        }
    }
}

TEST(DustFilter, EveryModeMatchesTheReferenceAtTileSizes16And256) {
    const TestPlane map = MakePlane(61, 45, PravonColorSpace::kGrey8, FillPattern::Random, 5);
    for (LONG colorSpace : {PravonColorSpace::kGrey8, PravonColorSpace::kRGB8, PravonColorSpace::kGrey16,
                            PravonColorSpace::kRGB16, PravonColorSpace::kRawMosaic16}) {
        for (bool direct : {true, false}) {
            SCOPED_TRACE(std::to_string(colorSpace) + (direct ? " direct" : " tone table"));
            const TestPlane source = MakePlane(57, 43, colorSpace, FillPattern::Random, 11);
            // The tone table of the source's depth: 256 or 65536 forward entries, then the inverse.
            const ULONG entries = PravonColorSpace::BitsPerSample(colorSpace) == 8 ? 65792 : 131072;
            TestPlane first;
            EXPECT_TRUE(kvtest::SameAtEveryTileSize(
                [&](IPravonManager& m, kvtest::TestGraph& graph) -> IPravonError* {
                    IPravonImage* image = graph.Own(MakeImage(m, source));
                    auto* held = graph.Own(new std::shared_ptr<CDustMap>(MakeMap(m, map, entries)));
                    auto* filter = graph.Own(new CFltDust(&m));
                    graph.output = filter;
                    if (IPravonError* e = PravonConnect(image, filter))
                        return e;
                    if (IPravonError* e = filter->SetDirectGain(direct, false))
                        return e;
                    return filter->SetDustMap(*held, false);
                },
                &first, {16, 256}));
            EXPECT_TRUE(kvtest::PlanesMatch(ReferenceOutput(source, map, direct, entries), first));
        }
    }
}

TEST(DustFilter, RefusesSourcesItCannotCorrect) {
    CPravonMemoryManager manager;
    const auto map = MakeMap(manager, Constant(8, 8, PravonColorSpace::kGrey8, 64), 65792);
    EXPECT_PV_KIND(Correct(Constant(8, 8, PravonColorSpace::kCMYK8, 9), map, true).error.release(),
                   kUnsupported);
    // A 16-bit sample has no forward entry in a table made for 8-bit images.
    EXPECT_PV_KIND(Correct(Constant(8, 8, PravonColorSpace::kRGB16, 9), map, false).error.release(),
                   kUnsupported);
    EXPECT_PV_OK(Correct(Constant(8, 8, PravonColorSpace::kRGB16, 9), map, true).error.release());
    // And an 8-bit sample would read a 16-bit table's first entries, the deepest shadows, for every level:
    // refused too, while the direct gain needs no table.
    const auto deep = MakeMap(manager, Constant(8, 8, PravonColorSpace::kGrey8, 64), 131072);
    for (const LONG eightBit : {PravonColorSpace::kGrey8, PravonColorSpace::kRGB8}) {
        EXPECT_PV_KIND(Correct(Constant(8, 8, eightBit, 100), deep, false).error.release(), kUnsupported);
        EXPECT_PV_OK(Correct(Constant(8, 8, eightBit, 100), deep, true).error.release());
    }
}

TEST(DustFilter, NoMapAnIncompleteOneOrOneWithoutDustPassesTheImageThrough) {
    CPravonMemoryManager manager;
    const TestPlane source = MakePlane(20, 10, PravonColorSpace::kRGB16, FillPattern::Random, 2);
    MapFields fields;
    fields.width = 20;
    fields.height = 10;
    fields.toneEntries = 131072;
    const Bytes clean = MapBlob(fields, ToneStream(ToneTable(131072)), {}, {});
    auto withoutDust = std::make_shared<CDustMap>(&manager);
    ASSERT_PV_OK(withoutDust->ReadData(static_cast<ULONG>(clean.size()), clean.data()));
    ASSERT_TRUE(withoutDust->IsComplete());
    for (const auto& map : {std::shared_ptr<CDustMap>(), std::make_shared<CDustMap>(&manager), withoutDust}) {
        Pulled out = Correct(source, map, false);
        ASSERT_PV_OK(out.error.release());
        EXPECT_TRUE(kvtest::PlanesMatch(source, out.plane));
    }
}

TEST(DustFilter, AMapDroppedByItsOwnerStillServesTheFilter) {
    CPravonMemoryManager manager;
    const TestPlane source = Constant(16, 16, PravonColorSpace::kGrey8, 60);
    CFltDust filter(&manager);
    PravonImagePtr image = MakeImage(manager, source);
    ASSERT_PV_OK(PravonConnect(image.get(), &filter));
    {
        auto owned = MakeMap(manager, Constant(16, 16, PravonColorSpace::kGrey8, 64), 65792);
        ASSERT_PV_OK(filter.SetDustMap(owned, false));
        ASSERT_PV_OK(filter.SetDirectGain(true, false));
    } // the record lets its map go here
    TestPlane out;
    ASSERT_PV_OK(kvtest::PullAll(&filter, &out));
    EXPECT_TRUE(kvtest::PlanesMatch(Constant(16, 16, PravonColorSpace::kGrey8, 120), out));
}

TEST(DustFilter, AnnouncesOnlyChangesOfTheMapOrTheGainMode) {
    CPravonMemoryManager manager;
    PravonImagePtr image = MakeImage(manager, Constant(16, 16, PravonColorSpace::kGrey8, 60));
    CFltDust filter(&manager);
    kvtest::NotificationRecorder recorder;
    ASSERT_PV_OK(PravonConnect(image.get(), &filter));
    ASSERT_PV_OK(PravonConnect(&filter, &recorder));
    const auto map = MakeMap(manager, Constant(16, 16, PravonColorSpace::kGrey8, 64), 65792);
    const auto sameBytes = MakeMap(manager, Constant(16, 16, PravonColorSpace::kGrey8, 64), 65792);
    const auto other = MakeMap(manager, Constant(16, 16, PravonColorSpace::kGrey8, 32), 65792);
    const struct {
        const char* name;
        std::function<IPravonError*()> set;
        std::size_t heard;
        bool passThrough;
    } steps[] = {
        {"a complete map", [&] { return filter.SetDustMap(map, true); }, 1, false},
        {"the same map again", [&] { return filter.SetDustMap(map, true); }, 0, false},
        {"another map of the same bytes", [&] { return filter.SetDustMap(sameBytes, true); }, 0, false},
        {"another map", [&] { return filter.SetDustMap(other, true); }, 1, false},
        {"without notify", [&] { return filter.SetDustMap(map, false); }, 0, false},
        {"direct gain", [&] { return filter.SetDirectGain(true, true); }, 1, false},
        {"direct gain unchanged", [&] { return filter.SetDirectGain(true, true); }, 0, false},
        {"an incomplete map", [&] { return filter.SetDustMap(std::make_shared<CDustMap>(&manager), true); },
         1, true},
        {"the complete map back", [&] { return filter.SetDustMap(map, true); }, 1, false},
        {"no map", [&] { return filter.SetDustMap(nullptr, true); }, 1, true},
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(s.name);
        recorder.Clear();
        ASSERT_PV_OK(s.set());
        EXPECT_EQ(recorder.Count(PravonNotification::kData), s.heard);
        if (s.heard) {
            const PravonRect whole{0, 0, 16, 16};
            EXPECT_EQ(*recorder.heard.back().rect, whole);
        }
        EXPECT_EQ(filter.IsPassThrough(), s.passThrough);
    }
}

} // namespace
