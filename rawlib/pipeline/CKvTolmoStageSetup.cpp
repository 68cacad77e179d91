// The stage set-up rules of the chain's update: how each stage that an update names is derived from the
// settings snapshot (the colour conversions, colour noise, crop, curves, camera tone and sharpening).
#include "CKvFileSavingUtilities.h"
#include "CKvTolmoFilterChain.h"
#include "CKvTolmoUpdateSteps.h"
#include "KvFileColorProfile.h"
#include "KvProfileDescription.h"

#include "filters/CCropFilter.h"
#include "filters/CPravonFilterCML.h"
#include "filters/CPravonFilterLut.h"
#include "filters/CUnsharpMaskFilter.h"
#include "platform/pravon/PravonGraph.h"
#include "rawlib/filters/CFltFnRedeye.h"
#include "rawlib/filters/CFltSatComp.h"
#include "rawlib/filters/detail/CFltColorNoise.h"
#include "rawlib/filters/detail/CFltVignette.h"
#include "rawlib/settings/CKvChromaBooster.h"
#include "rawlib/settings/CKvExposureAdjustment.h"
#include "rawlib/settings/CKvFnRedEye.h"
#include "rawlib/settings/CKvLEGeneral.h"
#include "rawlib/settings/CKvLutChannel.h"
#include "rawlib/settings/CKvLutGroup.h"
#include "rawlib/settings/CKvNoiseReduction.h"
#include "rawlib/settings/CKvSizeRes.h"
#include "rawlib/settings/CKvUSM.h"
#include "rawlib/settings/CKvUSMList.h"
#include "rawlib/settings/CKvVignette.h"
#include "rawlib/settings/ImageProperties.h"
#include "rawlib/settings/KvComposeLut.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>

namespace {

// The values the update's steps share.
using namespace KvTolmoUpdate;

constexpr LONG kConvertedBits = 16;
constexpr std::size_t kWideEntries = 65536;
constexpr ULONG kHueLevelTag = 0x80092;
constexpr ULONG kSaturationTag = 0x800AA;
constexpr ULONG kCameraRecordTag = 0x80097;
constexpr ULONG kCameraRecordSize = 304;
constexpr LONG kNeutralHueLevel = 3;
// The general record's sharpening: radius 15, amounts 10, 20 and 30 for levels 1 to 3, threshold 0.
constexpr SHORT kGeneralRadius = 15;
constexpr SHORT kGeneralAmountStep = 10;
// The camera's own sharpening, in the sharpening list's codes (radius and threshold x 0.2 pixel and level,
// amount x 0.05), by the camera settings' sharpening level 1 (low) to 5 (high); 0 is none. Each level up
// works on finer detail with more amount and a lower threshold, as in-camera sharpening does, staying
// below the general record's strongest (radius 3 pixels, amount 1.5).
struct CameraSharpeningCodes {
    SHORT radius;
    SHORT amount;
    BYTE threshold;
};
constexpr CameraSharpeningCodes kCameraSharpening[] = {{0, 0, 0},  {5, 6, 5},  {5, 12, 4},
                                                       {6, 18, 3}, {7, 24, 2}, {8, 30, 1}};
constexpr LONG kStrongestCameraSharpening = 5;
constexpr ULONG kSensorDiagonalTag = 0x8000A;
constexpr ULONG kLensFlagsTag = 0x80083;
constexpr ULONG kLensDataTag = 0x80098;
constexpr ULONG kFNumberTag = 0x829D;
constexpr ULONG kLensDataSize = 31;
// The f-number assumed without one recorded, and the one that stands for "no lens model".
constexpr double kDefaultFNumber = 5.65685;
constexpr double kNoLensFNumber = 1.0;
// The sensitivity codes of the high-quality demosaicing's tuning: two and four times the base.
constexpr WORD kSensitivityBase = 1600;
constexpr WORD kModel259SensitivityBase = 800;
// The failure text of a colour conversion that gets no engine (a profile missing or not generated).
constexpr const char* kColorEngineErrorText = "CMSError";

// A positive finite reading of an 8-byte real tag; false when there is none.
bool ReadPositive(IPravonTagControl* tags, ULONG tag, LONG type, double* value) {
    double read = 0;
    if (!tags || !tags->TagExists(tag) || PravonErrorPtr(tags->ReadTag(tag, type, sizeof read, &read)) ||
        !std::isfinite(read) || read <= 0)
        return false;
    *value = read;
    return true;
}

// trunc toward zero, held to the range of LONG so that no value from settings is undefined to convert.
LONG TruncToLong(double value) {
    if (!std::isfinite(value))
        return 0;
    constexpr double kLow = std::numeric_limits<LONG>::min(), kHigh = std::numeric_limits<LONG>::max();
    return static_cast<LONG>(std::trunc(std::clamp(value, kLow, kHigh)));
}

bool On(DWORD enabled, const void* state) {
    return enabled && state;
}

LONG ReadLong(IPravonTagControl* tags, ULONG tag, LONG fallback) {
    LONG value = fallback;
    if (!tags || !tags->TagExists(tag) || PravonErrorPtr(tags->ReadTag(tag, 9, sizeof value, &value)))
        return fallback;
    return value;
}

CPravonFilterCML* Cml(CPravonFilterBase* stage) {
    return static_cast<CPravonFilterCML*>(stage);
}

// The three tables of a tone group: its first (master) channel followed by the channel of each colour
// (ids 1 to 3) where the group has one, over `count` entries up to `scale`.
bool GroupTables(CKvLutGroup& group, LONG count, LONG scale, std::vector<WORD>* tables) {
    const std::size_t n = static_cast<std::size_t>(count);
    std::vector<WORD> master(n);
    auto* first = dynamic_cast<CKvLutChannel*>(group.GetChannelAt(0));
    if (!first || first->BuildTable(master.data(), sizeof(WORD), count, scale, 0, 0.0) != count)
        return false;
    tables->assign(3 * n, 0);
    for (LONG c = 0; c < 3; ++c) {
        WORD* out = tables->data() + static_cast<std::size_t>(c) * n;
        auto* colour = dynamic_cast<CKvLutChannel*>(group.FindChannel(c + 1));
        std::vector<WORD> own(n);
        if (colour && colour != first &&
            colour->BuildTable(own.data(), sizeof(WORD), count, scale, 0, 0.0) == count)
            KvComposeLut(master.data(), 2, count, scale, own.data(), 2, count, scale, out, 2, count, scale);
        else
            std::copy(master.begin(), master.end(), out);
    }
    return true;
}

// The second group's tables read through the first's: the curve stage of the second group runs first.
void Compose(const std::vector<WORD>& before, std::vector<WORD>* after, LONG count, LONG scale) {
    const std::size_t n = static_cast<std::size_t>(count);
    std::vector<WORD> out(after->size());
    for (std::size_t c = 0; c < 3; ++c)
        KvComposeLut(before.data() + c * n, 2, count, scale, after->data() + c * n, 2, count, scale,
                     out.data() + c * n, 2, count, scale);
    *after = std::move(out);
}

IPravonError* SetTables(CPravonFilterBase* stage, const std::vector<WORD>& tables, LONG bits, bool notify) {
    const std::size_t n = tables.size() / 3;
    const WORD* channels[3] = {tables.data(), tables.data() + n, tables.data() + 2 * n};
    return static_cast<CPravonFilterLut*>(stage)->SetLUT(channels, bits, bits, 3, notify);
}

} // namespace

