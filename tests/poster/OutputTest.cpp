#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "readers/JpegFile.h"
#include "poster/Output.h"
#include "poster/Preview.h"
#include "poster/Sources.h"
#include "core/Exceptions.h"
#include "core/PictureMemory.h"
#include "image/DIB.h"
#include "poster/Geometry.h"
#include "support/RecordingPrinter.h"
#include "support/TestSupport.h"

namespace tilvorn::test {
namespace {

TEST(SheetNames, FileNamesAndJobTitlesCarryColumnAndRow) {
    struct Case {
        std::string base;
        int page, columns;
        std::string file, title;
    } cases[] = {
        {"wall", 7, 3, "wall(1;3).JPG", "(3;1)"},
        {"wall.jpg", 1, 3, "wall.jpg(1;1).JPG", "(1;1)"},
        {"/tmp/p", 6, 3, "/tmp/p(3;2).JPG", "(2;3)"},
        {"x", 12, 4, "x(4;3).JPG", "(3;4)"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(SheetFileName(c.base, c.page, c.columns), c.file) << c.page;
        EXPECT_EQ(PrintJobTitle(c.page, c.columns), c.title) << c.page;
    }
}

TEST(SheetNames, BatchPromptFollowsThePageNumber) {
    std::vector<int> due;
    for (int page = 1; page <= 12; ++page)
        if (BatchPromptDue(page, 3)) due.push_back(page);
    EXPECT_EQ(due, (std::vector<int>{5, 10}));
}

// A layout of 3 columns of 100 × 80 pixel sheets with 10/8 pixel margins and 6 pixel overlaps,
// enlarged in blocks unless a test asks for the smooth enlargement.
TSheetLayout SmallLayout(int num, int den) {
    TSheetLayout l;
    l.SheetWidthPx = 100;
    l.SheetHeightPx = 80;
    l.MarginXPx = 10;
    l.MarginYPx = 8;
    l.OverlapXPx = 6;
    l.OverlapYPx = 6;
    l.PrintWidthPx = 80;
    l.PrintHeightPx = 64;
    l.PosterWidthPx = 200;
    l.PosterHeightPx = 100;
    l.ScaleXNum = l.ScaleYNum = num;
    l.ScaleXDen = l.ScaleYDen = den;
    l.Columns = 3;
    l.Enlargement = TEnlargement::Blocks;
    return l;
}

TEST(ComposeSheet, BlurRadiusIsHalfTheWholeEnlargement) {
    struct Case {
        int num, den, radius;
    } cases[] = {{19, 10, 0}, {2, 1, 1}, {39, 10, 1}, {4, 1, 2}, {59, 10, 2}, {1, 3, 0}};
    for (const Case& c : cases) EXPECT_EQ(FragmentBlurRadius(SmallLayout(c.num, c.den)), c.radius) << c.num;
}

// A picture whose every pixel tells its own coordinates: red = x, green = y, blue = 77.
std::unique_ptr<TDIB> CoordinatePicture(int width, int height) {
    auto picture = std::make_unique<TDIB>();
    picture->SetSize(width, height, 24);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = picture->ScanLine(y);
        for (int x = 0; x < width; ++x) {
            row[x * 3] = 77;
            row[x * 3 + 1] = uint8_t(y);
            row[x * 3 + 2] = uint8_t(x);
        }
    }
    return picture;
}

TColor Pixel(TDIB& image, int x, int y) { return GetStorePixel(*image.Image(), x, y); }

TEST(ComposeSheet, GuideLinesPosterEdgeAndPageWindow) {
    // Poster 200 px wide from a 100 px picture: scale 2:1, so no blur smooths the content
    // away (radius 1 on a 2× nearest stretch keeps the pairs' average readable).
    TSheetLayout l = SmallLayout(1, 1);
    auto picture = CoordinatePicture(200, 100);
    TDIB sheet;
    // Page 3: column 2, row 0; K = 74 × 2 = 148, the poster ends at 200 - 148 = 52 in the window.
    std::vector<int> steps;
    ComposeSheet(l, *picture, 3, 24, sheet, [&](int s) { steps.push_back(s); });
    EXPECT_EQ(steps, (std::vector<int>{1, 2, 3}));
    ASSERT_EQ(sheet.Width(), 100);
    ASSERT_EQ(sheet.Height(), 80);
    // Guide lines in the margin strips (outside the page window), whole at the far sides.
    for (int x : {10, 16, 90, 84}) EXPECT_EQ(Pixel(sheet, x, 2), clBlack) << x;
    for (int y : {8, 14, 72, 66}) EXPECT_EQ(Pixel(sheet, 2, y), clBlack) << y;
    EXPECT_EQ(Pixel(sheet, 90, 40), clBlack);
    EXPECT_EQ(Pixel(sheet, 50, 72), clBlack);
    EXPECT_EQ(Pixel(sheet, 5, 2), clWhite);
    // The poster's right edge at x = 10 + 200 - 148 = 62, drawn in the strips.
    EXPECT_EQ(Pixel(sheet, 62, 2), clBlack);
    // The page window shows poster pixel (148 + dx, dy) = picture pixel at scale 1.
    for (int dx : {0, 5, 40}) {
        TColor c = Pixel(sheet, 10 + dx, 8 + 20);
        EXPECT_EQ(ColorRed(c), 148 + dx) << dx;
        EXPECT_EQ(ColorGreen(c), 20) << dx;
        EXPECT_EQ(ColorBlue(c), 77) << dx;
    }
    // Beyond the poster's edge the page window is white paper.
    EXPECT_EQ(Pixel(sheet, 10 + 60, 30), clWhite);
}

TEST(ComposeSheet, EnlargedPictureIsStretchedAndBlurred) {
    TSheetLayout l = SmallLayout(4, 1);  // 50 × 25 picture → 200 × 100 poster, blur radius 2
    TDIB picture;
    picture.SetSize(50, 25, 24);
    for (int y = 0; y < 25; ++y) std::memset(picture.ScanLine(y), 0, 150);
    for (int y = 0; y < 25; ++y)
        for (int x = 25; x < 50; ++x) std::memset(picture.ScanLine(y) + x * 3, 200, 3);  // right half light
    TDIB sheet;
    ComposeSheet(l, picture, 2, 24, sheet);  // K = 74: the edge at poster x = 100 lies at window x 26
    int edge = 10 + 26;
    EXPECT_EQ(ColorRed(Pixel(sheet, edge - 10, 30)), 0);
    EXPECT_EQ(ColorRed(Pixel(sheet, edge + 10, 30)), 200);
    int soft = ColorRed(Pixel(sheet, edge - 1, 30));
    EXPECT_GT(soft, 0);  // the blur mixes across the step
    EXPECT_LT(soft, 200);
}

TEST(ComposeSheet, GreySheetsAtEightBits) {
    TSheetLayout l = SmallLayout(1, 1);
    auto picture = CoordinatePicture(200, 100);
    TDIB sheet;
    ComposeSheet(l, *picture, 1, 8, sheet);
    EXPECT_EQ(sheet.BitCount(), 8);
    TColor c = Pixel(sheet, 40, 40);
    EXPECT_EQ(ColorRed(c), ColorGreen(c));
    EXPECT_EQ(ColorGreen(c), ColorBlue(c));
}

TEST(SaveSheet, WrittenFileDecodesAsBaselineRgbAndNoTemporaryStays) {
    TSheetLayout l = SmallLayout(1, 1);
    auto picture = CoordinatePicture(200, 100);
    TDIB sheet;
    ComposeSheet(l, *picture, 1, 24, sheet);
    std::string dir = TempDir("savesheet");
    std::string name = dir + "/wall(1;1).JPG";
    { std::ofstream(name) << "old"; }
    WriteSheetJpeg(sheet, name);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), std::filesystem::directory_iterator()), 1);
    auto decoded = ReadJpegFile(name);
    ASSERT_EQ(decoded->Width(), 100);
    ASSERT_EQ(decoded->Height(), 80);
    TColor c = Pixel(*decoded, 10 + 30, 8 + 20);
    EXPECT_NEAR(ColorRed(c), 30, 3);
    EXPECT_NEAR(ColorGreen(c), 20, 3);
    EXPECT_NEAR(ColorBlue(c), 77, 3);
    // ImageMagick reads it as a baseline (not interlaced) three-channel file at quality 100.
    if (!HaveTool("/usr/bin/identify")) GTEST_SKIP() << "ImageMagick missing";
    std::string out = dir + "/info.txt";
    ASSERT_EQ(
        tilvorn::test::Run("/usr/bin/identify -format '%m %w %h %[interlace] %[channels] %Q' '" + name + "' > " + out),
        0);
    std::ifstream info(out);
    std::string line;
    std::getline(info, line);
    EXPECT_EQ(line, "JPEG 100 80 None srgb 100");
}

