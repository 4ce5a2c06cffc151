// The COM backend against a server of our own in another process (Windows; under Wine in the
// cross build): what the contract suite cannot see from inside the object tree. The server
// is tests/excel/com_test_server.cpp, registered by the com_server_register fixture.

#include "platform/automation/ClassRegistry.h"
#include "platform/excel/ExcelApplication.h"
#include "platform/excel/ExcelServer.h"
#include "platform/excel/com/ComRef.h"
#include "platform/excel/com/ComVariant.h"
#include "platform/facts/Environment.h"
#include "platform/services/FileSystem.h"
#include "tests/excel/AutomationCalls.h"
#include "tests/support/ScriptedDialogs.h"
#include "tests/support/TestEnvironment.h"
#include "workbook/GenerationRun.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTest>

#include <windows.h>
#include <tlhelp32.h>
#include <winternl.h>

Q_DECLARE_METATYPE(automation::Variant)

using namespace automation;
using testing::cells;
using testing::obj;
using testing::raised;

namespace {

const QString kTemplate = QStringLiteral(PANTRIMO_TEMPLATE_XLS);
const wchar_t kServerExe[] = L"pantrimo_test_com_server.exe";

// The test server's processes alive now.
std::vector<DWORD> serverProcesses()
{
    std::vector<DWORD> found;
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE)
        return found;
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(snapshot, &entry); more; more = Process32NextW(snapshot, &entry))
        if (_wcsicmp(entry.szExeFile, kServerExe) == 0)
            found.push_back(entry.th32ProcessID);
    CloseHandle(snapshot);
    return found;
}

// Waits for every test server to end; what is still alive after the bound.
std::vector<DWORD> serversAfterEnding()
{
    QElapsedTimer waited;
    waited.start();
    std::vector<DWORD> alive = serverProcesses();
    while (!alive.empty() && waited.elapsed() < 30000) {
        QTest::qWait(100);
        alive = serverProcesses();
    }
    return alive;
}

// This process's open handles, from the system's handle table (GetProcessHandleCount is not
// answered under Wine; the system-wide table is).
long handleCount()
{
    struct Entry {
        ULONG process;
        UCHAR type, flags;
        USHORT handle;
        PVOID object;
        ACCESS_MASK access;
    };
    constexpr ULONG kSystemHandleInformation = 16;
    constexpr LONG kInfoLengthMismatch = LONG(0xC0000004);
    using Query = LONG(NTAPI *)(ULONG, PVOID, ULONG, PULONG);
    auto query = reinterpret_cast<Query>(reinterpret_cast<void *>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQuerySystemInformation")));
    std::vector<char> buffer(1 << 20);
    for (;;) {
        ULONG length = 0;
        const LONG status = query(kSystemHandleInformation, buffer.data(), ULONG(buffer.size()), &length);
        if (status == kInfoLengthMismatch) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (status != 0)
            return -1;
        break;
    }
    const ULONG count = *reinterpret_cast<const ULONG *>(buffer.data());
    const auto *entries = reinterpret_cast<const Entry *>(buffer.data() + sizeof(ULONG_PTR));
    return long(std::count_if(entries, entries + count, [](const Entry &e) { return e.process == GetCurrentProcessId(); }));
}

// What the program does with one instance in a run: open, write, save, close, quit.
void oneRun(const QString &folder, int n)
{
    ObjectRef app = createObject(QStringLiteral("Excel.Application"));
    app->put(u"DisplayAlerts", Variant::fromBool(false));
    ObjectRef book = obj(obj(app->get(u"Workbooks"))->call(u"Open", {kTemplate}));
    ObjectRef sheet = obj(book->get(u"ActiveSheet"));
    cells(sheet, 3, 1)->put(u"Value", Variant(int16_t(n)));
    cells(sheet, 3, 2)->put(u"Value", Variant(QStringLiteral("run %1").arg(n)));
    book->call(u"SaveAs", {QDir(folder).filePath(QStringLiteral("run%1.xls").arg(n))}, {{QStringLiteral("FileFormat"), Variant(56)}});
    book->call(u"Close");
    app->call(u"Quit");
}

// The run against windows that keep what it hands them.
class KeptWindows : public workbook::RunWindows {
public:
    bool generating = false;
    QImage picture;
    QString workbook;

    bool &generatingFlag() override { return generating; }
    int itemCount(int) override { return 20; }
    QString item(int category, int k) override { return QStringLiteral("Item %1-%2 crème").arg(category).arg(k + 1); }
    void setMousePointer(int) override {}
    void setPreviewPicture(const QImage &p) override { picture = p; }
    void setPreviewWorkbook(const QString &path) override { workbook = path; }
    void showPreview() override {}
    void hideMain() override {}
};

} // namespace

