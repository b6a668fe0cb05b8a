// Box blur. Any picture and radius: running column sums over the rows of the window and a
// running row accumulator over the columns, so each pixel costs the same whatever the radius;
// counters are 32 bits wide when no window sum can pass 2^32, 64 bits otherwise. The common
// case (a 24-bit picture, a radius of a few pixels) sums rows across first in 16-bit vector
// loops. BlurSampled blurs only the pixels a nearest-neighbour stretch takes.
#include <algorithm>
#include <climits>
#include <type_traits>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <vector>

#include "core/Vectors.h"

#include "image/DIB.h"

namespace tilvorn {

namespace {

// Colours of one source row, handed to fn(x, r, g, b).
template <typename Fn>
void ForEachColor(const uint8_t* row, int width, int bitCount, const TColorTable& table, const DIBPixelFormat& format,
                  Fn&& fn) {
    switch (bitCount) {
        case 1:
            for (int x = 0; x < width; ++x) {
                const RGBQUAD& q = table[(row[x >> 3] >> (7 - (x & 7))) & 1];
                fn(x, q.rgbRed, q.rgbGreen, q.rgbBlue);
            }
            break;
        case 4:
            for (int x = 0; x < width; ++x) {
                const RGBQUAD& q = table[(x & 1) ? row[x >> 1] & 0x0F : row[x >> 1] >> 4];
                fn(x, q.rgbRed, q.rgbGreen, q.rgbBlue);
            }
            break;
        case 8:
            for (int x = 0; x < width; ++x) {
                const RGBQUAD& q = table[row[x]];
                fn(x, q.rgbRed, q.rgbGreen, q.rgbBlue);
            }
            break;
        case 24:
            for (int x = 0; x < width; ++x, row += 3) fn(x, row[2], row[1], row[0]);
            break;
        case 16:
        case 32:
            for (int x = 0; x < width; ++x) {
                uint32_t pixel = bitCount == 16 ? uint32_t(row[2 * x] | row[2 * x + 1] << 8)
                                                : uint32_t(row[4 * x]) | uint32_t(row[4 * x + 1]) << 8 |
                        uint32_t(row[4 * x + 2]) << 16 | uint32_t(row[4 * x + 3]) << 24;
                uint8_t r, g, b;
                format.Unpack(pixel, r, g, b);
                fn(x, r, g, b);
            }
            break;
    }
}

// Exact division of window sums by a divisor d through a multiplication: with
// m = floor(2^48 / d) + 1, (x * m) >> 48 equals x div d for every x below 2^48 / d, which
// holds for sums of up to 255 d while d stays below kExactLimit. The divisor changes only near
// the borders, so m is rarely recomputed. Larger divisors divide.
class Divider {
public:
    static constexpr uint64_t kExactLimit = 1000000;
    void SetDivisor(uint64_t n) {
        if (n == n_) return;
        n_ = n;
        m_ = n < kExactLimit ? (uint64_t(1) << 48) / n + 1 : 0;
    }
    uint64_t operator()(uint64_t x) const { return m_ ? (x * m_) >> 48 : x / n_; }

private:
    uint64_t n_ = 0;
    uint64_t m_ = 0;
};

// sums[i] += bytes[i] and sums[i] -= bytes[i] over n entries; 16-bit sums wrap exactly as
// long as the true sums fit.
TILVORN_VECTOR_CLONES void AddBytes(uint16_t* sums, const uint8_t* bytes, size_t n) {
    for (size_t i = 0; i < n; ++i) sums[i] = uint16_t(sums[i] + bytes[i]);
}
TILVORN_VECTOR_CLONES void SubtractBytes(uint16_t* sums, const uint8_t* bytes, size_t n) {
    for (size_t i = 0; i < n; ++i) sums[i] = uint16_t(sums[i] - bytes[i]);
}
template <typename T>
void AddBytes(T* sums, const uint8_t* bytes, size_t n) {
    for (size_t i = 0; i < n; ++i) sums[i] += bytes[i];
}
template <typename T>
void SubtractBytes(T* sums, const uint8_t* bytes, size_t n) {
    for (size_t i = 0; i < n; ++i) sums[i] -= bytes[i];
}

// Where the source rows come from and how to read their colours.
struct SourceRows {
    const uint8_t* top;
    int step;
    int bitCount;
    TColorTable table;
    DIBPixelFormat format;
    const uint8_t* Row(int y) const { return top + int64_t(y) * step; }
};

// The blur proper. Each source row is turned once into a compact form, kept in a ring of the
// rows inside the vertical window: blue, green, red bytes (C = 3) for colour results, or the
// sum red + green + blue (C = 1) for grey results, whose grey level depends on that sum
// alone. The column sums are then updated with plain loops over those arrays, and each source
// row is read only when it enters the window, before the row of the same index is written;
// so the result may be written over the source itself.
template <typename T, int C>
class BoxBlur {
public:
    using Cell = std::conditional_t<C == 1, uint16_t, uint8_t>;

    BoxBlur(const SourceRows& source, int width, int height, int64_t radius)
        : source_(source),
          width_(width),
          height_(height),
          radius_(radius),
          slots_(int(std::min<int64_t>(2 * radius + 2, height))),
          ring_(size_t(slots_) * size_t(width) * C),
          columns_(size_t(width) * C, 0),
          prefix_(size_t(width + 1) * C, 0) {}

