// The preview drawing the sheet itself: the filled template, saved and pictured as the
// built-in server does it, shown at 100 % exactly as captured and at 400 % (and on a screen
// of twice the density, see the _scale2 test) with text edges as sharp as the capture's.

#include "preview/ViewportWidget.h"
#include "platform/render/Geometry.h"
#include "platform/render/SheetRenderer.h"
#include "tools/render-sheet/TemplateFill.h"

#include <QApplication>
#include <QFrame>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

using namespace preview;

namespace {

// B3, the first item of the first band, in sheet pixels: its text lies here.
const QRect kItemText(31, 98, 120, 20);
// The first category bar (row 2) right of its caption "Meat/Seafood" and inside its borders:
// the template's 25 % pattern alone.
const QRect kBarFill(120, 70, 40, 24);
// Left of the item numbers in column A, where only the row lines cross.
constexpr int kLineProbeX = 8;

struct Colours {
    QRgb mean = 0;
    std::vector<QRgb> distinct;
};

// The mean and the different colours of the pixels in r.
Colours colours(const QImage &im, const QRect &r)
{
    qint64 red = 0, green = 0, blue = 0, n = 0;
    Colours c;
    for (int y = r.top(); y <= r.bottom(); ++y)
        for (int x = r.left(); x <= r.right(); ++x) {
            const QRgb p = im.pixel(x, y);
            red += qRed(p), green += qGreen(p), blue += qBlue(p), ++n;
            if (std::find(c.distinct.begin(), c.distinct.end(), p) == c.distinct.end())
                c.distinct.push_back(p);
        }
    if (n)
        c.mean = qRgb(int(red / n), int(green / n), int(blue / n));
    return c;
}

QString names(const std::vector<QRgb> &colours)
{
    QStringList list;
    for (QRgb c : colours)
        list << QStringLiteral("%1,%2,%3").arg(qRed(c)).arg(qGreen(c)).arg(qBlue(c));
    return list.join(QLatin1Char(' '));
}

// Within 2 on every channel.
bool near(QRgb a, QRgb b)
{
    return std::abs(qRed(a) - qRed(b)) <= 2 && std::abs(qGreen(a) - qGreen(b)) <= 2 && std::abs(qBlue(a) - qBlue(b)) <= 2;
}

// How many grey pixels a letter's edge takes between paper and ink, on average along the
// rows of r: about one for text set at the resolution it is shown at, about n for text
// stretched n times.
double edgeWidth(const QImage &im, const QRect &r)
{
    int edges = 0, grey = 0;
    for (int y = r.top(); y <= r.bottom(); ++y) {
        int last = -1, run = 0;
        for (int x = r.left(); x <= r.right(); ++x) {
            const int g = qGray(im.pixel(x, y));
            const int kind = g >= 200 ? 0 : g <= 80 ? 2 : 1; // paper, grey, ink
            if (kind == 1) {
                ++run;
                continue;
            }
            if (last != -1 && last != kind) {
                ++edges;
                grey += run;
            }
            last = kind;
            run = 0;
        }
    }
    return edges ? double(grey) / edges : 99;
}

void sendMouse(QWidget *w, QEvent::Type type, QPoint at, Qt::MouseButtons held)
{
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, at, w->mapToGlobal(at), button, held, Qt::NoModifier);
    QApplication::sendEvent(w, &event);
}

} // namespace

class TestViewportSheet : public QObject {
    Q_OBJECT
    QTemporaryDir m_dir;
    QString m_workbook;
    QImage m_capture;
    std::unique_ptr<QWidget> m_window;
    ViewportWidget *m_view = nullptr;

