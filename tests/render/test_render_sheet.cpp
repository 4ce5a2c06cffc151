// Pictures of small workbooks made with xlwt (tests/render/make_test_books.py), checked pixel by
// pixel where the layout puts something: a border on a cell edge, a fill pattern, a merged
// title, text in its column, a hidden grid, a row height, a picture at its anchor. Plus the
// real template, the limits on the picture size, and the clipboard.

#include "platform/render/Clipboard.h"
#include "platform/render/SheetRenderer.h"
#include "tools/render-sheet/TemplateFill.h"

#include <QtTest>

Q_DECLARE_METATYPE(xls::CellRange)

using namespace render;

namespace {

const QColor kWhiteColor(255, 255, 255);
const QColor kGrid(0xD0, 0xD7, 0xE5);
const QColor kRed(255, 0, 0), kGreen(0, 255, 0), kBlue(0, 0, 255), kBlack(0, 0, 0);

xls::Workbook load(const QString &name)
{
    xls::Result<xls::Workbook> book = xls::Workbook::open(QStringLiteral(RENDER_TEST_DATA "/") + name);
    if (!book)
        qFatal("%s", qPrintable(book.error().message));
    return std::move(*book);
}

QImage picture(const xls::Workbook &book, const char *range, int sheet = 0)
{
    xls::Result<QImage> image = renderRange(book, sheet, *tools::parseRange(QLatin1String(range)));
    if (!image)
        qFatal("%s", qPrintable(image.error().message));
    return std::move(*image);
}

bool dark(const QImage &im, int x, int y)
{
    return qGray(im.pixel(x, y)) < 128;
}

// The box of the dark pixels inside r; empty when there are none.
QRect darkBox(const QImage &im, const QRect &r)
{
    QRect box;
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            if (dark(im, x, y))
                box |= QRect(x, y, 1, 1);
    return box;
}

} // namespace

class TestRenderSheet : public QObject {
    Q_OBJECT
private slots:
    void initTestCase();
    void sizeFollowsColumnsAndRows();
    void sharedEdgesDrawOnceStrongerWins();
    void lineStyles_data();
    void lineStyles();
    void fillPatterns_data();
    void fillPatterns();
    void solidFillAndCustomPalette();
    void gridShownOrHidden();
    void mergedTitleDrawnOnce();
    void textPlacement();
    void fontsAndWrapping();
    void picturesAtTheirAnchors();
    void templateLayout();
    void filledTemplateRightHalf();
    void badRanges_data();
    void badRanges();
    void clipboardRoundTrip();
};

void TestRenderSheet::initTestCase()
{
    QLocale::setDefault(QLocale::c());
}

void TestRenderSheet::sizeFollowsColumnsAndRows()
{
    const xls::Workbook book = load(QStringLiteral("layout.xls"));
    // A 29 px, B 136 px; row 1 50.1 pt = 67 px, row 2 22.5 pt = 30 px; one more pixel for the closing grid line.
    QCOMPARE(picture(book, "A1:B2").size(), QSize(29 + 136 + 1, 67 + 30 + 1));
    QCOMPARE(picture(book, "C13").size(), QSize(100 + 1, 60 + 1));
    // Rows without a ROW record take the sheet's default height (12.75 pt = 17 px).
    QCOMPARE(picture(book, "A30").height(), 17 + 1);
}

void TestRenderSheet::sharedEdgesDrawOnceStrongerWins()
{
    // borders.xls: columns 100 px, rows 30 px, grid hidden.
    const QImage im = picture(load(QStringLiteral("borders.xls")), "A1:H20");
    // B2: a thin red box, one pixel wide, on the grid lines.
    QCOMPARE(im.pixelColor(150, 30), kRed);
    QCOMPARE(im.pixelColor(150, 60), kRed);
    QCOMPARE(im.pixelColor(100, 45), kRed);
    QCOMPARE(im.pixelColor(200, 45), kRed);
    QCOMPARE(im.pixelColor(150, 31), kWhiteColor);
    QCOMPARE(im.pixelColor(150, 59), kWhiteColor);
    // D2 bottom thin red against D3 top thick blue: three blue pixels across, no red.
    for (int y = 59; y <= 61; ++y)
        QCOMPARE(im.pixelColor(350, y), kBlue);
    QCOMPARE(im.pixelColor(350, 58), kWhiteColor);
    QCOMPARE(im.pixelColor(350, 62), kWhiteColor);
    // F2 / F3, equal weight: the lower cell's green.
    QCOMPARE(im.pixelColor(550, 60), kGreen);
    // D6 right medium blue against E6 left thin red.
    QCOMPARE(im.pixelColor(400, 165), kBlue);
    QCOMPARE(im.pixelColor(401, 165), kBlue);
    QCOMPARE(im.pixelColor(399, 165), kWhiteColor);
    // H2 (x 700..800, y 30..60): a diagonal from top-left to bottom-right, not the other one.
    QCOMPARE(im.pixelColor(750, 45), kRed);
    QCOMPARE(im.pixelColor(718, 35), kRed);
    QCOMPARE(im.pixelColor(783, 35), kWhiteColor);
}