    /// row(y) answers the output row y; put(out, x, sums...) writes one pixel from the
    /// window sums through divide; progress(y) after each row.
    template <typename RowFn, typename Put, typename ProgressFn>
    void Run(RowFn&& row, Put&& put, ProgressFn&& progress) {
        int last = int(std::min<int64_t>(radius_, height_ - 1));
        for (int y = 0; y <= last; ++y) Enter(y);
        for (int y = 0; y < height_; ++y) {
            uint8_t* out = row(y);
            bool leaves = int64_t(y) - radius_ - 1 >= 0;
            bool enters = y >= 1 && int64_t(y) + radius_ <= height_ - 1;
            if (enters) Convert(int(y + radius_));
            if (leaves && enters)
                Slide(Slot(int(y - radius_ - 1)), Slot(int(y + radius_)));
            else if (leaves)
                Update(Slot(int(y - radius_ - 1)), false);
            else if (enters)
                Update(Slot(int(y + radius_)), true);
            int64_t rows = std::min<int64_t>(y + radius_, height_ - 1) - std::max<int64_t>(y - radius_, 0) + 1;
            Sweep(out, uint64_t(rows), put);
            progress(y);
        }
    }

private:
    Cell* Slot(int y) { return ring_.data() + size_t(y % slots_) * size_t(width_) * C; }

    void Enter(int y) {
        Convert(y);
        Update(Slot(y), true);
    }

    // Source row y into its ring slot.
    void Convert(int y) {
        Cell* cell = Slot(y);
        const uint8_t* row = source_.Row(y);
        if constexpr (C == 3) {
            if (source_.bitCount == 24) {
                std::memcpy(cell, row, size_t(width_) * 3);
                return;
            }
            ForEachColor(row, width_, source_.bitCount, source_.table, source_.format,
                         [cell](int x, int r, int g, int b) {
                             cell[3 * x] = uint8_t(b), cell[3 * x + 1] = uint8_t(g), cell[3 * x + 2] = uint8_t(r);
                         });
        } else if (source_.bitCount == 24) {
            for (int x = 0; x < width_; ++x, row += 3) cell[x] = uint16_t(row[0] + row[1] + row[2]);
        } else {
            ForEachColor(row, width_, source_.bitCount, source_.table, source_.format,
                         [cell](int x, int r, int g, int b) { cell[x] = uint16_t(r + g + b); });
        }
    }

    void Update(const Cell* cells, bool add) {
        T* c = columns_.data();
        size_t n = size_t(width_) * C;
        if (add)
            for (size_t i = 0; i < n; ++i) c[i] += cells[i];
        else
            for (size_t i = 0; i < n; ++i) c[i] -= cells[i];
    }

    void Slide(const Cell* leaving, const Cell* entering) {
        T* c = columns_.data();
        size_t n = size_t(width_) * C;
        for (size_t i = 0; i < n; ++i) c[i] = c[i] + entering[i] - leaving[i];
    }

    // The window sums of one output row from prefix sums over the column sums: pixel x's sum is
    // the difference of two prefixes, so whole stretches of the row can be computed at once.
    // In unsigned arithmetic the differences stay exact even where the prefixes wrap.
    template <typename Put>
    void Sweep(uint8_t* out, uint64_t rows, Put& put) {
        const T* c = columns_.data();
        T* p = prefix_.data();
        size_t n = size_t(width_) * C;
        // Running totals kept in registers: a loop over p itself would read back what it
        // has just stored, a few bytes away, and stall on every element.
        T total[C] = {};
        for (int k = 0; k < C; ++k) p[k] = 0;
        for (size_t i = 0; i < n; i += C)
            for (int k = 0; k < C; ++k) p[i + C + k] = total[k] += c[i + k];
        int64_t r = radius_, w = width_;
        // Grey results use the sum of the three channels divided by three times the count:
        // ((R + G + B) div N) div 3 = (R + G + B) div 3N.
        const uint64_t scale = C == 1 ? 3 : 1;
        Divider divide;
        auto pixel = [&](int64_t x) {
            int64_t lo = std::max<int64_t>(x - r, 0), hi = std::min(x + r, w - 1);
            divide.SetDivisor(uint64_t(hi - lo + 1) * rows * scale);
            const T* a = p + lo * C;
            const T* b = p + (hi + 1) * C;
            if constexpr (C == 3)
                put(out, int(x), divide(T(b[2] - a[2])), divide(T(b[1] - a[1])), divide(T(b[0] - a[0])));
            else
                put(out, int(x), divide(T(b[0] - a[0])));
        };
        int64_t begin = std::min(r, w), end = std::max(w - r, begin);  // full windows
        uint32_t m = 0;
        int shift = 0;
        if (put.kDirect && end > begin) FastMultiplier(uint64_t(2 * r + 1) * rows * scale, m, shift);
        if (!m) {
            for (int64_t x = 0; x < w; ++x) pixel(x);
            return;
        }
        for (int64_t x = 0; x < begin; ++x) pixel(x);
        // Inside, every window is whole and the output bytes are the quotients in order.
        const size_t ahead = size_t(r + 1) * C, behind = size_t(r) * C;
        for (size_t i = size_t(begin) * C; i < size_t(end) * C; ++i)
            out[i] = uint8_t((uint64_t(uint32_t(p[i + ahead] - p[i - behind])) * m) >> shift);
        for (int64_t x = end; x < w; ++x) pixel(x);
    }

    // A 32-bit multiplier m and shift s with (x * m) >> s = x div d for every x up to 255 d:
    // with d < 2^L, s = 2L + 9 and m = 2^s div d + 1 the error stays below 1/d. m fits in 32
    // bits for d below 2^21; above that m stays 0 and every pixel divides on its own.
    static void FastMultiplier(uint64_t d, uint32_t& m, int& shift) {
        int bits = 0;
        while (bits < 64 && (uint64_t(1) << bits) <= d) ++bits;
        if (bits > 21 || sizeof(T) != 4) return;
        shift = 2 * bits + 9;
        m = uint32_t((uint64_t(1) << shift) / d + 1);
    }

