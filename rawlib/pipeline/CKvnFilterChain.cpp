#include "CKvnFilterChain.h"

#include "CKvFileSavingUtilities.h"
#include "KvGlobalManager.h"
#include "rawlib/foundation/KvProfileFolder.h"

#include "filters/engine/Int32Math.h"
#include "platform/pravon/PravonTypes.h"
#include "platform/win/FourCC.h"
#include "rawlib/settings/KvEmbeddedProfile.h"
#include "rawlib/settings/KvSourceImageSize.h"

#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <stdexcept>
#include <unistd.h>
#include <vector>

namespace {

// Errors of the exported object carry no component of their own.
constexpr LONG kComponent = 0;
constexpr ULONG kSourceFlipTag = 0x10004;
constexpr ULONG kSourceAngleTag = 0x10005;
constexpr LONG kTagTypeLong = 4;
constexpr LONG kTagTypeBytes = 1;
constexpr LONG kTagTypeDouble = 12;
constexpr double kDefaultResolution = 300.0;
// Kind 1001: the stored input cannot be used.
constexpr LONG kBadInput = PravonKind::kNoSuchPass;
// Scale factors computed through the size settings' scale come back within rounding of what was set.
constexpr double kFactorTolerance = 1e-9;
constexpr double kFullSize = 1.0;

// The first set-up of the process fills the standard profiles' table; two of them on two threads at once
// fill it once, and neither reads it half filled.
std::mutex g_standardProfilesLock;

IPravonError* NotInitialised() {
    return PravonFail(kComponent, PravonKind::kNotInitialised, "the filter chain is not initialised");
}

IPravonError* BadRecord(const char* what) {
    return PravonFail(kComponent, PravonKind::kBadArgument, what);
}

template <typename Record>
bool RecordFits(const Record* record) {
    return record && record->size == sizeof(Record);
}

// Every record call: an initialised object and a record of the right size.
template <typename Record>
IPravonError* CheckCallOf(bool initialised, const Record* record, const char* what) {
    if (!initialised)
        return NotInitialised();
    return RecordFits(record) ? nullptr : BadRecord(what);
}

bool SameFactor(double a, double b) {
    return std::fabs(a - b) <= kFactorTolerance;
}

// The colour space a stored settings record names by its selection code; 0 for none.
LONG SettingsColorSpaceOf(DWORD selection) {
    static constexpr struct {
        DWORD selection;
        LONG colorSpace;
    } kSpaces[] = {{2, 0x08020001},  {3, 0x10020001},  {32, 0x08060201}, {33, 0x10060201}, {34, 0x08080202},
                   {35, 0x10060203}, {36, 0x10060204}, {37, 0x10060205}, {38, 0x08060206}, {39, 0x08060203},
                   {40, 0x08060204}, {64, 0x10020401}, {65, 0x10020402}};
    for (const auto& entry : kSpaces)
        if (entry.selection == selection)
            return entry.colorSpace;
    return 0;
}

// The turn and mirror the source's tags give it: an f64 angle counter-clockwise, as the orientation codes
// count it, and an i32 that is 1 for a mirrored source. A tag that cannot be read counts as missing.
KvOrientation SourceOrientationOf(IPravonTagControl* tags) {
    double angle = 0.0;
    LONG flip = 0;
    if (tags->TagExists(kSourceAngleTag) &&
        PravonErrorPtr(tags->ReadTag(kSourceAngleTag, kTagTypeDouble, sizeof angle, &angle)))
        angle = 0.0;
    if (tags->TagExists(kSourceFlipTag) &&
        PravonErrorPtr(tags->ReadTag(kSourceFlipTag, kTagTypeLong, sizeof flip, &flip)))
        flip = 0;
    return KvOrientation::Of(flip == 1, angle);
}

// Bits 8 to 16 of a mosaic's colour-space code hold 0x400.
bool IsMosaicCode(LONG code) {
    return (static_cast<ULONG>(code) & 0x1FF00u) == 0x400u;
}

DWORD ColorClassOf(LONG code) {
    switch (code) {
    case PravonColorSpace::kGrey8:
    case PravonColorSpace::kGrey16:
        return 2;
    case PravonColorSpace::kRGB8:
    case PravonColorSpace::kRGB16:
    case 0x10020401:
    case 0x10020402:
    case 0x10020403:
    case 0x10020404:
        return 1;
    case PravonColorSpace::kCMYK8:
        return 3;
    default:
        return 0;
    }
}

} // namespace

IPravonError* IKvnFilterChain::CreateObject(IKvnFilterChain** out) {
    if (!out)
        return BadRecord("no place for the filter chain");
    *out = new (std::nothrow) CKvnFilterChain();
    if (!*out)
        return PravonFail(kComponent, PravonKind::kOutOfMemory, "no memory for the filter chain");
    return nullptr;
}

void CKvnFilterChain::OrientationFromCode(LONG code, double* angle, bool* flip) {
    const KvOrientation turn = KvOrientation::FromCode(code);
    *angle = turn.angle;
    *flip = turn.flip;
}

LONG CKvnFilterChain::CodeFromOrientation(double angle, bool flip) {
    return KvOrientation{flip, angle}.ToCode();
}

