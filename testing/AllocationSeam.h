// The test program's own global operator new and delete, over malloc and free, with three seams: one
// allocation of the calling thread made to fail (by its count or its size), large blocks refused on every
// thread, and a watch on the largest block asked for. A test program gets them by linking kvtesting_alloc.
#pragma once

#include <cstddef>

namespace kvtest {

// After FailNthAllocation(n), the n-th throwing operator new (or new[]) of the calling thread, counted from
// 0, throws std::bad_alloc; allocations of other threads and the non-throwing forms (whose callers check for
// null) pass.
void FailNthAllocation(int n);
// After FailAllocationOfSize(bytes), the next allocation of exactly `bytes` on the calling thread fails, in
// any form: the throwing forms throw std::bad_alloc, the non-throwing ones give null. One step of a long
// operation is reached by the size of the block it asks for, however many allocations come before it.
void FailAllocationOfSize(std::size_t bytes);
// Ends either failure on the calling thread; true when an allocation failed since it was armed.
bool StopFailingAllocations();

// Refuses every allocation of `bytes` or more, on every thread and in every form, while it lives: the
// throwing forms throw std::bad_alloc, the non-throwing ones give null.
class RefuseAllocationsFrom {
public:
    explicit RefuseAllocationsFrom(std::size_t bytes);
    ~RefuseAllocationsFrom();
    RefuseAllocationsFrom(const RefuseAllocationsFrom&) = delete;
    RefuseAllocationsFrom& operator=(const RefuseAllocationsFrom&) = delete;
};

// Watches the heap while it lives: the largest single block asked for, in any form. Readers of hostile bytes
// must not ask for more memory than their input can justify, and this shows what they asked for.
class AllocationWatch {
public:
    AllocationWatch();
    ~AllocationWatch();
    AllocationWatch(const AllocationWatch&) = delete;
    AllocationWatch& operator=(const AllocationWatch&) = delete;
    std::size_t GetLargest() const;
};

} // namespace kvtest
