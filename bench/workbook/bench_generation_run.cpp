// The generation run with the built-in server, offscreen: from the click on "Start
// Creating Template" to the preview window shown, and its parts.

#include "app/Form1.h"
#include "platform/automation/ClassRegistry.h"
#include "preview/Form2.h"
#include "platform/excel/ExcelServer.h"
#include "platform/services/FileSystem.h"
#include "workbook/FileRoutines.h"
#include "workbook/SpreadsheetRoutines.h"
#include "workbook/TemplateResource.h"
#include "platform/facts/Environment.h"

#include <QApplication>
#include <QDir>
#include <QListWidget>
#include <QSettings>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

using namespace automation;

namespace {
void fillLists(shell::Form1 &w, int itemsPerCategory)
{
    for (int i = 0; i < 15; ++i)
        for (int k = 0; k < itemsPerCategory; ++k)
            w.List1[i]->addItem(QStringLiteral("Grocery item %1-%2").arg(i).arg(k + 1));
}

// Click to preview shown, with 300 items (20 in each of 15 categories).
void BM_WholeRun(benchmark::State &state)
{
    QTemporaryDir temp;
    qputenv(facts::env::kTemp, temp.path().toLocal8Bit());
    shell::Form1 w;
    w.Form_Load();
    w.show();
    fillLists(w, int(state.range(0)) / 15);
    for (auto _ : state) {
        w.PushButton1_Click();
        if (!w.form2().isVisible())
            state.SkipWithError("the preview did not show");
        state.PauseTiming();
        w.form2().PushButton8_Click(); // back: removes the temporary workbook
        QCoreApplication::processEvents();
        state.ResumeTiming();
    }
}

// Parts of the run, each as the run does it.
void BM_FillAndSave(benchmark::State &state)
{
    QTemporaryDir temp;
    const QString templatePath = temp.filePath("template.xlt");
    workbook::WriteBytesToFile(workbook::LoadTemplateBytes(), templatePath);
    int round = 0;
    for (auto _ : state) {
        ObjectRef app = createObject("Excel.Application");
        ObjectRef book = requireObject(requireObject(app->get(u"Workbooks"))->call(u"Open", {templatePath}));
        for (int i = 0; i < 15; ++i)
            for (int k = 0; k < 20; ++k) {
                const int row = 3 + 11 * (i / 3) + k % 10, col = 2 * (i % 3) + 1 + (k < 10 ? 0 : 7);
                requireObject(requireObject(book->get(u"ActiveSheet"))->call(u"Cells", {int16_t(row), int16_t(col)}))->put(u"Value", int16_t(k + 1));
                requireObject(requireObject(book->get(u"ActiveSheet"))->call(u"Cells", {int16_t(row), int16_t(col + 1)}))->put(u"Value", QStringLiteral("Grocery item"));
            }
        book->call(u"SaveAs", {temp.filePath(QStringLiteral("out%1.xls").arg(round++))}, {{"FileFormat", int32_t(56)}});
        book->call(u"Close");
        app->call(u"Quit");
    }
}

void BM_Capture(benchmark::State &state)
{
    QTemporaryDir temp;
    const QString templatePath = temp.filePath("template.xls");
    workbook::WriteBytesToFile(workbook::LoadTemplateBytes(), templatePath);
    for (auto _ : state) {
        ObjectRef app = workbook::OpenInNewExcel(templatePath);
        ObjectRef book = requireObject(requireObject(app->get(u"Workbooks"))->call(u"Item", {int32_t(1)}));
        workbook::saveCellsActivesheet(book, temp.filePath("temp.bmp"));
        app->call(u"Quit");
    }
}
} // namespace

BENCHMARK(BM_WholeRun)->Arg(300)->Arg(0)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_FillAndSave)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Capture)->Unit(benchmark::kMillisecond);

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    QTemporaryDir config;
    qputenv(facts::env::kConfigHome, config.path().toLocal8Bit());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, config.path());
    platform::registerFileSystemObject();
    platform::registerExcelApplication("builtin");
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