void CKvnFilterChain::StoreOrientation(const KvOrientation& turn) {
    orientation = turn.flip ? 1 : 0;
    // The attributes keep whole degrees; a full turn is none.
    rotation = static_cast<SHORT>(std::lround(turn.angle) % 360);
}

CKvnFilterChain::CKvnFilterChain() {
    ++KvLibrary::g_liveFilterChains;
    CKvFileSavingUtilities::AddUser();
    ResetModes();
}

CKvnFilterChain::~CKvnFilterChain() {
    --KvLibrary::g_liveFilterChains;
    m_chain.reset();
    ResetModes();
    DeleteEmbeddedProfileFile();
    CKvFileSavingUtilities::RemoveUser();
}

void CKvnFilterChain::ResetModes() {
    m_developmentMode = 2;
    m_scalingMethod = 1;
    m_cacheMode = 0;
    m_nativeOrder = 1;
    m_sourceBytes = 0;
    m_colorClass = 0;
    m_defaultProfile.clear();
    m_cameraSettingsFlag = 1;
    m_setupWidth = m_setupHeight = 0;
    m_requestedWidth = m_requestedHeight = 0;
    m_outputScale = 1.0;
    m_initialised = 0;
    m_setupDone = 0;
    m_settingsClass = 0;
    m_settingsColorSpace = 0;
    orientation = 0;
    rotation = 0;
    m_sourceOrientation = {};
}

IPravonError* CKvnFilterChain::Initialize(IPravonManager* manager, IPravonImage* image,
                                          IPravonTagControl* tagControl) {
    if (!tagControl || (manager == nullptr) != (image == nullptr))
        return BadRecord("a tag control is needed, and a manager and an image together");
    if (m_initialised)
        return PravonFail(kComponent, PravonKind::kNotInitialised, "the filter chain is initialised already");
    m_manager = manager;
    CKvImageAttributes::SetSourceImage(image);
    SetTagControl(tagControl);
    m_initialised = 1;
    if (IPravonError* e = SetUp())
        return e;
    if (m_colorClass == 2 || m_colorClass == 3)
        return PravonFail(kComponent, PravonKind::kOutOfRange, "grey and CMYK pictures are not developed");
    return nullptr;
}

IPravonError* CKvnFilterChain::SetSourceImage(IPravonImage* image) {
    if (!m_initialised || !GetSourceImage())
        return NotInitialised();
    CKvImageAttributes::SetSourceImage(image);
    if (!m_chain)
        return nullptr;
    if (!m_chain->ReattachSource(image))
        return PravonFail(kComponent, PravonKind::kInvalidState, "the chain does not take the new source");
    return UpdateChain(CKvTolmoFilterChain::kEverything);
}

void CKvnFilterChain::SaveEmbeddedProfileFile(const std::string& folder) {
    IPravonTagControl* tags = GetTagControl();
    if (!m_embeddedPath.empty() || !tags->TagExists(KvProfileTags::kEmbedded))
        return;
    std::string pattern = folder + "KvPXXXXXX";
    const int fd = mkstemp(pattern.data());
    if (fd < 0)
        return;
    close(fd);
    std::string path = pattern;
    // A tag that names a file of its own leaves ours unused: it goes at once.
    if (!SaveEmbeddedProfile(tags, path, false) || path != pattern) {
        std::remove(pattern.c_str());
        return;
    }
    m_embeddedPath = pattern;
    embeddedProfilePath = pattern;
}

void CKvnFilterChain::DeleteEmbeddedProfileFile() {
    if (!m_embeddedPath.empty())
        std::remove(m_embeddedPath.c_str());
    m_embeddedPath.clear();
    embeddedProfilePath.clear();
}

IPravonError* CKvnFilterChain::SetUp() {
    if (m_setupDone)
        return nullptr;
    IPravonTagControl* tags = GetTagControl();
    if (m_manager)
        KvSetGlobalManager(m_manager);
    const std::string folder = std::string(GetProfileFolder().GetBuffer());
    PrepareStandardProfiles(folder);
    SaveEmbeddedProfileFile(folder);
    ReadSourceInformation();

    LONG sourceCode = 0;
    if (IPravonError* e =
            tags->ReadTag(KvSourceTags::kColorSpace, kTagTypeLong, sizeof sourceCode, &sourceCode))
        return PravonContext(e, kComponent, "the source's colour space cannot be read");
    m_rawSource = IsMosaicCode(sourceCode);
    rawSource = m_rawSource ? 1 : 0;
    if (IPravonError* e = LoadStoredSettings())
        return e;

    LONG classCode = m_settingsColorSpace;
    if (!classCode) {
        classCode = sourceCode;
        if (IPravonImage* image = GetSourceImage())
            if (PravonErrorPtr(image->GetColorSpace(&classCode)))
                classCode = sourceCode;
    }
    m_colorClass = ColorClassOf(classCode);
    m_sourceBytes = PravonColorSpace::BitsPerSample(classCode) == 8 ? 1 : 2;
    bitsPerChannel = static_cast<LONG>(8 * m_sourceBytes);

    // The source's own orientation comes first; the stored one was chosen on the picture standing as the
    // source's makes it stand.
    m_sourceOrientation = SourceOrientationOf(tags);
    if (!m_sourceOrientation.IsNone())
        StoreOrientation(m_sourceOrientation.Then(GetOrientation()));

    m_setupWidth = m_requestedWidth = sizeRes.GetOutputWidth();
    m_setupHeight = m_requestedHeight = sizeRes.GetOutputHeight();
    m_outputScale = sizeRes.GetScaleFactor();
    // The output profile follows the stored settings (their colour mode), so it is chosen after them, by
    // the rule every update of the chain chooses by.
    if (GetSourceImage()) {
        std::unique_ptr<ImageProperties> snapshot = CreateProperties();
        CKvFileSavingUtilities* utilities = CKvFileSavingUtilities::Get();
        if (!snapshot || !utilities)
            return PravonFail(kComponent, PravonKind::kOutOfMemory, "no memory for the settings snapshot");
        m_defaultProfile = utilities->ChooseDefaultOutputProfile(*snapshot);
    }
    m_setupDone = 1;
    return nullptr;
}

