// Arbitrary bytes read as a RLA file.
#include "../support/ReaderTarget.h"
#include "formats/RLAImage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return FuzzReader<tilvorn::TRLAGraphic>(data, size);
}
