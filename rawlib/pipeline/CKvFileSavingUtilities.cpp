#include "CKvFileSavingUtilities.h"

#include "KvCameraProfileFile.h"
#include "KvCameraProfileRecord.h"
#include "KvFileColorProfile.h"

#include "rawlib/filters/CCMLEngMgr.h"
#include "rawlib/settings/ImageProperties.h"

#include "platform/win/WinPath.h"

#include <atomic>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <vector>

namespace {

// The objects are used from their callers' threads: the count and the flag cost nothing to guard.
std::mutex g_lock;
int g_users = 0;
std::unique_ptr<CKvFileSavingUtilities> g_utilities;
std::atomic<bool> g_prepared{false};

constexpr LONG kGreyMask = 0x1FFFF;
constexpr LONG kSixteenBitFlag = 0x10000000;
constexpr ULONG kColorModeTag = 0x8008D;
constexpr ULONG kExifVersionTag = 0x9000;
constexpr ULONG kExifColorSpaceTag = 0xA001;
constexpr ULONG kWhitePointTag = 0x13E;
constexpr ULONG kPrimariesTag = 0x13F;
constexpr ULONG kYCbCrCoefficientsTag = 0x211;
constexpr ULONG kGammaTag = 0xA500;
constexpr WORD kUncalibrated = 0xFFFF;
constexpr LONG kRationalType = 5;
// The exposure time (seconds) and f-number, 8-byte reals as the loaders write them.
constexpr ULONG kExposureTimeTag = 33434;
constexpr ULONG kFNumberTag = 33437;
constexpr LONG kRealType = 12;
constexpr ULONG kSensitivityTag = 0x80002;
constexpr ULONG kToneTag = 0x80081;
constexpr ULONG kCameraRecordTag = 0x80097;
constexpr ULONG kCameraRecordSize = 304;
constexpr double kDefaultIso = 200;
// log2(100 / 3.125): the APEX speed value of ISO 100 is 5.
constexpr double kSpeedOffset = 1.643856;
constexpr LONG kCustomToneMode = 16;
// Tone bytes of the camera record at or above this lie outside the generator's tone modes.
constexpr BYTE kFirstUnknownToneByte = 21;

bool IsGrey(LONG colorSpace) {
    return (colorSpace & kGreyMask) == 1;
}

bool FileExists(const std::string& path) {
    std::error_code error;
    return !path.empty() && std::filesystem::is_regular_file(WinPath::ToNative(path), error);
}

// The rationals of the tag equal the numerators and denominators given, by value: 626/2000 matches
// 313/1000; a zero denominator never matches.
template <std::size_t N>
bool RationalsAre(IPravonTagControl* tags, ULONG tag, const std::uint32_t (&expected)[N]) {
    std::uint32_t stored[N];
    if (!tags->TagExists(tag) || PravonErrorPtr(tags->ReadTag(tag, kRationalType, sizeof stored, stored)))
        return false;
    for (std::size_t i = 0; i < N; i += 2) {
        const std::uint64_t n = stored[i], d = stored[i + 1];
        if (d == 0 || n * expected[i + 1] != std::uint64_t{expected[i]} * d)
            return false;
    }
    return true;
}

// The EXIF rule: nothing before version "0221"; Adobe RGB exactly when an uncalibrated picture carries
// every one of that space's values, else sRGB.
bool ExifProfileName(IPravonTagControl* tags, const char** name) {
    BYTE version[4] = {0, 0, 0, 0};
    if (tags && tags->TagExists(kExifVersionTag))
        PravonErrorPtr(tags->ReadTag(kExifVersionTag, 7, sizeof version, version));
    if (std::memcmp(version, "0221", 4) < 0)
        return false;
    static constexpr std::uint32_t kWhite[] = {313, 1000, 329, 1000};
    static constexpr std::uint32_t kPrimaries[] = {64, 100, 33, 100, 21, 100, 71, 100, 15, 100, 6, 100};
    static constexpr std::uint32_t kCoefficients[] = {299, 1000, 587, 1000, 114, 1000};
    static constexpr std::uint32_t kGamma[] = {22, 10};
    WORD space = 0;
    const bool adobe = tags && tags->TagExists(kExifColorSpaceTag) &&
                       !PravonErrorPtr(tags->ReadTag(kExifColorSpaceTag, 3, sizeof space, &space)) &&
                       space == kUncalibrated && RationalsAre(tags, kWhitePointTag, kWhite) &&
                       RationalsAre(tags, kPrimariesTag, kPrimaries) &&
                       RationalsAre(tags, kYCbCrCoefficientsTag, kCoefficients) &&
                       RationalsAre(tags, kGammaTag, kGamma);
    *name = adobe ? "KVAdobe.icm" : "KVsRGB.icm";
    return true;
}

LONG SourceColorSpace(const ImageProperties& snapshot) {
    LONG colorSpace = 0;
    if (snapshot.sourceImage && PravonErrorPtr(snapshot.sourceImage->GetColorSpace(&colorSpace)))
        colorSpace = 0;
    return colorSpace;
}

// The camera-settings colour mode when those settings are on, else -1.
LONG ColorModeOf(const ImageProperties& snapshot) {
    return snapshot.exposureEnabled && snapshot.exposure ? snapshot.exposure->GetSecondValue() : -1;
}

// The colour mode of the picture's camera tag; false when it cannot be read.
bool TagColorMode(IPravonTagControl* tags, LONG* mode) {
    return tags && tags->TagExists(kColorModeTag) &&
           !PravonErrorPtr(tags->ReadTag(kColorModeTag, 9, sizeof *mode, mode));
}

// A positive finite 8-byte real tag, or the fallback when the tag is missing, unreadable or not positive.
double PositiveReal(IPravonTagControl* tags, ULONG tag, double fallback) {
    double value = 0.0;
    if (!tags || !tags->TagExists(tag) ||
        PravonErrorPtr(tags->ReadTag(tag, kRealType, sizeof value, &value)) || !std::isfinite(value) ||
        value <= 0.0)
        return fallback;
    return value;
}

// The tone mode for a tone the generator has no curve of: 2 for the first four cameras in colour modes 2
// and 3, else 3.
LONG OtherToneMode(LONG camera, LONG colorMode) {
    return camera >= 1 && camera <= 4 && (colorMode == 2 || colorMode == 3) ? 2 : 3;
}

} // namespace

