// Arbitrary bytes read as a CUT file.
#include "../support/ReaderTarget.h"
#include "formats/CUTImage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return FuzzReader<tilvorn::TCUTGraphic>(data, size);
}
