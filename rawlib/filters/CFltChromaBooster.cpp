#include "CFltChromaBooster.h"

#include "KvFilterAnnounce.h"

#include "rawlib/settings/KvLchCalibration.h"

#include <algorithm>

CFltChromaBooster::CFltChromaBooster(IPravonManager* manager) : CFltLch(manager) {}

CFltChromaBooster::~CFltChromaBooster() = default;

IPravonError* CFltChromaBooster::SetLevel(LONG level, bool notify) {
    if (!IsCalibrationLoaded() || level < 0)
        return nullptr;
    // Beyond 100 % the formula's angle passes a right angle and its factor turns negative.
    level = level == kUseDefaultLevel ? m_defaultLevel : std::min(level, kMaxLevel);
    if (level == m_level)
        return nullptr;
    m_level = level;
    SetCacheCheck();
    return KvShouldAnnounce(*this, notify) ? KvAnnounceWholeOutput(*this) : nullptr;
}

IPravonError* CFltChromaBooster::SetEnabled(bool on, bool notify) {
    if (!IsCalibrationLoaded() || on == m_on)
        return nullptr;
    m_on = on;
    if (on)
        RestorePreparedCalibration(&m_aside);
    else
        TakePreparedCalibration(&m_aside);
    SetCacheCheck();
    return KvShouldAnnounce(*this, notify) ? KvAnnounceWholeOutput(*this) : nullptr;
}

IPravonError* CFltChromaBooster::LoadCalibration() {
    m_defaultLevel = kDefaultLevel;
    return LoadCalibrationFile(kKvChromaBoostCalibrationFile);
}

IPravonError* CFltChromaBooster::ProcessTile(IPravonTile* tile, CProcessInfo* info) {
    return FillOutputTile(tile, [&](const COutputTile& out) -> IPravonError* {
        IPravonDataSource* source = nullptr;
        if (IPravonError* e = GetFirstSource(info, &source))
            return e;
        if (!IsCalibrationLoaded() || !HasCalibrationTable())
            return PravonFail(kComponent, PravonKind::kInvalidState, "the chroma booster has no calibration");
        LONG depth = 0;
        if (IPravonError* e = GetLchDepth(source, &depth))
            return e;
        if (m_on && (CalibrationNeedsPreparing() || depth != GetPreparedDepth()))
            if (IPravonError* e = PrepareTables(depth, depth != GetPreparedDepth()))
                return e;
        CEdit edit;
        edit.percent = m_level;
        return EditTile(out, source, depth, edit);
    });
}
