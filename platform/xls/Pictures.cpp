// Reads the pictures of a workbook's sheets out of the drawing records the model keeps
// verbatim. One function per record kind, each through a bounds-checked cursor.

#include "platform/xls/Pictures.h"

#include "platform/xls/ByteCursor.h"
#include "platform/xls/Records.h"
#include "platform/xls/Workbook.h"

#include <algorithm>
#include <climits>
#include <functional>

namespace xls {
namespace {

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

using Visitor = std::function<void(const RecordHeader &)>;

// Calls visit for every record, descending into containers, up to kMaxDepth.
void walk(std::span<const uint8_t> data, const Visitor &visit, int depth = 0)
{
    if (depth > oa::kMaxDepth)
        return;
    ByteCursor c(data);
    RecordHeader h;
    while (!c.atEnd() && readHeader(c, h)) {
        visit(h);
        if (h.version == oa::kContainerVersion)
            walk(h.body, visit, depth + 1);
    }
}

StoredImage stored(ImageKind kind, std::span<const uint8_t> bytes)
{
    if (bytes.empty())
        return {};
    return {kind, std::make_shared<const std::vector<uint8_t>>(bytes.begin(), bytes.end())};
}

StoredImage readBlip(const RecordHeader &blip)
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
            return stored(ImageKind::Bmp, bmpFromDib(data));
        const ImageKind kind = blip.type == oa::BlipPNG ? ImageKind::Png : blip.type == oa::BlipTIFF ? ImageKind::Tiff : ImageKind::Jpeg;
        return stored(kind, data);
    }
    case oa::BlipEMF:
    case oa::BlipWMF:
    case oa::BlipPICT:
        return {ImageKind::Metafile, {}};
    default:
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

// The data of every record with this id, each with its CONTINUE records, joined in file order:
// a drawing stream that the file split across records.
std::vector<uint8_t> drawingStream(const std::vector<Record> &records, uint16_t id)
{
    std::vector<uint8_t> out;
    for (size_t i = 0; i < records.size();) {
        if (records[i].id != id) {
            ++i;
            continue;
        }
        const std::vector<uint8_t> part = continuedData(records, i, &i);
        out.insert(out.end(), part.begin(), part.end());
    }
    return out;
}

// xlwt's OBJ + IMDATA pictures.
void readLegacyPictures(const std::vector<Record> &records, std::vector<SheetPicture> &out)
{
    for (size_t i = 0; i + 1 < records.size(); ++i) {
        const Record &obj = records[i];
        if (obj.id != biff::rec::OBJ || records[i + 1].id != legacy::IMDATA || obj.data.size() < legacy::kObjMinSize)
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

        const std::vector<uint8_t> im = continuedData(records, i + 1);
        ByteCursor ic(im);
        uint16_t format = 0, env = 0;
        uint32_t length = 0;
        std::span<const uint8_t> bitmap;
        ic.readU16(format);
        ic.readU16(env);
        ic.readU32(length);
        if (ic.ok() && format == legacy::kImFormatBitmap && ic.readBytes(std::min<size_t>(length, ic.remaining()), bitmap))
            picture.image = stored(ImageKind::Bmp, bmpFromDib(bitmap));
        out.push_back(std::move(picture));
    }
}

} // namespace

std::vector<StoredImage> readBlipStore(std::span<const uint8_t> drawingGroup)
{
    std::vector<StoredImage> store;
    walk(drawingGroup, [&store](const RecordHeader &h) {
        if (h.type != oa::FBSE)
            return;
        ByteCursor c(h.body);
        uint8_t nameLength = 0;
        StoredImage image;
        if (c.seek(oa::kFbseNameLength) && c.readU8(nameLength) && c.seek(oa::kFbseFixedSize) && c.skip(nameLength)) {
            RecordHeader blip;
            // The picture itself normally follows inside the FBSE; an FBSE that points into a
            // delay stream instead (foDelay) has no data here and stays empty.
            if (!c.atEnd() && readHeader(c, blip) && blip.type >= oa::BlipFirst && blip.type <= oa::BlipLast)
                image = readBlip(blip);
        }
        store.push_back(std::move(image));
    });
    return store;
}

