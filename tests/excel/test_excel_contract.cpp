// What "Excel.Application" answers, whichever backend serves it: the same cases run against
// the built-in server and against LibreOffice, called the way the program calls them (by name,
// with positional and named arguments), through the registration the program uses.
//   test_excel_contract --backend builtin|libreoffice|com [Qt Test arguments]
// com: the COM backend (Windows) against the server PANTRIMO_EXCEL_PROGID names, by default
// our own test server, which serves the built-in object tree from another process.

#include "platform/automation/ClassRegistry.h"
#include "platform/excel/ExcelApplication.h"
#include "platform/excel/ExcelServer.h"
#include "platform/facts/Environment.h"
#include "platform/render/Clipboard.h"
#include "tests/excel/AutomationCalls.h"
#ifdef PANTRIMO_HAVE_LIBREOFFICE_EXCEL
#include "platform/excel/libreoffice/OfficeSession.h"
#endif

#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <QTest>

// Declared before the first QFETCH: Release builds instantiate the metatype where it is used.
Q_DECLARE_METATYPE(automation::Variant)

using namespace automation;
using testing::cells;
using testing::obj;
using testing::raised;

namespace {

QString g_backend = QStringLiteral("builtin"); // the server under test, from the command line

const QString kData = QStringLiteral(PANTRIMO_XLS_TEST_DATA);
const QString kSourceTemplate = QStringLiteral(PANTRIMO_TEMPLATE_XLS);

ObjectRef activeSheet(const ObjectRef &book) { return obj(book->get(u"ActiveSheet")); }

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

class TestExcelContract : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QTemporaryDir m_cache; // the office's XDG_CACHE_HOME: its kept profile is made once, not in the user's
    // The office's temporary folder: other programs sweeping a shared /tmp at the same time must
    // not take what it keeps there.
    QTemporaryDir m_tmp;
    // Copies: an office never opens the source tree's files in place.
    QString m_template, m_multi, m_formulas;

    // Where LibreOffice's own ways show through (a logical value stored as a number, ...).
    bool office() const { return g_backend == QLatin1String("libreoffice"); }

    ObjectRef newApp() const { return createObject(QStringLiteral("Excel.Application")); }

    ObjectRef open(const ObjectRef &app, const QString &path) const { return obj(obj(app->get(u"Workbooks"))->call(u"Open", {path})); }

    void saveAs(const ObjectRef &book, const QString &path, int32_t format = 56) const
    {
        book->call(u"SaveAs", {path}, {{QStringLiteral("FileFormat"), Variant(format)}});
    }

private slots:
    void initTestCase()
    {
        QString server = g_backend;
        if (g_backend == QLatin1String("com")) {
#ifndef Q_OS_WIN
            QSKIP("COM is Windows only");
#endif
            if (qEnvironmentVariableIsEmpty(facts::env::kExcelProgId))
                qputenv(facts::env::kExcelProgId, "Pantrimo.TestSpreadsheet");
            server = QStringLiteral("excel");
        } else if (office()) {
#ifdef PANTRIMO_HAVE_LIBREOFFICE_EXCEL
            if (lo::findOfficeBinary(QString()).isEmpty())
                QSKIP("LibreOffice is not installed (no soffice.bin): the LibreOffice server is not tested");
            qputenv(facts::env::kCacheHome, m_cache.path().toLocal8Bit());
            qputenv("TMPDIR", m_tmp.path().toLocal8Bit());
#else
            QSKIP("this build has no LibreOffice bridge (the LibreOffice SDK was not found when it was configured)");
#endif
        }
        platform::registerExcelApplication(server);
        m_template = m_dir.filePath("template.xls");
        m_multi = m_dir.filePath("multi.xls");
        m_formulas = m_dir.filePath("shared_formulas.xls");
        QVERIFY(QFile::copy(kSourceTemplate, m_template));
        QVERIFY(QFile::copy(kData + "/multi.xls", m_multi));
        QVERIFY(QFile::copy(kData + "/shared_formulas.xls", m_formulas));
    }

    void cleanupTestCase()
    {
#ifdef PANTRIMO_HAVE_LIBREOFFICE_EXCEL
        if (office())
            lo::endOffice(); // before the cache folder goes
#endif
    }

