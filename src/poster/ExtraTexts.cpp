#include "poster/ExtraTexts.h"

#include <algorithm>
#include <array>
#include <stdexcept>

namespace tilvorn {

namespace {

struct TExtraTextRow {
    TExtraText text;
    std::string russian;
    std::string english;
};

const std::array kExtraTexts = {
    TExtraTextRow{TExtraText::SmoothEnlargement, "Плавное увеличение", "Smooth enlargement"},
    TExtraTextRow{TExtraText::BlocksEnlargement, "Увеличение блоками", "Blocks enlargement"},
    TExtraTextRow{TExtraText::SheetWindowTitle, "Лист", "Sheet"},
    TExtraTextRow{TExtraText::CancelSheet, "Отмена", "Cancel"},
    TExtraTextRow{TExtraText::A3Portrait, "A3 - книжный", "A3 - portrait"},
    TExtraTextRow{TExtraText::A3Landscape, "A3 - альбомный", "A3 - landscape"},
    TExtraTextRow{TExtraText::A5Portrait, "A5 - книжный", "A5 - portrait"},
    TExtraTextRow{TExtraText::A5Landscape, "A5 - альбомный", "A5 - landscape"},
    TExtraTextRow{TExtraText::LetterPortrait, "Letter - книжный", "Letter - portrait"},
    TExtraTextRow{TExtraText::LetterLandscape, "Letter - альбомный", "Letter - landscape"},
    TExtraTextRow{TExtraText::LegalPortrait, "Legal - книжный", "Legal - portrait"},
    TExtraTextRow{TExtraText::LegalLandscape, "Legal - альбомный", "Legal - landscape"},
    TExtraTextRow{TExtraText::TabloidPortrait, "Tabloid - книжный", "Tabloid - portrait"},
    TExtraTextRow{TExtraText::TabloidLandscape, "Tabloid - альбомный", "Tabloid - landscape"},
    TExtraTextRow{TExtraText::SourceModeHint, "Откуда берётся картинка: файл, сканер или буфер обмена",
                  "Where the picture comes from: a file, a scanner or the clipboard"},
    TExtraTextRow{TExtraText::OutputModeHint, "Куда идёт плакат: на принтер или в файлы листов заданного размера",
                  "Where the poster goes: to the printer, or to files of sheets of a size you type"},
    TExtraTextRow{TExtraText::SheetSetUpHint, "Размер и разрешение листа, на которые плакат режется в файлы",
                  "Size and resolution of the sheets the poster is cut into for saving to files"},
    TExtraTextRow{TExtraText::PrintHint, "Напечатать выбранные страницы на принтере",
                  "Print the chosen pages on the printer"},
    TExtraTextRow{TExtraText::PrintOffInSheetModeHint,
                  "В режиме листа печать выключена: страницы сохраняются в файлы. Полоса над кнопкой листа "
                  "возвращает принтер",
                  "Printing is off in sheet mode: the pages are saved to files. The bar above the sheet button "
                  "brings the printer back"},
    TExtraTextRow{TExtraText::PrintOffWithoutPrinterHint,
                  "Печать выключена: принтер не установлен. Страницы можно сохранить в файлы",
                  "Printing is off: no printer is installed. The pages can be saved to files"},
    TExtraTextRow{TExtraText::CancelRunHint, "Отменить операцию", "Cancel the operation"},
    TExtraTextRow{TExtraText::AssemblyLabels, "Метки и схема сборки", "Assembly labels and map"},
    TExtraTextRow{TExtraText::PosterSummary,
                  "Плакат %1 × %2 мм; листы %6 × %7 мм: %3 × %4 = %5; %8 точек картинки на дюйм",
                  "Poster %1 × %2 mm; %3 × %4 = %5 sheets of %6 × %7 mm; %8 picture pixels per inch"},
    TExtraTextRow{TExtraText::SoftPrint, "меньше 100 на дюйм: отпечаток будет нерезким",
                  "below 100 per inch: the print will look soft"},
};

// A byte of a UTF-8 sequence that starts a Cyrillic letter (U+0400..U+04FF).
bool StartsCyrillic(unsigned char byte) { return byte == 0xD0 || byte == 0xD1 || byte == 0xD2 || byte == 0xD3; }

}  // namespace

TTextLanguage LanguageOf(const TInterfaceTexts& texts) {
    // The open button's caption is the first entry of every language file.
    for (unsigned char byte : texts.Entry(kTextOpen))
        if (StartsCyrillic(byte)) return TTextLanguage::Russian;
    return TTextLanguage::English;
}

const std::string& ExtraText(TExtraText text, TTextLanguage language) {
    const auto row = std::find_if(kExtraTexts.begin(), kExtraTexts.end(),
                                  [text](const TExtraTextRow& candidate) { return candidate.text == text; });
    if (row == kExtraTexts.end()) throw std::logic_error("an extra text without a row in the table");
    return language == TTextLanguage::Russian ? row->russian : row->english;
}

}  // namespace tilvorn
