// Small helpers the format readers share: numbers read from a stream in either byte order,
// how much a stream still holds, and the size checks made before a buffer is allocated.
#pragma once
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "core/ByteOrder.h"
#include "core/Exceptions.h"
#include "core/StreamPosition.h"
#include "core/Streams.h"
#include "readers/ImageReaders.h"

namespace tilvorn::formats {

/// A number read from the stream, or the stream's read error.
inline uint16_t ReadLE16(TStream& stream) {
    uint8_t bytes[2];
    stream.ReadBuffer(bytes, 2);
    return LE16(bytes);
}
inline uint32_t ReadLE32(TStream& stream) {
    uint8_t bytes[4];
    stream.ReadBuffer(bytes, 4);
    return LE32(bytes);
}
inline uint16_t ReadBE16(TStream& stream) {
    uint8_t bytes[2];
    stream.ReadBuffer(bytes, 2);
    return BE16(bytes);
}

/// Bytes between the stream's position and its end.
inline int64_t BytesLeft(TStream& stream) { return std::max<int64_t>(0, stream.Size() - stream.Position()); }

/// The first count bytes at the stream's position, for a content probe; false, with nothing
/// read, when the stream does not hold more than that.
inline bool ReadProbeBytes(TStream& stream, void* bytes, int64_t count) {
    if (BytesLeft(stream) <= count) return false;
    stream.ReadBuffer(bytes, count);
    return true;
}

/// The stream's read error, raised before a buffer is allocated for data the stream cannot
/// hold (the read itself would fail the same way, only later).
inline void RequireBytes(TStream& stream, uint64_t count) {
    if (count > uint64_t(BytesLeft(stream))) throw EReadError(kStreamReadError);
}

/// Exactly count bytes from the stream, or the stream's read error.
inline std::vector<uint8_t> ReadBytes(TStream& stream, uint64_t count) {
    RequireBytes(stream, count);
    std::vector<uint8_t> bytes(count);
    if (count) stream.ReadBuffer(bytes.data(), int64_t(count));
    return bytes;
}

/// A buffer whose bytes are not cleared on allocation: for data that is overwritten at once
/// (clearing tens of megabytes first costs as much as decoding them).
struct TRawBuffer {
    std::unique_ptr<uint8_t[]> Bytes;
    uint64_t Size = 0;
    explicit TRawBuffer(uint64_t size) : Bytes(new uint8_t[size ? size : 1]), Size(size) {}
    uint8_t* data() { return Bytes.get(); }
    const uint8_t* data() const { return Bytes.get(); }
    uint64_t size() const { return Size; }
};

/// Exactly count bytes from the stream in an uncleared buffer, or the stream's read error.
inline TRawBuffer ReadRawBytes(TStream& stream, uint64_t count) {
    RequireBytes(stream, count);
    TRawBuffer bytes(count);
    if (count) stream.ReadBuffer(bytes.data(), int64_t(count));
    return bytes;
}

/// Up to count bytes, as many as the stream still holds.
inline std::vector<uint8_t> ReadAvailable(TStream& stream, uint64_t count) {
    std::vector<uint8_t> bytes(std::min<uint64_t>(count, uint64_t(BytesLeft(stream))));
    if (!bytes.empty()) bytes.resize(size_t(stream.Read(bytes.data(), int64_t(bytes.size()))));
    return bytes;
}

/// A picture whose decoded data could never come out of the bytes the file holds (even at
/// the coding's largest expansion) is not a picture but a damaged header: refused before
/// anything of its size is allocated.
inline void CheckDecodedSize(uint64_t decodedBytes, uint64_t storedBytes, uint64_t maxExpansion,
                             const char* formatName) {
    if (decodedBytes / maxExpansion > storedBytes + 1024) RaiseImageErrorFmt(readertext::InvalidImage, formatName);
}

/// MulDiv(row, 100, height) of the progress reports.
inline uint8_t RowPercent(uint32_t row, uint32_t height) { return TReaderGraphic::RowPercent(row, height); }

}  // namespace tilvorn::formats
