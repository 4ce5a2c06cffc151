#pragma once
// The workbook model: an Excel 97-2003 (BIFF8) workbook held in memory, opened from and saved
// to a real .xls file.
//
// What is modelled and what is kept
//   Cells (values and their XF index) are modelled; everything else the file holds - formats,
//   fonts, column widths, page setup, pictures, names, records we have never heard of - is
//   kept as the records it came in, byte for byte and in order. A save rewrites only what the
//   cells touch: the cell table (ROW, cell records, DBCELL), DIMENSIONS, INDEX, the shared
//   string table (SST, EXTSST) and the sheet offsets in BOUNDSHEET. Every other stream of the
//   compound document (document properties and the like) is carried over unchanged.
//
// Reading it (for a renderer)
//   Workbook::open(path)          -> Result<Workbook>; the error text names the file and the problem
//   workbook.sheetCount(), sheet(i), activeSheetIndex()
//   sheet.name(), sheet.cells()   -> map ordered by row, then column; key = cellKey(row, col)
//   sheet.cellAt(row, col)        -> Cell* or null; Cell::type, Cell::xf, Cell::number,
//                                    workbook.text(cell) for Text and cached formula text
//   workbook.xf(i), font(i), numberFormat(i), color(i)   the formatting tables, resolved
//   sheet.columns(), defaultColumnWidth(), standardWidth()  widths (COLINFO, DEFCOLWIDTH)
//   sheet.row(r), rows(), defaultRowHeight()                heights (ROW, DEFAULTROWHEIGHT)
//   sheet.mergedCells(), sheet.view() (WINDOW2: grid lines, headings; SCL zoom)
//   sheet.pictures()              -> the pictures anchored on the sheet: anchor, image bytes
//                                    and their kind (Pictures.h)
//   workbook.drawingGroupRecords(), sheet.drawingRecords()  MSODRAWINGGROUP / MSODRAWING /
//                                    OBJ / TXO records raw
//   All row and column numbers here count from 0, as the file does.
//
// Changing it
//   sheet.setNumber / setText / setBoolean / setError / setBlank(row, col, ...): a cell keeps its XF; a new
//   cell takes the row's XF, else its column's, else the default cell XF (15), as Excel does.
//   Numbers are stored as RK when that is exact, else NUMBER; texts go to the shared string
//   table (LABELSST). Writing a formula cell replaces the formula; when that cell anchors a
//   shared formula, the other cells of the shared formula each get it as their own first.
//   A cell of an array formula of more than one cell cannot be written (std::invalid_argument);
//   an array formula of a single cell is overwritten like any formula. touchesArrayFormula()
//   lets a caller refuse a whole range before writing any of it.
//   workbook.saveAs(path): written to a temporary file in the target folder, then renamed into
//   place, replacing what is there. toBytes() gives the same file in memory.
//
// Errors: open() and fromBytes() never crash, hang or allocate without bound on a damaged file;
// lengths and counts from the file are capped, sector chains checked (by libgsf) and substream
// offsets must not overlap.

#include "platform/xls/CompoundFile.h"
#include "platform/xls/Pictures.h"
#include "platform/xls/Records.h"
#include "platform/xls/Result.h"

#include <QString>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <vector>

