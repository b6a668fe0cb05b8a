// How much memory one picture may take. A header can declare any size; a picture whose
// pixels would not fit is refused with its size named before anything is allocated.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <string>

namespace tilvorn {

/// Bytes one picture may take: a quarter of the machine's memory, at most 2 GiB.
uint64_t PictureMemoryLimit();

/// Replaces the limit (0: back to the machine's). Fuzzing and tests set small ones.
void SetPictureMemoryLimit(uint64_t bytes);

/// The bytes of a bottom-up bitmap of that size, rows padded to 32 bits.
uint64_t PictureBytes(uint64_t width, uint64_t height, int bitCount);

/// "The picture is 60000 × 60000 pixels, 10.8 GB at 24 bits; one picture may take at most 2.1 GB."
std::string PictureTooLargeText(uint64_t width, uint64_t height, int bitCount);

/// Raises EOutOfMemory with PictureTooLargeText when the bitmap would pass the limit.
void CheckPictureMemory(uint64_t width, uint64_t height, int bitCount);

/// Raises EOutOfMemory when the buffers a reader needs beside the bitmap (a strip or tile of
/// stored samples, say) would pass the limit: "Reading the picture of 100 × 70000 pixels at 64
/// bits takes 4.3 GB; one picture may take at most 2.1 GB."
void CheckReadingMemory(uint64_t bytes, uint64_t width, uint64_t height, int bitCount);

/// size bytes of pixel memory, all 0, or nullptr when there is none. A block of many megabytes
/// is mapped on its own and asked for in 2 MiB pages where the system has them: a picture's
/// first writes then take a few hundred page faults instead of thousands.
uint8_t* AllocatePictureBlock(size_t size);
/// The bytes a block of AllocatePictureBlock(size) may use, all 0 at first: a mapped block
/// reaches to the end of its last 2 MiB page, so a slightly larger picture fits it again.
size_t PictureBlockCapacity(size_t size);
/// Gives back a block from AllocatePictureBlock (nullptr is left alone).
void FreePictureBlock(uint8_t* block);

struct TPictureBlockFree {
    void operator()(uint8_t* block) const noexcept { FreePictureBlock(block); }
};
/// A block from AllocatePictureBlock with its owner.
using TPictureBlock = std::unique_ptr<uint8_t, TPictureBlockFree>;
/// size zero bytes of picture memory; raises std::bad_alloc when there are none.
TPictureBlock MakePictureBlock(size_t size);

/// Containers of picture-sized working memory (a sheet's encoded bytes, a part of the picture)
/// take it as pictures do, in 2 MiB pages where the system has them.
template <class T>
struct TPictureAllocator {
    using value_type = T;
    TPictureAllocator() = default;
    template <class U>
    TPictureAllocator(const TPictureAllocator<U>&) noexcept {}
    T* allocate(size_t count) {
        if (count > SIZE_MAX / sizeof(T)) throw std::bad_array_new_length();
        return reinterpret_cast<T*>(MakePictureBlock(count * sizeof(T)).release());
    }
    void deallocate(T* block, size_t) noexcept { FreePictureBlock(reinterpret_cast<uint8_t*>(block)); }
    template <class U>
    bool operator==(const TPictureAllocator<U>&) const noexcept {
        return true;
    }
};

}  // namespace tilvorn
