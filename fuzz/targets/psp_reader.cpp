// Arbitrary bytes read as a PSP file.
#include "../support/ReaderTarget.h"
#include "formats/PSPImage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return FuzzReader<tilvorn::TPSPGraphic>(data, size);
}
