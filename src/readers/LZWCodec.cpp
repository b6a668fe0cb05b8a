// LZW as TIFF stores it (compression 5): codes of 9 to 12 bits, most significant bit first,
// the code width growing one code early; and the older variant some early writers made,
// least significant bit first and growing on time.
#include <algorithm>
#include <cstring>

#include "readers/ReaderCodecs.h"

namespace tilvorn {

namespace {

constexpr uint32_t kClearCode = 256;
constexpr uint32_t kEndCode = 257;
constexpr uint32_t kFirstFreeCode = 258;
constexpr uint32_t kTableSize = 4096;

// Reads codes of a given width from coded bytes, in either bit order; past the end of the
// data it answers the end code.
class TCodeReader {
public:
    TCodeReader(const uint8_t* data, size_t size, bool lsbFirst) : Pos(data), End(data + size), LsbFirst(lsbFirst) {}

    uint32_t Next(uint32_t width) {
        while (Count < width) {
            if (Pos >= End) return kEndCode;
            if (LsbFirst)
                Bits |= uint64_t(*Pos++) << Count;
            else
                Bits = Bits << 8 | *Pos++;
            Count += 8;
        }
        uint32_t code;
        if (LsbFirst) {
            code = uint32_t(Bits & ((1u << width) - 1));
            Bits >>= width;
        } else {
            code = uint32_t(Bits >> (Count - width)) & ((1u << width) - 1);
        }
        Count -= width;
        return code;
    }
    const uint8_t* Position() const { return Pos; }

private:
    const uint8_t* Pos;
    const uint8_t* End;
    bool LsbFirst;
    uint64_t Bits = 0;
    uint32_t Count = 0;
};

}  // namespace

struct TLZWDecoder::TTable {
    uint16_t Prefix[kTableSize];
    uint16_t Length[kTableSize];
    uint8_t Suffix[kTableSize];
    uint8_t First[kTableSize];
};

TLZWDecoder::TLZWDecoder() : Table(std::make_unique<TTable>()) {
    for (uint32_t i = 0; i < 256; ++i) {
        Table->Prefix[i] = 0;
        Table->Length[i] = 1;
        Table->Suffix[i] = uint8_t(i);
        Table->First[i] = uint8_t(i);
    }
}

TLZWDecoder::~TLZWDecoder() = default;

void TLZWDecoder::Decompress(TSourcePos& Source, TDestPos& Dest, int32_t PackedSize, int32_t UnpackedSize) {
    const size_t codedSize = PackedSize > 0 ? std::min<size_t>(size_t(PackedSize), Source.Left()) : 0;
    const size_t room = UnpackedSize > 0 ? std::min<size_t>(size_t(UnpackedSize), Dest.Left()) : 0;
    if (codedSize == 0 || room == 0) return;
    // The older variant starts with a clear code stored least significant bit first.
    const bool lsbFirst = codedSize >= 2 && Source.Pos[0] == 0 && (Source.Pos[1] & 1);
    const uint32_t early = lsbFirst ? 0 : 1;
    TCodeReader reader(Source.Pos, codedSize, lsbFirst);
    TTable& t = *Table;
    uint8_t* out = Dest.Pos;
    uint8_t* const end = Dest.Pos + room;

    uint32_t next = kFirstFreeCode, width = 9, previous = kTableSize;
    while (out < end) {
        const uint32_t code = reader.Next(width);
        if (code == kEndCode) break;
        if (code == kClearCode) {
            next = kFirstFreeCode;
            width = 9;
            previous = kTableSize;
            continue;
        }
        uint32_t length;
        if (code < next && code != kClearCode && code != kEndCode) {
            length = t.Length[code];
            if (previous < kTableSize && next < kTableSize) {
                t.Prefix[next] = uint16_t(previous);
                t.Suffix[next] = t.First[code];
                t.First[next] = t.First[previous];
                t.Length[next] = uint16_t(t.Length[previous] + 1);
                ++next;
            }
        } else if (code == next && previous < kTableSize && next < kTableSize) {
            // The code being defined: the previous string and its own first byte.
            t.Prefix[next] = uint16_t(previous);
            t.Suffix[next] = t.First[previous];
            t.First[next] = t.First[previous];
            t.Length[next] = uint16_t(t.Length[previous] + 1);
            length = t.Length[next];
            ++next;
        } else {
            break;  // a code that is not defined yet: the data are damaged
        }
        // The string is written back to front; a string reaching past the target is cut.
        const size_t fit = std::min<size_t>(length, size_t(end - out));
        uint32_t c = code;
        for (uint32_t skip = length; skip > fit; --skip) c = t.Prefix[c];
        for (size_t i = fit; i > 0; --i) {
            out[i - 1] = t.Suffix[c];
            c = t.Prefix[c];
        }
        out += fit;
        previous = code;
        if (next + early >= (1u << width) && width < 12) ++width;
    }
    Source.Pos = reader.Position();
    Dest.Pos = out;
}

}  // namespace tilvorn
