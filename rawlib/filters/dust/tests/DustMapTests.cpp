#include "testing/AllocationSeam.h"
#include "DustTestSupport.h"

#include "rawlib/filters/dust/CDustImageEncoder.h"
#include "rawlib/filters/dust/CDustMap.h"

#include "platform/pravon/CPravonMemoryManager.h"
#include "testing/ImageCompare.h"
#include "testing/PravonTestSupport.h"

#include <gtest/gtest.h>

namespace {

using namespace dusttest;
using kvtest::AllocationWatch;
using kvtest::FillPattern;
using kvtest::MakePlane;

constexpr LONG kBad = PravonKind::kNoSource;

struct MapParts {
    LONG width = 64;
    LONG height = 48;
    ULONG entries = 65792;
    Bytes tone;
    Bytes correction;
    Bytes second;
    kvtest::TestPlane correctionPlane;
    kvtest::TestPlane secondPlane;
};

MapParts Parts(LONG width, LONG height, bool withSecond, ULONG entries = 65792) {
    MapParts parts;
    parts.width = width;
    parts.height = height;
    parts.entries = entries;
    parts.tone = ToneStream(ToneTable(entries));
    parts.correctionPlane = MakePlane(width, height, PravonColorSpace::kGrey8, FillPattern::Coordinates);
    parts.correction = ZlibStream(Samples(parts.correctionPlane));
    if (withSecond) {
        parts.secondPlane = MakePlane(width, height, PravonColorSpace::kGrey8, FillPattern::Checker);
        parts.second = ZlibStream(Samples(parts.secondPlane));
    }
    return parts;
}

Bytes Blob(const MapParts& parts, MapFields fields = {}) {
    fields.width = static_cast<ULONG>(parts.width);
    fields.height = static_cast<ULONG>(parts.height);
    fields.toneEntries = parts.entries;
    return MapBlob(fields, parts.tone, parts.correction, parts.second);
}

IPravonError* Read(CDustMap& map, const Bytes& blob) {
    return map.ReadData(static_cast<ULONG>(blob.size()), blob.data());
}

Bytes Write(const CDustMap& map) {
    Bytes out(map.GetDataSize());
    EXPECT_PV_OK(map.WriteData(static_cast<ULONG>(out.size()), out.data()));
    return out;
}

TEST(DustMap, ReadsEveryPartAndWritesTheSameBytes) {
    for (bool withSecond : {false, true}) {
        for (ULONG entries : {65792u, 131072u}) {
            const MapParts parts = Parts(64, 48, withSecond, entries);
            const Bytes blob = Blob(parts);
            CPravonMemoryManager manager(16);
            CDustMap map(&manager);
            EXPECT_EQ(map.GetDataSize(), 0u);
            ASSERT_PV_OK(Read(map, blob));
            EXPECT_TRUE(map.IsComplete());
            EXPECT_EQ(map.GetState(), 14);
            EXPECT_EQ(map.GetDataSize(),
                      40 + parts.tone.size() + parts.correction.size() + parts.second.size());
            EXPECT_EQ(map.GetToneTable(), ToneTable(entries));
            EXPECT_TRUE(kvtest::PlanesMatch(parts.correctionPlane, Pull(map.GetCorrectionMap())));
            if (withSecond)
                EXPECT_TRUE(kvtest::PlanesMatch(parts.secondPlane, Pull(map.GetSecondMap())));
            else
                EXPECT_EQ(map.GetSecondMap(), nullptr);
            EXPECT_EQ(Write(map), blob) << "second map " << withSecond << ", " << entries << " entries";
        }
    }
}

TEST(DustMap, OrientationWordGivesBothMapsFlipAndAngle) {
    const MapParts parts = Parts(30, 20, true);
    MapFields fields;
    fields.orientation = 181;
    CPravonMemoryManager manager;
    CDustMap map(&manager);
    ASSERT_PV_OK(Read(map, Blob(parts, fields)));
    for (IPravonImage* image : {map.GetCorrectionMap(), map.GetSecondMap()}) {
        bool flip = false;
        double angle = 0;
        double resolution = 0;
        ASSERT_PV_OK(image->GetTransform(&flip, &angle));
        ASSERT_PV_OK(image->GetResolution(&resolution));
        EXPECT_TRUE(flip);
        EXPECT_EQ(angle, 90.0);
        EXPECT_EQ(resolution, 300.0);
    }
    EXPECT_EQ(map.GetOrientationWord(), 181u);
}

// Streams whose lengths are whole numbers of blocks are written whole, whether the blocks came from reading
// a blob or from compressing a map.
TEST(DustMap, StreamsOfWholeBlocksAndOneByteMoreAreWrittenWhole) {
    for (std::size_t length :
         {std::size_t{16384}, std::size_t{16385}, std::size_t{32768}, std::size_t{32769}}) {
        MapParts parts;
        parts.width = 200;
        parts.height = static_cast<LONG>(length / 150);
        const Bytes samples = SamplesWithStreamOf(length, parts.width, parts.height);
        ASSERT_FALSE(samples.empty());
        parts.tone = ToneStream(ToneTable(parts.entries));
        parts.correction = ZlibStream(samples);
        parts.second = parts.correction;
        ASSERT_EQ(parts.correction.size(), length);

        const Bytes blob = Blob(parts);
        CPravonMemoryManager manager;
        CDustMap read(&manager);
        ASSERT_PV_OK(Read(read, blob));
        EXPECT_EQ(Write(read), blob) << "read blocks, stream of " << length;

        // The same streams from the engine's own compression.
        PravonImagePtr image = kvtest::MakeImage(manager, PlaneOf(parts.width, parts.height, samples));
        CDustBlockList fresh;
        ASSERT_PV_OK(CDustImageEncoder::Encode(image.get(), &fresh));
        ASSERT_EQ(fresh.GetLength(), length);
        DustMapHeader header;
        header.width = static_cast<ULONG>(parts.width);
        header.height = static_cast<ULONG>(parts.height);
        header.toneEntries = parts.entries;
        Bytes written(blob.size());
        ASSERT_PV_OK(KvDust::WriteMap(header, parts.tone, fresh, fresh, written.size(), written.data()));
        EXPECT_EQ(written, blob) << "compressed blocks, stream of " << length;
    }
}

TEST(DustMap, ToneTablesOfOtherSizesAreRefused) {
    const MapParts good = Parts(16, 16, false);
    struct Case {
        ULONG stated;
        ULONG compressed; // entries actually in the stream
        LONG kind;
    };
    for (const Case c :
         {Case{65791, 65791, PravonKind::kBadArgument}, Case{65793, 65793, PravonKind::kBadArgument},
          Case{0, 0, PravonKind::kBadArgument}, Case{0xFFFFFFFF, 65792, PravonKind::kBadArgument},
          Case{0x80000000, 65792, PravonKind::kBadArgument}, Case{65792, 65791, kBad},
          Case{65792, 65793, kBad}, Case{131072, 65792, kBad}}) {
        MapParts parts = good;
        std::vector<WORD> table = ToneTable(65792);
        table.resize(c.compressed, 3);
        parts.tone = ToneStream(table);
        parts.entries = c.stated;
        CPravonMemoryManager manager;
        CDustMap map(&manager);
        AllocationWatch watch;
        EXPECT_PV_KIND(Read(map, Blob(parts)), c.kind)
            << c.stated << " stated, " << c.compressed << " stored";
        EXPECT_LE(watch.GetLargest(), 2u * 131072 + 1) << c.stated;
        EXPECT_FALSE(map.IsComplete());
    }
}

TEST(DustMap, LyingHeadersAreRefusedBeforeAnythingIsMade) {
    const MapParts parts = Parts(40, 30, true);
    const Bytes blob = Blob(parts);
    const ULONG t = static_cast<ULONG>(parts.tone.size());
    struct Case {
        const char* what;
        MapFields fields;
    };
    const auto with = [&](auto change) {
        MapFields f;
        f.width = static_cast<ULONG>(parts.width);
        f.height = static_cast<ULONG>(parts.height);
        f.toneEntries = parts.entries;
        change(f);
        return f;
    };
    const Case cases[] = {
        {"header size 27", with([](MapFields& f) { f.headerSize = 27; })},
        {"another magic", with([](MapFields& f) { f.magic = 0x52747344; })},
        {"tone length wraps the sum", with([](MapFields& f) { f.toneLength = 0xFFFFFFF0; })},
        {"correction length wraps the sum", with([](MapFields& f) { f.correctionLength = 0xFFFFFF00; })},
        {"second length wraps the sum", with([](MapFields& f) { f.secondLength = 0xFFFFFFFF; })},
        {"header size wraps the sum", with([](MapFields& f) { f.headerSize = 0xFFFFFFE0; })},
        {"all lengths half the range", with([](MapFields& f) {
             f.toneLength = 0x80000000;
             f.correctionLength = 0x80000000;
         })},
        {"one byte more than the blob",
         with([&](MapFields& f) { f.secondLength = static_cast<ULONG>(parts.second.size() + 1); })},
        {"tone length inside the maps", with([&](MapFields& f) { f.toneLength = t + 5; })},
        {"width 70000", with([](MapFields& f) { f.width = 70000; })},
        {"height 0", with([](MapFields& f) { f.height = 0; })},
        {"a second map without a correction map", with([&](MapFields& f) {
             f.correctionLength = 0;
             f.secondLength = static_cast<ULONG>(parts.correction.size() + parts.second.size());
         })},
    };
    for (const Case& c : cases) {
        const Bytes lying = MapBlob(c.fields, parts.tone, parts.correction, parts.second);
        CPravonMemoryManager manager;
        CDustMap map(&manager);
        AllocationWatch watch;
        EXPECT_PV_KIND(Read(map, lying), kBad) << c.what;
        EXPECT_LT(watch.GetLargest(), 2u * 65792 + 2) << c.what;
        EXPECT_EQ(manager.GetImageCount(), 0u) << c.what;
    }
    // Cut anywhere, the blob is refused.
    for (std::size_t size = 0; size < blob.size(); size += 37) {
        CPravonMemoryManager manager;
        CDustMap map(&manager);
        PravonErrorPtr error(map.ReadData(static_cast<ULONG>(size), size ? blob.data() : nullptr));
        EXPECT_NE(error, nullptr) << size;
        EXPECT_EQ(manager.GetImageCount(), 0u) << size;
    }
}

TEST(DustMap, AMapWithoutDustRoundTrips) {
    MapParts parts = Parts(50, 40, false);
    parts.correction.clear();
    const Bytes blob = Blob(parts);
    CPravonMemoryManager manager;
    CDustMap map(&manager);
    ASSERT_PV_OK(Read(map, blob));
    EXPECT_TRUE(map.IsComplete());
    EXPECT_EQ(map.GetCorrectionMap(), nullptr);
    EXPECT_EQ(map.GetDataSize(), 40 + parts.tone.size());
    EXPECT_EQ(Write(map), blob);
}

TEST(DustMap, AFailedReadKeepsWhatTheMapHeld) {
    const MapParts first = Parts(32, 24, true);
    const Bytes blob = Blob(first);
    CPravonMemoryManager manager;
    CDustMap map(&manager);
    ASSERT_PV_OK(Read(map, blob));
    IPravonImage* correction = map.GetCorrectionMap();
    MapParts broken = Parts(48, 36, true);
    broken.second.resize(broken.second.size() - 6); // the second map's stream is cut short
    EXPECT_PV_KIND(Read(map, Blob(broken)), kBad);
    EXPECT_EQ(map.GetCorrectionMap(), correction);
    EXPECT_EQ(map.GetWidth(), 32);
    EXPECT_EQ(Write(map), blob);
    EXPECT_EQ(manager.GetImageCount(), 2u) << "the images decoded for the failed read are gone";
}

TEST(DustMap, WritingNeedsACompleteMapAndRoomForIt) {
    CPravonMemoryManager manager;
    CDustMap map(&manager);
    Bytes out(100000);
    EXPECT_PV_KIND(map.WriteData(static_cast<ULONG>(out.size()), out.data()), kBad);
    ASSERT_PV_OK(Read(map, Blob(Parts(20, 20, false))));
    const ULONG size = map.GetDataSize();
    EXPECT_PV_KIND(map.WriteData(size - 1, out.data()), PravonKind::kMissingInput);
    EXPECT_PV_OK(map.WriteData(size, out.data()));
}

TEST(DustMap, LoadDustMapReplacesOrDropsTheMap) {
    CPravonMemoryManager manager;
    const Bytes blob = Blob(Parts(20, 20, true));
    std::shared_ptr<CDustMap> map;
    EXPECT_EQ(CDustMap::LoadDustMap(&manager, blob.data(), static_cast<ULONG>(blob.size()), &map), 0);
    ASSERT_NE(map, nullptr);
    const std::shared_ptr<CDustMap> held = map;
    EXPECT_EQ(CDustMap::LoadDustMap(&manager, blob.data(), 0, &map), 2);
    EXPECT_EQ(map, held) << "bad arguments keep the current map";
    EXPECT_EQ(CDustMap::LoadDustMap(nullptr, blob.data(), static_cast<ULONG>(blob.size()), &map), 2);
    EXPECT_EQ(CDustMap::LoadDustMap(&manager, blob.data(), 30, &map), 7);
    EXPECT_EQ(map, nullptr) << "the current map is dropped before reading";
    EXPECT_TRUE(held->IsComplete()) << "whoever still holds the old map keeps it whole";
}

} // namespace
