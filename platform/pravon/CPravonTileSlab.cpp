#include "CPravonTileSlab.h"

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

} // namespace

CPravonTileSlab* CPravonTileSlab::Map(std::size_t bytes, std::size_t count) {
    const std::size_t page = PageSize();
    if (bytes == 0 || count == 0)
        return nullptr;
    const std::size_t stride = (bytes + page - 1) / page * page + kGuardPages * page;
    if (stride < bytes || count > SIZE_MAX / stride)
        return nullptr;
    const std::size_t mapped = stride * count;
    void* base = mmap(nullptr, mapped, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (base == MAP_FAILED)
        return nullptr;
    auto* slab = new (std::nothrow) CPravonTileSlab(static_cast<BYTE*>(base), mapped, bytes, stride, count);
    if (!slab) {
        munmap(base, mapped);
        return nullptr;
    }
    KV_POISON(base, mapped);
    return slab;
}

CPravonTileSlab::CPravonTileSlab(BYTE* base, std::size_t mapped, std::size_t bytes, std::size_t stride,
                                 std::size_t count)
    : m_base(base), m_mapped(mapped), m_bytes(bytes), m_stride(stride), m_count(count) {}

BYTE* CPravonTileSlab::Carve() {
    if (m_carved == m_count)
        return nullptr;
    BYTE* buffer = m_base + m_carved++ * m_stride;
    m_holders.fetch_add(1, std::memory_order_relaxed);
    KV_UNPOISON(buffer, m_bytes);
    return buffer;
}

void CPravonTileSlab::Release(BYTE* buffer) {
    KV_POISON(buffer, m_bytes);
    // Its pages are not used again: they go back to the system now, not when the slab goes.
    const std::size_t page = PageSize();
    const std::size_t whole = (m_bytes + page - 1) / page * page;
    madvise(buffer, whole, MADV_DONTNEED);
    Drop();
}

void CPravonTileSlab::Retire() {
    Drop();
}

void CPravonTileSlab::Drop() {
    if (m_holders.fetch_sub(1, std::memory_order_acq_rel) != 1)
        return;
    KV_UNPOISON(m_base, m_mapped);
    munmap(m_base, m_mapped);
    delete this;
}
