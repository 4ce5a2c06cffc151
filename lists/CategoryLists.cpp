#include "CategoryLists.h"

#include "app/ErrorReport.h"
#include "services/SettingsStore.h"

#include <QListWidget>

namespace lists {

void LoadCategoryLists(shell::Guard &g, const ListBoxes &boxes)
{
    for (int i = 0; i < kCategoryCount; ++i) { // 128
        const QString value = g.value(130, [&] {
            return platform::GetSetting(kSettingsApplication, kSettingsSection, settingsKey(i));
        }, QString());
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
        g.step(114, [&] { platform::SaveSetting(kSettingsApplication, kSettingsSection, settingsKey(i), text); });
    } // 116
}

} // namespace lists