LONG CKvFileSavingUtilities::GeneratorCamera(WORD model) {
    static constexpr struct {
        WORD model;
        LONG camera;
    } kCameras[] = {{257, 1}, {258, 3}, {259, 2}, {260, 5}, {1025, 4}, {1026, 6}};
    for (const auto& entry : kCameras)
        if (entry.model == model)
            return entry.camera;
    return 0;
}

CKvFileSavingUtilities::CameraProfileParameters
CKvFileSavingUtilities::GetCameraProfileParameters(const ImageProperties& snapshot) {
    CameraProfileParameters p;
    p.camera = GeneratorCamera(snapshot.cameraModelCode);
    IPravonTagControl* tags = snapshot.tagControl;
    const CKvExposureAdjustment* settings = snapshot.exposureEnabled ? snapshot.exposure : nullptr;
    if (settings && settings->GetSecondValue() != 0)
        p.colorMode = settings->GetSecondValue();
    else if (!TagColorMode(tags, &p.colorMode))
        p.colorMode = 0;

    const double fNumber = PositiveReal(tags, kFNumberTag, 1.0);
    const double exposureTime = PositiveReal(tags, kExposureTimeTag, 1.0);
    WORD sensitivity[2] = {0, 0};
    double iso = kDefaultIso;
    if (tags && tags->TagExists(kSensitivityTag) &&
        !PravonErrorPtr(tags->ReadTag(kSensitivityTag, 3, sizeof sensitivity, sensitivity)) &&
        sensitivity[1] > 0)
        iso = sensitivity[1];
    p.brightness =
        std::log2(fNumber * fNumber) + std::log2(1.0 / exposureTime) - (std::log2(iso) - kSpeedOffset);

    const LONG other = OtherToneMode(p.camera, p.colorMode);
    p.fallbackToneMode = other;
    if (settings && settings->GetMode() != 0) {
        p.toneSource = 1;
        static constexpr LONG kBySettings[7] = {-1, -1, 0, 6, kCustomToneMode, 1, 5};
        const LONG mode = settings->GetMode();
        p.toneMode = mode >= 2 && mode <= 6 ? kBySettings[mode] : other;
        return p;
    }
    LONG tone = 0;
    if (!tags || !tags->TagExists(kToneTag) || PravonErrorPtr(tags->ReadTag(kToneTag, 3, sizeof tone, &tone)))
        tone = -1;
    switch (tone) {
    case 1:
        p.toneMode = 0;
        break;
    case 2:
        p.toneMode = 6;
        break;
    case 5:
        p.toneMode = 1;
        break;
    case 6:
        p.toneMode = 5;
        break;
    case kCustomToneMode:
        p.toneMode = kCustomToneMode;
        break;
    case 4: {
        p.toneSource = 2;
        BYTE record[kCameraRecordSize] = {};
        if (!tags->TagExists(kCameraRecordTag) ||
            PravonErrorPtr(tags->ReadTag(kCameraRecordTag, 7, sizeof record, record)))
            p.toneMode = 3;
        else
            p.toneMode = record[4] < kFirstUnknownToneByte ? record[4] % 7 : other;
        break;
    }
    default:
        p.toneMode = other;
    }
    return p;
}

