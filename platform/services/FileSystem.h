#pragma once
// File deletion as the platform offers it: a plain delete that, like the platform's,
// refuses a read-only file, and the scripting file-system object whose DeleteFile can
// force that.

#include "platform/automation/AutomationObject.h"
#include "platform/files/AtomicFile.h"

namespace platform {

// Deletes one file; raises an AutomationError when it is missing, read-only, a
// folder, or cannot be removed.
void Kill(const QString &path);

// Replaces (or creates) the file at path with bytes, safely (files::writeFileAtomically);
// raises an AutomationError "Could not write <path>: <reason>" when it could not, with
// the file there left as it was. False when options forbid replacing and a file is there.
bool ReplaceFile(const QString &path, QByteArrayView bytes, const files::WriteOptions &options = {});

// Registers "Scripting.FileSystemObject" with the class registry.
void registerFileSystemObject();

} // namespace platform