void TestRenderSheet::lineStyles_data()
{
    QTest::addColumn<int>("style");
    QTest::addColumn<QList<int>>("across"); // offsets from the grid line that the line covers
    QTest::addColumn<double>("inked");      // share of the pixels along the line that are drawn
    QTest::newRow("1 thin") << 1 << QList<int>{0} << 1.0;
    QTest::newRow("2 medium") << 2 << QList<int>{0, 1} << 1.0;
    QTest::newRow("3 dashed") << 3 << QList<int>{0} << 0.75;
    QTest::newRow("4 dotted") << 4 << QList<int>{0} << 0.5;
    QTest::newRow("5 thick") << 5 << QList<int>{-1, 0, 1} << 1.0;
    QTest::newRow("6 double") << 6 << QList<int>{-1, 1} << 1.0;
    QTest::newRow("7 hair") << 7 << QList<int>{0} << 1.0 / 3;
    QTest::newRow("8 medium dashed") << 8 << QList<int>{0, 1} << 0.75;
    QTest::newRow("9 dash-dot") << 9 << QList<int>{0} << 12.0 / 18;
    QTest::newRow("10 medium dash-dot") << 10 << QList<int>{0, 1} << 12.0 / 18;
    QTest::newRow("11 dash-dot-dot") << 11 << QList<int>{0} << 15.0 / 24;
    QTest::newRow("12 medium dash-dot-dot") << 12 << QList<int>{0, 1} << 15.0 / 24;
    QTest::newRow("13 slanted dash-dot") << 13 << QList<int>{0, 1} << 16.0 / 18;
}

void TestRenderSheet::lineStyles()
{
    QFETCH(int, style);
    QFETCH(QList<int>, across);
    QFETCH(double, inked);
    static const QImage im = picture(load(QStringLiteral("borders.xls")), "A1:H32");
    // Style s is the bottom line of B(6 + 2(s - 1)), so it lies on grid line y = 30 (6 + 2(s - 1)).
    const int lineY = 30 * (6 + 2 * (style - 1));
    for (int d = -2; d <= 2; ++d) {
        int count = 0;
        for (int x = 110; x < 182; ++x)
            count += im.pixelColor(x, lineY + d) == kBlack;
        if (across.contains(d))
            QVERIFY2(qAbs(count / 72.0 - inked) < 0.05, qPrintable(QStringLiteral("offset %1: %2 of 72").arg(d).arg(count)));
        else
            QVERIFY2(count == 0, qPrintable(QStringLiteral("offset %1 is inked").arg(d)));
    }
}

void TestRenderSheet::fillPatterns_data()
{
    QTest::addColumn<int>("pattern");
    QTest::addColumn<double>("coverage");
    QTest::addColumn<QPoint>("repeatsAlong"); // a pattern-coloured pixel's neighbour in this direction is one too
    const QPoint none(0, 0);
    QTest::newRow("2 50% grey") << 2 << 0.5 << QPoint(1, 1);
    QTest::newRow("3 75% grey") << 3 << 0.75 << none;
    QTest::newRow("4 25% grey") << 4 << 0.25 << none;
    QTest::newRow("5 horizontal stripe") << 5 << 0.5 << QPoint(1, 0);
    QTest::newRow("6 vertical stripe") << 6 << 0.5 << QPoint(0, 1);
    QTest::newRow("7 reverse diagonal") << 7 << 0.5 << QPoint(1, 1);
    QTest::newRow("8 diagonal") << 8 << 0.5 << QPoint(-1, 1);
    QTest::newRow("9 diagonal crosshatch") << 9 << 0.5 << none;
    QTest::newRow("10 thick diagonal crosshatch") << 10 << 0.75 << none;
    QTest::newRow("11 thin horizontal") << 11 << 0.25 << QPoint(1, 0);
    QTest::newRow("12 thin vertical") << 12 << 0.25 << QPoint(0, 1);
    QTest::newRow("13 thin reverse diagonal") << 13 << 0.25 << QPoint(1, 1);
    QTest::newRow("14 thin diagonal") << 14 << 0.25 << QPoint(-1, 1);
    QTest::newRow("15 thin crosshatch") << 15 << 0.4375 << none;
    QTest::newRow("16 thin diagonal crosshatch") << 16 << 0.5 << none;
    QTest::newRow("17 12.5% grey") << 17 << 0.125 << none;
    QTest::newRow("18 6.25% grey") << 18 << 0.0625 << none;
}

