#include "platform/files/AtomicFile.h"

#include "platform/files/Leftovers.h"

#include <QDir>
#include <QFile>
#include <QRandomGenerator>

#include <cerrno>
#include <csignal>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace files {

namespace {
constexpr int kNameAttempts = 100;

struct Fd {
    int fd = -1;
    ~Fd()
    {
        if (fd >= 0)
            ::close(fd);
    }
    int release()
    {
        const int f = fd;
        fd = -1;
        return f;
    }
};

WriteOutcome failed(const QString &reason) { return {WriteStatus::Failed, reason}; }
WriteOutcome failedErrno(int error) { return failed(describeError(error)); }

QByteArray parentOf(const QByteArray &path)
{
    const qsizetype slash = path.lastIndexOf('/');
    if (slash < 0)
        return QByteArrayLiteral(".");
    return slash == 0 ? QByteArrayLiteral("/") : path.left(slash);
}

// Why the folder that should hold the file cannot: named so the user can act on it.
QString folderProblem(const QByteArray &folder, int error)
{
    struct stat st {};
    if (error == ENOTDIR || (::stat(folder.constData(), &st) == 0 && !S_ISDIR(st.st_mode)))
        return QStringLiteral("the folder %1 is a file").arg(QFile::decodeName(folder));
    // Some folders that exist refuse new files with "no such file" all the same (/proc).
    if (error == ENOENT && ::stat(folder.constData(), &st) == 0 && S_ISDIR(st.st_mode))
        return QStringLiteral("writing in the folder %1 is not permitted").arg(QFile::decodeName(folder));
    if (error == ENOENT)
        return QStringLiteral("the folder %1 does not exist").arg(QFile::decodeName(folder));
    return describeError(error);
}

void syncFolder(const QByteArray &folder)
{
    const int dfd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dfd < 0)
        return;
    ::fsync(dfd);
    ::close(dfd);
}

// Partial files of this target whose writer was killed before it could remove them: only
// regular files of this user, named as we name them, whose process is gone.
void removeAbandonedParts(const QByteArray &folder, const QByteArray &partPrefix)
{
    const QString prefix = QFile::decodeName(partPrefix);
    const QDir dir(QFile::decodeName(folder));
    for (const QString &name : dir.entryList({prefix + QStringLiteral("*.part")}, QDir::Files | QDir::Hidden | QDir::System)) {
        const pid_t owner = ownerOf(name, prefix);
        if (owner == 0 || owner == ::getpid() || ::kill(owner, 0) == 0 || errno != ESRCH)
            continue;
        const QByteArray path = QFile::encodeName(dir.filePath(name));
        struct stat st {};
        if (::lstat(path.constData(), &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::getuid())
            ::unlink(path.constData());
    }
}

// Moves the finished file to the target only if nothing is there, in one step. Some file
// systems do not know RENAME_NOREPLACE; a hard link refuses an existing name just as well.
bool placeWithoutReplacing(const QByteArray &temporary, const QByteArray &target)
{
    if (::renameat2(AT_FDCWD, temporary.constData(), AT_FDCWD, target.constData(), RENAME_NOREPLACE) == 0)
        return true;
    if (errno != EINVAL && errno != ENOSYS)
        return false;
    if (::link(temporary.constData(), target.constData()) != 0)
        return false;
    ::unlink(temporary.constData());
    return true;
}
} // namespace

QString describeError(int error)
{
    switch (error) {
    case ENOSPC:
        return QStringLiteral("No space left on device (the disk is full)");
    case EDQUOT:
        return QStringLiteral("Disk quota exceeded");
    case EACCES:
    case EPERM:
        return QStringLiteral("Permission denied");
    case EISDIR:
        return QStringLiteral("it is a folder");
    case EROFS:
        return QStringLiteral("Read-only file system");
    default:
        return QString::fromLocal8Bit(std::strerror(error));
    }
}

bool writeAll(int fd, QByteArrayView bytes)
{
    const char *data = bytes.data();
    qsizetype left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, data, size_t(std::min<qsizetype>(left, 1 << 30)));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (n == 0) {
            errno = ENOSPC;
            return false;
        }
        data += n;
        left -= n;
    }
    return true;
}

WriteOutcome writeFileAtomically(const QString &path, QByteArrayView bytes, const WriteOptions &options)
{
    QByteArray target = QFile::encodeName(path);
    if (target.isEmpty())
        return failed(QStringLiteral("no file name was given"));

    struct stat existing {};
    bool exists = ::lstat(target.constData(), &existing) == 0;
    if (exists && S_ISLNK(existing.st_mode) && options.followLink) {
        char resolved[PATH_MAX];
        if (::realpath(target.constData(), resolved)) {
            target = QByteArray(resolved);
            exists = ::lstat(target.constData(), &existing) == 0;
        }
    }
    if (exists && S_ISDIR(existing.st_mode))
        return failed(QStringLiteral("it is a folder"));
    if (exists && !options.replace)
        return {WriteStatus::AlreadyThere, {}};

    const QByteArray folder = parentOf(target);
    const QByteArray base = target.mid(folder.size() == 1 && folder == "/" ? 1 : folder.size() + 1);
    // ".name.<pid>-<random>.part": the process id lets a later save remove what a killed
    // program left half written.
    const QByteArray partPrefix = '.' + base.left(200) + '.';
    removeAbandonedParts(folder, partPrefix);
    Fd file;
    QByteArray temporary;
    for (int attempt = 0; attempt < kNameAttempts && file.fd < 0; ++attempt) {
        // A name nobody can have prepared: random, created exclusively, never through a link.
        temporary = folder + '/' + partPrefix + QByteArray::number(::getpid()) + '-' +
                    QByteArray::number(QRandomGenerator::system()->generate64(), 36) + ".part";
        file.fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (file.fd < 0 && errno != EEXIST)
            return failed(folderProblem(folder, errno));
    }
    if (file.fd < 0)
        return failed(QStringLiteral("no temporary name was free in %1").arg(QFile::decodeName(folder)));

    const auto abandon = [&](int error) {
        ::unlink(temporary.constData());
        return failedErrno(error);
    };
    const mode_t mode = exists ? (existing.st_mode & 07777) : options.newFileMode;
    if (!writeAll(file.fd, bytes))
        return abandon(errno);
    if (::fchmod(file.fd, mode) != 0)
        return abandon(errno);
    if (options.durable && ::fsync(file.fd) != 0)
        return abandon(errno);
    struct stat written {};
    if (::fstat(file.fd, &written) != 0)
        return abandon(errno);
    if (written.st_size != off_t(bytes.size()))
        return abandon(ENOSPC);
    if (::close(file.release()) != 0)
        return abandon(errno);

    if (options.replace) {
        if (::rename(temporary.constData(), target.constData()) != 0)
            return abandon(errno);
    } else if (!placeWithoutReplacing(temporary, target)) {
        const int error = errno;
        ::unlink(temporary.constData());
        if (error == EEXIST)
            return {WriteStatus::AlreadyThere, {}};
        return failedErrno(error);
    }
    // The new file is in place whatever this answers; a folder that cannot be flushed
    // leaves only its durability in doubt, which is no reason to call the save failed.
    if (options.durable)
        syncFolder(folder);
    return {WriteStatus::Written, {}};
}

} // namespace files
