// The global allocation functions of the test program, over malloc and free, with the failure of
// FailNthAllocation. Every form that allocates with malloc is replaced together with every form that
// frees, so that the sanitizers see matching pairs; the aligned forms stay the library's.
#include "AllocationFailure.h"

#include <cstdlib>
#include <new>

namespace {

// Allocations still to pass before the one that fails; negative: none fails.
thread_local int t_passesLeft = -1;
thread_local bool t_failed = false;

void* Allocate(std::size_t size) {
    if (t_passesLeft >= 0 && t_passesLeft-- == 0) {
        t_failed = true;
        throw std::bad_alloc();
    }
    if (void* block = std::malloc(size ? size : 1))
        return block;
    throw std::bad_alloc();
}

} // namespace

void FailNthAllocation(int n) {
    t_failed = false;
    t_passesLeft = n;
}

bool StopFailingAllocations() {
    t_passesLeft = -1;
    return t_failed;
}

void* operator new(std::size_t size) {
    return Allocate(size);
}
void* operator new[](std::size_t size) {
    return Allocate(size);
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return std::malloc(size ? size : 1);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return std::malloc(size ? size : 1);
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
