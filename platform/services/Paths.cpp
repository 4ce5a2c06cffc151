#include "platform/services/Paths.h"

#include "platform/automation/AutomationError.h"
#include "platform/files/AtomicFile.h"
#include "platform/files/Leftovers.h"
#include "platform/facts/Environment.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

#include <cerrno>
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

QString createRunFolder()
{
    const QString temp = temporaryFolder();
    QByteArray pattern = QFile::encodeName(joinPath(temp, kRunFolderPrefix + QString::number(::getpid()) +
                                                           QStringLiteral("-XXXXXX")));
    if (!::mkdtemp(pattern.data()))
        throw AutomationError(QStringLiteral("Could not make a folder for the run's files in %1: %2")
                                  .arg(temp, files::describeError(errno)));
    return QFile::decodeName(pattern);
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
