#include "SettingsStore.h"

#include "automation/AutomationError.h"

#include <QFileInfo>
#include <QSettings>
#include <QStringList>

using automation::AutomationError;

namespace platform {

namespace {
QSettings openStore(const QString &application)
{
    return QSettings(QSettings::IniFormat, QSettings::UserScope, application);
}

QString where(const QString &section, const QString &key) { return section + QLatin1Char('/') + key; }
} // namespace

QString settingsFilePath(const QString &application) { return openStore(application).fileName(); }

QString GetSetting(const QString &application, const QString &section, const QString &key, const QString &defaultValue)
{
    QSettings store = openStore(application);
    if (store.status() == QSettings::FormatError)
        throw AutomationError(QStringLiteral("The settings file %1 is damaged").arg(store.fileName()));
    const QVariant value = store.value(where(section, key));
    if (!value.isValid())
        return defaultValue;
    // Qt reads an unquoted value with commas (as a hand edit leaves it) as a list of
    // its pieces; the commas belong to the text.
    if (value.userType() == QMetaType::QStringList)
        return value.toStringList().join(QLatin1Char(','));
    if (value.userType() == QMetaType::QString || value.userType() == QMetaType::QByteArray)
        return value.toString();
    throw AutomationError(QStringLiteral("The stored value %1 in %2 is not text").arg(key, store.fileName()));
}

void SaveSetting(const QString &application, const QString &section, const QString &key, const QString &value)
{
    QSettings store = openStore(application);
    store.setValue(where(section, key), value);
    store.sync();
    if (store.status() != QSettings::NoError) {
        const QFileInfo file(store.fileName());
        throw AutomationError(QStringLiteral("Could not write the settings file %1: %2")
                                  .arg(file.absoluteFilePath(),
                                       file.exists() && !file.isWritable()
                                           ? QStringLiteral("the file is read-only")
                                           : QStringLiteral("the folder cannot be written or the disk is full")));
    }
}

} // namespace platform
