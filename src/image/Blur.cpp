// Box blur: running column sums over the rows of the window and a running row accumulator over
// the columns, so each pixel costs the same whatever the radius. Counters are 32 bits wide
// when no window sum can pass 2^32, 64 bits otherwise.
#include <algorithm>
#include <climits>
#include <type_traits>
#include <cstdlib>
#include <cstring>
#include <vector>

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

}  // namespace

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
            RunBlur<3>(rows, w, h, r, row, Put24{}, progress);
            break;
        case 32:
            RunBlur<3>(rows, w, h, r, row, Put32{format}, progress);
            break;
        case 16:
            RunBlur<3>(rows, w, h, r, row, Put16{format}, progress);
            break;
        case 8:
            RunBlur<1>(rows, w, h, r, row, PutGrey8{}, progress);
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
