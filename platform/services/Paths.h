#pragma once
// The folders the program addresses files in: its own folder (optional files lie
// beside the program) and the temporary folder of a generation run.

#include <QString>

namespace platform {

// The folder of the executable, without a trailing separator.
QString programFolder();

// Tests only: programFolder() answers folder until called again with an empty one, so
// a test can lay optional files beside "the program" without touching its build folder.
void overrideProgramFolder(const QString &folder);

// TEMP when it is set, used unchanged. Otherwise a private folder of this user under
// the system's temporary folder, created with mode 0700; raises an AutomationError
// when that name is taken by a link, a file or another user's folder.
QString temporaryFolder();

// A new folder for one generation run's files inside the temporary folder, made with
// mkdtemp (mode 0700, a name nobody could guess): in a shared TEMP no other user can
// plant a link or a file of their own among the run's files. Raises an AutomationError.
QString createRunFolder();

// Removes a run folder made by createRunFolder, with whatever is left in it; a path that is
// not such a folder is left alone. Quiet.
void removeRunFolder(const QString &folder);

// The folder of the run that made a file: the run folder the file lies in, or empty.
QString runFolderOf(const QString &file);

// Removes the run folders of programs that ended without removing them (killed, crashed).
void sweepAbandonedRunFolders();

// folder + separator + name, the way the program forms every path it uses.
QString joinPath(const QString &folder, const QString &name);

} // namespace platform
