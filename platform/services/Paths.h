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

// folder + separator + name, the way the program forms every path it uses.
QString joinPath(const QString &folder, const QString &name);

} // namespace platform
