#pragma once
// Fills the grocery template's item cells the way a generation run does, for the render
// tool, the benchmarks and the tests. Where each item goes, the categories and the sample
// list are the program's own facts; only the filling of a sheet directly is the tool's.

#include "platform/facts/Categories.h"
#include "platform/facts/CellMapping.h"
#include "platform/facts/SampleList.h"
#include "platform/xls/Workbook.h"

#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <array>
#include <optional>

namespace render::tools {

// Writes the items of category i (0-14), each as its number and its text.
inline void fillCategory(xls::Worksheet &sheet, int category, const QStringList &items)
{
    for (int k = 0; k < items.size() && k < facts::kItemsOnSheet; ++k) {
        // The mapping counts rows and columns from 1, the sheet from 0.
        const facts::ItemCells cells = facts::itemCells(category, k);
        sheet.setNumber(uint16_t(cells.row - 1), uint16_t(cells.numberColumn - 1), k + 1);
        sheet.setText(uint16_t(cells.row - 1), uint16_t(cells.textColumn - 1), items[k]);
    }
}

// Twenty items in every category, long enough that some wrap.
inline void fillFull(xls::Worksheet &sheet)
{
    static const QStringList words = {QStringLiteral("Apples"), QStringLiteral("Rye Bread"),
                                      QStringLiteral("Chicken Thighs"), QStringLiteral("Oat Milk"),
                                      QStringLiteral("Tomato Paste"), QStringLiteral("Frozen Blueberries Large Bag")};
    for (int i = 0; i < facts::kCategoryCount; ++i) {
        QStringList items;
        for (int k = 0; k < facts::kItemsOnSheet; ++k)
            items << QStringLiteral("%1 %2").arg(words[(i + k) % words.size()]).arg(k + 1);
        fillCategory(sheet, i, items);
    }
}

// The sample list the main window loads.
inline void fillSample(xls::Worksheet &sheet)
{
    std::array<QStringList, facts::kCategoryCount> sample;
    for (const facts::SampleItem &s : facts::kSampleItems)
        sample[size_t(s.category)] << QString::fromUtf8(s.text);
    for (int i = 0; i < facts::kCategoryCount; ++i)
        fillCategory(sheet, i, sample[size_t(i)]);
}

// "A1:M58" (or a single cell "B3") as a range counted from 0.
inline std::optional<xls::CellRange> parseRange(const QString &text)
{
    static const QRegularExpression re(QStringLiteral("^([A-Z]{1,2})([0-9]{1,5})(?::([A-Z]{1,2})([0-9]{1,5}))?$"));
    const QRegularExpressionMatch m = re.match(text.toUpper());
    if (!m.hasMatch())
        return std::nullopt;
    auto col = [](const QString &letters) {
        int c = 0;
        for (QChar ch : letters)
            c = c * 26 + (ch.unicode() - u'A' + 1);
        return c - 1;
    };
    const int c1 = col(m.captured(1)), r1 = m.captured(2).toInt() - 1;
    const int c2 = m.captured(3).isEmpty() ? c1 : col(m.captured(3));
    const int r2 = m.captured(4).isEmpty() ? r1 : m.captured(4).toInt() - 1;
    if (r1 < 0 || r2 < 0 || r1 > 65535 || r2 > 65535 || c1 > 255 || c2 > 255)
        return std::nullopt;
    return xls::CellRange{uint16_t(r1), uint16_t(r2), uint16_t(c1), uint16_t(c2)};
}

} // namespace render::tools
