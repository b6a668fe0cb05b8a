// The tooltips and Qt's own texts follow the texts in use and the output mode.
#include <gtest/gtest.h>

#include <QFileDialog>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QTranslator>
#include <algorithm>
#include <filesystem>

#include "WindowSupport.h"
#include "poster/ExtraTexts.h"

namespace tilvorn::test {
namespace {

bool HasCyrillic(const QString& text) {
    return std::any_of(text.begin(), text.end(), [](QChar c) { return c.unicode() >= 0x400 && c.unicode() <= 0x4FF; });
}

class WindowHintsTest : public WindowTest {
protected:
    void UseEnglish() {
        const auto english =
            ReadFileBytes((std::filesystem::path(TILVORN_SOURCE_DIR) / "data" / "lang" / "English.lng").string());
        ASSERT_FALSE(english.empty());
        WriteLanguageFile(std::string(english.begin(), english.end()));
    }
    /// Every tooltip of the window in the language; a printer's name is the printer's.
    void ExpectEveryTooltipIn(TTextLanguage language) {
        int seen = 0;
        for (QWidget* w : form->findChildren<QWidget*>()) {
            const QString tip = w->toolTip();
            if (tip.isEmpty() || (w == form->ChangePrinter && form->sScrollBar1->value() == 0)) continue;
            ++seen;
            EXPECT_EQ(HasCyrillic(tip), language == TTextLanguage::Russian) << S(w->objectName()) << ": " << S(tip);
        }
        // The two mode bars, the set-up button outside printer mode, print and cancel.
        EXPECT_GE(seen, form->sScrollBar1->value() == 0 ? 4 : 5);
    }
    QString Tip(TExtraText text, TTextLanguage language) const {
        return QString::fromStdString(ExtraText(text, language));
    }
    /// The text Qt's message box gives its Abort button.
    static QString AbortText() {
        QMessageBox box;
        box.setStandardButtons(QMessageBox::Abort | QMessageBox::Retry | QMessageBox::Ignore);
        return box.button(QMessageBox::Abort)->text();
    }
    /// What Qt's own Russian catalogue says, read independently of the window.
    static QString QtRussian(const char* context, const char* text) {
        QTranslator russian;
        EXPECT_TRUE(russian.load("qtbase_ru", QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
            << "Qt's translations (qt6-translations-l10n) are missing";
        return russian.translate(context, text);
    }
};

TEST_F(WindowHintsTest, TooltipsFollowTheModeAndTheTexts) {
    struct Case {
        bool english;
        bool withPrinter;
        bool sheetMode;
    };
    const Case cases[] = {
        {false, false, true}, {true, false, true},  {false, true, true},
        {true, true, true},   {false, true, false}, {true, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(::testing::Message() << (c.english ? "English" : "built-in") << (c.withPrinter ? ", printer" : "")
                                          << (c.sheetMode ? ", sheet mode" : ", printer mode"));
        if (c.english) UseEnglish();
        if (c.withPrinter) AddPrinter("Laser", 600, 100, 100, 150, 100);
        Start();
        if (c.withPrinter && c.sheetMode) ClickArrow(form->sScrollBar1, true);
        ASSERT_EQ(form->sScrollBar1->value(), c.sheetMode ? 1 : 0);
        const TTextLanguage language = c.english ? TTextLanguage::English : TTextLanguage::Russian;
        if (c.sheetMode) {
            EXPECT_EQ(form->ChangePrinter->toolTip(), Tip(TExtraText::SheetSetUpHint, language));
            EXPECT_FALSE(form->sBitBtn1->isEnabledTo(form->sPanel2));
            // Why the print button is off: the mode, or no printer at all.
            EXPECT_EQ(form->sBitBtn1->toolTip(),
                      Tip(c.withPrinter ? TExtraText::PrintOffInSheetModeHint : TExtraText::PrintOffWithoutPrinterHint,
                          language));
        } else {
            EXPECT_EQ(S(form->ChangePrinter->toolTip()), "Laser ");
            EXPECT_EQ(form->sBitBtn1->toolTip(), Tip(TExtraText::PrintHint, language));
        }
        EXPECT_EQ(form->sScrollBar2->toolTip(), Tip(TExtraText::SourceModeHint, language));
        EXPECT_EQ(form->sScrollBar1->toolTip(), Tip(TExtraText::OutputModeHint, language));
        EXPECT_EQ(form->sSpeedButton1->toolTip(), Tip(TExtraText::CancelRunHint, language));
        ExpectEveryTooltipIn(language);
        form.reset();
        page.reset();
        printer.devices.clear();
        printer.current = -1;
        std::filesystem::remove(LanguageFilePath(languageDir));
    }
}

TEST_F(WindowHintsTest, SwitchingModesChangesTheTooltips) {
    AddPrinter("Laser", 600, 100, 100, 150, 100);
    Start();
    ClickArrow(form->sScrollBar1, true);
    EXPECT_EQ(form->ChangePrinter->toolTip(), Tip(TExtraText::SheetSetUpHint, TTextLanguage::Russian));
    EXPECT_EQ(form->sBitBtn1->toolTip(), Tip(TExtraText::PrintOffInSheetModeHint, TTextLanguage::Russian));
    ClickArrow(form->sScrollBar1, false);
    EXPECT_EQ(S(form->ChangePrinter->toolTip()), "Laser ");
    EXPECT_EQ(form->sBitBtn1->toolTip(), Tip(TExtraText::PrintHint, TTextLanguage::Russian));
}

TEST_F(WindowHintsTest, QtsOwnDialogsSpeakTheLanguageOfTheTexts) {
    Start();
    const QString russianAbort = QtRussian("QPlatformTheme", "Abort");
    ASSERT_TRUE(HasCyrillic(russianAbort));
    EXPECT_EQ(AbortText(), russianAbort);
    {
        QFileDialog dialog;
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        auto* lookIn = dialog.findChild<QLabel*>("lookInLabel");
        ASSERT_NE(lookIn, nullptr);
        EXPECT_EQ(lookIn->text(), QtRussian("QFileDialog", "Look in:"));
    }

    // The English file, read at the return from the sheet window: Qt's texts go back to English.
    UseEnglish();
    WhileSheetWindowShown([](TPageForm&) {});
    QTest::mouseClick(form->ChangePrinter, Qt::LeftButton);
    ASSERT_EQ(S(form->ChangeImage->text()), "Open");
    EXPECT_EQ(AbortText(), "Abort");

    // A window gone takes its translation with it.
    form.reset();
    page.reset();
    std::filesystem::remove(LanguageFilePath(languageDir));
    Start();
    EXPECT_EQ(AbortText(), russianAbort);
    form.reset();
    EXPECT_EQ(AbortText(), "Abort");
}

}  // namespace
}  // namespace tilvorn::test
