#include "core/PictureMemory.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <map>
#include <mutex>
#include <new>

#include <sys/mman.h>
#include <unistd.h>

#include "core/Exceptions.h"
#include "core/Format.h"

namespace tilvorn {

namespace {

constexpr uint64_t kPictureCap = uint64_t(2) << 30;

std::atomic<uint64_t> chosenLimit{0};

uint64_t MachineMemory() {
    const long pages = sysconf(_SC_PHYS_PAGES), pageSize = sysconf(_SC_PAGE_SIZE);
    if (pages <= 0 || pageSize <= 0) return 4 * kPictureCap;  // unknown: assume enough for the cap
    return uint64_t(pages) * uint64_t(pageSize);
}

/// Decimal gigabytes with one decimal: 10800000000 → "10.8 GB"; small sizes in megabytes.
std::string SizeText(uint64_t bytes) {
    char text[32];
    if (bytes >= 100'000'000)
        std::snprintf(text, sizeof text, "%.1f GB", double(bytes) / 1e9);
    else
        std::snprintf(text, sizeof text, "%.1f MB", double(bytes) / 1e6);
    return text;
}

}  // namespace

uint64_t PictureMemoryLimit() {
    const uint64_t chosen = chosenLimit.load();
    if (chosen) return chosen;
    static const uint64_t machine = std::min(MachineMemory() / 4, kPictureCap);
    return machine;
}

void SetPictureMemoryLimit(uint64_t bytes) { chosenLimit.store(bytes); }

uint64_t PictureBytes(uint64_t width, uint64_t height, int bitCount) {
    // Header sizes are at most 32 bits each, so neither product can wrap.
    const uint64_t rowBytes = ((std::min<uint64_t>(width, UINT32_MAX) * uint64_t(bitCount) + 31) >> 5) * 4;
    return rowBytes * std::min<uint64_t>(height, UINT32_MAX);
}

std::string PictureTooLargeText(uint64_t width, uint64_t height, int bitCount) {
    return Format("The picture is %d × %d pixels, %s at %d bits; one picture may take at most %s.", width, height,
                  SizeText(PictureBytes(width, height, bitCount)), bitCount, SizeText(PictureMemoryLimit()));
}

void CheckPictureMemory(uint64_t width, uint64_t height, int bitCount) {
    if (PictureBytes(width, height, bitCount) > PictureMemoryLimit())
        throw EOutOfMemory(PictureTooLargeText(width, height, bitCount));
}

void CheckReadingMemory(uint64_t bytes, uint64_t width, uint64_t height, int bitCount) {
    if (bytes > PictureMemoryLimit())
        throw EOutOfMemory(
            Format("Reading the picture of %d × %d pixels at %d bits takes %s; one picture may take at "
                   "most %s.",
                   width, height, bitCount, SizeText(bytes), SizeText(PictureMemoryLimit())));
}

namespace {

constexpr size_t kHugePage = size_t(2) << 20;
// Smaller blocks come from malloc. From a megabyte on, malloc would map them afresh in 4 KB
// pages anyway; one 2 MiB page instead faults once where those fault hundreds of times.
constexpr size_t kMappedBlock = size_t(1) << 20;

struct TMapping {
    void* Base;
    size_t Length;
};

// The mapped blocks by their start; pictures may be made and freed on any thread.
std::mutex mappedLock;
std::map<uint8_t*, TMapping>& MappedBlocks() {
    static auto* blocks = new std::map<uint8_t*, TMapping>;  // kept to the end of the program
    return *blocks;
}

}  // namespace

uint8_t* AllocatePictureBlock(size_t size) {
    if (size < kMappedBlock) return static_cast<uint8_t*>(std::calloc(size ? size : 1, 1));
    // Room to start on a 2 MiB boundary and to end on one; pages never touched cost nothing.
    const size_t length = size + 2 * kHugePage;
    void* base = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (base == MAP_FAILED) return nullptr;
    auto* block = reinterpret_cast<uint8_t*>((reinterpret_cast<uintptr_t>(base) + kHugePage - 1) & ~(kHugePage - 1));
    madvise(block, (size + kHugePage - 1) & ~(kHugePage - 1), MADV_HUGEPAGE);  // a hint: may be refused
    std::lock_guard<std::mutex> hold(mappedLock);
    MappedBlocks()[block] = {base, length};
    return block;
}

size_t PictureBlockCapacity(size_t size) {
    return size < kMappedBlock ? size : (size + kHugePage - 1) & ~(kHugePage - 1);
}

TPictureBlock MakePictureBlock(size_t size) {
    TPictureBlock block(AllocatePictureBlock(size));
    if (!block) throw std::bad_alloc();
    return block;
}

void FreePictureBlock(uint8_t* block) {
    if (!block) return;
    {
        std::lock_guard<std::mutex> hold(mappedLock);
        auto& blocks = MappedBlocks();
        if (auto it = blocks.find(block); it != blocks.end()) {
            munmap(it->second.Base, it->second.Length);
            blocks.erase(it);
            return;
        }
    }
    std::free(block);
}

}  // namespace tilvorn
