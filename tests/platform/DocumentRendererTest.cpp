// The Qt document renderer against files made by other tools: PDF files written by Pillow,
// GIF files by ImageMagick, Word and Excel files by LibreOffice from text and CSV, and
// stand-in office programs (shell scripts) for the conversion's time limit and failures.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QGuiApplication>
#include <QTimer>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <thread>

#include "platform/qt/QtDocumentRenderer.h"
#include "support/TestSupport.h"

namespace tilvorn::platform {
namespace {

namespace fs = std::filesystem;
using tilvorn::test::HaveTool;
int Shell(const std::string& command) { return tilvorn::test::Run(command); }
using tilvorn::test::TempDir;

constexpr const char* kPython = "/usr/bin/python3";
constexpr const char* kConvert = "/usr/bin/convert";

class QtApplication : public ::testing::Environment {
public:
    void SetUp() override {
        if (QCoreApplication::instance()) return;
        if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "tilvorn_platform_tests";
        static char* argv[] = {name, nullptr};
        app_ = new QGuiApplication(argc, argv);
    }

private:
    QGuiApplication* app_ = nullptr;
};
const auto* const kQtApplication = ::testing::AddGlobalTestEnvironment(new QtApplication);

bool HavePillow() { return HaveTool(kPython) && Shell(std::string(kPython) + " -c 'import PIL' 2>/dev/null") == 0; }

void WriteText(const std::string& path, const std::string& text) {
    std::ofstream out(path, std::ios::binary);
    out << text;
}

bool IsDark(const std::uint8_t* bgr) { return bgr[0] < 100 && bgr[1] < 100 && bgr[2] < 100; }
// Light enough to be paper: a renderer's smoothing may tint the pixels beside an edge.
bool IsWhite(const std::uint8_t* bgr) { return bgr[0] > 200 && bgr[1] > 200 && bgr[2] > 200; }

struct Box {
    int left, top, right, bottom;  // right and bottom excluded
};

/// Every pixel clearly inside the box (scaled to the canvas) is dark, every pixel clearly
/// outside it is white; a band of `slack` pixels along its edges may be either.
void ExpectBoxDrawn(const TDocumentBitmap& bitmap, Box box, int naturalWidth, int naturalHeight, int slack) {
    double sx = double(bitmap.Width()) / naturalWidth, sy = double(bitmap.Height()) / naturalHeight;
    Box scaled{int(box.left * sx), int(box.top * sy), int(box.right * sx), int(box.bottom * sy)};
    int wrong = 0;
    for (int y = 0; y < bitmap.Height(); ++y)
        for (int x = 0; x < bitmap.Width(); ++x) {
            bool inside = x >= scaled.left + slack && x < scaled.right - slack && y >= scaled.top + slack &&
                y < scaled.bottom - slack;
            bool outside = x < scaled.left - slack || x >= scaled.right + slack || y < scaled.top - slack ||
                y >= scaled.bottom + slack;
            const std::uint8_t* p = bitmap.Row(y) + 3 * x;
            if ((inside && !IsDark(p)) || (outside && !IsWhite(p))) ++wrong;
        }
    EXPECT_EQ(wrong, 0) << "at " << bitmap.Width() << " x " << bitmap.Height();
}

// A picture of 200 x 100 pixels with a black box, stored by Pillow as a PDF page at 96 dots
// per inch (150 x 75 points).
constexpr Box kPdfBox{20, 10, 60, 40};

/// A zip archive written by Python's zipfile holding the named entries, as office files are.
void WriteZip(const std::string& path, std::initializer_list<const char*> entries) {
    std::string script = "import sys, zipfile\nwith zipfile.ZipFile(sys.argv[1], 'w', zipfile.ZIP_DEFLATED) as z:\n";
    for (const char* entry : entries) script += std::string("    z.writestr('") + entry + "', '<x/>')\n";
    WriteText(path + ".py", script);
    ASSERT_EQ(Shell(std::string(kPython) + " '" + path + ".py' '" + path + "'"), 0);
}

/// The 512-byte header of a compound file (the container of .doc and .xls): its signature, the
/// minor and major version, the byte-order mark and the sector shift, the rest zero.
void WriteCompoundHeader(const std::string& path) {
    std::string header(512, '\0');
    const char start[] = "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1";
    header.replace(0, 8, start, 8);
    header[24] = 0x3E, header[26] = 3, header[28] = char(0xFE), header[29] = char(0xFF), header[30] = 9;
    std::ofstream(path, std::ios::binary) << header;
}

std::string MakePillowPdf(const std::string& dir, int width = 200, int height = 100) {
    std::string path = dir + "/box.pdf";
    std::string script =
        "from PIL import Image, ImageDraw\n"
        "im = Image.new('RGB', (" +
        std::to_string(width) + ", " + std::to_string(height) +
        "), 'white')\n"
        "ImageDraw.Draw(im).rectangle([20, 10, 59, 39], fill='black')\n"
        "im.save('" +
        path + "', resolution=96.0)\n";
    WriteText(dir + "/make.py", script);
    EXPECT_EQ(Shell(std::string(kPython) + " " + dir + "/make.py"), 0);
    return path;
}

TEST(QtDocumentRenderer, PdfPageIsMeasuredAt96DotsPerInchAndDrawnAtAnySize) {
    if (!HavePillow()) GTEST_SKIP() << "Pillow (python3-pil) is not installed";
    std::string pdf = MakePillowPdf(TempDir("pdf-sizes"));
    TQtDocumentRenderer renderer;
    auto document = renderer.Open(pdf);
    ASSERT_EQ(document->NaturalSize(), (TDocumentSize{200, 100}));

    struct Case {
        int width, height, slack;
    };
    for (Case c : {Case{200, 100, 1}, Case{1200, 600, 6}, Case{300, 50, 2}, Case{1, 1, 1}}) {
        TDocumentBitmap bitmap(c.width, c.height);
        document->Draw(bitmap);
        if (c.width > 1) ExpectBoxDrawn(bitmap, kPdfBox, 200, 100, c.slack);
    }
}

TEST(QtDocumentRenderer, GifByImageMagickKeepsItsPixels) {
    if (!HaveTool(kConvert)) GTEST_SKIP() << "ImageMagick is not installed";
    std::string dir = TempDir("gif");
    std::string gif = dir + "/box.gif";
    ASSERT_EQ(Shell(std::string(kConvert) + " -size 40x30 xc:white -fill black -draw 'rectangle 10,5 19,14' " + gif),
              0);

    TQtDocumentRenderer renderer;
    auto document = renderer.Open(gif);
    ASSERT_EQ(document->NaturalSize(), (TDocumentSize{40, 30}));
    TDocumentBitmap natural(40, 30);
    document->Draw(natural);
    ExpectBoxDrawn(natural, {10, 5, 20, 15}, 40, 30, 0);
    TDocumentBitmap stretched(80, 90);
    document->Draw(stretched);
    ExpectBoxDrawn(stretched, {10, 5, 20, 15}, 40, 30, 2);
}

TEST(QtDocumentRenderer, SvgIsDrawnStraightAtTheWantedSize) {
    std::string svg = TempDir("svg") + "/box.svg";
    WriteText(svg,
              "<svg xmlns='http://www.w3.org/2000/svg' width='50' height='40'>"
              "<rect width='50' height='40' fill='white'/><rect x='10' y='10' width='20' height='10' fill='black'/>"
              "</svg>");
    TQtDocumentRenderer renderer;
    std::unique_ptr<TDocument> document;
    try {
        document = renderer.Open(svg);
    } catch (const EDocumentError& e) {
        GTEST_SKIP() << e.what();
    }
    ASSERT_EQ(document->NaturalSize(), (TDocumentSize{50, 40}));
    TDocumentBitmap large(500, 400);
    document->Draw(large);
    ExpectBoxDrawn(large, {10, 10, 30, 20}, 50, 40, 1);
}

TEST(QtDocumentRenderer, FilesNothingCanDrawSayWhatIsMissing) {
    std::string dir = TempDir("errors");
    struct Case {
        const char* name;
        const char* content;  // nullptr: the file is not made
        const char* officeProgram;
        const char* expected;
    };
    WriteZip(dir + "/letter.docx", {"[Content_Types].xml", "word/document.xml"});
    WriteCompoundHeader(dir + "/sheet.XLS");
    const Case cases[] = {
        {"absent.pdf", nullptr, "", "Cannot open \"absent.pdf\": the file does not exist or cannot be read."},
        {"letter.docx", nullptr, "/nonexistent/soffice",
         "Cannot open \"letter.docx\": no office suite is installed to draw it (LibreOffice was not found)."},
        {"sheet.XLS", nullptr, "no-such-office-program",
         "Cannot open \"sheet.XLS\": no office suite is installed to draw it (LibreOffice was not found)."},
        {"broken.pdf", "%PDF-1.4\nthis is no PDF body\n", "",
         "Cannot open \"broken.pdf\": the PDF file is damaged or is not a PDF file."},
        {"noise.xyz", "\x01\x02\x03 plain noise", "",
         "Cannot open \"noise.xyz\": nothing installed here can draw this kind of file."},
        {"empty.gif", "", "", "Cannot open \"empty.gif\": nothing installed here can draw this kind of file."},
    };
    for (const Case& c : cases) {
        std::string path = dir + "/" + c.name;
        if (c.content) WriteText(path, c.content);
        TQtDocumentRendererOptions options;
        options.officeProgram = c.officeProgram;
        TQtDocumentRenderer renderer(options);
        try {
            renderer.Open(path);
            ADD_FAILURE() << c.name << " opened";
        } catch (const EDocumentError& e) {
            EXPECT_EQ(std::string(e.what()), c.expected);
        }
    }
}

TEST(QtDocumentRenderer, OfficeExtensionsAreRecognisedInAnyCase) {
    struct Case {
        const char* name;
        bool office;
    };
    for (Case c : {Case{"a.doc", true}, Case{"a.DOCX", true}, Case{"b.Xls", true}, Case{"c.xlsx", true},
                   Case{"d.odt", true}, Case{"e.rtf", true}, Case{"f.ods", true}, Case{"g.pdf", false},
                   Case{"h.gif", false}, Case{"doc", false}, Case{"i.doc.bak", false}})
        EXPECT_EQ(TQtDocumentRenderer::IsOfficeExtension(c.name), c.office) << c.name;
}

// A stand-in for LibreOffice: a shell script that writes its arguments to a file and then
// does what `behaviour` says.
std::string MakeFakeOffice(const std::string& dir, const std::string& behaviour) {
    std::string path = dir + "/fake-soffice";
    WriteText(path,
              "#!/bin/sh\n"
              "printf '%s\\n' \"$@\" > " +
                  dir + "/arguments\n" + behaviour);
    fs::permissions(path, fs::perms::owner_all);
    return path;
}

bool FolderIsEmpty(const std::string& dir) { return fs::is_empty(dir); }

TEST(QtDocumentRenderer, ConvertedCopyLivesInATemporaryFolderUntilTheDocumentCloses) {
    if (!HavePillow()) GTEST_SKIP() << "Pillow (python3-pil) is not installed";
    std::string dir = TempDir("fake-office");
    std::string pdf = MakePillowPdf(dir);
    std::string temporaryRoot = dir + "/temporary";
    fs::create_directories(temporaryRoot);
    // The stand-in "converts" by copying the PDF into the folder after --outdir.
    std::string office = MakeFakeOffice(dir,
                                        "while [ \"$1\" != --outdir ]; do shift; done\n"
                                        "cp " +
                                            pdf + " \"$2\"/letter.pdf\n");
    std::string letter = dir + "/letter.docx";
    WriteZip(letter, {"[Content_Types].xml", "word/document.xml"});

    TQtDocumentRenderer renderer({office, 20000, temporaryRoot});
    {
        auto document = renderer.Open(letter);
        EXPECT_EQ(document->NaturalSize(), (TDocumentSize{200, 100}));
        EXPECT_FALSE(FolderIsEmpty(temporaryRoot));
        TDocumentBitmap bitmap(400, 200);
        document->Draw(bitmap);
        ExpectBoxDrawn(bitmap, kPdfBox, 200, 100, 2);
    }
    EXPECT_TRUE(FolderIsEmpty(temporaryRoot));

    std::ifstream in(dir + "/arguments");
    std::vector<std::string> arguments;
    for (std::string line; std::getline(in, line);) arguments.push_back(line);
    ASSERT_GE(arguments.size(), 4u);
    EXPECT_EQ(arguments.back(), letter);
    for (const char* wanted : {"--headless", "--convert-to", "pdf", "--outdir"})
        EXPECT_NE(std::find(arguments.begin(), arguments.end(), wanted), arguments.end()) << wanted;
    EXPECT_EQ(arguments.front().rfind("-env:UserInstallation=file://" + temporaryRoot + "/", 0), 0u)
        << arguments.front();
}

TEST(QtDocumentRenderer, OfficeFilesAreCheckedByContentBeforeTheOfficeSuiteStarts) {
    std::string dir = TempDir("office-content");
    // The office program would record that it ran; only files of the right content reach it.
    std::string office = MakeFakeOffice(dir, "exit 0\n");
    WriteZip(dir + "/real.docx", {"[Content_Types].xml", "word/document.xml"});
    WriteZip(dir + "/real.odt", {"mimetype", "content.xml"});
    WriteZip(dir + "/odf.docx", {"mimetype", "content.xml"});
    WriteZip(dir + "/ooxml.ods", {"[Content_Types].xml", "xl/workbook.xml"});
    WriteCompoundHeader(dir + "/real.doc");
    WriteText(dir + "/real.rtf", "{\\rtf1\\ansi Hello}");
    WriteText(dir + "/noise.docx", std::string("\x8F\x11\x00\xFE random bytes \x01\x02", 20));
    WriteText(dir + "/pk.xlsx", "PK");
    WriteText(dir + "/zip.doc", "PK\x03\x04 not a compound file");
    WriteText(dir + "/text.rtf", "plain text, no rtf");
    WriteText(dir + "/table.csv", "a;b\n1;2\n");
    struct Case {
        const char* name;
        const char* refusal;  // nullptr: handed to the office suite
    };
    const Case cases[] = {
        {"real.docx", nullptr},
        {"real.odt", nullptr},
        {"real.doc", nullptr},
        {"real.rtf", nullptr},
        {"table.csv", nullptr},
        {"noise.docx",
         "Cannot open \"noise.docx\": its content does not match its .docx name (no zip archive with "
         "[Content_Types].xml)."},
        {"pk.xlsx",
         "Cannot open \"pk.xlsx\": its content does not match its .xlsx name (no zip archive with "
         "[Content_Types].xml)."},
        {"odf.docx",
         "Cannot open \"odf.docx\": its content does not match its .docx name (no zip archive with "
         "[Content_Types].xml)."},
        {"ooxml.ods",
         "Cannot open \"ooxml.ods\": its content does not match its .ods name (no zip archive with a mimetype entry)."},
        {"zip.doc", "Cannot open \"zip.doc\": its content does not match its .doc name (no compound-file signature)."},
        {"text.rtf", "Cannot open \"text.rtf\": its content does not match its .rtf name (no {\\rtf at its start)."},
    };
    for (const Case& c : cases) {
        fs::remove(dir + "/arguments");
        TQtDocumentRenderer renderer({office, 20000, dir});
        try {
            renderer.Open(dir + "/" + c.name);
            ADD_FAILURE() << c.name << " opened";
        } catch (const EDocumentError& e) {
            if (c.refusal)
                EXPECT_STREQ(e.what(), c.refusal);
            else
                EXPECT_EQ(std::string(e.what()),
                          "Cannot open \"" + std::string(c.name) + "\": LibreOffice could not convert it to PDF.");
        }
        EXPECT_EQ(fs::exists(dir + "/arguments"), c.refusal == nullptr) << c.name;
    }
}

TEST(QtDocumentRenderer, FailedConversionRemovesItsTemporaryFolder) {
    std::string dir = TempDir("failing-office");
    std::string temporaryRoot = dir + "/temporary";
    fs::create_directories(temporaryRoot);
    std::string office = MakeFakeOffice(dir, "echo 'Error: source file could not be loaded' >&2\nexit 0\n");
    std::string sheet = dir + "/sheet.xlsx";
    WriteZip(sheet, {"[Content_Types].xml", "xl/workbook.xml"});
    TQtDocumentRenderer renderer({office, 20000, temporaryRoot});
    try {
        renderer.Open(sheet);
        ADD_FAILURE() << "opened";
    } catch (const EDocumentError& e) {
        EXPECT_STREQ(e.what(), "Cannot open \"sheet.xlsx\": LibreOffice could not convert it to PDF.");
    }
    EXPECT_TRUE(FolderIsEmpty(temporaryRoot));
}

/// Running, as opposed to gone or a zombie waiting to be reaped.
bool ProcessIsAlive(int pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string pidText, command, state;
    if (!(stat >> pidText >> command >> state)) return ::kill(pid, 0) == 0;
    return state != "Z";
}

TEST(QtDocumentRenderer, HangingOfficeIsEndedAtTheTimeLimitWhileTheEventLoopRuns) {
    std::string dir = TempDir("hanging-office");
    std::string temporaryRoot = dir + "/temporary";
    fs::create_directories(temporaryRoot);
    // Like LibreOffice's launcher, the stand-in waits for a child of its own.
    std::string office = MakeFakeOffice(dir, "sleep 60 &\necho $! > " + dir + "/child\nwait\n");
    std::string letter = dir + "/letter.doc";
    WriteCompoundHeader(letter);

    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(50);
    TQtDocumentRenderer renderer({office, 1500, temporaryRoot});
    try {
        renderer.Open(letter);
        ADD_FAILURE() << "opened";
    } catch (const EDocumentError& e) {
        EXPECT_STREQ(
            e.what(),
            "Cannot open \"letter.doc\": LibreOffice did not finish converting it within 2 seconds and was ended.");
    }
    EXPECT_GT(ticks, 0) << "no events were processed while waiting";
    EXPECT_TRUE(FolderIsEmpty(temporaryRoot));

    std::ifstream childFile(dir + "/child");
    int child = 0;
    childFile >> child;
    ASSERT_GT(child, 0);
    // The child may take a moment to be reaped by init after the kill.
    for (int i = 0; i < 50 && ProcessIsAlive(child); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(ProcessIsAlive(child)) << "the office program's child still runs";
}

// Real LibreOffice: a Word file from a text file and an Excel file from a CSV file, both made
// here, then drawn. Slow (a few seconds per conversion), so few.
class LibreOfficeDocuments : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        office_ = TQtDocumentRenderer().FindOfficeProgram();
        if (office_.empty()) return;
        dir_ = TempDir("libreoffice");
        WriteText(dir_ + "/letter.txt", "HHHHHHHHHHHH MMMMMMMMMMMM\nSecond line of the letter\n");
        WriteText(dir_ + "/sheet.csv", "WWWWWWWW,MMMMMMMM\n1,2\n");
        std::string profile = " -env:UserInstallation=file://" + dir_ + "/profile --headless --norestore";
        Shell(office_ + profile + " --convert-to docx --outdir " + dir_ + " " + dir_ + "/letter.txt >/dev/null 2>&1");
        Shell(office_ + profile + " --convert-to xlsx --outdir " + dir_ + " " + dir_ + "/sheet.csv >/dev/null 2>&1");
    }
    void SetUp() override {
        if (office_.empty()) GTEST_SKIP() << "LibreOffice is not installed";
    }
    static inline std::string office_, dir_;
};

bool IsPaperAt96Dpi(TDocumentSize size) {
    return size == TDocumentSize{794, 1123} || size == TDocumentSize{816, 1056};  // A4, US letter
}

int DarkPixels(const TDocumentBitmap& bitmap, Box box) {
    int dark = 0;
    for (int y = box.top; y < box.bottom; ++y)
        for (int x = box.left; x < box.right; ++x) dark += IsDark(bitmap.Row(y) + 3 * x);
    return dark;
}

TEST_F(LibreOfficeDocuments, WordAndExcelFilesShowTheirTextOnTheFirstPage) {
    for (const char* name : {"letter.docx", "sheet.xlsx"}) {
        SCOPED_TRACE(name);
        std::string file = dir_ + "/" + name;
        ASSERT_TRUE(fs::exists(file)) << "LibreOffice did not make the fixture";
        TQtDocumentRendererOptions options;
        options.temporaryRoot = TempDir(std::string("lo-temporary-") + name);
        TQtDocumentRenderer renderer(options);
        auto document = renderer.Open(file);
        TDocumentSize size = document->NaturalSize();
        EXPECT_TRUE(IsPaperAt96Dpi(size)) << size.width << " x " << size.height;

        TDocumentBitmap page(size.width, size.height);
        document->Draw(page);
        // The text sits in the top left corner inside the margins; the middle of the page is
        // blank paper.
        EXPECT_GT(DarkPixels(page, {0, 0, size.width / 2, size.height / 5}), 100);
        EXPECT_EQ(DarkPixels(page, {0, size.height * 2 / 5, size.width, size.height * 4 / 5}), 0);
        document.reset();
        EXPECT_TRUE(FolderIsEmpty(options.temporaryRoot));
    }
}

struct Ppm {
    int width = 0, height = 0;
    std::vector<std::uint8_t> rgb;
};

Ppm ReadPpm(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::string magic;
    int maxValue = 0;
    Ppm ppm;
    in >> magic >> ppm.width >> ppm.height >> maxValue;
    in.get();
    if (magic != "P6" || maxValue != 255) return {};
    ppm.rgb.resize(std::size_t(ppm.width) * ppm.height * 3);
    in.read(reinterpret_cast<char*>(ppm.rgb.data()), std::streamsize(ppm.rgb.size()));
    return ppm;
}

/// Share of the pixels of the common area that differ from Poppler's own tool by more than 64
/// in some channel.
double ShareDifferingFrom(const TDocumentBitmap& bitmap, const Ppm& reference) {
    int width = std::min(bitmap.Width(), reference.width), height = std::min(bitmap.Height(), reference.height);
    long long differing = 0;
    for (int y = 0; y < height; ++y) {
        const std::uint8_t* ours = bitmap.Row(y);
        const std::uint8_t* theirs = reference.rgb.data() + std::size_t(y) * reference.width * 3;
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c)
                if (std::abs(int(ours[3 * x + 2 - c]) - int(theirs[3 * x + c])) > 64) {
                    ++differing;
                    break;
                }
    }
    return double(differing) / (double(width) * height);
}

