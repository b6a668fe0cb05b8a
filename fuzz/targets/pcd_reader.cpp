// Arbitrary bytes read as a PCD file.
#include "../support/ReaderTarget.h"
#include "formats/PCDImage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return FuzzReader<tilvorn::TPCDGraphic>(data, size);
}
