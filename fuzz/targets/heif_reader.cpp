// Arbitrary bytes read as a HEIF or AVIF file through libheif.
#include "../support/ReaderTarget.h"
#include "formats/HEIFImage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return FuzzReader<tilvorn::THEIFGraphic>(data, size);
}
