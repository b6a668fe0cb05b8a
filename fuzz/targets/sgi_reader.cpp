// Arbitrary bytes read as a SGI file.
#include "../support/ReaderTarget.h"
#include "formats/SGIImage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return FuzzReader<tilvorn::TSGIGraphic>(data, size);
}
