// Brightness settings: a brightness value, the automatic mode, and the levels the automatic-brightness
// filter measured for this image. The measured automatic brightness and whether the measurement is fresh
// belong to the current run only and are not stored. The record watches the filter it follows: registered
// with the filter's AddWatcher, it hears the filter's measurements.
#pragma once

#include "IKvAutoBrightnessLevels.h"
#include "IKvState.h"

#include "filters/engine/CPravonFilterWatcher.h"
#include "platform/pravon/IPravonError.h"

class CKvBrightness : public IKvState, public CPravonFilterWatcher {
public:
    static constexpr WORD kVersion = 1;
    static constexpr int kRecordSize = 39;

    CKvBrightness() = default;
    CKvBrightness(const CKvBrightness& other);
    // Copies value, automatic mode and the two measured levels, and clears the fresh flag; the measured
    // automatic brightness and the filters watched stay this object's own.
    CKvBrightness& operator=(const CKvBrightness& other);

    // Value 0.0 and automatic mode off; the measurements stay.
    void Reset();
    bool IsNeutral() const { return m_value == 0.0 && m_auto == 0; }
    // Same stored settings: value, automatic mode and the two levels.
    bool operator==(const CKvBrightness& other) const;

    int WriteState(BYTE* buffer, int size) override;
    int ReadState(const BYTE* buffer, int size) override;
    const BYTE* GetStateId() override;

    // Watcher callback: on IKvAutoBrightnessLevels::kLevelsMeasured from the automatic-brightness filter,
    // keeps its black level (minimum over the channels), white level (maximum) and automatic brightness, and
    // marks the measurement fresh. Every other notification is ignored; the answer is always success.
    IPravonError* OnWatcherNotification(IKvAutoBrightnessLevels* filter, LONG type, void* data);
    // The watcher callback of a watched filter: a filter that measures levels is handed on to
    // OnWatcherNotification; any other filter's notifications are ignored.
    IPravonError* PravonFilterNotify(CPravonFilterBase* filter, LONG type, void* data) override;

    double GetValue() const { return m_value; }
    void SetValue(double value) { m_value = value; }
    bool GetAutoMode() const { return m_auto != 0; }
    void SetAutoMode(bool on) { m_auto = on ? 1 : 0; }
    LONG GetBlackLevel() const { return m_blackLevel; }
    LONG GetWhiteLevel() const { return m_whiteLevel; }
    void SetLevels(LONG black, LONG white) {
        m_blackLevel = black;
        m_whiteLevel = white;
    }
    LONG GetMeasuredBrightness() const { return m_measuredBrightness; }
    bool IsMeasurementFresh() const { return m_fresh != 0; }

private:
    double m_value = 0.0;
    BYTE m_auto = 0;
    LONG m_measuredBrightness = -1;
    LONG m_blackLevel = -1;
    LONG m_whiteLevel = -1;
    BYTE m_fresh = 0;
};
