#pragma once
// The per-user settings store: string values addressed by application, section and key,
// kept in an INI file per application in the user's config folder
// ($XDG_CONFIG_HOME/<application>.ini, else ~/.config/<application>.ini), one group per
// section, readable by QSettings.
//
// Values are read from one reading of the file and written all together in one safe
// replacement of the file, so an interruption or a second program saving at the same
// moment leaves either the old file or the new one, never a mix of both.

#include "platform/services/IniFile.h"

#include <QList>
#include <QPair>
#include <QString>

namespace platform {

class SettingsReading {
public:
    // Raises an AutomationError, naming the file and the reason, when the file is there
    // but cannot be read (a folder, a FIFO or a device, larger than 16 MB, no permission);
    // SaveSettings then leaves such a file alone. A missing file reads as empty.
    static SettingsReading read(const QString &application);

    // Empty when the file read cleanly; else a sentence saying where it is damaged and
    // that it is kept as a backup before it is next written. What could be read is read.
    QString damage() const { return m_damage; }

    // A key that does not exist reads as defaultValue. A stored value that is not text (a
    // hand-edited or damaged file) raises an AutomationError naming the key.
    QString value(const QString &section, const QString &key, const QString &defaultValue = {}) const;

private:
    QString m_path;
    QString m_damage;
    IniFile m_file;
};

using SettingsValues = QList<QPair<QString, QString>>;

// Writes the keys of one section in a single safe replacement of the file, keeping every
// other line of it. A key whose stored value is not text and whose new value is empty is
// left as it stands. A file that did not read cleanly is first kept as <file>.bak (0600).
// Raises an AutomationError with the file's path and the reason when nothing could be
// written; the file is then as it was.
void SaveSettings(const QString &application, const QString &section, const SettingsValues &values);

QString GetSetting(const QString &application, const QString &section, const QString &key,
                   const QString &defaultValue = {});
void SaveSetting(const QString &application, const QString &section, const QString &key, const QString &value);

// Where an application's values live, for messages and tests.
QString settingsFilePath(const QString &application);

} // namespace platform
