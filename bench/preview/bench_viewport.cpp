// Speed of the preview viewport on a capture the size of a full grocery list: stretched
// from the capture (BM_...), and drawn from the sheet itself as for the built-in server
// (BM_Sheet...), on the filled template saved as the generation run saves it.
//   bench_viewport --benchmark_repetitions=5 --benchmark_report_aggregates_only=true

#include "preview/ViewportWidget.h"
#include "platform/render/SheetRenderer.h"
#include "tools/render-sheet/TemplateFill.h"

#include <QApplication>
#include <QImage>
#include <QMouseEvent>
#include <QPainter>
#include <QTemporaryDir>
#include <QWheelEvent>
#include <QWidget>

#include <benchmark/benchmark.h>

using namespace preview;

namespace {

// About what a filled template captures: 1,020 x 1,460 pixels of grid lines and text.
QImage fullListCapture()
{
    QImage img(1020, 1460, QImage::Format_RGB32);
    img.fill(Qt::white);
    QPainter p(&img);
    p.setPen(Qt::gray);
    for (int y = 0; y < img.height(); y += 17)
        p.drawLine(0, y, img.width() - 1, y);
    for (int x = 0; x < img.width(); x += 255)
        p.drawLine(x, 0, x, img.height() - 1);
    p.setPen(Qt::black);
    for (int row = 0; row * 17 < img.height(); ++row)
        p.drawText(QPoint(4 + (row % 4) * 255, row * 17 + 13), QStringLiteral("%1  Item %1").arg(row));
    return img;
}

// The full list (15 categories of 20 items) in the template, saved, and its 96-dpi capture.
struct FilledWorkbook {
    QTemporaryDir dir;
    QString path;
    QImage capture;

    FilledWorkbook()
    {
        xls::Result<xls::Workbook> book = xls::Workbook::open(QStringLiteral(GROCERY_TEMPLATE));
        if (!book)
            qFatal("%s", qPrintable(book.error().message));
        render::tools::fillFull(book->sheet(0));
        path = dir.filePath(QStringLiteral("wendle00000000.xls"));
        if (!book->saveAs(path).ok())
            qFatal("cannot save %s", qPrintable(path));
        capture = *render::renderRange(*book, 0, *book->sheet(0).usedRange());
    }
};

const FilledWorkbook &filledWorkbook()
{
    static const FilledWorkbook workbook;
    return workbook;
}

enum class Source { Capture, Sheet };

struct Preview {
    QWidget window;
    ViewportWidget *view = nullptr;
    int redraws = 0;

    explicit Preview(Source source = Source::Capture)
    {
        window.resize(656, 661);
        view = new ViewportWidget(&window);
        QObject::connect(view, &ViewportWidget::pictureRedrawn, [this] { ++redraws; });
        if (source == Source::Sheet) {
            view->setCapture(filledWorkbook().capture);
            if (!view->setSheetSource(filledWorkbook().path))
                qFatal("the sheet does not draw to the capture");
        } else {
            view->setCapture(fullListCapture());
        }
        window.show();
        view->initialise();
        QCoreApplication::processEvents();
    }
    void zoomTo(float factor)
    {
        while (view->viewport().zoom() < factor)
            view->zoomIn();
        QCoreApplication::processEvents();
    }
};

void sendMouse(QWidget *w, QEvent::Type type, QPoint at, Qt::MouseButtons held)
{
    const Qt::MouseButton button = type == QEvent::MouseMove ? Qt::NoButton : Qt::LeftButton;
    QMouseEvent event(type, at, w->mapToGlobal(at), button, held, Qt::NoModifier);
    QApplication::sendEvent(w, &event);
}

// 375 % to 400 %: one stretched copy to 4,080 x 5,840 pixels (or, from the sheet, the
// visible part drawn at 400 %), then the window repaints.
void zoomStepTo400Percent(benchmark::State &state, Source source)
{
    Preview p(source);
    p.zoomTo(3.75f);
    const int before = p.redraws;
    for (auto _ : state) {
        p.view->zoomIn();
        QCoreApplication::processEvents();
        state.PauseTiming();
        p.view->zoomOut();
        QCoreApplication::processEvents();
        state.ResumeTiming();
    }
    state.counters["redraws_per_step"] =
        benchmark::Counter(double(p.redraws - before) / double(2 * state.iterations()));
}
void BM_ZoomStepTo400Percent(benchmark::State &state) { zoomStepTo400Percent(state, Source::Capture); }
void BM_SheetZoomStepTo400Percent(benchmark::State &state) { zoomStepTo400Percent(state, Source::Sheet); }
BENCHMARK(BM_ZoomStepTo400Percent)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SheetZoomStepTo400Percent)->Unit(benchmark::kMillisecond);

