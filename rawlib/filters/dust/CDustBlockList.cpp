#include "CDustBlockList.h"

#include "KvDustFormat.h"

#include <algorithm>
#include <cstring>
#include <new>

IPravonError* CDustBlockList::GetRoom(BYTE** at, std::size_t* room) {
    if (m_length == m_blocks.size() * kBlockSize) {
        std::unique_ptr<BYTE[]> block(new (std::nothrow) BYTE[kBlockSize]);
        if (!block)
            return PravonFail(KvDust::kComponent, PravonKind::kOutOfMemory, "no memory for a stream block");
        try {
            m_blocks.push_back(std::move(block));
        } catch (const std::bad_alloc&) {
            return PravonFail(KvDust::kComponent, PravonKind::kOutOfMemory, "no memory for the block list");
        }
    }
    const std::size_t used = m_length % kBlockSize;
    *at = m_blocks.back().get() + used;
    *room = kBlockSize - used;
    return nullptr;
}

void CDustBlockList::Commit(std::size_t count) {
    m_length += count;
}

IPravonError* CDustBlockList::Append(const BYTE* data, std::size_t count) {
    while (count > 0) {
        BYTE* at = nullptr;
        std::size_t room = 0;
        if (IPravonError* e = GetRoom(&at, &room))
            return e;
        const std::size_t part = std::min(room, count);
        std::memcpy(at, data, part);
        Commit(part);
        data += part;
        count -= part;
    }
    return nullptr;
}

void CDustBlockList::CopyTo(BYTE* out) const {
    std::size_t remaining = m_length;
    for (const auto& block : m_blocks) {
        if (remaining == 0)
            break;
        const std::size_t part = std::min(remaining, kBlockSize);
        std::memcpy(out, block.get(), part);
        out += part;
        remaining -= part;
    }
}

std::vector<BYTE> CDustBlockList::ToBytes() const {
    std::vector<BYTE> bytes(m_length);
    CopyTo(bytes.data());
    return bytes;
}

void CDustBlockList::Clear() {
    m_blocks.clear();
    m_length = 0;
}
