// Limits every fuzz program sets before its first input. A hostile header can declare a picture
// of gigabytes; under the machine's own limit each such input would spend its time allocating and
// clearing pixels (and walking its rows) instead of exploring the reader: under the sanitizers
// a pixel costs tens of nanoseconds, a megabyte of them milliseconds. 64 KiB still holds every
// picture of the corpus (the largest is 127 × 64 pixels, 32 KiB at 32 bits).
#include <cstdint>

#include "core/PictureMemory.h"

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
    tilvorn::SetPictureMemoryLimit(uint64_t(64) << 10);
    return 0;
}
