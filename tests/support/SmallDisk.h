#pragma once
// A real, nearly full disk for the tests of what happens when space runs out: a private
// tmpfs of a few pages mounted over a temporary folder (the tests and CI run as root), and
// a second user for what another user may plant in a shared folder. Tests skip with the
// reason where the machine does not allow either.

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <functional>

#ifdef Q_OS_WIN
#include "tests/support/SmallDisk_win.h"
#else
#include <csignal>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testing {

class SmallDisk {
public:
    explicit SmallDisk(int kilobytes = 64)
    {
        const QByteArray options = "size=" + QByteArray::number(kilobytes) + "k,mode=0777";
        if (::mount("tmpfs", QFile::encodeName(m_dir.path()).constData(), "tmpfs", 0, options.constData()) == 0)
            m_mounted = true;
        else
            m_whyNot = QStringLiteral("cannot mount a small tmpfs here: %1").arg(QString::fromLocal8Bit(strerror(errno)));
    }
    ~SmallDisk()
    {
        if (m_mounted)
            ::umount2(QFile::encodeName(m_dir.path()).constData(), MNT_DETACH);
    }
    bool mounted() const { return m_mounted; }
    QString whyNot() const { return m_whyNot; }
    QString path() const { return m_dir.path(); }
    QString filePath(const QString &name) const { return QDir(m_dir.path()).filePath(name); }

    qint64 freeBytes() const
    {
        struct statvfs st {};
        ::statvfs(QFile::encodeName(m_dir.path()).constData(), &st);
        return qint64(st.f_bavail) * qint64(st.f_bsize);
    }
    // Takes space with a filler file until at most `leave` bytes are free; false when the
    // filler could not be made (the caller checks, so its test stops there).
    [[nodiscard]] bool fillLeaving(qint64 leave)
    {
        QFile filler(filePath(QStringLiteral(".filler-%1").arg(m_fillers++)));
        if (!filler.open(QIODevice::WriteOnly))
            return false;
        const QByteArray page(4096, 'x');
        while (freeBytes() > leave && filler.write(page) == page.size() && filler.flush()) {
        }
        // The last page may not fit whole: take what is left of it a byte at a time.
        const QByteArray byte(1, 'x');
        while (freeBytes() > leave && filler.write(byte) == 1 && filler.flush()) {
        }
        return true;
    }
    // Everything in the folder but the fillers.
    QStringList entries() const
    {
        QStringList names = QDir(m_dir.path()).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot | QDir::System);
        names.removeIf([](const QString &n) { return n.startsWith(QStringLiteral(".filler-")); });
        return names;
    }

private:
    QTemporaryDir m_dir;
    bool m_mounted = false;
    QString m_whyNot;
    int m_fillers = 0;
};

// Runs f in a child process as user "nobody" (what another local user could do); true when
// it ran and returned true.
inline bool asAnotherUser(const std::function<bool()> &f)
{
    if (::geteuid() != 0)
        return false;
    const pid_t child = ::fork();
    if (child == 0) {
        if (::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(2);
        ::_exit(f() ? 0 : 1);
    }
    int status = 0;
    ::waitpid(child, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// A process id that is certainly not running: a child that has already ended.
inline pid_t endedProcess()
{
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(0);
    ::waitpid(child, nullptr, 0);
    return child;
}

// A limit on the size of the files this process writes, for as long as it lives: a write
// past it fails part-way, as on a full disk.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes)
    {
        ::getrlimit(RLIMIT_FSIZE, &m_old);
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        struct rlimit small = m_old;
        small.rlim_cur = bytes;
        ::setrlimit(RLIMIT_FSIZE, &small);
    }
    ~FileSizeLimit()
    {
        ::setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_oldHandler);
    }
    FileSizeLimit(const FileSizeLimit &) = delete;
    FileSizeLimit &operator=(const FileSizeLimit &) = delete;
    static bool available() { return true; }

private:
    struct rlimit m_old {};
    void (*m_oldHandler)(int) = SIG_DFL;
};

// Whether the tests run as root, who writes where others may not.
inline bool runAsRoot() { return ::geteuid() == 0; }

// Makes a folder everyone may write to, as /tmp is (sticky, mode 1777).
[[nodiscard]] inline bool makeSharedFolder(const QString &path) { return ::chmod(QFile::encodeName(path).constData(), 01777) == 0; }

} // namespace testing
#endif

namespace testing {

// Writes a test's file; false when it was not written whole (the caller checks, so its
// test stops there).
[[nodiscard]] inline bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == qint64(bytes.size()) && f.flush();
}

inline QByteArray fileBytes(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace testing
