// Rendering a document into the picture: the steps seen by the window (progress stages,
// messages, replacement, size reset, split mode), the sizes per extension, the content, and
// every way out. Scripted documents for the steps; files made by Pillow, ImageMagick and
// LibreOffice for the real renderer.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "core/PictureMemory.h"
#include "poster/Documents.h"
#include "platform/qt/QtDocumentRenderer.h"
#include "support/TestSupport.h"

namespace tilvorn {
namespace {

namespace fs = std::filesystem;
using platform::EDocumentError;
using platform::TDocumentSize;
using platform::TScriptedDocumentRenderer;

/// Records what rendering does to the window, in order.
class TRecordingWindow : public TDocumentWindow {
public:
    std::vector<std::string> log;
    std::unique_ptr<TDIB> picture;
    int progress = 0, progressMax = 0, newWidth = 0;
    std::function<void()> onMessages;  // runs inside ProcessMessages, as another handler would

    void SetProgressMax(int maximum) override {
        progressMax = maximum;
        log.push_back("max " + std::to_string(maximum));
    }
    void SetProgress(int position) override {
        progress = position;
        log.push_back("progress " + std::to_string(position));
    }
    void ProcessMessages() override {
        log.push_back("messages");
        if (onMessages) onMessages();
    }
    TDIB* SourceImage() override { return picture.get(); }
    void ReplaceSourceImage(std::unique_ptr<TDIB> newPicture) override {
        log.push_back("picture " + std::to_string(newPicture->Width()) + "x" + std::to_string(newPicture->Height()) +
                      "x" + std::to_string(newPicture->BitCount()));
        picture = std::move(newPicture);
    }
    void SetNewWidth(int width) override {
        newWidth = width;
        log.push_back("width " + std::to_string(width));
    }
    void SelectSplitModeAsIs() override { log.push_back("split as is"); }
};

std::unique_ptr<TDIB> Picture(int width, int height) {
    auto picture = std::make_unique<TDIB>();
    picture->SetSize(width, height, 24);
    return picture;
}

/// A dark square over the top left quarter of whatever size it is drawn at.
std::uint32_t DarkTopLeftQuarter(int x, int y, int width, int height) {
    return x < width / 2 && y < height / 2 ? 0x101010 : 0xFFFFFF;
}

bool IsDark(const std::uint8_t* bgr) { return bgr[0] < 100 && bgr[1] < 100 && bgr[2] < 100; }

TEST(DocumentSizeMode, SixFoldForDocXlsAndPdfOnly) {
    struct Case {
        const char* name;
        TDocumentSizeMode mode;
    };
    const Case cases[] = {
        {"letter.doc", TDocumentSizeMode::smStretch},   {"LETTER.DOC", TDocumentSizeMode::smStretch},
        {"sheet.xls", TDocumentSizeMode::smStretch},    {"/a.b/page.Pdf", TDocumentSizeMode::smStretch},
        {"letter.docx", TDocumentSizeMode::smAutoSize}, {"sheet.xlsx", TDocumentSizeMode::smAutoSize},
        {"anim.gif", TDocumentSizeMode::smAutoSize},    {"text.odt", TDocumentSizeMode::smAutoSize},
        {"pdf", TDocumentSizeMode::smAutoSize},         {"/dir.pdf/noextension", TDocumentSizeMode::smAutoSize},
    };
    for (const Case& c : cases) EXPECT_EQ(DocumentSizeModeFor(c.name), c.mode) << c.name;
}

TEST(RenderDocument, GoesThroughItsStagesAndReplacesThePicture) {
    struct Case {
        const char* name;
        TDocumentSize natural;
        int width, height;
    };
    const Case cases[] = {
        {"letter.doc", {100, 140}, 600, 840},  {"sheet.XLS", {30, 20}, 180, 120}, {"page.pdf", {794, 1123}, 4764, 6738},
        {"letter.docx", {100, 140}, 100, 140}, {"sheet.xlsx", {30, 20}, 30, 20},  {"anim.gif", {7, 3}, 7, 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TScriptedDocumentRenderer renderer;
        renderer.scripts[c.name] = {c.natural, DarkTopLeftQuarter, "", ""};
        TRecordingWindow window;
        window.picture = Picture(5, 5);
        RenderDocumentFile(window, c.name, renderer);

        std::string size = std::to_string(c.width) + "x" + std::to_string(c.height);
        std::vector<std::string> expected = {"max 3",
                                             "progress 1",
                                             "messages",
                                             "picture " + size + "x24",
                                             "progress 2",
                                             "messages",
                                             "width " + std::to_string(c.width),
                                             "progress 3",
                                             "messages",
                                             "split as is",
                                             "progress 0"};
        EXPECT_EQ(window.log, expected);
        EXPECT_EQ(renderer.opened, std::vector<std::string>{c.name});
        EXPECT_EQ(renderer.drawnSizes, (std::vector<TDocumentSize>{{c.width, c.height}}));
        EXPECT_EQ(renderer.openDocuments, 0);
        ASSERT_EQ(window.picture->Width(), c.width);
        // The drawing landed in the picture: dark top left, white paper bottom right.
        EXPECT_TRUE(IsDark(window.picture->ScanLine(0)));
        EXPECT_FALSE(IsDark(window.picture->ScanLine(c.height - 1) + 3 * (c.width - 1)));
    }
}

TEST(RenderDocument, EveryWayOutResetsTheProgressAndClosesTheDocument) {
    struct Case {
        const char* what;
        TScriptedDocumentRenderer::Script script;
        const char* name;
        std::string error;
        bool pictureReplaced;
    };
    const Case cases[] = {
        {"no renderer for it",
         {},
         "unscripted.xyz",
         "Cannot open \"unscripted.xyz\": nothing installed here can draw this kind of file.",
         false},
        {"fails to open",
         {{10, 10}, nullptr, "Cannot open \"a.doc\": no office suite is installed.", ""},
         "a.doc",
         "Cannot open \"a.doc\": no office suite is installed.",
         false},
        {"empty first page",
         {{0, 10}, nullptr, "", ""},
         "empty.pdf",
         "Cannot open \"empty.pdf\": its first page is empty.",
         false},
        // Drawn at six times its natural size, so the refusal names 240000 pixels a side.
        {"too large for a picture",
         {{40000, 40000}, nullptr, "", ""},
         "huge.pdf",
         "The picture is 240000 × 240000 pixels, 172.8 GB at 24 bits; one picture may take at most 2.1 GB.",
         false},
        {"fails to draw",
         {{10, 10}, nullptr, "", "Cannot draw \"b.pdf\" at 60 x 60 pixels: broken."},
         "b.pdf",
         "Cannot draw \"b.pdf\" at 60 x 60 pixels: broken.",
         true},
    };
    SetPictureMemoryLimit(uint64_t(2) << 30);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TScriptedDocumentRenderer renderer;
        if (c.script.naturalSize.height > 0) renderer.scripts[c.name] = c.script;
        TRecordingWindow window;
        window.picture = Picture(5, 4);
        TDIB* previous = window.picture.get();
        try {
            RenderDocumentFile(window, c.name, renderer);
            ADD_FAILURE() << "no error";
        } catch (const Exception& e) {
            EXPECT_EQ(e.Message(), c.error);
        }
        EXPECT_EQ(window.progress, 0);
        EXPECT_EQ(window.log.back(), "progress 0");
        EXPECT_EQ(renderer.openDocuments, 0);
        EXPECT_EQ(window.picture.get() != previous, c.pictureReplaced);
        if (!c.pictureReplaced) {
            EXPECT_EQ(window.picture->Width(), 5);
        }
        // Nothing past the error: no size reset, no split mode.
        EXPECT_EQ(std::count(window.log.begin(), window.log.end(), "split as is"), 0);
    }
    SetPictureMemoryLimit(0);
}

TEST(RenderDocument, PictureBroughtInWhileMessagesRunIsLeftAlone) {
    TScriptedDocumentRenderer renderer;
    renderer.scripts["a.docx"] = {{8, 6}, DarkTopLeftQuarter, "", ""};
    TRecordingWindow window;
    int pumps = 0;
    TDIB* other = nullptr;
    // Another handler brings in a picture of its own while the document renders.
    window.onMessages = [&] {
        if (++pumps != 2) return;
        window.picture = Picture(4, 2);
        other = window.picture.get();
    };
    RenderDocumentFile(window, "a.docx", renderer);
    EXPECT_EQ(window.picture.get(), other);
    EXPECT_EQ(window.picture->Width(), 4);
    EXPECT_TRUE(renderer.drawnSizes.empty());
    EXPECT_EQ(std::count(window.log.begin(), window.log.end(), "split as is"), 0);
    EXPECT_EQ(window.newWidth, 0);
    EXPECT_EQ(window.progress, 0);
    EXPECT_EQ(renderer.openDocuments, 0);
}

TEST(LoadDocumentPicture, GivesThePictureTheWindowWouldGet) {
    TScriptedDocumentRenderer renderer;
    renderer.scripts["page.pdf"] = {{20, 30}, DarkTopLeftQuarter, "", ""};
    renderer.scripts["pic.gif"] = {{20, 30}, DarkTopLeftQuarter, "", ""};
    auto stretched = LoadDocumentPicture("page.pdf", renderer);
    auto natural = LoadDocumentPicture("pic.gif", renderer);
    EXPECT_EQ(stretched->Width(), 120);
    EXPECT_EQ(stretched->Height(), 180);
    EXPECT_EQ(stretched->BitCount(), 24);
    EXPECT_EQ(natural->Width(), 20);
    EXPECT_EQ(natural->Height(), 30);
    EXPECT_EQ(renderer.openDocuments, 0);
    EXPECT_THROW(LoadDocumentPicture("missing.doc", renderer), EDocumentError);
}

// Real files through the program's renderer.
int DarkPixels(TDIB& picture, int left, int top, int right, int bottom) {
    int dark = 0;
    for (int y = top; y < bottom; ++y) {
        const std::uint8_t* row = picture.ScanLine(y);
        for (int x = left; x < right; ++x) dark += IsDark(row + 3 * x);
    }
    return dark;
}

void WriteText(const std::string& path, const std::string& text) { std::ofstream(path, std::ios::binary) << text; }

TEST(RenderDocumentFiles, PdfIsSixFoldAndGifIsNatural) {
    std::string dir = test::TempDir("render-files");
    bool pillow = test::Run("/usr/bin/python3 -c 'import PIL' 2>/dev/null") == 0;
    bool magick = test::HaveTool("/usr/bin/convert");
    if (!pillow || !magick) GTEST_SKIP() << "Pillow (python3-pil) or ImageMagick is not installed";
    // A 200 x 100 picture with a black box at (20, 10)-(60, 40), as a PDF page at 96 dpi, and
    // a 40 x 30 GIF with a black box at (10, 5)-(20, 15).
    WriteText(dir + "/make.py",
              "from PIL import Image, ImageDraw\n"
              "im = Image.new('RGB', (200, 100), 'white')\n"
              "ImageDraw.Draw(im).rectangle([20, 10, 59, 39], fill='black')\n"
              "im.save('" +
                  dir + "/box.pdf', resolution=96.0)\n");
    ASSERT_EQ(test::Run("/usr/bin/python3 " + dir + "/make.py"), 0);
    ASSERT_EQ(
        test::Run("/usr/bin/convert -size 40x30 xc:white -fill black -draw 'rectangle 10,5 19,14' " + dir + "/box.gif"),
        0);
    struct Case {
        const char* name;
        int width, height;
        int boxLeft, boxTop, boxRight, boxBottom;
    };
    for (Case c : {Case{"box.pdf", 1200, 600, 120, 60, 360, 240}, Case{"box.gif", 40, 30, 10, 5, 20, 15}}) {
        SCOPED_TRACE(c.name);
        platform::TQtDocumentRenderer renderer;
        TRecordingWindow window;
        RenderDocumentFile(window, dir + "/" + c.name, renderer);
        ASSERT_TRUE(window.picture);
        EXPECT_EQ(window.picture->Width(), c.width);
        EXPECT_EQ(window.picture->Height(), c.height);
        EXPECT_EQ(window.newWidth, c.width);
        int box = (c.boxRight - c.boxLeft) * (c.boxBottom - c.boxTop);
        int slack = c.width / 100 + 1;
        EXPECT_EQ(
            DarkPixels(*window.picture, c.boxLeft + slack, c.boxTop + slack, c.boxRight - slack, c.boxBottom - slack),
            (c.boxRight - c.boxLeft - 2 * slack) * (c.boxBottom - c.boxTop - 2 * slack));
        EXPECT_NEAR(DarkPixels(*window.picture, 0, 0, c.width, c.height), box, box / 10);
    }
}

TEST(RenderDocumentFiles, MissingOfficeSuiteIsNamedAndThePictureStays) {
    std::string file = test::TempDir("no-office") + "/letter.doc";
    // The compound-file signature that old Word files start with, then filler: enough for the
    // content check, so the missing office suite is what stops it.
    WriteText(file, std::string("\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1", 8) + std::string(504, '\0'));
    platform::TQtDocumentRendererOptions options;
    options.officeProgram = "/nonexistent/soffice";
    platform::TQtDocumentRenderer renderer(options);
    TRecordingWindow window;
    window.picture = Picture(3, 3);
    TDIB* previous = window.picture.get();
    try {
        RenderDocumentFile(window, file, renderer);
        ADD_FAILURE() << "rendered";
    } catch (const EDocumentError& e) {
        EXPECT_STREQ(e.what(),
                     "Cannot open \"letter.doc\": no office suite is installed to draw it "
                     "(LibreOffice was not found).");
    }
    EXPECT_EQ(window.picture.get(), previous);
    EXPECT_EQ(window.progress, 0);
}

// One Word 97 file made by LibreOffice from a text file: six times its first page.
TEST(RenderDocumentFiles, WordFileIsSixTimesItsFirstPage) {
    platform::TQtDocumentRenderer renderer;
    std::string office = renderer.FindOfficeProgram();
    if (office.empty()) GTEST_SKIP() << "LibreOffice is not installed";
    std::string dir = test::TempDir("word-six-fold");
    WriteText(dir + "/letter.txt", "HHHHHHHHHHHH MMMMMMMMMMMM\n");
    test::Run(office + " -env:UserInstallation=file://" + dir +
              "/profile --headless --norestore --convert-to doc "
              "--outdir " +
              dir + " " + dir + "/letter.txt >/dev/null 2>&1");
    ASSERT_TRUE(fs::exists(dir + "/letter.doc")) << "LibreOffice did not make the fixture";

    TRecordingWindow window;
    RenderDocumentFile(window, dir + "/letter.doc", renderer);
    ASSERT_TRUE(window.picture);
    int width = window.picture->Width(), height = window.picture->Height();
    // A4 or US letter at 96 dots per inch, six times.
    EXPECT_TRUE((width == 6 * 794 && height == 6 * 1123) || (width == 6 * 816 && height == 6 * 1056))
        << width << " x " << height;
    EXPECT_GT(DarkPixels(*window.picture, 0, 0, width / 2, height / 5), 1000);
    EXPECT_EQ(DarkPixels(*window.picture, 0, height / 2, width, height / 2 + 600), 0);
    EXPECT_EQ(window.progress, 0);
}

}  // namespace
}  // namespace tilvorn
