// The stored form of one corrected red-eye region: the bytes the red-eye library saved for it, with a
// cursor through which the library's reader and writer callbacks take and give them. Reads and writes
// stop at the end of the buffer and report how many bytes they moved.
#pragma once

#include "platform/win/wintypes.h"

#include <memory>

class CKvRegionBuffer {
public:
    CKvRegionBuffer() = default;
    // The same size and bytes, the cursor at the start.
    CKvRegionBuffer(const CKvRegionBuffer& other);
    CKvRegionBuffer& operator=(const CKvRegionBuffer& other);
    CKvRegionBuffer(CKvRegionBuffer&& other) noexcept;
    CKvRegionBuffer& operator=(CKvRegionBuffer&& other) noexcept;
    ~CKvRegionBuffer() = default;

    // Frees the old bytes and makes `size` zeroed ones, the cursor at the start. False (and an empty
    // buffer) when the memory cannot be had.
    bool Allocate(DWORD size);
    // Copy at the cursor and move it on; each moves at most the bytes left before the end and returns
    // how many it moved.
    DWORD Write(const void* bytes, DWORD count);
    DWORD Read(void* destination, DWORD count);
    void Rewind() { m_position = 0; }
    void Free();

    DWORD GetSize() const { return m_size; }
    DWORD GetPosition() const { return m_position; }
    DWORD GetRemaining() const { return m_size - m_position; }
    const BYTE* GetData() const { return m_data.get(); }

    // Same size and bytes; the cursor does not count.
    bool operator==(const CKvRegionBuffer& other) const;

private:
    std::unique_ptr<BYTE[]> m_data;
    DWORD m_size = 0;
    DWORD m_position = 0;
};
