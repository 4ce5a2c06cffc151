// The settings file as written and read by the program, against Qt's own INI reader and
// writer, and against what can go wrong: a kill in the middle of a save, two programs
// saving at once, a full disk, a hand edit that damaged the file.

#include "tests/support/SmallDisk.h"
#include "tests/support/TestEnvironment.h"
#include "platform/facts/Environment.h"
#include "platform/automation/AutomationError.h"
#include "platform/services/IniFile.h"
#include "platform/services/SettingsStore.h"

#include <QProcess>
#include <QRandomGenerator>
#include <QSettings>
#include <QTest>

#include <csignal>

using platform::IniFile;

namespace {
const QString kApp = QStringLiteral("Quillmark");
const QString kSection = QStringLiteral("Pantrimo");

// Which set ("A" or "B") every list of a file written by settings_writer belongs to; "torn"
// when they are not all from one set, "none" when no list is there.
QString setOf(const QByteArray &bytes)
{
    const IniFile file = IniFile::parse(bytes);
    QString found;
    for (int i = 0; i < 15; ++i) {
        const IniFile::Value v = file.value(kSection, QStringLiteral("List%1").arg(i));
        const QString tag = v.kind == IniFile::Kind::Text ? v.text.section(';', 0, 0) : QStringLiteral("none");
        if (i == 0)
            found = tag;
        else if (tag != found)
            return QStringLiteral("torn");
    }
    return found;
}
} // namespace

class TestSettingsFile : public QObject {
    Q_OBJECT
private slots:
    void init() { m_env.isolate(); }
    void cleanup() { m_env.restore(); }

    void valuesReadBackThroughQtsReaderAndTheOtherWayRound_data()
    {
        QTest::addColumn<QString>("value");
        QTest::newRow("plain") << "Milk";
        QTest::newRow("separators and ini characters") << R"(1,5 kg;"quoted";back\slash;a=b;#hash;[x])";
        QTest::newRow("blanks at both ends") << "  leading;trailing  ";
        QTest::newRow("control characters") << QStringLiteral("tab\there\nnew line\r\a\b\f\v\x01\x1f end");
        QTest::newRow("a control character before a hex digit") << QStringLiteral("\x01" "abc\x02" "9");
        QTest::newRow("at signs") << "@Variant(x);@@;@";
        QTest::newRow("looks like a form") << "@ByteArray(abc)";
        QTest::newRow("non-ascii and beyond the BMP") << QString::fromUtf8("Crème fraîche;寿司;🥕;\u00a0");
        QTest::newRow("empty") << "";
        QTest::newRow("only blanks") << "   ";
        QTest::newRow("a lone backslash at the end") << "C:\\";
    }
    void valuesReadBackThroughQtsReaderAndTheOtherWayRound()
    {
        QFETCH(QString, value);
        platform::SaveSetting(kApp, kSection, "List4", value);
        {
            QSettings qt(m_env.settingsFile(), QSettings::IniFormat);
            QCOMPARE(qt.status(), QSettings::NoError);
            QCOMPARE(qt.value("Pantrimo/List4").toString(), value);
        }
        const QString other = m_env.configPath() + "/written-by-qt.ini";
        {
            QSettings qt(other, QSettings::IniFormat);
            qt.setValue("Pantrimo/List4", value);
        }
        QCOMPARE(IniFile::parse(testing::fileBytes(other)).value(kSection, u"List4").text, value);
    }

