#pragma once
// The texts of a list box, in display order.

#include <QListWidget>
#include <QStringList>

namespace testing {

inline QStringList itemsOf(const QListWidget *list)
{
    QStringList items;
    for (int k = 0; k < list->count(); ++k)
        items << list->item(k)->text();
    return items;
}

} // namespace testing
