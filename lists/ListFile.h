#pragma once
// A grocery list written by hand, for the command line: a category's caption on a line of
// its own ending in ":" (as the main window shows it, in any case), then its items one per
// line, exactly as written. Blank lines and lines starting with "#" are skipped.
//
//   # for Saturday
//   Dairy:
//   Milk
//   Canned:
//   Tuna

#include "lists/ListHistory.h"

#include <QByteArray>
#include <QString>
#include <variant>

namespace lists {

struct ListFileProblem {
    int line = 0; // from 1
    QString reason;
};

// The fifteen lists, or the first line that cannot be taken as it stands: not UTF-8 text,
// an unknown caption, an item before any caption, an item holding ";" (the stored form's
// separator), a category's 21st item.
std::variant<ListTexts, ListFileProblem> readListFile(const QByteArray &bytes);

} // namespace lists
