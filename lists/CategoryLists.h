#pragma once
// Moving the fifteen lists between the main window's list boxes (their only store
// while the program runs) and the settings store.

#include "lists/CategoryCatalog.h"

#include <array>

class QListWidget;
namespace shell {
class Guard;
}

namespace lists {

using ListBoxes = std::array<QListWidget *, kCategoryCount>;

// Appends the stored items to the list boxes, dropping empty pieces; the guard is the
// calling start-up handler's (lines 128 to 144). A damaged settings file is reported once,
// at 128, and what can be read of it is restored.
void LoadCategoryLists(shell::Guard &g, const ListBoxes &boxes);

// Writes all fifteen keys, empty ones included, in one replacement of the settings file
// at line 116; the guard is the calling close handler's (lines 100 to 116).
void SaveCategoryLists(shell::Guard &g, const ListBoxes &boxes);

} // namespace lists
