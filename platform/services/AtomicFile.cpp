#include "AtomicFile.h"

#include "automation/AutomationError.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using automation::AutomationError;

namespace platform {

namespace {

QString reason(int error) { return QString::fromLocal8Bit(std::strerror(error)); }

// Closes and removes the temporary file unless it was renamed into place.
class TemporaryFile {
public:
    ~TemporaryFile()
    {
        if (fd >= 0)
            ::close(fd);
        if (!name.isEmpty())
            ::unlink(name.constData());
    }
    int fd = -1;
    QByteArray name;
};

} // namespace

void writeFileAtomically(const QString &path, const QByteArray &bytes)
{
    const QString shown = QDir::toNativeSeparators(path);
    auto fail = [&](const QString &why) { throw AutomationError(QStringLiteral("Could not write %1: %2").arg(shown, why)); };

    const QFileInfo info(path);
    const QByteArray target = QFile::encodeName(info.absoluteFilePath());
    const QByteArray folder = QFile::encodeName(info.absolutePath());
    struct stat existing {};
    const bool exists = ::stat(target.constData(), &existing) == 0;
    if (exists && S_ISDIR(existing.st_mode))
        fail(QStringLiteral("it is a folder"));

    TemporaryFile tmp;
    QByteArray pattern = folder + "/." + QFile::encodeName(info.fileName()) + ".XXXXXX";
    // mkostemp creates with O_EXCL and mode 0600: nothing that was there is opened.
    tmp.fd = ::mkostemp(pattern.data(), O_CLOEXEC);
    if (tmp.fd < 0)
        fail(reason(errno));
    tmp.name = pattern;
    // The replacement keeps the old file's permissions; a new file gets the usual ones.
    mode_t mode = 0;
    if (exists) {
        mode = existing.st_mode & 07777;
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        mode = 0666 & ~mask;
    }
    if (::fchmod(tmp.fd, mode) != 0)
        fail(reason(errno));

    const char *p = bytes.constData();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(tmp.fd, p, size_t(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            fail(reason(errno));
        }
        if (n == 0)
            fail(reason(ENOSPC));
        p += n;
        left -= n;
    }
    if (::fsync(tmp.fd) != 0)
        fail(reason(errno));
    struct stat written {};
    if (::fstat(tmp.fd, &written) != 0)
        fail(reason(errno));
    if (written.st_size != bytes.size())
        fail(QStringLiteral("only %1 of %2 bytes reached the disk").arg(written.st_size).arg(bytes.size()));
    const int fd = tmp.fd;
    tmp.fd = -1;
    if (::close(fd) != 0)
        fail(reason(errno));
    if (::rename(tmp.name.constData(), target.constData()) != 0)
        fail(reason(errno));
    tmp.name.clear();
    // The rename itself reaches the disk with the folder.
    const int dir = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
}

} // namespace platform