LONG CKvTolmoFilterChain::DemosaicSensitivity(WORD first, WORD second, WORD model) {
    if (first == 0)
        return second;
    const WORD base = model == 259 ? kModel259SensitivityBase : kSensitivityBase;
    return second == 2 * base ? -1 : second == 4 * base ? -2 : 0;
}

double CKvTolmoFilterChain::ColorNoiseStrength(LONG level) {
    static constexpr double kStrengths[11] = {0.0, 0.2, 0.3, 0.4, 0.5, 0.63, 0.7, 0.8, 0.9, 0.95, 1.0};
    return level >= 0 && level <= 10 ? kStrengths[level] : 0.0;
}

std::vector<WORD> CKvTolmoFilterChain::CameraToneTables(LONG hueLevel, double saturation) {
    if (hueLevel == kNeutralHueLevel && saturation == 1.0)
        return {};
    std::vector<WORD> tables(3 * kWideEntries);
    // A turn of 3 degrees per level away from the neutral one.
    const std::int64_t turn = (std::int64_t{3} * hueLevel - 9) * 65536 / 360;
    for (std::size_t v = 0; v < kWideEntries; ++v) {
        tables[v] = static_cast<WORD>(v);
        tables[kWideEntries + v] =
            static_cast<WORD>(std::min(std::trunc(static_cast<double>(v) * saturation), 65535.0));
        tables[2 * kWideEntries + v] =
            static_cast<WORD>(((static_cast<std::int64_t>(v) + turn) % 65536 + 65536) % 65536);
    }
    return tables;
}

