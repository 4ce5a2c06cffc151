#include "preview/ViewportWidget.h"

#include <QApplication>
#include <QFrame>
#include <QImage>
#include <QMouseEvent>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>

#include <memory>

using namespace preview;

namespace {

// A capture with a red top left and a blue bottom right quarter, to see the scaling.
QImage capture(int w, int h)
{
    QImage img(w, h, QImage::Format_RGB32);
    img.fill(Qt::red);
    for (int y = h / 2; y < h; ++y)
        for (int x = w / 2; x < w; ++x)
            img.setPixel(x, y, qRgb(0, 0, 255));
    return img;
}

void sendMouse(QWidget *w, QEvent::Type type, QPoint at, Qt::MouseButtons held)
{
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, at, w->mapToGlobal(at), button, held, Qt::NoModifier);
    QApplication::sendEvent(w, &event);
}

} // namespace

class TestViewportWidget : public QObject {
    Q_OBJECT
    std::unique_ptr<QWidget> m_window;
    ViewportWidget *m_view = nullptr;

    // False when the window never showed; the test checks.
    [[nodiscard]] bool show(QSize capturePixels)
    {
        m_window = std::make_unique<QWidget>();
        m_window->resize(656, 626); // 9840 x 9390 twips
        m_view = new ViewportWidget(m_window.get());
        m_view->setCapture(capture(capturePixels.width(), capturePixels.height()));
        m_window->show();
        if (!QTest::qWaitForWindowExposed(m_window.get()))
            return false;
        m_view->initialise();
        return true;
    }

private slots:
    void cleanup() { m_window.reset(); }

    void controlsSitAtTheirPlaces()
    {
        QVERIFY(show(QSize(40, 30)));
        QCOMPARE(m_view->picture2()->geometry(), QRect(8, 8, 622, 495));
        QCOMPARE(m_view->vScroll1()->geometry(), QRect(630, 8, 17, 495));
        QCOMPARE(m_view->hScroll1()->geometry(), QRect(8, 503, 622, 17));
        QCOMPARE(m_view->picture2()->cursor().shape(), Qt::SizeAllCursor);
        QVERIFY(!m_view->zoomOri()->isVisible());
        for (QScrollBar *bar : {m_view->hScroll1(), m_view->vScroll1()}) {
            QVERIFY(!bar->hasTracking());
            QCOMPARE(bar->singleStep(), 1);
            QCOMPARE(bar->pageStep(), 1);
            QVERIFY(!bar->isEnabled()); // a small capture fits
        }
    }

    void zoomRedrawsOnceAtTheNewSize()
    {
        QVERIFY(show(QSize(40, 30)));
        QSignalSpy redrawn(m_view, &ViewportWidget::pictureRedrawn);
        m_view->zoomIn();
        // (598 x 448 twips) x 1.25 = 747 x 560 twips
        QCOMPARE(redrawn.count(), 1);
        QCOMPARE(redrawn.at(0).at(0).toSize(), QSize(50, 37));
        const QImage img = m_view->picture1()->picture();
        QCOMPARE(m_view->picture1()->size(), QSize(50, 37));
        QCOMPARE(img.size(), QSize(50, 37));
        QCOMPARE(img.pixel(0, 0), qRgb(255, 0, 0));
        QCOMPARE(img.pixel(49, 36), qRgb(0, 0, 255));
        QCOMPARE(m_view->zoomOri()->picture().size(), QSize(40, 30)); // the unscaled copy stays

        for (int i = 0; i < 20; ++i)
            m_view->zoomIn();
        QCOMPARE(redrawn.count(), 12); // up to 400 %, then refused silently
        QCOMPARE(m_view->picture1()->size(), QSize(159, 119)); // 2392 x 1792 twips
    }

    void panningAndScrollingOnlyMove()
    {
        QVERIFY(show(QSize(800, 600)));
        QSignalSpy redrawn(m_view, &ViewportWidget::pictureRedrawn);
        PictureBox *pic = m_view->picture1();
        const qint64 drawn = pic->picture().cacheKey();

        sendMouse(pic, QEvent::MouseButtonPress, QPoint(100, 100), Qt::LeftButton);
        sendMouse(pic, QEvent::MouseMove, QPoint(60, 70), Qt::LeftButton);
        QCOMPARE(pic->pos(), QPoint(-40, -30));
        sendMouse(pic, QEvent::MouseMove, QPoint(90, 90), Qt::LeftButton); // pointer now at 50,60
        QCOMPARE(pic->pos(), QPoint(-50, -40)); // the grabbed point stays under it
        sendMouse(pic, QEvent::MouseButtonRelease, QPoint(90, 90), Qt::NoButton);

        // Released: the bars follow and the picture settles on what they can express.
        const Viewport &vp = m_view->viewport();
        QCOMPARE(m_view->hScroll1()->value(), int(vp.hScroll().value));
        QVERIFY(vp.hScroll().value > 0);
        QCOMPARE(pic->pos(), QPoint(twipsToPixels(vp.picture1().left), twipsToPixels(vp.picture1().top)));

        const int before = pic->y();
        m_view->vScroll1()->triggerAction(QAbstractSlider::SliderPageStepAdd);
        QCOMPARE(vp.picture1().top, -10.f * vp.vScroll().value);
        QVERIFY(pic->y() < before);

        pic->window()->repaint(); // the moves painted, now rather than after some wait
        QCOMPARE(redrawn.count(), 0);
        QCOMPARE(pic->picture().cacheKey(), drawn);
    }

    void handlersRunUnderTheirReportNames()
    {
        QVERIFY(show(QSize(800, 600)));
        QStringList seen;
        m_view->setHandlerGuard([&](const QString &where, const std::function<void()> &handler) {
            seen << where;
            handler();
        });
        m_view->zoomOut();
        m_view->zoomIn();
        PictureBox *pic = m_view->picture1();
        sendMouse(pic, QEvent::MouseButtonPress, QPoint(10, 10), Qt::LeftButton);
        sendMouse(pic, QEvent::MouseMove, QPoint(5, 5), Qt::LeftButton);
        sendMouse(pic, QEvent::MouseButtonRelease, QPoint(5, 5), Qt::NoButton);
        QCOMPARE(seen, QStringList({"Form2.PushButton2_Click", "Form2.RedrawImage",
                                    "Form2.PushButton1_Click", "Form2.RedrawImage",
                                    "Form2.picture1_MouseDown", "Form2.picture1_MouseMove",
                                    "Form2.Picture1_MouseUp"}));
    }

    void aNewCaptureStartsAfresh()
    {
        QVERIFY(show(QSize(800, 600)));
        m_view->zoomIn();
        m_view->zoomIn();
        m_view->vScroll1()->triggerAction(QAbstractSlider::SliderPageStepAdd);
        m_view->setCapture(capture(300, 200));
        m_view->initialise();
        m_view->zoomIn();
        QCOMPARE(m_view->viewport().zoom(), 1.25f);
        QCOMPARE(m_view->picture1()->geometry(), QRect(0, 0, 375, 250)); // 5622 x 3747 twips
        QCOMPARE(m_view->zoomOri()->picture().size(), QSize(300, 200));
        QCOMPARE(m_view->vScroll1()->value(), 0);
    }
};

QTEST_MAIN(TestViewportWidget)
#include "test_viewport_widget.moc"
