#pragma once
// A private config folder (for the settings file), cache folder and temporary folder per
// test case, so no test sees another's files or the developer's own settings and cache.

#include "platform/facts/Environment.h"

#include <QDir>
#include <QSettings>
#include <QTemporaryDir>
#include <QtGlobal>

namespace testing {

class IsolatedFolders {
public:
    // cacheHome: a cache folder that outlives the case (a suite's kept office profile);
    // empty, a private one.
    explicit IsolatedFolders(const QString &cacheHome = QString())
    {
        qputenv(facts::env::kConfigHome, m_config.path().toLocal8Bit());
        qputenv(facts::env::kCacheHome, (cacheHome.isEmpty() ? m_cache.path() : cacheHome).toLocal8Bit());
        qputenv(facts::env::kTemp, m_temp.path().toLocal8Bit());
        // Qt reads XDG_CONFIG_HOME once per process; later cases need the path set.
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_config.path());
    }
    QString configPath() const { return m_config.path(); }
    QString tempPath() const { return m_temp.path(); }
    QString settingsFile() const { return m_config.path() + QStringLiteral("/Quillmark.ini"); }
    // The files in the runs' own folders inside the temporary folder (pantrimo-run-*).
    QStringList runFiles() const
    {
        QStringList names;
        const QDir temp(m_temp.path());
        for (const QString &run : temp.entryList({QStringLiteral("pantrimo-run-*")}, QDir::Dirs | QDir::NoDotAndDotDot))
            names += QDir(temp.filePath(run)).entryList(QDir::Files | QDir::Hidden | QDir::System);
        return names;
    }

private:
    QTemporaryDir m_config;
    QTemporaryDir m_temp;
    QTemporaryDir m_cache;
};

} // namespace testing
