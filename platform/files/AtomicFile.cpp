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
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace files {

namespace {
constexpr int kNameAttempts = 100;


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

// Enough to find what a killed writer left without letting planted names slow every save.
constexpr size_t kMaxPartCandidates = 1000;
constexpr int kMaxLinks = 40; // the kernel's own limit on links in one path

// Partial files of this target whose writer was killed before it could remove them: only
// regular files of this user, named as we name them, whose writer no longer holds the lock
// it takes on the file and whose process is gone. The id alone cannot tell: in another pid
// namespace a live writer's id is not visible. At most the newest kMaxPartCandidates are
// examined.
void removeAbandonedParts(const QByteArray &folder, const QByteArray &partPrefix)
{
    const int dirFd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dirFd < 0)
        return;
    DIR *dir = ::fdopendir(dirFd);
    if (!dir) {
        ::close(dirFd);
        return;
    }
    std::vector<QByteArray> names;
    const QString prefix = QFile::decodeName(partPrefix);
    while (names.size() < kMaxPartCandidates) {
        const dirent *entry = ::readdir(dir);
        if (!entry)
            break;
        if (std::strncmp(entry->d_name, partPrefix.constData(), size_t(partPrefix.size())) != 0)
            continue;
        const QByteArray name(entry->d_name);
        if (name.endsWith(".part") && (entry->d_type == DT_REG || entry->d_type == DT_UNKNOWN) && ownerOf(QFile::decodeName(name), prefix) != 0)
            names.push_back(name);
    }
    keepNewest(dirFd, names, kMaxPartCandidates);
    for (const QByteArray &name : names) {
        const int fd = ::openat(dirFd, name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            continue;
        struct stat st {};
        const pid_t owner = ownerOf(QFile::decodeName(name), prefix);
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid() && owner != ::getpid() &&
            ::flock(fd, LOCK_EX | LOCK_NB) == 0 && ::kill(owner, 0) != 0 && errno == ESRCH)
            ::unlinkat(dirFd, name.constData(), 0);
        ::close(fd);
    }
    ::closedir(dir);
}

// Would the kernel follow the link at linkStat, found in folder, for this process?
// protected_symlinks: not in a sticky world-writable folder unless the link is the
// follower's own or the folder's owner's.
bool kernelWouldFollow(const QByteArray &folder, const struct stat &linkStat)
{
    struct stat dir {};
    if (::stat(folder.constData(), &dir) != 0)
        return false;
    const bool sharedSticky = (dir.st_mode & S_ISVTX) && (dir.st_mode & S_IWOTH);
    return !sharedSticky || linkStat.st_uid == ::geteuid() || linkStat.st_uid == dir.st_uid;
}

QByteArray joined(const QByteArray &folder, const QByteArray &name)
{
    return folder.endsWith('/') ? folder + name : folder + '/' + name;
}

// Resolves path component by component, following each link only as kernelWouldFollow
// allows; the refusal names the link and where it points. A missing component ends the
// walk there: the rest is joined as it was typed, for the write to report.
QByteArray resolveAsTheKernelWould(const QByteArray &path, QString *refusal)
{
    QByteArray resolved = "/";
    QList<QByteArray> pending;
    if (!path.startsWith('/')) {
        char cwd[PATH_MAX];
        if (!::getcwd(cwd, sizeof cwd))
            return path;
        pending = QByteArray(cwd).split('/');
    }
    pending += path.split('/');
    int links = 0;
    while (!pending.isEmpty()) {
        const QByteArray part = pending.takeFirst();
        if (part.isEmpty() || part == ".")
            continue;
        if (part == "..") {
            resolved = parentOf(resolved);
            continue;
        }
        const QByteArray candidate = joined(resolved, part);
        struct stat st {};
        if (::lstat(candidate.constData(), &st) != 0 || !S_ISLNK(st.st_mode)) {
            resolved = candidate;
            continue;
        }
        char buffer[PATH_MAX];
        const ssize_t n = ::readlink(candidate.constData(), buffer, sizeof buffer - 1);
        if (n <= 0) {
            resolved = candidate;
            continue;
        }
        const QByteArray points(buffer, n);
        if (!kernelWouldFollow(resolved, st)) {
            const QByteArray shown = points.startsWith('/') ? points : joined(resolved, points);
            *refusal = QStringLiteral("%1 is a link to %2 that another user made in a shared folder; it is not followed")
                           .arg(QFile::decodeName(candidate), QFile::decodeName(shown));
            return candidate;
        }
        if (++links > kMaxLinks) {
            *refusal = describeError(ELOOP);
            return candidate;
        }
        if (points.startsWith('/'))
            resolved = "/";
        pending = points.split('/') + pending;
    }
    return resolved;
}

// A file this process could not write in place: no write bit at all (which root would
// otherwise pass), or none for this user.
bool readOnly(const QByteArray &file, const struct stat &st)
{
    return (st.st_mode & 0222) == 0 || ::faccessat(AT_FDCWD, file.constData(), W_OK, AT_EACCESS) != 0;
}

QString kindProblem(const struct stat &st)
{
    if (S_ISDIR(st.st_mode))
        return QStringLiteral("it is a folder");
    if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode))
        return QStringLiteral("it is a device, not a file");
    if (S_ISFIFO(st.st_mode))
        return QStringLiteral("it is a named pipe (FIFO), not a file");
    if (S_ISSOCK(st.st_mode))
        return QStringLiteral("it is a socket, not a file");
    return {};
}

