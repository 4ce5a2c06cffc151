// The workbook model against real files: samples written by xlwt, the program's template,
// and the damaged corpus. Checks go through the model and through the raw stream layout.

#include "platform/xls/CompoundFile.h"
#include "platform/xls/Workbook.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

using namespace xls;

namespace {

const QString kData = QStringLiteral(PANTRIMO_XLS_TEST_DATA);
const QString kTemplate = QStringLiteral(PANTRIMO_TEMPLATE_XLS);

Workbook load(const QString &path)
{
    Result<Workbook> wb = Workbook::open(path);
    if (!wb)
        qFatal("%s", qPrintable(wb.error().message));
    return std::move(*wb);
}

Workbook reload(const Workbook &wb)
{
    Result<std::vector<uint8_t>> bytes = wb.toBytes();
    if (!bytes)
        qFatal("%s", qPrintable(bytes.error().message));
    Result<Workbook> again = Workbook::fromBytes(*bytes, QStringLiteral("saved.xls"));
    if (!again)
        qFatal("%s", qPrintable(again.error().message));
    return std::move(*again);
}

// Records of a whole stream, by walking it.
std::vector<Record> walk(std::span<const uint8_t> stream)
{
    std::vector<Record> out;
    ByteCursor c(stream);
    while (c.remaining() >= 4) {
        Result<Record> r = readRecord(c);
        if (!r || (r->id == 0 && r->data.empty()))
            break;
        out.push_back(*r);
    }
    return out;
}

std::vector<uint8_t> workbookStream(const std::vector<uint8_t> &file)
{
    Result<CompoundFile> cf = CompoundFile::parse(file);
    if (!cf)
        qFatal("%s", qPrintable(cf.error().message));
    return cf->findStream("Workbook")->data;
}

bool sameCells(const Workbook &a, const Workbook &b)
{
    if (a.sheetCount() != b.sheetCount())
        return false;
    for (int s = 0; s < a.sheetCount(); ++s) {
        const auto &ca = a.sheet(s).cells();
        const auto &cb = b.sheet(s).cells();
        if (ca.size() != cb.size())
            return false;
        for (auto ia = ca.begin(), ib = cb.begin(); ia != ca.end(); ++ia, ++ib) {
            const Cell &x = ia->second, &y = ib->second;
            if (ia->first != ib->first || x.type != y.type || x.xf != y.xf || a.text(x) != b.text(y)
                || (x.type == CellType::Number && x.number != y.number) || x.code != y.code) {
                qWarning("cell %u differs on sheet %d", ia->first, s);
                return false;
            }
        }
    }
    return true;
}


// A workbook assembled record by record, for the cell kinds and layouts xlwt never writes.
std::vector<uint8_t> handmadeWorkbook()
{
    using Bytes = std::vector<uint8_t>;
    StreamWriter out;
    auto bof = [&](uint16_t type) {
        out.put(biff::rec::BOF, Bytes{
            0x00, 0x06,             // version: BIFF8
            uint8_t(type), uint8_t(type >> 8), // substream type
            0x00, 0x00, 0x00, 0x00, // build, year
            0x00, 0x00, 0x00, 0x00, // file history
            0x06, 0x00, 0x00, 0x00, // lowest version
        });
    };
    bof(biff::bof::kGlobals);
    const size_t boundsheet = out.put(biff::rec::BOUNDSHEET, Bytes{
        0x00, 0x00, 0x00, 0x00, // sheet BOF position, patched below
        0x00,                   // visible
        0x00,                   // worksheet
        0x04,                   // name length: 4
        0x00,                   // 8-bit characters
        'D', 'a', 't', 'a',
    });
    out.put(biff::rec::EOF_, Bytes{});
    out.patchU32(boundsheet + 4, uint32_t(out.position()));
    bof(biff::bof::kWorksheet);
    out.put(biff::rec::LABEL, Bytes{
        0x00, 0x00, 0x00, 0x00, // row 0, column 0
        0x0F, 0x00,             // XF 15
        0x04, 0x00,             // cch: 4
        0x00,                   // 8-bit characters
        'a', 'b',               // the first two, then the record ends
    });
    out.put(biff::rec::CONTINUE, Bytes{
        0x01,                   // option byte: the rest is UTF-16
        0xAC, 0x20, 0x21, 0x00, // euro sign, '!'
    });
    out.put(biff::rec::MULRK, Bytes{
        0x01, 0x00, 0x02, 0x00, // row 1, first column 2
        0x10, 0x00, 0x06, 0x00, 0x00, 0x00, // XF 16, RK integer 1
        0x11, 0x00, 0x0B, 0x00, 0x00, 0x00, // XF 17, RK integer 2 divided by 100
        0x03, 0x00,             // last column 3
    });
    out.put(biff::rec::MULBLANK, Bytes{
        0x02, 0x00, 0x00, 0x00, // row 2, first column 0
        0x15, 0x00, 0x16, 0x00, 0x17, 0x00, // XF 21, 22, 23
        0x02, 0x00,             // last column 2
    });
    out.put(biff::rec::BOOLERR, Bytes{
        0x03, 0x00, 0x00, 0x00, 0x0F, 0x00, // row 3, column 0, XF 15
        0x07,                   // #DIV/0!
        0x01,                   // an error, not a boolean
    });
    out.put(biff::rec::FORMULA, Bytes{
        0x04, 0x00, 0x00, 0x00, 0x0F, 0x00, // row 4, column 0, XF 15
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xFF, 0xFF, // cached result: text, in the STRING record
        0x00, 0x00,             // options
        0x00, 0x00, 0x00, 0x00, // chn
        0x03, 0x00,             // cce: 3 bytes of formula
        0x17, 0x00, 0x00,       // tStr "" (the formula text is not ours to read)
    });
    out.put(biff::rec::STRING, Bytes{
        0x02, 0x00,             // cch: 2
        0x00,                   // 8-bit
        'o', 'k',
    });
    // A chart embedded in the sheet brings its own substream; its records are not cells.
    bof(biff::bof::kChart);
    out.put(biff::rec::NUMBER, Bytes{
        0x09, 0x00, 0x09, 0x00, 0x0F, 0x00,             // row 9, column 9, XF 15
        0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0xF0, 0x3F, // 1.0
    });
    out.put(biff::rec::EOF_, Bytes{});
    out.put(biff::rec::WINDOW2, Bytes{
        0xB4, 0x06,             // options: headings, zeros, outline, selected, no grid lines (bit 1 clear)
        0x00, 0x00, 0x00, 0x00, // top row, left column
        0x40, 0x00, 0x00, 0x00, // heading colour: automatic
        0x00, 0x00, 0x00, 0x00, // page-break and normal zoom: defaults
        0x00, 0x00, 0x00, 0x00, // reserved
    });
    out.put(biff::rec::EOF_, Bytes{});

    CompoundFile cf;
    cf.root().isStorage = true;
    cf.setStream("Workbook", out.bytes());
    return *cf.serialize();
}

} // namespace

