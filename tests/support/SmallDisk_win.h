#pragma once
// SmallDisk.h on Windows: no small disk can be mounted, no second user taken on, and no
// limit put on the size of files, so the cases that need them skip with the reason; an
// ended process is a child that has exited.

#include <QCoreApplication>
#include <QDir>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

#include <functional>

namespace testing {

class SmallDisk {
public:
    explicit SmallDisk(int = 64) {}
    bool mounted() const { return false; }
    QString whyNot() const { return QStringLiteral("no small disk can be mounted on Windows"); }
    QString path() const { return m_dir.path(); }
    QString filePath(const QString &name) const { return QDir(m_dir.path()).filePath(name); }
    [[nodiscard]] bool fillLeaving(qint64) { return false; }
    QStringList entries() const { return {}; }

private:
    QTemporaryDir m_dir;
};

inline bool asAnotherUser(const std::function<bool()> &) { return false; }

inline qint64 endedProcess()
{
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("-functions")});
    if (!child.waitForStarted())
        return 0;
    const qint64 pid = child.processId();
    child.waitForFinished();
    return pid;
}

class FileSizeLimit {
public:
    explicit FileSizeLimit(qint64) {}
    static bool available() { return false; }
};

inline bool runAsRoot() { return false; }

[[nodiscard]] inline bool makeSharedFolder(const QString &) { return false; }

} // namespace testing