void TestRenderSheet::fillPatterns()
{
    QFETCH(int, pattern);
    QFETCH(double, coverage);
    QFETCH(QPoint, repeatsAlong);
    static const QImage im = picture(load(QStringLiteral("fills.xls")), "A1:F20");
    // Pattern p fills B(p) (x 100..200, y 30 (p - 1)..30 p) in red on blue; look at 64 x 16 inside.
    const QRect inside(120, 30 * (pattern - 1) + 8, 64, 16);
    int red = 0;
    for (int y = inside.top(); y <= inside.bottom(); ++y) {
        for (int x = inside.left(); x <= inside.right(); ++x) {
            const QColor c = im.pixelColor(x, y);
            QVERIFY2(c == kRed || c == kBlue, qPrintable(c.name()));
            if (c == kRed) {
                ++red;
                if (!repeatsAlong.isNull())
                    QCOMPARE(im.pixelColor(QPoint(x, y) + repeatsAlong), kRed);
            }
        }
    }
    QCOMPARE(red / double(64 * 16), coverage);
}

void TestRenderSheet::solidFillAndCustomPalette()
{
    const QImage im = picture(load(QStringLiteral("fills.xls")), "A1:F20");
    // D2: solid with pattern colour yellow and background blue: BIFF8 shows the pattern colour.
    QCOMPARE(im.pixelColor(350, 45), QColor(255, 255, 0));
    // D4: colour 0x21, which the file's PALETTE record redefines as (10, 120, 200).
    QCOMPARE(im.pixelColor(350, 105), QColor(10, 120, 200));
    // A fill covers the cell's grid lines too.
    QCOMPARE(im.pixelColor(300, 45), QColor(255, 255, 0));
}

void TestRenderSheet::gridShownOrHidden()
{
    const xls::Workbook book = load(QStringLiteral("layout.xls"));
    const QImage shown = picture(book, "A1:H20");
    QCOMPARE(shown.pixelColor(29, 110), kGrid);   // between A and B
    QCOMPARE(shown.pixelColor(50, 97), kGrid);    // above row 3
    QCOMPARE(shown.pixelColor(50, 110), kWhiteColor);
    const QImage hidden = picture(book, "A1:C3", 1);
    QCOMPARE(hidden.pixelColor(64, 25), kWhiteColor);
    QCOMPARE(hidden.pixelColor(30, 17), kWhiteColor);
}

void TestRenderSheet::mergedTitleDrawnOnce()
{
    const QImage im = picture(load(QStringLiteral("layout.xls")), "A1:H20");
    // C1:F1 is one cell from x 165 to 565: no grid inside it, the text centred on it.
    for (int x : {265, 365, 465})
        QVERIFY(im.pixelColor(x, 5) != kGrid);
    QCOMPARE(im.pixelColor(565, 5), kGrid);
    const QRect text = darkBox(im, QRect(0, 1, im.width(), 65));
    QVERIFY(!text.isEmpty());
    QVERIFY2(qAbs(text.center().x() - 365) <= 3, qPrintable(QString::number(text.center().x())));
    QVERIFY2(qAbs(text.center().y() - 34) <= 4, qPrintable(QString::number(text.center().y())));
}

