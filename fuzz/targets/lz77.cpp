// Fuzz target: zlib streams with each flush mode, with and without reset.
#include "CodecFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tilvorn;
    return fuzz::FuzzDecoder(data, size, [](uint8_t parameter) -> std::unique_ptr<TDecoder> {
        static const int32_t flushes[] = {0, 1, 2, 4};
        return std::make_unique<TLZ77Decoder>(flushes[parameter % 4], (parameter & 4) != 0);
    });
}
