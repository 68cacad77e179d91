#include "platform/dragkvl1/DragMemory.h"

#include "platform/dragkvl1/DragHooks.h"

namespace dragkvl1 {

std::int32_t CCallbackMemory::AllocateBytes(const DragParams& params, std::uint64_t bytes, bool tooLarge,
                                            void** object) {
    Free();
    if (tooLarge || bytes > UINT32_MAX)
        return DRAG_ERR_MEMORY;
    void* memory = nullptr;
    if (void* error = params.allocate(&memory, static_cast<std::uint32_t>(bytes ? bytes : 1))) {
        *object = error;
        return DRAG_ERR_OBJECT;
    }
    if (!memory)
        return DRAG_ERR_MEMORY;
    CountAllocation();
    m_memory = memory;
    m_release = params.release;
    return DRAG_OK;
}

void CCallbackMemory::Free() {
    if (!m_memory)
        return;
    // The release callback has nothing to report for memory it handed out itself.
    m_release(m_memory);
    CountRelease();
    m_memory = nullptr;
}

} // namespace dragkvl1
