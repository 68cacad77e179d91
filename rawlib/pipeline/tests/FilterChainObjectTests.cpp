#include "rawlib/pipeline/CKvnFilterChain.h"
#include "rawlib/foundation/KvProfileFolder.h"

#include "NamedSettingsRecord.h"

#include "platform/pravon/PravonTypes.h"
#include "platform/quasel/CPravonTagControl.h"
#include "testing/AllocationSeam.h"
#include "testing/PravonTestSupport.h"
#include "testing/TempSystemRoot.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <vector>

namespace {

using Bytes = std::vector<BYTE>;
constexpr LONG kWidth = 412;
constexpr LONG kHeight = 312;

// Passes every call to an in-memory tag control; the write of one tag can be made to fail once.
class OnceFailingTags final : public IPravonTagControl {
public:
    OnceFailingTags() { m_inner = new CPravonTagControl(); }
    ~OnceFailingTags() override { m_inner->Release(); }
    CPravonTagControl& Inner() { return *m_inner; }
    ULONG failWriteOf = 0;

    bool TagExists(ULONG tag) override { return m_inner->TagExists(tag); }
    ULONG GetTagSize(ULONG tag) override { return m_inner->GetTagSize(tag); }
    LONG GetTagKind(ULONG tag) override { return m_inner->GetTagKind(tag); }
    IPravonError* ReadTag(ULONG tag, LONG type, ULONG count, void* buffer) override {
        return m_inner->ReadTag(tag, type, count, buffer);
    }
    IPravonError* WriteTag(ULONG tag, LONG type, ULONG count, const void* data) override {
        if (tag == failWriteOf) {
            failWriteOf = 0;
            return IPravonError::Add(nullptr, 0x1234, __LINE__, PravonKind::kOutOfMemory);
        }
        return m_inner->WriteTag(tag, type, count, data);
    }
    IPravonError* RemoveTag(ULONG tag) override { return m_inner->RemoveTag(tag); }
    IPravonError* GetCameraModel(WORD* model) override { return m_inner->GetCameraModel(model); }
    // The fixture owns the object; references only keep the count the attributes expect.
    ULONG AddRef() override { return ++m_references; }
    ULONG Release() override { return --m_references; }

private:
    CPravonTagControl* m_inner;
    ULONG m_references = 1;
};

class FilterChainObject : public ::testing::Test {
protected:
    void SetUp() override {
        WriteLong(0x10000, kWidth);
        WriteLong(0x10001, kHeight);
        WriteLong(0x10002, PravonColorSpace::kRawMosaic16);
        tags.Inner().SetCameraModel(258);
        ASSERT_PV_OK(IKvnFilterChain::CreateObject(&object));
    }
    void TearDown() override {
        if (object)
            object->Destroy();
    }
    void WriteLong(ULONG tag, LONG value) {
        ASSERT_PV_OK(tags.Inner().WriteTag(tag, 4, sizeof value, &value));
    }
    CKvnFilterChain& Chain() { return *static_cast<CKvnFilterChain*>(object); }
    IPravonError* Init() { return object->Initialize(nullptr, nullptr, &tags); }

