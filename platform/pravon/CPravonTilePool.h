// Tile memory shared by the images of one manager: the buffers of tiles that go (an image released, a layout
// changed) are kept up to a limit and handed to the next tiles of the same size, so that making tiles anew
// costs neither an allocation nor the system's first-touch faults. Fresh buffers of big tiles are carved
// from slabs mapped many at a time (CPravonTileSlab). Safe to use from several threads.
#pragma once

#include "CPravonTileSlab.h"

#include "platform/win/wintypes.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <unordered_map>
#include <vector>

class CPravonTilePool {
public:
    static constexpr std::size_t kDefaultLimit = std::size_t{256} << 20;
    // The byte that unwritten memory is filled with where poisoning is on: its 16-bit samples (0xA5A5) and
    // 8-bit ones stand out from the zeros an ordinary tile starts with.
    static constexpr BYTE kPoison = 0xA5;

    // A buffer goes back to the slab it was carved from, or to the allocator.
    struct BufferDeleter {
        CPravonTileSlab* slab = nullptr;
        void operator()(BYTE* p) const {
            if (slab)
                slab->Release(p);
            else
                std::free(p);
        }
    };
    using Buffer = std::unique_ptr<BYTE[], BufferDeleter>;

    // How a buffer starts: zero-filled, or unwritten, for a tile whose generator writes every pixel before
    // anyone reads one. What an unwritten buffer holds is the pool's fill setting.
    enum class Start { kZeroed, kUnwritten };
    // Unwritten buffers as they come (the fast road), filled with kPoison so that a pixel a generator
    // leaves out shows, or zeroed like the rest (the reference a poisoned run is compared with).
    enum class Fill { kAsTheyCome, kPoison, kZero };

    // Debug and sanitizer builds poison unwritten buffers; other builds hand them out as they come.
    CPravonTilePool();
    ~CPravonTilePool();
    CPravonTilePool(const CPravonTilePool&) = delete;
    CPravonTilePool& operator=(const CPravonTilePool&) = delete;

    // Fresh buffers at least this big are carved from slabs of about kSlabBytes. Where the system gives a
    // slab no huge pages, the pages of a fresh buffer's first `used` bytes are faulted in by one call to
    // the system, which costs markedly less than a fault at the first write of every page.
    static constexpr std::size_t kPopulateBytes = std::size_t{64} << 10;
    static constexpr std::size_t kSlabBytes = std::size_t{32} << 20;

    // A buffer of bytes, of which the caller writes the first `used` (all when more than bytes); null when
    // memory runs out.
    Buffer Take(std::size_t bytes, Start start, std::size_t used = SIZE_MAX);
    // Keeps the buffer for the next Take of the same size, or frees it when the pool would grow beyond
    // its limit.
    void Give(Buffer buffer, std::size_t bytes);

    // Buffers beyond a lowered limit are freed at once; 0 keeps nothing.
    void SetLimit(std::size_t bytes);
    std::size_t GetLimit() const;
    std::size_t GetPooledBytes() const;
    void SetUnwrittenFill(Fill fill);
    Fill GetUnwrittenFill() const;

private:
    void TrimLocked();
    // A buffer of a slab's: one that came back to the size's slab (*written set), a fresh one carved from
    // it, or from a new one when that is used up.
    Buffer CarveLocked(std::size_t bytes, bool* written);

    mutable std::mutex m_mutex;
    std::unordered_map<std::size_t, std::vector<Buffer>> m_free; // by size in bytes
    std::unordered_map<std::size_t, CPravonTileSlab*> m_carving; // the slab fresh buffers come from, by size
    std::size_t m_pooled = 0;
    std::size_t m_limit = kDefaultLimit;
    Fill m_fill;
};
