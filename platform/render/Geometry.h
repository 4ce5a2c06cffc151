#pragma once
// Where cells land on screen: the pixel width of a column and the pixel height of a row at
// 96 dpi, the way a spreadsheet application lays out a sheet whose default font is Arial 10.
//
// Column widths are counted in the default font's maximum digit width (7 px for Arial 10 at
// 96 dpi). A COLINFO width is stored in 1/256 of that unit and already includes the 5 px of
// cell padding, so 1060/256 (shown as 3.43 characters) is 29 px and 4973/256 (18.71) is 136 px.
// Row heights are points; a row without its own height takes the sheet's default.

#include "platform/xls/Workbook.h"

#include <array>
#include <cstdint>
#include <vector>

namespace render {

constexpr int kDpi = 96;
constexpr int kMaxDigitWidthPx = 7;     // Arial 10 at 96 dpi: the digits are 7 px wide
constexpr int kColumnPaddingPx = 5;     // 2 px each side plus the grid line
constexpr int kColumns = xls::biff::cell::kMaxCol + 1;
constexpr int kRows = xls::biff::cell::kMaxRow + 1;

// Pixels of a COLINFO or STANDARDWIDTH width (1/256 of a digit width, padding included):
// trunc((w + trunc(128 / mdw)) / 256 * mdw).
int columnWidthPx(uint16_t width256);
// Pixels of a DEFCOLWIDTH width (whole characters, padding not included). Spreadsheet
// applications round this one up to a multiple of 8 px: the familiar 8 characters give 64 px.
int defaultColumnWidthPx(uint16_t characters);
// Pixels of a row height in twips, to the nearest pixel (50.1 pt = 1002 twips gives 67).
int rowHeightPx(uint16_t twips);

// The pixel grid of one sheet: every column's width and offset, every row's height and
// offset, counted from the top-left corner of the sheet. Hidden columns and rows are 0 px.
class SheetGeometry {
public:
    explicit SheetGeometry(const xls::Worksheet &sheet);

    int columnWidth(int col) const { return m_colX[size_t(col) + 1] - m_colX[size_t(col)]; }
    int rowHeight(int row) const { return int(m_rowY[size_t(row) + 1] - m_rowY[size_t(row)]); }
    // Left edge of column col (0..256) and top edge of row row (0..65536), in pixels from A1.
    int64_t columnX(int col) const { return m_colX[size_t(col)]; }
    int64_t rowY(int row) const { return m_rowY[size_t(row)]; }
    // The XF a blank cell without a record of its own shows: the column's, or -1 for none.
    int columnXf(int col) const { return m_colXf[size_t(col)]; }

private:
    std::array<int, kColumns + 1> m_colX{};
    std::array<int, kColumns> m_colXf{};
    std::vector<int64_t> m_rowY;
};

} // namespace render
