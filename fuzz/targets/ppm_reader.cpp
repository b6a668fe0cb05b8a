// Arbitrary bytes read as a PPM file.
#include "../support/ReaderTarget.h"
#include "formats/PPMImage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return FuzzReader<tilvorn::TPPMGraphic>(data, size);
}
