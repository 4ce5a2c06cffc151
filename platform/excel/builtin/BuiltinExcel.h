#pragma once
// The built-in spreadsheet server: an in-process "Excel.Application" that opens, fills and
// saves real Excel 97-2003 workbooks through the late-bound members a caller expects.
//
//   Application  Workbooks, Version ("16.0"), DisplayAlerts (read/write), Quit
//   Workbooks    Open(path), Count, Item(i) and the collection called with an index
//                (Application.Workbooks(i)); indices count from 1
//   Workbook     ActiveSheet, SaveAs(path, FileFormat:=56 | -4143), Close, Name, FullName
//   Worksheet    Cells(row, column), UsedRange, Name
//   Range        Value (read/write), Row, Column, Count, Rows / Columns (with Count and an
//                index), CopyPicture (through a handler installed later, see below)
//
// Each application object is one instance: it owns its workbooks, and Quit closes them and
// ends it, after which every member of it and of the objects it handed out raises an error.
// Two instances never share state. The members know nothing of records: they work on the
// xls::Workbook model.

#include "platform/automation/AutomationObject.h"
#include "platform/xls/Workbook.h"

#include <functional>
#include <memory>

namespace excel {

struct WorkbookState;

// What a Range covers: a rectangle of one sheet of one open workbook. This is all a picture
// renderer needs to draw it.
struct RangeRef {
    std::shared_ptr<WorkbookState> book;
    int sheetIndex = 0;
    xls::CellRange rect;            // counted from 0, inclusive

    // The model, or an AutomationError when the workbook has been closed or its instance quit.
    const xls::Workbook &workbook() const;
    const xls::Worksheet &sheet() const;
};

// CopyPicture on a range calls this handler; without one it raises an automation error. The
// capture with a renderer installs it, so the members here need not know how a sheet is drawn.
// A failure it reports (a range too large to draw, a clipboard that refuses the picture)
// becomes the automation error of CopyPicture, with the handler's message as its description.
using CopyPictureHandler = std::function<xls::Status(const RangeRef &)>;
void setCopyPictureHandler(CopyPictureHandler handler);

} // namespace excel

// A new, invisible instance of the server.
automation::ObjectRef createBuiltinExcelApplication();
