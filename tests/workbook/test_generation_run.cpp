// "Start Creating Template" on the real main window with the built-in spreadsheet
// server: the filled workbook is read back by xlrd and LibreOffice, cell by cell.

#include "app/Form1.h"
#include "preview/Form2.h"
#include "tests/support/HostPath.h"
#include "tests/support/ScriptedDialogs.h"
#include "tests/support/SmallDisk.h"
#include "tests/support/TestEnvironment.h"
#include "platform/facts/Environment.h"
#include "platform/excel/ExcelServer.h"
#include "platform/services/FileSystem.h"

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QListWidget>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>

using shell::Form1;

namespace {
// Runs the workbook checker; "" when it agreed, else what it said. Its verdict comes back
// in a file, so a checker that never ran is not taken for one that agreed: under Wine the
// checker, a Linux program, starts from the Windows test but is not waited for and gives
// no exit status (and reads Unix paths).
QString checkWorkbook(const QString &workbook, const QJsonObject &expected, bool libreOffice, bool *skipped)
{
    QTemporaryDir dir;
    QFile json(dir.filePath("expected.json"));
    json.open(QIODevice::WriteOnly);
    json.write(QJsonDocument(expected).toJson());
    json.close();
    const QString verdict = dir.filePath("verdict.txt");
    QProcess p;
    QStringList args{QStringLiteral(CHECK_FILLED), testing::hostPath(workbook), testing::hostPath(json.fileName()),
                     QStringLiteral("--verdict"), testing::hostPath(verdict)};
    if (libreOffice)
        args << "--libreoffice";
    p.start("/usr/bin/python3", args);
    p.waitForFinished(300000);
    // The verdict file is read below either way; a checker that gave none is reported there.
    (void)QTest::qWaitFor([&verdict] { return QFile::exists(verdict); }, 300000);
    QFile answer(verdict);
    if (!answer.open(QIODevice::ReadOnly))
        return QStringLiteral("the workbook checker gave no verdict (%1): %2").arg(p.errorString(), QString::fromUtf8(p.readAll()));
    const QByteArray text = answer.readAll();
    const int code = text.left(text.indexOf('\n')).toInt();
    *skipped = code == 77;
    return code == 0 || *skipped ? QString() : QString::fromUtf8(text);
}

// Every category's items as the run must write them: number and text at their cells.
QJsonObject expectedCells(const Form1 &w)
{
    QJsonObject cells;
    for (int i = 0; i < 15; ++i) {
        const int start = 3 + 11 * (i / 3), group = i % 3;
        for (int k = 0; k < std::min(w.List1[i]->count(), 20); ++k) {
            const int row = start + k % 10;
            const int numberCol = k < 10 ? 2 * group + 1 : 2 * group + 8;
            cells.insert(QStringLiteral("%1,%2").arg(row).arg(numberCol), k + 1);
            cells.insert(QStringLiteral("%1,%2").arg(row).arg(numberCol + 1), w.List1[i]->item(k)->text());
        }
    }
    return cells;
}

// (location, line) of every report shown, in order.
QList<QPair<QString, int>> reportedSteps(const testing::ScriptedDialogs &dialogs)
{
    static const QRegularExpression where(QStringLiteral("in Larderly2021/08/31\\.(\\S+) at line (\\d+)"));
    QList<QPair<QString, int>> steps;
    for (const QString &text : dialogs.messages()) {
        const auto m = where.match(text);
        if (m.hasMatch())
            steps.append({m.captured(1), m.captured(2).toInt()});
    }
    return steps;
}
} // namespace

