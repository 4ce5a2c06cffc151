#include "platform/services/Paths.h"

#include "platform/automation/AutomationError.h"
#include "platform/files/AtomicFile.h"
#include "platform/files/Leftovers.h"
#include "platform/facts/Environment.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <map>
#include <cstdlib>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

using automation::AutomationError;

namespace platform {

namespace {
QString &programFolderOverride()
{
    static QString folder;
    return folder;
}
} // namespace

QString programFolder()
{
    const QString &overridden = programFolderOverride();
    return overridden.isEmpty() ? QCoreApplication::applicationDirPath() : overridden;
}

void overrideProgramFolder(const QString &folder) { programFolderOverride() = folder; }

QString joinPath(const QString &folder, const QString &name) { return folder + QLatin1Char('/') + name; }

namespace {
const QString kRunFolderPrefix = QString::fromLatin1(facts::kRunFolderPrefix);

bool isRunFolderName(const QString &name) { return files::ownerOf(name, kRunFolderPrefix) != 0; }

QString privateTemporaryFolder() { return joinPath(QDir::tempPath(), QStringLiteral("pantrimo-%1").arg(::getuid())); }
} // namespace

namespace {
// The locks of this program's run folders, held while each exists (files::lockFolder).
std::map<QString, int> &runFolderLocks()
{
    static std::map<QString, int> locks;
    return locks;
}
} // namespace

QString createRunFolder()
{
    const QString temp = temporaryFolder();
    const QString name = kRunFolderPrefix + QString::number(::getpid()) + QStringLiteral("-XXXXXX");
    const auto fail = [&](int error) {
        return AutomationError(QStringLiteral("Could not make a folder for the run's files in %1: %2")
                                   .arg(temp, files::describeError(error)));
    };
    // Made under a name no sweep looks at, locked, and only then given its run folder name:
    // a sweep never meets a run folder without its lock.
    QByteArray pattern = QFile::encodeName(joinPath(temp, QLatin1Char('.') + name));
    if (!::mkdtemp(pattern.data()))
        throw fail(errno);
    const QString made = QFile::decodeName(pattern);
    const int lock = files::lockFolder(made);
    const QByteArray named = QFile::encodeName(joinPath(temp, QFileInfo(made).fileName().mid(1)));
    const auto rename = [&] {
        if (::renameat2(AT_FDCWD, pattern.constData(), AT_FDCWD, named.constData(), RENAME_NOREPLACE) == 0)
            return true;
        // A file system without RENAME_NOREPLACE: the name's random part is mkdtemp's own.
        return (errno == EINVAL || errno == ENOSYS) && ::rename(pattern.constData(), named.constData()) == 0;
    };
    if (lock < 0 || !rename()) {
        const int error = errno;
        if (lock >= 0)
            ::close(lock);
        files::removeTree(made);
        throw fail(error);
    }
    const QString folder = QFile::decodeName(named);
    runFolderLocks()[folder] = lock;
    return folder;
}

QString runFolderOf(const QString &file)
{
    const QFileInfo info(file);
    return isRunFolderName(info.dir().dirName()) ? info.path() : QString();
}

void removeRunFolder(const QString &folder)
{
    if (!folder.isEmpty() && isRunFolderName(QFileInfo(folder).fileName()))
        files::removeTree(folder);
    // Only once the folder is gone: a sweep meanwhile must not take it for abandoned.
    if (const auto lock = runFolderLocks().find(folder); lock != runFolderLocks().end()) {
        ::close(lock->second);
        runFolderLocks().erase(lock);
    }
}

void sweepAbandonedRunFolders()
{
    // Without TEMP the private folder is made by the first run that needs it; where there
    // is none yet there is nothing to sweep, and starting the program makes none.
    if (qEnvironmentVariableIsEmpty(facts::env::kTemp) && !QFileInfo::exists(privateTemporaryFolder()))
        return;
    try {
        files::sweepAbandoned(temporaryFolder(), kRunFolderPrefix);
    } catch (const AutomationError &) {
        // No temporary folder, nothing of ours in it; the run will say so when it needs one.
    }
}

QString temporaryFolder()
{
    const QString fromEnvironment = qEnvironmentVariable(facts::env::kTemp);
    if (!fromEnvironment.isEmpty())
        return fromEnvironment;

    // A predictable name in a shared folder: another user could plant a link or a folder
    // of their own there, so anything but our own real directory is refused.
    const QString path = privateTemporaryFolder();
    const QByteArray native = QFile::encodeName(path);
    if (::mkdir(native.constData(), 0700) != 0 && errno != EEXIST)
        throw AutomationError(QStringLiteral("Could not create the temporary folder %1: %2")
                                  .arg(path, QString::fromLocal8Bit(std::strerror(errno))));
    struct stat st {};
    if (::lstat(native.constData(), &st) != 0)
        throw AutomationError(QStringLiteral("Could not examine the temporary folder %1: %2")
                                  .arg(path, QString::fromLocal8Bit(std::strerror(errno))));
    if (S_ISLNK(st.st_mode) || !S_ISDIR(st.st_mode) || st.st_uid != ::getuid())
        throw AutomationError(QStringLiteral("The temporary folder %1 is not a folder of this user; "
                                             "remove it or set TEMP to a folder of your own")
                                  .arg(path));
    if ((st.st_mode & 0077) != 0 && ::chmod(native.constData(), 0700) != 0)
        throw AutomationError(QStringLiteral("Could not make the temporary folder %1 private").arg(path));
    return path;
}

} // namespace platform
