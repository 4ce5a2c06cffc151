// Start-up restore of very large stored lists: 10,000 pieces, one 1 MB value, one item of
// 10 MB (restored and shown, then stored at close), and a file of a million and a half keys,
// through the real settings file and the real main window.

#include "app/Form1.h"
#include "platform/automation/ClassRegistry.h"
#include "platform/facts/Environment.h"

#include <QApplication>
#include <QFile>
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

QString tenMegabyteItem()
{
    return QStringLiteral("A grocery item typed at great length ").repeated(10'000'000 / 37);
}

// From the start to the window shown and drawn.
void BM_RestoreAndShowTenMegabyteItem(benchmark::State &state)
{
    QTemporaryDir config;
    qputenv(facts::env::kConfigHome, config.path().toLocal8Bit());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, config.path());
    storeList(tenMegabyteItem());
    for (auto _ : state) {
        shell::Form1 w;
        w.Form_Load();
        w.show();
        w.List1[0]->viewport()->repaint();
        QCoreApplication::processEvents();
        if (w.List1[0]->count() != 1)
            state.SkipWithError("item lost");
    }
}

// The close: the item joined, encoded and written in one replacement of the file.
void BM_StoreTenMegabyteItem(benchmark::State &state)
{
    QTemporaryDir config;
    qputenv(facts::env::kConfigHome, config.path().toLocal8Bit());
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, config.path());
    const QString item = tenMegabyteItem();
    for (auto _ : state) {
        state.PauseTiming();
        {
            shell::Form1 w;
            w.Form_Load();
            w.List1[0]->clear();
            w.List1[0]->addItem(item + QString::number(state.iterations()));
            w.show();
            QCoreApplication::processEvents();
            state.ResumeTiming();
            w.close();
            state.PauseTiming();
        }
        state.ResumeTiming();
    }
}

// Hostile: a file just under the 16 MB limit made of 1.5 million short keys of another section.
void BM_RestoreFromOneAndAHalfMillionKeys(benchmark::State &state)
{
    QTemporaryDir config;
    qputenv(facts::env::kConfigHome, config.path().toLocal8Bit());
    QByteArray bytes = "[Pantrimo]\nList0=Milk\n[Other]\n";
    for (int k = 0; k < 1'500'000; ++k)
        bytes += 'k' + QByteArray::number(k, 36) + "=1\n";
    QFile file(config.path() + "/Quillmark.ini");
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        state.SkipWithError("could not write the settings file");
    file.close();
    for (auto _ : state) {
        shell::Form1 w;
        w.Form_Load();
        if (w.List1[0]->count() != 1)
            state.SkipWithError("item lost");
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * bytes.size());
}
} // namespace

BENCHMARK(BM_Restore10000Pieces)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RestoreOneMegabyteValue)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RestoreAndShowTenMegabyteItem)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_StoreTenMegabyteItem)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_RestoreFromOneAndAHalfMillionKeys)->Unit(benchmark::kMillisecond)->Iterations(3);

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
