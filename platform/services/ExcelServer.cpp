#include "ExcelServer.h"

#include "automation/ClassRegistry.h"

#ifdef PANTRIMO_HAVE_BUILTIN_EXCEL
#include "excel/BuiltinExcel.h"
#endif

using namespace automation;

namespace platform {

namespace {
const QString kProgId = QStringLiteral("Excel.Application");
}

void registerExcelApplication() { registerExcelApplication(qEnvironmentVariable("PANTRIMO_EXCEL")); }

void registerExcelApplication(const QString &serverName)
{
    auto &registry = ClassRegistry::instance();
    const QString name = serverName.trimmed().toLower();
    if (name.isEmpty() || name == QLatin1String("builtin")) {
#ifdef PANTRIMO_HAVE_BUILTIN_EXCEL
        registry.registerClass(kProgId, [] { return createBuiltinExcelApplication(); });
#else
        registry.registerClass(kProgId, []() -> ObjectRef {
            throw AutomationError(kCannotCreateObject + QStringLiteral(" (the built-in spreadsheet server is not part of this build)"));
        });
#endif
    } else if (name == QLatin1String("none")) {
        registry.registerClass(kProgId, []() -> ObjectRef { throw AutomationError(kCannotCreateObject); });
    } else {
        registry.registerClass(kProgId, [serverName]() -> ObjectRef {
            throw AutomationError(kCannotCreateObject +
                                  QStringLiteral(" (PANTRIMO_EXCEL names an unknown spreadsheet server \"%1\"; "
                                                 "use builtin or none)")
                                      .arg(serverName));
        });
    }
}

} // namespace platform
