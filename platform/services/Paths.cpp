#include "Paths.h"

#include "automation/AutomationError.h"

#include <QCoreApplication>
#include <QDir>

#include <cerrno>
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

QString temporaryFolder()
{
    const QString fromEnvironment = qEnvironmentVariable("TEMP");
    if (!fromEnvironment.isEmpty())
        return fromEnvironment;

    // A predictable name in a shared folder: another user could plant a link or a folder
    // of their own there, so anything but our own real directory is refused.
    const QString path = joinPath(QDir::tempPath(), QStringLiteral("pantrimo-%1").arg(::getuid()));
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