class TestXlsWorkbook : public QObject {
    Q_OBJECT
private slots:
    void styledSampleModel()
    {
        const Workbook wb = load(kData + "/styled.xls");
        QCOMPARE(wb.sheetCount(), 1);
        const Worksheet &s = wb.sheet(0);
        QCOMPARE(s.name(), QStringLiteral("Grocery List"));
        QVERIFY(!s.view().showGrid);

        const Cell *title = s.cellAt(0, 0);
        QVERIFY(title);
        QCOMPARE(wb.text(*title), QStringLiteral("      Grocery List"));
        const Font &titleFont = wb.font(wb.xf(title->xf).fontIndex);
        QCOMPARE(titleFont.name, QStringLiteral("Century Gothic"));
        QCOMPARE(titleFont.heightTwips, uint16_t(440));
        QVERIFY(titleFont.bold());
        QCOMPARE(wb.xf(title->xf).fillPattern, uint8_t(1));
        QCOMPARE(wb.color(wb.xf(title->xf).patternColorIndex), 0xCCFFCCu);

        QCOMPARE(wb.text(*s.cellAt(3, 1)), QString::fromUtf8("Cr\u00e8me fra\u00eeche \u00fcnd \u00c4pfel"));
        QCOMPARE(wb.text(*s.cellAt(4, 1)), QString::fromUtf8("\u0395\u03bb\u03bb\u03b7\u03bd\u03b9\u03ba\u03ac \u65e5\u672c\u8a9e"));
        QCOMPARE(s.cellAt(4, 0)->number, -123456789.125);
        QCOMPARE(s.cellAt(5, 0)->type, CellType::Boolean);
        QCOMPARE(s.cellAt(5, 1)->type, CellType::Formula);
        QCOMPARE(s.cellAt(2, 2)->type, CellType::Blank); // formatted blank

        QVERIFY(std::find(s.mergedCells().begin(), s.mergedCells().end(), CellRange{0, 0, 0, 5}) != s.mergedCells().end());
        QVERIFY(std::find(s.mergedCells().begin(), s.mergedCells().end(), CellRange{0, 0, 7, 12}) != s.mergedCells().end());
        bool sawWidth = false;
        for (const ColumnInfo &c : s.columns())
            if (c.firstCol <= 1 && c.lastCol >= 1)
                sawWidth = c.width == 4790;
        QVERIFY(sawWidth);
        QCOMPARE(s.row(0).heightTwips, uint16_t(1002));
        QVERIFY(s.row(0).customHeight);
        QCOMPARE(s.usedRange(), (CellRange{0, 22, 0, 12}));
    }

