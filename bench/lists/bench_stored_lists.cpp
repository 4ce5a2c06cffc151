// Start-up restore of very large stored lists: 10,000 pieces, and one 1 MB value,
// through the real settings file and the real main window.

#include "app/Form1.h"
#include "platform/automation/ClassRegistry.h"
#include "platform/facts/Environment.h"

#include <QApplication>
#include <QListWidget>
#include <QSettings>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

namespace {
class AnyServer : public automation::DispatchObject {
public:
    QString className() const override { return "Application"; }
};

void storeList(const QString &value)
{
    QSettings s(QSettings::IniFormat, QSettings::UserScope, "Quillmark");
    s.setValue("Pantrimo/List0", value);
    s.sync();
}

void restore(benchmark::State &state, const QString &value, int expectedItems)
{
    QTemporaryDir config;
    qputenv(facts::env::kConfigHome, config.path().toLocal8Bit());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, config.path());
    storeList(value);
    for (auto _ : state) {
        shell::Form1 w;
        w.Form_Load();
        if (w.List1[0]->count() != expectedItems)
            state.SkipWithError("items lost");
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * value.size() * 2);
}

void BM_Restore10000Pieces(benchmark::State &state)
{
    QStringList pieces;
    for (int k = 0; k < 10000; ++k)
        pieces << QStringLiteral("Item number %1").arg(k);
    restore(state, pieces.join(';'), 10000);
}

void BM_RestoreOneMegabyteValue(benchmark::State &state)
{
    QString value;
    int items = 0;
    while (value.size() < 1'000'000) {
        value += QStringLiteral("A rather long grocery item description number %1;").arg(items++);
    }
    value.chop(1);
    restore(state, value, items);
}
} // namespace

BENCHMARK(BM_Restore10000Pieces)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RestoreOneMegabyteValue)->Unit(benchmark::kMillisecond);

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    automation::ClassRegistry::instance().registerClass("Excel.Application",
                                                        [] { return std::make_shared<AnyServer>(); });
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
