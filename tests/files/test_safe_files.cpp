// Replacing a file and clearing leftovers, tried as an unlucky user and a hostile neighbour
// would: a disk with no room left, a killed writer, links planted in a shared folder.

#include "tests/support/SmallDisk.h"
#include "platform/files/AtomicFile.h"
#include "platform/files/Leftovers.h"

#include <QTemporaryDir>
#include <QDir>
#include <QTest>

#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

using testing::endedProcess;
using testing::fileBytes;

namespace {
mode_t modeOf(const QString &path)
{
    struct stat st {};
    ::lstat(QFile::encodeName(path).constData(), &st);
    return st.st_mode & 07777;
}

bool writeBytes(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

constexpr uid_t kOtherUser = 65534;

// A link in path to points, belonging to the other user when we are root.
bool plantLink(const QString &points, const QString &path, bool otherUser)
{
    const QByteArray native = QFile::encodeName(path);
    return ::symlink(QFile::encodeName(points).constData(), native.constData()) == 0 &&
           (!otherUser || ::lchown(native.constData(), kOtherUser, kOtherUser) == 0);
}

bool makeSocket(const QString &path)
{
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    const QByteArray native = QFile::encodeName(path);
    if (fd < 0 || size_t(native.size()) >= sizeof address.sun_path)
        return false;
    std::memcpy(address.sun_path, native.constData(), size_t(native.size()));
    const bool bound = ::bind(fd, reinterpret_cast<sockaddr *>(&address), sizeof address) == 0;
    ::close(fd);
    return bound;
}

} // namespace

class TestSafeFiles : public QObject {
    Q_OBJECT
private slots:
    void fullDiskLeavesTheOldFileAsItWasAndNothingBehind()
    {
        testing::SmallDisk disk(64);
        if (!disk.mounted())
            QSKIP(qPrintable(disk.whyNot()));
        const QString target = disk.filePath("Book.xls");
        const QByteArray old(14848, 'o');
        QVERIFY(writeBytes(target, old));
        QVERIFY(disk.fillLeaving(4096));
        const files::WriteOutcome outcome = files::writeFileAtomically(target, QByteArray(17920, 'n'));
        QCOMPARE(outcome.status, files::WriteStatus::Failed);
        QCOMPARE(outcome.reason, QStringLiteral("No space left on device (the disk is full)"));
        QCOMPARE(fileBytes(target), old);
        QCOMPARE(disk.entries(), QStringList{"Book.xls"});
    }

    void whatFitsIsWrittenWholeAndKeepsTheModeOfTheFileItReplaces()
    {
        QTemporaryDir dir;
        const QString target = dir.filePath("Quillmark.ini");
        QVERIFY(writeBytes(target, "old"));
        QFile::setPermissions(target, QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadGroup);
        QVERIFY(files::writeFileAtomically(target, "new contents").written());
        QCOMPARE(fileBytes(target), QByteArray("new contents"));
        QCOMPARE(modeOf(target), mode_t(0640));
        const QString fresh = dir.filePath("fresh");
        QVERIFY(files::writeFileAtomically(fresh, "x").written());
        QCOMPARE(modeOf(fresh), mode_t(0600));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList({"fresh", "Quillmark.ini"}));
    }

    void neverReplacingLeavesAnExistingFileAlone()
    {
        QTemporaryDir dir;
        const QString target = dir.filePath("template.xlt");
        QVERIFY(writeBytes(target, "someone else's"));
        files::WriteOptions options;
        options.replace = false;
        QCOMPARE(files::writeFileAtomically(target, "ours", options).status, files::WriteStatus::AlreadyThere);
        QCOMPARE(fileBytes(target), QByteArray("someone else's"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"template.xlt"});
    }

    void messagesNameTheRealCause_data()
    {
        QTest::addColumn<QString>("layout");
        QTest::addColumn<QString>("reason");
        QTest::newRow("the file is a folder") << "target-is-folder" << "it is a folder";
        QTest::newRow("the folder is a file") << "folder-is-file" << "the folder %1/plain is a file";
        QTest::newRow("the folder is missing") << "no-folder" << "the folder %1/missing does not exist";
        QTest::newRow("the folder takes no files") << "proc" << "writing in the folder /proc is not permitted";
    }
    void messagesNameTheRealCause()
    {
        QFETCH(QString, layout);
        QFETCH(QString, reason);
        QTemporaryDir dir;
        QString target;
        if (layout == "target-is-folder") {
            QVERIFY(QDir(dir.path()).mkdir("Quillmark.ini"));
            target = dir.filePath("Quillmark.ini");
        } else if (layout == "folder-is-file") {
            QVERIFY(writeBytes(dir.filePath("plain"), "x"));
            target = dir.filePath("plain/Book.xls");
        } else if (layout == "proc") {
            target = QStringLiteral("/proc/test.pdf");
        } else {
            target = dir.filePath("missing/Book.xls");
        }
        const files::WriteOutcome outcome = files::writeFileAtomically(target, "bytes");
        QCOMPARE(outcome.status, files::WriteStatus::Failed);
        QCOMPARE(outcome.reason, reason.contains("%1") ? reason.arg(dir.path()) : reason);
    }

