#include <gtest/gtest.h>

#include <filesystem>

#include "poster/ExtraTexts.h"

namespace tilvorn {
namespace {

TInterfaceTexts TextsOpeningWith(std::string open) {
    TInterfaceTexts texts;
    std::vector<std::string> lines = texts.Lines();
    lines[kTextOpen] = std::move(open);
    texts.Replace(std::move(lines));
    return texts;
}

TEST(ExtraTexts, LanguageFollowsTheTextsInUse) {
    EXPECT_EQ(LanguageOf(TInterfaceTexts()), TTextLanguage::Russian);

    TInterfaceTexts english;
    const auto file = std::filesystem::path(TILVORN_SOURCE_DIR) / "data" / "lang" / "English.lng";
    ASSERT_TRUE(english.LoadFromFileIfExists(file.string()));
    EXPECT_EQ(LanguageOf(english), TTextLanguage::English);

    // Other languages than the two shipped ones get the English extras; a Cyrillic file the
    // Russian ones.
    const struct {
        const char* open;
        TTextLanguage language;
    } cases[] = {
        {"Öffnen", TTextLanguage::English},
        {"Ouvrir", TTextLanguage::English},
        {"Відкрити", TTextLanguage::Russian},
        {"", TTextLanguage::English},
    };
    for (const auto& c : cases) EXPECT_EQ(LanguageOf(TextsOpeningWith(c.open)), c.language) << c.open;
}

TEST(ExtraTexts, EveryTextHasBothLanguages) {
    for (int n = 0; n < static_cast<int>(TExtraText::Count); ++n) {
        const auto text = static_cast<TExtraText>(n);
        const std::string& russian = ExtraText(text, TTextLanguage::Russian);
        const std::string& english = ExtraText(text, TTextLanguage::English);
        EXPECT_FALSE(russian.empty()) << n;
        EXPECT_FALSE(english.empty()) << n;
        EXPECT_NE(russian, english) << n;
    }
    EXPECT_THROW(ExtraText(TExtraText::Count, TTextLanguage::English), std::logic_error);
}

}  // namespace
}  // namespace tilvorn
