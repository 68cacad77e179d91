// Watches the heap while armed: the largest single request made through operator new. Readers of hostile
// bytes must not ask for more memory than their input can justify, and this shows what they asked for.
#pragma once

#include <cstddef>

namespace dusttest {

class AllocationWatch {
public:
    AllocationWatch();
    ~AllocationWatch();
    AllocationWatch(const AllocationWatch&) = delete;
    AllocationWatch& operator=(const AllocationWatch&) = delete;
    std::size_t GetLargest() const;
};

} // namespace dusttest