    void aLinkIsReplacedNotFollowedWhenFollowingIsOff()
    {
        QTemporaryDir dir;
        const QString victim = dir.filePath("victim");
        QVERIFY(writeBytes(victim, "precious"));
        const QString planted = dir.filePath("temp.bmp");
        QVERIFY(QFile::link(victim, planted));
        files::WriteOptions options;
        options.followLink = false;
        QVERIFY(files::writeFileAtomically(planted, "picture", options).written());
        QCOMPARE(fileBytes(victim), QByteArray("precious"));
        QVERIFY(!QFileInfo(planted).isSymLink());
        QCOMPARE(fileBytes(planted), QByteArray("picture"));
        // The user's own link (dotfiles kept elsewhere) is written through by default.
        const QString mine = dir.filePath("Quillmark.ini");
        QVERIFY(QFile::link(victim, mine));
        QVERIFY(files::writeFileAtomically(mine, "lists").written());
        QVERIFY(QFileInfo(mine).isSymLink());
        QCOMPARE(fileBytes(victim), QByteArray("lists"));
    }

    void partialFilesOfAKilledWriterAreRemovedByTheNextSave()
    {
        QTemporaryDir dir;
        const QString target = dir.filePath("Quillmark.ini");
        const QString abandoned = dir.filePath(QStringLiteral(".Quillmark.ini.%1-abc.part").arg(endedProcess()));
        const QString live = dir.filePath(QStringLiteral(".Quillmark.ini.%1-abc.part").arg(::getppid()));
        QVERIFY(writeBytes(abandoned, "half"));
        QVERIFY(writeBytes(live, "being written"));
        QVERIFY(files::writeFileAtomically(target, "whole").written());
        QVERIFY(!QFile::exists(abandoned));
        QVERIFY(QFile::exists(live));
    }

    void sweepRemovesOnlyRealFoldersOfEndedProgramsAndNeverFollowsLinks()
    {
        QTemporaryDir shared;
        QTemporaryDir documents;
        QVERIFY(writeBytes(documents.filePath("letter.txt"), "dear"));
        const QString prefix = QStringLiteral("pantrimo-run-");
        const pid_t ended = endedProcess();
        const QString leftover = shared.filePath(QStringLiteral("%1%2-aaaaaa").arg(prefix).arg(ended));
        QVERIFY(QDir().mkpath(leftover + "/deeper"));
        QVERIFY(writeBytes(leftover + "/template.xlt", "t"));
        QVERIFY(writeBytes(leftover + "/deeper/wendle12345678.xls", "w"));
        // A link inside a leftover is removed as a link: what it points at stays.
        QVERIFY(QFile::link(documents.path(), leftover + "/link-to-documents"));
        const QString plantedLink = shared.filePath(QStringLiteral("%1%2-bbbbbb").arg(prefix).arg(ended));
        QVERIFY(QFile::link(documents.path(), plantedLink));
        const QString running = shared.filePath(QStringLiteral("%1%2-cccccc").arg(prefix).arg(::getppid()));
        QVERIFY(QDir().mkpath(running));
        const QString foreign = shared.filePath(QStringLiteral("%1%2-dddddd").arg(prefix).arg(ended));
        QVERIFY(QDir().mkpath(foreign));
        if (::geteuid() == 0)
            QVERIFY(::chown(QFile::encodeName(foreign).constData(), 65534, 65534) == 0);

        files::sweepAbandoned(shared.path(), prefix);

        QVERIFY(!QFileInfo::exists(leftover));
        QVERIFY(QFileInfo(plantedLink).isSymLink());
        QVERIFY(QFileInfo::exists(running));
        QCOMPARE(QFileInfo::exists(foreign), ::geteuid() == 0);
        QCOMPARE(fileBytes(documents.filePath("letter.txt")), QByteArray("dear"));
    }

