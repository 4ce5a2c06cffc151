#pragma once
// The editing commands of the main window. They change only the list boxes; nothing
// reaches the settings store until the main window closes.

#include "lists/CategoryLists.h"

#include <QString>

namespace lists {

// Add: asks for one item with the input box built from the category caption and
// appends it as typed; a full list (20 or more) gets "Only 20 items allowed." instead.
void AddItem(shell::Guard &g, QListWidget *list, const QString &caption);

// Delete: removes the selected item, if any.
void DeleteSelectedItem(shell::Guard &g, QListWidget *list);

// Clear/Reset Data: empties all fifteen lists.
void ClearAllLists(shell::Guard &g, const ListBoxes &boxes);

// The sample list, appended after the lists were cleared; each item has its own line.
struct SampleItem {
    int line;
    int category;
    const char *text;
};
inline constexpr SampleItem kSampleItems[] = {
    {102, 0, "Turkey"},           {104, 0, "Haddock"},          {106, 1, "Green Beans"},
    {108, 1, "Yellow Beans"},     {110, 1, "Butternut Squash"}, {112, 1, "Parsnips"},
    {114, 2, "Milk"},             {116, 3, "Almond Milk"},      {118, 4, "Tuna"},
    {120, 4, "Canned Tomatoes"},  {122, 5, "Frozen Peas"},      {124, 6, "Basil"},
    {126, 6, "Garlic"},           {128, 6, "Morton Seasoning"}, {130, 7, "Coke"},
    {132, 9, "Ziplock Bag Quart"}, {134, 10, "Allegra"},        {136, 11, "Toothpaste"},
    {138, 12, "Captain Crunch"},  {140, 13, "Devil Dogs"},      {142, 14, "Paper Towels"},
    {144, 14, "Tissues"},         {146, 14, "Toilet Paper"},    {148, 14, "Garbage Bags"},
};

// Appends the sample items in table order (the caller clears first).
void AppendSampleItems(shell::Guard &g, const ListBoxes &boxes);

} // namespace lists
