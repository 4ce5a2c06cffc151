// The small file routines and the save-format choice, on real files.

#include "tests/support/FakeServer.h"
#include "tests/support/SmallDisk.h"
#include "tests/support/TestEnvironment.h"
#include "platform/services/FileSystem.h"
#include "workbook/FileRoutines.h"
#include "workbook/SpreadsheetRoutines.h"

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QTemporaryDir>
#include <QTest>

using namespace workbook;

class TestFileRoutines : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { platform::registerFileSystemObject(); }
    void cleanup() { QLocale::setDefault(QLocale::c()); }

    void fileExistsOnlyForSomethingThere()
    {
        QTemporaryDir dir;
        QVERIFY(!FileExists(QString()));
        QVERIFY(!FileExists(dir.filePath("missing.xls")));
        QVERIFY(testing::writeFile(dir.filePath("there.xls"), "x"));
        QVERIFY(FileExists(dir.filePath("there.xls")));
    }

    void writeBytesNeverOverwrites()
    {
        QTemporaryDir dir;
        const QString path = dir.filePath("template.xlt");
        QVERIFY(testing::writeFile(path, "older and longer content"));
        WriteBytesToFile("new", path);
        QCOMPARE(testing::fileBytes(path), QByteArray("older and longer content"));

        const QString fresh = dir.filePath("fresh.xlt");
        QByteArray bytes(80896, '\0');
        for (int i = 0; i < bytes.size(); ++i)
            bytes[i] = char(i * 7);
        WriteBytesToFile(bytes, fresh);
        QCOMPARE(testing::fileBytes(fresh), bytes);
    }

    void writeBytesIntoAnUnwritableFolderRaisesAndLeavesNothing()
    {
        if (testing::runAsRoot())
            QSKIP("root writes into read-only folders");
        QTemporaryDir dir;
        QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        QVERIFY_THROWS_EXCEPTION(automation::AutomationError, WriteBytesToFile("x", dir.filePath("t.xlt")));
        QFile::setPermissions(dir.path(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        QVERIFY(!QFile::exists(dir.filePath("t.xlt")));
    }

    void writeBytesThatRunOutOfSpaceRemovesThePartialFile()
    {
        // A file-size limit fails the write part-way, as a full disk does.
        if (!testing::FileSizeLimit::available())
            QSKIP("no limit on file sizes can be set here");
        QTemporaryDir dir;
        const QString path = dir.filePath("template.xlt");
        bool raised = false;
        {
            testing::FileSizeLimit limit(1000);
            try {
                WriteBytesToFile(QByteArray(4096, 'x'), path);
            } catch (const automation::AutomationError &e) {
                raised = e.description().contains(path);
            }
        }
        QVERIFY(raised);
        QVERIFY(!QFile::exists(path));
    }

    void removeFileIsQuietAndForcesReadOnlyFiles()
    {
        QTemporaryDir dir;
        RemoveFile(dir.filePath("missing.xls")); // nothing raised, nothing shown

        const QString readOnly = dir.filePath("locked.xls");
        QVERIFY(testing::writeFile(readOnly, "x"));
        QFile::setPermissions(readOnly, QFileDevice::ReadOwner);
        QVERIFY_THROWS_EXCEPTION(automation::AutomationError, platform::Kill(readOnly));
        QVERIFY(QFile::exists(readOnly));
        RemoveFile(readOnly);
        QVERIFY(!QFile::exists(readOnly));

        QDir(dir.path()).mkdir("folder");
        RemoveFile(dir.filePath("folder"));
        QVERIFY(QFileInfo(dir.filePath("folder")).isDir());
    }

    void saveFormatFollowsTheServerVersion_data()
    {
        QTest::addColumn<QString>("version");
        QTest::addColumn<QString>("locale");
        QTest::addColumn<int>("format");
        for (const char *loc : {"C", "de_DE"}) {
            QTest::addRow("11.0 %s", loc) << "11.0" << loc << -4143;
            QTest::addRow("12.0 %s", loc) << "12.0" << loc << 56;
            QTest::addRow("14.0 %s", loc) << "14.0" << loc << 56;
            QTest::addRow("15.0 %s", loc) << "15.0" << loc << 56;
            QTest::addRow("16.0 %s", loc) << "16.0" << loc << 56;
        }
    }
    void saveFormatFollowsTheServerVersion()
    {
        QFETCH(QString, version);
        QFETCH(QString, locale);
        QFETCH(int, format);
        QLocale::setDefault(QLocale(locale));
        auto app = std::make_shared<testing::FakeExcel>(version);
        QCOMPARE(GetExcelFileFormat(app), format);
        testing::registerFakeExcel(version);
        QCOMPARE(GetExcelFileFormat(), format);
    }

    void unreadableVersionRaises()
    {
        auto app = std::make_shared<testing::FakeExcel>("sixteen");
        QVERIFY_THROWS_EXCEPTION(automation::AutomationError, GetExcelFileFormat(app));
    }

    // Without an instance of its own to ask, it starts one, reads its version and quits it;
    // an instance it was given is the caller's and stays running.
    void theTemporaryInstanceIsQuitTheCallersIsNot_data()
    {
        QTest::addColumn<QString>("version");
        QTest::newRow("readable") << "16.0";
        QTest::newRow("unreadable") << "sixteen";
    }
    void theTemporaryInstanceIsQuitTheCallersIsNot()
    {
        QFETCH(QString, version);
        std::vector<std::shared_ptr<testing::FakeExcel>> started;
        automation::ClassRegistry::instance().registerClass(QStringLiteral("Excel.Application"), [&] {
            started.push_back(std::make_shared<testing::FakeExcel>(version));
            return started.back();
        });
        try {
            GetExcelFileFormat();
        } catch (const automation::AutomationError &) {
            QCOMPARE(version, QStringLiteral("sixteen"));
        }
        QCOMPARE(started.size(), size_t(1));
        QCOMPARE(started.front()->quits, 1);
        auto callers = std::make_shared<testing::FakeExcel>("16.0");
        QCOMPARE(GetExcelFileFormat(callers), 56);
        QCOMPARE(callers->quits, 0);
        QCOMPARE(started.size(), size_t(1));
    }

    void decimalSeparatorFollowsTheLocale()
    {
        QLocale::setDefault(QLocale(QLocale::French, QLocale::France));
        QCOMPARE(GetDecimalSeparator(), QStringLiteral(","));
        QCOMPARE(NormalizeDecimalText("16.0"), QStringLiteral("16,0"));
        QLocale::setDefault(QLocale::c());
        QCOMPARE(NormalizeDecimalText("1,5.2"), QStringLiteral("1.5.2"));
    }
};

QTEST_MAIN(TestFileRoutines)
#include "test_file_routines.moc"
