#include "platform/xls/OlderFormats.h"

#include "platform/xls/BiffFormat.h"
#include "platform/xls/Records.h"

namespace xls {

namespace {
// BOF of BIFF2 holds version and type (4 bytes); BIFF3 and BIFF4 add a build number (6 bytes).
// Writers pad these a little; anything longer is not a BOF.
constexpr size_t kMinBofSize = 4, kMaxBofSize = 16;
constexpr size_t kBofType = 2;
// Sheet types in the BOF: worksheet, chart, macro sheet, and the BIFF4 workbook.
constexpr uint16_t kTypes[] = {0x0010, 0x0020, 0x0040, 0x0100};
} // namespace

std::optional<QString> recognizeBareBiffStream(std::span<const uint8_t> bytes)
{
    if (bytes.size() < 4)
        return std::nullopt;
    const uint16_t id = getU16(bytes, 0);
    const uint16_t size = getU16(bytes, 2);
    if (id != biff::rec::BOF_BIFF2 && id != biff::rec::BOF_BIFF3 && id != biff::rec::BOF_BIFF4)
        return std::nullopt;
    if (size < kMinBofSize || size > kMaxBofSize || bytes.size() < 4u + size)
        return std::nullopt;
    const uint16_t type = getU16(bytes, 4 + kBofType);
    for (uint16_t t : kTypes)
        if (type == t)
            return QStringLiteral("an Excel 2.x to 4.0 worksheet; only Excel 97-2003 workbooks are supported");
    return std::nullopt;
}

} // namespace xls
