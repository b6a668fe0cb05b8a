// Portable Network Graphics files: every colour type and depth, the five row filters,
// Adam7 interlacing, gAMA, bKGD and tRNS.
#pragma once
#include <cstdint>
#include <memory>
#include <vector>

#include "readers/ImageReaders.h"

namespace tilvorn {

class TLZ77Decoder;

class TPNGGraphic : public TFormatReader<TPNGGraphic> {
public:
    TPNGGraphic();
    ~TPNGGraphic() override;

    static constexpr std::string_view kClassName = "TPNGGraphic";
    static bool ProbeContent(TStream& Stream);
    bool ReadImageInfo(TStream& Stream, uint32_t ImageIndex) override;
    void ReadImage(TStream& Stream) override;

    /// The tRNS colour of a grey or RGB file as red + 256 × green + 65536 × blue, or -1.
    int32_t TransparentColorValue() const { return transparentColor_; }
    /// The bKGD colour as red + 256 × green + 65536 × blue (white when the file gives none).
    uint32_t BackgroundColorValue() const { return backgroundColor_; }

private:
    struct ChunkHeader {
        uint32_t Length = 0;
        uint8_t Type[4] = {};
    };

    bool ReadChunkHeader(bool endAllowed);
    void ReadChunkData();
    void SkipChunk();
    bool ChunkIs(const char* type) const;
    bool CriticalChunk() const { return (chunk_.Type[0] & 0x20) == 0; }
    uint32_t ChunkValue32(size_t offset) const;
    uint16_t ChunkValue16(size_t offset) const;

    void SetupColors();
    void ReadPalette();
    void ReadGamma();
    void ReadBackground();
    void ReadTransparency();
    uint8_t SampleTo8Bits(uint16_t sample) const;
    /// The bKGD or tRNS colour of the chunk: one grey sample or three colour samples, each
    /// scaled to 8 bits, as red + 256 × green + 65536 × blue.
    uint32_t ChunkColor(bool grey) const;

    void LoadImageData();
    void FillBackground(uint32_t firstRow);
    void ReadRows(uint32_t firstRow, uint32_t rowStep, uint32_t firstColumn, uint32_t columnStep, uint8_t mask,
                  bool reportProgress);
    bool FillFromInflate(uint8_t* buffer, uint32_t count);
    bool ReadImageDataPiece();
    void EndImageDataChunk();
    void SkipRemainingImageData();

    ChunkHeader chunk_;
    uint32_t runningCrc_ = 0;
    std::vector<uint8_t> chunkData_;
    std::unique_ptr<TLZ77Decoder> decoder_;
    std::vector<uint8_t> idat_;
    const uint8_t* inflateInput_ = nullptr;
    uint32_t inflateLeft_ = 0;
    bool insideImageData_ = false;  // an IDAT chunk's bytes are being read
    uint32_t imageDataLeft_ = 0;  // of that chunk, not read yet
    bool dataExhausted_ = false;
    bool streamEnded_ = false;
    bool imageLoaded_ = false;
    uint32_t rowsDone_ = 0;
    uint32_t sourceBytesPerPixel_ = 1;
    bool colorsReady_ = false;
    bool hasPalette_ = false;
    bool widenGrey_ = false;
    std::vector<uint8_t> palette_;  // red, green, blue triples as PLTE gives them
    uint32_t backgroundColor_ = 0xFFFFFF;
    int32_t transparentColor_ = -1;
    uint8_t colorType_ = 0;
    uint8_t bitDepth_ = 0;
};

}  // namespace tilvorn
