#pragma once
// Where the lists are kept between runs: application "Quillmark", section "Pantrimo", keys
// "List0".."List14", each the category's items joined with ";" (no escaping: a ";" typed into
// an item splits it on the next start).

#include <QString>

namespace facts {

inline const QString kSettingsApplication = QStringLiteral("Quillmark");
inline const QString kSettingsSection = QStringLiteral("Pantrimo");
inline const QChar kItemSeparator = QLatin1Char(';');
inline QString settingsKey(int index) { return QStringLiteral("List") + QString::number(index); }

} // namespace facts
