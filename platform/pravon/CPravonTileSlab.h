// A block of memory mapped from the system at once and carved into tile buffers of one size. Threads that
// make tiles at once would otherwise each change the process's memory map for every tile (a heap grows a
// step at a time), under the lock that every page fault of every other thread waits on. The block goes
// back to the system when its carver and every buffer carved from it have let go; a buffer that goes before
// that gives its pages back at once.
#pragma once

#include "platform/win/wintypes.h"

#include <atomic>
#include <cstddef>

class CPravonTileSlab {
public:
    // A slab of `count` buffers of `bytes` each, held by its carver; null when the system maps no memory.
    static CPravonTileSlab* Map(std::size_t bytes, std::size_t count);
    CPravonTileSlab(const CPravonTileSlab&) = delete;
    CPravonTileSlab& operator=(const CPravonTileSlab&) = delete;

    // The next buffer, never written before (all zeros), or null when every one has been carved. Only the
    // carver calls it.
    BYTE* Carve();
    // A buffer carved from the slab goes: its pages go back to the system, the slab with its last holder.
    void Release(BYTE* buffer);
    // The carver lets go; it carves no more.
    void Retire();

private:
    CPravonTileSlab(BYTE* base, std::size_t mapped, std::size_t bytes, std::size_t stride, std::size_t count);
    void Drop();

    BYTE* m_base;
    std::size_t m_mapped;
    std::size_t m_bytes;
    std::size_t m_stride; // from one buffer to the next: whole pages, with a guard page in sanitizer builds
    std::size_t m_count;
    std::size_t m_carved = 0;
    std::atomic<std::size_t> m_holders{1}; // the carver and every buffer still out
};
