#pragma once
// The fifteen fixed categories: index, caption and place of each on the main window,
// and where their lists are stored between runs.

#include <QString>
#include <array>

namespace lists {

constexpr int kCategoryCount = 15;
// What the Add command allows; a list restored from the store may hold more.
constexpr int kMaxItemsByAdd = 20;

// The caption is the only place a category's name is held. "Canned " keeps its
// trailing blank: the Add prompt is built from it.
inline const std::array<QString, kCategoryCount> kCategoryCaptions = {
    QStringLiteral("Meat/Seafood"),      QStringLiteral("Produce"),         QStringLiteral("Dairy"),
    QStringLiteral("Natural/Organic"),   QStringLiteral("Canned "),         QStringLiteral("Frozen"),
    QStringLiteral("Spices/Condiments"), QStringLiteral("Beverages"),       QStringLiteral("Pet Food"),
    QStringLiteral("Household Items"),   QStringLiteral("Pharmacy"),        QStringLiteral("Personal Hygiene"),
    QStringLiteral("Cereal/Grain/Pasta"), QStringLiteral("Snacks"),         QStringLiteral("Other"),
};

// Frame geometry in twips: five columns, three rows.
constexpr int kFrameWidth = 2520;
constexpr int kFrameHeight = 2380;
constexpr int frameLeft(int index) { return 120 + 2640 * (index % 5); }
constexpr int frameTop(int index) { return 1140 + 2460 * (index / 5); }

// The stored form: application "Quillmark", section "Pantrimo", keys "List0".."List14",
// each the category's items joined with ";" (no escaping: a ";" typed into an item
// splits it on the next start).
inline const QString kSettingsApplication = QStringLiteral("Quillmark");
inline const QString kSettingsSection = QStringLiteral("Pantrimo");
inline const QChar kItemSeparator = QLatin1Char(';');
inline QString settingsKey(int index) { return QStringLiteral("List") + QString::number(index); }

} // namespace lists
