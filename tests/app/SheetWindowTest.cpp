#include <gtest/gtest.h>

#include "WindowSupport.h"

namespace tilvorn::test {
namespace {

TEST_F(WindowTest, SheetWindowDefaultsAndControls) {
    Start();
    EXPECT_EQ(page->size(), QSize(324, 120));
    EXPECT_TRUE(page->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_TRUE(page->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(page->sComboBox1->currentIndex(), 0);
    EXPECT_EQ(page->sSpinEdit1->Value(), 210);
    EXPECT_EQ(page->sSpinEdit2->Value(), 297);
    EXPECT_EQ(page->sRadioGroup1->ItemIndex(), 2);
    EXPECT_EQ(page->sRadioGroup1->Count(), 4);
    EXPECT_EQ(S(page->sRadioGroup1->Button(3)->text()), "");
    EXPECT_FALSE(page->sSpinEdit3->isEnabled());
    EXPECT_EQ(page->sSpinEdit3->Value(), 300);
    EXPECT_EQ(S(page->sLabelFX1->text()), "Размер листа (в мм)");
    EXPECT_EQ(S(page->sComboBox1->itemText(0)),
              "\xD0\x90"
              "4 - книжный");  // Cyrillic А
    EXPECT_EQ(S(page->sComboBox1->itemText(1)),
              "\xD0\x90"
              "4 - альбомный");
    EXPECT_EQ(S(page->sLabel1->text()), "ширина:     высота:");
    EXPECT_EQ(S(page->sLabelFX2->text()), "Расширение (в DPI)");
}

TEST_F(WindowTest, SheetChoicesGiveTheirSheetInPixels) {
    struct Case {
        int preset;  // entry of the preset list
        int resolution;  // entry of the resolution group
        const char* custom;  // typed custom resolution, or nullptr
        int widthPx, heightPx;
        double pxPerMm;
    };
    const Case cases[] = {
        {0, 2, nullptr, 2480, 3508, 11.811},
        {1, 1, nullptr, 1754, 1240, 5.9055},  // Round(1753.9335) x Round(1240.155)
        {0, 0, nullptr, 794, 1123, 3.77952},
        {0, 3, "600", 4961, 7016, 23.622},
        {0, 3, "5000", 19842, 28063, 94.488},  // clamped to 2400
        {0, 3, "100", 2480, 3508, 11.811},  // clamped to 300
    };
    Start();
    for (const Case& c : cases) {
        SCOPED_TRACE(c.widthPx);
        WhileSheetWindowShown([&](TPageForm& sheet) {
            Pick(sheet.sComboBox1, c.preset);
            QTest::mouseClick(sheet.sRadioGroup1->Button(c.resolution), Qt::LeftButton, {}, QPoint(6, 6));
            EXPECT_EQ(sheet.sSpinEdit3->isEnabled(), c.resolution == 3);
            if (c.custom) {
                Type(sheet.sSpinEdit3, c.custom);
                sheet.sSpinEdit1->setFocus(Qt::MouseFocusReason);
            }
        });
        QTest::mouseClick(form->ChangePrinter, Qt::LeftButton);
        EXPECT_TRUE(sheetWindowSeen);
        EXPECT_FALSE(page->isVisible());
        EXPECT_EQ(form->SheetWidthPx, c.widthPx);
        EXPECT_EQ(form->SheetHeightPx, c.heightPx);
        EXPECT_NEAR(form->PxPerMmX, c.pxPerMm, 1e-9);
        EXPECT_NEAR(form->PxPerMmY, c.pxPerMm, 1e-9);
        EXPECT_EQ(S(form->Cells(1, 1)), "1");
        EXPECT_EQ(S(form->Cells(2, 1)), "1");
    }
    EXPECT_EQ(printer.dialogsShown, 0);
}

TEST_F(WindowTest, SheetWindowSitsBesideTheMainWindowAndBringsBackItsTexts) {
    Start();
    GivePicture(3000, 2000);
    TypeCell(1, 2, "9");
    LeaveFocus();
    Pick(form->sComboBox3, 0);
    ASSERT_EQ(form->OverlapXMm, 9);
    ASSERT_EQ(form->ColorDepth, 32);
    QPoint expected = form->frameGeometry().topLeft() + QPoint(97, 105);
    QPoint seen;
    WhileSheetWindowShown([&](TPageForm& sheet) { seen = sheet.pos(); });
    QTest::mouseClick(form->ChangePrinter, Qt::LeftButton);
    EXPECT_EQ(seen, expected);
    // Returning to the main window re-applies the texts before the layout is recomputed.
    EXPECT_EQ(S(form->ChangePrinter->text()), "Страница");
    EXPECT_EQ(form->OverlapXMm, 5);
    EXPECT_EQ(S(form->Cells(1, 2)), "5");
    EXPECT_EQ(form->ColorDepth, 24);
    EXPECT_EQ(form->sComboBox3->currentIndex(), 1);
    EXPECT_EQ(form->OverlapXPx, 59);
    EXPECT_EQ(S(form->ColCount->text()), "15");
}

TEST_F(WindowTest, SwitchingModesAppliesTheModeWithoutDialogs) {
    AddPrinter("Laser", 600, 100, 100, 150, 100);
    Start();
    ASSERT_EQ(form->sScrollBar1->value(), 0);
    page->sRadioGroup1->SetItemIndex(1);  // 150 DPI, already chosen in the sheet window
    ClickArrow(form->sScrollBar1, true);
    EXPECT_EQ(form->sScrollBar1->value(), 1);
    EXPECT_FALSE(page->isVisible());
    EXPECT_EQ(S(form->ChangePrinter->text()), "Страница");
    EXPECT_FALSE(form->sBitBtn1->isEnabledTo(form->sPanel2));
    EXPECT_EQ(form->SheetWidthPx, 1240);
    EXPECT_EQ(S(form->Cells(1, 1)), "1");
    EXPECT_EQ(form->OffsetLeftPx, 0);
    // No picture: only the margin cells change.
    EXPECT_EQ(S(form->ColCount->text()), "");

    ClickArrow(form->sScrollBar1, false);
    EXPECT_EQ(form->sScrollBar1->value(), 0);
    EXPECT_EQ(S(form->ChangePrinter->text()), "Принтер");
    EXPECT_TRUE(form->sBitBtn1->isEnabledTo(form->sPanel2));
    EXPECT_EQ(S(form->Cells(1, 1)), "7");
    EXPECT_EQ(printer.dialogsShown, 0);
}

TEST_F(WindowTest, PrinterModeWithoutPrintersFallsBackToTheSheetWindow) {
    Start();
    // Back to printer mode by hand: there is still no printer, so sheet mode returns.
    ClickArrow(form->sScrollBar1, false);
    EXPECT_EQ(form->sScrollBar1->value(), 1);
    EXPECT_EQ(S(form->ChangePrinter->text()), "Страница");
    EXPECT_TRUE(dialogs.messages.empty());
}

}  // namespace
}  // namespace tilvorn::test
