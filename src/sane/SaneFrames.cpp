#include "sane/SaneFrames.h"

#include <algorithm>
#include <cstring>

#include "core/Exceptions.h"
#include "core/Format.h"

namespace tilvorn::sane {

namespace {

constexpr int kFirstOpenHeight = 64;  // rows of a picture of unknown height before it grows

[[noreturn]] void BadFrame() {
    throw EInvalidGraphic(Format("Cannot load image. Invalid or unexpected %s image format.", "SANE"));
}

// Sample index of a line as 8 bits, by depth.
uint8_t Sample1(const uint8_t* line, int i) { return (line[i >> 3] >> (7 - (i & 7))) & 1 ? 0xFF : 0; }
uint8_t Sample8(const uint8_t* line, int i) { return line[i]; }
uint8_t Sample16(const uint8_t* line, int i) {
    uint16_t sample;
    std::memcpy(&sample, line + 2 * size_t(i), 2);  // the machine's own byte order
    return uint8_t(sample >> 8);
}

using SampleReader = uint8_t (*)(const uint8_t*, int);

SampleReader ReaderFor(int depth) {
    switch (depth) {
        case 1:
            return Sample1;
        case 8:
            return Sample8;
        case 16:
            return Sample16;
        default:
            BadFrame();
    }
}

// Offset of a single-colour frame's channel in a blue-green-red pixel.
int ChannelOffset(TSaneFrameFormat format) {
    return format == TSaneFrameFormat::Red ? 2 : format == TSaneFrameFormat::Green ? 1 : 0;
}

void FillWhite(TDIB& picture, int fromRow) {
    for (int y = fromRow; y < picture.Height(); ++y) std::memset(picture.ScanLine(y), 0xFF, picture.Width() * 3);
}

// A new picture of height rows holding the first min(height, rows of old) rows of old.
void Resize(TDIB& picture, int height) {
    TDIB resized;
    resized.SetSize(picture.Width(), height, 24);
    const int kept = std::min(height, picture.Height());
    for (int y = 0; y < kept; ++y) std::memcpy(resized.ScanLine(y), picture.ScanLine(y), picture.Width() * 3);
    FillWhite(resized, kept);
    picture.Assign(resized);
}

}  // namespace

void TSaneRows::BeginFrame(const TSaneFrame& frame) {
    const int samples = frame.format == TSaneFrameFormat::RGB ? 3 : 1;
    ReaderFor(frame.depth);  // refuses depths other than 1, 8 and 16
    if (frame.pixelsPerLine <= 0 || frame.bytesPerLine <= 0 || frame.lines == 0 ||
        (int64_t(frame.pixelsPerLine) * samples * frame.depth + 7) / 8 > frame.bytesPerLine)
        BadFrame();
    if (!sized_) {
        width_ = frame.pixelsPerLine;
        openHeight_ = frame.lines < 0;
        height_ = openHeight_ ? kFirstOpenHeight : frame.lines;
        picture_.SetSize(width_, height_, 24);
        FillWhite(picture_, 0);
        sized_ = true;
    } else if (frame.pixelsPerLine != width_ || (frame.lines >= 0 && frame.lines != height_)) {
        BadFrame();  // the frames of one scan are one picture
    }
    frame_ = frame;
    pending_.assign(size_t(frame.bytesPerLine), 0);
    filled_ = 0;
    line_ = 0;
}

void TSaneRows::Write(const uint8_t* bytes, size_t count) {
    while (count > 0) {
        const size_t take = std::min(count, pending_.size() - filled_);
        std::memcpy(pending_.data() + filled_, bytes, take);
        filled_ += take;
        bytes += take;
        count -= take;
        if (filled_ == pending_.size()) {
            PutLine();
            filled_ = 0;
        }
    }
}

void TSaneRows::PutLine() {
    if (line_ >= height_) {
        if (!openHeight_) return;  // more than announced
        Grow();
    }
    const SampleReader sample = ReaderFor(frame_.depth);
    const uint8_t* in = pending_.data();
    uint8_t* out = picture_.ScanLine(line_);
    switch (frame_.format) {
        case TSaneFrameFormat::Gray: {
            const uint8_t flip = frame_.depth == 1 ? 0xFF : 0;  // a set bit is black
            for (int x = 0; x < width_; ++x) std::memset(out + 3 * x, sample(in, x) ^ flip, 3);
            break;
        }
        case TSaneFrameFormat::RGB:
            for (int x = 0; x < width_; ++x) {
                out[3 * x + 2] = sample(in, 3 * x);
                out[3 * x + 1] = sample(in, 3 * x + 1);
                out[3 * x] = sample(in, 3 * x + 2);
            }
            break;
        default: {
            const int channel = ChannelOffset(frame_.format);
            for (int x = 0; x < width_; ++x) out[3 * x + channel] = sample(in, x);
            break;
        }
    }
    ++line_;
}

void TSaneRows::Grow() {
    height_ *= 2;
    Resize(picture_, height_);
}

void TSaneRows::EndFrame() {
    if (!openHeight_) return;
    openHeight_ = false;  // the first frame fixes the height of the others
    if (line_ == 0) BadFrame();
    if (line_ == height_) return;
    height_ = line_;
    Resize(picture_, height_);
}

}  // namespace tilvorn::sane
