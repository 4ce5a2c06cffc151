// The PDF of the full list (15 categories of 20 items): reading the saved workbook, laying
// out its page, painting it into a PDF in memory; and the same written to a file the safe way.
//
//   build-rel/bench/print/bench_pdf
//
// Each benchmark reports the mean, median and spread of ten repetitions.

#include "preview/Export.h"
#include "tools/render-sheet/TemplateFill.h"

#include <QGuiApplication>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

namespace {

// The filled template saved as a generation run leaves it.
QString savedFullList(const QTemporaryDir &dir)
{
    xls::Result<xls::Workbook> book = xls::Workbook::open(QStringLiteral(GROCERY_TEMPLATE));
    if (!book)
        qFatal("%s", qPrintable(book.error().message));
    render::tools::fillFull(book->sheet(0));
    const QString path = dir.filePath(QStringLiteral("wendle12345678.xls"));
    if (xls::Status s = book->saveAs(path); !s)
        qFatal("%s", qPrintable(s.error().message));
    return path;
}

void BM_PdfOfFullList(benchmark::State &state)
{
    QTemporaryDir dir;
    const QString workbook = savedFullList(dir);
    for (auto _ : state) {
        const QByteArray pdf = preview::pdfOfWorkbook(workbook);
        benchmark::DoNotOptimize(pdf.constData());
    }
}
BENCHMARK(BM_PdfOfFullList)->Unit(benchmark::kMillisecond)->Repetitions(10)->ReportAggregatesOnly(true);

void BM_ExportPdfOfFullList(benchmark::State &state)
{
    QTemporaryDir dir;
    const QString workbook = savedFullList(dir);
    const QString target = dir.filePath(QStringLiteral("list.pdf"));
    for (auto _ : state)
        preview::ExportPdf(workbook, target);
}
BENCHMARK(BM_ExportPdfOfFullList)->Unit(benchmark::kMillisecond)->Repetitions(10)->ReportAggregatesOnly(true);

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
