#pragma once
// Spreadsheet files from before the compound document: Excel 2.x to 4.0 wrote a worksheet as a
// bare record stream. We do not read them, but we say what they are rather than "not a
// compound document".

#include <QString>
#include <cstdint>
#include <optional>
#include <span>

namespace xls {

// What the file is, as a phrase for an error message, when it is such a bare stream.
std::optional<QString> recognizeBareBiffStream(std::span<const uint8_t> bytes);

} // namespace xls
