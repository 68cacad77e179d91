// A heap byte block with its size, owned by its holder: the opaque block that the aggregate settings
// record and the image attributes carry without interpreting it.
#pragma once

#include "platform/win/wintypes.h"

#include <cstddef>
#include <memory>

class KvOwnedBlock {
public:
    KvOwnedBlock() = default;
    KvOwnedBlock(const KvOwnedBlock& other) { Set(other.m_data.get(), other.m_size); }
    KvOwnedBlock& operator=(const KvOwnedBlock& other);
    KvOwnedBlock(KvOwnedBlock&&) noexcept = default;
    KvOwnedBlock& operator=(KvOwnedBlock&&) noexcept = default;

    // Replaces the block by a copy of `size` bytes of `data` (zeroed bytes without data; empty for 0).
    // False, with the block empty, when memory runs out.
    bool Set(const BYTE* data, std::size_t size);
    void Clear();

    bool HasData() const { return m_data && m_size != 0; }
    const BYTE* GetData() const { return m_data.get(); }
    BYTE* GetData() { return m_data.get(); }
    std::size_t GetSize() const { return m_size; }
    bool operator==(const KvOwnedBlock& other) const;

private:
    std::unique_ptr<BYTE[]> m_data;
    std::size_t m_size = 0;
};