mode_t currentUmask()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : status.readAll().split('\n'))
            if (line.startsWith("Umask:"))
                return mode_t(line.mid(6).trimmed().toUInt(nullptr, 8) & 0777);
    }
    return 022;
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

TargetCheck checkTarget(const QString &path, const WriteOptions &options)
{
    TargetCheck check;
    QByteArray target = QFile::encodeName(path);
    if (target.isEmpty()) {
        check.refusal = QStringLiteral("no file name was given");
        return check;
    }
    if (options.followLink)
        target = resolveAsTheKernelWould(target, &check.refusal);
    check.file = QFile::decodeName(target);
    if (!check.allowed())
        return check;
    struct stat st {};
    check.exists = ::lstat(target.constData(), &st) == 0;
    if (!check.exists || S_ISLNK(st.st_mode)) // a link here is replaced, never followed
        return check;
    check.refusal = kindProblem(st);
    if (check.allowed() && options.replace && readOnly(target, st))
        check.refusal = QStringLiteral("it is read-only");
    return check;
}

PreparedFile::PreparedFile(PreparedFile &&other) noexcept { *this = std::move(other); }

PreparedFile &PreparedFile::operator=(PreparedFile &&other) noexcept
{
    if (this != &other) {
        discard();
        m_outcome = std::exchange(other.m_outcome, {});
        m_temporary = std::exchange(other.m_temporary, {});
        m_target = std::exchange(other.m_target, {});
        m_fd = std::exchange(other.m_fd, -1);
        m_options = other.m_options;
    }
    return *this;
}

PreparedFile::~PreparedFile() { discard(); }

void PreparedFile::discard()
{
    if (!m_temporary.isEmpty())
        ::unlink(m_temporary.constData());
    m_temporary.clear();
    if (m_fd >= 0)
        ::close(m_fd);
    m_fd = -1;
}

QString PreparedFile::target() const { return QFile::decodeName(m_target); }

