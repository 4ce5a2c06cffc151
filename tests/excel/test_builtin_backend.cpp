// What only the built-in server does, beyond what every server answers (test_excel_contract):
// the engine's view of what it wrote, the engine's refusals, and the picture handler a
// renderer installs.

#include "platform/excel/ExcelApplication.h"
#include "platform/excel/builtin/BuiltinExcel.h"
#include "platform/xls/Workbook.h"
#include "tests/excel/AutomationCalls.h"

#include <QTemporaryDir>
#include <QTest>

using namespace automation;
using testing::cells;
using testing::obj;
using testing::raised;

namespace {

const QString kData = QStringLiteral(PANTRIMO_XLS_TEST_DATA);
const QString kTemplate = QStringLiteral(PANTRIMO_TEMPLATE_XLS);

ObjectRef open(const ObjectRef &app, const QString &path) { return obj(obj(app->get(u"Workbooks"))->call(u"Open", {path})); }

void saveAs(const ObjectRef &book, const QString &path) { book->call(u"SaveAs", {path}, {{QStringLiteral("FileFormat"), Variant(int32_t(56))}}); }


} // namespace

class TestBuiltinBackend : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { excel::setCopyPictureHandler({}); }

    void theEngineSaysWhyAFileDoesNotOpen()
    {
        ObjectRef app = createBuiltinExcelApplication();
        ObjectRef books = obj(app->get(u"Workbooks"));
        QVERIFY(raised([&] { books->call(u"Open", {QStringLiteral("/nonexistent/nothere.xls")}); })
                    .startsWith("Workbooks.Open: /nonexistent/nothere.xls: the file does not exist"));
        const QString notXls = raised([&] { books->call(u"Open", {kData + "/bad/not_compound.xls"}); });
        QVERIFY2(notXls.contains("not_compound.xls: not an Excel 97-2003 workbook"), qPrintable(notXls));
        QCOMPARE(books->get(u"Count").toInt32(), 0);
        app->call(u"Quit");
    }

    // shared_formulas.xls (written by LibreOffice): B1:B5 =A1*2+$A$1 and C1:C5 =SUM(A1:B1) as
    // shared formulas anchored in B1 and C1, A6 =1/0, B6:B7 the array {=A1:A2*10}, A7 "x".
    void overwritingASharedFormulaAnchorKeepsTheOtherCellsFormulas()
    {
        QTemporaryDir dir;
        ObjectRef app = createBuiltinExcelApplication();
        ObjectRef wb = open(app, kData + "/shared_formulas.xls");
        ObjectRef sheet = obj(wb->get(u"ActiveSheet"));
        cells(sheet, 1, 2)->put(u"Value", Variant(100.0));
        cells(sheet, 1, 3)->put(u"Value", Variant("anchor gone"));
        saveAs(wb, dir.filePath("out.xls"));
        app->call(u"Quit");

        xls::Result<xls::Workbook> back = xls::Workbook::open(dir.filePath("out.xls"));
        QVERIFY(back.ok());
        const xls::Worksheet &s = back->sheet(0);
        QCOMPARE(s.cellAt(0, 1)->type, xls::CellType::Number);
        for (uint16_t row = 1; row <= 4; ++row) {
            for (uint16_t col : {uint16_t(1), uint16_t(2)}) {
                const xls::Cell *c = s.cellAt(row, col);
                QVERIFY(c && c->type == xls::CellType::Formula);
                const std::vector<uint8_t> &f = c->formula->records.front().data;
                // Its own formula now, not a pointer (ptgExp) to the anchor that is gone.
                QCOMPARE(f[14] & 0x08, 0);
                QCOMPARE(f.size(), size_t(22 + f[20]));
                if (col == 1) {
                    // =A<row+1>*2+$A$1: ptgRef (value class) row, column A with both relative bits,
                    // ptgInt 2, ptgMul, ptgRef $A$1, ptgAdd.
                    const std::vector<uint8_t> want{0x44, uint8_t(row), 0, 0x00, 0xC0, 0x1E, 2, 0, 0x05, 0x44, 0, 0, 0, 0, 0x03};
                    QCOMPARE(std::vector<uint8_t>(f.begin() + 22, f.end()), want);
                } else {
                    // =SUM(A<row+1>:B<row+1>): ptgArea rows row..row, columns A..B relative, ptgAttr sum.
                    const std::vector<uint8_t> want{0x25, uint8_t(row), 0, uint8_t(row), 0, 0x00, 0xC0, 0x01, 0xC0, 0x19, 0x10, 0, 0};
                    QCOMPARE(std::vector<uint8_t>(f.begin() + 22, f.end()), want);
                }
                QCOMPARE(c->number, col == 1 ? 2.0 * (row + 1) + 1 : 3.0 * (row + 1) + 1); // the cached result stays
            }
        }
    }

    void writesIntoAnArrayFormulaAreRefused()
    {
        QTemporaryDir dir;
        ObjectRef app = createBuiltinExcelApplication();
        ObjectRef wb = open(app, kData + "/shared_formulas.xls");
        ObjectRef sheet = obj(wb->get(u"ActiveSheet"));
        for (int row : {6, 7})
            for (const Variant &v : {Variant(1.0), Variant("x"), Variant()})
                QCOMPARE(raised([&] { cells(sheet, row, 2)->put(u"Value", v); }), QStringLiteral("You can't change part of an array."));
        // A range that only overlaps the array is refused whole: not even A1 changes.
        QCOMPARE(raised([&] { obj(sheet->get(u"UsedRange"))->put(u"Value", Variant(5.0)); }),
                 QStringLiteral("You can't change part of an array."));
        cells(sheet, 7, 3)->put(u"Value", Variant(3.0)); // beside the array is fine
        saveAs(wb, dir.filePath("out.xls"));
        QCOMPARE(cells(sheet, 1, 1)->get(u"Value").toDouble(), 1.0);
        QCOMPARE(cells(sheet, 6, 2)->get(u"Value").toDouble(), 10.0);
        QCOMPARE(cells(sheet, 7, 2)->get(u"Value").toDouble(), 20.0);
        app->call(u"Quit");
        xls::Result<xls::Workbook> back = xls::Workbook::open(dir.filePath("out.xls"));
        QVERIFY(back.ok());
        QCOMPARE(back->sheet(0).cellAt(5, 1)->type, xls::CellType::Formula);
        QCOMPARE(back->sheet(0).cellAt(6, 1)->type, xls::CellType::Formula);
    }

    // An error value written is an error cell (BOOLERR), not a formula and not the number 2042.
    void anErrorValueIsWrittenAsAnErrorCell()
    {
        QTemporaryDir dir;
        ObjectRef app = createBuiltinExcelApplication();
        ObjectRef wb = open(app, kTemplate);
        cells(obj(wb->get(u"ActiveSheet")), 9, 1)->put(u"Value", Variant::fromError(Variant::kErrNA));
        saveAs(wb, dir.filePath("out.xls"));
        app->call(u"Quit");
        xls::Result<xls::Workbook> back = xls::Workbook::open(dir.filePath("out.xls"));
        QVERIFY(back.ok());
        const xls::Cell *cell = back->sheet(back->activeSheetIndex()).cellAt(8, 0);
        QVERIFY(cell);
        QCOMPARE(cell->type, xls::CellType::Error);
        QCOMPARE(cell->code, uint8_t(0x2A));
    }

    void copyPictureReachesTheHandlerWithTheRange()
    {
        ObjectRef app = createBuiltinExcelApplication();
        ObjectRef wb = open(app, kTemplate);
        ObjectRef used = obj(obj(wb->get(u"ActiveSheet"))->get(u"UsedRange"));
        QCOMPARE(raised([&] { used->call(u"CopyPicture"); }), QStringLiteral("Range.CopyPicture: this build cannot draw a picture of a range"));
        xls::CellRange seen{};
        QString sheetName;
        excel::setCopyPictureHandler([&](const excel::RangeRef &r) -> xls::Status {
            seen = r.rect;
            sheetName = r.sheet().name();
            return {};
        });
        used->call(u"CopyPicture");
        QCOMPARE(sheetName, QStringLiteral("Grocery List"));
        QCOMPARE(seen, (xls::CellRange{0, 57, 0, 12}));
        // What the drawing reports is what the caller's automation error says.
        excel::setCopyPictureHandler([](const excel::RangeRef &) -> xls::Status {
            return xls::Error{QStringLiteral("The picture of A1:M58 would be too large.")};
        });
        QCOMPARE(raised([&] { used->call(u"CopyPicture"); }), QStringLiteral("The picture of A1:M58 would be too large."));
        app->call(u"Quit");
    }
};

QTEST_GUILESS_MAIN(TestBuiltinBackend)
#include "test_builtin_backend.moc"
