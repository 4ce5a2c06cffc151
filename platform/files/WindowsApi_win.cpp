#include "platform/files/WindowsApi.h"

#include <QDir>

#include <sddl.h>

namespace files::win {

namespace {
constexpr DWORD kDiskQuotaExceeded = 1295; // ERROR_DISK_QUOTA_EXCEEDED, which mingw's headers lack
}

std::wstring nativePath(const QString &path) { return QDir::toNativeSeparators(path).toStdWString(); }

QString describeError(DWORD error)
{
    switch (error) {
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return QStringLiteral("No space left on device (the disk is full)");
    case kDiskQuotaExceeded:
        return QStringLiteral("Disk quota exceeded");
    case ERROR_ACCESS_DENIED:
        return QStringLiteral("Permission denied");
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return QStringLiteral("the file is in use by another program");
    case ERROR_WRITE_PROTECT:
        return QStringLiteral("Read-only file system");
    case ERROR_FILE_NOT_FOUND:
        return QStringLiteral("No such file or directory");
    case ERROR_PATH_NOT_FOUND:
        return QStringLiteral("the folder does not exist");
    case ERROR_UNABLE_TO_REMOVE_REPLACED:
    case ERROR_UNABLE_TO_MOVE_REPLACEMENT:
    case ERROR_UNABLE_TO_MOVE_REPLACEMENT_2:
        return QStringLiteral("the file could not be replaced");
    default:
        break;
    }
    wchar_t *text = nullptr;
    const DWORD n = ::FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                     nullptr, error, 0, reinterpret_cast<wchar_t *>(&text), 0, nullptr);
    QString reason = n ? QString::fromWCharArray(text, int(n)).trimmed() : QString();
    if (text)
        ::LocalFree(text);
    if (reason.endsWith(QLatin1Char('.')))
        reason.chop(1);
    return reason.isEmpty() ? QStringLiteral("Windows error %1").arg(error) : reason;
}

PrivateAccess::PrivateAccess()
{
    HANDLE token = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token))
        return;
    Handle owned(token);
    DWORD size = 0;
    ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    std::unique_ptr<char[]> buffer(new char[size ? size : 1]);
    if (size == 0 || !::GetTokenInformation(token, TokenUser, buffer.get(), size, &size))
        return;
    wchar_t *sid = nullptr;
    if (!::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER *>(buffer.get())->User.Sid, &sid))
        return;
    // "P": protected, so nothing the folder grants others flows in; one entry, full access
    // for this user, inherited by what is made inside.
    const std::wstring sddl = L"D:P(A;OICI;FA;;;" + std::wstring(sid) + L")";
    ::LocalFree(sid);
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &m_descriptor, nullptr)) {
        m_descriptor = nullptr;
        return;
    }
    m_attributes.nLength = sizeof m_attributes;
    m_attributes.lpSecurityDescriptor = m_descriptor;
    m_attributes.bInheritHandle = FALSE;
}

PrivateAccess::~PrivateAccess()
{
    if (m_descriptor)
        ::LocalFree(m_descriptor);
}

unsigned long long processStartTime(DWORD processId)
{
    HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, processId);
    if (!process)
        return ::GetLastError() == ERROR_INVALID_PARAMETER ? 0 : ~0ULL;
    Handle owned(process);
    DWORD exitCode = 0;
    if (::GetExitCodeProcess(process, &exitCode) && exitCode != STILL_ACTIVE)
        return 0;
    FILETIME created{}, exited{}, kernel{}, user{};
    if (!::GetProcessTimes(process, &created, &exited, &kernel, &user))
        return ~0ULL;
    return (static_cast<unsigned long long>(created.dwHighDateTime) << 32) | created.dwLowDateTime;
}

} // namespace files::win