    // False when the sheet was refused or the window never showed; the test checks.
    [[nodiscard]] bool show(bool fromSheet)
    {
        m_window = std::make_unique<QWidget>();
        m_window->resize(656, 626);
        m_view = new ViewportWidget(m_window.get());
        m_view->setCapture(m_capture);
        if (fromSheet && !m_view->setSheetSource(m_workbook))
            return false;
        m_window->show();
        if (!QTest::qWaitForWindowExposed(m_window.get()))
            return false;
        m_view->initialise();
        return true;
    }
    void zoomTo(float factor)
    {
        while (m_view->viewport().zoom() < factor)
            m_view->zoomIn();
    }
    // What the viewport shows, in device pixels, from the inside of Picture2's frame.
    QImage shown() const
    {
        const QImage all = m_view->picture2()->grab().toImage();
        const qreal dpr = all.devicePixelRatio();
        const QRect inner = m_view->picture2()->contentsRect();
        return all.copy(QRect((QPointF(inner.topLeft()) * dpr).toPoint(), (QSizeF(inner.size()) * dpr).toSize()));
    }

private slots:
    void initTestCase()
    {
        QLocale::setDefault(QLocale::c());
        QVERIFY(m_dir.isValid());
        xls::Result<xls::Workbook> book = xls::Workbook::open(QStringLiteral(GROCERY_TEMPLATE));
        QVERIFY(book.ok());
        render::tools::fillFull(book->sheet(0));
        m_workbook = m_dir.filePath(QStringLiteral("wendle12345678.xls"));
        QVERIFY(book->saveAs(m_workbook).ok());
        xls::Result<xls::Workbook> saved = xls::Workbook::open(m_workbook);
        QVERIFY(saved.ok());
        m_capture = *render::renderRange(*saved, saved->activeSheetIndex(), *saved->sheet(0).usedRange());
        QCOMPARE(m_capture.size(), QSize(1021, 1461));
    }
    void cleanup() { m_window.reset(); }

    void at100PercentTheSheetIsTheCapture()
    {
        QVERIFY(show(true));
        QVERIFY(m_view->drawsSheet());
        QVERIFY(m_view->picture1()->showsSheet());
        const QImage view = shown();
        if (view.devicePixelRatio() != 1)
            QSKIP("compared pixel for pixel on a screen of ratio 1");
        QCOMPARE(view, m_capture.copy(QRect(QPoint(0, 0), view.size())));
    }

    void textAt400PercentIsAsSharpAsTheCapture()
    {
        // Text set at the resolution it is shown at takes at most about one grey pixel from
        // paper to ink, as the 96-dpi capture's does; stretched four times it takes several.
        constexpr double kSharp = 1.0;
        const double capture = edgeWidth(m_capture, kItemText);
        QVERIFY2(capture <= kSharp, qPrintable(QString::number(capture)));

        QVERIFY(show(true));
        // At 100 % on a dense screen the sheet is set at the screen's own pixels too.
        QImage view = shown();
        qreal dpr = view.devicePixelRatio();
        const double at100 = edgeWidth(view, QRect((QPointF(kItemText.topLeft()) * dpr).toPoint(), (QSizeF(kItemText.size()) * dpr).toSize()));
        QVERIFY2(at100 <= kSharp, qPrintable(QStringLiteral("100 %: %1, capture: %2").arg(at100).arg(capture)));

        zoomTo(4.0f);
        QCOMPARE(m_view->viewport().zoom(), 4.0f);
        QVERIFY(m_view->picture1()->showsSheet());
        QCOMPARE(m_view->picture1()->size(), QSize(4083, 5843)); // 1021 x 1461 px: (15315 - 2) x 4 twips
        view = shown();
        dpr = view.devicePixelRatio();
        const QRect at400(QPointF(kItemText.topLeft() * 4 * dpr).toPoint(), QSizeF(kItemText.size() * 4 * dpr).toSize());
        const double sharp = edgeWidth(view, at400 & view.rect());
        QVERIFY2(sharp <= kSharp, qPrintable(QStringLiteral("400 %: %1, capture: %2").arg(sharp).arg(capture)));

        // The same zoom of the stretched capture: the measure sees the blur it is there to catch.
        QVERIFY(show(false));
        zoomTo(4.0f);
        QVERIFY(!m_view->picture1()->showsSheet());
        view = shown();
        const double stretched = edgeWidth(view, at400 & view.rect());
        qInfo("edge width in device pixels: capture %.2f, 100 %% from the sheet %.2f, 400 %% from the sheet %.2f, "
              "400 %% stretched %.2f (pixel ratio %g)", capture, at100, sharp, stretched, dpr);
        QVERIFY2(stretched >= 2 * kSharp, qPrintable(QStringLiteral("stretched: %1").arg(stretched)));
    }

