// Fuzz target: one-dimensional T.4 fax strips, both bit orders, many widths.
#include "CodecFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tilvorn;
    return fuzz::FuzzDecoder(data, size, [](uint8_t parameter) -> std::unique_ptr<TDecoder> {
        return std::make_unique<TCCITTFax3Decoder>(parameter & 1, (parameter & 2) != 0, false, 1 + parameter * 13u);
    });
}
