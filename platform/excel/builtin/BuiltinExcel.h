#pragma once
// The built-in backend of the spreadsheet server: workbooks opened, filled and saved as real
// Excel 97-2003 files by our own engine, in this process. The server's objects
// (platform/excel/ExcelApplication.h) sit on top; nothing here knows records: it works on the
// xls::Workbook model.

#include "platform/excel/backend/Backend.h"
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
// capture with a renderer installs it, so the backend need not know how a sheet is drawn.
// A failure it reports (a range too large to draw, a clipboard that refuses the picture)
// becomes the automation error of CopyPicture, with the handler's message as its description.
using CopyPictureHandler = std::function<xls::Status(const RangeRef &)>;
void setCopyPictureHandler(CopyPictureHandler handler);

// A new instance's workbooks; two sessions never share state.
std::shared_ptr<backend::Session> startBuiltinSession();

} // namespace excel
