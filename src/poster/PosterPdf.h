// One PDF file of the chosen sheets: a page per sheet at the paper's size, each showing its
// page window from the picture's own pixels (only the part the page needs, a JPEG picture's
// part cut from the file without decoding), with the guide lines as thin vector lines.
#pragma once
#include <string>
#include <vector>

#include "image/DIB.h"
#include "poster/Output.h"
#include "poster/Sources.h"

namespace tilvorn {

/// The PDF's title: the picture file's name (without its folder) + " poster".
std::string PosterPdfTitle(const TPictureOrigin& origin);

/// Writes pages (ascending; pages outside the poster are left out) of the poster into
/// fileName through a temporary file beside it, renamed when complete. colorDepth 8 gives grey
/// pages. Progress and cancelling as RunOutput; a cancelled run or an error leaves no file
/// under fileName. Errors raise EFCreateError or EWriteError with the system's reason.
/// With layout.Labels the assembly map is the first page and each sheet carries its labels.
/// Answers the number of sheet pages written.
int64_t WritePosterPdf(const TSheetLayout& layout, TDIB& picture, const TPictureOrigin& origin,
                       const std::vector<int>& pages, int colorDepth, const std::string& fileName, TOutputHost& host);

}  // namespace tilvorn