// An A4 page of text made by LibreOffice (tests/data/documents) against pdftoppm at the same
// resolutions: at 96 dots per inch, and six-fold at 576, which only a drawing made straight
// at that size matches (an enlarged small drawing blurs every glyph edge).
TEST(QtDocumentRenderer, A4PageMatchesPdftoppmAtNaturalAndSixFoldSize) {
    if (!HaveTool("pdftoppm")) GTEST_SKIP() << "pdftoppm (poppler-utils) is not installed";
    std::string pdf = tilvorn::test::DataPath("documents/letter.pdf");
    std::string dir = TempDir("pdftoppm");
    auto document = TQtDocumentRenderer().Open(pdf);
    ASSERT_EQ(document->NaturalSize(), (TDocumentSize{794, 1123}));

    struct Case {
        int dpi, factor;
    };
    for (Case c : {Case{96, 1}, Case{576, 6}}) {
        SCOPED_TRACE(c.dpi);
        std::string base = dir + "/r" + std::to_string(c.dpi);
        ASSERT_EQ(Shell("pdftoppm -r " + std::to_string(c.dpi) + " -singlefile " + pdf + " " + base), 0);
        Ppm reference = ReadPpm(base + ".ppm");
        ASSERT_GT(reference.width, 0);
        TDocumentBitmap bitmap(794 * c.factor, 1123 * c.factor);
        document->Draw(bitmap);
        // The text is there at all: some dark pixels in the top quarter.
        EXPECT_GT(DarkPixels(bitmap, {0, 0, bitmap.Width(), bitmap.Height() / 4}), 100 * c.factor * c.factor);
        EXPECT_LT(ShareDifferingFrom(bitmap, reference), 0.001);
    }
}

}  // namespace
}  // namespace tilvorn::platform
