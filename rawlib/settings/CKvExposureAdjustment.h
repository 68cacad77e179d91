// Exposure settings: the exposure compensation in EV with its mode, and the further camera-settings
// values and flags that the development pipeline interprets.
#pragma once

#include "IKvState.h"

class CKvExposureAdjustment : public IKvState {
public:
    static constexpr WORD kVersion = 6;
    static constexpr int kRecordSize = 50;
    static constexpr LONG kDefaultFourthValue = 3;

    CKvExposureAdjustment() = default;
    CKvExposureAdjustment(const CKvExposureAdjustment&) = default;
    CKvExposureAdjustment& operator=(const CKvExposureAdjustment&) = default;

    void Reset() { *this = CKvExposureAdjustment(); }
    // Every member at its default.
    bool IsNeutral() const { return *this == CKvExposureAdjustment(); }
    bool operator==(const CKvExposureAdjustment& other) const;

    int WriteState(BYTE* buffer, int size) override;
    int ReadState(const BYTE* buffer, int size) override;
    const BYTE* GetStateId() override;

    // The compensation in hundredths of an EV as the oldest versions store it: truncated toward zero and
    // held to the signed 16-bit range (not a number gives 0).
    static SHORT CompensationHundredths(double ev);

    double GetCompensation() const { return m_compensation; }
    void SetCompensation(double ev) { m_compensation = ev; }
    LONG GetMode() const { return m_mode; }
    void SetMode(LONG mode) { m_mode = mode; }
    LONG GetSecondValue() const { return m_second; }
    void SetSecondValue(LONG value) { m_second = value; }
    LONG GetThirdValue() const { return m_third; }
    void SetThirdValue(LONG value) { m_third = value; }
    BYTE GetFirstFlag() const { return m_firstFlag; }
    void SetFirstFlag(BYTE flag) { m_firstFlag = flag; }
    LONG GetFourthValue() const { return m_fourth; }
    void SetFourthValue(LONG value) { m_fourth = value; }
    BYTE GetSecondFlag() const { return m_secondFlag; }
    void SetSecondFlag(BYTE flag) { m_secondFlag = flag; }
    LONG GetFifthValue() const { return m_fifth; }
    void SetFifthValue(LONG value) { m_fifth = value; }
    LONG GetSixthValue() const { return m_sixth; }
    void SetSixthValue(LONG value) { m_sixth = value; }

private:
    double m_compensation = 0.0;
    LONG m_mode = 0;
    LONG m_second = 0;
    LONG m_third = 0;
    BYTE m_firstFlag = 0;
    LONG m_fourth = kDefaultFourthValue;
    BYTE m_secondFlag = 0;
    LONG m_fifth = 0;
    LONG m_sixth = 0;
};
