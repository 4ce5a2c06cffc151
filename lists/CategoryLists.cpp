#include "lists/CategoryLists.h"

#include "shell/ErrorReport.h"
#include "platform/automation/AutomationError.h"
#include "platform/services/SettingsStore.h"

#include <QListWidget>

namespace lists {

void LoadCategoryLists(shell::Guard &g, const ListBoxes &boxes)
{
    // The file is read once, at the head of the loop: a damaged file is reported there, once,
    // and every list that can still be read is restored.
    platform::SettingsReading store;
    g.step(128, [&] {
        store = platform::SettingsReading::read(kSettingsApplication);
        if (!store.damage().isEmpty())
            throw automation::AutomationError(store.damage());
    });
    for (int i = 0; i < kCategoryCount; ++i) { // 128
        const QString value = g.value(130, [&] { return store.value(kSettingsSection, settingsKey(i)); }, QString());
        if (!g.test(132, [&] { return !value.isEmpty(); }))
            continue;
        const QStringList pieces = g.value(134, [&] { return value.split(kItemSeparator); }, QStringList());
        // Filled off-screen and handed over at once: ten thousand single appends to a
        // shown list box would relayout it each time.
        QStringList items;
        items.reserve(pieces.size());
        for (const QString &piece : pieces) { // 136
            if (g.test(138, [&] { return !piece.isEmpty(); }))
                items.append(piece);
        } // 142
        g.step(140, [&] { boxes[i]->addItems(items); });
    } // 144
}

void SaveCategoryLists(shell::Guard &g, const ListBoxes &boxes)
{
    // The fifteen keys are gathered and written together, once, after the loop: a file
    // written key by key could be left half old, half new by an interruption.
    platform::SettingsValues values;
    for (int i = 0; i < kCategoryCount; ++i) { // 100
        QString text;                          // 102
        QListWidget *box = boxes[i];
        const int count = g.loopCount(104, [&] { return box->count(); });
        for (int k = 0; k < count; ++k) {
            g.step(106, [&] {
                const QListWidgetItem *item = box->item(k);
                if (!item)
                    throw std::out_of_range("Invalid procedure call or argument");
                text += item->text() + kItemSeparator;
            });
        } // 108
        if (g.test(110, [&] { return !text.isEmpty(); }))
            g.step(112, [&] { text.chop(1); });
        g.step(114, [&] { values.append({settingsKey(i), text}); });
    }
    g.step(116, [&] { platform::SaveSettings(kSettingsApplication, kSettingsSection, values); });
}

} // namespace lists