PravonRect CKvTolmoFilterChain::CropRectangle(const CropInput& in) {
    const double r = std::max<LONG>(in.ratio, 1), f = in.firstScale;
    const LONG left = TruncToLong(in.left * 0.5 / r * f);
    PravonRect rect;
    rect.left = left;
    if (in.model259Raw) {
        // The tall pixels' stretch, unless the first reduction took it already.
        const double g = in.aspectConsumedByFirst ? f : 0.5015290519877675;
        rect.top = TruncToLong(in.top * 0.5 / r * g);
        rect.bottom = TruncToLong((in.bottom - in.top) * 0.5 / r * g + rect.top);
        rect.right = in.laterScalesOff ? in.outputWidth + left
                                       : TruncToLong((in.right - in.left) * 0.5 / r * f + left);
        return rect;
    }
    rect.top = TruncToLong(in.top * 0.5 / r * f);
    if (in.laterScalesOff) {
        rect.right = in.outputWidth + left;
        rect.bottom = in.outputHeight + rect.top;
    } else {
        rect.right = TruncToLong((in.right - in.left) * 0.5 / r * f + left);
        rect.bottom = TruncToLong((in.bottom - in.top) * 0.5 / r * f + rect.top);
    }
    return rect;
}

int CKvTolmoFilterChain::ColorEngineFailure() {
    m_errorText = kColorEngineErrorText;
    return kColorEngineError;
}

bool CKvTolmoFilterChain::PrepareEngine(CPravonFilterCMLEngine* engine) {
    // Chains on other threads may share the engine and pull through it at once: its transform is made
    // here, under the update's guard, and only read afterwards.
    return engine && !PravonErrorPtr(engine->ResetParameters(nullptr));
}

CKvTolmoFilterChain::CameraTone CKvTolmoFilterChain::CameraToneOf(const ImageProperties& snapshot) const {
    CameraTone tone;
    const CKvExposureAdjustment* settings =
        On(snapshot.exposureEnabled, snapshot.exposure) ? snapshot.exposure : nullptr;
    LONG saturationLevel = 2;
    if (settings) {
        tone.hueLevel = settings->GetThirdValue();
        saturationLevel = settings->GetSixthValue();
    } else {
        tone.hueLevel = ReadLong(snapshot.tagControl, kHueLevelTag, 0) / 3 + kNeutralHueLevel;
        saturationLevel = ReadLong(snapshot.tagControl, kSaturationTag, 2);
    }
    if (tone.hueLevel < 1 || tone.hueLevel > 5)
        tone.hueLevel = kNeutralHueLevel;
    tone.saturation = saturationLevel == 1 ? 0.85 : saturationLevel == 3 ? 1.1 : 1.0;
    return tone;
}

LONG CKvTolmoFilterChain::SaturationCompensation(const ImageProperties& snapshot) {
    if (!snapshot.rawFlag)
        return 0;
    if (On(snapshot.exposureEnabled, snapshot.exposure) && snapshot.exposure->GetFirstFlag())
        return snapshot.exposure->GetFourthValue();
    // Else the camera's own level, the second byte of its record.
    BYTE record[kCameraRecordSize] = {};
    if (!snapshot.tagControl || !snapshot.tagControl->TagExists(kCameraRecordTag) ||
        PravonErrorPtr(snapshot.tagControl->ReadTag(kCameraRecordTag, 7, sizeof record, record)))
        return 0;
    return record[1];
}

bool CKvTolmoFilterChain::CameraSharpening(const ImageProperties& snapshot, CKvUSM* entry) {
    // The camera settings ask for their own sharpening with their second flag; their fifth value is its
    // level.
    const CKvExposureAdjustment* settings =
        On(snapshot.exposureEnabled, snapshot.exposure) ? snapshot.exposure : nullptr;
    if (!settings || !settings->GetSecondFlag())
        return false;
    const LONG level = settings->GetFifthValue();
    if (level < 1 || level > kStrongestCameraSharpening)
        return false;
    const CameraSharpeningCodes& codes = kCameraSharpening[level];
    if (entry) {
        entry->SetRadiusCode(codes.radius);
        entry->SetAmountCode(codes.amount);
        entry->SetThresholdCode(codes.threshold);
    }
    return true;
}

bool CKvTolmoFilterChain::GeneralSharpeningApplies(const ImageProperties& snapshot) const {
    const LONG level = snapshot.general ? snapshot.general->GetValue(1) : 0;
    return level >= 1 && level <= 3;
}

bool CKvTolmoFilterChain::LchWanted(const ImageProperties& snapshot) const {
    if (m_developmentMode == kPreviewMode)
        return false;
    const CameraTone tone = CameraToneOf(snapshot);
    const bool toned = tone.hueLevel != kNeutralHueLevel || tone.saturation != 1.0;
    if (m_rawProcessingFlag) {
        const bool list = On(snapshot.usmListEnabled, snapshot.usmList) && snapshot.usmList->GetCount() > 0;
        if (list || toned || CameraSharpening(snapshot, nullptr) || GeneralSharpeningApplies(snapshot) ||
            SaturationCompensation(snapshot) != 0)
            return true;
    } else if (toned) {
        return true;
    }
    return (On(snapshot.lutGroup3Enabled, snapshot.lutGroup3) && !snapshot.lutGroup3->IsNeutral()) ||
           (On(snapshot.chromaBoosterEnabled, snapshot.chromaBooster) &&
            !snapshot.chromaBooster->IsNeutral());
}

