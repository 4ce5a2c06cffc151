#pragma once
// Fills the grocery template's item cells the way a generation run does, for the render
// tool, the benchmark and the tests: category i sits in band i / 3 and block i % 3; items 1
// to 10 go to the left half, 11 to 20 to the right half, each as a number and a text.

#include "platform/xls/Workbook.h"

#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <array>
#include <optional>

namespace render::tools {

inline const std::array<QString, 15> kCategories = {
    QStringLiteral("Meat/Seafood"), QStringLiteral("Produce"), QStringLiteral("Dairy"),
    QStringLiteral("Natural/Organic"), QStringLiteral("Canned "), QStringLiteral("Frozen"),
    QStringLiteral("Spices/Condiments"), QStringLiteral("Beverages"), QStringLiteral("Pet Food"),
    QStringLiteral("Household Items"), QStringLiteral("Pharmacy"), QStringLiteral("Personal Hygiene"),
    QStringLiteral("Cereal/Grain/Pasta"), QStringLiteral("Snacks"), QStringLiteral("Other")};

// Writes the items of category i (0-14); rows and columns count from 0 here.
inline void fillCategory(xls::Worksheet &sheet, int category, const QStringList &items)
{
    const int startRow = 2 + 11 * (category / 3);
    const int group = category % 3;
    for (int k = 0; k < items.size() && k < 20; ++k) {
        const int row = startRow + k % 10;
        const int numberCol = k < 10 ? 2 * group : 2 * group + 7;
        sheet.setNumber(uint16_t(row), uint16_t(numberCol), k + 1);
        sheet.setText(uint16_t(row), uint16_t(numberCol + 1), items[k]);
    }
}

// Twenty items in every category, long enough that some wrap.
inline void fillFull(xls::Worksheet &sheet)
{
    static const QStringList words = {QStringLiteral("Apples"), QStringLiteral("Rye Bread"),
                                      QStringLiteral("Chicken Thighs"), QStringLiteral("Oat Milk"),
                                      QStringLiteral("Tomato Paste"), QStringLiteral("Frozen Blueberries Large Bag")};
    for (int i = 0; i < 15; ++i) {
        QStringList items;
        for (int k = 0; k < 20; ++k)
            items << QStringLiteral("%1 %2").arg(words[(i + k) % words.size()]).arg(k + 1);
        fillCategory(sheet, i, items);
    }
}

// The sample list the main window loads.
inline void fillSample(xls::Worksheet &sheet)
{
    const std::array<QStringList, 15> sample = {
        QStringList{QStringLiteral("Turkey"), QStringLiteral("Haddock")},
        QStringList{QStringLiteral("Green Beans"), QStringLiteral("Yellow Beans"), QStringLiteral("Butternut Squash"),
                    QStringLiteral("Parsnips")},
        QStringList{QStringLiteral("Milk")},
        QStringList{QStringLiteral("Almond Milk")},
        QStringList{QStringLiteral("Tuna"), QStringLiteral("Canned Tomatoes")},
        QStringList{QStringLiteral("Frozen Peas")},
        QStringList{QStringLiteral("Basil"), QStringLiteral("Garlic"), QStringLiteral("Morton Seasoning")},
        QStringList{QStringLiteral("Coke")},
        QStringList{},
        QStringList{QStringLiteral("Ziplock Bag Quart")},
        QStringList{QStringLiteral("Allegra")},
        QStringList{QStringLiteral("Toothpaste")},
        QStringList{QStringLiteral("Captain Crunch")},
        QStringList{QStringLiteral("Devil Dogs")},
        QStringList{QStringLiteral("Paper Towels"), QStringLiteral("Tissues"), QStringLiteral("Toilet Paper"),
                    QStringLiteral("Garbage Bags")}};
    for (int i = 0; i < 15; ++i)
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
