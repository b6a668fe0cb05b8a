// Decompressors that the format readers use to turn stored pixel data into plain rows.
//
// A reader creates one decoder per image (or per run of strips), calls BeginDecompress once,
// Decompress once per row or strip, and EndDecompress once, also when the load fails.
//
// Every decoder is told where its coded data end and how much room its target has, and never
// reads or writes beyond either: a damaged or hostile file can make a decoder stop early
// (the rest of the target keeps what it held), never overrun a buffer.
#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace tilvorn {

struct TImageProperties;

/// A read position over coded data together with the end of that data.
struct TSourcePos {
    const uint8_t* Pos = nullptr;
    const uint8_t* End = nullptr;

    TSourcePos() = default;
    TSourcePos(const void* data, size_t size)
        : Pos(static_cast<const uint8_t*>(data)), End(static_cast<const uint8_t*>(data) + size) {}
    size_t Left() const { return Pos < End ? static_cast<size_t>(End - Pos) : 0; }
};

/// A write position in a target buffer together with the end of the buffer.
struct TDestPos {
    uint8_t* Pos = nullptr;
    uint8_t* End = nullptr;

    TDestPos() = default;
    TDestPos(void* data, size_t size) : Pos(static_cast<uint8_t*>(data)), End(static_cast<uint8_t*>(data) + size) {}
    size_t Left() const { return Pos < End ? static_cast<size_t>(End - Pos) : 0; }
};

/// Common interface of the decompressors. PackedSize and UnpackedSize are counts whose
/// meaning each decoder states; the positions' ends bound every read and write in addition.
class TDecoder {
public:
    virtual ~TDecoder() = default;

    virtual void Decompress(TSourcePos& Source, TDestPos& Dest, int32_t PackedSize, int32_t UnpackedSize) = 0;
    virtual void EndDecompress() {}
    virtual void BeginDecompress() {}
    virtual void Compress(TSourcePos& Source, TDestPos& Dest, int32_t Count, int32_t& BytesStored) = 0;
    virtual void BeginCompress() {}
    virtual void EndCompress() {}
};

/// Decoders that cannot encode: Compress stores nothing.
class TDecodeOnly : public TDecoder {
public:
    void Compress(TSourcePos& Source, TDestPos& Dest, int32_t Count, int32_t& BytesStored) override;
};

/// Targa run-length packets. UnpackedSize counts pixels; Source is advanced past the last
/// packet read. A packet that reaches past UnpackedSize is still consumed whole, but only
/// the pixels that fit in the target are stored.
class TTargaRLEDecoder : public TDecoder {
public:
    explicit TTargaRLEDecoder(int32_t PixelDepth) : PixelDepth(PixelDepth) {}
    void Decompress(TSourcePos& Source, TDestPos& Dest, int32_t PackedSize, int32_t UnpackedSize) override;
    /// Encodes Count pixels as Targa run-length packets (runs of 2 or more equal pixels
    /// become run packets); BytesStored is the number of bytes written. Source is advanced
    /// past the pixels encoded and Dest past the bytes stored; encoding stops when the
    /// target cannot take the next packet.
    void Compress(TSourcePos& Source, TDestPos& Dest, int32_t Count, int32_t& BytesStored) override;

    int32_t PixelDepth;  // 8, 15, 16, 24 or 32; any other depth decodes nothing
};

/// PackBits (TIFF 32773, Photoshop). UnpackedSize bytes are produced from PackedSize bytes.
class TPackbitsRLEDecoder : public TDecodeOnly {
public:
    void Decompress(TSourcePos& Source, TDestPos& Dest, int32_t PackedSize, int32_t UnpackedSize) override;
};

/// PCX run-length data. UnpackedSize bytes are produced.
class TPCXRLEDecoder : public TDecodeOnly {
public:
    void Decompress(TSourcePos& Source, TDestPos& Dest, int32_t PackedSize, int32_t UnpackedSize) override;
};

/// SGI run-length rows of 8- or 16-bit samples, ended by a packet of length 0. 16-bit
/// samples keep their stored byte order.
class TSGIRLEDecoder : public TDecodeOnly {
public:
    explicit TSGIRLEDecoder(uint8_t SampleDepth) : SampleDepth(SampleDepth) {}
    void Decompress(TSourcePos& Source, TDestPos& Dest, int32_t PackedSize, int32_t UnpackedSize) override;

    uint8_t SampleDepth;  // 8 or 16
};

/// Dr. Halo CUT rows: a 2-byte line length, packets, a terminating 0. Source is advanced
/// past the terminating 0.
class TCUTRLEDecoder : public TDecodeOnly {
public:
    void Decompress(TSourcePos& Source, TDestPos& Dest, int32_t PackedSize, int32_t UnpackedSize) override;
};

