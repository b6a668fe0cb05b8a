// The poster size and the split mode as a user types them: refused size texts, the split
// mode applied again after the sheet, margins or overlaps change.
#include <gtest/gtest.h>

#include <filesystem>

#include "WindowSupport.h"

namespace tilvorn::test {
namespace {

class SizeEditsTest : public WindowTest {
protected:
    void StartWithPoster() {
        AddPrinter("Office", 300, 50, 60, 50, 60);
        Start();
        GivePicture(3000, 2000);
        Type(form->NewWidth, "1000");
        LeaveFocus();
        columns = S(form->ColCount->text());
        ASSERT_EQ(form->NewHeight->Value(), 666);
    }
    std::string columns;
};

TEST_F(SizeEditsTest, ASizeTextThatIsNoNumberIsRefusedAndTheShownSizeComesBack) {
    StartWithPoster();
    struct Case {
        const char* typed;
        bool height;
    };
    const Case cases[] = {{"abc", false}, {"99999999999", false}, {"12x", false},
                          {" ", false},   {"tall", true},         {"4294967297", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        dialogs.messages.clear();
        if (c.height != !form->KeepScale->isChecked()) QTest::mouseClick(form->KeepScale, Qt::LeftButton);
        if (c.height) {
            Type(form->NewWidth, "1000");
            Type(form->NewHeight, "666");
            LeaveFocus();
        }
        Type(c.height ? form->NewHeight : form->NewWidth, c.typed);
        LeaveFocus();
        ASSERT_EQ(dialogs.messages.size(), 1u);
        const std::string& text = dialogs.messages[0].text;
        EXPECT_NE(text.find(std::string("\"") + c.typed + "\""), std::string::npos) << text;
        EXPECT_NE(text.find(c.height ? "height" : "width"), std::string::npos) << text;
        EXPECT_NE(text.find("whole number"), std::string::npos) << text;
        EXPECT_EQ(text.find("has no printer pixels"), std::string::npos) << text;
        EXPECT_EQ(S(form->NewWidth->Text()), "1000");
        EXPECT_EQ(S(form->NewHeight->Text()), "666");
        EXPECT_EQ(S(form->ColCount->text()), columns);
        EXPECT_EQ(form->PosterWidthPx, 11811);
    }
}

TEST_F(SizeEditsTest, ARefusedNumberPutsTheShownSizeBack) {
    StartWithPoster();
    Type(form->NewWidth, "0");
    LeaveFocus();
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_NE(dialogs.messages[0].text.find("0 x 0 mm"), std::string::npos);
    EXPECT_EQ(form->NewWidth->Value(), 1000);
    EXPECT_EQ(form->NewHeight->Value(), 666);
}

TEST_F(SizeEditsTest, MarginsTypedOneAfterTheOtherAreAllKept) {
    // Each margin and overlap typed in turn keeps its value: none comes out as 0.
    StartWithPoster();
    const char* typed[4] = {"7", "8", "9", "11"};
    const int cells[4][2] = {{1, 1}, {2, 1}, {1, 2}, {2, 2}};
    for (int i = 0; i < 4; ++i) {
        TypeCell(cells[i][0], cells[i][1], typed[i]);
        LeaveFocus();
    }
    for (int i = 0; i < 4; ++i) EXPECT_EQ(S(form->Cells(cells[i][0], cells[i][1])), typed[i]);
    EXPECT_EQ(form->MarginXMm, 7);
    EXPECT_EQ(form->MarginYMm, 8);
    EXPECT_EQ(form->OverlapXMm, 9);
    EXPECT_EQ(form->OverlapYMm, 11);
}

TEST_F(SizeEditsTest, TheChosenSplitModeIsAppliedAgainAfterEachChange) {
    struct Case {
        const char* name;
        std::function<void(SizeEditsTest&)> change;
    };
    const Case changes[] = {
        {"margin",
         [](SizeEditsTest& t) {
             t.TypeCell(2, 1, "30");
             t.LeaveFocus();
         }},
        {"overlap",
         [](SizeEditsTest& t) {
             t.TypeCell(1, 2, "40");
             t.LeaveFocus();
         }},
        {"sheet", [](SizeEditsTest& t) { t.form->sScrollBar1->setValue(1); }},
    };
    for (int mode : {1, 2})
        for (const Case& c : changes) {
            SCOPED_TRACE(std::string(c.name) + (mode == 1 ? " by width" : " by height"));
            StartWithPoster();
            Pick(form->sComboBox2, mode);
            const int width = form->NewWidth->Value(), height = form->NewHeight->Value();
            c.change(*this);
            ASSERT_TRUE(dialogs.messages.empty()) << dialogs.messages[0].text;
            EXPECT_EQ(form->sComboBox2->currentIndex(), mode);
            if (mode == 1) {
                EXPECT_EQ(form->NewWidth->Value(), SnapToPageWidth(width, form->OverlapXMm, form->UsableWidthMm));
            } else {
                int snapped = SnapToPageHeight(height, form->OverlapYMm, form->UsableHeightMm);
                EXPECT_EQ(form->NewHeight->Value(), snapped);
            }
            form.reset();
            page.reset();
            printer.devices.clear();
        }
}

TEST_F(SizeEditsTest, EnterAppliesASizeAMarginOrAPageListWhereItWasTyped) {
    StartWithPoster();
    const std::string before = columns;
    Type(form->NewWidth, "2000");
    QTest::keyClick(form->NewWidth->Editor(), Qt::Key_Return);
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_EQ(form->NewHeight->Value(), 1333) << "the proportion followed";
    EXPECT_NE(S(form->ColCount->text()), before) << "the layout was recomputed for 2000 mm";
    EXPECT_EQ(form->PosterWidthPx, 23622);
    EXPECT_TRUE(form->NewWidth->Editor()->hasFocus()) << "Enter leaves the focus where it was";

    // A refused size is reported at once and the shown size comes back.
    Type(form->NewWidth, "abc");
    QTest::keyClick(form->NewWidth->Editor(), Qt::Key_Return);
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(S(form->NewWidth->Text()), "2000");

    const int marginPx = form->MarginXPx;
    ASSERT_LT(form->MarginXMm, 7);
    TypeCell(1, 1, "7");
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QApplication::processEvents();
    EXPECT_EQ(form->MarginXMm, 7);
    EXPECT_GT(form->MarginXPx, marginPx) << "the sheet was converted with the new margin";
    TypeCell(2, 2, "12");
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
    QApplication::processEvents();
    EXPECT_EQ(form->OverlapYMm, 12);

    Type(form->sEdit5, "3,1-2");
    QTest::keyClick(form->sEdit5, Qt::Key_Return);
    EXPECT_EQ(S(form->sEdit5->text()), "1-3");
    EXPECT_EQ(S(form->sBitBtn1->text()), form->Texts.Entry(kTextPrint) + " (3)");
}

TEST_F(SizeEditsTest, ChosenPagesSurviveARecomputationThatKeepsTheGrid) {
    StartWithPoster();
    Type(form->sEdit5, "2,5");
    LeaveFocus();
    const std::string rows = S(form->RowCount->text());
    // A bigger window: a new preview, the same sheets.
    form->resize(form->width() + 200, form->height() + 100);
    QApplication::processEvents();
    EXPECT_EQ(form->SetAsString1.AsString(), "2,5");
    EXPECT_EQ(S(form->sEdit5->text()), "2,5");
    // A margin that keeps the columns and rows.
    TypeCell(1, 1, "2");
    LeaveFocus();
    ASSERT_TRUE(dialogs.messages.empty()) << dialogs.messages[0].text;
    ASSERT_EQ(form->MarginXMm, 2);
    ASSERT_EQ(S(form->ColCount->text()), columns);
    ASSERT_EQ(S(form->RowCount->text()), rows);
    EXPECT_EQ(S(form->sEdit5->text()), "2,5");
    EXPECT_EQ(S(form->sBitBtn2->text()), form->Texts.Entry(kTextSave) + " (2)");
    // A width that changes the grid starts from all pages again.
    Type(form->NewWidth, "2000");
    LeaveFocus();
    ASSERT_NE(S(form->ColCount->text()), columns);
    EXPECT_EQ(S(form->sEdit5->text()), "1-" + S(form->AllCount->text()));
    // So does a new picture, whatever its grid.
    Type(form->sEdit5, "1");
    LeaveFocus();
    GivePicture(3000, 2000);
    EXPECT_EQ(S(form->sEdit5->text()), "1-" + S(form->AllCount->text()));
}

TEST_F(SizeEditsTest, TheSummaryLineShowsThePosterAtAGlanceAndWarnsOfASoftPrint) {
    StartWithPoster();  // 3000 x 2000 pixels on 1000 x 666 mm at 300 dpi
    const std::string summary = S(form->PosterSummary->text());
    const std::string counts =
        S(form->ColCount->text()) + " × " + S(form->RowCount->text()) + " = " + S(form->AllCount->text());
    EXPECT_NE(summary.find("1000 × 666"), std::string::npos) << summary;
    EXPECT_NE(summary.find(counts), std::string::npos) << summary;
    EXPECT_NE(summary.find("210 × 297"), std::string::npos) << summary;
    // 3000 pixels over 1000 / 25.4 inches.
    EXPECT_NE(summary.find("; 76 "), std::string::npos) << summary;
    EXPECT_TRUE(form->SoftPrintWarning->isVisibleTo(form.get()));
    EXPECT_EQ(S(form->SoftPrintWarning->text()), ExtraText(TExtraText::SoftPrint, TTextLanguage::Russian));

    Type(form->NewWidth, "500");
    LeaveFocus();
    EXPECT_NE(S(form->PosterSummary->text()).find("500 × 333"), std::string::npos);
    EXPECT_NE(S(form->PosterSummary->text()).find("; 152 "), std::string::npos) << S(form->PosterSummary->text());
    EXPECT_FALSE(form->SoftPrintWarning->isVisibleTo(form.get())) << "152 per inch prints sharp";

    // A refused size leaves the summary of the layout on screen.
    const QString shown = form->PosterSummary->text();
    Type(form->NewWidth, "0");
    LeaveFocus();
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(form->PosterSummary->text(), shown);
}

TEST_F(SizeEditsTest, TheSummaryLineSpeaksTheLanguageOfTheTextsInUse) {
    auto english =
        ReadFileBytes((std::filesystem::path(TILVORN_SOURCE_DIR) / "data" / "lang" / "English.lng").string());
    ASSERT_FALSE(english.empty());
    WriteLanguageFile(std::string(english.begin(), english.end()));
    StartWithPoster();
    EXPECT_EQ(S(form->PosterSummary->text()).rfind("Poster 1000 × 666 mm", 0), 0u) << S(form->PosterSummary->text());
    EXPECT_EQ(S(form->SoftPrintWarning->text()), "below 100 per inch: the print will look soft");
}

}  // namespace
}  // namespace tilvorn::test
