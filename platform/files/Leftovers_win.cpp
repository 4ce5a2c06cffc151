// Clearing away what an ended program left behind, on Windows. Links, junctions and every
// other reparse point are removed as names and never entered; a folder is held open, so
// that nobody can rename or delete it, while its entries are removed, so it cannot be
// swapped for a junction between the check and the walk. A run folder's name carries its
// program's start time beside its process id: Windows reuses ids soon, and a live program
// that got a dead one's id must not make us keep that one's leftovers forever, nor a dead
// one's id make us take a live program's folder.

#include "platform/files/Leftovers.h"

#include "platform/files/WindowsApi.h"

#include <QDir>

namespace files {

namespace {
using win::Handle;

// Deep enough for anything we make; a deeper tree is not one we made.
constexpr int kMaxDepth = 32;

bool removeFolder(const std::wstring &path, int depth);

// Removes a link (a junction, a symbolic link) itself, through a handle to it: only when the
// handle is the link's own, for a system that followed it after all (Wine does, for a Unix
// link, whose target RemoveDirectoryW would remove) has handed over what it leads to.
bool removeLink(const std::wstring &path)
{
    Handle link(::CreateFileW(path.c_str(), DELETE | FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                              nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    BY_HANDLE_FILE_INFORMATION info{};
    if (!link.valid() || !::GetFileInformationByHandle(link.h, &info) || !(info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return false;
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = TRUE;
    return ::SetFileInformationByHandle(link.h, FileDispositionInfo, &disposition, sizeof disposition);
}

bool removeEntry(const std::wstring &path, DWORD attributes, int depth)
{
    if (attributes & FILE_ATTRIBUTE_REPARSE_POINT)
        return removeLink(path);
    if (attributes & FILE_ATTRIBUTE_DIRECTORY)
        return depth < kMaxDepth && removeFolder(path, depth + 1);
    // The read-only mark (which Windows' delete honours) does not protect a run's own files.
    if (attributes & FILE_ATTRIBUTE_READONLY)
        ::SetFileAttributesW(path.c_str(), attributes & ~DWORD(FILE_ATTRIBUTE_READONLY));
    return ::DeleteFileW(path.c_str());
}

bool removeEntriesOf(const std::wstring &folder, int depth)
{
    WIN32_FIND_DATAW found{};
    HANDLE search = ::FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return ::GetLastError() == ERROR_FILE_NOT_FOUND;
    bool all = true;
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..")
            continue;
        if (!removeEntry(folder + L"\\" + name, found.dwFileAttributes, depth))
            all = false;
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
    return all;
}

bool removeFolder(const std::wstring &path, int depth)
{
    // Held without DELETE access of its own, or the listing below would be refused its share.
    Handle folder(::CreateFileW(path.c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!folder.valid())
        return false;
    // Asked of the handle and of the name: Wine's handle to a Unix link is its target's.
    BY_HANDLE_FILE_INFORMATION info{};
    const DWORD named = ::GetFileAttributesW(path.c_str());
    if (!::GetFileInformationByHandle(folder.h, &info) || !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
        ((info.dwFileAttributes | named) & FILE_ATTRIBUTE_REPARSE_POINT))
        return false;
    if (!removeEntriesOf(path, depth))
        return false;
    // Should the emptied folder be swapped for a junction once let go, removing the name
    // removes the junction, never what it leads to.
    folder.close();
    return ::RemoveDirectoryW(path.c_str());
}

// The start time a run folder's name carries after its process id: prefix + pid + "-" +
// start time in hexadecimal + "-…"; 0 when the name carries none.
unsigned long long startTimeOf(const QString &name, const QString &prefix)
{
    const qsizetype first = name.indexOf(QLatin1Char('-'), prefix.size());
    const qsizetype second = first < 0 ? -1 : name.indexOf(QLatin1Char('-'), first + 1);
    if (second < 0)
        return 0;
    bool ok = false;
    const unsigned long long started = name.mid(first + 1, second - first - 1).toULongLong(&ok, 16);
    return ok ? started : 0;
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
    const qlonglong pid = name.mid(prefix.size(), dash - prefix.size()).toLongLong(&ok);
    return ok && pid > 0 && pid <= 0xFFFFFFFFLL ? pid_t(pid) : 0;
}

bool isAbandoned(const QString &folder, const QString &name, const QString &prefix)
{
    const DWORD owner = DWORD(ownerOf(name, prefix));
    if (owner == 0)
        return false;
    const DWORD attributes = ::GetFileAttributesW(win::nativePath(QDir(folder).filePath(name)).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY) ||
        (attributes & FILE_ATTRIBUTE_REPARSE_POINT))
        return false;
    const unsigned long long started = win::processStartTime(owner);
    if (started == 0)
        return true;
    const unsigned long long named = startTimeOf(name, prefix);
    // A program that cannot be asked (another user's) is taken to be alive; so is one whose
    // start the name does not record.
    return started != ~0ULL && named != 0 && named != started;
}

bool removeTree(const QString &path) { return removeFolder(win::nativePath(path), 0); }

void sweepAbandoned(const QString &folder, const QString &prefix, void (*beforeRemoving)(const QString &path))
{
    WIN32_FIND_DATAW found{};
    HANDLE search = ::FindFirstFileW(win::nativePath(QDir(folder).filePath(prefix + QLatin1Char('*'))).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return;
    QStringList names;
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) && !(found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT))
            names.append(QString::fromWCharArray(found.cFileName));
    } while (::FindNextFileW(search, &found));
    ::FindClose(search);
    for (const QString &name : names) {
        if (!isAbandoned(folder, name, prefix))
            continue;
        const QString path = QDir::toNativeSeparators(QDir(folder).filePath(name));
        if (beforeRemoving)
            beforeRemoving(path);
        removeTree(path);
    }
}

} // namespace files
