// Bitmap files, packed DIBs (the clipboard's CF_DIB) and the RLE8/RLE4 decoder.
//
// File layout: 14-byte file header ("BM", file size, two reserved words, pixel offset), then the
// packed DIB: a 12-byte core header (OS/2) or a 40-byte info header, or one of the later 108-
// and 124-byte versions whose first 40 bytes are the info header; masks for bit fields; the
// colour table; the pixel rows, bottom row first unless the height is negative.
#include <algorithm>
#include <bit>
#include <cstring>

#include "core/ByteOrder.h"
#include "core/Format.h"
#include "image/DIB.h"

namespace tilvorn {

namespace {

constexpr const char* kDIBInvalid = "DIB is invalid";

/// Bytes left in the stream, or -1 when the stream cannot say.
int64_t Remaining(TStream& stream) {
    int64_t size = stream.Size();
    int64_t position = stream.Position();
    return size >= position ? size - position : -1;
}

void CheckBitCountAndFormat(int bitCount, const DIBPixelFormat& format) {
    // The same checks Allocate makes, done before any memory is asked for.
    TDIBStore probe;
    probe.Allocate(1, 1, bitCount, format, GreyColorTable(), true, false);
}

}  // namespace

void TDIBStore::ReadFromStream(TStream& stream, bool memoryImage, int64_t pixelOffset) {
    Reset();
    MemoryImage = memoryImage;
    uint8_t header[124] = {};
    int64_t got = stream.Read(header, 4);
    if (got == 0) return;  // nothing there: the empty picture
    if (got < 4) throw EInvalidGraphic(kDIBInvalid);
    uint32_t headerSize = LE32(header);

    BITMAPINFOHEADER info;
    bool core = headerSize == kCoreHeaderSize;
    if (core) {
        stream.ReadBuffer(header + 4, 8);
        info.biWidth = LE16(header + 4);
        info.biHeight = LE16(header + 6);
        info.biPlanes = LE16(header + 8);
        info.biBitCount = LE16(header + 10);
    } else if (headerSize == 40 || headerSize == 52 || headerSize == 56 || headerSize == 108 || headerSize == 124) {
        // The later versions start with the 40-byte header and go on with the red, green,
        // blue and (from 56 bytes) alpha masks; their colour space, gamma and profile fields
        // are skipped.
        stream.ReadBuffer(header + 4, int64_t(headerSize) - 4);
        info = BITMAPINFOHEADER::Decode(header);
    } else {
        throw EInvalidGraphic(kDIBInvalid);
    }

    DIBPixelFormat format = info.biBitCount == 16 ? pf555 : pf888;
    uint32_t fileMasks[4] = {0, 0, 0, 0};
    if (info.biCompression == BI_BITFIELDS && !core) {
        uint8_t masks[16] = {};
        if (headerSize == kInfoHeaderSize)
            stream.ReadBuffer(masks, 12);
        else
            std::memcpy(masks, header + 40, headerSize >= 56 ? 16 : 12);
        for (int i = 0; i < 4; ++i) fileMasks[i] = LE32(masks + 4 * i);
        format = DIBPixelFormat::FromMasks(fileMasks[0], fileMasks[1], fileMasks[2]);
    }
    // Only an alpha mask of a whole byte beside bit fields makes the fourth byte alpha, as
    // the common readers take it; plain 32-bit pixels keep it unused.
    if (info.biBitCount != 32 || std::popcount(fileMasks[3]) != 8) fileMasks[3] = 0;

    uint32_t count = info.biClrUsed;
    if (count == 0 && info.biBitCount <= 8) count = 1u << info.biBitCount;
    count = std::min<uint32_t>(count, 256);
    TColorTable table{};
    int64_t tableStart = stream.Position();
    if (core) {
        uint8_t triples[3 * 256];
        stream.ReadBuffer(triples, 3 * int64_t(count));
        for (uint32_t i = 0; i < count; ++i) table[i] = {triples[3 * i], triples[3 * i + 1], triples[3 * i + 2], 0};
    } else {
        stream.ReadBuffer(table.data(), 4 * int64_t(count));
    }

    // A zero width or height is an empty picture; a negative width cannot be drawn.
    if (info.biWidth < 0) throw EInvalidGraphic(kDIBInvalid);
    int height = info.biHeight < 0 ? -int(std::max(info.biHeight, -INT32_MAX)) : info.biHeight;
    bool compressed = info.biCompression == BI_RLE8 || info.biCompression == BI_RLE4;
    CheckBitCountAndFormat(info.biBitCount, format);
    if (info.biCompression > BI_BITFIELDS) throw EInvalidGraphic(kDIBInvalid);
    if (compressed && info.biBitCount != (info.biCompression == BI_RLE8 ? 8 : 4)) throw EInvalidGraphic(kDIBInvalid);
    if (info.biWidth == 0 || height == 0) {
        Reset();
        MemoryImage = memoryImage;
        return;
    }

    // Writers may leave a gap between the colour table and the pixels (or write a shorter
    // table than the bit count implies); the file header's pixel offset says where they are.
    if (pixelOffset >= tableStart && pixelOffset < stream.Size() && pixelOffset != stream.Position()) {
        int entrySize = core ? 3 : 4;
        int64_t entries = (pixelOffset - tableStart) / entrySize;
        for (int64_t i = entries; i < 256; ++i) table[size_t(i)] = {};
        stream.SetPosition(pixelOffset);
    }

    // The stream's length bounds what can be read: a header that promises more than the
    // stream holds fails as a short read before anything is allocated for it.
    int64_t left = Remaining(stream);
    int64_t rowBytes = DIBRowBytes(info.biWidth, info.biBitCount);
    if (!compressed && left >= 0 && rowBytes > left / height) throw EReadError(kStreamReadError);
    if (compressed) {
        int64_t size = info.biSizeImage;
        // RLE data whose size field is 0 runs to the end of the stream.
        if (size == 0) size = left > 0 ? left : 0;
        if (size == 0) throw EInvalidGraphic(kDIBInvalid);
        if (left >= 0 && size > left) throw EReadError(kStreamReadError);
        Allocate(info.biWidth, height, info.biBitCount, format, table, memoryImage, true);
        std::vector<uint8_t> data(static_cast<size_t>(size));
        stream.ReadBuffer(data.data(), size);
        SetCompressedData(data.data(), int(size));
        return;
    }
    Allocate(info.biWidth, height, info.biBitCount, format, table, memoryImage, false);
    if (info.biHeight >= 0) {
        stream.ReadBuffer(Pixels, Size);
    } else {
        for (int i = 0; i < Height; ++i) stream.ReadBuffer(TopRow + int64_t(i) * RowStep, RowBytes);
    }
    if (info.biCompression == BI_BITFIELDS) MovePackedChannels(fileMasks);
    AlphaChannel = fileMasks[3] != 0;
}

// Files may place their channels anywhere (blue on top, alpha at the bottom, ...): the
// picture's own layout has them at the standard positions of their widths, so the pixels are
// moved there instead of being shown in the wrong colours. An alpha mask (the fourth, 0 for
// none) goes to the fourth byte.
void TDIBStore::MovePackedChannels(const uint32_t fileMasks[4]) {
    uint32_t standard[4] = {uint32_t(PixelFormat.RedMask), uint32_t(PixelFormat.GreenMask),
                            uint32_t(PixelFormat.BlueMask), fileMasks[3] ? 0xFF000000u : 0u};
    if (std::equal(standard, standard + 4, fileMasks)) return;
    int from[4], to[4];
    for (int c = 0; c < 4; ++c) {
        from[c] = fileMasks[c] ? std::countr_zero(fileMasks[c]) : 0;
        to[c] = standard[c] ? std::countr_zero(standard[c]) : 0;
    }
    int bytes = BitCount / 8;
    for (int y = 0; y < Height; ++y) {
        uint8_t* row = Pixels + int64_t(y) * RowBytes;
        for (int x = 0; x < Width; ++x) {
            uint8_t* p = row + x * bytes;
            uint32_t v = 0;
            for (int i = 0; i < bytes; ++i) v |= uint32_t(p[i]) << (8 * i);
            uint32_t out = 0;
            for (int c = 0; c < 4; ++c) {
                // The channel's run of bits starting at its lowest set bit, as wide as the
                // standard mask takes.
                uint32_t width = standard[c] >> to[c];
                out |= (((v >> from[c]) & width) << to[c]);
            }
            for (int i = 0; i < bytes; ++i) p[i] = uint8_t(out >> (8 * i));
        }
    }
}

void DecodeRLE(const uint8_t* data, int size, uint32_t compression, TDIBStore& target) {
    if (!data || size <= 0 || !target.Pixels) return;
    bool rle4 = compression == BI_RLE4;
    // Runs are indices of the target's own depth: any other target would be written past.
    if (target.BitCount != (rle4 ? 4 : 8)) return;
    int width = target.Width, height = target.Height;
    auto put = [&](int x, int y, int value) {
        if (x < 0 || x >= width || y < 0 || y >= height) return;  // clipped
        uint8_t* row = target.Pixels + int64_t(y) * target.RowBytes;
        if (!rle4) {
            row[x] = uint8_t(value);
        } else if (x & 1) {
            row[x >> 1] = uint8_t((row[x >> 1] & 0xF0) | (value & 0x0F));
        } else {
            row[x >> 1] = uint8_t((row[x >> 1] & 0x0F) | (value << 4));
        }
    };
    int64_t x = 0, y = 0, pos = 0;
    while (pos + 2 <= size && y < height) {
        int first = data[pos], second = data[pos + 1];
        pos += 2;
        if (first != 0) {
            for (int i = 0; i < first; ++i) {
                int value = !rle4 ? second : (i & 1) ? second & 0x0F : second >> 4;
                put(int(std::min<int64_t>(x + i, INT32_MAX)), int(y), value);
            }
            x += first;
        } else if (second == 0) {
            x = 0;
            ++y;
        } else if (second == 1) {
            break;
        } else if (second == 2) {
            if (pos + 2 > size) break;
            x += data[pos];
            y += data[pos + 1];
            pos += 2;
        } else {
            int n = second;
            int64_t bytes = rle4 ? (n + 1) / 2 : n;
            int64_t available = std::min<int64_t>(bytes, size - pos);
            for (int i = 0; i < n; ++i) {
                int64_t at = rle4 ? i / 2 : i;
                if (at >= available) break;
                int value = !rle4 ? data[pos + at] : (i & 1) ? data[pos + at] & 0x0F : data[pos + at] >> 4;
                put(int(std::min<int64_t>(x + i, INT32_MAX)), int(y), value);
            }
            x += n;
            pos += bytes;
        }
        pos = (pos + 1) & ~int64_t(1);  // commands start at even offsets
    }
}

void TDIB::LoadFromStream(TStream& stream) {
    uint8_t fileHeader[kFileHeaderSize];
    int64_t start = stream.Position();
    int64_t got = stream.Read(fileHeader, kFileHeaderSize);
    if (got == 0) return;
    if (got < kFileHeaderSize || LE16(fileHeader) != kBitmapFileType) throw EInvalidGraphic(kDIBInvalid);
    pixelOffset_ = start + LE32(fileHeader + 10);
    try {
        ReadData(stream);
    } catch (...) {
        pixelOffset_ = -1;
        throw;
    }
    pixelOffset_ = -1;
}

void TDIB::ReadData(TStream& stream) {
    auto* image = new TDIBStore;
    try {
        image->ReadFromStream(stream, image_->MemoryImage, pixelOffset_);
    } catch (...) {
        delete image;
        throw;
    }
    SetImage(image);
}

void TDIB::WriteData(TStream& stream) {
    if (Empty()) return;
    stream.WriteBuffer(image_->Header.data(), image_->HeaderSize);
    uint32_t imageSize = LE32(image_->Header.data() + 20);
    stream.WriteBuffer(image_->Pixels, std::min<int64_t>(imageSize, image_->Size));
}

void TDIB::SaveToStream(TStream& stream) {
    if (Empty()) return;
    uint32_t imageSize = LE32(image_->Header.data() + 20);
    uint8_t fileHeader[kFileHeaderSize] = {};
    uint32_t offset = uint32_t(kFileHeaderSize + image_->HeaderSize);
    uint32_t fileSize = offset + imageSize;
    fileHeader[0] = 'B';
    fileHeader[1] = 'M';
    for (int i = 0; i < 4; ++i) {
        fileHeader[2 + i] = uint8_t(fileSize >> (8 * i));
        fileHeader[10 + i] = uint8_t(offset >> (8 * i));
    }
    stream.WriteBuffer(fileHeader, kFileHeaderSize);
    WriteData(stream);
}

void TDIB::LoadFromClipboardFormat(uint16_t format, platform::HGLOBAL data, HPALETTE palette) {
    TGlobalMemoryStream stream(data);
    ReadData(stream);
}

void TDIB::SaveToClipboardFormat(uint16_t& format, platform::HGLOBAL& data, HPALETTE& palette) {
    format = CF_DIB;
    palette = nullptr;
    TMemoryStream stream;
    WriteData(stream);
    platform::HGLOBAL block = platform::GlobalAlloc(platform::GHND, size_t(stream.Size()));
    if (!block) throw EOutOfMemory("Out of memory");
    if (stream.Size() > 0) {
        void* memory = platform::GlobalLock(block);
        std::memcpy(memory, stream.Memory(), size_t(stream.Size()));
        platform::GlobalUnlock(block);
    }
    data = block;
}

}  // namespace tilvorn
