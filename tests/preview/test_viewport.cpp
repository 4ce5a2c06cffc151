#include "preview/Viewport.h"

#include <QPointF>
#include <QSizeF>
#include <QTest>

#include <optional>
#include <vector>

using namespace preview;

namespace {

// An initialised viewport on a capture of the given size in twips, with Picture2's
// one-pixel frame (outer 9330 x 7425, inner 9300 x 7395); the zooms' drawings are recorded.
struct Fixture {
    Viewport vp{Borders{15, 0, 0}};
    std::vector<Drawing> drawings;

    explicit Fixture(QSizeF capture)
    {
        vp.assignPicture(float(capture.width()), float(capture.height()));
        (void)vp.initialise();
    }
    void presses(int count, int zoomOut)
    {
        for (int i = 0; i < count; ++i) {
            if (const std::optional<Drawing> drawing = vp.zoomStep(zoomOut))
                drawings.push_back(*drawing);
        }
    }
    // The pointer, in Picture2's coordinates, moves to `at`.
    void dragTo(QPointF at, bool held = true)
    {
        vp.mouseMove(held, float(at.x() - vp.picture1().left), float(at.y() - vp.picture1().top));
    }
    QPointF offset() const { return QPointF(vp.picture1().left, vp.picture1().top); }
};

QSizeF pixels(int w, int h)
{
    return QSizeF(w * kTwipsPerPixel, h * kTwipsPerPixel);
}

// A capture whose picture is (dx, dy) larger than Picture2's outer size at factor 1
// (the unscaled size is the capture's less two twips).
QSizeF overflowing(float dx, float dy)
{
    return QSizeF(9330 + dx + 2, 7425 + dy + 2);
}

} // namespace

class TestViewport : public QObject {
    Q_OBJECT
private slots:
    void zoomKeepsWithinItsLimits_data()
    {
        QTest::addColumn<QSizeF>("capture");
        QTest::addColumn<int>("zoomOut");
        QTest::addColumn<int>("presses");
        QTest::addColumn<float>("zoom");
        QTest::addColumn<int>("drawings");
        QTest::addColumn<float>("shownWidth");
        const QSizeF small(6000, 4500);
        QTest::newRow("in twelve times reaches 4.0") << small << 0 << 12 << 4.0f << 12 << 23992.f;
        QTest::newRow("in fourteen times stays at 4.0") << small << 0 << 14 << 4.0f << 12 << 23992.f;
        QTest::newRow("out three times reaches 0.25") << small << 1 << 3 << 0.25f << 3 << 1499.f;
        QTest::newRow("out four times stays at 0.25") << small << 1 << 4 << 0.25f << 3 << 1499.f;
        // 187,498 twips at 200 % is 374,996 twips, shown as 25,000 pixels: refused, and
        // the picture drawn at 175 % stays.
        QTest::newRow("25000 px wide refused") << pixels(12500, 100) << 0 << 4 << 1.0f << 3 << 328121.f;
        QTest::newRow("25000 px high refused") << pixels(100, 12500) << 0 << 4 << 1.0f << 3 << 2621.f;
        QTest::newRow("24999 px accepted") << QSizeF(187498, 1500) << 0 << 4 << 2.0f << 4 << 374992.f;
        QTest::newRow("full list reaches 400 %") << pixels(1020, 1460) << 0 << 12 << 4.0f << 12 << 61192.f;
    }
    void zoomKeepsWithinItsLimits()
    {
        QFETCH(QSizeF, capture);
        QFETCH(int, zoomOut);
        QFETCH(int, presses);
        QFETCH(float, zoom);
        QFETCH(int, drawings);
        QFETCH(float, shownWidth);
        Fixture f(capture);
        f.presses(presses, zoomOut);
        QCOMPARE(f.vp.zoom(), zoom);
        QCOMPARE(int(f.drawings.size()), drawings);
        QCOMPARE(f.vp.picture1().width, shownWidth);
        QCOMPARE(f.vp.zoomWidth(), int32_t(f.vp.origWidth() * double(zoom)));
    }

    void refusalLeavesThePictureAndStartsAgainFromOne()
    {
        Fixture f(pixels(12500, 100));
        f.presses(3, 0);
        f.vp.setHScrollValue(40);
        f.presses(1, 0); // 200 %: refused
        QCOMPARE(f.drawings.size(), size_t(3));
        QCOMPARE(f.vp.picture1().width, 328121.f); // the 175 % picture ...
        QCOMPARE(f.offset(), QPointF(0, 0)); // ... at the top left corner
        QCOMPARE(f.vp.hScroll().value, int16_t(0));
        QCOMPARE(f.vp.hScroll().maximum, int16_t(31879)); // (328121 - 9330) / 10
        f.presses(1, 0);
        QCOMPARE(f.vp.zoom(), 1.25f);
        QCOMPARE(f.drawings.back().width, 234372);
    }

