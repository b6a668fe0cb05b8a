// The poster workflow end to end in the window: bring in a picture, save and print sheets.
#include <gtest/gtest.h>

#include <QTimer>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "WindowSupport.h"
#include "readers/JpegFile.h"
#include "poster/Sources.h"
#include "image/view/DIBView.h"
#include "platform/qt/QtPrinter.h"

namespace tilvorn::test {
namespace {

class OutputWindowTest : public WindowTest {
protected:
    void StartWithPrinter() {
        AddPrinter("Office", 300, 50, 60, 50, 60);
        Start();
    }
    void Open(const std::string& file) {
        form->sScrollBar2->setValue(0);
        dialogs.openAnswers.push_back(file);
        form->HandleEvent([this] { form->ChangeImageClick(); });
    }
    /// A picture: left half red, right half blue, a green band across rows 40 to 59.
    void GiveHalves(int width, int height) {
        auto picture = std::make_unique<TDIB>();
        picture->SetSize(width, height, 24);
        for (int y = 0; y < height; ++y) {
            uint8_t* row = picture->ScanLine(y);
            for (int x = 0; x < width; ++x) {
                bool band = y >= 40 && y < 60;
                row[x * 3] = x >= width / 2 ? 255 : 0;
                row[x * 3 + 1] = band ? 255 : 0;
                row[x * 3 + 2] = x < width / 2 ? 255 : 0;
            }
        }
        form->SetSourceImage(std::move(picture));
    }
    /// Poster width giving `columns` sheets across.
    void SetColumns(int columns) {
        int width = int((columns - 0.5) * (form->UsableWidthMm - form->OverlapXMm));
        form->NewWidth->SetValue(width);
        form->HandleEvent([this] { form->NewWidthExit(); });
        ASSERT_EQ(S(form->ColCount->text()), std::to_string(columns));
    }
};

TEST_F(OutputWindowTest, LoadsJpegAndBitmapFilesWithTheirSizesAndDepths) {
    StartWithPrinter();
    Open(DataPath("app/rgb.jpg"));
    ASSERT_TRUE(form->SourceImage);
    EXPECT_EQ(form->SourceImage->BitCount(), 24);
    EXPECT_EQ(form->NewWidth->Value(), 64);
    EXPECT_EQ(form->NewHeight->Value(), 48);
    EXPECT_EQ(form->sComboBox2->currentIndex(), 0);
    EXPECT_EQ(form->SetAsString1.Count(), std::stoll(S(form->AllCount->text())));
    for (QFrame* panel : {form->sPanel4, form->sPanel2, form->sPanel5}) EXPECT_TRUE(panel->isEnabled());
    EXPECT_FALSE(form->DIBView1->DIB().Empty());

    Open(DataPath("app/palette8.bmp"));
    EXPECT_EQ(form->SourceImage->BitCount(), 8);
    EXPECT_EQ(form->NewWidth->Value(), 40);

    // A damaged bitmap leaves the picture in place and reports the error.
    std::string bad = TempDir("badbmp") + "/bad.bmp";
    WriteFileBytes(bad, {'B', 'M', 1, 2, 3});
    Open(bad);
    EXPECT_EQ(form->SourceImage->Width(), 40);
    EXPECT_FALSE(dialogs.messages.empty());

    // A cancelled dialog resets the size for the current picture.
    form->NewWidth->SetValue(300);
    dialogs.openAnswers.push_back("");
    form->HandleEvent([this] { form->ChangeImageClick(); });
    EXPECT_EQ(form->NewWidth->Value(), 40);
}

TEST_F(OutputWindowTest, PointerOverThePreviewNamesThePage) {
    StartWithPrinter();
    GiveHalves(600, 300);
    SetColumns(3);
    TDIB& preview = form->DIBView1->DIB();
    int left = (form->DIBView1->width() - preview.Width()) / 2;
    int top = (form->DIBView1->height() - preview.Height()) / 2;
    form->DIBView1MouseMove(left + preview.Width() - 1, top + 1);
    EXPECT_EQ(S(form->PanelText(1)), "3");
    EXPECT_EQ(S(form->PanelText(3)), "1");
    EXPECT_EQ(S(form->PanelText(5)), "3");
}

TEST_F(OutputWindowTest, SavesOneJpegPerSheetWithGuideLinesAndThePicture) {
    StartWithPrinter();
    GiveHalves(600, 300);
    SetColumns(3);
    std::string dir = TempDir("wallsave");
    dialogs.saveAnswers.push_back(dir + "/wall");
    form->HandleEvent([this] { form->BitBtn4Click(form->sBitBtn2); });
    ASSERT_TRUE(dialogs.messages.empty()) << dialogs.messages[0].text;
    const int pages = std::stoi(S(form->AllCount->text()));
    int files = 0;
    for (auto& entry : std::filesystem::directory_iterator(dir)) {
        ++files;
        EXPECT_EQ(entry.path().extension(), ".JPG");
    }
    EXPECT_EQ(files, pages);
    auto sheet = ReadJpegFile(dir + "/wall(1;1).JPG");
    EXPECT_EQ(sheet->Width(), form->SheetWidthPx);
    EXPECT_EQ(sheet->Height(), form->SheetHeightPx);
    auto dark = [](TColor c) { return ColorRed(c) < 60 && ColorGreen(c) < 60 && ColorBlue(c) < 60; };
    // Guide lines in the top margin strip at the page window's left edge and overlap.
    EXPECT_TRUE(dark(GetStorePixel(*sheet->Image(), form->MarginXPx, 2)));
    EXPECT_TRUE(dark(GetStorePixel(*sheet->Image(), form->MarginXPx + form->OverlapXPx, 2)));
    EXPECT_FALSE(dark(GetStorePixel(*sheet->Image(), form->MarginXPx + 3, 2)));
    // The page window: red (left half of the picture) at its middle, the green band where
    // picture rows 40..59 land at the poster's scale.
    TColor middle = GetStorePixel(*sheet->Image(), form->MarginXPx + 100, form->MarginYPx + 10);
    EXPECT_GT(ColorRed(middle), 200);
    EXPECT_LT(ColorBlue(middle), 50);
    int bandY = form->MarginYPx + int(50.0 * form->ScaleYNum / form->ScaleYDen);
    EXPECT_GT(ColorGreen(GetStorePixel(*sheet->Image(), form->MarginXPx + 100, bandY)), 200);
    // The last column shows the poster's right edge as a line, paper beyond it.
    auto last = ReadJpegFile(dir + "/wall(3;1).JPG");
    int64_t k = int64_t(form->PrintWidthPx - form->OverlapXPx) * 2;
    int edge = int(form->MarginXPx + form->PosterWidthPx - k);
    EXPECT_TRUE(dark(GetStorePixel(*last->Image(), edge, 2)));
    TColor beyond = GetStorePixel(*last->Image(), edge + 20, form->MarginYPx + 10);
    EXPECT_GT(ColorGreen(beyond), 240);
    EXPECT_FALSE(form->sSpeedButton1->isVisible());
    EXPECT_TRUE(form->sBitBtn2->isEnabled());
    // The open button sits in the source panel, which is locked before it during the run.
    EXPECT_TRUE(form->ChangeImage->isEnabled()) << "a new picture can be brought in after the run";
    EXPECT_EQ(form->sProgressBar1->value(), 0);
    EXPECT_EQ(form->sProgressBar2->value(), 0);
}

TEST_F(OutputWindowTest, ANameEndingInPdfWritesOnePdfOfTheChosenSheets) {
    if (!HaveTool("/usr/bin/pdfinfo")) GTEST_SKIP() << "pdfinfo (poppler-utils) missing";
    StartWithPrinter();
    GiveHalves(600, 300);
    SetColumns(3);
    // Smooth enlargement unless the output panel says otherwise.
    ASSERT_NE(form->EnlargeChoice, nullptr);
    EXPECT_EQ(form->EnlargeChoice->currentIndex(), 0);
    std::string dir = TempDir("wallpdf");
    dialogs.saveAnswers.push_back(dir + "/wall.PDF");
    form->HandleEvent([this] { form->BitBtn4Click(form->sBitBtn2); });
    ASSERT_TRUE(dialogs.messages.empty()) << dialogs.messages[0].text;
    ASSERT_FALSE(dialogs.saveRequests.empty());
    EXPECT_NE(dialogs.saveRequests.back().filter.find("JPEG files, one per sheet"), std::string::npos);
    EXPECT_NE(dialogs.saveRequests.back().filter.find("One PDF file (*.pdf)"), std::string::npos);
    int files = 0;
    for (auto& entry : std::filesystem::directory_iterator(dir)) {
        ++files;
        EXPECT_EQ(entry.path().filename(), "wall.PDF");
    }
    EXPECT_EQ(files, 1);
    ASSERT_EQ(tilvorn::test::Run("/usr/bin/pdfinfo '" + dir + "/wall.PDF' > '" + dir + "/info.txt'"), 0);
    std::ifstream info(dir + "/info.txt");
    std::string line, pages;
    while (std::getline(info, line))
        if (line.rfind("Pages:", 0) == 0) pages = line.substr(line.find_last_of(' ') + 1);
    EXPECT_EQ(pages, S(form->AllCount->text()));
    EXPECT_FALSE(form->sSpeedButton1->isVisible());
}

TEST_F(OutputWindowTest, PrintingOffersThePauseAfterEveryFifthPage) {
    struct Case {
        std::vector<platform::MessageResult> answers;
        size_t jobs, prompts;
    } cases[] = {
        {{platform::MessageResult::Retry, platform::MessageResult::Retry}, 12, 2},
        {{platform::MessageResult::Ignore}, 12, 1},
        {{platform::MessageResult::Abort}, 5, 1},
    };
    StartWithPrinter();
    GiveHalves(300, 600);
    SetColumns(3);
    for (const Case& c : cases) {
        printer.jobs.clear();
        dialogs.messages.clear();
        dialogs.answers.assign(c.answers.begin(), c.answers.end());
        form->SetAsString1.SetAsString("1-12");
        form->HandleEvent([this] { form->BitBtn4Click(form->sBitBtn1); });
        EXPECT_EQ(printer.jobs.size(), c.jobs);
        ASSERT_EQ(dialogs.messages.size(), c.prompts);
        EXPECT_EQ(dialogs.messages[0].caption, form->Texts.Entry(44));
        EXPECT_EQ(dialogs.messages[0].text.find(form->Texts.Entry(38) + "\r" + form->Texts.Entry(39)), 0u);
        EXPECT_EQ(dialogs.messages[0].buttons, platform::MessageButtons::AbortRetryIgnore);
        EXPECT_EQ(printer.jobs[4].title, "(2;2)");  // page 5: row 2, column 2
        EXPECT_EQ(printer.jobs[0].drawings[0].x, -form->OffsetLeftPx - 1);
        EXPECT_EQ(form->sProgressBar2->value(), 0);
    }
}

TEST_F(OutputWindowTest, TheLabelsSwitchPrintsTheMapAsAJobOfItsOwnFirst) {
    StartWithPrinter();
    GiveHalves(300, 600);
    SetColumns(3);
    ASSERT_NE(form->LabelsChoice, nullptr);
    EXPECT_FALSE(form->LabelsChoice->isChecked()) << "assembly aids are off by default";
    form->SetAsString1.SetAsString("1-2");
    form->HandleEvent([this] { form->BitBtn4Click(form->sBitBtn1); });
    ASSERT_EQ(printer.jobs.size(), 2u);
    EXPECT_EQ(printer.jobs[0].title, "(1;1)");
    printer.jobs.clear();
    form->LabelsChoice->setChecked(true);
    form->HandleEvent([this] { form->BitBtn4Click(form->sBitBtn1); });
    ASSERT_EQ(printer.jobs.size(), 3u);
    EXPECT_EQ(printer.jobs[0].title, "(map)");
    EXPECT_EQ(printer.jobs[1].title, "(1;1)");
    EXPECT_EQ(printer.jobs[2].title, "(1;2)");
}

TEST_F(OutputWindowTest, CancelStopsAfterTheCurrentSheetAndOnlyThisRun) {
    StartWithPrinter();
    GiveHalves(300, 600);
    SetColumns(3);
    form->SetAsString1.SetAsString("1-12");
    // The click comes while the first sheet is printed: the next sheets, in the making, are dropped.
    printer.afterJob = [this] {
        form->sSpeedButton1->click();
        printer.afterJob = nullptr;
    };
    form->HandleEvent([this] { form->BitBtn4Click(form->sBitBtn1); });
    EXPECT_EQ(printer.jobs.size(), 1u);
    EXPECT_FALSE(form->CancelRequested);
    EXPECT_FALSE(form->sSpeedButton1->isVisible());
    EXPECT_TRUE(form->sPanel4->isEnabled());
    form->SetAsString1.SetAsString("1-3");
    form->HandleEvent([this] { form->BitBtn4Click(form->sBitBtn1); });
    EXPECT_EQ(printer.jobs.size(), 4u);
}

// A 1200-DPI printer's sheet takes long to make: the window keeps handling events meanwhile,
// and a click on the cancel button ends the run within half a second, the sheet dropped.
TEST_F(OutputWindowTest, CancelWhileALongSheetIsComposedTakesEffectAtOnce) {
    AddPrinter("Fine", 1200, 200, 200, 200, 200);
    Start();
    GiveHalves(3000, 2000);
    SetColumns(2);
    form->SetAsString1.SetAsString("1-4");
    int ticks = 0;
    QTimer ticker;
    QObject::connect(&ticker, &QTimer::timeout, [&] { ++ticks; });
    ticker.start(20);
    // The user's click, queued from outside as the window system delivers it.
    using Clock = std::chrono::steady_clock;
    std::atomic<Clock::rep> clickedAt{0};
    std::thread user([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
        clickedAt = Clock::now().time_since_epoch().count();
        QMetaObject::invokeMethod(
            form->sSpeedButton1, [this] { form->sSpeedButton1->click(); }, Qt::QueuedConnection);
    });
    form->HandleEvent([this] { form->BitBtn4Click(form->sBitBtn1); });
    const Clock::time_point ended = Clock::now();
    user.join();
    const double afterClick =
        std::chrono::duration<double>(ended - Clock::time_point(Clock::duration(clickedAt.load()))).count();
    EXPECT_LT(afterClick, 0.5) << "the run ended " << afterClick << " s after the click";
    EXPECT_LT(printer.jobs.size(), 4u);
    EXPECT_GE(ticks, 2) << "the window handled events while the sheet was made";
    EXPECT_FALSE(form->CancelRequested);
    EXPECT_FALSE(form->sSpeedButton1->isVisible());
    EXPECT_EQ(form->sProgressBar2->value(), 0);
}

TEST_F(OutputWindowTest, TheOpenButtonWorksAgainAfterEveryRun) {
    StartWithPrinter();
    Open(DataPath("app/rgb.jpg"));
    ASSERT_EQ(form->SourceImage->Width(), 64);
    auto expectUsable = [this] {
        EXPECT_TRUE(form->ChangeImage->isEnabled());
        EXPECT_TRUE(form->sPanel3->isEnabled());
        EXPECT_TRUE(form->sBitBtn1->isEnabled());
        EXPECT_TRUE(form->DIBView1->isEnabled());
    };
    // A finished save, then a picture through the button as a user opens one.
    std::string dir = TempDir("cyclesave");
    dialogs.saveAnswers.push_back(dir + "/cycle");
    QTest::mouseClick(form->sBitBtn2, Qt::LeftButton);
    ASSERT_TRUE(dialogs.messages.empty()) << dialogs.messages[0].text;
    expectUsable();
    dialogs.openAnswers.push_back(DataPath("app/palette8.bmp"));
    QTest::mouseClick(form->ChangeImage, Qt::LeftButton);
    EXPECT_EQ(form->SourceImage->Width(), 40);
    dialogs.openAnswers.push_back(DataPath("app/rgb.jpg"));
    QTest::mouseClick(form->ChangeImage, Qt::LeftButton);
    EXPECT_EQ(form->SourceImage->Width(), 64);
    // A print cancelled at its first sheet, then the next picture.
    form->SetAsString1.SetAsString("1-3");
    printer.afterJob = [this] {
        QTest::mouseClick(form->sSpeedButton1, Qt::LeftButton);
        printer.afterJob = nullptr;
    };
    QTest::mouseClick(form->sBitBtn1, Qt::LeftButton);
    EXPECT_EQ(printer.jobs.size(), 1u);
    expectUsable();
    dialogs.openAnswers.push_back(DataPath("app/palette8.bmp"));
    QTest::mouseClick(form->ChangeImage, Qt::LeftButton);
    EXPECT_EQ(form->SourceImage->Width(), 40);
    dialogs.openAnswers.push_back(DataPath("app/rgb.jpg"));
    QTest::mouseClick(form->ChangeImage, Qt::LeftButton);
    EXPECT_EQ(form->SourceImage->Width(), 64);
    // A control that was off before the run stays off after it.
    form->sScrollBar1->setValue(1);
    EXPECT_FALSE(form->sBitBtn1->isEnabled());
    dialogs.saveAnswers.push_back(dir + "/again");
    QTest::mouseClick(form->sBitBtn2, Qt::LeftButton);
    EXPECT_FALSE(form->sBitBtn1->isEnabled());
    EXPECT_TRUE(form->ChangeImage->isEnabled());
}

TEST_F(OutputWindowTest, PagesBeyondThePosterMakeNoSheets) {
    StartWithPrinter();
    GiveHalves(600, 300);
    SetColumns(3);
    const int pages = std::stoi(S(form->AllCount->text()));
    ASSERT_LT(pages, 20);
    struct Case {
        std::string typed;
        int sheets;
    } cases[] = {{"99", 0}, {"1-20", pages}, {"2,99", 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        Type(form->sEdit5, QString::fromStdString(c.typed));
        LeaveFocus();
        EXPECT_EQ(S(form->sEdit5->text()), c.typed);  // the list keeps what was chosen
        const std::string count = " (" + std::to_string(c.sheets) + ")";
        EXPECT_EQ(S(form->sBitBtn1->text()), form->Texts.Entry(kTextPrint) + count);
        EXPECT_EQ(S(form->sBitBtn2->text()), form->Texts.Entry(kTextSave) + count);
        printer.jobs.clear();
        QTest::mouseClick(form->sBitBtn1, Qt::LeftButton);
        EXPECT_EQ(printer.jobs.size(), size_t(c.sheets));
        std::string dir = TempDir("beyond" + std::to_string(c.sheets));
        dialogs.saveAnswers.push_back(dir + "/b");
        QTest::mouseClick(form->sBitBtn2, Qt::LeftButton);
        EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir), std::filesystem::directory_iterator()),
                  c.sheets);
    }
}