// The first time a preview reaches 400 %: its image memory is new and mapped on first use.
void BM_FirstZoomTo400Percent(benchmark::State &state)
{
    for (auto _ : state) {
        state.PauseTiming();
        {
            Preview p;
            p.zoomTo(3.75f);
            state.ResumeTiming();
            p.view->zoomIn();
            QCoreApplication::processEvents();
            state.PauseTiming();
        }
        state.ResumeTiming();
    }
}
BENCHMARK(BM_FirstZoomTo400Percent)->Unit(benchmark::kMillisecond)->Iterations(3);

// One mouse move while dragging the 400 % picture, with the repaint that follows.
void dragStepAt400Percent(benchmark::State &state, Source source)
{
    Preview p(source);
    p.zoomTo(4.0f);
    const int before = p.redraws;
    QWidget *pic = p.view->picture1();
    sendMouse(pic, QEvent::MouseButtonPress, QPoint(300, 300), Qt::LeftButton);
    bool away = false;
    for (auto _ : state) {
        // The pointer goes back and forth 20 pixels; in Picture1's own coordinates that
        // is where the pointer lands after the last move.
        const QPoint delta = away ? QPoint(20, 20) : QPoint(-20, -20);
        sendMouse(pic, QEvent::MouseMove, QPoint(300, 300) + delta, Qt::LeftButton);
        QCoreApplication::processEvents();
        away = !away;
    }
    sendMouse(pic, QEvent::MouseButtonRelease, QPoint(300, 300), Qt::NoButton);
    state.counters["redraws"] = benchmark::Counter(double(p.redraws - before));
}
void BM_DragStepAt400Percent(benchmark::State &state) { dragStepAt400Percent(state, Source::Capture); }
void BM_SheetDragStepAt400Percent(benchmark::State &state) { dragStepAt400Percent(state, Source::Sheet); }
BENCHMARK(BM_DragStepAt400Percent)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SheetDragStepAt400Percent)->Unit(benchmark::kMicrosecond);

// One notch of the wheel over the 400 % picture, down and back up in turn: the picture moves
// three lines and the window repaints what came into view.
void wheelStepAt400Percent(benchmark::State &state, Source source)
{
    Preview p(source);
    p.zoomTo(4.0f);
    const int before = p.redraws;
    QWidget *pic = p.view->picture1();
    int notches = -1;
    for (auto _ : state) {
        const QPoint at = QPoint(300, 300) - pic->pos();
        QWheelEvent event(at, pic->mapToGlobal(at), QPoint(), QPoint(0, 120 * notches), Qt::NoButton, Qt::NoModifier,
                          Qt::NoScrollPhase, false);
        QApplication::sendEvent(pic, &event);
        QCoreApplication::processEvents();
        notches = -notches;
    }
    state.counters["redraws"] = benchmark::Counter(double(p.redraws - before));
}
void BM_WheelStepAt400Percent(benchmark::State &state) { wheelStepAt400Percent(state, Source::Capture); }
void BM_SheetWheelStepAt400Percent(benchmark::State &state) { wheelStepAt400Percent(state, Source::Sheet); }
BENCHMARK(BM_WheelStepAt400Percent)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_SheetWheelStepAt400Percent)->Unit(benchmark::kMicrosecond);

// The same drag step on the model alone.
void BM_ModelDragStep(benchmark::State &state)
{
    Viewport vp(Borders{15, 0, 0});
    vp.assignPicture(15300, 21900);
    (void)vp.initialise();
    (void)vp.setZoom(4.0f);
    vp.mouseDown(3000, 3000);
    float x = 2700;
    for (auto _ : state) {
        vp.mouseMove(true, x, x);
        x = x == 2700 ? 3300 : 2700;
        benchmark::DoNotOptimize(vp.picture1().left);
    }
}
BENCHMARK(BM_ModelDragStep);

} // namespace

int main(int argc, char **argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
