// The capture of the filled grocery template: painting A1:M58, and the whole hand-over
// (paint, put on the clipboard, write the BMP file the preview loads).
//
//   build-render-rel/bench/render/bench_render
//
// Each benchmark reports the mean, median and spread of ten repetitions.

#include "platform/render/Clipboard.h"
#include "platform/render/SheetRenderer.h"
#include "tools/render-sheet/TemplateFill.h"

#include <QDir>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

namespace {

const xls::CellRange kTemplateRange{0, 57, 0, 12}; // A1:M58

xls::Workbook filledTemplate()
{
    xls::Result<xls::Workbook> book = xls::Workbook::open(QStringLiteral(GROCERY_TEMPLATE));
    if (!book)
        qFatal("%s", qPrintable(book.error().message));
    render::tools::fillFull(book->sheet(0));
    return std::move(*book);
}

void BM_RenderFilledTemplate(benchmark::State &state)
{
    const xls::Workbook book = filledTemplate();
    for (auto _ : state) {
        QImage image = *render::renderRange(book, 0, kTemplateRange);
        benchmark::DoNotOptimize(image.constBits());
    }
}
BENCHMARK(BM_RenderFilledTemplate)->Unit(benchmark::kMillisecond)->Repetitions(10)->ReportAggregatesOnly(true);

void BM_CaptureToClipboardAndBmp(benchmark::State &state)
{
    const xls::Workbook book = filledTemplate();
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("temp.bmp"));
    for (auto _ : state) {
        const QImage image = *render::renderRange(book, 0, kTemplateRange);
        render::copyImageToClipboard(image);
        if (!image.save(path, "BMP"))
            state.SkipWithError("cannot write the BMP file");
    }
}
BENCHMARK(BM_CaptureToClipboardAndBmp)->Unit(benchmark::kMillisecond)->Repetitions(10)->ReportAggregatesOnly(true);

} // namespace

int main(int argc, char **argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