void TestRenderSheet::textPlacement()
{
    const QImage im = picture(load(QStringLiteral("layout.xls")), "A1:H20");
    // Row 3 (y 97..127): the General number 12345 hugs the right of C, the text "Left" the left of D.
    const QRect number = darkBox(im, QRect(166, 98, 99, 29));
    QVERIFY(number.left() > 215);
    QVERIFY(number.right() >= 265 - 6);
    const QRect left = darkBox(im, QRect(266, 98, 99, 29));
    QVERIFY(left.left() <= 265 + 6);
    QVERIFY(left.right() < 315);

    // Row 5 (y 157..187): the long text of C5 runs through empty D5 and E5 and stops at F5.
    QVERIFY(!darkBox(im, QRect(266, 158, 99, 29)).isEmpty());
    QVERIFY(!darkBox(im, QRect(366, 158, 99, 29)).isEmpty());
    QVERIFY(im.pixelColor(265, 160) != kGrid);
    for (int y = 158; y < 187; ++y)
        QCOMPARE(im.pixelColor(465, y), kGrid);

    // Row 7: indent 2 moves the text right by two indent levels.
    const int plain = darkBox(im, QRect(166, 218, 99, 29)).left() - 165;
    const int indented = darkBox(im, QRect(266, 218, 99, 29)).left() - 265;
    QCOMPARE(indented - plain, 2 * kIndentPx);

    // Row 9 (y 277..307): top, centre, bottom.
    QVERIFY(darkBox(im, QRect(166, 278, 99, 29)).top() <= 277 + 6);
    QVERIFY(qAbs(darkBox(im, QRect(266, 278, 99, 29)).center().y() - 292) <= 3);
    QVERIFY(darkBox(im, QRect(366, 278, 99, 29)).bottom() >= 307 - 6);

    // Row 15 (y 487..517): a number too long for A (29 px) shows #, never spilling into B;
    // right-aligned text ends at the right of D.
    QVERIFY(!darkBox(im, QRect(1, 488, 28, 29)).isEmpty());
    QVERIFY(darkBox(im, QRect(30, 488, 134, 29)).isEmpty());
    QVERIFY(darkBox(im, QRect(266, 488, 99, 29)).right() >= 365 - 6);
}

void TestRenderSheet::fontsAndWrapping()
{
    const QImage im = picture(load(QStringLiteral("layout.xls")), "A1:H20");
    // C11 (y 337..367): red, underlined: a long run of red pixels under the letters.
    int longestRun = 0;
    for (int y = 338; y < 367; ++y) {
        int run = 0;
        for (int x = 166; x < 265; ++x) {
            const QColor c = im.pixelColor(x, y);
            run = (c.red() > 180 && c.green() < 80 && c.blue() < 80) ? run + 1 : 0;
            longestRun = std::max(longestRun, run);
        }
    }
    QVERIFY2(longestRun >= 15, qPrintable(QString::number(longestRun)));
    // D11: a font nobody has still gives text.
    QVERIFY(!darkBox(im, QRect(266, 338, 99, 29)).isEmpty());
    // C13 (y 397..457, 60 px): wrapped to two lines with blank rows between them.
    const QRect box(166, 398, 99, 58);
    QList<bool> inked;
    for (int y = box.top(); y <= box.bottom(); ++y)
        inked << !darkBox(im, QRect(box.left(), y, box.width(), 1)).isEmpty();
    int bands = 0;
    for (qsizetype i = 0; i < inked.size(); ++i)
        bands += inked[i] && (i == 0 || !inked[i - 1]);
    QCOMPARE(bands, 2);
    QVERIFY(darkBox(im, QRect(266, 398, 99, 58)).isEmpty()); // and nothing ran on into D13
}

void TestRenderSheet::picturesAtTheirAnchors()
{
    // pictures.xls: columns 100 px, rows 30 px, grid hidden.
    const QImage im = picture(load(QStringLiteral("pictures.xls")), "A1:H12");
    // The PNG spans from the middle of B2 (150, 45) to the middle of C3 (250, 75).
    const QColor green(0, 160, 0);
    QCOMPARE(im.pixelColor(151, 46), green);
    QCOMPARE(im.pixelColor(248, 73), green);
    QCOMPARE(im.pixelColor(148, 46), kWhiteColor);
    QCOMPARE(im.pixelColor(151, 43), kWhiteColor);
    QCOMPARE(im.pixelColor(252, 73), kWhiteColor);
    // The metafile (E2:F3), the broken PNG (B6:C7) and the missing picture (B9:C10): empty frames.
    QVERIFY(darkBox(im, QRect(400, 30, 200, 60)).isEmpty());
    for (int y = 150; y < 210; ++y)
        for (int x = 100; x < 300; x += 7)
            QCOMPARE(im.pixelColor(x, y), kWhiteColor);
    // The bitmap xlwt's insert_bitmap placed in E6 (x 400..500, y 150..180), 10 px in.
    QCOMPARE(im.pixelColor(415, 165), QColor(255, 0, 255));
    QCOMPARE(im.pixelColor(405, 165), kWhiteColor);
}

