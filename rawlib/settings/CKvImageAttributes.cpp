#include "CKvImageAttributes.h"

#include "ImageProperties.h"
#include "KvLchCalibration.h"
#include "KvSharedObjectRegistry.h"
#include "KvSourceImageSize.h"

#include <atomic>
#include <new>

namespace {

// Every construction takes the next number, on whatever thread it runs.
std::atomic<DWORD> g_instances{0};

// The LCh group: a master tone channel, a lightness channel (current), chroma with the calibration set of
// the profile folder (none when the file cannot be read) and hue.
void MakeLchGroup(CKvLutGroup& group) {
    group.AddLutChannel(1);
    CKvChromaChannel* chroma = group.AddChromaChannel(2);
    group.AddHueChannel(3);
    group.SelectChannel(1);
    group.SetKind(CKvLutGroup::kLchKind);
    if (chroma)
        LoadLchCalibration(chroma);
}

// Assigns the given object, or the defaults when there is none. Every record's assignment keeps an
// object assigned to itself as it is, so a set filled from these attributes hands back what they hold.
template <class T>
void Take(T& owned, const T* given) {
    if (given)
        owned = *given;
    else
        owned = T();
}

} // namespace

CKvImageAttributes::CKvImageAttributes()
    : sizeRes(kDefaultWidth, kDefaultHeight, nullptr,
              UnitValue{kDefaultResolution, UnitValue::kPixelsPerInch}),
      instanceNumber(g_instances.fetch_add(1) + 1) {
    whiteBalance.SetGains(1.0, 1.0);
    whiteBalance.SetMode(CKvWBAdjustment::kModeAsShot);
    MakeLchGroup(lutGroup3);
}

CKvImageAttributes::~CKvImageAttributes() {
    if (m_sourceImage)
        KvSharedObjectRegistry::ReleaseImage(m_sourceImage,
                                             temporaryFileFlag ? temporaryFilePath : std::string());
    for (const KvExtraImage& extra : m_extraImages)
        KvSharedObjectRegistry::ReleaseImage(extra.image);
    SetSecondImage(nullptr);
    SetTagControl(nullptr);
}

