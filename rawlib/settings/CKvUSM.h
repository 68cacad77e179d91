// One unsharp-mask pass of the sharpening list: which planes it works on and its radius, amount and
// threshold as small integer codes (the pipeline scales them: radius and threshold by 0.2, amount by 0.05).
// Its record has no length field: the fields follow the version directly.
#pragma once

#include "IKvState.h"

class CKvUSM : public IKvState {
public:
    static constexpr WORD kVersion = 1;
    static constexpr int kRecordSize = 27;
    static constexpr SHORT kDefaultRadiusCode = 5;

    CKvUSM() = default;
    CKvUSM(const CKvUSM&) = default;
    CKvUSM& operator=(const CKvUSM&) = default;

    void Reset() { *this = CKvUSM(); }
    bool operator==(const CKvUSM& other) const;

    int WriteState(BYTE* buffer, int size) override;
    int ReadState(const BYTE* buffer, int size) override;
    const BYTE* GetStateId() override;

    // The record keeps the low 16 bits of the channel selection and of the spare value.
    LONG GetChannelSelection() const { return m_channels; }
    void SetChannelSelection(LONG channels) { m_channels = channels; }
    LONG GetSpareValue() const { return m_spare; }
    void SetSpareValue(LONG value) { m_spare = value; }
    SHORT GetRadiusCode() const { return m_radius; }
    void SetRadiusCode(SHORT code) { m_radius = code; }
    SHORT GetAmountCode() const { return m_amount; }
    void SetAmountCode(SHORT code) { m_amount = code; }
    BYTE GetThresholdCode() const { return m_threshold; }
    void SetThresholdCode(BYTE code) { m_threshold = code; }

private:
    LONG m_channels = 0;
    LONG m_spare = 0;
    SHORT m_radius = kDefaultRadiusCode;
    SHORT m_amount = 0;
    BYTE m_threshold = 0;
};
