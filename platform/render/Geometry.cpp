#include "platform/render/Geometry.h"

#include "platform/facts/Twips.h"

#include <cmath>

namespace render {

int columnWidthPx(uint16_t width256)
{
    // Integer form of trunc(((256 * chars + trunc(128 / mdw)) / 256) * mdw) with chars = w / 256.
    return int((uint32_t(width256) + 128 / kMaxDigitWidthPx) * kMaxDigitWidthPx / 256);
}

int defaultColumnWidthPx(uint16_t characters)
{
    const int px = int(characters) * kMaxDigitWidthPx + kColumnPaddingPx;
    return (px + 7) / 8 * 8;
}

int rowHeightPx(uint16_t twips)
{
    return facts::twipsToPixels(int(twips));
}

SheetGeometry::SheetGeometry(const xls::Worksheet &sheet)
    : m_rowY(size_t(kRows) + 1, 0)
{
    // STANDARDWIDTH, when present, is what applications show for columns without COLINFO.
    const int defaultWidth = sheet.standardWidth() ? columnWidthPx(*sheet.standardWidth())
                                                   : defaultColumnWidthPx(sheet.defaultColumnWidth());
    std::array<int, kColumns> widths;
    widths.fill(defaultWidth);
    m_colXf.fill(-1);
    for (const xls::ColumnInfo &info : sheet.columns()) {
        // COLINFO ranges may reach past IV in files from newer writers; clamp, do not trust.
        for (int c = info.firstCol; c <= info.lastCol && c < kColumns; ++c) {
            widths[size_t(c)] = info.hidden ? 0 : columnWidthPx(info.width);
            m_colXf[size_t(c)] = info.xf;
        }
    }
    for (int c = 0; c < kColumns; ++c)
        m_colX[size_t(c) + 1] = m_colX[size_t(c)] + widths[size_t(c)];

    const int defaultHeight = rowHeightPx(sheet.defaultRowHeight());
    std::vector<int> heights(size_t(kRows), defaultHeight);
    for (const auto &[row, info] : sheet.rows())
        heights[row] = info.hidden ? 0 : rowHeightPx(info.heightTwips);
    for (int r = 0; r < kRows; ++r)
        m_rowY[size_t(r) + 1] = m_rowY[size_t(r)] + heights[size_t(r)];
}

} // namespace render
