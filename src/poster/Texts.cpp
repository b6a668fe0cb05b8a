#include "poster/Texts.h"

#include <filesystem>

#include "core/Streams.h"

namespace tilvorn {

namespace {

// Windows-1251 from 0x80 to 0xBF; 0xC0 to 0xFF are А..я (U+0410..U+044F) in order. The one
// unassigned byte, 0x98, keeps its own value as the platform's converter does.
constexpr char16_t kUpperHalf[64] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021,  // 80
    0x20AC, 0x2030, 0x0409, 0x2039, 0x040A, 0x040C, 0x040B, 0x040F,  // 88
    0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,  // 90
    0x0098, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F,  // 98
    0x00A0, 0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7,  // A0
    0x0401, 0x00A9, 0x0404, 0x00AB, 0x00AC, 0x00AD, 0x00AE, 0x0407,  // A8
    0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6, 0x00B7,  // B0
    0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457,  // B8
};

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

char32_t Windows1251ToUnicode(unsigned char b) {
    if (b < 0x80) return b;
    if (b >= 0xC0) return 0x0410 + (b - 0xC0);
    return kUpperHalf[b - 0x80];
}

// Length of the UTF-8 sequence starting at text[i], or 0 when it is not well formed
// (overlong forms, surrogates and values above U+10FFFF included).
size_t Utf8SequenceLength(std::string_view text, size_t i) {
    auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    unsigned char lead = byte(i);
    size_t length;
    char32_t value;
    if (lead < 0x80) return 1;
    if (lead >= 0xC2 && lead <= 0xDF)
        length = 2, value = lead & 0x1F;
    else if (lead >= 0xE0 && lead <= 0xEF)
        length = 3, value = lead & 0x0F;
    else if (lead >= 0xF0 && lead <= 0xF4)
        length = 4, value = lead & 0x07;
    else
        return 0;
    if (i + length > text.size()) return 0;
    for (size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) return 0;
        value = (value << 6) | (byte(i + k) & 0x3F);
    }
    if ((length == 3 && (value < 0x800 || (value >= 0xD800 && value <= 0xDFFF))) ||
        (length == 4 && (value < 0x10000 || value > 0x10FFFF)))
        return 0;
    return length;
}

bool IsValidUtf8(std::string_view text) {
    for (size_t i = 0; i < text.size();) {
        size_t length = Utf8SequenceLength(text, i);
        if (length == 0) return false;
        i += length;
    }
    return true;
}

// Cuts a UTF-8 line after kMaxTextLineChars characters.
std::string LimitLine(std::string line) {
    size_t chars = 0;
    for (size_t i = 0; i < line.size(); ++chars) {
        if (chars == kMaxTextLineChars) {
            line.resize(i);
            break;
        }
        i += Utf8SequenceLength(line, i);
    }
    return line;
}

std::vector<std::string> SplitLines(std::string_view text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find_first_of("\r\n", start);
        if (end == std::string_view::npos) {
            lines.emplace_back(text.substr(start));
            break;
        }
        lines.emplace_back(text.substr(start, end - start));
        start = end + 1;
        if (text[end] == '\r' && start < text.size() && text[start] == '\n') ++start;
    }
    return lines;
}

}  // namespace

std::string DecodeWindows1251(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size() * 2);
    for (char b : bytes) AppendUtf8(out, Windows1251ToUnicode(static_cast<unsigned char>(b)));
    return out;
}

std::vector<std::string> DecodeLanguageFile(std::string_view bytes) {
    bytes = bytes.substr(0, bytes.find('\0'));
    constexpr std::string_view kBom = "\xEF\xBB\xBF";
    std::string text;
    if (bytes.substr(0, kBom.size()) == kBom && IsValidUtf8(bytes.substr(kBom.size())))
        text = std::string(bytes.substr(kBom.size()));
    else
        text = DecodeWindows1251(bytes);
    std::vector<std::string> lines = SplitLines(text);
    for (std::string& line : lines) line = LimitLine(std::move(line));
    return lines;
}

const std::string& TInterfaceTexts::Entry(int n) const {
    static const std::string empty;
    if (n < 0 || n >= static_cast<int>(lines_.size())) return empty;
    return lines_[n];
}

bool TInterfaceTexts::LoadFromFileIfExists(const std::string& path) {
    std::error_code error;
    auto status = std::filesystem::status(path, error);
    if (error || !std::filesystem::exists(status) || std::filesystem::is_directory(status)) return false;
    TFileStream file(path, FileMode::OpenRead);
    std::string bytes(static_cast<size_t>(file.Size()), '\0');
    file.ReadBuffer(bytes.data(), static_cast<int64_t>(bytes.size()));
    lines_ = DecodeLanguageFile(bytes);
    return true;
}

std::string LanguageFilePath(const std::string& directory) {
    if (directory.empty()) return kLanguageFileName;
    return (std::filesystem::path(directory) / kLanguageFileName).string();
}

namespace {

/// Shipped language files by the language part of a locale name.
struct ShippedLanguage {
    const char* Language;
    const char* File;
};
constexpr ShippedLanguage kShippedLanguages[] = {
    {"en", "English.lng"},
};

}  // namespace

std::string ShippedLanguageFile(const std::string& programDir, const std::string& locale) {
    const std::string language = locale.substr(0, locale.find_first_of("_.@-"));
    for (const ShippedLanguage& shipped : kShippedLanguages) {
        if (language != shipped.Language) continue;
        const std::filesystem::path file =
            (std::filesystem::path(programDir) / ".." / "share" / "tilvorn" / shipped.File).lexically_normal();
        std::error_code error;
        return std::filesystem::is_regular_file(file, error) ? file.string() : std::string();
    }
    return {};
}

}  // namespace tilvorn
