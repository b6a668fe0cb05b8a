// Any bytes as a bitmap file and as a packed DIB: reading, decoding RLE, drawing, blurring and
// writing back must raise the program's errors or succeed, never touch memory outside buffers.
#include <cstdint>
#include <cstring>

#include "image/DIB.h"

using namespace tilvorn;

namespace {

// Drawing and blurring take time by the pixel, not by the path through the code: pictures
// above 8192 pixels (the corpus's largest is 127 × 64) are only read.
void Exercise(TDIB& dib) {
    if (dib.Empty() || int64_t(dib.Width()) * dib.Height() > (1 << 13)) return;
    TDIB target;
    target.SetSize(17, 13, 24);
    target.Canvas().StretchDraw(Rect(-3, 2, 20, 11), dib);  // drawn while still compressed
    dib.ScanLine(0);  // decoded
    TMemoryStream out;
    dib.SaveToStream(out);
    dib.Blur(8, 2);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    for (bool withFileHeader : {true, false}) {
        TCustomMemoryStream stream(data, int64_t(size));
        TDIB dib;
        try {
            if (withFileHeader)
                dib.LoadFromStream(stream);
            else
                dib.ReadData(stream);
            Exercise(dib);
        } catch (const Exception&) {}
    }
    return 0;
}