std::unique_ptr<ImageProperties> CKvImageAttributes::CreateProperties() {
    try {
        return std::make_unique<ImageProperties>(*this);
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
}

void CKvImageAttributes::ResetStates() {
    // A set that gives no adjustment puts each back to its defaults; the enable bytes are those of a new
    // object.
    CKvImageProcSet none;
    none.usmListEnabled = 1;
    none.lutGroup1Enabled = 1;
    none.lutGroup2Enabled = 1;
    none.lutGroup3Enabled = 1;
    none.exposureEnabled = 1;
    none.whiteBalanceEnabled = 1;
    none.noiseReductionEnabled = 1;
    none.dustEnabled = 1;
    none.filterPluginsEnabled = 1;
    none.chromaBoosterEnabled = 1;
    none.brightnessEnabled = 1;
    SetStateTable(none);
    sizeRes = CKvSizeRes(kDefaultWidth, kDefaultHeight, nullptr,
                         UnitValue{kDefaultResolution, UnitValue::kPixelsPerInch});
    whiteBalance.SetGains(1.0, 1.0);
    whiteBalance.SetMode(CKvWBAdjustment::kModeAsShot);
}

void CKvImageAttributes::SetTagControl(IPravonTagControl* tags) {
    KvSharedObjectRegistry::AddTagControlUser(tags);
    if (m_tags)
        KvSharedObjectRegistry::ReleaseTagControl(m_tags);
    m_tags = tags;
}

void CKvImageAttributes::SetSourceImage(IPravonImage* image) {
    KvSharedObjectRegistry::AddImageUser(image);
    if (m_sourceImage)
        KvSharedObjectRegistry::ReleaseImage(m_sourceImage);
    m_sourceImage = image;
}

void CKvImageAttributes::SetSecondImage(IPravonImage* image) {
    KvSharedObjectRegistry::AddImageUser(image);
    if (m_secondImage)
        KvSharedObjectRegistry::ReleaseImage(m_secondImage);
    m_secondImage = image;
}

void CKvImageAttributes::AddExtraImage(DWORD first, DWORD second, IPravonImage* image) {
    if (!image)
        return;
    m_extraImages.push_back({first, second, image});
    KvSharedObjectRegistry::AddImageUser(image);
}

bool CKvImageAttributes::ReadCameraInformation(IPravonTagControl* tags, CameraInformation& information) {
    if (!tags)
        return false;
    std::array<BYTE, kCameraInformationRead> bytes{};
    if (PravonErrorPtr(tags->ReadTag(kCameraInformationTag, kCameraInformationType, kCameraInformationRead,
                                     bytes.data())))
        return false;
    std::copy(bytes.begin(), bytes.begin() + information.size(), information.begin());
    return true;
}

DWORD CKvImageAttributes::ReadSourceInformation() {
    if (!m_tags)
        return cameraModelCode;
    ReadCameraInformation(m_tags, cameraInformation);
    cameraModelCode = GetCameraModelCode(m_tags);
    return cameraModelCode;
}

void CKvImageAttributes::GetStateTable(CKvImageProcSet& set) {
    set.usmListEnabled = usmListEnabled;
    set.usmList = &usmList;
    set.lutGroup1Enabled = lutGroup1Enabled;
    set.lutGroup1 = &lutGroup1;
    set.lutGroup2Enabled = lutGroup2Enabled;
    set.lutGroup2 = &lutGroup2;
    set.orientation = orientation;
    set.rotation = rotation;
    set.revelationEnabled = revelationEnabled;
    set.revelation = &revelation;
    set.lutGroup3Enabled = lutGroup3Enabled;
    set.lutGroup3 = &lutGroup3;
    set.sizeRes = &sizeRes;
    set.exposureEnabled = exposureEnabled;
    set.exposure = &exposure;
    set.whiteBalanceEnabled = whiteBalanceEnabled;
    set.whiteBalance = &whiteBalance;
    set.noiseReductionEnabled = noiseReductionEnabled;
    set.noiseReduction = &noiseReduction;
    set.vignetteEnabled = vignetteEnabled;
    set.vignette = &vignette;
    set.redEyeEnabled = redEyeEnabled;
    set.redEye = &redEye;
    set.dustEnabled = dustEnabled;
    set.dustRemoval = &dustRemoval;
    set.opaqueBlock = opaqueBlock;
    set.general = &general;
    set.fisheyeEnabled = fisheyeEnabled;
    set.fisheye = &fisheye;
    set.filterPluginsEnabled = filterPluginsEnabled;
    set.filterPlugins = &filterPlugins;
    set.chromaBoosterEnabled = chromaBoosterEnabled;
    set.chromaBooster = &chromaBooster;
    set.brightnessEnabled = brightnessEnabled;
    set.brightness = &brightness;
}

void CKvImageAttributes::SetStateTable(const CKvImageProcSet& set) {
    usmListEnabled = set.usmListEnabled;
    lutGroup1Enabled = set.lutGroup1Enabled;
    lutGroup2Enabled = set.lutGroup2Enabled;
    revelationEnabled = set.revelationEnabled;
    lutGroup3Enabled = set.lutGroup3Enabled;
    exposureEnabled = set.exposureEnabled;
    whiteBalanceEnabled = set.whiteBalanceEnabled;
    noiseReductionEnabled = set.noiseReductionEnabled;
    vignetteEnabled = set.vignetteEnabled;
    redEyeEnabled = set.redEyeEnabled;
    dustEnabled = set.dustEnabled;
    fisheyeEnabled = set.fisheyeEnabled;
    filterPluginsEnabled = set.filterPluginsEnabled;
    chromaBoosterEnabled = set.chromaBoosterEnabled;
    brightnessEnabled = set.brightnessEnabled;

    Take(usmList, set.usmList);
    Take(lutGroup1, set.lutGroup1);
    Take(lutGroup2, set.lutGroup2);
    if (set.lutGroup3) {
        lutGroup3 = *set.lutGroup3;
    } else {
        lutGroup3 = CKvLutGroup();
        MakeLchGroup(lutGroup3);
    }
    Take(revelation, set.revelation);
    if (set.sizeRes)
        sizeRes = *set.sizeRes;
    Take(exposure, set.exposure);
    Take(whiteBalance, set.whiteBalance);
    Take(noiseReduction, set.noiseReduction);
    noiseReduction.ClearIfDisabled(!(firstFlag != 0 && secondFlag == 0));
    Take(vignette, set.vignette);
    Take(redEye, set.redEye);
    Take(dustRemoval, set.dustRemoval);
    Take(general, set.general);
    Take(fisheye, set.fisheye);
    Take(filterPlugins, set.filterPlugins);
    Take(chromaBooster, set.chromaBooster);
    Take(brightness, set.brightness);

    opaqueBlock = set.opaqueBlock;
    orientation = set.orientation;
    rotation = set.rotation;
}
