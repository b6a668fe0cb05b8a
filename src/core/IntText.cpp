#include "core/IntText.h"

#include <string>

#include "core/Exceptions.h"
#include "core/Format.h"

namespace tilvorn {

namespace {

int DigitValue(char c, int base) {
    int v = -1;
    if (c >= '0' && c <= '9')
        v = c - '0';
    else if (c >= 'a' && c <= 'f')
        v = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
        v = c - 'A' + 10;
    return v < base ? v : -1;
}

}  // namespace

std::optional<int32_t> ParseIntText(std::string_view text) {
    size_t i = 0;
    while (i < text.size() && text[i] == ' ') ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    int base = 10;
    if (i < text.size() && (text[i] == '$' || text[i] == 'x' || text[i] == 'X')) {
        base = 16;
        ++i;
    } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i >= text.size()) return std::nullopt;
    // Magnitude limit: 2^31 for a negative number, 2^31 - 1 otherwise, in either base.
    const int64_t limit = negative ? 2147483648LL : 2147483647LL;
    int64_t value = 0;
    for (; i < text.size(); ++i) {
        int d = DigitValue(text[i], base);
        if (d < 0) return std::nullopt;
        value = value * base + d;
        if (value > limit) return std::nullopt;
    }
    return static_cast<int32_t>(negative ? -value : value);
}

int32_t StrToInt(std::string_view text) {
    if (auto v = ParseIntText(text)) return *v;
    throw EConvertError(Format("'%s' is not a valid integer value", std::string(text)));
}

int32_t StrToIntDef(std::string_view text, int32_t fallback) { return ParseIntText(text).value_or(fallback); }

}  // namespace tilvorn
