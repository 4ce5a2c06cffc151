// The range painted through other devices than the 96-dpi picture: scaled, clipped to a part,
// on a device of another resolution, with the grid forced, and into a PDF.

#include "platform/render/SheetRenderer.h"
#include "tools/render-sheet/TemplateFill.h"

#include <QBuffer>
#include <QPainter>
#include <QPdfWriter>
#include <QtTest>

using namespace render;

namespace {

const QColor kRed(255, 0, 0), kBlue(0, 0, 255);
const QColor kGrid(0xD0, 0xD7, 0xE5);
const QColor kUntouched(1, 2, 3);

xls::Workbook load(const QString &path)
{
    xls::Result<xls::Workbook> book = xls::Workbook::open(path);
    if (!book)
        qFatal("%s", qPrintable(book.error().message));
    return std::move(*book);
}

xls::Workbook testBook(const char *name) { return load(QStringLiteral(RENDER_TEST_DATA "/") + QLatin1String(name)); }

xls::Workbook filledTemplate()
{
    xls::Workbook book = load(QStringLiteral(GROCERY_TEMPLATE));
    tools::fillFull(book.sheet(0));
    return book;
}

RangeDrawing drawing(const xls::Workbook &book, const char *range, int sheet = 0)
{
    xls::Result<RangeDrawing> d = RangeDrawing::layOut(book, sheet, *tools::parseRange(QLatin1String(range)));
    if (!d)
        qFatal("%s", qPrintable(d.error().message));
    return std::move(*d);
}

// The drawing painted at a scale onto an image of dpi dots per inch, first filled with a colour
// no sheet uses.
QImage paintScaled(const RangeDrawing &d, qreal scale, int dpi = 96, const PaintOptions &options = {})
{
    QImage image((QSizeF(d.size()) * scale).toSize(), QImage::Format_RGB32);
    image.setDotsPerMeterX(qRound(dpi / 0.0254));
    image.setDotsPerMeterY(qRound(dpi / 0.0254));
    image.fill(kUntouched);
    QPainter p(&image);
    p.scale(scale, scale);
    d.paint(p, options);
    return image;
}

QRect darkBox(const QImage &im, const QRect &r)
{
    QRect box;
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x)
            if (qGray(im.pixel(x, y)) < 128)
                box |= QRect(x, y, 1, 1);
    return box;
}

} // namespace

