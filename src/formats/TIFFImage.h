// Tagged image files (both byte orders, strips and tiles, fax) and the TIFF preview of binary EPS files.
#pragma once
#include <cstdint>
#include <vector>

#include "readers/ImageReaders.h"

namespace tilvorn {

using TFloatArray = std::vector<float>;

/// One directory entry in host byte order. Value holds the field as a number (one SHORT or
/// LONG, or the offset of the values); Raw keeps the four bytes in file order, so that
/// several small values stored in the entry stay as they were written.
struct TTIFFEntry {
    uint16_t Tag = 0;
    uint16_t Type = 0;
    uint32_t Count = 0;
    uint32_t Value = 0;
    uint8_t Raw[4] = {};
};

class TTIFFGraphic : public TFormatReader<TTIFFGraphic> {
public:
    static constexpr std::string_view kClassName = "TTIFFGraphic";
    static bool ProbeContent(TStream& Stream);
    bool ReadImageInfo(TStream& Stream, uint32_t ImageIndex) override;
    void ReadImage(TStream& Stream) override;

protected:
    // The directory walk and the value getters, over the stream of the current load.
    void ReadDirectory(TStream& Stream, uint32_t offset);
    /// The directory at offset lies whole inside the stream.
    bool DirectoryFits(TStream& Stream, uint32_t offset) const;
    const TTIFFEntry* FindTag(uint16_t tag) const;
    uint32_t GetInteger(TStream& Stream, uint16_t tag, uint32_t defaultValue) const;
    uint32_t GetCountAndOffset(TStream& Stream, uint16_t tag, uint32_t defaultValue, uint32_t& count) const;
    double GetNumber(TStream& Stream, uint16_t tag, double defaultValue) const;
    std::vector<uint32_t> GetIntegerList(TStream& Stream, uint16_t tag) const;
    std::vector<uint8_t> GetByteList(TStream& Stream, uint16_t tag) const;
    TFloatArray GetNumberList(TStream& Stream, uint16_t tag) const;

private:
    std::vector<double> ReadValues(TStream& Stream, const TTIFFEntry& entry) const;
    void SetupConverter(TStream& Stream);
    uint32_t ReadColorMap(TStream& Stream);
    void SetupAlphaRows(TStream& Stream);
    void RefuseSizeTheStripsCannotFill(TStream& Stream);
    void DecodeStrips(TStream& Stream, TProgressPhase& preparing);
    bool BigEndianFile() const;

    std::vector<TTIFFEntry> directory_;
    uint16_t colorMap_[768] = {};
    TFloatArray yCbCrCoefficients_;
    uint32_t sampleFormat_ = 1;  // 1 unsigned integers, 2 signed, 3 floating point
    bool associatedAlpha_ = false;
    // Grey or indices with an alpha sample: the rows are spread into 32-bit pixels here,
    // not by the colour manager, so that the alpha lays them on white.
    bool alphaRows_ = false;
    TPalette alphaPalette_;  // the colour map of indices with alpha, empty for grey
};

class TEPSGraphic : public TFormatReader<TEPSGraphic, TTIFFGraphic> {
public:
    static constexpr std::string_view kClassName = "TEPSGraphic";
    static bool ProbeContent(TStream& Stream);
    void ReadImage(TStream& Stream) override;
};

}  // namespace tilvorn
