// The whole generation run ("Start Creating Template" with fifteen full lists) through each
// spreadsheet server, and how many times faster the built-in one is. Wall-clock time: most of
// the LibreOffice server's work happens in its office process.
//
//   generationRun/builtin                   the click, built-in server
//   generationRun/libreoffice               the click, the office already warm (the start-up
//                                           check started it, as in the program)
//   programRun/libreoffice_warm_profile     no office running: the start-up check (which starts
//                                           the office on the kept profile) and the click
//   programRun/libreoffice_profile_removed  the same after the kept profile was removed: the
//                                           office makes it anew, restart included
//
// office_peak_MiB is the office process's peak resident memory (VmHWM) at the end of a run.
// The kept profile goes to a private XDG_CACHE_HOME, never the user's.
//
//   bench_servers --benchmark_repetitions=5   (the default here)

#include "app/Form1.h"
#include "platform/files/Leftovers.h"
#include "platform/excel/ExcelApplication.h"
#include "platform/excel/libreoffice/OfficeProfile.h"
#include "preview/Form2.h"
#include "platform/services/Dialogs.h"
#include "platform/excel/ExcelServer.h"
#include "platform/services/FileSystem.h"
#include "platform/facts/Environment.h"

#include <QApplication>
#include <QFile>
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

// The office's peak resident memory so far, in MiB; 0 when none runs.
double officePeakMiB()
{
    const pid_t pid = lo::runningOfficeProcess();
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (pid == 0 || !status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    return 0;
}

enum class Start { OfficeRunning, WarmProfile, ProfileRemoved };

void run(benchmark::State &state, const char *server, Start start)
{
    QTemporaryDir temp;
    qputenv(facts::env::kTemp, temp.path().toLocal8Bit());
    platform::registerExcelApplication(QString::fromLatin1(server));
    const bool office = QByteArray(server) == "libreoffice";
    for (auto _ : state) {
        state.PauseTiming();
        RecordedDialogs dialogs;
        if (start != Start::OfficeRunning) {
            lo::endOffice();
            if (start == Start::ProfileRemoved)
                files::removeTree(lo::keptProfilePath());
        }
        {
            auto w = std::make_unique<shell::Form1>();
            const auto fill = [&] {
                for (int i = 0; i < 15; ++i)
                    for (int k = 0; k < 20; ++k)
                        w->List1[i]->addItem(QStringLiteral("Item %1-%2").arg(i).arg(k + 1));
            };
            if (start == Start::OfficeRunning) {
                if (!w->Form_Load()) {
                    state.SkipWithError("the start-up check found no spreadsheet server");
                    break;
                }
                fill();
                state.ResumeTiming();
            } else {
                state.ResumeTiming();
                if (!w->Form_Load()) {
                    state.SkipWithError("the start-up check found no spreadsheet server");
                    break;
                }
                // The lists are typed in between, not part of the program's work.
                state.PauseTiming();
                fill();
                state.ResumeTiming();
            }
            w->PushButton1_Click();
            state.PauseTiming();
            QFile::remove(w->form2().mExcelFile);
        }
        if (office)
            state.counters["office_peak_MiB"] = officePeakMiB();
        if (!dialogs.messages.isEmpty()) {
            state.SkipWithError(qPrintable(dialogs.messages.first()));
            break;
        }
        state.ResumeTiming();
    }
}

void generationRun(benchmark::State &state, const char *server) { run(state, server, Start::OfficeRunning); }
void programRun(benchmark::State &state, Start start) { run(state, "libreoffice", start); }

// Keeps each benchmark's median to report the ratios at the end.
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
BENCHMARK_CAPTURE(programRun, libreoffice_warm_profile, Start::WarmProfile)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);
BENCHMARK_CAPTURE(programRun, libreoffice_profile_removed, Start::ProfileRemoved)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir cache;
    qputenv(facts::env::kCacheHome, cache.path().toLocal8Bit());
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
    lo::endOffice(); // before the cache folder goes
    const auto builtin = reporter.medians.find("generationRun/builtin");
    if (builtin != reporter.medians.end() && builtin->second > 0) {
        for (const char *name : {"generationRun/libreoffice", "programRun/libreoffice_warm_profile", "programRun/libreoffice_profile_removed"}) {
            const auto office = reporter.medians.find(name);
            if (office != reporter.medians.end())
                printf("median %s %.1f ms against builtin %.2f ms: builtin is %.0f times faster\n", name, office->second,
                       builtin->second, office->second / builtin->second);
        }
    }
    benchmark::Shutdown();
    return 0;
}
