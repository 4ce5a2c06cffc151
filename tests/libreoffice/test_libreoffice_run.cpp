// "Start Creating Template" on the real main window with PANTRIMO_EXCEL=libreoffice: the
// program above the server is unchanged, so its workbook must equal the built-in server's
// cell for cell (read by xlrd), and its preview must show a picture of the same sheet. An
// office killed in the middle of a run, and two programs at once on one user's cache.

#include "app/Form1.h"
#include "platform/excel/ExcelApplication.h"
#include "platform/excel/ExcelServer.h"
#include "platform/excel/libreoffice/OfficeProfile.h"
#include "platform/facts/Environment.h"
#include "platform/services/FileSystem.h"
#include "preview/Form2.h"
#include "shell/ErrorReport.h"
#include "tests/libreoffice/KeptProfile.h"
#include "tests/support/ScriptedDialogs.h"
#include "tests/support/TestEnvironment.h"

#include <QApplication>
#include <QDir>
#include <QListWidget>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

#include <csignal>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

using shell::Form1;
using testing::keptProfileIsFree;

namespace {

struct RunResult {
    QString workbook; // a copy, outliving the run's temporary folder
    QImage picture;
    QStringList messages;
    QStringList tempFiles;
};

using Fill = std::function<void(Form1 &)>;

const Fill kFullLists = [](Form1 &w) {
    for (int i = 0; i < 15; ++i)
        for (int k = 0; k < 20; ++k)
            w.List1[i]->addItem(QStringLiteral("Item %1-%2").arg(i).arg(k + 1));
};

RunResult generate(const QString &server, const Fill &fill, const QString &keepAs)
{
    // The cache the suite set: the office's kept profile is made once for all cases.
    testing::IsolatedFolders folders(qEnvironmentVariable(facts::env::kCacheHome));
    testing::ScriptedDialogs dialogs;
    platform::registerExcelApplication(server);
    RunResult result;
    Form1 w;
    if (!w.Form_Load())
        return result;
    fill(w);
    w.PushButton1_Click();
    result.messages = dialogs.messages();
    result.tempFiles = folders.runFiles() + QDir(folders.tempPath()).entryList(QDir::Files | QDir::Hidden);
    result.picture = w.form2().viewport().zoomOri()->picture();
    if (QFile::copy(w.form2().mExcelFile, keepAs))
        result.workbook = keepAs;
    return result;
}

QString compareBooks(const QString &a, const QString &b)
{
    QProcess p;
    p.start("/usr/bin/python3", {QStringLiteral(COMPARE_BOOKS), a, b});
    p.waitForFinished(120000);
    if (p.exitCode() == 77)
        return QStringLiteral("(xlrd missing)");
    return p.exitCode() == 0 ? QString() : QString::fromUtf8(p.readAll());
}

bool officeInstalled() { return !lo::findOfficeBinary(QString()).isEmpty(); }

// The offices this program started that still run (their command lines name our pipes).
QList<pid_t> officesOfThisProgram()
{
    QList<pid_t> found;
    const QByteArray mark = QByteArray("pantrimo_lo_") + QByteArray::number(::getpid()) + '_';
    for (const QString &entry : QDir("/proc").entryList(QDir::Dirs)) {
        QFile cmdline("/proc/" + entry + "/cmdline");
        if (entry.toInt() > 0 && cmdline.open(QIODevice::ReadOnly) && cmdline.readAll().contains(mark))
            found.append(pid_t(entry.toInt()));
    }
    return found;
}

// A whole program in a child process: load, fill every list, generate, keep the workbook.
int generateInChild(const QString &keepAs)
{
    platform::registerFileSystemObject();
    const RunResult run = generate("libreoffice", kFullLists, keepAs);
    printf("%s\n", qPrintable(run.messages.join(" | ")));
    return run.messages.isEmpty() && !run.workbook.isEmpty() ? 0 : 1;
}

} // namespace

class TestLibreOfficeRun : public QObject {
    Q_OBJECT
    QTemporaryDir m_keep;
    QTemporaryDir m_cache;

private slots:
    void initTestCase() { qputenv(facts::env::kCacheHome, m_cache.path().toLocal8Bit()); }
    void cleanupTestCase() { lo::endOffice(); }

