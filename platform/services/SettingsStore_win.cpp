// The per-user settings store on Windows: the registry, as Windows programs keep it. The
// values of application A, section S, key K are the string value K under
// HKEY_CURRENT_USER\Software\A\S (PANTRIMO_SETTINGS_KEY in place of Software, for tests), in the form QSettings' native format reads and writes:
// a text that starts with "@" is stored with the "@" doubled, and the "@Type(…)" forms
// QSettings writes for other types stand for values that are not text.
//
// The rules are the Linux store's: a missing value reads as the default; a value that is
// not text (a number, a list of strings, binary data, a "@Variant(…)") raises an error
// naming it and is never overwritten by an empty list; a list written over one keeps the
// old value beside it as K.bak. The registry writes each value whole; the values of one
// save are written one after the other, each checked and read back, and flushed together.

#include "platform/services/SettingsStore.h"

#include "platform/automation/AutomationError.h"
#include "platform/files/WindowsApi.h"
#include "platform/facts/Environment.h"

#include <vector>

using automation::AutomationError;

namespace platform {

namespace {
using Kind = IniFile::Kind;
const QString kBackupSuffix = QStringLiteral(".bak");

// Tests point it elsewhere, so that no case sees another's lists or the user's own.
QString softwareKey()
{
    const QString key = qEnvironmentVariable(facts::env::kSettingsKey);
    return key.isEmpty() ? QStringLiteral("Software") : key;
}

QString keyName(const QString &application, const QString &section)
{
    return softwareKey() + QLatin1Char('\\') + application + (section.isEmpty() ? QString() : QLatin1Char('\\') + section);
}

class RegistryKey {
public:
    RegistryKey() = default;
    RegistryKey(const RegistryKey &) = delete;
    RegistryKey &operator=(const RegistryKey &) = delete;
    ~RegistryKey()
    {
        if (m_key)
            ::RegCloseKey(m_key);
    }
    // ERROR_SUCCESS, or why not; ERROR_FILE_NOT_FOUND when the key does not exist.
    LONG open(const QString &name)
    {
        return ::RegOpenKeyExW(HKEY_CURRENT_USER, name.toStdWString().c_str(), 0, KEY_QUERY_VALUE, &m_key);
    }
    LONG create(const QString &name)
    {
        return ::RegCreateKeyExW(HKEY_CURRENT_USER, name.toStdWString().c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                 KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &m_key, nullptr);
    }
    HKEY get() const { return m_key; }

private:
    HKEY m_key = nullptr;
};

struct RawValue {
    DWORD type = REG_NONE;
    std::vector<BYTE> data;
};

// False when there is no such value (error ERROR_SUCCESS) or it cannot be read (error says why).
bool readRaw(HKEY key, const QString &name, RawValue &value, LONG &error)
{
    const std::wstring wide = name.toStdWString();
    DWORD size = 0;
    error = ::RegQueryValueExW(key, wide.c_str(), nullptr, &value.type, nullptr, &size);
    for (int attempt = 0; attempt < 4 && error == ERROR_SUCCESS; ++attempt) {
        value.data.resize(size_t(size) + sizeof(wchar_t)); // room for a terminator the writer left out
        DWORD got = size;
        error = ::RegQueryValueExW(key, wide.c_str(), nullptr, &value.type, value.data.data(), &got);
        if (error == ERROR_SUCCESS) {
            value.data.resize(got);
            return true;
        }
        if (error == ERROR_MORE_DATA) { // it grew meanwhile
            size = got;
            error = ERROR_SUCCESS;
        }
    }
    if (error == ERROR_FILE_NOT_FOUND)
        error = ERROR_SUCCESS;
    return false;
}

// The text QSettings would hand back for a stored string, or what else it stands for.
IniFile::Value interpretString(const QString &s)
{
    if (s.startsWith(u'@') && s.endsWith(u')')) {
        if (s.startsWith(QLatin1String("@ByteArray(")))
            return {Kind::Text, QString::fromLatin1(QStringView(s).sliced(11).chopped(1).toLatin1())};
        if (s.startsWith(QLatin1String("@String(")))
            return {Kind::Text, s.sliced(8).chopped(1)};
        for (const char *form : {"@Variant(", "@DateTime(", "@Rect(", "@Size(", "@Point("})
            if (s.startsWith(QLatin1String(form)))
                return {Kind::NotText, s};
        if (s == QLatin1String("@Invalid()"))
            return {Kind::Missing, {}};
    }
    if (s.startsWith(QLatin1String("@@")))
        return {Kind::Text, s.sliced(1)};
    return {Kind::Text, s};
}

IniFile::Value interpret(const RawValue &raw)
{
    if (raw.type != REG_SZ && raw.type != REG_EXPAND_SZ)
        return {Kind::NotText, {}};
    qsizetype units = qsizetype(raw.data.size() / sizeof(wchar_t));
    const auto *text = reinterpret_cast<const char16_t *>(raw.data.data());
    while (units > 0 && text[units - 1] == 0)
        --units;
    return interpretString(QString::fromUtf16(text, units));
}

QString storedForm(const QString &text) { return text.startsWith(u'@') ? u'@' + text : text; }

LONG writeString(HKEY key, const QString &name, const QString &text)
{
    const std::wstring data = text.toStdWString();
    return ::RegSetValueExW(key, name.toStdWString().c_str(), 0, REG_SZ, reinterpret_cast<const BYTE *>(data.c_str()),
                            DWORD((data.size() + 1) * sizeof(wchar_t)));
}

QString reasonOf(LONG error) { return files::win::describeError(DWORD(error)); }
} // namespace

QString settingsFilePath(const QString &application)
{
    return QStringLiteral("HKEY_CURRENT_USER\\") + keyName(application, {});
}

SettingsReading SettingsReading::read(const QString &application)
{
    SettingsReading reading;
    reading.m_path = application; // the registry is asked per value: each one is written whole
    RegistryKey key;
    const LONG error = key.open(keyName(application, {}));
    if (error != ERROR_SUCCESS && error != ERROR_FILE_NOT_FOUND)
        throw AutomationError(QStringLiteral("Could not read the settings in %1: %2")
                                  .arg(settingsFilePath(application), reasonOf(error)));
    return reading;
}

QString SettingsReading::value(const QString &section, const QString &key, const QString &defaultValue) const
{
    const QString where = settingsFilePath(m_path) + (section.isEmpty() ? QString() : QLatin1Char('\\') + section);
    RegistryKey registryKey;
    LONG error = registryKey.open(keyName(m_path, section));
    if (error == ERROR_FILE_NOT_FOUND)
        return defaultValue;
    RawValue raw;
    if (error == ERROR_SUCCESS && readRaw(registryKey.get(), key, raw, error)) {
        const IniFile::Value stored = interpret(raw);
        switch (stored.kind) {
        case Kind::Missing:
            return defaultValue;
        case Kind::Text:
            return stored.text;
        case Kind::NotText:
            throw AutomationError(
                QStringLiteral("The stored value %1 in %2 is not text; it is left in the registry as it is").arg(key, where));
        }
    }
    if (error != ERROR_SUCCESS)
        throw AutomationError(QStringLiteral("Could not read the stored value %1 in %2: %3").arg(key, where, reasonOf(error)));
    return defaultValue;
}

void SaveSettings(const QString &application, const QString &section, const SettingsValues &values)
{
    const QString where = settingsFilePath(application) + (section.isEmpty() ? QString() : QLatin1Char('\\') + section);
    const auto fail = [&](const QString &reason) {
        throw AutomationError(QStringLiteral("Could not write the settings in %1: %2").arg(where, reason));
    };
    RegistryKey key;
    if (const LONG error = key.create(keyName(application, section)); error != ERROR_SUCCESS)
        fail(reasonOf(error));
    QString firstProblem;
    const auto note = [&](const QString &problem) {
        if (firstProblem.isEmpty())
            firstProblem = problem;
    };
    for (const auto &[name, text] : values) {
        RawValue old;
        LONG error = ERROR_SUCCESS;
        const bool existed = readRaw(key.get(), name, old, error);
        if (existed && interpret(old).kind == Kind::NotText) {
            if (text.isEmpty())
                continue; // unreadable here, but maybe dear to whoever wrote it
            const std::wstring backup = (name + kBackupSuffix).toStdWString();
            error = ::RegSetValueExW(key.get(), backup.c_str(), 0, old.type, old.data.data(), DWORD(old.data.size()));
            if (error != ERROR_SUCCESS) {
                note(QStringLiteral("the value %1 could not be kept as %1%2 (%3)").arg(name, kBackupSuffix, reasonOf(error)));
                continue;
            }
        }
        const QString stored = storedForm(text);
        if (existed && interpret(old).kind == Kind::Text && interpret(old).text == text)
            continue;
        if ((error = writeString(key.get(), name, stored)) != ERROR_SUCCESS) {
            note(QStringLiteral("%1: %2").arg(name, reasonOf(error)));
            continue;
        }
        // What the registry now holds, not what the call said: the value must read back whole.
        RawValue written;
        if (!readRaw(key.get(), name, written, error) || interpret(written).kind != Kind::Text ||
            interpret(written).text != text)
            note(QStringLiteral("%1 did not read back as written").arg(name));
    }
    if (const LONG error = ::RegFlushKey(key.get()); error != ERROR_SUCCESS)
        note(reasonOf(error));
    if (!firstProblem.isEmpty())
        fail(firstProblem);
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