bool CKvTolmoFilterChain::ColorNoiseWanted(const ImageProperties& snapshot, double displayScale) const {
    return m_developmentMode != kPreviewMode && displayScale >= 1.0 &&
           On(snapshot.noiseReductionEnabled, snapshot.noiseReduction) &&
           snapshot.noiseReduction->GetLevel() != 0;
}

int CKvTolmoFilterChain::SetUpLabConversion(const ImageProperties& snapshot, double displayScale) {
    auto* stage = Cml(GetStage(kLabConversionStage));
    if (!ColorNoiseWanted(snapshot, displayScale)) {
        if (stage->IsEnabled()) {
            PravonErrorPtr(stage->Enable(false, false));
            NoteQuietChange(kLabConversionStage);
        }
        return kOk;
    }
    CKvFileSavingUtilities* utilities = CKvFileSavingUtilities::Get();
    LONG bits = 8;
    if (!utilities ||
        !utilities->GetCameraEngine(&m_engines[0], snapshot, utilities->GetProfilePath("KVLab.icm"), &bits) ||
        !PrepareEngine(m_engines[0].Get()))
        return ColorEngineFailure();
    if (stage->GetCMLEngine() == m_engines[0].Get() && stage->IsEnabled() &&
        stage->GetBitsPerComponent(false) == bits && stage->GetBitsPerComponent(true) == kConvertedBits)
        return kOk;
    if (PravonErrorPtr(stage->Enable(true, false)) ||
        PravonErrorPtr(stage->SetCMLEngine(m_engines[0].Get(), false)) ||
        PravonErrorPtr(stage->SetLUT(true, true, nullptr, 0, 0, 0, false)) ||
        PravonErrorPtr(stage->SetBitsPerComponent(true, kConvertedBits, false)) ||
        PravonErrorPtr(stage->SetBitsPerComponent(false, bits, false)))
        return kStageError;
    NoteQuietChange(kLabConversionStage);
    return kOk;
}

int CKvTolmoFilterChain::SetUpLchConversion(const ImageProperties& snapshot) {
    m_lchChanged = false;
    auto* stage = Cml(GetStage(kLchConversionStage));
    if (!LchWanted(snapshot)) {
        if (stage->IsEnabled()) {
            PravonErrorPtr(stage->Enable(false, false));
            NoteQuietChange(kLchConversionStage);
            m_lchChanged = true;
        }
        return kOk;
    }
    CKvFileSavingUtilities* utilities = CKvFileSavingUtilities::Get();
    if (!utilities)
        return ColorEngineFailure();
    const std::string lch = utilities->GetProfilePath("KVLch2.icm");
    LONG bits = kConvertedBits;
    const bool acquired =
        GetStage(kLabConversionStage)->IsEnabled()
            ? utilities->GetEngine(&m_engines[1], utilities->GetProfilePath("KVLab.icm"), lch)
            : utilities->GetCameraEngine(&m_engines[1], snapshot, lch, &bits);
    if (!acquired || !PrepareEngine(m_engines[1].Get()))
        return ColorEngineFailure();
    if (stage->GetCMLEngine() == m_engines[1].Get() && stage->IsEnabled() &&
        stage->GetBitsPerComponent(false) == bits && stage->GetBitsPerComponent(true) == kConvertedBits)
        return kOk;
    if (PravonErrorPtr(stage->Enable(true, false)) ||
        PravonErrorPtr(stage->SetCMLEngine(m_engines[1].Get(), false)) ||
        PravonErrorPtr(stage->SetBitsPerComponent(true, kConvertedBits, false)) ||
        PravonErrorPtr(stage->SetBitsPerComponent(false, bits, false)))
        return kStageError;
    NoteQuietChange(kLchConversionStage);
    m_lchChanged = true;
    return kOk;
}

