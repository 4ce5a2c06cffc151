// Reads the Workbook stream into the model: one read function per record we interpret, a
// table from record id to that function, and every other record kept as it came.

#include "platform/xls/OlderFormats.h"
#include "platform/xls/Workbook.h"
#include "platform/xls/WorkbookReader.h"

#include <algorithm>

namespace xls {

namespace {

Error recordError(const Record &r, const QString &problem)
{
    return Error{QStringLiteral("%1 record at offset %2: %3").arg(QLatin1String(recordName(r.id))).arg(r.offset).arg(problem)};
}

Error tooShort(const Record &r) { return recordError(r, QStringLiteral("too short (%1 bytes)").arg(r.data.size())); }

// XLUnicodeString / ShortXLUnicodeString inside one record (FONT, FORMAT, BOUNDSHEET names).
bool readPlainString(ByteCursor &c, bool shortLength, QString &out)
{
    uint16_t cch = 0;
    uint8_t cch8 = 0, options = 0;
    if (shortLength) {
        c.readU8(cch8);
        cch = cch8;
    } else {
        c.readU16(cch);
    }
    c.readU8(options);
    if (!c.ok())
        return false;
    const bool high = options & biff::str::kHighByte;
    std::span<const uint8_t> b;
    if (!c.readBytes(size_t(cch) * (high ? 2 : 1), b))
        return false;
    out.clear();
    out.reserve(cch);
    for (size_t i = 0; i < cch; ++i)
        out.append(high ? QChar(char16_t(b[2 * i] | b[2 * i + 1] << 8)) : QChar(char16_t(b[i])));
    return true;
}

bool isCellTableRecord(uint16_t id)
{
    using namespace biff::rec;
    switch (id) {
    case ROW: case DBCELL: case NUMBER: case RK: case MULRK: case LABELSST: case LABEL: case BLANK:
    case MULBLANK: case BOOLERR: case FORMULA:
        return true;
    default:
        return false;
    }
}

bool belongsToFormula(uint16_t id)
{
    using namespace biff::rec;
    return id == SHRFMLA || id == ARRAY || id == TABLE || id == STRING;
}



} // namespace

// ---- Globals -------------------------------------------------------------------------

struct BoundSheet {
    uint32_t position = 0;
    uint8_t type = 0;
    QString name;
};

class GlobalsParser {
public:
    GlobalsParser(Workbook &wb, std::span<const uint8_t> stream) : m_wb(wb), m_stream(stream) {}

    Status run(ByteCursor &c);
    std::vector<BoundSheet> sheets;
    size_t end = 0;

private:
    using Handler = Status (GlobalsParser::*)(const Record &);
    struct Entry {
        uint16_t id;
        Handler handler;
    };
    static const Entry kTable[];

    Status readFILEPASS(const Record &r);
    Status readBOUNDSHEET(const Record &r);
    Status readFONT(const Record &r);
    Status readXF(const Record &r);
    Status readFORMAT(const Record &r);
    Status readPALETTE(const Record &r);
    Status readDATEMODE(const Record &r);
    Status readWINDOW1(const Record &r);