void CKvnFilterChain::PrepareStandardProfiles(const std::string& folder) {
    const std::lock_guard<std::mutex> guard(g_standardProfilesLock);
    if (CKvFileSavingUtilities::StandardProfilesPrepared())
        return;
    if (CKvFileSavingUtilities* utilities = CKvFileSavingUtilities::Get())
        utilities->SetStandardProfiles(folder, folder + "KVsRGB.icm", folder + "KvCMYK.icm",
                                       folder + "KvLch2.icm");
    CKvFileSavingUtilities::SetStandardProfilesPrepared();
}

IPravonError* CKvnFilterChain::LoadStoredSettings() {
    IPravonTagControl* tags = GetTagControl();
    if (!tags)
        return BadRecord("no tag control");
    LONG width = 0, height = 0;
    if (!GetSourceImageSize(tags, &width, &height, true))
        return PravonFail(kComponent, PravonKind::kMissingInput, "the source's size cannot be read");
    // Every state as a new object's, then the size settings of the developed picture at 300 per inch: a
    // picture without stored settings keeps nothing of the one before it.
    ResetStates();
    sizeRes.ResetImage(width, height);
    sizeRes.ResetToImage(UnitValue::PerInch(kDefaultResolution));
    resolution = kDefaultResolution;
    m_settingsColorSpace = 0;
    bool hadSettings = false;
    // Damaged stored bytes may make a reader ask for more than there is or give up: the answer is an
    // error, and the picture stays as it was.
    try {
        if (IPravonError* e = ReadStoredSettings(width, height, &hadSettings))
            return e;
    } catch (const std::bad_alloc&) {
        return PravonFail(kComponent, PravonKind::kOutOfMemory, "no memory for the stored settings");
    } catch (const std::exception& failure) {
        return PravonFail(kComponent, kBadInput,
                          std::string("the stored settings cannot be read: ") + failure.what());
    }
    m_settingsClass = ComputeSettingsClass(hadSettings);
    ApplyModel259Factor(hadSettings);
    return nullptr;
}

IPravonError* CKvnFilterChain::ReadStoredSettings(LONG width, LONG height, bool* hadSettings) {
    IPravonTagControl* tags = GetTagControl();
    *hadSettings = tags->TagExists(kSettingsTag);
    if (!*hadSettings)
        return nullptr;
    const ULONG size = tags->GetTagSize(kSettingsTag);
    if (size > static_cast<ULONG>(INT_MAX))
        return PravonFail(kComponent, kBadInput, "the stored settings are larger than any record");
    std::vector<BYTE> bytes(size);
    if (IPravonError* e = tags->ReadTag(kSettingsTag, kTagTypeBytes, size, bytes.data()))
        return PravonContext(e, kComponent, "the stored settings cannot be read");
    // Everything but the size first, then the size, which depends on what the first pass read.
    for (const DWORD parts : {~CKvImageProcSet::kSizeRes, CKvImageProcSet::kSizeRes}) {
        CKvImageProcSet set;
        GetStateTable(set);
        set.recordMask = parts;
        set.ReadFromTag(bytes.data(), static_cast<int>(bytes.size()), width, height);
        if (parts != CKvImageProcSet::kSizeRes)
            m_settingsColorSpace = SettingsColorSpaceOf(set.GetColorSpaceSelection());
        SetStateTable(set);
    }
    // The development crops and scales the picture as stored and turns it afterwards: the size settings
    // are taken back from the stored orientation's frame.
    sizeRes.ResetOrientation();
    rawSizeRes = sizeRes;
    rawExposure = exposure;
    return nullptr;
}

