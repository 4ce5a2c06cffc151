#pragma once
// Undo and redo of the editing commands. Each command that changed the lists leaves behind
// the fifteen lists as they were before it; the newest kUndoSteps are kept, for this run
// only (nothing of it is stored). The list boxes stay the only store of the items: undo and
// redo put whole lists back into them.

#include "lists/CategoryLists.h"

#include <QStringList>
#include <array>
#include <deque>

namespace lists {

constexpr int kUndoSteps = 20;

using ListTexts = std::array<QStringList, kCategoryCount>;

ListTexts textsOf(const ListBoxes &boxes);
void putTexts(const ListBoxes &boxes, const ListTexts &texts);

class ListHistory {
public:
    // A command turned `before` into what the boxes hold now. What could be redone is
    // forgotten, as in every editor: it belonged to another line of edits.
    void record(ListTexts before);
    bool canUndo() const { return !m_undo.empty(); }
    bool canRedo() const { return !m_redo.empty(); }
    // Put the lists back as they were before the last command (undo) or after the last undone
    // one (redo). False, and nothing touched, when there is none.
    bool undo(const ListBoxes &boxes);
    bool redo(const ListBoxes &boxes);

private:
    static bool move(std::deque<ListTexts> &from, std::deque<ListTexts> &to, const ListBoxes &boxes);

    std::deque<ListTexts> m_undo, m_redo;
};

} // namespace lists