    kvtest::TempSystemRoot root;
    OnceFailingTags tags;
    IKvnFilterChain* object = nullptr;
};

TEST_F(FilterChainObject, CreateObjectRefusesANullOut) {
    EXPECT_PV_KIND(IKvnFilterChain::CreateObject(nullptr), PravonKind::kBadArgument);
}

TEST_F(FilterChainObject, EveryCallBeforeInitializeIsRefused) {
    strKvnModeParam mode;
    strKvnImageInfoParam info;
    strKvnNCParam capture;
    capture.item = 1;
    strKvnWhiteBalanceOption wb;
    strKvnRawOption raw;
    raw.type = KvnRawOption::kWhiteBalance;
    raw.data = &wb;
    IPravonFilterChain* chain = nullptr;
    EXPECT_PV_KIND(object->SetMode(&mode), PravonKind::kNotInitialised);
    EXPECT_PV_KIND(object->GetMode(&mode), PravonKind::kNotInitialised);
    EXPECT_PV_KIND(object->SetImageInfo(&info, false), PravonKind::kNotInitialised);
    EXPECT_PV_KIND(object->GetImageInfo(&info), PravonKind::kNotInitialised);
    EXPECT_PV_KIND(object->GetFilterChain(&chain), PravonKind::kNotInitialised);
    EXPECT_PV_KIND(object->GetCaptureSettings(&capture), PravonKind::kNotInitialised);
    EXPECT_PV_KIND(object->SetRawOption(&raw), PravonKind::kNotInitialised);
    EXPECT_PV_KIND(object->GetRawOption(&raw), PravonKind::kNotInitialised);
    EXPECT_PV_KIND(object->ResetRawOption(&raw), PravonKind::kNotInitialised);
    EXPECT_PV_KIND(object->SetSourceImage(nullptr), PravonKind::kNotInitialised);
}

TEST_F(FilterChainObject, InitializeChecksItsArgumentsAndRefusesASecondCall) {
    CPravonTagControl* noTags = nullptr;
    EXPECT_PV_KIND(object->Initialize(nullptr, nullptr, noTags), PravonKind::kBadArgument);
    EXPECT_FALSE(Chain().IsInitialised());
    EXPECT_PV_OK(Init());
    EXPECT_TRUE(Chain().IsRawSource());
    EXPECT_EQ(Chain().GetColorClass(), 1u);
    EXPECT_PV_KIND(Init(), PravonKind::kNotInitialised);
}

TEST_F(FilterChainObject, GreySourcesAreRefusedButStayInitialised) {
    WriteLong(0x10002, PravonColorSpace::kGrey8);
    EXPECT_PV_KIND(Init(), PravonKind::kOutOfRange);
    EXPECT_TRUE(Chain().IsInitialised());
}

TEST_F(FilterChainObject, CleanupWithoutKeepUninitialisesAndAllowsAnotherInitialize) {
    ASSERT_PV_OK(Init());
    EXPECT_PV_OK(object->Cleanup(false));
    strKvnModeParam mode;
    EXPECT_PV_KIND(object->GetMode(&mode), PravonKind::kNotInitialised);
    EXPECT_PV_OK(Init());
}

TEST_F(FilterChainObject, SetModeRefusesBadRecordsAndKeepsModesOnZero) {
    ASSERT_PV_OK(Init());
    struct Case {
        DWORD size, a, b, c, d;
    };
    const Case refused[] = {{19, 1, 1, 0, 1}, {20, 4, 1, 0, 1}, {20, 1, 4, 0, 1},
                            {20, 1, 1, 2, 1}, {20, 1, 1, 0, 3}, {20, 0xFFFFFFFF, 1, 0, 1}};
    for (const Case& c : refused) {
        strKvnModeParam mode{c.size, c.a, c.b, c.c, c.d};
        EXPECT_PV_KIND(object->SetMode(&mode), PravonKind::kBadArgument) << c.size << " " << c.a;
    }
    strKvnModeParam keep{20, 0, 0, 0, 0};
    EXPECT_PV_OK(object->SetMode(&keep));
    strKvnModeParam got;
    ASSERT_PV_OK(object->GetMode(&got));
    EXPECT_EQ(got.developmentMode, 2u);
    EXPECT_EQ(got.scalingMethod, 1u);
    EXPECT_EQ(got.nativeOrder, 1u);
    strKvnModeParam change{20, 3, 2, 1, 2};
    ASSERT_PV_OK(object->SetMode(&change));
    ASSERT_PV_OK(object->GetMode(&got));
    EXPECT_EQ(got.developmentMode, 3u);
    EXPECT_EQ(got.scalingMethod, 2u);
    EXPECT_EQ(got.cacheMode, 1u);
    EXPECT_EQ(got.nativeOrder, 2u);
}

TEST(FilterChainOrientation, CodesMapBothWays) {
    struct Case {
        LONG code;
        double angle;
        bool flip;
    };
    const Case cases[] = {{1, 0, false},  {2, 0, true},    {3, 180, false}, {4, 180, true},
                          {5, 270, true}, {6, 270, false}, {7, 90, true},   {8, 90, false}};
    for (const Case& c : cases) {
        double angle = -1;
        bool flip = !c.flip;
        CKvnFilterChain::OrientationFromCode(c.code, &angle, &flip);
        EXPECT_EQ(angle, c.angle) << c.code;
        EXPECT_EQ(flip, c.flip) << c.code;
        EXPECT_EQ(CKvnFilterChain::CodeFromOrientation(c.angle, c.flip), c.code);
    }
    for (const LONG unknown : {0, 9, -3}) {
        double angle = -1;
        bool flip = true;
        CKvnFilterChain::OrientationFromCode(unknown, &angle, &flip);
        EXPECT_EQ(angle, 0.0);
        EXPECT_FALSE(flip);
    }
    EXPECT_EQ(CKvnFilterChain::CodeFromOrientation(45.0, true), 1);
}

TEST_F(FilterChainObject, QuarterTurnExchangesTheRequestedSizeBeforeUse) {
    ASSERT_PV_OK(Init());
    strKvnImageInfoParam info;
    info.width = 600;
    info.height = 400;
    info.orientation = 6;
    ASSERT_PV_OK(object->SetImageInfo(&info, false));
    EXPECT_EQ(Chain().sizeRes.GetOutputHeight(), 600);
    EXPECT_EQ(Chain().GetRotationAngle(), 270.0);
    strKvnImageInfoParam got;
    ASSERT_PV_OK(object->GetImageInfo(&got));
    EXPECT_EQ(got.orientation, 6);
    EXPECT_EQ(got.width, Chain().sizeRes.GetOutputHeight());
    EXPECT_EQ(got.height, Chain().sizeRes.GetOutputWidth());
}

TEST_F(FilterChainObject, BadImageInfoIsRefusedAndChangesNothing) {
    ASSERT_PV_OK(Init());
    strKvnImageInfoParam before;
    ASSERT_PV_OK(object->GetImageInfo(&before));
    strKvnProfileRequest unterminated;
    std::memset(unterminated.path, 'a', sizeof unterminated.path);
    struct Case {
        DWORD size;
        LONG width, height, bytes;
        strKvnProfileRequest* profile;
    };
    const Case cases[] = {{sizeof(strKvnImageInfoParam) - 8, 600, 400, 0, nullptr},
                          {sizeof(strKvnImageInfoParam), 600, 400, -1, nullptr},
                          {sizeof(strKvnImageInfoParam), 600, 400, 3, nullptr},
                          {sizeof(strKvnImageInfoParam), -600, 400, 0, nullptr},
                          {sizeof(strKvnImageInfoParam), 600, 400, 0, &unterminated}};
    for (const Case& c : cases) {
        strKvnImageInfoParam info;
        info.size = c.size;
        info.width = c.width;
        info.height = c.height;
        info.bytesPerChannel = c.bytes;
        info.orientation = 3;
        info.profile = c.profile;
        EXPECT_PV_KIND(object->SetImageInfo(&info, true), PravonKind::kBadArgument)
            << c.width << " " << c.bytes;
    }
    strKvnImageInfoParam after;
    ASSERT_PV_OK(object->GetImageInfo(&after));
    EXPECT_EQ(after.width, before.width);
    EXPECT_EQ(after.height, before.height);
    EXPECT_EQ(after.orientation, 1);
    EXPECT_FALSE(tags.TagExists(CKvnFilterChain::kSettingsTag));
}

TEST_F(FilterChainObject, AFailedWriteBackRestoresTheStoredSettings) {
    const Bytes stored = {9, 8, 7, 6, 5, 4, 3, 2, 1};
    ASSERT_PV_OK(tags.Inner().WriteTag(CKvnFilterChain::kSettingsTag, 1, 9, stored.data()));
    ASSERT_PV_OK(Init());
    tags.failWriteOf = CKvnFilterChain::kSettingsTag;
    strKvnImageInfoParam info;
    info.orientation = 8;
    EXPECT_PV_KIND(object->SetImageInfo(&info, true), PravonKind::kOutOfMemory);
    ASSERT_EQ(tags.GetTagSize(CKvnFilterChain::kSettingsTag), stored.size());
    Bytes back(stored.size());
    ASSERT_PV_OK(tags.ReadTag(CKvnFilterChain::kSettingsTag, 1, 9, back.data()));
    EXPECT_EQ(back, stored);
    // A write that goes through replaces the bytes with the library's record.
    info.orientation = 3;
    ASSERT_PV_OK(object->SetImageInfo(&info, true));
    EXPECT_NE(tags.GetTagSize(CKvnFilterChain::kSettingsTag), stored.size());
}

TEST_F(FilterChainObject, StoredSettingsAreLoadedAtInitialize) {
    CKvImageAttributes edited;
    edited.exposure.SetCompensation(1.5);
    edited.exposure.SetSecondValue(4);
    CKvImageProcSet set;
    edited.GetStateTable(set);
    Bytes record(static_cast<std::size_t>(set.GetStateSize()));
    set.WriteState(record.data(), static_cast<int>(record.size()));
    ASSERT_PV_OK(tags.Inner().WriteTag(CKvnFilterChain::kSettingsTag, 1, static_cast<ULONG>(record.size()),
                                       record.data()));
    ASSERT_PV_OK(Init());
    double value = 0;
    strKvnNCParam ev;
    ev.item = 3;
    ev.valueType = 2;
    ev.valueSize = 8;
    ev.value = &value;
    ASSERT_PV_OK(object->GetCaptureSettings(&ev));
    EXPECT_EQ(value, 1.5);
    LONG colorMode = 0;
    strKvnNCParam mode{sizeof(strKvnNCParam), 1, 1, 4, &colorMode};
    ASSERT_PV_OK(object->GetCaptureSettings(&mode));
    EXPECT_EQ(colorMode, 4);
    EXPECT_NE(Chain().GetSettingsClass(), CKvnFilterChain::kClassUnedited);
}

TEST_F(FilterChainObject, UneditedPicturesAreOfTheUneditedClass) {
    ASSERT_PV_OK(Init());
    LONG settingsClass = 0;
    strKvnNCParam param{sizeof(strKvnNCParam), 2, 1, 4, &settingsClass};
    ASSERT_PV_OK(object->GetCaptureSettings(&param));
    EXPECT_EQ(settingsClass, 3);
}

TEST_F(FilterChainObject, CaptureSettingsWriteOnlyWhatTheBufferHolds) {
    ASSERT_PV_OK(Init());
    strKvnNCParam query{sizeof(strKvnNCParam), 3, 0, 0, nullptr};
    ASSERT_PV_OK(object->GetCaptureSettings(&query));
    EXPECT_EQ(query.valueType, 2);
    EXPECT_EQ(query.valueSize, 8);
    BYTE buffer[8];
    std::memset(buffer, 0xAB, sizeof buffer);
    strKvnNCParam shortBuffer{sizeof(strKvnNCParam), 3, 1, 4, buffer};
    EXPECT_PV_KIND(object->GetCaptureSettings(&shortBuffer), PravonKind::kBadArgument);
    for (const BYTE b : buffer)
        EXPECT_EQ(b, 0xAB);
    strKvnNCParam badItem{sizeof(strKvnNCParam), 4, 1, 4, buffer};
    EXPECT_PV_KIND(object->GetCaptureSettings(&badItem), PravonKind::kBadArgument);
}

TEST_F(FilterChainObject, WhiteBalanceOverrideIsStoredMappedAndTakesTheStatesPlace) {
    ASSERT_PV_OK(Init());
    struct Case {
        LONG preset, temperature, storedPreset;
    };
    const Case cases[] = {{300, 5000, 0}, {512, 5200, 512}, {1280, 0, 1280}, {1, 65535, 0}};
    for (const Case& c : cases) {
        strKvnWhiteBalanceOption wb;
        wb.preset = c.preset;
        wb.temperature = c.temperature;
        strKvnRawOption raw{sizeof(strKvnRawOption), KvnRawOption::kWhiteBalance, &wb};
        ASSERT_PV_OK(object->SetRawOption(&raw));
        strKvnWhiteBalanceOption got;
        strKvnRawOption read{sizeof(strKvnRawOption), KvnRawOption::kWhiteBalance, &got};
        ASSERT_PV_OK(object->GetRawOption(&read));
        EXPECT_EQ(got.preset, c.storedPreset) << c.preset;
        EXPECT_EQ(got.temperature, c.temperature) << c.preset;
    }
    std::unique_ptr<ImageProperties> snapshot = Chain().CreateProperties();
    ASSERT_TRUE(snapshot);
    EXPECT_EQ(snapshot->whiteBalance->GetPreset(), Chain().rawWhiteBalance.GetPreset());
    EXPECT_EQ(snapshot->whiteBalance->GetTemperature(), 65535);
    EXPECT_EQ(snapshot->whiteBalance->GetMode(), CKvWBAdjustment::kModeTemperature);
    EXPECT_EQ(snapshot->whiteBalanceEnabled, 1u);
    EXPECT_EQ(snapshot->exposure->GetCompensation(), Chain().exposure.GetCompensation());

    strKvnWhiteBalanceOption wb;
    strKvnRawOption raw{sizeof(strKvnRawOption), KvnRawOption::kWhiteBalance, &wb};
    ASSERT_PV_OK(object->ResetRawOption(&raw));
    ASSERT_PV_OK(object->GetRawOption(&raw));
    EXPECT_EQ(wb.preset, 0);
    EXPECT_EQ(wb.temperature, 0);
    EXPECT_EQ(Chain().CreateProperties()->whiteBalance->GetMode(), Chain().whiteBalance.GetMode());
    EXPECT_EQ(Chain().CreateProperties()->whiteBalance->GetTemperature(), 0);
}

TEST_F(FilterChainObject, BadRawOptionsAreRefusedWithTheirKinds) {
    ASSERT_PV_OK(Init());
    strKvnWhiteBalanceOption hot;
    hot.temperature = 70000;
    strKvnWhiteBalanceOption shortWb;
    shortWb.size = 8;
    strKvnExposureOption notANumber;
    notANumber.value = std::numeric_limits<double>::quiet_NaN();
    strKvnFlagOption flag;
    struct Case {
        DWORD size;
        LONG type;
        void* data;
        LONG kind;
    };
    const Case cases[] = {{sizeof(strKvnRawOption), 1, &flag, PravonKind::kOutOfRange},
                          {sizeof(strKvnRawOption), 2, &hot, PravonKind::kBadArgument},
                          {sizeof(strKvnRawOption), 2, &shortWb, PravonKind::kBadArgument},
                          {sizeof(strKvnRawOption), 3, &notANumber, PravonKind::kBadArgument},
                          {sizeof(strKvnRawOption), 3, &flag, PravonKind::kBadArgument},
                          {sizeof(strKvnRawOption), 5, &flag, PravonKind::kBadArgument},
                          {sizeof(strKvnRawOption), 2, nullptr, PravonKind::kBadArgument},
                          {12, 4, &flag, PravonKind::kBadArgument}};
    for (const Case& c : cases) {
        strKvnRawOption raw{c.size, c.type, c.data};
        EXPECT_PV_KIND(object->SetRawOption(&raw), c.kind) << c.type;
    }
    strKvnWhiteBalanceOption got;
    strKvnRawOption read{sizeof(strKvnRawOption), KvnRawOption::kWhiteBalance, &got};
    ASSERT_PV_OK(object->GetRawOption(&read));
    EXPECT_EQ(got.temperature, 0);
    EXPECT_EQ(Chain().exposureOverride, 0);
}

TEST_F(FilterChainObject, ExposureAndCameraSettingsOptionsRoundTrip) {
    ASSERT_PV_OK(Init());
    strKvnExposureOption ev;
    ev.value = 1.0;
    strKvnRawOption raw{sizeof(strKvnRawOption), KvnRawOption::kExposure, &ev};
    ASSERT_PV_OK(object->SetRawOption(&raw));
    EXPECT_EQ(Chain().CreateProperties()->exposure->GetCompensation(), 1.0);
    strKvnFlagOption flag;
    strKvnRawOption flagOption{sizeof(strKvnRawOption), KvnRawOption::kCameraSettings, &flag};
    ASSERT_PV_OK(object->SetRawOption(&flagOption));
    flag.flag = 7;
    ASSERT_PV_OK(object->GetRawOption(&flagOption));
    EXPECT_EQ(flag.flag, 0);
    ASSERT_PV_OK(object->ResetRawOption(&flagOption));
    ASSERT_PV_OK(object->GetRawOption(&flagOption));
    EXPECT_EQ(flag.flag, 1);
    ASSERT_PV_OK(object->ResetRawOption(&raw));
    ASSERT_PV_OK(object->GetRawOption(&raw));
    EXPECT_EQ(ev.value, 0.0);
}

// The temporary profile files in the profile folder.
std::vector<std::string> TemporaryProfiles() {
    std::vector<std::string> names;
    const std::filesystem::path folder(GetProfileFolder().GetBuffer());
    if (std::filesystem::exists(folder))
        for (const auto& entry : std::filesystem::directory_iterator(folder))
            if (entry.path().filename().string().rfind("KvP", 0) == 0)
                names.push_back(entry.path().string());
    return names;
}

TEST_F(FilterChainObject, TheEmbeddedProfileGoesToATemporaryFileThatCleanupDeletes) {
    std::filesystem::create_directories(GetProfileFolder().GetBuffer());
    const Bytes profile = {'p', 'r', 'o', 'f', 'i', 'l', 'e'};
    ASSERT_PV_OK(tags.Inner().WriteTag(0x8773, 1, static_cast<ULONG>(profile.size()), profile.data()));
    ASSERT_PV_OK(Init());
    const std::vector<std::string> made = TemporaryProfiles();
    ASSERT_EQ(made.size(), 1u);
    EXPECT_EQ(Chain().GetEmbeddedProfilePath(), made[0]);
    std::ifstream in(made[0], std::ios::binary);
    EXPECT_EQ(Bytes(std::istreambuf_iterator<char>(in), {}), profile);
    ASSERT_PV_OK(object->Cleanup(false));
    EXPECT_TRUE(TemporaryProfiles().empty());
}

TEST_F(FilterChainObject, AProfileTagNamingAFileLeavesThatFileAloneAndNoTemporaryBehind) {
    std::filesystem::create_directories(GetProfileFolder().GetBuffer());
    const std::string theirs = root.File("their-profile.icm");
    std::ofstream(theirs) << "theirs";
    char field[260] = {};
    std::memcpy(field, theirs.data(), theirs.size());
    ASSERT_PV_OK(tags.Inner().WriteTag(0x8773, 16, sizeof field, field));
    ASSERT_PV_OK(Init());
    EXPECT_TRUE(TemporaryProfiles().empty());
    EXPECT_TRUE(Chain().GetEmbeddedProfilePath().empty());
    ASSERT_PV_OK(object->Cleanup(false));
    object->Destroy();
    object = nullptr;
    EXPECT_TRUE(std::filesystem::exists(theirs));
}

} // namespace

