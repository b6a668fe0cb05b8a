#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "poster/Texts.h"
#include "support/TestSupport.h"

namespace tilvorn {
namespace {

TEST(InterfaceTexts, BuiltInList) {
    TInterfaceTexts texts;
    ASSERT_EQ(texts.Lines().size(), 49u);
    EXPECT_EQ(texts.Entry(0), "Открыть");
    EXPECT_EQ(texts.Entry(25), "Обший прогресс");
    EXPECT_EQ(texts.Entry(34), "ширина:     высота:");
    EXPECT_EQ(texts.Entry(37), "Нет");
    EXPECT_EQ(texts.Entry(44), "Сообщение программы");
    // The presets start with the Cyrillic capital А (U+0410, D0 90 in UTF-8), not Latin A.
    for (int entry : {32, 33}) EXPECT_EQ(texts.Entry(entry).substr(0, 2), "\xD0\x90") << entry;
    EXPECT_EQ(texts.Entry(30).substr(0, 8), "--------");
    EXPECT_EQ(texts.Entry(36).substr(0, 8), "--------");
    for (int entry = 45; entry <= 48; ++entry) EXPECT_EQ(texts.Entry(entry), "") << entry;
    EXPECT_EQ(texts.Entry(49), "");
    EXPECT_EQ(texts.Entry(-1), "");
}

TEST(InterfaceTexts, Windows1251Letters) {
    struct Case {
        const char* bytes;
        const char* utf8;
    };
    const Case cases[] = {
        {"\xC0\xFF", "Ая"},      {"\xA8\xB8", "Ёё"}, {"\xB9", "№"},        {"\x88", "€"},
        {"\xCD\xE5\xF2", "Нет"}, {"abc 1", "abc 1"}, {"\xA0", "\xC2\xA0"},
    };
    for (const Case& c : cases) EXPECT_EQ(DecodeWindows1251(c.bytes), c.utf8) << c.utf8;
}

TEST(InterfaceTexts, Windows1251TableAgreesWithIconv) {
    if (!test::HaveTool("iconv")) GTEST_SKIP() << "iconv is not installed";
    std::string dir = test::TempDir("cp1251");
    std::vector<unsigned char> bytes;
    for (int b = 0x80; b <= 0xFF; ++b)
        if (b != 0x98) bytes.push_back(static_cast<unsigned char>(b));  // 0x98 is unassigned
    test::WriteFileBytes(dir + "/in.txt", bytes);
    ASSERT_EQ(test::Run("iconv -f CP1251 -t UTF-8 " + dir + "/in.txt > " + dir + "/out.txt"), 0);
    auto expected = test::ReadFileBytes(dir + "/out.txt");
    std::string ours = DecodeWindows1251(std::string(bytes.begin(), bytes.end()));
    EXPECT_EQ(ours, std::string(expected.begin(), expected.end()));
}

TEST(InterfaceTexts, LanguageFileLinesAndEnds) {
    using Lines = std::vector<std::string>;
    struct Case {
        std::string bytes;
        Lines lines;
    };
    const Case cases[] = {
        {"Open\r\nScan\r\nCopy\r\n", {"Open", "Scan", "Copy"}},
        {"Open\nScan\nCopy\n", {"Open", "Scan", "Copy"}},
        {"Open\rScan\rCopy", {"Open", "Scan", "Copy"}},
        {"a\r\n\r\nc", {"a", "", "c"}},
        {"a\r\rc\n\n", {"a", "", "c", ""}},
        {std::string("a\nb\0c\nd", 7), {"a", "b"}},  // NUL ends the text
        {std::string("\0a\nb", 4), {}},
        {"", {}},
        {"\xCE\xF2\xEA\xF0\xFB\xF2\xFC\n", {"Открыть"}},
        {"\xEF\xBB\xBFОткрыть\nÜber\n", {"Открыть", "Über"}},  // UTF-8 with its mark
        {"\xEF\xBB\xBF\xCD\xE5\xF2",
         {"п»ї"
          "Нет"}},  // the mark but not UTF-8: Windows-1251
        {"\xD0\x9D\xD0\xB5\xD1\x82", {"РќРµС‚"}},  // UTF-8 without the mark is read as 1251
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.bytes));
        EXPECT_EQ(DecodeLanguageFile(c.bytes), c.lines);
    }
}

