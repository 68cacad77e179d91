// Four general settings (the first two are the channel-mixer mode and the general sharpening level),
// stored as 16 bits each.
#pragma once

#include "IKvState.h"

#include <array>

class CKvLEGeneral : public IKvState {
public:
    static constexpr WORD kVersion = 2;
    static constexpr int kRecordSize = 30;
    static constexpr int kValueCount = 4;

    void Reset() { m_values = {}; }
    bool operator==(const CKvLEGeneral& other) const { return m_values == other.m_values; }

    int WriteState(BYTE* buffer, int size) override;
    int ReadState(const BYTE* buffer, int size) override;
    const BYTE* GetStateId() override;

    // Index 0 to 3; any other index reads 0 and sets nothing.
    LONG GetValue(int index) const;
    void SetValue(int index, LONG value);

private:
    std::array<LONG, kValueCount> m_values{};
};
