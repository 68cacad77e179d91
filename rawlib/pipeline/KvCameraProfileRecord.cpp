#include "KvCameraProfileRecord.h"

#include "CKvFileSavingUtilities.h"

#include "rawlib/settings/CKvExposureAdjustment.h"
#include "rawlib/settings/CKvWBAdjustment.h"
#include "rawlib/settings/ImageProperties.h"
#include "rawlib/settings/KvColorTemperature.h"
#include "rawlib/settings/KvToneCurves.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <new>

namespace {

constexpr ULONG kWhiteBalanceTag = 0x80005;
constexpr ULONG kWhiteBalanceFlagTag = 0x80087;
constexpr ULONG kAsShotGainsTag = 0x8000C;
constexpr ULONG kFineTuneTag = 0x8000B;
constexpr ULONG kSubModeTag = 0x80090;
constexpr ULONG kColorModeTag = 0x8008D;
constexpr ULONG kSensitivityTag = 0x80002;
constexpr ULONG kCameraRecordTag = 0x80097;
constexpr ULONG kCameraRecordSize = 304;
constexpr LONG kShortType = 3;
constexpr LONG kCustomToneMode = 16;
constexpr int kCurveBits = 16;
constexpr std::size_t kCurveEntries = std::size_t{1} << kCurveBits;
constexpr WORD kDefaultSensitivity = 200;
// The table index of camera 4's records lies 300 rows further on in its colour mode 3 (tag value 3).
constexpr LONG kCameraFourIndexOffset = 300;
// Fine-tune values above this are negative 16-bit values stored unsigned.
constexpr LONG kLargestFineTune = 32000;
// White-balance presets: the two ranges of fluorescent kinds (their nominal temperature is that of code
// 4098) and the flash.
constexpr LONG kFirstRange[2] = {768, 772};
constexpr LONG kSecondRange[2] = {1024, 1028};
constexpr LONG kFlashPreset = 1280;
constexpr LONG kRangeTemperatureCode = 4098;
// The low four bits of the white-balance tag that mark its own kind.
constexpr LONG kWhiteBalanceLowBits = 0xF;
constexpr LONG kOwnKindBits = 7;
// The white-balance kind of a record that has none (no state and no readable tag), and that of a preset.
constexpr LONG kNoWhiteBalance = 0;
constexpr LONG kPresetWhiteBalance = 4;
// Daylight: the preset a picture without any white-balance information is developed with.
constexpr LONG kDaylightPreset = 512;

// Reads the first `size` bytes of a tag; false when it is missing or shorter.
bool ReadBytes(IPravonTagControl* tags, ULONG tag, LONG type, ULONG size, void* out) {
    return tags && tags->TagExists(tag) && !PravonErrorPtr(tags->ReadTag(tag, type, size, out));
}

bool InRange(LONG value, const LONG (&range)[2]) {
    return value >= range[0] && value <= range[1];
}

// A gain that is finite and positive, else 1.0 (no gain).
double GainOrOne(double gain) {
    return std::isfinite(gain) && gain > 0 ? gain : 1.0;
}

LONG ColorModeFromState(LONG mode) {
    static constexpr LONG kByState[7] = {0, 2, 3, 1, 4, 5, 6};
    return mode >= 0 && mode <= 6 ? kByState[mode] : 0;
}

LONG ColorModeFromTag(LONG mode) {
    return mode >= 1 && mode <= 5 ? mode + 1 : 0;
}

void WhiteBalanceFromState(const CKvWBAdjustment& state, WORD model, CameraProfileParams* p) {
    const LONG mode = state.GetMode(), preset = state.GetPreset();
    p->whiteBalanceKind = mode == 0 ? 0 : mode == 4 ? 5 : 4;
    p->whiteBalanceFlag = mode == CKvWBAdjustment::kModeTemperature && preset == kFlashPreset ? 1 : 0;
    KvColorTemperatureToGains(preset, state.GetTemperature(), &p->redGain, &p->blueGain, model);
    p->redGain = GainOrOne(p->redGain);
    p->blueGain = GainOrOne(p->blueGain);
    const bool ranged = InRange(preset, kFirstRange) || InRange(preset, kSecondRange);
    p->colorTemperature = KvDefaultColorTemperature(ranged ? kRangeTemperatureCode : preset);
    p->subMode = InRange(preset, kFirstRange)    ? 1
                 : InRange(preset, kSecondRange) ? 2
                 : preset == kFlashPreset        ? 3
                                                 : 0;
}

// The temperature and sub-mode that the fine tune stands for with the camera's white-balance value 2.
void TemperatureFromFineTune(CameraProfileParams* p) {
    static constexpr struct {
        LONG low, high;
        DWORD kelvin;
    } kByFineTune[] = {{1, 1, 3700},   {2, 2, 3000},   {3, 6, 2700},
                       {-6, -3, 7200}, {-2, -2, 6500}, {-1, -1, 5500}};
    p->colorTemperature = 4200;
    p->subMode = 1;
    for (const auto& entry : kByFineTune)
        if (p->fineTune >= entry.low && p->fineTune <= entry.high) {
            p->colorTemperature = entry.kelvin;
            p->subMode = 2;
        }
}

void WhiteBalanceFromTags(IPravonTagControl* tags, CameraProfileParams* p) {
    LONG words[2] = {0, 0};
    const bool both = ReadBytes(tags, kWhiteBalanceTag, 9, sizeof words, words);
    if (both || ReadBytes(tags, kWhiteBalanceTag, 9, sizeof words[0], words)) {
        const bool own = (words[0] & kWhiteBalanceLowBits) == kOwnKindBits;
        p->whiteBalanceKind = words[0] == 0 ? 1 : own ? 3 : 2;
        p->whiteBalanceTagValue = static_cast<DWORD>(own ? kOwnKindBits : words[0]);
        p->rawWhiteBalance[0] = words[0];
        p->rawWhiteBalance[1] = both ? words[1] : 0;
    }
    BYTE flag[8] = {};
    if (ReadBytes(tags, kWhiteBalanceFlagTag, 7, sizeof flag, flag))
        p->whiteBalanceFlag = flag[0];
    double gains[4] = {1.0, 1.0, 0, 0};
    if (ReadBytes(tags, kAsShotGainsTag, 4, sizeof gains, gains)) {
        p->redGain = GainOrOne(gains[0]);
        p->blueGain = GainOrOne(gains[1]);
    }
    LONG fineTune = 0;
    if (ReadBytes(tags, kFineTuneTag, 9, sizeof fineTune, &fineTune))
        p->fineTune = fineTune > kLargestFineTune ? static_cast<SHORT>(fineTune) : fineTune;
    LONG subMode = 0;
    if (p->whiteBalanceKind == 1 && tags->GetTagKind(kSubModeTag) == kShortType &&
        ReadBytes(tags, kSubModeTag, kShortType, sizeof subMode, &subMode))
        p->subMode = subMode;
    if (p->whiteBalanceKind == 2 && p->whiteBalanceTagValue == 2)
        TemperatureFromFineTune(p);
}

// Whether the generator finds a profile for the record.
bool GeneratorTakes(const CameraProfileParams& p) {
    CCameraProfileGen generator;
    generator.Initialize(p);
    return generator.IsValidated();
}

// A record without white balance, which the generator has no row for, takes daylight's: the preset and
// its nominal temperature, with the camera's as-shot gains as they are.
void UseDaylight(CameraProfileParams* p) {
    p->whiteBalanceKind = kPresetWhiteBalance;
    p->whiteBalanceFlag = 0;
    p->colorTemperature = KvDefaultColorTemperature(kDaylightPreset);
    p->subMode = 0;
}

// The custom curve into `curve`; false when it cannot be allocated or rendered.
bool RenderCurve(const ImageProperties& snapshot, std::vector<WORD>* curve) {
    try {
        curve->assign(kCurveEntries, 0);
    } catch (const std::bad_alloc&) {
        return false;
    }
    return BuildCameraToneCurve(&snapshot, curve->data(), kCurveBits);
}

} // namespace

