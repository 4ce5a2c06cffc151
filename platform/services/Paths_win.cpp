// The program's folders on Windows: paths as Windows writes them (program folder + "\" +
// name), the temporary folder from TEMP, and for each run a folder of its own there whose
// access list lets in this user alone.

#include "platform/services/Paths.h"

#include "platform/automation/AutomationError.h"
#include "platform/files/Leftovers.h"
#include "platform/files/WindowsApi.h"
#include "platform/facts/Environment.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QRandomGenerator>

using automation::AutomationError;

namespace platform {

namespace {
constexpr int kNameAttempts = 100;
const QString kRunFolderPrefix = QStringLiteral("pantrimo-run-");

QString &programFolderOverride()
{
    static QString folder;
    return folder;
}

bool isRunFolderName(const QString &name) { return files::ownerOf(name, kRunFolderPrefix) != 0; }
} // namespace

QString programFolder()
{
    const QString &overridden = programFolderOverride();
    return QDir::toNativeSeparators(overridden.isEmpty() ? QCoreApplication::applicationDirPath() : overridden);
}

void overrideProgramFolder(const QString &folder) { programFolderOverride() = folder; }

QString joinPath(const QString &folder, const QString &name) { return folder + QLatin1Char('\\') + name; }

QString temporaryFolder()
{
    const QString fromEnvironment = qEnvironmentVariable(facts::env::kTemp);
    if (!fromEnvironment.isEmpty())
        return fromEnvironment;
    // Windows gives every user a temporary folder of their own (GetTempPath), unlike /tmp.
    return QDir::toNativeSeparators(QDir::tempPath());
}

QString createRunFolder()
{
    const QString temp = temporaryFolder();
    const auto fail = [&](const QString &reason) {
        return AutomationError(QStringLiteral("Could not make a folder for the run's files in %1: %2").arg(temp, reason));
    };
    files::win::PrivateAccess access;
    if (!access.isPrivate())
        throw fail(QStringLiteral("this user's identity could not be read to keep the folder private"));
    // The start time beside the process id: a later sweep tells this program from another
    // that gets the same id once this one has ended.
    const DWORD self = ::GetCurrentProcessId();
    const QString stem = joinPath(temp, kRunFolderPrefix + QString::number(self) + QLatin1Char('-') +
                                            QString::number(files::win::processStartTime(self), 16) + QLatin1Char('-'));
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        const QString folder = stem + QString::number(QRandomGenerator::system()->generate64(), 36);
        if (::CreateDirectoryW(files::win::nativePath(folder).c_str(), access.attributes()))
            return folder;
        const DWORD error = ::GetLastError();
        if (error != ERROR_ALREADY_EXISTS)
            throw fail(error == ERROR_PATH_NOT_FOUND ? QStringLiteral("the folder does not exist")
                                                     : files::win::describeError(error));
    }
    throw fail(QStringLiteral("no free name was found"));
}

QString runFolderOf(const QString &file)
{
    const QFileInfo info(file);
    return isRunFolderName(info.dir().dirName()) ? QDir::toNativeSeparators(info.path()) : QString();
}

void removeRunFolder(const QString &folder)
{
    if (!folder.isEmpty() && isRunFolderName(QFileInfo(folder).fileName()))
        files::removeTree(folder);
}

void sweepAbandonedRunFolders() { files::sweepAbandoned(temporaryFolder(), kRunFolderPrefix); }

} // namespace platform
