// What planted names cost the start and a save: the sweep of run folders with 20,000 of them
// in TEMP, and a save of the settings file beside 50,000 partial files. The planted names
// belong to a running process, so no sweep removes them and every run meets all of them;
// compare each with its empty row (argument 0).

#include "platform/files/AtomicFile.h"
#include "platform/files/Leftovers.h"

#include <QDir>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <unistd.h>

namespace {
const QString kRunPrefix = QStringLiteral("pantrimo-run-");

void BM_SweepRunFolders(benchmark::State &state)
{
    QTemporaryDir temp;
    const pid_t running = ::getppid();
    for (int i = 0; i < state.range(0); ++i)
        QDir().mkdir(temp.filePath(QStringLiteral("%1%2-%3").arg(kRunPrefix).arg(running).arg(i, 6, 36, QLatin1Char('0'))));
    for (auto _ : state)
        files::sweepAbandoned(temp.path(), kRunPrefix);
    if (QDir(temp.path()).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size() != state.range(0))
        state.SkipWithError("a planted folder was removed");
}

void BM_SaveBesidePartFiles(benchmark::State &state)
{
    QTemporaryDir config;
    const pid_t running = ::getppid();
    for (int i = 0; i < state.range(0); ++i) {
        const QByteArray name = QFile::encodeName(config.filePath(QStringLiteral(".Quillmark.ini.%1-%2.part").arg(running).arg(i)));
        ::close(::open(name.constData(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600));
    }
    const QByteArray lists(20 * 1024, 'x');
    for (auto _ : state) {
        if (!files::writeFileAtomically(config.filePath("Quillmark.ini"), lists).written())
            state.SkipWithError("the save failed");
    }
}
} // namespace

// Fixed iterations: planting the names costs far more than what is measured, so it is done
// once per row rather than once per round of calibration.
BENCHMARK(BM_SweepRunFolders)->Arg(0)->Arg(20000)->Iterations(20)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SaveBesidePartFiles)->Arg(0)->Arg(50000)->Iterations(20)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
