#pragma once
// How cell borders and cell fills look in pixels: the thirteen BIFF8 border line styles and
// the eighteen BIFF8 fill patterns, as small tables.

#include <array>
#include <cstdint>

namespace render {

struct LineStyle {
    int width = 0;                    // pixels across the line: 0 (none) to 3
    bool doubled = false;             // two 1 px lines with a 1 px gap (width 3)
    std::array<uint8_t, 6> dash{};    // on, off, on, off... pixel lengths; all 0 = solid
    int rank = 0;                     // which line wins on a shared edge: higher wins
};

// The look of border style 0-13; unknown styles from a damaged file draw as thin.
const LineStyle &lineStyle(uint8_t style);

// Of two styles meeting on the same edge, the one drawn; on equal rank the second one (the
// cell below or to the right), so a cell's own top and left lines are what it shows.
inline bool outranks(uint8_t a, uint8_t b) { return lineStyle(a).rank > lineStyle(b).rank; }

// Whether pixel (x, y) of a BIFF8 fill pattern (2-18) takes the pattern colour; pattern 1
// (solid) always does. The patterns repeat every 8 pixels (4 for most).
bool patternBit(uint8_t pattern, int x, int y);

} // namespace render