namespace xls {

class WorkbookReader;
class WorkbookWriter;
class GlobalsParser;
class SheetParser;

enum class CellType : uint8_t { Blank, Number, Text, Boolean, Error, Formula };

// The cached result of a formula cell, as the last calculation left it.
enum class FormulaResult : uint8_t { Number, Text, Boolean, Error, EmptyText };

struct FormulaCell {
    FormulaResult result = FormulaResult::Number;
    // The FORMULA record and what belongs to it (SHRFMLA, ARRAY, TABLE, STRING and their
    // CONTINUE records), exactly as read; written back unchanged.
    std::vector<Record> records;
};

struct Cell {
    CellType type = CellType::Blank;
    uint8_t code = 0;     // Boolean: 0 or 1; Error: the error code (0x07 #DIV/0! ...); also for formulas
    uint16_t xf = 0;      // index into Workbook::xf()
    uint32_t text = 0;    // Text, and Formula with a text result: index for Workbook::text()
    double number = 0;    // Number, and Formula with a numeric result
    std::shared_ptr<const FormulaCell> formula; // Formula only
};

constexpr uint32_t cellKey(uint16_t row, uint16_t col) { return uint32_t(row) << 16 | col; }
constexpr uint16_t keyRow(uint32_t key) { return uint16_t(key >> 16); }
constexpr uint16_t keyCol(uint32_t key) { return uint16_t(key & 0xFFFF); }

// An inclusive rectangle of cells, counted from 0.
struct CellRange {
    uint16_t firstRow = 0, lastRow = 0, firstCol = 0, lastCol = 0;
    bool operator==(const CellRange &) const = default;
};

// One entry of the shared string table. Formatting runs and the phonetic block are kept raw
// so that rich text survives a save.
struct SharedString {
    QString text;
    std::vector<uint8_t> runs;
    std::vector<uint8_t> phonetic;
};

struct Font {
    uint16_t heightTwips = 200;   // 1/20 pt
    uint16_t weight = 400;        // 400 normal, 700 bold
    bool italic = false;
    bool strikeout = false;
    uint8_t underline = 0;        // 0 none, 1 single, 2 double, 0x21 single accounting, 0x22 double accounting
    uint16_t escapement = 0;      // 0 none, 1 superscript, 2 subscript
    uint16_t colorIndex = 0x7FFF; // palette index; 0x7FFF = automatic
    uint8_t family = 0;
    uint8_t charset = 0;
    QString name;
    bool bold() const { return weight >= 700; }
};

// A border line: style 0 none, 1 thin, 2 medium, 3 dashed, 4 dotted, 5 thick, 6 double,
// 7 hair, 8-13 medium and dash-dot variants.
struct BorderLine {
    uint8_t style = 0;
    uint8_t colorIndex = 0;
};

struct CellFormat {
    uint16_t fontIndex = 0;
    uint16_t formatIndex = 0;
    bool isStyle = false;
    bool locked = true;
    bool hidden = false;
    uint16_t parent = 0;
    uint8_t horizontal = 0;       // 0 general, 1 left, 2 centre, 3 right, 4 fill, 5 justify, 6 centre across, 7 distributed
    uint8_t vertical = 2;         // 0 top, 1 centre, 2 bottom, 3 justify, 4 distributed
    bool wrap = false;
    uint8_t rotation = 0;         // degrees 0-90, 91-180 = -1..-90, 255 = stacked
    uint8_t indent = 0;
    bool shrinkToFit = false;
    BorderLine left, right, top, bottom, diagonal;
    uint8_t diagonalDirections = 0; // bit 0 down, bit 1 up
    uint8_t fillPattern = 0;      // 0 none, 1 solid, 2-18 patterns (4 = 25 % grey, 17 = 12.5 % grey)
    uint8_t patternColorIndex = 64;
    uint8_t backgroundColorIndex = 65;
};

struct ColumnInfo {
    uint16_t firstCol = 0, lastCol = 0;
    uint16_t width = 0;           // 1/256 of the width of the default font's digit zero
    uint16_t xf = 15;
    bool hidden = false;
};

struct RowInfo {
    uint16_t heightTwips = biff::row::kDefaultHeightTwips;
    bool customHeight = false;
    bool hidden = false;
    std::optional<uint16_t> xf;   // the row's own format, when it has one
};

struct SheetView {
    bool showGrid = true;
    bool showHeadings = true;
    bool showFormulas = false;
    bool selected = false;
    uint16_t zoomPercent = 100;
};

class Worksheet {
public:
    const QString &name() const { return m_name; }
    // Chart and macro sheets are carried over but hold no cells.
    bool isWorksheet() const { return m_isWorksheet; }

    const std::map<uint32_t, Cell> &cells() const { return m_cells; }
    const Cell *cellAt(uint16_t row, uint16_t col) const;
    // Bounding box of every cell record, formatted blanks included; empty for a sheet without cells.
    std::optional<CellRange> usedRange() const;

    // Throws std::invalid_argument for a column past IV or a text longer than 32,767 characters.
    void setNumber(uint16_t row, uint16_t col, double value);
    void setText(uint16_t row, uint16_t col, const QString &text);
    void setBoolean(uint16_t row, uint16_t col, bool value);
    // code: a cell error code (0x07 #DIV/0! ...).
    void setError(uint16_t row, uint16_t col, uint8_t code);
    // Clears the value; the cell stays as a formatted blank.
    void setBlank(uint16_t row, uint16_t col);
    // Whether any cell of rect belongs to an array formula of more than one cell, which a
    // write may not change in part.
    bool touchesArrayFormula(const CellRange &rect) const;

    const std::vector<ColumnInfo> &columns() const { return m_columns; }
    // Width of columns without COLINFO, in characters (DEFCOLWIDTH); 8 when the sheet has none.
    uint16_t defaultColumnWidth() const { return m_defaultColumnWidth; }
    // STANDARDWIDTH, in 1/256 characters, when the sheet has it.
    std::optional<uint16_t> standardWidth() const { return m_standardWidth; }
    RowInfo row(uint16_t row) const;
    const std::map<uint16_t, RowInfo> &rows() const { return m_rowInfo; }
    uint16_t defaultRowHeight() const { return m_defaultRowHeight; } // twips
    const std::vector<CellRange> &mergedCells() const { return m_merged; }
    const SheetView &view() const { return m_view; }
    // MSODRAWING, OBJ, TXO, NOTE and MSODRAWINGSELECTION records with the CONTINUE records that
    // follow them, in file order.
    std::vector<const Record *> drawingRecords() const;
    // Every record kept verbatim, in file order (the cell table is not among them).
    const std::vector<Record> &records() const { return m_records; }
    // The pictures anchored on the sheet, in file order, as read when the workbook was opened.
    const std::vector<SheetPicture> &pictures() const { return m_pictures; }

private:
    friend void readPictures(Workbook &book);
    friend class WorkbookReader;
    friend class WorkbookWriter;
    friend class GlobalsParser;
    friend class SheetParser;
    friend class Workbook;