namespace {

using kvtest::FailAllocationOfSize;
using kvtest::StopFailingAllocations;

// The settings record of attributes the caller changed, as bytes.
Bytes SettingsRecord(const std::function<void(CKvImageAttributes&, CKvImageProcSet&)>& edit) {
    CKvImageAttributes edited;
    CKvImageProcSet set;
    edited.GetStateTable(set);
    edit(edited, set);
    edited.GetStateTable(set);
    Bytes record(static_cast<std::size_t>(set.GetStateSize()));
    set.WriteState(record.data(), static_cast<int>(record.size()));
    return record;
}

class StoredSettings : public FilterChainObject {
protected:
    void Store(const Bytes& record) {
        PravonErrorPtr(tags.Inner().RemoveTag(CKvnFilterChain::kSettingsTag));
        ASSERT_PV_OK(tags.Inner().WriteTag(CKvnFilterChain::kSettingsTag, 1,
                                           static_cast<ULONG>(record.size()), record.data()));
    }
    // The size settings of the record in the settings tag, read without fitting them to a picture.
    CKvSizeRes StoredSize() {
        Bytes record(tags.GetTagSize(CKvnFilterChain::kSettingsTag));
        EXPECT_PV_OK(
            tags.ReadTag(CKvnFilterChain::kSettingsTag, 1, static_cast<ULONG>(record.size()), record.data()));
        CKvSizeRes size;
        CKvImageProcSet set;
        set.recordMask = CKvImageProcSet::kSizeRes;
        set.sizeRes = &size;
        set.ReadFromTag(record.data(), static_cast<int>(record.size()), 0, 0);
        return size;
    }
    // A fresh object on the same tags.
    void Reopen() {
        object->Destroy();
        object = nullptr;
        ASSERT_PV_OK(IKvnFilterChain::CreateObject(&object));
        ASSERT_PV_OK(Init());
    }
};

// The colour space the stored record names by its selection decides the colour class and the depth; an
// unknown selection leaves the source's.
TEST_F(StoredSettings, TheColourSpaceComesFromTheRecordsSelection) {
    struct Case {
        DWORD selection;
        LONG initializeKind; // 0: success
        DWORD colorClass;
        LONG bytesPerChannel;
    };
    const Case cases[] = {
        {0, 0, 1, 2},                        // none named: the source's 16-bit mosaic
        {2, PravonKind::kOutOfRange, 2, 1},  // 8-bit grey, refused
        {3, PravonKind::kOutOfRange, 2, 2},  // 16-bit grey, refused
        {32, 0, 1, 1},                       // 8-bit RGB
        {33, 0, 1, 2},                       // 16-bit RGB
        {34, PravonKind::kOutOfRange, 3, 1}, // 8-bit CMYK, refused
        {64, 0, 1, 2},                       // the 16-bit mosaic
        {65, 0, 1, 2},                       // another mosaic kind
        {41, 0, 1, 2},                       // not a selection: the source's
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.selection);
        Store(SettingsRecord(
            [&](CKvImageAttributes&, CKvImageProcSet& set) { set.extraBlock[0] = c.selection; }));
        if (c.initializeKind)
            EXPECT_PV_KIND(Init(), c.initializeKind);
        else
            EXPECT_PV_OK(Init());
        EXPECT_EQ(Chain().GetColorClass(), c.colorClass);
        strKvnImageInfoParam info;
        ASSERT_PV_OK(object->GetImageInfo(&info));
        EXPECT_EQ(info.bytesPerChannel, c.bytesPerChannel);
        ASSERT_PV_OK(object->Cleanup(false));
    }
}

