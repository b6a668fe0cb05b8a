// Any bytes as the packed DIB a scanner hands over: reading its header, making its palette,
// painting it and writing it as a bitmap file must stay inside the block.
#include <cstring>

#include "core/Streams.h"
#include "image/DIB.h"
#include "core/GlobalMemory.h"
#include "twain/TwainDib.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tilvorn;
    platform::HGLOBAL block = platform::GlobalAlloc(platform::GMEM_MOVEABLE, size);
    if (!block) return 0;
    if (size) std::memcpy(platform::GlobalLock(block), data, size), platform::GlobalUnlock(block);
    twain::TwainDibPixelWidth(block);
    twain::TwainDibPixelHeight(block);
    twain::TwainDibColorCount(block);
    DeletePalette(twain::TwainDibPalette(block));
    TDIB target;
    target.SetSize(16, 16, 24);
    twain::TwainPaintDib(target.Canvas(), 0, 0, 16, 16, block, 0, 0);
    TMemoryStream file;
    twain::TwainSaveDibToOpenFile(block, file);
    platform::GlobalFree(block);
    return 0;
}