    // The target a user names may lie in a shared drop folder (sticky, world-writable, like
    // /tmp) where another user can plant a link or a special file under that name.
    void aNamedTargetIsWrittenOnlyWhereTheKernelWouldWrite_data()
    {
        QTest::addColumn<QString>("layout");
        QTest::addColumn<QString>("refusal"); // %1 the shared folder, %2 the victim; empty: written through
        QTest::addColumn<bool>("needsRoot");
        QTest::newRow("another user's link in a sticky folder")
            << "foreign-link" << "%1/list.pdf is a link to %2 that another user made in a shared folder; it is not followed" << true;
        QTest::newRow("another user's link in a folder below it")
            << "foreign-link-deeper" << "%1/drop is a link to %2 that another user made in a shared folder; it is not followed" << true;
        QTest::newRow("own link in a sticky folder") << "own-link" << "" << false;
        QTest::newRow("another user's link in a folder that is not sticky") << "foreign-link-plain" << "" << true;
        QTest::newRow("a link to a device") << "device" << "it is a device, not a file" << false;
        QTest::newRow("a FIFO") << "fifo" << "it is a named pipe (FIFO), not a file" << false;
        QTest::newRow("a socket") << "socket" << "it is a socket, not a file" << false;
        QTest::newRow("a read-only file") << "read-only" << "it is read-only" << false;
    }
    void aNamedTargetIsWrittenOnlyWhereTheKernelWouldWrite()
    {
        QFETCH(QString, layout);
        QFETCH(QString, refusal);
        QFETCH(bool, needsRoot);
        if (needsRoot && ::geteuid() != 0)
            QSKIP("needs root to give a link to another user");
        QTemporaryDir home, shared;
        const QString victim = home.filePath("notes.txt");
        QVERIFY(writeBytes(victim, "precious"));
        QVERIFY(::chmod(QFile::encodeName(shared.path()).constData(), layout == "foreign-link-plain" ? 0777 : 01777) == 0);
        QString target = shared.filePath("list.pdf");
        if (layout == "foreign-link" || layout == "own-link" || layout == "foreign-link-plain") {
            QVERIFY(plantLink(victim, target, layout != "own-link"));
        } else if (layout == "foreign-link-deeper") {
            // The folder the user names is itself the other user's link.
            QVERIFY(plantLink(home.path(), shared.filePath("drop"), true));
            target = shared.filePath("drop/notes.txt");
            refusal = refusal.arg(shared.path(), home.path());
        } else if (layout == "device") {
            QVERIFY(QFile::link("/dev/null", target));
        } else if (layout == "fifo") {
            QVERIFY(::mkfifo(QFile::encodeName(target).constData(), 0600) == 0);
        } else if (layout == "socket") {
            QVERIFY(makeSocket(target));
        } else if (layout == "read-only") {
            QVERIFY(writeBytes(target, "frozen"));
            QVERIFY(::chmod(QFile::encodeName(target).constData(), 0444) == 0);
        }
        if (refusal.contains("%1"))
            refusal = refusal.arg(shared.path(), victim);

        const files::TargetCheck check = files::checkTarget(target);
        QCOMPARE(check.refusal, refusal);
        const files::WriteOutcome outcome = files::writeFileAtomically(target, "the PDF");
        QCOMPARE(outcome.reason, refusal);
        QCOMPARE(outcome.written(), refusal.isEmpty());
        if (layout.contains("link")) {
            // Written through, the check names the file replaced; refused, it is as it was.
            QCOMPARE(fileBytes(victim), QByteArray(refusal.isEmpty() ? "the PDF" : "precious"));
            if (refusal.isEmpty())
                QCOMPARE(check.file, victim);
        }
        if (layout == "read-only")
            QCOMPARE(fileBytes(target), QByteArray("frozen"));
        if (layout == "device" || layout == "fifo" || layout == "socket") {
            struct stat st {};
            QVERIFY(::stat(QFile::encodeName(target).constData(), &st) == 0 && !S_ISREG(st.st_mode));
        }
        QCOMPARE(QDir(shared.path()).entryList({"*.part"}, QDir::Files | QDir::Hidden), QStringList());
    }