int CKvTolmoFilterChain::SetUpOutputConversion(const ImageProperties& snapshot) {
    CKvFileSavingUtilities* utilities = CKvFileSavingUtilities::Get();
    if (!utilities)
        return ColorEngineFailure();
    std::string output = utilities->ChooseDefaultOutputProfile(snapshot);
    if (output.empty())
        output = utilities->GetStandardProfile(0);
    m_outputProfile = output;
    // The picture's own profile is chosen once here, for the conversion and for whoever asks what it was.
    m_inputProfile = utilities->CameraProfile(snapshot);
    CKvString description;
    m_profileDescription =
        ReadProfileDescription(output.c_str(), &description, false) ? description.GetBuffer() : "";

    const bool processedRaw = snapshot.cameraModelCode >= 513 && snapshot.cameraModelCode <= 516;
    const bool rawDevelopment = snapshot.rawFlag && !processedRaw;
    const OutputParameters& out = m_outputParameters;
    const bool lab = GetStage(kLabConversionStage)->IsEnabled(),
               lch = GetStage(kLchConversionStage)->IsEnabled();
    auto* stage = Cml(GetStage(kOutputConversionStage));
    if (!(rawDevelopment || snapshot.embeddedProfile || UsesFileColorProfile(snapshot) ||
          (!out.customProfile && (out.profileRequested || out.depthDiffers)) || lab || lch)) {
        if (stage->IsEnabled()) {
            PravonErrorPtr(stage->Enable(false, false));
            NoteQuietChange(kOutputConversionStage);
        }
        return kOk;
    }
    LONG bits = kConvertedBits;
    bool acquired = false;
    if (lch)
        acquired = utilities->GetEngine(&m_engines[2], utilities->GetProfilePath("KVLch2.icm"), output);
    else if (lab)
        acquired = utilities->GetEngine(&m_engines[2], utilities->GetProfilePath("KVLab.icm"), output);
    else {
        bits = CKvFileSavingUtilities::CameraBits(snapshot);
        acquired = utilities->GetEngine(&m_engines[2], m_inputProfile, output);
    }
    if (!acquired)
        return ColorEngineFailure();
    CPravonFilterCMLEngine* engine = m_engines[2].Get();
    bool intentChanged = false;
    if (!out.customProfile && out.profileRequested && engine->GetRenderingIntent() != out.renderingIntent) {
        if (PravonErrorPtr(engine->SetRenderingIntent(out.renderingIntent)))
            return kStageError;
        intentChanged = true;
    }
    if (!PrepareEngine(engine))
        return ColorEngineFailure();
    if (stage->GetCMLEngine() == engine && stage->IsEnabled() && !intentChanged &&
        stage->GetBitsPerComponent(false) == bits && stage->GetBitsPerComponent(true) == out.bitsPerChannel)
        return kOk;
    if (PravonErrorPtr(stage->Enable(true, false)) || PravonErrorPtr(stage->SetCMLEngine(engine, false)) ||
        PravonErrorPtr(stage->SetBitsPerComponent(true, out.bitsPerChannel, false)) ||
        PravonErrorPtr(stage->SetBitsPerComponent(false, bits, false)))
        return kStageError;
    NoteQuietChange(kOutputConversionStage);
    return kOk;
}

int CKvTolmoFilterChain::SetUpCustomConversion(const ImageProperties& snapshot) {
    auto* stage = Cml(GetStage(kCustomConversionStage));
    const OutputParameters& out = m_outputParameters;
    if (!out.customProfile)
        return stage->IsEnabled() && PravonErrorPtr(stage->Enable(false, true)) ? kStageError : kOk;
    CKvFileSavingUtilities* utilities = CKvFileSavingUtilities::Get();
    if (!utilities)
        return ColorEngineFailure();
    LONG bits = out.bitsPerChannel;
    const bool acquired =
        GetStage(kOutputConversionStage)->IsEnabled()
            ? utilities->GetEngine(&m_engines[3], m_outputProfile, out.customProfilePath)
            : utilities->GetCameraEngine(&m_engines[3], snapshot, out.customProfilePath, &bits);
    if (!acquired)
        return ColorEngineFailure();
    CPravonFilterCMLEngine* engine = m_engines[3].Get();
    bool intentChanged = false;
    if (engine->GetRenderingIntent() != out.renderingIntent) {
        if (PravonErrorPtr(engine->SetRenderingIntent(out.renderingIntent)))
            return kStageError;
        intentChanged = true;
    }
    if (!PrepareEngine(engine))
        return ColorEngineFailure();
    if (stage->GetCMLEngine() == engine && stage->IsEnabled() && !intentChanged &&
        stage->GetBitsPerComponent(false) == bits && stage->GetBitsPerComponent(true) == out.bitsPerChannel)
        return kOk;
    if (PravonErrorPtr(stage->Enable(true, true)) || PravonErrorPtr(stage->SetCMLEngine(engine, true)) ||
        PravonErrorPtr(stage->SetBitsPerComponent(true, out.bitsPerChannel, true)) ||
        PravonErrorPtr(stage->SetBitsPerComponent(false, bits, true)))
        return kStageError;
    return kOk;
}