    void handmadeCellKindsAndEmbeddedChart()
    {
        Result<Workbook> wb = Workbook::fromBytes(handmadeWorkbook(), "handmade.xls");
        QVERIFY2(wb.ok(), wb.ok() ? "" : qPrintable(wb.error().message));
        for (int round = 0; round < 2; ++round) {
            const Worksheet &s = wb->sheet(0);
            QCOMPARE(s.name(), QStringLiteral("Data"));
            QCOMPARE(wb->text(*s.cellAt(0, 0)), QString::fromUtf8("ab\u20ac!"));
            QCOMPARE(s.cellAt(1, 2)->number, 1.0);
            QCOMPARE(s.cellAt(1, 3)->number, 0.02);
            QCOMPARE(s.cellAt(1, 3)->xf, uint16_t(17));
            QCOMPARE(s.cellAt(2, 2)->type, CellType::Blank);
            QCOMPARE(s.cellAt(2, 2)->xf, uint16_t(23));
            QCOMPARE(s.cellAt(3, 0)->type, CellType::Error);
            QCOMPARE(s.cellAt(3, 0)->code, uint8_t(0x07));
            QCOMPARE(s.cellAt(4, 0)->type, CellType::Formula);
            QCOMPARE(wb->text(*s.cellAt(4, 0)), QStringLiteral("ok"));
            QVERIFY(!s.cellAt(9, 9)); // inside the chart
            QCOMPARE(s.cells().size(), size_t(8));
            QVERIFY(!s.view().showGrid);
            wb = Workbook::fromBytes(*wb->toBytes(), "handmade-saved.xls");
            QVERIFY(wb.ok());
        }
    }

    void templateFacts()
    {
        if (!QFile::exists(kTemplate))
            QSKIP("the template workbook is not in the tree yet");
        const Workbook wb = load(kTemplate);
        QCOMPARE(wb.sheetCount(), 1);
        const Worksheet &s = wb.sheet(wb.activeSheetIndex());
        QCOMPARE(s.name(), QStringLiteral("Grocery List"));
        QVERIFY(!s.view().showGrid);
        QCOMPARE(s.usedRange(), (CellRange{0, 57, 0, 12})); // A1:M58
        QCOMPARE(wb.text(*s.cellAt(12, 3)), QStringLiteral("Canned "));
        for (uint16_t r = 2; r < 12; ++r)
            QVERIFY(!s.cellAt(r, 1) || s.cellAt(r, 1)->type == CellType::Blank);
    }

