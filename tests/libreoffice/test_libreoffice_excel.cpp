// The LibreOffice server through its late-bound members, called the way the program calls
// them, and what happens to its office process when it quits, crashes, hangs or is abandoned.

#include "SmallDisk.h"
#include "libreoffice/LibreOfficeExcel.h"
#include "excel/BuiltinExcel.h"

#include <QClipboard>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QGuiApplication>
#include <QProcess>
#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <thread>
#include <unistd.h>

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

    ObjectRef m_app; // one office for the member cases: each start costs about a second
    QTemporaryDir m_dir;
    QString kTemplate; // a copy: an office never opens the source tree's file in place

private slots:
    void initTestCase()
    {
        if (lo::findOfficeBinary(QString()).isEmpty())
            QSKIP("LibreOffice is not installed (no soffice.bin): the LibreOffice server is not tested");
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

    void quitEndsTheOfficeAndEveryObject()
    {
        const QStringList pipesBefore = ourPipes();
        ObjectRef app = createLibreOfficeExcelApplication();
        const pid_t pid = lo::officeProcessId(app);
        ObjectRef book = obj(obj(app->get(u"Workbooks"))->call(u"Open", {kTemplate}));
        ObjectRef sheet = obj(book->get(u"ActiveSheet"));
        app->put(u"DisplayAlerts", Variant::fromBool(false));
        app->call(u"Quit");
        QVERIFY(!processAlive(pid)); // collected by Quit, not left for later
        QCOMPARE(ourPipes(), pipesBefore);
        QCOMPARE(lo::officeProcessId(app), pid_t(0));
        QVERIFY(raised([&] { cells(sheet, 1, 1)->get(u"Value"); }).contains("has quit"));
        QVERIFY(raised([&] { app->get(u"Workbooks"); }).contains("has quit"));
        QVERIFY(raised([&] { app->call(u"Quit"); }).contains("has quit"));
    }

    void releasedWithoutQuitEndsTheOffice()
    {
        ObjectRef app = createLibreOfficeExcelApplication();
        const pid_t pid = lo::officeProcessId(app);
        QVERIFY(processAlive(pid));
        app.reset();
        QVERIFY(!processAlive(pid));
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
        const QStringList pipesBefore = ourPipes();
        lo::Options options;
        options.callTimeout = std::chrono::milliseconds(2000);
        ObjectRef app = createLibreOfficeExcelApplication(options);
        const pid_t pid = lo::officeProcessId(app);
        ObjectRef sheet = obj(obj(obj(app->get(u"Workbooks"))->call(u"Open", {kTemplate}))->get(u"ActiveSheet"));
        cells(sheet, 3, 2)->put(u"Value", "before");
        QVERIFY(::kill(pid, signal) == 0);

        QElapsedTimer t;
        t.start();
        const QString first = raised([&] { cells(sheet, 4, 2)->put(u"Value", "after"); });
        QVERIFY2(first.contains(expected), qPrintable(first));
        QVERIFY(t.elapsed() < kBoundMs);
        // Every later member fails at once, the cached cell included.
        const QString later = raised([&] { cells(sheet, 3, 2)->get(u"Value"); });
        QVERIFY2(later.contains("ended"), qPrintable(later));
        QVERIFY(t.elapsed() < kBoundMs);
        QVERIFY(!processAlive(pid));
        QVERIFY(raised([&] { app->call(u"Quit"); }).isEmpty()); // quitting a dead office is not an error
        QCOMPARE(ourPipes(), pipesBefore); // the killed office's pipe is removed for it
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
    TestLibreOfficeExcel test;
    return QTest::qExec(&test, argc, argv);
}

#include "test_libreoffice_excel.moc"
