#pragma once
// A sheet's print settings, read from the records the workbook keeps verbatim: paper,
// orientation, scale or fit to pages, margins, centring, printed grid lines and headings,
// the print area, manual page breaks and the header and footer texts.
//
// What is damaged or absurd in the file never stops a print: each value falls back to what
// a spreadsheet application assumes when the record is absent, or is clamped to the legal
// range, and `notes` says what was replaced where the user would otherwise be puzzled
// (an unknown paper, a print area outside the sheet).
//
// Lengths are inches as the file stores them, paper sizes points (1/72 inch).

#include "platform/xls/Workbook.h"

#include <QDateTime>
#include <QSizeF>
#include <QStringList>
#include <optional>
#include <utility>
#include <vector>

namespace xls {

struct PaperSize {
    uint16_t code = 0;            // the paper code of the file (1 Letter, 9 A4 ...)
    QString name;                 // "Letter", "A4" ...
    QSizeF points;                // width and height as the paper feeds, portrait
};

// The paper of a BIFF8 paper code; nullopt for a code we do not know.
std::optional<PaperSize> paperForCode(uint16_t code);
// The paper a printer here is set to when nothing says otherwise: Letter where the locale
// measures in inches (the United States, Canada's English), A4 elsewhere.
PaperSize systemDefaultPaper();

struct PageMargins {
    // A spreadsheet application's defaults when the records are absent.
    double left = 0.75, right = 0.75, top = 1.0, bottom = 1.0;
    double header = 0.5, footer = 0.5;
};

struct PageSetup {
    PaperSize paper = systemDefaultPaper();
    bool landscape = false;
    // Percent of the sheet's size; ignored when fitToPages.
    uint16_t scalePercent = 100;
    bool fitToPages = false;
    uint16_t fitWidth = 1, fitHeight = 1; // 0 = as many pages as needed that way
    bool overThenDown = false;            // page order; the default is down, then over
    std::optional<uint16_t> firstPageNumber;
    PageMargins margins;
    bool centreHorizontally = false, centreVertically = false;
    bool printGridLines = false, printHeadings = false;
    // Print_Area when the workbook defines one for this sheet and it lies on the sheet.
    std::optional<CellRange> printArea;
    // Print_Titles: rows repeated at the top of every page, columns at its left (inclusive).
    std::optional<std::pair<uint16_t, uint16_t>> titleRows, titleColumns;
    // Rows (columns) that start a new page, ascending, without repeats.
    std::vector<uint16_t> rowBreaks, columnBreaks;
    QString header, footer;               // with their &-codes, as stored
    QStringList notes;                    // what was replaced, for the user
};

// Reads the print settings of sheet sheetIndex. Never fails: a sheet without settings
// gets the defaults above.
PageSetup readPageSetup(const Workbook &book, int sheetIndex);

// The range a print covers: the print area, else the used range together with the cells the
// pictures are anchored over (A1 alone for an empty sheet).
CellRange printRange(const Workbook &book, int sheetIndex, const PageSetup &setup);

// What the codes of a header or footer stand for on one page.
struct PageContext {
    int page = 1;
    int pages = 1;
    QDateTime now;
    QString fileName;             // &F: the workbook's file name, without its folder
    QString sheetName;            // &A
};

struct HeaderFooterSections {
    QString left, centre, right;
    bool isEmpty() const { return left.isEmpty() && centre.isEmpty() && right.isEmpty(); }
};

// Splits a header or footer at &L, &C and &R (text before any of them is centred) and
// replaces &P, &N, &D, &T, &F, &A and &&. Formatting codes (&B, &I, &U, &S, &E, &X, &Y,
// &"font", &nn size, &K colour) are dropped; the text prints in the default font.
HeaderFooterSections expandHeaderFooter(const QString &text, const PageContext &context);

} // namespace xls