    SourceRows source_;
    int width_, height_;
    int64_t radius_;
    int slots_;
    std::vector<Cell> ring_;
    std::vector<T> columns_;
    std::vector<T> prefix_;
};

// ---- the blur of small windows over 24-bit pictures ----
//
// The blur the sheets and the preview use most: a 24-bit source, a 24-bit or grey result, a
// radius of a few pixels. Each source row is summed across first, once, as it enters the
// window: whole rows of window sums from a few shifted additions of the row (16-bit lanes,
// wide vector loops). A ring keeps those rows for the rows of the window; the window sums
// are then slid down whole rows at a time and divided in one more loop over the row.

constexpr int64_t kTapRadius = 16;

// out[i] (+)= p[0][i] + ... + p[count - 1][i], count 1 to 4.
template <bool Add, typename Cell>
inline void SumInto(uint16_t* __restrict out, const Cell* const* p, int count, size_t n) {
    const Cell* __restrict a = p[0], * __restrict b = p[count > 1 ? 1 : 0], * __restrict c = p[count > 2 ? 2 : 0], * __restrict d = p[count > 3 ? 3 : 0];
    auto base = [out](size_t i) { return Add ? out[i] : 0; };
    switch (count) {
        case 1:
            for (size_t i = 0; i < n; ++i) out[i] = uint16_t(base(i) + a[i]);
            break;
        case 2:
            for (size_t i = 0; i < n; ++i) out[i] = uint16_t(base(i) + a[i] + b[i]);
            break;
        case 3:
            for (size_t i = 0; i < n; ++i) out[i] = uint16_t(base(i) + a[i] + b[i] + c[i]);
            break;
        default:
            for (size_t i = 0; i < n; ++i) out[i] = uint16_t(base(i) + a[i] + b[i] + c[i] + d[i]);
            break;
    }
}
template <typename Cell>
inline void SumInto(uint16_t* out, const Cell* const* p, int count, size_t n, bool add) {
    if (add)
        SumInto<true>(out, p, count, n);
    else
        SumInto<false>(out, p, count, n);
}
TILVORN_VECTOR_CLONES void Sum(uint16_t* out, const uint8_t* const* p, int count, size_t n, bool add) {
    SumInto(out, p, count, n, add);
}
TILVORN_VECTOR_CLONES void Sum(uint16_t* out, const uint16_t* const* p, int count, size_t n, bool add) {
    SumInto(out, p, count, n, add);
}

// out[i] (+)= in[i] + in[i + stride] + ... over up to four taps.
template <typename Cell>
void Taps(uint16_t* out, const Cell* in, size_t n, size_t stride, int taps, bool add) {
    const Cell* p[4] = {in, in, in, in};
    for (int t = 1; t < taps; ++t) p[t] = in + size_t(t) * stride;
    Sum(out, p, taps, n, add);
}

// out[i] = t[0][i] + ... + t[count - 1][i] ± single[i], count 1 to 4.
template <bool Subtract, typename Cell>
inline void CombineInto(uint16_t* __restrict out, const uint16_t* const* t, int count, const Cell* __restrict single,
                        size_t n) {
    const uint16_t* __restrict a = t[0], * __restrict b = t[count > 1 ? 1 : 0], * __restrict c = t[count > 2 ? 2 : 0], * __restrict d = t[count > 3 ? 3 : 0];
    auto plus = [single](size_t i, unsigned sum) { return uint16_t(Subtract ? sum - single[i] : sum + single[i]); };
    switch (count) {
        case 1:
            for (size_t i = 0; i < n; ++i) out[i] = plus(i, a[i]);
            break;
        case 2:
            for (size_t i = 0; i < n; ++i) out[i] = plus(i, a[i] + b[i]);
            break;
        case 3:
            for (size_t i = 0; i < n; ++i) out[i] = plus(i, a[i] + b[i] + c[i]);
            break;
        default:
            for (size_t i = 0; i < n; ++i) out[i] = plus(i, a[i] + b[i] + c[i] + d[i]);
            break;
    }
}
template <typename Cell>
inline void CombineInto(uint16_t* out, const uint16_t* const* t, int count, const Cell* single, size_t n,
                        bool subtract) {
    if (subtract)
        CombineInto<true>(out, t, count, single, n);
    else
        CombineInto<false>(out, t, count, single, n);
}
TILVORN_VECTOR_CLONES void Combine(uint16_t* out, const uint16_t* const* t, int count, const uint8_t* single, size_t n,
                                   bool subtract) {
    CombineInto(out, t, count, single, n, subtract);
}
TILVORN_VECTOR_CLONES void Combine(uint16_t* out, const uint16_t* const* t, int count, const uint16_t* single, size_t n,
                                   bool subtract) {
    CombineInto(out, t, count, single, n, subtract);
}

// The grey cells of a 24-bit row: blue + green + red of each pixel. Compilers do not
// vectorise the gathers of every third byte, so with AVX2 sixteen pixels are summed at a time
// from byte shuffles: each 128-bit half takes eight pixels (24 bytes) from two overlapping
// loads, the pixels' first two bytes added pairwise and the third added as a 16-bit lane.
void ChannelSumsFrom(uint16_t* __restrict cells, const uint8_t* __restrict row, size_t from, size_t width) {
    for (size_t x = from; x < width; ++x) cells[x] = uint16_t(row[3 * x] + row[3 * x + 1] + row[3 * x + 2]);
}
#if TILVORN_X86_VECTORS
TILVORN_AVX2 inline __m256i LoadHalves(const uint8_t* low, const uint8_t* high) {
    return _mm256_inserti128_si256(_mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(low))),
                                   _mm_loadu_si128(reinterpret_cast<const __m128i*>(high)), 1);
}
TILVORN_AVX2 size_t ChannelSumsAvx2(uint16_t* cells, const uint8_t* row, size_t width) {
    constexpr char z = char(0x80);  // a lane byte the shuffle clears
    // Pixels 0-4 of eight from the load at byte 0, pixels 5-7 from the load at byte 8.
    const __m128i pairsLow = _mm_setr_epi8(0, 1, 3, 4, 6, 7, 9, 10, 12, 13, z, z, z, z, z, z);
    const __m128i pairsHigh = _mm_setr_epi8(z, z, z, z, z, z, z, z, z, z, 7, 8, 10, 11, 13, 14);
    const __m128i thirdLow = _mm_setr_epi8(2, z, 5, z, 8, z, 11, z, 14, z, z, z, z, z, z, z);
    const __m128i thirdHigh = _mm_setr_epi8(z, z, z, z, z, z, z, z, z, z, 9, z, 12, z, 15, z);
    const __m256i pl = _mm256_broadcastsi128_si256(pairsLow), ph = _mm256_broadcastsi128_si256(pairsHigh);
    const __m256i tl = _mm256_broadcastsi128_si256(thirdLow), th = _mm256_broadcastsi128_si256(thirdHigh);
    const __m256i ones = _mm256_set1_epi8(1);
    size_t x = 0;
    for (; x + 16 <= width; x += 16) {
        const uint8_t* p = row + 3 * x;
        const __m256i a = LoadHalves(p, p + 24), b = LoadHalves(p + 8, p + 32);
        const __m256i pairs = _mm256_or_si256(_mm256_shuffle_epi8(a, pl), _mm256_shuffle_epi8(b, ph));
        const __m256i third = _mm256_or_si256(_mm256_shuffle_epi8(a, tl), _mm256_shuffle_epi8(b, th));
        const __m256i sums = _mm256_add_epi16(_mm256_maddubs_epi16(pairs, ones), third);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(cells + x), sums);
    }
    return x;
}
#endif
void ChannelSums(uint16_t* cells, const uint8_t* row, size_t width) {
    size_t done = 0;
#if TILVORN_X86_VECTORS
    if (HaveAvx2()) done = ChannelSumsAvx2(cells, row, width);
#endif
    ChannelSumsFrom(cells, row, done, width);
}

