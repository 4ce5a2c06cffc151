// The built-in spreadsheet server through its late-bound members, called the way the
// program calls them: by name, with positional and named arguments.

#include "platform/excel/builtin/BuiltinExcel.h"
#include "platform/xls/Workbook.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

// Declared before the first QFETCH: Release builds instantiate the metatype where it is used.
Q_DECLARE_METATYPE(automation::Variant)

using namespace automation;

namespace {

const QString kData = QStringLiteral(PANTRIMO_XLS_TEST_DATA);
const QString kTemplate = QStringLiteral(PANTRIMO_TEMPLATE_XLS);

QString sampleBook() { return QFile::exists(kTemplate) ? kTemplate : kData + "/styled.xls"; }

ObjectRef obj(const Variant &v) { return requireObject(v); }

ObjectRef cells(const ObjectRef &sheet, int r, int c)
{
    return obj(sheet->call(u"Cells", {Variant(int16_t(r)), Variant(int16_t(c))}));
}

QString raised(const std::function<void()> &f)
{
    try {
        f();
    } catch (const AutomationError &e) {
        return e.description();
    }
    return QString();
}

} // namespace

class TestBuiltinExcel : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { excel::setCopyPictureHandler({}); }

    void openFillSaveReopen()
    {
        QTemporaryDir dir;
        ObjectRef app = createBuiltinExcelApplication();
        QCOMPARE(app->get(u"Version").toString(), QStringLiteral("16.0"));
        app->put(u"DisplayAlerts", Variant::fromBool(false));
        QCOMPARE(app->get(u"displayalerts").toBool(), false);

        obj(app->get(u"Workbooks"))->call(u"Open", {sampleBook()});
        const int32_t count = obj(app->get(u"Workbooks"))->get(u"count").toInt32();
        QCOMPARE(count, 1);
        ObjectRef wb = obj(app->get(u"Workbooks", {Variant(count)}));
        ObjectRef sheet = obj(wb->get(u"ActiveSheet"));
        QCOMPARE(sheet->get(u"Name").toString(), QStringLiteral("Grocery List")); // the stand-in has the same name
        cells(sheet, 3, 1)->put(u"Value", Variant(int16_t(1)));
        cells(sheet, 3, 2)->put(u"Value", Variant(QStringLiteral("Chicken breast")));
        cells(obj(wb->get(u"activesheet")), 14, 12)->put(u"VALUE", Variant(20.5));
        QCOMPARE(cells(sheet, 3, 2)->get(u"Value").toString(), QStringLiteral("Chicken breast"));
        QCOMPARE(cells(sheet, 3, 1)->get(u"Value").type(), Variant::Type::Double);

        const QString out = dir.filePath("wendle12345678.xls");
        wb->call(u"SaveAs", {out}, {{QStringLiteral("FileFormat"), Variant(int32_t(56))}});
        wb->call(u"Close");
        QCOMPARE(obj(app->get(u"Workbooks"))->get(u"Count").toInt32(), 0);
        app->call(u"Quit");

        ObjectRef b = createBuiltinExcelApplication();
        ObjectRef v = obj(obj(b->get(u"Workbooks"))->call(u"Open", {out}));
        ObjectRef s2 = obj(v->get(u"ActiveSheet"));
        QCOMPARE(cells(s2, 3, 1)->get(u"Value").toDouble(), 1.0);
        QCOMPARE(cells(s2, 3, 2)->get(u"Value").toString(), QStringLiteral("Chicken breast"));
        QCOMPARE(cells(s2, 14, 12)->get(u"Value").toDouble(), 20.5);
        QVERIFY(cells(s2, 200, 200)->get(u"Value").isEmpty());
        b->call(u"Quit");
    }

    void usedRangeLastRowAndColumn()
    {
        ObjectRef app = createBuiltinExcelApplication();
        ObjectRef wb = obj(obj(app->get(u"Workbooks"))->call(u"Open", {sampleBook()}));
        ObjectRef used = obj(obj(wb->get(u"ActiveSheet"))->get(u"UsedRange"));
        const int32_t rows = obj(used->get(u"Rows"))->get(u"count").toInt32();
        const int32_t cols = obj(used->get(u"Columns"))->get(u"Count").toInt32();
        const int32_t lastRow = obj(used->get(u"Rows", {Variant(rows)}))->get(u"Row").toInt32();
        const int32_t lastCol = obj(used->get(u"Columns", {Variant(cols)}))->get(u"Column").toInt32();
        QCOMPARE(lastCol, 13); // column M
        QCOMPARE(lastRow, QFile::exists(kTemplate) ? 58 : 23);
        // The collection's own item member and its default member agree.
        QCOMPARE(obj(obj(used->get(u"Rows"))->call(u"Item", {Variant(rows)}))->get(u"Row").toInt32(), lastRow);
        QCOMPARE(obj(obj(used->get(u"Rows"))->call(u"", {Variant(int32_t(1))}))->get(u"Row").toInt32(), 1);
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
        QTest::newRow("missing file") << "missing" << "nothere.xls: the file does not exist";
        QTest::newRow("not a workbook") << "notxls" << "not_compound.xls: not an Excel 97-2003 workbook";
        QTest::newRow("workbook index") << "index2" << "index 2 is outside 1 to 1";
        QTest::newRow("text too long") << "longText" << "at most 32,767 characters";
        QTest::newRow("save into missing folder") << "saveMissing" << "no-such-folder";
    }
    void errorsAreDescribed()
    {
        QFETCH(QString, what);
        QFETCH(QString, expected);
        ObjectRef app = createBuiltinExcelApplication();
        ObjectRef books = obj(app->get(u"Workbooks"));
        ObjectRef wb = obj(books->call(u"Open", {sampleBook()}));
        ObjectRef sheet = obj(wb->get(u"ActiveSheet"));
        const QString message = raised([&] {
            if (what == "unknown")
                sheet->get(u"Frobnicate");
            else if (what == "cellsArgs")
                sheet->call(u"Cells", {Variant(int16_t(1)), Variant(int16_t(1)), Variant(int16_t(1))});
            else if (what == "row0")
                cells(sheet, 0, 1);
            else if (what == "col257")
                cells(sheet, 1, 257);
            else if (what == "rowText")
                sheet->call(u"Cells", {Variant("abc"), Variant(int16_t(1))});
            else if (what == "format51")
                wb->call(u"SaveAs", {QStringLiteral("/tmp/x.xlsx")}, {{QStringLiteral("FileFormat"), Variant(int32_t(51))}});
            else if (what == "badNamed")
                wb->call(u"SaveAs", {QStringLiteral("/tmp/x.xls")}, {{QStringLiteral("Password"), Variant("x")}});
            else if (what == "missing")
                books->call(u"Open", {QStringLiteral("/nonexistent/nothere.xls")});
            else if (what == "notxls")
                books->call(u"Open", {kData + "/bad/not_compound.xls"});
            else if (what == "index2")
                app->get(u"Workbooks", {Variant(int32_t(2))});
            else if (what == "longText")
                cells(sheet, 1, 1)->put(u"Value", Variant(QString(32768, 'x')));
            else if (what == "saveMissing")
                wb->call(u"SaveAs", {QStringLiteral("/tmp/no-such-folder/x.xls")}, {{QStringLiteral("FileFormat"), Variant(int32_t(-4143))}});
        });
        QVERIFY2(message.contains(expected, Qt::CaseInsensitive), qPrintable(message));
        app->call(u"Quit");
    }

    void quitEndsTheInstanceAndItsObjects()
    {
        ObjectRef app = createBuiltinExcelApplication();
        ObjectRef wb = obj(obj(app->get(u"Workbooks"))->call(u"Open", {sampleBook()}));
        ObjectRef sheet = obj(wb->get(u"ActiveSheet"));
        ObjectRef cell = cells(sheet, 3, 2);
        app->call(u"Quit");
        QVERIFY(raised([&] { app->get(u"Version"); }).contains("has quit"));
        QVERIFY(raised([&] { app->get(u"Workbooks"); }).contains("has quit"));
        QVERIFY(raised([&] { cell->put(u"Value", Variant("late")); }).contains("has quit"));
        QVERIFY(raised([&] { wb->get(u"ActiveSheet"); }).contains("has quit"));
        QVERIFY(raised([&] { app->call(u"Quit"); }).contains("has quit"));
    }

    void closedWorkbookRefusesMembers()
    {
        ObjectRef app = createBuiltinExcelApplication();
        ObjectRef wb = obj(obj(app->get(u"Workbooks"))->call(u"Open", {sampleBook()}));
        ObjectRef sheet = obj(wb->get(u"ActiveSheet"));
        wb->call(u"Close");
        QVERIFY(raised([&] { cells(sheet, 1, 1); }).contains("has been closed"));
        QVERIFY(raised([&] { wb->call(u"SaveAs", {QStringLiteral("/tmp/x.xls")}); }).contains("has been closed"));
        app->call(u"Quit");
    }

    void instancesShareNothing()
    {
        ObjectRef a = createBuiltinExcelApplication();
        ObjectRef b = createBuiltinExcelApplication();
        ObjectRef wa = obj(obj(a->get(u"Workbooks"))->call(u"Open", {sampleBook()}));
        obj(obj(b->get(u"Workbooks"))->call(u"Open", {sampleBook()}));
        obj(obj(b->get(u"Workbooks"))->call(u"Open", {kData + "/multi.xls"}));
        QCOMPARE(obj(a->get(u"Workbooks"))->get(u"Count").toInt32(), 1);
        QCOMPARE(obj(b->get(u"Workbooks"))->get(u"Count").toInt32(), 2);
        // The last opened is the last item.
        QCOMPARE(obj(b->get(u"Workbooks", {Variant(int32_t(2))}))->get(u"Name").toString(), QStringLiteral("multi.xls"));
        cells(obj(wa->get(u"ActiveSheet")), 3, 2)->put(u"Value", Variant("only in a"));
        ObjectRef wb1 = obj(b->get(u"Workbooks", {Variant(int32_t(1))}));
        QVERIFY(cells(obj(wb1->get(u"ActiveSheet")), 3, 2)->get(u"Value").toString() != QStringLiteral("only in a"));
        a->call(u"Quit");
        QCOMPARE(obj(b->get(u"Workbooks"))->get(u"Count").toInt32(), 2);
        b->call(u"Quit");
    }

    void valuesKeepTheirKind_data()
    {
        QTest::addColumn<Variant>("written");
        QTest::addColumn<int>("type");
        QTest::newRow("int16") << Variant(int16_t(7)) << int(Variant::Type::Double);
        QTest::newRow("int32") << Variant(int32_t(123456789)) << int(Variant::Type::Double);
        QTest::newRow("double") << Variant(0.1) << int(Variant::Type::Double);
        QTest::newRow("text that looks like a number") << Variant("42") << int(Variant::Type::String);
        QTest::newRow("empty text") << Variant(QString()) << int(Variant::Type::String);
        QTest::newRow("boolean") << Variant::fromBool(true) << int(Variant::Type::Bool);
        QTest::newRow("empty clears") << Variant() << int(Variant::Type::Empty);
    }
    void valuesKeepTheirKind()
    {
        QFETCH(Variant, written);
        QFETCH(int, type);
        QTemporaryDir dir;
        ObjectRef app = createBuiltinExcelApplication();
        ObjectRef wb = obj(obj(app->get(u"Workbooks"))->call(u"Open", {sampleBook()}));
        cells(obj(wb->get(u"ActiveSheet")), 5, 2)->put(u"Value", written);
        wb->call(u"SaveAs", {dir.filePath("k.xls")}, {{QStringLiteral("fileformat"), Variant(int32_t(-4143))}});
        ObjectRef again = obj(obj(app->get(u"Workbooks"))->call(u"Open", {dir.filePath("k.xls")}));
        const Variant back = cells(obj(again->get(u"ActiveSheet")), 5, 2)->get(u"Value");
        QCOMPARE(int(back.type()), type);
        if (type != int(Variant::Type::Empty))
            QVERIFY(back == written || back.toDouble() == written.toDouble());
        app->call(u"Quit");
    }

    // shared_formulas.xls (written by LibreOffice): B1:B5 =A1*2+$A$1 and C1:C5 =SUM(A1:B1) as
    // shared formulas anchored in B1 and C1, A6 =1/0, B6:B7 the array {=A1:A2*10}, A7 "x".
    void overwritingASharedFormulaAnchorKeepsTheOtherCellsFormulas()
    {
        QTemporaryDir dir;
        ObjectRef app = createBuiltinExcelApplication();
        ObjectRef wb = obj(obj(app->get(u"Workbooks"))->call(u"Open", {kData + "/shared_formulas.xls"}));
        ObjectRef sheet = obj(wb->get(u"ActiveSheet"));
        cells(sheet, 1, 2)->put(u"Value", Variant(100.0));
        cells(sheet, 1, 3)->put(u"Value", Variant("anchor gone"));
        wb->call(u"SaveAs", {dir.filePath("out.xls")}, {{QStringLiteral("FileFormat"), Variant(int32_t(56))}});
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
        ObjectRef wb = obj(obj(app->get(u"Workbooks"))->call(u"Open", {kData + "/shared_formulas.xls"}));
        ObjectRef sheet = obj(wb->get(u"ActiveSheet"));
        for (int row : {6, 7})
            for (const Variant &v : {Variant(1.0), Variant("x"), Variant()})
                QCOMPARE(raised([&] { cells(sheet, row, 2)->put(u"Value", v); }), QStringLiteral("You can't change part of an array."));
        // A range that only overlaps the array is refused whole: not even A1 changes.
        QCOMPARE(raised([&] { obj(sheet->get(u"UsedRange"))->put(u"Value", Variant(5.0)); }),
                 QStringLiteral("You can't change part of an array."));
        cells(sheet, 7, 3)->put(u"Value", Variant(3.0)); // beside the array is fine
        wb->call(u"SaveAs", {dir.filePath("out.xls")}, {{QStringLiteral("FileFormat"), Variant(int32_t(56))}});
        QCOMPARE(cells(sheet, 1, 1)->get(u"Value").toDouble(), 1.0);
        QCOMPARE(cells(sheet, 6, 2)->get(u"Value").toDouble(), 10.0);
        QCOMPARE(cells(sheet, 7, 2)->get(u"Value").toDouble(), 20.0);
        app->call(u"Quit");
        xls::Result<xls::Workbook> back = xls::Workbook::open(dir.filePath("out.xls"));
        QVERIFY(back.ok());
        QCOMPARE(back->sheet(0).cellAt(5, 1)->type, xls::CellType::Formula);
        QCOMPARE(back->sheet(0).cellAt(6, 1)->type, xls::CellType::Formula);
    }

    void errorCellsAreErrorValues()
    {
        QTemporaryDir dir;
        ObjectRef app = createBuiltinExcelApplication();
        ObjectRef wb = obj(obj(app->get(u"Workbooks"))->call(u"Open", {kData + "/shared_formulas.xls"}));
        ObjectRef sheet = obj(wb->get(u"ActiveSheet"));
        const Variant div0 = cells(sheet, 6, 1)->get(u"Value");
        QVERIFY(div0.isError());
        QCOMPARE(div0.errorCode(), int32_t(Variant::kErrDiv0));
        QVERIFY(raised([&] { div0.toString(); }) == automation::kTypeMismatch);
        // Written back as an error cell, not as the number 2042.
        cells(sheet, 9, 1)->put(u"Value", Variant::fromError(Variant::kErrNA));
        cells(sheet, 9, 2)->put(u"Value", div0);
        QVERIFY(raised([&] { cells(sheet, 9, 3)->put(u"Value", Variant::fromError(2001)); }).contains("Error 2001"));
        wb->call(u"SaveAs", {dir.filePath("out.xls")}, {{QStringLiteral("FileFormat"), Variant(int32_t(56))}});
        ObjectRef again = obj(obj(app->get(u"Workbooks"))->call(u"Open", {dir.filePath("out.xls")}));
        QCOMPARE(cells(obj(again->get(u"ActiveSheet")), 9, 1)->get(u"Value"), Variant::fromError(2042));
        QCOMPARE(cells(obj(again->get(u"ActiveSheet")), 9, 2)->get(u"Value"), Variant::fromError(2007));
        app->call(u"Quit");
        xls::Result<xls::Workbook> back = xls::Workbook::open(dir.filePath("out.xls"));
        QVERIFY(back.ok());
        QCOMPARE(back->sheet(0).cellAt(8, 0)->type, xls::CellType::Error);
        QCOMPARE(back->sheet(0).cellAt(8, 0)->code, uint8_t(0x2A));
    }

    void worksheetsByPositionAndByName()
    {
        ObjectRef app = createBuiltinExcelApplication();
        ObjectRef wb = obj(obj(app->get(u"Workbooks"))->call(u"Open", {kData + "/multi.xls"}));
        ObjectRef sheets = obj(wb->get(u"Worksheets"));
        QCOMPARE(sheets->get(u"Count").toInt32(), 3);
        QCOMPARE(obj(wb->get(u"Worksheets", {Variant(int32_t(2))}))->get(u"Name").toString(), QStringLiteral("Sheet 2"));
        QCOMPARE(obj(sheets->call(u"Item", {Variant(int16_t(3))}))->get(u"Name").toString(), QStringLiteral("Sheet 3"));
        ObjectRef byName = obj(wb->get(u"Worksheets", {Variant("sheet 3")}));
        QCOMPARE(byName->get(u"Name").toString(), QStringLiteral("Sheet 3"));
        // The sheet reached by name is the one written, not the active one.
        cells(byName, 2, 2)->put(u"Value", Variant("on sheet 3"));
        QCOMPARE(cells(obj(sheets->call(u"", {Variant(int32_t(3))})), 2, 2)->get(u"Value").toString(), QStringLiteral("on sheet 3"));
        QVERIFY(cells(obj(wb->get(u"Worksheets", {Variant(int32_t(1))})), 2, 2)->get(u"Value").toString() != QStringLiteral("on sheet 3"));
        QVERIFY(raised([&] { wb->get(u"Worksheets", {Variant(int32_t(4))}); }).contains("subscript out of range"));
        QVERIFY(raised([&] { wb->get(u"Worksheets", {Variant(int32_t(0))}); }).contains("subscript out of range"));
        QVERIFY(raised([&] { wb->get(u"Worksheets", {Variant("Sheet 9")}); }).contains("Sheet 9"));
        app->call(u"Quit");
    }

    void copyPictureReachesTheHandlerWithTheRange()
    {
        ObjectRef app = createBuiltinExcelApplication();
        ObjectRef wb = obj(obj(app->get(u"Workbooks"))->call(u"Open", {sampleBook()}));
        ObjectRef used = obj(obj(wb->get(u"ActiveSheet"))->get(u"UsedRange"));
        QVERIFY(raised([&] { used->call(u"CopyPicture"); }).contains("cannot draw"));
        xls::CellRange seen{};
        QString sheetName;
        excel::setCopyPictureHandler([&](const excel::RangeRef &r) -> xls::Status {
            seen = r.rect;
            sheetName = r.sheet().name();
            return {};
        });
        used->call(u"CopyPicture");
        QCOMPARE(sheetName, QStringLiteral("Grocery List"));
        QCOMPARE(seen.firstRow, uint16_t(0));
        QCOMPARE(seen.lastCol, uint16_t(12));
        // What the drawing reports is what the caller's automation error says.
        excel::setCopyPictureHandler([](const excel::RangeRef &) -> xls::Status {
            return xls::Error{QStringLiteral("The picture of A1:M58 would be too large.")};
        });
        QCOMPARE(raised([&] { used->call(u"CopyPicture"); }), QStringLiteral("The picture of A1:M58 would be too large."));
        app->call(u"Quit");
    }
};

QTEST_GUILESS_MAIN(TestBuiltinExcel)
#include "test_builtin_excel.moc"
