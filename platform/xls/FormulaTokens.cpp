#include "platform/xls/FormulaTokens.h"
#include "platform/xls/Workbook.h"

#include <stdexcept>

namespace xls {

namespace f = biff::formula;

std::optional<std::pair<uint16_t, uint16_t>> formulaExpTarget(const Record &formula)
{
    const std::span<const uint8_t> d(formula.data);
    if (formula.id != biff::rec::FORMULA || d.size() < f::kTokens + f::kPtgExpSize)
        return std::nullopt;
    if (getU16(d, f::kTokenSize) != f::kPtgExpSize || d[f::kTokens] != f::kPtgExp)
        return std::nullopt;
    return std::pair{getU16(d, f::kTokens + 1), getU16(d, f::kTokens + 3)};
}

namespace {

// Size of a token's data after its id byte, for the tokens a BIFF8 formula can hold; nothing
// for one we do not know (the caller then leaves the formula alone).
std::optional<size_t> tokenDataSize(std::span<const uint8_t> rgce, size_t at)
{
    const uint8_t ptg = rgce[at];
    if (ptg >= 0x03 && ptg <= 0x16)
        return 0; // operators, parentheses, the missing argument
    switch (ptg) {
    case f::kPtgStr: {
        if (rgce.size() - at < 3)
            return std::nullopt;
        const size_t chars = rgce[at + 1];
        return 2 + chars * ((rgce[at + 2] & 0x01) ? 2 : 1);
    }
    case f::kPtgAttr: {
        if (rgce.size() - at < 4)
            return std::nullopt;
        if (rgce[at + 1] & f::kAttrChoose)
            return 3 + 2 * (size_t(getU16(rgce, at + 2)) + 1);
        return 3;
    }
    case f::kPtgErr:
    case f::kPtgBool:
        return 1;
    case f::kPtgInt:
        return 2;
    case f::kPtgNum:
        return 8;
    default:
        break;
    }
    if (ptg < 0x20 || ptg > 0x7F)
        return std::nullopt; // ptgExp / ptgTbl cannot stand in a shared formula; 0x18 is not used by BIFF8 writers
    switch (ptg & 0x1F) {
    case 0x00: return 7;                 // ptgArray (its values follow the tokens)
    case 0x01: return 2;                 // ptgFunc
    case 0x02: return 3;                 // ptgFuncVar
    case 0x03: return 4;                 // ptgName
    case f::kBaseRef: return 4;
    case f::kBaseArea: return 8;
    case 0x06: case 0x07: case 0x08: return 6; // ptgMemArea, ptgMemErr, ptgMemNoMem
    case 0x09: return 2;                 // ptgMemFunc
    case 0x0A: return 4;                 // ptgRefErr
    case 0x0B: return 8;                 // ptgAreaErr
    case f::kBaseRefN: return 4;
    case f::kBaseAreaN: return 8;
    case 0x19: return 6;                 // ptgNameX
    case f::kBaseRef3d: return 6;
    case f::kBaseArea3d: return 10;
    case 0x1C: return 6;                 // ptgRefErr3d
    case 0x1D: return 10;                // ptgAreaErr3d
    default: return std::nullopt;
    }
}

// One relative (row, column-field) pair of a shared formula, made absolute for the cell.
void resolveRowCol(std::vector<uint8_t> &out, size_t rowAt, size_t colAt, uint16_t row, uint16_t col)
{
    const uint16_t rw = getU16(out, rowAt);
    const uint16_t field = getU16(out, colAt);
    const uint16_t r = (field & f::kRowRelative) ? uint16_t(row + int16_t(rw)) : rw;
    const uint8_t c = (field & f::kColRelative) ? uint8_t(col + int8_t(field & f::kColumnMask))
                                                 : uint8_t(field & f::kColumnMask);
    out[rowAt] = uint8_t(r);
    out[rowAt + 1] = uint8_t(r >> 8);
    const uint16_t newField = uint16_t((field & (f::kRowRelative | f::kColRelative)) | c);
    out[colAt] = uint8_t(newField);
    out[colAt + 1] = uint8_t(newField >> 8);
}

} // namespace

std::optional<std::vector<uint8_t>> resolveSharedTokens(std::span<const uint8_t> tokens, uint16_t row, uint16_t col)
{
    std::vector<uint8_t> out(tokens.begin(), tokens.end());
    size_t at = 0;
    while (at < out.size()) {
        const std::optional<size_t> size = tokenDataSize(out, at);
        if (!size || *size > out.size() - at - 1)
            return std::nullopt;
        const uint8_t ptg = out[at];
        const uint8_t cls = ptg & 0x60;
        if (ptg >= 0x20) {
            switch (ptg & 0x1F) {
            case f::kBaseRefN:
                out[at] = uint8_t(cls | f::kBaseRef);
                resolveRowCol(out, at + 1, at + 3, row, col);
                break;
            case f::kBaseAreaN:
                out[at] = uint8_t(cls | f::kBaseArea);
                resolveRowCol(out, at + 1, at + 5, row, col);
                resolveRowCol(out, at + 3, at + 7, row, col);
                break;
            case f::kBaseRef3d:
                resolveRowCol(out, at + 3, at + 5, row, col);
                break;
            case f::kBaseArea3d:
                resolveRowCol(out, at + 3, at + 7, row, col);
                resolveRowCol(out, at + 5, at + 9, row, col);
                break;
            default:
                break;
            }
        }
        at += 1 + *size;
    }
    return out;
}

// ---- Cell writes that meet shared formulas and arrays --------------------------------------

namespace {

const Record *companion(const FormulaCell &formula, uint16_t id)
{
    for (const Record &r : formula.records)
        if (r.id == id)
            return &r;
    return nullptr;
}

std::optional<CellRange> rangeOf(const Record *r)
{
    if (!r || r->data.size() < f::kRangeSize)
        return std::nullopt;
    return CellRange{getU16(r->data, 0), getU16(r->data, 2), r->data[4], r->data[5]};
}

bool contains(const CellRange &r, uint16_t row, uint16_t col)
{
    return row >= r.firstRow && row <= r.lastRow && col >= r.firstCol && col <= r.lastCol;
}

} // namespace

const std::vector<CellRange> &Worksheet::arrayFormulas() const
{
    // Writes never create an array formula and change only those of a single cell, which
    // touchesArrayFormula passes over, so the list read once stays true for what it decides.
    if (!m_arrayFormulas) {
        m_arrayFormulas.emplace();
        for (const auto &[key, cell] : m_cells)
            if (cell.type == CellType::Formula && cell.formula)
                if (auto range = rangeOf(companion(*cell.formula, biff::rec::ARRAY)))
                    m_arrayFormulas->push_back(*range);
    }
    return *m_arrayFormulas;
}

bool Worksheet::touchesArrayFormula(const CellRange &rect) const
{
    for (const CellRange &a : arrayFormulas())
        if ((a.firstRow != a.lastRow || a.firstCol != a.lastCol) // one cell is never "part" of its array
            && rect.firstRow <= a.lastRow && a.firstRow <= rect.lastRow && rect.firstCol <= a.lastCol && a.firstCol <= rect.lastCol)
            return true;
    return false;
}

// The cells of a shared formula name its anchor (the cell whose FORMULA record the SHRFMLA
// follows) and find their tokens there. Before the anchor loses its formula, each of them gets
// the tokens as its own formula, so a spreadsheet still finds one for every cell.
void Worksheet::releaseSharedFormula(uint16_t row, uint16_t col, const FormulaCell &anchor)
{
    const Record *shared = companion(anchor, biff::rec::SHRFMLA);
    const std::optional<CellRange> range = rangeOf(shared);
    if (!range || shared->data.size() < f::kShrfmlaTokens)
        return;
    const std::span<const uint8_t> sd(shared->data);
    const size_t cce = getU16(sd, f::kShrfmlaTokenSize);
    if (cce > sd.size() - f::kShrfmlaTokens)
        return;
    const std::span<const uint8_t> tokens = sd.subspan(f::kShrfmlaTokens, cce);
    const std::span<const uint8_t> extra = sd.subspan(f::kShrfmlaTokens + cce);

    for (auto it = m_cells.lower_bound(cellKey(range->firstRow, 0)); it != m_cells.end(); ++it) {
        const uint16_t r = keyRow(it->first), c = keyCol(it->first);
        if (r > range->lastRow)
            break;
        Cell &cell = it->second;
        if ((r == row && c == col) || !contains(*range, r, c) || cell.type != CellType::Formula || !cell.formula
            || cell.formula->records.empty())
            continue;
        const Record &own = cell.formula->records.front();
        if (formulaExpTarget(own) != std::pair{row, col} || !(getU16(own.data, f::kFlags) & f::kShared))
            continue;
        std::optional<std::vector<uint8_t>> resolved = resolveSharedTokens(tokens, r, c);
        const size_t size = f::kTokens + (resolved ? resolved->size() : 0) + extra.size();
        if (resolved && size <= biff::kMaxRecordData) {
            auto mine = std::make_shared<FormulaCell>(*cell.formula);
            std::vector<uint8_t> &d = mine->records.front().data;
            std::vector<uint8_t> data(d.begin(), d.begin() + f::kTokens);
            const uint16_t flags = uint16_t(getU16(data, f::kFlags) & ~f::kShared);
            data[f::kFlags] = uint8_t(flags);
            data[f::kFlags + 1] = uint8_t(flags >> 8);
            data[f::kTokenSize] = uint8_t(resolved->size());
            data[f::kTokenSize + 1] = uint8_t(resolved->size() >> 8);
            data.insert(data.end(), resolved->begin(), resolved->end());
            data.insert(data.end(), extra.begin(), extra.end());
            d = std::move(data);
            cell.formula = std::move(mine);
            continue;
        }
        // Tokens we cannot rewrite: the cell keeps the value it showed, without its formula.
        switch (cell.formula->result) {
        case FormulaResult::Number: cell.type = CellType::Number; break;
        case FormulaResult::Text: cell.type = CellType::Text; break;
        case FormulaResult::Boolean: cell.type = CellType::Boolean; break;
        case FormulaResult::Error: cell.type = CellType::Error; break;
        case FormulaResult::EmptyText:
            cell.type = CellType::Text;
            m_strings->push_back(SharedString{});
            cell.text = uint32_t(m_strings->size() - 1);
            break;
        }
        cell.formula.reset();
    }
}

} // namespace xls