// The window sums of a row slid down: + the entering row's sums, − the leaving row's.
template <typename V>
inline void SlideInto(V* __restrict sums, const uint16_t* __restrict entering, const uint16_t* __restrict leaving,
                      size_t n) {
    if (entering && leaving)
        for (size_t i = 0; i < n; ++i) sums[i] = V(sums[i] + entering[i] - leaving[i]);
    else if (entering)
        for (size_t i = 0; i < n; ++i) sums[i] = V(sums[i] + entering[i]);
    else if (leaving)
        for (size_t i = 0; i < n; ++i) sums[i] = V(sums[i] - leaving[i]);
}
TILVORN_VECTOR_CLONES void Slide(uint16_t* sums, const uint16_t* entering, const uint16_t* leaving, size_t n) {
    SlideInto(sums, entering, leaving, n);
}
TILVORN_VECTOR_CLONES void Slide(uint32_t* sums, const uint16_t* entering, const uint16_t* leaving, size_t n) {
    SlideInto(sums, entering, leaving, n);
}

// Division of window sums x ≤ 255 d by one divisor d, exact (rounded down) either way:
//  - 16-bit sums: (x · m) >> 16 >> shift with a 16-bit m = ceil(2^s / d). With m d = 2^s + t,
//    x m / 2^s = x / d + x t / (d 2^s), which stays below the next whole number as long as
//    255 d t < 2^s; found for every divisor up to 128 and for most others;
//  - otherwise (x + 1/2) / d in single precision: its true value lies at least 1/(2d) from a
//    whole number, and the two roundings err by less than 255.5 · 2^-23 < 1/(2d) for every
//    d below 16384 (the windows of this path stay far below that).
struct Quotient {
    explicit Quotient(uint64_t d) : inverse(float(1.0 / double(d))) {
        for (int s = 16; s < 32; ++s) {
            const uint64_t m = ((uint64_t(1) << s) + d - 1) / d;
            if (m > UINT16_MAX) break;
            if (255 * d * (m * d - (uint64_t(1) << s)) < (uint64_t(1) << s)) {
                multiplier = uint16_t(m);
                shift = s - 16;
                return;
            }
        }
    }
    uint16_t multiplier = 0;  // 0: divide in single precision
    int shift = 0;
    float inverse;
};

