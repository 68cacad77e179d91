// Movable global memory: blocks behind handles with generations, locked to reach their bytes. The printer
// services hand their DEVMODE and DEVNAMES blocks out in it, and their callers free them.
#pragma once

#include "WinResources.h"

#include <cstddef>

constexpr UINT GMEM_FIXED = 0x0000;
constexpr UINT GMEM_MOVEABLE = 0x0002;
constexpr UINT GMEM_ZEROINIT = 0x0040;

// A new block of the size (zero-filled whatever the flags say); null when out of memory or handles.
HGLOBAL GlobalAlloc(UINT flags, std::size_t bytes);
// The block at its new size, keeping what fits of its bytes and zero-filling the rest: the same handle, or
// null (the block unchanged) while it is locked or when there is no memory.
HGLOBAL GlobalReAlloc(HGLOBAL memory, std::size_t bytes, UINT flags);
// The bytes of the block until the matching GlobalUnlock; null for a freed or unknown handle.
void* GlobalLock(HGLOBAL memory);
BOOL GlobalUnlock(HGLOBAL memory);
std::size_t GlobalSize(HGLOBAL memory);
// Null once freed; the handle itself when it names no block.
HGLOBAL GlobalFree(HGLOBAL memory);

namespace WinGlobalMemoryTest {
// Blocks allocated and not yet freed, so that tests can tell that every block went back.
std::size_t LiveBlocks();
} // namespace WinGlobalMemoryTest
