#include "readers/ReaderColor.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <type_traits>
#include <utility>

#include "core/Exceptions.h"
#include "core/Rounding.h"
#include "readers/ReaderTexts.h"

namespace tilvorn {

namespace {

[[noreturn]] void RaiseConversionError(const char* text) { throw EColorConversionError(text); }

bool HasAlpha(ColorModel model) {
    return model == ColorModel::GrayAlpha || model == ColorModel::RGBA || model == ColorModel::BGRA;
}
bool IsRGBOrder(ColorModel model) { return model == ColorModel::RGB || model == ColorModel::RGBA; }
bool IsBGROrder(ColorModel model) { return model == ColorModel::BGR || model == ColorModel::BGRA; }
bool IsColorTarget(ColorModel model) { return IsRGBOrder(model) || IsBGROrder(model); }

/// 16-bit samples are kept in the machine order the readers were written for (least
/// significant byte first); SwapBytes marks the other order.
inline uint32_t Read16(const uint8_t* p, bool swap) {
    return swap ? (uint32_t(p[0]) << 8) | p[1] : uint32_t(p[0]) | (uint32_t(p[1]) << 8);
}
inline void Write16(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}
inline uint8_t Clamp255(int64_t v) { return uint8_t(std::clamp<int64_t>(v, 0, 255)); }

/// Stores one colour in the target's channel order: blue first for the bitmap, else red first.
inline void PutColour(uint8_t* t, uint8_t red, uint8_t green, uint8_t blue, bool bgr) {
    t[0] = bgr ? blue : red;
    t[1] = green;
    t[2] = bgr ? red : blue;
}

/// Walks Count target pixels under the rotating mask: write(target) runs for selected pixels
/// only and advances the source itself; the target advances for every pixel.
template <typename WritePixel>
inline void ForEachTargetPixel(uint8_t* target, uint32_t count, uint8_t mask, size_t targetStep, WritePixel write) {
    if (mask == 0xFF) {
        for (uint32_t i = 0; i < count; ++i, target += targetStep) write(target);
        return;
    }
    uint8_t testBit = 0x80;
    for (uint32_t i = 0; i < count; ++i, target += targetStep) {
        if (mask & testBit) write(target);
        testBit = uint8_t((testBit >> 1) | (testBit << 7));
    }
}

/// Reads fields of `bits` bits packed most significant first; a field never spans two bytes.
class PackedReader {
public:
    PackedReader(const uint8_t* data, unsigned bits) : p_(data), bits_(bits), shift_(int(8 - bits)) {}
    unsigned Next() {
        unsigned v = (unsigned(*p_) >> shift_) & ((1u << bits_) - 1);
        shift_ -= int(bits_);
        if (shift_ < 0) {
            ++p_;
            shift_ = int(8 - bits_);
        }
        return v;
    }

private:
    const uint8_t* p_;
    unsigned bits_;
    int shift_;
};

/// Writes fields of `bits` bits packed most significant first, keeping the other bits of
/// each byte; Skip moves on without writing.
class PackedWriter {
public:
    PackedWriter(uint8_t* data, unsigned bits) : p_(data), bits_(bits), shift_(int(8 - bits)) {}
    void Put(unsigned v) {
        uint8_t fieldMask = uint8_t(((1u << bits_) - 1) << shift_);
        *p_ = uint8_t((*p_ & ~fieldMask) | ((v << shift_) & fieldMask));
        Skip();
    }
    void Skip() {
        shift_ -= int(bits_);
        if (shift_ < 0) {
            ++p_;
            shift_ = int(8 - bits_);
        }
    }

private:
    uint8_t* p_;
    unsigned bits_;
    int shift_;
};

inline bool Selected(uint8_t mask, uint8_t& testBit) {
    bool selected = (mask & testBit) != 0;
    testBit = uint8_t((testBit >> 1) | (testBit << 7));
    return selected;
}

/// Each source bit becomes a byte of 0 or 255, eight pixels per table lookup.
void ExpandBitsToBytes(const uint8_t* source, uint8_t* target, uint32_t count) {
    static const auto table = [] {
        std::array<std::array<uint8_t, 8>, 256> t{};
        for (unsigned v = 0; v < 256; ++v)
            for (unsigned bit = 0; bit < 8; ++bit) t[v][bit] = (v >> (7 - bit)) & 1 ? 255 : 0;
        return t;
    }();
    const uint32_t whole = count / 8;
    for (uint32_t i = 0; i < whole; ++i, target += 8) std::memcpy(target, table[source[i]].data(), 8);
    for (uint32_t bit = 0; bit < count % 8; ++bit) target[bit] = table[source[whole]][bit];
}

/// The nearest integer of a 32-bit float product, halves to the even neighbour.
int32_t NearestInt(float x) { return int32_t(Round(double(x))); }

}  // namespace

TColorManager::TColorManager() { ConfigureGamma(1.0f, 2.2f); }

// --- settings ---------------------------------------------------------------------------

void TColorManager::SetSourceBits(uint8_t bits) {
    if (bits == 0 || bits > 16) RaiseConversionError(readertext::InvalidColorDepth);
    if (bits != sourceBits_) needsSetup_ = true;
    sourceBits_ = bits;
}

void TColorManager::SetTargetBits(uint8_t bits) {
    if (bits == 0 || bits > 16) RaiseConversionError(readertext::InvalidColorDepth);
    if (bits != targetBits_) needsSetup_ = true;
    targetBits_ = bits;
}

void TColorManager::SetSourceSamples(uint8_t count) {
    if (count == 0 || count > 4) RaiseConversionError(readertext::InvalidSampleCount);
    if (count != sourceSamples_) needsSetup_ = true;
    sourceSamples_ = count;
}

void TColorManager::SetTargetSamples(uint8_t count) {
    if (count == 0 || count > 4) RaiseConversionError(readertext::InvalidSampleCount);
    if (count != targetSamples_) needsSetup_ = true;
    targetSamples_ = count;
}

void TColorManager::SetSourceModel(ColorModel model) {
    if (model != sourceModel_) needsSetup_ = true;
    sourceModel_ = model;
}

void TColorManager::SetTargetModel(ColorModel model) {
    if (model != targetModel_) needsSetup_ = true;
    targetModel_ = model;
}

void TColorManager::ConfigureGamma(float inputGamma, float screenGamma) {
    inputGamma_ = inputGamma > 0 ? inputGamma : 1.0f;
    screenGamma_ = screenGamma > 0 ? screenGamma : 2.2f;
    const float g = 1.0f / (inputGamma_ * screenGamma_);
    // Every user of the table looks it up with an 8-bit colour value and takes an 8-bit
    // colour back (RGB samples, palette bytes, the grey ramp's 0, 17, ..., 255), so it always
    // spans 0..255 whatever the bit counts: a table over 0..15 would leave the upper entries
    // stale and darken low-depth grey palettes.
    for (int i = 0; i < 256; ++i) gammaLut_[i] = uint8_t(Round(std::pow(double(i) / 255.0, double(g)) * 255.0));
}

void TColorManager::SetChromaParameters(std::span<const float> weights, uint8_t hStep, uint8_t vStep) {
    for (size_t i = 0; i < weights.size() && i < 3; ++i) lumaWeights_[i] = weights[i];
    auto validStep = [](uint8_t s) { return s == 1 || s == 2 || s == 4; };
    if (!validStep(hStep) || !validStep(vStep)) RaiseConversionError(readertext::InvalidSubsampling);
    if (vStep > hStep) RaiseConversionError(readertext::VerticalSubsampling);
    chromaStepH_ = hStep;
    chromaStepV_ = vStep;
}

// --- pixel format and palettes ----------------------------------------------------------

BitmapPixelFormat TColorManager::PixelFormatFor(int side) const {
    const unsigned samples = side == 0 ? sourceSamples_ : targetSamples_;
    const unsigned bits = side == 0 ? sourceBits_ : targetBits_;
    switch (samples) {
        case 1:
            if (bits == 1) return BitmapPixelFormat::Bits1;
            if (bits >= 2 && bits <= 4) return BitmapPixelFormat::Bits4;
            if (bits >= 8 && bits <= 16) return BitmapPixelFormat::Bits8;
            return BitmapPixelFormat::Custom;
        case 3:
            return bits >= 1 && bits <= 5 ? BitmapPixelFormat::Bits15 : BitmapPixelFormat::Bits24;
        case 4:
            return bits >= 8 ? BitmapPixelFormat::Bits32 : BitmapPixelFormat::Custom;
        default:
            return BitmapPixelFormat::Custom;
    }
}

TPalette TColorManager::BuildPalette(std::span<const void* const> data, RawPaletteFormat format, uint32_t colorCount,
                                     bool bgrOrder) {
    const uint32_t n = std::min<uint32_t>(colorCount, 256);
    const bool gamma = TargetFlags.Contains(ConversionFlag::GammaCorrect);
    const bool swap = SourceFlags.Contains(ConversionFlag::SwapBytes);
    auto color8 = [&](uint8_t v) { return gamma ? gammaLut_[v] : v; };
    auto color16 = [&](const uint8_t* p) { return color8(uint8_t(Read16(p, swap) * 255 / 65535)); };
    auto plane = [&](size_t i) { return static_cast<const uint8_t*>(i < data.size() ? data[i] : nullptr); };

    TPalette palette(n);
    const unsigned raw = unsigned(format);
    if (data.empty() || data[0] == nullptr) return palette;
    if (raw == 0 || raw == 1 || raw == 4 || raw == 5) {
        const bool wide = raw >= 4;
        const size_t valueBytes = wide ? 2 : 1;
        const size_t entryBytes = (raw == 1 || raw == 5 ? 4 : 3) * valueBytes;
        const uint8_t* p = plane(0);
        for (uint32_t i = 0; i < n; ++i, p += entryBytes) {
            uint8_t c[3];
            for (int k = 0; k < 3; ++k) c[k] = wide ? color16(p + k * 2) : color8(p[k]);
            palette[i] = bgrOrder ? TPaletteEntry{c[2], c[1], c[0]} : TPaletteEntry{c[0], c[1], c[2]};
        }
    } else {
        if (data.size() < 3 || !plane(1) || !plane(2)) return palette;
        const bool wide = raw >= 6;
        for (uint32_t i = 0; i < n; ++i) {
            uint8_t c[3];
            for (int k = 0; k < 3; ++k) c[k] = wide ? color16(plane(k) + i * 2) : color8(plane(k)[i]);
            palette[i] = TPaletteEntry{c[0], c[1], c[2]};
        }
    }

    // Indexed data scaled to another depth by the packed-sample converter finds its colour at
    // the scaled index.
    if (sourceBits_ <= 8 && targetBits_ <= 8 && sourceBits_ != targetBits_) {
        const uint32_t sh = (1u << sourceBits_) - 1, th = (1u << targetBits_) - 1;
        if (palette.size() < std::max(sh, th) + 1) palette.resize(std::max(sh, th) + 1);
        if (sh > th) {
            for (uint32_t j = 0; j <= th; ++j) palette[j] = palette[j * sh / th];
        } else {
            for (int64_t j = th; j >= 0; --j) palette[j] = palette[uint32_t(j) * sh / th];
        }
        palette.resize(th + 1);
    }
    return palette;
}

TPalette TColorManager::BuildGrayPalette(bool minIsWhiteFirst) {
    const unsigned depth = std::min<unsigned>(unsigned(targetBits_) * targetSamples_, 8);
    const unsigned count = 1u << depth, last = count - 1;
    const unsigned step = 255 / last;
    const bool gamma = TargetFlags.Contains(ConversionFlag::GammaCorrect);
    TPalette palette(count);
    for (unsigned i = 0; i <= last; ++i) {
        uint8_t v = uint8_t(i * step);
        if (gamma) v = gammaLut_[v];
        palette[minIsWhiteFirst ? last - i : i] = TPaletteEntry{v, v, v};
    }
    return palette;
}

// --- choosing the converter --------------------------------------------------------------

void TColorManager::BuildLumaChromaTables(int centreR, int centreB) {
    const float kr = lumaWeights_[0], kg = lumaWeights_[1], kb = lumaWeights_[2];
    const float fR = 2 - 2 * kr, fB = 2 - 2 * kb;
    const float gR = kr * fR / kg, gB = kb * fB / kg;
    redFromCr_.assign(256, 0);
    blueFromCb_.assign(256, 0);
    greenFromCr_.assign(256, 0);
    greenFromCb_.assign(256, 0);
    for (int i = 0; i < 256; ++i) {
        const float r = float(i - centreR), b = float(i - centreB);
        redFromCr_[i] = NearestInt(fR * r);
        blueFromCb_[i] = NearestInt(fB * b);
        greenFromCr_[i] = -NearestInt(gR * r);
        greenFromCb_[i] = -NearestInt(gB * b);
    }
}

void TColorManager::ChooseConverter() {
    rowConverter_ = nullptr;
    const ColorModel s = sourceModel_, t = targetModel_;
    const bool sourceInPaletteGroup = s == ColorModel::Indexed || s == ColorModel::Gray || s == ColorModel::GrayAlpha;
    const bool targetInPaletteGroup = t == ColorModel::Indexed || t == ColorModel::Gray;
    if (sourceInPaletteGroup != targetInPaletteGroup) RaiseConversionError(readertext::IndexedConversion);
    SourceFlags.Set(ConversionFlag::AlphaPresent, HasAlpha(s));
    TargetFlags.Set(ConversionFlag::AlphaPresent, HasAlpha(t));

    const bool source16 = sourceBits_ == 16, target16 = targetBits_ == 16;
    // Colour targets are 8-bit bytes in the bitmap; a 16-bit colour target has no bitmap
    // format and so no converter.
    const bool colorTarget8 = IsColorTarget(t) && targetBits_ == 8;
    switch (s) {
        case ColorModel::Indexed:
            if (source16 && target16)
                rowConverter_ = &TColorManager::IndexCopy16;
            else if (source16)
                rowConverter_ = &TColorManager::IndexReduce16;
            else if (target16)
                rowConverter_ = &TColorManager::IndexExpand16;
            else
                rowConverter_ = &TColorManager::ConvertPacked;
            break;
        case ColorModel::Gray:
            if (!source16 && !target16)
                rowConverter_ = &TColorManager::ConvertPacked;
            else if (sourceBits_ >= 8 && targetBits_ >= 8)
                rowConverter_ = &TColorManager::ConvertGray;
            break;
        case ColorModel::GrayAlpha:
            if ((sourceBits_ == 8 || source16) && (targetBits_ == 8 || target16))
                rowConverter_ = &TColorManager::ConvertGray;
            break;
        case ColorModel::RGB:
        case ColorModel::RGBA:
            if (colorTarget8)
                rowConverter_ =
                    IsRGBOrder(t) ? &TColorManager::ConvertRGBSameOrder : &TColorManager::ConvertRGBSwappedOrder;
            break;
        case ColorModel::BGR:
        case ColorModel::BGRA:
            if (colorTarget8)
                rowConverter_ =
                    IsBGROrder(t) ? &TColorManager::ConvertRGBSameOrder : &TColorManager::ConvertRGBSwappedOrder;
            break;
        case ColorModel::CMYK:
            if (colorTarget8)
                rowConverter_ = IsRGBOrder(t) ? &TColorManager::ConvertCMYKToRGB : &TColorManager::ConvertCMYKToBGR;
            break;
        case ColorModel::CIELab:
            if (colorTarget8)
                rowConverter_ = IsRGBOrder(t) ? &TColorManager::ConvertLabToRGB : &TColorManager::ConvertLabToBGR;
            break;
        case ColorModel::YCbCr:
        case ColorModel::PhotoYCC:
            if (colorTarget8) {
                if (s == ColorModel::YCbCr)
                    BuildLumaChromaTables(128, 128);
                else
                    BuildLumaChromaTables(137, 156);
                rowConverter_ =
                    IsRGBOrder(t) ? &TColorManager::ConvertLumaChromaToRGB : &TColorManager::ConvertLumaChromaToBGR;
            }
            break;
        default:
            break;
    }
    needsSetup_ = false;
}

void TColorManager::ConvertPixels(std::span<const void* const> sources, void* target, uint32_t count, uint8_t mask) {
    if (needsSetup_) ChooseConverter();
    if (!rowConverter_) RaiseConversionError(readertext::NoConversionMethod);
    if (sources.empty() || count == 0) return;
    const uint8_t* positions[4] = {};
    const size_t n = std::min<size_t>(sources.size(), 4);
    for (size_t i = 0; i < n; ++i) positions[i] = static_cast<const uint8_t*>(sources[i]);
    (this->*rowConverter_)(Sources(positions, n), static_cast<uint8_t*>(target), count, mask);
}

// --- indexed and grey --------------------------------------------------------------------

void TColorManager::ConvertPacked(Sources sources, uint8_t* target, uint32_t count, uint8_t mask) {
    if (sourceBits_ > 8 || targetBits_ > 8) return;  // fields of more than a byte are not packed
    if (sourceBits_ == targetBits_ && mask == 0xFF) {
        std::memcpy(target, sources[0], (size_t(count) * sourceBits_ + 7) / 8);
        return;
    }
    const unsigned sourceHigh = (1u << sourceBits_) - 1, targetHigh = (1u << targetBits_) - 1;
    PackedReader in(sources[0], sourceBits_);
    if (sourceBits_ == 1 && targetBits_ == 8 && mask == 0xFF) {  // fax and line art: a byte at a time
        ExpandBitsToBytes(sources[0], target, count);
        return;
    }
    if (targetBits_ == 8) {  // the common case of indices and grey values widened to bytes
        uint8_t scale[256];
        for (unsigned v = 0; v <= sourceHigh; ++v) scale[v] = uint8_t(v * 255 / sourceHigh);
        ForEachTargetPixel(target, count, mask, 1, [&](uint8_t* t) { *t = scale[in.Next()]; });
        return;
    }
    PackedWriter out(target, targetBits_);
    uint8_t testBit = 0x80;
    for (uint32_t i = 0; i < count; ++i) {
        if (Selected(mask, testBit))
            out.Put(in.Next() * targetHigh / sourceHigh);
        else
            out.Skip();
    }
}

void TColorManager::IndexCopy16(Sources sources, uint8_t* target, uint32_t count, uint8_t mask) {
    const bool swap = SourceFlags.Contains(ConversionFlag::SwapBytes);
    const uint8_t* s = sources[0];
    ForEachTargetPixel(target, count, mask, 2, [&](uint8_t* t) {
        Write16(t, Read16(s, swap));
        s += 2;
    });
}

void TColorManager::IndexReduce16(Sources sources, uint8_t* target, uint32_t count, uint8_t mask) {
    const bool swap = SourceFlags.Contains(ConversionFlag::SwapBytes);
    const uint8_t* s = sources[0];
    if (targetBits_ >= 8) {
        ForEachTargetPixel(target, count, mask, 1, [&](uint8_t* t) {
            *t = uint8_t(Read16(s, swap) * 255 / 65535);
            s += 2;
        });
        return;
    }
    const unsigned targetHigh = (1u << targetBits_) - 1;
    PackedWriter out(target, targetBits_);
    uint8_t testBit = 0x80;
    for (uint32_t i = 0; i < count; ++i) {
        if (Selected(mask, testBit)) {
            out.Put(Read16(s, swap) * targetHigh / 65535);
            s += 2;
        } else {
            out.Skip();
        }
    }
}

void TColorManager::IndexExpand16(Sources sources, uint8_t* target, uint32_t count, uint8_t mask) {
    if (sourceBits_ > 8) return;
    const unsigned sourceHigh = (1u << sourceBits_) - 1;
    PackedReader in(sources[0], sourceBits_);
    ForEachTargetPixel(target, count, mask, 2, [&](uint8_t* t) { Write16(t, in.Next() * 65535 / sourceHigh); });
}

void TColorManager::ConvertGray(Sources sources, uint8_t* target, uint32_t count, uint8_t mask) {
    const bool alpha = SourceFlags.Contains(ConversionFlag::AlphaPresent);
    const bool swap = SourceFlags.Contains(ConversionFlag::SwapBytes);
    const bool wideSource = sourceBits_ == 16, wideTarget = targetBits_ == 16;
    const size_t sourceStep = (wideSource ? 2 : 1) * (alpha ? 2 : 1);
    const uint8_t* s = sources[0];
    ForEachTargetPixel(target, count, mask, wideTarget ? 2 : 1, [&](uint8_t* t) {
        if (wideTarget)
            Write16(t, wideSource ? Read16(s, swap) : s[0] * 257u);
        else
            *t = wideSource ? uint8_t(Read16(s, swap) * 255 / 65535) : s[0];
        s += sourceStep;
    });
}

// --- colour ------------------------------------------------------------------------------

void TColorManager::ConvertRGBSameOrder(Sources s, uint8_t* t, uint32_t c, uint8_t m) { ConvertRGB(s, t, c, m, false); }
void TColorManager::ConvertRGBSwappedOrder(Sources s, uint8_t* t, uint32_t c, uint8_t m) {
    ConvertRGB(s, t, c, m, true);
}
void TColorManager::ConvertCMYKToRGB(Sources s, uint8_t* t, uint32_t c, uint8_t m) { ConvertCMYK(s, t, c, m, false); }
void TColorManager::ConvertCMYKToBGR(Sources s, uint8_t* t, uint32_t c, uint8_t m) { ConvertCMYK(s, t, c, m, true); }
void TColorManager::ConvertLabToRGB(Sources s, uint8_t* t, uint32_t c, uint8_t m) { ConvertLab(s, t, c, m, false); }
void TColorManager::ConvertLabToBGR(Sources s, uint8_t* t, uint32_t c, uint8_t m) { ConvertLab(s, t, c, m, true); }
void TColorManager::ConvertLumaChromaToRGB(Sources s, uint8_t* t, uint32_t c, uint8_t m) {
    ConvertLumaChroma(s, t, c, m, false);
}
void TColorManager::ConvertLumaChromaToBGR(Sources s, uint8_t* t, uint32_t c, uint8_t m) {
    ConvertLumaChroma(s, t, c, m, true);
}

namespace {

/// Read positions of a pixel's samples: interleaved (one source) or one plane per sample.
/// Planes advance by one sample, interleaved pixels by the whole pixel.
struct SampleCursor {
    const uint8_t* at[4] = {};
    size_t step = 0;
    bool valid = false;

