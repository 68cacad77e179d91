// Noise reduction settings: a reduction level, a flag and an extra value, carried for the colour noise,
// moire and fine edge stages of the development pipeline, which give them their meaning.
#pragma once

#include "IKvState.h"

class CKvNoiseReduction : public IKvState {
public:
    static constexpr WORD kVersion = 3;
    static constexpr int kRecordSize = 31;

    CKvNoiseReduction() = default;
    CKvNoiseReduction(const CKvNoiseReduction&) = default;
    CKvNoiseReduction& operator=(const CKvNoiseReduction&) = default;

    void Reset() { *this = CKvNoiseReduction(); }
    // Level, flag and extra value all 0.
    bool IsOff() const { return m_level == 0 && m_flag == 0 && m_extra == 0; }
    // Told that the adjustment is disabled, drops the extra value.
    void ClearIfDisabled(bool disabled);
    bool operator==(const CKvNoiseReduction& other) const;

    int WriteState(BYTE* buffer, int size) override;
    int ReadState(const BYTE* buffer, int size) override;
    const BYTE* GetStateId() override;

    // The level a version-1 record's level code stands for; -1 for a code that has none.
    static LONG LevelFromVersion1Code(WORD code);

    LONG GetLevel() const { return m_level; }
    void SetLevel(LONG level) { m_level = level; }
    BYTE GetFlag() const { return m_flag; }
    void SetFlag(BYTE flag) { m_flag = flag; }
    LONG GetExtraValue() const { return m_extra; }
    void SetExtraValue(LONG value) { m_extra = value; }

private:
    LONG m_level = 0;
    BYTE m_flag = 0;
    LONG m_extra = 0;
};
