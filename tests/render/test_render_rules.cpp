// The arithmetic under the picture: column and row pixels, General numbers, which border line
// wins, and the picture decoder fed with hand-built (and broken) drawing records.

#include "render/CellText.h"
#include "render/Geometry.h"
#include "render/OfficeArt.h"
#include "render/Strokes.h"

#include <QBuffer>
#include <QtTest>

using namespace render;

namespace {

// An OfficeArt record: header (version, instance, type, length) and body.
QByteArray escher(uint16_t type, const QByteArray &body, uint16_t version = 0, uint16_t instance = 0)
{
    QByteArray out;
    auto u16 = [&out](uint16_t v) { out.append(char(v & 0xFF)).append(char(v >> 8)); };
    u16(uint16_t(version | (instance << 4)));
    u16(type);
    const uint32_t n = uint32_t(body.size());
    for (int i = 0; i < 4; ++i)
        out.append(char((n >> (8 * i)) & 0xFF));
    return out + body;
}

QByteArray u16s(std::initializer_list<uint16_t> values)
{
    QByteArray out;
    for (uint16_t v : values)
        out.append(char(v & 0xFF)).append(char(v >> 8));
    return out;
}

QByteArray u32(uint32_t v)
{
    QByteArray out;
    for (int i = 0; i < 4; ++i)
        out.append(char((v >> (8 * i)) & 0xFF));
    return out;
}

// An FBSE holding one BLIP record: 36 fixed bytes (name length 0), then the BLIP.
QByteArray fbse(const QByteArray &blip)
{
    QByteArray fixed(36, '\0');
    return escher(officeart::FBSE, fixed + blip, 2);
}

QByteArray bitmapBlip(uint16_t type, uint16_t instance, const QByteArray &data)
{
    return escher(type, QByteArray(16, '\x11') + QByteArray(1, '\xff') + data, 0, instance);
}

QByteArray encoded(const QImage &image, const char *format)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

// A 2x1 24-bit DIB behind a BITMAPINFOHEADER: left pixel blue, right pixel red (rows bottom-up).
QByteArray dib24()
{
    QByteArray d = u32(40) + u32(2) + u32(1) + u16s({1, 24}) + u32(0) + u32(8) + u32(3780) + u32(3780) + u32(0) + u32(0);
    d += QByteArray::fromHex("ff0000" "0000ff" "0000");
    return d;
}

std::span<const uint8_t> bytesOf(const QByteArray &b)
{
    return {reinterpret_cast<const uint8_t *>(b.constData()), size_t(b.size())};
}

} // namespace

class TestRenderRules : public QObject {
    Q_OBJECT
private slots:
    void columnWidth_data();
    void columnWidth();
    void rowHeight_data();
    void rowHeight();
    void defaultColumnWidthRoundsToEight();
    void general_data();
    void general();
    void strongerLineWins();
    void blipStoreDecodesBitmapsAndSkipsTheRest();
    void brokenDrawingRecordsAreSurvived();
    void pictureShapesNeedPibAndAnchor();
    void dibHeaders();
};

void TestRenderRules::columnWidth_data()
{
    QTest::addColumn<int>("stored");
    QTest::addColumn<int>("pixels");
    QTest::newRow("3.43 chars") << 1060 << 29;
    QTest::newRow("18.71 chars") << 4973 << 136;
    QTest::newRow("3.29 chars") << 1024 << 28;
    QTest::newRow("3.71 chars") << 1133 << 31;
    QTest::newRow("8.43 chars") << 2340 << 64;
    QTest::newRow("zero") << 0 << 0;
    QTest::newRow("widest") << 65535 << 1792;
}

void TestRenderRules::columnWidth()
{
    QFETCH(int, stored);
    QFETCH(int, pixels);
    QCOMPARE(columnWidthPx(uint16_t(stored)), pixels);
}

void TestRenderRules::rowHeight_data()
{
    QTest::addColumn<int>("twips");
    QTest::addColumn<int>("pixels");
    QTest::newRow("50.1 pt title") << 1002 << 67;
    QTest::newRow("21.95 pt caption") << 439 << 29;
    QTest::newRow("21.75 pt caption") << 435 << 29;
    QTest::newRow("18 pt item") << 360 << 24;
    QTest::newRow("13.5 pt default") << 270 << 18;
    QTest::newRow("12.75 pt") << 255 << 17;
    QTest::newRow("zero") << 0 << 0;
}