bool CKvnFilterChain::AnyAdjustmentEdited() const {
    const auto on = [](BYTE enabled, bool neutral) { return enabled && !neutral; };
    const bool tone =
        on(lutGroup1Enabled, lutGroup1.IsNeutral()) || on(lutGroup2Enabled, lutGroup2.IsNeutral()) ||
        on(lutGroup3Enabled, lutGroup3.IsNeutral()) || on(exposureEnabled, exposure.IsNeutral()) ||
        on(whiteBalanceEnabled, whiteBalance.IsMode2()) ||
        on(chromaBoosterEnabled, chromaBooster.IsNeutral()) || on(brightnessEnabled, brightness.IsNeutral());
    const bool detail =
        on(usmListEnabled, usmList.GetCount() == 0) || on(noiseReductionEnabled, noiseReduction.IsOff()) ||
        on(revelationEnabled, revelation.IsOff()) || on(filterPluginsEnabled, filterPlugins.IsEmpty());
    const bool repair = on(vignetteEnabled, vignette.IsZero()) || on(redEyeEnabled, redEye.IsOff()) ||
                        on(dustEnabled, dustRemoval.IsEmpty());
    // The fisheye correction remaps the picture whenever it is on; the general record (mixer mode and
    // sharpening level) has no enable byte of its own.
    return tone || detail || repair || fisheyeEnabled != 0 || !(general == CKvLEGeneral());
}

DWORD CKvnFilterChain::ComputeSettingsClass(bool hadSettings) const {
    if (!hadSettings)
        return kClassUnedited;
    const WORD version = sizeRes.GetRecordVersion();
    // Camera 259's pictures are stored at full size with the size settings' flag set.
    const bool model259Scaled =
        m_rawSource && cameraModelCode == 259 && version >= 5 && !sizeRes.GetFlagByte();
    const bool edited = AnyAdjustmentEdited() || !(sizeRes.GetCrop() == sizeRes.GetImageRect()) ||
                        sizeRes.GetScaleFactor() != kFullSize || model259Scaled;
    const DWORD byVersion = version >= 5 ? kClassEditedV5 : version >= 1 ? kClassEditedOld : kClassEditedV0;
    if (edited)
        return byVersion;
    if ((rotation != 0 && rotation != 360) || orientation)
        return version >= 5 && sizeRes.GetFlagByte() ? kClassUnedited : byVersion;
    return kClassUnedited;
}

void CKvnFilterChain::ApplyModel259Factor(bool hadSettings) {
    if (!m_rawSource || cameraModelCode != 259)
        return;
    const WORD version = sizeRes.GetRecordVersion();
    if (!hadSettings ||
        (version >= 5 && sizeRes.GetFlagByte() && SameFactor(sizeRes.GetScaleFactor(), kFullSize)))
        sizeRes.SetScaleFactor(kModel259Factor);
    else if (version == 3)
        sizeRes.SetScaleFactor(sizeRes.GetScaleFactor() * kModel259Factor);
}

IPravonError* CKvnFilterChain::SetMode(strKvnModeParam* mode) {
    if (IPravonError* e = CheckCallOf(m_initialised != 0, mode, "the mode record's size is wrong"))
        return e;
    if (mode->developmentMode > 3 || mode->scalingMethod > 3 || mode->cacheMode > 1 || mode->nativeOrder > 2)
        return BadRecord("a mode is out of range");
    if (mode->nativeOrder && mode->nativeOrder != m_nativeOrder) {
        m_nativeOrder = mode->nativeOrder;
        if (m_chain) {
            m_chain->SetNativeOrder(NativeOrderOn(m_nativeOrder));
            if (PravonErrorPtr(m_chain->GetStage(CKvTolmoFilterChain::kNativeOrderStage)
                                   ->Enable(NativeOrderOn(m_nativeOrder), true)))
                return PravonFail(kComponent, PravonKind::kInvalidState,
                                  "the native-order stage cannot change");
        }
    }
    if (mode->scalingMethod && mode->scalingMethod != m_scalingMethod) {
        m_scalingMethod = mode->scalingMethod;
        if (m_chain)
            m_chain->SetScalingMethod(ChainScalingMethod(m_scalingMethod));
    }
    if (mode->cacheMode != m_cacheMode) {
        m_cacheMode = mode->cacheMode;
        if (m_chain)
            m_chain->SetCacheUsage(ChainCacheUsage(m_cacheMode));
    }
    if (mode->developmentMode && mode->developmentMode != m_developmentMode) {
        if (m_chain) {
            const DWORD old = m_developmentMode;
            const DWORD mask = old == 1 || mode->developmentMode == 1 ? CKvTolmoFilterChain::kEverything
                                                                      : CKvTolmoFilterChain::kModeChanged;
            m_chain->SetDevelopmentMode(ChainMode(mode->developmentMode));
            if (IPravonError* e = UpdateChain(mask)) {
                // The chain goes back to the mode the object still holds, so that the two agree.
                m_chain->SetDevelopmentMode(ChainMode(old));
                PravonErrorPtr(UpdateChain(mask));
                return e;
            }
        }
        m_developmentMode = mode->developmentMode;
    }
    return nullptr;
}

IPravonError* CKvnFilterChain::GetMode(strKvnModeParam* mode) {
    if (IPravonError* e = CheckCallOf(m_initialised != 0, mode, "the mode record's size is wrong"))
        return e;
    mode->developmentMode = m_developmentMode;
    mode->scalingMethod = m_scalingMethod;
    mode->cacheMode = m_cacheMode;
    mode->nativeOrder = m_nativeOrder;
    return nullptr;
}

