#include "OfficeArt.h"

#include "xls/ByteCursor.h"

#include <QByteArray>
#include <climits>
#include <functional>

namespace render {
namespace {

using xls::ByteCursor;
namespace oa = officeart;

struct RecordHeader {
    uint16_t version = 0;
    uint16_t instance = 0;
    uint16_t type = 0;
    std::span<const uint8_t> body;
};

// Reads one record header and body. A body that claims more than what is left is cut to what
// is there: writers have been seen to round container lengths up, and the records inside are
// checked again on their own.
bool readHeader(ByteCursor &c, RecordHeader &h)
{
    uint16_t verInst = 0;
    uint32_t length = 0;
    if (!c.readU16(verInst) || !c.readU16(h.type) || !c.readU32(length))
        return false;
    h.version = verInst & 0x000F;
    h.instance = verInst >> 4;
    const size_t take = std::min<size_t>(length, c.remaining());
    return c.readBytes(take, h.body);
}

using Visitor = std::function<void(const RecordHeader &, int depth)>;

// Calls visit for every record, descending into containers, up to kMaxDepth.
void walk(std::span<const uint8_t> data, const Visitor &visit, int depth = 0)
{
    if (depth > oa::kMaxDepth)
        return;
    ByteCursor c(data);
    RecordHeader h;
    while (!c.atEnd() && readHeader(c, h)) {
        visit(h, depth);
        if (h.version == oa::kContainerVersion)
            walk(h.body, visit, depth + 1);
    }
}

QImage decodeBlip(const RecordHeader &blip)
{
    const size_t uids = (blip.instance & oa::kSecondUidBit) ? 2 : 1;
    ByteCursor c(blip.body);
    switch (blip.type) {
    case oa::BlipJPEG:
    case oa::BlipJPEGCMYK:
    case oa::BlipPNG:
    case oa::BlipTIFF:
    case oa::BlipDIB: {
        if (!c.skip(uids * oa::kUidSize + oa::kBitmapTagSize))
            return {};
        const std::span<const uint8_t> data = c.rest();
        if (blip.type == oa::BlipDIB)
            return decodeDib(data);
        const char *format = blip.type == oa::BlipPNG ? "PNG" : blip.type == oa::BlipTIFF ? "TIFF" : "JPEG";
        return QImage::fromData(data.data(), int(std::min<size_t>(data.size(), INT_MAX)), format);
    }
    default:
        // EMF, WMF and PICT: no decoder here; the frame stays empty.
        return {};
    }
}

CellAnchor readAnchor(ByteCursor &c)
{
    CellAnchor a;
    c.readU16(a.col1);
    c.readU16(a.dx1);
    c.readU16(a.row1);
    c.readU16(a.dy1);
    c.readU16(a.col2);
    c.readU16(a.dx2);
    c.readU16(a.row2);
    c.readU16(a.dy2);
    return a;
}

// The pib of an OPT record, 0 when it has none.
uint32_t readPib(const RecordHeader &opt)
{
    ByteCursor c(opt.body);
    for (uint16_t i = 0; i < opt.instance; ++i) {
        uint16_t id = 0;
        uint32_t value = 0;
        if (!c.readU16(id) || !c.readU32(value))
            return 0;
        if ((id & oa::kPropertyIdMask) == oa::kPropPib)
            return value;
    }
    return 0;
}

// Concatenated data of each record with the given id and the CONTINUE records right after it.
std::vector<uint8_t> joinRecords(const std::vector<const xls::Record *> &records, uint16_t id)
{
    std::vector<uint8_t> out;
    bool inside = false;
    for (const xls::Record *r : records) {
        if (r->id == id)
            inside = true;
        else if (r->id != xls::biff::rec::CONTINUE)
            inside = false;
        if (inside)
            out.insert(out.end(), r->data.begin(), r->data.end());
    }
    return out;
}

// xlwt's OBJ + IMDATA pictures.
void legacyPictures(const xls::Worksheet &sheet, std::vector<SheetPicture> &out)
{
    const std::vector<xls::Record> &records = sheet.records();
    for (size_t i = 0; i + 1 < records.size(); ++i) {
        const xls::Record &obj = records[i];
        if (obj.id != xls::biff::rec::OBJ || records[i + 1].id != legacy::IMDATA || obj.data.size() < legacy::kObjMinSize)
            continue;
        ByteCursor oc(obj.data);
        uint16_t type = 0;
        oc.seek(legacy::kObjType);
        oc.readU16(type);
        oc.seek(legacy::kObjAnchor);
        SheetPicture picture;
        picture.anchor = readAnchor(oc);
        if (!oc.ok() || type != legacy::kObjTypePicture)
            continue;

        std::vector<uint8_t> im = records[i + 1].data;
        for (size_t k = i + 2; k < records.size() && records[k].id == xls::biff::rec::CONTINUE; ++k)
            im.insert(im.end(), records[k].data.begin(), records[k].data.end());
        ByteCursor ic(im);
        uint16_t format = 0, env = 0;
        uint32_t length = 0;
        std::span<const uint8_t> bitmap;
        ic.readU16(format);
        ic.readU16(env);
        ic.readU32(length);
        if (ic.ok() && format == legacy::kImFormatBitmap && ic.readBytes(std::min<size_t>(length, ic.remaining()), bitmap))
            picture.image = decodeDib(bitmap);
        out.push_back(std::move(picture));
    }
}

} // namespace

std::vector<QImage> readBlipStore(std::span<const uint8_t> drawingGroup)
{
    std::vector<QImage> store;
    walk(drawingGroup, [&store](const RecordHeader &h, int) {
        if (h.type != oa::FBSE)
            return;
        ByteCursor c(h.body);
        uint8_t nameLength = 0;
        QImage image;
        if (c.seek(oa::kFbseNameLength) && c.readU8(nameLength) && c.seek(oa::kFbseFixedSize) && c.skip(nameLength)) {
            RecordHeader blip;
            // The picture itself normally follows inside the FBSE; an FBSE that points into a
            // delay stream instead (foDelay) has no data here and stays empty.
            if (!c.atEnd() && readHeader(c, blip) && blip.type >= oa::BlipFirst && blip.type <= oa::BlipLast)
                image = decodeBlip(blip);
        }
        store.push_back(std::move(image));
    });
    return store;
}

std::vector<PictureShape> readPictureShapes(std::span<const uint8_t> drawing)
{
    std::vector<PictureShape> shapes;
    walk(drawing, [&shapes](const RecordHeader &h, int) {
        if (h.type != oa::SpContainer)
            return;
        // Only the records directly inside this shape: a group's SpContainer has no pib.
        PictureShape shape;
        bool anchored = false;
        ByteCursor c(h.body);
        RecordHeader child;
        while (!c.atEnd() && readHeader(c, child)) {
            if (child.type == oa::FOPT || child.type == oa::SecondaryFOPT || child.type == oa::TertiaryFOPT) {
                if (const uint32_t pib = readPib(child))
                    shape.blip = pib;
            } else if (child.type == oa::ClientAnchor && child.body.size() >= oa::kClientAnchorSize) {
                ByteCursor ac(child.body);
                ac.skip(2); // flags: move and size with cells, or not; the picture is where it is
                shape.anchor = readAnchor(ac);
                anchored = ac.ok();
            }
        }
        if (anchored && shape.blip != 0)
            shapes.push_back(shape);
    });
    return shapes;
}

QImage decodeDib(std::span<const uint8_t> dib)
{
    constexpr uint32_t kCoreHeader = 12, kInfoHeader = 40, kMaxHeader = 124;
    constexpr uint32_t kBitFields = 3;
    constexpr size_t kFileHeaderSize = 14;
    ByteCursor c(dib);
    uint32_t headerSize = 0;
    if (!c.readU32(headerSize) || (headerSize != kCoreHeader && (headerSize < kInfoHeader || headerSize > kMaxHeader)))
        return {};
    uint16_t bitCount = 0;
    uint32_t compression = 0, colorsUsed = 0;
    size_t paletteBytes = 0;
    if (headerSize == kCoreHeader) {
        c.seek(10);
        c.readU16(bitCount);
        if (bitCount <= 8)
            paletteBytes = size_t(3) << bitCount;
    } else {
        c.seek(14);
        c.readU16(bitCount);
        c.readU32(compression);
        c.seek(32);
        c.readU32(colorsUsed);
        if (bitCount > 32)
            return {};
        if (colorsUsed == 0 && bitCount <= 8)
            colorsUsed = 1u << bitCount;
        if (colorsUsed > 256 && bitCount <= 8)
            return {};
        paletteBytes = size_t(std::min<uint32_t>(colorsUsed, 256)) * 4;
        if (compression == kBitFields && headerSize == kInfoHeader)
            paletteBytes += 12;
    }
    if (!c.ok() || dib.size() > size_t(INT_MAX) - kFileHeaderSize)
        return {};
    // A BMP file is the DIB behind a 14-byte header that says where the pixels start.
    const uint32_t fileSize = uint32_t(kFileHeaderSize + dib.size());
    const uint32_t pixelOffset = uint32_t(kFileHeaderSize + headerSize + paletteBytes);
    QByteArray file;
    file.reserve(qsizetype(fileSize));
    file.append("BM", 2);
    for (uint32_t v : {fileSize, 0u, pixelOffset})
        for (int b = 0; b < 4; ++b)
            file.append(char((v >> (8 * b)) & 0xFF));
    file.append(reinterpret_cast<const char *>(dib.data()), qsizetype(dib.size()));
    return QImage::fromData(file, "BMP");
}

std::vector<SheetPicture> sheetPictures(const xls::Workbook &book, const xls::Worksheet &sheet)
{
    std::vector<SheetPicture> out;
    const std::vector<uint8_t> drawing = joinRecords(sheet.drawingRecords(), xls::biff::rec::MSODRAWING);
    if (!drawing.empty()) {
        const std::vector<PictureShape> shapes = readPictureShapes(drawing);
        if (!shapes.empty()) {
            const std::vector<QImage> store = readBlipStore(joinRecords(book.drawingGroupRecords(), xls::biff::rec::MSODRAWINGGROUP));
            for (const PictureShape &shape : shapes)
                out.push_back({shape.anchor, shape.blip <= store.size() ? store[shape.blip - 1] : QImage()});
        }
    }
    legacyPictures(sheet, out);
    return out;
}

} // namespace render