// Every adjustment that is on and holds a change makes the picture edited (class 1 for the size record of
// today's version); the same change with the adjustment off does not.
TEST_F(StoredSettings, TheSettingsClassCountsEveryAdjustment) {
    struct Case {
        const char* name;
        std::function<void(CKvImageAttributes&, bool on)> change;
    };
    const Case cases[] = {
        {"sharpening list",
         [](CKvImageAttributes& a, bool on) {
             a.usmList.Append(CKvUSM());
             a.usmListEnabled = on;
         }},
        {"tone curve",
         [](CKvImageAttributes& a, bool on) {
             a.lutGroup1.SetContrast(0.25);
             a.lutGroup1Enabled = on;
         }},
        {"camera settings",
         [](CKvImageAttributes& a, bool on) {
             a.exposure.SetCompensation(0.5);
             a.exposureEnabled = on;
         }},
        {"white balance",
         [](CKvImageAttributes& a, bool on) {
             a.whiteBalance.SetMode(CKvWBAdjustment::kModeTemperature);
             a.whiteBalance.SetPreset(512);
             a.whiteBalanceEnabled = on;
         }},
        {"noise reduction",
         [](CKvImageAttributes& a, bool on) {
             a.noiseReduction.SetLevel(3);
             a.noiseReductionEnabled = on;
         }},
        {"vignette",
         [](CKvImageAttributes& a, bool on) {
             a.vignette.SetAmount(40);
             a.vignetteEnabled = on;
         }},
        {"red-eye",
         [](CKvImageAttributes& a, bool on) {
             a.redEye.SetMode(CKvFnRedEye::kModeAutomatic);
             a.redEyeEnabled = on;
         }},
        {"Revelation",
         [](CKvImageAttributes& a, bool on) {
             a.revelation.SetFirstAmount(20);
             a.revelationEnabled = on;
         }},
        {"fisheye", [](CKvImageAttributes& a, bool on) { a.fisheyeEnabled = on; }},
        {"chroma booster",
         [](CKvImageAttributes& a, bool on) {
             a.chromaBooster.SetAmount(30);
             a.chromaBoosterEnabled = on;
         }},
        {"brightness",
         [](CKvImageAttributes& a, bool on) {
             a.brightness.SetValue(0.5);
             a.brightnessEnabled = on;
         }},
    };
    Store(SettingsRecord([](CKvImageAttributes&, CKvImageProcSet&) {}));
    ASSERT_PV_OK(Init());
    EXPECT_EQ(Chain().GetSettingsClass(), CKvnFilterChain::kClassUnedited) << "a record of the defaults";
    ASSERT_PV_OK(object->Cleanup(false));
    for (const Case& c : cases) {
        for (const bool on : {true, false}) {
            SCOPED_TRACE(testing::Message() << c.name << (on ? " on" : " off"));
            Store(SettingsRecord([&](CKvImageAttributes& a, CKvImageProcSet&) { c.change(a, on); }));
            ASSERT_PV_OK(Init());
            EXPECT_EQ(Chain().GetSettingsClass(),
                      on ? CKvnFilterChain::kClassEditedV5 : CKvnFilterChain::kClassUnedited);
            ASSERT_PV_OK(object->Cleanup(false));
        }
    }
}