IPravonError* CKvnFilterChain::SetImageInfo(strKvnImageInfoParam* info, bool apply) {
    if (IPravonError* e =
            CheckCallOf(m_initialised != 0, info, "the image information record's size is wrong"))
        return e;
    if (IPravonError* e = SetUp())
        return e;
    if (info->bytesPerChannel < 0 || info->bytesPerChannel > 2 ||
        static_cast<DWORD>(info->bytesPerChannel) > m_sourceBytes)
        return BadRecord("the bytes per channel exceed the source's");
    if (info->width < 0 || info->height < 0)
        return BadRecord("a negative output size");
    std::size_t pathLength = 0;
    if (info->profile) {
        pathLength = strnlen(info->profile->path, kKvnPathField);
        if (pathLength == kKvnPathField)
            return BadRecord("the output profile path is not terminated");
    }
    // The record's orientation is the whole one the development applies, the source's own included.
    const KvOrientation turn = KvOrientation::FromCode(info->orientation);
    LONG width = info->width, height = info->height;
    if (turn.ExchangesSides())
        std::swap(width, height);

    DWORD mask = 0;
    if (width && height && (width != m_requestedWidth || height != m_requestedHeight)) {
        sizeRes.SetHeuristicType(FourCC("Crop"));
        if (height < width)
            sizeRes.SetOutputWidth(width);
        else
            sizeRes.SetOutputHeight(height);
        m_requestedWidth = sizeRes.GetOutputWidth();
        m_requestedHeight = sizeRes.GetOutputHeight();
        mask |= CKvTolmoFilterChain::kOutputSizeChanged;
    }
    if (width && height)
        m_outputScale = sizeRes.GetScaleFactor();
    if (!(turn == GetOrientation())) {
        StoreOrientation(turn);
        mask |= CKvTolmoFilterChain::kOrientationChanged;
    }
    if (info->bytesPerChannel && info->bytesPerChannel * 8 != bitsPerChannel) {
        bitsPerChannel = info->bytesPerChannel * 8;
        depthDiffers = static_cast<DWORD>(info->bytesPerChannel) != m_sourceBytes;
        mask |= CKvTolmoFilterChain::kOutputChanged;
    }
    if (const strKvnProfileRequest* profile = info->profile) {
        if (pathLength) {
            const std::string path(profile->path, pathLength);
            profileRequested = 1;
            const auto tail = [](const std::string& p) {
                const std::size_t at = p.find_last_of("\\/");
                return at == std::string::npos ? p : p.substr(at == 0 ? 0 : at - 1);
            };
            customProfile = tail(path) != tail(m_defaultProfile);
            customProfilePath = customProfile ? path : std::string();
            mask |= CKvTolmoFilterChain::kOutputChanged;
        }
        static constexpr LONG kIntents[5] = {0, 0, 1, 2, 3};
        const LONG intent = profile->renderingIntent >= 1 && profile->renderingIntent <= 4
                                ? kIntents[profile->renderingIntent]
                                : 0;
        if (profile->renderingIntent && intent != renderingIntent) {
            renderingIntent = intent;
            mask |= CKvTolmoFilterChain::kOutputChanged;
        }
        if (profile->colorClass)
            m_colorClass = static_cast<DWORD>(profile->colorClass);
    }
    if (apply &&
        (mask & (CKvTolmoFilterChain::kOutputSizeChanged | CKvTolmoFilterChain::kOrientationChanged)))
        if (IPravonError* e = WriteSizeSettings())
            return e;
    if (!m_chain || !mask)
        return nullptr;
    if (mask & CKvTolmoFilterChain::kOutputChanged)
        m_chain->SetOutputParameters(OutputParametersOf());
    if (mask & CKvTolmoFilterChain::kOutputSizeChanged)
        m_chain->SetOutputSize(m_requestedWidth, m_requestedHeight);
    return UpdateChain(mask);
}