TEST(SaveSheet, FailureNamesTheReasonAndLeavesNoFile) {
    TSheetLayout l = SmallLayout(1, 1);
    auto picture = CoordinatePicture(200, 100);
    TDIB sheet;
    ComposeSheet(l, *picture, 1, 24, sheet);
    try {
        WriteSheetJpeg(sheet, "/nonexistent-dir/x(1;1).JPG");
        FAIL() << "no error";
    } catch (const EFCreateError& e) {
        EXPECT_NE(std::string(e.what()).find("No such file or directory"), std::string::npos) << e.what();
    }
}

class RunRecorder : public TOutputHost {
public:
    std::vector<int> answers;
    int prompts = 0;
    int cancelAfter = -1;
    int sheets = 0;
    std::vector<std::string> saved;
    int lastSheetProgress = -1;
    int64_t lastOverall = -1;
    int BatchPrompt() override {
        ++prompts;
        int a = answers.empty() ? kIdRetry : answers.front();
        if (!answers.empty()) answers.erase(answers.begin());
        return a;
    }
    bool Cancelled() override { return ++sheets == cancelAfter; }
    void Saved(const std::string& f) override { saved.push_back(f); }
    void SheetProgress(int p) override { lastSheetProgress = p; }
    void OverallProgress(int64_t p, int64_t) override { lastOverall = p; }
};

