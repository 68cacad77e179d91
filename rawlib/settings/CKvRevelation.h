// Settings of the Revelation processing stage: two amounts and a third value, which the Revelation filter
// interprets.
#pragma once

#include "IKvState.h"

class CKvRevelation : public IKvState {
public:
    static constexpr WORD kVersion = 1;
    static constexpr int kRecordSize = 28;
    static constexpr SHORT kDefaultAmount = 51;
    static constexpr SHORT kDefaultThirdValue = 190;

    CKvRevelation() = default;
    CKvRevelation(const CKvRevelation&) = default;
    CKvRevelation& operator=(const CKvRevelation&) = default;

    void Reset() { *this = CKvRevelation(); }
    // Both amounts 0; the third value does not count.
    bool IsOff() const { return m_first == 0 && m_second == 0; }
    bool operator==(const CKvRevelation& other) const {
        return m_first == other.m_first && m_second == other.m_second && m_third == other.m_third;
    }

    int WriteState(BYTE* buffer, int size) override;
    int ReadState(const BYTE* buffer, int size) override;
    const BYTE* GetStateId() override;

    SHORT GetFirstAmount() const { return m_first; }
    void SetFirstAmount(SHORT amount) { m_first = amount; }
    SHORT GetSecondAmount() const { return m_second; }
    void SetSecondAmount(SHORT amount) { m_second = amount; }
    SHORT GetThirdValue() const { return m_third; }
    void SetThirdValue(SHORT value) { m_third = value; }

private:
    SHORT m_first = kDefaultAmount;
    SHORT m_second = kDefaultAmount;
    SHORT m_third = kDefaultThirdValue;
};
