#pragma once
// Pictures placed on a sheet, read from the two ways a workbook stores them:
//
// - Office drawing (OfficeArt) records, as Excel 97 and later write them: the workbook's
//   MSODRAWINGGROUP holds the BLIP store (each picture once), a sheet's MSODRAWING records
//   hold one shape per picture with its cell anchor and the 1-based BLIP store index (pib).
// - The older OBJ + IMDATA pair, which xlwt's insert_bitmap writes: an OBJ record carrying the
//   anchor directly and an IMDATA record with a DIB (BITMAPCOREHEADER) behind it.
//
// The result is part of the model (Worksheet::pictures()): where each picture sits and its
// bytes in a format an image library reads (PNG, JPEG, TIFF, or BMP for the DIBs, which get
// the file header they lack). Every length comes from the file, so everything goes through a
// bounds-checked cursor; a picture that cannot be read is kept with kind None (an empty frame)
// instead of failing the workbook.

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

namespace xls {

class Workbook;

namespace officeart {
// Record header: u16 version (low 4 bits) and instance (high 12 bits), u16 type, u32 length.
constexpr size_t kHeaderSize = 8;
constexpr uint16_t kContainerVersion = 0xF;
constexpr uint16_t DggContainer = 0xF000, BStoreContainer = 0xF001, DgContainer = 0xF002,
                   SpgrContainer = 0xF003, SpContainer = 0xF004;
constexpr uint16_t FBSE = 0xF007, FSP = 0xF00A, FOPT = 0xF00B, ClientAnchor = 0xF010,
                   SecondaryFOPT = 0xF121, TertiaryFOPT = 0xF122;
constexpr uint16_t BlipFirst = 0xF018, BlipLast = 0xF117;
constexpr uint16_t BlipEMF = 0xF01A, BlipWMF = 0xF01B, BlipPICT = 0xF01C, BlipJPEG = 0xF01D,
                   BlipPNG = 0xF01E, BlipDIB = 0xF01F, BlipTIFF = 0xF029, BlipJPEGCMYK = 0xF02A;
constexpr size_t kUidSize = 16;
// A BLIP's instance has its low bit set when a second UID follows the first one.
constexpr uint16_t kSecondUidBit = 0x1;
constexpr size_t kBitmapTagSize = 1;       // after the UIDs of JPEG, PNG, DIB, TIFF
// FBSE fixed part: btWin32, btMacOS, rgbUid[16], tag, size, cRef, foDelay, unused1, cbName,
// unused2, unused3.
constexpr size_t kFbseFixedSize = 36;
constexpr size_t kFbseNameLength = 33;     // u8 cbName
// FOPT property: u16 id (bits 0-13 property, 14 fBid, 15 fComplex), u32 value.
constexpr uint16_t kPropertyIdMask = 0x3FFF;
constexpr uint16_t kPropPib = 0x0104;      // picture: 1-based index into the BLIP store
// ClientAnchor (Excel): u16 flags, then col1, dx1 (1/1024), row1, dy1 (1/256), col2, dx2, row2, dy2.
constexpr size_t kClientAnchorFlags = 2;
constexpr size_t kClientAnchorSize = 18;
// Containers nest a few levels deep in real files; anything deeper is treated as corrupt.
constexpr int kMaxDepth = 16;
} // namespace officeart

namespace legacy {
constexpr uint16_t IMDATA = 0x007F;
// OBJ as xlwt writes it: u32 cObj, u16 type, u16 id, u16 flags, then the anchor.
constexpr size_t kObjType = 4;
constexpr size_t kObjAnchor = 10;
constexpr size_t kObjMinSize = 26;
constexpr uint16_t kObjTypePicture = 0x0008;
// IMDATA: u16 cf (9 = bitmap), u16 env, u32 lcb, then lcb bytes.
constexpr uint16_t kImFormatBitmap = 0x0009;
} // namespace legacy

namespace dib {
// BITMAPCOREHEADER (12 bytes: size, u16 width, u16 height, u16 planes, u16 bit count) or
// BITMAPINFOHEADER and its later versions (40 to 124 bytes).
constexpr uint32_t kCoreHeader = 12, kInfoHeader = 40, kMaxHeader = 124;
constexpr size_t kCoreBitCount = 10;
constexpr size_t kInfoBitCount = 14, kInfoCompression = 16, kInfoColorsUsed = 32;
constexpr uint32_t kBitFields = 3;         // compression: three colour masks follow the header
constexpr size_t kBitFieldMasksSize = 12;
constexpr size_t kFileHeaderSize = 14;     // "BM", u32 file size, u32 reserved, u32 pixel offset
} // namespace dib

// Where a picture sits: from the top-left cell plus a fraction of it (dx in 1/1024 of the
// column's width, dy in 1/256 of the row's height) to the bottom-right cell plus a fraction.
struct CellAnchor {
    uint16_t col1 = 0, dx1 = 0, row1 = 0, dy1 = 0, col2 = 0, dx2 = 0, row2 = 0, dy2 = 0;
    bool operator==(const CellAnchor &) const = default;
};

// What the bytes of a picture are. None: missing, stored elsewhere (a delay stream), or not
// readable; Metafile: EMF, WMF or PICT, which nothing here draws. Both leave bytes empty.
enum class ImageKind : uint8_t { None, Png, Jpeg, Tiff, Bmp, Metafile };

// Shared, not copied: many shapes may show the one picture the BLIP store holds, and a file
// that repeats a large picture thousands of times must not multiply it in memory.
struct StoredImage {
    ImageKind kind = ImageKind::None;
    std::shared_ptr<const std::vector<uint8_t>> data;

    std::span<const uint8_t> bytes() const { return data ? std::span<const uint8_t>(*data) : std::span<const uint8_t>(); }
};

struct SheetPicture {
    CellAnchor anchor;
    StoredImage image;
};

struct PictureShape {
    CellAnchor anchor;
    uint32_t blip = 0; // 1-based BLIP store index; 0 = none
};

// The BLIP store of a drawing group stream (the MSODRAWINGGROUP data joined), one entry per
// FBSE in order.
std::vector<StoredImage> readBlipStore(std::span<const uint8_t> drawingGroup);

// The picture shapes of a sheet's drawing stream (its MSODRAWING data joined in order).
std::vector<PictureShape> readPictureShapes(std::span<const uint8_t> drawing);

// A device-independent bitmap without its file header (BITMAPINFOHEADER or
// BITMAPCOREHEADER, colour table, pixels) as a BMP file; empty when it is not one.
std::vector<uint8_t> bmpFromDib(std::span<const uint8_t> dib);

// Fills every sheet's pictures() from its drawing records and the workbook's BLIP store;
// called once the whole stream is read.
void readPictures(Workbook &book);

} // namespace xls
