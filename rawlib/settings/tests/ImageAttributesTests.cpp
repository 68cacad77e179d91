#include "RecordConformance.h"

#include "rawlib/settings/CKvImageAttributes.h"
#include "rawlib/settings/KvStateIds.h"

#include <gtest/gtest.h>

#include <map>

namespace {

using kvtest::Bytes;
using Set = CKvImageProcSet;

Bytes Save(CKvImageAttributes& attributes) {
    Set set;
    attributes.GetStateTable(set);
    Bytes blob(static_cast<std::size_t>(set.GetStateSize()));
    set.WriteState(blob.data(), static_cast<int>(blob.size()));
    return blob;
}

void Load(CKvImageAttributes& attributes, const Bytes& blob) {
    Set set;
    attributes.GetStateTable(set);
    set.ReadFromTag(blob.data(), static_cast<int>(blob.size()), CKvImageAttributes::kDefaultWidth,
                    CKvImageAttributes::kDefaultHeight);
    attributes.SetStateTable(set);
}

// The marker values of a blob, by marker id, walked with the framing alone.
std::map<Bytes, BYTE> MarkersOf(const Bytes& blob) {
    std::map<Bytes, BYTE> markers;
    std::size_t at = 22;
    while (at + 22 <= blob.size()) {
        const std::size_t length = KvGetValue(blob.data() + at + 18, 4);
        if (length == 5)
            markers[Bytes(blob.begin() + static_cast<std::ptrdiff_t>(at),
                          blob.begin() + static_cast<std::ptrdiff_t>(at + 16))] = blob[at + 22];
        at += 18 + length;
    }
    EXPECT_EQ(at, blob.size());
    return markers;
}

Bytes IdOf(const KvStateId& id) {
    return Bytes(id.stored.begin(), id.stored.end());
}

TEST(ImageAttributes, ANewObjectWritesEveryPartWithItsDefaultEnableBytes) {
    CKvImageAttributes attributes;
    Set set;
    attributes.GetStateTable(set);
    const Bytes blob = Save(attributes);
    set.WriteState(nullptr, 0);
    Bytes again(blob.size());
    set.WriteState(again.data(), static_cast<int>(again.size()));
    EXPECT_EQ(set.recordsDone, 0x1FF105FFu); // every record bit but the opaque block and the name
    const std::map<Bytes, BYTE> markers = MarkersOf(blob);
    namespace I = KvStateIds;
    const std::pair<const KvStateId*, BYTE> expected[] = {
        {&I::kMarkerUsmList, 1},        {&I::kMarkerLutGroup1, 1},  {&I::kMarkerLutGroup2, 1},
        {&I::kMarkerLutGroup3, 1},      {&I::kMarkerRevelation, 0}, {&I::kMarkerAlways, 1},
        {&I::kMarkerDustRemoval, 1},    {&I::kMarkerExposure, 1},   {&I::kMarkerWhiteBalance, 1},
        {&I::kMarkerNoiseReduction, 1}, {&I::kMarkerFisheye, 0},    {&I::kMarkerFilterPlugins, 1},
        {&I::kMarkerChromaBooster, 1},  {&I::kMarkerVignette, 0},   {&I::kMarkerRedEye, 0},
        {&I::kMarkerBrightness, 1},     {&I::kItemOrientation, 0},
    };
    for (const auto& [id, value] : expected) {
        const auto found = markers.find(IdOf(*id));
        ASSERT_NE(found, markers.end());
        EXPECT_EQ(found->second, value);
    }
    EXPECT_EQ(attributes.whiteBalance.GetMode(), CKvWBAdjustment::kModeAsShot);
    EXPECT_EQ(attributes.vignette.GetAmount(), 80);
    EXPECT_EQ(attributes.lutGroup3.GetChannelCount(), 4);
    EXPECT_EQ(attributes.lutGroup3.GetCurrentIndex(), 1);
    EXPECT_EQ(attributes.scale, -1.0);
}

TEST(ImageAttributes, AMissingRecordIsResetAndItsEnableByteKept) {
    CKvImageAttributes attributes;
    attributes.redEye.SetMode(CKvFnRedEye::kModeManual);
    attributes.vignette.SetAmount(12);
    Set set;
    attributes.GetStateTable(set);
    set.redEye = nullptr;
    set.redEyeEnabled = 1;
    attributes.SetStateTable(set);
    EXPECT_TRUE(attributes.redEye == CKvFnRedEye());
    EXPECT_EQ(attributes.redEyeEnabled, 1);
    EXPECT_EQ(attributes.vignette.GetAmount(), 12);
}

TEST(ImageAttributes, LoadingSettingsKeepsWhatTheRecordsHold) {
    CKvImageAttributes stored;
    ASSERT_TRUE(stored.dustRemoval.SetReferenceSize(70000));
    for (DWORD i = 0; i < 70000; ++i)
        stored.dustRemoval.GetReference()[i] = static_cast<BYTE>(i % 251);
    stored.redEye.SetMode(CKvFnRedEye::kModeAutomatic);
    stored.chromaBooster.SetAmount(40);
    stored.rotation = 90;
    const Bytes blob = Save(stored);

    CKvImageAttributes loaded;
    Load(loaded, blob);
    EXPECT_TRUE(loaded.dustRemoval == stored.dustRemoval);
    EXPECT_EQ(loaded.dustRemoval.GetReferenceSize(), 70000u);
    EXPECT_EQ(loaded.redEye.GetMode(), CKvFnRedEye::kModeAutomatic);
    EXPECT_EQ(loaded.chromaBooster.GetAmount(), 40);
    EXPECT_EQ(loaded.rotation, 90);
    // Handing the table back to the object it came from changes nothing.
    const Bytes before = Save(loaded);
    Set self;
    loaded.GetStateTable(self);
    loaded.SetStateTable(self);
    EXPECT_TRUE(loaded.dustRemoval == stored.dustRemoval);
    EXPECT_EQ(Save(loaded), before);
}

TEST(ImageAttributes, NoiseReductionKeepsItsExtraValueOnlyWithTheFirstFlagAlone) {
    struct Case {
        BYTE first;
        DWORD second;
        LONG extra;
    };
    for (const Case& c : {Case{0, 0, 0}, Case{1, 0, 5}, Case{1, 2, 0}, Case{0, 3, 0}}) {
        CKvImageAttributes attributes;
        attributes.firstFlag = c.first;
        attributes.secondFlag = c.second;
        attributes.noiseReduction.SetExtraValue(5);
        Set set;
        attributes.GetStateTable(set);
        attributes.SetStateTable(set);
        EXPECT_EQ(attributes.noiseReduction.GetExtraValue(), c.extra);
    }
}

// After a reset, attributes that held another picture's settings write what a new object writes.
TEST(ImageAttributes, ResettingTheStatesGivesANewObjectsSettings) {
    CKvImageAttributes fresh;
    CKvImageAttributes used;
    used.exposure.SetCompensation(-0.75);
    used.exposureEnabled = 0;
    used.whiteBalance.SetMode(CKvWBAdjustment::kModeTemperature);
    used.vignetteEnabled = 1;
    used.vignette.SetAmount(12);
    used.lutGroup1.SetContrast(0.5);
    used.orientation = 1;
    used.rotation = 90;
    used.sizeRes = CKvSizeRes(640, 480, nullptr, UnitValue{72.0, UnitValue::kPixelsPerInch});
    used.ResetStates();
    EXPECT_EQ(Save(used), Save(fresh));
    EXPECT_EQ(used.rotation, 0);
    EXPECT_EQ(used.sizeRes.GetRecordVersion(), 0);
}

TEST(ImageAttributes, EachObjectTakesTheNextInstanceNumber) {
    CKvImageAttributes first;
    CKvImageAttributes second;
    EXPECT_EQ(second.instanceNumber, first.instanceNumber + 1);
}

} // namespace
