#pragma once
// Internal to the engine: the stream parser and the writer, friends of the model.

#include "platform/xls/Workbook.h"

#include <unordered_map>

namespace xls {

class WorkbookReader {
public:
    static Result<Workbook> read(std::span<const uint8_t> bytes, const QString &name);
    // The SST record and its CONTINUE records, read as one table into the workbook's strings.
    static Status readSST(Workbook &wb, const std::vector<Record> &parts);
};

// Shared strings renumbered for a save: only the strings a cell still uses, in the order
// cells use them.
struct StringPlan {
    std::vector<const SharedString *> strings;
    std::unordered_map<uint32_t, uint32_t> newIndex; // old index -> new
    uint32_t totalRefs = 0;
};

struct CellTableLayout {
    std::vector<uint32_t> dbcells;
    uint32_t firstRow = 0, lastRowPlus1 = 0;
};

class WorkbookWriter {
public:
    // The Workbook stream for the model as it stands.
    static std::vector<uint8_t> writeStream(const Workbook &wb);
    // The SST and EXTSST for the given strings, placed at the writer's position.
    static void writeSST(StreamWriter &out, const std::vector<const SharedString *> &strings, uint32_t totalRefs);

private:
    static void writeSheet(StreamWriter &out, const Worksheet &sheet, const StringPlan &plan);
    static CellTableLayout writeCellTable(StreamWriter &out, const Worksheet &sheet, const StringPlan &plan);
};

} // namespace xls
