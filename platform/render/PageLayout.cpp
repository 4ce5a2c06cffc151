#include "platform/render/PageLayout.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace render {

namespace {

constexpr double kPointsPerInch = 72.0;
constexpr int kMinFitPercent = xls::biff::setup::kMinScale;
constexpr int kMaxFitPercent = 100; // fitting only ever shrinks
// Lengths that differ by less than this are equal: a column that fills the page exactly
// must not spill onto the next one through rounding.
constexpr double kEpsilon = 1e-6;

int digits(int n)
{
    int d = 1;
    while (n >= 10) {
        n /= 10;
        ++d;
    }
    return d;
}

// Margins a page can have: each pair leaves at least kMinPrintableInches between them, or
// falls back to the defaults, and failing even that, to none.
xls::PageMargins usableMargins(xls::PageMargins m, QSizeF paper)
{
    const xls::PageMargins defaults;
    const double minPrintable = kMinPrintableInches * kPointsPerInch;
    auto fix = [minPrintable](double &a, double &b, double da, double db, double length) {
        if ((a + b) * kPointsPerInch <= length - minPrintable)
            return;
        a = da;
        b = db;
        if ((a + b) * kPointsPerInch > length - minPrintable)
            a = b = 0;
    };
    fix(m.left, m.right, defaults.left, defaults.right, paper.width());
    fix(m.top, m.bottom, defaults.top, defaults.bottom, paper.height());
    m.header = std::min(m.header, paper.height() / kPointsPerInch / 2);
    m.footer = std::min(m.footer, paper.height() / kPointsPerInch / 2);
    return m;
}

double sum(const std::vector<double> &v, size_t from, size_t to)
{
    double s = 0;
    for (size_t i = from; i < to; ++i)
        s += v[i];
    return s;
}

} // namespace

QSizeF PageLayout::orientedPaper(const xls::PageSetup &setup)
{
    QSizeF p = setup.paper.points;
    if (setup.landscape != (p.width() > p.height()))
        p.transpose();
    return p;
}

std::vector<int> PageLayout::bands(const std::vector<double> &lengths, double usable, double scale,
                                   const std::vector<int> &breaksAt, double headingPx, double titlePx, int titleUntil)
{
    auto usableFrom = [&](int start) { return usable / scale - headingPx - (start > titleUntil ? titlePx : 0); };
    double usablePx = usableFrom(0);
    std::vector<int> starts{0};
    double acc = 0;
    size_t nextBreak = 0;
    for (size_t i = 0; i < lengths.size(); ++i) {
        while (nextBreak < breaksAt.size() && breaksAt[nextBreak] < int(i))
            ++nextBreak;
        const bool manual = nextBreak < breaksAt.size() && breaksAt[nextBreak] == int(i);
        if (int(i) > starts.back() && (manual || acc + lengths[i] > usablePx + kEpsilon)) {
            starts.push_back(int(i));
            usablePx = usableFrom(int(i));
            acc = 0;
        }
        acc += lengths[i];
    }
    return starts;
}

