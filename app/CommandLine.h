#pragma once
// The program without its windows, for scripts and launchers:
//   pantrimo [--list FILE] --pdf OUT.pdf [--xls OUT.xls]
// makes the workbook from the stored lists (or, for this run only, from the lists in FILE,
// "-" for standard input; lists/ListFile) through the same generation run and spreadsheet
// server as "Start Creating Template", and writes it and/or its PDF. A failure prints the
// same report the windows would show on stderr, writes nothing, and exits 1.

#include <QString>
#include <QStringList>

namespace shell {

struct CommandLineRequest {
    QString pdfPath, xlsPath;
    QString listPath; // empty: the stored lists
    bool wanted() const { return !pdfPath.isEmpty() || !xlsPath.isEmpty(); }
};

// True when the arguments ask for work without windows (or only for help or the version),
// so the program can start without a display. Looks at the raw arguments only.
bool runsWithoutWindows(int argc, char *argv[]);

// Parses the arguments of the running application; --help and --version print and exit
// there, as does an unknown option (exit 1).
CommandLineRequest parseCommandLine(const QStringList &arguments);

// Runs the request; returns the exit code.
int runCommandLine(const CommandLineRequest &request);

} // namespace shell
