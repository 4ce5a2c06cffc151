#include "platform/files/Leftovers.h"

#include <QDir>
#include <QFile>

#include <algorithm>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace files {

namespace {
constexpr size_t kMaxSweepCandidates = 1000;

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

int lockFolder(const QString &folder)
{
    const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return -1;
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

bool isAbandoned(const QString &folder, const QString &name, const QString &prefix)
{
    const pid_t owner = ownerOf(name, prefix);
    if (owner == 0 || owner == ::getpid())
        return false;
    const QByteArray path = QFile::encodeName(QDir(folder).filePath(name));
    const int dirFd = ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dirFd < 0)
        return false;
    struct stat st {};
    bool abandoned = false;
    if (::fstat(dirFd, &st) == 0 && st.st_uid == ::getuid()) {
        abandoned = ::flock(dirFd, LOCK_EX | LOCK_NB) == 0 && ::kill(owner, 0) != 0 && errno == ESRCH;
    }
    ::close(dirFd);
    return abandoned;
}

void keepNewest(int dirFd, std::vector<QByteArray> &names, size_t max)
{
    // The first max in the folder's own order: looking at every name to find the newest
    // would cost what the bound is there to save.
    if (names.size() > max)
        names.resize(max);
    std::vector<std::pair<qint64, QByteArray>> dated;
    dated.reserve(names.size());
    for (QByteArray &name : names) {
        struct stat st {};
        const qint64 changed = ::fstatat(dirFd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0
                                   ? qint64(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec
                                   : 0;
        dated.emplace_back(changed, std::move(name));
    }
    std::stable_sort(dated.begin(), dated.end(), [](const auto &a, const auto &b) { return a.first > b.first; });
    names.clear();
    for (auto &entry : dated)
        names.push_back(std::move(entry.second));
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
    const int dirFd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0)
        return;
    DIR *dir = ::fdopendir(dirFd);
    if (!dir) {
        ::close(dirFd);
        return;
    }
    // The first candidates by name only: however many were planted, a sweep looks at a
    // thousand and leaves the rest to the next.
    const QByteArray nativePrefix = QFile::encodeName(prefix);
    std::vector<QByteArray> names;
    while (names.size() < kMaxSweepCandidates) {
        const dirent *entry = ::readdir(dir);
        if (!entry)
            break;
        if (std::strncmp(entry->d_name, nativePrefix.constData(), size_t(nativePrefix.size())) != 0 ||
            (entry->d_type != DT_DIR && entry->d_type != DT_UNKNOWN))
            continue;
        const QByteArray name(entry->d_name);
        if (ownerOf(QFile::decodeName(name), prefix) != 0)
            names.push_back(name);
    }
    keepNewest(dirFd, names, kMaxSweepCandidates);
    ::closedir(dir);
    for (const QByteArray &native : names) {
        const QString name = QFile::decodeName(native);
        if (!isAbandoned(folder, name, prefix))
            continue;
        const QString path = QDir(folder).filePath(name);
        if (beforeRemoving)
            beforeRemoving(path);
        removeTree(path);
    }
}

} // namespace files