CKvFileSavingUtilities::CKvFileSavingUtilities() : m_cache(std::make_unique<CCMLEngMgr>()) {
    PravonErrorPtr(m_cache->SetIdleLimit(kEngineCapacity));
}

CKvFileSavingUtilities::~CKvFileSavingUtilities() = default;

CKvFileSavingUtilities* CKvFileSavingUtilities::Get() {
    std::lock_guard<std::mutex> guard(g_lock);
    return g_utilities.get();
}

void CKvFileSavingUtilities::AddUser() {
    std::lock_guard<std::mutex> guard(g_lock);
    if (g_users++ == 0)
        g_utilities = std::make_unique<CKvFileSavingUtilities>();
}

void CKvFileSavingUtilities::RemoveUser() {
    std::lock_guard<std::mutex> guard(g_lock);
    if (g_users > 0 && --g_users == 0) {
        g_utilities.reset();
        g_prepared = false;
    }
}

bool CKvFileSavingUtilities::StandardProfilesPrepared() {
    return g_prepared;
}

void CKvFileSavingUtilities::SetStandardProfilesPrepared() {
    g_prepared = true;
}

void CKvFileSavingUtilities::SetStandardProfiles(const std::string& folder, const std::string& rgb,
                                                 const std::string& cmyk, const std::string& lch) {
    SetProfileFolder(folder);
    FillStandardTable(rgb, cmyk, lch, std::string());
}

void CKvFileSavingUtilities::SetProfileFolder(const std::string& folder) {
    m_folder = folder;
    if (m_folder.empty() || (m_folder.back() != '/' && m_folder.back() != '\\'))
        m_folder += '/';
}

std::string CKvFileSavingUtilities::GetProfilePath(const char* name) const {
    std::string path = m_folder + (name ? name : "");
    return path.size() <= kMaxPath ? path : std::string();
}

std::string CKvFileSavingUtilities::GetStandardProfile(int index) const {
    return index >= 0 && index < kStandardCount ? m_standard[static_cast<std::size_t>(index)] : std::string();
}

bool CKvFileSavingUtilities::FillStandardTable(const std::string& rgb, const std::string& cmyk,
                                               const std::string& lch, const std::string& fourth) {
    m_standard = {rgb, cmyk, lch, fourth, GetProfilePath("KVsRGB.icm")};
    bool all = true;
    for (const std::string& path : m_standard)
        all = FileExists(path) && all;
    return all;
}

std::string CKvFileSavingUtilities::ChooseDefaultOutputProfile(const ImageProperties& snapshot) const {
    if (IsGrey(SourceColorSpace(snapshot)))
        return GetProfilePath("KVGrayG22.icm");
    std::string path;
    if (snapshot.defaultProfileRequested || !ChooseRgbProfile(snapshot, &path))
        return GetStandardProfile(0);
    return path;
}

