// Number formatting of the base library (used in log lines and box printing).
#pragma once

#include <string>

namespace helper {
// `value` in fixed notation with `digits` decimals.
std::string print(double value, int digits);
// The same, padded on the left with blanks to at least `width` characters.
std::string print_pretty(double value, int digits, int width);
}  // namespace helper