    void draggingShowsTheSheetWhereTheViewportPutsIt()
    {
        QVERIFY(show(true));
        zoomTo(4.0f);
        QWidget *pic = m_view->picture1();
        sendMouse(pic, QEvent::MouseButtonPress, QPoint(300, 300), Qt::LeftButton);
        sendMouse(pic, QEvent::MouseMove, QPoint(100, 50), Qt::LeftButton);
        sendMouse(pic, QEvent::MouseButtonRelease, QPoint(100, 50), Qt::NoButton);
        // The release settles the picture where the scroll bars can express it.
        QVERIFY(pic->x() < -150 && pic->y() < -200);
        // Exactly what painting the sheet at 400 %, moved by Picture1's offset, gives.
        const QImage view = shown();
        if (view.devicePixelRatio() != 1)
            QSKIP("compared pixel for pixel on a screen of ratio 1");
        xls::Result<xls::Workbook> book = xls::Workbook::open(m_workbook);
        xls::Result<render::RangeDrawing> drawing = render::RangeDrawing::layOut(*book, 0, *book->sheet(0).usedRange());
        QImage expected(view.size(), view.format()); // text blends by the format's rules
        expected.fill(Qt::white);
        QPainter p(&expected);
        p.translate(pic->pos());
        p.scale(4, 4);
        drawing->paint(p);
        p.end();
        // Text set in the window may differ from text set in an image by a shade at a glyph's
        // edge; everything else is the same pixel for pixel, and a picture out of place by
        // one device pixel would differ along every line it holds.
        const QImage got = view.convertToFormat(QImage::Format_RGB32);
        expected.convertTo(QImage::Format_RGB32);
        int different = 0;
        for (int y = 0; y < got.height(); ++y)
            for (int x = 0; x < got.width(); ++x)
                different += std::abs(qGray(got.pixel(x, y)) - qGray(expected.pixel(x, y))) > 64;
        QVERIFY2(different < got.width() * got.height() / 300, qPrintable(QString::number(different)));
    }