int CKvTolmoFilterChain::SetUpColorNoise(const ImageProperties& snapshot, LONG ratio, double displayScale) {
    auto* stage = static_cast<CFltColorNoise*>(GetStage(kColorNoiseStage));
    const CKvNoiseReduction* noise =
        On(snapshot.noiseReductionEnabled, snapshot.noiseReduction) && snapshot.tagControl
            ? snapshot.noiseReduction
            : nullptr;
    const double strength = noise ? ColorNoiseStrength(noise->GetLevel()) : 0.0;
    if (displayScale >= 1.0 && strength > 0 && ratio == 1 && m_developmentMode != kPreviewMode) {
        if (!stage->IsEnabled()) {
            if (PravonErrorPtr(stage->Enable(true, false)))
                return kStageError;
            NoteQuietChange(kColorNoiseStage);
        }
        if (stage->GetStrength() != strength) {
            if (PravonErrorPtr(stage->SetStrength(strength, false)))
                return kStageError;
            NoteQuietChange(kColorNoiseStage);
        }
    } else if (stage->IsEnabled()) {
        if (PravonErrorPtr(stage->Enable(false, false)))
            return kStageError;
        NoteQuietChange(kColorNoiseStage);
    }
    return kOk;
}

int CKvTolmoFilterChain::SetUpCrop(const ImageProperties& snapshot, LONG ratio) {
    auto* stage = static_cast<CCropFilter*>(GetStage(kCropStage));
    const CKvSizeRes* size = snapshot.sizeRes;
    if (!size || m_active != 1 || size->GetCrop() == size->GetImageRect())
        return Outcome(stage->Enable(false, true));
    // The source carries the print resolution that the crop is made for.
    if (snapshot.sourceImage &&
        PravonErrorPtr(snapshot.sourceImage->SetResolution(size->GetResolution().value)))
        return kStageError;
    const DblRect crop = size->GetCrop();
    CropInput in;
    in.left = crop.left;
    in.top = crop.top;
    in.right = crop.right;
    in.bottom = crop.bottom;
    in.ratio = ratio;
    in.firstScale = m_firstUsed ? m_firstReduction : 1.0;
    in.model259Raw = snapshot.rawFlag && snapshot.cameraModelCode == 259;
    in.aspectConsumedByFirst = m_firstAspectConsumed;
    in.laterScalesOff = !GetStage(kSecondScaleStage)->IsEnabled() &&
                        !GetStage(kEnlargeScaleStage)->IsEnabled() &&
                        !GetStage(kAspectScaleStage)->IsEnabled();
    in.outputWidth = m_outputWidth;
    in.outputHeight = m_outputHeight;
    return Refused(stage->SetCrop(CropRectangle(in), true)) || Refused(stage->Enable(true, true))
               ? kStageError
               : kOk;
}

int CKvTolmoFilterChain::SetUpCurves(const ImageProperties& snapshot, DWORD mask) {
    const bool separate = snapshot.separateCurves != 0;
    if (!separate && (mask & (kFirstCurvesChanged | kSecondCurvesChanged))) {
        mask = (mask | kFirstCurvesChanged) & ~kSecondCurvesChanged;
        if (PravonErrorPtr(GetStage(kSecondCurvesStage)->Enable(false, true)))
            return kStageError;
    }
    // The curves see the output conversion's depth, or the source's when there is none.
    LONG sourceSpace = 0;
    const LONG depth = GetStage(kOutputConversionStage)->IsEnabled() ? m_outputParameters.bitsPerChannel
                       : m_source && !PravonErrorPtr(m_source->GetColorSpace(&sourceSpace))
                           ? PravonColorSpace::BitsPerSample(sourceSpace)
                           : 16;
    const LONG bits = depth == 8 ? 8 : 16;
    const LONG count = LONG{1} << bits;
    const bool firstOn = On(snapshot.lutGroup1Enabled, snapshot.lutGroup1);
    const bool secondOn = On(snapshot.lutGroup2Enabled, snapshot.lutGroup2);
    std::vector<WORD> tables;
    if (mask & kSecondCurvesChanged) {
        const bool built = secondOn && !snapshot.lutGroup2->IsNeutral() &&
                           GroupTables(*snapshot.lutGroup2, count, count, &tables) &&
                           !PravonErrorPtr(SetTables(GetStage(kSecondCurvesStage), tables, bits, true));
        if (PravonErrorPtr(GetStage(kSecondCurvesStage)->Enable(built, true)))
            return kStageError;
    }
    if (mask & kFirstCurvesChanged) {
        if (!firstOn && (separate || !secondOn))
            return Outcome(GetStage(kFirstCurvesStage)->Enable(false, true));
        const bool firstCurved = firstOn && !snapshot.lutGroup1->IsNeutral();
        const bool secondCurved = !separate && secondOn && !snapshot.lutGroup2->IsNeutral();
        bool built = false;
        if (firstCurved || secondCurved) {
            std::vector<WORD> first, second;
            built = !firstCurved || GroupTables(*snapshot.lutGroup1, count, count, &first);
            if (built && secondCurved) {
                built = GroupTables(*snapshot.lutGroup2, count, count, &second);
                if (built && firstCurved)
                    Compose(second, &first, count, count);
                else if (built)
                    first = std::move(second);
            }
            built = built && !PravonErrorPtr(SetTables(GetStage(kFirstCurvesStage), first, bits, true));
        }
        if (PravonErrorPtr(GetStage(kFirstCurvesStage)->Enable(built, true)))
            return kStageError;
    }
    return kOk;
}