// Camera 259's raw pictures develop at its own output factor: without stored settings, and for a record of
// today's size version whose flag says full size at factor 1; a record whose flag is off keeps factor 1 and
// counts as edited. Other cameras keep factor 1.
TEST_F(StoredSettings, Camera259TakesItsOutputFactorAtLoad) {
    constexpr double kFactor = 0.7492354740061162;
    struct Case {
        const char* name;
        WORD model;
        int record; // -1 none, else the size flag stored
        double factor;
        DWORD settingsClass;
    };
    const Case cases[] = {
        {"259 without settings", 259, -1, kFactor, CKvnFilterChain::kClassUnedited},
        {"259, full-size flag set", 259, 1, kFactor, CKvnFilterChain::kClassUnedited},
        {"259, full-size flag off", 259, 0, 1.0, CKvnFilterChain::kClassEditedV5},
        {"258 without settings", 258, -1, 1.0, CKvnFilterChain::kClassUnedited},
        {"258, full-size flag set", 258, 1, 1.0, CKvnFilterChain::kClassUnedited},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        tags.Inner().SetCameraModel(c.model);
        PravonErrorPtr(tags.Inner().RemoveTag(CKvnFilterChain::kSettingsTag));
        if (c.record >= 0)
            Store(SettingsRecord([&](CKvImageAttributes& a, CKvImageProcSet&) {
                // The size settings of the whole developed picture, at full size.
                a.sizeRes = c.model == 259
                                ? CKvSizeRes(4016, 2616, nullptr, UnitValue::PerInch(300))
                                : CKvSizeRes(kWidth - 12, kHeight - 12, nullptr, UnitValue::PerInch(300));
                a.sizeRes.SetFlagByte(static_cast<BYTE>(c.record));
            }));
        ASSERT_PV_OK(Init());
        EXPECT_NEAR(Chain().sizeRes.GetScaleFactor(), c.factor, 1e-12);
        EXPECT_EQ(Chain().GetSettingsClass(), c.settingsClass);
        strKvnImageInfoParam info;
        ASSERT_PV_OK(object->GetImageInfo(&info));
        // Camera 259's developed frame is 4016 x 2616.
        const LONG fullWidth = c.model == 259 ? 4016 : kWidth - 12;
        EXPECT_NEAR(info.width, fullWidth * c.factor, 1.0);
        ASSERT_PV_OK(object->Cleanup(false));
    }
}