    Workbook &m_wb;
    std::span<const uint8_t> m_stream;
};

const GlobalsParser::Entry GlobalsParser::kTable[] = {
    {biff::rec::FILEPASS, &GlobalsParser::readFILEPASS},
    {biff::rec::BOUNDSHEET, &GlobalsParser::readBOUNDSHEET},
    {biff::rec::FONT, &GlobalsParser::readFONT},
    {biff::rec::XF, &GlobalsParser::readXF},
    {biff::rec::FORMAT, &GlobalsParser::readFORMAT},
    {biff::rec::PALETTE, &GlobalsParser::readPALETTE},
    {biff::rec::DATEMODE, &GlobalsParser::readDATEMODE},
    {biff::rec::WINDOW1, &GlobalsParser::readWINDOW1},
};

Status GlobalsParser::readFILEPASS(const Record &)
{
    return Error{QStringLiteral("the workbook is encrypted (password protected); encrypted workbooks cannot be opened")};
}

Status GlobalsParser::readBOUNDSHEET(const Record &r)
{
    ByteCursor c(r.data);
    BoundSheet s;
    uint8_t visibility = 0;
    c.readU32(s.position);
    c.readU8(visibility);
    c.readU8(s.type);
    if (!readPlainString(c, true, s.name))
        return tooShort(r);
    m_wb.m_boundSheetAt.push_back(m_wb.m_globals.size());
    sheets.push_back(std::move(s));
    return {};
}

Status GlobalsParser::readFONT(const Record &r)
{
    ByteCursor c(r.data);
    Font f;
    uint16_t options = 0;
    c.readU16(f.heightTwips);
    c.readU16(options);
    c.readU16(f.colorIndex);
    c.readU16(f.weight);
    c.readU16(f.escapement);
    c.readU8(f.underline);
    c.readU8(f.family);
    c.readU8(f.charset);
    c.skip(1);
    if (!readPlainString(c, true, f.name))
        return tooShort(r);
    f.italic = options & biff::font::kItalic;
    f.strikeout = options & biff::font::kStrikeout;
    m_wb.m_fonts.push_back(std::move(f));
    return {};
}

Status GlobalsParser::readXF(const Record &r)
{
    ByteCursor c(r.data);
    CellFormat x;
    uint16_t typeProt = 0, fill = 0;
    uint8_t align = 0, indent = 0, used = 0;
    uint32_t border1 = 0, border2 = 0;
    c.readU16(x.fontIndex);
    c.readU16(x.formatIndex);
    c.readU16(typeProt);
    c.readU8(align);
    c.readU8(x.rotation);
    c.readU8(indent);
    c.readU8(used);
    c.readU32(border1);
    c.readU32(border2);
    c.readU16(fill);
    if (!c.ok())
        return tooShort(r);
    x.locked = typeProt & 0x0001;
    x.hidden = typeProt & 0x0002;
    x.isStyle = typeProt & biff::xf::kStyleXf;
    x.parent = typeProt >> 4;
    x.horizontal = align & 0x07;
    x.wrap = align & 0x08;
    x.vertical = (align >> 4) & 0x07;
    x.indent = indent & 0x0F;
    x.shrinkToFit = indent & 0x10;
    x.left = {uint8_t(border1 & 0x0F), uint8_t((border1 >> 16) & 0x7F)};
    x.right = {uint8_t((border1 >> 4) & 0x0F), uint8_t((border1 >> 23) & 0x7F)};
    x.top = {uint8_t((border1 >> 8) & 0x0F), uint8_t(border2 & 0x7F)};
    x.bottom = {uint8_t((border1 >> 12) & 0x0F), uint8_t((border2 >> 7) & 0x7F)};
    x.diagonal = {uint8_t((border2 >> 21) & 0x0F), uint8_t((border2 >> 14) & 0x7F)};
    x.diagonalDirections = uint8_t(border1 >> 30);
    x.fillPattern = uint8_t(border2 >> 26);
    x.patternColorIndex = uint8_t(fill & 0x7F);
    x.backgroundColorIndex = uint8_t((fill >> 7) & 0x7F);
    (void)used;
    m_wb.m_xfs.push_back(x);
    return {};
}

Status GlobalsParser::readFORMAT(const Record &r)
{
    ByteCursor c(r.data);
    uint16_t index = 0;
    QString code;
    c.readU16(index);
    if (!readPlainString(c, false, code))
        return tooShort(r);
    m_wb.m_formats[index] = code;
    return {};
}

Status GlobalsParser::readPALETTE(const Record &r)
{
    ByteCursor c(r.data);
    uint16_t count = 0;
    c.readU16(count);
    if (!c.ok() || count > biff::palette::kCount)
        return recordError(r, QStringLiteral("declares %1 colours; a palette has at most 56").arg(count));
    for (uint16_t i = 0; i < count; ++i) {
        uint8_t rgb[4] = {};
        for (uint8_t &b : rgb)
            c.readU8(b);
        if (!c.ok())
            return tooShort(r);
        m_wb.m_palette[i] = uint32_t(rgb[0]) << 16 | uint32_t(rgb[1]) << 8 | rgb[2];
    }
    return {};
}

Status GlobalsParser::readDATEMODE(const Record &r)
{
    ByteCursor c(r.data);
    uint16_t v = 0;
    c.readU16(v);
    m_wb.m_date1904 = c.ok() && v == 1;
    return {};
}

Status GlobalsParser::readWINDOW1(const Record &r)
{
    ByteCursor c(r.data);
    uint16_t active = 0;
    c.skip(biff::window1::kActiveSheet);
    if (c.readU16(active))
        m_wb.m_activeSheet = active;
    return {};
}

Status GlobalsParser::run(ByteCursor &c)
{
    std::optional<size_t> sstAt;
    while (true) {
        if (c.atEnd())
            return Error{QStringLiteral("the workbook globals end without an EOF record; the file is truncated")};
        Result<Record> r = readRecord(c);
        if (!r)
            return r.error();
        Record &rec = *r;
        if (rec.id == biff::rec::BOF)
            return recordError(rec, QStringLiteral("a new substream starts inside the workbook globals"));
        if (rec.id == biff::rec::SST) {
            // The SST and its CONTINUE records are read as one; the writer rebuilds them.
            std::vector<Record> parts{std::move(rec)};
            for (Record &k : readContinuation(c))
                parts.push_back(std::move(k));
            if (sstAt)
                return recordError(parts.front(), QStringLiteral("the workbook has a second shared string table"));
            sstAt = m_wb.m_globals.size();
            if (Status s = WorkbookReader::readSST(m_wb, parts); !s)
                return s;
            continue;
        }
        if (rec.id == biff::rec::EXTSST) {
            // Rebuilt on save from the new SST; its CONTINUE records go with it.
            readContinuation(c);
            continue;
        }
        for (const Entry &e : kTable)
            if (e.id == rec.id) {
                if (Status s = (this->*e.handler)(rec); !s)
                    return s;
                break;
            }
        const bool isEof = rec.id == biff::rec::EOF_;
        if (isEof && !sstAt)
            sstAt = m_wb.m_globals.size();
        m_wb.m_globals.push_back(std::move(rec));
        if (isEof)
            break;
    }
    m_wb.m_sstAt = *sstAt;
    end = c.offset();
    return {};
}

// ---- SST -----------------------------------------------------------------------------

Status WorkbookReader::readSST(Workbook &wb, const std::vector<Record> &parts)
{
    ContinueReader in(parts.front(), std::span(parts).subspan(1));
    uint32_t total = 0, unique = 0;
    in.readU32(total);
    in.readU32(unique);
    if (!in.ok())
        return tooShort(parts.front());
    // Each string takes at least three bytes, so the count cannot honestly exceed this.
    size_t bytes = 0;
    for (const Record &p : parts)
        bytes += p.data.size();
    if (unique > biff::sst::kMaxUnique || unique > bytes / 3)
        return recordError(parts.front(), QStringLiteral("declares %1 strings, more than its %2 bytes can hold").arg(unique).arg(bytes));
    std::vector<SharedString> &strings = *wb.m_strings;
    strings.reserve(unique);
    for (uint32_t i = 0; i < unique; ++i) {
        SharedString s;
        if (!in.readRichString(s.text, s.runs, s.phonetic)) {
            const Record &where = parts[std::min(in.segment(), parts.size() - 1)];
            return recordError(where, QStringLiteral("string %1 of %2 runs past the end of the table").arg(i + 1).arg(unique));
        }
        strings.push_back(std::move(s));
    }
    return {};
}

// ---- Worksheets ----------------------------------------------------------------------

class SheetParser {
public:
    SheetParser(Workbook &wb, Worksheet &sheet) : m_wb(wb), m_sheet(sheet) {}
    Status run(ByteCursor &c);

private:
    using Handler = Status (SheetParser::*)(const Record &);
    struct Entry {
        uint16_t id;
        Handler handler;
    };
    static const Entry kTable[];