    void applicationMembers()
    {
        ObjectRef app = newApp();
        QCOMPARE(app->get(u"Version").toString(), QStringLiteral("16.0"));
        QCOMPARE(app->get(u"DisplayAlerts"), Variant::fromBool(true));
        app->put(u"DisplayAlerts", Variant::fromBool(false));
        QCOMPARE(app->get(u"displayalerts"), Variant::fromBool(false));
        QCOMPARE(app->get(u"Visible"), Variant::fromBool(false));
        ObjectRef books = obj(app->get(u"Workbooks"));
        QCOMPARE(books->get(u"count").toInt32(), 0);
        open(app, m_template);
        QCOMPARE(books->get(u"Count").toInt32(), 1);
        // The collection's item member, its default member and the application's shorthand agree.
        QCOMPARE(activeSheet(obj(books->call(u"", {1})))->get(u"Name").toString(), QStringLiteral("Grocery List"));
        QCOMPARE(obj(books->call(u"Item", {1}))->get(u"Name").toString(), QStringLiteral("template.xls"));
        QCOMPARE(obj(app->get(u"Workbooks", {1}))->get(u"FullName").toString(), m_template);
        // A lock file would outlive a killed office and make the next one refuse the workbook.
        QCOMPARE(QDir(m_dir.path()).entryList({".~lock*"}, QDir::Files | QDir::Hidden), QStringList());
        app->call(u"Quit");
    }

    void openFillSaveReopen()
    {
        ObjectRef app = newApp();
        ObjectRef wb = open(app, m_template);
        ObjectRef sheet = activeSheet(wb);
        cells(sheet, 3, 1)->put(u"Value", Variant(int16_t(1)));
        cells(sheet, 3, 2)->put(u"Value", Variant(QStringLiteral("Chicken breast")));
        cells(activeSheet(wb), 14, 12)->put(u"VALUE", Variant(20.5));
        QCOMPARE(cells(sheet, 3, 2)->get(u"Value").toString(), QStringLiteral("Chicken breast"));
        QCOMPARE(cells(sheet, 3, 1)->get(u"Value").type(), Variant::Type::Double);

        const QString out = m_dir.filePath("wendle12345678.xls");
        saveAs(wb, out);
        QCOMPARE(wb->get(u"Name").toString(), QStringLiteral("wendle12345678.xls"));
        QCOMPARE(wb->get(u"FullName").toString(), out);
        wb->call(u"Close");
        QCOMPARE(obj(app->get(u"Workbooks"))->get(u"Count").toInt32(), 0);
        app->call(u"Quit");

        ObjectRef b = newApp();
        ObjectRef s2 = activeSheet(open(b, out));
        QCOMPARE(cells(s2, 3, 1)->get(u"Value").toDouble(), 1.0);
        QCOMPARE(cells(s2, 3, 2)->get(u"Value").toString(), QStringLiteral("Chicken breast"));
        QCOMPARE(cells(s2, 14, 12)->get(u"Value").toDouble(), 20.5);
        QVERIFY(cells(s2, 200, 200)->get(u"Value").isEmpty());
        b->call(u"Quit");
    }

    void cellValueRoundTrip_data()
    {
        QTest::addColumn<Variant>("written");
        QTest::addColumn<Variant>("read");
        QTest::newRow("int16") << Variant(int16_t(7)) << Variant(7.0);
        QTest::newRow("int32") << Variant(int32_t(123456789)) << Variant(123456789.0);
        QTest::newRow("fraction") << Variant(-2.5) << Variant(-2.5);
        QTest::newRow("accented text and emoji") << Variant(QString::fromUtf8("Crème fraîche 🥕")) << Variant(QString::fromUtf8("Crème fraîche 🥕"));
        QTest::newRow("text that looks like a formula") << Variant("=1+1") << Variant("=1+1");
        QTest::newRow("text that looks like a number") << Variant("42") << Variant("42");
        QTest::newRow("empty text") << Variant(QString()) << Variant(QString());
        QTest::newRow("boolean") << Variant::fromBool(true) << Variant::fromBool(true);
        QTest::newRow("empty clears") << Variant() << Variant();
    }