    void aNewFileFollowsTheUmaskAndAReplacedOneKeepsModeAndOwner()
    {
        QTemporaryDir dir;
        const mode_t before = ::umask(027);
        files::WriteOptions document;
        document.newFileMode = 0666;
        document.applyUmask = true;
        // A dangling link of the user's own names where the new file goes; the file is no
        // link's 0777.
        const QString dangling = dir.filePath("list.xls");
        QVERIFY(QFile::link(dir.filePath("real.xls"), dangling));
        const bool written = files::writeFileAtomically(dangling, "book", document).written();
        ::umask(before);
        QVERIFY(written);
        QCOMPARE(modeOf(dir.filePath("real.xls")), mode_t(0640));
        QVERIFY(QFileInfo(dangling).isSymLink());

        if (::geteuid() != 0)
            QSKIP("needs root to replace another user's file");
        const QString theirs = dir.filePath("theirs.xls");
        QVERIFY(writeBytes(theirs, "old"));
        QVERIFY(::chown(QFile::encodeName(theirs).constData(), kOtherUser, kOtherUser) == 0);
        QVERIFY(::chmod(QFile::encodeName(theirs).constData(), 0640) == 0);
        QVERIFY(files::writeFileAtomically(theirs, "new", document).written());
        struct stat st {};
        QVERIFY(::stat(QFile::encodeName(theirs).constData(), &st) == 0);
        QCOMPARE(st.st_uid, kOtherUser);
        QCOMPARE(st.st_gid, gid_t(kOtherUser));
        QCOMPARE(st.st_mode & 07777, mode_t(0640));
    }

    void preparedFilesArePutInPlaceTogetherOrNotAtAll()
    {
        QTemporaryDir dir;
        const QString a = dir.filePath("a.pdf"), b = dir.filePath("b.xls");
        QVERIFY(writeBytes(b, "old"));
        {
            files::PreparedFile first = files::prepareFile(a, "pdf");
            files::PreparedFile second = files::prepareFile(b, "xls");
            QVERIFY(first.ready() && second.ready());
            // The caller found a reason not to go on: neither is put in place.
        }
        QVERIFY(!QFile::exists(a));
        QCOMPARE(fileBytes(b), QByteArray("old"));
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"b.xls"});
        files::PreparedFile first = files::prepareFile(a, "pdf");
        files::PreparedFile second = files::prepareFile(b, "xls");
        QVERIFY(first.commit().written() && second.commit().written());
        QCOMPARE(fileBytes(a), QByteArray("pdf"));
        QCOMPARE(fileBytes(b), QByteArray("xls"));
    }

    // A writer or a run in another pid namespace sharing the folder: its process id names no
    // process here, but it holds its lock, and that is what a sweep asks.
    void aLockedLeftoverStaysWhateverItsProcessIdSays()
    {
        QTemporaryDir shared;
        const pid_t invisible = endedProcess();
        const QString prefix = QStringLiteral("pantrimo-run-");
        const QString live = shared.filePath(QStringLiteral("%1%2-aaaaaa").arg(prefix).arg(invisible));
        const QString ended = shared.filePath(QStringLiteral("%1%2-bbbbbb").arg(prefix).arg(invisible));
        QVERIFY(QDir().mkpath(live) && QDir().mkpath(ended));
        const int liveLock = files::lockFolder(live);
        const int endedLock = files::lockFolder(ended);
        QVERIFY(liveLock >= 0 && endedLock >= 0);
        ::close(endedLock);
        files::sweepAbandoned(shared.path(), prefix);
        QVERIFY(QFileInfo::exists(live));
        QVERIFY(!QFileInfo::exists(ended));

        const QString target = shared.filePath("Quillmark.ini");
        const QString writing = shared.filePath(QStringLiteral(".Quillmark.ini.%1-abc.part").arg(invisible));
        QVERIFY(writeBytes(writing, "being written"));
        const int partFd = ::open(QFile::encodeName(writing).constData(), O_RDONLY | O_CLOEXEC);
        QVERIFY(partFd >= 0 && ::flock(partFd, LOCK_EX) == 0);
        QVERIFY(files::writeFileAtomically(target, "whole").written());
        QVERIFY(QFile::exists(writing));
        ::close(partFd);
        ::close(liveLock);
    }

    // Names planted by the tens of thousands cannot make every start or save look at each of
    // them: a sweep takes a thousand, and the next one the rest.
    void aSweepLooksAtAThousandAtATime()
    {
        QTemporaryDir shared;
        const QString prefix = QStringLiteral("pantrimo-run-");
        const pid_t ended = endedProcess();
        for (int i = 0; i <= 1000; ++i)
            QVERIFY(QDir().mkdir(shared.filePath(QStringLiteral("%1%2-%3").arg(prefix).arg(ended).arg(i, 6, 10, QLatin1Char('0')))));
        files::sweepAbandoned(shared.path(), prefix);
        QCOMPARE(QDir(shared.path()).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size(), 1);
        files::sweepAbandoned(shared.path(), prefix);
        QCOMPARE(QDir(shared.path()).entryList(QDir::Dirs | QDir::NoDotAndDotDot).size(), 0);
    }
};

QTEST_GUILESS_MAIN(TestSafeFiles)
#include "test_safe_files.moc"
