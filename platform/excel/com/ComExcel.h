#pragma once
// The backend over an installed Excel: one Excel.Application per session, created out of
// process through COM and driven by member names (late-bound IDispatch), the way the program
// itself drives "Excel.Application". Windows only.
//
// The objects above (platform/excel) have checked every argument already; what Excel refuses
// comes back with Excel's own description. Excel is kept invisible and silent
// (DisplayAlerts = False), so SaveAs over an existing file, Close and Quit never prompt; the
// save format follows Excel's Version (56 from version 12 on, -4143 before); the picture is
// CopyPicture(xlScreen, xlBitmap), a bitmap on the clipboard that any reader takes. A server
// found gone (killed, crashed) is reported as ended at the step that met it, and every later
// call of that session says so at once; the next session starts a new server.

#include "platform/excel/backend/Backend.h"

#include <QString>

#include <memory>

namespace com {

// The identifier Excel is created from: PANTRIMO_EXCEL_PROGID (for tests, our own server),
// else "Excel.Application".
QString excelProgId();

// Whether progId names a class this machine can create (a registered identifier).
bool isRegistered(const QString &progId);

// A new, invisible instance; raises "ActiveX component can't create object" with the reason
// when it cannot be created.
std::shared_ptr<backend::Session> startComSession(const QString &progId);

} // namespace com
