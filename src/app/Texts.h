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

/// Entry numbers that other parts of the program address by number.
enum TextEntry : int {
    kTextNone = 37,            // "Нет": pointer position unknown
    kTextBatchFirstLine = 38,  // 38 to 43: the batch print message, one entry a line
    kTextBatchLastLine = 43,
    kTextBatchCaption = 44,
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

}  // namespace tilvorn
