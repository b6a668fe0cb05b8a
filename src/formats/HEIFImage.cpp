#include "formats/HEIFImage.h"

#include <libheif/heif.h>

#include <algorithm>
#include <array>
#include <cctype>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/PictureMemory.h"
#include "formats/FormatBytes.h"

namespace tilvorn {

using namespace formats;

namespace {

constexpr const char* kFormatName = "HEIF";
constexpr const char* kDecodeError = "Cannot load image. The HEIF image cannot be decoded: %s.";
constexpr int64_t kFtypProbeSize = 64;  // the ftyp box with the first dozen compatible brands

// Brands of still HEIF pictures (HEVC, AVC, AV1 and the generic image brands) and of
// sequences whose first picture is shown.
constexpr std::string_view kBrands[] = {"heic", "heix", "heim", "heis", "hevc", "hevx", "hevm", "hevs",
                                        "mif1", "mif2", "msf1", "avif", "avis", "avci", "avcs"};

bool IsBrand(const uint8_t* fourCC) {
    const std::string_view brand(reinterpret_cast<const char*>(fourCC), 4);
    return std::find(std::begin(kBrands), std::end(kBrands), brand) != std::end(kBrands);
}

struct TContextDeleter {
    void operator()(heif_context* c) const { heif_context_free(c); }
};
struct THandleDeleter {
    void operator()(heif_image_handle* h) const { heif_image_handle_release(h); }
};
struct TImageDeleter {
    void operator()(heif_image* i) const { heif_image_release(i); }
};

/// Raises the reader's error with libheif's own reason when a call failed.
void Check(const heif_error& error) {
    if (error.code == heif_error_Ok) return;
    std::string reason = error.message ? error.message : "";
    while (!reason.empty() && std::isspace(static_cast<unsigned char>(reason.back()))) reason.pop_back();
    RaiseImageErrorFmt(kDecodeError, reason.empty() ? "unknown error" : reason);
}

// Bits of an HEVC parameter set, most significant first, without the emulation-prevention
// bytes (the 3 of 00 00 03); reads past the end give zeros.
class THevcBits {
public:
    THevcBits(const uint8_t* data, size_t size) {
        for (size_t i = 0; i < size; ++i) {
            if (i >= 2 && data[i] == 3 && data[i - 1] == 0 && data[i - 2] == 0) continue;
            bytes_.push_back(data[i]);
        }
    }
    uint32_t Bits(int count) {
        uint32_t value = 0;
        for (int i = 0; i < count; ++i, ++at_) {
            const size_t byte = at_ / 8;
            const uint32_t bit = byte < bytes_.size() ? (bytes_[byte] >> (7 - at_ % 8)) & 1 : 0;
            value = value << 1 | bit;
        }
        return value;
    }
    void Skip(int count) { at_ += size_t(count); }
    // Exp-Golomb ue(v); a code longer than 32 bits is taken as the largest value.
    uint64_t Golomb() {
        int zeros = 0;
        while (Bits(1) == 0) {
            if (++zeros > 32 || at_ > bytes_.size() * 8) return UINT32_MAX;
        }
        return (uint64_t(1) << zeros) - 1 + Bits(zeros);
    }

private:
    std::vector<uint8_t> bytes_;
    size_t at_ = 0;
};

// The picture size an HEVC sequence parameter set (its NAL unit, header included) declares.
std::pair<uint64_t, uint64_t> HevcPictureSize(const uint8_t* nal, size_t size) {
    THevcBits bits(nal, size);
    bits.Skip(16 + 4);  // NAL unit header, sps_video_parameter_set_id
    const int subLayers = int(bits.Bits(3));
    bits.Skip(1 + 96);  // temporal_id_nesting_flag, general profile, tier and level
    bool profile[8] = {}, level[8] = {};
    for (int i = 0; i < subLayers; ++i) {
        profile[i] = bits.Bits(1) != 0;
        level[i] = bits.Bits(1) != 0;
    }
    if (subLayers > 0) bits.Skip(2 * (8 - subLayers));
    for (int i = 0; i < subLayers; ++i) bits.Skip((profile[i] ? 88 : 0) + (level[i] ? 8 : 0));
    bits.Golomb();  // sps_seq_parameter_set_id
    if (bits.Golomb() == 3) bits.Skip(1);  // chroma_format_idc, separate_colour_plane_flag
    const uint64_t width = bits.Golomb();
    return {width, bits.Golomb()};
}

// libheif has the HEVC decoder allocate the picture its parameter sets declare, whatever size
// the file gives the image: every HEVC configuration box of the file (hvcC: a 22-byte header,
// then arrays of NAL units) is held to the picture memory limit before anything is decoded.
void CheckHevcPictureSizes(const std::vector<uint8_t>& file) {
    constexpr uint8_t kSequenceParameterSet = 33;
    constexpr std::string_view kBox = "hvcC";
    const uint8_t* const end = file.data() + file.size();
    for (const uint8_t* box = file.data(); (box = std::search(box, end, kBox.begin(), kBox.end())) != end; box += 4) {
        const uint8_t* at = box + 4 + 22;
        if (at >= end) break;
        for (int arrays = *at++; arrays > 0 && end - at >= 3; --arrays) {
            const uint8_t type = at[0] & 0x3F;
            int units = at[1] << 8 | at[2];
            for (at += 3; units > 0 && end - at >= 2; --units) {
                const size_t length = std::min<size_t>(size_t(at[0] << 8 | at[1]), size_t(end - at - 2));
                if (type == kSequenceParameterSet) {
                    const auto [width, height] = HevcPictureSize(at + 2, length);
                    CheckPictureMemory(width, height, 24);
                }
                at += 2 + length;
            }
        }
    }
}

// libheif makes the canvas of a grid as large as the grid declares, whatever size the file
// gives the image: no side may be longer than a square picture within the memory limit.
void LimitPictureSides(heif_context* context) {
    const double side = std::sqrt(double(PictureMemoryLimit()) / 4);
    heif_context_set_maximum_image_size_limit(context, int(std::min(side, double(INT32_MAX))));
}

}  // namespace

bool THEIFGraphic::ProbeContent(TStream& stream) {
    std::array<uint8_t, kFtypProbeSize> bytes{};
    const int64_t count = std::min<int64_t>(BytesLeft(stream), kFtypProbeSize);
    if (count < 16) return false;
    stream.ReadBuffer(bytes.data(), count);
    if (std::memcmp(&bytes[4], "ftyp", 4) != 0) return false;
    // The major brand, then the compatible brands after the minor version, within the box.
    if (IsBrand(&bytes[8])) return true;
    const int64_t boxEnd = std::min<int64_t>(BE32(bytes.data()), count);
    for (int64_t at = 16; at + 4 <= boxEnd; at += 4)
        if (IsBrand(&bytes[size_t(at)])) return true;
    return false;
}

std::vector<uint8_t> THEIFGraphic::ReadWholeStream(TStream& stream) {
    std::vector<uint8_t> bytes(size_t(BytesLeft(stream)));
    if (!bytes.empty()) stream.ReadBuffer(bytes.data(), int64_t(bytes.size()));
    return bytes;
}

bool THEIFGraphic::ReadImageInfo(TStream& stream, uint32_t imageIndex) {
    TReaderGraphic::ReadImageInfo(stream, imageIndex);
    const int64_t start = stream.Position();
    if (!ProbeContent(stream)) return false;
    stream.SetPosition(start);
    const std::vector<uint8_t> bytes = ReadWholeStream(stream);
    std::unique_ptr<heif_context, TContextDeleter> context(heif_context_alloc());
    heif_image_handle* rawHandle = nullptr;
    if (heif_context_read_from_memory_without_copy(context.get(), bytes.data(), bytes.size(), nullptr).code !=
            heif_error_Ok ||
        heif_context_get_primary_image_handle(context.get(), &rawHandle).code != heif_error_Ok)
        return false;
    std::unique_ptr<heif_image_handle, THandleDeleter> handle(rawHandle);
    // The handle's size is the picture's as shown, after its rotation and cropping.
    Properties.ImageWidth = uint32_t(std::max(0, heif_image_handle_get_width(handle.get())));
    Properties.ImageHeight = uint32_t(std::max(0, heif_image_handle_get_height(handle.get())));
    Properties.HasAlphaChannel = heif_image_handle_has_alpha_channel(handle.get()) != 0;
    Properties.Model = Properties.HasAlphaChannel ? ColorModel::RGBA : ColorModel::RGB;
    Properties.SampleBits = uint8_t(std::max(8, heif_image_handle_get_luma_bits_per_pixel(handle.get())));
    Properties.SampleCount = Properties.HasAlphaChannel ? 4 : 3;
    Properties.PixelBits = uint8_t(Properties.SampleCount * 8);
    Properties.Coding = CompressionKind::Unknown;
    return true;
}

void THEIFGraphic::ReadImage(TStream& stream) {
    ReleasePixels();
    StartPosition = uint32_t(stream.Position());
    if (!ProbeContent(stream)) RaiseImageErrorFmt(readertext::InvalidImage, kFormatName);
    stream.SetPosition(StartPosition);
    ProgressArea = {0, 0, 0, 1};
    ReportProgress(TProgressStage::psStarting, 0, false, ProgressArea, readertext::Transfering);

    const std::vector<uint8_t> bytes = ReadWholeStream(stream);
    std::unique_ptr<heif_context, TContextDeleter> context(heif_context_alloc());
    LimitPictureSides(context.get());
    Check(heif_context_read_from_memory_without_copy(context.get(), bytes.data(), bytes.size(), nullptr));
    heif_image_handle* rawHandle = nullptr;
    Check(heif_context_get_primary_image_handle(context.get(), &rawHandle));
    std::unique_ptr<heif_image_handle, THandleDeleter> handle(rawHandle);
    const bool alpha = heif_image_handle_has_alpha_channel(handle.get()) != 0;
    Properties.HasAlphaChannel = alpha;
    Properties.Model = alpha ? ColorModel::RGBA : ColorModel::RGB;
    CheckPictureMemory(uint64_t(std::max(0, heif_image_handle_get_width(handle.get()))),
                       uint64_t(std::max(0, heif_image_handle_get_height(handle.get()))), alpha ? 32 : 24);
    CheckHevcPictureSizes(bytes);

    // Eight-bit interleaved samples; libheif applies the file's transformations by default.
    heif_image* rawImage = nullptr;
    Check(heif_decode_image(handle.get(), &rawImage, heif_colorspace_RGB,
                            alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB, nullptr));
    std::unique_ptr<heif_image, TImageDeleter> image(rawImage);
    const int width = heif_image_get_width(image.get(), heif_channel_interleaved);
    const int height = heif_image_get_height(image.get(), heif_channel_interleaved);
    int stride = 0;
    const uint8_t* planes = heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride);
    if (!planes || width <= 0 || height <= 0) RaiseImageErrorFmt(kDecodeError, "the decoded picture has no pixels");

    Properties.ImageWidth = uint32_t(width);
    Properties.ImageHeight = uint32_t(height);
    SetPixelFormat(alpha ? BitmapPixelFormat::Bits32 : BitmapPixelFormat::Bits24);
    SetImageSize(uint32_t(width), uint32_t(height));
    ProgressArea = {0, 0, width, 1};
    const int samples = alpha ? 4 : 3;
    for (int y = 0; y < height; ++y) {
        const uint8_t* source = planes + ptrdiff_t(y) * stride;
        uint8_t* target = ScanLine(y);
        for (int x = 0; x < width; ++x, source += samples, target += samples) {
            target[0] = source[2];
            target[1] = source[1];
            target[2] = source[0];
            if (alpha) target[3] = source[3];
        }
        ReportProgress(TProgressStage::psRunning, RowPercent(uint32_t(y), uint32_t(height)), true, ProgressArea, "");
        AdvanceProgressArea();
    }
    ReportProgress(TProgressStage::psEnding, 0, false, ProgressArea, "");
}

}  // namespace tilvorn
