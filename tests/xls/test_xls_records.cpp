// Record-level tests: the cursor, record framing, CONTINUE splitting both ways, the shared
// string table and RK numbers. Byte arrays read like hex dumps, one comment per field.

#include "platform/xls/Records.h"
#include "platform/xls/WorkbookReader.h"

#include <QTest>

using namespace xls;

namespace {

using Bytes = std::vector<uint8_t>;

std::span<const uint8_t> span(const Bytes &b) { return {b.data(), b.size()}; }

QString repeat(QChar c, int n) { return QString(n, c); }

} // namespace

class TestXlsRecords : public QObject {
    Q_OBJECT
private slots:
    void cursorFailsAtEndAndStaysFailed()
    {
        const Bytes b = {0x34, 0x12, 0xFF};
        ByteCursor c(span(b));
        uint16_t v = 0;
        QVERIFY(c.readU16(v));
        QCOMPARE(v, uint16_t(0x1234));
        uint32_t w = 7;
        QVERIFY(!c.readU32(w)); // one byte left, four wanted
        QCOMPARE(w, 0u);
        uint8_t u = 0;
        QVERIFY(!c.readU8(u)); // still failed although a byte is there
        QVERIFY(!c.ok());
        QVERIFY(!c.skip(size_t(-1)));
    }

    void recordRunningPastStreamIsNamed()
    {
        const Bytes stream = {
            0xFD, 0x00,             // id: LABELSST
            0x0A, 0x00,             // length: 10
            0x01, 0x00, 0x02, 0x00, // only 4 of the 10 data bytes
        };
        ByteCursor c(span(stream));
        Result<Record> r = readRecord(c);
        QVERIFY(!r);
        QVERIFY2(r.error().message.contains("LABELSST record at offset 0 declares 10 bytes"), qPrintable(r.error().message));
    }

    void continuedStringChangesCompression_data()
    {
        QTest::addColumn<Bytes>("first");
        QTest::addColumn<Bytes>("second");
        QTest::addColumn<QString>("expected");
        QTest::newRow("8-bit then 16-bit") << Bytes{
            0x05, 0x00, // cch: 5
            0x00,       // options: 8-bit characters
            'a', 'b',   // two characters before the boundary
        } << Bytes{
            0x01,                         // CONTINUE option byte: now 16-bit
            0xE9, 0x00, 0xAC, 0x20, 0x63, 0x00, // e-acute, euro sign, 'c'
        } << QString::fromUtf8("ab\u00e9\u20acc");
        QTest::newRow("16-bit then 8-bit") << Bytes{
            0x04, 0x00, // cch: 4
            0x01,       // options: 16-bit characters
            0x3A, 0x04, // U+043A
        } << Bytes{
            0x00,            // CONTINUE option byte: now 8-bit
            'x', 'y', 0xFC,  // 'x', 'y', u-umlaut as Latin-1
        } << QString::fromUtf8("\u043axy\u00fc");
        QTest::newRow("header split before the characters") << Bytes{
            0x02, 0x00, // cch: 2
            0x00,       // options: 8-bit
        } << Bytes{
            0x01,                   // option byte of the CONTINUE: 16-bit
            0x41, 0x00, 0x42, 0x00, // "AB"
        } << QStringLiteral("AB");
    }
    void continuedStringChangesCompression()
    {
        QFETCH(Bytes, first);
        QFETCH(Bytes, second);
        QFETCH(QString, expected);
        ContinueReader in({span(first), span(second)});
        QString text;
        Bytes runs, phonetic;
        QVERIFY(in.readRichString(text, runs, phonetic));
        QCOMPARE(text, expected);
        QVERIFY(in.atEnd());
    }

    void brokenStringsFail_data()
    {
        QTest::addColumn<Bytes>("first");
        QTest::addColumn<Bytes>("second");
        QTest::newRow("characters missing") << Bytes{
            0x09, 0x00, // cch: 9
            0x00,       // 8-bit
            'a', 'b',   // only two
        } << Bytes{};
        QTest::newRow("half a UTF-16 unit before a boundary") << Bytes{
            0x02, 0x00, // cch: 2
            0x01,       // 16-bit
            0x41,       // low byte only
        } << Bytes{0x01, 0x00, 0x42, 0x00};
        QTest::newRow("phonetic block larger than the record") << Bytes{
            0x01, 0x00,             // cch: 1
            0x04,                   // options: phonetic block follows
            0xFF, 0xFF, 0xFF, 0x7F, // cbExtRst: 2 GiB
            'a',
        } << Bytes{};
    }
    void brokenStringsFail()
    {
        QFETCH(Bytes, first);
        QFETCH(Bytes, second);
        std::vector<std::span<const uint8_t>> segs{span(first)};
        if (!second.empty())
            segs.push_back(span(second));
        ContinueReader in(segs);
        QString text;
        Bytes runs, phonetic;
        QVERIFY(!in.readRichString(text, runs, phonetic));
    }

