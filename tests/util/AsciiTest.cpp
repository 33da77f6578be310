#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "util/Ascii.h"

namespace {

using Cells = std::vector<std::pair<int, int>>;

// The font as published: five glyphs per line, ten hex digits per glyph (one byte per column).
const char* const kPublishedFont[] = {
    "0000000000 00004f0000 0007000700 147f147f14 242a7f2a12",  // 0x20 to 0x24
    "2313086462 3649552250 0005030000 001c224100 0041221c00",  // 0x25 to 0x29
    "14083e0814 08083e0808 0050300000 0808080808 0060600000",  // 0x2A to 0x2E
    "2010080402 3e5149453e 00427f4000 4261514946 2141454b31",  // 0x2F to 0x33
    "1814127f10 2745454539 3c4a494930 0371090503 3649494936",  // 0x34 to 0x38
    "064949291e 006c6c0000 0056360000 0814224100 1414141414",  // 0x39 to 0x3D
    "0041221408 0201510906 324979413e 7e1111117e 7f4949493e",  // 0x3E to 0x42
    "3e41414122 7f4141413e 7f49494949 7f09090901 3e4149493a",  // 0x43 to 0x47
    "7f0808087f 41417f4141 3041413f01 7f08142241 7f40404040",  // 0x48 to 0x4C
    "7f020c027f 7f0408107f 3e4141413e 7f09090906 3e4151215e",  // 0x4D to 0x51
    "7f09091966 4649494931 01017f0101 3f4040403f 0f3040300f",  // 0x52 to 0x56
    "3f4038403f 6314081463 0304780403 6151494543 7f41410000",  // 0x57 to 0x5B
    "0204081020 000041417f 0402010204 4040404040 0001020400",  // 0x5C to 0x60
    "2054545478 7f48444438 3844444420 384444487f 3854545418",  // 0x61 to 0x65
    "087e090102 0c5252523e 7f08040478 00447d4000 2040443d00",  // 0x66 to 0x6A
    "7f10284400 00417f4000 7804080478 7c08040478 3844444438",  // 0x6B to 0x6F
    "7c14141408 0814147c00 7c08040408 4854545420 043f444020",  // 0x70 to 0x74
    "3c4040207c 1c2040201c 3c4030403c 4428102844 0c5050503c",  // 0x75 to 0x79
    "4464544c44 0008364100 00007f0000 0041360800 0804040804",  // 0x7A to 0x7E
};

// Lit cells of a glyph given as ten hex digits, decoded independently of the library.
Cells decode(const std::string& hex) {
  Cells cells;
  for (int row = 0; row < 8; ++row) {
    for (int col = 0; col < 5; ++col) {
      const int byte = std::stoi(hex.substr(col * 2, 2), nullptr, 16);
      if ((byte >> row) & 1) cells.emplace_back(col, row);
    }
  }
  return cells;
}

TEST(AsciiTest, EveryPrintableCharacterMatchesThePublishedFont) {
  int code = 0x20;
  for (const char* line : kPublishedFont) {
    std::string text(line);
    for (size_t pos = 0; pos < text.size(); pos += 11, ++code) {
      SCOPED_TRACE(code);
      int cols = 0;
      int rows = 0;
      EXPECT_EQ(ascii_code_pixels(static_cast<char>(code), &cols, &rows), decode(text.substr(pos, 10)));
      EXPECT_EQ(cols, 5);
      EXPECT_EQ(rows, 8);
    }
  }
  EXPECT_EQ(code, 0x7F);
}

TEST(AsciiTest, CellsAreRowMajorFromTheTopLeft) {
  // 'A' = 7e 11 11 11 7e: the top row is columns 1..3, row 4 is the bar, the other rows of 1..6
  // light both sides.
  Cells a = ascii_code_pixels('A', nullptr, nullptr);
  ASSERT_GE(a.size(), 3u);
  EXPECT_EQ(a[0], std::make_pair(1, 0));
  EXPECT_EQ(a[1], std::make_pair(2, 0));
  EXPECT_EQ(a[2], std::make_pair(3, 0));
  EXPECT_EQ(a.size(), 3u + 5u + 2u * 5u);
  // '|' = 00 00 7f 00 00: the middle column, rows 0..6.
  EXPECT_EQ(ascii_code_pixels('|', nullptr, nullptr),
            (Cells{{2, 0}, {2, 1}, {2, 2}, {2, 3}, {2, 4}, {2, 5}, {2, 6}}));
  // '_' = 40 40 40 40 40: the bottom lit row is row 6, never row 7.
  EXPECT_EQ(ascii_code_pixels('_', nullptr, nullptr), (Cells{{0, 6}, {1, 6}, {2, 6}, {3, 6}, {4, 6}}));
  EXPECT_TRUE(ascii_code_pixels(' ', nullptr, nullptr).empty());
}

TEST(AsciiTest, NoGlyphUsesTheEighthRow) {
  for (int code = 0x20; code < 0x7F; ++code) {
    for (const auto& cell : ascii_code_pixels(static_cast<char>(code), nullptr, nullptr)) {
      EXPECT_LT(cell.second, 7) << "code " << code;
    }
  }
}

TEST(AsciiTest, SupportedIsThePrintableRange) {
  EXPECT_FALSE(ascii_supported('\x1f'));
  EXPECT_TRUE(ascii_supported(' '));
  EXPECT_TRUE(ascii_supported('~'));
  EXPECT_FALSE(ascii_supported('\x7f'));
  EXPECT_FALSE(ascii_supported('\xe9'));
}

TEST(AsciiDeathTest, CharacterOutsideThePrintableRangeIsFatal) {
  EXPECT_DEATH(ascii_code_pixels('\x1f', nullptr, nullptr),
               "Check failed: asiicBegin <= asiic && asiic < asiicEnd ");
  EXPECT_DEATH(ascii_code_pixels('\x7f', nullptr, nullptr),
               "Check failed: asiicBegin <= asiic && asiic < asiicEnd ");
  EXPECT_DEATH(ascii_code_pixels('\n', nullptr, nullptr),
               "Check failed: asiicBegin <= asiic && asiic < asiicEnd ");
}

}  // namespace