class TestComBackend : public QObject {
    Q_OBJECT

    testing::TestEnvironment m_env;
    QTemporaryDir m_dir;
    QString m_log;

private slots:
    void initTestCase()
    {
        if (qEnvironmentVariableIsEmpty(facts::env::kExcelProgId))
            qputenv(facts::env::kExcelProgId, "Pantrimo.TestSpreadsheet");
        // The servers inherit this process's environment under Wine, where COM starts them.
        m_log = QDir::toNativeSeparators(m_dir.filePath("servers.log"));
        qputenv("PANTRIMO_TEST_COM_LOG", m_log.toLocal8Bit());
        platform::registerFileSystemObject();
    }
    void init()
    {
        m_env.isolate();
        platform::registerExcelApplication(QStringLiteral("excel"));
    }
    void cleanup() { m_env.restore(); }

    void variantsConvertBothWays_data()
    {
        QTest::addColumn<int>("vt");
        QTest::addColumn<double>("number"); // the payload for numeric types
        QTest::addColumn<Variant>("expected");
        QTest::addColumn<bool>("roundTrips"); // back to the same VARIANT
        QTest::newRow("VT_EMPTY") << int(VT_EMPTY) << 0.0 << Variant() << true;
        QTest::newRow("VT_NULL reads as Empty") << int(VT_NULL) << 0.0 << Variant() << false;
        QTest::newRow("VT_BOOL true is -1") << int(VT_BOOL) << -1.0 << Variant::fromBool(true) << true;
        QTest::newRow("VT_BOOL false") << int(VT_BOOL) << 0.0 << Variant::fromBool(false) << true;
        QTest::newRow("VT_I2") << int(VT_I2) << -7.0 << Variant(int16_t(-7)) << true;
        QTest::newRow("VT_I4") << int(VT_I4) << 123456789.0 << Variant(int32_t(123456789)) << true;
        QTest::newRow("VT_R8") << int(VT_R8) << -2.5 << Variant(-2.5) << true;
        QTest::newRow("VT_DATE is its serial number") << int(VT_DATE) << 45000.75 << Variant(45000.75) << false;
        QTest::newRow("VT_CY is a number") << int(VT_CY) << 12.5 << Variant(12.5) << false;
        QTest::newRow("VT_ERROR #N/A") << int(VT_ERROR) << double(0x800A07FA) << Variant::fromError(Variant::kErrNA) << true;
        QTest::newRow("VT_ERROR #DIV/0!") << int(VT_ERROR) << double(0x800A07D7) << Variant::fromError(Variant::kErrDiv0) << true;
        QTest::newRow("VT_ERROR missing argument") << int(VT_ERROR) << double(uint32_t(DISP_E_PARAMNOTFOUND)) << Variant() << false;
        QTest::newRow("VT_BSTR") << int(VT_BSTR) << 0.0 << Variant(QString::fromUtf8("Crème fraîche 🥕")) << true;
        QTest::newRow("VT_BSTR empty") << int(VT_BSTR) << 1.0 << Variant(QString()) << true;
    }
    void variantsConvertBothWays()
    {
        QFETCH(int, vt);
        QFETCH(double, number);
        QFETCH(Variant, expected);
        QFETCH(bool, roundTrips);
        com::VariantArg in;
        VARIANT *v = in.get();
        V_VT(v) = VARTYPE(vt);
        switch (vt) {
        case VT_BOOL: V_BOOL(v) = VARIANT_BOOL(number); break;
        case VT_I2: V_I2(v) = SHORT(number); break;
        case VT_I4: V_I4(v) = LONG(number); break;
        case VT_R8: V_R8(v) = number; break;
        case VT_DATE: V_DATE(v) = number; break;
        case VT_CY: V_CY(v).int64 = LONGLONG(number * 10000); break;
        case VT_ERROR: V_ERROR(v) = SCODE(uint32_t(number)); break;
        case VT_BSTR: {
            const QString text = number == 0.0 ? expected.toString() : QString();
            V_BSTR(v) = SysAllocStringLen(reinterpret_cast<const OLECHAR *>(text.utf16()), UINT(text.size()));
            break;
        }
        default: break;
        }
        const Variant converted = com::fromVariant(in.value(), nullptr);
        QCOMPARE(converted, expected);
        QCOMPARE(converted.type(), expected.type());
        if (!roundTrips)
            return;
        com::VariantArg back;
        com::toVariant(converted, back.get());
        QCOMPARE(VarCmp(back.get(), in.get(), LOCALE_USER_DEFAULT, 0), HRESULT(VARCMP_EQ));
        QCOMPARE(V_VT(back.get()), V_VT(in.get()));
    }