    void writerSplitsLongStringWithOptionBytes_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("width");
        QTest::newRow("32767 8-bit") << repeat('a', 32767) << 1;
        QTest::newRow("32767 16-bit") << repeat(QChar(0x20AC), 32767) << 2;
    }
    void writerSplitsLongStringWithOptionBytes()
    {
        QFETCH(QString, text);
        QFETCH(int, width);
        ContinueWriter w(biff::rec::SST);
        w.richString(text, {}, {});
        const std::vector<Record> recs = w.finish();
        QVERIFY(recs.size() > 1);
        QCOMPARE(recs.front().id, biff::rec::SST);
        size_t chars = 0;
        for (size_t i = 0; i < recs.size(); ++i) {
            QVERIFY(recs[i].data.size() <= biff::kMaxRecordData);
            if (i > 0) {
                QCOMPARE(recs[i].id, biff::rec::CONTINUE);
                // Every CONTINUE of character data starts with the option byte.
                QCOMPARE(recs[i].data.front(), uint8_t(width == 2 ? 1 : 0));
                chars += (recs[i].data.size() - 1) / size_t(width);
            } else {
                chars += (recs[i].data.size() - 3) / size_t(width);
            }
        }
        QCOMPARE(chars, size_t(text.size()));

        std::vector<std::span<const uint8_t>> segs;
        for (const Record &r : recs)
            segs.emplace_back(r.data);
        ContinueReader in(segs);
        QString back;
        Bytes runs, phonetic;
        QVERIFY(in.readRichString(back, runs, phonetic));
        QCOMPARE(back, text);
    }

    void writerNeverSplitsAStringHeader()
    {
        ContinueWriter w(biff::rec::SST);
        w.bytes(Bytes(biff::kMaxRecordData - 4, 0xAA)); // 4 bytes of room left
        // Header (cch 2 + options 1 + run count 2) and the first character do not fit in 4.
        const Bytes runs = {0x00, 0x00, 0x05, 0x00}; // run at char 0, font 5
        const auto at = w.richString(QStringLiteral("hi"), runs, {});
        QCOMPARE(at.first, size_t(1));
        QCOMPARE(at.second, size_t(0));
        const std::vector<Record> recs = w.finish();
        QCOMPARE(recs.size(), size_t(2));
        const Bytes expected = {
            0x02, 0x00, // cch: 2
            0x08,       // options: rich text, 8-bit
            0x01, 0x00, // one formatting run
            'h', 'i',   // characters
            0x00, 0x00, 0x05, 0x00, // run: from char 0, font 5
        };
        QCOMPARE(recs[1].data, expected);
    }

    void sharedStringTableRoundTrip()
    {
        std::vector<SharedString> strings = {
            {QString(), {}, {}},
            {QStringLiteral("Meat/Seafood"), {}, {}},
            {QString::fromUtf8("Cr\u00e8me fra\u00eeche \u65e5\u672c\u8a9e \U0001F34E"), {}, {}},
            {repeat('z', 32767), {}, {}},
            {repeat(QChar(0x0416), 20000) + repeat('b', 12767), {}, {}},
            {QStringLiteral("bold tail"), {0x00, 0x00, 0x06, 0x00, 0x05, 0x00, 0x07, 0x00}, {}},
            {QStringLiteral("ruby"), {}, {0x01, 0x00, 0x0A, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00}},
        };
        for (int i = 0; i < 300; ++i)
            strings.push_back({QStringLiteral("item %1").arg(i), {}, {}});
        std::vector<const SharedString *> ptrs;
        for (const SharedString &s : strings)
            ptrs.push_back(&s);

        StreamWriter out;
        out.put(biff::rec::BOF, Bytes(16, 0)); // something before, so stream offsets are not record offsets
        WorkbookWriter::writeSST(out, ptrs, 999);
        const std::vector<uint8_t> &stream = out.bytes();

        ByteCursor c({stream.data(), stream.size()});
        QVERIFY(readRecord(c).ok());
        std::vector<Record> parts;
        Record ext;
        while (!c.atEnd()) {
            Result<Record> r = readRecord(c);
            QVERIFY(r.ok());
            if (r->id == biff::rec::EXTSST)
                ext = *r;
            else
                parts.push_back(*r);
        }
        QVERIFY(parts.size() > 3);
        QCOMPARE(getU32(parts[0].data, 0), 999u);
        QCOMPARE(getU32(parts[0].data, 4), uint32_t(strings.size()));

        Workbook wb;
        QVERIFY(WorkbookReader::readSST(wb, parts).ok());
        QCOMPARE(wb.strings().size(), strings.size());
        for (size_t i = 0; i < strings.size(); ++i) {
            QCOMPARE(wb.strings()[i].text, strings[i].text);
            QCOMPARE(wb.strings()[i].runs, strings[i].runs);
            QCOMPARE(wb.strings()[i].phonetic, strings[i].phonetic);
        }

        // EXTSST: each bucket's stream position lands on a string header whose length is
        // the first string of that bucket.
        const uint16_t perBucket = getU16(ext.data, 0);
        QCOMPARE(ext.data.size(), size_t(2 + 8 * ((strings.size() + perBucket - 1) / perBucket)));
        for (size_t b = 0; b * perBucket < strings.size(); ++b) {
            const uint32_t pos = getU32(ext.data, 2 + 8 * b);
            QCOMPARE(getU16(stream, pos), uint16_t(strings[b * perBucket].text.size()));
        }
    }

    void sstGatheredAcrossContinuesWithCompressionChange()
    {
        // The table's header fills the SST record alone, so its string count is only honest
        // counted over the CONTINUE records; the second string changes width at the boundary.
        const Bytes stream = {
            0xFC, 0x00, 0x08, 0x00, // SST, 8 bytes
            0x03, 0x00, 0x00, 0x00, //   total references: 3
            0x03, 0x00, 0x00, 0x00, //   unique strings: 3
            0x3C, 0x00, 0x09, 0x00, // CONTINUE, 9 bytes
            0x02, 0x00, 0x00,       //   cch 2, 8-bit
            'a', 'b',               //   "ab"
            0x03, 0x00, 0x00,       //   cch 3, 8-bit
            'x',                    //   one character before the boundary
            0x3C, 0x00, 0x0A, 0x00, // CONTINUE, 10 bytes
            0x01,                   //   option byte of the continued characters: 16-bit
            'y', 0x00, 'z', 0x00,   //   "yz"
            0x01, 0x00, 0x01,       //   a new string starts without a resumed option byte: cch 1, 16-bit
            0x16, 0x04,             //   U+0416
            0xFD, 0x00, 0x00, 0x00, // LABELSST (empty): not part of the table
        };
        ByteCursor c(span(stream));
        Result<Record> sst = readRecord(c);
        QVERIFY(sst.ok());
        std::vector<Record> parts{*sst};
        for (Record &k : readContinuation(c))
            parts.push_back(std::move(k));
        QCOMPARE(parts.size(), size_t(3));
        Result<Record> after = readRecord(c);
        QVERIFY(after.ok());
        QCOMPARE(after->id, biff::rec::LABELSST);

        Workbook wb;
        const Status read = WorkbookReader::readSST(wb, parts);
        QVERIFY2(read.ok(), qPrintable(read.ok() ? QString() : read.error().message));
        QCOMPARE(wb.strings().size(), size_t(3));
        QCOMPARE(wb.strings()[0].text, QStringLiteral("ab"));
        QCOMPARE(wb.strings()[1].text, QStringLiteral("xyz"));
        QCOMPARE(wb.strings()[2].text, QString(QChar(0x0416)));
    }

    void rkEncoding_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<bool>("fitsRk");
        QTest::newRow("small integer") << 1.0 << true;
        QTest::newRow("negative integer") << -42.0 << true;
        QTest::newRow("largest 30-bit integer") << double((1 << 29) - 1) << true;
        QTest::newRow("beyond 30 bits") << double(1 << 29) * 4 + 1 << false;
        QTest::newRow("hundredths") << 12.34 << true;
        QTest::newRow("half") << 2.5 << true;
        QTest::newRow("needs 52 bits") << 0.1 + 0.2 << false;
        QTest::newRow("negative zero") << -0.0 << true;
    }
    void rkEncoding()
    {
        QFETCH(double, value);
        QFETCH(bool, fitsRk);
        uint32_t rk = 0;
        QCOMPARE(encodeRk(value, rk), fitsRk);
        if (fitsRk) {
            QCOMPARE(decodeRk(rk), value); // exact, never merely close
            QCOMPARE(std::signbit(decodeRk(rk)), std::signbit(value));
        }
    }

    void recordBuilderCatchesSizeMismatch()
    {
        RecordBuilder b(biff::rec::RK, biff::cell::kRkSize);
        b.u16(0).u16(0).u16(15); // the value is missing
        QVERIFY_THROWS_EXCEPTION(std::logic_error, b.finish());
    }
};

QTEST_APPLESS_MAIN(TestXlsRecords)
#include "test_xls_records.moc"