/// Paint Shop Pro run-length channels. PackedSize bytes are consumed.
class TPSPRLEDecoder : public TDecodeOnly {
public:
    void Decompress(TSourcePos& Source, TDestPos& Dest, int32_t PackedSize, int32_t UnpackedSize) override;
};

/// Wavefront RLA run-length channels. PackedSize bytes are consumed.
class TRLADecoder : public TDecodeOnly {
public:
    void Decompress(TSourcePos& Source, TDestPos& Dest, int32_t PackedSize, int32_t UnpackedSize) override;
};

/// zlib streams (deflate with header and Adler-32 trailer). Decompress advances Source and
/// Dest; errors are not raised there: the reader inspects InflateStatus, InputLeft and
/// OutputLeft. Once a stream has ended or failed, further calls without AutoReset do nothing.
class TLZ77Decoder : public TDecodeOnly {
public:
    TLZ77Decoder(int32_t FlushMode, bool AutoReset);
    ~TLZ77Decoder() override;
    TLZ77Decoder(const TLZ77Decoder&) = delete;
    TLZ77Decoder& operator=(const TLZ77Decoder&) = delete;

    void BeginDecompress() override;
    void Decompress(TSourcePos& Source, TDestPos& Dest, int32_t PackedSize, int32_t UnpackedSize) override;
    void EndDecompress() override;

    /// Compressed bytes the last call did not consume.
    uint32_t InputLeft() const;
    /// Room left in the target after the last call.
    uint32_t OutputLeft() const;

    int32_t FlushMode;  // the zlib flush value passed to every inflate call
    bool AutoReset;  // every call starts a new stream (TIFF: one stream per strip); a damaged
        // one leaves the target cleared up to UnpackedSize, then holding what zlib decodes
    int32_t InflateStatus = 0;  // the last zlib result

private:
    struct TStream;
    std::unique_ptr<TStream> Stream;
};

/// TIFF LZW strips (compression 5), one string table per call: UnpackedSize bytes at most are
/// produced from PackedSize coded bytes; Source and Dest are advanced past what was used.
/// Data written by early writers (least significant bit first) are recognised by their
/// first clear code and read as well. Damaged data end the strip early.
class TLZWDecoder : public TDecodeOnly {
public:
    TLZWDecoder();
    ~TLZWDecoder() override;
    TLZWDecoder(const TLZWDecoder&) = delete;
    TLZWDecoder& operator=(const TLZWDecoder&) = delete;

    void Decompress(TSourcePos& Source, TDestPos& Dest, int32_t PackedSize, int32_t UnpackedSize) override;

private:
    struct TTable;
    std::unique_ptr<TTable> Table;
};

/// ThunderScan 4-bit grey data (TIFF 32809). LineLength is the byte length of one decoded
/// line; each line is decoded from a fresh delta base into its own LineLength bytes.
/// PackedSize is the number of coded bytes, UnpackedSize the number of bytes to produce.
class TThunderDecoder : public TDecodeOnly {
public:
    /// PixelsPerLine: pixels coded per line; by default 2 × LineLength. A line of odd width
    /// codes one pixel less than its bytes hold.
    explicit TThunderDecoder(int32_t LineLength, int32_t PixelsPerLine = -1)
        : LineLength(LineLength), PixelsPerLine(PixelsPerLine < 0 ? 2 * int64_t(LineLength) : PixelsPerLine) {}
    void Decompress(TSourcePos& Source, TDestPos& Dest, int32_t PackedSize, int32_t UnpackedSize) override;

    int32_t LineLength;
    int64_t PixelsPerLine;
};

/// JPEG-compressed TIFF strips (compression 7) through libjpeg. Rows come out blue first
/// (blue, green, red) for three-sample images, as the bitmap holds them; other sample counts
/// come out as stored. Library errors become EInvalidGraphic "JPEG error #%d".
class TTIFFJPEGDecoder : public TDecodeOnly {
public:
    explicit TTIFFJPEGDecoder(TImageProperties& ImageInfo);
    ~TTIFFJPEGDecoder() override;
    TTIFFJPEGDecoder(const TTIFFJPEGDecoder&) = delete;
    TTIFFJPEGDecoder& operator=(const TTIFFJPEGDecoder&) = delete;

    void BeginDecompress() override;
    void Decompress(TSourcePos& Source, TDestPos& Dest, int32_t PackedSize, int32_t UnpackedSize) override;
    void EndDecompress() override;

    TImageProperties& ImageInfo;
    const uint8_t* TableBytes = nullptr;  // the reader's JPEG tables, when present
    uint32_t TableLength = 0;
    const uint8_t* DataStart = nullptr;  // the compressed data of the current call
    uint32_t DataLength = 0;
    uint16_t HSampling = 1;
    uint16_t VSampling = 1;
    uint32_t ScanlineBytes = 0;