    SampleCursor(std::span<const uint8_t* const> sources, unsigned samples, unsigned interleavedSamples,
                 size_t sampleBytes, bool planar) {
        if (planar) {
            if (sources.size() < samples) return;
            for (unsigned i = 0; i < samples; ++i) at[i] = sources[i];
            step = sampleBytes;
        } else {
            for (unsigned i = 0; i < samples; ++i) at[i] = sources[0] + i * sampleBytes;
            step = interleavedSamples * sampleBytes;
        }
        valid = true;
    }
    void Advance(unsigned samples) {
        for (unsigned i = 0; i < samples; ++i) at[i] += step;
    }
};

/// The commonest rows, 8-bit colour into 24-bit pixels, with their steps known to the
/// compiler so that it keeps them in wide registers; false for the other layouts.
bool CopyPlainRow(const SampleCursor& in, uint8_t* target, uint32_t count, bool swapOrder) {
    const uint8_t *r = in.at[0], *g = in.at[1], *b = in.at[2];
    if (swapOrder) std::swap(r, b);
    if (in.step == 1) {  // one plane per sample
        for (uint32_t i = 0; i < count; ++i, target += 3) {
            target[0] = r[i];
            target[1] = g[i];
            target[2] = b[i];
        }
        return true;
    }
    if (in.step != 3 && in.step != 4) return false;
    const size_t step = in.step;
    const uint8_t* s = in.at[0];
    const bool swap = swapOrder;
    auto run = [&](auto stepConstant) {
        constexpr size_t kStep = decltype(stepConstant)::value;
        if (swap)
            for (uint32_t i = 0; i < count; ++i, s += kStep, target += 3) {
                target[0] = s[2];
                target[1] = s[1];
                target[2] = s[0];
            }
        else
            for (uint32_t i = 0; i < count; ++i, s += kStep, target += 3) std::memcpy(target, s, 3);
    };
    if (step == 3)
        run(std::integral_constant<size_t, 3>());
    else
        run(std::integral_constant<size_t, 4>());
    return true;
}

}  // namespace

void TColorManager::ConvertRGB(Sources sources, uint8_t* target, uint32_t count, uint8_t mask, bool swapOrder) {
    if (sourceBits_ != 8 && sourceBits_ != 16) return;
    const bool sourceAlpha = SourceFlags.Contains(ConversionFlag::AlphaPresent);
    const bool targetAlpha = TargetFlags.Contains(ConversionFlag::AlphaPresent);
    const bool planar = sources.size() > 1;
    const bool copyAlpha = sourceAlpha && targetAlpha && (!planar || sources.size() >= 4);
    const unsigned samples = copyAlpha ? 4 : 3;
    const bool wide = sourceBits_ == 16;
    SampleCursor in(sources, samples, sourceAlpha ? 4 : 3, wide ? 2 : 1, planar);
    if (!in.valid) RaiseConversionError(readertext::NoConversionMethod);
    const size_t targetStep = targetAlpha ? 4 : 3;
    const unsigned first = swapOrder ? 2 : 0, last = swapOrder ? 0 : 2;

    const bool gamma = TargetFlags.Contains(ConversionFlag::GammaCorrect);
    const bool swap = SourceFlags.Contains(ConversionFlag::SwapBytes);
    const uint8_t* lut = gammaLut_.data();

    if (!wide && !gamma && !copyAlpha && mask == 0xFF && targetStep == 3 && CopyPlainRow(in, target, count, swapOrder))
        return;
    if (!wide && !planar && !gamma && !copyAlpha) {  // plain 8-bit rows: no lookups at all
        const uint8_t* s = sources[0];
        const size_t sourceStep = in.step;
        ForEachTargetPixel(target, count, mask, targetStep, [&](uint8_t* t) {
            t[0] = s[first];
            t[1] = s[1];
            t[2] = s[last];
            s += sourceStep;
        });
        return;
    }
    auto color = [&](const uint8_t* p) -> uint8_t {
        uint8_t v = wide ? uint8_t(Read16(p, swap) * 255 / 65535) : *p;
        return gamma ? lut[v] : v;
    };
    auto alpha = [&](const uint8_t* p) -> uint8_t { return wide ? uint8_t(Read16(p, swap) * 255 / 65535) : *p; };
    ForEachTargetPixel(target, count, mask, targetStep, [&](uint8_t* t) {
        t[0] = color(in.at[first]);
        t[1] = color(in.at[1]);
        t[2] = color(in.at[last]);
        if (copyAlpha) t[3] = alpha(in.at[3]);
        in.Advance(samples);
    });
}

void TColorManager::ConvertCMYK(Sources sources, uint8_t* target, uint32_t count, uint8_t mask, bool bgr) {
    if (sourceBits_ != 8 && sourceBits_ != 16) return;
    const bool wide = sourceBits_ == 16;
    SampleCursor in(sources, 4, 4, wide ? 2 : 1, sources.size() == 4);
    const size_t targetStep = TargetFlags.Contains(ConversionFlag::AlphaPresent) ? 4 : 3;
    const bool swap = SourceFlags.Contains(ConversionFlag::SwapBytes);
    auto value = [&](const uint8_t* x, const uint8_t* k) -> uint8_t {
        if (!wide) return Clamp255(255 - int64_t(*x) - *k + (int64_t(*x) * *k / 255));
        const int64_t X = Read16(x, swap), K = Read16(k, swap);
        return Clamp255(255 - ((X + K - X * K / 65535) * 255 / 65535));
    };
    ForEachTargetPixel(target, count, mask, targetStep, [&](uint8_t* t) {
        const uint8_t red = value(in.at[0], in.at[3]), green = value(in.at[1], in.at[3]),
                      blue = value(in.at[2], in.at[3]);
        PutColour(t, red, green, blue, bgr);
        in.Advance(4);
    });
}

namespace {

// CIE L*a*b* is taken relative to the D65 white (TIFF's default white point, and what
// ImageMagick writes and reads) and shown as sRGB: through XYZ, the sRGB primaries and the
// sRGB transfer curve.
constexpr double kWhiteX = 0.95047, kWhiteZ = 1.08883;

double LabInverse(double t) {
    constexpr double delta = 6.0 / 29;
    return t > delta ? t * t * t : 3 * delta * delta * (t - 4.0 / 29);
}

/// The sRGB byte of linear light 0..1, looked up in 65536 steps: the curve is so steep near
/// black that a coarser table would be off by levels there.
uint8_t SrgbByte(double linear) {
    static const std::vector<uint8_t> table = [] {
        std::vector<uint8_t> t(65536);
        for (size_t i = 0; i < t.size(); ++i) {
            const double v = double(i) / 65535;
            const double c = v <= 0.0031308 ? 12.92 * v : 1.055 * std::pow(v, 1 / 2.4) - 0.055;
            t[i] = Clamp255(std::lround(c * 255));
        }
        return t;
    }();
    return table[size_t(std::clamp(linear, 0.0, 1.0) * 65535 + 0.5)];
}

}  // namespace

void TColorManager::ConvertLab(Sources sources, uint8_t* target, uint32_t count, uint8_t mask, bool bgr) {
    if (sourceBits_ != 8 && sourceBits_ != 16) return;
    const bool wide = sourceBits_ == 16;
    const bool planar = sources.size() > 1;
    // Interleaved pixels may carry a further sample (alpha) after L, a and b.
    SampleCursor in(sources, 3, std::max<unsigned>(sourceSamples_, 3), wide ? 2 : 1, planar);
    if (!in.valid) RaiseConversionError(readertext::NoConversionMethod);
    const size_t targetStep = TargetFlags.Contains(ConversionFlag::AlphaPresent) ? 4 : 3;
    const bool swap = SourceFlags.Contains(ConversionFlag::SwapBytes);
    const bool lumaFullRange = SourceFlags.Contains(ConversionFlag::LabLumaByteScale);
    const bool chromaBias = SourceFlags.Contains(ConversionFlag::LabChromaBias);
    // 16-bit samples are the 8-bit values with eight more bits below them.
    const double unit = wide ? 256 : 1;
    auto sample = [&](const uint8_t* p) -> uint32_t { return wide ? Read16(p, swap) : *p; };
    auto chroma = [&](const uint8_t* p) -> double {
        const uint32_t v = sample(p);
        if (chromaBias) return (double(v) - 128 * unit) / unit;
        return (wide ? double(int16_t(uint16_t(v))) : double(int8_t(uint8_t(v)))) / unit;
    };
    const double lumaScale = lumaFullRange ? 100.0 / (wide ? 65535 : 255) : 1 / unit;
    ForEachTargetPixel(target, count, mask, targetStep, [&](uint8_t* t) {
        const double L = sample(in.at[0]) * lumaScale;
        const double fy = (L + 16) / 116;
        const double X = kWhiteX * LabInverse(fy + chroma(in.at[1]) / 500);
        const double Y = LabInverse(fy);
        const double Z = kWhiteZ * LabInverse(fy - chroma(in.at[2]) / 200);
        const uint8_t red = SrgbByte(3.2404542 * X - 1.5371385 * Y - 0.4985314 * Z);
        const uint8_t green = SrgbByte(-0.9692660 * X + 1.8760108 * Y + 0.0415560 * Z);
        const uint8_t blue = SrgbByte(0.0556434 * X - 0.2040259 * Y + 1.0572252 * Z);
        PutColour(t, red, green, blue, bgr);
        in.Advance(3);
    });
}

void TColorManager::ConvertLumaChroma(Sources sources, uint8_t* target, uint32_t count, uint8_t mask, bool bgr) {
    if (sourceBits_ != 8 && sourceBits_ != 16) return;
    const bool wide = sourceBits_ == 16;
    const bool planar = sources.size() > 1;
    SampleCursor in(sources, 3, 3, wide ? 2 : 1, planar);
    if (!in.valid) RaiseConversionError(readertext::NoConversionMethod);
    const size_t targetStep = TargetFlags.Contains(ConversionFlag::AlphaPresent) ? 4 : 3;
    const int32_t* redFromCr = redFromCr_.data();
    const int32_t* blueFromCb = blueFromCb_.data();
    const int32_t* greenFromCr = greenFromCr_.data();
    const int32_t* greenFromCb = greenFromCb_.data();
    auto sample = [&](const uint8_t* p) -> unsigned { return wide ? Read16(p, false) * 255 / 65535 : *p; };
    const unsigned first = bgr ? 0 : 2, last = bgr ? 2 : 0;
    ForEachTargetPixel(target, count, mask, targetStep, [&](uint8_t* t) {
        const int y = int(sample(in.at[0]));
        const unsigned cb = sample(in.at[1]), cr = sample(in.at[2]);
        t[first] = Clamp255(y + blueFromCb[cb]);
        t[1] = Clamp255(y + greenFromCb[cb] + greenFromCr[cr]);
        t[last] = Clamp255(y + redFromCr[cr]);
        in.Advance(3);
    });
}

}  // namespace tilvorn
