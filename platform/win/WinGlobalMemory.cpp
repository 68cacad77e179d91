#include "WinGlobalMemory.h"

#include "HandleTable.h"

#include <cstdint>
#include <mutex>
#include <new>
#include <vector>

namespace {

struct Block {
    std::vector<BYTE> bytes;
    int locks = 0;
};

struct GlobalMemory {
    std::mutex lock;
    HandleTable<Block> blocks;
    std::size_t live = 0;
};

GlobalMemory& Memory() {
    static GlobalMemory* memory = new GlobalMemory;
    return *memory;
}

std::uint32_t ToId(HGLOBAL handle) {
    const auto value = reinterpret_cast<std::uintptr_t>(handle);
    return value > 0xFFFFFFFFu ? 0 : static_cast<std::uint32_t>(value);
}

} // namespace

HGLOBAL GlobalAlloc(UINT, std::size_t bytes) {
    std::shared_ptr<Block> block;
    try {
        block = std::make_shared<Block>();
        block->bytes.assign(bytes, 0);
    } catch (const std::bad_alloc&) {
        return nullptr;
    } catch (const std::length_error&) {
        return nullptr;
    }
    std::lock_guard<std::mutex> guard(Memory().lock);
    const std::uint32_t id = Memory().blocks.Insert(std::move(block));
    if (id)
        ++Memory().live;
    return reinterpret_cast<HGLOBAL>(static_cast<std::uintptr_t>(id));
}

HGLOBAL GlobalReAlloc(HGLOBAL memory, std::size_t bytes, UINT) {
    std::lock_guard<std::mutex> guard(Memory().lock);
    std::shared_ptr<Block> block = Memory().blocks.Find(ToId(memory));
    if (!block || block->locks > 0)
        return nullptr;
    try {
        block->bytes.resize(bytes, 0);
    } catch (const std::exception&) {
        return nullptr;
    }
    return memory;
}

void* GlobalLock(HGLOBAL memory) {
    std::lock_guard<std::mutex> guard(Memory().lock);
    std::shared_ptr<Block> block = Memory().blocks.Find(ToId(memory));
    if (!block)
        return nullptr;
    ++block->locks;
    // A block of no bytes still answers a pointer, as a locked empty block does.
    return block->bytes.empty() ? static_cast<void*>(block.get()) : block->bytes.data();
}

BOOL GlobalUnlock(HGLOBAL memory) {
    std::lock_guard<std::mutex> guard(Memory().lock);
    std::shared_ptr<Block> block = Memory().blocks.Find(ToId(memory));
    if (!block || block->locks == 0)
        return FALSE;
    return --block->locks > 0 ? TRUE : FALSE;
}

std::size_t GlobalSize(HGLOBAL memory) {
    std::lock_guard<std::mutex> guard(Memory().lock);
    std::shared_ptr<Block> block = Memory().blocks.Find(ToId(memory));
    return block ? block->bytes.size() : 0;
}

HGLOBAL GlobalFree(HGLOBAL memory) {
    std::lock_guard<std::mutex> guard(Memory().lock);
    if (!Memory().blocks.Erase(ToId(memory)))
        return memory;
    --Memory().live;
    return nullptr;
}

std::size_t WinGlobalMemoryTest::LiveBlocks() {
    std::lock_guard<std::mutex> guard(Memory().lock);
    return Memory().live;
}
