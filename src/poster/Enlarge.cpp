#include "poster/Enlarge.h"

#include <pixman.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "core/Exceptions.h"
#include "core/Vectors.h"

namespace tilvorn {

namespace {

// pixman addresses source pixels in 16.16 fixed point.
constexpr int64_t kMaxSourceSide = 30000;
// Rows composed at a time: the band buffer stays small whatever the sheet's size.
constexpr int kBandRows = 32;

struct TPixmanImage {
    pixman_image_t* image = nullptr;
    ~TPixmanImage() {
        if (image) pixman_image_unref(image);
    }
};

// The picture pixels [x0, x1) × [y0, y1) as 0xFFRRGGBB words.
void SourceWords(const TDIB& picture, int64_t x0, int64_t y0, int64_t x1, int64_t y1, TPictureWords& words) {
    const int64_t w = x1 - x0, h = y1 - y0;
    words.resize(size_t(w * h));
    const TDIBStore& store = *picture.Image();
    const bool fast = store.BitCount == 24 && !store.Compressed && store.TopRow;
    for (int64_t y = 0; y < h; ++y) {
        uint32_t* out = words.data() + y * w;
        if (fast) {
            const uint8_t* in = store.TopRow + (y0 + y) * store.RowStep + x0 * 3;
            for (int64_t x = 0; x < w; ++x, in += 3)
                out[x] = 0xFF000000u | uint32_t(in[2]) << 16 | uint32_t(in[1]) << 8 | in[0];
        } else {
            for (int64_t x = 0; x < w; ++x) {
                TColor c = GetStorePixel(store, int(x0 + x), int(y0 + y));
                out[x] = 0xFF000000u | uint32_t(ColorRed(c)) << 16 | uint32_t(ColorGreen(c)) << 8 | ColorBlue(c);
            }
        }
    }
}

#if TILVORN_X86_VECTORS
// Eight words into 24 bytes at a time: each half's four words packed into its first 12 bytes,
// the halves joined, and 32 bytes stored, the last 8 of which the next store writes over. Stops
// while those 8 bytes still lie inside the row; answers the pixels done.
TILVORN_AVX2 int64_t StoreBgrAvx2(const uint32_t* in, int64_t count, uint8_t* out) {
    constexpr char z = char(0x80);
    const __m256i pack = _mm256_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, z, z, z, z,  //
                                          0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, z, z, z, z);
    const __m256i join = _mm256_setr_epi32(0, 1, 2, 4, 5, 6, 3, 7);
    int64_t x = 0;
    for (; x + 11 <= count; x += 8, out += 24) {
        const __m256i words = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(in + x));
        const __m256i bytes = _mm256_permutevar8x32_epi32(_mm256_shuffle_epi8(words, pack), join);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(out), bytes);
    }
    return x;
}
#endif

// One band row of 0xXXRRGGBB words into a sheet row of the sheet's depth.
void StoreRow(const uint32_t* in, int64_t count, int bytes, uint8_t* out) {
    if (bytes == 1) {
        for (int64_t x = 0; x < count; ++x) {
            const uint32_t p = in[x];
            out[x] = uint8_t((((p >> 16) & 0xFF) * 77 + ((p >> 8) & 0xFF) * 150 + (p & 0xFF) * 29) >> 8);
        }
    } else if (bytes == 3) {
        // Four pixels as three whole words: byte stores would each wait on the sheet's memory.
        int64_t x = 0;
#if TILVORN_X86_VECTORS
        if (HaveAvx2()) {
            x = StoreBgrAvx2(in, count, out);
            out += 3 * x;
        }
#endif
        for (; x + 4 <= count; x += 4, out += 12) {
            const uint32_t p0 = in[x], p1 = in[x + 1], p2 = in[x + 2], p3 = in[x + 3];
            const uint32_t words[3] = {(p0 & 0xFFFFFFu) | p1 << 24, ((p1 >> 8) & 0xFFFFu) | p2 << 16,
                                       ((p2 >> 16) & 0xFFu) | p3 << 8};
            std::memcpy(out, words, 12);
        }
        for (; x < count; ++x, out += 3) {
            const uint32_t p = in[x];
            out[0] = uint8_t(p);
            out[1] = uint8_t(p >> 8);
            out[2] = uint8_t(p >> 16);
        }
    } else {
        for (int64_t x = 0; x < count; ++x, out += 4) {
            const uint32_t p = in[x] & 0x00FFFFFFu;
            std::memcpy(out, &p, 4);
        }
    }
}

}  // namespace

