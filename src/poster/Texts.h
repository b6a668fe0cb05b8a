// The interface text list: 49 numbered lines, built in (Russian) or read line for line from
// the language file "Tilvorn.lng" beside the executable. Texts are kept as UTF-8.
//
// The file is 8-bit text in Windows-1251, decoded by our own table so the result does not
// depend on the machine's locale; a file that starts with the UTF-8 byte-order mark and is
// valid UTF-8 is read as UTF-8. CR, LF and CR LF end a line, a NUL byte ends the text, and
// at most 4096 characters of a line are used.
#pragma once
#include <string>
#include <string_view>
#include <vector>

namespace tilvorn {

inline constexpr const char* kLanguageFileName = "Tilvorn.lng";
inline constexpr int kInterfaceTextCount = 49;
inline constexpr size_t kMaxTextLineChars = 4096;

/// The entry numbers of the interface texts, by what each entry labels (the built-in text
/// in the comment).
enum TextEntry : int {
    kTextOpen = 0,  // Открыть
    kTextScan = 1,  // Сканировать
    kTextPaste = 2,  // Копировать
    kTextPrinter = 3,  // Принтер
    kTextSheet = 4,  // Страница
    kTextColorDepth = 5,  // Глубина цвета
    kTextColor32 = 6,  // Цветная (RGB 32bit)
    kTextColor24 = 7,  // Цветная (RGB 24bit)
    kTextGray8 = 8,  // Оттенки серого(Gray 8bit)
    kTextNewSize = 9,  // Новый размер (в мм)
    kTextKeepScale = 10,  // Сохранять пропорцию
    kTextInMm = 11,  // В мм
    kTextMargin = 12,  // Отступ
    kTextOverlap = 13,  // Нахлест
    kTextLeft = 14,  // Слева
    kTextTop = 15,  // Сверху
    kTextSplitAsIs = 16,  // Разрез как есть
    kTextSplitPageWidth = 17,  // По ширине страницы
    kTextSplitPageHeight = 18,  // По высоте страницы
    kTextWhichPages = 19,  // Какие страницы печатать
    kTextAll = 20,  // Все
    kTextNothing = 21,  // Ничего
    kTextPageCount = 22,  // Число страниц
    kTextPrint = 23,  // Распечатать
    kTextSave = 24,  // Сохранить
    kTextOverallProgress = 25,  // Обший прогресс
    kTextFragmentProgress = 26,  // Создание фрагмента
    kTextColumnNumber = 27,  // Номер столбца:
    kTextRowNumber = 28,  // Номер строки:
    kTextPageNumber = 29,  // Номер страницы:
    kTextSheetWindowSection = 30,  // --------дополнительное окно-------
    kTextSheetSize = 31,  // Размер листа (в мм)
    kTextA4Portrait = 32,  // А4 - книжный
    kTextA4Landscape = 33,  // А4 - альбомный
    kTextWidthHeight = 34,  // ширина:     высота:
    kTextResolution = 35,  // Расширение (в DPI)
    kTextMessagesSection = 36,  // --------сообщение в программе-----
    kTextNone = 37,  // Нет
    kTextBatchFirstLine = 38,  // 38 to 43: the batch print message, one entry a line
    kTextBatchLastLine = 43,  // the last line of the batch print message
    kTextBatchCaption = 44,  // Сообщение программы
};

const std::vector<std::string>& BuiltInTexts();

/// One Windows-1251 byte string as UTF-8.
std::string DecodeWindows1251(std::string_view bytes);
/// The lines of a language file's content, decoded and cut to kMaxTextLineChars.
std::vector<std::string> DecodeLanguageFile(std::string_view bytes);

class TInterfaceTexts {
public:
    TInterfaceTexts() : lines_(BuiltInTexts()) {}

    /// Entry n, or an empty text beyond the end of the list.
    const std::string& Entry(int n) const;
    const std::vector<std::string>& Lines() const { return lines_; }
    void Replace(std::vector<std::string> lines) { lines_ = std::move(lines); }

    /// Replaces the list by the file's lines when the file exists; a missing file leaves the
    /// list as it is (answers false). A file that cannot be read raises EFOpenError/EReadError.
    bool LoadFromFileIfExists(const std::string& path);

private:
    std::vector<std::string> lines_;
};

/// "<directory>/Tilvorn.lng".
std::string LanguageFilePath(const std::string& directory);

/// The shipped translation for a system locale ("en_GB.UTF-8", "en", "de_DE"): the file in
/// "<programDir>/../share/tilvorn/" named for the locale's language, when one is installed.
/// Empty when there is none: Russian is the built-in texts, other languages are not shipped.
std::string ShippedLanguageFile(const std::string& programDir, const std::string& locale);

}  // namespace tilvorn
