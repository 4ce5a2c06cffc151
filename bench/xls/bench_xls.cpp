// Cost of one generation run's spreadsheet work through the late-bound members: open the
// template, write the cells one call at a time (half numbers, half texts), save, close, quit.
//   bench_xls --benchmark_repetitions=10 --benchmark_report_aggregates_only=true

#include "platform/excel/ExcelApplication.h"
#include "platform/xls/Workbook.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

using namespace automation;

namespace {

const QString kTemplate = QStringLiteral(PANTRIMO_TEMPLATE_XLS);
const QString kStandIn = QStringLiteral(PANTRIMO_XLS_TEST_DATA "/styled.xls");

QString source() { return QFile::exists(kTemplate) ? kTemplate : kStandIn; }

void fillAndSave(int writes, const QString &out)
{
    ObjectRef app = createBuiltinExcelApplication();
    app->put(u"DisplayAlerts", Variant::fromBool(false));
    requireObject(app->get(u"Workbooks"))->call(u"Open", {source()});
    const int32_t n = requireObject(app->get(u"Workbooks"))->get(u"Count").toInt32();
    ObjectRef wb = requireObject(app->get(u"Workbooks", {Variant(n)}));
    for (int k = 0; k < writes / 2; ++k) {
        // Item k of a list laid out six pairs to a row, from row 3 down.
        const int16_t row = int16_t(3 + k / 6);
        const int16_t col = int16_t(1 + 2 * (k % 6));
        requireObject(requireObject(wb->get(u"ActiveSheet"))->call(u"Cells", {Variant(row), Variant(col)}))
            ->put(u"Value", Variant(int16_t(k % 20 + 1)));
        requireObject(requireObject(wb->get(u"ActiveSheet"))->call(u"Cells", {Variant(row), Variant(int16_t(col + 1))}))
            ->put(u"Value", Variant(QStringLiteral("Grocery item %1").arg(k)));
    }
    QFile::remove(out);
    wb->call(u"SaveAs", {out}, {{QStringLiteral("FileFormat"), Variant(int32_t(56))}});
    wb->call(u"Close");
    app->call(u"Quit");
}

void BM_OpenFillSave(benchmark::State &state)
{
    QTemporaryDir dir;
    const QString out = dir.filePath("wendle11111111.xls");
    for (auto _ : state)
        fillAndSave(int(state.range(0)), out);
    state.counters["writes"] = double(state.range(0));
    state.SetLabel(QFileInfo(source()).fileName().toStdString());
}
BENCHMARK(BM_OpenFillSave)->Arg(0)->Arg(60)->Arg(600)->Arg(6000)->Unit(benchmark::kMillisecond)->UseRealTime();

// The same work without the disk: open, fill, and serialise to memory. The difference to
// BM_OpenFillSave is the file write, whose commit waits for the disk (fsync).
void BM_OpenFillInMemory(benchmark::State &state)
{
    for (auto _ : state) {
        xls::Result<xls::Workbook> wb = xls::Workbook::open(source());
        xls::Worksheet &sheet = wb->sheet(wb->activeSheetIndex());
        for (int k = 0; k < int(state.range(0)) / 2; ++k) {
            sheet.setNumber(uint16_t(2 + k / 6), uint16_t(2 * (k % 6)), k % 20 + 1);
            sheet.setText(uint16_t(2 + k / 6), uint16_t(2 * (k % 6) + 1), QStringLiteral("Grocery item %1").arg(k));
        }
        benchmark::DoNotOptimize(wb->toBytes());
    }
}
BENCHMARK(BM_OpenFillInMemory)->Arg(600)->Unit(benchmark::kMillisecond)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