// Writing the size settings back flags a picture kept at full size (camera 259's own factor counting as
// full size) and stores its factor as 1; a fresh object then takes the same factor again.
TEST_F(StoredSettings, TheWrittenSizeSettingsFlagAFullSizePicture) {
    struct Case {
        const char* name;
        WORD model;
        bool halfSize;
        BYTE flag;
        double storedFactor;
        double reloadedFactor;
    };
    const Case cases[] = {
        {"258 turned", 258, false, 1, 1.0, 1.0},
        {"258 at half size", 258, true, 0, 0.5, 0.5},
        {"259 turned", 259, false, 1, 1.0, 0.7492354740061162},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        tags.Inner().SetCameraModel(c.model);
        PravonErrorPtr(tags.Inner().RemoveTag(CKvnFilterChain::kSettingsTag));
        ASSERT_PV_OK(Init());
        strKvnImageInfoParam info;
        ASSERT_PV_OK(object->GetImageInfo(&info));
        info.orientation = 3;
        if (c.halfSize) {
            info.width /= 2;
            info.height /= 2;
        } else {
            info.width = info.height = 0;
        }
        ASSERT_PV_OK(object->SetImageInfo(&info, true));
        const CKvSizeRes stored = StoredSize();
        EXPECT_EQ(stored.GetFlagByte(), c.flag);
        EXPECT_NEAR(stored.GetScaleFactor(), c.storedFactor, 0.01);
        Reopen();
        EXPECT_NEAR(Chain().sizeRes.GetScaleFactor(), c.reloadedFactor, 1e-9);
        ASSERT_PV_OK(object->Cleanup(false));
    }
}

