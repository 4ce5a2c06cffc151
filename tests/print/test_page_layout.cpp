// The print settings of small workbooks written for the purpose (make_print_books.py) and of
// the template, and the pages they make: how many, which cells each shows, where on the
// paper they land. Cells are 100 x 20 px, that is 75 x 15 pt at 100 %.

#include "platform/render/PageLayout.h"
#include "platform/xls/PageSetup.h"

#include <QtTest>

using namespace render;

Q_DECLARE_METATYPE(xls::CellRange)

namespace {

constexpr double kLetterW = 612, kLetterH = 792;
constexpr double kA4W = 210 * 72 / 25.4, kA4H = 297 * 72 / 25.4;

xls::Workbook load(const QString &path)
{
    xls::Result<xls::Workbook> book = xls::Workbook::open(path);
    if (!book)
        qFatal("%s", qPrintable(book.error().message));
    return std::move(*book);
}

xls::Workbook book(const char *name) { return load(QStringLiteral(PRINT_TEST_DATA "/") + QLatin1String(name)); }

struct Laid {
    xls::PageSetup setup;
    std::vector<Page> pages;
    int percent = 0;
    QSizeF paper;
};

Laid layOut(const xls::Workbook &b)
{
    Laid out;
    out.setup = xls::readPageSetup(b, 0);
    const SheetGeometry geo(b.sheet(0));
    const PageLayout layout(geo, out.setup, xls::printRange(b, 0, out.setup), PageLayout::orientedPaper(out.setup));
    out.pages = layout.pages();
    out.percent = layout.scalePercent();
    out.paper = layout.paper();
    return out;
}

bool near(double a, double b) { return std::abs(a - b) < 0.01; }

} // namespace

class TestPageLayout : public QObject {
    Q_OBJECT
private slots:
    void landscapeA4()
    {
        const Laid l = layOut(book("landscape_a4.xls"));
        QCOMPARE(l.setup.paper.name, QStringLiteral("A4"));
        QVERIFY(l.setup.landscape);
        QVERIFY(near(l.paper.width(), kA4H) && near(l.paper.height(), kA4W));
        QCOMPARE(l.pages.size(), size_t(1));
        // Default margins 0.75 in left, 1 in top; 8 x 20 cells.
        QCOMPARE(l.pages[0].cellsRect, QRectF(54, 72, 600, 300));
    }

    void fitTwoPagesWideOneTall()
    {
        const Laid l = layOut(book("fit_2x1.xls"));
        QVERIFY(l.setup.fitToPages);
        QCOMPARE(l.setup.fitWidth, uint16_t(2));
        QCOMPARE(l.setup.fitHeight, uint16_t(1));
        // 1500 pt wide into 2 x 504 pt: 67 %, ten columns a page.
        QCOMPARE(l.percent, 67);
        QCOMPARE(l.pages.size(), size_t(2));
        QCOMPARE(l.pages[0].cells, (xls::CellRange{0, 29, 0, 9}));
        QCOMPARE(l.pages[1].cells, (xls::CellRange{0, 29, 10, 19}));
    }

    void fiftyPercent()
    {
        const Laid l = layOut(book("scale_50.xls"));
        QCOMPARE(l.percent, 50);
        QCOMPARE(l.pages.size(), size_t(1));
        QCOMPARE(l.pages[0].cellsRect.size(), QSizeF(375, 450));
    }

    void printAreaOnly()
    {
        const Laid l = layOut(book("print_area.xls"));
        QCOMPARE(l.setup.printArea, std::optional<xls::CellRange>(xls::CellRange{2, 9, 2, 4}));
        QCOMPARE(l.pages.size(), size_t(1));
        QCOMPARE(l.pages[0].cells, (xls::CellRange{2, 9, 2, 4}));
        QCOMPARE(l.pages[0].cellsRect.topLeft(), QPointF(54, 72));
    }

    void manualBreaksDownThenOver()
    {
        const Laid l = layOut(book("manual_break.xls"));
        QCOMPARE(l.setup.rowBreaks, std::vector<uint16_t>{10});
        QCOMPARE(l.setup.columnBreaks, std::vector<uint16_t>{2});
        QCOMPARE(l.pages.size(), size_t(4));
        QCOMPARE(l.pages[0].cells, (xls::CellRange{0, 9, 0, 1}));
        QCOMPARE(l.pages[1].cells, (xls::CellRange{10, 29, 0, 1}));
        QCOMPARE(l.pages[2].cells, (xls::CellRange{0, 9, 2, 3}));
        QCOMPARE(l.pages[3].cells, (xls::CellRange{10, 29, 2, 3}));
        QCOMPARE(l.pages[3].number, 4);
    }

