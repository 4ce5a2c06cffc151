#include "workbook/TemplateResource.h"

#include "platform/automation/AutomationError.h"

#include <QFile>

// A resource in a static library is only linked in when something names it.
static void initTemplateResource() { Q_INIT_RESOURCE(template); }

namespace workbook {

QByteArray LoadResData(int id, const char *type)
{
    initTemplateResource();
    const QString path = QStringLiteral(":/%1/%2").arg(QLatin1String(type)).arg(id);
    QFile resource(path);
    if (!resource.open(QIODevice::ReadOnly))
        throw automation::AutomationError(QStringLiteral("Resource with identifier '%1' not found").arg(id));
    return resource.readAll();
}

} // namespace workbook