bool CKvFileSavingUtilities::ChooseRgbProfile(const ImageProperties& snapshot, std::string* path) const {
    if (snapshot.embeddedProfile && !snapshot.embeddedProfilePath.empty()) {
        *path = snapshot.embeddedProfilePath;
        return true;
    }
    const WORD model = snapshot.cameraModelCode;
    const char* name = "KVsRGB.icm";
    if (model & 0x200) {
    } else if ((model & 0x100) || model == 1025 || model == 1026) {
        const LONG mode = ColorModeOf(snapshot);
        LONG tagMode = 0;
        if (mode == 1 || (mode >= 4 && mode <= 6))
            name = "KVsRGB.icm";
        else if (mode == 2)
            name = "KVAdobe.icm";
        else if (mode != 0 && mode != -1)
            name = "KVNTSC.icm";
        else if (!TagColorMode(snapshot.tagControl, &tagMode))
            name = "KVNTSC.icm";
        else
            name = tagMode == 2 ? "KVAdobe.icm" : tagMode == -1 ? "KVNTSC.icm" : "KVsRGB.icm";
    } else if (!ExifProfileName(snapshot.tagControl, &name)) {
        return false;
    }
    *path = GetProfilePath(name);
    return true;
}

std::string CKvFileSavingUtilities::GenerateCameraProfile(const ImageProperties& snapshot) const {
    if (snapshot.rawFlag) {
        // The processed-raw models deliver sRGB already.
        if (ImageProperties::IsLimitedModel(snapshot.cameraModelCode))
            return GetProfilePath("KVsRGB.icm");
        // A camera the generator does not know: the file's own colour, or, when the file gave none, its
        // samples taken as sRGB, as the gains encode them.
        if (GeneratorCamera(snapshot.cameraModelCode) == 0) {
            const std::string own = FileColorProfilePath(snapshot);
            return own.empty() ? GetProfilePath("KVsRGB.icm") : own;
        }
        std::vector<WORD> curve;
        const CameraProfileParams record = CameraProfileRecord(snapshot, &curve);
        return static_cast<const char*>(::GenerateCameraProfile(record));
    }
    if (snapshot.embeddedProfile && !snapshot.embeddedProfilePath.empty())
        return snapshot.embeddedProfilePath;
    if (const std::string own = FileColorProfilePath(snapshot); !own.empty())
        return own;
    const WORD model = snapshot.cameraModelCode;
    if (model == 257)
        return GetProfilePath("KVNTSC.icm");
    if ((model >= 258 && model <= 260) || model == 1025) {
        LONG mode = ColorModeOf(snapshot);
        if (mode <= 0 && !TagColorMode(snapshot.tagControl, &mode))
            mode = 0;
        return GetProfilePath(mode == 3 ? "KVAdobe.icm" : "KVsRGB.icm");
    }
    const char* name = "KVsRGB.icm";
    if (!ExifProfileName(snapshot.tagControl, &name))
        name = "KVsRGB.icm";
    return GetProfilePath(name);
}

std::string CKvFileSavingUtilities::CameraProfile(const ImageProperties& snapshot) const {
    if (snapshot.rawFlag)
        return GenerateCameraProfile(snapshot);
    if (IsGrey(SourceColorSpace(snapshot)))
        return GetProfilePath("KVGrayG22.icm");
    if (snapshot.embeddedProfile && !snapshot.embeddedProfilePath.empty())
        return snapshot.embeddedProfilePath;
    return GenerateCameraProfile(snapshot);
}

LONG CKvFileSavingUtilities::CameraBits(const ImageProperties& snapshot) {
    return (SourceColorSpace(snapshot) & kSixteenBitFlag) ? 16 : 8;
}

bool CKvFileSavingUtilities::GetCameraEngine(CPravonFilterCMLEngine::Holder* holder,
                                             const ImageProperties& snapshot, const std::string& destination,
                                             LONG* bits) const {
    if (bits)
        *bits = CameraBits(snapshot);
    return GetEngine(holder, CameraProfile(snapshot), destination);
}

bool CKvFileSavingUtilities::GetEngine(CPravonFilterCMLEngine::Holder* holder, const std::string& source,
                                       const std::string& destination) const {
    if (!holder || source.empty() || destination.empty())
        return false;
    return !PravonErrorPtr(m_cache->AcquireEngine(source.c_str(), destination.c_str(), holder));
}
