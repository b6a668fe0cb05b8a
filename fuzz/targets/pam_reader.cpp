// Arbitrary bytes after a P7 magic line, read as a portable arbitrary map.
#include <string>

#include "../support/ReaderTarget.h"
#include "formats/PPMImage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string bytes = "P7\n";
    bytes.append(reinterpret_cast<const char*>(data), size);
    return FuzzReader<tilvorn::TPPMGraphic>(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}