    // Every interface the client takes is released: each server (one process per instance, as
    // Excel) ends with no object of its own left referenced, and the client's handles stay put.
    // 25 runs here (a server starts in about 3 s under Wine); PANTRIMO_TEST_COM_RUNS=100 for
    // the full count.
    void runsLeaveNoServerAndNoHandleBehind()
    {
        const int runs = qEnvironmentVariableIntValue("PANTRIMO_TEST_COM_RUNS") > 0 ? qEnvironmentVariableIntValue("PANTRIMO_TEST_COM_RUNS") : 25;
        QFile::remove(m_log);
        oneRun(m_dir.path(), 0); // the first run loads what stays loaded (COM's proxies, DLLs)
        QVERIFY(serversAfterEnding().empty());
        const long handlesBefore = handleCount();
        QVERIFY(handlesBefore > 0);
        long handlesHalfway = 0;
        for (int n = 1; n <= runs; ++n) {
            oneRun(m_dir.path(), n);
            if (n == runs / 2)
                handlesHalfway = handleCount();
        }
        const std::vector<DWORD> alive = serversAfterEnding();
        const long handlesAfter = handleCount();
        qInfo("client handles: %ld after the first run, %ld after %d more, %ld after %d; servers still alive: %zu", handlesBefore,
              handlesHalfway, runs / 2, handlesAfter, runs, alive.size());
        QCOMPARE(alive.size(), size_t(0));
        // COM's connections and Wine's RPC threads take a few handles while they grow to their
        // working size; a leak would keep growing through the second half.
        QVERIFY2(handlesAfter - handlesHalfway <= 4,
                 qPrintable(QStringLiteral("%1 -> %2 -> %3").arg(handlesBefore).arg(handlesHalfway).arg(handlesAfter)));
        QFile log(m_log);
        QVERIFY(log.open(QIODevice::ReadOnly));
        const QStringList lines = QString::fromUtf8(log.readAll()).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), runs + 1);
        QCOMPARE(lines.filter("served=1 live_at_end=0 ended=released").size(), runs + 1);
    }

    // The server dies between two steps: the step that meets it says so, naming its member;
    // quitting the dead instance is quiet; the next instance is a new server that works.
    void aKilledServerIsReportedAtTheStepAndTheNextRunWorks()
    {
        QVERIFY(serversAfterEnding().empty());
        ObjectRef app = createObject(QStringLiteral("Excel.Application"));
        ObjectRef sheet = obj(obj(obj(app->get(u"Workbooks"))->call(u"Open", {kTemplate}))->get(u"ActiveSheet"));
        cells(sheet, 3, 2)->put(u"Value", "before");
        const std::vector<DWORD> servers = serverProcesses();
        QCOMPARE(servers.size(), size_t(1));
        HANDLE server = OpenProcess(PROCESS_TERMINATE | SYNCHRONIZE, FALSE, servers.front());
        QVERIFY(server);
        TerminateProcess(server, 9);
        WaitForSingleObject(server, 10000);
        CloseHandle(server);

        const QString message = raised([&] { cells(sheet, 3, 2)->put(u"Value", "after"); });
        QVERIFY2(message.startsWith("Range.Value: the spreadsheet server has ended"), qPrintable(message));
        QVERIFY2(raised([&] { app->get(u"Workbooks"); }).contains("has ended"), "every later call says so at once");
        QCOMPARE(raised([&] { app->call(u"Quit"); }), QString());

        ObjectRef next = createObject(QStringLiteral("Excel.Application"));
        ObjectRef again = obj(obj(obj(next->get(u"Workbooks"))->call(u"Open", {kTemplate}))->get(u"ActiveSheet"));
        QCOMPARE(cells(again, 2, 2)->get(u"Value"), Variant("Meat/Seafood"));
        next->call(u"Quit");
    }

    // A server that turns calls away as busy is asked again until it takes them, within the
    // bound; one that stays busy past it is reported, not waited for without end.
    void aBusyServerIsWaitedForThenReported()
    {
        m_env.set(facts::env::kExcelBusyMs, "1500");
        m_env.set("PANTRIMO_TEST_COM_BUSY", "5");
        ObjectRef app = createObject(QStringLiteral("Excel.Application"));
        QCOMPARE(obj(app->get(u"Workbooks"))->get(u"Count").toInt32(), 0);
        app->call(u"Quit");

        m_env.set("PANTRIMO_TEST_COM_BUSY", "1000000");
        const QString message = raised([] { createObject(QStringLiteral("Excel.Application")); });
        QVERIFY2(message.contains("stayed busy for 1."), qPrintable(message));
        QVERIFY(serversAfterEnding().empty());
    }

    // "Start Creating Template" with every list full, through COM and through the built-in
    // server: the same workbook cell for cell, and a picture of the same size.
    void generationRunMatchesTheBuiltinServer()
    {
        testing::ScriptedDialogs dialogs;
        workbook::NameDrawer names(7);
        KeptWindows throughCom;
        workbook::PushButton1_Click(throughCom, names);
        QCOMPARE(dialogs.messages(), QStringList());
        QVERIFY(!throughCom.picture.isNull());
        const QString comBook = m_dir.filePath("through_com.xls");
        QVERIFY(QFile::copy(throughCom.workbook, comBook));

        platform::registerExcelApplication(QStringLiteral("builtin"));
        KeptWindows builtin;
        workbook::PushButton1_Click(builtin, names);
        QCOMPARE(dialogs.messages(), QStringList());
        const QString builtinBook = m_dir.filePath("builtin.xls");
        QVERIFY(QFile::copy(builtin.workbook, builtinBook));
        QCOMPARE(throughCom.picture.size(), builtin.picture.size());
        if (const QString keep = qEnvironmentVariable("PANTRIMO_TEST_COM_KEEP"); !keep.isEmpty()) {
            QFile::copy(comBook, QDir(keep).filePath("through_com.xls"));
            QFile::copy(builtinBook, QDir(keep).filePath("builtin.xls"));
            throughCom.picture.save(QDir(keep).filePath("through_com.png"));
        }

        ObjectRef reader = createBuiltinExcelApplication();
        ObjectRef a = obj(obj(obj(reader->get(u"Workbooks"))->call(u"Open", {comBook}))->get(u"ActiveSheet"));
        ObjectRef b = obj(obj(obj(reader->get(u"Workbooks"))->call(u"Open", {builtinBook}))->get(u"ActiveSheet"));
        int items = 0;
        for (int r = 1; r <= 58; ++r)
            for (int c = 1; c <= 13; ++c) {
                const Variant va = cells(a, r, c)->get(u"Value");
                QVERIFY2(va == cells(b, r, c)->get(u"Value"), qPrintable(QStringLiteral("R%1C%2").arg(r).arg(c)));
                items += va.type() == Variant::Type::String && va.toString().startsWith("Item ");
            }
        QCOMPARE(items, 15 * 20);
        reader->call(u"Quit");
    }
};

QTEST_MAIN(TestComBackend)
#include "test_com_backend.moc"
