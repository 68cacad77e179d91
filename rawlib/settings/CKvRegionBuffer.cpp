#include "CKvRegionBuffer.h"

#include <algorithm>
#include <cstring>
#include <new>
#include <utility>

CKvRegionBuffer::CKvRegionBuffer(const CKvRegionBuffer& other)
    : m_data(other.m_size ? new BYTE[other.m_size] : nullptr), m_size(other.m_size) {
    if (m_size)
        std::memcpy(m_data.get(), other.m_data.get(), m_size);
}

CKvRegionBuffer& CKvRegionBuffer::operator=(const CKvRegionBuffer& other) {
    if (this != &other) {
        CKvRegionBuffer copy(other);
        *this = std::move(copy);
    }
    return *this;
}

CKvRegionBuffer::CKvRegionBuffer(CKvRegionBuffer&& other) noexcept
    : m_data(std::move(other.m_data)), m_size(std::exchange(other.m_size, 0)) {
    other.m_position = 0;
}

CKvRegionBuffer& CKvRegionBuffer::operator=(CKvRegionBuffer&& other) noexcept {
    m_data = std::move(other.m_data);
    m_size = std::exchange(other.m_size, 0);
    m_position = 0;
    other.m_position = 0;
    return *this;
}

bool CKvRegionBuffer::Allocate(DWORD size) {
    Free();
    if (size == 0)
        return true;
    m_data.reset(new (std::nothrow) BYTE[size]());
    if (!m_data)
        return false;
    m_size = size;
    return true;
}

DWORD CKvRegionBuffer::Write(const void* bytes, DWORD count) {
    const DWORD moved = std::min(count, GetRemaining());
    if (moved) {
        std::memcpy(m_data.get() + m_position, bytes, moved);
        m_position += moved;
    }
    return moved;
}

DWORD CKvRegionBuffer::Read(void* destination, DWORD count) {
    const DWORD moved = std::min(count, GetRemaining());
    if (moved) {
        std::memcpy(destination, m_data.get() + m_position, moved);
        m_position += moved;
    }
    return moved;
}

void CKvRegionBuffer::Free() {
    m_data.reset();
    m_size = 0;
    m_position = 0;
}

bool CKvRegionBuffer::operator==(const CKvRegionBuffer& other) const {
    return m_size == other.m_size &&
           (m_size == 0 || std::memcmp(m_data.get(), other.m_data.get(), m_size) == 0);
}