    void init()
    {
        platform::registerFileSystemObject();
        qunsetenv(facts::env::kSoffice);
    }
    void cleanup()
    {
        qunsetenv(facts::env::kSoffice);
        shell::setStepProbe({});
    }

    void sameWorkbookAndPictureAsTheBuiltinServer_data()
    {
        QTest::addColumn<Fill>("fill");
        QTest::newRow("all lists empty") << Fill([](Form1 &) {});
        QTest::newRow("eleventh item goes right") << Fill([](Form1 &w) {
            for (int k = 1; k <= 11; ++k)
                w.List1[5]->addItem(QStringLiteral("Peas %1").arg(k));
        });
        QTest::newRow("every list full, awkward texts") << Fill([](Form1 &w) {
            kFullLists(w);
            w.List1[3]->item(0)->setText(QString::fromUtf8("Crème fraîche 🥕"));
            w.List1[14]->item(19)->setText(QStringLiteral("Foil;Wrap \"heavy\", 30 m"));
            w.List1[7]->item(10)->setText(QStringLiteral(" "));
            w.List1[8]->item(2)->setText(QStringLiteral("=SUM(A1:A3)"));
            w.List1[9]->item(4)->setText(QStringLiteral("0042"));
        });
    }

    void sameWorkbookAndPictureAsTheBuiltinServer()
    {
        if (!officeInstalled())
            QSKIP("LibreOffice is not installed (no soffice.bin): the run through it is not tested");
        QFETCH(Fill, fill);
        const QString tag = QString::fromLatin1(QTest::currentDataTag()).replace(' ', '_');
        const RunResult builtin = generate("builtin", fill, m_keep.filePath(tag + "_builtin.xls"));
        const RunResult office = generate("libreoffice", fill, m_keep.filePath(tag + "_libreoffice.xls"));

        QCOMPARE(office.messages, QStringList());
        QVERIFY(!office.workbook.isEmpty());
        QVERIFY(!builtin.workbook.isEmpty());
        // Only the workbook is left: no template, picture or office lock file.
        QCOMPARE(office.tempFiles.size(), 1);
        QVERIFY(office.tempFiles[0].contains(QRegularExpression("^wendle[1-9]{8}\\.xls$")));
        const QString differences = compareBooks(builtin.workbook, office.workbook);
        if (differences == QLatin1String("(xlrd missing)"))
            QSKIP("python3-xlrd is not installed: the workbooks were not compared");
        QVERIFY2(differences.isEmpty(), qPrintable(differences));

        // The same sheet, drawn by another renderer: the whole used range, in the same shape.
        QVERIFY(!office.picture.isNull());
        const double officeShape = double(office.picture.height()) / office.picture.width();
        const double builtinShape = double(builtin.picture.height()) / builtin.picture.width();
        QVERIFY2(std::abs(officeShape / builtinShape - 1.0) < 0.2,
                 qPrintable(QStringLiteral("%1x%2 against %3x%4")
                                .arg(office.picture.width())
                                .arg(office.picture.height())
                                .arg(builtin.picture.width())
                                .arg(builtin.picture.height())));
    }

    // The office killed while the run fills the sheet (its writes kept, not yet sent) or
    // while it captures: the step that meets the dead office reports it, nothing of it is
    // left running or holding the profile, and the next run works on the kept profile.
    void anOfficeKilledMidRunIsReportedAndTheNextRunWorks_data()
    {
        QTest::addColumn<QString>("procedure");
        QTest::addColumn<int>("killBefore");
        QTest::addColumn<int>("reportedAt");
        QTest::newRow("while filling") << "Form1.PushButton1_Click" << 250 << 268;
        QTest::newRow("while capturing") << "Excel1.saveCellsActivesheet" << 102 << 102;
    }

