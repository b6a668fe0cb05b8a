// The two roundings the program's formulas name: Trunc cuts toward zero, Round takes the
// nearest integer with halves going to the even neighbour.
#pragma once
#include <cmath>
#include <cstdint>

namespace tilvorn {

inline int64_t Trunc(double value) { return static_cast<int64_t>(std::trunc(value)); }

inline int64_t Round(double value) {
    double whole = std::floor(value);
    double fraction = value - whole;
    if (fraction > 0.5) return static_cast<int64_t>(whole) + 1;
    if (fraction < 0.5) return static_cast<int64_t>(whole);
    int64_t w = static_cast<int64_t>(whole);
    return (w % 2 == 0) ? w : w + 1;
}

}  // namespace tilvorn
