#pragma once
// Pages as a spreadsheet application lays them out: the print range cut into pages at
// column and row boundaries (and at manual breaks), scaled by the sheet's percentage or by
// the largest whole percentage that fits the requested pages wide and tall, placed inside
// the margins and centred when the sheet asks for it. Pages are numbered down, then over,
// unless the sheet asks for over, then down.
//
// All page lengths are points (1/72 inch) from the paper's top-left corner; sheet lengths
// are the 96-dpi pixels of SheetGeometry. Needs no screen.
//
// Column widths count digits of the default font. On screen a digit is a whole number of
// pixels (Arial 10: 7 px = 5.25 pt); on paper it is the font's true advance (5.56 pt), so a
// printed column is that much wider than its screen pixels say, as spreadsheet applications
// print it. columnStretch carries that ratio; 1 lays the columns out as on screen.

#include "platform/render/Geometry.h"
#include "platform/xls/PageSetup.h"

#include <QRectF>
#include <QSizeF>
#include <optional>
#include <vector>

namespace render {

constexpr double kPointsPerPixel = 72.0 / kDpi;
// More pages than this is a damaged file or a mistake, not a grocery list.
constexpr int kMaxPages = 2000;
// The smallest printable width or height margins may leave; less, and the defaults apply.
constexpr double kMinPrintableInches = 1.0;
// Row and column headings, when printed: a heading row as tall as a default row, and a
// column for the row numbers as wide as their digits need.
constexpr int kHeadingRowPx = 17;
constexpr int kHeadingDigitPx = 7;
constexpr int kHeadingPaddingPx = 9;

struct Page {
    int number = 1;               // the number &P prints
    xls::CellRange cells;         // what this page shows
    QRectF cellsRect;             // where the cells land on the paper (points)
    QRectF headingsRect;          // cells plus the headings (and titles) when printed
    // The print titles this page repeats: rows above its cells, columns to their left, and
    // where both meet; each with where it lands on the paper (points).
    std::optional<xls::CellRange> titleRows, titleColumns, titleCorner;
    QRectF titleRowsRect, titleColumnsRect, titleCornerRect;
};

class PageLayout {
public:
    // paperPoints is the paper as it lies (landscape already turned); range the cells to print.
    PageLayout(const SheetGeometry &geometry, const xls::PageSetup &setup, xls::CellRange range, QSizeF paperPoints,
               double columnStretch = 1.0);
    // The sheet's own paper and orientation.
    static QSizeF orientedPaper(const xls::PageSetup &setup);

    const std::vector<Page> &pages() const { return m_pages; }
    QSizeF paper() const { return m_paper; }
    // Percent the sheet prints at (the fitted one when fitting).
    int scalePercent() const { return m_percent; }
    // Points on paper per sheet pixel: down, and across (the column stretch included).
    double scale() const { return kPointsPerPixel * m_percent / 100.0; }
    double scaleX() const { return scale() * m_stretch; }
    xls::PageMargins margins() const { return m_margins; } // inches, after any fallback
    bool truncated() const { return m_truncated; }
    int headingColumnPx() const { return m_headingColPx; }
    int headingRowPx() const { return m_headingRowPx; }

private:
    // Start indices of each page band for a run of lengths (px), a usable length (pt), the
    // breaks that must start a band, at a scale in points per pixel.
    // A band that starts after index titleUntil also holds the titles, titlePx long.
    static std::vector<int> bands(const std::vector<double> &lengths, double usable, double scale,
                                  const std::vector<int> &breaksAt, double headingPx, double titlePx = 0,
                                  int titleUntil = 0);

    QSizeF m_paper;
    xls::PageMargins m_margins;
    int m_percent = 100;
    double m_stretch = 1.0;
    int m_headingColPx = 0, m_headingRowPx = 0;
    bool m_truncated = false;
    std::vector<Page> m_pages;
};

} // namespace render