void TestRenderRules::rowHeight()
{
    QFETCH(int, twips);
    QFETCH(int, pixels);
    QCOMPARE(rowHeightPx(uint16_t(twips)), pixels);
}

void TestRenderRules::defaultColumnWidthRoundsToEight()
{
    QCOMPARE(defaultColumnWidthPx(8), 64);
    QCOMPARE(defaultColumnWidthPx(10), 80);
    QCOMPARE(defaultColumnWidthPx(0), 8);
}

void TestRenderRules::general_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("text");
    QTest::newRow("integer") << 20.0 << QStringLiteral("20");
    QTest::newRow("zero") << 0.0 << QStringLiteral("0");
    QTest::newRow("negative zero") << -0.0 << QStringLiteral("0");
    QTest::newRow("binary fraction noise") << 0.1 + 0.2 << QStringLiteral("0.3");
    QTest::newRow("third") << 1.0 / 3 << QStringLiteral("0.333333333");
    QTest::newRow("negative third") << -1.0 / 3 << QStringLiteral("-0.333333333");
    QTest::newRow("eleven digits") << 12345678901.0 << QStringLiteral("12345678901");
    QTest::newRow("twelve digits") << 123456789012.0 << QStringLiteral("1.23457E+11");
    QTest::newRow("rounds up to twelve digits") << 99999999999.6 << QStringLiteral("1E+11");
    QTest::newRow("small") << 0.0001234 << QStringLiteral("0.0001234");
    QTest::newRow("tiny") << 0.00001234 << QStringLiteral("1.234E-05");
    QTest::newRow("huge") << 1e300 << QStringLiteral("1E+300");
    QTest::newRow("decimals cut") << 1234567.891234 << QStringLiteral("1234567.891");
}

void TestRenderRules::general()
{
    QFETCH(double, value);
    QFETCH(QString, text);
    QCOMPARE(formatGeneral(value), text);
    QVERIFY(formatGeneral(value).remove(QLatin1Char('-')).size() <= kGeneralMaxChars);
}

void TestRenderRules::strongerLineWins()
{
    constexpr uint8_t thin = 1, medium = 2, dashed = 3, dotted = 4, thick = 5, dbl = 6, hair = 7;
    QVERIFY(outranks(thick, thin));
    QVERIFY(outranks(thick, dbl));
    QVERIFY(outranks(dbl, medium));
    QVERIFY(outranks(medium, thin));
    QVERIFY(outranks(thin, dashed));
    QVERIFY(outranks(dashed, dotted));
    QVERIFY(outranks(dotted, hair));
    QVERIFY(outranks(hair, 0));
    QVERIFY(!outranks(thin, thin)); // a tie goes to the second cell
    QCOMPARE(lineStyle(15).width, 1); // a style number a damaged file may hold still draws
}

void TestRenderRules::blipStoreDecodesBitmapsAndSkipsTheRest()
{
    QImage green(4, 3, QImage::Format_RGB32);
    green.fill(QColor(0, 160, 0));
    const QByteArray store = escher(officeart::BStoreContainer,
                                    fbse(bitmapBlip(officeart::BlipPNG, 0x6E0, encoded(green, "PNG")))
                                        + fbse(bitmapBlip(officeart::BlipJPEG, 0x46B, QByteArray(16, '\x22') + encoded(green, "JPEG")))
                                        + fbse(bitmapBlip(officeart::BlipDIB, 0x7A8, dib24()))
                                        + fbse(escher(officeart::BlipWMF, QByteArray(16 + 34 + 20, '\0'), 0, 0x216))
                                        + fbse(QByteArray()),
                                    0xF);
    const std::vector<QImage> images = readBlipStore(bytesOf(escher(officeart::DggContainer, store, 0xF)));
    QCOMPARE(images.size(), size_t(5));
    QCOMPARE(images[0].size(), QSize(4, 3));
    QCOMPARE(images[0].pixelColor(1, 1), QColor(0, 160, 0));
    QCOMPARE(images[1].size(), QSize(4, 3)); // the JPEG behind two UIDs
    QCOMPARE(images[2].pixelColor(0, 0), QColor(0, 0, 255));
    QCOMPARE(images[2].pixelColor(1, 0), QColor(255, 0, 0));
    QVERIFY(images[3].isNull()); // metafile: left empty
    QVERIFY(images[4].isNull()); // stored elsewhere (delay stream): left empty
}