    void overflowChoosesStepAndMaximum_data()
    {
        QTest::addColumn<float>("overflow");
        QTest::addColumn<bool>("enabled");
        QTest::addColumn<int>("step");
        QTest::addColumn<int>("maximum");
        QTest::newRow("as large as the view") << 0.f << false << 0 << 32767;
        QTest::newRow("smaller than the view") << -500.f << false << 0 << 32767;
        QTest::newRow("100 twips, step 1") << 100.f << true << 1 << 100;
        QTest::newRow("101 twips, step 10") << 101.f << true << 10 << 10;
        QTest::newRow("105 twips, half rounds down to even") << 105.f << true << 10 << 10;
        QTest::newRow("115 twips, half rounds up to even") << 115.f << true << 10 << 12;
        QTest::newRow("beyond a 16-bit maximum, step 100") << 340000.f << true << 100 << 3400;
    }
    void overflowChoosesStepAndMaximum()
    {
        QFETCH(float, overflow);
        QFETCH(bool, enabled);
        QFETCH(int, step);
        QFETCH(int, maximum);
        Fixture f(overflowing(overflow, overflow));
        for (const ScrollBarState *bar : {&f.vp.hScroll(), &f.vp.vScroll()}) {
            QCOMPARE(bar->enabled, enabled);
            QCOMPARE(bar->maximum, maximum);
            QCOMPARE(bar->value, int16_t(0));
        }
        QCOMPARE(f.vp.hStep(), step);
        QCOMPARE(f.vp.vStep(), step);
    }

    void barsStayOffWhenThePictureFitsTheFrame_data()
    {
        // Larger than the inside of the frame, no larger than its outside.
        QTest::addColumn<QSizeF>("capture");
        QTest::newRow("horizontal") << QSizeF(9322, 1000);
        QTest::newRow("vertical") << QSizeF(1000, 7417);
    }
    void barsStayOffWhenThePictureFitsTheFrame()
    {
        QFETCH(QSizeF, capture);
        Fixture f(capture);
        const bool horizontal = capture.width() > 9000;
        const ScrollBarState &bar = horizontal ? f.vp.hScroll() : f.vp.vScroll();
        f.vp.redrawImage();
        QVERIFY(bar.enabled); // the redraw's own rule, by the inner size
        f.vp.initScrollbars();
        QVERIFY(!bar.enabled);
        QCOMPARE(horizontal ? f.vp.hStep() : f.vp.vStep(), int16_t(0));
    }

    void percentSettersGuardTheirRange_data()
    {
        QTest::addColumn<int>("percent");
        QTest::addColumn<int>("value");
        QTest::newRow("negative leaves the bar") << -1 << 7;
        QTest::newRow("0 %") << 0 << 0;
        QTest::newRow("33 %: 16.5 rounds to even") << 33 << 16;
        QTest::newRow("35 %: 17.5 rounds to even") << 35 << 18;
        QTest::newRow("100 %") << 100 << 50;
        QTest::newRow("above 100 leaves the bar") << 101 << 7;
    }
    void percentSettersGuardTheirRange()
    {
        QFETCH(int, percent);
        QFETCH(int, value);
        Fixture f(overflowing(500, 500)); // step 10, maximum 50 both ways
        f.vp.setHScrollValue(7);
        f.vp.setVScrollValue(7);
        f.vp.setHScrollbarByPercent(int16_t(percent));
        f.vp.setVScrollbarByPercent(int16_t(percent));
        QCOMPARE(f.vp.hScroll().value, value);
        QCOMPARE(f.vp.vScroll().value, value);
        QCOMPARE(f.offset(), QPointF(-10 * value, -10 * value)); // the change handlers ran
    }

    void scrollingAFullListAt400PercentPassesSixteenBits()
    {
        Fixture f(pixels(1020, 1460));
        f.presses(12, 0);
        QCOMPARE(f.vp.vScroll().maximum, int16_t(8017)); // (87592 - 7425) / 10
        f.vp.setVScrollValue(8017);
        QCOMPARE(f.vp.picture1().top, -80170.f);
    }