bool EnlargeSmoothly(const TDIB& picture, const TEnlargeWindow& window, TDIB& sheet, const std::atomic<bool>* stop,
                     TPictureWords* sourceWords) {
    // Clip the window to the sheet.
    TEnlargeWindow w = window;
    auto clip = [](int64_t& sheetAt, int64_t& posterAt, int64_t& length, int64_t sheetSize) {
        const int64_t skip = std::max<int64_t>(0, -sheetAt);
        sheetAt += skip;
        posterAt += skip;
        length = std::min(length - skip, sheetSize - sheetAt);
    };
    clip(w.SheetX, w.PosterX, w.Width, sheet.Width());
    clip(w.SheetY, w.PosterY, w.Height, sheet.Height());
    if (w.Width <= 0 || w.Height <= 0 || picture.Empty()) return true;

    // The picture pixels the window's samples reach, one more on each side for the filter.
    const int64_t pw = picture.Width(), ph = picture.Height();
    const int64_t x0 = std::clamp<int64_t>(int64_t(std::floor(w.PosterX * w.ScaleX)) - 1, 0, pw - 1);
    const int64_t y0 = std::clamp<int64_t>(int64_t(std::floor(w.PosterY * w.ScaleY)) - 1, 0, ph - 1);
    const int64_t x1 = std::clamp<int64_t>(int64_t(std::ceil((w.PosterX + w.Width) * w.ScaleX)) + 2, x0 + 1, pw);
    const int64_t y1 = std::clamp<int64_t>(int64_t(std::ceil((w.PosterY + w.Height) * w.ScaleY)) + 2, y0 + 1, ph);
    if (x1 - x0 > kMaxSourceSide || y1 - y0 > kMaxSourceSide || w.Width > kMaxSourceSide) return false;

    TPictureWords ownWords;
    TPictureWords& words = sourceWords ? *sourceWords : ownWords;
    SourceWords(picture, x0, y0, x1, y1, words);
    TPixmanImage source{
        pixman_image_create_bits(PIXMAN_x8r8g8b8, int(x1 - x0), int(y1 - y0), words.data(), int((x1 - x0) * 4))};
    std::vector<uint32_t> band(size_t(w.Width) * kBandRows);
    TPixmanImage target{
        pixman_image_create_bits(PIXMAN_x8r8g8b8, int(w.Width), kBandRows, band.data(), int(w.Width * 4))};
    if (!source.image || !target.image) throw EOutOfResources("Out of memory");

    // Band pixel (i, j) of the band starting at window row b samples the picture at
    // ((PosterX + i + 0.5) · ScaleX − x0, (PosterY + b + j + 0.5) · ScaleY − y0); pixman adds the
    // half pixel itself and is given b as the source's y.
    pixman_transform_t transform;
    pixman_transform_init_identity(&transform);
    transform.matrix[0][0] = pixman_double_to_fixed(w.ScaleX);
    transform.matrix[0][2] = pixman_double_to_fixed(w.PosterX * w.ScaleX - double(x0));
    transform.matrix[1][1] = pixman_double_to_fixed(w.ScaleY);
    transform.matrix[1][2] = pixman_double_to_fixed(w.PosterY * w.ScaleY - double(y0));
    pixman_image_set_transform(source.image, &transform);
    pixman_image_set_filter(source.image, PIXMAN_FILTER_BILINEAR, nullptr, 0);
    pixman_image_set_repeat(source.image, PIXMAN_REPEAT_PAD);

    const int bytes = sheet.BitCount() / 8;
    uint8_t* top = sheet.TopRow();
    for (int64_t b = 0; b < w.Height; b += kBandRows) {
        if (stop && stop->load(std::memory_order_relaxed)) throw EAbort();
        const int rows = int(std::min<int64_t>(kBandRows, w.Height - b));
        pixman_image_composite32(PIXMAN_OP_SRC, source.image, nullptr, target.image, 0, int(b), 0, 0, 0, 0,
                                 int(w.Width), rows);
        for (int j = 0; j < rows; ++j)
            StoreRow(band.data() + size_t(j) * size_t(w.Width), w.Width, bytes,
                     top + (w.SheetY + b + j) * sheet.RowStep() + w.SheetX * bytes);
    }
    return true;
}

}  // namespace tilvorn