// The window sums slid down as Slide does, each new sum divided into out on the way.
template <typename V, typename Q>
inline void SlideDivideInto(uint8_t* __restrict out, V* __restrict sums, const uint16_t* __restrict entering,
                            const uint16_t* __restrict leaving, size_t n, Q quotient) {
    if (entering && leaving) {
        for (size_t i = 0; i < n; ++i) {
            const V v = V(sums[i] + entering[i] - leaving[i]);
            sums[i] = v;
            out[i] = quotient(v);
        }
    } else if (entering) {
        for (size_t i = 0; i < n; ++i) {
            const V v = V(sums[i] + entering[i]);
            sums[i] = v;
            out[i] = quotient(v);
        }
    } else if (leaving) {
        for (size_t i = 0; i < n; ++i) {
            const V v = V(sums[i] - leaving[i]);
            sums[i] = v;
            out[i] = quotient(v);
        }
    } else {
        for (size_t i = 0; i < n; ++i) out[i] = quotient(sums[i]);
    }
}
template <typename V>
inline uint8_t FloatQuotient(V v, float inverse) {
    return uint8_t(int32_t((float(int32_t(v)) + 0.5f) * inverse));
}
TILVORN_VECTOR_CLONES void SlideDivide(uint8_t* out, uint16_t* sums, const uint16_t* entering, const uint16_t* leaving,
                                       size_t n, const Quotient& q) {
    const uint32_t m = q.multiplier;
    const int shift = q.shift;
    const float inverse = q.inverse;
    if (m)
        SlideDivideInto(out, sums, entering, leaving, n,
                        [m, shift](uint16_t v) { return uint8_t(uint16_t((uint32_t(v) * m) >> 16) >> shift); });
    else
        SlideDivideInto(out, sums, entering, leaving, n, [inverse](uint16_t v) { return FloatQuotient(v, inverse); });
}
TILVORN_VECTOR_CLONES void SlideDivide(uint8_t* out, uint32_t* sums, const uint16_t* entering, const uint16_t* leaving,
                                       size_t n, const Quotient& q) {
    const float inverse = q.inverse;
    SlideDivideInto(out, sums, entering, leaving, n, [inverse](uint32_t v) { return FloatQuotient(v, inverse); });
}

// The window sums across one row of cells (C channels interleaved) for a radius up to
// kTapRadius on a row at least one window wide, into 16-bit sums: the inside from shifted
// additions of the row, the clipped windows at both ends from running sums.
template <typename Cell, int C>
class AcrossSums {
public:
    AcrossSums(int width, int radius) : width_(width), radius_(radius), n_(size_t(width) * C) { PlanLevels(); }

    void Run(const Cell* cells, uint16_t* out) {
        const size_t r = size_t(radius_), k = 2 * r + 1, inside = (size_t(width_) - 2 * r) * C;
        if (levels_.empty()) {
            for (size_t tap = 0; tap < k; tap += 4)
                Taps(out + r * C, cells + tap * C, inside, C, int(std::min<size_t>(4, k - tap)), tap > 0);
        } else {
            FromLevels(out + r * C, cells, inside);
        }
        Ends(out, cells);
    }

private:
    // Wider windows from sums of 4 and 16 neighbouring cells, each level four of the one below
    // added at shifts: the window of k = 2r + 1 cells is then at most four level sums, with
    // one more cell added after them (k = 4a + 1) or the cell after the window taken away
    // (k = 4a + 3). Taking that cell away reads one cell past the row for the last pixel, whose
    // window is summed on its own.
    void FromLevels(uint16_t* out, const Cell* cells, size_t inside) {
        Taps(levels_[0].data(), cells, n_ - 3 * C, C, 4, false);
        if (levels_.size() > 1) Taps(levels_[1].data(), levels_[0].data(), n_ - 15 * C, 4 * C, 4, false);
        const uint16_t* terms[4];
        size_t offset = 0;
        for (size_t t = 0; t < terms_.size(); ++t) {
            terms[t] = levels_[terms_[t]].data() + offset;
            offset += (size_t(4) << (2 * terms_[t])) * C;
        }
        if (!subtract_) {
            Combine(out, terms, int(terms_.size()), cells + offset, inside, false);
            return;
        }
        const size_t lastPixel = inside - C;  // also where its window starts in the cells
        Combine(out, terms, int(terms_.size()), cells + offset - C, lastPixel, true);
        for (size_t k = 0; k < C; ++k) {
            unsigned sum = 0;
            for (size_t u = 0; u < 2 * size_t(radius_) + 1; ++u) sum += cells[lastPixel + k + u * C];
            out[lastPixel + k] = uint16_t(sum);
        }
    }

    void PlanLevels() {
        const size_t k = 2 * size_t(radius_) + 1;
        if (k <= 5) return;  // the taps alone are as quick
        subtract_ = k % 4 == 3;
        size_t rest = subtract_ ? k + 1 : k - 1;
        const int top = rest > 16 ? 1 : 0;  // level 0 sums 4 cells, level 1 sums 16
        for (int level = top; level >= 0; --level)
            for (const size_t size = size_t(4) << (2 * level); rest >= size; rest -= size) terms_.push_back(level);
        levels_.assign(size_t(top) + 1, std::vector<uint16_t>(n_));
    }

    // The clipped windows of the first and last r pixels, from sums that grow by one cell.
    void Ends(uint16_t* out, const Cell* cells) {
        const int r = radius_, w = width_;
        for (int k = 0; k < C; ++k) {
            unsigned left = 0, right = 0;
            for (int u = 0; u < r; ++u) left += cells[u * C + k], right += cells[(w - 1 - u) * C + k];
            for (int x = 0; x < r; ++x) {
                left += cells[(x + r) * C + k];
                right += cells[(w - 1 - x - r) * C + k];
                out[x * C + k] = uint16_t(left);
                out[(w - 1 - x) * C + k] = uint16_t(right);
            }
        }
    }

    int width_, radius_;
    size_t n_;
    std::vector<std::vector<uint16_t>> levels_;  // empty: the window is summed tap by tap
    std::vector<int> terms_;
    bool subtract_ = false;
};

// C = 3: colour, the cells are the source bytes; C = 1: grey, the cells are the sums of each
// pixel's three channels and the divisor is three times the window. V holds a window sum.
template <int C, typename V>
class TapBlur {
public:
    using Cell = std::conditional_t<C == 1, uint16_t, uint8_t>;

