#include "KvOwnedBlock.h"

#include <algorithm>
#include <cstring>
#include <new>

KvOwnedBlock& KvOwnedBlock::operator=(const KvOwnedBlock& other) {
    if (this != &other)
        Set(other.m_data.get(), other.m_size);
    return *this;
}

bool KvOwnedBlock::Set(const BYTE* data, std::size_t size) {
    if (size == 0) {
        Clear();
        return true;
    }
    // The copy is made before the old block goes, so that a block can be set from its own bytes.
    std::unique_ptr<BYTE[]> copy(new (std::nothrow) BYTE[size]);
    if (!copy) {
        Clear();
        return false;
    }
    if (data)
        std::memcpy(copy.get(), data, size);
    else
        std::memset(copy.get(), 0, size);
    m_data = std::move(copy);
    m_size = size;
    return true;
}

void KvOwnedBlock::Clear() {
    m_data.reset();
    m_size = 0;
}

bool KvOwnedBlock::operator==(const KvOwnedBlock& other) const {
    if (m_size != other.m_size)
        return false;
    return m_size == 0 || std::equal(m_data.get(), m_data.get() + m_size, other.m_data.get());
}
