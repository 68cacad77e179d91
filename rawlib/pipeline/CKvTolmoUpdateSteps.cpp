#include "CKvTolmoFilterChain.h"

#include "filters/CPravonFilterHistogram.h"
#include "platform/pravon/PravonGraph.h"
#include "rawlib/filters/CFisheyeFilter.h"
#include "rawlib/filters/CFltAutoBrightness.h"
#include "rawlib/filters/CFltChromaBooster.h"
#include "rawlib/filters/dust/CFltDust.h"
#include "rawlib/filters/revelation/CFltRevelation.h"
#include "rawlib/settings/CKvBrightness.h"
#include "rawlib/settings/CKvChromaBooster.h"
#include "rawlib/settings/CKvDustRemoval.h"
#include "rawlib/settings/CKvFisheye.h"
#include "rawlib/settings/CKvLensInformation.h"
#include "rawlib/settings/CKvRevelation.h"
#include "rawlib/settings/ImageProperties.h"
#include "rawlib/settings/KvLchCalibration.h"

#include <algorithm>
#include <cmath>

namespace {

constexpr int kDustStage = 36;
constexpr int kRevelationStage = 37;
constexpr int kFisheyeStage = 39;
constexpr int kChromaBoosterStage = 41;
constexpr int kAutoBrightnessStage = 45;
constexpr int kFirstHistogramStage = 10;
constexpr int kLinearisingStage = 2;
constexpr int kLchConversionStage = 7;
// Revelation works as session kind 11, at 16 bits for sources of more than 8 bits a sample.
constexpr LONG kRevelationKind = 11;
constexpr LONG kWideSamplesBit = 0x10000000;
// The brightness filter counts in 1/256 EV.
constexpr double kBrightnessSteps = 256.0;

bool Refused(IPravonError* error) {
    return PravonErrorPtr(error) != nullptr;
}

// trunc(value) held to the 32-bit range; not a number gives 0.
LONG SaturatedTrunc(double value) {
    if (std::isnan(value))
        return 0;
    return static_cast<LONG>(std::clamp(std::trunc(value), -2147483648.0, 2147483647.0));
}

} // namespace

void CKvTolmoFilterChain::NoteQuietChange(int number) {
    const auto& order = ProcessingOrder();
    const auto at = [&](int stage) { return std::find(order.begin(), order.end(), stage); };
    if (at(number) == order.end())
        return;
    if (m_quietlyChanged < 0 || at(number) < at(m_quietlyChanged))
        m_quietlyChanged = number;
}

int CKvTolmoFilterChain::FinishUpdate(bool ok) {
    // A failed update tells downstream too: the stages it changed quietly would otherwise keep their old
    // tiles downstream, and the next update does not change them again.
    if (m_quietlyChanged >= 0)
        PravonErrorPtr(
            PravonSendDataNotification(GetStage(m_quietlyChanged), PravonNotification::kUpdateAll, nullptr));
    m_quietlyChanged = -1;
    const int failure = m_stepResult;
    m_stepResult = kStageError;
    return ok ? kOk : failure;
}

bool CKvTolmoFilterChain::UpdateDust(ImageProperties& snapshot, LONG colorSpace, bool rawDevelopment) {
    auto* stage = static_cast<CFltDust*>(GetStage(kDustStage));
    CKvDustRemoval* dust = snapshot.dustEnabled ? snapshot.dustRemoval : nullptr;
    if (!dust || (dust->IsEmpty() && !dust->HasDustMap()))
        return !Refused(stage->Enable(false, true));
    if (!dust->HasDustMap())
        PravonErrorPtr(dust->ComputeDustMap(m_manager, m_source, snapshot.tagControl, rawDevelopment,
                                            colorSpace == PravonColorSpace::kRawMosaic16, nullptr, nullptr));
    if (!dust->HasDustMap()) {
        PravonErrorPtr(stage->Enable(false, true));
        m_stepResult = kNoDustMap;
        return false;
    }
    // Behind the linearising stage the samples are linear light and take the gain as they are.
    return !Refused(stage->SetDustMap(dust->GetDustMap(), true)) &&
           !Refused(stage->SetDirectGain(GetStage(kLinearisingStage)->IsEnabled(), true)) &&
           !Refused(stage->Enable(true, true));
}

