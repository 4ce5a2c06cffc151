#pragma once
// Clearing away what an ended program left behind (its run folders, an office's profile)
// without ever being led astray: a temporary folder may be shared with other users, and a
// link planted there under one of our names must not make us delete what it points at.

#include <QString>

#include <sys/types.h>

namespace files {

// The process id carried by a name of the form prefix + pid + "-" + anything; 0 when the
// name is not of that form.
pid_t ownerOf(const QString &name, const QString &prefix);

// True when folder/name is a real folder (not a link), owned by this user, named prefix +
// pid + "-…", and that process is no longer running.
bool isAbandoned(const QString &folder, const QString &name, const QString &prefix);

// Removes a folder and everything in it. Every entry is examined where it lies, without
// following links: a link is removed as a link, never entered. False when something stayed.
bool removeTree(const QString &path);

// Removes every abandoned folder of that prefix in folder. The paths removed are handed to
// beforeRemoving first, when given (an office's pipes are named after its profile).
void sweepAbandoned(const QString &folder, const QString &prefix, void (*beforeRemoving)(const QString &path) = nullptr);

} // namespace files