void TestRenderRules::brokenDrawingRecordsAreSurvived()
{
    // A container that claims 4 GB.
    QByteArray lying = escher(officeart::DggContainer, QByteArray(), 0xF);
    lying.replace(4, 4, QByteArray(4, '\xff'));
    lying += fbse(bitmapBlip(officeart::BlipPNG, 0x6E0, "not a png"));
    QCOMPARE(readBlipStore(bytesOf(lying)).size(), size_t(1));
    QVERIFY(readBlipStore(bytesOf(lying))[0].isNull());

    // Containers nested far deeper than any writer nests them.
    QByteArray deep = fbse(QByteArray());
    for (int i = 0; i < 2000; ++i)
        deep = escher(officeart::SpgrContainer, deep, 0xF);
    QVERIFY(readBlipStore(bytesOf(deep)).empty());

    // Truncated everywhere.
    const QByteArray good = escher(officeart::DggContainer, fbse(bitmapBlip(officeart::BlipDIB, 0x7A8, dib24())), 0xF);
    for (qsizetype n = 0; n < good.size(); ++n)
        readBlipStore(bytesOf(good.left(n)));
    QCOMPARE(readBlipStore(bytesOf(good)).size(), size_t(1));
}

void TestRenderRules::pictureShapesNeedPibAndAnchor()
{
    const QByteArray pib = escher(officeart::FOPT, u16s({0x4104}) + u32(2), 3, 1);
    const QByteArray anchor = escher(officeart::ClientAnchor, u16s({0, 1, 384, 0, 19, 2, 320, 1, 61}));
    const QByteArray drawing = escher(officeart::DgContainer,
                                      escher(officeart::SpgrContainer,
                                             escher(officeart::SpContainer, pib + anchor, 0xF)
                                                 + escher(officeart::SpContainer, pib, 0xF)              // no anchor
                                                 + escher(officeart::SpContainer, anchor, 0xF)           // no picture
                                                 + escher(officeart::SpContainer, pib + anchor.left(20), 0xF), // cut anchor
                                             0xF),
                                      0xF);
    const std::vector<PictureShape> shapes = readPictureShapes(bytesOf(drawing));
    QCOMPARE(shapes.size(), size_t(1));
    QCOMPARE(shapes[0].blip, 2u);
    QCOMPARE(shapes[0].anchor, (CellAnchor{1, 384, 0, 19, 2, 320, 1, 61}));
}

void TestRenderRules::dibHeaders()
{
    // BITMAPCOREHEADER as in IMDATA: 2x1, 24 bits, one row padded to 8 bytes.
    const QByteArray core = u32(12) + u16s({2, 1, 1, 24}) + QByteArray::fromHex("00ff00" "ffffff" "0000");
    const QImage image = decodeDib(bytesOf(core));
    QCOMPARE(image.size(), QSize(2, 1));
    QCOMPARE(image.pixelColor(0, 0), QColor(0, 255, 0));

    // 8 bits a pixel with a two-colour table: the pixels start after the table.
    QByteArray pal = u32(40) + u32(2) + u32(1) + u16s({1, 8}) + u32(0) + u32(4) + u32(0) + u32(0) + u32(2) + u32(0);
    pal += QByteArray::fromHex("0000ff00" "00ff0000") + QByteArray::fromHex("0100" "0000");
    const QImage indexed = decodeDib(bytesOf(pal));
    QCOMPARE(indexed.pixelColor(0, 0), QColor(0, 255, 0));
    QCOMPARE(indexed.pixelColor(1, 0), QColor(255, 0, 0));

    QVERIFY(decodeDib(bytesOf(QByteArray("garbage garbage garbage garbage garbage garbage"))).isNull());
    QVERIFY(decodeDib(bytesOf(u32(40))).isNull());
    QByteArray hugeTable = pal;
    hugeTable.replace(32, 4, u32(0x7FFFFFFF));
    QVERIFY(decodeDib(bytesOf(hugeTable)).isNull());
}

QTEST_GUILESS_MAIN(TestRenderRules)
#include "test_render_rules.moc"