    TapBlur(const SourceRows& source, int width, int height, int radius)
        : source_(source),
          width_(width),
          height_(height),
          radius_(radius),
          n_(size_t(width) * C),
          slots_(std::min(2 * radius + 2, height)),
          ring_(size_t(slots_) * n_),
          sums_(n_, 0),
          cells_(C == 1 ? size_t(width) : 0),
          across_(width, radius) {}

    template <typename RowFn, typename ProgressFn>
    void Run(RowFn&& row, ProgressFn&& progress) {
        const int r = radius_;
        for (int y = 0; y <= std::min(r, height_ - 1); ++y) {
            Across(y);
            Slide(sums_.data(), Slot(y), nullptr, n_);
        }
        for (int y = 0; y < height_; ++y) {
            const bool enters = y >= 1 && y + r <= height_ - 1, leaves = y - r - 1 >= 0;
            if (enters) Across(y + r);
            const int rows = std::min(y + r, height_ - 1) - std::max(y - r, 0) + 1;
            Down(row(y), uint64_t(rows), enters ? Slot(y + r) : nullptr, leaves ? Slot(y - r - 1) : nullptr);
            progress(y);
        }
    }

private:
    uint16_t* Slot(int y) { return ring_.data() + size_t(y % slots_) * n_; }

    // The sums across row y's windows into its slot.
    void Across(int y) {
        const uint8_t* row = source_.Row(y);
        if (y + 1 < height_) {
            const uint8_t* next = source_.Row(y + 1);
            for (size_t i = 0; i < size_t(width_) * 3; i += 64) __builtin_prefetch(next + i);
        }
        if constexpr (C == 1) {
            ChannelSums(cells_.data(), row, size_t(width_));
            across_.Run(cells_.data(), Slot(y));
        } else {
            across_.Run(row, Slot(y));
        }
    }

    // The window sums slid down by the entering and leaving rows (either may be absent), and
    // the output row from them over `rows` rows: the inside divided on the way, the clipped
    // windows of both ends one by one.
    void Down(uint8_t* out, uint64_t rows, const uint16_t* entering, const uint16_t* leaving) {
        const uint64_t scale = C == 1 ? 3 : 1;
        const size_t r = size_t(radius_), end = r * C, inside = n_ - 2 * end;
        if (rows != quotientRows_) {
            quotient_ = Quotient((2 * r + 1) * rows * scale);
            quotientRows_ = rows;
        }
        auto at = [](const uint16_t* p, size_t i) { return p ? p + i : nullptr; };
        Slide(sums_.data(), entering, leaving, end);
        Slide(sums_.data() + end + inside, at(entering, end + inside), at(leaving, end + inside), end);
        SlideDivide(out + end, sums_.data() + end, at(entering, end), at(leaving, end), inside, quotient_);
        Divider divide;
        for (int x = 0; x < width_; ++x) {
            if (x == radius_ && width_ - radius_ > radius_) x = width_ - radius_;
            const int lo = std::max(x - radius_, 0), hi = std::min(x + radius_, width_ - 1);
            divide.SetDivisor(uint64_t(hi - lo + 1) * rows * scale);
            for (int k = 0; k < C; ++k) out[x * C + k] = uint8_t(divide(sums_[size_t(x * C + k)]));
        }
    }

    SourceRows source_;
    int width_, height_, radius_;
    size_t n_;
    int slots_;
    std::vector<uint16_t> ring_;
    std::vector<V> sums_;
    std::vector<uint16_t> cells_;
    AcrossSums<Cell, C> across_;
    Quotient quotient_{1};
    uint64_t quotientRows_ = 0;
};

// The small-window blur where it applies: a 24-bit source at least one window wide, a radius
// up to kTapRadius. Answers false, having done nothing, elsewhere.
template <int C, typename RowFn, typename ProgressFn>
bool RunTapBlur(const SourceRows& source, int width, int height, int64_t radius, RowFn&& row, ProgressFn&& progress) {
    if (source.bitCount != 24 || radius < 1 || radius > kTapRadius || width < 2 * radius + 1) return false;
    const uint64_t window = uint64_t(2 * radius + 1) * uint64_t(std::min<int64_t>(2 * radius + 1, height));
    const int r = int(radius);
    if (window * 255 * (C == 1 ? 3 : 1) <= UINT16_MAX)
        TapBlur<C, uint16_t>(source, width, height, r).Run(row, progress);
    else
        TapBlur<C, uint32_t>(source, width, height, r).Run(row, progress);
    return true;
}

// Runs the blur with counters as wide as its largest window sum needs.
template <int C, typename RowFn, typename Put, typename ProgressFn>
void RunBlur(const SourceRows& source, int width, int height, int64_t radius, RowFn&& row, Put&& put,
             ProgressFn&& progress) {
    uint64_t window =
        uint64_t(std::min<int64_t>(2 * radius + 1, width)) * uint64_t(std::min<int64_t>(2 * radius + 1, height));
    if (window * 255 * C < (uint64_t(1) << 32))
        BoxBlur<uint32_t, C>(source, width, height, radius).Run(row, put, progress);
    else
        BoxBlur<uint64_t, C>(source, width, height, radius).Run(row, put, progress);
}

