// Bilevel fax decoders: ITU-T T.4 coding in one and two dimensions (TIFF compression 3),
// T.6 (compression 4) and modified Huffman (compression 2 and 32771).
#include <algorithm>
#include <cstring>
#include <string_view>

#include "readers/ReaderCodecs.h"

namespace tilvorn {

namespace {

struct TRunCode {
    int32_t Run;
    std::string_view Bits;  // most significant bit first
};

// ITU-T T.4, table 2: terminating codes, run lengths 0 to 63.
const TRunCode kWhiteTerminating[64] = {
    {0, "00110101"},  {1, "000111"},    {2, "0111"},      {3, "1000"},      {4, "1011"},      {5, "1100"},
    {6, "1110"},      {7, "1111"},      {8, "10011"},     {9, "10100"},     {10, "00111"},    {11, "01000"},
    {12, "001000"},   {13, "000011"},   {14, "110100"},   {15, "110101"},   {16, "101010"},   {17, "101011"},
    {18, "0100111"},  {19, "0001100"},  {20, "0001000"},  {21, "0010111"},  {22, "0000011"},  {23, "0000100"},
    {24, "0101000"},  {25, "0101011"},  {26, "0010011"},  {27, "0100100"},  {28, "0011000"},  {29, "00000010"},
    {30, "00000011"}, {31, "00011010"}, {32, "00011011"}, {33, "00010010"}, {34, "00010011"}, {35, "00010100"},
    {36, "00010101"}, {37, "00010110"}, {38, "00010111"}, {39, "00101000"}, {40, "00101001"}, {41, "00101010"},
    {42, "00101011"}, {43, "00101100"}, {44, "00101101"}, {45, "00000100"}, {46, "00000101"}, {47, "00001010"},
    {48, "00001011"}, {49, "01010010"}, {50, "01010011"}, {51, "01010100"}, {52, "01010101"}, {53, "00100100"},
    {54, "00100101"}, {55, "01011000"}, {56, "01011001"}, {57, "01011010"}, {58, "01011011"}, {59, "01001010"},
    {60, "01001011"}, {61, "00110010"}, {62, "00110011"}, {63, "00110100"},
};

const TRunCode kBlackTerminating[64] = {
    {0, "0000110111"},
    {1, "010"},
    {2, "11"},
    {3, "10"},
    {4, "011"},
    {5, "0011"},
    {6, "0010"},
    {7, "00011"},
    {8, "000101"},
    {9, "000100"},
    {10, "0000100"},
    {11, "0000101"},
    {12, "0000111"},
    {13, "00000100"},
    {14, "00000111"},
    {15, "000011000"},
    {16, "0000010111"},
    {17, "0000011000"},
    {18, "0000001000"},
    {19, "00001100111"},
    {20, "00001101000"},
    {21, "00001101100"},
    {22, "00000110111"},
    {23, "00000101000"},
    {24, "00000010111"},
    {25, "00000011000"},
    {26, "000011001010"},
    {27, "000011001011"},
    {28, "000011001100"},
    {29, "000011001101"},
    {30, "000001101000"},
    {31, "000001101001"},
    {32, "000001101010"},
    {33, "000001101011"},
    {34, "000011010010"},
    {35, "000011010011"},
    {36, "000011010100"},
    {37, "000011010101"},
    {38, "000011010110"},
    {39, "000011010111"},
    {40, "000001101100"},
    {41, "000001101101"},
    {42, "000011011010"},
    {43, "000011011011"},
    {44, "000001010100"},
    {45, "000001010101"},
    {46, "000001010110"},
    {47, "000001010111"},
    {48, "000001100100"},
    {49, "000001100101"},
    {50, "000001010010"},
    {51, "000001010011"},
    {52, "000000100100"},
    {53, "000000110111"},
    {54, "000000111000"},
    {55, "000000100111"},
    {56, "000000101000"},
    {57, "000001011000"},
    {58, "000001011001"},
    {59, "000000101011"},
    {60, "000000101100"},
    {61, "000001011010"},
    {62, "000001100110"},
    {63, "000001100111"},
};

// ITU-T T.4, table 3a: make-up codes, run lengths 64 to 1728.
const TRunCode kWhiteMakeUp[27] = {
    {64, "11011"},       {128, "10010"},      {192, "010111"},     {256, "0110111"},    {320, "00110110"},
    {384, "00110111"},   {448, "01100100"},   {512, "01100101"},   {576, "01101000"},   {640, "01100111"},
    {704, "011001100"},  {768, "011001101"},  {832, "011010010"},  {896, "011010011"},  {960, "011010100"},
    {1024, "011010101"}, {1088, "011010110"}, {1152, "011010111"}, {1216, "011011000"}, {1280, "011011001"},
    {1344, "011011010"}, {1408, "011011011"}, {1472, "010011000"}, {1536, "010011001"}, {1600, "010011010"},
    {1664, "011000"},    {1728, "010011011"},
};

const TRunCode kBlackMakeUp[27] = {
    {64, "0000001111"},      {128, "000011001000"},   {192, "000011001001"},   {256, "000001011011"},
    {320, "000000110011"},   {384, "000000110100"},   {448, "000000110101"},   {512, "0000001101100"},
    {576, "0000001101101"},  {640, "0000001001010"},  {704, "0000001001011"},  {768, "0000001001100"},
    {832, "0000001001101"},  {896, "0000001110010"},  {960, "0000001110011"},  {1024, "0000001110100"},
    {1088, "0000001110101"}, {1152, "0000001110110"}, {1216, "0000001110111"}, {1280, "0000001010010"},
    {1344, "0000001010011"}, {1408, "0000001010100"}, {1472, "0000001010101"}, {1536, "0000001011010"},
    {1600, "0000001011011"}, {1664, "0000001100100"}, {1728, "0000001100101"},
};

// ITU-T T.4, table 3b: extended make-up codes, the same for both colours.
const TRunCode kExtendedMakeUp[13] = {
    {1792, "00000001000"},  {1856, "00000001100"},  {1920, "00000001101"},  {1984, "000000010010"},
    {2048, "000000010011"}, {2112, "000000010100"}, {2176, "000000010101"}, {2240, "000000010110"},
    {2304, "000000010111"}, {2368, "000000011100"}, {2432, "000000011101"}, {2496, "000000011110"},
    {2560, "000000011111"},
};

constexpr int32_t kEndOfLine = -1;
constexpr int32_t kInvalidCode = -2;

// The end-of-line code, and the zero runs that no code starts with, close the tree so that
// every bit sequence ends in a leaf.
const TRunCode kClosingCodes[5] = {
    {kEndOfLine, "000000000001"},  {kInvalidCode, "000000001"},    {kInvalidCode, "0000000001"},
    {kInvalidCode, "00000000001"}, {kInvalidCode, "000000000000"},
};

void AddCode(TCodeTree& tree, std::string_view bits, int32_t value) {
    int32_t node = 0;
    for (char bit : bits) {
        int32_t child = bit == '1' ? tree[node].Branch1 : tree[node].Branch0;
        if (child == 0) {
            child = static_cast<int32_t>(tree.size());
            tree.push_back({});
            (bit == '1' ? tree[node].Branch1 : tree[node].Branch0) = child;
        }
        node = child;
    }
    tree[node].Value = value;
}

template <size_t N>
void AddCodes(TCodeTree& tree, const TRunCode (&codes)[N]) {
    for (const TRunCode& code : codes) AddCode(tree, code.Bits, code.Run);
}

TCodeTree BuildTree(const TRunCode (&terminating)[64], const TRunCode (&makeUp)[27]) {
    TCodeTree tree(1);
    AddCodes(tree, terminating);
    AddCodes(tree, makeUp);
    AddCodes(tree, kExtendedMakeUp);
    AddCodes(tree, kClosingCodes);
    return tree;
}

struct TBitReversal {
    uint8_t Table[256];
    TBitReversal() {
        for (int i = 0; i < 256; ++i) {
            uint8_t reversed = 0;
            for (int bit = 0; bit < 8; ++bit)
                if (i & (1 << bit)) reversed |= static_cast<uint8_t>(0x80 >> bit);
            Table[i] = reversed;
        }
    }
};

const TBitReversal kBitReversal;

// The code trees are the same for every decoder: built once, copied into each.
const TCodeTree& WhiteCodeTree() {
    static const TCodeTree tree = BuildTree(kWhiteTerminating, kWhiteMakeUp);
    return tree;
}

const TCodeTree& BlackCodeTree() {
    static const TCodeTree tree = BuildTree(kBlackTerminating, kBlackMakeUp);
    return tree;
}

}  // namespace

void ReverseBitOrder(uint8_t* data, size_t count) {
    for (size_t i = 0; i < count; ++i) data[i] = kBitReversal.Table[data[i]];
}

TCCITTDecoder::TCCITTDecoder(uint32_t T4Options, bool ReverseBits, bool WordAligned, uint32_t RowWidth)
    : T4Options(T4Options),
      ReverseBits(ReverseBits),
      WhiteTree(WhiteCodeTree()),
      BlackTree(BlackCodeTree()),
      RowWidth(RowWidth),
      WordAligned(WordAligned) {}

bool TCCITTDecoder::StartDecoding(TSourcePos& Source, TDestPos& Dest, int32_t PackedSize, int32_t UnpackedSize) {
    const size_t targetBytes = UnpackedSize > 0 ? std::min<size_t>(UnpackedSize, Dest.Left()) : 0;
    if (targetBytes > 0) std::memset(Dest.Pos, 0, targetBytes);
    // Bit order is reversed as each byte is loaded: the caller's coded data stay as they
    // are, so the same strip decodes the same way however often it is decoded.
    SourcePos = CodedStart = Source.Pos;
    CodedLeft = static_cast<int32_t>(PackedSize > 0 ? std::min<size_t>(PackedSize, Source.Left()) : 0);
    BitsLeft = 0;
    BitMask = 0;
    TargetPos = Dest.Pos;
    TargetEnd = Dest.Pos + targetBytes;
    PixelsLeft = RowWidth;
    FreeBits = 8;
    IsWhite = true;
    return RowWidth > 0 && targetBytes > 0 && CodedLeft > 0;
}

void TCCITTDecoder::LoadByte() {
    const uint8_t coded = *SourcePos++;
    CurrentByte = ReverseBits ? kBitReversal.Table[coded] : coded;
    --CodedLeft;
    BitMask = 0x80;
    BitsLeft = 8;
}

bool TCCITTDecoder::ReadBit() {
    if (BitsLeft == 0 && CodedLeft > 0) LoadByte();
    const bool bit = (CurrentByte & BitMask) != 0;
    BitMask >>= 1;
    if (BitsLeft > 0) --BitsLeft;
    return bit;
}

int32_t TCCITTDecoder::FindRun(const TCodeTree& tree) {
    int32_t sum = 0;
    int32_t node = 0;
    for (;;) {
        if (BitsLeft == 0) {
            if (CodedLeft == 0) {
                // The data end right after a complete code: that code still counts.
                const TCodeTreeNode& last = tree[node];
                if (node != 0 && last.Branch0 == 0 && last.Branch1 == 0) sum += last.Value;
                return sum;
            }
            LoadByte();
        }
        const bool bit = (CurrentByte & BitMask) != 0;
        int32_t child = bit ? tree[node].Branch1 : tree[node].Branch0;
        if (child == 0) {
            const int32_t value = tree[node].Value;
            sum += value;
            if (value < 64) return sum;  // terminating code, end of line or invalid code: the bit stays unread
            child = bit ? tree[0].Branch1 : tree[0].Branch0;  // a make-up code: its terminating code follows
        }
        BitMask >>= 1;
        --BitsLeft;
        node = child;
    }
}

void TCCITTDecoder::AdvanceTarget(size_t bytes) {
    const size_t room = TargetPos < TargetEnd ? static_cast<size_t>(TargetEnd - TargetPos) : 0;
    TargetPos += std::min(bytes, room);
}

bool TCCITTDecoder::FillRun(int32_t n) {
    uint32_t count = std::min(static_cast<uint32_t>(std::max(n, 0)), PixelsLeft);
    PixelsLeft -= count;
    if (IsWhite) {  // the target is cleared: white only moves the position
        const uint32_t used = 8 - FreeBits + count;
        AdvanceTarget(used / 8);
        FreeBits = static_cast<uint8_t>(8 - used % 8);
        return PixelsLeft == 0;
    }
    if (FreeBits < 8) {  // finish the current byte
        const uint32_t bits = std::min<uint32_t>(count, FreeBits);
        const uint8_t mask = static_cast<uint8_t>(((1u << bits) - 1) << (FreeBits - bits));
        if (TargetPos < TargetEnd) *TargetPos |= mask;
        FreeBits = static_cast<uint8_t>(FreeBits - bits);
        count -= bits;
        if (FreeBits == 0) {
            AdvanceTarget(1);
            FreeBits = 8;
        }
    }
    if (count >= 8) {  // whole bytes
        const size_t bytes = count / 8;
        const size_t room = TargetPos < TargetEnd ? static_cast<size_t>(TargetEnd - TargetPos) : 0;
        std::memset(TargetPos, 0xFF, std::min(bytes, room));
        AdvanceTarget(bytes);
        count %= 8;
    }
    if (count > 0) {  // a remainder starts a new byte
        if (TargetPos < TargetEnd) *TargetPos |= static_cast<uint8_t>(0xFF00 >> count);
        FreeBits = static_cast<uint8_t>(8 - count);
    }
    return PixelsLeft == 0;
}

void TCCITTDecoder::EndRow() {
    IsWhite = false;
    if (FreeBits < 8) AdvanceTarget(1);
    FreeBits = 8;
    PixelsLeft = RowWidth;
}

void TCCITTDecoder::AlignCodedData() {
    if (BitsLeft < 8) BitsLeft = 0;
    if (!WordAligned) return;
    // The row starts at the first unread whole byte: the loaded one when none of its bits
    // was taken, else the next to load. It must lie at an even offset.
    const bool startsInLoadedByte = BitsLeft == 8;
    const ptrdiff_t start = (SourcePos - CodedStart) - (startsInLoadedByte ? 1 : 0);
    if (start % 2 == 0) return;
    if (startsInLoadedByte) {
        BitsLeft = 0;
    } else if (CodedLeft > 0) {
        ++SourcePos;
        --CodedLeft;
    }
}

void TCCITTFax3Decoder::FindRowStart() {
    int zeros = 0;
    while (zeros < 11 && HasBits()) zeros = ReadBit() ? 0 : zeros + 1;
    while (HasBits() && !ReadBit()) {}
}

void TCCITTFax3Decoder::Decompress(TSourcePos& Source, TDestPos& Dest, int32_t PackedSize, int32_t UnpackedSize) {
    if (!StartDecoding(Source, Dest, PackedSize, UnpackedSize)) return;
    int endOfLines = 0;
    while (HasBits() && !TargetFull()) {
        if (endOfLines == 0) FindRowStart();
        endOfLines = 0;
        IsWhite = true;
        while (HasBits()) {
            const int32_t run = FindRun(Tree(IsWhite));
            if (run >= 0) {
                if (FillRun(run)) break;
                IsWhite = !IsWhite;
            } else {
                if (run == kEndOfLine) ++endOfLines;
                break;
            }
        }
        EndRow();
    }
}

void TCCITTMHDecoder::Decompress(TSourcePos& Source, TDestPos& Dest, int32_t PackedSize, int32_t UnpackedSize) {
    if (!StartDecoding(Source, Dest, PackedSize, UnpackedSize)) return;
    while (HasBits() && !TargetFull()) {
        const int32_t run = FindRun(Tree(IsWhite));
        if (run > 0 && FillRun(run)) {
            EndRow();
            AlignCodedData();
        }
        IsWhite = !IsWhite;
    }
}

namespace {

// The codes of two-dimensional lines (T.4, table 4): vertical modes by their offset, pass
// and horizontal mode; anything else ends the line.
enum TMode : int32_t { ModePass = 100, ModeHorizontal, ModeEndOfLine, ModeInvalid };

// Sets the bits of pixels [from, to) of a packed row, most significant bit first.
void SetBits(uint8_t* row, uint32_t from, uint32_t to) {
    if (from >= to) return;
    const uint32_t first = from >> 3, last = (to - 1) >> 3;
    const uint8_t firstMask = uint8_t(0xFF >> (from & 7));
    const uint8_t lastMask = uint8_t(0xFF << (7 - ((to - 1) & 7)));
    if (first == last) {
        row[first] |= uint8_t(firstMask & lastMask);
        return;
    }
    row[first] |= firstMask;
    std::memset(row + first + 1, 0xFF, last - first - 1);
    row[last] |= lastMask;
}

}  // namespace

void TCCITTFax2DDecoder::AddChange(int64_t at) {
    // Changes never go back nor past the row; equal ones stay, as their count gives the colour.
    const int64_t floor = Current.empty() ? 0 : Current.back();
    Current.push_back(uint32_t(std::clamp<int64_t>(at, floor, RowWidth)));
}

bool TCCITTFax2DDecoder::FindEndOfLine() {
    int zeros = 0;
    while (HasBits()) {
        if (ReadBit()) {
            if (zeros >= 11) return true;
            zeros = 0;
        } else {
            ++zeros;
        }
    }
    return false;
}

TCCITTFax2DDecoder::TLineEnd TCCITTFax2DDecoder::DecodeLine1D() {
    Current.clear();
    int64_t at = 0;
    bool white = true;
    while (at < RowWidth) {
        if (!HasBits()) return TLineEnd::Damaged;
        const int32_t run = FindRun(Tree(white));
        if (run < 0) return run == kEndOfLine ? TLineEnd::EndOfLine : TLineEnd::Damaged;
        at += run;
        AddChange(at);
        white = !white;
    }
    return TLineEnd::Complete;
}

TCCITTFax2DDecoder::TLineEnd TCCITTFax2DDecoder::DecodeLine2D() {
    Current.clear();
    const int64_t width = RowWidth;
    int64_t a0 = -1;  // before the first pixel: the line starts white
    bool white = true;
    size_t b = 0;
    while (a0 < width) {
        if (!HasBits()) return TLineEnd::Damaged;
        // b1: the first change of the reference line right of a0 to the other colour; the
        // reference ends in three changes at the row's width, so both b1 and b2 exist.
        while (b > 0 && Reference[b - 1] > a0) --b;
        while (Reference[b] <= a0 || (b & 1) != (white ? 0u : 1u)) ++b;
        const int64_t b1 = Reference[b], b2 = Reference[b + 1];
        int32_t mode = ModeInvalid;
        int zeros = 0;
        while (HasBits() && !ReadBit()) ++zeros;
        switch (zeros) {
            case 0:
                mode = 0;
                break;
            case 1:
                mode = ReadBit() ? 1 : -1;
                break;
            case 2:
                mode = ModeHorizontal;
                break;
            case 3:
                mode = ModePass;
                break;
            case 4:
                mode = ReadBit() ? 2 : -2;
                break;
            case 5:
                mode = ReadBit() ? 3 : -3;
                break;
            default:
                mode = zeros >= 11 ? ModeEndOfLine : ModeInvalid;
                break;
        }
        if (mode == ModePass) {
            a0 = b2;
        } else if (mode == ModeHorizontal) {
            const int32_t first = FindRun(Tree(white));
            const int32_t second = first < 0 ? first : FindRun(Tree(!white));
            if (first < 0 || second < 0) return TLineEnd::Damaged;
            const int64_t a1 = std::max<int64_t>(a0, 0) + first;
            AddChange(a1);
            AddChange(a1 + second);
            a0 = a1 + second;
        } else if (mode == ModeEndOfLine) {
            return TLineEnd::EndOfLine;
        } else if (mode == ModeInvalid) {
            return TLineEnd::Damaged;
        } else {
            const int64_t a1 = b1 + mode;
            if (a1 < 0 || a1 < a0) return TLineEnd::Damaged;
            AddChange(a1);
            a0 = a1;
            white = !white;
        }
    }
    return TLineEnd::Complete;
}

void TCCITTFax2DDecoder::DrawLine(uint8_t* row) const {
    for (size_t i = 0; i < Current.size(); i += 2)
        SetBits(row, Current[i], i + 1 < Current.size() ? Current[i + 1] : RowWidth);
}

void TCCITTFax2DDecoder::Decompress(TSourcePos& Source, TDestPos& Dest, int32_t PackedSize, int32_t UnpackedSize) {
    if (!StartDecoding(Source, Dest, PackedSize, UnpackedSize)) return;
    const size_t rowBytes = (size_t(RowWidth) + 7) / 8;
    const size_t rows = std::min<size_t>(size_t(UnpackedSize), Dest.Left()) / rowBytes;
    const bool twoDimensional = Group4 || (T4Options & 1) != 0;
    Reference.assign(3, RowWidth);
    bool atEndOfLine = false;
    for (size_t row = 0; row < rows && HasBits(); ++row) {
        bool lineIs2D = Group4;
        if (!Group4) {
            // T.4 lines start after an end-of-line code; with 2-D coding a tag bit follows
            // it, 1 for a one-dimensional line.
            if (!atEndOfLine && !FindEndOfLine()) break;
            lineIs2D = twoDimensional && !ReadBit();
        }
        atEndOfLine = false;
        const TLineEnd end = lineIs2D ? DecodeLine2D() : DecodeLine1D();
        DrawLine(Dest.Pos + row * rowBytes);
        if (end != TLineEnd::Complete && Group4) break;  // the end of the block, or damage
        atEndOfLine = end == TLineEnd::EndOfLine;
        Reference.swap(Current);
        Reference.insert(Reference.end(), 3, RowWidth);
    }
}

}  // namespace tilvorn
