// Arbitrary bytes read as a PCX file.
#include "../support/ReaderTarget.h"
#include "formats/PCXImage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return FuzzReader<tilvorn::TPCXGraphic>(data, size);
}
