// The portable map formats P1 to P6 (bitmap, grey map and pixel map, each as text and binary)
// and P7, the arbitrary map of grey or colour tuples with or without alpha.
#pragma once
#include <array>

#include "readers/ImageReaders.h"

namespace tilvorn {

class TPPMGraphic : public TFormatReader<TPPMGraphic> {
public:
    static constexpr std::string_view kClassName = "TPPMGraphic";
    static bool ProbeContent(TStream& stream);
    bool ReadImageInfo(TStream& stream, uint32_t imageIndex) override;
    void ReadImage(TStream& stream) override;

private:
    static constexpr uint32_t kBufferSize = 4096;

    void EmptyBuffer() { bufferPos_ = bufferEnd_ = kBufferSize; }
    /// Refills an empty buffer from the stream; false at the stream's end.
    bool Fill();
    /// The next byte; the read error at the end of the stream.
    uint8_t ReadByte();
    /// The next count bytes, the buffered ones first and the rest straight from the stream;
    /// the read error when the stream ends before them.
    void ReadBytes(uint8_t* target, size_t count);
    /// The next byte without taking it; the read error at the end of the stream.
    uint8_t PeekOrFill();
    /// Bytes up to a carriage return or line feed (and a line feed right after a return).
    std::string ReadLine();
    /// The next decimal number; non-digits before it are skipped, "#" starts a comment.
    uint32_t ReadNumber();
    /// The next 0 or 1 of a plain bitmap: one digit, separators optional.
    uint8_t ReadBitDigit();
    void SkipToDigit();
    /// The magic line: answers the type digit and reads the header numbers.
    char ReadHeader();
    /// The keyword lines of a P7 header up to ENDHDR; false when they name no picture we show.
    bool ReadArbitraryHeader();
    /// A sample of the given maximum reduced to 8 bits.
    uint8_t Sample(uint32_t value) const;
    uint8_t ReadBinarySample();
    void ReadRow(char type, uint8_t* row);
    /// One row of a P7 file: grey, grey with alpha, colour or colour with alpha.
    void ReadTupleRow(uint8_t* row);

    std::array<uint8_t, kBufferSize> buffer_{};
    uint32_t bufferPos_ = kBufferSize;
    uint32_t bufferEnd_ = kBufferSize;
    uint32_t maxValue_ = 255;
    uint32_t depth_ = 1;  // samples per pixel of a P7 file
};

}  // namespace tilvorn
