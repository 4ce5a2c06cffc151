// What only the LibreOffice server does, beyond what every server answers (test_excel_contract):
// the one office the program's instances share, its kept profile, what happens to it when an
// instance quits, the office crashes or hangs, or the program is abandoned; and a kept write
// the office refuses.

#include "platform/excel/ExcelApplication.h"
#include "platform/excel/libreoffice/OfficeProfile.h"
#include "platform/facts/Environment.h"
#include "tests/excel/AutomationCalls.h"
#include "tests/libreoffice/KeptProfile.h"
#include "tests/support/SmallDisk.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QScopeGuard>
#include <QCryptographicHash>
#include <QUrl>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <thread>

using namespace automation;
using testing::keptProfileIsFree;
using testing::cells;
using testing::obj;
using testing::raised;

namespace {

const QString kSourceTemplate = QStringLiteral(PANTRIMO_TEMPLATE_XLS);
// Generous: two cores shared with other builds; what matters is that it is bounded at all.
constexpr qint64 kBoundMs = 30000;

ObjectRef activeSheet(const ObjectRef &app) { return obj(obj(obj(app->get(u"Workbooks"))->call(u"Item", {1}))->get(u"ActiveSheet")); }


// The pipes this test process's offices listen on, left in /tmp.
QStringList ourPipes()
{
    return QDir(QStringLiteral("/tmp")).entryList({QStringLiteral("OSL_PIPE_*_pantrimo_lo_%1_*").arg(::getpid())}, QDir::System);
}

bool processAlive(pid_t pid) { return pid > 0 && ::kill(pid, 0) == 0; }

bool waitUntilGone(pid_t pid, qint64 ms)
{
    QElapsedTimer t;
    t.start();
    while (processAlive(pid) && t.elapsed() < ms)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return !processAlive(pid);
}

mode_t modeOf(const QString &path)
{
    struct stat st {};
    return ::lstat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_mode & 0777 : 0;
}

// Runs this test program again with one argument and returns what it printed.
QByteArray runChild(const char *argument)
{
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), {QString::fromLatin1(argument)});
    if (!child.waitForFinished(int(kBoundMs) * 2))
        return {};
    return child.readAllStandardOutput().trimmed();
}

} // namespace

class TestLibreOfficeBackend : public QObject {
    Q_OBJECT

    ObjectRef m_app; // one instance for the member cases
    QTemporaryDir m_dir;
    QTemporaryDir m_cache; // the suite's XDG_CACHE_HOME: the kept profile is made once
    // The suite's own temporary folder: other programs sweeping a shared /tmp at the same time
    // must not take what these cases plant and check there.
    QTemporaryDir m_tmp;
    QString kTemplate; // a copy: an office never opens the source tree's file in place

private slots:
    void initTestCase()
    {
        if (lo::findOfficeBinary(QString()).isEmpty())
            QSKIP("LibreOffice is not installed (no soffice.bin): the LibreOffice server is not tested");
        qputenv(facts::env::kCacheHome, m_cache.path().toLocal8Bit());
        qputenv("TMPDIR", m_tmp.path().toLocal8Bit());
        kTemplate = m_dir.filePath("template.xls");
        QVERIFY(QFile::copy(kSourceTemplate, kTemplate));
        m_app = createLibreOfficeExcelApplication();
        QVERIFY(excel::processId(m_app) > 0);
        obj(m_app->get(u"Workbooks"))->call(u"Open", {kTemplate});
    }

    void cleanupTestCase()
    {
        if (m_app && excel::processId(m_app) > 0)
            m_app->call(u"Quit");
        m_app.reset();
        lo::endOffice(); // before the cache folder goes
    }

