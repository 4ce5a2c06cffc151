#include "platform/render/Strokes.h"

namespace render {
namespace {

constexpr std::array<LineStyle, 14> kLines = {{
    {0, false, {}, 0},                  // 0 none
    {1, false, {}, 6},                  // 1 thin
    {2, false, {}, 11},                 // 2 medium
    {1, false, {3, 1}, 5},              // 3 dashed
    {1, false, {1, 1}, 2},              // 4 dotted
    {3, false, {}, 13},                 // 5 thick
    {3, true, {}, 12},                  // 6 double
    {1, false, {1, 2}, 1},              // 7 hair: sparser than dotted, so it reads lighter
    {2, false, {9, 3}, 10},             // 8 medium dashed
    {1, false, {9, 3, 3, 3}, 4},        // 9 dash-dot
    {2, false, {9, 3, 3, 3}, 9},        // 10 medium dash-dot
    {1, false, {9, 3, 3, 3, 3, 3}, 3},  // 11 dash-dot-dot
    {2, false, {9, 3, 3, 3, 3, 3}, 7},  // 12 medium dash-dot-dot
    {2, false, {11, 1, 5, 1}, 8},       // 13 slanted dash-dot (drawn without the slant)
}};

// Rows of 8 pixels, leftmost pixel in the high bit; each pattern repeats after 8 rows.
constexpr uint8_t kPatterns[19][8] = {
    {0, 0, 0, 0, 0, 0, 0, 0},                                   // 0 none
    {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},           // 1 solid
    {0xAA, 0x55, 0xAA, 0x55, 0xAA, 0x55, 0xAA, 0x55},           // 2 50 % grey
    {0x77, 0xDD, 0x77, 0xDD, 0x77, 0xDD, 0x77, 0xDD},           // 3 75 % grey
    {0x88, 0x22, 0x88, 0x22, 0x88, 0x22, 0x88, 0x22},           // 4 25 % grey
    {0xFF, 0xFF, 0x00, 0x00, 0xFF, 0xFF, 0x00, 0x00},           // 5 horizontal stripe
    {0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC},           // 6 vertical stripe
    {0xCC, 0x66, 0x33, 0x99, 0xCC, 0x66, 0x33, 0x99},           // 7 reverse diagonal stripe
    {0x33, 0x66, 0xCC, 0x99, 0x33, 0x66, 0xCC, 0x99},           // 8 diagonal stripe
    {0xCC, 0xCC, 0x33, 0x33, 0xCC, 0xCC, 0x33, 0x33},           // 9 diagonal crosshatch
    {0x99, 0xFF, 0x66, 0xFF, 0x99, 0xFF, 0x66, 0xFF},           // 10 thick diagonal crosshatch
    {0xFF, 0x00, 0x00, 0x00, 0xFF, 0x00, 0x00, 0x00},           // 11 thin horizontal stripe
    {0x88, 0x88, 0x88, 0x88, 0x88, 0x88, 0x88, 0x88},           // 12 thin vertical stripe
    {0x88, 0x44, 0x22, 0x11, 0x88, 0x44, 0x22, 0x11},           // 13 thin reverse diagonal
    {0x11, 0x22, 0x44, 0x88, 0x11, 0x22, 0x44, 0x88},           // 14 thin diagonal
    {0xFF, 0x88, 0x88, 0x88, 0xFF, 0x88, 0x88, 0x88},           // 15 thin horizontal crosshatch
    {0x99, 0x66, 0x66, 0x99, 0x99, 0x66, 0x66, 0x99},           // 16 thin diagonal crosshatch
    {0x88, 0x00, 0x22, 0x00, 0x88, 0x00, 0x22, 0x00},           // 17 12.5 % grey
    {0x88, 0x00, 0x00, 0x00, 0x22, 0x00, 0x00, 0x00},           // 18 6.25 % grey
};

} // namespace

const LineStyle &lineStyle(uint8_t style)
{
    return style < kLines.size() ? kLines[style] : kLines[1];
}

bool patternBit(uint8_t pattern, int x, int y)
{
    if (pattern >= 19)
        pattern = 1; // a damaged pattern number still shows the cell as filled
    return (kPatterns[pattern][y & 7] >> (7 - (x & 7))) & 1;
}

} // namespace render
