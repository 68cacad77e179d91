// A block of the library's working memory, taken through the caller's allocation callback and given back
// through its release callback when the block goes.
#pragma once

#include "platform/dragkvl1/DRAGKVL1.h"

#include <cstddef>
#include <cstdint>

namespace dragkvl1 {

class CCallbackMemory {
public:
    CCallbackMemory() = default;
    CCallbackMemory(const CCallbackMemory&) = delete;
    CCallbackMemory& operator=(const CCallbackMemory&) = delete;
    ~CCallbackMemory() { Free(); }

    // A block of count elements of T. DRAG_ERR_MEMORY when the size does not fit the callback's 32 bits or
    // the callback gave nothing; DRAG_ERR_OBJECT with the callback's error in *object when it failed.
    template <class T>
    std::int32_t Allocate(const DragParams& params, std::uint64_t count, void** object) {
        return AllocateBytes(params, count * sizeof(T), count > UINT32_MAX / sizeof(T), object);
    }
    void Free();

    template <class T>
    T* As() const {
        return static_cast<T*>(m_memory);
    }

private:
    std::int32_t AllocateBytes(const DragParams& params, std::uint64_t bytes, bool tooLarge, void** object);

    void* m_memory = nullptr;
    DragRelease m_release = nullptr;
};

} // namespace dragkvl1