    // A write the office refuses (a protected sheet) fails the member that sent it, naming
    // the cell; it is not sent again.
    void aRefusedWriteIsReportedWhereItIsSentNamingTheCell()
    {
        const QString locked = m_dir.filePath("protected.xls");
        QProcess python;
        python.start("/usr/bin/python3", {"-c", "import sys, xlwt\nb = xlwt.Workbook()\ns = b.add_sheet('Locked')\n"
                                                "s.write(0, 0, 'kept')\ns.protect = True\nb.save(sys.argv[1])\n", locked});
        if (!python.waitForFinished(60000) || python.exitCode() != 0)
            QSKIP("python3-xlwt is not installed: no protected workbook to write to");
        ObjectRef books = obj(m_app->get(u"Workbooks"));
        ObjectRef book = obj(books->call(u"Open", {locked}));
        ObjectRef sheet = obj(book->get(u"ActiveSheet"));
        cells(sheet, 3, 2)->put(u"Value", "refused"); // kept: no error yet
        const QString description = raised([&] { cells(sheet, 1, 1)->get(u"Value"); });
        QVERIFY2(description.startsWith("Range.Value: ") && description.contains("B3") && description.contains("\"refused\""),
                 qPrintable(description));
        QCOMPARE(cells(sheet, 1, 1)->get(u"Value"), Variant("kept"));
        book->call(u"Close");
    }

    // Each instance is a session on the one office: its Quit closes its own workbooks only,
    // and the office stays warm for the next.
    void quitEndsTheSessionNotTheOffice()
    {
        ObjectRef books = obj(m_app->get(u"Workbooks"));
        const int before = books->get(u"Count").toInt32();
        ObjectRef app = createLibreOfficeExcelApplication();
        const pid_t pid = excel::processId(app);
        QCOMPARE(pid, excel::processId(m_app));
        ObjectRef book = obj(obj(app->get(u"Workbooks"))->call(u"Open", {kTemplate}));
        ObjectRef sheet = obj(book->get(u"ActiveSheet"));
        cells(sheet, 1, 1)->put(u"Value", "dropped with the session");
        QCOMPARE(obj(app->get(u"Workbooks"))->get(u"Count").toInt32(), 1);
        QCOMPARE(books->get(u"Count").toInt32(), before);
        app->put(u"DisplayAlerts", Variant::fromBool(false));
        app->call(u"Quit");
        QVERIFY(processAlive(pid));
        QCOMPARE(excel::processId(app), pid_t(0));
        QCOMPARE(books->get(u"Count").toInt32(), before);
        QVERIFY(raised([&] { cells(sheet, 1, 1)->get(u"Value"); }).contains("has quit"));
        QVERIFY(raised([&] { app->get(u"Workbooks"); }).contains("has quit"));
        QVERIFY(raised([&] { app->call(u"Quit"); }).contains("has quit"));

        // Released without Quit, as the start-up test does: the office stays too.
        createLibreOfficeExcelApplication().reset();
        QVERIFY(processAlive(pid));
        QCOMPARE(excel::processId(createLibreOfficeExcelApplication()), pid);
    }

    // The office runs on the kept profile, private to the user, and leaves it free when it ends.
    void theOfficeRunsOnTheKeptProfile()
    {
        const QString kept = lo::keptProfilePath();
        QCOMPARE(kept, QDir(m_cache.path()).filePath("pantrimo/libreoffice-profile"));
        QCOMPARE(lo::runningOfficeProfile(), kept);
        QCOMPARE(modeOf(kept), mode_t(0700));
        QCOMPARE(modeOf(QFileInfo(kept).path()), mode_t(0700));
        QVERIFY(!keptProfileIsFree());
        // Another program meanwhile gets a fresh profile of its own.
        const QByteArray other = runChild("--print-profile");
        QVERIFY2(!other.isEmpty() && !other.startsWith(kept.toLocal8Bit()), other.constData());
        lo::endOffice();
        QVERIFY(keptProfileIsFree());
    }

    // A profile left damaged, stamped by another office, or replaced by a link is not used
    // as it is: the office starts all the same, on a profile made anew.
    void aDamagedOrForeignProfileIsMadeAnew_data()
    {
        QTest::addColumn<QString>("damage");
        QTest::newRow("settings cut short") << "settings";
        QTest::newRow("made by another office") << "stamp";
        QTest::newRow("a link in its place") << "link";
    }

