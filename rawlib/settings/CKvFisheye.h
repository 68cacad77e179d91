// Fisheye correction settings: whether the lens remap is on and the mode value the fisheye filter
// interprets.
#pragma once

#include "IKvState.h"

class CKvFisheye : public IKvState {
public:
    static constexpr WORD kVersion = 1;
    static constexpr int kRecordSize = 27;
    static constexpr LONG kDefaultMode = 3;

    CKvFisheye() = default;
    CKvFisheye(const CKvFisheye&) = default;
    CKvFisheye& operator=(const CKvFisheye&) = default;

    void Reset() { *this = CKvFisheye(); }
    bool operator==(const CKvFisheye& other) const {
        return m_enabled == other.m_enabled && m_mode == other.m_mode;
    }

    int WriteState(BYTE* buffer, int size) override;
    int ReadState(const BYTE* buffer, int size) override;
    const BYTE* GetStateId() override;

    bool GetEnabled() const { return m_enabled != 0; }
    void SetEnabled(bool enabled) { m_enabled = enabled ? 1 : 0; }
    LONG GetMode() const { return m_mode; }
    void SetMode(LONG mode) { m_mode = mode; }

private:
    BYTE m_enabled = 0;
    LONG m_mode = kDefaultMode;
};
