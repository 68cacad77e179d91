// One profile opened by the library, with the bytes it was read from so that giving the same file again
// can be recognised.
#pragma once

#include "platform/win/wintypes.h"

#include <lcms2.h>

#include <cstdint>
#include <memory>
#include <vector>

class CZovProfile {
public:
    ~CZovProfile();
    CZovProfile(const CZovProfile&) = delete;
    CZovProfile& operator=(const CZovProfile&) = delete;

    // Reads and opens the file; KVCM_E_PROFILE when it cannot be read whole, is shorter than its header
    // says, or the library does not take it as a profile.
    static LONG Load(const char* path, std::shared_ptr<const CZovProfile>* profile);

    cmsHPROFILE Handle() const { return m_handle; }
    const std::vector<std::uint8_t>& Bytes() const { return m_bytes; }
    // The header's colour-space signature as the raw 32-bit value: a hostile file may carry any value,
    // and only known signatures may become the library's enumeration.
    cmsUInt32Number ColorSpace() const {
        return (cmsUInt32Number(m_bytes[16]) << 24) | (cmsUInt32Number(m_bytes[17]) << 16) |
               (cmsUInt32Number(m_bytes[18]) << 8) | cmsUInt32Number(m_bytes[19]);
    }

private:
    CZovProfile(std::vector<std::uint8_t> bytes, cmsHPROFILE handle)
        : m_bytes(std::move(bytes)), m_handle(handle) {}

    std::vector<std::uint8_t> m_bytes;
    cmsHPROFILE m_handle = nullptr;
};