void TestRenderSheet::templateLayout()
{
    xls::Result<xls::Workbook> book = xls::Workbook::open(QStringLiteral(GROCERY_TEMPLATE));
    QVERIFY2(book.ok(), book.ok() ? "" : qPrintable(book.error().message));
    const QImage im = picture(*book, "A1:M58");
    // Columns: 29, 136, 28, 136, 29, 136 | 31 | 29, 136, 29, 136, 29, 136. Rows: 67, 29,
    // 10 x 24 per band (the fifth band's caption row also 29), 2 x 24 closing.
    QCOMPARE(im.size(), QSize(494 + 31 + 495 + 1, 67 + 5 * 29 + 52 * 24 + 1));
    QCOMPARE(im.pixelColor(400, 12), QColor(0xCC, 0xFF, 0xCC)); // the title's solid fill
    // Caption row 2 (y 67..96): the 25 % pattern in #99CC00 on #99CCFF.
    const QColor caption = im.pixelColor(120, 70);
    QVERIFY(caption == QColor(0x99, 0xCC, 0x00) || caption == QColor(0x99, 0xCC, 0xFF));
    // End of band 1: row 12's thick bottom line in #666699 at y = 67 + 29 + 10 x 24.
    QCOMPARE(im.pixelColor(100, 336), QColor(0x66, 0x66, 0x99));
    // Row 58's thick line lies on the picture's bottom edge and keeps all three pixels.
    for (int y = im.height() - 3; y < im.height(); ++y)
        QCOMPARE(im.pixelColor(100, y), QColor(0x66, 0x66, 0x99));
    // The grid is hidden: the unformatted spacer G57 shows no line above it.
    QCOMPARE(im.pixelColor(510, 67 + 5 * 29 + 50 * 24), kWhiteColor);
    // The bag picture over the title's leading blanks (A1 at 384/1024 to B2 at 320/1024).
    int painted = 0;
    for (int y = 10; y < 65; ++y)
        for (int x = 14; x < 68; ++x)
            painted += im.pixelColor(x, y) != QColor(0xCC, 0xFF, 0xCC);
    QVERIFY2(painted > 54 * 55 / 4, qPrintable(QString::number(painted)));
}

void TestRenderSheet::filledTemplateRightHalf()
{
    xls::Result<xls::Workbook> book = xls::Workbook::open(QStringLiteral(GROCERY_TEMPLATE));
    QVERIFY(book.ok());
    QStringList items;
    for (int k = 1; k <= 11; ++k)
        items << QStringLiteral("Item %1").arg(k);
    tools::fillCategory(book->sheet(0), 0, items);
    const QImage im = picture(*book, "A1:M58");
    // Item 11 goes to row 3 of the right half: 11 in H3 (x 525..554), its text in I3 (554..690).
    const int top = 67 + 29, bottom = top + 24;
    const QRect number = darkBox(im, QRect(527, top + 2, 26, 20));
    QVERIFY(!number.isEmpty());
    QVERIFY(number.right() >= 554 - 6);
    QVERIFY(!darkBox(im, QRect(556, top + 2, 100, 20)).isEmpty());
    // Only the eleventh item goes right: I4 below it stays empty.
    QVERIFY(darkBox(im, QRect(556, bottom + 2, 130, 20)).isEmpty());
}

void TestRenderSheet::badRanges_data()
{
    QTest::addColumn<int>("sheet");
    QTest::addColumn<xls::CellRange>("range");
    QTest::addColumn<QString>("message");
    QTest::newRow("whole sheet") << 0 << xls::CellRange{0, 65535, 0, 255} << QStringLiteral("A1:IV65536");
    QTest::newRow("too many pixels") << 0 << xls::CellRange{0, 1000, 0, 255} << QStringLiteral("million pixels");
    QTest::newRow("reversed") << 0 << xls::CellRange{5, 2, 0, 0} << QStringLiteral("reversed");
    QTest::newRow("past IV") << 0 << xls::CellRange{0, 0, 0, 300} << QStringLiteral("past column IV");
    QTest::newRow("no such sheet") << 7 << xls::CellRange{0, 0, 0, 0} << QStringLiteral("no sheet 8");
}

void TestRenderSheet::badRanges()
{
    QFETCH(int, sheet);
    QFETCH(xls::CellRange, range);
    QFETCH(QString, message);
    const xls::Workbook book = load(QStringLiteral("layout.xls"));
    const xls::Result<QImage> image = renderRange(book, sheet, range);
    QVERIFY(!image.ok());
    QVERIFY2(image.error().message.contains(message), qPrintable(image.error().message));
}

void TestRenderSheet::clipboardRoundTrip()
{
    const QImage image = picture(load(QStringLiteral("borders.xls")), "A1:C3");
    QVERIFY(copyImageToClipboard(image));
    const QImage back = clipboardImage();
    QCOMPARE(back.size(), image.size());
    QCOMPARE(back.pixelColor(150, 30), kRed);
    QVERIFY(!copyImageToClipboard(QImage()));
    QCOMPARE(clipboardImage().size(), image.size()); // a null image does not clear it
}

QTEST_MAIN(TestRenderSheet)
#include "test_render_sheet.moc"
