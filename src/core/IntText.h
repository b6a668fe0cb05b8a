// Integer text as the user types it in grid cells, page lists and counts: leading blanks
// skipped, an optional sign, decimal digits or hexadecimal after "$", "x", "X" or "0x",
// nothing after, within the 32-bit signed range.
#pragma once
#include <cstdint>
#include <optional>
#include <string_view>

namespace tilvorn {

std::optional<int32_t> ParseIntText(std::string_view text);

/// The value, or EConvertError "'%s' is not a valid integer value".
int32_t StrToInt(std::string_view text);

/// The value, or fallback when the text is not a valid integer.
int32_t StrToIntDef(std::string_view text, int32_t fallback);

}  // namespace tilvorn