IPravonError* CKvnFilterChain::WriteSizeSettings() {
    IPravonTagControl* tags = GetTagControl();
    std::vector<BYTE> record;
    try {
        // The size settings as the record keeps them: fitted to the requested long side and, for a state
        // that no record of today's kind was read into, flagged when the picture keeps its full size (camera
        // 259's own factor counts as full size), the factor then stored as 1.
        CKvSizeRes size(sizeRes);
        if (m_requestedWidth >= m_requestedHeight)
            size.SetOutputWidth(m_requestedWidth);
        else
            size.SetOutputHeight(m_requestedHeight);
        const WORD version = sizeRes.GetRecordVersion();
        if (version == 0 || version == 3) {
            const double factor = sizeRes.GetScaleFactor();
            const bool full = SameFactor(factor, kFullSize) ||
                              (m_rawSource && cameraModelCode == 259 && SameFactor(factor, kModel259Factor));
            size.SetFlagByte(full ? 1 : 0);
            if (full)
                size.SetScaleFactor(kFullSize);
        }
        CKvImageProcSet set;
        GetStateTable(set);
        set.sizeRes = &size;
        // The record keeps the orientation chosen on top of the source's own, which the next set-up takes
        // from the source's tags again.
        const KvOrientation chosen = m_sourceOrientation.Inverse().Then(GetOrientation());
        set.orientation = chosen.flip ? 1 : 0;
        set.rotation = static_cast<SHORT>(std::lround(chosen.angle) % 360);
        record.resize(static_cast<std::size_t>(set.GetStateSize()));
        set.WriteState(record.data(), static_cast<int>(record.size()));
    } catch (const std::bad_alloc&) {
        return PravonFail(kComponent, PravonKind::kOutOfMemory, "no memory for the settings record");
    }
    // The old record is kept so that a failed write puts it back instead of leaving the picture without
    // any stored settings.
    std::vector<BYTE> old;
    const bool hadOld = tags->TagExists(kSettingsTag);
    const LONG oldKind = hadOld ? tags->GetTagKind(kSettingsTag) : kTagTypeBytes;
    if (hadOld) {
        try {
            old.resize(tags->GetTagSize(kSettingsTag));
        } catch (const std::bad_alloc&) {
            return PravonFail(kComponent, PravonKind::kOutOfMemory, "no memory for the stored settings");
        }
        if (IPravonError* e =
                tags->ReadTag(kSettingsTag, kTagTypeBytes, static_cast<ULONG>(old.size()), old.data()))
            return PravonContext(e, kComponent, "the stored settings cannot be read before writing");
    }
    if (IPravonError* e = tags->RemoveTag(kSettingsTag))
        return PravonContext(e, kComponent, "the stored settings cannot be removed");
    IPravonError* written =
        tags->WriteTag(kSettingsTag, kTagTypeBytes, static_cast<ULONG>(record.size()), record.data());
    if (written && hadOld)
        PravonErrorPtr(tags->WriteTag(kSettingsTag, oldKind, static_cast<ULONG>(old.size()), old.data()));
    return written ? PravonContext(written, kComponent, "the settings cannot be written") : nullptr;
}

IPravonError* CKvnFilterChain::GetImageInfo(strKvnImageInfoParam* info) {
    if (IPravonError* e =
            CheckCallOf(m_initialised != 0, info, "the image information record's size is wrong"))
        return e;
    if (IPravonError* e = SetUp())
        return e;
    const KvOrientation turn = GetOrientation();
    LONG width = m_setupWidth, height = m_setupHeight;
    if (m_requestedWidth && m_requestedHeight) {
        width = m_requestedWidth;
        height = m_requestedHeight;
    }
    if (turn.ExchangesSides())
        std::swap(width, height);
    // A live chain's output is what its caller pulls, already turned.
    if (m_chain && m_chain->GetOutput() && m_chain->GetOutput()->GetOutput()) {
        LONG chainWidth = 0, chainHeight = 0;
        if (!PravonErrorPtr(m_chain->GetOutput()->GetOutput()->GetSize(&chainWidth, &chainHeight))) {
            width = chainWidth;
            height = chainHeight;
        }
    }
    info->width = width;
    info->height = height;
    info->bytesPerChannel = bitsPerChannel / 8;
    info->orientation = turn.ToCode();
    const DblRect crop = sizeRes.GetCrop();
    if (crop == sizeRes.GetImageRect()) {
        info->left = info->top = info->right = info->bottom = 0;
    } else {
        info->left = Int32Math::SaturatedTrunc(crop.left * 0.5);
        info->top = Int32Math::SaturatedTrunc(crop.top * 0.5);
        info->right = Int32Math::SaturatedTrunc(crop.right * 0.5);
        info->bottom = Int32Math::SaturatedTrunc(crop.bottom * 0.5);
    }
    if (strKvnProfileRequest* profile = info->profile) {
        // The profile the output conversion converts to: the live chain's choice, else the set-up's.
        const std::string& chosen =
            m_chain && !m_chain->GetOutputProfile().empty() ? m_chain->GetOutputProfile() : m_defaultProfile;
        const std::string& path = customProfile ? customProfilePath : chosen;
        std::memset(profile->path, 0, sizeof profile->path);
        std::memcpy(profile->path, path.data(), std::min<std::size_t>(path.size(), kKvnPathField - 1));
        profile->renderingIntent = renderingIntent + 1;
        profile->colorClass = static_cast<LONG>(m_colorClass);
    }
    return nullptr;
}

CKvTolmoFilterChain::OutputParameters CKvnFilterChain::OutputParametersOf() const {
    CKvTolmoFilterChain::OutputParameters parameters;
    parameters.profileRequested = profileRequested != 0;
    parameters.renderingIntent = renderingIntent;
    parameters.customProfile = customProfile != 0;
    parameters.customProfilePath = customProfilePath;
    parameters.depthDiffers = depthDiffers != 0;
    parameters.bitsPerChannel = bitsPerChannel;
    return parameters;
}

IPravonError* CKvnFilterChain::UpdateChain(DWORD mask) {
    if (!m_chain)
        return nullptr;
    std::unique_ptr<ImageProperties> snapshot = CreateProperties();
    if (!snapshot)
        return PravonFail(kComponent, PravonKind::kOutOfMemory, "no memory for the settings snapshot");
    const int result = m_chain->Update(snapshot.get(), mask, m_outputScale);
    return KvnChainError(result, m_chain->GetErrorText());
}