TEST(InterfaceTexts, LongLinesAreCutAt4096Characters) {
    std::string cp1251(5000, '\xC0');
    auto lines = DecodeLanguageFile(cp1251 + "\nnext");
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0].size(), 4096u * 2);  // 4096 letters А, two bytes each in UTF-8
    EXPECT_EQ(lines[1], "next");

    std::string utf8 = "\xEF\xBB\xBF";
    for (int i = 0; i < 4095; ++i) utf8 += "a";
    utf8 += "ЖЖЖ";
    lines = DecodeLanguageFile(utf8);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0], std::string(4095, 'a') + "Ж");
    EXPECT_EQ(DecodeLanguageFile(std::string(4096, 'x'))[0].size(), 4096u);
}

TEST(InterfaceTexts, FileBesideTheProgram) {
    std::string dir = test::TempDir("lng");
    TInterfaceTexts texts;
    EXPECT_FALSE(texts.LoadFromFileIfExists(LanguageFilePath(dir)));
    EXPECT_EQ(texts.Entry(3), "Принтер");

    test::WriteFileBytes(LanguageFilePath(dir), {'O', 'n', 'e', '\n', 'T', 'w', 'o', '\n', 'T', 'h', 'r', 'e', 'e'});
    EXPECT_TRUE(texts.LoadFromFileIfExists(LanguageFilePath(dir)));
    EXPECT_EQ(texts.Lines(), (std::vector<std::string>{"One", "Two", "Three"}));
    EXPECT_EQ(texts.Entry(3), "");
    EXPECT_EQ(texts.Entry(44), "");

    // Once read, a file that goes away leaves the list it gave.
    std::filesystem::remove(LanguageFilePath(dir));
    EXPECT_FALSE(texts.LoadFromFileIfExists(LanguageFilePath(dir)));
    EXPECT_EQ(texts.Entry(0), "One");

    std::filesystem::create_directory(LanguageFilePath(dir));
    EXPECT_FALSE(texts.LoadFromFileIfExists(LanguageFilePath(dir)));
}

TEST(InterfaceTexts, ShippedEnglishTranslationHasEveryEntry) {
    auto root = std::filesystem::path(TILVORN_SOURCE_DIR);
    std::string path = (root / "data" / "lang" / "English.lng").string();
    TInterfaceTexts texts;
    ASSERT_TRUE(texts.LoadFromFileIfExists(path)) << path;
    ASSERT_EQ(texts.Lines().size(), 49u);
    EXPECT_EQ(texts.Entry(0), "Open");
    EXPECT_EQ(texts.Entry(37), "None");
    EXPECT_EQ(texts.Entry(44), "Program message");
    for (int entry = 0; entry <= 44; ++entry) EXPECT_FALSE(texts.Entry(entry).empty()) << entry;
}

}  // namespace
}  // namespace tilvorn

namespace tilvorn::test {
namespace {

TEST(ShippedLanguages, TheSystemLanguagePicksTheTranslationInstalledBesideTheProgram) {
    namespace fs = std::filesystem;
    const fs::path prefix = TempDir("shippedprefix");
    fs::create_directories(prefix / "bin");
    fs::create_directories(prefix / "share" / "tilvorn");
    WriteFileBytes((prefix / "share" / "tilvorn" / "English.lng").string(), {'O', 'p', 'e', 'n', '\n'});
    const std::string english = (prefix / "share" / "tilvorn" / "English.lng").string();
    const std::string bin = (prefix / "bin").string();
    struct Case {
        std::string programDir, locale, expected;
    };
    const Case cases[] = {
        {bin, "en_GB", english},
        {bin, "en_US.UTF-8", english},
        {bin + "/", "en", english},
        {bin, "ru_RU", ""},  // the built-in texts are Russian
        {bin, "de_DE", ""},  // no German file is shipped
        {bin, "C", ""},
        {bin, "", ""},
        {bin, "eng_XX", ""},  // a language code is matched whole
        {(prefix / "nowhere" / "bin").string(), "en_GB", ""},  // not installed there
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.programDir + " " + c.locale);
        EXPECT_EQ(ShippedLanguageFile(c.programDir, c.locale), c.expected);
    }
}

}  // namespace
}  // namespace tilvorn::test