// Pixel writers by the result's bit count. kDirect: the row's bytes are the quotients
// themselves in order (blue, green, red; or grey), so whole stretches are written at once.
struct Put24 {
    static constexpr bool kDirect = true;
    void operator()(uint8_t* out, int x, uint64_t red, uint64_t green, uint64_t blue) const {
        uint8_t* p = out + 3 * x;
        p[0] = uint8_t(blue), p[1] = uint8_t(green), p[2] = uint8_t(red);
    }
};
struct Put32 {
    static constexpr bool kDirect = false;
    DIBPixelFormat format;
    void operator()(uint8_t* out, int x, uint64_t red, uint64_t green, uint64_t blue) const {
        uint32_t v = format.Pack(uint8_t(red), uint8_t(green), uint8_t(blue));
        uint8_t* p = out + 4 * x;
        p[0] = uint8_t(v), p[1] = uint8_t(v >> 8), p[2] = uint8_t(v >> 16), p[3] = uint8_t(v >> 24);
    }
};
struct Put16 {
    static constexpr bool kDirect = false;
    DIBPixelFormat format;
    void operator()(uint8_t* out, int x, uint64_t red, uint64_t green, uint64_t blue) const {
        uint32_t v = format.Pack(uint8_t(red), uint8_t(green), uint8_t(blue));
        out[2 * x] = uint8_t(v), out[2 * x + 1] = uint8_t(v >> 8);
    }
};
struct PutGrey8 {
    static constexpr bool kDirect = true;
    void operator()(uint8_t* out, int x, uint64_t grey) const { out[x] = uint8_t(grey); }
};
struct PutGrey4 {
    static constexpr bool kDirect = false;
    void operator()(uint8_t* out, int x, uint64_t grey) const {
        uint8_t nibble = uint8_t(grey >> 4);
        out[x >> 1] = (x & 1) ? uint8_t((out[x >> 1] & 0xF0) | nibble) : uint8_t((out[x >> 1] & 0x0F) | (nibble << 4));
    }
};
struct PutGrey1 {
    static constexpr bool kDirect = false;
    void operator()(uint8_t* out, int x, uint64_t grey) const {
        uint8_t bit = uint8_t(0x80 >> (x & 7));
        out[x >> 3] = uint8_t(grey > 127 ? out[x >> 3] | bit : out[x >> 3] & ~bit);
    }
};

// The window [Lo, Hi] of radius around centre, clipped to 0 .. length - 1.
struct Window {
    int Lo, Hi;
};
Window WindowAround(int centre, int64_t radius, int length) {
    return {int(std::max<int64_t>(centre - radius, 0)), int(std::min<int64_t>(centre + radius, length - 1))};
}

// Source rows as blue, green, red bytes: 24-bit rows are read where they are, others are
// converted into a row of its own as the blur converts them.
class ColorRows {
public:
    ColorRows(const SourceRows& source, int width) : source_(source), width_(width) {
        if (source.bitCount != 24) buffer_.resize(size_t(width) * 3);
    }
    const uint8_t* Row(int y) {
        const uint8_t* row = source_.Row(y);
        if (source_.bitCount == 24) return row;
        uint8_t* cell = buffer_.data();
        ForEachColor(row, width_, source_.bitCount, source_.table, source_.format, [cell](int x, int r, int g, int b) {
            cell[3 * x] = uint8_t(b), cell[3 * x + 1] = uint8_t(g), cell[3 * x + 2] = uint8_t(r);
        });
        return cell;
    }

private:
    SourceRows source_;
    int width_;
    std::vector<uint8_t> buffer_;
};

// Column sums over the rows of each sampled row's window, slid from one sampled row to the
// next (or summed afresh where that adds fewer rows), then the window sums of the sampled
// columns: from 16-bit sums across the row where a whole window fits them, from prefix sums
// otherwise. T holds a column sum of the tallest window.
template <typename T>
void SampleBlurred(const SourceRows& source, int w, int h, int64_t radius, TDIB& result) {
    constexpr bool kNarrow = std::is_same_v<T, uint16_t>;
    const int width = result.Width(), height = result.Height();
    const size_t n = size_t(w) * 3;
    ColorRows rows(source, w);
    std::vector<T> sums(n, 0);
    std::vector<int> centres(static_cast<size_t>(width));
    std::vector<Window> columns(static_cast<size_t>(width));
    for (int i = 0; i < width; ++i) {
        centres[size_t(i)] = StretchSampleIndex(i, 0, w, width);
        columns[size_t(i)] = WindowAround(centres[size_t(i)], radius, w);
    }
    const bool across = kNarrow && radius >= 1 && radius <= kTapRadius && w >= 2 * radius + 1 &&
        uint64_t(2 * radius + 1) * uint64_t(std::min<int64_t>(2 * radius + 1, h)) * 255 <= UINT16_MAX;
    std::optional<AcrossSums<uint16_t, 3>> acrossSums;
    if (across) acrossSums.emplace(w, int(radius));
    std::vector<uint16_t> windowSums(across ? n : 0);
    std::vector<uint64_t> prefix(across ? 0 : n + 3, 0);
    // The rows of a window summed afresh: four 24-bit rows at a time into 16-bit sums.
    auto sumAfresh = [&](Window want) {
        if constexpr (kNarrow) {
            if (source.bitCount == 24) {
                for (int y = want.Lo; y <= want.Hi; y += 4) {
                    const int count = std::min(4, want.Hi - y + 1);
                    const uint8_t* p[4];
                    for (int i = 0; i < count; ++i) p[i] = source.Row(y + i);
                    Sum(sums.data(), p, count, n, y > want.Lo);
                }
                return;
            }
        }
        std::fill(sums.begin(), sums.end(), T(0));
        for (int y = want.Lo; y <= want.Hi; ++y) AddBytes(sums.data(), rows.Row(y), n);
    };
    uint8_t* top = result.TopRow();
    const int step = result.RowStep();
    Window summed{0, -1};
    Divider divide;
    for (int j = 0; j < height; ++j) {
        const Window want = WindowAround(StretchSampleIndex(j, 0, h, height), radius, h);
        const int fresh = want.Hi - want.Lo + 1, slid = (want.Lo - summed.Lo) + (want.Hi - summed.Hi);
        const bool changed = want.Lo != summed.Lo || want.Hi != summed.Hi;
        if (want.Lo > summed.Hi || slid >= fresh) {
            sumAfresh(want);
        } else {
            for (int y = summed.Lo; y < want.Lo; ++y) SubtractBytes(sums.data(), rows.Row(y), n);
            for (int y = summed.Hi + 1; y <= want.Hi; ++y) AddBytes(sums.data(), rows.Row(y), n);
        }
        summed = want;
        if (changed) {
            if constexpr (kNarrow) {
                if (across) acrossSums->Run(sums.data(), windowSums.data());
            }
            if (!across) {
                uint64_t total[3] = {};
                for (size_t i = 0; i < n; i += 3)
                    for (size_t k = 0; k < 3; ++k) prefix[i + 3 + k] = total[k] += sums[i + k];
            }
        }
        uint8_t* out = top + int64_t(j) * step;
        for (int i = 0; i < width; ++i, out += 3) {
            const Window c = columns[size_t(i)];
            divide.SetDivisor(uint64_t(c.Hi - c.Lo + 1) * uint64_t(fresh));
            if (across) {
                const uint16_t* window = windowSums.data() + 3 * size_t(centres[size_t(i)]);
                for (int k = 0; k < 3; ++k) out[k] = uint8_t(divide(window[k]));
            } else {
                const uint64_t* a = prefix.data() + 3 * size_t(c.Lo);
                const uint64_t* b = prefix.data() + 3 * size_t(c.Hi + 1);
                for (int k = 0; k < 3; ++k) out[k] = uint8_t(divide(b[k] - a[k]));
            }
        }
    }
}

}  // namespace

