// Producing the chosen sheets: composing one sheet image per page (white paper, guide lines,
// the page's part of the picture enlarged and smoothed), then saving it as a JPEG file or
// printing it as a job of its own. Widgetless: the window's output buttons and
// tilvorn-cli poster run the same loop and differ only in their TOutputHost.
#pragma once
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "image/DIB.h"
#include "poster/Enlarge.h"
#include "poster/Geometry.h"

namespace tilvorn {

/// The geometry a run works from, as the last recomputation left it.
struct TSheetLayout {
    int SheetWidthPx = 0, SheetHeightPx = 0;
    int MarginXPx = 0, MarginYPx = 0;
    int OverlapXPx = 0, OverlapYPx = 0;
    int PrintWidthPx = 0, PrintHeightPx = 0;
    int PosterWidthPx = 0, PosterHeightPx = 0;
    int ScaleXNum = 1, ScaleXDen = 1, ScaleYNum = 1, ScaleYDen = 1;
    int OffsetLeftPx = 0, OffsetTopPx = 0;
    int64_t Columns = 1;
    TEnlargement Enlargement = TEnlargement::Smooth;
    bool Labels = false;  // assembly aids: labels on the sheets and a map sheet before them
    double PxPerMmX = 0, PxPerMmY = 0;  // the sheet's pixels per millimetre
};

/// The output's layout from a recomputation: the sheet it was made for and its result.
TSheetLayout SheetLayoutOf(const TSheetGeometry& sheet, const TLayout& layout);

/// Column and row of a page, both from 0.
struct TPagePlace {
    int64_t Column = 0, Row = 0;
};
TPagePlace PlaceOfPage(int64_t page, int64_t columns);

/// base + "(" column ";" row ").JPG", both from 1, column first.
std::string SheetFileName(const std::string& base, int64_t page, int64_t columns);
/// "(" row ";" column ")", both from 1, row first.
std::string PrintJobTitle(int64_t page, int64_t columns);
/// Whether the pause is offered after printing this page: its number is a multiple of 5.
bool BatchPromptDue(int64_t page, int64_t columns);

/// The picture region of a page, widened by one picture pixel before and two after, and the
/// page window's place inside the fragment made from it (64-bit throughout).
struct TPageRegion {
    int64_t Left = 0, Top = 0, Right = 0, Bottom = 0;
    int64_t FragmentWidth = 0, FragmentHeight = 0;
    int64_t WindowX = 0, WindowY = 0;  // K' and I'
    int64_t K = 0, I = 0;  // the page's offset in the poster
};
TPageRegion RegionOfPage(const TSheetLayout& layout, int64_t page);

/// The guide lines of a sheet, each one sheet pixel wide and across the whole sheet: the
/// columns of the vertical lines and the rows of the horizontal ones, in drawing order
/// (margins, overlaps, then where the poster ends on this sheet).
struct TGuideLines {
    std::vector<int64_t> Columns, Rows;
};
TGuideLines GuideLinesOf(const TSheetLayout& layout, const TPageRegion& region);

/// The blur radius of the fragments: half the whole enlargement factor.
int FragmentBlurRadius(const TSheetLayout& layout);

/// Composes page into sheet (made sheet-sized at colorDepth bits: 32, 24 or 8 grey), the
/// picture enlarged as layout.Enlargement says. step(1) after the fragment is cut, step(2)
/// after it is blurred, step(3) after the copy (smooth enlargement: all three once the page
/// window is drawn). A set stop ends the work between bands of rows with EAbort. The picture is
/// only read once PrepareForSheets has run, so sheets may be composed from it on several threads.
/// scratch, when given, keeps the working images from sheet to sheet of a run.
struct TSheetScratch;
void ComposeSheet(const TSheetLayout& layout, TDIB& picture, int64_t page, int colorDepth, TDIB& sheet,
                  const std::function<void(int)>& step = {}, const std::atomic<bool>* stop = nullptr,
                  TSheetScratch* scratch = nullptr);
/// What composing a sheet works in besides the sheet: the picture's part of the page for the
/// smooth enlargement, the fragment for the block enlargement. Memory fresh from the system
/// costs a page fault for every few kilobytes, so a run of sheets takes it once.
struct TSheetScratch {
    TPictureWords SourceWords;
    TDIB Fragment;
};
/// Unpacks a picture whose rows are still packed (RLE) or not yet laid out, once, before any
/// sheet reads it.
void PrepareForSheets(TDIB& picture);

/// A sheet's encoded bytes, in picture memory.
using TSheetBytes = std::vector<uint8_t, TPictureAllocator<uint8_t>>;

/// Encodes the sheet as a baseline three-component JPEG at quality 100. A set stop ends the
/// encoding between bands of rows with EAbort.
TSheetBytes EncodeSheetJpeg(const TDIB& sheet, const std::atomic<bool>* stop = nullptr);
/// The same into bytes, whose memory is used again (a run encodes sheet after sheet into the
/// same few buffers).
void EncodeSheetJpeg(const TDIB& sheet, TSheetBytes& bytes, const std::atomic<bool>* stop = nullptr);
/// Writes bytes to a temporary file beside fileName and renames it, so the name never holds
/// half a file; an existing file is replaced. Raises EFCreateError or EWriteError with the
/// system's reason.
void WriteFileBeside(const TSheetBytes& bytes, const std::string& fileName);
/// Writes the encoded sheet to a temporary file beside fileName and renames it, so the name
/// never holds half a sheet; an existing file is replaced. Raises EFCreateError or
/// EWriteError with the system's reason.
void WriteSheetJpeg(TDIB& sheet, const std::string& fileName);

/// Answers of the batch prompt (the platform's message box results).
inline constexpr int kIdAbort = 3, kIdRetry = 4, kIdIgnore = 5;

/// What a run needs from its surroundings.
class TOutputHost {
public:
    virtual ~TOutputHost() = default;
    /// Overall progress: position and maximum; sheet progress 0..3.
    virtual void OverallProgress(int64_t position, int64_t maximum) {}
    virtual void SheetProgress(int position) {}
    /// The batch prompt; answers kIdAbort, kIdRetry or kIdIgnore.
    virtual int BatchPrompt() { return kIdRetry; }
    /// After each sheet: lets other events through; answers true to stop the run.
    virtual bool Cancelled() { return false; }
    /// While a sheet in the making keeps the run waiting (from a quarter of a second on, every
    /// 50 ms): lets other events through; answers true to stop the run at once, the sheets in
    /// the making dropped.
    virtual bool Interrupted() { return false; }
    /// Each file written.
    virtual void Saved(const std::string& fileName) {}
};

enum class TOutputMode { Save, Print };

/// Composes and outputs every page of pages (ascending) in order; saving writes
/// SheetFileName(base, …), printing makes one job per sheet on platform::Printer(). Answers
/// the number of sheets output. With layout.Labels the assembly map comes first, saved as
/// BASE(map).JPG or printed as a job titled "(map)". An error ends the run and propagates; sheets output before
/// it stay. The next sheets are made on worker threads while one is output (two at a time), so
/// that both cores work; files are written and jobs printed in page order, and every call
/// of host comes from the calling thread. At most two sheets are in the making or waiting to be
/// printed at any time.
int64_t RunOutput(TOutputMode mode, const TSheetLayout& layout, TDIB& picture, const std::vector<int>& pages,
                  int colorDepth, const std::string& base, TOutputHost& host);

}  // namespace tilvorn
