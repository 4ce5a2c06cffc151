#pragma once
#include <QString>

namespace shell {

inline const QString kProductName = QStringLiteral("Pantrimo");

// Cuts the text at its last blank at least once, and again while it is longer than
// 40 characters. A name without a blank has nothing to cut and is kept whole.
QString applicationTitleFor(const QString &productName);

// Makes that the caption of message boxes that name no title of their own.
void SetAppTitle();

} // namespace shell
