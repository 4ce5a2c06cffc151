#pragma once
// The per-user settings store: string values addressed by application, section and
// key. Backed by an INI file per application in the user's config folder
// ($XDG_CONFIG_HOME/<application>.ini), one group per section.

#include <QString>

namespace platform {

// A key that does not exist reads as defaultValue. A stored value that is not text
// (a hand-edited or damaged file) raises an AutomationError naming the key.
QString GetSetting(const QString &application, const QString &section, const QString &key,
                   const QString &defaultValue = {});

// Written through to disk at once; a failure to write raises an AutomationError
// with the file's path and the reason.
void SaveSetting(const QString &application, const QString &section, const QString &key, const QString &value);

// Where an application's values live, for messages and tests.
QString settingsFilePath(const QString &application);

} // namespace platform