    void writeKeepsFormatAndNewCellsTakeColumnFormat()
    {
        Workbook wb = load(kData + "/styled.xls");
        Worksheet &s = wb.sheet(0);
        const uint16_t itemXf = s.cellAt(6, 1)->xf;
        s.setText(6, 1, QStringLiteral("Eggs"));
        s.setNumber(6, 0, 7);
        QCOMPARE(s.cellAt(6, 1)->xf, itemXf);
        // Column B has no row format; a cell far below takes the column's COLINFO format.
        uint16_t colXf = 15;
        for (const ColumnInfo &c : s.columns())
            if (c.firstCol <= 1 && c.lastCol >= 1)
                colXf = c.xf;
        s.setText(300, 1, QStringLiteral("far down"));
        QCOMPARE(s.cellAt(300, 1)->xf, colXf);

        const Workbook back = reload(wb);
        QCOMPARE(back.text(*back.sheet(0).cellAt(6, 1)), QStringLiteral("Eggs"));
        QCOMPARE(back.sheet(0).cellAt(6, 1)->xf, itemXf);
        QCOMPARE(back.sheet(0).cellAt(6, 0)->type, CellType::Number);
        QCOMPARE(back.sheet(0).cellAt(6, 0)->number, 7.0);
        QCOMPARE(back.sheet(0).usedRange()->lastRow, uint16_t(300));
    }

    // arrays.xls (LibreOffice from data/arrays.fods): A1 holds an array formula of its own,
    // B1:B2 one array formula over two cells.
    void singleCellArrayIsOverwrittenPartOfALargerOneIsNot()
    {
        Workbook wb = load(kData + "/arrays.xls");
        Worksheet &s = wb.sheet(0);
        QCOMPARE(s.cellAt(0, 0)->type, CellType::Formula);
        QVERIFY(!s.touchesArrayFormula({0, 0, 0, 0}));
        s.setNumber(0, 0, 42);
        QVERIFY(s.touchesArrayFormula({1, 1, 1, 1}));
        QVERIFY(s.touchesArrayFormula({0, 5, 0, 5}));
        QVERIFY_THROWS_EXCEPTION(std::invalid_argument, s.setNumber(1, 1, 7));
        QCOMPARE(s.cellAt(1, 1)->type, CellType::Formula);

        const Workbook back = reload(wb);
        QCOMPARE(back.sheet(0).cellAt(0, 0)->type, CellType::Number);
        QCOMPARE(back.sheet(0).cellAt(0, 0)->number, 42.0);
        QCOMPARE(back.sheet(0).cellAt(0, 1)->type, CellType::Formula);
    }

    void roundTripKeepsEveryOtherRecord_data()
    {
        QTest::addColumn<QString>("file");
        QTest::newRow("styled") << kData + "/styled.xls";
        QTest::newRow("multi") << kData + "/multi.xls";
        QTest::newRow("longtext") << kData + "/longtext.xls";
        QTest::newRow("libreoffice") << kData + "/libreoffice_styled.xls";
        QTest::newRow("shared formulas") << kData + "/shared_formulas.xls";
        if (QFile::exists(kTemplate))
            QTest::newRow("template") << kTemplate;
    }
    void roundTripKeepsEveryOtherRecord()
    {
        QFETCH(QString, file);
        Workbook wb = load(file);
        wb.sheet(0).setText(1, 1, QString::fromUtf8("\u00e9dit\u00e9"));
        wb.sheet(0).setNumber(2, 0, 3.25);
        const Workbook back = reload(wb);
        QVERIFY(sameCells(wb, back));
        // Records outside the cell table and the SST are written back byte for byte.
        QCOMPARE(back.globalRecords().size(), wb.globalRecords().size());
        for (size_t i = 0; i < wb.globalRecords().size(); ++i) {
            const Record &a = wb.globalRecords()[i], &b = back.globalRecords()[i];
            QCOMPARE(a.id, b.id);
            if (a.id != biff::rec::BOUNDSHEET)
                QVERIFY2(a.data == b.data, recordName(a.id));
        }
        for (int s = 0; s < wb.sheetCount(); ++s) {
            const auto &ra = wb.sheet(s).records(), &rb = back.sheet(s).records();
            QCOMPARE(ra.size(), rb.size());
            for (size_t i = 0; i < ra.size(); ++i) {
                QCOMPARE(ra[i].id, rb[i].id);
                if (ra[i].id != biff::rec::INDEX && ra[i].id != biff::rec::DIMENSIONS)
                    QVERIFY2(ra[i].data == rb[i].data, recordName(ra[i].id));
            }
            QCOMPARE(back.sheet(s).mergedCells(), wb.sheet(s).mergedCells());
        }
    }

