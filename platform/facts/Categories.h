#pragma once
// The fifteen fixed categories of a grocery list, in the order of the main window, the
// stored lists and the template's bands.

#include <QString>
#include <array>

namespace facts {

constexpr int kCategoryCount = 15;

// The caption is the only place a category's name is held. "Canned " keeps its trailing
// blank: the Add prompt is built from it.
inline const std::array<QString, kCategoryCount> kCategoryCaptions = {
    QStringLiteral("Meat/Seafood"),      QStringLiteral("Produce"),         QStringLiteral("Dairy"),
    QStringLiteral("Natural/Organic"),   QStringLiteral("Canned "),         QStringLiteral("Frozen"),
    QStringLiteral("Spices/Condiments"), QStringLiteral("Beverages"),       QStringLiteral("Pet Food"),
    QStringLiteral("Household Items"),   QStringLiteral("Pharmacy"),        QStringLiteral("Personal Hygiene"),
    QStringLiteral("Cereal/Grain/Pasta"), QStringLiteral("Snacks"),         QStringLiteral("Other"),
};

} // namespace facts
