#include "readers/ReaderCodecs.h"

#include <algorithm>
#include <cstring>

#include <libdeflate.h>
#include <zlib.h>

#include "core/Exceptions.h"

namespace tilvorn {

namespace {

const char* const kLZ77Error = "LZ77 decompression error.";

/// Stores into a target that ends where its buffer ends: whatever does not fit is dropped.
struct TClippedWriter {
    uint8_t* Pos;
    uint8_t* End;

    size_t Room() const { return Pos < End ? static_cast<size_t>(End - Pos) : 0; }
    bool Full() const { return Pos >= End; }
    void Put(uint8_t value) {
        if (Pos < End) *Pos++ = value;
    }
    void Fill(uint8_t value, size_t count) {
        count = std::min(count, Room());
        if (count == 0)  // the target may be empty, with no buffer at all
            return;
        std::memset(Pos, value, count);
        Pos += count;
    }
    void Copy(const uint8_t* from, size_t count) {
        count = std::min(count, Room());
        if (count == 0) return;
        std::memcpy(Pos, from, count);
        Pos += count;
    }
};

TClippedWriter WriterFor(const TDestPos& dest) { return TClippedWriter{dest.Pos, std::max(dest.Pos, dest.End)}; }

/// The count a caller asked for, never more than the bytes that are really there.
size_t Bounded(int32_t requested, size_t available) {
    return requested <= 0 ? 0 : std::min(static_cast<size_t>(requested), available);
}

int TargaPixelBytes(int32_t depth) {
    switch (depth) {
        case 8:
            return 1;
        case 15:
        case 16:
            return 2;
        case 24:
            return 3;
        case 32:
            return 4;
        default:
            return 0;
    }
}

}  // namespace

void TDecodeOnly::Compress(TSourcePos&, TDestPos&, int32_t, int32_t& BytesStored) { BytesStored = 0; }

// --- Targa -----------------------------------------------------------------------------------

void TTargaRLEDecoder::Decompress(TSourcePos& Source, TDestPos& Dest, int32_t, int32_t UnpackedSize) {
    const size_t pixelBytes = TargaPixelBytes(PixelDepth);
    if (pixelBytes == 0) return;
    const uint8_t* src = Source.Pos;
    const uint8_t* const end = std::max(Source.Pos, Source.End);
    TClippedWriter out = WriterFor(Dest);
    int64_t pixelsLeft = UnpackedSize;
    while (pixelsLeft > 0 && src < end) {
        const uint8_t header = *src++;
        const size_t count = (header & 0x7F) + 1;
        if (header & 0x80) {
            if (static_cast<size_t>(end - src) < pixelBytes) {  // the pixel to repeat is cut off
                src = end;
                break;
            }
            for (size_t i = 0; i < count && !out.Full(); ++i) out.Copy(src, pixelBytes);
            src += pixelBytes;
        } else {
            const size_t bytes = std::min(count * pixelBytes, static_cast<size_t>(end - src));
            out.Copy(src, bytes);
            src += bytes;
        }
        pixelsLeft -= static_cast<int64_t>(count);
    }
    Source.Pos = src;
}

namespace {

/// Length of the run of equal pixels starting at pixel 0, at most limit.
size_t EqualRun(const uint8_t* pixels, size_t pixelBytes, size_t limit) {
    size_t run = 1;
    while (run < limit && std::memcmp(pixels, pixels + run * pixelBytes, pixelBytes) == 0) ++run;
    return run;
}

}  // namespace

void TTargaRLEDecoder::Compress(TSourcePos& Source, TDestPos& Dest, int32_t Count, int32_t& BytesStored) {
    BytesStored = 0;
    const size_t pixelBytes = TargaPixelBytes(PixelDepth);
    if (pixelBytes == 0) return;
    size_t pixelsLeft = std::min(Bounded(Count, SIZE_MAX), Source.Left() / pixelBytes);
    const uint8_t* src = Source.Pos;
    uint8_t* dst = Dest.Pos;
    while (pixelsLeft > 0) {
        const size_t limit = std::min<size_t>(pixelsLeft, 128);
        size_t run = EqualRun(src, pixelBytes, limit);
        size_t packetBytes;
        if (run >= 2) {
            packetBytes = 1 + pixelBytes;
            if (static_cast<size_t>(Dest.End - dst) < packetBytes) break;
            *dst = static_cast<uint8_t>(0x80 | (run - 1));
            std::memcpy(dst + 1, src, pixelBytes);
        } else {
            // A literal packet runs until the next pair of equal pixels.
            run = 1;
            while (run < limit && EqualRun(src + run * pixelBytes, pixelBytes, std::min<size_t>(2, limit - run)) < 2)
                ++run;
            packetBytes = 1 + run * pixelBytes;
            if (static_cast<size_t>(Dest.End - dst) < packetBytes) break;
            *dst = static_cast<uint8_t>(run - 1);
            std::memcpy(dst + 1, src, run * pixelBytes);
        }
        dst += packetBytes;
        src += run * pixelBytes;
        pixelsLeft -= run;
    }
    BytesStored = static_cast<int32_t>(dst - Dest.Pos);
    Source.Pos = src;
    Dest.Pos = dst;
}

// --- PackBits, PCX, SGI, CUT, PSP, RLA --------------------------------------------------------

void TPackbitsRLEDecoder::Decompress(TSourcePos& Source, TDestPos& Dest, int32_t PackedSize, int32_t UnpackedSize) {
    const uint8_t* src = Source.Pos;
    size_t packedLeft = Bounded(PackedSize, Source.Left());
    TClippedWriter out = WriterFor(Dest);
    size_t unpackedLeft = Bounded(UnpackedSize, out.Room());
    while (packedLeft > 0 && unpackedLeft > 0) {
        const int8_t header = static_cast<int8_t>(*src++);
        --packedLeft;
        if (header >= 0) {
            const size_t count = std::min({static_cast<size_t>(header) + 1, unpackedLeft, packedLeft});
            out.Copy(src, count);
            src += count;
            packedLeft -= count;
            unpackedLeft -= count;
        } else if (header != -128) {
            if (packedLeft == 0) break;
            const size_t count = std::min(static_cast<size_t>(1 - header), unpackedLeft);
            out.Fill(*src++, count);
            --packedLeft;
            unpackedLeft -= count;
        }
    }
}

void TPCXRLEDecoder::Decompress(TSourcePos& Source, TDestPos& Dest, int32_t, int32_t UnpackedSize) {
    const uint8_t* src = Source.Pos;
    const uint8_t* const end = std::max(Source.Pos, Source.End);
    TClippedWriter out = WriterFor(Dest);
    size_t left = Bounded(UnpackedSize, out.Room());
    while (left > 0 && src < end) {
        const uint8_t b = *src++;
        if ((b & 0xC0) == 0xC0) {
            if (src == end) break;
            const size_t count = std::min<size_t>(b & 0x3F, left);
            out.Fill(*src++, count);
            left -= count;
        } else {
            out.Put(b);
            --left;
        }
    }
}

namespace {

void DecodeSGI8(const uint8_t* src, const uint8_t* end, TClippedWriter& out) {
    while (src < end && !out.Full()) {
        const uint8_t header = *src++;
        const size_t count = header & 0x7F;
        if (count == 0) break;
        if (header & 0x80) {
            const size_t available = std::min(count, static_cast<size_t>(end - src));
            out.Copy(src, available);
            src += available;
        } else {
            if (src == end) break;
            out.Fill(*src++, count);
        }
    }
}

void DecodeSGI16(const uint8_t* src, const uint8_t* end, TClippedWriter& out) {
    while (end - src >= 2 && !out.Full()) {
        const uint16_t header = static_cast<uint16_t>(src[0] << 8 | src[1]);
        src += 2;
        const size_t count = header & 0x7F;
        if (count == 0) break;
        if (header & 0x80) {
            const size_t available = std::min(count * 2, static_cast<size_t>(end - src));
            out.Copy(src, available);
            src += available;
        } else {
            if (end - src < 2) break;
            for (size_t i = 0; i < count && !out.Full(); ++i) out.Copy(src, 2);
            src += 2;
        }
    }
}

}  // namespace

void TSGIRLEDecoder::Decompress(TSourcePos& Source, TDestPos& Dest, int32_t, int32_t) {
    TClippedWriter out = WriterFor(Dest);
    const uint8_t* const end = std::max(Source.Pos, Source.End);
    if (SampleDepth == 16)
        DecodeSGI16(Source.Pos, end, out);
    else
        DecodeSGI8(Source.Pos, end, out);
}

void TCUTRLEDecoder::Decompress(TSourcePos& Source, TDestPos& Dest, int32_t, int32_t) {
    const uint8_t* const end = std::max(Source.Pos, Source.End);
    const uint8_t* src = Source.Pos + std::min<size_t>(2, Source.Left());  // the stored line length
    TClippedWriter out = WriterFor(Dest);
    while (src < end) {
        const uint8_t header = *src++;
        if (header == 0) break;
        const size_t count = header & 0x7F;
        if (header & 0x80) {
            if (src == end) break;
            out.Fill(*src++, count);
        } else {
            const size_t available = std::min(count, static_cast<size_t>(end - src));
            out.Copy(src, available);
            src += available;
        }
    }
    Source.Pos = src;
}

void TPSPRLEDecoder::Decompress(TSourcePos& Source, TDestPos& Dest, int32_t PackedSize, int32_t) {
    const uint8_t* src = Source.Pos;
    size_t packedLeft = Bounded(PackedSize, Source.Left());
    TClippedWriter out = WriterFor(Dest);
    while (packedLeft > 0) {
        const uint8_t header = *src++;
        --packedLeft;
        if (header < 128) {
            const size_t count = std::min<size_t>(header, packedLeft);
            out.Copy(src, count);
            src += count;
            packedLeft -= count;
        } else {
            if (packedLeft == 0) break;
            out.Fill(*src++, header - 128);
            --packedLeft;
        }
    }
}

void TRLADecoder::Decompress(TSourcePos& Source, TDestPos& Dest, int32_t PackedSize, int32_t) {
    const uint8_t* src = Source.Pos;
    size_t packedLeft = Bounded(PackedSize, Source.Left());
    TClippedWriter out = WriterFor(Dest);
    while (packedLeft > 0) {
        const int8_t header = static_cast<int8_t>(*src++);
        --packedLeft;
        if (header >= 0) {
            if (packedLeft == 0) break;
            out.Fill(*src++, static_cast<size_t>(header) + 1);
            --packedLeft;
        } else {
            const size_t count = std::min(static_cast<size_t>(-header), packedLeft);
            out.Copy(src, count);
            src += count;
            packedLeft -= count;
        }
    }
}

// --- Deflate ----------------------------------------------------------------------------------

struct TLZ77Decoder::TStream {
    z_stream Z{};
    bool Open = false;
    // Whole streams (one per TIFF strip) go through libdeflate, which decodes a block held
    // in memory in about half zlib's time; zlib takes any stream libdeflate refuses.
    libdeflate_decompressor* Whole = nullptr;
    ~TStream() {
        if (Whole) libdeflate_free_decompressor(Whole);
    }

