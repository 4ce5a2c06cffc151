// Windows' stat() answers 0 for every file's inode number, so a comparison of stat results
// would take any two files on one drive for the same: the identity is the volume's serial
// number with the file's index on it.
#include "platform/files/FileIdentity.h"

#include "platform/files/WindowsApi.h"

namespace files {

namespace {
bool identify(const QString &path, BY_HANDLE_FILE_INFORMATION &info)
{
    win::Handle file(::CreateFileW(win::nativePath(path).c_str(), FILE_READ_ATTRIBUTES,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    return file.valid() && ::GetFileInformationByHandle(file.h, &info);
}
} // namespace

bool isSameFile(const QString &a, const QString &b)
{
    BY_HANDLE_FILE_INFORMATION ia{}, ib{};
    return identify(a, ia) && identify(b, ib) && ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber &&
           ia.nFileIndexHigh == ib.nFileIndexHigh && ia.nFileIndexLow == ib.nFileIndexLow;
}

} // namespace files
