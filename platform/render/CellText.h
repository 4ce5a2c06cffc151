#pragma once
// The text a cell shows: its value under its number format (xls::NumberFormat), TRUE/FALSE,
// or an error such as #DIV/0!. A General number takes at most 11 characters (sign not
// counted) and switches to scientific notation when a plain figure would not fit, as
// spreadsheet applications do in a standard-width cell.

#include "platform/xls/NumberFormat.h"
#include "platform/xls/Workbook.h"

#include <QString>

namespace render {

using xls::formatGeneral;
using xls::kGeneralMaxChars;

enum class ValueKind { Empty, Text, Number, Logical };
ValueKind valueKind(const xls::Cell &cell);

// The cell's value under format (the cell's own, already parsed): text and what the format
// adds for drawing it (colour, _x room, *x fill). maxChars limits a General number.
xls::FormattedValue formattedValue(const xls::Workbook &book, const xls::Cell &cell, const xls::NumberFormat &format,
                                   int maxChars = kGeneralMaxChars);

// What the cell shows, under the number format its XF names.
QString displayText(const xls::Workbook &book, const xls::Cell &cell, int maxChars = kGeneralMaxChars);

} // namespace render
