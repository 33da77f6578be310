// The built-in 5x7 font that images use to draw text (labels, scores, frame ids) without any font
// library: every printable ASCII character 0x20..0x7E is a 5-column by 8-row cell whose lit cells
// are stamped one by one by ImageBase::draw_text.
#pragma once

#include <utility>
#include <vector>

// Thread-safe (pure functions over a constant table).

// True when `c` has a glyph (0x20..0x7E); text from users should be checked with this first.
bool ascii_supported(char c);

// Lit cells of the glyph of `c` as (column, row) pairs, rows outer (0..7, 0 = top) and columns inner
// (0..4). Sets *cols = 5 and *rows = 8 when the pointers are not null. Glyphs are 7 rows high: row 7
// is never lit. A character outside 0x20..0x7E is fatal.
std::vector<std::pair<int, int>> ascii_code_pixels(char c, int* cols, int* rows);
