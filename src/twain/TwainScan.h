// Scanning a picture for the poster: the scanner branch of changing the picture, below the
// window. The user picks a scanner, one image is acquired natively, and its packed DIB becomes
// a 24-bit picture with the same visible colours whatever the scan's depth.
#pragma once
#include "image/DIB.h"
#include "twain/TwainHost.h"

namespace tilvorn::twain {

/// Selects a source, acquires with any pixel type and replaces `picture` by the scan at
/// 24 bits. False when the scan was cancelled or failed: `picture` is left as it was (the
/// scanner layer has shown its own messages). Every acquired block is released, also when
/// making the picture fails with an error.
bool ScanPicture(TwainWindow window, TDIB& picture);

}  // namespace tilvorn::twain
