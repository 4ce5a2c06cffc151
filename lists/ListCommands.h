#pragma once
// The editing commands of the main window. They change only the list boxes; nothing
// reaches the settings store until the main window closes.

#include "lists/CategoryLists.h"

#include "platform/facts/SampleList.h"

#include <QString>

namespace lists {

// What Add answers to an item that holds the stored form's separator.
inline const QString kSeparatorRefused = QStringLiteral("An item cannot contain \";\". Please use another character.");

// Add: asks for one item with the input box built from the category caption and
// appends it as typed; a full list (20 or more) gets "Only 20 items allowed." instead,
// and an item holding ";" is refused with kSeparatorRefused.
void AddItem(shell::Guard &g, QListWidget *list, const QString &caption);

// Delete: removes the selected item, if any.
void DeleteSelectedItem(shell::Guard &g, QListWidget *list);

// Clear/Reset Data: empties all fifteen lists.
void ClearAllLists(shell::Guard &g, const ListBoxes &boxes);

// Appends the sample items (facts::kSampleItems) in table order, each on its own line;
// the caller clears first.
void AppendSampleItems(shell::Guard &g, const ListBoxes &boxes);

} // namespace lists
