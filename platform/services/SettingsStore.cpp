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

// Larger than any list a person types by a wide margin; a file beyond it is not read, so a
// planted or runaway file cannot hold up the start or fill the memory.
constexpr qint64 kMaxFileSize = 16 * 1024 * 1024;
const QString kTooLarge = QStringLiteral("it is larger than 16 MB");

struct FileRead {
    bool exists = false;
    QString failure; // why it could not be read, in words, without the path
    QByteArray bytes;
};

QString notReadable(const struct stat &st)
{
    if (S_ISDIR(st.st_mode))
        return QStringLiteral("it is a folder");
    if (!S_ISREG(st.st_mode))
        return QStringLiteral("it is not a regular file");
    if (st.st_size > kMaxFileSize)
        return kTooLarge;
    return {};
}

// Only a regular file is opened for reading: a FIFO would hold the start until someone
// writes to it, and a device such as /dev/zero never ends.
FileRead readFile(const QString &path)
{
    FileRead result;
    const QByteArray native = QFile::encodeName(path);
    struct stat st {};
    if (::stat(native.constData(), &st) != 0) {
        const int error = errno;
        const QString folder = QFileInfo(path).path();
        if (error == ENOTDIR && ::stat(QFile::encodeName(folder).constData(), &st) == 0 && !S_ISDIR(st.st_mode))
            result.failure = QStringLiteral("the folder %1 is a file").arg(folder);
        else if (error != ENOENT)
            result.failure = files::describeError(error);
        result.exists = error != ENOENT;
        return result;
    }
    result.exists = true;
    if (result.failure = notReadable(st); !result.failure.isEmpty())
        return result;
    // O_NONBLOCK: should the name be swapped for a FIFO after the check, opening it does not wait.
    const int fd = ::open(native.constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd < 0) {
        result.exists = errno != ENOENT;
        if (result.exists)
            result.failure = files::describeError(errno);
        return result;
    }
    if (::fstat(fd, &st) != 0 || !(result.failure = notReadable(st)).isEmpty()) {
        if (result.failure.isEmpty())
            result.failure = files::describeError(errno);
        ::close(fd);
        return result;
    }
    result.bytes.reserve(qsizetype(st.st_size));
    char buffer[64 * 1024];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            result.failure = files::describeError(errno);
            break;
        }
        if (n == 0)
            break;
        if (result.bytes.size() + n > kMaxFileSize) { // grew while being read
            result.failure = kTooLarge;
            break;
        }
        result.bytes.append(buffer, n);
    }
    ::close(fd);
    if (!result.failure.isEmpty())
        result.bytes.clear();
    return result;
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
    FileRead file = readFile(reading.m_path);
    if (!file.failure.isEmpty())
        throw AutomationError(QStringLiteral("Could not read the settings file %1: %2").arg(reading.m_path, file.failure));
    reading.m_file = IniFile::parse(std::move(file.bytes));
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
    // A file that cannot be read is not replaced blindly: whatever it is, it stays as it is.
    const FileRead read = readFile(path);
    if (!read.failure.isEmpty())
        fail(read.failure);
    const QByteArray &before = read.bytes;
    const bool existed = read.exists;
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
