#pragma once
// The LibreOffice backend of the spreadsheet server (backend/Backend.h): the program's
// LibreOffice, driven out of process through UNO, and what each caller does on it (open,
// sheets, cell read and write, used range, save as, picture of a range, close, quit).
// Nothing here knows the automation objects built on top, and nothing above needs a UNO header.
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

#include "platform/excel/backend/Backend.h"

#include <QString>

#include <chrono>
#include <memory>
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

// "C12" for row 11, column 2.
QString cellName(int32_t row, int32_t column);

// A session (one Excel.Application) on the program's office, started when none runs; throws
// AutomationError when LibreOffice is missing or does not start.
std::shared_ptr<backend::Session> startSession(const Options &options);

// Ends the program's office now, as the program's end does; the next session starts another.
void endOffice();
// The profile folder of the office that runs now; empty when none runs.
QString runningOfficeProfile();
// The process of the office that runs now; 0 when none runs.
pid_t runningOfficeProcess();

} // namespace lo
