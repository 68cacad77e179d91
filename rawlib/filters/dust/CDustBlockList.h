// A compressed stream kept as a list of 16 KiB blocks, as the dust blobs hold their zlib streams: every
// block but the last is full. Writing gives back exactly the stream's length, a last block that is full
// included.
#pragma once

#include "platform/pravon/IPravonError.h"

#include <cstddef>
#include <memory>
#include <vector>

class CDustBlockList {
public:
    static constexpr std::size_t kBlockSize = 16384;

    CDustBlockList() = default;
    CDustBlockList(CDustBlockList&&) noexcept = default;
    CDustBlockList& operator=(CDustBlockList&&) noexcept = default;

    // Appends bytes, filling the last block before opening another; kind 1005 when a block cannot be had
    // (what was appended before stays).
    IPravonError* Append(const BYTE* data, std::size_t count);
    // The free room at the end for a producer that writes in place: opens a new block when the last one is
    // full (or there is none). Commit then counts the bytes written there.
    IPravonError* GetRoom(BYTE** at, std::size_t* room);
    void Commit(std::size_t count);

    // Copies the whole stream, exactly GetLength() bytes; `out` must hold that many.
    void CopyTo(BYTE* out) const;
    std::vector<BYTE> ToBytes() const;
    std::size_t GetLength() const { return m_length; }
    std::size_t GetBlockCount() const { return m_blocks.size(); }
    void Clear();

private:
    std::vector<std::unique_ptr<BYTE[]>> m_blocks;
    std::size_t m_length = 0;
};
