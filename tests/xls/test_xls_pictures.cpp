// The picture decoder fed with hand-built (and broken) drawing records, and the pictures the
// model reads from real workbooks: anchors, and bytes an image library reads.

#include "platform/xls/Pictures.h"
#include "platform/xls/Workbook.h"

#include <QBuffer>
#include <QImage>
#include <QtTest>

using namespace xls;

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

// A bitmap BLIP: one UID (16 bytes), the tag byte, then the picture's own bytes.
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

QByteArray bytesOf(std::span<const uint8_t> v) { return QByteArray(reinterpret_cast<const char *>(v.data()), qsizetype(v.size())); }

QImage decoded(const StoredImage &image, const char *format)
{
    return QImage::fromData(bytesOf(image.bytes()), format);
}

} // namespace

class TestXlsPictures : public QObject {
    Q_OBJECT
private slots:
    void blipStoreKeepsBitmapsAndSkipsTheRest()
    {
        QImage green(4, 3, QImage::Format_RGB32);
        green.fill(QColor(0, 160, 0));
        const QByteArray png = encoded(green, "PNG"), jpeg = encoded(green, "JPEG");
        const QByteArray store = escher(officeart::BStoreContainer,
                                        fbse(bitmapBlip(officeart::BlipPNG, 0x6E0, png))
                                            + fbse(bitmapBlip(officeart::BlipJPEG, 0x46B, QByteArray(16, '\x22') + jpeg))
                                            + fbse(bitmapBlip(officeart::BlipDIB, 0x7A8, dib24()))
                                            + fbse(escher(officeart::BlipWMF, QByteArray(16 + 34 + 20, '\0'), 0, 0x216))
                                            + fbse(QByteArray()),
                                        0xF);
        const std::vector<StoredImage> images = readBlipStore(bytesOf(escher(officeart::DggContainer, store, 0xF)));
        QCOMPARE(images.size(), size_t(5));
        QCOMPARE(images[0].kind, ImageKind::Png);
        QCOMPARE(bytesOf(images[0].bytes()), png); // the picture's own bytes, unchanged
        QCOMPARE(images[1].kind, ImageKind::Jpeg);
        QCOMPARE(bytesOf(images[1].bytes()), jpeg); // found behind two UIDs
        QCOMPARE(images[2].kind, ImageKind::Bmp); // the DIB with a file header in front
        const QImage dib = decoded(images[2], "BMP");
        QCOMPARE(dib.pixelColor(0, 0), QColor(0, 0, 255));
        QCOMPARE(dib.pixelColor(1, 0), QColor(255, 0, 0));
        QCOMPARE(images[3].kind, ImageKind::Metafile); // nothing here draws it
        QVERIFY(images[3].bytes().empty());
        QCOMPARE(images[4].kind, ImageKind::None); // stored elsewhere (delay stream)
    }

    void brokenDrawingRecordsAreSurvived()
    {
        // A container that claims 4 GB.
        QByteArray lying = escher(officeart::DggContainer, QByteArray(), 0xF);
        lying.replace(4, 4, QByteArray(4, '\xff'));
        lying += fbse(bitmapBlip(officeart::BlipDIB, 0x7A8, "not a dib"));
        QCOMPARE(readBlipStore(bytesOf(lying)).size(), size_t(1));
        QCOMPARE(readBlipStore(bytesOf(lying))[0].kind, ImageKind::None);

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

    void pictureShapesNeedPibAndAnchor()
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

    void dibHeaders()
    {
        // BITMAPCOREHEADER as in IMDATA: 2x1, 24 bits, one row padded to 8 bytes.
        const QByteArray core = u32(12) + u16s({2, 1, 1, 24}) + QByteArray::fromHex("00ff00" "ffffff" "0000");
        const QImage image = QImage::fromData(bytesOf(bmpFromDib(bytesOf(core))), "BMP");
        QCOMPARE(image.size(), QSize(2, 1));
        QCOMPARE(image.pixelColor(0, 0), QColor(0, 255, 0));

        // 8 bits a pixel with a two-colour table: the pixels start after the table, which the
        // file header's pixel offset (bytes 10..13) must say: 14 + 40 + 2 x 4.
        QByteArray pal = u32(40) + u32(2) + u32(1) + u16s({1, 8}) + u32(0) + u32(4) + u32(0) + u32(0) + u32(2) + u32(0);
        pal += QByteArray::fromHex("0000ff00" "00ff0000") + QByteArray::fromHex("0100" "0000");
        const QByteArray bmp = bytesOf(bmpFromDib(bytesOf(pal)));
        QCOMPARE(bmp.left(2), QByteArray("BM"));
        QCOMPARE(bmp.mid(2, 4), u32(uint32_t(14 + pal.size())));
        QCOMPARE(bmp.mid(10, 4), u32(14 + 40 + 8));
        const QImage indexed = QImage::fromData(bmp, "BMP");
        QCOMPARE(indexed.pixelColor(0, 0), QColor(0, 255, 0));
        QCOMPARE(indexed.pixelColor(1, 0), QColor(255, 0, 0));

        QVERIFY(bmpFromDib(bytesOf(QByteArray("garbage garbage garbage garbage garbage garbage"))).empty());
        QVERIFY(bmpFromDib(bytesOf(u32(40))).empty());
        QByteArray hugeTable = pal;
        hugeTable.replace(32, 4, u32(0x7FFFFFFF));
        QVERIFY(bmpFromDib(bytesOf(hugeTable)).empty());
    }

    void modelHoldsTheSheetsPictures()
    {
        // pictures.xls (tests/render/make_test_books.py): a PNG from B2 to C3, a metafile, a
        // broken PNG, a shape whose picture is missing, and xlwt's bitmap in E6.
        Result<Workbook> book = Workbook::open(QStringLiteral(RENDER_TEST_DATA "/pictures.xls"));
        QVERIFY(book.ok());
        const std::vector<SheetPicture> &pictures = book->sheet(0).pictures();
        QCOMPARE(pictures.size(), size_t(5));
        QCOMPARE(pictures[0].anchor, (CellAnchor{1, 512, 1, 128, 2, 512, 2, 128}));
        QCOMPARE(pictures[0].image.kind, ImageKind::Png);
        QCOMPARE(decoded(pictures[0].image, "PNG").pixelColor(0, 0), QColor(0, 160, 0));
        QCOMPARE(pictures[1].image.kind, ImageKind::Metafile);
        QCOMPARE(pictures[2].image.kind, ImageKind::Png);
        QVERIFY(decoded(pictures[2].image, "PNG").isNull());
        QCOMPARE(pictures[3].image.kind, ImageKind::None);
        QCOMPARE(pictures[4].image.kind, ImageKind::Bmp);
        QCOMPARE(pictures[4].anchor.col1, uint16_t(4));
        QCOMPARE(decoded(pictures[4].image, "BMP").pixelColor(0, 0), QColor(255, 0, 255));

        // The template's clip-art: two pictures, each with its bytes.
        Result<Workbook> grocery = Workbook::open(QStringLiteral(PANTRIMO_TEMPLATE_XLS));
        QVERIFY(grocery.ok());
        QVERIFY(!grocery->sheet(0).pictures().empty());
        for (const SheetPicture &p : grocery->sheet(0).pictures())
            QVERIFY(!p.image.bytes().empty());
    }
};

QTEST_GUILESS_MAIN(TestXlsPictures)
#include "test_xls_pictures.moc"
