// Vignette correction settings: the correction amount (0 is no correction).
#pragma once

#include "IKvState.h"

class CKvVignette : public IKvState {
public:
    static constexpr WORD kVersion = 1;
    static constexpr int kRecordSize = 24;
    static constexpr SHORT kDefaultAmount = 80;

    CKvVignette() = default;
    CKvVignette(const CKvVignette&) = default;
    CKvVignette& operator=(const CKvVignette&) = default;

    void Reset() { m_amount = kDefaultAmount; }
    bool IsZero() const { return m_amount == 0; }
    bool operator==(const CKvVignette& other) const { return m_amount == other.m_amount; }

    int WriteState(BYTE* buffer, int size) override;
    int ReadState(const BYTE* buffer, int size) override;
    const BYTE* GetStateId() override;

    SHORT GetAmount() const { return m_amount; }
    void SetAmount(SHORT amount) { m_amount = amount; }

private:
    SHORT m_amount = kDefaultAmount;
};
