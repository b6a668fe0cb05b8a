// The colour manager of the image readers: turns rows of samples as a file stores them
// (indexed, grey, RGB, CMYK, CIE L*a*b*, YCbCr, PhotoYCC; 1 to 16 bits per sample; one to four
// samples per pixel, interleaved or one plane per sample, either byte order) into rows of the
// reader's bitmap (packed indices or grey values, or blue-green-red bytes), builds palettes,
// applies gamma and tells the reader which bitmap pixel format to use.
//
// Typical use by a reader, once per image:
//     Converter.SetSourceModel(ColorModel::RGB);  Converter.SetTargetModel(ColorModel::BGR);
//     Converter.SetSourceBits(16);  Converter.SourceFlags.Include(ConversionFlag::SwapBytes);
//     SetPixelFormat(Converter.PixelFormatFor(1));
//     for each row: Converter.ConvertPixels(row, ScanLine(y), width);
#pragma once
#include <array>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <vector>

#include "core/FlagSet.h"

namespace tilvorn {

/// The colour model of samples (stored in one byte in the image properties).
enum class ColorModel : uint8_t {
    Unknown = 0,
    Indexed = 1,
    Gray = 2,
    GrayAlpha = 3,
    RGB = 4,
    RGBA = 5,
    BGR = 6,  // the order of the target bitmaps
    BGRA = 7,
    CMY = 8,
    CMYK = 9,
    CIELab = 10,
    YCbCr = 11,
    PhotoYCC = 12,
};

/// Conversion flags; the values are bit positions.
enum class ConversionFlag : uint8_t {
    AlphaPresent = 0,  // set from the models by the manager itself
    GammaCorrect = 1,  // target: colour samples go through GammaLut
    SwapBytes = 2,  // source: 16-bit samples are stored most significant byte first
    LabLumaByteScale = 3,  // source, CIE Lab: L stored over the sample's range (0..255, 0..65535)
    LabChromaBias = 4,  // source, CIE Lab: a and b stored with 128 (32768 in 16 bits) added
};
using TConversionFlags = FlagSet<ConversionFlag>;

/// The bitmap pixel formats (the manager never answers Device nor Bits16).
enum class BitmapPixelFormat : uint8_t {
    Device = 0,
    Bits1 = 1,
    Bits4 = 2,
    Bits8 = 3,
    Bits15 = 4,  // 5-5-5 in 16 bits
    Bits16 = 5,  // 5-6-5
    Bits24 = 6,
    Bits32 = 7,
    Custom = 8,
};

/// Layout of palette data given to BuildPalette. The values 3 and 7 are synonyms of Planar8
/// and Planar16 in the files' own numbering and are read as those.
enum class RawPaletteFormat : uint8_t {
    Interleaved8Triple = 0,
    Interleaved8Quad = 1,
    Planar8 = 2,
    Interleaved16Triple = 4,
    Interleaved16Quad = 5,
    Planar16 = 6,
};

/// One palette entry as the manager builds it; the bitmap takes it over into its colour table.
struct TPaletteEntry {
    uint8_t Red = 0;
    uint8_t Green = 0;
    uint8_t Blue = 0;
    bool operator==(const TPaletteEntry&) const = default;
};
using TPalette = std::vector<TPaletteEntry>;

class TColorManager {
public:
    TColorManager();

    // --- settings -------------------------------------------------------------------------
    /// 1..16; 0 or above 16 raises EColorConversionError. A change marks NeedsSetup.
    void SetSourceBits(uint8_t bits);
    void SetTargetBits(uint8_t bits);
    /// 1..4; 0 or above 4 raises EColorConversionError. A change marks NeedsSetup.
    void SetSourceSamples(uint8_t count);
    void SetTargetSamples(uint8_t count);
    void SetSourceModel(ColorModel model);
    void SetTargetModel(ColorModel model);
    /// Builds GammaLut for the given gammas (values <= 0 take 1.0 and 2.2).
    void ConfigureGamma(float inputGamma, float screenGamma);
    /// One to three luma weights (red first) replace LumaWeights from the first; then the
    /// subsampling steps are checked (1, 2 or 4; vertical not above horizontal) and recorded.
    void SetChromaParameters(std::span<const float> weights, uint8_t hStep, uint8_t vStep);
    void SetChromaParameters(std::initializer_list<float> weights, uint8_t hStep, uint8_t vStep) {
        SetChromaParameters(std::span<const float>(weights.begin(), weights.size()), hStep, vStep);
    }

    /// Readers set SwapBytes, GammaCorrect and the two CIE Lab flags here directly;
    /// AlphaPresent is set by the manager from the models.
    TConversionFlags SourceFlags;
    TConversionFlags TargetFlags;

    // --- what the readers ask -----------------------------------------------------------
    /// Side 0 describes the source, any other value the target.
    BitmapPixelFormat PixelFormatFor(int side) const;

    /// Converts one row (or one pass segment). One source position means interleaved
    /// samples; several mean one plane per sample. Count is the number of target pixels; a
    /// target pixel is written only when its bit of Mask (80 hex first, rotating) is set.
    void ConvertPixels(std::span<const void* const> sources, void* target, uint32_t count, uint8_t mask = 0xFF);
    void ConvertPixels(std::initializer_list<const void*> sources, void* target, uint32_t count, uint8_t mask = 0xFF) {
        ConvertPixels(std::span<const void* const>(sources.begin(), sources.size()), target, count, mask);
    }
    void ConvertPixels(const void* source, void* target, uint32_t count, uint8_t mask = 0xFF) {
        ConvertPixels(std::span<const void* const>(&source, 1), target, count, mask);
    }

