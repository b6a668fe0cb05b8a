// Arbitrary bytes read as a PSD file.
#include "../support/ReaderTarget.h"
#include "formats/PSDImage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return FuzzReader<tilvorn::TPSDGraphic>(data, size);
}