class TestRenderPainter : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QLocale::setDefault(QLocale::c()); }

    void identityPaintIsThePicture()
    {
        const xls::Workbook book = filledTemplate();
        const QImage picture = *renderRange(book, 0, xls::CellRange{0, 57, 0, 12});
        const RangeDrawing d = drawing(book, "A1:M58");
        QCOMPARE(d.size(), picture.size());
        QCOMPARE(paintScaled(d, 1), picture);
        // A clip keeps border pixels from being written straight into the image: the painter's
        // own rectangles give the same picture.
        QImage clipped(d.size(), QImage::Format_RGB32);
        QPainter p(&clipped);
        p.setClipRect(clipped.rect());
        d.paint(p);
        p.end();
        QCOMPARE(clipped, picture);
    }

    void scaledLinesStayWholePixels()
    {
        // borders.xls: columns 100 px, rows 30 px. B2's thin red top edge lies on y 30; at
        // 300 % it is exactly the three device rows 90..92, without a blended fringe.
        const xls::Workbook book = testBook("borders.xls");
        const RangeDrawing d = drawing(book, "A1:H20");
        const QImage im = paintScaled(d, 3);
        for (int y = 90; y <= 92; ++y)
            QCOMPARE(im.pixelColor(450, y), kRed);
        QCOMPARE(im.pixelColor(450, 89), QColor(Qt::white));
        QCOMPARE(im.pixelColor(450, 93), QColor(Qt::white));
        // D3's thick blue top: 3 px at 1:1, 9 device rows at 300 %.
        for (int y = 59 * 3; y < 62 * 3; ++y)
            QCOMPARE(im.pixelColor(350 * 3, y), kBlue);
    }

    void clipPaintsTheSamePixelsInside()
    {
        const xls::Workbook book = filledTemplate();
        const RangeDrawing d = drawing(book, "A1:M58");
        const QImage whole = paintScaled(d, 2);
        const QRectF clip(300, 500, 150, 120); // sheet pixels
        const QImage part = paintScaled(d, 2, 96, PaintOptions{GridLines::AsSheetShows, clip});
        const QRect inside(QPoint(600, 1000), QSize(300, 240));
        QCOMPARE(part.copy(inside), whole.copy(inside));
        // Far from the clip nothing was painted.
        QCOMPARE(part.pixelColor(10, 10), kUntouched);
        QCOMPARE(part.pixelColor(part.width() - 10, part.height() - 10), kUntouched);
    }

    void textKeepsItsSizeOnAnyResolution()
    {
        // A printer or PDF has its own dots per inch; the text must still come out in sheet
        // pixels under the caller's transform, the same share of its cell as on screen.
        const xls::Workbook book = filledTemplate();
        const RangeDrawing d = drawing(book, "A1:M58");
        const QImage screen = paintScaled(d, 1);
        const QImage print = paintScaled(d, 3, 288);
        // B3, the first item of the first band: x 29..165, y 96..120.
        const QRect onScreen = darkBox(screen, QRect(31, 98, 132, 21));
        const QRect onPrint = darkBox(print, QRect(31 * 3, 98 * 3, 132 * 3, 21 * 3));
        QVERIFY(!onScreen.isEmpty());
        QVERIFY2(qAbs(onPrint.width() - 3 * onScreen.width()) <= 6,
                 qPrintable(QStringLiteral("%1 vs %2").arg(onPrint.width()).arg(onScreen.width())));
        QVERIFY2(qAbs(onPrint.height() - 3 * onScreen.height()) <= 6,
                 qPrintable(QStringLiteral("%1 vs %2").arg(onPrint.height()).arg(onScreen.height())));
        QVERIFY(qAbs(onPrint.left() - 3 * onScreen.left()) <= 6);
    }

    void gridLinesForcedOnOrOff()
    {
        const xls::Workbook book = testBook("layout.xls");
        // Sheet 1 shows its grid, sheet 2 hides it; the caller can override either.
        const RangeDrawing shown = drawing(book, "A1:H20");
        QCOMPARE(paintScaled(shown, 1).pixelColor(29, 110), kGrid);
        QCOMPARE(paintScaled(shown, 1, 96, {GridLines::Hidden, {}}).pixelColor(29, 110), QColor(Qt::white));
        const RangeDrawing hidden = drawing(book, "A1:C3", 1);
        QCOMPARE(paintScaled(hidden, 1).pixelColor(64, 25), QColor(Qt::white));
        QCOMPARE(paintScaled(hidden, 1, 96, {GridLines::Shown, {}}).pixelColor(64, 25), kGrid);
    }

    void painterStateIsLeftAsItWas()
    {
        const xls::Workbook book = testBook("borders.xls");
        const RangeDrawing d = drawing(book, "A1:C3");
        QImage image(d.size(), QImage::Format_RGB32);
        QPainter p(&image);
        p.setPen(Qt::green);
        p.setClipRect(QRect(0, 0, 50, 50));
        p.translate(3, 4);
        d.paint(p);
        QCOMPARE(p.pen().color(), QColor(Qt::green));
        QCOMPARE(p.clipBoundingRect(), QRectF(-3, -4, 50, 50));
        QCOMPARE(p.transform(), QTransform::fromTranslate(3, 4));
    }

    void pdfHoldsTextAsText()
    {
        const xls::Workbook book = filledTemplate();
        const RangeDrawing d = drawing(book, "A1:M58");
        QByteArray pdf;
        {
            QBuffer buffer(&pdf);
            buffer.open(QIODevice::WriteOnly);
            QPdfWriter writer(&buffer);
            writer.setResolution(1200);
            QPainter p(&writer);
            p.scale(1200.0 / 96 * 0.5, 1200.0 / 96 * 0.5);
            d.paint(p);
        }
        // Fonts embedded as font programs: the text is text, not a picture of it.
        QVERIFY(pdf.contains("/FontFile2"));
        QVERIFY(pdf.size() < 2 * 1024 * 1024);
    }

    void badRangesAreRefused()
    {
        const xls::Workbook book = testBook("layout.xls");
        QVERIFY(!RangeDrawing::layOut(book, 7, {}).ok());
        QVERIFY(RangeDrawing::layOut(book, 0, xls::CellRange{5, 2, 0, 0}).error().message.contains("reversed"));
        QVERIFY(RangeDrawing::layOut(book, 0, xls::CellRange{0, 0, 0, 300}).error().message.contains("past column IV"));
        QVERIFY(RangeDrawing::layOut(book, 0, xls::CellRange{0, 65535, 0, 255}).error().message.contains("cells"));
        QImage image(10, 10, QImage::Format_RGB32);
        QPainter p(&image);
        QVERIFY(!paintRange(p, book, 0, xls::CellRange{5, 2, 0, 0}).ok());
        QVERIFY(paintRange(p, book, 0, xls::CellRange{0, 0, 0, 0}).ok());
    }
};

QTEST_MAIN(TestRenderPainter)
#include "test_render_painter.moc"
