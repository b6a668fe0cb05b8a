// Shared driver of the decoder fuzz targets: the first four bytes choose a decoder parameter,
// the target size and the two counts; the rest is the coded data. Both buffers are exactly as
// large as they say, so AddressSanitizer sees any access past them.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "core/Exceptions.h"
#include "readers/ReaderCodecs.h"

namespace tilvorn::fuzz {

struct TDecodeRequest {
    uint8_t Parameter = 0;
    std::vector<uint8_t> Coded;
    std::vector<uint8_t> Target;
    int32_t PackedSize = 0;
    int32_t UnpackedSize = 0;
};

/// Splits fuzz input into a request; false when it is too short.
inline bool MakeRequest(const uint8_t* data, size_t size, TDecodeRequest& request) {
    if (size < 4) return false;
    request.Parameter = data[0];
    request.Target.resize(size_t(data[1]) * 64 + (data[2] & 0x3F));
    request.Coded.assign(data + 4, data + size);
    // Counts may be smaller or larger than the buffers, or negative.
    const int32_t coded = static_cast<int32_t>(request.Coded.size());
    const int32_t target = static_cast<int32_t>(request.Target.size());
    switch (data[3] & 3) {
        case 0:
            request.PackedSize = coded, request.UnpackedSize = target;
            break;
        case 1:
            request.PackedSize = coded * 2 + 7, request.UnpackedSize = target * 2 + 300;
            break;
        case 2:
            request.PackedSize = coded / 2, request.UnpackedSize = target / 2;
            break;
        default:
            request.PackedSize = -1, request.UnpackedSize = -(data[3] >> 2);
            break;
    }
    return true;
}

/// Decodes the request with the decoder that make(Parameter) answers; our own exceptions are
/// expected outcomes of bad data.
template <typename Make>
int FuzzDecoder(const uint8_t* data, size_t size, Make make) {
    TDecodeRequest request;
    if (!MakeRequest(data, size, request)) return 0;
    std::unique_ptr<TDecoder> decoder = make(request.Parameter);
    try {
        decoder->BeginDecompress();
        TSourcePos source(request.Coded.data(), request.Coded.size());
        TDestPos dest(request.Target.data(), request.Target.size());
        decoder->Decompress(source, dest, request.PackedSize, request.UnpackedSize);
        if (source.Pos < request.Coded.data() || source.Pos > request.Coded.data() + request.Coded.size())
            __builtin_trap();
        if (dest.Pos < request.Target.data() || dest.Pos > request.Target.data() + request.Target.size())
            __builtin_trap();
        decoder->EndDecompress();
    } catch (const Exception&) {}
    return 0;
}

}  // namespace tilvorn::fuzz
