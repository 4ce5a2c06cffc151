#pragma once
// File deletion as the platform offers it: a plain delete that, like the platform's,
// refuses a read-only file, and the scripting file-system object whose DeleteFile can
// force that.

#include "automation/AutomationObject.h"

namespace platform {

// Deletes one file; raises an AutomationError when it is missing, read-only, a
// folder, or cannot be removed.
void Kill(const QString &path);

// Registers "Scripting.FileSystemObject" with the class registry.
void registerFileSystemObject();

} // namespace platform
