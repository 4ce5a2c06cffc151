#pragma once
// What the spreadsheet server's objects (platform/excel) ask of the program that holds the
// workbooks: our engine in this process (builtin/) or an office in another (libreoffice/).
// The objects check every argument and value before they call; a backend only does the work.
//
// who names the member for error texts ("Range.Value"). A backend raises what fails as the
// automation error the caller sees, its description led by who unless the failure has
// wording of its own to keep (a spreadsheet program's "You can't change part of an array.",
// the message of a picture renderer); the objects above pass it on unchanged.

#include "platform/automation/AutomationError.h"
#include "platform/automation/Variant.h"

#include <QString>

#include <cstdint>
#include <memory>
#include <sys/types.h>
#include <vector>

namespace backend {

// A rectangle of cells, counted from 0, both ends included.
struct CellRect {
    int32_t firstRow = 0, lastRow = 0, firstCol = 0, lastCol = 0;
    bool operator==(const CellRect &) const = default;
};

// The limits of the Excel 97-2003 sheet the workbooks are saved as.
constexpr int32_t kMaxRows = 65536;
constexpr int32_t kMaxColumns = 256;
constexpr int kMaxTextLength = 32767;

// One open workbook. Sheets are named by the backend's own index of them, as
// worksheets() and activeSheet() hand them out.
class Document {
public:
    virtual ~Document() = default;
    // Absolute; the last SaveAs's once saved.
    virtual QString path() const = 0;
    virtual bool isClosed() const = 0;

    virtual int activeSheet(QStringView who) = 0;
    // The worksheets in their order (chart and macro sheets are not among them).
    virtual std::vector<int> worksheets(QStringView who) = 0;
    virtual QString sheetName(QStringView who, int sheet) = 0;

    // A number, a text, a logical value, an error value (CVErr) or Empty.
    virtual automation::Variant read(QStringView who, int sheet, int32_t row, int32_t column) = 0;
    // Every cell of range; value is one a cell can hold (a finite number, a text of at most
    // kMaxTextLength characters, an error value of a cell, Empty to clear).
    virtual void write(QStringView who, int sheet, const CellRect &range, const automation::Variant &value) = 0;
    // A1 on an empty sheet.
    virtual CellRect usedRange(QStringView who, int sheet) = 0;
    // As an Excel 97-2003 workbook, to an absolute path.
    virtual void saveAs(QStringView who, const QString &path) = 0;
    // A picture of the range, as it looks on screen, on the system clipboard.
    virtual void copyPicture(QStringView who, int sheet, const CellRect &range) = 0;
    // Unsaved changes are dropped; the session forgets the document.
    virtual void close(QStringView who) = 0;
};

// One Excel.Application: its documents are its own.
class Session {
public:
    virtual ~Session() = default;
    // Raises when what serves the session (the office process) has ended.
    virtual void checkRunning(QStringView who) const = 0;
    virtual std::shared_ptr<Document> open(QStringView who, const QString &path) = 0;
    // Open documents, oldest first.
    virtual std::vector<std::shared_ptr<Document>> documents() const = 0;
    // Closes the session's documents, unsaved writes and all; never raises for a process that
    // has ended already.
    virtual void quit() = 0;
    virtual bool hasQuit() const = 0;
    // The process that serves the session; 0 in this process, once it has ended, or after Quit.
    virtual pid_t processId() const = 0;
};

} // namespace backend