void CKvnFilterChain::LoadDustReference() {
    IPravonTagControl* tags = GetTagControl();
    if (!dustEnabled || dustRemoval.IsEmpty() || !tags->TagExists(kDustReferenceTag))
        return;
    // A reference that cannot be read leaves the one the stored settings hold.
    std::vector<BYTE> bytes(tags->GetTagSize(kDustReferenceTag));
    if (!bytes.empty() &&
        !PravonErrorPtr(tags->ReadTag(kDustReferenceTag, 1, static_cast<ULONG>(bytes.size()), bytes.data())))
        dustRemoval.LoadDustReference(m_manager, bytes.data(), static_cast<DWORD>(bytes.size()));
}

IPravonError* CKvnFilterChain::GetFilterChain(IPravonFilterChain** out) {
    if (!m_initialised || !m_manager || !GetTagControl() || !GetSourceImage())
        return NotInitialised();
    if (!out)
        return BadRecord("no place for the filter chain");
    PravonErrorPtr setUp(SetUp());
    if (!m_chain) {
        m_chain.reset(new (std::nothrow) CKvTolmoFilterChain());
        if (!m_chain)
            return IPravonError::Chain(setUp.release(), PravonFail(kComponent, PravonKind::kOutOfMemory,
                                                                   "no memory for the development chain"));
        LoadDustReference();
        m_chain->SetDevelopmentMode(ChainMode(m_developmentMode));
        m_chain->SetCacheUsage(ChainCacheUsage(m_cacheMode));
        m_chain->SetNativeOrder(NativeOrderOn(m_nativeOrder));
        m_chain->SetScalingMethod(ChainScalingMethod(m_scalingMethod));
        m_chain->SetOutputParameters(OutputParametersOf());
        m_chain->SetRawProcessingFlag(m_cameraSettingsFlag);
        m_chain->SetOutputSize(m_requestedWidth, m_requestedHeight);
        m_chain->SetActive(1);
        IPravonError* failed = KvnChainError(m_chain->Build(m_manager, GetSourceImage()));
        if (!failed)
            failed = UpdateChain(CKvTolmoFilterChain::kEverything);
        if (failed) {
            m_chain.reset();
            return IPravonError::Chain(setUp.release(), failed);
        }
    }
    *out = m_chain->GetOutput();
    if (!*out)
        return IPravonError::Chain(
            setUp.release(), PravonFail(kComponent, PravonKind::kInvalidState, "the chain has no output"));
    return setUp.release();
}

IPravonError* CKvnFilterChain::GetCaptureSettings(strKvnNCParam* param) {
    if (!m_initialised)
        return NotInitialised();
    if (!RecordFits(param) || param->item < 1 || param->item > 3)
        return BadRecord("the capture settings record is wrong");
    if (IPravonError* e = SetUp())
        return e;
    const bool isDouble = param->item == 3;
    const LONG type = isDouble ? 2 : 1;
    const LONG size = isDouble ? 8 : 4;
    if (!param->value) {
        param->valueType = type;
        param->valueSize = size;
        return nullptr;
    }
    // A value goes only into a buffer declared large enough for it.
    if (param->valueSize >= size) {
        if (param->item == 1) {
            const LONG colorMode = exposure.GetSecondValue();
            const LONG value = exposureEnabled && colorMode >= 1 && colorMode <= 6 ? colorMode : 0;
            std::memcpy(param->value, &value, sizeof value);
        } else if (param->item == 2) {
            const LONG value = static_cast<LONG>(m_settingsClass);
            std::memcpy(param->value, &value, sizeof value);
        } else {
            const double value = exposureEnabled ? exposure.GetCompensation() : 0.0;
            std::memcpy(param->value, &value, sizeof value);
        }
    }
    if (param->valueType != type || param->valueSize != size)
        return BadRecord("the value's type or size does not fit the item");
    return nullptr;
}

