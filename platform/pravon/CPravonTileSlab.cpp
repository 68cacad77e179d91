#include "CPravonTileSlab.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>

#include <sys/mman.h>
#include <unistd.h>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
// Memory no buffer owns is poisoned, so that a tile written past its end is caught as it would be in
// memory of its own; a page between buffers keeps neighbours apart.
#define KV_POISON(address, size) ASAN_POISON_MEMORY_REGION(address, size)
#define KV_UNPOISON(address, size) ASAN_UNPOISON_MEMORY_REGION(address, size)
constexpr std::size_t kGuardPages = 1;
#else
#define KV_POISON(address, size) ((void)(address), (void)(size))
#define KV_UNPOISON(address, size) ((void)(address), (void)(size))
constexpr std::size_t kGuardPages = 0;
#endif

namespace {

std::size_t PageSize() {
    static const auto page = static_cast<std::size_t>(sysconf(_SC_PAGESIZE));
    return page;
}

// The size of the pages the system backs memory with when asked to, where it can: a slab's first write to
// each such page costs one fault instead of one per ordinary page, which on some virtual machines costs
// as much as writing the page many times over.
constexpr std::size_t kHugePage = std::size_t{2} << 20;

// Whether the system backs memory that asks for it with huge pages at all (its setting is "always" or
// "madvise", not "never").
bool SystemHasHugePages() {
    static const bool has = [] {
        std::FILE* file = std::fopen("/sys/kernel/mm/transparent_hugepage/enabled", "r");
        if (!file)
            return false;
        char setting[128] = {};
        const std::size_t read = std::fread(setting, 1, sizeof setting - 1, file);
        std::fclose(file);
        setting[read] = 0;
        return std::strstr(setting, "[always]") || std::strstr(setting, "[madvise]");
    }();
    return has;
}

} // namespace

CPravonTileSlab* CPravonTileSlab::Map(std::size_t bytes, std::size_t count) {
    const std::size_t page = PageSize();
    if (bytes == 0 || count == 0)
        return nullptr;
    const std::size_t stride = (bytes + page - 1) / page * page + kGuardPages * page;
    if (stride < bytes || count > SIZE_MAX / stride)
        return nullptr;
    std::size_t mapped = stride * count;
    // A slab of at least a huge page is mapped on huge-page boundaries and as a whole number of them,
    // holding as many more buffers as fit: every huge page it writes is wholly its own.
    const bool huge = SystemHasHugePages() && mapped >= kHugePage && mapped <= SIZE_MAX - 2 * kHugePage;
    if (huge) {
        mapped = (mapped + kHugePage - 1) / kHugePage * kHugePage;
        count = mapped / stride;
    }
    const std::size_t reserved = huge ? mapped + kHugePage : mapped;
    void* reservation = mmap(nullptr, reserved, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (reservation == MAP_FAILED)
        return nullptr;
    void* base = reservation;
    bool hugePages = false;
    if (huge) {
        // The slack before the first boundary and after the slab goes back at once.
        const auto at = reinterpret_cast<std::uintptr_t>(reservation);
        const std::uintptr_t aligned = (at + kHugePage - 1) & ~std::uintptr_t{kHugePage - 1};
        if (aligned > at)
            munmap(reservation, aligned - at);
        if (aligned + mapped < at + reserved)
            munmap(reinterpret_cast<void*>(aligned + mapped), at + reserved - (aligned + mapped));
        base = reinterpret_cast<void*>(aligned);
        hugePages = madvise(base, mapped, MADV_HUGEPAGE) == 0;
    }
    CPravonTileSlab* slab = nullptr;
    try {
        slab = new CPravonTileSlab(static_cast<BYTE*>(base), mapped, bytes, stride, count);
        slab->m_hugePages = hugePages;
        // Room for every buffer to come back, so that a buffer's going never allocates.
        slab->m_kept.reserve(count);
    } catch (const std::bad_alloc&) {
        delete slab;
        munmap(base, mapped);
        return nullptr;
    }
    KV_POISON(base, mapped);
    return slab;
}

CPravonTileSlab::CPravonTileSlab(BYTE* base, std::size_t mapped, std::size_t bytes, std::size_t stride,
                                 std::size_t count)
    : m_base(base), m_mapped(mapped), m_bytes(bytes), m_stride(stride), m_count(count) {}

BYTE* CPravonTileSlab::Carve(bool* written) {
    BYTE* buffer = nullptr;
    {
        std::lock_guard lock(m_mutex);
        if (!m_kept.empty()) {
            buffer = m_kept.back();
            m_kept.pop_back();
            *written = true;
        } else if (m_carved < m_count) {
            buffer = m_base + m_carved++ * m_stride;
            *written = false;
        } else {
            return nullptr;
        }
    }
    m_holders.fetch_add(1, std::memory_order_relaxed);
    KV_UNPOISON(buffer, m_bytes);
    return buffer;
}

void CPravonTileSlab::Release(BYTE* buffer) {
    Release(&buffer, 1);
}

void CPravonTileSlab::Release(BYTE* const* buffers, std::size_t count) {
    if (count == 0)
        return;
    for (std::size_t i = 0; i < count; ++i)
        KV_POISON(buffers[i], m_bytes);
    {
        std::lock_guard lock(m_mutex);
        if (!m_retired) {
            // Kept for the carver: the next tile of this size is made in pages that are already in.
            m_kept.insert(m_kept.end(), buffers, buffers + count);
        } else if (m_holders.load(std::memory_order_acquire) != count) {
            // Nobody carves again, and others still hold the slab: the pages go back now, not when it goes.
            // (A retired slab gains no holders, so when these are all it has left, it goes with them.)
            for (std::size_t i = 0; i < count; ++i)
                GiveBack(buffers[i]);
        }
    }
    Drop(count);
}

void CPravonTileSlab::Retire() {
    {
        std::lock_guard lock(m_mutex);
        m_retired = true;
        // Only when buffers are still out does the mapping outlive this, and with it the kept pages.
        if (m_holders.load(std::memory_order_acquire) != 1)
            for (BYTE* buffer : m_kept)
                GiveBack(buffer);
        m_kept.clear();
        m_kept.shrink_to_fit();
    }
    Drop(1);
}

void CPravonTileSlab::GiveBack(BYTE* buffer) const {
    const std::size_t page = PageSize();
    const std::size_t whole = (m_bytes + page - 1) / page * page;
    madvise(buffer, whole, MADV_DONTNEED);
}

void CPravonTileSlab::Drop(std::size_t holders) {
    if (m_holders.fetch_sub(holders, std::memory_order_acq_rel) != holders)
        return;
    KV_UNPOISON(m_base, m_mapped);
    munmap(m_base, m_mapped);
    delete this;
}
