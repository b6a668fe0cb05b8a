#include "core/Format.h"

namespace tilvorn {

std::string FormatList(std::string_view pattern, std::initializer_list<FormatArg> args) {
    std::string out;
    out.reserve(pattern.size() + 16);
    auto next = args.begin();
    for (size_t i = 0; i < pattern.size(); ++i) {
        char c = pattern[i];
        if (c != '%' || i + 1 >= pattern.size()) {
            out += c;
            continue;
        }
        char kind = pattern[i + 1];
        if (kind == '%') {
            out += '%';
            ++i;
            continue;
        }
        if ((kind != 's' && kind != 'd') || next == args.end()) {
            out += c;
            continue;
        }
        const FormatArg& arg = *next++;
        if (const auto* n = std::get_if<int64_t>(&arg))
            out += std::to_string(*n);
        else
            out += std::get<std::string>(arg);
        ++i;
    }
    return out;
}

}  // namespace tilvorn
