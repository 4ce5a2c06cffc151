#pragma once
// A path as a program of the build machine (the Python checkers) sees it: the same path on
// Linux; under Wine the Unix path of a Windows one, through the export Wine's kernel32 adds
// for that. (On a real Windows there is no such export and no Linux checker either.)

#include <QDir>
#include <QString>

#ifdef Q_OS_WIN
#include <windows.h>
#include <string>
#endif

namespace testing {

inline QString hostPath(const QString &path)
{
#ifdef Q_OS_WIN
    using ToUnix = char *(CDECL *)(LPCWSTR);
    const auto toUnix = reinterpret_cast<ToUnix>(
        reinterpret_cast<void *>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (!toUnix)
        return path;
    const std::wstring native = QDir::toNativeSeparators(path).toStdWString();
    char *unixPath = toUnix(native.c_str());
    if (!unixPath)
        return path;
    const QString result = QString::fromUtf8(unixPath);
    HeapFree(GetProcessHeap(), 0, unixPath);
    return result;
#else
    return path;
#endif
}

} // namespace testing