    void whatTheProgramDoesNotOwnIsCarriedOverAsItWas()
    {
        const QByteArray before = "; kept by hand\n[General]\ntheme=dark\n\n[Pantrimo]\nList0=Old\nNote = \"mine\" ; too\n"
                                  "\n[Other]\nx=1";
        QFile f(m_env.settingsFile());
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(before) == before.size());
        f.close();
        platform::SaveSettings(kApp, kSection, {{"List0", "New;Items"}, {"List1", ""}});
        QCOMPARE(testing::fileBytes(m_env.settingsFile()),
                 QByteArray("; kept by hand\n[General]\ntheme=dark\n\n[Pantrimo]\nList0=\"New;Items\"\n"
                            "Note = \"mine\" ; too\nList1=\n\n[Other]\nx=1"));
        QSettings qt(m_env.settingsFile(), QSettings::IniFormat);
        QCOMPARE(qt.value("Pantrimo/List0").toString(), QStringLiteral("New;Items"));
        QCOMPARE(qt.value("Other/x").toString(), QStringLiteral("1"));
        QCOMPARE(qt.value("theme").toString(), QStringLiteral("dark"));
    }

    // Qt's reader ends a line at LF, CR LF or a lone CR; a damaged line is left out of the
    // written file, whatever ends it, and nothing around it moves or is lost.
    void aDamagedLineIsLeftOutWhateverEndsItsLines_data()
    {
        QTest::addColumn<QByteArray>("layout"); // "|" for the line break
        QTest::addColumn<QByteArray>("lineBreak");
        QTest::addColumn<int>("damagedLine");
        const QByteArray between = "[Pantrimo]|[|List0=Milk|[Other]|x=1|";
        QTest::newRow("a bracket left open, LF") << between << QByteArray("\n") << 2;
        QTest::newRow("a bracket left open, CR LF") << between << QByteArray("\r\n") << 2;
        QTest::newRow("a bracket left open, CR") << between << QByteArray("\r") << 2;
        QTest::newRow("a line without =, CR") << QByteArray("[Pantrimo]|junk|List0=Milk|[Other]|x=1|") << QByteArray("\r")
                                             << 2;
        QTest::newRow("a bracket left open at the end, CR")
            << QByteArray("[Pantrimo]|List0=Milk|[Other]|x=1|[") << QByteArray("\r") << 5;
        QTest::newRow("a quote left open at the end, CR LF")
            << QByteArray("[Pantrimo]|List0=Milk|[Other]|x=1|y=\"open") << QByteArray("\r\n") << 5;
        QTest::newRow("a backslash at the end, CR")
            << QByteArray("[Pantrimo]|List0=Milk|[Other]|x=1|y=tail\\") << QByteArray("\r") << 5;
    }
    void aDamagedLineIsLeftOutWhateverEndsItsLines()
    {
        QFETCH(QByteArray, layout);
        QFETCH(QByteArray, lineBreak);
        QFETCH(int, damagedLine);
        const QByteArray before = QByteArray(layout).replace("|", lineBreak);
        QFile f(m_env.settingsFile());
        QVERIFY(f.open(QIODevice::WriteOnly) && f.write(before) == before.size());
        f.close();
        const platform::SettingsReading reading = platform::SettingsReading::read(kApp);
        QVERIFY2(reading.damage().contains(QStringLiteral("damaged at line %1.").arg(damagedLine)),
                 qPrintable(reading.damage()));
        QCOMPARE(reading.value(kSection, "List0"), QStringLiteral("Milk"));

        platform::SaveSettings(kApp, kSection, {{"List0", "Bread"}, {"List1", "Eggs;Tea"}});
        QCOMPARE(testing::fileBytes(m_env.settingsFile() + ".bak"), before);
        QVERIFY(platform::SettingsReading::read(kApp).damage().isEmpty());
        QSettings qt(m_env.settingsFile(), QSettings::IniFormat);
        QCOMPARE(qt.status(), QSettings::NoError);
        QCOMPARE(qt.value("Pantrimo/List0").toString(), QStringLiteral("Bread"));
        QCOMPARE(qt.value("Pantrimo/List1").toString(), QStringLiteral("Eggs;Tea"));
        QCOMPARE(qt.value("Other/x").toString(), QStringLiteral("1"));
        QCOMPARE(qt.allKeys().size(), 3);
    }

    void aKillDuringASaveNeverLeavesAMixOfOldAndNewLists()
    {
        const QString writer = QCoreApplication::applicationDirPath() + "/settings_writer";
        constexpr int kTrials = 120;
        int torn = 0, whole = 0;
        for (int trial = 0; trial < kTrials; ++trial) {
            QProcess p;
            p.start(writer, {"A", "B"});
            QVERIFY(p.waitForStarted());
            QVERIFY(p.waitForReadyRead(30000));
            QTest::qSleep(QRandomGenerator::global()->bounded(25));
            ::kill(pid_t(p.processId()), SIGKILL);
            p.waitForFinished();
            const QString set = setOf(testing::fileBytes(m_env.settingsFile()));
            if (set == "torn")
                ++torn;
            else if (set == "A" || set == "B")
                ++whole;
        }
        qInfo("kill -9 during saves: %d trials, %d whole files, %d torn", kTrials, whole, torn);
        QCOMPARE(torn, 0);
        QCOMPARE(whole, kTrials);
        // The next save clears what the killed writers left half written.
        platform::SaveSetting(kApp, kSection, "List0", "A");
        QCOMPARE(QDir(m_env.configPath()).entryList(QDir::Files | QDir::Hidden), QStringList{"Quillmark.ini"});
    }

    void twoProgramsSavingAtOnceLeaveOneWholeSet()
    {
        const QString writer = QCoreApplication::applicationDirPath() + "/settings_writer";
        for (int trial = 0; trial < 10; ++trial) {
            QProcess first, second;
            first.start(writer, {"A", "A"});
            second.start(writer, {"B", "B"});
            QVERIFY(first.waitForReadyRead(30000) && second.waitForReadyRead(30000));
            QTest::qSleep(QRandomGenerator::global()->bounded(50));
            ::kill(pid_t(first.processId()), SIGKILL);
            ::kill(pid_t(second.processId()), SIGKILL);
            first.waitForFinished();
            second.waitForFinished();
            const QString set = setOf(testing::fileBytes(m_env.settingsFile()));
            QVERIFY2(set == "A" || set == "B", qPrintable(set));
        }
    }

    void aFullDiskLeavesTheSettingsFileAsItWasAndSaysSo()
    {
        testing::SmallDisk disk(64);
        if (!disk.mounted())
            QSKIP(qPrintable(disk.whyNot()));
        m_env.set(facts::env::kConfigHome, disk.path().toLocal8Bit());
        platform::SettingsValues lists;
        for (int i = 0; i < 15; ++i)
            lists.append({QStringLiteral("List%1").arg(i), QStringLiteral("stored item %1").arg(i)});
        platform::SaveSettings(kApp, kSection, lists);
        const QByteArray before = testing::fileBytes(disk.filePath("Quillmark.ini"));
        QVERIFY(disk.fillLeaving(0));
        for (auto &[key, value] : lists)
            value = value.repeated(10);
        try {
            platform::SaveSettings(kApp, kSection, lists);
            QFAIL("the save reported success on a full disk");
        } catch (const automation::AutomationError &e) {
            QCOMPARE(e.description(), QStringLiteral("Could not write the settings file %1: No space left on device "
                                                     "(the disk is full)")
                                          .arg(disk.filePath("Quillmark.ini")));
        }
        QCOMPARE(testing::fileBytes(disk.filePath("Quillmark.ini")), before);
        QCOMPARE(disk.entries(), QStringList{"Quillmark.ini"});
    }

private:
    testing::TestEnvironment m_env;
};

QTEST_GUILESS_MAIN(TestSettingsFile)
#include "test_settings_file.moc"
