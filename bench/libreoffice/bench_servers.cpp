// The whole generation run ("Start Creating Template" with fifteen full lists) through each
// spreadsheet server, and how many times faster the built-in one is. Wall-clock time: most of
// the LibreOffice server's work happens in its office process.
//
//   bench_servers --benchmark_repetitions=5   (the default here)

#include "app/Form1.h"
#include "libreoffice/LibreOfficeExcel.h"
#include "preview/Form2.h"
#include "services/Dialogs.h"
#include "services/ExcelServer.h"
#include "services/FileSystem.h"

#include <QApplication>
#include <QListWidget>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <map>

namespace {

// No window may open during a measured run: the first report ends the benchmark instead.
class RecordedDialogs : public platform::Dialogs {
public:
    RecordedDialogs() { platform::setDialogs(this); }
    ~RecordedDialogs() override { platform::setDialogs(nullptr); }
    QStringList messages;

    int messageBox(const QString &text, int, const QString &) override
    {
        messages.append(text);
        return platform::vbOK;
    }
    std::optional<QString> inputBox(const QString &, const QString &) override { return std::nullopt; }
    QString saveFileName(const QString &, const QString &) override { return {}; }
};

void generationRun(benchmark::State &state, const char *server)
{
    QTemporaryDir temp;
    qputenv("TEMP", temp.path().toLocal8Bit());
    platform::registerExcelApplication(QString::fromLatin1(server));
    for (auto _ : state) {
        state.PauseTiming();
        RecordedDialogs dialogs;
        {
            shell::Form1 w;
            if (!w.Form_Load()) {
                state.SkipWithError("the start-up test found no spreadsheet server");
                break;
            }
            for (int i = 0; i < 15; ++i)
                for (int k = 0; k < 20; ++k)
                    w.List1[i]->addItem(QStringLiteral("Item %1-%2").arg(i).arg(k + 1));
            state.ResumeTiming();
            w.PushButton1_Click();
            state.PauseTiming();
            QFile::remove(w.form2().mExcelFile);
        }
        if (!dialogs.messages.isEmpty()) {
            state.SkipWithError(qPrintable(dialogs.messages.first()));
            break;
        }
        state.ResumeTiming();
    }
}

// Keeps each benchmark's median to report the ratio at the end.
class MedianReporter : public benchmark::ConsoleReporter {
public:
    std::map<std::string, double> medians;
    void ReportRuns(const std::vector<Run> &runs) override
    {
        for (const Run &run : runs)
            if (run.aggregate_name == "median")
                medians[run.run_name.function_name] = run.GetAdjustedRealTime();
        ConsoleReporter::ReportRuns(runs);
    }
};

} // namespace

BENCHMARK_CAPTURE(generationRun, builtin, "builtin")->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);
BENCHMARK_CAPTURE(generationRun, libreoffice, "libreoffice")->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    platform::registerFileSystemObject();
    if (lo::findOfficeBinary(QString()).isEmpty()) {
        fprintf(stderr, "LibreOffice is not installed: only the built-in server can be measured\n");
        return 77;
    }
    std::vector<char *> args(argv, argv + argc);
    std::string reps = "--benchmark_repetitions=5";
    bool hasReps = false;
    for (char *a : args)
        hasReps = hasReps || std::string(a).rfind("--benchmark_repetitions", 0) == 0;
    if (!hasReps)
        args.push_back(reps.data());
    int count = int(args.size());
    benchmark::Initialize(&count, args.data());
    MedianReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    const auto builtin = reporter.medians.find("generationRun/builtin");
    const auto office = reporter.medians.find("generationRun/libreoffice");
    if (builtin != reporter.medians.end() && office != reporter.medians.end() && builtin->second > 0)
        printf("median builtin %.2f ms, libreoffice %.2f ms: builtin is %.1f times faster\n", builtin->second,
               office->second, office->second / builtin->second);
    benchmark::Shutdown();
    return 0;
}
