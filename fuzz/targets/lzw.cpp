// Fuzz target: TIFF LZW strips, both bit orders, targets of any size.
#include "CodecFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tilvorn;
    return fuzz::FuzzDecoder(data, size,
                             [](uint8_t) -> std::unique_ptr<TDecoder> { return std::make_unique<TLZWDecoder>(); });
}