    void aDamagedOrForeignProfileIsMadeAnew()
    {
        QFETCH(QString, damage);
        m_app.reset();
        lo::endOffice();
        const QString kept = lo::keptProfilePath();
        QVERIFY(QFile::exists(kept + "/pantrimo-profile-stamp"));
        QTemporaryDir elsewhere;
        QFile marker(kept + "/user/marker");
        QVERIFY(marker.open(QIODevice::WriteOnly));
        marker.close();
        if (damage == "settings") {
            QFile settings(kept + "/user/registrymodifications.xcu");
            QVERIFY(settings.open(QIODevice::ReadWrite) && settings.resize(settings.size() / 2));
        } else if (damage == "stamp") {
            QFile stamp(kept + "/pantrimo-profile-stamp");
            QVERIFY(stamp.open(QIODevice::Append) && stamp.write("another office\n") > 0);
        } else {
            QVERIFY(QDir().rename(kept, elsewhere.filePath("profile")));
            QVERIFY(QFile::link(elsewhere.filePath("profile"), kept));
        }
        m_app = createLibreOfficeExcelApplication();
        obj(m_app->get(u"Workbooks"))->call(u"Open", {kTemplate});
        QCOMPARE(activeSheet(m_app)->get(u"Name").toString(), QStringLiteral("Grocery List"));
        if (damage == "link") {
            QVERIFY(lo::runningOfficeProfile() != kept);
            QVERIFY(QFile::exists(elsewhere.filePath("profile/user/marker"))); // never entered
            QVERIFY(QFile::remove(kept));
            m_app.reset();
            lo::endOffice();
            m_app = createLibreOfficeExcelApplication();
            obj(m_app->get(u"Workbooks"))->call(u"Open", {kTemplate});
        }
        QCOMPARE(lo::runningOfficeProfile(), kept);
        QVERIFY(!QFile::exists(kept + "/user/marker"));
    }

    // A crashed office (killed) and a hung one (stopped): each call gives an automation error
    // within a bounded time, and the program goes on.
    void aDeadOrHungOfficeGivesAutomationErrors_data()
    {
        QTest::addColumn<int>("signal");
        QTest::addColumn<QString>("expected");
        QTest::newRow("killed") << int(SIGKILL) << "the LibreOffice process has ended";
        QTest::newRow("hung") << int(SIGSTOP) << "did not answer within 2 s";
    }

    void aDeadOrHungOfficeGivesAutomationErrors()
    {
        QFETCH(int, signal);
        QFETCH(QString, expected);
        lo::Options options;
        options.callTimeout = std::chrono::milliseconds(2000);
        ObjectRef app = createLibreOfficeExcelApplication(options);
        const pid_t pid = excel::processId(app);
        ObjectRef sheet = obj(obj(obj(app->get(u"Workbooks"))->call(u"Open", {kTemplate}))->get(u"ActiveSheet"));
        cells(sheet, 3, 2)->put(u"Value", "before");
        QVERIFY(::kill(pid, signal) == 0);

        QElapsedTimer t;
        t.start();
        // A write is kept (it may meet the office only when something reads), so the read reports.
        const QString first = raised([&] {
            cells(sheet, 4, 2)->put(u"Value", "after");
            cells(sheet, 4, 2)->get(u"Value");
        });
        QVERIFY2(first.contains(expected), qPrintable(first));
        QVERIFY(t.elapsed() < kBoundMs);
        // Every later member fails at once.
        const QString later = raised([&] { cells(sheet, 3, 2)->get(u"Value"); });
        QVERIFY2(later.contains("ended"), qPrintable(later));
        QVERIFY(t.elapsed() < kBoundMs);
        QVERIFY(!processAlive(pid));
        QVERIFY(raised([&] { app->call(u"Quit"); }).isEmpty()); // quitting a dead office is not an error
        QCOMPARE(ourPipes(), QStringList()); // the killed office's pipe is removed for it
        QVERIFY(keptProfileIsFree());

        // The next instance starts a new office, on the kept profile again.
        ObjectRef next = createLibreOfficeExcelApplication();
        QVERIFY(excel::processId(next) > 0 && excel::processId(next) != pid);
        QCOMPARE(lo::runningOfficeProfile(), lo::keptProfilePath());
        QCOMPARE(activeSheet([&] {
                     obj(next->get(u"Workbooks"))->call(u"Open", {kTemplate});
                     return next;
                 }())->get(u"Name").toString(),
                 QStringLiteral("Grocery List"));
        next->call(u"Quit");
    }

