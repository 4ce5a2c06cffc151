#include "shell/IsInstalled.h"

#include "platform/automation/ClassRegistry.h"
#include "platform/services/Dialogs.h"

namespace shell {

const char *const kExcelMissingMessage =
    "Error 842001. A normal instance of Excel could not be created.\r\n\r\n"
    "1. Please make sure Excel is installed on this computer.\r\n\r\n"
    "2. Please open Excel normally and make sure a blank spreadsheet opens immediately without any "
    "interrupting window (such as an Excel file recovery window).\r\n\r\n"
    "3. Please make sure that when you double-click on a XLS or XLSX file that Excel opens normally "
    "without any interrupting messages.\r\n\r\n"
    "4. All versions of Excel are supported by this software except for the rare Excel Starter and "
    "Student editions.";

bool CheckExcelAvailable()
{
    bool created = false;
    try {
        // Released at once; the test never calls Quit.
        created = automation::createObject(QStringLiteral("Excel.Application")) != nullptr;
    } catch (...) {
        // A failed creation counts as no object.
    }
    if (created)
        return true;
    platform::MsgBox(QString::fromUtf8(kExcelMissingMessage), platform::vbOKOnly);
    return false;
}

} // namespace shell
