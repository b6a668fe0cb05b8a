#include <gtest/gtest.h>

#include "WindowSupport.h"

namespace tilvorn::test {
namespace {

TEST_F(WindowTest, StartsWithEveryControlInItsInitialState) {
    Start();
    EXPECT_EQ(S(form->windowTitle()), "Tilvorn 2.16 - Advanced");
    for (const char* name :
         {"sPanel1",       "sPanel3",     "ChangeImage", "sScrollBar2",   "ChangePrinter", "sScrollBar1",
          "sLabelFX4",     "sComboBox3",  "sPanel4",     "sGroupBox2",    "NewWidth",      "NewHeight",
          "KeepScale",     "StringGrid1", "sPanel5",     "sComboBox2",    "sLabelFX2",     "sEdit5",
          "sButton2",      "sButton1",    "sGroupBox3",  "ColCount",      "RowCount",      "AllCount",
          "Label7",        "sPanel2",     "sBitBtn1",    "sBitBtn2",      "sProgressBar2", "sLabelFX1",
          "sProgressBar1", "sScrollBox1", "DIBView1",    "sSpeedButton2", "sSpeedButton1", "OleContainer1",
          "OleContainer2", "sMemo1",      "sStatusBar1"})
        EXPECT_NE(form->findChild<QWidget*>(name), nullptr) << name;

    // The design sizes are the least the strip and its panels get; longer texts widen them.
    EXPECT_GE(form->sPanel1->height(), 131);
    EXPECT_TRUE(form->sPanel3->isEnabled());
    for (QFrame* panel : {form->sPanel4, form->sPanel5, form->sPanel2}) EXPECT_FALSE(panel->isEnabled());
    for (QFrame* panel : {form->sPanel3, form->sPanel4, form->sPanel5, form->sPanel2}) EXPECT_GE(panel->width(), 176);
    EXPECT_EQ(form->sScrollBar2->maximum(), 2);
    EXPECT_EQ(form->sScrollBar2->value(), 0);
    EXPECT_EQ(form->sScrollBar1->maximum(), 1);
    EXPECT_EQ(form->sComboBox3->count(), 3);
    EXPECT_EQ(form->sComboBox3->currentIndex(), 1);
    EXPECT_EQ(form->ColorDepth, 24);
    EXPECT_EQ(form->NewWidth->Value(), 1);
    EXPECT_EQ(form->NewHeight->Value(), 1);
    EXPECT_FALSE(form->NewHeight->isEnabled());
    EXPECT_TRUE(form->KeepScale->isChecked());
    EXPECT_EQ(form->StringGrid1->rowCount(), 3);
    EXPECT_EQ(form->StringGrid1->columnCount(), 3);
    EXPECT_EQ(form->sComboBox2->count(), 3);
    EXPECT_EQ(form->sComboBox2->currentIndex(), -1);
    for (QLineEdit* count : {form->ColCount, form->RowCount, form->AllCount}) EXPECT_FALSE(count->isEnabled());
    // The counts read "columns х rows = pages".
    EXPECT_EQ(form->Label7->text(), QString::fromUtf8("х"));
    EXPECT_EQ(form->Label8->text(), QString::fromUtf8("="));
    EXPECT_EQ(form->sProgressBar2->maximum(), 100);
    EXPECT_EQ(form->sProgressBar1->maximum(), 3);
    EXPECT_FALSE(form->sSpeedButton1->isVisible());
    EXPECT_TRUE(form->sSpeedButton2->isVisible());
    EXPECT_EQ(form->sSpeedButton2->size(), QSize(40, 40));
    EXPECT_EQ(form->sSpeedButton1->size(), QSize(38, 38));
    EXPECT_EQ(S(form->sSpeedButton1->toolTip()), "Отменить операцию");
    for (QWidget* hidden : {form->OleContainer1, form->OleContainer2, static_cast<QWidget*>(form->sMemo1)})
        EXPECT_FALSE(hidden->isVisible());
    EXPECT_EQ(form->OleContainer1->size(), QSize(121, 121));
    EXPECT_EQ(form->ImageList1.size(), 5u);
    EXPECT_TRUE(form->SetAsString1.AsString().empty());
    EXPECT_FALSE(form->SourceImage);

    const int widths[6] = {100, 50, 100, 50, 100, 50};
    const char* texts[6] = {"Номер столбца:", "Нет", "Номер строки:", "Нет", "Номер страницы:", "Нет"};
    for (int i = 0; i < 6; ++i) {
        EXPECT_GE(form->StatusPanels[i]->width(), widths[i]) << i;
        EXPECT_EQ(S(form->PanelText(i)), texts[i]) << i;
    }
    EXPECT_TRUE(form->StatusPanels[0]->alignment() & Qt::AlignRight);
    // The built-in list is the hidden text control's content.
    EXPECT_EQ(form->sMemo1->toPlainText().split('\n').size(), 49);
}

TEST_F(WindowTest, WithoutPrintersStartsInSheetModeWithTheSheetWindowDefaults) {
    Start();
    EXPECT_EQ(form->sScrollBar1->value(), 1);
    EXPECT_EQ(S(form->ChangePrinter->text()), "Страница");
    EXPECT_FALSE(form->sBitBtn1->isEnabledTo(form->sPanel2));
    EXPECT_EQ(form->SheetWidthPx, 2480);
    EXPECT_EQ(form->SheetHeightPx, 3508);
    EXPECT_DOUBLE_EQ(form->PxPerMmX, 11.811);
    EXPECT_DOUBLE_EQ(form->PxPerMmY, 11.811);
    EXPECT_EQ(form->OffsetLeftPx + form->OffsetRightPx + form->OffsetTopPx + form->OffsetBottomPx, 0);
    EXPECT_EQ(S(form->Cells(1, 1)), "1");
    EXPECT_EQ(S(form->Cells(2, 1)), "1");
    EXPECT_EQ(printer.dialogsShown, 0);
    EXPECT_FALSE(page->isVisible());
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(WindowTest, WithAPrinterStartUpReadsItsPageWithoutADialog) {
    AddPrinter("Laser", 600, 100, 120, 150, 118);
    Start();
    EXPECT_EQ(form->sScrollBar1->value(), 0);
    EXPECT_EQ(S(form->ChangePrinter->text()), "Принтер");
    EXPECT_EQ(printer.dialogsShown, 0);
    EXPECT_EQ(S(form->ChangePrinter->toolTip()), "Laser ");
    EXPECT_EQ(form->SheetWidthPx, 4960);
    EXPECT_EQ(form->SheetHeightPx, 7015);
    EXPECT_EQ(form->OffsetLeftPx, 100);
    EXPECT_EQ(form->OffsetRightPx, 150);
    EXPECT_EQ(form->OffsetTopPx, 120);
    EXPECT_EQ(form->OffsetBottomPx, 118);
    EXPECT_DOUBLE_EQ(form->PxPerMmX, 23.622);
    // Left strip 100 dots gives 5 mm; the right one of 150 > 5 x 23.622 raises it to 7.
    EXPECT_EQ(form->MarginXMm, 7);
    EXPECT_EQ(S(form->Cells(1, 1)), "7");
    // Top 120 dots: Trunc(5.08) + 1 = 6; the bottom 118 is not beyond 6 x 23.622.
    EXPECT_EQ(form->MarginYMm, 6);
    EXPECT_EQ(S(form->Cells(2, 1)), "6");
}

TEST_F(WindowTest, ClickingThePrinterButtonShowsThePrintDialogAndUsesTheChosenPrinter) {
    AddPrinter("Laser", 600, 100, 100, 150, 100);
    AddPrinter("Inkjet", 300, 0, 0, 0, 0);
    Start();
    printer.dialogAnswers.push_back({false, 1});  // cancelled, but the current printer changed
    QTest::mouseClick(form->ChangePrinter, Qt::LeftButton);
    EXPECT_EQ(printer.dialogsShown, 1);
    EXPECT_EQ(S(form->ChangePrinter->toolTip()), "Inkjet ");
    EXPECT_DOUBLE_EQ(form->PxPerMmX, 11.811);
    EXPECT_EQ(S(form->Cells(1, 1)), "1");
}

TEST_F(WindowTest, WorkedExampleNumberByNumber) {
    Start();
    GivePicture(3000, 2000);
    EXPECT_TRUE(form->sPanel4->isEnabled());
    EXPECT_TRUE(form->sPanel5->isEnabled());
    EXPECT_TRUE(form->sPanel2->isEnabled());
    EXPECT_EQ(form->NewWidth->Value(), 3000);
    EXPECT_EQ(form->NewHeight->Value(), 2000);
    EXPECT_EQ(form->sComboBox2->currentIndex(), 0);
    EXPECT_EQ(S(form->ColCount->text()), "15");  // Trunc(3005 / 202.974 + 1)

    // Typing changes the height at every keystroke, the counts only when the focus leaves.
    Type(form->NewWidth, "1");
    EXPECT_EQ(form->NewHeight->Value(), 0);
    QTest::keyClicks(form->NewWidth->Editor(), "000");
    EXPECT_EQ(form->NewHeight->Value(), 666);
    EXPECT_EQ(S(form->ColCount->text()), "15");
    LeaveFocus();

    EXPECT_NEAR(form->SheetWidthMm, 209.974, 0.001);
    EXPECT_EQ(form->MarginXPx, 11);
    EXPECT_EQ(form->MarginYPx, 11);
    EXPECT_NEAR(form->UsableWidthMm, 207.974, 0.001);
    EXPECT_NEAR(form->UsableHeightMm, 295.011, 0.001);
    EXPECT_EQ(form->PrintWidthPx, 2458);
    EXPECT_EQ(form->PrintHeightPx, 3486);
    EXPECT_EQ(form->OverlapXPx, 59);
    EXPECT_EQ(form->OverlapYPx, 59);
    EXPECT_EQ(S(form->ColCount->text()), "5");
    EXPECT_EQ(S(form->RowCount->text()), "3");
    EXPECT_EQ(S(form->AllCount->text()), "15");
    EXPECT_EQ(S(form->sEdit5->text()), "1-15");
    EXPECT_EQ(form->PosterWidthPx, 11811);
    EXPECT_EQ(form->PosterHeightPx, 7866);
    EXPECT_EQ(form->ScaleXNum, 3937);
    EXPECT_EQ(form->ScaleXDen, 1000);
    EXPECT_EQ(form->ScaleYNum, 3933);
    EXPECT_EQ(form->ScaleYDen, 1000);

    Pick(form->sComboBox2, 1);  // by page width: q = 5
    EXPECT_EQ(form->NewWidth->Value(), 1008);
    EXPECT_EQ(form->NewHeight->Value(), 672);
    EXPECT_EQ(S(form->ColCount->text()), "5");

    Type(form->NewWidth, "1000");
    LeaveFocus();
    EXPECT_EQ(form->NewHeight->Value(), 666);
    Pick(form->sComboBox2, 2);  // by page height: q = 2, g = 575.02
    EXPECT_EQ(form->NewWidth->Value(), 861);
    EXPECT_EQ(form->NewHeight->Value(), 574);
    EXPECT_EQ(S(form->RowCount->text()), "2");
    EXPECT_EQ(S(form->AllCount->text()), "10");
    EXPECT_EQ(S(form->sEdit5->text()), "1-10");
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(WindowTest, PageHeightModeWithoutProportionSetsOneWholeStep) {
    Start();
    GivePicture(3000, 2000);
    QTest::mouseClick(form->KeepScale, Qt::LeftButton);
    EXPECT_FALSE(form->KeepScale->isChecked());
    EXPECT_TRUE(form->NewHeight->isEnabled());
    EXPECT_EQ(S(form->PanelText(5)), "Нет");
    Type(form->NewHeight, "100");
    LeaveFocus();
    Pick(form->sComboBox2, 2);
    EXPECT_EQ(form->NewHeight->Value(), 289);  // q = 0: Trunc(290.011 - 1)
    EXPECT_EQ(form->NewWidth->Value(), 3000);
}

TEST_F(WindowTest, MarginAndOverlapCellsFallBackToTheirDefaults) {
    Start();
    GivePicture(3000, 2000);
    struct Case {
        int column, row;
        const char* typed;
        const char* shown;
    };
    const Case cases[] = {
        {1, 1, "abc", "1"},  // sheet mode has no strips: Trunc(0) + 1
        {2, 1, "3 ", "1"},  // a trailing blank is not an integer
        {1, 2, "", "5"},    {2, 2, "x", "5"}, {1, 1, "-2", "-2"},  // any integer is taken, negative ones too
        {2, 2, "$A", "$A"},  // hexadecimal is an integer too
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.typed);
        TypeCell(c.column, c.row, c.typed);
        LeaveFocus();
        EXPECT_EQ(S(form->Cells(c.column, c.row)), c.shown);
    }
    EXPECT_EQ(form->MarginXMm, -2);
    EXPECT_EQ(form->MarginYMm, 1);
    EXPECT_EQ(form->OverlapXMm, 5);
    EXPECT_EQ(form->OverlapYMm, 10);
    EXPECT_EQ(form->MarginXPx, -23);  // Trunc(-23.622)
}

TEST_F(WindowTest, ErrorsAreReportedAndTheWindowStaysUsable) {
    Start();
    GivePicture(3000, 2000);
    Type(form->NewWidth, "1000");
    LeaveFocus();
    form->SetAsString1.SetAsString("2");
    struct Case {
        const char* width;
        const char* message;
    };
    const Case cases[] = {
        {"0", "A poster of 0 x 0 mm has no printer pixels (0 x 0). Width and height must be at least 1 mm."},
        {"-10", "A poster of -10 x -6 mm has no printer pixels (-118 x -70). Width and height must be at least 1 mm."},
        {"2000000000",
         "A poster of 2000000000 x 1333333333 mm has too many printer pixels (23622000000 x "
         "15747999996). At this resolution the width may be at most 181820645 mm and the height at "
         "most 181820645 mm."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.width);
        dialogs.messages.clear();
        Type(form->NewWidth, c.width);
        LeaveFocus();
        ASSERT_EQ(dialogs.messages.size(), 1u);
        EXPECT_EQ(dialogs.messages[0].text, c.message);
        EXPECT_EQ(dialogs.messages[0].caption, "Tilvorn 2.16 - Advanced");
        // All pages are selected again even so; the last good counts stay.
        EXPECT_EQ(S(form->sEdit5->text()), "1-15");
    }
    dialogs.messages.clear();
    Type(form->NewWidth, "1000");
    LeaveFocus();
    EXPECT_TRUE(dialogs.messages.empty());
    EXPECT_EQ(form->PosterWidthPx, 11811);
}

TEST_F(WindowTest, ResizingFollowsTheSplitMode) {
    Start();
    form->resize(800, 700);
    QApplication::processEvents();
    EXPECT_EQ(S(form->ColCount->text()), "");
    EXPECT_EQ(S(form->sEdit5->text()), "");
    EXPECT_TRUE(dialogs.messages.empty());

    GivePicture(3000, 2000);
    Type(form->sEdit5, "2,4");
    LeaveFocus();
    EXPECT_EQ(S(form->sEdit5->text()), "2,4");
    const std::string columns = S(form->ColCount->text());
    form->resize(760, 660);
    QApplication::processEvents();
    // The same grid on a new preview: the chosen pages stay.
    ASSERT_EQ(S(form->ColCount->text()), columns);
    EXPECT_EQ(S(form->sEdit5->text()), "2,4");
}

TEST_F(WindowTest, ClosingReleasesThePicture) {
    Start();
    form->close();
    EXPECT_FALSE(form->SourceImage);
    EXPECT_TRUE(dialogs.messages.empty());
    Start();
    GivePicture(10, 10);
    ASSERT_TRUE(form->SourceImage);
    form->close();
    EXPECT_FALSE(form->SourceImage);
}

TEST_F(WindowTest, SourceModeAndColourDepth) {
    Start();
    const char* captions[3] = {"Открыть", "Сканировать", "Копировать"};
    for (int mode : {2, 1, 0}) {
        form->sScrollBar2->setValue(mode);
        EXPECT_EQ(S(form->ChangeImage->text()), captions[mode]);
    }
    const int depths[3] = {32, 24, 8};
    for (int entry : {0, 2, 1}) {
        Pick(form->sComboBox3, entry);
        EXPECT_EQ(form->ColorDepth, depths[entry]);
    }
}

TEST_F(WindowTest, BringingInWithoutAPictureKeepsThePanelsDisabled) {
    Start();
    dialogs.openAnswers.push_back("");  // the open dialog is cancelled
    QTest::mouseClick(form->ChangeImage, Qt::LeftButton);
    ASSERT_EQ(dialogs.openRequests.size(), 1u);
    EXPECT_EQ(dialogs.openRequests[0].filterIndex, 1);
    EXPECT_EQ(dialogs.openRequests[0].filter.substr(0, 20), "Images format|*.BMP;");
    EXPECT_FALSE(form->sPanel4->isEnabled());

    // A Windows bitmap written by another program comes in and sizes the poster.
    if (!HaveTool("/usr/bin/convert")) GTEST_SKIP() << "ImageMagick is not installed";
    std::string dir = TempDir("bmp");
    ASSERT_EQ(test::Run("/usr/bin/convert -size 120x80 xc:red BMP3:" + dir + "/red.bmp"), 0);
    dialogs.openAnswers.push_back(dir + "/red.bmp");
    QTest::mouseClick(form->ChangeImage, Qt::LeftButton);
    ASSERT_TRUE(form->SourceImage);
    EXPECT_EQ(form->NewWidth->Value(), 120);
    EXPECT_EQ(form->NewHeight->Value(), 80);
    EXPECT_TRUE(form->sPanel4->isEnabled());
    EXPECT_EQ(S(form->sEdit5->text()), "1");
}

}  // namespace
}  // namespace tilvorn::test
