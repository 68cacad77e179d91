#include "AllSettings.h"
#include "RecordConformance.h"

#include "rawlib/settings/KvStateIds.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <numeric>

namespace {

using kvtest::AllSettings;
using kvtest::Bytes;
using kvtest::RecordBytes;
namespace Ids = KvStateIds;
using Set = CKvImageProcSet;

constexpr LONG kWidth = 3008;
constexpr LONG kHeight = 2000;

// Every record away from its defaults, every enable byte set, a 70,000-byte dust reference among them.
void Fill(AllSettings& s, Set& set, std::size_t dustBytes = 70000) {
    CKvUSM usm;
    usm.SetAmountCode(120);
    usm.SetRadiusCode(7);
    s.usmList.Append(usm);
    s.lutGroup1.SetContrast(0.25);
    s.lutGroup2.SetContrast(-0.5);
    s.lutGroup3.SetContrast(0.75);
    s.revelation.SetFirstAmount(12);
    s.exposure.SetCompensation(-1.5);
    s.exposure.SetMode(2);
    s.whiteBalance.SetMode(CKvWBAdjustment::kModeTemperature);
    s.whiteBalance.SetTemperature(5200);
    s.whiteBalance.SetGains(1.25, 0.875);
    s.noiseReduction.SetLevel(3);
    s.vignette.SetAmount(42);
    s.redEye.SetMode(CKvFnRedEye::kModeAutomatic);
    ASSERT_TRUE(s.dustRemoval.SetReferenceSize(static_cast<DWORD>(dustBytes)));
    for (std::size_t i = 0; i < dustBytes; ++i)
        s.dustRemoval.GetReference()[i] = static_cast<BYTE>(i * 7);
    // The size state of the picture in the orientation the set carries, as a reader leaves it.
    s.sizeRes = CKvSizeRes(kWidth, kHeight, nullptr, UnitValue{300.0, UnitValue::kPixelsPerInch});
    s.sizeRes.SetOrientation(1, 270, 1);
    s.general.SetValue(1, 9);
    s.fisheye.SetMode(5);
    s.chromaBooster.SetAmount(30);
    s.brightness.SetValue(0.4);
    s.Attach(set);
    BYTE value = 1;
    for (BYTE* enabled :
         {&set.usmListEnabled, &set.lutGroup1Enabled, &set.lutGroup2Enabled, &set.revelationEnabled,
          &set.lutGroup3Enabled, &set.exposureEnabled, &set.whiteBalanceEnabled, &set.noiseReductionEnabled,
          &set.vignetteEnabled, &set.redEyeEnabled, &set.dustEnabled, &set.fisheyeEnabled,
          &set.filterPluginsEnabled, &set.chromaBoosterEnabled, &set.brightnessEnabled})
        *enabled = value++;
    set.orientation = 1;
    set.rotation = 270;
    set.extraBlock = {1, 2, 3, 4, 5, 6, 7};
    const BYTE opaque[] = {0xDE, 0xAD, 0xBE, 0xEF, 0x01};
    set.opaqueBlock.Set(opaque, sizeof opaque);
}

// Four channels as the reader leaves a version-2 LUT group, so that a second write is comparable.
void GiveFourChannels(CKvLutGroup& group) {
    for (LONG id = 1; group.GetChannelCount() < 4; ++id)
        group.AddLutChannel(id);
}

Bytes Write(Set& set) {
    Bytes blob(static_cast<std::size_t>(set.GetStateSize()));
    EXPECT_EQ(set.WriteState(blob.data(), static_cast<int>(blob.size())), static_cast<int>(blob.size()));
    return blob;
}

int Read(Set& set, const Bytes& blob) {
    return set.ReadFromTag(blob.data(), static_cast<int>(blob.size()), kWidth, kHeight);
}

// A version-2 blob of the given items, framed by hand.
Bytes Blob(const std::vector<Bytes>& items, WORD version = 2) {
    Bytes body;
    for (const Bytes& item : items)
        body.insert(body.end(), item.begin(), item.end());
    return RecordBytes(Ids::kImageProcSet, version).Length().Raw(body);
}

Bytes Marker(const KvStateId& id, BYTE value) {
    return RecordBytes(id, 1).Length().U8(value);
}

Bytes OfRecord(IKvState& record) {
    Bytes bytes(static_cast<std::size_t>(record.GetStateSize()));
    record.WriteState(bytes.data(), static_cast<int>(bytes.size()));
    return bytes;
}

TEST(ImageProcSet, AFullAggregateRoundTripsByteForByte) {
    AllSettings a;
    Set written;
    Fill(a, written);
    for (CKvLutGroup* g : {&a.lutGroup1, &a.lutGroup2, &a.lutGroup3})
        GiveFourChannels(*g);
    const Bytes blob = Write(written);
    EXPECT_GT(blob.size(), 70000u);

    AllSettings b;
    Set read;
    b.Attach(read);
    EXPECT_EQ(Read(read, blob), static_cast<int>(blob.size()));
    EXPECT_EQ(read.recordsDone, written.recordsDone & ~DWORD{0});
    EXPECT_EQ(read.markersDone, written.markersDone);
    EXPECT_EQ(read.alwaysMarkerValue, 1);
    EXPECT_EQ(read.curvesRebuilt, 0);
    EXPECT_TRUE(a.dustRemoval == b.dustRemoval);
    EXPECT_TRUE(a.vignette == b.vignette);
    EXPECT_TRUE(a.brightness == b.brightness);
    EXPECT_TRUE(a.whiteBalance == b.whiteBalance);
    EXPECT_TRUE(a.sizeRes == b.sizeRes);
    EXPECT_TRUE(a.exposure == b.exposure);
    EXPECT_TRUE(a.noiseReduction == b.noiseReduction);
    EXPECT_TRUE(a.fisheye == b.fisheye);
    EXPECT_TRUE(a.filterPlugins == b.filterPlugins);
    EXPECT_TRUE(a.chromaBooster == b.chromaBooster);
    EXPECT_TRUE(a.general == b.general);
    EXPECT_TRUE(a.redEye == b.redEye);
    EXPECT_TRUE(a.usmList == b.usmList);
    EXPECT_TRUE(a.revelation == b.revelation);
    EXPECT_TRUE(read.opaqueBlock == written.opaqueBlock);
    EXPECT_EQ(read.extraBlock, written.extraBlock);
    EXPECT_EQ(read.orientation, 1);
    EXPECT_EQ(read.rotation, 270);
    const Bytes again = Write(read);
    ASSERT_EQ(again.size(), blob.size());
    const auto diff = std::mismatch(again.begin(), again.end(), blob.begin());
    EXPECT_EQ(diff.first - again.begin(), static_cast<std::ptrdiff_t>(blob.size())) << "first difference";
}

TEST(ImageProcSet, ANewSetWithoutRecordsWritesTheValueItemsAndTheMarkersThatStandAlone) {
    Set set;
    // 12 markers (all but the sharpening and three curve markers), orientation 23, rotation 24, extra 50.
    const int expected = 22 + 12 * 23 + 23 + 24 + 50;
    EXPECT_EQ(set.GetStateSize(), expected);
    Bytes blob = Write(set);
    EXPECT_EQ(KvGetValue(blob.data() + 18, 4), static_cast<std::uint64_t>(expected - 18));
    EXPECT_EQ(set.recordsDone, Set::kOrientation | Set::kRotation | Set::kExtraBlock);
    const DWORD curves = Set::kUsmList | Set::kLutGroup1 | Set::kLutGroup2 | Set::kLutGroup3;
    EXPECT_EQ(set.markersDone & curves, 0u);
    EXPECT_NE(set.markersDone & Set::kDustRemoval, 0u);
}

TEST(ImageProcSet, ASmallBufferTakesTheWholeItemsThatFitAndReportsThem) {
    AllSettings a;
    Set set;
    Fill(a, set, 100);
    const int full = set.GetStateSize();
    for (int size : {0, 17, 21, 22, 44, 45, 300, full - 1}) {
        Bytes buffer(static_cast<std::size_t>(size) + 1, 0xCC);
        EXPECT_EQ(set.WriteState(buffer.data(), size), full) << size;
        EXPECT_EQ(buffer[static_cast<std::size_t>(size)], 0xCC) << "wrote past " << size;
        if (size < 22)
            continue;
        // What was written reads back as the same parts.
        const DWORD records = set.recordsDone, markers = set.markersDone;
        AllSettings b;
        Set read;
        b.Attach(read);
        buffer.resize(static_cast<std::size_t>(size));
        read.ReadFromTag(buffer.data(), size, kWidth, kHeight);
        EXPECT_EQ(read.markersDone, markers) << size;
        EXPECT_EQ(read.recordsDone & ~Set::kSizeRes, records & ~Set::kSizeRes) << size;
    }
}

TEST(ImageProcSet, ASelectiveReadLeavesUnselectedPartsAlone) {
    AllSettings a;
    Set written;
    Fill(a, written);
    const Bytes blob = Write(written);

    AllSettings b;
    b.vignette.SetAmount(11);
    b.dustRemoval.SetFirstExtra(3);
    b.lutGroup1.SetContrast(0.5);
    Set read(0, 90);
    b.Attach(read);
    read.vignetteEnabled = 7;
    read.exposureEnabled = 9;
    read.recordMask = Set::kExposure | Set::kRotation;
    read.markerMask = Set::kWhiteBalance;
    Read(read, blob);
    EXPECT_EQ(read.recordsDone, Set::kExposure | Set::kRotation);
    EXPECT_EQ(read.markersDone, Set::kWhiteBalance);
    EXPECT_TRUE(b.exposure == a.exposure);
    EXPECT_EQ(read.rotation, 270);
    EXPECT_EQ(read.whiteBalanceEnabled, written.whiteBalanceEnabled);
    EXPECT_TRUE(b.whiteBalance == CKvWBAdjustment());
    EXPECT_EQ(b.vignette.GetAmount(), 11);
    EXPECT_EQ(b.dustRemoval.GetFirstExtra(), 3);
    EXPECT_EQ(b.dustRemoval.GetReferenceSize(), 0u);
    EXPECT_EQ(b.lutGroup1.GetContrast(), 0.5);
    EXPECT_EQ(b.lutGroup1.GetChannelCount(), 1);
    EXPECT_EQ(read.vignetteEnabled, 7);
    EXPECT_EQ(read.exposureEnabled, 9);
    EXPECT_EQ(read.orientation, 0);
    EXPECT_FALSE(read.opaqueBlock.HasData());
}

TEST(ImageProcSet, AHandBuiltVersion2BlobIsReadByIdInAnyOrder) {
    CKvVignette vignette;
    vignette.SetAmount(33);
    const Bytes unknown = RecordBytes(Ids::kHeuristic, 3).Length().U32(1).U32(2).U32(3);
    const Bytes blob = Blob({
        RecordBytes(Ids::kItemName, 1).Length().Raw({'D', 'u', 's', 'k', 0, 'x'}),
        RecordBytes(Ids::kVignette, 1).Length().I16(33),
        unknown,
        Marker(Ids::kMarkerVignette, 1),
        RecordBytes(Ids::kItemRotation, 1).Length().I16(-90),
        Marker(Ids::kItemOrientation, 1),
        Marker(Ids::kMarkerAlways, 4),
        RecordBytes(Ids::kItemOpaqueBlock, 1).Length().Raw({9, 8, 7}),
        RecordBytes(Ids::kItemExtraBlock, 1).Length().U32(10).U32(20).U32(30).U32(40).U32(50).U32(60).U32(70),
    });
    AllSettings b;
    Set read;
    b.Attach(read);
    EXPECT_EQ(Read(read, blob), static_cast<int>(blob.size()));
    EXPECT_STREQ(read.name.GetBuffer(), "Dusk");
    EXPECT_EQ(b.vignette.GetAmount(), 33);
    EXPECT_EQ(read.vignetteEnabled, 1);
    EXPECT_EQ(read.rotation, -90);
    EXPECT_EQ(read.orientation, 1);
    EXPECT_EQ(read.alwaysMarkerValue, 4);
    ASSERT_EQ(read.opaqueBlock.GetSize(), 3u);
    EXPECT_EQ(read.opaqueBlock.GetData()[2], 7);
    EXPECT_EQ(read.extraBlock, (std::array<DWORD, 7>{10, 20, 30, 40, 50, 60, 70}));
    EXPECT_EQ(read.recordsDone, Set::kName | Set::kVignette | Set::kRotation | Set::kOrientation |
                                    Set::kOpaqueBlock | Set::kExtraBlock);
    EXPECT_EQ(read.markersDone, Set::kVignette);
    EXPECT_EQ(read.readFlag, 1u);
}

TEST(ImageProcSet, ItemsThatLieOrRunShortAreSkippedOrEndTheRead) {
    const Bytes vignette = RecordBytes(Ids::kVignette, 1).Length().I16(33);
    const Bytes marker = Marker(Ids::kMarkerVignette, 1);
    struct Case {
        const char* name;
        Bytes before; // an item ahead of the vignette record and its marker
        bool restRead;
    };
    const Case cases[] = {
        {"unknown kind", RecordBytes(Ids::kHeuristic, 9).Length().Raw(Bytes(100, 0xAB)), true},
        {"rotation item without its value", RecordBytes(Ids::kItemRotation, 1).Length(), true},
        {"extra block cut to one word", RecordBytes(Ids::kItemExtraBlock, 1).Length().U32(5), true},
        {"orientation item without its value", RecordBytes(Ids::kItemOrientation, 1).Length(), true},
        {"a length whose low 16 bits give no size", RecordBytes(Ids::kHeuristic, 1).U32(65518), false},
        {"a length that passes the end", RecordBytes(Ids::kExposureAdjustment, 6).U32(0xFFFFFFEE), false},
        {"an id with no room for its length",
         Bytes(Ids::kWBAdjustment.stored.begin(), Ids::kWBAdjustment.stored.end()), false},
    };
    for (const Case& c : cases) {
        Bytes blob = Blob({c.before, vignette, marker});
        AllSettings b;
        Set read;
        b.Attach(read);
        const int consumed = Read(read, blob);
        EXPECT_LE(consumed, static_cast<int>(blob.size())) << c.name;
        EXPECT_EQ(b.vignette.GetAmount(), c.restRead ? 33 : CKvVignette::kDefaultAmount) << c.name;
        EXPECT_EQ(read.vignetteEnabled, c.restRead ? 1 : 0) << c.name;
        EXPECT_EQ(read.recordsDone & ~Set::kVignette, 0u) << c.name;
        EXPECT_FALSE(read.opaqueBlock.HasData()) << c.name;
        EXPECT_EQ(read.extraBlock, (std::array<DWORD, 7>{0, 0, 0, 1, 0, 0, 0})) << c.name;
    }
}

// A name item whose stored length (0 to 3) does not even cover its length field has no text: the read
// skips it and never looks past the item, here the last bytes of the blob.
TEST(ImageProcSet, ANameItemShorterThanItsHeaderIsSkipped) {
    for (const DWORD length : {0u, 1u, 2u, 3u}) {
        const Bytes blob = Blob({RecordBytes(Ids::kItemName, 1).U32(length)});
        Set read;
        const int consumed = Read(read, blob);
        EXPECT_LE(consumed, static_cast<int>(blob.size())) << length;
        EXPECT_EQ(read.name.GetLength(), 0) << length;
        EXPECT_EQ(read.recordsDone & Set::kName, 0u) << length;
    }
}

TEST(ImageProcSet, TheStoredLengthNeverTakesTheReadPastTheBytesGiven) {
    Bytes blob = Blob({Marker(Ids::kMarkerVignette, 1), Marker(Ids::kMarkerExposure, 1)});
    KvPutValue(blob.data() + 18, 0xFFFFFFF0u, 4);
    for (std::size_t cut = 0; cut <= blob.size(); ++cut) {
        Bytes part(blob.begin(), blob.begin() + static_cast<std::ptrdiff_t>(cut));
        Set read;
        const int consumed = read.ReadFromTag(part.data(), static_cast<int>(cut), kWidth, kHeight);
        EXPECT_LE(consumed, static_cast<int>(cut));
        EXPECT_EQ(read.vignetteEnabled, cut >= 22 + 23 ? 1 : 0) << cut;
        EXPECT_EQ(read.exposureEnabled, cut >= 22 + 46 ? 1 : 0) << cut;
    }
}

TEST(ImageProcSet, RecordsBeyond64KiBDoNotLoseTheItemsAfterThem) {
    CKvDustRemoval dust;
    ASSERT_TRUE(dust.SetReferenceSize(70000));
    std::iota(dust.GetReference(), dust.GetReference() + 70000, BYTE{0});
    CKvBrightness brightness;
    brightness.SetValue(0.75);
    CKvChromaBooster chroma;
    chroma.SetAmount(45);
    const Bytes blob = Blob({OfRecord(dust), RecordBytes(Ids::kVignette, 1).Length().I16(12),
                             OfRecord(brightness), OfRecord(chroma), Marker(Ids::kMarkerBrightness, 1)});
    AllSettings b;
    Set read;
    b.Attach(read);
    EXPECT_EQ(Read(read, blob), static_cast<int>(blob.size()));
    EXPECT_TRUE(b.dustRemoval == dust);
    EXPECT_EQ(b.vignette.GetAmount(), 12);
    EXPECT_TRUE(b.brightness == brightness);
    EXPECT_EQ(b.chromaBooster.GetAmount(), 45);
    EXPECT_EQ(read.brightnessEnabled, 1);
}

TEST(ImageProcSet, ForeignIdsAndUnknownVersionsReadNothing) {
    Bytes blob = Blob({Marker(Ids::kMarkerVignette, 1)});
    Set read;
    EXPECT_EQ(read.ReadFromTag(blob.data(), 15, kWidth, kHeight), 0);
    Bytes foreign = kvtest::WithId(blob, Ids::kVignette.stored);
    EXPECT_EQ(read.ReadFromTag(foreign.data(), static_cast<int>(foreign.size()), kWidth, kHeight), 0);
    EXPECT_EQ(read.readFlag, 0u);
    EXPECT_EQ(read.alwaysMarkerValue, 1);
    for (WORD version : {0, 3, 70}) {
        Bytes other = kvtest::WithVersion(blob, version);
        EXPECT_EQ(Read(read, other), version > 2 ? 22 : 18) << version;
        EXPECT_EQ(read.vignetteEnabled, 0) << version;
        EXPECT_EQ(read.readFlag, 1u);
        EXPECT_EQ(read.alwaysMarkerValue, 0);
    }
}

TEST(ImageProcSet, ALutGroupOfAnOlderShapeIsRebuiltAndTheKindRoutesEachGroup) {
    CKvLutGroup third;
    third.SetKind(3);
    third.SetContrast(0.125);
    const Bytes blob = Blob({OfRecord(third)});
    AllSettings b;
    Set read;
    b.Attach(read);
    b.lutGroup1.SetContrast(0.5);
    Read(read, blob);
    EXPECT_EQ(read.recordsDone & (Set::kLutGroup1 | Set::kLutGroup2 | Set::kLutGroup3), Set::kLutGroup3);
    EXPECT_EQ(b.lutGroup3.GetContrast(), 0.125);
    EXPECT_EQ(b.lutGroup1.GetContrast(), 0.0) << "group 1 is reset before the read";
    EXPECT_EQ(read.curvesRebuilt, 1);
    for (CKvLutGroup* g : {&b.lutGroup1, &b.lutGroup2, &b.lutGroup3}) {
        EXPECT_EQ(g->GetChannelCount(), 4);
        EXPECT_EQ(g->GetCurrentIndex(), 0);
    }
    EXPECT_NE(dynamic_cast<CKvChromaChannel*>(b.lutGroup3.GetChannelAt(2)), nullptr);
    EXPECT_NE(dynamic_cast<CKvHueChannel*>(b.lutGroup3.GetChannelAt(3)), nullptr);
    auto* red = dynamic_cast<CKvLutChannel*>(b.lutGroup1.GetChannelAt(1));
    ASSERT_NE(red, nullptr);
    EXPECT_EQ(red->GetSourceParameters(), (CKvLutChannel::SourceParameters{255, 0, 0, 0, 0, 0, 0, 0, 0}));
}

// A curve group of the current layout with no channel: id, marker, version, length, kind, count, current
// index and contrast.
Bytes EmptyGroup(BYTE kind) {
    constexpr WORD kMarkedVersion4 = 0x04FF;
    return RecordBytes(Ids::kLutGroup, kMarkedVersion4).Length().U8(kind).U8(0).U8(0).F64(0.0);
}

TEST(ImageProcSet, AGroupStoredWithoutChannelsIsRebuiltWholeInOneRead) {
    const Bytes blob = Blob({EmptyGroup(1), EmptyGroup(2), EmptyGroup(3)});
    AllSettings b;
    Set read;
    b.Attach(read);
    ASSERT_EQ(Read(read, blob), static_cast<int>(blob.size()));
    EXPECT_EQ(read.curvesRebuilt, 1);
    for (CKvLutGroup* g : {&b.lutGroup1, &b.lutGroup2, &b.lutGroup3}) {
        ASSERT_EQ(g->GetChannelCount(), 4);
        EXPECT_NE(dynamic_cast<CKvLutChannel*>(g->GetChannelAt(0)), nullptr);
    }
    // What it writes reads back to the same bytes.
    read.recordMask = ~Set::kSizeRes;
    const Bytes written = Write(read);
    AllSettings c;
    Set again;
    c.Attach(again);
    ASSERT_EQ(Read(again, written), static_cast<int>(written.size()));
    again.recordMask = ~Set::kSizeRes;
    EXPECT_EQ(Write(again), written);
    EXPECT_EQ(again.curvesRebuilt, 0);
}

TEST(ImageProcSet, AZeroGainComesBackAsShot) {
    CKvWBAdjustment wb;
    wb.SetMode(CKvWBAdjustment::kModeTemperature);
    wb.SetGains(0.0, 1.5);
    const Bytes blob = Blob({OfRecord(wb)});
    AllSettings b;
    Set read;
    b.Attach(read);
    Read(read, blob);
    EXPECT_EQ(b.whiteBalance.GetMode(), CKvWBAdjustment::kModeAsShot);
    EXPECT_EQ(b.whiteBalance.GetRedGain(), 1.0);
    EXPECT_EQ(b.whiteBalance.GetBlueGain(), 1.0);
}

// A version-1 body: no ids, fixed order.
Bytes Version1(const Bytes& vignetteLike, double red, double blue) {
    return RecordBytes(Ids::kImageProcSet, 1)
        .U8(1)
        .U32(0x12340000u) // the upper bytes of an old size are not clean
        .U8(1)
        .U32(0)
        .U8(0)
        .U32(static_cast<DWORD>(vignetteLike.size()))
        .Raw(vignetteLike)
        .U32(0)
        .U8(1)
        .I16(180)
        .F64(red)
        .F64(blue);
}

TEST(ImageProcSet, AVersion1BlobIsReadInItsFixedOrder) {
    CKvLutGroup group2;
    group2.SetContrast(0.375);
    const Bytes body = Version1(OfRecord(group2), 2.0, 3.0);
    struct Case {
        double redScale, blueScale;
        LONG mode;
        double red, blue;
        BYTE enabled;
    };
    const Case cases[] = {
        {0.0, 0.0, CKvWBAdjustment::kModeAsShot, 1.0, 1.0, 0},
        {0.5, 0.0, CKvWBAdjustment::kModeOldGains, 1.0, 1.0, 1},
        {0.5, 2.0, CKvWBAdjustment::kModeOldGains, 1.0, 6.0, 1},
    };
    for (const Case& c : cases) {
        AllSettings b;
        b.whiteBalance.SetMode(CKvWBAdjustment::kModeTemperature);
        Set read;
        b.Attach(read);
        read.version1RedScale = c.redScale;
        read.version1BlueScale = c.blueScale;
        EXPECT_EQ(Read(read, body), static_cast<int>(body.size()));
        EXPECT_EQ(read.usmListEnabled, 1);
        EXPECT_EQ(read.lutGroup1Enabled, 1);
        EXPECT_EQ(read.lutGroup2Enabled, 0);
        EXPECT_EQ(b.lutGroup2.GetContrast(), 0.375);
        EXPECT_EQ(read.orientation, 1);
        EXPECT_EQ(read.rotation, 180);
        EXPECT_EQ(b.whiteBalance.GetMode(), c.mode);
        EXPECT_EQ(b.whiteBalance.GetRedGain(), c.red);
        EXPECT_EQ(b.whiteBalance.GetBlueGain(), c.blue);
        EXPECT_EQ(read.whiteBalanceEnabled, c.enabled);
    }
    // Cut anywhere, the parts before the cut are read and nothing past it.
    for (std::size_t cut = 16; cut < body.size(); ++cut) {
        AllSettings b;
        Set read;
        b.Attach(read);
        EXPECT_LE(read.ReadFromTag(body.data(), static_cast<int>(cut), kWidth, kHeight),
                  static_cast<int>(cut));
    }
}

TEST(OwnedBlock, SetsCopiesAndZeroes) {
    KvOwnedBlock block;
    EXPECT_FALSE(block.HasData());
    const BYTE bytes[] = {1, 2, 3};
    ASSERT_TRUE(block.Set(bytes, 3));
    KvOwnedBlock copy = block;
    EXPECT_TRUE(copy == block);
    ASSERT_TRUE(block.Set(block.GetData() + 1, 2)); // from its own bytes
    EXPECT_EQ(block.GetData()[0], 2);
    EXPECT_EQ(block.GetData()[1], 3);
    ASSERT_TRUE(block.Set(nullptr, 4));
    EXPECT_EQ(block.GetData()[3], 0);
    block = block;
    EXPECT_EQ(block.GetSize(), 4u);
    ASSERT_TRUE(block.Set(bytes, 0));
    EXPECT_FALSE(block.HasData());
}

} // namespace
