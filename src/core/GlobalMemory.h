// Handles to owned memory blocks with lock counts, standing in for the Windows global-memory
// calls. Packed DIBs (clipboard, scanner transfers) travel in such blocks.
#pragma once
#include <cstddef>
#include <cstdint>

namespace tilvorn::platform {

struct GlobalBlock;
using HGLOBAL = GlobalBlock*;

constexpr unsigned GMEM_FIXED = 0x0000;
constexpr unsigned GMEM_MOVEABLE = 0x0002;
constexpr unsigned GMEM_ZEROINIT = 0x0040;
constexpr unsigned GHND = GMEM_MOVEABLE | GMEM_ZEROINIT;

/// A new block of `bytes` bytes, or nullptr when memory is short.
HGLOBAL GlobalAlloc(unsigned flags, size_t bytes);
/// The block's memory; each call adds one lock. nullptr for a null or freed handle.
void* GlobalLock(HGLOBAL block);
/// Drops one lock; true while locks remain.
bool GlobalUnlock(HGLOBAL block);
/// Frees the block; answers nullptr on success and the handle itself on failure.
HGLOBAL GlobalFree(HGLOBAL block);
/// The allocated size in bytes, 0 for a null handle.
size_t GlobalSize(HGLOBAL block);
/// Current lock count (for tests and diagnostics).
int GlobalLockCount(HGLOBAL block);
/// Number of blocks allocated and not yet freed (for leak checks in tests).
int64_t GlobalLiveBlocks();

}  // namespace tilvorn::platform
