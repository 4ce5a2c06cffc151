#pragma once
// Pictures placed on a sheet. Two ways of storing them are read:
//
// - Office drawing (OfficeArt) records, as Excel 97 and later write them: the workbook's
//   MSODRAWINGGROUP holds the BLIP store (each picture once), a sheet's MSODRAWING records
//   hold one shape per picture with its cell anchor and the 1-based BLIP store index (pib).
// - The older OBJ + IMDATA pair, which xlwt's insert_bitmap writes: an OBJ record carrying the
//   anchor directly and an IMDATA record with a DIB (BITMAPCOREHEADER) behind it.
//
// This file reads bytes the workbook model hands over verbatim; every length comes from the
// file, so everything goes through a bounds-checked cursor, and a picture that cannot be read
// is left out (or kept as a null image) instead of failing the whole sheet.

#include "xls/Workbook.h"

#include <QImage>
#include <cstdint>
#include <span>
#include <vector>

namespace render {

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
constexpr size_t kMetafileHeaderSize = 34; // after the UIDs of EMF, WMF, PICT
// FBSE fixed part: btWin32, btMacOS, rgbUid[16], tag, size, cRef, foDelay, unused1, cbName,
// unused2, unused3.
constexpr size_t kFbseFixedSize = 36;
constexpr size_t kFbseNameLength = 33;     // u8 cbName
// FOPT property: u16 id (bits 0-13 property, 14 fBid, 15 fComplex), u32 value.
constexpr size_t kPropertySize = 6;
constexpr uint16_t kPropertyIdMask = 0x3FFF;
constexpr uint16_t kPropPib = 0x0104;      // picture: 1-based index into the BLIP store
// ClientAnchor (Excel): u16 flags, then col1, dx1 (1/1024), row1, dy1 (1/256), col2, dx2, row2, dy2.
constexpr size_t kClientAnchorSize = 18;
// Containers nest a few levels deep in real files; anything deeper is treated as corrupt.
constexpr int kMaxDepth = 16;
} // namespace officeart

namespace legacy {
constexpr uint16_t IMDATA = 0x007F;
// OBJ as xlwt writes it: u32 cObj, u16 type, u16 id, u16 flags, then the anchor.
constexpr size_t kObjAnchor = 10;
constexpr size_t kObjMinSize = 26;
constexpr uint16_t kObjTypePicture = 0x0008;
constexpr size_t kObjType = 4;
// IMDATA: u16 cf (9 = bitmap), u16 env, u32 lcb, then lcb bytes.
constexpr size_t kImHeaderSize = 8;
constexpr uint16_t kImFormatBitmap = 0x0009;
} // namespace legacy

// Where a picture sits: from the top-left cell plus a fraction of it (dx in 1/1024 of the
// column's width, dy in 1/256 of the row's height) to the bottom-right cell plus a fraction.
struct CellAnchor {
    uint16_t col1 = 0, dx1 = 0, row1 = 0, dy1 = 0, col2 = 0, dx2 = 0, row2 = 0, dy2 = 0;
    bool operator==(const CellAnchor &) const = default;
};

struct PictureShape {
    CellAnchor anchor;
    uint32_t blip = 0; // 1-based BLIP store index; 0 = none
};

struct SheetPicture {
    CellAnchor anchor;
    QImage image; // null when the picture could not be decoded: its frame stays empty
};

// The BLIP store of a drawing group stream, one entry per FBSE in order; an entry is a null
// image when its picture is a metafile, is missing or does not decode.
std::vector<QImage> readBlipStore(std::span<const uint8_t> drawingGroup);

// The picture shapes of a sheet's drawing stream (its MSODRAWING data joined in order).
std::vector<PictureShape> readPictureShapes(std::span<const uint8_t> drawing);

// A device-independent bitmap without its file header (BITMAPINFOHEADER or
// BITMAPCOREHEADER, colour table, pixels); null when it is not one.
QImage decodeDib(std::span<const uint8_t> dib);

// Every picture anchored on the sheet, from both storage kinds, in file order.
std::vector<SheetPicture> sheetPictures(const xls::Workbook &book, const xls::Worksheet &sheet);

} // namespace render
