// Replacing a file on Windows: the same promise as on Linux (AtomicFile.cpp), kept with the
// calls Windows has for it. The bytes go to a new file beside the target, made with
// CREATE_NEW (which never opens a link or anything else already under that name); every
// WriteFile is checked for a short count; the file is flushed and its size compared with
// what was meant; then ReplaceFileW swaps it in for an existing file (keeping that file's
// attributes and access list, as a replaced file keeps its mode on Linux) and MoveFileExW
// with MOVEFILE_WRITE_THROUGH places a new one. On any failure the temporary file is
// removed and the target is left exactly as it was.

#include "platform/files/AtomicFile.h"

#include "platform/files/Leftovers.h"
#include "platform/files/WindowsApi.h"

#include <QDir>
#include <QRandomGenerator>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <io.h>
#include <optional>

namespace files {

namespace {
using win::Handle;

constexpr int kNameAttempts = 100;

WriteOutcome failed(const QString &reason) { return {WriteStatus::Failed, reason}; }

QString parentOf(const QString &path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('\\'));
    if (slash < 0)
        return QStringLiteral(".");
    // The root of a drive keeps its separator: "C:\".
    return path.left(slash == 2 && path.at(1) == QLatin1Char(':') ? 3 : slash);
}

QString childOf(const QString &folder, const QString &name)
{
    return folder.endsWith(QLatin1Char('\\')) ? folder + name : folder + QLatin1Char('\\') + name;
}

DWORD attributesOf(const QString &path) { return ::GetFileAttributesW(win::nativePath(path).c_str()); }

// Why the folder that should hold the file cannot: named so the user can act on it.
QString folderProblem(const QString &folder, DWORD error)
{
    const DWORD attributes = attributesOf(folder);
    if (error == ERROR_DIRECTORY || (attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY)))
        return QStringLiteral("the folder %1 is a file").arg(folder);
    if (error == ERROR_PATH_NOT_FOUND || error == ERROR_FILE_NOT_FOUND || error == ERROR_INVALID_NAME)
        return QStringLiteral("the folder %1 does not exist").arg(folder);
    return win::describeError(error);
}

