// Fuzz target: Targa run-length packets; the parameter picks the pixel depth.
#include "CodecFuzz.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tilvorn;
    return fuzz::FuzzDecoder(data, size, [](uint8_t parameter) -> std::unique_ptr<TDecoder> {
        static const int32_t depths[] = {8, 15, 16, 24, 32, 12};
        return std::make_unique<TTargaRLEDecoder>(depths[parameter % 6]);
    });
}
