// Replacing a file and clearing leftovers on Windows, tried as an unlucky user and a hostile
// neighbour would: a target another program holds open, a read-only target, junctions
// planted in TEMP, a process id Windows has handed to another program.
//
// A full disk cannot be made under Wine (no small disk image, no quota): the failure tried
// here is the swap refused by a target held open without sharing, which fails after every
// byte was written and flushed, the same late point at which a full disk would be noticed.

#include "platform/files/AtomicFile.h"
#include "platform/files/FileIdentity.h"
#include "platform/files/Leftovers.h"
#include "platform/files/WindowsApi.h"
#include "platform/services/Paths.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <aclapi.h>
#include <sddl.h>
#include <windows.h>
#include <winioctl.h>

namespace {
QByteArray fileBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<unreadable>");
}

bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

QStringList entries(const QString &folder)
{
    return QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
}

// Under Wine, which makes no junctions, a Unix symbolic link made by the Unix side's ln:
// Wine shows it as a reparse point, as Windows shows a junction.
bool plantUnixLink(const QString &link, const QString &target)
{
    char unixLink[4096], unixTarget[4096];
    using ToUnix = char *(CDECL *)(const wchar_t *);
    // Through void *: a FARPROC is a function of no arguments, which GCC will not cast directly.
    const auto toUnix = reinterpret_cast<ToUnix>(
        reinterpret_cast<void *>(::GetProcAddress(::GetModuleHandleW(L"kernel32"), "wine_get_unix_file_name")));
    if (!toUnix)
        return false;
    char *l = toUnix(files::win::nativePath(QDir(link).absolutePath()).c_str());
    char *t = toUnix(files::win::nativePath(QDir(target).absolutePath()).c_str());
    if (!l || !t)
        return false;
    qstrncpy(unixLink, l, sizeof unixLink);
    qstrncpy(unixTarget, t, sizeof unixTarget);
    ::HeapFree(::GetProcessHeap(), 0, l);
    ::HeapFree(::GetProcessHeap(), 0, t);
    // Wine starts a Unix program but cannot wait for it: wait for the link instead.
    if (!QProcess::startDetached(QStringLiteral("Z:\\bin\\ln"),
                                 {QStringLiteral("-s"), QString::fromLocal8Bit(unixTarget), QString::fromLocal8Bit(unixLink)}))
        return false;
    const auto planted = [&] {
        const DWORD attributes = ::GetFileAttributesW(files::win::nativePath(link).c_str());
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
    };
    return QTest::qWaitFor(planted, 10000);
}

enum class Planted { Nothing, Junction, UnixLink };

// A junction at link to the folder target, as an unprivileged user can make one; under
// Wine, which makes none, a Unix link.
Planted plantJunction(const QString &link, const QString &target)
{
    const std::wstring linkPath = files::win::nativePath(link);
    if (!::CreateDirectoryW(linkPath.c_str(), nullptr))
        return Planted::Nothing;
    const std::wstring substitute = L"\\??\\" + files::win::nativePath(QDir(target).absolutePath());
    const std::wstring print = files::win::nativePath(QDir(target).absolutePath());
    // The mount-point layout of REPARSE_DATA_BUFFER, which user-mode headers leave out.
    std::vector<BYTE> buffer(8 + 8 + (substitute.size() + print.size() + 2) * sizeof(wchar_t));
    auto *header = reinterpret_cast<DWORD *>(buffer.data());
    header[0] = IO_REPARSE_TAG_MOUNT_POINT;
    auto *words = reinterpret_cast<WORD *>(buffer.data() + 4);
    words[0] = WORD(buffer.size() - 8);                                    // ReparseDataLength
    words[2] = 0;                                                          // SubstituteNameOffset
    words[3] = WORD(substitute.size() * sizeof(wchar_t));                  // SubstituteNameLength
    words[4] = WORD((substitute.size() + 1) * sizeof(wchar_t));            // PrintNameOffset
    words[5] = WORD(print.size() * sizeof(wchar_t));                       // PrintNameLength
    auto *names = reinterpret_cast<wchar_t *>(buffer.data() + 16);
    std::copy(substitute.begin(), substitute.end(), names);
    std::copy(print.begin(), print.end(), names + substitute.size() + 1);
    files::win::Handle dir(::CreateFileW(linkPath.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                         FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    DWORD returned = 0;
    const bool made = dir.valid() && ::DeviceIoControl(dir.h, FSCTL_SET_REPARSE_POINT, buffer.data(), DWORD(buffer.size()),
                                                       nullptr, 0, &returned, nullptr);
    dir.close();
    if (!made)
        ::RemoveDirectoryW(linkPath.c_str());
    if (made)
        return Planted::Junction;
    return plantUnixLink(link, target) ? Planted::UnixLink : Planted::Nothing;
}

// The id of a process that has ended: a child that exits at once.
DWORD endedProcessId()
{
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("-functions")});
    if (!child.waitForStarted())
        return 0;
    const DWORD pid = DWORD(child.processId());
    child.waitForFinished();
    return pid;
}

