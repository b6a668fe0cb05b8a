// Fuzz target: Dr. Halo CUT rows.
#include "CodecFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tilvorn;
    return fuzz::FuzzDecoder(
        data, size, [](uint8_t parameter) -> std::unique_ptr<TDecoder> { return std::make_unique<TCUTRLEDecoder>(); });
}
