// Fuzz target: modified Huffman fax strips, byte and word aligned, both bit orders.
#include "CodecFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tilvorn;
    return fuzz::FuzzDecoder(data, size, [](uint8_t parameter) -> std::unique_ptr<TDecoder> {
        return std::make_unique<TCCITTMHDecoder>(0, (parameter & 2) != 0, (parameter & 1) != 0,
                                                 1 + (parameter >> 2) * 29u);
    });
}
