#include "kbase/Helper.h"

#include <algorithm>
#include <cstdio>

namespace helper {

std::string print(double value, int digits) {
  digits = std::clamp(digits, 0, 30);
  char buf[512];
  int n = std::snprintf(buf, sizeof(buf), "%.*f", digits, value);
  if (n < 0) return std::string();
  if (static_cast<size_t>(n) < sizeof(buf)) return std::string(buf, static_cast<size_t>(n));
  std::string big(static_cast<size_t>(n) + 1, '\0');
  std::snprintf(&big[0], big.size(), "%.*f", digits, value);
  big.resize(static_cast<size_t>(n));
  return big;
}

std::string print_pretty(double value, int digits, int width) {
  std::string s = print(value, digits);
  if (width > 0 && s.size() < static_cast<size_t>(width)) s.insert(0, static_cast<size_t>(width) - s.size(), ' ');
  return s;
}

}  // namespace helper
