// Arbitrary bytes read as a Autodesk file.
#include "../support/ReaderTarget.h"
#include "formats/AutodeskImage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    return FuzzReader<tilvorn::TAutodeskGraphic>(data, size);
}