bool CKvTolmoFilterChain::UpdateRevelation(const ImageProperties& snapshot, LONG colorSpace, DWORD mask) {
    auto* stage = static_cast<CFltRevelation*>(GetStage(kRevelationStage));
    if (mask & kRevelationChanged) {
        const CKvRevelation* revelation = snapshot.revelationEnabled ? snapshot.revelation : nullptr;
        if (!revelation || revelation->IsOff()) {
            if (Refused(stage->Enable(false, true)))
                return false;
        } else {
            const LONG depth = (colorSpace & kWideSamplesBit) ? 16 : 8;
            if (Refused(stage->SetParameters(kRevelationKind, depth, stage->GetFlag() ? 1 : 0, true)) ||
                Refused(stage->SetParameters2(revelation->GetFirstAmount(), revelation->GetThirdValue(),
                                              revelation->GetSecondAmount(), true)) ||
                Refused(stage->Enable(true, true)))
                return false;
        }
    }
    // Its passes read the whole picture, so they run here, once, rather than inside the first tile asked
    // for downstream; everything they depend on is set by now. A failed run switches the stage off itself.
    if (stage->IsEnabled() && stage->IsDirty()) {
        void* data = nullptr;
        if (!Refused(stage->LockTile(0, 0, &data, nullptr)))
            PravonErrorPtr(stage->UnlockTile(0, 0));
    }
    return true;
}

bool CKvTolmoFilterChain::UpdateFisheye(const ImageProperties& snapshot) {
    auto* stage = static_cast<CFisheyeFilter*>(GetStage(kFisheyeStage));
    const CKvFisheye* fisheye = snapshot.fisheyeEnabled ? snapshot.fisheye : nullptr;
    if (!fisheye)
        return !Refused(stage->Enable(false, true));
    if (!stage->HasLensData()) {
        const PravonErrorPtr error(stage->SelectLensModel(snapshot.tagControl));
        if (error) {
            m_stepResult = error->GetKind() == KvLensFileKind::kRejected ? kLensRejected : kLensError;
            return false;
        }
    }
    return !Refused(stage->SetTableFlag(fisheye->GetEnabled() ? 1 : 0, true)) &&
           !Refused(stage->SetMode(fisheye->GetMode(), true)) && !Refused(stage->Enable(true, true));
}

bool CKvTolmoFilterChain::UpdateChromaBooster(ImageProperties& snapshot) {
    auto* stage = static_cast<CFltChromaBooster*>(GetStage(kChromaBoosterStage));
    CKvChromaBooster* booster = snapshot.chromaBoosterEnabled ? snapshot.chromaBooster : nullptr;
    // A neutral booster is off and needs no calibration: a machine without the file still develops.
    if (!booster || booster->IsNeutral())
        return !Refused(stage->Enable(false, true));
    if (!stage->IsCalibrationLoaded()) {
        const PravonErrorPtr error(stage->LoadCalibration());
        if (error) {
            PravonErrorPtr(stage->Enable(false, true));
            m_stepResult = error->GetKind() == KvLchCalibrationKind::kWrongLength ? kBoosterCalibrationLength
                                                                                  : kBoosterCalibrationError;
            return false;
        }
    }
    if (Refused(stage->SetEnabled(booster->GetEnabled(), true)) ||
        Refused(stage->SetLevel(booster->GetAmount(), true)))
        return false;
    // The calibrated default that the settings ask for becomes the level they hold from now on.
    if (booster->GetAmount() == CFltChromaBooster::kUseDefaultLevel)
        booster->SetAmount(stage->GetLevel());
    // It edits LCh samples only, which the LCh conversion before it makes while it is on.
    return !Refused(stage->Enable(GetStage(kLchConversionStage)->IsEnabled(), true));
}

bool CKvTolmoFilterChain::UpdateAutoBrightness(const ImageProperties& snapshot) {
    auto* stage = static_cast<CFltAutoBrightness*>(GetStage(kAutoBrightnessStage));
    CKvBrightness* brightness = snapshot.brightness;
    if (brightness) {
        // The settings hear the levels the stage measures from the histogram.
        if (brightness->GetWatchCount(stage) == 0 && Refused(brightness->PravonFilterStartWatching(stage)))
            return false;
        auto* histogram = static_cast<CPravonFilterHistogram*>(GetStage(kFirstHistogramStage));
        if (Refused(stage->SetHistogram(histogram, true)))
            return false;
    }
    if (!snapshot.brightnessEnabled || !brightness || brightness->IsNeutral())
        return !Refused(stage->Enable(false, true));
    return !Refused(stage->SetLevels(-1, brightness->GetBlackLevel(), brightness->GetWhiteLevel(), true)) &&
           !Refused(stage->SetAuto(brightness->GetAutoMode(), true)) &&
           !Refused(stage->SetBrightness(SaturatedTrunc(brightness->GetValue() * kBrightnessSteps), true)) &&
           !Refused(stage->Enable(true, true));
}
