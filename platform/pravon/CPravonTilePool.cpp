#include "CPravonTilePool.h"

#include <algorithm>
#include <cstring>
#include <iterator>
#include <new>

#include <sys/mman.h>
#include <unistd.h>

namespace {

constexpr CPravonTilePool::Fill DefaultFill() {
#if !defined(NDEBUG) || defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    return CPravonTilePool::Fill::kPoison;
#else
    return CPravonTilePool::Fill::kAsTheyCome;
#endif
}

// Faults in the whole pages of the first used bytes of fresh memory at once. A kernel without the call
// refuses it, and the pages then fault in at their first write as they always did.
void Populate(BYTE* data, std::size_t used) {
    static const auto page = static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE));
    const auto at = reinterpret_cast<std::uintptr_t>(data);
    const std::uintptr_t begin = (at + page - 1) & ~(page - 1);
    const std::uintptr_t end = (at + used) & ~(page - 1);
    if (end > begin)
        madvise(reinterpret_cast<void*>(begin), end - begin, MADV_POPULATE_WRITE);
}

} // namespace

CPravonTilePool::CPravonTilePool() : m_fill(DefaultFill()) {}

CPravonTilePool::~CPravonTilePool() {
    // The kept buffers go first, a slab's together, so that a slab that goes with them is unmapped whole
    // rather than page run by page run; then the carvers let go. Each slab goes with its last holder, here
    // or later.
    std::unordered_map<CPravonTileSlab*, std::vector<BYTE*>> bySlab;
    try {
        for (auto& [bytes, buffers] : m_free)
            for (Buffer& buffer : buffers)
                if (buffer.get_deleter().slab)
                    bySlab[buffer.get_deleter().slab].push_back(buffer.get());
    } catch (const std::bad_alloc&) {
        bySlab.clear(); // each buffer goes alone instead
    }
    if (!bySlab.empty())
        for (auto& [bytes, buffers] : m_free)
            for (Buffer& buffer : buffers)
                if (buffer.get_deleter().slab)
                    (void)buffer.release();
    for (const auto& [slab, buffers] : bySlab)
        slab->Release(buffers.data(), buffers.size());
    m_free.clear();
    for (const auto& [bytes, slab] : m_carving)
        slab->Retire();
}

CPravonTilePool::Buffer CPravonTilePool::CarveLocked(std::size_t bytes, bool* written) {
    *written = false;
    auto it = m_carving.find(bytes);
    if (it != m_carving.end())
        if (BYTE* carved = it->second->Carve(written))
            return Buffer(carved, BufferDeleter{it->second});
    CPravonTileSlab* slab = CPravonTileSlab::Map(bytes, std::max<std::size_t>(1, kSlabBytes / bytes));
    if (!slab)
        return nullptr;
    try {
        CPravonTileSlab*& current = m_carving[bytes];
        if (current)
            current->Retire();
        current = slab;
    } catch (const std::bad_alloc&) {
        slab->Retire();
        return nullptr;
    }
    return Buffer(slab->Carve(written), BufferDeleter{slab});
}

CPravonTilePool::Buffer CPravonTilePool::Take(std::size_t bytes, Start start, std::size_t used) {
    bool poison = false;
    bool fresh = false;
    bool populate = false;
    Buffer buffer;
    {
        std::lock_guard lock(m_mutex);
        if (start == Start::kUnwritten && m_fill == Fill::kZero)
            start = Start::kZeroed;
        else if (start == Start::kUnwritten && m_fill == Fill::kPoison)
            poison = true;
        auto it = m_free.find(bytes);
        if (it != m_free.end() && !it->second.empty()) {
            buffer = std::move(it->second.back());
            it->second.pop_back();
            m_pooled -= bytes;
        } else if (bytes >= kPopulateBytes) {
            // A buffer that came back to its slab is used again as a pooled one is: its pages are in.
            bool written = false;
            buffer = CarveLocked(bytes, &written);
            if (!buffer)
                return buffer;
            fresh = !written;
            // Huge pages fault in at the first write, far fewer of them than ordinary pages: asking for
            // them all at once first costs more than it saves.
            populate = fresh && !buffer.get_deleter().slab->HugePages();
        }
    }
    const std::size_t size = bytes == 0 ? 1 : bytes;
    if (!buffer) {
        // Fresh memory for a zeroed tile comes zeroed from the system without a pass of our own.
        buffer.reset(static_cast<BYTE*>(start == Start::kZeroed ? std::calloc(size, 1) : std::malloc(size)));
        if (!buffer)
            return buffer;
        fresh = true;
    }
    if (fresh) {
        if (populate)
            Populate(buffer.get(), std::min(used, bytes));
        if (start == Start::kZeroed)
            return buffer;
    }
    if (start == Start::kZeroed || poison)
        std::memset(buffer.get(), poison ? kPoison : 0, bytes);
    return buffer;
}

void CPravonTilePool::Give(Buffer buffer, std::size_t bytes) {
    if (!buffer)
        return;
    std::lock_guard lock(m_mutex);
    if (m_pooled + bytes > m_limit)
        return; // freed as buffer goes
    try {
        m_free[bytes].push_back(std::move(buffer));
    } catch (const std::bad_alloc&) {
        return; // a buffer the pool cannot note is freed instead
    }
    m_pooled += bytes;
}

void CPravonTilePool::TrimLocked() {
    for (auto it = m_free.begin(); it != m_free.end() && m_pooled > m_limit;) {
        auto& buffers = it->second;
        while (!buffers.empty() && m_pooled > m_limit) {
            buffers.pop_back();
            m_pooled -= it->first;
        }
        it = buffers.empty() ? m_free.erase(it) : std::next(it);
    }
}

void CPravonTilePool::SetLimit(std::size_t bytes) {
    std::lock_guard lock(m_mutex);
    m_limit = bytes;
    TrimLocked();
}

std::size_t CPravonTilePool::GetLimit() const {
    std::lock_guard lock(m_mutex);
    return m_limit;
}

std::size_t CPravonTilePool::GetPooledBytes() const {
    std::lock_guard lock(m_mutex);
    return m_pooled;
}

void CPravonTilePool::SetUnwrittenFill(Fill fill) {
    std::lock_guard lock(m_mutex);
    m_fill = fill;
}

CPravonTilePool::Fill CPravonTilePool::GetUnwrittenFill() const {
    std::lock_guard lock(m_mutex);
    return m_fill;
}
