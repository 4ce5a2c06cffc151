#pragma once
// What the office tests ask of the kept profile from outside, as another program would.

#include "platform/excel/libreoffice/OfficeProfile.h"

#include <QFile>

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace testing {

// Whether another program could take the kept profile now.
inline bool keptProfileIsFree()
{
    const int fd = ::open(QFile::encodeName(lo::keptProfilePath() + ".lock").constData(), O_RDWR | O_CLOEXEC);
    if (fd < 0)
        return true;
    const bool free = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
    ::close(fd);
    return free;
}

} // namespace testing
