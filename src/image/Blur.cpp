// Box blur: running column sums over the rows of the window and a running row accumulator over
// the columns, so each pixel costs the same whatever the radius. Counters are 32 bits wide
// when no sum of the picture can pass 2^32, 64 bits otherwise.
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "image/DIB.h"

namespace tilvorn {

namespace {

template <typename T>
struct Sums {
    T r = 0, g = 0, b = 0, n = 0;
};

// Colours of one source row, handed to fn(x, r, g, b).
template <typename Fn>
void ForEachColor(const uint8_t* row, int width, int bitCount, const TColorTable& table,
                  const DIBPixelFormat& format, Fn&& fn) {
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
                                                      uint32_t(row[4 * x + 2]) << 16 |
                                                      uint32_t(row[4 * x + 3]) << 24;
                uint8_t r, g, b;
                format.Unpack(pixel, r, g, b);
                fn(x, r, g, b);
            }
            break;
    }
}

template <typename T>
class BoxBlur {
public:
    BoxBlur(TDIB& target, TDIB& source, int radius)
        : target_(target),
          width_(target.Width()),
          height_(target.Height()),
          radius_(radius),
          columns_(size_t(width_)) {
        sourceTop_ = source.TopRow();
        sourceStep_ = source.RowStep();
        sourceBits_ = source.BitCount();
        sourceTable_ = source.ColorTable;
        sourceFormat_ = source.CurrentPixelFormat();
    }

    template <typename Progress>
    void Run(Progress&& progress) {
        int lastRow = std::min<int64_t>(radius_, height_ - 1);
        for (int y = 0; y <= lastRow; ++y) AddRow(y, +1);
        for (int y = 0; y < height_; ++y) {
            uint8_t* out = target_.ScanLine(y);
            if (int64_t(y) - radius_ - 1 >= 0) AddRow(int(y - radius_ - 1), -1);
            if (y >= 1 && int64_t(y) + radius_ <= height_ - 1) AddRow(int(y + radius_), +1);
            WriteRow(out);
            progress(y);
        }
    }

private:
    void AddRow(int y, int sign) {
        const uint8_t* row = sourceTop_ + int64_t(y) * sourceStep_;
        Sums<T>* c = columns_.data();
        if (sign > 0)
            ForEachColor(row, width_, sourceBits_, sourceTable_, sourceFormat_,
                         [c](int x, T r, T g, T b) {
                             c[x].r += r, c[x].g += g, c[x].b += b, c[x].n += 1;
                         });
        else
            ForEachColor(row, width_, sourceBits_, sourceTable_, sourceFormat_,
                         [c](int x, T r, T g, T b) {
                             c[x].r -= r, c[x].g -= g, c[x].b -= b, c[x].n -= 1;
                         });
    }

    void WriteRow(uint8_t* out) {
        switch (target_.BitCount()) {
            case 24:
                Sweep([out](int x, T r, T g, T b) {
                    uint8_t* p = out + 3 * x;
                    p[0] = uint8_t(b), p[1] = uint8_t(g), p[2] = uint8_t(r);
                });
                break;
            case 32: {
                DIBPixelFormat f = target_.CurrentPixelFormat();
                Sweep([out, f](int x, T r, T g, T b) {
                    uint32_t v = f.Pack(uint8_t(r), uint8_t(g), uint8_t(b));
                    std::memcpy(out + 4 * x, &v, 4);  // little-endian store
                });
                break;
            }
            case 16: {
                DIBPixelFormat f = target_.CurrentPixelFormat();
                Sweep([out, f](int x, T r, T g, T b) {
                    uint32_t v = f.Pack(uint8_t(r), uint8_t(g), uint8_t(b));
                    out[2 * x] = uint8_t(v), out[2 * x + 1] = uint8_t(v >> 8);
                });
                break;
            }
            default:
                SweepGrey(out, target_.BitCount());
                break;
        }
    }

    // Runs the row accumulator across the columns and hands each pixel's averages to put.
    template <typename Put>
    void Sweep(Put&& put) {
        Sums<T> acc = StartRow();
        const Sums<T>* c = columns_.data();
        for (int x = 0; x < width_; ++x) {
            Slide(acc, x);
            put(x, acc.r / acc.n, acc.g / acc.n, acc.b / acc.n);
            (void)c;
        }
    }

    void SweepGrey(uint8_t* out, int bitCount) {
        Sums<T> acc = StartRow();
        for (int x = 0; x < width_; ++x) {
            Slide(acc, x);
            // The three sums are added in 64 bits: with wide windows they pass 2^32 together.
            uint64_t grey = ((uint64_t(acc.r) + acc.g + acc.b) / uint64_t(acc.n)) / 3;
            switch (bitCount) {
                case 1: {
                    uint8_t bit = uint8_t(0x80 >> (x & 7));
                    out[x >> 3] = uint8_t(grey > 127 ? out[x >> 3] | bit : out[x >> 3] & ~bit);
                    break;
                }
                case 4: {
                    uint8_t nibble = uint8_t(grey >> 4);
                    out[x >> 1] = (x & 1) ? uint8_t((out[x >> 1] & 0xF0) | nibble)
                                          : uint8_t((out[x >> 1] & 0x0F) | (nibble << 4));
                    break;
                }
                default: out[x] = uint8_t(grey); break;
            }
        }
    }

    Sums<T> StartRow() const {
        Sums<T> acc;
        int last = int(std::min<int64_t>(radius_, width_ - 1));
        for (int x = 0; x <= last; ++x) Add(acc, columns_[size_t(x)]);
        return acc;
    }

    void Slide(Sums<T>& acc, int x) const {
        if (int64_t(x) - radius_ - 1 >= 0) Subtract(acc, columns_[size_t(x - radius_ - 1)]);
        if (x >= 1 && int64_t(x) + radius_ <= width_ - 1) Add(acc, columns_[size_t(x + radius_)]);
    }

    static void Add(Sums<T>& a, const Sums<T>& c) { a.r += c.r, a.g += c.g, a.b += c.b, a.n += c.n; }
    static void Subtract(Sums<T>& a, const Sums<T>& c) {
        a.r -= c.r, a.g -= c.g, a.b -= c.b, a.n -= c.n;
    }

    TDIB& target_;
    int width_, height_;
    int64_t radius_;
    std::vector<Sums<T>> columns_;
    const uint8_t* sourceTop_ = nullptr;
    int sourceStep_ = 0;
    int sourceBits_ = 0;
    TColorTable sourceTable_{};
    DIBPixelFormat sourceFormat_;
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
    auto progress = [this](int y) { ProgressRow(y); };
    // 32-bit counters suffice while 255 × all pixels stays below 2^32.
    if (int64_t(Width()) * Height() * 255 < (int64_t(1) << 32))
        BoxBlur<uint32_t>(*this, source, int(r)).Run(progress);
    else
        BoxBlur<uint64_t>(*this, source, int(r)).Run(progress);
}

}  // namespace tilvorn
