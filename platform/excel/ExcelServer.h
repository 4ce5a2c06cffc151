#pragma once
// Chooses which spreadsheet server answers "Excel.Application", from the environment
// variable PANTRIMO_EXCEL: "builtin" is our in-process server; "excel" an installed Excel
// through COM (Windows); "libreoffice" an installed LibreOffice; "none" makes creation fail
// (as on a machine without a spreadsheet application). Unset: Excel where it is registered
// (Windows), else the built-in server.

#include <QString>

namespace platform {

// Registers "Excel.Application" for the server that value names (the environment's
// when called without one).
void registerExcelApplication();
void registerExcelApplication(const QString &serverName);

// Whether "Excel.Application" is, as last registered, the built-in server: then the workbooks
// and pictures it makes come from our own engine and renderer, which can draw the same sheet
// again at any scale.
bool builtinExcelRegistered();

} // namespace platform