    void fillsAndRowLinesLookAsAt100PercentAtEveryZoom_data()
    {
        QTest::addColumn<float>("factor");
        QTest::newRow("25 %") << 0.25f;
        QTest::newRow("50 %") << 0.5f;
        QTest::newRow("100 %") << 1.0f;
        QTest::newRow("400 %") << 4.0f;
    }
    void fillsAndRowLinesLookAsAt100PercentAtEveryZoom()
    {
        // Shrunk, a one-pixel row line fell between the screen's pixels and the category bar's
        // 25 % pattern was sampled into another colour; both must look as in the capture.
        QFETCH(float, factor);
        QVERIFY(show(true));
        while (m_view->viewport().zoom() > factor)
            m_view->zoomOut();
        zoomTo(factor);
        QCOMPARE(m_view->viewport().zoom(), factor);
        QVERIFY(m_view->picture1()->showsSheet());
        QImage view = shown().convertToFormat(QImage::Format_RGB32);
        const double dpr = view.devicePixelRatio();
        const double scale = m_view->picture1()->sheetScale().height() * dpr;
        // Where a sheet pixel's edge lands in the view: the device pixel whose centre it covers.
        const auto toView = [&](double sheetPx, int offset) { return int(std::ceil(sheetPx * scale - 0.5)) + offset; };

        // Every row line of the first band in view, left of the item numbers, in its colour at 100 %.
        xls::Result<xls::Workbook> book = xls::Workbook::open(m_workbook);
        const render::SheetGeometry geo(book->sheet(0));
        const int x = int(geo.columnX(0)) + kLineProbeX;
        int lines = 0;
        for (int row = 2; row <= 12 && toView(geo.rowY(row), 0) < view.height(); ++row) {
            const int y = int(geo.rowY(row));
            const QRgb want = m_capture.pixel(x, y);
            QVERIFY2(want != qRgb(255, 255, 255), qPrintable(QString::number(row)));
            const QRgb at = view.pixel(toView(x + 0.5, 0), toView(y, 0));
            lines += near(at, want);
            QVERIFY2(near(at, want), qPrintable(QStringLiteral("row line %1: %2 against %3").arg(row).arg(at, 0, 16).arg(want, 0, 16)));
        }

        QVERIFY(lines >= (factor > 1 ? 2 : 11));

        // Whole repeats of the bar's 25 % pattern (4 pixels across, 2 down, times the zoom
        // when enlarged), so that the mean is the pattern's.
        const auto repeats = [](QRect r, int times) {
            r.setWidth(r.width() / (4 * times) * 4 * times);
            r.setHeight(r.height() / (2 * times) * 2 * times);
            return r;
        };
        const Colours expected = colours(m_capture, kBarFill);
        QCOMPARE(expected.distinct.size(), size_t(2)); // the pattern's colours, nothing else
        // Enlarged, the bar lies right of the view: the picture moves left to show it.
        const int beyond = toView(kBarFill.right() + 1, 0) - view.width();
        if (beyond > 0) {
            m_view->scrollBy(Qt::Horizontal, (beyond / dpr + 20) * kTwipsPerPixel);
            view = shown().convertToFormat(QImage::Format_RGB32);
        }
        const int dx = int(std::lround(m_view->picture1()->x() * dpr));
        const QRect shownBar(QPoint(toView(kBarFill.left(), dx), toView(kBarFill.top(), 0)),
                             QPoint(toView(kBarFill.right() + 1, dx) - 1, toView(kBarFill.bottom() + 1, 0) - 1));
        QVERIFY(view.rect().contains(shownBar));
        const Colours got = colours(view, repeats(shownBar, std::max(1, int(std::lround(scale)))));
        qInfo("%3d %%: bar fill mean %d,%d,%d (100 %%: %d,%d,%d), colours %s (100 %%: %s); %d row lines in view, all present",
              int(factor * 100), qRed(got.mean), qGreen(got.mean), qBlue(got.mean), qRed(expected.mean),
              qGreen(expected.mean), qBlue(expected.mean), qPrintable(names(got.distinct)),
              qPrintable(names(expected.distinct)), lines);
        QVERIFY2(near(got.mean, expected.mean), qPrintable(QStringLiteral("mean %1 against %2").arg(got.mean, 0, 16).arg(expected.mean, 0, 16)));
        QCOMPARE(got.distinct.size(), expected.distinct.size());
        for (QRgb c : expected.distinct)
            QVERIFY2(std::any_of(got.distinct.begin(), got.distinct.end(), [&](QRgb g) { return near(g, c); }),
                     qPrintable(QString::number(c, 16)));
    }

    void aWorkbookThatIsNotTheCaptureIsNotDrawn()
    {
        m_window = std::make_unique<QWidget>();
        m_view = new ViewportWidget(m_window.get());
        m_view->setCapture(m_capture.copy(0, 0, 500, 500)); // another sheet's picture
        QVERIFY(!m_view->setSheetSource(m_workbook));
        QVERIFY(!m_view->setSheetSource(QString()));
        QVERIFY(!m_view->setSheetSource(m_dir.filePath(QStringLiteral("gone.xls"))));
        m_view->setCapture(m_capture);
        QVERIFY(m_view->setSheetSource(m_workbook));
        // A new capture drops the sheet of the earlier one.
        m_view->setCapture(m_capture);
        QVERIFY(!m_view->drawsSheet());
        m_view->initialise();
        QVERIFY(!m_view->picture1()->showsSheet());
        QCOMPARE(m_view->picture1()->picture().size(), m_capture.size());
    }
};

QTEST_MAIN(TestViewportSheet)
#include "test_viewport_sheet.moc"