    void missingLibreOfficeMakesCreationFail()
    {
        lo::Options options;
        options.officeProgram = m_dir.filePath("no-office/soffice");
        const QString description = raised([&] { createLibreOfficeExcelApplication(options); });
        QVERIFY2(description.startsWith(kCannotCreateObject) && description.contains("not installed"), qPrintable(description));
    }

    // A link in the shared temporary folder named like a dead program's office profile,
    // pointing at the user's documents, is never entered by the sweep.
    void theLeftoverSweepNeverFollowsALink()
    {
        QTemporaryDir documents;
        QFile letter(documents.filePath("letter.txt"));
        QVERIFY(letter.open(QIODevice::WriteOnly) && letter.write("dear") == 4);
        letter.close();
        const pid_t ended = testing::endedProcess();
        const QString planted = QDir::temp().filePath(QStringLiteral("pantrimo-office-%1-planted").arg(ended));
        QVERIFY(QFile::link(documents.path(), planted));
        lo::endOffice(); // the sweep runs when an office starts
        createLibreOfficeExcelApplication()->call(u"Quit");
        QVERIFY(QFileInfo(planted).isSymLink());
        QCOMPARE(QDir(documents.path()).entryList(QDir::Files), QStringList{"letter.txt"});
        QFile::remove(planted);
    }

