// Limits every fuzz program sets before its first input. A hostile header can declare a picture
// of gigabytes; under the machine's own limit each such input would spend its time allocating and
// clearing pixels instead of exploring the reader. 16 MiB still holds every picture of the corpus.
#include <cstdint>

#include "core/PictureMemory.h"

extern "C" int LLVMFuzzerInitialize(int* /*argc*/, char*** /*argv*/) {
    tilvorn::SetPictureMemoryLimit(uint64_t(16) << 20);
    return 0;
}
