#pragma once
// The picture of a cell range as a spreadsheet application shows it on screen at 96 dpi:
// column widths and row heights as laid out, fills, borders, cell text in its fonts and
// alignment, merged areas drawn as one cell, grid lines when the sheet shows them, and the
// pictures anchored on the sheet.
//
// The picture's pixel (0, 0) is the range's top-left grid line. Each column adds its pixel
// width and each row its height; one more pixel holds the right and bottom grid line, so
// A1:M58 of the template is (sum of column widths + 1) x (sum of row heights + 1).
//
// Not drawn (yet): rotated and shrink-to-fit text (shown level, at full size), formatting runs
// inside one text (the cell's font throughout), number formats other than General (shown as
// General), text running into the range from a cell outside it, comments and charts.

#include "Geometry.h"
#include "xls/Result.h"
#include "xls/Workbook.h"

#include <QImage>
#include <QSize>

namespace render {

// Largest picture drawn: a side of a QImage fits in 16 bits anyway, and the area cap keeps
// a whole-sheet range from allocating gigabytes (64 M pixels = 256 MB at 4 bytes a pixel).
constexpr int kMaxPictureSide = 32767;
constexpr int64_t kMaxPicturePixels = 64ll * 1024 * 1024;
// One indent level moves text by three spaces of the default font (Arial 10: 3.7 px each).
constexpr int kIndentPx = 11;
// Space between the grid line and the text, each side; with the grid line itself these are
// the 5 px of padding a column width includes.
constexpr int kTextPaddingPx = 2;
constexpr uint32_t kGridColor = 0xD0D7E5;

// "A1:M58" for messages.
QString rangeName(xls::CellRange range);

// The picture size of a range, or an error when the range is reversed, lies outside the sheet
// or is larger than kMaxPictureSide / kMaxPicturePixels.
xls::Result<QSize> pictureSize(const SheetGeometry &geometry, xls::CellRange range);

// Paints the range of sheet sheetIndex. Errors (no such sheet, a range too large) come back
// as a message; a workbook with unknown fonts or pictures that do not decode still renders.
// Needs a QGuiApplication for the fonts.
xls::Result<QImage> renderRange(const xls::Workbook &book, int sheetIndex, xls::CellRange range);

// The same for an automation member: an error is thrown as automation::AutomationError with
// the message as its description.
QImage renderRangeOrThrow(const xls::Workbook &book, int sheetIndex, xls::CellRange range);

} // namespace render
