// The LibreOffice server through its late-bound members, called the way the program calls
// them; its kept writes; the one office the program's instances share, its kept profile, and
// what happens to it when an instance quits, the office crashes or hangs, or the program is
// abandoned.

#include "tests/support/SmallDisk.h"
#include "platform/excel/libreoffice/LibreOfficeExcel.h"
#include "platform/excel/libreoffice/OfficeProfile.h"
#include "platform/excel/builtin/BuiltinExcel.h"

#include <QClipboard>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <thread>

using namespace automation;

namespace {

const QString kSourceTemplate = QStringLiteral(PANTRIMO_TEMPLATE_XLS);
// Generous: two cores shared with other builds; what matters is that it is bounded at all.
constexpr qint64 kBoundMs = 30000;

ObjectRef obj(const Variant &v) { return requireObject(v); }
ObjectRef cells(const ObjectRef &sheet, int r, int c) { return obj(sheet->call(u"Cells", {int16_t(r), int16_t(c)})); }
ObjectRef activeSheet(const ObjectRef &app) { return obj(obj(obj(app->get(u"Workbooks"))->call(u"Item", {1}))->get(u"ActiveSheet")); }

QString raised(const std::function<void()> &f)
{
    try {
        f();
    } catch (const AutomationError &e) {
        return e.description();
    }
    return QString();
}

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

// Whether another program could take the kept profile now.
bool keptProfileIsFree()
{
    const int fd = ::open(QFile::encodeName(lo::keptProfilePath() + ".lock").constData(), O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return true;
    const bool free = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    ::close(fd);
    return free;
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

// Last row and column of the used range, as the capture asks for them.
QPair<int, int> usedEnd(const ObjectRef &sheet)
{
    const auto last = [&](QStringView lines, QStringView number) {
        ObjectRef part = obj(obj(sheet->get(u"UsedRange"))->get(lines));
        return obj(part->call(u"Item", {part->get(u"Count")}))->get(number).toInt32();
    };
    return {last(u"Rows", u"Row"), last(u"Columns", u"Column")};
}

} // namespace

class TestLibreOfficeExcel : public QObject {
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
        qputenv("XDG_CACHE_HOME", m_cache.path().toLocal8Bit());
        qputenv("TMPDIR", m_tmp.path().toLocal8Bit());
        kTemplate = m_dir.filePath("template.xls");
        QVERIFY(QFile::copy(kSourceTemplate, kTemplate));
        m_app = createLibreOfficeExcelApplication();
        QVERIFY(lo::officeProcessId(m_app) > 0);
        obj(m_app->get(u"Workbooks"))->call(u"Open", {kTemplate});
    }

    void cleanupTestCase()
    {
        if (m_app && lo::officeProcessId(m_app) > 0)
            m_app->call(u"Quit");
        m_app.reset();
        lo::endOffice(); // before the cache folder goes
    }

    void applicationMembers()
    {
        QCOMPARE(m_app->get(u"Version").toString(), QStringLiteral("16.0"));
        QCOMPARE(m_app->get(u"DisplayAlerts"), Variant::fromBool(true));
        m_app->put(u"DisplayAlerts", Variant::fromBool(false));
        QCOMPARE(m_app->get(u"displayalerts"), Variant::fromBool(false));
        ObjectRef books = obj(m_app->get(u"Workbooks"));
        QCOMPARE(books->get(u"count").toInt32(), 1);
        QCOMPARE(obj(obj(books->call(u"", {1}))->get(u"ActiveSheet"))->get(u"Name").toString(), QStringLiteral("Grocery List"));
        QVERIFY(raised([&] { books->call(u"Item", {2}); }).contains("subscript out of range"));
        QVERIFY(raised([&] { books->call(u"Open", {m_dir.filePath("missing.xls")}); }).contains("could not be found"));
        // A lock file would outlive a killed office and make the next one refuse the workbook.
        QCOMPARE(QDir(m_dir.path()).entryList({".~lock*"}, QDir::Files | QDir::Hidden), QStringList());
    }

    void cellValueRoundTrip_data()
    {
        QTest::addColumn<Variant>("written");
        QTest::addColumn<Variant>("read");
        QTest::newRow("whole number") << Variant(int16_t(11)) << Variant(11.0);
        QTest::newRow("fraction") << Variant(-2.5) << Variant(-2.5);
        QTest::newRow("accented text and emoji") << Variant(QString::fromUtf8("Crème fraîche 🥕")) << Variant(QString::fromUtf8("Crème fraîche 🥕"));
        QTest::newRow("text that looks like a formula") << Variant("=1+1") << Variant("=1+1");
        QTest::newRow("text that looks like a number") << Variant("12") << Variant("12");
        QTest::newRow("empty clears") << Variant() << Variant();
    }

    // Written, saved as Excel 97-2003 in both format codes, reopened in the same office.
    void cellValueRoundTrip()
    {
        QFETCH(Variant, written);
        QFETCH(Variant, read);
        ObjectRef sheet = activeSheet(m_app);
        cells(sheet, 5, 2)->put(u"Value", "placeholder");
        cells(sheet, 5, 2)->put(u"Value", written);
        QCOMPARE(cells(sheet, 5, 2)->get(u"Value"), read);

        for (const int32_t format : {56, -4143}) {
            const QString path = m_dir.filePath(QStringLiteral("%1_%2.xls").arg(QTest::currentDataTag()).arg(format).replace(' ', '_'));
            obj(obj(m_app->get(u"Workbooks"))->call(u"Item", {1}))->call(u"SaveAs", {path}, {{QStringLiteral("FileFormat"), format}});
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadOnly));
            QVERIFY(file.read(8).startsWith("\xD0\xCF\x11\xE0")); // a compound file, not the template's text
            ObjectRef books = obj(m_app->get(u"Workbooks"));
            ObjectRef reopened = obj(books->call(u"Open", {path}));
            QCOMPARE(books->get(u"Count").toInt32(), 2);
            QCOMPARE(cells(obj(reopened->get(u"ActiveSheet")), 5, 2)->get(u"Value"), read);
            reopened->call(u"Close");
            QCOMPARE(books->get(u"Count").toInt32(), 1);
            QVERIFY(raised([&] { reopened->get(u"ActiveSheet"); }).contains("has been closed"));
        }
    }

    void badArgumentsAreAutomationErrors_data()
    {
        QTest::addColumn<QString>("member");
        QTest::addColumn<QString>("expected");
        QTest::newRow("row 0") << "cells0" << "outside the sheet";
        QTest::newRow("column 257") << "cells257" << "outside the sheet";
        QTest::newRow("format 51") << "format51" << "not supported";
        QTest::newRow("infinite number") << "inf" << "not a number";
        QTest::newRow("unknown member") << "unknown" << "doesn't support";
    }

    void badArgumentsAreAutomationErrors()
    {
        QFETCH(QString, member);
        QFETCH(QString, expected);
        ObjectRef sheet = activeSheet(m_app);
        ObjectRef book = obj(obj(m_app->get(u"Workbooks"))->call(u"Item", {1}));
        const QHash<QString, std::function<void()>> calls{
            {"cells0", [&] { cells(sheet, 0, 1); }},
            {"cells257", [&] { cells(sheet, 1, 257); }},
            {"format51", [&] { book->call(u"SaveAs", {m_dir.filePath("x.xlsx")}, {{QStringLiteral("FileFormat"), 51}}); }},
            {"inf", [&] { cells(sheet, 1, 1)->put(u"Value", std::numeric_limits<double>::infinity()); }},
            {"unknown", [&] { sheet->get(u"Shapes"); }},
        };
        const QString description = raised(calls.value(member));
        QVERIFY2(description.contains(expected), qPrintable(description));
    }

    // The capture depends on the used range; it must agree with the built-in server's.
    void usedRangeEndsWhereTheBuiltinServersDoes()
    {
        ObjectRef builtin = createBuiltinExcelApplication();
        ObjectRef builtinBook = obj(obj(builtin->get(u"Workbooks"))->call(u"Open", {kTemplate}));
        ObjectRef books = obj(m_app->get(u"Workbooks"));
        ObjectRef fresh = obj(books->call(u"Open", {kTemplate}));
        QCOMPARE(usedEnd(obj(fresh->get(u"ActiveSheet"))), usedEnd(obj(builtinBook->get(u"ActiveSheet"))));
        ObjectRef rows = obj(obj(obj(fresh->get(u"ActiveSheet"))->get(u"UsedRange"))->get(u"Rows"));
        QCOMPARE(obj(rows->call(u"", {1}))->get(u"Row").toInt32(), 1);
        fresh->call(u"Close");
        builtin->call(u"Quit");
    }

    void copyPicturePutsTheRangeOnTheClipboard()
    {
        QGuiApplication::clipboard()->clear();
        ObjectRef sheet = activeSheet(m_app);
        obj(sheet->get(u"UsedRange"))->call(u"CopyPicture");
        const QImage whole = QGuiApplication::clipboard()->image();
        QVERIFY(!whole.isNull());
        cells(sheet, 1, 1)->call(u"CopyPicture");
        const QImage one = QGuiApplication::clipboard()->image();
        QVERIFY(!one.isNull());
        // A1:M58 against A1 alone.
        QVERIFY2(whole.width() > 4 * one.width() && whole.height() > 20 * one.height(),
                 qPrintable(QStringLiteral("%1x%2 vs %3x%4").arg(whole.width()).arg(whole.height()).arg(one.width()).arg(one.height())));
    }

    // Writes are kept and sent in blocks; whatever reads sees every earlier write, and a cell
    // between two written ones keeps what it held.
    void keptWritesArriveBeforeAnythingReads()
    {
        ObjectRef books = obj(m_app->get(u"Workbooks"));
        ObjectRef book = obj(books->call(u"Open", {kTemplate}));
        ObjectRef sheet = obj(book->get(u"ActiveSheet"));
        // Row 2 holds captions in B2 and D2; A2, C2 and E2 around them are written.
        cells(sheet, 2, 1)->put(u"Value", 1);
        cells(sheet, 2, 3)->put(u"Value", "c2");
        cells(sheet, 2, 5)->put(u"Value", -2.5);
        for (int c = 1; c <= 5; ++c)
            cells(sheet, 3, c)->put(u"Value", QStringLiteral("r3c%1").arg(c));
        for (int c = 1; c <= 3; ++c)
            cells(sheet, 4, c)->put(u"Value", int16_t(40 + c));
        cells(sheet, 4, 2)->put(u"Value", "later wins");
        cells(sheet, 5, 2)->put(u"Value", Variant::fromBool(true));
        cells(sheet, 5, 3)->put(u"Value", "0042");
        cells(sheet, 3, 4)->put(u"Value", Variant());
        QCOMPARE(cells(sheet, 2, 2)->get(u"Value"), Variant("Meat/Seafood"));
        QCOMPARE(cells(sheet, 2, 4)->get(u"Value"), Variant("Produce"));
        QCOMPARE(cells(sheet, 2, 1)->get(u"Value"), Variant(1.0));
        QCOMPARE(cells(sheet, 2, 3)->get(u"Value"), Variant("c2"));
        QCOMPARE(cells(sheet, 2, 5)->get(u"Value"), Variant(-2.5));
        QCOMPARE(cells(sheet, 3, 5)->get(u"Value"), Variant("r3c5"));
        QCOMPARE(cells(sheet, 3, 4)->get(u"Value"), Variant());
        QCOMPARE(cells(sheet, 4, 1)->get(u"Value"), Variant(41.0));
        QCOMPARE(cells(sheet, 4, 2)->get(u"Value"), Variant("later wins"));
        QCOMPARE(cells(sheet, 5, 2)->get(u"Value"), Variant(1.0)); // a logical value reads as its number here
        QCOMPARE(cells(sheet, 5, 3)->get(u"Value"), Variant("0042"));
        // Kept writes reach the file and the used range too.
        cells(sheet, 70, 20)->put(u"Value", "far");
        QCOMPARE(usedEnd(sheet), qMakePair(70, 20));
        const QString saved = m_dir.filePath("kept_writes.xls");
        cells(sheet, 6, 2)->put(u"Value", "saved");
        book->call(u"SaveAs", {saved}, {{QStringLiteral("FileFormat"), 56}});
        book->call(u"Close");
        ObjectRef reopened = obj(books->call(u"Open", {saved}));
        QCOMPARE(cells(obj(reopened->get(u"ActiveSheet")), 6, 2)->get(u"Value"), Variant("saved"));
        reopened->call(u"Close");
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
        const pid_t pid = lo::officeProcessId(app);
        QCOMPARE(pid, lo::officeProcessId(m_app));
        ObjectRef book = obj(obj(app->get(u"Workbooks"))->call(u"Open", {kTemplate}));
        ObjectRef sheet = obj(book->get(u"ActiveSheet"));
        cells(sheet, 1, 1)->put(u"Value", "dropped with the session");
        QCOMPARE(obj(app->get(u"Workbooks"))->get(u"Count").toInt32(), 1);
        QCOMPARE(books->get(u"Count").toInt32(), before);
        app->put(u"DisplayAlerts", Variant::fromBool(false));
        app->call(u"Quit");
        QVERIFY(processAlive(pid));
        QCOMPARE(lo::officeProcessId(app), pid_t(0));
        QCOMPARE(books->get(u"Count").toInt32(), before);
        QVERIFY(raised([&] { cells(sheet, 1, 1)->get(u"Value"); }).contains("has quit"));
        QVERIFY(raised([&] { app->get(u"Workbooks"); }).contains("has quit"));
        QVERIFY(raised([&] { app->call(u"Quit"); }).contains("has quit"));

        // Released without Quit, as the start-up test does: the office stays too.
        createLibreOfficeExcelApplication().reset();
        QVERIFY(processAlive(pid));
        QCOMPARE(lo::officeProcessId(createLibreOfficeExcelApplication()), pid);
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
        const pid_t pid = lo::officeProcessId(app);
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
        QVERIFY(lo::officeProcessId(next) > 0 && lo::officeProcessId(next) != pid);
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
        printf("%d %d\n", int(lo::officeProcessId(office)), int(::getpid()));
        fflush(stdout);
        ::_exit(0); // no destructors, no Quit
    }
    if (argc == 2 && qstrcmp(argv[1], "--print-profile") == 0) {
        ObjectRef office = createLibreOfficeExcelApplication();
        printf("%s\n", qPrintable(lo::runningOfficeProfile()));
        return 0;
    }
    TestLibreOfficeExcel test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_libreoffice_excel.moc"