    // print_titles.xls (LibreOffice, from print_titles.fods): row 1 and column A repeat;
    // 121 rows make three pages there, "Heading" on each.
    void printTitlesRepeatOnLaterPages()
    {
        const Laid l = layOut(book("print_titles.xls"));
        QCOMPARE(l.setup.titleRows, (std::optional<std::pair<uint16_t, uint16_t>>({0, 0})));
        QCOMPARE(l.setup.titleColumns, (std::optional<std::pair<uint16_t, uint16_t>>({0, 0})));
        QCOMPARE(l.pages.size(), size_t(3));
        QVERIFY(!l.pages[0].titleRows); // the first page holds row 1 itself
        for (size_t i = 1; i < l.pages.size(); ++i) {
            const Page &p = l.pages[i];
            QCOMPARE(p.titleRows, (std::optional<xls::CellRange>(xls::CellRange{0, 0, p.cells.firstCol, p.cells.lastCol})));
            QVERIFY(near(p.titleRowsRect.bottom(), p.cellsRect.top()));
            QVERIFY(p.cellsRect.bottom() <= l.paper.height() - l.setup.margins.bottom * 72 + 0.01);
        }
        // Column A is in every page's own cells, so it never repeats beside them.
        for (const Page &p : l.pages)
            QVERIFY(!p.titleColumns);
    }

    void overThenDownWhenAsked()
    {
        const xls::Workbook b = book("manual_break.xls");
        xls::PageSetup setup = xls::readPageSetup(b, 0);
        setup.overThenDown = true;
        const PageLayout layout(SheetGeometry(b.sheet(0)), setup, xls::printRange(b, 0, setup), QSizeF(kLetterW, kLetterH));
        QCOMPARE(layout.pages()[1].cells, (xls::CellRange{0, 9, 2, 3}));
    }

