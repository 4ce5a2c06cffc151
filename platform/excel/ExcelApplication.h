#pragma once
// The spreadsheet server's objects, the late-bound members a caller of "Excel.Application"
// expects, written once over a backend (backend/Backend.h): our engine in this process or an
// installed LibreOffice.
//
//   Application  Workbooks, Version ("16.0"), DisplayAlerts (read/write), Visible, Quit
//   Workbooks    Open(path), Count, Item(i) and the collection called with an index
//                (Application.Workbooks(i)); indices count from 1
//   Workbook     ActiveSheet, Worksheets (Count, Item by position or name), SaveAs(path,
//                FileFormat:=56 | -4143), Close, Name, FullName
//   Worksheet    Cells(row, column), UsedRange, Name
//   Range        Value (read/write), Row, Column, Count, Rows / Columns (with Count and an
//                index), Item, CopyPicture (a picture of the range on the system clipboard)
//
// Each application object is one instance: it owns its workbooks, and Quit closes them and
// ends it, after which every member of it and of the objects it handed out raises an error.
// Two instances never share state. The argument checks and their error texts are here; what
// the backend reports failing comes back as the automation error of the member that called.

#include "platform/automation/AutomationObject.h"
#include "platform/excel/backend/Backend.h"
#include "platform/excel/libreoffice/OfficeSession.h"

#include <memory>
#include <sys/types.h>

namespace excel {

automation::ObjectRef createApplication(std::shared_ptr<backend::Session> session);

// The process that serves an application object; 0 for one served in this process, one that
// has quit or whose office has ended, or another server's object.
pid_t processId(const automation::ObjectRef &application);

} // namespace excel

// A new, invisible instance of the built-in server, over our own engine.
automation::ObjectRef createBuiltinExcelApplication();

// A new instance on the program's LibreOffice, started when none runs; throws AutomationError
// when LibreOffice is missing or does not start. Only in builds with the LibreOffice bridge.
automation::ObjectRef createLibreOfficeExcelApplication(const lo::Options &options = lo::optionsFromEnvironment());