class TestGenerationRun : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        m_env.isolate();
        platform::registerFileSystemObject();
        platform::registerExcelApplication("builtin");
    }
    void cleanup() { m_env.restore(); }

    void everyItemLandsAtItsMappedCell()
    {
        testing::ScriptedDialogs dialogs;
        Form1 w;
        QVERIFY(w.Form_Load());
        w.show();
        for (int i = 0; i < 15; ++i)
            for (int k = 0; k < 20; ++k)
                w.List1[i]->addItem(QStringLiteral("Item %1-%2").arg(i).arg(k + 1));
        w.List1[3]->item(0)->setText(QString::fromUtf8("Crème fraîche 🥕"));
        w.List1[14]->item(19)->setText(QStringLiteral("Foil;Wrap \"heavy\", 30 m"));
        w.List1[7]->item(10)->setText(QStringLiteral(" "));

        QTest::mouseClick(w.PushButton1, Qt::LeftButton);

        QCOMPARE(dialogs.messages(), QStringList());
        QVERIFY(!w.mGenerating);
        QVERIFY(!w.isVisible());
        QVERIFY(w.form2().isVisible());
        const QString workbook = w.form2().mExcelFile;
        QVERIFY(QFileInfo(workbook).fileName().contains(QRegularExpression("^wendle[1-9]{8}\\.xls$")));
        QCOMPARE(m_env.runFiles(), QStringList{QFileInfo(workbook).fileName()});
        QCOMPARE(QDir(m_env.tempPath()).entryList(QDir::Files), QStringList());

        bool skipped = false;
        QCOMPARE(checkWorkbook(workbook, expectedCells(w), false, &skipped), QString());
        QCOMPARE(checkWorkbook(workbook, expectedCells(w), true, &skipped), QString());
        if (skipped)
            qWarning("LibreOffice is not installed: its reading of the workbook was not checked");
    }

    void emptyListsGiveTheTemplateWithEmptyBlocks()
    {
        testing::ScriptedDialogs dialogs;
        Form1 w;
        QVERIFY(w.Form_Load());
        w.PushButton1_Click();
        QCOMPARE(dialogs.messages(), QStringList());
        bool skipped = false;
        QCOMPARE(checkWorkbook(w.form2().mExcelFile, {}, false, &skipped), QString());
        // The picture is the whole formatted area, A1:M58.
        const QSize picture = w.form2().viewport().zoomOri()->picture().size();
        QVERIFY2(picture.width() > 900 && picture.height() > 1300, qPrintable(QDebug::toString(picture)));
    }

    void restoredListOfTwentyFiveWritesTwentyAndLeavesTheNextBandIntact()
    {
        testing::ScriptedDialogs dialogs;
        Form1 w;
        QVERIFY(w.Form_Load());
        for (int k = 1; k <= 25; ++k)
            w.List1[4]->addItem(QStringLiteral("Can %1").arg(k));
        w.List1[7]->addItem("Coke");
        w.PushButton1_Click();
        QCOMPARE(dialogs.messages(), QStringList());
        QCOMPARE(w.List1[4]->count(), 25);
        bool skipped = false;
        QCOMPARE(checkWorkbook(w.form2().mExcelFile, expectedCells(w), false, &skipped), QString());
    }

    void aSecondClickDuringARunDoesNothing()
    {
        testing::ScriptedDialogs dialogs;
        Form1 w;
        QVERIFY(w.Form_Load());
        w.show();
        w.List1[0]->addItem("Turkey");
        int nestedClicks = 0;
        // Delivered while the run lets pending messages through (writing the template).
        QTimer::singleShot(0, &w, [&] {
            ++nestedClicks;
            QTest::mouseClick(w.PushButton1, Qt::LeftButton);
        });
        QTest::mouseClick(w.PushButton1, Qt::LeftButton);
        QCOMPARE(nestedClicks, 1);
        QCOMPARE(dialogs.messages(), QStringList());
        QCOMPARE(m_env.runFiles().size(), 1);
        QVERIFY(!w.mGenerating);
    }

    void aTemplateLeftInTheTemporaryFolderIsNeitherUsedNorTouched()
    {
        testing::ScriptedDialogs dialogs;
        QFile leftOver(QDir(m_env.tempPath()).filePath("template.xlt"));
        QVERIFY(leftOver.open(QIODevice::WriteOnly));
        leftOver.write("not a workbook at all");
        leftOver.close();
        Form1 w;
        QVERIFY(w.Form_Load());
        w.List1[2]->addItem("Milk");
        w.PushButton1_Click();
        QCOMPARE(dialogs.messages(), QStringList());
        QVERIFY(leftOver.open(QIODevice::ReadOnly));
        QCOMPARE(leftOver.readAll(), QByteArray("not a workbook at all"));
        bool skipped = false;
        QCOMPARE(checkWorkbook(w.form2().mExcelFile, expectedCells(w), false, &skipped), QString());
    }

    // Another user may write in a shared TEMP (1777): files and links planted there under
    // the names the program uses are neither opened, nor written through, nor removed.
    void filesPlantedInASharedTemporaryFolderAreNeverUsedNorFollowed()
    {
        testing::ScriptedDialogs dialogs;
        if (!testing::runAsRoot())
            QSKIP("a second user is needed: run as root");
        QVERIFY(testing::makeSharedFolder(m_env.tempPath()));
        QTemporaryDir victims;
        const QString victim = victims.filePath("victim.txt");
        const QByteArray precious("a file the other user may not touch");
        QFile v(victim);
        QVERIFY(v.open(QIODevice::WriteOnly) && v.write(precious) == precious.size());
        v.close();
        const QByteArray foreignTemplate("another user's template, with another title");
        const QStringList links{"temp.bmp", "temp.bmp.part", "template.xlt.part", "pantrimo-run-1-x"};
        QVERIFY(testing::asAnotherUser([&] {
            QFile t(m_env.tempPath() + "/template.xlt");
            if (!t.open(QIODevice::WriteOnly) || t.write(foreignTemplate) != foreignTemplate.size())
                return false;
            for (const QString &name : links)
                if (!QFile::link(victim, m_env.tempPath() + '/' + name))
                    return false;
            return true;
        }));
        Form1 w;
        QVERIFY(w.Form_Load());
        w.List1[0]->addItem("Turkey");
        w.PushButton1_Click();
        QCOMPARE(dialogs.messages(), QStringList());
        QCOMPARE(testing::fileBytes(victim), precious);
        QCOMPARE(testing::fileBytes(m_env.tempPath() + "/template.xlt"), foreignTemplate);
        for (const QString &name : links)
            QVERIFY(QFileInfo(m_env.tempPath() + '/' + name).isSymLink());
        bool skipped = false;
        QCOMPARE(checkWorkbook(w.form2().mExcelFile, expectedCells(w), false, &skipped), QString());
        w.form2().PushButton8_Click();
        QCOMPARE(m_env.runFiles(), QStringList());
    }

    void aMissingTemporaryFolderGivesEachDistinctReportOnce()
    {
        testing::ScriptedDialogs dialogs;
        m_env.set(facts::env::kTemp, QByteArray("/nonexistent/pantrimo-temp"));
        Form1 w;
        QVERIFY(w.Form_Load());
        for (int i = 0; i < 15; ++i)
            for (int k = 0; k < 20; ++k)
                w.List1[i]->addItem(QStringLiteral("Item %1-%2").arg(i).arg(k + 1));
        w.PushButton1_Click();
        const QStringList shown = dialogs.messages();
        qInfo("a missing TEMP and a full list: %d reports", int(shown.size()));
        QCOMPARE(QSet<QString>(shown.begin(), shown.end()).size(), shown.size());
        // What follows from the missing folder (no template to open, no workbook to fill,
        // save or capture) is counted, not shown.
        QVERIFY2(shown.size() <= 3, qPrintable(shown.join("\n---\n")));
        QVERIFY(shown[0].startsWith("Could not make a folder for the run's files in /nonexistent/pantrimo-temp: "
                                    "No such file or directory"));
        QVERIFY(!w.mGenerating);
    }

    void aFullTemporaryFolderIsNamedAsFullAndLeavesNoPartialFiles()
    {
        testing::SmallDisk disk(128);
        if (!disk.mounted())
            QSKIP(qPrintable(disk.whyNot()));
        testing::ScriptedDialogs dialogs;
        m_env.set(facts::env::kTemp, disk.path().toLocal8Bit());
        Form1 w;
        QVERIFY(w.Form_Load());
        w.List1[0]->addItem("Turkey");
        w.PushButton1_Click();
        const QString shown = dialogs.messages().join('|');
        QVERIFY2(shown.contains(QRegularExpression("Could not write the picture \\S+temp\\.bmp: No space left on device")),
                 qPrintable(shown));
        QVERIFY(!shown.contains("Unknown error"));
        w.form2().PushButton8_Click();
        QCOMPARE(disk.entries(), QStringList());
    }

    // Each attempt to start the server fails and is shown; the steps that would have used
    // what it never made ("Object variable not set") are counted, not shown.
    void withoutAServerEachAttemptIsReportedAndTheRunStillEnds()
    {
        testing::ScriptedDialogs dialogs;
        Form1 w;
        QVERIFY(w.Form_Load());
        w.show();
        w.List1[0]->addItem("Turkey");
        platform::registerExcelApplication("none");
        w.PushButton1_Click();
        const QString run = QStringLiteral("Form1.PushButton1_Click");
        const QList<QPair<QString, int>> expected{{run, 110}, {run, 268}, {run, 280}, {run, 296}};
        QCOMPARE(reportedSteps(dialogs), expected);
        QVERIFY(dialogs.messages().at(0).startsWith("ActiveX component can't create object"));
        QVERIFY(!w.mGenerating);
        QVERIFY(!w.isVisible());
        QVERIFY(w.form2().isVisible());
        QCOMPARE(QDir(m_env.tempPath()).entryList(QDir::Files), QStringList());
    }

private:
    testing::TestEnvironment m_env;
};

QTEST_MAIN(TestGenerationRun)
#include "test_generation_run.moc"
