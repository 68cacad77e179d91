#include "rawlib/settings/ImageProperties.h"

#include "platform/quasel/CPravonTagControl.h"
#include "rawlib/pipeline/CProcessRawVendor1.h"
#include "rawlib/settings/KvColorTemperature.h"
#include "rawlib/settings/KvSharedObjectRegistry.h"
#include "rawlib/settings/KvSourceImageSize.h"
#include "testing/AllocationSeam.h"
#include "testing/TempFolder.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>

namespace {

constexpr LONG kComponent = 0x54657374; // "Test"

IPravonError* Refuse() {
    return PravonFail(kComponent, PravonKind::kInvalidState, "not in this test");
}

// An image that only knows its size and colour space, counting its references; as a raw processor's
// image it answers the processor's size query with a scripted size, or fails it.
class SizedImage : public CProcessRawVendor1 {
public:
    SizedImage(LONG width, LONG height, LONG colorSpace)
        : CProcessRawVendor1(nullptr), width(width), height(height), colorSpace(colorSpace) {}

    IPravonError* GetWidth(LONG* w) override { return failSize ? Refuse() : (*w = width, nullptr); }
    IPravonError* GetHeight(LONG* h) override { return failSize ? Refuse() : (*h = height, nullptr); }
    IPravonError* GetColorSpace(LONG* c) override { return (*c = colorSpace, nullptr); }
    IPravonError* GetResolution(double*) override { return Refuse(); }
    IPravonError* GetFlip(bool*) override { return Refuse(); }
    IPravonError* GetRotation(double*) override { return Refuse(); }
    IPravonError* GetTileSize(LONG*) override { return Refuse(); }
    IPravonError* GetPalette(PravonPalette*) override { return Refuse(); }
    IPravonError* TileExists(const IPravonTileID&, bool*) override { return Refuse(); }
    IPravonError* TileExists(LONG, LONG, bool*) override { return Refuse(); }
    IPravonError* GetTile(const IPravonTileID&, IPravonTile**) override { return Refuse(); }
    IPravonError* GetTile(LONG, LONG, IPravonTile**) override { return Refuse(); }
    IPravonError* LockTile(IPravonTileGrid*, LONG, LONG, void**, PravonRect*, PravonRect*, LONG*) override {
        return Refuse();
    }
    IPravonError* LockTile(const IPravonTileID&, void**, BITMAPINFOHEADER**) override { return Refuse(); }
    IPravonError* LockTile(LONG, LONG, void**, BITMAPINFOHEADER**) override { return Refuse(); }
    IPravonError* UnlockTile(IPravonTileGrid*, LONG, LONG) override { return Refuse(); }
    IPravonError* UnlockTile(const IPravonTileID&) override { return Refuse(); }
    IPravonError* UnlockTile(LONG, LONG) override { return Refuse(); }
    IPravonError* MapRect(const PravonRect&, IPravonTileGrid**) override { return Refuse(); }
    IPravonError* SetSize(LONG, LONG) override { return Refuse(); }
    IPravonError* SetColorSpace(LONG) override { return Refuse(); }
    IPravonError* SetResolution(double) override { return Refuse(); }
    IPravonError* SetTransform(bool, double, bool) override { return Refuse(); }
    IPravonError* SetPalette(const PravonPalette&) override { return Refuse(); }
    IPravonError* SetUsage(LONG) override { return Refuse(); }
    IPravonError* GetUsage(LONG*) override { return Refuse(); }
    ULONG AddRef() override { return ++references; }
    ULONG Release() override { return --references; }

