#pragma once
// A private config folder (for the settings file), cache folder and temporary folder per
// test case, so no test sees another's files or the developer's own settings and cache;
// and every environment variable a case changes put back as it was when the case ends.
//
//   testing::TestEnvironment m_env;
//   void init() { m_env.isolate(); }
//   void cleanup() { m_env.restore(); }
//   ... m_env.set(facts::env::kSoffice, path); m_env.tempPath() ...

#include "platform/facts/Environment.h"

#include <QByteArray>
#include <QDir>
#include <QFileInfo>
#include <QSettings>
#include <QTemporaryDir>
#include <QtGlobal>

#include <memory>
#include <optional>
#include <utility>
#include <vector>

namespace testing {

class TestEnvironment {
public:
    TestEnvironment() = default;
    ~TestEnvironment() { restore(); }
    TestEnvironment(const TestEnvironment &) = delete;
    TestEnvironment &operator=(const TestEnvironment &) = delete;

    // Fresh folders, named by XDG_CONFIG_HOME, XDG_CACHE_HOME and TEMP. cacheHome: a cache
    // folder that outlives the case (a suite's kept office profile); empty, a private one.
    void isolate(const QString &cacheHome = QString())
    {
        m_folders = std::make_unique<Folders>();
        set(facts::env::kConfigHome, m_folders->config.path().toLocal8Bit());
        set(facts::env::kCacheHome, (cacheHome.isEmpty() ? m_folders->cache.path() : cacheHome).toLocal8Bit());
        set(facts::env::kTemp, m_folders->temp.path().toLocal8Bit());
        // Qt reads XDG_CONFIG_HOME once per process; later cases need the path set. It is
        // left on the removed folder afterwards: pointing it back could send a later
        // case's settings into the developer's own file.
        QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, m_folders->config.path());
#ifdef Q_OS_WIN
        // The settings live in the registry there: a key of the case's own.
        m_registryKey = QStringLiteral("Software\\PantrimoTests\\") + QFileInfo(m_folders->config.path()).fileName();
        set(facts::env::kSettingsKey, m_registryKey.toLocal8Bit());
#endif
    }

    void set(const char *name, const QByteArray &value)
    {
        remember(name);
        qputenv(name, value);
    }
    void unset(const char *name)
    {
        remember(name);
        qunsetenv(name);
    }

    // Every variable back as it was before the first change, and the folders removed.
    void restore()
    {
        for (auto it = m_saved.rbegin(); it != m_saved.rend(); ++it) {
            if (it->second)
                qputenv(it->first.constData(), *it->second);
            else
                qunsetenv(it->first.constData());
        }
        m_saved.clear();
        m_folders.reset();
        if (!m_registryKey.isEmpty())
            QSettings(QStringLiteral("HKEY_CURRENT_USER\\") + std::exchange(m_registryKey, QString()), QSettings::NativeFormat).clear();
    }

    // Valid between isolate() and restore().
    QString configPath() const { return m_folders->config.path(); }
    QString tempPath() const { return m_folders->temp.path(); }
    QString settingsFile() const { return configPath() + QStringLiteral("/Quillmark.ini"); }
    // The program's settings store as QSettings reads and writes it: the settings file on
    // Linux, the case's registry key on Windows.
    std::unique_ptr<QSettings> storedSettings() const
    {
#ifdef Q_OS_WIN
        return std::make_unique<QSettings>(QStringLiteral("HKEY_CURRENT_USER\\") + m_registryKey + QStringLiteral("\\Quillmark"),
                                           QSettings::NativeFormat);
#else
        return std::make_unique<QSettings>(settingsFile(), QSettings::IniFormat);
#endif
    }
    // The files in the runs' own folders inside the temporary folder (pantrimo-run-*).
    QStringList runFiles() const
    {
        QStringList names;
        const QDir temp(tempPath());
        for (const QString &run : temp.entryList({QStringLiteral("pantrimo-run-*")}, QDir::Dirs | QDir::NoDotAndDotDot))
            names += QDir(temp.filePath(run)).entryList(QDir::Files | QDir::Hidden | QDir::System);
        return names;
    }

private:
    struct Folders {
        QTemporaryDir config;
        QTemporaryDir temp;
        QTemporaryDir cache;
    };

    void remember(const char *name)
    {
        for (const auto &saved : m_saved) {
            if (saved.first == name)
                return;
        }
        std::optional<QByteArray> old;
        if (qEnvironmentVariableIsSet(name))
            old = qgetenv(name);
        m_saved.emplace_back(QByteArray(name), std::move(old));
    }

    std::vector<std::pair<QByteArray, std::optional<QByteArray>>> m_saved;
    std::unique_ptr<Folders> m_folders;
    QString m_registryKey; // Windows: the case's settings key, removed by restore()
};

// The same for one scope: isolated when made, put back when it goes.
class IsolatedFolders : public TestEnvironment {
public:
    explicit IsolatedFolders(const QString &cacheHome = QString()) { isolate(cacheHome); }
};

} // namespace testing
