// Reading PNG files from arbitrary bytes: the reader may refuse them with one of our errors, but
// must never crash, hang, or read or write outside its buffers.
#include <cstdint>

#include "core/Exceptions.h"
#include "core/Streams.h"
#include "formats/PNGImage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    tilvorn::TCustomMemoryStream stream(data, int64_t(size));
    tilvorn::TPNGGraphic reader;
    try {
        reader.ReadImage(stream);
    } catch (const tilvorn::Exception&) {}
    return 0;
}
