#include "lists/ListCommands.h"

#include "shell/ErrorReport.h"
#include "platform/services/Dialogs.h"

#include <QListWidget>

namespace lists {

void AddItem(shell::Guard &g, QListWidget *list, const QString &caption)
{
    if (g.test(100, [&] { return list->count() >= kMaxItemsByAdd; })) {
        g.step(110, [&] { platform::MsgBox(QStringLiteral("Only 20 items allowed."), platform::vbOKOnly); });
        return;
    }
    std::optional<QString> entered;
    g.step(102, [&] {
        entered = platform::InputBox(QStringLiteral("Enter ") + caption + QLatin1Char(':'),
                                     QStringLiteral("Input ") + caption);
    });
    if (g.test(104, [&] { return !entered.has_value(); }))
        return;
    if (g.test(106, [&] { return entered->isEmpty(); }))
        return;
    // The stored form joins items with the separator and has no escape: the item would come
    // back torn in two on the next start. Items already stored keep whatever they hold.
    if (g.test(112, [&] { return entered->contains(kItemSeparator); })) {
        g.step(114, [&] { platform::MsgBox(kSeparatorRefused, platform::vbExclamation); });
        return;
    }
    g.step(108, [&] { list->addItem(*entered); });
}

void DeleteSelectedItem(shell::Guard &g, QListWidget *list)
{
    if (g.test(100, [&] { return !list->selectedItems().isEmpty(); }))
        g.step(102, [&] {
            delete list->takeItem(list->row(list->selectedItems().constFirst()));
            // The list box moves its current row to the neighbour and selects it; a second
            // Delete would then remove an item the user never chose.
            list->setCurrentRow(-1);
            list->clearSelection();
        });
}

void ClearAllLists(shell::Guard &g, const ListBoxes &boxes)
{
    for (QListWidget *box : boxes) // 100
        g.step(102, [&] { box->clear(); });
    // 104
}

void AppendSampleItems(shell::Guard &g, const ListBoxes &boxes)
{
    for (const facts::SampleItem &s : facts::kSampleItems)
        g.step(s.line, [&] { boxes[s.category]->addItem(QString::fromUtf8(s.text)); });
}

} // namespace lists