    /// Palette from file data: one position for interleaved formats, three planes for the
    /// planar ones. At most 256 entries; adjusted to the target depth for indexed data.
    TPalette BuildPalette(std::span<const void* const> data, RawPaletteFormat format, uint32_t colorCount,
                          bool bgrOrder);
    TPalette BuildPalette(std::initializer_list<const void*> data, RawPaletteFormat format, uint32_t colorCount,
                          bool bgrOrder) {
        return BuildPalette(std::span<const void* const>(data.begin(), data.size()), format, colorCount, bgrOrder);
    }
    /// Grey ramp for the target depth; with minIsWhiteFirst entry 0 is white.
    TPalette BuildGrayPalette(bool minIsWhiteFirst);

    // --- state, read-only -----------------------------------------------------------------
    bool NeedsSetup() const { return needsSetup_; }
    uint8_t SourceBits() const { return sourceBits_; }
    uint8_t TargetBits() const { return targetBits_; }
    uint8_t SourceSamples() const { return sourceSamples_; }
    uint8_t TargetSamples() const { return targetSamples_; }
    ColorModel SourceModel() const { return sourceModel_; }
    ColorModel TargetModel() const { return targetModel_; }
    float InputGamma() const { return inputGamma_; }
    float ScreenGamma() const { return screenGamma_; }
    const std::array<uint8_t, 256>& GammaLut() const { return gammaLut_; }
    const std::array<float, 3>& LumaWeights() const { return lumaWeights_; }
    uint8_t ChromaStepH() const { return chromaStepH_; }
    uint8_t ChromaStepV() const { return chromaStepV_; }
    const std::vector<int32_t>& RedFromCr() const { return redFromCr_; }
    const std::vector<int32_t>& BlueFromCb() const { return blueFromCb_; }
    const std::vector<int32_t>& GreenFromCr() const { return greenFromCr_; }
    const std::vector<int32_t>& GreenFromCb() const { return greenFromCb_; }
    /// True once ConvertPixels has chosen a row converter for the current settings.
    bool HasRowConverter() const { return rowConverter_ != nullptr; }

private:
    using Sources = std::span<const uint8_t* const>;
    using RowConverter = void (TColorManager::*)(Sources sources, uint8_t* target, uint32_t count, uint8_t mask);

    void ChooseConverter();
    void BuildLumaChromaTables(int centreR, int centreB);

    // The row converters; ChooseConverter picks one.
    void IndexCopy16(Sources sources, uint8_t* target, uint32_t count, uint8_t mask);
    void IndexReduce16(Sources sources, uint8_t* target, uint32_t count, uint8_t mask);
    void IndexExpand16(Sources sources, uint8_t* target, uint32_t count, uint8_t mask);
    void ConvertPacked(Sources sources, uint8_t* target, uint32_t count, uint8_t mask);
    void ConvertGray(Sources sources, uint8_t* target, uint32_t count, uint8_t mask);
    void ConvertRGBSameOrder(Sources sources, uint8_t* target, uint32_t count, uint8_t mask);
    void ConvertRGBSwappedOrder(Sources sources, uint8_t* target, uint32_t count, uint8_t mask);
    void ConvertCMYKToRGB(Sources sources, uint8_t* target, uint32_t count, uint8_t mask);
    void ConvertCMYKToBGR(Sources sources, uint8_t* target, uint32_t count, uint8_t mask);
    void ConvertLabToRGB(Sources sources, uint8_t* target, uint32_t count, uint8_t mask);
    void ConvertLabToBGR(Sources sources, uint8_t* target, uint32_t count, uint8_t mask);
    void ConvertLumaChromaToRGB(Sources sources, uint8_t* target, uint32_t count, uint8_t mask);
    void ConvertLumaChromaToBGR(Sources sources, uint8_t* target, uint32_t count, uint8_t mask);

    void ConvertRGB(Sources sources, uint8_t* target, uint32_t count, uint8_t mask, bool swapOrder);
    void ConvertCMYK(Sources sources, uint8_t* target, uint32_t count, uint8_t mask, bool bgr);
    void ConvertLab(Sources sources, uint8_t* target, uint32_t count, uint8_t mask, bool bgr);
    void ConvertLumaChroma(Sources sources, uint8_t* target, uint32_t count, uint8_t mask, bool bgr);

    bool needsSetup_ = true;
    uint8_t sourceBits_ = 8;
    uint8_t targetBits_ = 8;
    uint8_t sourceSamples_ = 3;
    uint8_t targetSamples_ = 3;
    float inputGamma_ = 1.0f;
    float screenGamma_ = 2.2f;
    std::array<uint8_t, 256> gammaLut_{};
    std::array<float, 3> lumaWeights_{0.299f, 0.587f, 0.114f};
    uint8_t chromaStepH_ = 1;
    uint8_t chromaStepV_ = 1;
    std::vector<int32_t> redFromCr_, blueFromCb_, greenFromCr_, greenFromCb_;
    ColorModel sourceModel_ = ColorModel::RGB;
    ColorModel targetModel_ = ColorModel::BGR;
    RowConverter rowConverter_ = nullptr;
};

}  // namespace tilvorn
