// White balance settings: either red and blue gains given directly, or a light-source preset with a
// colour temperature from which the gains are computed (mode 3; see KvColorTemperature.h).
#pragma once

#include "IKvState.h"

class CKvWBAdjustment : public IKvState {
public:
    static constexpr WORD kVersion = 4;
    static constexpr int kRecordSize = 51;

    // Modes: 1 gains from an old settings blob, 2 as shot (and what a zero gain is read as), 3 gains
    // from preset and temperature, 4 a mode some camera models do not support.
    static constexpr LONG kModeOldGains = 1;
    static constexpr LONG kModeAsShot = 2;
    static constexpr LONG kModeTemperature = 3;

    CKvWBAdjustment() = default;
    CKvWBAdjustment(const CKvWBAdjustment&) = default;
    CKvWBAdjustment& operator=(const CKvWBAdjustment&) = default;

    void Reset() { *this = CKvWBAdjustment(); }
    bool IsMode2() const { return m_mode == kModeAsShot; }
    bool operator==(const CKvWBAdjustment& other) const;

    int WriteState(BYTE* buffer, int size) override;
    int ReadState(const BYTE* buffer, int size) override;
    const BYTE* GetStateId() override;

    double GetRedGain() const { return m_redGain; }
    double GetBlueGain() const { return m_blueGain; }
    void SetGains(double red, double blue) {
        m_redGain = red;
        m_blueGain = blue;
    }
    LONG GetMode() const { return m_mode; }
    void SetMode(LONG mode) { m_mode = mode; }
    LONG GetPreset() const { return m_preset; }
    void SetPreset(LONG preset) { m_preset = preset; }
    WORD GetTemperature() const { return m_temperature; }
    void SetTemperature(WORD kelvin) { m_temperature = kelvin; }
    WORD GetSecondValue() const { return m_second; }
    void SetSecondValue(WORD value) { m_second = value; }
    BYTE GetFlag() const { return m_flag; }
    void SetFlag(BYTE flag) { m_flag = flag; }

private:
    double m_redGain = 0.0;
    double m_blueGain = 0.0;
    LONG m_mode = kModeOldGains;
    LONG m_preset = 0;
    WORD m_temperature = 0;
    WORD m_second = 0;
    BYTE m_flag = 0;
};