TEST(RunOutput, PrintingPromptsAfterPagesDivisibleByFive) {
    struct Case {
        std::vector<int> pages;
        std::vector<int> answers;
        int jobs, prompts;
    } cases[] = {
        {{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}, {}, 12, 2},
        {{3, 7, 12}, {}, 3, 0},
        {{1, 2, 3, 4, 5}, {}, 5, 1},
        {{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}, {kIdIgnore}, 12, 1},
        {{1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12}, {kIdAbort}, 5, 1},
    };
    auto picture = CoordinatePicture(200, 100);
    TSheetLayout l = SmallLayout(1, 1);
    l.Columns = 3;
    l.OffsetLeftPx = 12;
    l.OffsetTopPx = 7;
    for (const Case& c : cases) {
        platform::TRecordingPrinter printer;
        printer.AddDevice(platform::TRecordingPrinter::MakeDevice("P", 300, 100, 80, 12, 7, 0, 0));
        platform::ScopedPrinter use(printer);
        RunRecorder host;
        host.answers = c.answers;
        RunOutput(TOutputMode::Print, l, *picture, c.pages, 24, "", host);
        EXPECT_EQ(int(printer.jobs.size()), c.jobs);
        EXPECT_EQ(host.prompts, c.prompts);
        EXPECT_EQ(host.lastSheetProgress, 0);
        EXPECT_EQ(host.lastOverall, 0);
        ASSERT_FALSE(printer.jobs.empty());
        EXPECT_EQ(printer.jobs[0].title, PrintJobTitle(c.pages[0], 3));
        EXPECT_TRUE(printer.jobs[0].ended);
        ASSERT_EQ(printer.jobs[0].drawings.size(), 1u);
        EXPECT_EQ(printer.jobs[0].drawings[0].x, -13);
        EXPECT_EQ(printer.jobs[0].drawings[0].y, -8);
        EXPECT_EQ(printer.jobs[0].drawings[0].picture->Width(), 100);
    }
}