PageLayout::PageLayout(const SheetGeometry &geometry, const xls::PageSetup &setup, xls::CellRange range,
                       QSizeF paperPoints, double columnStretch)
    : m_paper(paperPoints), m_margins(usableMargins(setup.margins, paperPoints)),
      m_stretch(std::isfinite(columnStretch) && columnStretch > 0.5 && columnStretch < 2 ? columnStretch : 1.0)
{
    range.lastRow = std::max(range.lastRow, range.firstRow);
    range.lastCol = std::min<uint16_t>(std::max(range.lastCol, range.firstCol), xls::biff::cell::kMaxCol);
    range.firstCol = std::min<uint16_t>(range.firstCol, range.lastCol);

    // Widths in the units of the row heights: screen pixels times the column stretch.
    std::vector<double> widths, heights;
    for (int c = range.firstCol; c <= range.lastCol; ++c)
        widths.push_back(geometry.columnWidth(c) * m_stretch);
    for (int r = range.firstRow; r <= range.lastRow; ++r)
        heights.push_back(geometry.rowHeight(r));
    if (setup.printHeadings) {
        m_headingColPx = digits(range.lastRow + 1) * kHeadingDigitPx + kHeadingPaddingPx;
        m_headingRowPx = kHeadingRowPx;
    }

    const double headW = m_headingColPx * m_stretch; // the row numbers' column, stretched like the rest
    // Print titles: a band starting after them repeats them (index in widths / heights past
    // which a band does; negative when they lie before the range, so every band does).
    double titleW = 0, titleH = 0;
    int titleColsUntil = INT_MAX, titleRowsUntil = INT_MAX;
    if (setup.titleRows) {
        for (int r = setup.titleRows->first; r <= setup.titleRows->second; ++r)
            titleH += geometry.rowHeight(r);
        titleRowsUntil = int(setup.titleRows->second) - range.firstRow;
    }
    if (setup.titleColumns) {
        for (int c = setup.titleColumns->first; c <= setup.titleColumns->second; ++c)
            titleW += geometry.columnWidth(c) * m_stretch;
        titleColsUntil = int(setup.titleColumns->second) - range.firstCol;
    }
    const double usableW = m_paper.width() - (m_margins.left + m_margins.right) * kPointsPerInch;
    const double usableH = m_paper.height() - (m_margins.top + m_margins.bottom) * kPointsPerInch;
    // Breaks as indices into widths and heights; fitting ignores them, as spreadsheet
    // applications do.
    std::vector<int> colBreaks, rowBreaks;
    for (uint16_t c : setup.columnBreaks)
        if (c > range.firstCol && c <= range.lastCol)
            colBreaks.push_back(c - range.firstCol);
    for (uint16_t r : setup.rowBreaks)
        if (r > range.firstRow && r <= range.lastRow)
            rowBreaks.push_back(r - range.firstRow);

    std::vector<int> colStarts, rowStarts;
    if (setup.fitToPages) {
        // The largest whole percentage that fits; the estimate from the total lengths is
        // an upper bound, since pages can only break at cell edges.
        const double totalW = (sum(widths, 0, widths.size()) + headW) * kPointsPerPixel;
        const double totalH = (sum(heights, 0, heights.size()) + m_headingRowPx) * kPointsPerPixel;
        double bound = kMaxFitPercent;
        if (setup.fitWidth > 0 && totalW > 0)
            bound = std::min(bound, 100.0 * usableW * setup.fitWidth / totalW);
        if (setup.fitHeight > 0 && totalH > 0)
            bound = std::min(bound, 100.0 * usableH * setup.fitHeight / totalH);
        m_percent = kMinFitPercent;
        for (int p = std::clamp(int(std::floor(bound + kEpsilon)), kMinFitPercent, kMaxFitPercent); p >= kMinFitPercent; --p) {
            const double s = kPointsPerPixel * p / 100.0;
            const std::vector<int> cs = bands(widths, usableW, s, {}, headW, titleW, titleColsUntil);
            const std::vector<int> rs = bands(heights, usableH, s, {}, m_headingRowPx, titleH, titleRowsUntil);
            if ((setup.fitWidth == 0 || cs.size() <= setup.fitWidth) && (setup.fitHeight == 0 || rs.size() <= setup.fitHeight)) {
                m_percent = p;
                break;
            }
        }
        colStarts = bands(widths, usableW, scale(), {}, headW, titleW, titleColsUntil);
        rowStarts = bands(heights, usableH, scale(), {}, m_headingRowPx, titleH, titleRowsUntil);
    } else {
        m_percent = std::clamp<int>(setup.scalePercent, xls::biff::setup::kMinScale, xls::biff::setup::kMaxScale);
        colStarts = bands(widths, usableW, scale(), colBreaks, headW, titleW, titleColsUntil);
        rowStarts = bands(heights, usableH, scale(), rowBreaks, m_headingRowPx, titleH, titleRowsUntil);
    }

    const double s = scale();
    const int firstNumber = setup.firstPageNumber ? int(*setup.firstPageNumber) : 1;
    auto addPage = [&](size_t cb, size_t rb) {
        if (int(m_pages.size()) >= kMaxPages) {
            m_truncated = true;
            return;
        }
        const size_t c0 = size_t(colStarts[cb]), c1 = cb + 1 < colStarts.size() ? size_t(colStarts[cb + 1]) : widths.size();
        const size_t r0 = size_t(rowStarts[rb]), r1 = rb + 1 < rowStarts.size() ? size_t(rowStarts[rb + 1]) : heights.size();
        const double wPx = sum(widths, c0, c1), hPx = sum(heights, r0, r1);
        const bool withTitleRows = setup.titleRows && int(r0) > titleRowsUntil;
        const bool withTitleCols = setup.titleColumns && int(c0) > titleColsUntil;
        const double tH = withTitleRows ? titleH : 0, tW = withTitleCols ? titleW : 0;
        const double wPt = (wPx + headW + tW) * s, hPt = (hPx + m_headingRowPx + tH) * s;
        double x = m_margins.left * kPointsPerInch, y = m_margins.top * kPointsPerInch;
        if (setup.centreHorizontally)
            x += std::max(0.0, (usableW - wPt) / 2);
        if (setup.centreVertically)
            y += std::max(0.0, (usableH - hPt) / 2);
        Page page;
        page.number = firstNumber + int(m_pages.size());
        page.cells = xls::CellRange{uint16_t(range.firstRow + r0), uint16_t(range.firstRow + r1 - 1),
                                    uint16_t(range.firstCol + c0), uint16_t(range.firstCol + c1 - 1)};
        page.headingsRect = QRectF(x, y, wPt, hPt);
        page.cellsRect = QRectF(x + (headW + tW) * s, y + (m_headingRowPx + tH) * s, wPx * s, hPx * s);
        if (withTitleRows) {
            page.titleRows = xls::CellRange{setup.titleRows->first, setup.titleRows->second, page.cells.firstCol, page.cells.lastCol};
            page.titleRowsRect = QRectF(page.cellsRect.left(), page.cellsRect.top() - tH * s, wPx * s, tH * s);
        }
        if (withTitleCols) {
            page.titleColumns = xls::CellRange{page.cells.firstRow, page.cells.lastRow, setup.titleColumns->first,
                                               setup.titleColumns->second};
            page.titleColumnsRect = QRectF(page.cellsRect.left() - tW * s, page.cellsRect.top(), tW * s, hPx * s);
        }
        if (withTitleRows && withTitleCols) {
            page.titleCorner = xls::CellRange{setup.titleRows->first, setup.titleRows->second, setup.titleColumns->first,
                                              setup.titleColumns->second};
            page.titleCornerRect = QRectF(page.titleColumnsRect.left(), page.titleRowsRect.top(), tW * s, tH * s);
        }
        m_pages.push_back(page);
    };
    if (setup.overThenDown) {
        for (size_t rb = 0; rb < rowStarts.size(); ++rb)
            for (size_t cb = 0; cb < colStarts.size(); ++cb)
                addPage(cb, rb);
    } else {
        for (size_t cb = 0; cb < colStarts.size(); ++cb)
            for (size_t rb = 0; rb < rowStarts.size(); ++rb)
                addPage(cb, rb);
    }
}

} // namespace render