    void otherStreamsAreCarriedOver()
    {
        Result<std::vector<uint8_t>> original = [] {
            QFile f(kData + "/styled.xls");
            f.open(QIODevice::ReadOnly);
            const QByteArray b = f.readAll();
            return Result<std::vector<uint8_t>>(std::vector<uint8_t>(b.begin(), b.end()));
        }();
        Result<CompoundFile> cf = CompoundFile::parse(*original);
        QVERIFY(cf.ok());
        cf->setStream("\x05SummaryInformation", {1, 2, 3, 4, 5});
        cf->root().children.push_back(StorageEntry{"Extra", true, {}, {StorageEntry{"inner", false, {9, 9}, {}, {}}}, {}});
        cf->root().children.back().classId[0] = 0x42;
        Result<std::vector<uint8_t>> withExtras = cf->serialize();
        QVERIFY(withExtras.ok());

        Result<Workbook> wb = Workbook::fromBytes(*withExtras, "extras.xls");
        QVERIFY(wb.ok());
        wb->sheet(0).setText(2, 1, QStringLiteral("changed"));
        Result<std::vector<uint8_t>> saved = wb->toBytes();
        QVERIFY(saved.ok());
        Result<CompoundFile> back = CompoundFile::parse(*saved);
        QVERIFY(back.ok());
        QCOMPARE(back->findStream("\x05SummaryInformation")->data, (std::vector<uint8_t>{1, 2, 3, 4, 5}));
        const StorageEntry *extra = nullptr;
        for (const StorageEntry &e : back->root().children)
            if (e.name == "Extra")
                extra = &e;
        QVERIFY(extra && extra->isStorage);
        QCOMPARE(extra->classId[0], uint8_t(0x42));
        QCOMPARE(extra->children.at(0).data, (std::vector<uint8_t>{9, 9}));
    }

    void repeatedRoundTripsDoNotDecay()
    {
        Workbook wb = load(kData + "/styled.xls");
        std::vector<uint8_t> previous;
        for (int round = 0; round < 4; ++round) {
            wb.sheet(0).setText(uint16_t(7 + round), 1, QStringLiteral("round %1").arg(round));
            wb.sheet(0).setNumber(uint16_t(7 + round), 0, round + 0.5);
            Workbook back = reload(wb);
            QVERIFY(sameCells(wb, back));
            wb = std::move(back);
        }
        // With no further edits the stream reaches a fixed point: a save of a save is identical.
        const std::vector<uint8_t> once = workbookStream(*wb.toBytes());
        const std::vector<uint8_t> twice = workbookStream(*reload(wb).toBytes());
        QVERIFY(once == twice);
    }

    void indexAndDbcellPointAtTheirRecords()
    {
        Workbook wb = load(QFile::exists(kTemplate) ? kTemplate : kData + "/styled.xls");
        for (uint16_t r = 0; r < 200; r += 3)
            wb.sheet(0).setNumber(r, 4, r);
        const std::vector<uint8_t> stream = workbookStream(*wb.toBytes());
        const std::vector<Record> recs = walk(stream);
        auto at = [&](size_t offset) -> const Record * {
            for (const Record &r : recs)
                if (r.offset == offset)
                    return &r;
            return nullptr;
        };
        int boundsheets = 0, dbcells = 0;
        for (const Record &r : recs) {
            if (r.id == biff::rec::BOUNDSHEET) {
                const Record *bof = at(getU32(r.data, 0));
                QVERIFY(bof && bof->id == biff::rec::BOF);
                ++boundsheets;
            }
            if (r.id == biff::rec::INDEX) {
                // Zero when the sheet has no DEFCOLWIDTH record.
                if (const uint32_t pos = getU32(r.data, biff::index::kDefColWidthPos); pos != 0) {
                    const Record *defcol = at(pos);
                    QVERIFY(defcol && defcol->id == biff::rec::DEFCOLWIDTH);
                }
                for (size_t k = biff::index::kDbCells; k + 4 <= r.data.size(); k += 4) {
                    const Record *db = at(getU32(r.data, k));
                    QVERIFY(db && db->id == biff::rec::DBCELL);
                    const Record *firstRow = at(db->offset - getU32(db->data, 0));
                    QVERIFY(firstRow && firstRow->id == biff::rec::ROW);
                    // rgdb[0] counts from the end of the first ROW record to the row's first cell.
                    const size_t firstCell = firstRow->offset + 4 + biff::row::kSize + getU16(db->data, 4);
                    const Record *cell = at(firstCell);
                    QVERIFY(cell && cell->id != biff::rec::ROW);
                    ++dbcells;
                }
            }
        }
        QCOMPARE(boundsheets, 1);
        QVERIFY(dbcells >= 7); // rows 0..198 make at least seven 32-row blocks
    }