    LONG width, height, colorSpace;
    bool failSize = false;
    std::optional<std::pair<LONG, LONG>> processorSize;
    ULONG references = 1;

protected:
    IPravonError* GetImageSize(LONG* w, LONG* h) override {
        if (!processorSize)
            return Refuse();
        *w = processorSize->first;
        *h = processorSize->second;
        return nullptr;
    }
};

PravonTagControlPtr NewTags(CPravonTagControl*& control) {
    control = new CPravonTagControl();
    return PravonTagControlPtr(control);
}

// Attributes of a picture whose tags give the camera model.
struct AttributesOfModel {
    explicit AttributesOfModel(WORD model) : tags(NewTags(control)) {
        control->SetCameraModel(model);
        attributes.SetTagControl(control);
    }
    CPravonTagControl* control = nullptr;
    PravonTagControlPtr tags;
    CKvImageAttributes attributes;
};

TEST(ImageProperties, ASnapshotBorrowsTheAttributesAndReportsRedEyeAlwaysOn) {
    CKvImageAttributes attributes;
    attributes.redEyeEnabled = 0;
    attributes.vignetteEnabled = 1;
    attributes.dustEnabled = 0;
    attributes.rotation = 270;
    attributes.temporaryFileFlag = 1;
    attributes.temporaryFilePath = "/tmp/kept.raw";
    attributes.spareWords = {7, 9};
    ASSERT_TRUE(attributes.opaqueBlock.Set(reinterpret_cast<const BYTE*>("abc"), 3));
    const std::unique_ptr<ImageProperties> snapshot = attributes.CreateProperties();
    ASSERT_NE(snapshot, nullptr);
    const ImageProperties& p = *snapshot;
    EXPECT_EQ(p.redEyeEnabled, 1u);
    EXPECT_EQ(p.redEye, &attributes.redEye);
    EXPECT_EQ(p.vignetteEnabled, 1u);
    EXPECT_EQ(p.dustEnabled, 0u);
    EXPECT_EQ(p.lutGroup3, &attributes.lutGroup3);
    EXPECT_EQ(p.sizeRes, &attributes.sizeRes);
    EXPECT_EQ(p.rotation, 270);
    EXPECT_EQ(p.temporaryFilePath, "/tmp/kept.raw");
    EXPECT_EQ(p.instanceNumber, attributes.instanceNumber);
    EXPECT_EQ(p.spareWords[1], 9u);
    // A view, not a copy.
    EXPECT_EQ(p.opaqueData, attributes.opaqueBlock.GetData());
    EXPECT_EQ(p.opaqueSize, 3u);
}

TEST(ImageProperties, NoSnapshotWhenMemoryRunsOut) {
    CKvImageAttributes attributes;
    attributes.temporaryFilePath = std::string(300, 'p');
    // Each allocation of taking the snapshot in turn: the object itself, the copy of the path, then the
    // snapshot's own white-balance and exposure states.
    for (int n = 0; n < 4; ++n) {
        kvtest::FailNthAllocation(n);
        const std::unique_ptr<ImageProperties> snapshot = attributes.CreateProperties();
        EXPECT_TRUE(kvtest::StopFailingAllocations()) << n;
        EXPECT_EQ(snapshot, nullptr) << n;
    }
    EXPECT_NE(attributes.CreateProperties(), nullptr);
}

TEST(ImageProperties, TakesTheCameraInformationAndModelOfTheTags) {
    CPravonTagControl* control = nullptr;
    const PravonTagControlPtr tags = NewTags(control);
    std::array<BYTE, 32> information{};
    for (std::size_t i = 0; i < information.size(); ++i)
        information[i] = static_cast<BYTE>(i + 1);
    PravonErrorPtr(control->WriteTag(CKvImageAttributes::kCameraInformationTag, 4, 32, information.data()));
    control->SetCameraModel(1025);
    CKvImageAttributes attributes;
    attributes.SetTagControl(control);
    const ImageProperties p(attributes);
    EXPECT_EQ(p.tagControl, control);
    EXPECT_EQ(p.cameraModelCode, 1025);
    EXPECT_EQ(p.cameraInformation[0], 1);
    EXPECT_EQ(p.cameraInformation[15], 16);
    EXPECT_EQ(GetCameraModelCode(control), 1025);

    control->ClearCameraModel();
    PravonErrorPtr(control->RemoveTag(CKvImageAttributes::kCameraInformationTag));
    ImageProperties again(attributes);
    EXPECT_FALSE(again.ReadCameraInformation());
    EXPECT_EQ(again.cameraModelCode, 0);
    EXPECT_EQ(GetCameraModelCode(control), 0);
    EXPECT_EQ(GetCameraModelCode(nullptr), 0);
}

TEST(ImageProperties, WhiteBalancePreparationFollowsTheCameraModel) {
    struct Case {
        const char* name;
        WORD model;
        LONG wbMode, exposureMode, secondValue;
        bool supported;
        DWORD wbEnabledAfter;
        LONG exposureModeAfter, secondValueAfter;
    };
    const Case cases[] = {
        {"model 514, white balance mode 4", 514, 4, 0, 0, false, 0, 0, 0},
        {"model 513, exposure mode 4", 513, 2, 4, 0, false, 1, 1, 0},
        {"model 516, second exposure value", 516, 2, 0, 3, false, 1, 0, 0},
        {"model 515, nothing unsupported", 515, 2, 1, 0, true, 1, 1, 0},
        {"model 512 keeps mode 4", 512, 4, 4, 3, true, 1, 4, 3},
        {"model 517 keeps mode 4", 517, 4, 4, 3, true, 1, 4, 3},
    };
    for (const Case& c : cases) {
        CKvWBAdjustment whiteBalance;
        whiteBalance.SetMode(c.wbMode);
        CKvExposureAdjustment exposure;
        exposure.SetMode(c.exposureMode);
        exposure.SetSecondValue(c.secondValue);
        ImageProperties p;
        p.cameraModelCode = c.model;
        p.whiteBalanceEnabled = 1;
        p.whiteBalance = &whiteBalance;
        p.exposureEnabled = 1;
        p.exposure = &exposure;
        EXPECT_EQ(p.PrepareWhiteBalance(), c.supported) << c.name;
        EXPECT_EQ(p.whiteBalanceEnabled, c.wbEnabledAfter) << c.name;
        EXPECT_EQ(p.whiteBalance->GetMode(), c.wbMode) << c.name;
        EXPECT_EQ(p.exposure->GetMode(), c.exposureModeAfter) << c.name;
        EXPECT_EQ(p.exposure->GetSecondValue(), c.secondValueAfter) << c.name;
        // The states the snapshot was given keep what they hold.
        EXPECT_EQ(exposure.GetMode(), c.exposureMode) << c.name;
        EXPECT_EQ(exposure.GetSecondValue(), c.secondValue) << c.name;
        // Once prepared, nothing is left to switch off.
        EXPECT_TRUE(p.PrepareWhiteBalance()) << c.name;
    }
}

TEST(ImageProperties, TakingASnapshotPreparesWhiteBalance) {
    AttributesOfModel image(514);
    CKvImageAttributes& attributes = image.attributes;
    attributes.whiteBalance.SetMode(4);
    attributes.exposure.SetMode(4);
    const ImageProperties p(attributes);
    EXPECT_EQ(p.whiteBalanceEnabled, 0u);
    EXPECT_EQ(p.exposure->GetMode(), 1);
    EXPECT_EQ(attributes.whiteBalanceEnabled, 1) << "the attributes keep their own enable byte";
    EXPECT_EQ(attributes.exposure.GetMode(), 4) << "and their stored exposure mode";
}

TEST(ImageProperties, DisabledSettingsAreNotSwitchedOff) {
    AttributesOfModel image(514);
    CKvImageAttributes& attributes = image.attributes;
    attributes.whiteBalanceEnabled = 0;
    attributes.whiteBalance.SetMode(4);
    attributes.exposureEnabled = 0;
    attributes.exposure.SetMode(4);
    ImageProperties p(attributes);
    EXPECT_TRUE(p.PrepareWhiteBalance());
    EXPECT_EQ(attributes.exposure.GetMode(), 4);
}

TEST(ImageProperties, TemperatureModeComputesTheGainsOfTheModel) {
    AttributesOfModel image(260);
    CKvImageAttributes& attributes = image.attributes;
    attributes.whiteBalance.SetMode(CKvWBAdjustment::kModeTemperature);
    attributes.whiteBalance.SetPreset(4098);
    attributes.whiteBalance.SetTemperature(4200);
    attributes.whiteBalance.SetGains(1.25, 0.75);
    const ImageProperties p(attributes);
    // Hand-worked from model 260's polynomials at 4200 K.
    EXPECT_NEAR(p.whiteBalance->GetRedGain(), 2.2511369066667, 1e-12);
    EXPECT_NEAR(p.whiteBalance->GetBlueGain(), 2.1928325485714, 1e-12);
    // The stored state keeps its own gains: a snapshot never rewrites the settings it was taken from.
    EXPECT_EQ(attributes.whiteBalance.GetRedGain(), 1.25);
    EXPECT_EQ(attributes.whiteBalance.GetBlueGain(), 0.75);

    // Other modes keep their gains.
    attributes.whiteBalance.SetMode(CKvWBAdjustment::kModeAsShot);
    attributes.whiteBalance.SetGains(1.5, 0.5);
    const ImageProperties q(attributes);
    EXPECT_EQ(q.whiteBalance->GetRedGain(), 1.5);
    EXPECT_EQ(q.whiteBalance->GetBlueGain(), 0.5);
}

// A copy of a prepared snapshot reads the prepared states, also after the snapshot it was copied from is
// gone.
TEST(ImageProperties, ACopiedSnapshotKeepsItsPreparedStates) {
    AttributesOfModel image(260);
    CKvImageAttributes& attributes = image.attributes;
    attributes.whiteBalance.SetMode(CKvWBAdjustment::kModeTemperature);
    attributes.whiteBalance.SetPreset(4098);
    attributes.whiteBalance.SetTemperature(4200);
    auto first = std::make_unique<ImageProperties>(attributes);
    const ImageProperties copy(*first);
    first.reset();
    EXPECT_NEAR(copy.whiteBalance->GetRedGain(), 2.2511369066667, 1e-12);
    EXPECT_NE(copy.whiteBalance, &attributes.whiteBalance);
    EXPECT_NE(copy.exposure, &attributes.exposure);
}

TEST(SharedObjectRegistry, TheLastUserReleasesTheImageAndDeletesItsTemporaryFile) {
    const kvtest::TempFolder folder;
    const std::string file = folder.Write("KvP1.tmp", std::string("pixels"));
    SizedImage image(10, 10, PravonColorSpace::kRGB16);
    {
        CKvImageAttributes first;
        first.SetSourceImage(&image);
        first.temporaryFileFlag = 1;
        first.temporaryFilePath = file;
        {
            CKvImageAttributes second;
            second.SetSourceImage(&image);
            EXPECT_EQ(KvSharedObjectRegistry::ImageUsers(&image), 2u);
            EXPECT_EQ(image.references, 2u) << "the registry holds one reference for all users";
        }
        EXPECT_EQ(KvSharedObjectRegistry::ImageUsers(&image), 1u);
        EXPECT_TRUE(std::filesystem::exists(file));
    }
    EXPECT_EQ(KvSharedObjectRegistry::ImageUsers(&image), 0u);
    EXPECT_EQ(image.references, 1u);
    EXPECT_FALSE(std::filesystem::exists(file));
    // An image the registry does not hold is left alone.
    EXPECT_FALSE(KvSharedObjectRegistry::ReleaseImage(&image));
    EXPECT_EQ(image.references, 1u);
}

TEST(SharedObjectRegistry, APathNamedByAnEarlierUserGoesWithTheLastRelease) {
    const kvtest::TempFolder folder;
    const std::string file = folder.Write("KvP2.tmp", std::string("pixels"));
    SizedImage image(10, 10, PravonColorSpace::kRGB16);
    SizedImage extra(5, 5, PravonColorSpace::kRGB16);
    auto second = std::make_unique<CKvImageAttributes>();
    second->SetSourceImage(&image);
    {
        CKvImageAttributes first;
        first.SetSourceImage(&image);
        first.AddExtraImage(1, 2, &extra);
        first.SetSecondImage(&extra);
        first.temporaryFileFlag = 1;
        first.temporaryFilePath = file;
        EXPECT_EQ(KvSharedObjectRegistry::ImageUsers(&extra), 2u);
        const ImageProperties p(first);
        EXPECT_EQ(p.sourceImage, &image);
        EXPECT_EQ(p.secondImage, &extra);
        ASSERT_EQ(p.extraImageCount, 1u);
        EXPECT_EQ(p.extraImages[0].second, 2u);
    }
    EXPECT_EQ(extra.references, 1u);
    EXPECT_TRUE(std::filesystem::exists(file));
    second.reset();
    EXPECT_FALSE(std::filesystem::exists(file));
    EXPECT_EQ(image.references, 1u);
}

TEST(SharedObjectRegistry, TagControlsAreCountedByUsers) {
    CPravonTagControl* control = nullptr;
    const PravonTagControlPtr tags = NewTags(control);
    {
        CKvImageAttributes first, second;
        first.SetTagControl(control);
        second.SetTagControl(control);
        EXPECT_EQ(KvSharedObjectRegistry::TagControlUsers(control), 2u);
        second.SetTagControl(nullptr);
        EXPECT_EQ(KvSharedObjectRegistry::TagControlUsers(control), 1u);
        EXPECT_EQ(second.GetTagControl(), nullptr);
    }
    EXPECT_EQ(KvSharedObjectRegistry::TagControlUsers(control), 0u);
    // Only the test's own reference is left.
    EXPECT_EQ(control->AddRef(), 2u);
    control->Release();
}

struct DevelopedCase {
    const char* name;
    LONG width, height, colorSpace;
    WORD model;
    BYTE firstFlag;
    bool fullSize;
    std::optional<std::pair<LONG, LONG>> processor;
    bool ok;
    LONG expectedWidth, expectedHeight;
};

TEST(DevelopedImageSize, FollowsTheColourSpaceModelAndRawProcessor) {
    const LONG mosaic = PravonColorSpace::kRawMosaic16;
    const LONG rgb = PravonColorSpace::kRGB16;
    const std::pair<LONG, LONG> asked{5000, 4000};
    const DevelopedCase cases[] = {
        {"mosaic border", 4000, 3000, mosaic, 0, 0, false, {}, true, 3988, 2988},
        {"model 259", 1, 1, mosaic, 259, 0, false, {}, true, 4016, 2616},
        {"model 260", 1, 1, mosaic, 260, 0, false, {}, true, 2464, 1632},
        {"model 1026", 1, 1, mosaic, 1026, 0, false, {}, true, 3008, 2000},
        {"model 514 trims too", 4000, 3000, mosaic, 514, 1, true, asked, true, 3988, 2988},
        {"mosaic smaller than its border", 11, 300, mosaic, 0, 0, false, {}, false, -1, -1},
        {"first flag 0 keeps the size", 4016, 1312, rgb, 514, 0, true, asked, true, 4016, 1312},
        {"half height doubled", 4016, 1312, rgb, 0, 1, false, {}, true, 4016, 2616},
        {"processor asked", 3000, 2000, rgb, 515, 1, true, asked, true, 5000, 4000},
        {"processor not asked without full size", 3000, 2000, rgb, 515, 1, false, asked, true, 3000, 2000},
        {"processor not asked for other models", 3000, 2000, rgb, 517, 1, true, asked, true, 3000, 2000},
        {"failing processor keeps the source size", 3000, 2000, rgb, 513, 1, true, {}, true, 3000, 2000},
    };
    for (const DevelopedCase& c : cases) {
        SizedImage image(c.width, c.height, c.colorSpace);
        image.processorSize = c.processor;
        ImageProperties p;
        p.sourceImage = &image;
        p.cameraModelCode = c.model;
        p.firstFlag = c.firstFlag;
        LONG width = -1, height = -1;
        EXPECT_EQ(GetDevelopedImageSize(p, &width, &height, c.fullSize), c.ok) << c.name;
        EXPECT_EQ(width, c.expectedWidth) << c.name;
        EXPECT_EQ(height, c.expectedHeight) << c.name;
    }
}

TEST(DevelopedImageSize, NeedsASourceThatKnowsItsSize) {
    ImageProperties p;
    LONG width = -1, height = -1;
    EXPECT_FALSE(GetDevelopedImageSize(p, &width, &height, true));
    SizedImage image(100, 100, PravonColorSpace::kRGB16);
    image.failSize = true;
    p.sourceImage = &image;
    EXPECT_FALSE(GetDevelopedImageSize(p, &width, &height, true));
    EXPECT_EQ(width, -1);
    EXPECT_EQ(height, -1);
}

} // namespace
