#pragma once
// Driving the spreadsheet server: opening a workbook in a fresh instance, choosing the
// save format from the server's version, and saving the active sheet's picture; with the
// locale helpers that read the server's version text under any decimal separator.

#include "platform/automation/AutomationObject.h"

#include <QImage>

#include <QString>

namespace workbook {

// Excel's codes for the Excel 97-2003 format (version 12 on) and the earlier normal format.
constexpr int32_t xlExcel8 = 56;
constexpr int32_t xlNormal = -4143;

// A new, invisible instance with the workbook at path open in it; the caller quits it.
automation::ObjectRef OpenInNewExcel(const QString &path);

// 56 when the server's major version is above 11, else -4143. Without an
// application, a temporary instance is started (and quit) to ask.
int32_t GetExcelFileFormat(const automation::ObjectRef &application = nullptr);

// Copies the used range of the workbook's active sheet as a picture and writes it to
// path as a BMP file, replacing what is there. Reports its own failures and goes on; a
// used range that ends in row 1 or column A writes no file. Answers the picture as the
// file holds it (what loading the file would give), or a null image when none was written
// or the picture is one that only loading gives exactly (8 bits or fewer a pixel).
QImage saveCellsActivesheet(const automation::ObjectRef &workbook, const QString &path);

// The decimal separator of the user's regional settings ("." or "," or other).
QString GetDecimalSeparator();

// Every "." and then every "," replaced by that separator.
QString NormalizeDecimalText(const QString &text);

} // namespace workbook
