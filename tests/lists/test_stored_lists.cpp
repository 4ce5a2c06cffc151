// The lists travel between the main window and the settings file: restored at start,
// written at close, with the stored form's rules (";" joins, empty pieces dropped).

#include "shell/ErrorReport.h"
#include "app/Form1.h"
#include "tests/support/FakeServer.h"
#include "tests/support/ListItems.h"
#include "tests/support/ScriptedDialogs.h"
#include "tests/support/SmallDisk.h"
#include "tests/support/TestEnvironment.h"
#include "platform/excel/ExcelServer.h"

#include <QFile>
#include <QListWidget>
#include <QSettings>
#include <QTest>

#include <sys/stat.h>

using shell::Form1;
using testing::itemsOf;

namespace {
QString storedValue(int i)
{
    QSettings s(QSettings::IniFormat, QSettings::UserScope, "Quillmark");
    return s.value(QStringLiteral("Pantrimo/List%1").arg(i)).toString();
}

void store(int i, const QString &value)
{
    QSettings s(QSettings::IniFormat, QSettings::UserScope, "Quillmark");
    s.setValue(QStringLiteral("Pantrimo/List%1").arg(i), value);
}

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}
} // namespace

class TestStoredLists : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        m_env.isolate();
        testing::registerFakeExcel();
    }
    void cleanup()
    {
        shell::setStepProbe({});
        m_env.restore();
    }

    void firstStartShowsEmptyListsAndClosingWritesFifteenEmptyKeys()
    {
        testing::ScriptedDialogs dialogs;
        {
            Form1 w;
            QVERIFY(w.Form_Load());
            for (auto *list : w.List1)
                QCOMPARE(list->count(), 0);
            QVERIFY(!QFile::exists(m_env.settingsFile()));
            w.close();
        }
        QSettings s(QSettings::IniFormat, QSettings::UserScope, "Quillmark");
        s.beginGroup("Pantrimo");
        QCOMPARE(s.childKeys().size(), 15);
        for (int i = 0; i < 15; ++i)
            QCOMPARE(s.value(QStringLiteral("List%1").arg(i)).toString(), QString());
        QVERIFY(dialogs.asked.empty());
    }

    void storedValuesRoundTrip_data()
    {
        QTest::addColumn<QString>("stored");
        QTest::addColumn<QStringList>("items");
        QTest::addColumn<QString>("savedAgain");
        QTest::newRow("one item") << "Milk" << QStringList{"Milk"} << "Milk";
        QTest::newRow("empty pieces dropped") << "a;;b;" << QStringList{"a", "b"} << "a;b";
        QTest::newRow("separators around one item") << ";;Milk;;" << QStringList{"Milk"} << "Milk";
        QTest::newRow("ini-special characters")
            << R"(1,5 kg;"quoted";back\slash;a=b;#hash;[x];semi-colon free)"
            << QStringList{"1,5 kg", "\"quoted\"", "back\\slash", "a=b", "#hash", "[x]", "semi-colon free"}
            << R"(1,5 kg;"quoted";back\slash;a=b;#hash;[x];semi-colon free)";
        QTest::newRow("blanks kept") << "  leading;trailing  ; " << QStringList{"  leading", "trailing  ", " "}
                                     << "  leading;trailing  ; ";
        QTest::newRow("non-ascii") << QString::fromUtf8("Crème fraîche;Äpfel;寿司;🥕")
                                   << QStringList{QString::fromUtf8("Crème fraîche"), QString::fromUtf8("Äpfel"),
                                                  QString::fromUtf8("寿司"), QString::fromUtf8("🥕")}
                                   << QString::fromUtf8("Crème fraîche;Äpfel;寿司;🥕");
        QStringList many;
        for (int k = 1; k <= 25; ++k)
            many << QStringLiteral("item %1").arg(k);
        QTest::newRow("25 pieces") << many.join(';') << many << many.join(';');
        QTest::newRow("a value starting with @") << "@Variant(x);@@" << QStringList{"@Variant(x)", "@@"}
                                                 << "@Variant(x);@@";
    }
    void storedValuesRoundTrip()
    {
        QFETCH(QString, stored);
        QFETCH(QStringList, items);
        QFETCH(QString, savedAgain);
        testing::ScriptedDialogs dialogs;
        store(7, stored);
        {
            Form1 w;
            QVERIFY(w.Form_Load());
            QCOMPARE(itemsOf(w.List1[7]), items);
            w.close();
        }
        QCOMPARE(storedValue(7), savedAgain);
        QVERIFY(dialogs.asked.empty());
    }

    void handEditedAndHostileValuesGiveAClearReportAndTheRestLoads()
    {
        testing::ScriptedDialogs dialogs;
        QFile ini(m_env.settingsFile());
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write("[Pantrimo]\n"
                  "List0=Eggs, Bacon\n"                    // unquoted commas, as a hand edit leaves them
                  "List1=@Variant(\\0\\0\\0\\x2\\0\\0\\0\\0\\x5)\n" // a serialised number
                  "List2=Milk\n");
        ini.close();
        Form1 w;
        QVERIFY(w.Form_Load());
        QCOMPARE(itemsOf(w.List1[0]), QStringList({"Eggs,Bacon"}));
        QCOMPARE(w.List1[1]->count(), 0);
        QCOMPARE(itemsOf(w.List1[2]), QStringList{"Milk"});
        QCOMPARE(dialogs.messages().size(), 1);
        QVERIFY(dialogs.messages()[0].contains("List1"));
        QVERIFY(dialogs.messages()[0].contains("Form1.Form_Load at line 130"));
    }

    void aDamagedFileLosesNothingAndIsKeptAsABackupBeforeItIsReplaced()
    {
        testing::ScriptedDialogs dialogs;
        const QByteArray damaged = "[Pantrimo]\n[\nList0=\"Turkey;Ham\"\nList1=@Variant(\\0\\0\\0\\x2\\0\\0\\0\\0\\x5)\n"
                                   "List2=@Rect(1 2 3 4)\nList3=Milk\n";
        QFile ini(m_env.settingsFile());
        QVERIFY(ini.open(QIODevice::WriteOnly) && ini.write(damaged) == damaged.size());
        ini.close();
        {
            Form1 w;
            QVERIFY(w.Form_Load());
            QCOMPARE(itemsOf(w.List1[0]), QStringList({"Turkey", "Ham"}));
            QCOMPARE(itemsOf(w.List1[3]), QStringList{"Milk"});
            QCOMPARE(dialogs.messages().size(), 3);
            QCOMPARE(dialogs.messages()[0].section("\r\n", 0, 0),
                     QStringLiteral("The settings file %1 is damaged at line 2. Everything else in it was read; before "
                                    "the file is next written, it is kept as %1.bak.")
                         .arg(m_env.settingsFile()));
            QVERIFY(dialogs.messages()[0].contains("Form1.Form_Load at line 128"));
            QVERIFY(dialogs.messages()[1].startsWith(
                QStringLiteral("The stored value List1 in %1 is not text; it is left in the file as it is\r\n")
                    .arg(m_env.settingsFile())));
            QVERIFY(dialogs.messages()[2].contains("List2"));
            w.List1[2]->addItem("Eggs"); // typed over the unreadable List2; List1 is left empty
            w.close();
        }
        QCOMPARE(dialogs.messages().size(), 3);
        QCOMPARE(testing::fileBytes(m_env.settingsFile() + ".bak"), damaged);
        QCOMPARE(QFileInfo(m_env.settingsFile() + ".bak").permissions() & 0x0777, QFileDevice::Permissions(0x0600));
        const QByteArray after = testing::fileBytes(m_env.settingsFile());
        QVERIFY(after.contains("List1=@Variant(\\0\\0\\0\\x2\\0\\0\\0\\0\\x5)\n"));
        QCOMPARE(storedValue(0), QStringLiteral("Turkey;Ham"));
        QCOMPARE(storedValue(2), QStringLiteral("Eggs"));
        QCOMPARE(storedValue(3), QStringLiteral("Milk"));
    }

    void aByteOrderMarkIsReadAsOneAndSavingGivesNoFalseAlarm()
    {
        testing::ScriptedDialogs dialogs;
        QFile ini(m_env.settingsFile());
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write("\xEF\xBB\xBF[Pantrimo]\r\nList5=\"Apples;Pears\"\r\n");
        ini.close();
        {
            Form1 w;
            QVERIFY(w.Form_Load());
            QCOMPARE(itemsOf(w.List1[5]), QStringList({"Apples", "Pears"}));
            w.List1[5]->addItem("Plums");
            w.close();
        }
        QCOMPARE(dialogs.messages(), QStringList());
        QCOMPARE(storedValue(5), QStringLiteral("Apples;Pears;Plums"));
        QVERIFY(!QFile::exists(m_env.settingsFile() + ".bak"));
    }

    void aSettingsFileThatIsAFolderIsNamedAsSuch()
    {
        testing::ScriptedDialogs dialogs;
        QVERIFY(QDir().mkpath(m_env.settingsFile()));
        {
            Form1 w;
            QVERIFY(w.Form_Load());
            w.close();
        }
        QCOMPARE(dialogs.messages().size(), 2);
        QVERIFY(dialogs.messages()[0].startsWith(
            QStringLiteral("Could not read the settings file %1: it is a folder\r\n").arg(m_env.settingsFile())));
        QVERIFY(dialogs.messages()[0].contains("Form1.Form_Load at line 128"));
        QVERIFY(dialogs.messages()[1].startsWith(
            QStringLiteral("Could not write the settings file %1: it is a folder\r\n").arg(m_env.settingsFile())));
        QVERIFY(dialogs.messages()[1].contains("Form1.Form_QueryUnload at line 116"));
    }

    // Each is named once at start and once at close, and stays as it was: what the user
    // typed meanwhile is not stored, and the close report says so.
    void aSettingsFileThatCannotBeReadIsNamedAndLeftAlone_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::addColumn<QString>("reason");
        QTest::newRow("a FIFO") << "fifo" << "it is not a regular file";
        QTest::newRow("a link to /dev/zero") << "device" << "it is not a regular file";
        QTest::newRow("larger than 16 MB") << "large" << "it is larger than 16 MB";
        QTest::newRow("its folder is a file") << "under a file" << "the folder %1 is a file";
    }
    void aSettingsFileThatCannotBeReadIsNamedAndLeftAlone()
    {
        QFETCH(QString, kind);
        QFETCH(QString, reason);
        testing::ScriptedDialogs dialogs;
        QString file = m_env.settingsFile();
        const QByteArray native = QFile::encodeName(file);
        if (kind == "fifo") {
            QCOMPARE(::mkfifo(native.constData(), 0600), 0);
        } else if (kind == "device") {
            QVERIFY(QFile::link("/dev/zero", file));
        } else if (kind == "large") {
            QFile f(file);
            QVERIFY(f.open(QIODevice::WriteOnly) && f.write("[Pantrimo]\nList0=Milk\n") > 0);
            QVERIFY(f.resize(16 * 1024 * 1024 + 1));
        } else {
            QFile f(m_env.configPath() + "/plain");
            QVERIFY(f.open(QIODevice::WriteOnly));
            m_env.set(facts::env::kConfigHome, QFile::encodeName(f.fileName()));
            file = f.fileName() + "/Quillmark.ini";
            reason = reason.arg(f.fileName());
        }
        const QFileInfo before(file);
        {
            Form1 w;
            QVERIFY(w.Form_Load());
            for (int i = 0; i < 15; ++i)
                QCOMPARE(w.List1[i]->count(), 0);
            w.List1[0]->addItem("Bread");
            w.close();
        }
        QCOMPARE(dialogs.messages().size(), 2);
        QCOMPARE(dialogs.messages()[0].section("\r\n", 0, 0),
                 QStringLiteral("Could not read the settings file %1: %2").arg(file, reason));
        QVERIFY(dialogs.messages()[0].contains("Form1.Form_Load at line 128"));
        QCOMPARE(dialogs.messages()[1].section("\r\n", 0, 0),
                 QStringLiteral("Could not write the settings file %1: %2").arg(file, reason));
        QVERIFY(dialogs.messages()[1].contains("Form1.Form_QueryUnload at line 116"));
        const QFileInfo after(file);
        QCOMPARE(after.isSymLink(), before.isSymLink());
        QCOMPARE(after.size(), before.size());
        QCOMPARE(after.lastModified(), before.lastModified());
        QVERIFY(!QFileInfo::exists(file + ".bak"));
    }

    void aLockFileOfAnotherProgramDoesNotHoldUpTheClose()
    {
        testing::ScriptedDialogs dialogs;
        // Left by Qt's own writer in an older version, held by a process that is alive.
        QFile lock(m_env.settingsFile() + ".lock");
        QVERIFY(lock.open(QIODevice::WriteOnly));
        lock.write(QByteArray::number(::getppid()) + "\npantrimo\nhost\n");
        lock.close();
        {
            Form1 w;
            QVERIFY(w.Form_Load());
            w.List1[0]->addItem("Bread");
            w.close();
        }
        QCOMPARE(dialogs.messages(), QStringList());
        QCOMPARE(storedValue(0), QStringLiteral("Bread"));
        QCOMPARE(QDir(m_env.configPath()).entryList(QDir::Files | QDir::Hidden),
                 QStringList({"Quillmark.ini", "Quillmark.ini.lock"}));
    }

    void failureWritingOneCategoryIsReportedAndTheOthersAreWritten()
    {
        testing::ScriptedDialogs dialogs;
        Form1 w;
        QVERIFY(w.Form_Load());
        for (int i = 0; i < 15; ++i)
            w.List1[i]->addItem(QStringLiteral("item of %1").arg(i));
        int writes = 0;
        shell::setStepProbe([&](const QString &proc, int line) {
            if (proc == "Form1.Form_QueryUnload" && line == 114 && writes++ == 3)
                throw automation::AutomationError("Disk full");
        });
        w.close();
        QCOMPARE(dialogs.messages().size(), 1);
        QVERIFY(dialogs.messages()[0].startsWith("Disk full\r\nin Larderly2021/08/31.Form1.Form_QueryUnload at line 114"));
        for (int i = 0; i < 15; ++i)
            QCOMPARE(storedValue(i), i == 3 ? QString() : QStringLiteral("item of %1").arg(i));
    }

    void unwritableSettingsFolderIsReportedOnceAndTheFileIsKept()
    {
        testing::ScriptedDialogs dialogs;
        store(0, "Kept");
        QFile::setPermissions(m_env.configPath(), QFileDevice::ReadOwner | QFileDevice::ExeOwner);
        QFile::setPermissions(m_env.settingsFile(), QFileDevice::ReadOwner);
        {
            Form1 w;
            QVERIFY(w.Form_Load());
            w.List1[0]->addItem("New");
            w.close();
        }
        QFile::setPermissions(m_env.configPath(), QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
        if (::geteuid() != 0) { // root writes anyway
            QCOMPARE(dialogs.messages().size(), 1);
            QVERIFY(dialogs.messages()[0].startsWith(
                QStringLiteral("Could not write the settings file %1: Permission denied").arg(m_env.settingsFile())));
            QCOMPARE(storedValue(0), QStringLiteral("Kept"));
        }
    }

    void failureInTheFirstStartStepIsReportedAndTheWindowStillOpens()
    {
        testing::ScriptedDialogs dialogs;
        store(2, "Milk");
        shell::setStepProbe([](const QString &proc, int line) {
            if (proc == "Form1.Form_Load" && line == 102)
                throw automation::AutomationError("Skin could not be loaded");
        });
        Form1 w;
        QVERIFY(w.Form_Load());
        QCOMPARE(dialogs.messages().size(), 1);
        QVERIFY(dialogs.messages()[0].contains("Form1.Form_Load at line 102"));
        QCOMPARE(w.windowTitle(), QStringLiteral("Pantrimo"));
        QCOMPARE(itemsOf(w.List1[2]), QStringList{"Milk"});
    }

    void withoutASpreadsheetServerTheProgramEndsAndTheSettingsFileIsUntouched()
    {
        testing::ScriptedDialogs dialogs;
        store(0, "Turkey;Haddock");
        const QByteArray before = readAll(m_env.settingsFile());
        platform::registerExcelApplication("none");
        {
            Form1 w;
            QVERIFY(!w.Form_Load());
            QVERIFY(!w.isVisible());
        }
        QCOMPARE(readAll(m_env.settingsFile()), before);
        QCOMPARE(dialogs.asked.size(), size_t(1));
        const auto &box = dialogs.asked[0];
        QCOMPARE(box.style, 0);
        QCOMPARE(box.title, QStringLiteral("Pantrimo"));
        const QStringList paragraphs = box.text.split("\r\n\r\n");
        QCOMPARE(paragraphs.size(), 5);
        QCOMPARE(paragraphs[0], QStringLiteral("Error 842001. A normal instance of Excel could not be created."));
        QVERIFY(paragraphs[4].startsWith("4. All versions of Excel are supported"));
    }

    void unknownServerNameIsNamedInTheFailure()
    {
        platform::registerExcelApplication("calc9000");
        try {
            automation::createObject("Excel.Application");
            QFAIL("creation succeeded");
        } catch (const automation::AutomationError &e) {
            QVERIFY(e.description().contains("calc9000"));
        }
    }

private:
    testing::TestEnvironment m_env;
};

QTEST_MAIN(TestStoredLists)
#include "test_stored_lists.moc"
