#pragma once
// Whether two names lead to the same file: through a link, another spelling of the path,
// a second hard link. Each platform asks its own file system for the file's identity.

#include <QString>

namespace files {

// False when either file cannot be examined.
bool isSameFile(const QString &a, const QString &b);

} // namespace files