std::vector<PictureShape> readPictureShapes(std::span<const uint8_t> drawing)
{
    std::vector<PictureShape> shapes;
    walk(drawing, [&shapes](const RecordHeader &h) {
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
                ac.skip(oa::kClientAnchorFlags); // move and size with cells, or not; the picture is where it is
                shape.anchor = readAnchor(ac);
                anchored = ac.ok();
            }
        }
        if (anchored && shape.blip != 0)
            shapes.push_back(shape);
    });
    return shapes;
}

std::vector<uint8_t> bmpFromDib(std::span<const uint8_t> dib)
{
    ByteCursor c(dib);
    uint32_t headerSize = 0;
    if (!c.readU32(headerSize) || (headerSize != dib::kCoreHeader && (headerSize < dib::kInfoHeader || headerSize > dib::kMaxHeader)))
        return {};
    uint16_t bitCount = 0;
    uint32_t compression = 0, colorsUsed = 0;
    size_t paletteBytes = 0;
    if (headerSize == dib::kCoreHeader) {
        c.seek(dib::kCoreBitCount);
        c.readU16(bitCount);
        if (bitCount <= 8)
            paletteBytes = size_t(3) << bitCount;
    } else {
        c.seek(dib::kInfoBitCount);
        c.readU16(bitCount);
        c.seek(dib::kInfoCompression);
        c.readU32(compression);
        c.seek(dib::kInfoColorsUsed);
        c.readU32(colorsUsed);
        if (bitCount > 32)
            return {};
        if (colorsUsed == 0 && bitCount <= 8)
            colorsUsed = 1u << bitCount;
        if (colorsUsed > 256 && bitCount <= 8)
            return {};
        paletteBytes = size_t(std::min<uint32_t>(colorsUsed, 256)) * 4;
        if (compression == dib::kBitFields && headerSize == dib::kInfoHeader)
            paletteBytes += dib::kBitFieldMasksSize;
    }
    if (!c.ok() || dib.size() > size_t(INT_MAX) - dib::kFileHeaderSize)
        return {};
    // A BMP file is the DIB behind a 14-byte header that says where the pixels start.
    const uint32_t fileSize = uint32_t(dib::kFileHeaderSize + dib.size());
    const uint32_t pixelOffset = uint32_t(dib::kFileHeaderSize + headerSize + paletteBytes);
    std::vector<uint8_t> file{'B', 'M'};
    file.reserve(fileSize);
    for (uint32_t v : {fileSize, 0u, pixelOffset})
        putU32(file, v);
    file.insert(file.end(), dib.begin(), dib.end());
    return file;
}

void readPictures(Workbook &book)
{
    std::vector<StoredImage> store;
    bool storeRead = false;
    for (int s = 0; s < book.sheetCount(); ++s) {
        Worksheet &sheet = book.sheet(s);
        std::vector<SheetPicture> pictures;
        const std::vector<uint8_t> drawing = drawingStream(sheet.records(), biff::rec::MSODRAWING);
        if (!drawing.empty()) {
            const std::vector<PictureShape> shapes = readPictureShapes(drawing);
            if (!shapes.empty() && !storeRead) {
                store = readBlipStore(drawingStream(book.globalRecords(), biff::rec::MSODRAWINGGROUP));
                storeRead = true;
            }
            for (const PictureShape &shape : shapes)
                pictures.push_back({shape.anchor, shape.blip <= store.size() ? store[shape.blip - 1] : StoredImage{}});
        }
        readLegacyPictures(sheet.records(), pictures);
        sheet.m_pictures = std::move(pictures);
    }
}

} // namespace xls
