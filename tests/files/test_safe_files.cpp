// Replacing a file and clearing leftovers, tried as an unlucky user and a hostile neighbour
// would: a disk with no room left, a killed writer, links planted in a shared folder.

#include "tests/support/SmallDisk.h"
#include "platform/files/AtomicFile.h"
#include "platform/files/Leftovers.h"

#include <QTemporaryDir>
#include <QTest>

#include <csignal>
#include <sys/stat.h>
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
};

QTEST_GUILESS_MAIN(TestSafeFiles)
#include "test_safe_files.moc"