TEST_F(OutputWindowTest, PrintsThroughQtToPdfFiles) {
    if (!HaveTool("/usr/bin/pdfinfo")) GTEST_SKIP() << "pdfinfo (poppler-utils) missing";
    std::string dir = TempDir("pdfprint");
    platform::TPdfPrinter pdf(dir, 150);
    platform::ScopedPrinter usePdf(pdf);
    Start();
    GiveHalves(300, 200);
    SetColumns(2);
    form->SetAsString1.SetAsString("1-2");
    form->HandleEvent([this] { form->BitBtn4Click(form->sBitBtn1); });
    ASSERT_TRUE(dialogs.messages.empty()) << dialogs.messages[0].text;
    ASSERT_EQ(pdf.Files().size(), 2u);
    for (const std::string& file : pdf.Files()) {
        std::string info = dir + "/info.txt";
        ASSERT_EQ(tilvorn::test::Run("/usr/bin/pdfinfo '" + file + "' > " + info), 0);
        std::ifstream in(info);
        std::string line, pages, size;
        while (std::getline(in, line)) {
            if (line.rfind("Pages:", 0) == 0) pages = line;
            if (line.rfind("Page size:", 0) == 0) size = line;
        }
        EXPECT_NE(pages.find(" 1"), std::string::npos) << pages;
        EXPECT_NE(size.find("(A4)"), std::string::npos) << size;
    }
}

}  // namespace
}  // namespace tilvorn::test