QString userSid()
{
    HANDLE token = nullptr;
    ::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token);
    files::win::Handle owned(token);
    char buffer[256];
    DWORD size = 0;
    wchar_t *sid = nullptr;
    if (!::GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size) ||
        !::ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER *>(buffer)->User.Sid, &sid))
        return {};
    const QString text = QString::fromWCharArray(sid);
    ::LocalFree(sid);
    return text;
}
} // namespace

class TestWindowsFiles : public QObject {
    Q_OBJECT
private slots:
    void aSwapThatFailsLeavesTheOldFileWholeAndNothingBehind()
    {
        QTemporaryDir dir;
        const QString target = dir.filePath(QStringLiteral("Book.xls"));
        const QByteArray old(14848, 'o');
        QVERIFY(writeBytes(target, old));
        // Another program has the workbook open and lets nobody else at it.
        files::win::Handle holder(::CreateFileW(files::win::nativePath(target).c_str(), GENERIC_READ, 0, nullptr,
                                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        QVERIFY(holder.valid());
        const files::WriteOutcome outcome = files::writeFileAtomically(target, QByteArray(17920, 'n'));
        QCOMPARE(outcome.status, files::WriteStatus::Failed);
        QCOMPARE(outcome.reason, QStringLiteral("the file is in use by another program"));
        holder.close();
        QCOMPARE(fileBytes(target), old);
        QCOMPARE(entries(dir.path()), QStringList{QStringLiteral("Book.xls")});
        // Released, the same save goes through.
        QVERIFY(files::writeFileAtomically(target, "new").written());
        QCOMPARE(fileBytes(target), QByteArray("new"));
        QCOMPARE(entries(dir.path()), QStringList{QStringLiteral("Book.xls")});
    }

    void aReadOnlyTargetIsRefusedBeforeAnythingIsWritten()
    {
        QTemporaryDir dir;
        const QString target = dir.filePath(QStringLiteral("Book.xls"));
        QVERIFY(writeBytes(target, "kept"));
        QVERIFY(::SetFileAttributesW(files::win::nativePath(target).c_str(), FILE_ATTRIBUTE_READONLY));
        const files::WriteOutcome outcome = files::writeFileAtomically(target, "lost");
        QCOMPARE(outcome.status, files::WriteStatus::Failed);
        QCOMPARE(outcome.reason, QStringLiteral("Permission denied: the file is read-only"));
        QCOMPARE(fileBytes(target), QByteArray("kept"));
        QCOMPARE(entries(dir.path()), QStringList{QStringLiteral("Book.xls")});
        ::SetFileAttributesW(files::win::nativePath(target).c_str(), FILE_ATTRIBUTE_NORMAL);
    }

    void aMissingFolderIsNamed()
    {
        QTemporaryDir dir;
        const QString folder = QDir::toNativeSeparators(dir.filePath(QStringLiteral("gone")));
        const files::WriteOutcome outcome = files::writeFileAtomically(folder + QStringLiteral("\\Book.xls"), "x");
        QCOMPARE(outcome.reason, QStringLiteral("the folder %1 does not exist").arg(folder));
    }

    void twoSpellingsOfOneFileAreOneFileAndTwoFilesAreTwo()
    {
        QTemporaryDir dir;
        const QString a = dir.filePath(QStringLiteral("a.xls"));
        const QString b = dir.filePath(QStringLiteral("b.xls"));
        QVERIFY(writeBytes(a, "a") && writeBytes(b, "b"));
        QVERIFY(files::isSameFile(a, QDir::toNativeSeparators(a).toUpper()));
        QVERIFY(!files::isSameFile(a, b)); // stat() would say they are: it has no inode numbers here
    }

    void theRunFolderIsReadableByTheUserAlone()
    {
        QTemporaryDir temp;
        qputenv("TEMP", QDir::toNativeSeparators(temp.path()).toLocal8Bit());
        const QString run = platform::createRunFolder();
        qunsetenv("TEMP");
        QVERIFY(run.startsWith(QDir::toNativeSeparators(temp.path()) + QStringLiteral("\\pantrimo-run-")));
        PSECURITY_DESCRIPTOR descriptor = nullptr;
        PACL dacl = nullptr;
        QCOMPARE(::GetNamedSecurityInfoW(files::win::nativePath(run).c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION,
                                         nullptr, nullptr, &dacl, nullptr, &descriptor),
                 DWORD(ERROR_SUCCESS));
        wchar_t *sddl = nullptr;
        ::ConvertSecurityDescriptorToStringSecurityDescriptorW(descriptor, SDDL_REVISION_1, DACL_SECURITY_INFORMATION, &sddl,
                                                               nullptr);
        const QString text = QString::fromWCharArray(sddl);
        ::LocalFree(sddl);
        ::LocalFree(descriptor);
        // Only this user (and the system itself) may enter: not the Administrators or Users the
        // temporary folder's own list names. (Wine keeps no list of its own for a folder and
        // answers its default, this user and the system, which passes for the wrong reason.)
        QVERIFY2(text.contains(userSid()), qPrintable(text));
        static const QRegularExpression entry(QStringLiteral("\\(A;[^;]*;[^;]*;[^;]*;[^;]*;([^)]*)\\)"));
        for (const QRegularExpressionMatch &m : entry.globalMatch(text))
            QVERIFY2(m.captured(1) == userSid() || m.captured(1) == QLatin1String("SY"), qPrintable(text));
        platform::removeRunFolder(run);
        QVERIFY(!QFileInfo::exists(run));
    }

    void aReusedProcessIdIsNotTakenForTheLiveProgram()
    {
        QTemporaryDir temp;
        const QString prefix = QStringLiteral("pantrimo-run-");
        const DWORD self = ::GetCurrentProcessId();
        const QString mine = prefix + QStringLiteral("%1-%2-a").arg(self).arg(files::win::processStartTime(self), 0, 16);
        const QString earlier = prefix + QStringLiteral("%1-%2-b").arg(self).arg(1, 0, 16);
        QVERIFY(QDir(temp.path()).mkdir(mine) && QDir(temp.path()).mkdir(earlier));
        QVERIFY(!files::isAbandoned(temp.path(), mine, prefix));
        QVERIFY(files::isAbandoned(temp.path(), earlier, prefix));
    }

    void theSweepNeverEntersAJunction()
    {
        QTemporaryDir temp, elsewhere;
        const QString precious = elsewhere.filePath(QStringLiteral("precious.txt"));
        QVERIFY(writeBytes(precious, "mine"));
        const DWORD dead = endedProcessId();
        QVERIFY(dead != 0);
        const QString prefix = QStringLiteral("pantrimo-run-");
        // A junction named as a dead run's folder, and a dead run's real folder with a
        // junction inside: both lead to a folder that is not ours.
        const QString plantedName = prefix + QStringLiteral("%1-1-planted").arg(dead);
        const Planted planted = plantJunction(temp.filePath(plantedName), elsewhere.path());
        if (planted == Planted::Nothing)
            QSKIP("neither a junction nor a link can be made here");
        const QString deadRun = temp.filePath(prefix + QStringLiteral("%1-1-run").arg(dead));
        QVERIFY(QDir().mkdir(deadRun));
        QVERIFY(writeBytes(deadRun + QStringLiteral("/Book.xls"), "left over"));
        QVERIFY(plantJunction(deadRun + QStringLiteral("/inner"), elsewhere.path()) == planted);

        files::sweepAbandoned(temp.path(), prefix);

        QCOMPARE(fileBytes(precious), QByteArray("mine"));
        QCOMPARE(entries(elsewhere.path()), QStringList{QStringLiteral("precious.txt")});
        QVERIFY(!QFileInfo::exists(deadRun + QStringLiteral("/Book.xls")));
        // Windows removes a junction as a name, and then the folder; Wine can remove a Unix
        // link only by following it, so there the link, and the folder around it, stay.
        if (planted == Planted::Junction)
            QVERIFY(!QFileInfo::exists(deadRun));
        else
            QCOMPARE(entries(deadRun), QStringList{QStringLiteral("inner")});
        QVERIFY(entries(temp.path()).contains(plantedName)); // not ours to remove: never entered
    }
};

QTEST_GUILESS_MAIN(TestWindowsFiles)
#include "test_windows_files.moc"
