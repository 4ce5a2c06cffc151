#pragma once
// The text a cell shows. Numbers use the General format: at most 11 characters (sign not
// counted), switching to scientific notation when a plain figure would not fit, as
// spreadsheet applications do in a standard-width cell.

#include "platform/xls/Workbook.h"

#include <QString>

namespace render {

constexpr int kGeneralMaxChars = 11;

// v in the General format within maxChars characters (1..kGeneralMaxChars); the sign of a
// negative number does not count.
QString formatGeneral(double v, int maxChars = kGeneralMaxChars);

// What the cell shows: text, a General number, TRUE/FALSE or an error such as #DIV/0!.
// Number formats other than General are shown as General.
QString displayText(const xls::Workbook &book, const xls::Cell &cell, int maxChars = kGeneralMaxChars);

enum class ValueKind { Empty, Text, Number, Logical };
ValueKind valueKind(const xls::Cell &cell);

} // namespace render