    void dragKeepsTheGrabbedPointAndTheEdges_data()
    {
        QTest::addColumn<QSizeF>("capture");
        QTest::addColumn<QPointF>("grab");
        QTest::addColumn<QList<QPointF>>("path");
        QTest::addColumn<QPointF>("expected");
        QTest::addColumn<bool>("held");
        const QSizeF big = overflowing(1000, 1000); // 1,030 over the frame's inside
        const QPointF grab(500, 500);
        QTest::newRow("follows the pointer")
            << big << grab << QList<QPointF>{{400, 450}, {200, 300}} << QPointF(-300, -200) << true;
        QTest::newRow("stops at the top left corner")
            << big << grab << QList<QPointF>{{300, 300}, {900, 700}} << QPointF(0, 0) << true;
        QTest::newRow("stops at the far edges")
            << big << QPointF(5000, 5000) << QList<QPointF>{{100, 100}} << QPointF(-1030, -1030) << true;
        QTest::newRow("one way stopped, the other free")
            << big << grab << QList<QPointF>{{900, 100}} << QPointF(0, -400) << true;
        QTest::newRow("narrow picture stays at 0 across")
            << QSizeF(4002, 8427) << grab << QList<QPointF>{{100, 100}, {900, 300}} << QPointF(0, -200) << true;
        QTest::newRow("low picture stays at 0 down")
            << QSizeF(10332, 3002) << grab << QList<QPointF>{{300, 100}, {300, 900}} << QPointF(-200, 0) << true;
        QTest::newRow("no button held") << big << grab << QList<QPointF>{{100, 100}} << QPointF(0, 0) << false;
    }
    void dragKeepsTheGrabbedPointAndTheEdges()
    {
        QFETCH(QSizeF, capture);
        QFETCH(QPointF, grab);
        QFETCH(QList<QPointF>, path);
        QFETCH(QPointF, expected);
        QFETCH(bool, held);
        Fixture f(capture);
        const float farthest = f.vp.picture2().innerWidth() - f.vp.picture1().width;
        f.vp.mouseDown(float(grab.x()), float(grab.y()));
        for (const QPointF &at : path) {
            f.dragTo(at, held);
            const float left = f.vp.picture1().left;
            QVERIFY(left <= 0 && left >= std::min(0.f, farthest));
            if (left < 0 && left > farthest)
                QCOMPARE(left + grab.x(), at.x()); // the grabbed point is under the pointer
        }
        QCOMPARE(f.offset(), expected);
    }

    void releaseBringsTheBarsInLine_data()
    {
        // Outer sizes 1,000 twips over the frame's: step 10, maximum 100.
        QTest::addColumn<QPointF>("dragTo");
        QTest::addColumn<QPoint>("values");
        QTest::addColumn<QPointF>("settled");
        QTest::newRow("halfway") << QPointF(-500, -500) << QPoint(50, 50) << QPointF(-500, -500);
        QTest::newRow("settles on the nearest bar position")
            << QPointF(-503, -497) << QPoint(50, 50) << QPointF(-500, -500);
        QTest::newRow("past 100 % at the far edge leaves the bar")
            << QPointF(-1030, -200) << QPoint(0, 20) << QPointF(-1030, -200);
    }
    void releaseBringsTheBarsInLine()
    {
        QFETCH(QPointF, dragTo);
        QFETCH(QPoint, values);
        QFETCH(QPointF, settled);
        Fixture f(overflowing(1000, 1000));
        f.vp.mouseDown(0, 0);
        f.dragTo(dragTo);
        f.vp.mouseUp();
        QCOMPARE(QPoint(f.vp.hScroll().value, f.vp.vScroll().value), values);
        QCOMPARE(f.offset(), settled);
    }

    void releaseOverAPictureAsLargeAsTheViewGivesZero_data()
    {
        QTest::addColumn<QPointF>("dragTo");
        QTest::newRow("plain click") << QPointF(0, 0);
        QTest::newRow("after moving inside the frame") << QPointF(-30, -30);
    }
    void releaseOverAPictureAsLargeAsTheViewGivesZero()
    {
        QFETCH(QPointF, dragTo);
        Fixture f(overflowing(0, 0));
        f.vp.setHScrollbarByPercent(50); // the bars never got a maximum of their own: 32767
        f.vp.setVScrollbarByPercent(50);
        f.vp.mouseDown(0, 0);
        f.dragTo(dragTo);
        f.vp.mouseUp();
        QCOMPARE(QPoint(f.vp.hScroll().value, f.vp.vScroll().value), QPoint(0, 0));
    }
};

QTEST_GUILESS_MAIN(TestViewport)
#include "test_viewport.moc"