    /// Decodes one whole stream of packedSize bytes into at most unpackedSize bytes; false,
    /// with the target as it was, when the stream is damaged or does not fit.
    bool DecodeWhole(TSourcePos& source, TDestPos& dest, size_t packedSize, size_t unpackedSize) {
        if (!Whole) Whole = libdeflate_alloc_decompressor();
        size_t used = 0, made = 0;
        if (!Whole || packedSize == 0 ||
            libdeflate_zlib_decompress_ex(Whole, source.Pos, packedSize, dest.Pos, unpackedSize, &used, &made) !=
                LIBDEFLATE_SUCCESS) {
            if (unpackedSize) std::memset(dest.Pos, 0, unpackedSize);  // what a failed try wrote
            return false;
        }
        // As zlib would leave it after the stream end.
        Z.avail_in = uInt(packedSize - used);
        Z.avail_out = uInt(unpackedSize - made);
        source.Pos += used;
        dest.Pos += made;
        return true;
    }
};

TLZ77Decoder::TLZ77Decoder(int32_t FlushMode, bool AutoReset)
    : FlushMode(FlushMode), AutoReset(AutoReset), Stream(std::make_unique<TStream>()) {}

TLZ77Decoder::~TLZ77Decoder() {
    if (Stream->Open) inflateEnd(&Stream->Z);
}

void TLZ77Decoder::BeginDecompress() {
    if (Stream->Open) inflateEnd(&Stream->Z);
    Stream->Z = z_stream{};
    InflateStatus = inflateInit(&Stream->Z);
    if (InflateStatus < 0) throw EReaderCodecs(kLZ77Error);
    Stream->Open = true;
}

void TLZ77Decoder::Decompress(TSourcePos& Source, TDestPos& Dest, int32_t PackedSize, int32_t UnpackedSize) {
    z_stream& z = Stream->Z;
    z.next_in = const_cast<Bytef*>(Source.Pos);  // zlib does not write its input
    z.avail_in = static_cast<uInt>(Bounded(PackedSize, Source.Left()));
    if (AutoReset) {
        if (Stream->DecodeWhole(Source, Dest, z.avail_in, Bounded(UnpackedSize, Dest.Left()))) {
            InflateStatus = Z_STREAM_END;
            return;
        }
        InflateStatus = inflateReset(&z);
    }
    if (InflateStatus != Z_OK) return;
    z.next_out = Dest.Pos;
    z.avail_out = static_cast<uInt>(Bounded(UnpackedSize, Dest.Left()));
    InflateStatus = inflate(&z, FlushMode);
    Source.Pos = z.next_in;
    Dest.Pos = z.next_out;
}

void TLZ77Decoder::EndDecompress() {
    if (!Stream->Open) return;
    Stream->Open = false;
    if (inflateEnd(&Stream->Z) < 0) throw EReaderCodecs(kLZ77Error);
}

uint32_t TLZ77Decoder::InputLeft() const { return Stream->Z.avail_in; }

uint32_t TLZ77Decoder::OutputLeft() const { return Stream->Z.avail_out; }

// --- ThunderScan ------------------------------------------------------------------------------

namespace {

/// One line of ThunderScan data: 4-bit pixels, two a byte, the first in the high half.
/// Pixels beyond the line's bytes (a run may reach past them) are dropped.
class TThunderLine {
public:
    TThunderLine(uint8_t* line, size_t bytes) : Line(line), Bytes(bytes) {}

