#include "platform/services/SettingsStore.h"

#include "platform/automation/AutomationError.h"
#include "platform/files/AtomicFile.h"
#include "platform/facts/Environment.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using automation::AutomationError;

namespace platform {

namespace {
const QString kBackupSuffix = QStringLiteral(".bak");

QString configFolder()
{
    const QString fromEnvironment = qEnvironmentVariable(facts::env::kConfigHome);
    if (fromEnvironment.startsWith(QLatin1Char('/')))
        return fromEnvironment;
    return QDir::homePath() + QStringLiteral("/.config");
}

// The file's bytes; false when there is no file. The reason in words when it is there but
// cannot be read.
bool readFile(const QString &path, QByteArray &bytes)
{
    const QByteArray native = QFile::encodeName(path);
    const int fd = ::open(native.constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ENOENT)
            return false;
        throw AutomationError(QStringLiteral("Could not read the settings file %1: %2").arg(path, files::describeError(errno)));
    }
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) {
        ::close(fd);
        throw AutomationError(QStringLiteral("Could not read the settings file %1: it is a folder").arg(path));
    }
    bytes.clear();
    char buffer[64 * 1024];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int error = errno;
            ::close(fd);
            throw AutomationError(QStringLiteral("Could not read the settings file %1: %2").arg(path, files::describeError(error)));
        }
        if (n == 0)
            break;
        bytes.append(buffer, n);
    }
    ::close(fd);
    return true;
}

QString damageText(const QString &path, int line)
{
    return QStringLiteral("The settings file %1 is damaged at line %2. Everything else in it was read; "
                          "before the file is next written, it is kept as %3.")
        .arg(path)
        .arg(line)
        .arg(path + kBackupSuffix);
}
} // namespace

QString settingsFilePath(const QString &application)
{
    return configFolder() + QLatin1Char('/') + application + QStringLiteral(".ini");
}

SettingsReading SettingsReading::read(const QString &application)
{
    SettingsReading reading;
    reading.m_path = settingsFilePath(application);
    QByteArray bytes;
    if (readFile(reading.m_path, bytes))
        reading.m_file = IniFile::parse(std::move(bytes));
    if (const int line = reading.m_file.firstDamagedLine())
        reading.m_damage = damageText(reading.m_path, line);
    return reading;
}

QString SettingsReading::value(const QString &section, const QString &key, const QString &defaultValue) const
{
    const IniFile::Value stored = m_file.value(section, key);
    switch (stored.kind) {
    case IniFile::Kind::Missing:
        return defaultValue;
    case IniFile::Kind::Text:
        return stored.text;
    case IniFile::Kind::NotText:
        break;
    }
    throw AutomationError(QStringLiteral("The stored value %1 in %2 is not text; it is left in the file as it is")
                              .arg(key, m_path));
}

void SaveSettings(const QString &application, const QString &section, const SettingsValues &values)
{
    const QString path = settingsFilePath(application);
    const auto fail = [&](const QString &reason) {
        throw AutomationError(QStringLiteral("Could not write the settings file %1: %2").arg(path, reason));
    };
    QByteArray before;
    bool existed = false;
    try {
        existed = readFile(path, before);
    } catch (const AutomationError &e) {
        // A file that cannot be read must not be replaced blindly; say why.
        fail(QFileInfo(path).isDir() ? QStringLiteral("it is a folder") : e.description());
    }
    IniFile file = IniFile::parse(before);
    bool keepBackup = file.firstDamagedLine() != 0;
    for (const auto &[key, value] : values) {
        if (file.value(section, key).kind == IniFile::Kind::NotText) {
            if (value.isEmpty())
                continue; // unreadable here, but maybe dear to whoever wrote it
            keepBackup = true;
        }
        file.setValue(section, key, value);
    }
    const QByteArray after = file.bytes();
    if (existed && after == before)
        return;
    if (!QDir().mkpath(configFolder()))
        fail(QStringLiteral("the folder %1 cannot be made").arg(configFolder()));
    if (existed && keepBackup) {
        const files::WriteOutcome kept = files::writeFileAtomically(path + kBackupSuffix, before, {0600, true, false});
        if (!kept.written())
            fail(QStringLiteral("the damaged file could not be kept as %1 (%2)").arg(path + kBackupSuffix, kept.reason));
    }
    const files::WriteOutcome written = files::writeFileAtomically(path, after, {0600, true, true});
    if (!written.written())
        fail(written.reason);
}

QString GetSetting(const QString &application, const QString &section, const QString &key, const QString &defaultValue)
{
    return SettingsReading::read(application).value(section, key, defaultValue);
}

void SaveSetting(const QString &application, const QString &section, const QString &key, const QString &value)
{
    SaveSettings(application, section, {{key, value}});
}

} // namespace platform
