#include <gtest/gtest.h>

#include <cstring>

#include "WindowSupport.h"

namespace tilvorn::test {
namespace {

// Every caption the activation sets, with the entry it shows.
std::vector<std::pair<QString, int>> Captions(TForm1& form, TPageForm& page) {
    return {
        {form.ChangeImage->text(), 0},
        {form.sLabelFX4->text(), 5},
        {form.sComboBox3->itemText(0), 6},
        {form.sComboBox3->itemText(1), 7},
        {form.sComboBox3->itemText(2), 8},
        {form.sGroupBox2->title(), 9},
        {form.KeepScale->text(), 10},
        {form.Cells(0, 0), 11},
        {form.Cells(0, 1), 12},
        {form.Cells(0, 2), 13},
        {form.Cells(1, 0), 14},
        {form.Cells(2, 0), 15},
        {form.sComboBox2->itemText(0), 16},
        {form.sComboBox2->itemText(1), 17},
        {form.sComboBox2->itemText(2), 18},
        {form.sLabelFX2->text(), 19},
        {form.sButton2->text(), 20},
        {form.sButton1->text(), 21},
        {form.sGroupBox3->title(), 22},
        {form.sBitBtn1->text(), 23},
        {form.sBitBtn2->text(), 24},
        {form.sLabelFX3->text(), 25},
        {form.sLabelFX1->text(), 26},
        {form.PanelText(0), 27},
        {form.PanelText(2), 28},
        {form.PanelText(4), 29},
        {page.sLabelFX1->text(), 31},
        {page.sComboBox1->itemText(0), 32},
        {page.sComboBox1->itemText(1), 33},
        {page.sLabel1->text(), 34},
        {page.sLabelFX2->text(), 35},
        {form.PanelText(1), 37},
        {form.PanelText(3), 37},
        {form.PanelText(5), 37},
    };
}

void ExpectCaptions(TForm1& form, TPageForm& page, const std::vector<std::string>& lines) {
    auto entry = [&](int n) { return n < static_cast<int>(lines.size()) ? lines[n] : std::string(); };
    for (const auto& [shown, n] : Captions(form, page)) EXPECT_EQ(S(shown), entry(n)) << "entry " << n;
}

TEST_F(WindowTest, WithoutALanguageFileTheBuiltInTextsAreShown) {
    Start();
    ExpectCaptions(*form, *page, BuiltInTexts());
    EXPECT_EQ(S(form->ChangePrinter->text()), BuiltInTexts()[4]);  // sheet mode: no printer
}

TEST_F(WindowTest, LanguageFilesReplaceTheTextsLineForLine) {
    struct Case {
        const char* name;
        std::string bytes;
        std::vector<std::string> lines;
    };
    std::string crlf, lf;
    std::vector<std::string> english;
    for (int i = 0; i < 49; ++i) {
        english.push_back(i == 32 ? "\xD0\x90"
                                    "4 portrait"
                                  : "Entry " + std::to_string(i));
        std::string line = i == 32 ? "\xC0"
                                     "4 portrait"
                                   : "Entry " + std::to_string(i);
        crlf += line + "\r\n";
        lf += line + "\n";
    }
    const Case cases[] = {
        {"CR LF", crlf, english},
        {"LF only", lf, english},
        {"three lines", "Open\nScan\nCopy", {"Open", "Scan", "Copy"}},
        {"UTF-8 with its mark",
         "\xEF\xBB\xBF"
         "Открыть\n",
         {"Открыть"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteLanguageFile(c.bytes);
        Start();
        ExpectCaptions(*form, *page, c.lines);
        EXPECT_EQ(S(form->ChangePrinter->text()), c.lines.size() > 4 ? c.lines[4] : "");
        form.reset();
        page.reset();
    }
}

TEST_F(WindowTest, TheShippedEnglishFileTranslatesTheWindow) {
    auto root = std::filesystem::path(TILVORN_SOURCE_DIR);
    auto english = ReadFileBytes((root / "data" / "lang" / "English.lng").string());
    ASSERT_FALSE(english.empty());
    WriteLanguageFile(std::string(english.begin(), english.end()));
    Start();
    EXPECT_EQ(S(form->ChangeImage->text()), "Open");
    EXPECT_EQ(S(form->ChangePrinter->text()), "Page");
    EXPECT_EQ(S(form->sComboBox2->itemText(0)), "Cut as is");
    EXPECT_EQ(S(page->sComboBox1->itemText(1)), "A4 - landscape");
    EXPECT_EQ(S(form->PanelText(5)), "None");
}

TEST_F(WindowTest, TheFileIsReadAgainAtEachReturnFromTheSheetWindow) {
    Start();
    EXPECT_EQ(S(form->sButton2->text()), "Все");
    std::string lines;
    for (int i = 0; i < 49; ++i) lines += (i == 20 ? std::string("All") : std::to_string(i)) + "\r\n";
    WriteLanguageFile(lines);
    // A message box does not count as leaving the window: nothing is re-read.
    form->ShowError(Exception("x"));
    EXPECT_EQ(S(form->sButton2->text()), "Все");
    WhileSheetWindowShown([](TPageForm&) {});
    QTest::mouseClick(form->ChangePrinter, Qt::LeftButton);
    EXPECT_EQ(S(form->sButton2->text()), "All");
    EXPECT_EQ(S(form->sMemo1->toPlainText().split('\n')[20]), "All");
    // Once the file is gone the list read last stays.
    std::filesystem::remove(LanguageFilePath(languageDir));
    WhileSheetWindowShown([](TPageForm&) {});
    QTest::mouseClick(form->ChangePrinter, Qt::LeftButton);
    EXPECT_EQ(S(form->sButton2->text()), "All");
}

TEST_F(WindowTest, WithoutAFileBesideTheProgramTheSystemLanguagePicksTheShippedTranslation) {
    namespace fs = std::filesystem;
    const fs::path prefix = TempDir("installed");
    const fs::path bin = prefix / "bin";
    fs::create_directories(bin);
    fs::create_directories(prefix / "share" / "tilvorn");
    fs::copy_file(fs::path(TILVORN_SOURCE_DIR) / "data" / "lang" / "English.lng",
                  prefix / "share" / "tilvorn" / "English.lng", fs::copy_options::overwrite_existing);
    const std::string builtIn = BuiltInTexts()[kTextOpen];
    struct Case {
        const char* locale;
        const char* besideTheProgram;  // a "Tilvorn.lng" beside it, or none
        std::string open;
    };
    const Case cases[] = {
        {"en_GB", nullptr, "Open"},  {"en_US", nullptr, "Open"},  {"ru_RU", nullptr, builtIn},
        {"fr_FR", nullptr, builtIn}, {"en_GB", "Mine\n", "Mine"},  // the file beside the program still wins
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.locale) + (c.besideTheProgram ? " with a file" : ""));
        const std::string beside = LanguageFilePath(bin.string());
        fs::remove(beside);
        if (c.besideTheProgram)
            WriteFileBytes(
                beside,
                std::vector<unsigned char>(c.besideTheProgram, c.besideTheProgram + std::strlen(c.besideTheProgram)));
        page = std::make_unique<TPageForm>();
        form = std::make_unique<TForm1>(*page, languageDir);  // nothing installed there
        form->SetLanguageDir(bin.string());
        form->SetSystemLocale(c.locale);
        form->HandleEvent([this] { form->FormActivate(); });
        EXPECT_TRUE(dialogs.messages.empty());
        EXPECT_EQ(S(form->ChangeImage->text()), c.open);
        form.reset();
        page.reset();
    }
}

}  // namespace
}  // namespace tilvorn::test
