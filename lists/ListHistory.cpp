#include "lists/ListHistory.h"

#include <QListWidget>

namespace lists {

ListTexts textsOf(const ListBoxes &boxes)
{
    ListTexts texts;
    for (int i = 0; i < kCategoryCount; ++i) {
        const QListWidget *box = boxes[size_t(i)];
        texts[size_t(i)].reserve(box->count());
        for (int k = 0; k < box->count(); ++k)
            texts[size_t(i)].append(box->item(k)->text());
    }
    return texts;
}

void putTexts(const ListBoxes &boxes, const ListTexts &texts)
{
    for (int i = 0; i < kCategoryCount; ++i) {
        QListWidget *box = boxes[size_t(i)];
        box->clear();
        box->addItems(texts[size_t(i)]);
    }
}

void ListHistory::record(ListTexts before)
{
    m_undo.push_back(std::move(before));
    if (m_undo.size() > size_t(kUndoSteps))
        m_undo.pop_front();
    m_redo.clear();
}

bool ListHistory::undo(const ListBoxes &boxes) { return move(m_undo, m_redo, boxes); }
bool ListHistory::redo(const ListBoxes &boxes) { return move(m_redo, m_undo, boxes); }

bool ListHistory::move(std::deque<ListTexts> &from, std::deque<ListTexts> &to, const ListBoxes &boxes)
{
    if (from.empty())
        return false;
    to.push_back(textsOf(boxes));
    putTexts(boxes, from.back());
    from.pop_back();
    return true;
}

} // namespace lists