    // An office that never answers is waited for once, up to its deadline: the run's next
    // step that needs it is told at once, not after another deadline.
    void anOfficeThatDoesNotStartIsWaitedForOnce()
    {
        QTemporaryDir program;
        const QString silent = program.filePath("soffice.bin");
        QFile script(silent);
        QVERIFY(script.open(QIODevice::WriteOnly) && script.write("#!/bin/sh\nexec sleep 600\n") > 0);
        script.close();
        QVERIFY(script.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner));
        lo::endOffice();
        // The kept profile is not this pretend office's to make over.
        const QByteArray cacheBefore = qgetenv(facts::env::kCacheHome);
        qputenv(facts::env::kCacheHome, QFile::encodeName(program.path()));
        auto restore = qScopeGuard([&] { qputenv(facts::env::kCacheHome, cacheBefore); });
        lo::Options options;
        options.officeProgram = silent;
        options.startTimeout = std::chrono::milliseconds(1500);
        const QString expected = kCannotCreateObject + QStringLiteral(" (LibreOffice did not start within 1.5 s)");
        QElapsedTimer t;
        t.start();
        QCOMPARE(raised([&] { createLibreOfficeExcelApplication(options); }), expected);
        QVERIFY(t.elapsed() >= 1500);
        t.restart();
        QCOMPARE(raised([&] { createLibreOfficeExcelApplication(options); }), expected);
        QVERIFY2(t.elapsed() < 1000, qPrintable(QString::number(t.elapsed())));
    }

    // Nobody but this user reaches the office, whatever the umask; a pipe another user made
    // first at the kept profile's single-instance name (which anyone can work out) does not
    // keep it from starting; and its own temporary files stay where the sweep finds them.
    void theOfficeIsThisUsersOnly()
    {
        lo::endOffice();
        const QString keptUrl = QUrl::fromLocalFile(QFileInfo(lo::keptProfilePath()).canonicalFilePath()).toString(QUrl::FullyEncoded);
        const QByteArray utf16(reinterpret_cast<const char *>(keptUrl.utf16()), keptUrl.size() * 2);
        QString hash;
        for (const char byte : QCryptographicHash::hash(utf16, QCryptographicHash::Md5))
            hash += QString::number(quint8(byte), 16);
        const QString planted = QStringLiteral("/tmp/OSL_PIPE_%1_SingleOfficeIPC_%2").arg(::getuid()).arg(hash);
        QFile squatter(planted);
        QVERIFY(squatter.open(QIODevice::WriteOnly));
        squatter.close();
        if (::geteuid() == 0)
            QVERIFY(::chown(QFile::encodeName(planted).constData(), 65534, 65534) == 0);
        const mode_t umaskBefore = ::umask(0);
        QElapsedTimer started;
        started.start();
        ObjectRef office;
        const QString failure = raised([&] { office = createLibreOfficeExcelApplication(); });
        ::umask(umaskBefore);
        QFile::remove(planted);
        QVERIFY2(failure.isEmpty(), qPrintable(failure));
        QVERIFY(started.elapsed() < kBoundMs);
        QVERIFY(lo::runningOfficeProfile() != lo::keptProfilePath());
        const QStringList pipes = ourPipes();
        QVERIFY(!pipes.isEmpty());
        for (const QString &pipe : pipes)
            QCOMPARE(modeOf(QStringLiteral("/tmp/") + pipe) & 077, mode_t(0));
        QFile environment(QStringLiteral("/proc/%1/environ").arg(lo::runningOfficeProcess()));
        QVERIFY(environment.open(QIODevice::ReadOnly));
        QByteArray temporary;
        for (const QByteArray &entry : environment.readAll().split('\0'))
            if (entry.startsWith("TMPDIR="))
                temporary = entry;
        QVERIFY2(temporary.startsWith("TMPDIR=" + QFile::encodeName(QDir::temp().filePath("pantrimo-office-"))), temporary.constData());
        office->call(u"Quit");
        lo::endOffice();
    }

    // The program itself ends abruptly, with the office still open: the office goes too.
    void noOfficeOutlivesTheProgram()
    {
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--start-office-and-die")});
        QVERIFY(child.waitForFinished(int(kBoundMs)));
        const QList<QByteArray> pids = child.readAllStandardOutput().trimmed().split(' ');
        QVERIFY2(pids.size() == 2, "the child did not start an office");
        const pid_t office = pid_t(pids[0].toInt());
        const QString owner = QString::fromLatin1(pids[1]);
        QVERIFY(waitUntilGone(office, kBoundMs));

        // What it left in the temporary folders goes when the next office starts.
        const QStringList profiles{QStringLiteral("pantrimo-office-%1-*").arg(owner)};
        // Another program that starts an office meanwhile may have swept it already.
        QVERIFY(QDir::temp().entryList(profiles, QDir::Dirs).size() <= 1);
        lo::endOffice(); // the sweep runs when an office starts
        createLibreOfficeExcelApplication()->call(u"Quit");
        QCOMPARE(QDir::temp().entryList(profiles, QDir::Dirs), QStringList());
        QCOMPARE(QDir("/tmp").entryList({QStringLiteral("OSL_PIPE_*_pantrimo_lo_%1_*").arg(owner)}, QDir::System), QStringList());
    }
};

int main(int argc, char **argv)
{
    QGuiApplication app(argc, argv);
    if (argc == 2 && qstrcmp(argv[1], "--start-office-and-die") == 0) {
        ObjectRef office = createLibreOfficeExcelApplication();
        printf("%d %d\n", int(excel::processId(office)), int(::getpid()));
        fflush(stdout);
        ::_exit(0); // no destructors, no Quit
    }
    if (argc == 2 && qstrcmp(argv[1], "--print-profile") == 0) {
        ObjectRef office = createLibreOfficeExcelApplication();
        printf("%s\n", qPrintable(lo::runningOfficeProfile()));
        return 0;
    }
    TestLibreOfficeBackend test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_libreoffice_backend.moc"
