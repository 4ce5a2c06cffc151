#include "platform/render/PagePrinter.h"

#include "platform/render/Fonts.h"
#include "platform/render/SheetRenderer.h"

#include <QFileInfo>
#include <QFont>
#include <QFontMetricsF>
#include <QPageLayout>
#include <QPageSize>
#include <QPagedPaintDevice>
#include <QPainter>
#include <algorithm>

namespace render {

namespace {

constexpr double kPointsPerInch = 72.0;
// Header and footer text: the default font of an Excel 97-2003 workbook.
const char *const kHeaderFamily = "Arial";
constexpr double kHeaderPointSize = 10.0;
constexpr QRgb kHeadingFill = 0xE8E8E8;
constexpr QRgb kHeadingLine = 0x808080;

QString columnLetters(int col)
{
    QString name;
    for (int c = col + 1; c > 0; c = (c - 1) / 26)
        name.prepend(QChar(u'A' + (c - 1) % 26));
    return name;
}

// The worksheet that prints: the active one, else the first worksheet.
int sheetToPrint(const xls::Workbook &book)
{
    const int active = book.activeSheetIndex();
    if (active >= 0 && active < book.sheetCount() && book.sheet(active).isWorksheet())
        return active;
    for (int i = 0; i < book.sheetCount(); ++i)
        if (book.sheet(i).isWorksheet())
            return i;
    return -1;
}

void paintHeaderFooter(QPainter &painter, const QString &text, const xls::PageContext &context, QSizeF paper,
                       const xls::PageMargins &margins, bool header)
{
    const xls::HeaderFooterSections sections = xls::expandHeaderFooter(text, context);
    if (sections.isEmpty())
        return;
    QFont font(QString::fromLatin1(kHeaderFamily));
    font.setStyleStrategy(QFont::PreferNoShaping); // no ligatures in the PDF's text
    // The painter counts in points; a font's points are the device's, so undo its resolution.
    font.setPointSizeF(kHeaderPointSize * kPointsPerInch / painter.device()->logicalDpiY());
    painter.setFont(font);
    painter.setPen(Qt::black);
    const double left = margins.left * kPointsPerInch, right = paper.width() - margins.right * kPointsPerInch;
    // The header hangs from its margin, the footer stands on its own.
    const QRectF band = header ? QRectF(left, margins.header * kPointsPerInch, right - left, paper.height() / 2)
                               : QRectF(left, paper.height() / 2, right - left,
                                        paper.height() / 2 - margins.footer * kPointsPerInch);
    const int vertical = header ? Qt::AlignTop : Qt::AlignBottom;
    painter.drawText(band, vertical | Qt::AlignLeft, sections.left);
    painter.drawText(band, vertical | Qt::AlignHCenter, sections.centre);
    painter.drawText(band, vertical | Qt::AlignRight, sections.right);
}

// How much wider a column prints than its screen pixels: the default font's true digit
// advance against the whole pixels the screen gives it (see PageLayout.h).
double columnStretch(const xls::Workbook &book)
{
    QFont font = screenFont(book.font(0));
    // Measured large and unhinted, so the advance is the font's design, not the screen's.
    constexpr int kMeasurePx = 1000;
    const double pointSize = font.pointSizeF();
    font.setPixelSize(kMeasurePx);
    font.setHintingPreference(QFont::PreferNoHinting);
    const double advanceEm = QFontMetricsF(font).horizontalAdvance(QLatin1Char('0')) / kMeasurePx;
    const double digitPx = advanceEm * pointSize * kDpi / kPointsPerInch;
    return digitPx > 0 ? digitPx / kMaxDigitWidthPx : 1.0;
}

// Column letters above the page's cells and row numbers to their left, in sheet pixels
// relative to the page's top-left cell, the columns stretched as the page lays them out.
void paintHeadings(QPainter &painter, const SheetGeometry &geo, const Page &page, const PageLayout &layout, double stretch)
{
    const double hw = layout.headingColumnPx() * stretch, hh = layout.headingRowPx();
    const double x0 = double(geo.columnX(page.cells.firstCol)), y0 = double(geo.rowY(page.cells.firstRow));
    QFont font(QString::fromLatin1(kHeaderFamily));
    font.setStyleStrategy(QFont::PreferNoShaping);
    font.setPixelSize(11);
    painter.setFont(font);
    painter.setPen(QColor(kHeadingLine));
    auto cell = [&](const QRectF &r, const QString &label) {
        painter.fillRect(r, QColor(kHeadingFill));
        painter.drawRect(r);
        painter.drawText(r, Qt::AlignCenter, label);
    };
    cell(QRectF(-hw, -hh, hw, hh), QString());
    for (int c = page.cells.firstCol; c <= page.cells.lastCol; ++c)
        if (geo.columnWidth(c) > 0)
            cell(QRectF((geo.columnX(c) - x0) * stretch, -hh, geo.columnWidth(c) * stretch, hh), columnLetters(c));
    for (int r = page.cells.firstRow; r <= page.cells.lastRow; ++r)
        if (geo.rowHeight(r) > 0)
            cell(QRectF(-hw, geo.rowY(r) - y0, hw, geo.rowHeight(r)), QString::number(r + 1));
}

} // namespace

void applySheetPaper(QPagedPaintDevice &device, const xls::PageSetup &setup)
{
    const QPageSize size(setup.paper.points, QPageSize::Point, setup.paper.name, QPageSize::FuzzyMatch);
    const bool wide = setup.paper.points.width() > setup.paper.points.height();
    device.setPageLayout(QPageLayout(size, setup.landscape != wide ? QPageLayout::Landscape : QPageLayout::Portrait,
                                     QMarginsF(), QPageLayout::Point));
}

xls::Result<PrintResult> printWorkbook(QPagedPaintDevice &device, const xls::Workbook &book, const PrintRequest &request)
{
    const int sheetIndex = sheetToPrint(book);
    if (sheetIndex < 0)
        return xls::Error{QStringLiteral("The workbook has no worksheet to print.")};
    const xls::Worksheet &sheet = book.sheet(sheetIndex);
    const xls::PageSetup setup = xls::readPageSetup(book, sheetIndex);
    if (!request.keepDevicePaper)
        applySheetPaper(device, setup);
    const QSizeF paper = device.pageLayout().fullRectPoints().size();

    const SheetGeometry geometry(sheet);
    xls::CellRange range = xls::printRange(book, sheetIndex, setup);
    // Without a print area, text that runs on past the last used column prints whole.
    if (!setup.printArea)
        range = rangeWithOverflow(book, sheetIndex, range);
    const PageLayout layout(geometry, setup, range, paper, columnStretch(book));
    PrintResult result;
    result.notes = setup.notes;
    if (layout.truncated())
        result.notes << QStringLiteral("The sheet would print on more than %1 pages; only the first %1 are printed.").arg(kMaxPages);

    // Each page's cells, laid out on their own: a neighbour's text would be hidden by a clip
    // but still be in the PDF's text. A page with nothing on it (a blank stretch of the used
    // range, the far side of a manual break) is not printed; its header and footer alone do
    // not make it a page, and the pages that print are numbered without it.
    // The print titles a page repeats are not content of their own either.
    struct Titles {
        QRectF at;
        RangeDrawing drawing;
    };
    struct PrintedPage {
        const Page *page;
        RangeDrawing drawing;
        std::vector<Titles> titles;
    };
    std::vector<PrintedPage> printed;
    for (const Page &page : layout.pages()) {
        xls::Result<RangeDrawing> drawing = RangeDrawing::layOut(book, sheetIndex, page.cells, layout.scaleX() / layout.scale());
        if (!drawing)
            return drawing.error();
        if (drawing->isBlank())
            continue;
        PrintedPage p{&page, std::move(*drawing), {}};
        for (const auto &[cells, at] : {std::pair(page.titleRows, page.titleRowsRect), std::pair(page.titleColumns, page.titleColumnsRect),
                                        std::pair(page.titleCorner, page.titleCornerRect)}) {
            if (!cells)
                continue;
            xls::Result<RangeDrawing> title = RangeDrawing::layOut(book, sheetIndex, *cells, layout.scaleX() / layout.scale());
            if (!title)
                return title.error();
            p.titles.push_back({at, std::move(*title)});
        }
        printed.push_back(std::move(p));
    }
    if (printed.empty() && !layout.pages().empty()) {
        // An empty sheet still prints one page, as it would from the spreadsheet.
        xls::Result<RangeDrawing> drawing = RangeDrawing::layOut(book, sheetIndex, layout.pages().front().cells,
                                                                 layout.scaleX() / layout.scale());
        if (!drawing)
            return drawing.error();
        printed.push_back({&layout.pages().front(), std::move(*drawing), {}});
    }
    const int pageCount = int(printed.size());
    const int firstNumber = layout.pages().empty() ? 1 : layout.pages().front().number;

    QPainter painter;
    if (!painter.begin(&device))
        return xls::Error{QStringLiteral("The printer or PDF file could not be started.")};
    painter.setRenderHint(QPainter::Antialiasing, false);
    painter.setRenderHint(QPainter::TextAntialiasing, true);
    const double toDevice = device.logicalDpiX() / kPointsPerInch;
    PaintOptions options;
    options.gridLines = setup.printGridLines ? GridLines::Shown : GridLines::Hidden;

    const int first = request.fromPage > 0 ? std::min(request.fromPage, pageCount) : 1;
    const int last = request.toPage > 0 ? std::clamp(request.toPage, first, pageCount) : pageCount;
    for (int i = first - 1; i < last; ++i) {
        const Page &page = *printed[size_t(i)].page;
        const RangeDrawing &drawing = printed[size_t(i)].drawing;
        const int number = firstNumber + i;
        if (i > first - 1 && !device.newPage()) {
            painter.end();
            return xls::Error{QStringLiteral("The printer or PDF file refused page %1.").arg(number)};
        }
        painter.save();
        painter.scale(toDevice, device.logicalDpiY() / kPointsPerInch);

        // &N is how many pages print, whatever number the first one carries.
        const xls::PageContext context{number, pageCount, request.now, QFileInfo(request.fileName).fileName(),
                                       sheet.name()};
        paintHeaderFooter(painter, setup.header, context, paper, layout.margins(), true);
        paintHeaderFooter(painter, setup.footer, context, paper, layout.margins(), false);

        // The same scale both ways, so glyphs keep their own width; the columns were laid
        // out stretched instead. One pixel more right and below holds the closing grid line
        // or border.
        painter.translate(page.cellsRect.topLeft());
        painter.scale(layout.scale(), layout.scale());
        if (setup.printHeadings)
            paintHeadings(painter, geometry, page, layout, layout.scaleX() / layout.scale());
        painter.setClipRect(QRectF(QPointF(0, 0), QSizeF(drawing.size())));
        drawing.paint(painter, options);
        painter.restore();
        for (const Titles &t : printed[size_t(i)].titles) {
            painter.save();
            painter.scale(toDevice, device.logicalDpiY() / kPointsPerInch);
            painter.translate(t.at.topLeft());
            painter.scale(layout.scale(), layout.scale());
            painter.setClipRect(QRectF(QPointF(0, 0), QSizeF(t.drawing.size())));
            t.drawing.paint(painter, options);
            painter.restore();
        }
        ++result.pages;
    }
    if (!painter.end())
        return xls::Error{QStringLiteral("The printer or PDF file could not be finished.")};
    return result;
}

} // namespace render