TEST(RunOutput, CancelStopsAfterTheCurrentSheetAndErrorsKeepEarlierSheets) {
    auto picture = CoordinatePicture(200, 100);
    TSheetLayout l = SmallLayout(1, 1);
    std::string dir = TempDir("runsave");
    RunRecorder host;
    host.cancelAfter = 2;
    EXPECT_EQ(RunOutput(TOutputMode::Save, l, *picture, {1, 2, 3, 4, 5, 6}, 24, dir + "/p", host), 2);
    EXPECT_EQ(host.saved, (std::vector<std::string>{dir + "/p(1;1).JPG", dir + "/p(2;1).JPG"}));

    // The third sheet cannot be written: a directory holds its name.
    std::filesystem::create_directory(dir + "/q(3;1).JPG");
    RunRecorder failing;
    EXPECT_THROW(RunOutput(TOutputMode::Save, l, *picture, {1, 2, 3, 4}, 24, dir + "/q", failing), EFCreateError);
    EXPECT_TRUE(std::filesystem::exists(dir + "/q(1;1).JPG"));
    EXPECT_TRUE(std::filesystem::exists(dir + "/q(2;1).JPG"));
    EXPECT_FALSE(std::filesystem::exists(dir + "/q(4;1).JPG"));
}

// libjpeg-turbo's own encoder given the composed sheet, with the saved sheets' settings:
// baseline, 4:2:0, quality 100, the accurate DCT; grey rows as three equal components.
std::vector<unsigned char> PeerJpeg(TDIB& sheet) {
    const TDIBStore& s = *sheet.Image();
    std::vector<unsigned char> wide;
    const unsigned char* pixels = s.Pixels;
    int pitch = s.RowBytes, format = s.BitCount == 32 ? TJPF_BGRX : TJPF_BGR;
    if (s.BitCount == 8) {
        wide.resize(size_t(s.Width) * 3 * size_t(s.Height));
        for (int y = 0; y < s.Height; ++y)
            for (int x = 0; x < s.Width; ++x)
                for (int c = 0; c < 3; ++c) wide[(size_t(y) * s.Width + x) * 3 + c] = s.Pixels[y * s.RowBytes + x];
        pixels = wide.data();
        pitch = s.Width * 3;
    }
    tjhandle encoder = tjInitCompress();
    unsigned char* out = nullptr;
    unsigned long size = 0;
    EXPECT_EQ(tjCompress2(encoder, pixels, s.Width, pitch, s.Height, format, &out, &size, TJSAMP_420, 100,
                          TJFLAG_BOTTOMUP | TJFLAG_ACCURATEDCT),
              0);
    std::vector<unsigned char> bytes(out, out + size);
    tjFree(out);
    tjDestroy(encoder);
    return bytes;
}

// Sheets are made two at a time on worker threads; they must still come out in page order, each
// the sheet of its own page as libjpeg-turbo alone encodes it.
TEST(RunOutput, SheetsMadeTwoAtATimeComeOutInPageOrderAsLibjpegTurboEncodesThem) {
    auto picture = CoordinatePicture(200, 100);
    for (TEnlargement enlargement : {TEnlargement::Smooth, TEnlargement::Blocks})
        for (int depth : {24, 32, 8}) {
            SCOPED_TRACE(depth);
            TSheetLayout l = SmallLayout(2, 1);
            l.Enlargement = enlargement;
            const std::string dir = TempDir("inorder" + std::to_string(depth));
            RunRecorder host;
            const std::vector<int> pages{1, 2, 3, 4, 5, 6};
            EXPECT_EQ(RunOutput(TOutputMode::Save, l, *picture, pages, depth, dir + "/p", host), 6);
            std::vector<std::string> names;
            for (int page : pages) names.push_back(SheetFileName(dir + "/p", page, l.Columns));
            EXPECT_EQ(host.saved, names);
            EXPECT_EQ(host.sheets, 6);
            for (int page : pages) {
                TDIB sheet;
                ComposeSheet(l, *picture, page, depth, sheet);
                EXPECT_EQ(ReadFileBytes(names[size_t(page - 1)]), PeerJpeg(sheet)) << page;
            }
        }
}

class TStopAtOnce : public RunRecorder {
public:
    int asked = 0;
    bool Interrupted() override {
        ++asked;
        return true;
    }
};