// An object cleaned up and initialised again on a picture without stored settings develops it with the
// defaults, not with the settings of the picture before.
TEST_F(StoredSettings, ANewPictureWithoutSettingsKeepsNothingOfThePreviousOne) {
    Store(SettingsRecord([](CKvImageAttributes& a, CKvImageProcSet&) {
        a.exposure.SetCompensation(1.5);
        a.rotation = 90;
    }));
    ASSERT_PV_OK(Init());
    double value = 0;
    strKvnNCParam ev{sizeof(strKvnNCParam), 3, 2, 8, &value};
    ASSERT_PV_OK(object->GetCaptureSettings(&ev));
    ASSERT_EQ(value, 1.5);
    ASSERT_PV_OK(object->Cleanup(false));
    ASSERT_PV_OK(tags.Inner().RemoveTag(CKvnFilterChain::kSettingsTag));
    ASSERT_PV_OK(Init());
    ASSERT_PV_OK(object->GetCaptureSettings(&ev));
    EXPECT_EQ(value, 0.0);
    strKvnImageInfoParam info;
    ASSERT_PV_OK(object->GetImageInfo(&info));
    EXPECT_EQ(info.orientation, 1);
    EXPECT_EQ(Chain().GetSettingsClass(), CKvnFilterChain::kClassUnedited);
}