    void centring_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QPointF>("topLeft");
        // 150 x 45 pt of cells inside 504 x 648 pt between the margins.
        QTest::newRow("centred both ways") << "centred.xls" << QPointF(54 + (504 - 150) / 2.0, 72 + (648 - 45) / 2.0);
        QTest::newRow("not centred") << "not_centred.xls" << QPointF(54, 72);
    }
    void centring()
    {
        QFETCH(QString, file);
        QFETCH(QPointF, topLeft);
        const Laid l = layOut(book(qPrintable(file)));
        QCOMPARE(l.pages.size(), size_t(1));
        QCOMPARE(l.pages[0].cellsRect.topLeft(), topLeft);
    }

    void headerPageOfPages()
    {
        const Laid l = layOut(book("header_pages.xls"));
        QCOMPARE(l.pages.size(), size_t(3)); // 1500 pt of rows, 648 pt a page: 43 + 43 + 14 rows
        QCOMPARE(l.pages[1].cells.firstRow, uint16_t(43));
        const xls::HeaderFooterSections h = xls::expandHeaderFooter(l.setup.header, {2, 3, {}, {}, {}});
        QCOMPARE(h.left, QStringLiteral("Left text"));
        QCOMPARE(h.centre, QStringLiteral("Page 2 of 3"));
        QCOMPARE(h.right, QStringLiteral("Right text"));
        QCOMPARE(xls::expandHeaderFooter(l.setup.footer, {1, 3, {}, {}, QStringLiteral("Grid")}).centre,
                 QStringLiteral("Grid & more"));
    }

    void headerFooterCodes_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("left");
        QTest::addColumn<QString>("centre");
        QTest::addColumn<QString>("right");
        QTest::newRow("text before any section is centred") << "Plain" << "" << "Plain" << "";
        QTest::newRow("file and sheet") << "&L&F&R&A" << "list.xls" << "" << "Sheet";
        QTest::newRow("literal ampersand") << "&CFish && Chips" << "" << "Fish & Chips" << "";
        QTest::newRow("formatting codes dropped") << "&C&\"Arial,Bold\"&14&B&I&KFF0000Big" << "" << "Big" << "";
        QTest::newRow("trailing ampersand kept") << "A&" << "" << "A&" << "";
        QTest::newRow("lower-case codes") << "&lx&cy&rz" << "x" << "y" << "z";
    }
    void headerFooterCodes()
    {
        QFETCH(QString, text);
        const xls::HeaderFooterSections s =
            xls::expandHeaderFooter(text, {1, 1, {}, QStringLiteral("list.xls"), QStringLiteral("Sheet")});
        QTEST(s.left, "left");
        QTEST(s.centre, "centre");
        QTEST(s.right, "right");
    }

    void absurdSettingsStillPrint()
    {
        const Laid l = layOut(book("absurd.xls"));
        // Unknown paper: the system's default, and said so; the print area past IV: the
        // used range, and said so.
        QCOMPARE(l.setup.paper.code, xls::systemDefaultPaper().code);
        QCOMPARE(l.setup.notes.size(), 2);
        QVERIFY(l.setup.notes[0].contains(QLatin1String("paper size 999")));
        QVERIFY(!l.setup.printArea);
        QCOMPARE(l.setup.scalePercent, uint16_t(400));
        QCOMPARE(l.setup.margins.top, 1.0);
        // 10,000 breaks are cut to the 1,026 a spreadsheet keeps.
        QCOMPARE(l.setup.rowBreaks.size(), size_t(1026));
        // Side margins of 5 in each leave no paper: the defaults apply. At 400 % one
        // 300 pt column fits a page, and every row starts one: 3 x 5 pages.
        QCOMPARE(l.pages.size(), size_t(15));
        QCOMPARE(l.pages[0].cellsRect.left(), 54.0);
        QCOMPARE(l.pages[0].cellsRect.top(), 72.0);
    }

    void headingsMoveTheCells()
    {
        const Laid l = layOut(book("grid_headings.xls"));
        QVERIFY(l.setup.printGridLines);
        QVERIFY(l.setup.printHeadings);
        // One digit of row numbers: a 16 px column; a 17 px heading row; at 0.75 pt a pixel.
        QCOMPARE(l.pages[0].headingsRect.topLeft(), QPointF(54, 72));
        QCOMPARE(l.pages[0].cellsRect.topLeft(), QPointF(54 + 16 * 0.75, 72 + 17 * 0.75));
    }

    void fitToZeroPagesPrintsAtFullSize()
    {
        const Laid l = layOut(book("fit_zero.xls"));
        QVERIFY(!l.setup.fitToPages);
        QCOMPARE(l.percent, 100);
        QCOMPARE(l.pages.size(), size_t(1));
    }

    void templatePrintsOnOneLetterPageCentred()
    {
        const xls::Workbook b = load(QStringLiteral(PANTRIMO_TEMPLATE_XLS));
        const Laid l = layOut(b);
        QCOMPARE(l.setup.paper.name, QStringLiteral("Letter"));
        QVERIFY(!l.setup.landscape);
        QVERIFY(l.setup.fitToPages);
        QVERIFY(l.setup.centreHorizontally);
        QVERIFY(!l.setup.centreVertically);
        QCOMPARE(l.setup.margins.header, 0.5);
        QVERIFY(l.setup.header.isEmpty());
        QCOMPARE(l.pages.size(), size_t(1));
        QCOMPARE(l.pages[0].cells, (xls::CellRange{0, 57, 0, 12}));
        const QRectF r = l.pages[0].cellsRect;
        QVERIFY(near(r.center().x(), kLetterW / 2));
        QCOMPARE(r.top(), 72.0);
        QVERIFY(r.right() <= kLetterW - 54 + 0.01 && r.bottom() <= kLetterH - 72 + 0.01);
        // The fitted scale is the largest whole percentage that fits.
        QVERIFY(l.percent < 100);
    }

    void hostileRangesAreBounded()
    {
        // The whole sheet as a print area: capped pages, no hang.
        const xls::Workbook b = book("not_centred.xls");
        xls::PageSetup setup = xls::readPageSetup(b, 0);
        setup.printArea = xls::CellRange{0, 65535, 0, 255};
        const PageLayout layout(SheetGeometry(b.sheet(0)), setup, *setup.printArea, QSizeF(kLetterW, kLetterH));
        QCOMPARE(int(layout.pages().size()), kMaxPages);
        QVERIFY(layout.truncated());
    }
};

QTEST_GUILESS_MAIN(TestPageLayout)
#include "test_page_layout.moc"