// A sheet of a 1200-DPI printer keeps the run waiting; the host is asked meanwhile, and its
// stop ends the run at once: no sheet in the making is output, none is left half written.
TEST(RunOutput, AStopWhileSheetsAreInTheMakingEndsTheRunAtOnce) {
    auto picture = CoordinatePicture(600, 400);
    TSheetGeometry sheet = SheetFromPaper(210, 297, PxPerMmFromDpi(1200));
    TPosterSize size;
    size.NewWidth = 400;
    size.NewHeight = FollowProportion(size.NewWidth, 600, 400);
    TSheetLayout l = SheetLayoutOf(sheet, ComputeLayout(sheet, TMarginsAndOverlaps{}, size, 600, 400));
    const std::string dir = TempDir("stopatonce");
    for (TOutputMode mode : {TOutputMode::Save, TOutputMode::Print}) {
        platform::TRecordingPrinter printer;
        printer.AddDevice(platform::TRecordingPrinter::MakeDevice("P", 1200, 9917, 14033, 0, 0, 0, 0));
        platform::ScopedPrinter use(printer);
        TStopAtOnce host;
        EXPECT_EQ(RunOutput(mode, l, *picture, {1, 2, 3}, 24, dir + "/s", host), 0);
        EXPECT_GE(host.asked, 1);
        EXPECT_TRUE(host.saved.empty());
        EXPECT_TRUE(printer.jobs.empty());
        EXPECT_EQ(host.lastSheetProgress, 0);
        EXPECT_EQ(host.lastOverall, 0);
    }
    EXPECT_TRUE(std::filesystem::is_empty(dir));
}

// An error on a worker thread reaches the caller as it would from the run's own thread.
TEST(RunOutput, AnErrorWhileASheetIsMadeEndsTheRun) {
    auto picture = CoordinatePicture(200, 100);
    TSheetLayout l = SmallLayout(2, 1);
    const std::string dir = TempDir("workererror");
    SetPictureMemoryLimit(100 * 80 * 3 - 1);  // less than one sheet
    RunRecorder host;
    EXPECT_THROW(RunOutput(TOutputMode::Save, l, *picture, {1, 2, 3, 4}, 24, dir + "/e", host), EOutOfMemory);
    SetPictureMemoryLimit(0);
    EXPECT_TRUE(host.saved.empty());
    EXPECT_TRUE(std::filesystem::is_empty(dir));
}

// Bitmaps of every depth, as read from their files (RLE ones still packed), make the same sheet
// as their 24-bit picture.
TEST(ComposeSheet, PicturesOfEveryDepthMakeTheSheetOfTheirTrueColourPicture) {
    for (const char* file : {"im-1.bmp", "pbm-4.bmp", "pil-8.bmp", "im-rle8.bmp", "im-565.bmp", "im-32.bmp"}) {
        SCOPED_TRACE(file);
        TDIB picture;
        picture.LoadFromFile(DataPath(std::string("image/") + file));
        picture.TopRow();  // unpacked, to read the reference colours
        TDIB trueColour;
        trueColour.SetSize(picture.Width(), picture.Height(), 24);
        for (int y = 0; y < picture.Height(); ++y)
            for (int x = 0; x < picture.Width(); ++x) {
                TColor c = GetStorePixel(*picture.Image(), x, y);
                uint8_t* p = trueColour.ScanLine(y) + x * 3;
                p[0] = ColorBlue(c), p[1] = ColorGreen(c), p[2] = ColorRed(c);
            }
        TDIB fromFile, reference;
        picture.LoadFromFile(DataPath(std::string("image/") + file));  // packed again
        TSheetLayout l = SmallLayout(1, 1);
        ComposeSheet(l, picture, 1, 24, fromFile);
        ComposeSheet(l, trueColour, 1, 24, reference);
        ASSERT_EQ(fromFile.Height(), reference.Height());
        for (int y = 0; y < reference.Height(); ++y)
            ASSERT_EQ(std::memcmp(fromFile.ScanLine(y), reference.ScanLine(y), size_t(reference.Width()) * 3), 0)
                << "row " << y;
    }
}

}  // namespace
}  // namespace tilvorn::test