// The file a link names, when it names one; empty otherwise (a dangling link).
QString resolveLink(const QString &path)
{
    Handle file(::CreateFileW(win::nativePath(path).c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    if (!file.valid())
        return {};
    wchar_t buffer[32768];
    const DWORD n = ::GetFinalPathNameByHandleW(file.h, buffer, DWORD(std::size(buffer)), FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    if (n == 0 || n >= std::size(buffer))
        return {};
    QString resolved = QString::fromWCharArray(buffer, int(n));
    if (resolved.startsWith(QLatin1String("\\\\?\\UNC\\")))
        resolved = QStringLiteral("\\\\") + resolved.mid(8);
    else if (resolved.startsWith(QLatin1String("\\\\?\\")))
        resolved = resolved.mid(4);
    return resolved;
}

QString randomSuffix() { return QString::number(QRandomGenerator::system()->generate64(), 36); }

// Partial files of this target whose writer was killed before it could remove them: only
// plain files (never a link), named as we name them, whose process has ended.
void removeAbandonedParts(const QString &folder, const QString &partPrefix)
{
    WIN32_FIND_DATAW found{};
    HANDLE search = ::FindFirstFileW(win::nativePath(childOf(folder, partPrefix + QStringLiteral("*.part"))).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    do {
        if (found.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT))
            continue;
        const QString name = QString::fromWCharArray(found.cFileName);
        const DWORD owner = DWORD(ownerOf(name, partPrefix));
        if (owner == 0 || owner == ::GetCurrentProcessId() || win::processStartTime(owner) != 0)
            continue;
        ::DeleteFileW(win::nativePath(childOf(folder, name)).c_str());
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
}

bool writeEverything(HANDLE file, QByteArrayView bytes, DWORD &error)
{
    const char *data = bytes.data();
    qsizetype left = bytes.size();
    while (left > 0) {
        DWORD written = 0;
        if (!::WriteFile(file, data, DWORD(std::min<qsizetype>(left, 1 << 30)), &written, nullptr)) {
            error = ::GetLastError();
            return false;
        }
        if (written == 0) {
            error = ERROR_DISK_FULL;
            return false;
        }
        data += written;
        left -= written;
    }
    return true;
}

// ReplaceFileW's own codes say only which step failed; the reason a user can act on (the
// file is open in another program, it may not be removed) is asked of the file itself.
DWORD replaceProblem(const QString &target, DWORD error)
{
    if (error != ERROR_UNABLE_TO_REMOVE_REPLACED && error != ERROR_UNABLE_TO_MOVE_REPLACEMENT &&
        error != ERROR_UNABLE_TO_MOVE_REPLACEMENT_2)
        return error;
    Handle probe(::CreateFileW(win::nativePath(target).c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    return probe.valid() ? error : ::GetLastError();
}

// Swaps the finished file in for the existing target. The old file goes to a backup name
// for the moment of the swap: without one, a swap that fails half-way may leave no file
// under the target's name at all; with one, the old file can always be put back.
WriteOutcome swapIn(const QString &temporary, const QString &target, const QString &backup)
{
    const std::wstring nativeTarget = win::nativePath(target);
    const std::wstring nativeTemporary = win::nativePath(temporary);
    const std::wstring nativeBackup = win::nativePath(backup);
    if (::ReplaceFileW(nativeTarget.c_str(), nativeTemporary.c_str(), nativeBackup.c_str(), REPLACEFILE_IGNORE_MERGE_ERRORS,
                       nullptr, nullptr)) {
        ::DeleteFileW(nativeBackup.c_str());
        return {WriteStatus::Written, {}};
    }
    const DWORD error = ::GetLastError();
    if (error == ERROR_UNABLE_TO_MOVE_REPLACEMENT_2)
        ::MoveFileExW(nativeBackup.c_str(), nativeTarget.c_str(), MOVEFILE_WRITE_THROUGH);
    // The temporary file may have been renamed to neither name, or not at all; either way
    // it is not the target, and the backup is removed only once the old file is back.
    ::DeleteFileW(nativeTemporary.c_str());
    if (attributesOf(target) != INVALID_FILE_ATTRIBUTES)
        ::DeleteFileW(nativeBackup.c_str());
    return failed(win::describeError(replaceProblem(target, error)));
}
} // namespace

QString describeError(int error)
{
    switch (error) {
    case ENOSPC:
        return QStringLiteral("No space left on device (the disk is full)");
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
        const int n = ::_write(fd, data, unsigned(std::min<qsizetype>(left, 1 << 30)));
        if (n < 0)
            return false;
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
    QString target = QDir::toNativeSeparators(path);
    if (target.isEmpty())
        return failed(QStringLiteral("no file name was given"));

    DWORD attributes = attributesOf(target);
    bool exists = attributes != INVALID_FILE_ATTRIBUTES;
    if (exists && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) && options.followLink) {
        if (const QString resolved = resolveLink(target); !resolved.isEmpty()) {
            target = resolved;
            attributes = attributesOf(target);
            exists = attributes != INVALID_FILE_ATTRIBUTES;
        }
    }
    // A link (or junction) that is not followed is replaced as a name, never written through.
    const bool isLink = exists && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
    if (exists && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return failed(QStringLiteral("it is a folder"));
    if (exists && !options.replace)
        return {WriteStatus::AlreadyThere, {}};
    // Windows refuses to replace a read-only file anyway; saying so before writing anything
    // names the cause instead of a failed rename.
    if (exists && !isLink && (attributes & FILE_ATTRIBUTE_READONLY))
        return failed(QStringLiteral("Permission denied: the file is read-only"));

    const QString folder = parentOf(target);
    const QString base = target.mid(target.lastIndexOf(QLatin1Char('\\')) + 1);
    // ".name.<pid>-<random>.part": the process id lets a later save remove what a killed
    // program left half written.
    const QString partPrefix = QLatin1Char('.') + base.left(200) + QLatin1Char('.');
    removeAbandonedParts(folder, partPrefix);

    // A new file that is to be private (no bits for group or others) gets an access list for
    // this user alone; otherwise it takes the folder's, as any new file there would.
    std::optional<win::PrivateAccess> privateAccess;
    if (!exists && (options.newFileMode & 077) == 0)
        privateAccess.emplace();
    SECURITY_ATTRIBUTES *security = privateAccess ? privateAccess->attributes() : nullptr;
    const QString stem = childOf(folder, partPrefix + QString::number(::GetCurrentProcessId()) + QLatin1Char('-'));
    Handle file;
    QString temporary;
    for (int attempt = 0; attempt < kNameAttempts && !file.valid(); ++attempt) {
        temporary = stem + randomSuffix() + QStringLiteral(".part");
        file.h = ::CreateFileW(win::nativePath(temporary).c_str(), GENERIC_WRITE, 0, security, CREATE_NEW,
                               FILE_ATTRIBUTE_NORMAL, nullptr);
        const DWORD error = file.valid() ? ERROR_SUCCESS : ::GetLastError();
        if (!file.valid() && error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS)
            return failed(folderProblem(folder, error));
    }
    if (!file.valid())
        return failed(QStringLiteral("no temporary name was free in %1").arg(folder));

    const auto abandon = [&](DWORD error) {
        file.close();
        ::DeleteFileW(win::nativePath(temporary).c_str());
        return failed(win::describeError(error));
    };
    DWORD error = ERROR_SUCCESS;
    if (!writeEverything(file.h, bytes, error))
        return abandon(error);
    if (options.durable && !::FlushFileBuffers(file.h))
        return abandon(::GetLastError());
    LARGE_INTEGER size{};
    if (!::GetFileSizeEx(file.h, &size))
        return abandon(::GetLastError());
    if (size.QuadPart != bytes.size())
        return abandon(ERROR_DISK_FULL);
    if (!file.close())
        return abandon(::GetLastError());

    if (options.replace && exists && !isLink)
        return swapIn(temporary, target, stem + randomSuffix() + QStringLiteral(".old"));
    const DWORD flags = MOVEFILE_WRITE_THROUGH | (options.replace ? MOVEFILE_REPLACE_EXISTING : 0);
    if (!::MoveFileExW(win::nativePath(temporary).c_str(), win::nativePath(target).c_str(), flags)) {
        const DWORD moveError = ::GetLastError();
        ::DeleteFileW(win::nativePath(temporary).c_str());
        if (!options.replace && (moveError == ERROR_ALREADY_EXISTS || moveError == ERROR_FILE_EXISTS))
            return {WriteStatus::AlreadyThere, {}};
        return failed(win::describeError(moveError));
    }
    return {WriteStatus::Written, {}};
}

} // namespace files
