// The built-in 5x7 font: properties that hold over all of its glyphs, and totals over its table.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

#include "util/Ascii.h"

namespace {

using Cells = std::vector<std::pair<int, int>>;

TEST(AsciiTest, EveryPrintableCharacterHasADistinctSevenRowGlyph) {
  std::set<Cells> seen;
  // Totals over the font table computed apart from the library: lit cells, and code * (cell + 1).
  long long lit = 0, weighted = 0;
  for (int code = 0x20; code < 0x7F; ++code) {
    SCOPED_TRACE(code);
    ASSERT_TRUE(ascii_supported(static_cast<char>(code)));
    const Cells cells = ascii_code_pixels(static_cast<char>(code), nullptr, nullptr);
    for (size_t i = 0; i < cells.size(); ++i) {
      EXPECT_TRUE(cells[i].first >= 0 && cells[i].first < 5 && cells[i].second >= 0 && cells[i].second < 7);
      const auto rowMajor = [](const std::pair<int, int>& c) { return c.second * 5 + c.first; };
      EXPECT_TRUE(i == 0 || rowMajor(cells[i - 1]) < rowMajor(cells[i]));
      weighted += code * (cells[i].second * 5 + cells[i].first + 1);
    }
    lit += static_cast<long long>(cells.size());
    seen.insert(cells);
  }
  EXPECT_EQ(seen.size(), 95u);
  EXPECT_EQ(lit, 1119);
  EXPECT_EQ(weighted, 1675520);
  for (char c : {'\x1f', '\x7f', '\xe9', '\n'}) EXPECT_FALSE(ascii_supported(c)) << int(c);
  int cols = 0, rows = 0;
  ascii_code_pixels('~', &cols, &rows);
  EXPECT_EQ(cols * 10 + rows, 58);  // the cell, 5 x 8
}

}  // namespace
