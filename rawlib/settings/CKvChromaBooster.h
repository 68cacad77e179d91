// Chroma booster settings: the boost amount (0 to 100) and whether the record switches the booster on.
#pragma once

#include "IKvState.h"

class CKvChromaBooster : public IKvState {
public:
    static constexpr WORD kVersion = 1;
    static constexpr int kRecordSize = 27;
    static constexpr LONG kMaxAmount = 100;

    CKvChromaBooster() = default;
    CKvChromaBooster(const CKvChromaBooster& other);
    // Copies the flag and the amount held to 0..100; the spare value stays this object's own.
    CKvChromaBooster& operator=(const CKvChromaBooster& other);

    void Reset();
    bool IsNeutral() const { return m_amount == 0; }
    // Same stored settings: amount and flag.
    bool operator==(const CKvChromaBooster& other) const;

    int WriteState(BYTE* buffer, int size) override;
    int ReadState(const BYTE* buffer, int size) override;
    const BYTE* GetStateId() override;

    LONG GetAmount() const { return m_amount; }
    void SetAmount(LONG amount) { m_amount = amount; }
    bool GetEnabled() const { return m_enabled != 0; }
    void SetEnabled(bool enabled) { m_enabled = enabled ? 1 : 0; }
    LONG GetSpare() const { return m_spare; }

private:
    LONG m_amount = 0;
    LONG m_spare = -1;
    BYTE m_enabled = 1;
};
