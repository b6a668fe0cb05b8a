// The bytes of a SANE scan into the rows of a 24-bit picture, as they arrive.
//
// A scanner hands over one frame (grey, or red-green-blue pixels) or three frames (red, green
// and blue apart, in any order) in chunks of any length. Each frame is lines of
// `bytesPerLine` bytes, `pixelsPerLine` pixels of `depth` bits per sample: 1-bit samples are
// packed from the highest bit, 16-bit samples are in the machine's byte order. Grey and line
// art become grey pixels; in a grey frame of 1 bit a set bit is black (the opposite of the
// higher depths and of most picture files), in colour frames a set bit is full intensity.
// 16-bit samples keep their high byte.
//
// Only one line is kept besides the picture. A frame that does not say how many lines it has
// (a hand scanner) grows the picture as lines come and is cut to them at the end.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "image/DIB.h"

namespace tilvorn::sane {

enum class TSaneFrameFormat { Gray, RGB, Red, Green, Blue };

struct TSaneFrame {
    TSaneFrameFormat format = TSaneFrameFormat::Gray;
    int depth = 8;
    int bytesPerLine = 0;
    int pixelsPerLine = 0;
    int lines = 0;  // below 0: not known until the frame ends
};

class TSaneRows {
public:
    /// The rows go into picture, which is made 24 bits by the first frame (white where no
    /// line comes).
    explicit TSaneRows(TDIB& picture) : picture_(picture) {}

    /// Starts a frame; EInvalidGraphic when its layout cannot hold its pixels, or when a later
    /// frame of a three-frame scan has another size than the first.
    void BeginFrame(const TSaneFrame& frame);
    /// Takes the next count bytes of the frame; lines past the announced ones are dropped.
    void Write(const uint8_t* bytes, size_t count);
    /// Ends the frame: a picture of unknown height is cut to the lines that came.
    void EndFrame();

    /// Lines of the current frame completed so far.
    int Lines() const { return line_; }

private:
    void PutLine();
    void Grow();

    TDIB& picture_;
    TSaneFrame frame_;
    int width_ = 0, height_ = 0;  // of the picture once the first frame has begun
    bool sized_ = false;
    bool openHeight_ = false;  // the first frame is open and did not say how many lines it has
    std::vector<uint8_t> pending_;  // the line being filled
    size_t filled_ = 0;
    int line_ = 0;
};

}  // namespace tilvorn::sane