    int64_t Count = 0;  // pixels decoded so far

    void Emit(int value) {
        Last = value & 0x0F;
        if (Count & 1) {
            OrLow(Position, Last);
            ++Position;
        } else {
            Store(Position, static_cast<uint8_t>(Last << 4));
        }
        ++Count;
    }

    void Run(int n) {
        if (Count & 1) {
            OrLow(Position, Last);
            Last = Last * 17;  // the byte now holds the last pixel in both halves
            ++Position;
            ++Count;
            --n;
        } else {
            Last = Last * 17;
        }
        Count += n;
        while (n > 0) {
            Store(Position++, static_cast<uint8_t>(Last));
            n -= 2;
        }
        if (n == -1) {  // one pixel too many was stored with the last whole byte
            --Position;
            if (Position < Bytes) Line[Position] &= 0xF0;
        }
        Last &= 0x0F;
    }

    void Deltas2(uint8_t b) {
        static const int kDelta[4] = {0, 1, 0, -1};
        for (int shift : {4, 2, 0}) {
            const int field = (b >> shift) & 3;
            if (field != 2) Emit(Last + kDelta[field]);
        }
    }

    void Deltas3(uint8_t b) {
        static const int kDelta[8] = {0, 1, 2, 3, 0, -3, -2, -1};
        for (int shift : {3, 0}) {
            const int field = (b >> shift) & 7;
            if (field != 4) Emit(Last + kDelta[field]);
        }
    }

private:
    void Store(size_t at, uint8_t value) {
        if (at < Bytes) Line[at] = value;
    }
    void OrLow(size_t at, int value) {
        if (at < Bytes) Line[at] |= static_cast<uint8_t>(value);
    }

