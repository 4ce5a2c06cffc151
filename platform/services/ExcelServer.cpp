#include "ExcelServer.h"

#include "automation/ClassRegistry.h"

#ifdef PANTRIMO_HAVE_BUILTIN_EXCEL
#include "excel/BuiltinExcel.h"
#include "render/Clipboard.h"
#include "render/SheetRenderer.h"
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
        // A range's picture is the renderer's drawing, handed over on the system clipboard.
        excel::setCopyPictureHandler([](const excel::RangeRef &range) {
            const QImage picture = render::renderRangeOrThrow(range.workbook(), range.sheetIndex, range.rect);
            if (!render::copyImageToClipboard(picture))
                throw AutomationError(QStringLiteral("CopyPicture: the picture could not be put on the clipboard"));
        });
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