    struct TSession;  // the libjpeg objects; see ReaderCodecs.cpp

private:
    std::unique_ptr<TSession> Session;
    std::vector<uint8_t> RowBuffer;
};

/// Mirrors the bits of each of count bytes (TIFF FillOrder 2: first pixel in the low bit).
void ReverseBitOrder(uint8_t* data, size_t count);

/// A node of a fax code tree: the children for bit 0 and bit 1 (0 = none, as node 0 is the
/// root and never a child) and, in a leaf, the value of the code.
struct TCodeTreeNode {
    int32_t Branch0 = 0;
    int32_t Branch1 = 0;
    int32_t Value = 0;
};
using TCodeTree = std::vector<TCodeTreeNode>;

/// Common base of the bilevel fax decoders: the modified Huffman code trees of ITU-T T.4 and
/// the bit reader. Output rows are packed 1-bit, most significant bit first, black = 1, each
/// row starting on a byte boundary. Neither Source nor Dest is moved by Decompress.
class TCCITTDecoder : public TDecodeOnly {
public:
    TCCITTDecoder(uint32_t T4Options, bool ReverseBits, bool WordAligned, uint32_t RowWidth);

    const TCodeTree& Tree(bool white) const { return white ? WhiteTree : BlackTree; }

    uint32_t T4Options;  // stored; two-dimensional data are read with the one-dimensional trees
    bool IsWhite = true;
    bool ReverseBits;  // coded bytes hold their first bit in the least significant place
    TCodeTree WhiteTree, BlackTree;
    uint32_t RowWidth;

protected:
    /// Sets up the bit reader over PackedSize coded bytes and clears the target.
    bool StartDecoding(TSourcePos& Source, TDestPos& Dest, int32_t PackedSize, int32_t UnpackedSize);
    bool HasBits() const { return BitsLeft > 0 || CodedLeft > 0; }
    bool ReadBit();
    /// The length of the next run (make-up codes summed with their terminating code), -1 for
    /// an end of line, -2 for an invalid code.
    int32_t FindRun(const TCodeTree& tree);
    /// Writes n pixels of the current colour; true when the row is complete.
    bool FillRun(int32_t n);
    void EndRow();
    /// Moves the target position on, never past the end of the target.
    void AdvanceTarget(size_t bytes);
    bool TargetFull() const { return TargetPos >= TargetEnd; }
    /// Modified Huffman rows start on a fresh coded byte (or word).
    void AlignCodedData();

    uint8_t BitsLeft = 0;
    uint8_t BitMask = 0;
    uint8_t CurrentByte = 0;
    int32_t CodedLeft = 0;
    uint32_t PixelsLeft = 0;
    const uint8_t* SourcePos = nullptr;
    uint8_t* TargetPos = nullptr;
    uint8_t FreeBits = 8;
    bool WordAligned;

private:
    void LoadByte();

    const uint8_t* CodedStart = nullptr;
    uint8_t* TargetEnd = nullptr;
};

/// TIFF compression 3: one-dimensional T.4 coding, rows introduced by end-of-line codes.
class TCCITTFax3Decoder : public TCCITTDecoder {
public:
    using TCCITTDecoder::TCCITTDecoder;
    void Decompress(TSourcePos& Source, TDestPos& Dest, int32_t PackedSize, int32_t UnpackedSize) override;

private:
    void FindRowStart();
};

/// Two-dimensional fax coding: T.4 with 2-D lines (TIFF compression 3 with bit 0 of the T.4
/// options; each line after its end-of-line code says whether it is coded in one or two
/// dimensions) and T.6 (TIFF compression 4: every line two-dimensional, no end-of-line codes).
/// Each call starts from an all-white reference line, as every strip or tile does.
class TCCITTFax2DDecoder : public TCCITTDecoder {
public:
    TCCITTFax2DDecoder(uint32_t T4Options, bool ReverseBits, uint32_t RowWidth, bool Group4)
        : TCCITTDecoder(T4Options, ReverseBits, false, RowWidth), Group4(Group4) {}
    void Decompress(TSourcePos& Source, TDestPos& Dest, int32_t PackedSize, int32_t UnpackedSize) override;

    bool Group4;

private:
    enum class TLineEnd { Complete, EndOfLine, Damaged };
    TLineEnd DecodeLine2D();
    TLineEnd DecodeLine1D();
    bool FindEndOfLine();
    void DrawLine(uint8_t* row) const;
    void AddChange(int64_t at);

    std::vector<uint32_t> Reference, Current;
};

/// TIFF compression 2 (modified Huffman, rows on byte boundaries) and 32771 (rows on 16-bit
/// word boundaries).
class TCCITTMHDecoder : public TCCITTDecoder {
public:
    using TCCITTDecoder::TCCITTDecoder;
    void Decompress(TSourcePos& Source, TDestPos& Dest, int32_t PackedSize, int32_t UnpackedSize) override;
};

}  // namespace tilvorn