    uint8_t* Line;
    size_t Bytes;
    size_t Position = 0;
    int Last = 0;
};

}  // namespace

void TThunderDecoder::Decompress(TSourcePos& Source, TDestPos& Dest, int32_t PackedSize, int32_t UnpackedSize) {
    if (LineLength <= 0) return;
    const uint8_t* src = Source.Pos;
    size_t packedLeft = Bounded(PackedSize, Source.Left());
    const size_t lineLength = static_cast<size_t>(LineLength);
    size_t lineOffset = 0;
    for (int64_t unpackedLeft = UnpackedSize; unpackedLeft > 0 && packedLeft > 0; unpackedLeft -= LineLength) {
        if (lineOffset >= Dest.Left()) break;
        TThunderLine line(Dest.Pos + lineOffset, std::min(lineLength, Dest.Left() - lineOffset));
        while (packedLeft > 0 && line.Count < PixelsPerLine) {
            const uint8_t b = *src++;
            --packedLeft;
            switch (b >> 6) {
                case 0:
                    line.Run(b);
                    break;
                case 1:
                    line.Deltas2(b);
                    break;
                case 2:
                    line.Deltas3(b);
                    break;
                default:
                    line.Emit(b);
                    break;
            }
        }
        lineOffset += lineLength;
    }
}

}  // namespace tilvorn
