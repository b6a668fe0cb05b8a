// Texts of the window beyond the numbered interface list: tooltips, summaries and the new
// choices. The language files have no entries for them, and their numbered entries keep
// their meaning, so these come in the two languages the program ships, and the language of
// the texts in use picks one.
#pragma once
#include <string>

#include "poster/Texts.h"

namespace tilvorn {

enum class TTextLanguage { Russian, English };

/// Russian when the texts in use read as Russian (the built-in texts, or a file in
/// Cyrillic), English for every other language file.
TTextLanguage LanguageOf(const TInterfaceTexts& texts);

/// The extra texts, by what each one says. Add an entry before Count and a row to the table
/// in ExtraTexts.cpp.
enum class TExtraText {
    SmoothEnlargement,
    BlocksEnlargement,
    // The sheet window: its title, its cancel button and the paper sizes beside A4.
    SheetWindowTitle,
    CancelSheet,
    A3Portrait,
    A3Landscape,
    A5Portrait,
    A5Landscape,
    LetterPortrait,
    LetterLandscape,
    LegalPortrait,
    LegalLandscape,
    TabloidPortrait,
    TabloidLandscape,
    // Tooltips of the main window.
    SourceModeHint,
    OutputModeHint,
    SheetSetUpHint,
    PrintHint,
    PrintOffInSheetModeHint,
    PrintOffWithoutPrinterHint,
    CancelRunHint,
    AssemblyLabels,
    PosterSummary,  // %1 x %2 mm, %3 x %4 = %5 sheets of %6 x %7 mm, %8 pixels per inch
    SoftPrint,
    Count  // not a text: the number of texts
};

/// The text in the given language, UTF-8.
const std::string& ExtraText(TExtraText text, TTextLanguage language);

}  // namespace tilvorn
