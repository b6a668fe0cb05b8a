#include "core/GlobalMemory.h"

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

namespace tilvorn::platform {

struct GlobalBlock {
    uint32_t magic;
    int locks;
    size_t size;
    unsigned char* data;
};

namespace {
constexpr uint32_t kMagic = 0x474C4F42;  // "GLOB"
std::atomic<int64_t> liveBlocks{0};

bool Valid(HGLOBAL block) { return block != nullptr && block->magic == kMagic; }
}  // namespace

HGLOBAL GlobalAlloc(unsigned flags, size_t bytes) {
    auto* block = new (std::nothrow) GlobalBlock{kMagic, 0, bytes, nullptr};
    if (!block) return nullptr;
    size_t allocation = bytes == 0 ? 1 : bytes;
    block->data =
        static_cast<unsigned char*>((flags & GMEM_ZEROINIT) ? std::calloc(allocation, 1) : std::malloc(allocation));
    if (!block->data) {
        delete block;
        return nullptr;
    }
    ++liveBlocks;
    return block;
}

void* GlobalLock(HGLOBAL block) {
    if (!Valid(block)) return nullptr;
    ++block->locks;
    return block->data;
}

bool GlobalUnlock(HGLOBAL block) {
    if (!Valid(block) || block->locks == 0) return false;
    --block->locks;
    return block->locks > 0;
}

HGLOBAL GlobalFree(HGLOBAL block) {
    if (!Valid(block)) return block;
    block->magic = 0;
    std::free(block->data);
    delete block;
    --liveBlocks;
    return nullptr;
}

size_t GlobalSize(HGLOBAL block) { return Valid(block) ? block->size : 0; }

int GlobalLockCount(HGLOBAL block) { return Valid(block) ? block->locks : 0; }

int64_t GlobalLiveBlocks() { return liveBlocks.load(); }

}  // namespace tilvorn::platform