    void manyStringsForceContinueAndSurvive()
    {
        Workbook wb = load(kData + "/multi.xls");
        for (uint16_t r = 0; r < 3000; ++r) {
            wb.sheet(1).setText(r, 5, QStringLiteral("item number %1 \u00e9\u00e8 %2").arg(r).arg(QString(r % 50, QChar(0x3042))));
            wb.sheet(1).setNumber(r, 6, r * 0.01);
        }
        const Workbook back = reload(wb);
        QVERIFY(sameCells(wb, back));
        int continues = 0;
        for (const Record &r : walk(workbookStream(*wb.toBytes())))
            continues += r.id == biff::rec::CONTINUE;
        QVERIFY(continues > 5);
    }

    void longestTextSurvives()
    {
        Workbook wb = load(kData + "/longtext.xls");
        QCOMPARE(wb.text(*wb.sheet(0).cellAt(0, 0)).size(), qsizetype(32767));
        QCOMPARE(wb.text(*wb.sheet(0).cellAt(1, 0)), QString::fromUtf8("\u00fc\u20ac").repeated(16384).left(32767));
        const QString mixed = QString(16000, QChar(0x00E9)) + QString(16767, QChar(0x4E2D));
        wb.sheet(0).setText(3, 0, mixed);
        QVERIFY_THROWS_EXCEPTION(std::invalid_argument, wb.sheet(0).setText(4, 0, QString(32768, 'x')));
        const Workbook back = reload(wb);
        QCOMPARE(back.text(*back.sheet(0).cellAt(3, 0)), mixed);
        QVERIFY(sameCells(wb, back));
    }

    void saveReplacesAtomicallyAndReportsFailures()
    {
        QTemporaryDir dir;
        const QString target = dir.filePath("out.xls");
        QFile old(target);
        QVERIFY(old.open(QIODevice::WriteOnly));
        old.write("old content");
        old.close();
        const Workbook wb = load(kData + "/styled.xls");
        QVERIFY(wb.saveAs(target).ok());
        QVERIFY(Workbook::open(target).ok());
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{"out.xls"}); // no temporary left behind

        const Status s = wb.saveAs(dir.filePath("missing-folder/out.xls"));
        QVERIFY(!s.ok());
        QVERIFY2(s.error().message.contains("missing-folder"), qPrintable(s.error().message));
    }

    void badInputFailsWithItsError_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<QString>("problem");
        QFile manifest(kData + "/bad/expected.txt");
        QVERIFY(manifest.open(QIODevice::ReadOnly | QIODevice::Text));
        while (!manifest.atEnd()) {
            const QString line = QString::fromUtf8(manifest.readLine()).trimmed();
            if (line.isEmpty() || line.startsWith('#'))
                continue;
            const QString name = line.section('\t', 0, 0);
            QTest::newRow(qPrintable(name)) << kData + "/bad/" + name << line.section('\t', 1);
        }
    }
    void badInputFailsWithItsError()
    {
        QFETCH(QString, file);
        QFETCH(QString, problem);
        Result<Workbook> wb = Workbook::open(file);
        QVERIFY(!wb.ok());
        const QString message = wb.error().message;
        QVERIFY2(message.contains(QFileInfo(file).fileName()), qPrintable(message));
        QVERIFY2(message.contains(problem), qPrintable(message));
    }
};

QTEST_GUILESS_MAIN(TestXlsWorkbook)
#include "test_xls_workbook.moc"
