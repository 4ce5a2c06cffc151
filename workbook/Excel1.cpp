#include "Excel1.h"

#include "workbook/MainModule.h"

#include "automation/ClassRegistry.h"

#include <QFile>
#include <sys/stat.h>

using namespace automation;

namespace workbook {

namespace {
const QString kExcelProgId = QStringLiteral("Excel.Application");
}

ObjectRef OpenInNewExcel(const QString &path)
{
    ObjectRef app = requireObject(Variant(createObject(kExcelProgId)));
    requireObject(app->get(u"Workbooks"))->call(u"Open", {path});
    return app;
}

int32_t GetExcelFileFormat(const ObjectRef &application)
{
    QString versionText;
    if (!application) {
        ObjectRef app = requireObject(Variant(createObject(kExcelProgId)));
        versionText = app->get(u"Version").toString();
        app->call(u"Quit");
    } else {
        versionText = application->get(u"Version").toString();
    }
    const int16_t version = Variant(NormalizeDecimalText(versionText)).toInt16();
    return version > 11 ? xlExcel8 : xlNormal;
}

bool FileExists(const QString &path)
{
    if (path.isEmpty())
        return false;
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0;
}

} // namespace workbook