CameraProfileParams CameraProfileRecord(const ImageProperties& snapshot, std::vector<WORD>* curve) {
    const CKvFileSavingUtilities::CameraProfileParameters derived =
        CKvFileSavingUtilities::GetCameraProfileParameters(snapshot);
    IPravonTagControl* tags = snapshot.tagControl;
    CameraProfileParams p;
    p.camera = derived.camera;

    const CKvExposureAdjustment* settings =
        snapshot.exposureEnabled && snapshot.exposure ? snapshot.exposure : nullptr;
    LONG tagMode = 0;
    const bool tagModeRead = ReadBytes(tags, kColorModeTag, 9, sizeof tagMode, &tagMode);
    if (settings && settings->GetSecondValue() != 0) {
        p.colorMode = ColorModeFromState(settings->GetSecondValue());
        p.colorModeFromState = 1;
    } else if (tagModeRead) {
        p.colorMode = ColorModeFromTag(tagMode);
    } else {
        p.colorMode = snapshot.cameraModelCode == 257 ? 1 : 0;
    }

    const CKvWBAdjustment* wb = snapshot.whiteBalanceEnabled ? snapshot.whiteBalance : nullptr;
    if (wb && wb->GetMode() != CKvWBAdjustment::kModeOldGains &&
        wb->GetMode() != CKvWBAdjustment::kModeAsShot)
        WhiteBalanceFromState(*wb, snapshot.cameraModelCode, &p);
    else if (tags)
        WhiteBalanceFromTags(tags, &p);

    BYTE record[kCameraRecordSize] = {};
    if (ReadBytes(tags, kCameraRecordTag, 7, sizeof record, record)) {
        p.tableIndex = record[7];
        if (p.camera == 4 && tagModeRead && tagMode == 3)
            p.tableIndex += kCameraFourIndexOffset;
        p.recordBytes[0] = record[12];
        p.recordBytes[1] = record[11];
        p.recordBytes[2] = record[10];
        p.recordBytes[3] = record[9];
        p.recordByte = record[8];
    }

    WORD sensitivity[2] = {0, 0};
    p.sensitivity =
        ReadBytes(tags, kSensitivityTag, kShortType, sizeof sensitivity, sensitivity) && sensitivity[1] > 0
            ? sensitivity[1]
            : kDefaultSensitivity;
    p.brightnessValue = derived.brightness;

    p.toneMode = derived.toneMode;
    p.toneSource = derived.toneSource;
    if (p.toneMode == kCustomToneMode) {
        if (curve && RenderCurve(snapshot, curve)) {
            p.customCurve = curve->data();
            p.curveInputBits = kCurveBits;
            p.curveOutputBits = kCurveBits;
        } else {
            p.toneMode = derived.fallbackToneMode;
            p.toneSource = 1;
        }
    }
    // A picture whose settings and tags say nothing of its white balance (a file written without the
    // white-balance tag) is developed as daylight wherever its record would find no profile.
    if (p.whiteBalanceKind == kNoWhiteBalance && !GeneratorTakes(p))
        UseDaylight(&p);
    return p;
}
