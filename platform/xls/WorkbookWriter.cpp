// Writes the model back as a Workbook stream: the globals and sheets as one list in file
// order, with BOUNDSHEET, INDEX and DBCELL offsets patched once the layout is known.

#include "platform/xls/Workbook.h"
#include "platform/xls/WorkbookReader.h"

#include <QHash>
#include <cstring>
#include <algorithm>
#include <stdexcept>
#include <unordered_map>

namespace xls {

namespace {

// Excel refuses a Workbook stream kept in the small-block area of the container, which is
// where anything under 4096 bytes would go; padding with zeros after the last EOF is what
// other writers do and every reader skips.
constexpr size_t kMinWorkbookStream = 4096;

// Rich entries stay distinct from plain ones with the same text, so their runs survive.
struct StringKey {
    const SharedString *s;
    bool operator==(const StringKey &o) const
    {
        return s->text == o.s->text && s->runs == o.s->runs && s->phonetic == o.s->phonetic;
    }
};
struct StringKeyHash {
    size_t operator()(const StringKey &k) const { return qHash(k.s->text) ^ (k.s->runs.size() * 31) ^ k.s->phonetic.size(); }
};

StringPlan planStrings(const Workbook &wb)
{
    StringPlan plan;
    std::unordered_map<StringKey, uint32_t, StringKeyHash> seen;
    for (int i = 0; i < wb.sheetCount(); ++i) {
        for (const auto &[key, cell] : wb.sheet(i).cells()) {
            if (cell.type != CellType::Text)
                continue;
            ++plan.totalRefs;
            if (plan.newIndex.count(cell.text))
                continue;
            const SharedString *s = &wb.strings()[cell.text];
            auto [it, fresh] = seen.emplace(StringKey{s}, uint32_t(plan.strings.size()));
            if (fresh)
                plan.strings.push_back(s);
            plan.newIndex[cell.text] = it->second;
        }
    }
    return plan;
}

Record writeROW(const Worksheet &sheet, uint16_t row, const std::vector<uint8_t> *original, uint16_t firstCol,
                uint16_t lastColPlus1)
{
    RecordBuilder b(biff::rec::ROW, biff::row::kSize);
    b.u16(row).u16(firstCol).u16(lastColPlus1);
    if (original) {
        // Height, reserved fields and flags exactly as the file had them.
        b.bytes(std::span<const uint8_t>(*original).subspan(biff::row::kHeight));
    } else {
        b.u16(sheet.defaultRowHeight()).u16(0).u16(0).u32(biff::row::kAlwaysSet);
    }
    return b.finish();
}

Record writeNUMBER(uint16_t row, uint16_t col, const Cell &c)
{
    return RecordBuilder(biff::rec::NUMBER, biff::cell::kNumberSize).u16(row).u16(col).u16(c.xf).f64(c.number).finish();
}

Record writeRK(uint16_t row, uint16_t col, uint16_t xf, uint32_t rk)
{
    return RecordBuilder(biff::rec::RK, biff::cell::kRkSize).u16(row).u16(col).u16(xf).u32(rk).finish();
}

Record writeMULRK(uint16_t row, uint16_t firstCol, const std::vector<std::pair<uint16_t, uint32_t>> &xfRk)
{
    RecordBuilder b(biff::rec::MULRK, 6 + xfRk.size() * biff::cell::kMulEntryRk);
    b.u16(row).u16(firstCol);
    for (const auto &[xf, rk] : xfRk)
        b.u16(xf).u32(rk);
    b.u16(uint16_t(firstCol + xfRk.size() - 1));
    return b.finish();
}

Record writeBLANK(uint16_t row, uint16_t col, uint16_t xf)
{
    return RecordBuilder(biff::rec::BLANK, biff::cell::kBlankSize).u16(row).u16(col).u16(xf).finish();
}

Record writeMULBLANK(uint16_t row, uint16_t firstCol, const std::vector<uint16_t> &xfs)
{
    RecordBuilder b(biff::rec::MULBLANK, 6 + xfs.size() * 2);
    b.u16(row).u16(firstCol);
    for (uint16_t xf : xfs)
        b.u16(xf);
    b.u16(uint16_t(firstCol + xfs.size() - 1));
    return b.finish();
}

Record writeLABELSST(uint16_t row, uint16_t col, uint16_t xf, uint32_t sst)
{
    return RecordBuilder(biff::rec::LABELSST, biff::cell::kLabelSstSize).u16(row).u16(col).u16(xf).u32(sst).finish();
}

Record writeBOOLERR(uint16_t row, uint16_t col, const Cell &c)
{
    return RecordBuilder(biff::rec::BOOLERR, biff::cell::kBoolErrSize)
        .u16(row).u16(col).u16(c.xf).u8(c.code).u8(c.type == CellType::Error ? 1 : 0)
        .finish();
}

Record writeDIMENSIONS(const Worksheet &sheet)
{
    RecordBuilder b(biff::rec::DIMENSIONS, biff::dimensions::kSize);
    if (std::optional<CellRange> used = sheet.usedRange())
        b.u32(used->firstRow).u32(uint32_t(used->lastRow) + 1).u16(used->firstCol).u16(uint16_t(used->lastCol + 1)).u16(0);
    else
        b.u32(0).u32(0).u16(0).u16(0).u16(0);
    return b.finish();
}

Record writeINDEX(uint32_t firstRow, uint32_t lastRowPlus1, uint32_t defColWidthPos, const std::vector<uint32_t> &dbcells)
{
    RecordBuilder b(biff::rec::INDEX, biff::index::kDbCells + 4 * dbcells.size());
    b.u32(0).u32(firstRow).u32(lastRowPlus1).u32(defColWidthPos);
    for (uint32_t p : dbcells)
        b.u32(p);
    return b.finish();
}

Record writeDBCELL(uint32_t toFirstRow, const std::vector<uint16_t> &cellOffsets)
{
    RecordBuilder b(biff::rec::DBCELL, 4 + 2 * cellOffsets.size());
    b.u32(toFirstRow);
    for (uint16_t o : cellOffsets)
        b.u16(o);
    return b.finish();
}

// One row's cells, with runs of RK numbers and of blanks in adjacent columns gathered into
// MULRK and MULBLANK as Excel writes them.
void writeRowCells(StreamWriter &out, uint16_t row, std::map<uint32_t, Cell>::const_iterator it,
                   std::map<uint32_t, Cell>::const_iterator end, const StringPlan &plan)
{
    while (it != end && keyRow(it->first) == row) {
        const uint16_t col = keyCol(it->first);
        const Cell &c = it->second;
        uint32_t rk = 0;
        if (c.type == CellType::Blank || (c.type == CellType::Number && encodeRk(c.number, rk))) {
            const bool blank = c.type == CellType::Blank;
            std::vector<uint16_t> xfs;
            std::vector<std::pair<uint16_t, uint32_t>> rks;
            auto run = it;
            uint16_t next = col;
            while (run != end && keyRow(run->first) == row && keyCol(run->first) == next) {
                const Cell &rc = run->second;
                uint32_t r = 0;
                if (blank ? rc.type != CellType::Blank : !(rc.type == CellType::Number && encodeRk(rc.number, r)))
                    break;
                xfs.push_back(rc.xf);
                rks.emplace_back(rc.xf, r);
                ++run;
                ++next;
            }
            if (xfs.size() == 1)
                out.put(blank ? writeBLANK(row, col, c.xf) : writeRK(row, col, c.xf, rks.front().second));
            else
                out.put(blank ? writeMULBLANK(row, col, xfs) : writeMULRK(row, col, rks));
            it = run;
            continue;
        }
        switch (c.type) {
        case CellType::Number:
            out.put(writeNUMBER(row, col, c));
            break;
        case CellType::Text:
            out.put(writeLABELSST(row, col, c.xf, plan.newIndex.at(c.text)));
            break;
        case CellType::Boolean:
        case CellType::Error:
            out.put(writeBOOLERR(row, col, c));
            break;
        case CellType::Formula:
            for (const Record &r : c.formula->records)
                out.put(r);
            break;
        case CellType::Blank:
            break;
        }
        ++it;
    }
}

} // namespace

CellTableLayout WorkbookWriter::writeCellTable(StreamWriter &out, const Worksheet &sheet, const StringPlan &plan)
{
    const std::map<uint16_t, std::vector<uint8_t>> &rowRecords = sheet.m_rowRecords;
    CellTableLayout layout;
    std::vector<uint16_t> rows;
    for (const auto &[row, data] : rowRecords)
        rows.push_back(row);
    for (const auto &[key, cell] : sheet.cells())
        if (rows.empty() || rows.back() != keyRow(key))
            rows.push_back(keyRow(key));
    std::sort(rows.begin(), rows.end());
    rows.erase(std::unique(rows.begin(), rows.end()), rows.end());
    if (rows.empty())
        return layout;
    layout.firstRow = rows.front();
    layout.lastRowPlus1 = uint32_t(rows.back()) + 1;

    const auto &cells = sheet.cells();
    size_t i = 0;
    while (i < rows.size()) {
        // A block holds the rows of one 32-row band, as Excel groups them.
        const size_t band = rows[i] / biff::row::kBlockRows;
        size_t j = i;
        while (j < rows.size() && rows[j] / biff::row::kBlockRows == band)
            ++j;
        const size_t firstRowPos = out.position();
        for (size_t k = i; k < j; ++k) {
            const uint16_t r = rows[k];
            auto lo = cells.lower_bound(cellKey(r, 0));
            uint16_t firstCol = 0, lastColPlus1 = 0;
            if (lo != cells.end() && keyRow(lo->first) == r) {
                firstCol = keyCol(lo->first);
                auto hi = cells.lower_bound(cellKey(r, 0xFFFF));
                lastColPlus1 = uint16_t(keyCol(std::prev(hi)->first) + 1);
            }
            auto orig = rowRecords.find(r);
            out.put(writeROW(sheet, r, orig == rowRecords.end() ? nullptr : &orig->second, firstCol, lastColPlus1));
        }
        std::vector<uint16_t> offsets;
        size_t prev = firstRowPos + biff::kRecordHeaderSize + biff::row::kSize;
        for (size_t k = i; k < j; ++k) {
            const size_t start = out.position();
            writeRowCells(out, rows[k], cells.lower_bound(cellKey(rows[k], 0)), cells.end(), plan);
            offsets.push_back(uint16_t(std::min<size_t>(start - prev, 0xFFFF)));
            prev = start;
        }
        const size_t dbcellPos = out.position();
        layout.dbcells.push_back(uint32_t(dbcellPos));
        out.put(writeDBCELL(uint32_t(dbcellPos - firstRowPos), offsets));
        i = j;
    }
    return layout;
}

void WorkbookWriter::writeSheet(StreamWriter &out, const Worksheet &sheet, const StringPlan &plan)
{
    const std::vector<Record> &recs = sheet.records();
    std::optional<size_t> indexPos, defColWidthPos;
    CellTableLayout layout;
    size_t indexBlocks = 0;
    if (sheet.m_indexAt) {
        // The INDEX comes before the cell table, so its size must be known first.
        std::vector<uint16_t> rows;
        for (const auto &[row, data] : sheet.m_rowRecords)
            rows.push_back(row);
        for (const auto &[key, cell] : sheet.cells())
            rows.push_back(keyRow(key));
        std::sort(rows.begin(), rows.end());
        size_t lastBand = SIZE_MAX;
        for (uint16_t r : rows)
            if (r / biff::row::kBlockRows != lastBand) {
                lastBand = r / biff::row::kBlockRows;
                ++indexBlocks;
            }
    }
    for (size_t i = 0; i <= recs.size(); ++i) {
        if (i == sheet.m_cellTableAt && sheet.isWorksheet())
            layout = writeCellTable(out, sheet, plan);
        if (i == recs.size())
            break;
        const Record &r = recs[i];
        if (sheet.isWorksheet() && sheet.m_indexAt == i) {
            indexPos = out.position();
            out.put(writeINDEX(0, 0, 0, std::vector<uint32_t>(indexBlocks, 0)));
        } else if (sheet.isWorksheet() && sheet.m_dimensionsAt == i) {
            out.put(writeDIMENSIONS(sheet));
        } else {
            if (r.id == biff::rec::DEFCOLWIDTH && !defColWidthPos)
                defColWidthPos = out.position();
            out.put(r);
        }
    }
    if (indexPos) {
        Q_ASSERT(layout.dbcells.size() == indexBlocks);
        const size_t data = *indexPos + biff::kRecordHeaderSize;
        out.patchU32(data + biff::index::kFirstRow, layout.firstRow);
        out.patchU32(data + biff::index::kLastRowPlus1, layout.lastRowPlus1);
        out.patchU32(data + biff::index::kDefColWidthPos, uint32_t(defColWidthPos.value_or(0)));
        for (size_t k = 0; k < layout.dbcells.size(); ++k)
            out.patchU32(data + biff::index::kDbCells + 4 * k, layout.dbcells[k]);
    }
}

void WorkbookWriter::writeSST(StreamWriter &out, const std::vector<const SharedString *> &strings, uint32_t totalRefs)
{
    ContinueWriter w(biff::rec::SST);
    w.u32(totalRefs);
    w.u32(uint32_t(strings.size()));
    // EXTSST points at every n-th string so that a reader can find one without reading the
    // table through; Excel keeps at most 128 such pointers.
    const size_t perBucket = std::max(biff::sst::kExtBucketSize,
                                      (strings.size() + biff::sst::kExtMaxBuckets - 1) / biff::sst::kExtMaxBuckets);
    std::vector<std::pair<size_t, size_t>> bucketStarts;
    for (size_t i = 0; i < strings.size(); ++i) {
        const auto at = w.richString(strings[i]->text, strings[i]->runs, strings[i]->phonetic);
        if (i % perBucket == 0)
            bucketStarts.push_back(at);
    }
    std::vector<Record> parts = w.finish();
    std::vector<size_t> partPos;
    for (const Record &p : parts)
        partPos.push_back(out.put(p));

    RecordBuilder ext(biff::rec::EXTSST, 2 + 8 * bucketStarts.size());
    ext.u16(uint16_t(perBucket));
    for (const auto &[rec, off] : bucketStarts) {
        const size_t inRecord = biff::kRecordHeaderSize + off;
        ext.u32(uint32_t(partPos[rec] + inRecord)).u16(uint16_t(inRecord)).u16(0);
    }
    out.put(ext.finish());
}

std::vector<uint8_t> WorkbookWriter::writeStream(const Workbook &wb)
{
    const StringPlan plan = planStrings(wb);
    StreamWriter out;
    std::vector<size_t> boundSheetPos;
    for (size_t i = 0; i <= wb.m_globals.size(); ++i) {
        if (i == wb.m_sstAt)
            writeSST(out, plan.strings, plan.totalRefs);
        if (i == wb.m_globals.size())
            break;
        const size_t at = out.put(wb.m_globals[i]);
        if (wb.m_globals[i].id == biff::rec::BOUNDSHEET)
            boundSheetPos.push_back(at);
    }
    Q_ASSERT(boundSheetPos.size() == wb.m_sheets.size());
    for (size_t s = 0; s < wb.m_sheets.size(); ++s) {
        out.patchU32(boundSheetPos[s] + biff::kRecordHeaderSize + biff::boundsheet::kPosition, uint32_t(out.position()));
        writeSheet(out, *wb.m_sheets[s], plan);
    }
    std::vector<uint8_t> bytes = std::move(out.bytes());
    if (bytes.size() < kMinWorkbookStream)
        bytes.resize(kMinWorkbookStream, 0);
    return bytes;
}

} // namespace xls
