#pragma once
// The program's LibreOffice and what each caller does on it, in the caller's words (open,
// cell read and write, used range, save as, picture of a range, close, quit); nothing here
// knows the automation objects built on top, and nothing above needs a UNO header.
//
// One office process serves the whole program: the first session starts it (on the kept
// profile, see OfficeProfile.h) and it stays warm until the program ends, when it is asked
// to end and killed if it will not; it dies with the program on a crash (OfficeProcess.h).
// Each session (one Excel.Application) keeps its own documents, and quitting a session
// closes only those. An office that crashed or stopped answering fails every call of every
// session on it with an automation error; the next session starts a new office.
//
// Cell writes are kept and sent in blocks (one call per rectangle of written cells) before
// anything that reads the sheet or the file: a cell read, the used range, a save, a picture,
// a close. What a write would have raised in the office is raised by the member that sent
// it, naming the cell.

#include "platform/automation/Variant.h"

#include <QImage>
#include <QString>

#include <chrono>
#include <memory>
#include <sys/types.h>
#include <vector>

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

// A rectangle of cells, counted from 0, both ends included.
struct CellRect {
    int32_t firstRow = 0, lastRow = 0, firstCol = 0, lastCol = 0;
    bool operator==(const CellRect &) const = default;
};

// "C12" for row 11, column 2.
QString cellName(int32_t row, int32_t column);

// One open workbook and the sheet its caller works on (the active one: nobody sees the
// office, so nobody changes it). who names the member for error texts ("Range.Value").
class Document {
public:
    virtual ~Document() = default;
    virtual QString path() const = 0;
    virtual bool isClosed() const = 0;
    virtual QString sheetName(QStringView who) = 0;
    // Kept until something reads; the value is checked here (text length, finite number).
    virtual void write(int32_t row, int32_t column, const automation::Variant &value) = 0;
    virtual automation::Variant read(QStringView who, int32_t row, int32_t column) = 0;
    virtual CellRect usedRange(QStringView who) = 0;
    // As an Excel 97-2003 workbook.
    virtual void saveAs(QStringView who, const QString &path) = 0;
    virtual QImage picture(QStringView who, const CellRect &range) = 0;
    virtual void close(QStringView who) = 0;
};

class Session {
public:
    // Joins the program's office, starting one when none runs; throws AutomationError when
    // LibreOffice is missing or does not start.
    static std::shared_ptr<Session> start(const Options &options);
    // Closes this session's documents, as Quit does.
    virtual ~Session() = default;

    // Throws when the session has quit or its office has ended.
    virtual void live(QStringView who) const = 0;
    virtual std::shared_ptr<Document> open(QStringView who, const QString &path) = 0;
    // Open documents, oldest first.
    virtual std::vector<std::shared_ptr<Document>> documents() const = 0;
    // Closes this session's documents, unsaved writes and all; the office stays.
    virtual void quit() = 0;
    virtual bool hasQuit() const = 0;
    // The office's process; 0 once it has ended or this session has quit.
    virtual pid_t processId() const = 0;
};

// Ends the program's office now, as the program's end does; the next session starts another.
void endOffice();
// The profile folder of the office that runs now; empty when none runs.
QString runningOfficeProfile();
// The process of the office that runs now; 0 when none runs.
pid_t runningOfficeProcess();

} // namespace lo
