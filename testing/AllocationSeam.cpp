// Every form that allocates with malloc is replaced together with every form that frees, so that the
// sanitizers see matching pairs; the aligned forms stay the library's.
#include "testing/AllocationSeam.h"

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

// Allocations still to pass before the one that fails; negative: none fails.
thread_local int t_passesLeft = -1;
thread_local bool t_failed = false;
// The size of the next allocation of the calling thread that fails; 0: none.
thread_local std::size_t t_failingSize = 0;

// True, once, for the allocation that the calling thread's armed size names.
bool FailsBySize(std::size_t size) {
    if (t_failingSize == 0 || size != t_failingSize)
        return false;
    t_failingSize = 0;
    t_failed = true;
    return true;
}

constexpr std::size_t kRefuseNothing = 0;
std::atomic<std::size_t> g_refuseFrom{kRefuseNothing};

std::atomic<bool> g_watching{false};
std::atomic<std::size_t> g_largest{0};

void Watch(std::size_t size) {
    if (!g_watching.load(std::memory_order_relaxed))
        return;
    std::size_t seen = g_largest.load(std::memory_order_relaxed);
    while (size > seen && !g_largest.compare_exchange_weak(seen, size, std::memory_order_relaxed))
        ;
}

bool Refused(std::size_t size) {
    const std::size_t limit = g_refuseFrom.load(std::memory_order_relaxed);
    return limit != kRefuseNothing && size >= limit;
}

void* Allocate(std::size_t size) {
    Watch(size);
    if (t_passesLeft >= 0 && t_passesLeft-- == 0) {
        t_failed = true;
        throw std::bad_alloc();
    }
    if (FailsBySize(size) || Refused(size))
        throw std::bad_alloc();
    if (void* block = std::malloc(size ? size : 1))
        return block;
    throw std::bad_alloc();
}

void* AllocateOrNull(std::size_t size) noexcept {
    Watch(size);
    return FailsBySize(size) || Refused(size) ? nullptr : std::malloc(size ? size : 1);
}

} // namespace

namespace kvtest {

void FailNthAllocation(int n) {
    t_failed = false;
    t_passesLeft = n;
}

void FailAllocationOfSize(std::size_t bytes) {
    t_failed = false;
    t_failingSize = bytes;
}

bool StopFailingAllocations() {
    t_passesLeft = -1;
    t_failingSize = 0;
    return t_failed;
}

RefuseAllocationsFrom::RefuseAllocationsFrom(std::size_t bytes) {
    g_refuseFrom = bytes;
}

RefuseAllocationsFrom::~RefuseAllocationsFrom() {
    g_refuseFrom = kRefuseNothing;
}

AllocationWatch::AllocationWatch() {
    g_largest = 0;
    g_watching = true;
}

AllocationWatch::~AllocationWatch() {
    g_watching = false;
}

std::size_t AllocationWatch::GetLargest() const {
    return g_largest.load();
}

} // namespace kvtest

void* operator new(std::size_t size) {
    return Allocate(size);
}
void* operator new[](std::size_t size) {
    return Allocate(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return AllocateOrNull(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return AllocateOrNull(size);
}
void operator delete(void* block) noexcept {
    std::free(block);
}
void operator delete[](void* block) noexcept {
    std::free(block);
}
void operator delete(void* block, std::size_t) noexcept {
    std::free(block);
}
void operator delete[](void* block, std::size_t) noexcept {
    std::free(block);
}
void operator delete(void* block, const std::nothrow_t&) noexcept {
    std::free(block);
}
void operator delete[](void* block, const std::nothrow_t&) noexcept {
    std::free(block);
}
