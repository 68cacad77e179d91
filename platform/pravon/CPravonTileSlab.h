// A block of memory mapped from the system at once and carved into tile buffers of one size. Threads that
// make tiles at once would otherwise each change the process's memory map for every tile (a heap grows a
// step at a time), under the lock that every page fault of every other thread waits on. A buffer that goes
// while the slab is still carved from is kept for the next carving, its pages resident; once the carver has
// let go, a buffer that goes gives its pages back at once, unless the slab goes with it. The block goes back
// to the system when its carver and every buffer carved from it have let go.
#pragma once

#include "platform/win/wintypes.h"

#include <atomic>
#include <cstddef>
#include <mutex>
#include <vector>

class CPravonTileSlab {
public:
    // A slab of at least `count` buffers of `bytes` each, held by its carver; null when the system maps no
    // memory.
    static CPravonTileSlab* Map(std::size_t bytes, std::size_t count);
    CPravonTileSlab(const CPravonTileSlab&) = delete;
    CPravonTileSlab& operator=(const CPravonTileSlab&) = delete;

    // The next buffer, or null when every one has been carved and none has come back. A buffer that came
    // back holds what its last holder wrote (*written is set); a fresh one was never written (all zeros).
    // Only the carver calls it.
    BYTE* Carve(bool* written);
    // A buffer carved from the slab goes, the slab with its last holder.
    void Release(BYTE* buffer);
    // Several buffers go at once: when they are the slab's last holders the mapping goes whole, without
    // giving each one's pages back first.
    void Release(BYTE* const* buffers, std::size_t count);
    // The carver lets go; it carves no more, and the buffers kept for it give their pages back.
    void Retire();
    // Whether the system was asked to back the slab with huge pages, which a fresh buffer's first write
    // then faults in a whole huge page at a time.
    bool HugePages() const { return m_hugePages; }

private:
    CPravonTileSlab(BYTE* base, std::size_t mapped, std::size_t bytes, std::size_t stride, std::size_t count);
    void GiveBack(BYTE* buffer) const;
    void Drop(std::size_t holders);

    BYTE* m_base;
    std::size_t m_mapped;
    std::size_t m_bytes;
    std::size_t m_stride; // from one buffer to the next: whole pages, with a guard page in sanitizer builds
    std::size_t m_count;
    std::size_t m_carved = 0;
    bool m_hugePages = false;
    std::atomic<std::size_t> m_holders{1}; // the carver and every buffer still out
    std::mutex m_mutex;                    // guards what follows
    bool m_retired = false;
    std::vector<BYTE*> m_kept; // buffers that came back while the carver held the slab
};
