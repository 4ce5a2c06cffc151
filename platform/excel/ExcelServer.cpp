#include "platform/excel/ExcelServer.h"

#include "platform/automation/ClassRegistry.h"
#include "platform/facts/Environment.h"

#include "platform/excel/ExcelApplication.h"
#include "platform/excel/builtin/BuiltinExcel.h"
#include "platform/render/Clipboard.h"
#include "platform/render/SheetRenderer.h"
#ifdef PANTRIMO_HAVE_COM_EXCEL
#include "platform/excel/com/ComExcel.h"
#endif

using namespace automation;

namespace platform {

namespace {
const QString kProgId = QStringLiteral("Excel.Application");
bool g_builtinRegistered = false; // registration happens on the user-interface thread only
}

bool builtinExcelRegistered() { return g_builtinRegistered; }

void registerExcelApplication()
{
    const QString chosen = qEnvironmentVariable(facts::env::kExcel);
#ifdef PANTRIMO_HAVE_COM_EXCEL
    // The spreadsheet program the user has, where there is one; our own where there is none.
    if (chosen.trimmed().isEmpty()) {
        registerExcelApplication(com::isRegistered(com::excelProgId()) ? QStringLiteral("excel") : QStringLiteral("builtin"));
        return;
    }
#endif
    registerExcelApplication(chosen);
}

void registerExcelApplication(const QString &serverName)
{
    auto &registry = ClassRegistry::instance();
    const QString name = serverName.trimmed().toLower();
    g_builtinRegistered = false;
    if (name.isEmpty() || name == QLatin1String("builtin")) {
        g_builtinRegistered = true;
        // A range's picture is the renderer's drawing, handed over on the system clipboard.
        excel::setCopyPictureHandler([](const excel::RangeRef &range) -> xls::Status {
            const xls::Result<QImage> picture = render::renderRange(range.workbook(), range.sheetIndex, range.rect);
            if (!picture)
                return picture.error();
            if (!render::copyImageToClipboard(picture.value()))
                return xls::Error{QStringLiteral("CopyPicture: the picture could not be put on the clipboard")};
            return {};
        });
        registry.registerClass(kProgId, [] { return createBuiltinExcelApplication(); });
    } else if (name == QLatin1String("libreoffice")) {
#ifdef PANTRIMO_HAVE_LIBREOFFICE_EXCEL
        // Read when an instance is made, so a test can point it at another office program.
        registry.registerClass(kProgId, [] { return createLibreOfficeExcelApplication(); });
#else
        registry.registerClass(kProgId, []() -> ObjectRef {
            // Why is the build's to say (CMake): no SDK here, or a platform without the bridge.
            throw AutomationError(kCannotCreateObject + QStringLiteral(" (" PANTRIMO_NO_LIBREOFFICE_EXCEL ")"));
        });
#endif
    } else if (name == QLatin1String("excel")) {
#ifdef PANTRIMO_HAVE_COM_EXCEL
        // Read when an instance is made, so a test can stand its own server in Excel's place.
        registry.registerClass(kProgId, [] { return excel::createApplication(com::startComSession(com::excelProgId())); });
#else
        registry.registerClass(kProgId, []() -> ObjectRef {
            throw AutomationError(kCannotCreateObject + QStringLiteral(" (an installed Excel is driven through COM, "
                                                                       "which only Windows has; use builtin or libreoffice)"));
        });
#endif
    } else if (name == QLatin1String("none")) {
        registry.registerClass(kProgId, []() -> ObjectRef { throw AutomationError(kCannotCreateObject); });
    } else {
        registry.registerClass(kProgId, [serverName]() -> ObjectRef {
            throw AutomationError(kCannotCreateObject +
                                  QStringLiteral(" (PANTRIMO_EXCEL names an unknown spreadsheet server \"%1\"; "
                                                 "use builtin, excel, libreoffice or none)")
                                      .arg(serverName));
        });
    }
}

} // namespace platform