IPravonError* CKvnFilterChain::SetRawOption(strKvnRawOption* option) {
    if (!m_initialised)
        return NotInitialised();
    if (!RecordFits(option) || !option->data)
        return BadRecord("the raw option record is wrong");
    if (option->type == KvnRawOption::kUnsupported)
        return PravonFail(kComponent, PravonKind::kOutOfRange, "raw option 1 is not supported");
    if (option->type == KvnRawOption::kWhiteBalance || option->type == KvnRawOption::kExposure)
        if (IPravonError* e = SetUp())
            return e;
    if (option->type == KvnRawOption::kWhiteBalance) {
        const auto* wb = static_cast<const strKvnWhiteBalanceOption*>(option->data);
        if (wb->size != sizeof(strKvnWhiteBalanceOption))
            return BadRecord("the white-balance option's size is wrong");
        if (wb->temperature < 0 || wb->temperature > 0xFFFF)
            return BadRecord("the colour temperature is out of range");
        const LONG preset = KvnRawOption::MapPreset(wb->preset);
        if (!whiteBalanceOverride || preset != rawWhiteBalance.GetPreset() ||
            wb->temperature != rawWhiteBalance.GetTemperature()) {
            whiteBalanceOverride = 1;
            rawWhiteBalance.SetPreset(preset);
            rawWhiteBalance.SetTemperature(static_cast<WORD>(wb->temperature));
            rawWhiteBalance.SetMode(CKvWBAdjustment::kModeTemperature);
            // The white balance is the source's camera's, whose model its gains are computed for.
            rawWhiteBalance.SetSecondValue(static_cast<WORD>(cameraModelCode));
            return UpdateChain(CKvTolmoFilterChain::kWhiteBalanceChanged);
        }
        return nullptr;
    }
    if (option->type == KvnRawOption::kExposure) {
        const auto* ex = static_cast<const strKvnExposureOption*>(option->data);
        if (ex->size != sizeof(strKvnExposureOption))
            return BadRecord("the exposure option's size is wrong");
        if (!std::isfinite(ex->value))
            return BadRecord("the exposure value is not a number");
        if (!exposureOverride || ex->value != rawExposure.GetCompensation()) {
            exposureOverride = 1;
            rawExposure.SetCompensation(ex->value);
            return UpdateChain(CKvTolmoFilterChain::kExposureChanged);
        }
        return nullptr;
    }
    if (option->type == KvnRawOption::kCameraSettings) {
        const auto* flag = static_cast<const strKvnFlagOption*>(option->data);
        if (flag->size != sizeof(strKvnFlagOption))
            return BadRecord("the camera-settings option's size is wrong");
        m_cameraSettingsFlag = flag->flag;
        if (m_chain)
            m_chain->SetRawProcessingFlag(m_cameraSettingsFlag);
        return UpdateChain(CKvTolmoFilterChain::kCameraSettingsFlagChanged);
    }
    return BadRecord("unknown raw option");
}

IPravonError* CKvnFilterChain::GetRawOption(strKvnRawOption* option) {
    if (!m_initialised)
        return NotInitialised();
    if (!RecordFits(option) || !option->data)
        return BadRecord("the raw option record is wrong");
    switch (option->type) {
    case KvnRawOption::kUnsupported:
        return PravonFail(kComponent, PravonKind::kOutOfRange, "raw option 1 is not supported");
    case KvnRawOption::kWhiteBalance: {
        auto* wb = static_cast<strKvnWhiteBalanceOption*>(option->data);
        if (wb->size != sizeof(strKvnWhiteBalanceOption))
            return BadRecord("the white-balance option's size is wrong");
        wb->preset = whiteBalanceOverride ? rawWhiteBalance.GetPreset() : 0;
        wb->temperature = whiteBalanceOverride ? rawWhiteBalance.GetTemperature() : 0;
        return nullptr;
    }
    case KvnRawOption::kExposure: {
        auto* ex = static_cast<strKvnExposureOption*>(option->data);
        if (ex->size != sizeof(strKvnExposureOption))
            return BadRecord("the exposure option's size is wrong");
        ex->value = exposureOverride ? rawExposure.GetCompensation() : 0.0;
        return nullptr;
    }
    case KvnRawOption::kCameraSettings: {
        auto* flag = static_cast<strKvnFlagOption*>(option->data);
        if (flag->size != sizeof(strKvnFlagOption))
            return BadRecord("the camera-settings option's size is wrong");
        flag->flag = m_cameraSettingsFlag;
        return nullptr;
    }
    default:
        return BadRecord("unknown raw option");
    }
}

IPravonError* CKvnFilterChain::ResetRawOption(strKvnRawOption* option) {
    if (IPravonError* e = CheckCallOf(m_initialised != 0, option, "the raw option record is wrong"))
        return e;
    switch (option->type) {
    case KvnRawOption::kUnsupported:
        return PravonFail(kComponent, PravonKind::kOutOfRange, "raw option 1 is not supported");
    case KvnRawOption::kWhiteBalance:
        if (whiteBalanceOverride) {
            whiteBalanceOverride = 0;
            rawWhiteBalance.SetPreset(0);
            rawWhiteBalance.SetTemperature(0);
            return UpdateChain(CKvTolmoFilterChain::kWhiteBalanceChanged);
        }
        return nullptr;
    case KvnRawOption::kExposure:
        if (exposureOverride) {
            exposureOverride = 0;
            rawExposure.SetCompensation(0.0);
            return UpdateChain(CKvTolmoFilterChain::kExposureChanged);
        }
        return nullptr;
    case KvnRawOption::kCameraSettings:
        if (m_cameraSettingsFlag != 0)
            return nullptr;
        m_cameraSettingsFlag = 1;
        if (m_chain)
            m_chain->SetRawProcessingFlag(m_cameraSettingsFlag);
        return UpdateChain(CKvTolmoFilterChain::kCameraSettingsFlagChanged);
    default:
        return BadRecord("unknown raw option");
    }
}

IPravonError* CKvnFilterChain::Cleanup(bool keep) {
    m_chain.reset();
    if (!keep) {
        ResetModes();
        DeleteEmbeddedProfileFile();
    }
    return nullptr;
}

IPravonError* CKvnFilterChain::Destroy() {
    delete this;
    return nullptr;
}
