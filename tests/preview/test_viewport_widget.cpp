#include "preview/ViewportWidget.h"

#include <QApplication>
#include <QFrame>
#include <QImage>
#include <QMouseEvent>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTest>
#include <QWheelEvent>

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

// One notch of the wheel at a point of w, turned away from the user (up) or towards them.
void sendWheel(QWidget *w, QPoint at, int notches, Qt::KeyboardModifiers modifiers)
{
    QWheelEvent event(at, w->mapToGlobal(at), QPoint(), QPoint(0, 120 * notches), Qt::NoButton, modifiers,
                      Qt::NoScrollPhase, false);
    QApplication::sendEvent(w, &event);
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

        QTest::qWait(20); // let the moves paint
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

    void steeringMovesThePictureWhereTheScrollBarsCan_data()
    {
        // What is done, then where Picture1 stands (pixels) and the factor. The capture is
        // 800 x 1000 pixels in a 620 x 493 view; a line is 20 pixels, a wheel notch three.
        QTest::addColumn<QString>("input");
        QTest::addColumn<QPoint>("at");
        QTest::addColumn<float>("zoom");
        QTest::newRow("wheel towards the user scrolls down") << "wheel -1" << QPoint(0, -60) << 1.0f;
        QTest::newRow("wheel up at the top stays") << "wheel 1" << QPoint(0, 0) << 1.0f;
        QTest::newRow("Shift+wheel scrolls sideways") << "shift-wheel -1" << QPoint(-60, 0) << 1.0f;
        QTest::newRow("arrow down") << "Down" << QPoint(0, -20) << 1.0f;
        QTest::newRow("arrow right") << "Right" << QPoint(-20, 0) << 1.0f;
        QTest::newRow("Page Down: the view less a line") << "PgDown" << QPoint(0, -(493 - 20)) << 1.0f;
        QTest::newRow("End: the bottom, as far as the bar goes") << "End" << QPoint(0, -505) << 1.0f;
        QTest::newRow("Home after End") << "End Home" << QPoint(0, 0) << 1.0f;
        QTest::newRow("Ctrl++") << "Ctrl++" << QPoint(0, 0) << 1.25f;
        QTest::newRow("Ctrl+-") << "Ctrl+-" << QPoint(0, 0) << 0.75f;
        QTest::newRow("Ctrl+0 back to 100 %") << "Ctrl++ Ctrl++ Ctrl+0" << QPoint(0, 0) << 1.0f;
        // The point under the pointer, (300, 200) of the picture, stays there: at 125 % it
        // is (375, 250) of the zoomed picture.
        QTest::newRow("Ctrl+wheel zooms about the pointer") << "ctrl-wheel 1" << QPoint(-75, -50) << 1.25f;
        QTest::newRow("and back out about it") << "ctrl-wheel 1 ctrl-wheel -1" << QPoint(0, 0) << 1.0f;
    }
    void steeringMovesThePictureWhereTheScrollBarsCan()
    {
        QFETCH(QString, input);
        QFETCH(QPoint, at);
        QFETCH(float, zoom);
        QVERIFY(show(QSize(800, 1000)));
        QVERIFY(QTest::qWaitForWindowActive(m_window.get()));
        PictureBox *pic = m_view->picture1();
        const QStringList steps = input.split(' ');
        for (qsizetype k = 0; k < steps.size(); ++k) {
            const QString &step = steps[k];
            if (step.endsWith("wheel")) {
                const Qt::KeyboardModifiers mods = step.startsWith("shift") ? Qt::ShiftModifier
                                                   : step.startsWith("ctrl") ? Qt::ControlModifier : Qt::NoModifier;
                // At (300, 200) of the view, wherever the picture stands.
                sendWheel(pic, QPoint(300, 200) - pic->pos(), steps[++k].toInt(), mods);
            } else {
                QTest::keySequence(m_window.get(), step == "PgDown" ? QKeySequence(Qt::Key_PageDown) : QKeySequence(step));
            }
        }
        QCOMPARE(m_view->viewport().zoom(), zoom);
        QCOMPARE(pic->pos(), at);
        // The scroll bars show where the picture stands.
        QCOMPARE(m_view->vScroll1()->value(), int(m_view->viewport().vScroll().value));
        QCOMPARE(pic->y(), twipsToPixels(-m_view->viewport().vStep() * m_view->viewport().vScroll().value));
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
