#include <gtest/gtest.h>

#include <QStyleOptionComboBox>
#include <cmath>
#include <filesystem>

#include "WindowSupport.h"
#include "poster/ExtraTexts.h"

namespace tilvorn::test {
namespace {

TEST_F(WindowTest, SheetWindowDefaultsAndControls) {
    Start();
    EXPECT_EQ(page->size(), QSize(324, 120));
    // A titled window with a close button, above the main window.
    EXPECT_FALSE(page->windowFlags() & Qt::FramelessWindowHint);
    EXPECT_TRUE(page->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(S(page->windowTitle()), ExtraText(TExtraText::SheetWindowTitle, TTextLanguage::Russian));
    EXPECT_EQ(S(page->CancelButton->text()), ExtraText(TExtraText::CancelSheet, TTextLanguage::Russian));
    EXPECT_EQ(page->sComboBox1->count(), 12);
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

TEST_F(WindowTest, EveryPaperSizeSetsTheSizeEditsAndTheSheet) {
    // ISO 216 sizes in whole millimetres; the inch sizes (Letter 8.5 x 11 in = 215.9 x 279.4 mm,
    // Legal 8.5 x 14 in = 215.9 x 355.6 mm, Tabloid 11 x 17 in = 279.4 x 431.8 mm) rounded down.
    struct Case {
        int entry;
        int widthMm, heightMm;
    };
    const Case cases[] = {
        {0, 210, 297}, {1, 297, 210}, {2, 297, 420}, {3, 420, 297}, {4, 148, 210},  {5, 210, 148},
        {6, 215, 279}, {7, 279, 215}, {8, 215, 355}, {9, 355, 215}, {10, 279, 431}, {11, 431, 279},
    };
    Start();
    GivePicture(3000, 2000);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.entry);
        WhileSheetWindowShown([&](TPageForm& sheet) {
            Pick(sheet.sComboBox1, c.entry);
            EXPECT_EQ(sheet.sSpinEdit1->Value(), c.widthMm);
            EXPECT_EQ(sheet.sSpinEdit2->Value(), c.heightMm);
        });
        QTest::mouseClick(form->ChangePrinter, Qt::LeftButton);
        ASSERT_TRUE(sheetWindowSeen);
        // The layout's sheet in millimetres is read back from its pixels.
        EXPECT_NEAR(form->SheetWidthMm, c.widthMm, 0.05);
        EXPECT_NEAR(form->SheetHeightMm, c.heightMm, 0.05);
        // 300 DPI: Round(mm x 300 x 0.03937), halves to even.
        EXPECT_EQ(form->SheetWidthPx, std::nearbyint(c.widthMm * 11.811));
        EXPECT_EQ(form->SheetHeightPx, std::nearbyint(c.heightMm * 11.811));
    }
}

TEST_F(WindowTest, PaperSizesAreNamedInTheLanguageOfTheTexts) {
    const auto english =
        ReadFileBytes((std::filesystem::path(TILVORN_SOURCE_DIR) / "data" / "lang" / "English.lng").string());
    ASSERT_FALSE(english.empty());
    for (bool useEnglish : {false, true}) {
        SCOPED_TRACE(useEnglish ? "English" : "built-in");
        if (useEnglish) WriteLanguageFile(std::string(english.begin(), english.end()));
        Start();
        const TTextLanguage language = useEnglish ? TTextLanguage::English : TTextLanguage::Russian;
        EXPECT_EQ(S(page->sComboBox1->itemText(0)), form->Texts.Entry(kTextA4Portrait));
        EXPECT_EQ(S(page->sComboBox1->itemText(1)), form->Texts.Entry(kTextA4Landscape));
        EXPECT_EQ(S(page->sComboBox1->itemText(2)), ExtraText(TExtraText::A3Portrait, language));
        EXPECT_EQ(S(page->sComboBox1->itemText(11)), ExtraText(TExtraText::TabloidLandscape, language));
        EXPECT_EQ(S(page->windowTitle()), ExtraText(TExtraText::SheetWindowTitle, language));
        EXPECT_EQ(S(page->CancelButton->text()), ExtraText(TExtraText::CancelSheet, language));
        // Every entry, caption and button text fits its control.
        page->show();
        QApplication::processEvents();
        QStyleOptionComboBox option;
        option.initFrom(page->sComboBox1);
        const QRect field =
            page->style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField, page->sComboBox1);
        for (int i = 0; i < page->sComboBox1->count(); ++i) {
            const QString entry = page->sComboBox1->itemText(i);
            EXPECT_LE(page->sComboBox1->fontMetrics().horizontalAdvance(entry), field.width()) << S(entry);
        }
        for (QLabel* label : {page->sLabelFX1, page->sLabel1, page->sLabelFX2})
            EXPECT_LE(label->fontMetrics().horizontalAdvance(label->text()), label->contentsRect().width())
                << S(label->text());
        for (QPushButton* button : {page->sBitBtn1, page->CancelButton})
            EXPECT_LE(button->fontMetrics().horizontalAdvance(button->text()), button->width() - 8);
        page->hide();
        form.reset();
        page.reset();
    }
}

TEST_F(WindowTest, ClosingTheSheetWindowWithoutOkLeavesTheSheetAsItWas) {
    // Each way out that is not OK, with changes made in the window before it.
    const std::pair<const char*, std::function<void(TPageForm&)>> ways[] = {
        {"Cancel button", [](TPageForm& sheet) { QTest::mouseClick(sheet.CancelButton, Qt::LeftButton); }},
        {"Esc", [](TPageForm& sheet) { QTest::keyClick(sheet.sSpinEdit1->Editor(), Qt::Key_Escape); }},
        {"window closed", [](TPageForm& sheet) { sheet.close(); }},
    };
    Start();
    GivePicture(3000, 2000);
    TypeCell(1, 1, "9");  // a margin of the user's, which a new sheet would replace
    LeaveFocus();
    ASSERT_EQ(form->MarginXMm, 9);
    const int widthPx = form->SheetWidthPx, heightPx = form->SheetHeightPx;
    const QString columns = form->ColCount->text(), rows = form->RowCount->text();
    for (const auto& [name, leave] : ways) {
        SCOPED_TRACE(name);
        bool shown = false;
        QTimer::singleShot(0, page.get(), [&, leave = leave] {
            shown = page->isVisible();
            if (!shown) return;
            page->activateWindow();
            EXPECT_TRUE(QTest::qWaitForWindowActive(page.get()));
            Pick(page->sComboBox1, 3);  // A3 landscape
            QTest::mouseClick(page->sRadioGroup1->Button(3), Qt::LeftButton, {}, QPoint(6, 6));
            Type(page->sSpinEdit3, "600");
            leave(*page);
            if (page->isVisible()) page->sBitBtn1->click();  // not closed: end the test's wait
        });
        QTest::mouseClick(form->ChangePrinter, Qt::LeftButton);
        ASSERT_TRUE(shown);
        EXPECT_FALSE(page->isVisible());
        EXPECT_EQ(form->SheetWidthPx, widthPx);
        EXPECT_EQ(form->SheetHeightPx, heightPx);
        EXPECT_DOUBLE_EQ(form->PxPerMmX, 11.811);
        EXPECT_EQ(form->MarginXMm, 9);
        EXPECT_EQ(S(form->Cells(1, 1)), "9");
        EXPECT_EQ(form->ColCount->text(), columns);
        EXPECT_EQ(form->RowCount->text(), rows);
        // The window shows again what it showed when it opened.
        EXPECT_EQ(page->sComboBox1->currentIndex(), 0);
        EXPECT_EQ(page->sSpinEdit1->Value(), 210);
        EXPECT_EQ(page->sSpinEdit2->Value(), 297);
        EXPECT_EQ(page->sRadioGroup1->ItemIndex(), 2);
        EXPECT_FALSE(page->sSpinEdit3->isEnabled());
        EXPECT_EQ(page->sSpinEdit3->Value(), 300);
    }
    // OK afterwards applies what the window shows.
    WhileSheetWindowShown([](TPageForm& sheet) { Pick(sheet.sComboBox1, 1); });
    QTest::mouseClick(form->ChangePrinter, Qt::LeftButton);
    EXPECT_EQ(form->SheetWidthPx, 3508);
    EXPECT_EQ(S(form->Cells(1, 1)), "1");
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
