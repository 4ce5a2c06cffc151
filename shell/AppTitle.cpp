#include "shell/AppTitle.h"

#include "platform/services/Dialogs.h"

namespace shell {

QString applicationTitleFor(const QString &productName)
{
    QString title = productName;
    do {
        const qsizetype blank = title.lastIndexOf(QLatin1Char(' '));
        if (blank < 0)
            break;
        title.truncate(blank);
    } while (title.size() > 40);
    return title;
}

void SetAppTitle() { platform::setApplicationTitle(applicationTitleFor(kProductName)); }

} // namespace shell