TEST_F(FilterChainObject, AWhiteBalanceOverrideKeepsTheSourcesCameraModel) {
    tags.Inner().SetCameraModel(1025);
    ASSERT_PV_OK(Init());
    strKvnWhiteBalanceOption wb;
    wb.preset = 512;
    wb.temperature = 5200;
    strKvnRawOption raw{sizeof(strKvnRawOption), KvnRawOption::kWhiteBalance, &wb};
    ASSERT_PV_OK(object->SetRawOption(&raw));
    EXPECT_EQ(Chain().rawWhiteBalance.GetSecondValue(), 1025);
    EXPECT_EQ(Chain().CreateProperties()->whiteBalance->GetSecondValue(), 1025);
}

// A stored record that makes a reader run out of memory (here the picture's 1234-character name) is
// answered with an error of kind 1005; nothing is thrown across the interface, and the next try reads it.
TEST_F(StoredSettings, AReaderThatRunsOutOfMemoryGivesAnErrorNotAnException) {
    constexpr std::size_t kNameLength = 1234;
    Store(kvtest::WithNameItem(
        SettingsRecord([](CKvImageAttributes& a, CKvImageProcSet&) { a.exposure.SetCompensation(1.25); }),
        kNameLength));
    IPravonError* error = nullptr;
    FailAllocationOfSize(kNameLength + 1);
    EXPECT_NO_THROW(error = object->Initialize(nullptr, nullptr, &tags));
    EXPECT_TRUE(StopFailingAllocations()) << "the name's copy was refused";
    EXPECT_PV_KIND(error, PravonKind::kOutOfMemory);
    // The set-up runs again on the next call and reads the record whole.
    double value = 0;
    strKvnNCParam ev{sizeof(strKvnNCParam), 3, 2, 8, &value};
    ASSERT_PV_OK(object->GetCaptureSettings(&ev));
    EXPECT_EQ(value, 1.25);
}

} // namespace
