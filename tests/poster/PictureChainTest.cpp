// The picture chain as every caller takes it (the window, tilvorn-cli, the benchmarks), the
// printer's sheet, the output's layout from a recomputation, and the readers' warning hook.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/Exceptions.h"
#include "platform/DocumentRenderer.h"
#include "poster/Output.h"
#include "poster/PrinterSheet.h"
#include "poster/Sources.h"
#include "readers/JpegFile.h"
#include "readers/ReaderWarnings.h"
#include "support/RecordingPrinter.h"
#include "support/TestSupport.h"

using namespace tilvorn;
using namespace tilvorn::test;

namespace {

/// Records what the chain does to a window.
class TRecordingWindow : public TDocumentWindow {
public:
    std::unique_ptr<TDIB> picture;
    std::vector<int> progress;
    int replaced = 0;
    void SetProgressMax(int) override {}
    void SetProgress(int position) override { progress.push_back(position); }
    void ProcessMessages() override {}
    TDIB* SourceImage() override { return picture.get(); }
    void ReplaceSourceImage(std::unique_ptr<TDIB> newPicture) override {
        picture = std::move(newPicture);
        ++replaced;
    }
    void SetNewWidth(int) override {}
    void SelectSplitModeAsIs() override {}
};

uint32_t Grey(int, int, int, int) { return 0x808080; }

}  // namespace

