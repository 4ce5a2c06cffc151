#pragma once
// Clearing away what an ended program left behind (its run folders, an office's profile)
// without ever being led astray: a temporary folder may be shared with other users, and a
// link planted there under one of our names must not make us delete what it points at.

#include <QByteArray>
#include <QString>

#include <sys/types.h>
#include <vector>

namespace files {

// The process id carried by a name of the form prefix + pid + "-" + anything; 0 when the
// name is not of that form.
pid_t ownerOf(const QString &name, const QString &prefix);

// Takes the lock of a folder this program is using (flock on the folder itself, so the
// folder holds nothing but what its user puts there): the descriptor is to stay open as
// long as the folder is in use, and the kernel frees the lock when it closes, however the
// program ends. -1 when it cannot be taken.
int lockFolder(const QString &folder);

// True when folder/name is a real folder (not a link), owned by this user, named prefix +
// pid + "-…", its lock is free and that process is no longer running. The lock tells also
// across pid namespaces sharing the folder, where a live program's id may not be visible.
bool isAbandoned(const QString &folder, const QString &name, const QString &prefix);

// Keeps the first max of names (entries of the folder open as dirFd, in its listing order),
// newest first: a sweep's work stays bounded however many names were planted, and what a
// program killed a moment ago left is cleared before older things.
void keepNewest(int dirFd, std::vector<QByteArray> &names, size_t max);

// Removes a folder and everything in it. Every entry is examined where it lies, without
// following links: a link is removed as a link, never entered. False when something stayed.
bool removeTree(const QString &path);

// Removes the abandoned folders of that prefix in folder, the newest thousand at most. The paths removed are handed to
// beforeRemoving first, when given (an office's pipes are named after its profile).
void sweepAbandoned(const QString &folder, const QString &prefix, void (*beforeRemoving)(const QString &path) = nullptr);

} // namespace files
