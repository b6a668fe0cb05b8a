// Fuzz target: T.6 (Group 4) fax strips, both bit orders, many widths.
#include "CodecFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tilvorn;
    return fuzz::FuzzDecoder(data, size, [](uint8_t parameter) -> std::unique_ptr<TDecoder> {
        return std::make_unique<TCCITTFax2DDecoder>(0, (parameter & 1) != 0, 1 + (parameter >> 1) * 7u, true);
    });
}
