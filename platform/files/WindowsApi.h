#pragma once
// What the Windows side of the platform layer shares: native paths, the system's reasons in
// words, and an access list that lets only the current user in. Built on Windows only.

#include <QString>

#include <memory>
#include <string>

#include <windows.h>

namespace files::win {

// The path as Windows takes it: backslashes, UTF-16.
std::wstring nativePath(const QString &path);

// The reason for a Windows error code in words, the cases users meet most said plainly
// ("No space left on device (the disk is full)", "Permission denied").
QString describeError(DWORD error);

// Security attributes whose access list, not inherited from the folder, grants this user
// (and nobody else) full access. Null attributes, which mean the folder's defaults, when
// the user's identity cannot be read; callers that promise privacy check private().
class PrivateAccess {
public:
    PrivateAccess();
    ~PrivateAccess();
    PrivateAccess(const PrivateAccess &) = delete;
    PrivateAccess &operator=(const PrivateAccess &) = delete;

    bool isPrivate() const { return m_descriptor != nullptr; }
    SECURITY_ATTRIBUTES *attributes() { return m_descriptor ? &m_attributes : nullptr; }

private:
    PSECURITY_DESCRIPTOR m_descriptor = nullptr;
    SECURITY_ATTRIBUTES m_attributes{};
};

// The creation time of a running process, as 100-nanosecond ticks; 0 when the process does
// not exist (or has ended). A process of another user that cannot be asked counts as
// running, with the time ~0.
unsigned long long processStartTime(DWORD processId);

// Closes a handle when it goes out of scope.
struct Handle {
    HANDLE h = INVALID_HANDLE_VALUE;
    Handle() = default;
    explicit Handle(HANDLE handle) : h(handle) {}
    Handle(const Handle &) = delete;
    Handle &operator=(const Handle &) = delete;
    ~Handle() { close(); }
    bool valid() const { return h != INVALID_HANDLE_VALUE && h != nullptr; }
    bool close()
    {
        if (!valid())
            return true;
        const bool ok = ::CloseHandle(h) != 0;
        h = INVALID_HANDLE_VALUE;
        return ok;
    }
};

} // namespace files::win