    // Cell table records: consumed into the model, rewritten on save.
    Status readROW(const Record &r);
    Status readDBCELL(const Record &) { return {}; }
    Status readNUMBER(const Record &r);
    Status readRK(const Record &r);
    Status readMULRK(const Record &r);
    Status readLABELSST(const Record &r);
    Status readLABEL(const Record &r);
    Status readBLANK(const Record &r);
    Status readMULBLANK(const Record &r);
    Status readBOOLERR(const Record &r);
    Status readFORMULA(const Record &r);
    // Kept records we also decode for the model.
    Status readCOLINFO(const Record &r);
    Status readDEFCOLWIDTH(const Record &r);
    Status readSTANDARDWIDTH(const Record &r);
    Status readDEFAULTROWHEIGHT(const Record &r);
    Status readMERGEDCELLS(const Record &r);
    Status readWINDOW2(const Record &r);
    Status readSCL(const Record &r);

    Status putCell(const Record &r, uint16_t row, uint16_t col, Cell cell);
    Status readCellHeader(const Record &r, ByteCursor &c, uint16_t &row, uint16_t &col, uint16_t &xf, size_t need);

    Workbook &m_wb;
    Worksheet &m_sheet;
    std::vector<Record> m_following; // CONTINUE and formula companions of the current record
};

const SheetParser::Entry SheetParser::kTable[] = {
    {biff::rec::ROW, &SheetParser::readROW},
    {biff::rec::DBCELL, &SheetParser::readDBCELL},
    {biff::rec::NUMBER, &SheetParser::readNUMBER},
    {biff::rec::RK, &SheetParser::readRK},
    {biff::rec::MULRK, &SheetParser::readMULRK},
    {biff::rec::LABELSST, &SheetParser::readLABELSST},
    {biff::rec::LABEL, &SheetParser::readLABEL},
    {biff::rec::BLANK, &SheetParser::readBLANK},
    {biff::rec::MULBLANK, &SheetParser::readMULBLANK},
    {biff::rec::BOOLERR, &SheetParser::readBOOLERR},
    {biff::rec::FORMULA, &SheetParser::readFORMULA},
    {biff::rec::COLINFO, &SheetParser::readCOLINFO},
    {biff::rec::DEFCOLWIDTH, &SheetParser::readDEFCOLWIDTH},
    {biff::rec::STANDARDWIDTH, &SheetParser::readSTANDARDWIDTH},
    {biff::rec::DEFAULTROWHEIGHT, &SheetParser::readDEFAULTROWHEIGHT},
    {biff::rec::MERGEDCELLS, &SheetParser::readMERGEDCELLS},
    {biff::rec::WINDOW2, &SheetParser::readWINDOW2},
    {biff::rec::SCL, &SheetParser::readSCL},
};

Status SheetParser::readCellHeader(const Record &r, ByteCursor &c, uint16_t &row, uint16_t &col, uint16_t &xf,
                                   size_t need)
{
    if (r.data.size() < need)
        return tooShort(r);
    c.readU16(row);
    c.readU16(col);
    c.readU16(xf);
    if (col > biff::cell::kMaxCol)
        return recordError(r, QStringLiteral("column %1 is past the last column IV").arg(col + 1));
    return {};
}

Status SheetParser::putCell(const Record &r, uint16_t row, uint16_t col, Cell cell)
{
    if (m_sheet.m_cells.size() >= Workbook::kMaxCells)
        return recordError(r, QStringLiteral("the sheet has more than %1 cells").arg(Workbook::kMaxCells));
    m_sheet.m_cells[cellKey(row, col)] = std::move(cell);
    return {};
}

Status SheetParser::readROW(const Record &r)
{
    if (r.data.size() < biff::row::kSize)
        return tooShort(r);
    const uint16_t row = getU16(r.data, biff::row::kRow);
    m_sheet.m_rowRecords[row] = std::vector<uint8_t>(r.data.begin(), r.data.begin() + biff::row::kSize);
    const uint16_t height = getU16(r.data, biff::row::kHeight);
    const uint32_t flags = getU32(r.data, biff::row::kFlags);
    RowInfo info;
    info.heightTwips = height & biff::row::kHeightMask;
    if (height & biff::row::kDefaultHeightBit)
        info.heightTwips = m_sheet.m_defaultRowHeight;
    info.customHeight = flags & biff::row::kCustomHeight;
    info.hidden = flags & biff::row::kHidden;
    if (flags & biff::row::kHasXf)
        info.xf = uint16_t((flags >> biff::row::kXfShift) & biff::row::kXfMask);
    m_sheet.m_rowInfo[row] = info;
    return {};
}

Status SheetParser::readNUMBER(const Record &r)
{
    ByteCursor c(r.data);
    uint16_t row, col, xf;
    if (Status s = readCellHeader(r, c, row, col, xf, biff::cell::kNumberSize); !s)
        return s;
    Cell cell{CellType::Number, 0, xf, 0, 0, nullptr};
    c.readDouble(cell.number);
    return putCell(r, row, col, cell);
}

Status SheetParser::readRK(const Record &r)
{
    ByteCursor c(r.data);
    uint16_t row, col, xf;
    if (Status s = readCellHeader(r, c, row, col, xf, biff::cell::kRkSize); !s)
        return s;
    uint32_t rk = 0;
    c.readU32(rk);
    return putCell(r, row, col, Cell{CellType::Number, 0, xf, 0, decodeRk(rk), nullptr});
}

Status SheetParser::readMULRK(const Record &r)
{
    ByteCursor c(r.data);
    uint16_t row = 0, col = 0;
    c.readU16(row);
    c.readU16(col);
    // Entries fill the record up to the trailing last-column field; we trust the size over
    // that field, as other readers do.
    if (!c.ok() || r.data.size() < 6 + biff::cell::kMulEntryRk)
        return tooShort(r);
    const size_t n = (r.data.size() - 6) / biff::cell::kMulEntryRk;
    if (col + n - 1 > biff::cell::kMaxCol)
        return recordError(r, QStringLiteral("its cells run past the last column IV"));
    for (size_t i = 0; i < n; ++i) {
        uint16_t xf = 0;
        uint32_t rk = 0;
        c.readU16(xf);
        c.readU32(rk);
        if (Status s = putCell(r, row, uint16_t(col + i), Cell{CellType::Number, 0, xf, 0, decodeRk(rk), nullptr}); !s)
            return s;
    }
    return {};
}

Status SheetParser::readLABELSST(const Record &r)
{
    ByteCursor c(r.data);
    uint16_t row, col, xf;
    if (Status s = readCellHeader(r, c, row, col, xf, biff::cell::kLabelSstSize); !s)
        return s;
    uint32_t index = 0;
    c.readU32(index);
    if (index >= m_wb.m_strings->size())
        return recordError(r, QStringLiteral("refers to shared string %1, but the table has %2").arg(index).arg(m_wb.m_strings->size()));
    return putCell(r, row, col, Cell{CellType::Text, 0, xf, index, 0, nullptr});
}

Status SheetParser::readLABEL(const Record &r)
{
    ByteCursor c(r.data);
    uint16_t row, col, xf;
    if (Status s = readCellHeader(r, c, row, col, xf, biff::cell::kHeaderSize + 3); !s)
        return s;
    ContinueReader in(r, m_following);
    uint16_t cch = 0;
    uint8_t options = 0;
    in.skip(biff::cell::kHeaderSize);
    in.readU16(cch);
    in.readU8(options);
    SharedString s;
    if (!in.readChars(cch, options & biff::str::kHighByte, s.text))
        return recordError(r, QStringLiteral("its text runs past the end of the record"));
    // Inline text joins the shared table; a save writes it as LABELSST as Excel does.
    m_wb.m_strings->push_back(std::move(s));
    return putCell(r, row, col, Cell{CellType::Text, 0, xf, uint32_t(m_wb.m_strings->size() - 1), 0, nullptr});
}

Status SheetParser::readBLANK(const Record &r)
{
    ByteCursor c(r.data);
    uint16_t row, col, xf;
    if (Status s = readCellHeader(r, c, row, col, xf, biff::cell::kBlankSize); !s)
        return s;
    return putCell(r, row, col, Cell{CellType::Blank, 0, xf, 0, 0, nullptr});
}

Status SheetParser::readMULBLANK(const Record &r)
{
    ByteCursor c(r.data);
    uint16_t row = 0, col = 0;
    c.readU16(row);
    c.readU16(col);
    if (!c.ok() || r.data.size() < 8)
        return tooShort(r);
    const size_t n = (r.data.size() - 6) / 2;
    if (col + n - 1 > biff::cell::kMaxCol)
        return recordError(r, QStringLiteral("its cells run past the last column IV"));
    for (size_t i = 0; i < n; ++i) {
        uint16_t xf = 0;
        c.readU16(xf);
        if (Status s = putCell(r, row, uint16_t(col + i), Cell{CellType::Blank, 0, xf, 0, 0, nullptr}); !s)
            return s;
    }
    return {};
}

Status SheetParser::readBOOLERR(const Record &r)
{
    ByteCursor c(r.data);
    uint16_t row, col, xf;
    if (Status s = readCellHeader(r, c, row, col, xf, biff::cell::kBoolErrSize); !s)
        return s;
    uint8_t value = 0, isError = 0;
    c.readU8(value);
    c.readU8(isError);
    return putCell(r, row, col, Cell{isError ? CellType::Error : CellType::Boolean, value, xf, 0, 0, nullptr});
}

Status SheetParser::readFORMULA(const Record &r)
{
    ByteCursor c(r.data);
    uint16_t row, col, xf;
    if (Status s = readCellHeader(r, c, row, col, xf, biff::cell::kFormulaMinSize); !s)
        return s;
    auto f = std::make_shared<FormulaCell>();
    Cell cell{CellType::Formula, 0, xf, 0, 0, nullptr};
    const std::span<const uint8_t> d(r.data);
    if (getU16(d, biff::cell::kValue + 6) == biff::cell::kFormulaNonNumber) {
        switch (d[biff::cell::kValue]) {
        case biff::cell::kFormulaString: {
            f->result = FormulaResult::Text;
            // The text comes in the STRING record that follows (after SHRFMLA or ARRAY, if any).
            SharedString s;
            for (size_t i = 0; i < m_following.size(); ++i) {
                if (m_following[i].id != biff::rec::STRING)
                    continue;
                const std::span<const Record> continues(m_following.begin() + i + 1, m_following.begin() + continuedEnd(m_following, i));
                ContinueReader in(m_following[i], continues);
                uint16_t cch = 0;
                uint8_t options = 0;
                in.readU16(cch);
                in.readU8(options);
                if (!in.readChars(cch, options & biff::str::kHighByte, s.text))
                    return recordError(m_following[i], QStringLiteral("its text runs past the end of the record"));
                break;
            }
            m_wb.m_strings->push_back(std::move(s));
            cell.text = uint32_t(m_wb.m_strings->size() - 1);
            break;
        }
        case biff::cell::kFormulaBool:
            f->result = FormulaResult::Boolean;
            cell.code = d[biff::cell::kValue + 2];
            break;
        case biff::cell::kFormulaError:
            f->result = FormulaResult::Error;
            cell.code = d[biff::cell::kValue + 2];
            break;
        default:
            f->result = FormulaResult::EmptyText;
            break;
        }
    } else {
        c.readDouble(cell.number);
    }
    f->records.push_back(r);
    f->records.insert(f->records.end(), m_following.begin(), m_following.end());
    m_following.clear();
    cell.formula = std::move(f);
    return putCell(r, row, col, std::move(cell));
}

Status SheetParser::readCOLINFO(const Record &r)
{
    ByteCursor c(r.data);
    ColumnInfo info;
    uint16_t options = 0;
    c.readU16(info.firstCol);
    c.readU16(info.lastCol);
    c.readU16(info.width);
    c.readU16(info.xf);
    c.readU16(options);
    if (!c.ok())
        return tooShort(r);
    info.hidden = options & biff::colinfo::kHidden;
    m_sheet.m_columns.push_back(info);
    return {};
}

Status SheetParser::readDEFCOLWIDTH(const Record &r)
{
    ByteCursor c(r.data);
    uint16_t w = 0;
    if (c.readU16(w))
        m_sheet.m_defaultColumnWidth = w;
    return {};
}

Status SheetParser::readSTANDARDWIDTH(const Record &r)
{
    ByteCursor c(r.data);
    uint16_t w = 0;
    if (c.readU16(w))
        m_sheet.m_standardWidth = w;
    return {};
}

Status SheetParser::readDEFAULTROWHEIGHT(const Record &r)
{
    ByteCursor c(r.data);
    uint16_t flags = 0, height = 0;
    c.readU16(flags);
    c.readU16(height);
    if (c.ok())
        m_sheet.m_defaultRowHeight = height;
    return {};
}

Status SheetParser::readMERGEDCELLS(const Record &r)
{
    ByteCursor c(r.data);
    uint16_t count = 0;
    c.readU16(count);
    for (uint16_t i = 0; i < count && c.ok(); ++i) {
        CellRange m;
        c.readU16(m.firstRow);
        c.readU16(m.lastRow);
        c.readU16(m.firstCol);
        c.readU16(m.lastCol);
        if (c.ok())
            m_sheet.m_merged.push_back(m);
    }
    if (!c.ok())
        return tooShort(r);
    return {};
}

Status SheetParser::readWINDOW2(const Record &r)
{
    ByteCursor c(r.data);
    uint16_t options = 0;
    if (!c.readU16(options))
        return tooShort(r);
    m_sheet.m_view.showFormulas = options & biff::window2::kShowFormulas;
    m_sheet.m_view.showGrid = options & biff::window2::kShowGrid;
    m_sheet.m_view.showHeadings = options & biff::window2::kShowHeadings;
    m_sheet.m_view.selected = options & biff::window2::kSelected;
    return {};
}

Status SheetParser::readSCL(const Record &r)
{
    ByteCursor c(r.data);
    uint16_t num = 0, den = 0;
    c.readU16(num);
    c.readU16(den);
    if (c.ok() && den != 0)
        m_sheet.m_view.zoomPercent = uint16_t(std::min<uint32_t>(uint32_t(num) * 100 / den, 400));
    return {};
}

Status SheetParser::run(ByteCursor &c)
{
    int depth = 0; // charts embedded in a worksheet bring their own BOF/EOF pair
    std::optional<size_t> cellTableAt;
    while (true) {
        if (c.atEnd())
            return Error{QStringLiteral("sheet \"%1\" ends without an EOF record; the file is truncated").arg(m_sheet.m_name)};
        Result<Record> rr = readRecord(c);
        if (!rr)
            return rr.error();
        Record rec = std::move(*rr);
        if (rec.id == biff::rec::BOF)
            ++depth;
        if (depth == 0 && isCellTableRecord(rec.id)) {
            // Gather what belongs to this record: CONTINUE for long text, and the formula's
            // SHRFMLA / ARRAY / TABLE / STRING companions.
            m_following = readContinuation(c, rec.id == biff::rec::FORMULA ? belongsToFormula : nullptr);
            if (!cellTableAt)
                cellTableAt = m_sheet.m_records.size();
            for (const Entry &e : kTable)
                if (e.id == rec.id) {
                    if (Status s = (this->*e.handler)(rec); !s)
                        return s;
                    break;
                }
            m_following.clear();
            continue;
        }
        if (depth == 0) {
            for (const Entry &e : kTable)
                if (e.id == rec.id) {
                    if (Status s = (this->*e.handler)(rec); !s)
                        return s;
                    break;
                }
            if (rec.id == biff::rec::INDEX)
                m_sheet.m_indexAt = m_sheet.m_records.size();
            if (rec.id == biff::rec::DIMENSIONS)
                m_sheet.m_dimensionsAt = m_sheet.m_records.size();
        }
        const bool isEof = rec.id == biff::rec::EOF_;
        if (isEof)
            --depth;
        m_sheet.m_records.push_back(std::move(rec));
        if (isEof && depth < 0)
            break;
    }
    // A sheet without cells gets its cell table where Excel puts it: after DIMENSIONS, else
    // before WINDOW2, else before the EOF.
    if (!cellTableAt) {
        if (m_sheet.m_dimensionsAt) {
            cellTableAt = *m_sheet.m_dimensionsAt + 1;
        } else {
            cellTableAt = m_sheet.m_records.size() - 1;
            for (size_t i = 0; i < m_sheet.m_records.size(); ++i)
                if (m_sheet.m_records[i].id == biff::rec::WINDOW2) {
                    cellTableAt = i;
                    break;
                }
        }
    }
    m_sheet.m_cellTableAt = *cellTableAt;
    if (m_sheet.m_isWorksheet && !m_sheet.m_indexAt) {
        // Every worksheet of a BIFF8 file has an INDEX right after its BOF, and Excel uses it
        // to find rows; some writers leave it out, so a save adds it.
        m_sheet.m_records.insert(m_sheet.m_records.begin() + 1, Record{biff::rec::INDEX, {}, 0});
        m_sheet.m_indexAt = 1;
        ++m_sheet.m_cellTableAt;
        if (m_sheet.m_dimensionsAt)
            ++*m_sheet.m_dimensionsAt;
    }
    return {};
}

// ---- The whole stream ----------------------------------------------------------------

Result<Workbook> WorkbookReader::read(std::span<const uint8_t> bytes, const QString &name)
{
    auto fail = [&](const QString &problem) { return Error{QStringLiteral("%1: %2").arg(name, problem)}; };

    if (std::optional<QString> older = recognizeBareBiffStream(bytes))
        return fail(*older);
    Result<CompoundFile> cf = CompoundFile::parse(bytes);
    if (!cf)
        return fail(cf.error().message);
    Workbook wb;
    const StorageEntry *stream = cf->findStream("Workbook");
    if (!stream) {
        if (cf->findStream("Book"))
            return fail(QStringLiteral("an Excel 5.0/95 workbook (BIFF5); only Excel 97-2003 (BIFF8) workbooks are supported"));
        return fail(QStringLiteral("the compound document has no Workbook stream; it is not an Excel workbook"));
    }
    if (stream->data.size() > biff::kMaxWorkbookStream)
        return fail(QStringLiteral("the Workbook stream is larger than %1 bytes").arg(biff::kMaxWorkbookStream));
    wb.m_streamName = stream->name;
    wb.m_container = std::move(*cf);
    const std::span<const uint8_t> data(wb.m_container.findStream(wb.m_streamName)->data);

    ByteCursor c(data);
    {
        ByteCursor peek = c;
        Result<Record> first = readRecord(peek);
        if (!first)
            return fail(QStringLiteral("the Workbook stream is empty or truncated"));
        const uint16_t id = first->id;
        if (id == biff::rec::BOF_BIFF2 || id == biff::rec::BOF_BIFF3 || id == biff::rec::BOF_BIFF4)
            return fail(QStringLiteral("an older BIFF version (Excel 2.x to 4.0); only Excel 97-2003 (BIFF8) workbooks are supported"));
        if (id != biff::rec::BOF || first->data.size() < biff::bof::kMinSize)
            return fail(QStringLiteral("the Workbook stream does not start with a BOF record"));
        const uint16_t version = getU16(first->data, biff::bof::kVersion);
        if (version != biff::bof::kBiff8)
            return fail(QStringLiteral("an older BIFF version (0x%1); only Excel 97-2003 (BIFF8) workbooks are supported")
                            .arg(version, 4, 16, QLatin1Char('0')));
        if (getU16(first->data, biff::bof::kType) != biff::bof::kGlobals)
            return fail(QStringLiteral("the Workbook stream does not start with the workbook globals"));
        wb.m_globals.push_back(std::move(*first));
        c = peek;
    }

    GlobalsParser globals(wb, data);
    if (Status s = globals.run(c); !s)
        return fail(s.error().message);

    // Substreams must follow the globals and each other without overlapping; that also
    // bounds the work to one pass over the stream however many BOUNDSHEET records there are.
    std::vector<size_t> order(globals.sheets.size());
    for (size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::sort(order.begin(), order.end(), [&](size_t a, size_t b) { return globals.sheets[a].position < globals.sheets[b].position; });
    wb.m_sheets.resize(globals.sheets.size());
    size_t minStart = globals.end;
    for (size_t i : order) {
        const BoundSheet &bs = globals.sheets[i];
        auto sheet = std::make_unique<Worksheet>();
        sheet->m_name = bs.name;
        sheet->m_strings = wb.m_strings.get();
        if (bs.position < minStart || bs.position >= data.size())
            return fail(QStringLiteral("sheet \"%1\" is said to start at offset %2, which is outside the stream or overlaps another part")
                            .arg(bs.name)
                            .arg(bs.position));
        ByteCursor sc(data);
        sc.seek(bs.position);
        {
            ByteCursor peek = sc;
            Result<Record> bof = readRecord(peek);
            if (!bof || bof->id != biff::rec::BOF || bof->data.size() < biff::bof::kMinSize)
                return fail(QStringLiteral("sheet \"%1\" does not start with a BOF record at offset %2").arg(bs.name).arg(bs.position));
            sheet->m_isWorksheet = getU16(bof->data, biff::bof::kType) == biff::bof::kWorksheet;
            // The BOF is kept like any other record; depth counting starts after it.
            sheet->m_records.push_back(std::move(*bof));
            sc = peek;
        }
        SheetParser parser(wb, *sheet);
        if (Status s = parser.run(sc); !s)
            return fail(QStringLiteral("sheet \"%1\": %2").arg(bs.name, s.error().message));
        if (!sheet->m_isWorksheet && !sheet->m_cells.empty()) {
            // Chart and macro sheets keep their records only; cells there are not ours to rewrite.
            sheet->m_cells.clear();
        }
        minStart = sc.offset();
        wb.m_sheets[i] = std::move(sheet);
    }
    if (wb.m_sheets.empty())
        return fail(QStringLiteral("the workbook has no sheets"));
    if (wb.m_activeSheet >= int(wb.m_sheets.size()))
        wb.m_activeSheet = 0;
    readPictures(wb);
    return wb;
}

} // namespace xls
