// Arbitrary bytes read as a HEIF or AVIF file through libheif.
#include "../support/ReaderTarget.h"
#include "formats/HEIFImage.h"

// dav1d, the AV1 decoder under libheif, keeps a 40-byte block of a damaged AVIF stream that it
// gave up on; the block is the decoder library's own, never handed to us.
extern "C" const char* __lsan_default_suppressions() { return "leak:libdav1d\n"; }

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return FuzzReader<tilvorn::THEIFGraphic>(data, size);
}
