#pragma once
// Formula tokens (the "parsed expression" of FORMULA, SHRFMLA and ARRAY records), as far as
// a cell write needs them: finding which shared formula or array a cell belongs to, and
// turning a shared formula back into one cell's own formula.

#include "platform/xls/Records.h"

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace xls {

namespace biff::formula {
// FORMULA record, after the common cell header and the 8-byte cached value.
constexpr size_t kFlags = 14;             // u16
constexpr size_t kTokenSize = 20;         // u16 cce
constexpr size_t kTokens = 22;            // rgce, then rgcb
constexpr uint16_t kShared = 0x0008;      // fShrFmla: the tokens are a ptgExp into a SHRFMLA
// SHRFMLA and ARRAY start with the range they cover: u16 first row, u16 last row, u8 first
// column, u8 last column.
constexpr size_t kRangeSize = 6;
constexpr size_t kShrfmlaTokenSize = 8;   // u16 cce, after a reserved byte and the use count
constexpr size_t kShrfmlaTokens = 10;
// Token ids. Tokens from 0x20 up carry a class in bits 5-6; their base id is the low 5 bits.
constexpr uint8_t kPtgExp = 0x01;         // u16 row, u16 column of the shared formula or array
constexpr size_t kPtgExpSize = 5;
constexpr uint8_t kPtgStr = 0x17, kPtgExtend = 0x18, kPtgAttr = 0x19;
constexpr uint8_t kAttrChoose = 0x04;     // ptgAttr with a jump table of (count + 1) u16
constexpr uint8_t kPtgErr = 0x1C, kPtgBool = 0x1D, kPtgInt = 0x1E, kPtgNum = 0x1F;
constexpr uint8_t kBaseRef = 0x04, kBaseArea = 0x05, kBaseRefN = 0x0C, kBaseAreaN = 0x0D,
                  kBaseRef3d = 0x1A, kBaseArea3d = 0x1B;
// Column field of a reference: bit 15 row relative, bit 14 column relative; in a shared
// formula a relative part is a signed offset from the cell (the column offset in the low byte).
constexpr uint16_t kRowRelative = 0x8000, kColRelative = 0x4000, kColumnMask = 0x00FF;
} // namespace biff::formula

// The cell (row, column) a FORMULA record's ptgExp names, when its tokens are just that.
std::optional<std::pair<uint16_t, uint16_t>> formulaExpTarget(const Record &formula);

// A shared formula's tokens, with relative references resolved for the cell (row, col), as
// that cell's own formula: ptgRefN / ptgAreaN become ptgRef / ptgArea, relative 3-D
// references get absolute coordinates. Nothing for a token this does not know.
std::optional<std::vector<uint8_t>> resolveSharedTokens(std::span<const uint8_t> tokens, uint16_t row, uint16_t col);

} // namespace xls