PreparedFile prepareFile(const QString &path, QByteArrayView bytes, const WriteOptions &options)
{
    PreparedFile prepared;
    prepared.m_options = options;
    const auto fail = [&](const QString &reason) {
        prepared.discard();
        prepared.m_outcome = failed(reason);
        return std::move(prepared);
    };
    const TargetCheck check = checkTarget(path, options);
    if (!check.allowed())
        return fail(check.refusal);
    if (check.exists && !options.replace) {
        prepared.m_outcome = {WriteStatus::AlreadyThere, {}};
        return prepared;
    }
    const QByteArray target = QFile::encodeName(check.file);
    struct stat existing {};
    const bool replacing = check.exists && ::lstat(target.constData(), &existing) == 0 && S_ISREG(existing.st_mode);
    prepared.m_target = target;

    const QByteArray folder = parentOf(target);
    const QByteArray base = target.mid(folder.size() == 1 && folder == "/" ? 1 : folder.size() + 1);
    // ".name.<pid>-<random>.part": a later save of the same name removes what a killed
    // program left half written (its lock is then free).
    const QByteArray partPrefix = '.' + base.left(200) + '.';
    removeAbandonedParts(folder, partPrefix);
    for (int attempt = 0; attempt < kNameAttempts && prepared.m_fd < 0; ++attempt) {
        // A name nobody can have prepared: random, created exclusively, never through a link.
        const QByteArray temporary = folder + '/' + partPrefix + QByteArray::number(::getpid()) + '-' +
                                     QByteArray::number(QRandomGenerator::system()->generate64(), 36) + ".part";
        prepared.m_fd = ::open(temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (prepared.m_fd < 0 && errno != EEXIST)
            return fail(folderProblem(folder, errno));
        if (prepared.m_fd >= 0)
            prepared.m_temporary = temporary;
    }
    if (prepared.m_fd < 0)
        return fail(QStringLiteral("no temporary name was free in %1").arg(QFile::decodeName(folder)));
    // Held until the file is in place or removed: a sweep by another program leaves it be.
    ::flock(prepared.m_fd, LOCK_EX | LOCK_NB);

    const int fd = prepared.m_fd;
    if (!writeAll(fd, bytes))
        return fail(describeError(errno));
    mode_t mode = options.applyUmask ? (options.newFileMode & ~currentUmask()) : options.newFileMode;
    if (replacing) {
        mode = existing.st_mode & 07777;
        // Someone else's file stays theirs when root replaces it; a user keeps at least the
        // group where it is one of theirs. Before the mode: a change of owner clears set-id bits.
        if (existing.st_uid != ::geteuid() || existing.st_gid != ::getegid()) {
            if (::fchown(fd, existing.st_uid, existing.st_gid) != 0 && ::fchown(fd, uid_t(-1), existing.st_gid) != 0) {
                // Neither is this user's to give: the file becomes theirs, as any copy they save would.
            }
        }
    }
    if (::fchmod(fd, mode) != 0)
        return fail(describeError(errno));
    if (options.durable && ::fsync(fd) != 0)
        return fail(describeError(errno));
    struct stat written {};
    if (::fstat(fd, &written) != 0)
        return fail(describeError(errno));
    if (written.st_size != off_t(bytes.size()))
        return fail(describeError(ENOSPC));
    prepared.m_outcome = {WriteStatus::Written, {}};
    return prepared;
}

WriteOutcome PreparedFile::commit()
{
    if (!ready())
        return m_outcome;
    const QByteArray folder = parentOf(m_target);
    const auto fail = [&](int error) {
        discard();
        m_outcome = error == EEXIST && !m_options.replace ? WriteOutcome{WriteStatus::AlreadyThere, {}} : failedErrno(error);
        return m_outcome;
    };
    // The descriptor stays open, and so the lock held, until the file has its name.
    if (m_options.replace ? ::rename(m_temporary.constData(), m_target.constData()) != 0
                          : !placeWithoutReplacing(m_temporary, m_target))
        return fail(errno);
    m_temporary.clear();
    // Written and checked above (and flushed when durable): closing adds nothing on a local disk.
    ::close(m_fd);
    m_fd = -1;
    // The new file is in place whatever this answers; a folder that cannot be flushed
    // leaves only its durability in doubt, which is no reason to call the save failed.
    if (m_options.durable)
        syncFolder(folder);
    return m_outcome;
}

WriteOutcome writeFileAtomically(const QString &path, QByteArrayView bytes, const WriteOptions &options)
{
    PreparedFile prepared = prepareFile(path, bytes, options);
    return prepared.ready() ? prepared.commit() : prepared.outcome();
}

} // namespace files