    void anOfficeKilledMidRunIsReportedAndTheNextRunWorks()
    {
        if (!officeInstalled())
            QSKIP("LibreOffice is not installed (no soffice.bin): the run through it is not tested");
        QFETCH(QString, procedure);
        QFETCH(int, killBefore);
        QFETCH(int, reportedAt);
        testing::IsolatedFolders folders(m_cache.path());
        testing::ScriptedDialogs dialogs;
        platform::registerExcelApplication("libreoffice");
        pid_t killed = 0;
        shell::setStepProbe([&](const QString &proc, int line) {
            if (killed == 0 && proc == procedure && line == killBefore) {
                killed = excel::processId(createLibreOfficeExcelApplication());
                ::kill(killed, SIGKILL);
            }
        });
        {
            Form1 w;
            QVERIFY(w.Form_Load());
            kFullLists(w);
            w.PushButton1_Click();
        }
        shell::setStepProbe({});
        QVERIFY(killed > 0);
        QVERIFY(!dialogs.messages().isEmpty());
        const QString first = dialogs.messages().first();
        QVERIFY2(first.contains(QStringLiteral("at line %1").arg(reportedAt)) && first.contains("LibreOffice process has ended"),
                 qPrintable(first));
        QVERIFY(::kill(killed, 0) != 0);
        // A later step may have started a new office (the capture's instance): only that one runs.
        QVERIFY(officesOfThisProgram().size() <= 1);
        QVERIFY(officesOfThisProgram().isEmpty() == keptProfileIsFree());

        dialogs.asked.clear();
        {
            Form1 w;
            QVERIFY(w.Form_Load());
            kFullLists(w);
            w.PushButton1_Click();
            QVERIFY(QFile::exists(w.form2().mExcelFile));
        }
        QCOMPARE(dialogs.messages(), QStringList());
        QCOMPARE(lo::runningOfficeProfile(), lo::keptProfilePath());
    }

    // Two programs started at once on one user's cache: one runs on the kept profile, the
    // other on a fresh one of its own; both make the right workbook.
    void twoProgramsAtOnceBothFinish()
    {
        if (!officeInstalled())
            QSKIP("LibreOffice is not installed (no soffice.bin): the run through it is not tested");
        const RunResult builtin = generate("builtin", kFullLists, m_keep.filePath("two_builtin.xls"));
        QVERIFY(!builtin.workbook.isEmpty());
        lo::endOffice(); // the kept profile is free for the two to contend for
        QProcess first, second;
        for (QProcess *p : {&first, &second})
            p->start(QCoreApplication::applicationFilePath(),
                     {QStringLiteral("--generate"), m_keep.filePath(QStringLiteral("two_%1.xls").arg(p == &first ? 1 : 2))});
        for (QProcess *p : {&first, &second}) {
            QVERIFY(p->waitForFinished(300000));
            QVERIFY2(p->exitStatus() == QProcess::NormalExit && p->exitCode() == 0,
                     qPrintable(QString::fromUtf8(p->readAllStandardOutput() + p->readAllStandardError())));
        }
        for (int i : {1, 2}) {
            const QString differences = compareBooks(builtin.workbook, m_keep.filePath(QStringLiteral("two_%1.xls").arg(i)));
            if (differences == QLatin1String("(xlrd missing)"))
                QSKIP("python3-xlrd is not installed: the workbooks were not compared");
            QVERIFY2(differences.isEmpty(), qPrintable(differences));
        }
        QVERIFY(keptProfileIsFree());
    }

    void startUpTestWithoutLibreOfficeShowsTheFiveParagraphs()
    {
        testing::IsolatedFolders folders;
        testing::ScriptedDialogs dialogs;
        qputenv(facts::env::kSoffice, QDir(folders.tempPath()).filePath("not-installed/soffice").toLocal8Bit());
        platform::registerExcelApplication("libreoffice");
        Form1 w;
        QVERIFY(!w.Form_Load());
        QCOMPARE(dialogs.asked.size(), size_t(1));
        const QStringList paragraphs = dialogs.asked[0].text.split("\r\n\r\n");
        QCOMPARE(paragraphs.size(), 5);
        QCOMPARE(paragraphs[0], QStringLiteral("Error 842001. A normal instance of Excel could not be created."));
    }
};

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    if (argc == 3 && qstrcmp(argv[1], "--generate") == 0)
        return generateInChild(QString::fromLocal8Bit(argv[2]));
    TestLibreOfficeRun test;
    return QTest::qExec(&test, argc, argv);
}
#include "test_libreoffice_run.moc"