void TDIB::BlurSampled(int radius, int width, int height, TDIB& result) {
    if (Empty() || width <= 0 || height <= 0) {
        result.Clear();
        return;
    }
    int64_t r = std::llabs(int64_t(radius));
    r = std::min<int64_t>(r, std::max(Width(), Height()));
    // A compressed picture is read from a decoded copy; any other from its own rows, which
    // stay as they are (no write access, so no copy of a shared picture either).
    TDIB decoded;
    const TDIBStore* store = image_;
    if (store->Compressed) {
        decoded.Assign(this);
        decoded.TopRow();
        store = decoded.Image();
    }
    SourceRows rows{store->TopRow, store->RowStep, store->BitCount, store->ColorTable, store->PixelFormat};
    TDIB made;
    made.SetSize(width, height, 24);
    const uint64_t tallest = uint64_t(std::min<int64_t>(2 * r + 1, Height()));
    if (tallest * 255 <= UINT16_MAX)
        SampleBlurred<uint16_t>(rows, Width(), Height(), r, made);
    else if (tallest * 255 <= UINT32_MAX)
        SampleBlurred<uint32_t>(rows, Width(), Height(), r, made);
    else
        SampleBlurred<uint64_t>(rows, Width(), Height(), r, made);
    result.Assign(&made);
}

void TDIB::Blur(int bitCount, int radius) {
    if (Empty() || radius == 0) return;
    // The window never needs to reach further than the picture's larger side.
    int64_t r = std::llabs(int64_t(radius));
    r = std::min<int64_t>(r, std::max(Width(), Height()));
    ProgressStart("Blur");
    struct EndProgress {
        TDIB& dib;
        ~EndProgress() { dib.ProgressEnd(); }
    } endProgress{*this};

    TDIB source;
    source.Assign(this);
    SetSize(Width(), Height(), bitCount);
    if (bitCount <= 8) {
        ColorTable.fill(RGBQUAD{});
        for (int i = 0; i < (1 << bitCount); ++i) {
            int v = i * (1 << (8 - bitCount));
            v |= v >> bitCount;
            ColorTable[size_t(i)] = {uint8_t(v), uint8_t(v), uint8_t(v), 0};
        }
        ApplyColorTable();
    }
    // When the picture kept its format it is still shared with the source: the blur then
    // reads each row before writing over it, and no copy of the picture is needed (unless a
    // third owner holds it, whom the first row access leaves the original).
    bool inPlace = source.Image() == Image();
    if (inPlace) source.Clear();
    TDIB& from = inPlace ? *this : source;
    SourceRows rows{from.TopRow(), from.RowStep(), from.BitCount(), from.ColorTable, from.CurrentPixelFormat()};
    auto row = [this](int y) { return ScanLine(y); };
    auto progress = [this](int y) { ProgressRow(y); };
    DIBPixelFormat format = CurrentPixelFormat();
    int w = Width(), h = Height();
    switch (bitCount) {
        case 24:
            if (!RunTapBlur<3>(rows, w, h, r, row, progress)) RunBlur<3>(rows, w, h, r, row, Put24{}, progress);
            break;
        case 32:
            RunBlur<3>(rows, w, h, r, row, Put32{format}, progress);
            break;
        case 16:
            RunBlur<3>(rows, w, h, r, row, Put16{format}, progress);
            break;
        case 8:
            if (!RunTapBlur<1>(rows, w, h, r, row, progress)) RunBlur<1>(rows, w, h, r, row, PutGrey8{}, progress);
            break;
        case 4:
            RunBlur<1>(rows, w, h, r, row, PutGrey4{}, progress);
            break;
        default:
            RunBlur<1>(rows, w, h, r, row, PutGrey1{}, progress);
            break;
    }
}

}  // namespace tilvorn