    // Read back at once, then saved as Excel 97-2003 in both format codes and reopened.
    void cellValueRoundTrip()
    {
        QFETCH(Variant, written);
        QFETCH(Variant, read);
        if (written.type() == Variant::Type::Bool && office())
            read = Variant(1.0); // a logical value is a formula's number in the office
        const bool emptyText = written.type() == Variant::Type::String && written.toString().isEmpty();
        ObjectRef app = newApp();
        ObjectRef book = open(app, m_template);
        ObjectRef sheet = activeSheet(book);
        cells(sheet, 5, 2)->put(u"Value", "placeholder");
        cells(sheet, 5, 2)->put(u"Value", written);
        // In the office an empty text clears the cell: it reads back as Empty.
        if (!(emptyText && office()))
            QCOMPARE(cells(sheet, 5, 2)->get(u"Value"), read);

        for (const int32_t format : {56, -4143}) {
            const QString path = m_dir.filePath(QStringLiteral("%1_%2.xls").arg(QTest::currentDataTag()).arg(format).replace(' ', '_'));
            saveAs(book, path, format);
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadOnly));
            QVERIFY(file.read(8).startsWith("\xD0\xCF\x11\xE0")); // a compound file, not the template's text
            ObjectRef books = obj(app->get(u"Workbooks"));
            ObjectRef reopened = obj(books->call(u"Open", {path}));
            QCOMPARE(books->get(u"Count").toInt32(), 2);
            const Variant back = cells(activeSheet(reopened), 5, 2)->get(u"Value");
            if (emptyText)
                QVERIFY(back.isEmpty() || back == read);
            else
                QCOMPARE(back, read);
            reopened->call(u"Close");
            QCOMPARE(books->get(u"Count").toInt32(), 1);
            QVERIFY(raised([&] { reopened->get(u"ActiveSheet"); }).contains("has been closed"));
        }
        app->call(u"Quit");
    }

    // Writes may be kept and sent later; whatever reads sees every earlier write, and a cell
    // between two written ones keeps what it held.
    void everyReadSeesTheWritesBeforeIt()
    {
        ObjectRef app = newApp();
        ObjectRef book = open(app, m_template);
        ObjectRef sheet = activeSheet(book);
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
        cells(sheet, 5, 4)->put(u"Value", Variant::fromError(Variant::kErrNA));
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
        QCOMPARE(cells(sheet, 5, 2)->get(u"Value"), office() ? Variant(1.0) : Variant::fromBool(true));
        QCOMPARE(cells(sheet, 5, 3)->get(u"Value"), Variant("0042"));
        QCOMPARE(cells(sheet, 5, 4)->get(u"Value"), Variant::fromError(Variant::kErrNA));
        // Writes reach the used range and the file too.
        cells(sheet, 70, 20)->put(u"Value", "far");
        QCOMPARE(usedEnd(sheet), qMakePair(70, 20));
        const QString saved = m_dir.filePath("kept_writes.xls");
        cells(sheet, 6, 2)->put(u"Value", "saved");
        saveAs(book, saved);
        book->call(u"Close");
        QCOMPARE(cells(activeSheet(open(app, saved)), 6, 2)->get(u"Value"), Variant("saved"));
        app->call(u"Quit");
    }

    // The capture depends on the used range: A1:M58 on the template.
    void usedRangeLastRowAndColumn()
    {
        ObjectRef app = newApp();
        ObjectRef used = obj(activeSheet(open(app, m_template))->get(u"UsedRange"));
        const int32_t rows = obj(used->get(u"Rows"))->get(u"count").toInt32();
        const int32_t cols = obj(used->get(u"Columns"))->get(u"Count").toInt32();
        QCOMPARE(used->get(u"Count").toInt32(), rows * cols);
        QCOMPARE(obj(used->get(u"Rows", {Variant(rows)}))->get(u"Row").toInt32(), 58);
        QCOMPARE(obj(used->get(u"Columns", {Variant(cols)}))->get(u"Column").toInt32(), 13); // column M
        // The collection's own item member and its default member agree.
        QCOMPARE(obj(obj(used->get(u"Rows"))->call(u"Item", {Variant(rows)}))->get(u"Row").toInt32(), 58);
        QCOMPARE(obj(obj(used->get(u"Rows"))->call(u"", {Variant(int32_t(1))}))->get(u"Row").toInt32(), 1);
        // A range's cells count along its rows.
        ObjectRef fourteenth = obj(used->call(u"Item", {Variant(int32_t(14))}));
        QCOMPARE(fourteenth->get(u"Row").toInt32(), 2);
        QCOMPARE(fourteenth->get(u"Column").toInt32(), 1);
        app->call(u"Quit");
    }

    void errorsAreDescribed_data()
    {
        QTest::addColumn<QString>("what");
        QTest::addColumn<QString>("expected");
        QTest::newRow("unknown member") << "unknown" << "doesn't support this property or method";
        QTest::newRow("too many arguments") << "cellsArgs" << "Wrong number of arguments";
        QTest::newRow("row zero") << "row0" << "row 0 is outside the sheet";
        QTest::newRow("column past IV") << "col257" << "column 257 is outside the sheet";
        QTest::newRow("text for a row") << "rowText" << "Type mismatch";
        QTest::newRow("unsupported format") << "format51" << "file format 51 is not supported";
        QTest::newRow("unknown named argument") << "badNamed" << "unknown named argument Password";
        QTest::newRow("empty file name") << "emptyName" << "Workbooks.Open: the file name is empty";
        QTest::newRow("missing file") << "missing" << "nothere.xls";
        QTest::newRow("workbook index") << "index2" << "index 2 is outside 1 to 1 (subscript out of range)";
        QTest::newRow("text too long") << "longText" << "at most 32,767 characters";
        QTest::newRow("infinite number") << "inf" << "is not a number a cell can hold";
        QTest::newRow("an object for a value") << "object" << "Type mismatch";
        QTest::newRow("an error no cell holds") << "error2001" << "Error 2001";
        QTest::newRow("several cells read") << "readRange" << "reading a range of several cells is not supported";
        QTest::newRow("assign a read-only member") << "putRow" << "Range.Row cannot be assigned";
        QTest::newRow("save into missing folder") << "saveMissing" << "no-such-folder";
    }
    void errorsAreDescribed()
    {
        QFETCH(QString, what);
        QFETCH(QString, expected);
        ObjectRef app = newApp();
        ObjectRef books = obj(app->get(u"Workbooks"));
        ObjectRef wb = obj(books->call(u"Open", {m_template}));
        ObjectRef sheet = activeSheet(wb);
        const QHash<QString, std::function<void()>> calls{
            {"unknown", [&] { sheet->get(u"Frobnicate"); }},
            {"cellsArgs", [&] { sheet->call(u"Cells", {Variant(int16_t(1)), Variant(int16_t(1)), Variant(int16_t(1))}); }},
            {"row0", [&] { cells(sheet, 0, 1); }},
            {"col257", [&] { cells(sheet, 1, 257); }},
            {"rowText", [&] { sheet->call(u"Cells", {Variant("abc"), Variant(int16_t(1))}); }},
            {"format51", [&] { wb->call(u"SaveAs", {m_dir.filePath("x.xlsx")}, {{QStringLiteral("FileFormat"), Variant(int32_t(51))}}); }},
            {"badNamed", [&] { wb->call(u"SaveAs", {m_dir.filePath("x.xls")}, {{QStringLiteral("Password"), Variant("x")}}); }},
            {"emptyName", [&] { books->call(u"Open", {QString()}); }},
            {"missing", [&] { books->call(u"Open", {QStringLiteral("/nonexistent/nothere.xls")}); }},
            {"index2", [&] { app->get(u"Workbooks", {Variant(int32_t(2))}); }},
            {"longText", [&] { cells(sheet, 1, 1)->put(u"Value", Variant(QString(32768, 'x'))); }},
            {"inf", [&] { cells(sheet, 1, 1)->put(u"Value", std::numeric_limits<double>::infinity()); }},
            {"object", [&] { cells(sheet, 1, 1)->put(u"Value", Variant(ObjectRef(sheet))); }},
            {"error2001", [&] { cells(sheet, 1, 1)->put(u"Value", Variant::fromError(2001)); }},
            {"readRange", [&] { obj(sheet->get(u"UsedRange"))->get(u"Value"); }},
            {"putRow", [&] { cells(sheet, 1, 1)->put(u"Row", Variant(2)); }},
            {"saveMissing", [&] { saveAs(wb, m_dir.filePath("no-such-folder/x.xls"), -4143); }},
        };
        const Variant before = cells(sheet, 1, 1)->get(u"Value");
        const QString message = raised(calls.value(what));
        QVERIFY2(message.contains(expected, Qt::CaseInsensitive), qPrintable(message));
        // A refused value changes nothing: the cell still reads as before.
        QCOMPARE(cells(sheet, 1, 1)->get(u"Value"), before);
        app->call(u"Quit");
    }

    void quitEndsTheInstanceAndItsObjects()
    {
        ObjectRef app = newApp();
        ObjectRef wb = open(app, m_template);
        ObjectRef sheet = activeSheet(wb);
        ObjectRef cell = cells(sheet, 3, 2);
        app->call(u"Quit");
        QCOMPARE(excel::processId(app), pid_t(0));
        QVERIFY(raised([&] { app->get(u"Version"); }).contains("has quit"));
        QVERIFY(raised([&] { app->get(u"Workbooks"); }).contains("has quit"));
        QVERIFY(raised([&] { cell->put(u"Value", Variant("late")); }).contains("has quit"));
        QVERIFY(raised([&] { cell->get(u"Value"); }).contains("has quit"));
        QVERIFY(raised([&] { wb->get(u"ActiveSheet"); }).contains("has quit"));
        QVERIFY(raised([&] { app->call(u"Quit"); }).contains("has quit"));
    }

    void closedWorkbookRefusesMembers()
    {
        ObjectRef app = newApp();
        ObjectRef wb = open(app, m_template);
        ObjectRef sheet = activeSheet(wb);
        ObjectRef cell = cells(sheet, 1, 1);
        wb->call(u"Close");
        QVERIFY(raised([&] { cells(sheet, 1, 1); }).contains("The workbook template.xls has been closed"));
        QVERIFY(raised([&] { cell->get(u"Value"); }).contains("has been closed"));
        QVERIFY(raised([&] { wb->call(u"SaveAs", {m_dir.filePath("x.xls")}); }).contains("has been closed"));
        QVERIFY(raised([&] { wb->call(u"Close"); }).contains("has been closed"));
        app->call(u"Quit");
    }

    void instancesShareNothing()
    {
        ObjectRef a = newApp();
        ObjectRef b = newApp();
        ObjectRef wa = open(a, m_template);
        open(b, m_template);
        open(b, m_multi);
        QCOMPARE(obj(a->get(u"Workbooks"))->get(u"Count").toInt32(), 1);
        QCOMPARE(obj(b->get(u"Workbooks"))->get(u"Count").toInt32(), 2);
        // The last opened is the last item.
        QCOMPARE(obj(b->get(u"Workbooks", {Variant(int32_t(2))}))->get(u"Name").toString(), QStringLiteral("multi.xls"));
        cells(activeSheet(wa), 3, 2)->put(u"Value", Variant("only in a"));
        ObjectRef wb1 = obj(b->get(u"Workbooks", {Variant(int32_t(1))}));
        QVERIFY(cells(activeSheet(wb1), 3, 2)->get(u"Value") != Variant("only in a"));
        a->call(u"Quit");
        QCOMPARE(obj(b->get(u"Workbooks"))->get(u"Count").toInt32(), 2);
        QVERIFY(cells(activeSheet(wb1), 3, 2)->get(u"Value") != Variant("only in a"));
        b->call(u"Quit");
    }

    // shared_formulas.xls (written by LibreOffice): A6 =1/0.
    void errorCellsAreErrorValues()
    {
        ObjectRef app = newApp();
        ObjectRef wb = open(app, m_formulas);
        ObjectRef sheet = activeSheet(wb);
        const Variant div0 = cells(sheet, 6, 1)->get(u"Value");
        QVERIFY(div0.isError());
        QCOMPARE(div0.errorCode(), int32_t(Variant::kErrDiv0));
        QVERIFY(raised([&] { div0.toString(); }) == automation::kTypeMismatch);
        // Each written back as that error, not as its number: into the file, and read back by
        // this server and by the built-in one.
        const int32_t errors[] = {Variant::kErrNull, Variant::kErrDiv0, Variant::kErrValue, Variant::kErrRef,
                                  Variant::kErrName, Variant::kErrNum,  Variant::kErrNA};
        for (int c = 1; c <= 7; ++c)
            cells(sheet, 9, c)->put(u"Value", Variant::fromError(errors[c - 1]));
        cells(sheet, 10, 1)->put(u"Value", div0);
        for (int c = 1; c <= 7; ++c)
            QCOMPARE(cells(sheet, 9, c)->get(u"Value"), Variant::fromError(errors[c - 1]));
        const QString out = m_dir.filePath("errors.xls");
        saveAs(wb, out);
        app->call(u"Quit");
        const std::vector<ObjectRef> readers{newApp(), createBuiltinExcelApplication()};
        for (const ObjectRef &reader : readers) {
            ObjectRef again = activeSheet(open(reader, out));
            for (int c = 1; c <= 7; ++c) {
                // The office reads its own #NULL! and #NAME? back from the file as #N/A.
                const bool officeLoses = office() && reader != readers.back() && (c == 1 || c == 5);
                QCOMPARE(cells(again, 9, c)->get(u"Value"), Variant::fromError(officeLoses ? Variant::kErrNA : errors[c - 1]));
            }
            QCOMPARE(cells(again, 10, 1)->get(u"Value"), div0);
            reader->call(u"Quit");
        }
    }

    void worksheetsByPositionAndByName()
    {
        ObjectRef app = newApp();
        ObjectRef wb = open(app, m_multi);
        ObjectRef sheets = obj(wb->get(u"Worksheets"));
        QCOMPARE(sheets->get(u"Count").toInt32(), 3);
        QCOMPARE(obj(wb->get(u"Worksheets", {Variant(int32_t(2))}))->get(u"Name").toString(), QStringLiteral("Sheet 2"));
        QCOMPARE(obj(sheets->call(u"Item", {Variant(int16_t(3))}))->get(u"Name").toString(), QStringLiteral("Sheet 3"));
        ObjectRef byName = obj(wb->get(u"Worksheets", {Variant("sheet 3")}));
        QCOMPARE(byName->get(u"Name").toString(), QStringLiteral("Sheet 3"));
        // The sheet reached by name is the one written, not the active one.
        cells(byName, 2, 2)->put(u"Value", Variant("on sheet 3"));
        QCOMPARE(cells(obj(sheets->call(u"", {Variant(int32_t(3))})), 2, 2)->get(u"Value").toString(), QStringLiteral("on sheet 3"));
        QCOMPARE(cells(obj(wb->get(u"Worksheets", {Variant(int32_t(1))})), 2, 2)->get(u"Value"), Variant(1.5));
        QCOMPARE(activeSheet(wb)->get(u"Name").toString(), QStringLiteral("Sheet 1"));
        QCOMPARE(obj(obj(byName->get(u"UsedRange"))->get(u"Rows"))->get(u"Count").toInt32(), 40);
        QVERIFY(raised([&] { wb->get(u"Worksheets", {Variant(int32_t(4))}); }).contains("subscript out of range"));
        QVERIFY(raised([&] { wb->get(u"Worksheets", {Variant(int32_t(0))}); }).contains("subscript out of range"));
        QVERIFY(raised([&] { wb->get(u"Worksheets", {Variant("Sheet 9")}); }).contains("Sheet 9"));
        // Written on another sheet than the active one, and saved there.
        const QString out = m_dir.filePath("multi_out.xls");
        saveAs(wb, out);
        app->call(u"Quit");
        ObjectRef reader = newApp();
        ObjectRef back = obj(open(reader, out)->get(u"Worksheets", {Variant("Sheet 3")}));
        QCOMPARE(cells(back, 2, 2)->get(u"Value"), Variant("on sheet 3"));
        reader->call(u"Quit");
    }

    void copyPicturePutsTheRangeOnTheClipboard()
    {
        QGuiApplication::clipboard()->clear();
        ObjectRef app = newApp();
        ObjectRef sheet = activeSheet(open(app, m_template));
        obj(sheet->get(u"UsedRange"))->call(u"CopyPicture");
        const QImage whole = render::clipboardImage(); // a server in another process may leave a bare bitmap
        QVERIFY(!whole.isNull());
        cells(sheet, 1, 1)->call(u"CopyPicture", {Variant(int32_t(1)), Variant(int32_t(2))}); // xlScreen, xlBitmap
        const QImage one = render::clipboardImage();
        QVERIFY(!one.isNull());
        // A1:M58 against A1 alone.
        QVERIFY2(whole.width() > 4 * one.width() && whole.height() > 20 * one.height(),
                 qPrintable(QStringLiteral("%1x%2 vs %3x%4").arg(whole.width()).arg(whole.height()).arg(one.width()).arg(one.height())));
        app->call(u"Quit");
    }
};

int main(int argc, char **argv)
{
    // --backend NAME is ours; Qt Test gets the rest.
    std::vector<char *> rest;
    for (int i = 0; i < argc; ++i) {
        if (qstrcmp(argv[i], "--backend") == 0 && i + 1 < argc)
            g_backend = QString::fromLocal8Bit(argv[++i]);
        else
            rest.push_back(argv[i]);
    }
    int restCount = int(rest.size());
    QGuiApplication app(restCount, rest.data());
    TestExcelContract test;
    return QTest::qExec(&test, restCount, rest.data());
}

#include "test_excel_contract.moc"