int CKvTolmoFilterChain::SetUpCameraTone(const ImageProperties& snapshot) {
    if (!GetStage(kLchConversionStage)->IsEnabled())
        return Refused(GetStage(kSaturationCompensationStage)->Enable(false, true)) ||
                       Refused(GetStage(kCameraToneStage)->Enable(false, true))
                   ? kStageError
                   : kOk;
    const CameraTone tone = CameraToneOf(snapshot);
    const std::vector<WORD> tables = CameraToneTables(tone.hueLevel, tone.saturation);
    auto* lut = static_cast<CPravonFilterLut*>(GetStage(kCameraToneStage));
    IPravonError* set =
        tables.empty() ? lut->SetLUT(nullptr, 0, 0, 0, true) : SetTables(lut, tables, 16, true);
    if (PravonErrorPtr(set) || PravonErrorPtr(lut->Enable(true, true)))
        return kStageError;
    auto* compensation = static_cast<CFltSatComp*>(GetStage(kSaturationCompensationStage));
    if (!m_rawProcessingFlag)
        return Outcome(compensation->Enable(false, true));
    return Refused(compensation->SetCompensation(SaturationCompensation(snapshot), true)) ||
                   Refused(compensation->Enable(true, true))
               ? kStageError
               : kOk;
}

int CKvTolmoFilterChain::SetUpSharpeningStage(CUnsharpMaskFilter& stage, const CKvUSM& entry,
                                              const ImageProperties& snapshot) {
    // The stage works at the first reduction's scale, on pixels that may still be camera 259's tall ones.
    const double scale = m_firstUsed ? m_firstReduction : 1.0;
    const double aspect = m_firstAspectConsumed
                              ? 1.0
                              : (snapshot.rawFlag && snapshot.cameraModelCode == 259 ? kModel259Aspect : 1.0);
    const double r = entry.GetRadiusCode() * scale * kUsmRadiusUnit;
    const bool wide = r >= kUsmSmallestRadius;
    const double amount = entry.GetAmountCode();
    return Refused(stage.SetAffectNoise(false, true)) || Refused(stage.SetRange(0.0, 0.0, 1.0, 0.0, true)) ||
                   Refused(stage.SetThreshold(entry.GetThresholdCode() * kUsmThresholdUnit, true)) ||
                   Refused(stage.SetRadii(wide ? r : 1.0, (wide ? r : 1.0) / aspect, true)) ||
                   Refused(
                       stage.SetPower(wide ? amount * kUsmAmountUnit : amount * r * kUsmAmountUnit, true)) ||
                   Refused(stage.SetMaskMethod(kUsmMaskMethod, true)) || Refused(stage.Enable(true, true))
               ? kStageError
               : kOk;
}

int CKvTolmoFilterChain::SetUpSharpening(const ImageProperties& snapshot, bool secondToo) {
    const bool on = GetStage(kLchConversionStage)->IsEnabled() && m_rawProcessingFlag;
    auto* camera = static_cast<CUnsharpMaskFilter*>(GetStage(kCameraSharpeningStage));
    CKvUSM cameraEntry;
    if (!on || !CameraSharpening(snapshot, &cameraEntry)) {
        if (PravonErrorPtr(camera->Enable(false, true)))
            return kStageError;
    } else if (const int set = SetUpSharpeningStage(*camera, cameraEntry, snapshot); set != kOk) {
        return set;
    }
    if (!secondToo)
        return kOk;
    auto* general = static_cast<CUnsharpMaskFilter*>(GetStage(kGeneralSharpeningStage));
    if (!on || !GeneralSharpeningApplies(snapshot))
        return Outcome(general->Enable(false, true));
    CKvUSM generalEntry;
    generalEntry.SetRadiusCode(kGeneralRadius);
    generalEntry.SetAmountCode(static_cast<SHORT>(kGeneralAmountStep * snapshot.general->GetValue(1)));
    generalEntry.SetThresholdCode(0);
    return SetUpSharpeningStage(*general, generalEntry, snapshot);
}

