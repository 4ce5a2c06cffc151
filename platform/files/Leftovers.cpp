#include "platform/files/Leftovers.h"

#include <QDir>
#include <QFile>

#include <cerrno>
#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace files {

namespace {
// Deep enough for an office profile; a deeper tree is not one we made.
constexpr int kMaxDepth = 32;

bool removeEntries(int dirFd, int depth)
{
    DIR *dir = ::fdopendir(dirFd);
    if (!dir) {
        ::close(dirFd);
        return false;
    }
    bool all = true;
    while (const dirent *entry = ::readdir(dir)) {
        const char *name = entry->d_name;
        if (name[0] == '.' && (name[1] == 0 || (name[1] == '.' && name[2] == 0)))
            continue;
        struct stat st {};
        if (::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
            all = false;
            continue;
        }
        if (S_ISDIR(st.st_mode)) {
            const int child = depth < kMaxDepth ? ::openat(dirFd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC) : -1;
            if (child < 0 || !removeEntries(child, depth + 1) || ::unlinkat(dirFd, name, AT_REMOVEDIR) != 0)
                all = false;
        } else if (::unlinkat(dirFd, name, 0) != 0) {
            all = false;
        }
    }
    ::closedir(dir); // closes dirFd too
    return all;
}
} // namespace

pid_t ownerOf(const QString &name, const QString &prefix)
{
    if (!name.startsWith(prefix))
        return 0;
    const qsizetype dash = name.indexOf(QLatin1Char('-'), prefix.size());
    if (dash <= prefix.size())
        return 0;
    bool ok = false;
    const long pid = name.mid(prefix.size(), dash - prefix.size()).toLong(&ok);
    return ok && pid > 0 ? pid_t(pid) : 0;
}

bool isAbandoned(const QString &folder, const QString &name, const QString &prefix)
{
    const pid_t owner = ownerOf(name, prefix);
    if (owner == 0 || owner == ::getpid())
        return false;
    struct stat st {};
    const QByteArray path = QFile::encodeName(QDir(folder).filePath(name));
    if (::lstat(path.constData(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid())
        return false;
    return ::kill(owner, 0) != 0 && errno == ESRCH;
}

bool removeTree(const QString &path)
{
    const QByteArray native = QFile::encodeName(path);
    const int fd = ::open(native.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    return removeEntries(fd, 0) && ::rmdir(native.constData()) == 0;
}

void sweepAbandoned(const QString &folder, const QString &prefix, void (*beforeRemoving)(const QString &path))
{
    const QStringList names =
        QDir(folder).entryList({prefix + QLatin1Char('*')}, QDir::Dirs | QDir::NoSymLinks | QDir::NoDotAndDotDot | QDir::Hidden);
    for (const QString &name : names) {
        if (!isAbandoned(folder, name, prefix))
            continue;
        const QString path = QDir(folder).filePath(name);
        if (beforeRemoving)
            beforeRemoving(path);
        removeTree(path);
    }
}

} // namespace files