    Cell &cellForWrite(uint16_t row, uint16_t col);
    const std::vector<CellRange> &arrayFormulas() const;
    void releaseSharedFormula(uint16_t row, uint16_t col, const FormulaCell &anchor);

    QString m_name;
    bool m_isWorksheet = true;
    std::vector<Record> m_records;            // kept records, cell table removed
    size_t m_cellTableAt = 0;                 // m_records index the cell table is written before
    std::optional<size_t> m_indexAt, m_dimensionsAt;
    std::map<uint16_t, std::vector<uint8_t>> m_rowRecords; // ROW record data as read
    std::map<uint32_t, Cell> m_cells;
    std::vector<SharedString> *m_strings = nullptr; // owned by the workbook
    std::vector<ColumnInfo> m_columns;
    uint16_t m_defaultColumnWidth = 8;
    std::optional<uint16_t> m_standardWidth;
    std::map<uint16_t, RowInfo> m_rowInfo;
    uint16_t m_defaultRowHeight = biff::row::kDefaultHeightTwips;
    std::vector<CellRange> m_merged;
    SheetView m_view;
    std::vector<SheetPicture> m_pictures;
    mutable std::optional<std::vector<CellRange>> m_arrayFormulas; // found on first use
};

class Workbook {
public:
    // Files larger than this are refused before they are read.
    static constexpr qint64 kMaxFileSize = 256ll * 1024 * 1024;
    static constexpr size_t kMaxCells = 4u * 1024 * 1024;

    Workbook();
    Workbook(Workbook &&) noexcept;
    Workbook &operator=(Workbook &&) noexcept;
    ~Workbook();

    static Result<Workbook> open(const QString &path);
    // name is what error messages call the data ("book.xls").
    static Result<Workbook> fromBytes(std::span<const uint8_t> bytes, const QString &name);

    Status saveAs(const QString &path) const;
    Result<std::vector<uint8_t>> toBytes() const;

    int sheetCount() const { return int(m_sheets.size()); }
    Worksheet &sheet(int i) { return *m_sheets.at(size_t(i)); }
    const Worksheet &sheet(int i) const { return *m_sheets.at(size_t(i)); }
    int activeSheetIndex() const { return m_activeSheet; }

    const QString &text(const Cell &cell) const;
    const std::vector<SharedString> &strings() const { return *m_strings; }

    const std::vector<CellFormat> &xfs() const { return m_xfs; }
    const CellFormat &xf(uint16_t index) const; // a default format for an index the file lacks
    const std::vector<Font> &fonts() const { return m_fonts; }
    // Font by the index an XF names: the file has no font 4, so 5 and up shift by one.
    const Font &font(uint16_t index) const;
    // The format code of a number format index, built-in or from a FORMAT record.
    QString numberFormat(uint16_t index) const;
    // 0xRRGGBB of a colour index: 0-7 fixed, 8-63 palette (the file's PALETTE or the default),
    // 64 and 0x7FFF the system foreground (black), 65 the system background (white).
    uint32_t color(uint16_t index) const;
    bool uses1904Dates() const { return m_date1904; }
    std::vector<const Record *> drawingGroupRecords() const;
    const std::vector<Record> &globalRecords() const { return m_globals; }

private:
    friend class WorkbookReader;
    friend class WorkbookWriter;
    friend class GlobalsParser;
    friend class SheetParser;

    CompoundFile m_container;
    QByteArray m_streamName = "Workbook";
    std::vector<Record> m_globals;            // kept records, SST and EXTSST removed
    size_t m_sstAt = 0;
    std::vector<size_t> m_boundSheetAt;       // m_globals indices of the BOUNDSHEET records
    std::vector<std::unique_ptr<Worksheet>> m_sheets;
    std::unique_ptr<std::vector<SharedString>> m_strings;
    std::vector<CellFormat> m_xfs;
    std::vector<Font> m_fonts;
    std::map<uint16_t, QString> m_formats;
    std::vector<uint32_t> m_palette;          // 56 entries for indices 8-63
    bool m_date1904 = false;
    int m_activeSheet = 0;
};

} // namespace xls
