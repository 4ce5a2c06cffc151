#pragma once
// The office's user profile: the one kept warm for this user between programs, or, when
// another program is using that one or it cannot be had, a fresh private one.
//
// A new profile costs the office some seconds of first-run work (and a restart, exit code 81,
// unless it finds its build id already written in it); a kept one starts at once. The kept profile lives under
// $XDG_CACHE_HOME/pantrimo/libreoffice-profile (never the user's own LibreOffice profile),
// private to the user (0700), stamped with the office it was made by. It is rebuilt when the
// stamp names another office, when it is damaged (its settings unreadable or missing), or
// when an office would not start with it.
//
// Two offices on one profile would hand each other their documents through the profile's
// single-instance pipe, so the kept profile is taken under an exclusive lock
// (libreoffice-profile.lock beside it, flock). The office inherits the lock: it is held while
// either the program or its office lives, and the kernel drops it when both have ended, killed
// or not, so no stale lock can stay behind and no process id can be mistaken for another's.

#include <QString>
#include <QTemporaryDir>

#include <memory>

namespace lo {

// $XDG_CACHE_HOME/pantrimo/libreoffice-profile (or ~/.cache/…); empty without either.
QString keptProfilePath();

class OfficeProfile {
public:
    // The kept profile when it is free and usable, else a fresh private one in the system's
    // temporary folder (named pantrimo-office-<pid>-…, so that what a killed program leaves is
    // swept). officeBinary decides the stamp. Throws std::runtime_error only when not even a
    // private folder can be made.
    // avoidKept: a private one even when the kept one is free (its pipe is taken).
    static std::unique_ptr<OfficeProfile> acquire(const QString &officeBinary, bool avoidKept = false);
    ~OfficeProfile();

    OfficeProfile(const OfficeProfile &) = delete;
    OfficeProfile &operator=(const OfficeProfile &) = delete;

    // The folder the office is given as its user installation.
    QString path() const { return m_path; }
    QString url() const;
    // The kept profile, made and stamped before: the office will not restart to make it.
    bool isWarm() const { return m_warm; }
    bool isKept() const { return m_lockFd >= 0; }
    // The lock, for the office process to inherit; -1 for a private profile.
    int lockFd() const { return m_lockFd; }
    // A private folder of this office's for files it writes for us (pictures).
    QString workFolder() const { return m_work->path(); }
    // The office's TMPDIR, inside the work folder: what a killed office leaves there (its
    // lu*.tmp folders) is swept with the folder.
    QString temporaryFolder() const;

    // The office started with it and answered: a kept profile is stamped as complete.
    void markStarted();
    // The office would not start with it: the kept profile is emptied and made again, so the
    // next start builds it anew. False when it could not be emptied.
    bool rebuild();

private:
    OfficeProfile() = default;
    bool takeKept(const QString &officeBinary, bool avoidKept);

    std::unique_ptr<QTemporaryDir> m_work;
    QString m_path;
    QString m_stamp; // what the stamp file must say
    QString m_binary;
    int m_lockFd = -1;
    int m_workLock = -1;
    bool m_warm = false;
};

} // namespace lo
