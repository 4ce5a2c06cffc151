#pragma once
// The LibreOffice spreadsheet server: "Excel.Application" answered by an installed LibreOffice,
// driven out of process through its UNO automation interface.
//
//   Application  Workbooks, Version ("16.0"), DisplayAlerts (read/write), Quit
//   Workbooks    Open(path) (a hidden load), Count, Item(i) and the collection called with an
//                index; indices count from 1
//   Workbook     ActiveSheet, SaveAs(path, FileFormat:=56 | -4143) (the "MS Excel 97" filter),
//                Close, Name, FullName
//   Worksheet    Cells(row, column), UsedRange, Name
//   Range        Value (read/write), Row, Column, Count, Rows / Columns (with Count and an
//                index), Item, CopyPicture (a PNG of the range put on the system clipboard)
//
// Each application object is a session on the program's one office (OfficeSession.h): its
// documents are its own, and Quit closes them. Every call over the bridge has a deadline: an
// office that crashed gives an automation error at once, one that hangs is ended when the
// deadline passes and the call fails; the next application object starts a new office.

#include "platform/automation/AutomationObject.h"
#include "platform/excel/libreoffice/OfficeSession.h"

#include <sys/types.h>

namespace lo {

// The process of an application object made by this server; 0 when it is another server's
// object, it has quit or its office has ended.
pid_t officeProcessId(const automation::ObjectRef &application);

} // namespace lo

// A new instance on the program's office, started when none runs; throws AutomationError
// when LibreOffice is missing or does not start.
automation::ObjectRef createLibreOfficeExcelApplication(const lo::Options &options = lo::optionsFromEnvironment());