TEST(PictureChain, PicturesAreReadAndOtherFilesRenderedForEveryCaller) {
    platform::TScriptedDocumentRenderer renderer;
    const std::string pdf = TempDir("chain") + "/page.pdf";
    WriteFileBytes(pdf, {'%', 'P', 'D', 'F'});
    renderer.scripts[pdf] = {{20, 30}, Grey, "", ""};

    struct Case {
        std::string file;
        int width, height, bits;
        size_t progressSteps;  // a rendered document goes through its stages, a read picture not
    } cases[] = {
        {DataPath("app/rgb.jpg"), ReadJpegFile(DataPath("app/rgb.jpg"))->Width(),
         ReadJpegFile(DataPath("app/rgb.jpg"))->Height(), 24, 0},
        {DataPath("app/palette8.bmp"), 40, 0, 8, 0},
        {pdf, 120, 180, 24, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        TRecordingWindow window;
        OpenPictureFile(window, c.file, renderer);
        ASSERT_TRUE(window.picture);
        EXPECT_EQ(window.replaced, 1);
        EXPECT_EQ(window.picture->Width(), c.width);
        if (c.height) {
            EXPECT_EQ(window.picture->Height(), c.height);
        }
        EXPECT_EQ(window.picture->BitCount(), c.bits);
        EXPECT_GE(window.progress.size(), c.progressSteps);
        if (!c.progressSteps) {
            EXPECT_TRUE(window.progress.empty());
        }

        // Without a window the same picture comes back.
        std::unique_ptr<TDIB> loaded = LoadPictureFile(c.file, renderer);
        EXPECT_EQ(loaded->Width(), window.picture->Width());
        EXPECT_EQ(loaded->Height(), window.picture->Height());
        EXPECT_EQ(loaded->BitCount(), window.picture->BitCount());
        EXPECT_EQ(
            std::memcmp(loaded->TopRow(), window.picture->TopRow(), size_t(loaded->Width()) * loaded->BitCount() / 8),
            0);
    }
    EXPECT_EQ(renderer.openDocuments, 0);
}

TEST(PictureChain, FailuresLeaveTheWindowsPictureAndNameTheReason) {
    platform::TScriptedDocumentRenderer renderer;
    const std::string dir = TempDir("chainfail");
    const std::string badBitmap = dir + "/bad.bmp", unknown = dir + "/letter.xyz";
    WriteFileBytes(badBitmap, {'B', 'M', 0, 0});
    WriteFileBytes(unknown, {'x'});
    TRecordingWindow window;
    window.picture = std::make_unique<TDIB>();
    window.picture->SetSize(3, 2, 24);
    TDIB* before = window.picture.get();
    EXPECT_THROW(OpenPictureFile(window, badBitmap, renderer), Exception);
    EXPECT_THROW(OpenPictureFile(window, unknown, renderer), platform::EDocumentError);
    EXPECT_EQ(window.picture.get(), before);
    EXPECT_THROW(LoadPictureFile(unknown, renderer), platform::EDocumentError);
}

TEST(DocumentRenderer, WithoutTheProgramsOwnNothingIsDrawnAndTheFileIsNamed) {
    // These tests never install the Qt renderer: the one in use draws nothing.
    try {
        platform::DocumentRenderer().Open("/some/where/letter.docx");
        FAIL() << "a renderer was installed";
    } catch (const platform::EDocumentError& e) {
        EXPECT_STREQ(e.what(), "Cannot open \"letter.docx\": nothing installed here can draw this kind of file.");
    }
    platform::TScriptedDocumentRenderer scripted;
    scripted.scripts["a.pdf"] = {{2, 2}, Grey, "", ""};
    {
        platform::ScopedDocumentRenderer use(scripted);
        EXPECT_TRUE(platform::DocumentRenderer().Open("a.pdf"));
    }
    EXPECT_THROW(platform::DocumentRenderer().Open("a.pdf"), platform::EDocumentError);
}

TEST(PrinterSheet, ReadsTheEightCapabilitiesOfTheCurrentPrinter) {
    platform::TRecordingPrinter printer;
    // A4 at 600 dpi with strips of 100 dots left and right, 150 at top and bottom.
    printer.AddDevice(platform::TRecordingPrinter::MakeDevice("Office", 600, 4960, 7016, 100, 150, 100, 150));
    TPrinterCaps caps = ReadPrinterCaps(printer);
    EXPECT_EQ(caps.LogPixelsX, 600);
    EXPECT_EQ(caps.LogPixelsY, 600);
    EXPECT_EQ(caps.PhysicalWidth, 4960);
    EXPECT_EQ(caps.PhysicalHeight, 7016);
    EXPECT_EQ(caps.PhysicalOffsetX, 100);
    EXPECT_EQ(caps.PhysicalOffsetY, 150);
    EXPECT_EQ(caps.HorzRes, 4960 - 200);
    EXPECT_EQ(caps.VertRes, 7016 - 300);
    TSheetGeometry sheet = SheetOfPrinter(printer);
    TSheetGeometry expected = SheetFromPrinter(caps);
    EXPECT_EQ(sheet.SheetWidthPx, expected.SheetWidthPx);
    EXPECT_EQ(sheet.OffsetRightPx, 100);
    EXPECT_EQ(sheet.OffsetBottomPx, 150);
}

TEST(SheetLayout, TakesEveryFieldFromTheSheetAndTheRecomputation) {
    TSheetGeometry sheet = SheetFromPaper(210, 297, PxPerMmFromDpi(300));
    sheet.OffsetLeftPx = 7;
    sheet.OffsetTopPx = 9;
    TMarginsAndOverlaps lengths;
    TLayout layout = ComputeLayout(sheet, lengths, {1000, 667}, 3000, 2000);
    TSheetLayout s = SheetLayoutOf(sheet, layout);
    EXPECT_EQ(s.SheetWidthPx, sheet.SheetWidthPx);
    EXPECT_EQ(s.SheetHeightPx, sheet.SheetHeightPx);
    EXPECT_EQ(s.OffsetLeftPx, 7);
    EXPECT_EQ(s.OffsetTopPx, 9);
    EXPECT_EQ(s.MarginXPx, layout.Conversion.MarginXPx);
    EXPECT_EQ(s.OverlapYPx, layout.Conversion.OverlapYPx);
    EXPECT_EQ(s.PrintWidthPx, layout.Conversion.PrintWidthPx);
    EXPECT_EQ(s.PosterWidthPx, layout.Poster.PosterWidthPx);
    EXPECT_EQ(s.PosterHeightPx, layout.Poster.PosterHeightPx);
    EXPECT_EQ(s.ScaleXNum, layout.Scale.ScaleXNum);
    EXPECT_EQ(s.ScaleYDen, layout.Scale.ScaleYDen);
    EXPECT_EQ(s.Columns, layout.Counts.Columns);
    EXPECT_EQ(s.Columns, 5);  // the worked example: 1000 mm on A4 portrait
}

TEST(ReaderWarnings, GoToTheInstalledHookAndAreDroppedWithout) {
    std::vector<std::string> seen;
    ReaderWarning("dropped", "Warning");  // no hook: nothing happens
    {
        ScopedReaderWarningHook hook(
            [&](const std::string& text, const std::string& caption) { seen.push_back(caption + ": " + text); });
        ReaderWarning("strip ends early", "Warning");
    }
    ReaderWarning("dropped again", "Warning");
    EXPECT_EQ(seen, std::vector<std::string>{"Warning: strip ends early"});
}