int CKvTolmoFilterChain::SetUpVignette(const ImageProperties& snapshot, double aspect) {
    auto* stage = static_cast<CFltVignette*>(GetStage(kVignetteStage));
    const CKvVignette* vignette =
        On(snapshot.vignetteEnabled, snapshot.vignette) ? snapshot.vignette : nullptr;
    if (!vignette || vignette->GetAmount() == 0)
        return Outcome(stage->Enable(false, true));
    IPravonTagControl* tags = snapshot.tagControl;
    bool failed = false;
    double diagonal = 0;
    if (ReadPositive(tags, kSensorDiagonalTag, 4, &diagonal)) {
        failed = PravonErrorPtr(stage->SetMagnitude(diagonal, true)) != nullptr;
    } else {
        failed = true;
        PravonErrorPtr(stage->ResetSensorSize(true));
    }
    double fNumber = kDefaultFNumber;
    BYTE flags[8] = {};
    CVignetteLensModel::Descriptor lens{};
    bool haveLens = false;
    if (tags && tags->TagExists(kLensFlagsTag) &&
        !PravonErrorPtr(tags->ReadTag(kLensFlagsTag, 0x105, sizeof flags, flags)) && flags[2] != 0) {
        BYTE data[kLensDataSize] = {};
        if (!ReadPositive(tags, kFNumberTag, 4, &fNumber))
            fNumber = kDefaultFNumber;
        if (!tags->TagExists(kLensDataTag) ||
            PravonErrorPtr(tags->ReadTag(kLensDataTag, 0x108, sizeof data, data))) {
            failed = true;
        } else if (std::memcmp(data, "0100", 4) == 0) {
            std::copy(data + 13, data + 19, lens.begin());
            haveLens = true;
        } else if (std::memcmp(data, "0101", 4) == 0) {
            lens = {data[4], data[5], data[19], data[20], data[21], data[22]};
            haveLens = true;
        } else {
            failed = true;
        }
    }
    if (PravonErrorPtr(stage->SetLensId(haveLens ? lens.data() : nullptr, true)))
        failed = true;
    if (failed)
        fNumber = kNoLensFNumber;
    if (PravonErrorPtr(stage->SetFNumber(fNumber, true)) ||
        PravonErrorPtr(stage->SetAmount(vignette->GetAmount() * 0.01, true)) ||
        PravonErrorPtr(stage->SetExtra(aspect, true)))
        return Outcome(stage->Enable(false, true));
    return Outcome(stage->Enable(true, true));
}

int CKvTolmoFilterChain::SetUpRedEye(const ImageProperties& snapshot) {
    auto* stage = static_cast<CFltFnRedeye*>(GetStage(kRedEyeStage));
    CKvFnRedEye* state = On(snapshot.redEyeEnabled, snapshot.redEye) ? snapshot.redEye : nullptr;
    if (!state || state->IsOff())
        return Outcome(stage->Enable(false, true));
    if (PravonErrorPtr(stage->Enable(true, true)) ||
        PravonErrorPtr(stage->SetKeepAutomatic(state->GetKeepAutomatic(), true)))
        return kStageError;
    if (snapshot.tagControl)
        PravonErrorPtr(stage->ReadCameraTags(snapshot.tagControl));
    if (PravonErrorPtr(stage->SetMode(state->GetMode(), true)))
        return kStageError;
    if (state->GetMode() == CKvFnRedEye::kModeAutomatic) {
        // Detection that fails or is stopped still counts as done; the regions found so far are kept.
        PravonErrorPtr(DetectRedEyes(*stage, true));
        return Outcome(stage->GetRegions(CFltFnRedeye::kAutomaticList, state->GetAutomaticRegions(), false));
    }
    // The state's detect-at-point byte: the pupil at the pending click joins the manual regions.
    if (state->GetAutomaticDone()) {
        if (PravonErrorPtr(stage->DetectAtPoint(true)) ||
            PravonErrorPtr(stage->GetRegions(CFltFnRedeye::kManualList, state->GetManualRegions(), false)))
            return kStageError;
        state->SetAutomaticDone(false);
        return kOk;
    }
    if (state->GetClearManualRequest()) {
        if (PravonErrorPtr(stage->ClearRegions(true)))
            return kStageError;
        state->SetClearManualRequest(false);
        return kOk;
    }
    if (PravonErrorPtr(stage->LoadRegions(CFltFnRedeye::kManualList, state->GetManualRegions())))
        return kStageError;
    if (!state->GetKeepAutomatic())
        return kOk;
    return Outcome(stage->LoadRegions(CFltFnRedeye::kAutomaticList, state->GetAutomaticRegions()));
}
