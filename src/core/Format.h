// Delphi-style message formatting: %s takes a text, %d an integer, %% is a percent sign.
#pragma once
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <type_traits>
#include <variant>

namespace tilvorn {

using FormatArg = std::variant<int64_t, std::string>;

std::string FormatList(std::string_view pattern, std::initializer_list<FormatArg> args);

namespace detail {
template <typename T>
FormatArg ToFormatArg(const T& value) {
    if constexpr (std::is_integral_v<T> || std::is_enum_v<T>)
        return FormatArg(static_cast<int64_t>(value));
    else
        return FormatArg(std::string(value));
}
}  // namespace detail

/// Format("Bitcount in invalid (%d)", 12) → "Bitcount in invalid (12)".
/// A placeholder without an argument stays as it is.
template <typename... Args>
std::string Format(std::string_view pattern, const Args&... args) {
    return FormatList(pattern, {detail::ToFormatArg(args)...});
}

}  // namespace tilvorn
