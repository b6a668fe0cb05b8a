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
