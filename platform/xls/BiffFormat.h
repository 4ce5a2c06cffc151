#pragma once
// Every on-disk number of the Excel 97-2003 (BIFF8) workbook stream lives here, named once,
// with the legal or observed values beside it. The logic never writes a bare offset.

#include <cstddef>
#include <cstdint>

namespace xls::biff {

// ---- Record framing ------------------------------------------------------------------
constexpr size_t kRecordHeaderSize = 4;   // id (u16), data length (u16)
constexpr size_t kMaxRecordData = 8224;   // BIFF8 limit for what we write; longer data goes to CONTINUE
constexpr size_t kMaxWorkbookStream = 256u * 1024 * 1024; // refuse anything larger before reading it
constexpr uint32_t kMaxStringChars = 32767; // longest cell text a spreadsheet accepts

// ---- Record ids ----------------------------------------------------------------------
namespace rec {
constexpr uint16_t FORMULA = 0x0006;
constexpr uint16_t EOF_ = 0x000A;         // trailing underscore: EOF is a C macro
constexpr uint16_t HEADER = 0x0014;       // page header text; empty data = no header
constexpr uint16_t FOOTER = 0x0015;
constexpr uint16_t EXTERNSHEET = 0x0017;
constexpr uint16_t NAME = 0x0018;         // defined name (Print_Area is a built-in one)
constexpr uint16_t VERTICALPAGEBREAKS = 0x001A;
constexpr uint16_t HORIZONTALPAGEBREAKS = 0x001B;
constexpr uint16_t NOTE = 0x001C;
constexpr uint16_t SELECTION = 0x001D;
constexpr uint16_t WINDOW1 = 0x003D;
constexpr uint16_t DATEMODE = 0x0022;     // 1 = 1904 date system
constexpr uint16_t FILEPASS = 0x002F;     // present = the workbook is encrypted
constexpr uint16_t FONT = 0x0031;
constexpr uint16_t LEFTMARGIN = 0x0026;   // page margins: IEEE double, inches
constexpr uint16_t RIGHTMARGIN = 0x0027;
constexpr uint16_t TOPMARGIN = 0x0028;
constexpr uint16_t BOTTOMMARGIN = 0x0029;
constexpr uint16_t PRINTHEADERS = 0x002A; // u16: 1 = print row and column headings
constexpr uint16_t PRINTGRIDLINES = 0x002B; // u16: 1 = print grid lines
constexpr uint16_t CONTINUE = 0x003C;
constexpr uint16_t CODEPAGE = 0x0042;     // 1200 = UTF-16
constexpr uint16_t DEFCOLWIDTH = 0x0055;
constexpr uint16_t OBJ = 0x005D;
constexpr uint16_t COLINFO = 0x007D;
constexpr uint16_t WSBOOL = 0x0081;       // sheet options; one bit says "fit to pages"
constexpr uint16_t HCENTER = 0x0083;      // u16: 1 = centre the page content horizontally
constexpr uint16_t VCENTER = 0x0084;
constexpr uint16_t BOUNDSHEET = 0x0085;
constexpr uint16_t PALETTE = 0x0092;
constexpr uint16_t STANDARDWIDTH = 0x0099;
constexpr uint16_t SCL = 0x00A0;
constexpr uint16_t SETUP = 0x00A1;        // paper, scale, fit, orientation, header/footer margins
constexpr uint16_t MULRK = 0x00BD;
constexpr uint16_t MULBLANK = 0x00BE;
constexpr uint16_t DBCELL = 0x00D7;
constexpr uint16_t XF = 0x00E0;
constexpr uint16_t MERGEDCELLS = 0x00E5;
constexpr uint16_t MSODRAWINGGROUP = 0x00EB;
constexpr uint16_t MSODRAWING = 0x00EC;
constexpr uint16_t MSODRAWINGSELECTION = 0x00ED;
constexpr uint16_t SST = 0x00FC;
constexpr uint16_t LABELSST = 0x00FD;
constexpr uint16_t EXTSST = 0x00FF;
constexpr uint16_t TXO = 0x01B6;
constexpr uint16_t DIMENSIONS = 0x0200;
constexpr uint16_t BLANK = 0x0201;
constexpr uint16_t NUMBER = 0x0203;
constexpr uint16_t LABEL = 0x0204;
constexpr uint16_t BOOLERR = 0x0205;
constexpr uint16_t STRING = 0x0207;       // cached text result of the FORMULA before it
constexpr uint16_t ROW = 0x0208;
constexpr uint16_t INDEX = 0x020B;
constexpr uint16_t ARRAY = 0x0221;
constexpr uint16_t DEFAULTROWHEIGHT = 0x0225;
constexpr uint16_t TABLE = 0x0236;
constexpr uint16_t WINDOW2 = 0x023E;
constexpr uint16_t RK = 0x027E;
constexpr uint16_t SUPBOOK = 0x01AE;
constexpr uint16_t FORMAT = 0x041E;
constexpr uint16_t SHRFMLA = 0x04BC;
constexpr uint16_t BOF = 0x0809;
// BOF ids of the versions before BIFF5; seen only to name them in the error.
constexpr uint16_t BOF_BIFF2 = 0x0009;
constexpr uint16_t BOF_BIFF3 = 0x0209;
constexpr uint16_t BOF_BIFF4 = 0x0409;
} // namespace rec

// ---- BOF -----------------------------------------------------------------------------
namespace bof {
constexpr size_t kVersion = 0;            // u16: 0x0600 BIFF8, 0x0500 BIFF5/7
constexpr size_t kType = 2;               // u16: one of the substream types below
constexpr size_t kMinSize = 4;
constexpr uint16_t kBiff8 = 0x0600;
constexpr uint16_t kBiff5 = 0x0500;
constexpr uint16_t kGlobals = 0x0005;
constexpr uint16_t kWorksheet = 0x0010;   // also dialog sheets
constexpr uint16_t kChart = 0x0020;
constexpr uint16_t kMacroSheet = 0x0040;
} // namespace bof

// ---- BOUNDSHEET ----------------------------------------------------------------------
namespace boundsheet {
constexpr size_t kPosition = 0;           // u32: stream offset of the sheet's BOF
constexpr size_t kVisibility = 4;         // u8: 0 visible, 1 hidden, 2 very hidden
constexpr size_t kSheetType = 5;          // u8: 0 worksheet, 1 macro, 2 chart, 6 VBA module
constexpr size_t kName = 6;               // ShortXLUnicodeString
} // namespace boundsheet

// ---- Unicode strings -----------------------------------------------------------------
namespace str {
constexpr uint8_t kHighByte = 0x01;       // characters are UTF-16LE, else one byte each (Latin-1)
constexpr uint8_t kExtSt = 0x04;          // phonetic block (ExtRst) follows the runs
constexpr uint8_t kRichSt = 0x08;         // formatting runs follow the characters
constexpr size_t kRunSize = 4;            // one formatting run: u16 char position, u16 font index
} // namespace str

// ---- SST / EXTSST --------------------------------------------------------------------
namespace sst {
constexpr size_t kHeaderSize = 8;         // u32 total references, u32 unique strings
constexpr size_t kMaxUnique = 4u * 1024 * 1024; // far above what a sheet can reference; caps allocation
constexpr size_t kExtBucketSize = 8;      // strings per EXTSST bucket, as Excel writes for small tables
constexpr size_t kExtMaxBuckets = 128;
} // namespace sst

// ---- Cell records --------------------------------------------------------------------
namespace cell {
constexpr size_t kRow = 0;                // u16
constexpr size_t kCol = 2;                // u16
constexpr size_t kXf = 4;                 // u16
constexpr size_t kValue = 6;              // payload of NUMBER, RK, LABELSST, LABEL, BOOLERR, FORMULA
constexpr size_t kHeaderSize = 6;
constexpr size_t kNumberSize = 14;
constexpr size_t kRkSize = 10;
constexpr size_t kLabelSstSize = 10;
constexpr size_t kBlankSize = 6;
constexpr size_t kBoolErrSize = 8;
constexpr size_t kFormulaMinSize = 20;    // through cce
constexpr size_t kMulEntryRk = 6;         // u16 xf + u32 rk
constexpr uint16_t kMaxRow = 65535;       // 65,536 rows
constexpr uint16_t kMaxCol = 255;         // 256 columns (A to IV)
// RK value: bit 0 = divide by 100, bit 1 = integer in the upper 30 bits, else the top 30 bits of a double.
constexpr uint32_t kRkDiv100 = 0x1;
constexpr uint32_t kRkInteger = 0x2;
// FORMULA cached value: when bytes 6..7 are 0xFFFF, byte 0 names a non-number result.
constexpr uint16_t kFormulaNonNumber = 0xFFFF;
constexpr uint8_t kFormulaString = 0, kFormulaBool = 1, kFormulaError = 2, kFormulaEmpty = 3;
} // namespace cell

// ---- ROW / DBCELL / INDEX / DIMENSIONS -----------------------------------------------
namespace row {
constexpr size_t kSize = 16;
constexpr size_t kRow = 0, kFirstCol = 2, kLastColPlus1 = 4, kHeight = 6, kReserved = 8, kUnused = 10,
                 kFlags = 12;
constexpr uint16_t kHeightMask = 0x7FFF;
constexpr uint16_t kDefaultHeightBit = 0x8000;  // "height is the sheet's default" in the height field
constexpr uint32_t kHidden = 0x20;              // fDyZero
constexpr uint32_t kCustomHeight = 0x40;        // fUnsynced
constexpr uint32_t kHasXf = 0x80;               // fGhostDirty: ixfe below applies to the row
constexpr uint32_t kAlwaysSet = 0x100;          // reserved bit every writer sets
constexpr int kXfShift = 16;
constexpr uint32_t kXfMask = 0x0FFF;
constexpr uint16_t kDefaultHeightTwips = 255;   // what Excel writes for a row without its own height
constexpr size_t kBlockRows = 32;               // rows per DBCELL block
} // namespace row
namespace index {
constexpr size_t kReserved = 0, kFirstRow = 4, kLastRowPlus1 = 8, kDefColWidthPos = 12, kDbCells = 16;
} // namespace index
namespace dimensions {
constexpr size_t kSize = 14;              // u32 first row, u32 last row + 1, u16 first col, u16 last col + 1, u16 0
} // namespace dimensions

// ---- Formatting records --------------------------------------------------------------
namespace font {
constexpr size_t kHeight = 0, kOptions = 2, kColor = 4, kWeight = 6, kEscapement = 8, kUnderline = 10,
                 kFamily = 11, kCharset = 12, kName = 14;
constexpr uint16_t kItalic = 0x02, kStrikeout = 0x08;
} // namespace font
namespace xf {
constexpr size_t kSize = 20;
constexpr size_t kFont = 0, kFormat = 2, kTypeProt = 4, kAlign = 6, kRotation = 7, kIndent = 8, kUsed = 9,
                 kBorder1 = 10, kBorder2 = 14, kFill = 18;
constexpr uint16_t kStyleXf = 0x0004;
} // namespace xf
namespace palette {
constexpr size_t kFirstIndex = 8;         // PALETTE entry 0 is colour index 8
constexpr size_t kCount = 56;
} // namespace palette
namespace colinfo {
constexpr size_t kFirst = 0, kLast = 2, kWidth = 4, kXf = 6, kOptions = 8;
constexpr uint16_t kHidden = 0x0001;
} // namespace colinfo
namespace window1 {
constexpr size_t kActiveSheet = 10;       // u16 itabCur
} // namespace window1
namespace window2 {
constexpr size_t kOptions = 0;
constexpr uint16_t kShowFormulas = 0x0001, kShowGrid = 0x0002, kShowHeadings = 0x0004, kSelected = 0x0200;
} // namespace window2

// ---- Page setup (the sheet's print settings) -----------------------------------------
namespace setup {
constexpr size_t kSize = 34;
constexpr size_t kPaper = 0;              // u16: paper code, 1 Letter, 9 A4 ... (see PageSetup.cpp)
constexpr size_t kScale = 2;              // u16: percent, 10 to 400 legal
constexpr size_t kFirstPage = 4;          // u16: first page number, when kUseFirstPage
constexpr size_t kFitWidth = 6;           // u16: pages wide, 0 = as many as needed
constexpr size_t kFitHeight = 8;          // u16: pages tall, 0 = as many as needed
constexpr size_t kOptions = 10;           // u16: the flags below
constexpr size_t kHResolution = 12, kVResolution = 14; // u16 dpi
constexpr size_t kHeaderMargin = 16;      // IEEE double, inches
constexpr size_t kFooterMargin = 24;
constexpr size_t kCopies = 32;            // u16
constexpr uint16_t kOverThenDown = 0x0001;   // fLeftToRight: pages go across first
constexpr uint16_t kPortrait = 0x0002;       // 0 = landscape
constexpr uint16_t kNotInitialised = 0x0004; // fNoPls: paper, scale, orientation are not set
constexpr uint16_t kNoOrientation = 0x0040;  // fNoOrient: orientation is not set
constexpr uint16_t kUseFirstPage = 0x0080;   // fUsePage: number from kFirstPage
constexpr uint16_t kMinScale = 10, kMaxScale = 400, kDefaultScale = 100;
} // namespace setup
namespace wsbool {
constexpr uint16_t kFitToPage = 0x0100;   // fFitToPage: SETUP's fit counts apply, not its scale
} // namespace wsbool
namespace pagebreaks {
constexpr size_t kCount = 0;              // u16, then the entries
constexpr size_t kEntries = 2;
constexpr size_t kEntrySize = 6;          // u16 row (or column) that starts a page, u16 first, u16 last
constexpr size_t kMaxBreaks = 1026;       // the most a spreadsheet application keeps per direction
} // namespace pagebreaks
namespace headerfooter {
constexpr size_t kMaxChars = 255;         // longer texts are cut, as a spreadsheet application does
} // namespace headerfooter
// NAME (defined name) as far as the print area needs it.
namespace name {
constexpr size_t kOptions = 0;            // u16: kBuiltIn marks a built-in name
constexpr size_t kNameLength = 3;         // u8 character count
constexpr size_t kFormulaSize = 4;        // u16 bytes of the parsed formula
constexpr size_t kSheet = 8;              // u16: 0 global, else the sheet index + 1
constexpr size_t kNameString = 14;        // option byte, then the characters; the formula follows
constexpr uint16_t kBuiltIn = 0x0020;
constexpr uint8_t kPrintArea = 0x06;      // built-in name code of Print_Area
constexpr uint8_t kPrintTitles = 0x07;    // built-in name code of Print_Titles: rows and/or columns
constexpr size_t kMaxAreas = 16;          // areas read of one name; a print setting has one or two
// Formula tokens a print area is written with (any token class: 0x20/0x40/0x60 variants).
constexpr uint8_t kTokenClassMask = 0x1F; // the base token without its class bits
constexpr uint8_t ptgArea3d = 0x1B;       // u16 ixti, u16 first row, u16 last row, u16 first col, u16 last col
constexpr uint8_t ptgArea = 0x05;         // u16 first row, u16 last row, u16 first col, u16 last col
constexpr uint8_t ptgRef3d = 0x1A;        // u16 ixti, u16 row, u16 col
constexpr uint8_t ptgMemFunc = 0x09;      // u16 size of the sub-expression (a union of areas) that follows
constexpr uint8_t ptgUnion = 0x10;        // binary union of the two areas before it
constexpr uint16_t kColumnMask = 0x3FFF;  // column fields carry relative-reference flags in bits 14-15
} // namespace name

} // namespace xls::biff
