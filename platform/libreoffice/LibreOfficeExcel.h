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
// Each application object starts its own headless office process with a private profile and
// pipe, and Quit ends it. Every call over the bridge has a deadline: an office that crashed
// gives an automation error at once, one that hangs is ended when the deadline passes and the
// call fails. No office process outlives its application object or the program.

#include "automation/AutomationObject.h"

#include <QString>
#include <chrono>
#include <sys/types.h>

namespace lo {

struct Options {
    // soffice or soffice.bin; empty: the one on PATH, else the Debian install.
    QString officeProgram;
    std::chrono::milliseconds startTimeout{60000};
    std::chrono::milliseconds callTimeout{60000};
    std::chrono::milliseconds quitTimeout{10000};
};

// PANTRIMO_SOFFICE names the office program; PANTRIMO_LIBREOFFICE_TIMEOUT_MS the call deadline.
Options optionsFromEnvironment();

// The office's own executable (soffice.bin) for a program hint as in Options; empty when
// LibreOffice is not installed there.
QString findOfficeBinary(const QString &hint);

// The process of an application object made by this server; 0 when it is another server's
// object or its office has ended.
pid_t officeProcessId(const automation::ObjectRef &application);

} // namespace lo

// A new instance with its own office process; throws AutomationError when LibreOffice is
// missing or does not start.
automation::ObjectRef createLibreOfficeExcelApplication(const lo::Options &options = lo::optionsFromEnvironment());
