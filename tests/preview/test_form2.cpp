// The preview window: saving the temporary workbook, going back, closing.

#include "shell/AppTitle.h"
#include "app/Form1.h"
#include "preview/Form2.h"
#include "tests/support/ScriptedDialogs.h"
#include "tests/support/SmallDisk.h"
#include "tests/support/TestEnvironment.h"
#include "platform/excel/ExcelServer.h"
#include "platform/services/FileSystem.h"

#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

#include <optional>
#include <csignal>
#include <sys/stat.h>
#include <unistd.h>
#include <sys/resource.h>

using preview::Form2;

namespace {

// A loaded preview window over a stand-in temporary workbook.
struct Preview {
    QTemporaryDir out;
    Form2 window;
    bool ready = false; // its temporary workbook is in place: the test checks
    QByteArray workbook = QByteArray("\xD0\xCF\x11\xE0 stand-in workbook bytes", 28);

    explicit Preview(const testing::TestEnvironment &env)
    {
        shell::SetAppTitle();
        window.Form_Load();
        QImage capture(300, 200, QImage::Format_RGB32);
        capture.fill(Qt::green);
        window.setCapture(capture);
        window.mExcelFile = QDir(env.tempPath()).filePath("wendle12345678.xls");
        ready = testing::writeFile(window.mExcelFile, workbook);
    }
    QString target(const QString &name) const { return out.filePath(name); }
};
} // namespace

class TestForm2 : public QObject {
    Q_OBJECT
private slots:
    void init() { m_env.isolate(); }
    void cleanup() { m_env.restore(); }
    void initTestCase() { platform::registerFileSystemObject(); }

    void cancelWritesNothingAndSaysDone()
    {
        Preview p(m_env);
        QVERIFY(p.ready);
        testing::ScriptedDialogs dialogs;
        QTest::mouseClick(p.window.PushButton6, Qt::LeftButton);
        QCOMPARE(dialogs.asked.size(), size_t(2));
        QCOMPARE(dialogs.asked[0].kind, testing::AskedDialog::Save);
        QCOMPARE(dialogs.asked[0].text, QStringLiteral("Save File"));
        QCOMPARE(dialogs.asked[0].title, QStringLiteral("Excel Files (*.xls)|*.xls|"));
        QCOMPARE(dialogs.messages(), QStringList{"Done."});
        QCOMPARE(QDir(p.out.path()).entryList(QDir::Files), QStringList());
    }

    void answeringNoLeavesTheExistingFileAlone()
    {
        Preview p(m_env);
        QVERIFY(p.ready);
        testing::ScriptedDialogs dialogs;
        const QString target = p.target("list.xls");
        QVERIFY(testing::writeFile(target, "mine"));
        dialogs.saveAnswers = {target};
        dialogs.messageAnswers = {platform::vbNo};
        p.window.PushButton6_Click();
        QCOMPARE(dialogs.messages(),
                 QStringList({"Are you sure you wish to overwrite " + target + " ?", "Done."}));
        QCOMPARE(dialogs.asked[1].style, int(platform::vbYesNo));
        QCOMPARE(dialogs.asked[1].title, QStringLiteral("Pantrimo"));
        QCOMPARE(testing::fileBytes(target), QByteArray("mine"));
    }

    void answeringYesReplacesItAndNewNamesNeedNoQuestion_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("exists");
        QTest::newRow("replace an existing file") << "list.xls" << true;
        QTest::newRow("new name") << "groceries.xls" << false;
        QTest::newRow("no extension is written exactly so") << "groceries" << false;
        QTest::newRow("another extension is not examined") << "groceries.txt" << false;
    }
    void answeringYesReplacesItAndNewNamesNeedNoQuestion()
    {
        QFETCH(QString, name);
        QFETCH(bool, exists);
        Preview p(m_env);
        QVERIFY(p.ready);
        testing::ScriptedDialogs dialogs;
        const QString target = p.target(name);
        if (exists)
            QVERIFY(testing::writeFile(target, "an older, longer list that must go entirely"));
        dialogs.saveAnswers = {target};
        p.window.PushButton6_Click();
        QCOMPARE(dialogs.messages().size(), exists ? 2 : 1);
        QCOMPARE(dialogs.messages().constLast(), QStringLiteral("Done."));
        QCOMPARE(testing::fileBytes(target), p.workbook);
        QCOMPARE(QDir(p.out.path()).entryList(QDir::Files), QStringList{name});
    }

    void savingTwiceFromOnePreviewGivesTwoCopies()
    {
        Preview p(m_env);
        QVERIFY(p.ready);
        testing::ScriptedDialogs dialogs;
        dialogs.saveAnswers = {p.target("a.xls"), p.target("b.xls")};
        p.window.PushButton6_Click();
        p.window.PushButton6_Click();
        QCOMPARE(testing::fileBytes(p.target("a.xls")), p.workbook);
        QCOMPARE(testing::fileBytes(p.target("b.xls")), p.workbook);
        QVERIFY(QFile::exists(p.window.mExcelFile));
    }

    void aFailedSaveIsReportedKeepsTheOldFileAndSaysNoDone_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("folder does not exist") << "folder";
        QTest::newRow("temporary workbook gone") << "source";
        QTest::newRow("disk fills up") << "full";
    }
    void aFailedSaveIsReportedKeepsTheOldFileAndSaysNoDone()
    {
        QFETCH(QString, how);
        Preview p(m_env);
        QVERIFY(p.ready);
        testing::ScriptedDialogs dialogs;
        QString target = p.target("list.xls");
        QVERIFY(testing::writeFile(target, "mine"));
        if (how == "folder")
            target = p.target("no such folder/list.xls");
        else if (how == "source")
            QFile::remove(p.window.mExcelFile);
        dialogs.saveAnswers = {target};
        dialogs.messageAnswers = {platform::vbYes};

        std::optional<testing::FileSizeLimit> limit;
        if (how == "full") {
            if (!testing::FileSizeLimit::available())
                QSKIP("no limit on file sizes can be set here");
            // A file-size limit below the workbook's size fails the write part-way.
            QVERIFY(testing::writeFile(p.window.mExcelFile, QByteArray(64 * 1024, 'x')));
            limit.emplace(16 * 1024);
        }
        p.window.PushButton6_Click();
        limit.reset();

        const QStringList shown = dialogs.messages();
        QVERIFY(!shown.contains("Done."));
        QVERIFY2(shown.constLast().contains("Form2.PushButton6_Click at line 110"), qPrintable(shown.join('|')));
        QCOMPARE(testing::fileBytes(p.target("list.xls")), QByteArray("mine"));
        QCOMPARE(QDir(p.out.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"list.xls"});
    }

    void aNearlyFullDiskKeepsTheOldWorkbookAndSaysNoDone()
    {
        testing::SmallDisk disk(64);
        if (!disk.mounted())
            QSKIP(qPrintable(disk.whyNot()));
        Preview p(m_env);
        QVERIFY(p.ready);
        testing::ScriptedDialogs dialogs;
        QVERIFY(testing::writeFile(p.window.mExcelFile, QByteArray(17920, 'n')));
        const QString target = disk.filePath("list.xls");
        const QByteArray old(14848, 'o');
        QVERIFY(testing::writeFile(target, old));
        QVERIFY(disk.fillLeaving(4096));
        dialogs.saveAnswers = {target};
        dialogs.messageAnswers = {platform::vbYes};
        p.window.PushButton6_Click();
        const QStringList shown = dialogs.messages();
        QCOMPARE(shown.size(), 2); // the overwrite question, then the report
        QVERIFY2(shown[1].startsWith(QStringLiteral("Could not save %1: No space left on device (the disk is full)\r\n")
                                         .arg(target)),
                 qPrintable(shown[1]));
        QCOMPARE(testing::fileBytes(target), old);
        QCOMPARE(disk.entries(), QStringList{"list.xls"});
    }

    void savingOntoTheShownWorkbookIsRefused_data()
    {
        QTest::addColumn<bool>("throughALink");
        QTest::newRow("the same path") << false;
        QTest::newRow("a link to it") << true;
    }
    void savingOntoTheShownWorkbookIsRefused()
    {
        QFETCH(bool, throughALink);
        Preview p(m_env);
        QVERIFY(p.ready);
        testing::ScriptedDialogs dialogs;
        QString target = p.window.mExcelFile;
        if (throughALink) {
            target = p.target("alias.xls");
            QVERIFY(QFile::link(p.window.mExcelFile, target));
        }
        dialogs.saveAnswers = {target};
        p.window.PushButton6_Click();
        QCOMPARE(dialogs.asked.size(), size_t(2));
        QCOMPARE(dialogs.asked[1].style, platform::vbExclamation);
        QCOMPARE(dialogs.asked[1].text,
                 QStringLiteral("%1 is the temporary workbook this preview shows, which is deleted when you go back. "
                                "Please choose another name.")
                     .arg(target));
        QCOMPARE(testing::fileBytes(p.window.mExcelFile), p.workbook);
    }

    // The name chosen may be a link: the question names the file that would be replaced, and
    // another user's link in a shared folder, or a read-only file, is refused before it.
    void theQuestionNamesTheRealFileAndRefusalsComeFirst_data()
    {
        QTest::addColumn<QString>("layout");
        QTest::addColumn<QString>("said"); // %1 the name chosen, %2 the file it leads to
        QTest::newRow("own link") << "own-link" << "Are you sure you wish to overwrite %2 (which %1 links to) ?";
        QTest::newRow("another user's link in a shared folder")
            << "foreign-link" << "Could not save %1: %1 is a link to %2 that another user made in a shared folder; it is not followed";
        QTest::newRow("a read-only file") << "read-only" << "Could not save %1: it is read-only";
    }
    void theQuestionNamesTheRealFileAndRefusalsComeFirst()
    {
        QFETCH(QString, layout);
        QFETCH(QString, said);
        if (layout == "foreign-link" && ::geteuid() != 0)
            QSKIP("needs root to give a link to another user");
        Preview p(m_env);
        QVERIFY(p.ready);
        testing::ScriptedDialogs dialogs;
        QTemporaryDir home;
        QString real = home.filePath("notes.xls");
        QVERIFY(testing::writeFile(real, "precious"));
        QString target = p.target("list.xls");
        if (layout == "read-only") {
            real = target;
            QVERIFY(testing::writeFile(real, "precious"));
            QVERIFY(::chmod(QFile::encodeName(real).constData(), 0444) == 0);
        } else {
            QVERIFY(::chmod(QFile::encodeName(p.out.path()).constData(), 01777) == 0);
            QVERIFY(QFile::link(real, target));
            if (layout == "foreign-link")
                QVERIFY(::lchown(QFile::encodeName(target).constData(), 65534, 65534) == 0);
        }
        dialogs.saveAnswers = {target};
        dialogs.messageAnswers = {platform::vbNo};
        p.window.PushButton6_Click();
        QVERIFY2(dialogs.messages().value(0).startsWith(said.replace("%1", target).replace("%2", real)), qPrintable(dialogs.messages().value(0)));
        // A refusal is the only message: no question, no "Done.".
        QCOMPARE(dialogs.messages().size(), layout == "own-link" ? 2 : 1);
        QCOMPARE(testing::fileBytes(real), QByteArray("precious"));
    }

    void backDeletesTheWorkbookAndHandsBackToTheLists_data()
    {
        QTest::addColumn<bool>("byEsc");
        QTest::newRow("the button") << false;
        QTest::newRow("Esc") << true;
    }
    void backDeletesTheWorkbookAndHandsBackToTheLists()
    {
        QFETCH(bool, byEsc);
        Preview p(m_env);
        QVERIFY(p.ready);
        testing::ScriptedDialogs dialogs;
        p.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&p.window));
        QSignalSpy back(&p.window, &Form2::backToLists);
        if (byEsc)
            QTest::keyClick(&p.window, Qt::Key_Escape);
        else
            QTest::mouseClick(p.window.PushButton8, Qt::LeftButton);
        QCOMPARE(back.count(), 1);
        QVERIFY(!p.window.isVisible());
        QVERIFY(!QFile::exists(p.window.mExcelFile));
        QVERIFY(dialogs.asked.empty());
    }

    void everyControlHasANameOfItsOwnForScreenReaders()
    {
        Preview p(m_env);
        QVERIFY(p.ready);
        QMap<QString, QString> named; // name -> control
        for (QWidget *control : p.window.findChildren<QWidget *>()) {
            QAccessibleInterface *face = QAccessible::queryAccessibleInterface(control);
            const QAccessible::Role role = face ? face->role() : QAccessible::NoRole;
            const QString name = face ? face->text(QAccessible::Name) : QString();
            const QString what = control->objectName() + "/" + control->metaObject()->className();
            if (role == QAccessible::Button || role == QAccessible::ScrollBar || control == p.window.Label1 ||
                control == p.window.viewport().picture1()) {
                QVERIFY2(!name.isEmpty(), qPrintable(what));
            }
            if (name.isEmpty())
                continue;
            QVERIFY2(!named.contains(name), qPrintable(name + ": " + named.value(name) + " and " + what));
            named.insert(name, what);
        }
        QCOMPARE(QAccessible::queryAccessibleInterface(p.window.viewport().picture1())->text(QAccessible::Name),
                 QStringLiteral("Picture of the workbook"));
        QCOMPARE(QAccessible::queryAccessibleInterface(p.window.PushButton9)->text(QAccessible::Name),
                 QStringLiteral("Print the workbook"));
    }

    void theZoomLabelFollowsTheFactor()
    {
        Preview p(m_env);
        QVERIFY(p.ready);
        p.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&p.window));
        QCOMPARE(p.window.Label1->text(), QStringLiteral("100 %"));
        QTest::mouseClick(p.window.PushButton1, Qt::LeftButton);
        QCOMPARE(p.window.Label1->text(), QStringLiteral("125 %"));
        for (int k = 0; k < 5; ++k)
            QTest::mouseClick(p.window.PushButton2, Qt::LeftButton);
        QCOMPARE(p.window.Label1->text(), QStringLiteral("25 %"));
        // The caption stays as it is.
        QCOMPARE(p.window.windowTitle(), QStringLiteral("Pantrimo"));
    }

    void closingDeletesTheWorkbookAndEndsTheProgram()
    {
        Preview p(m_env);
        QVERIFY(p.ready);
        testing::ScriptedDialogs dialogs;
        p.window.show();
        QSignalSpy ending(&p.window, &Form2::closingProgram);
        p.window.close();
        QCOMPARE(ending.count(), 1);
        QVERIFY(!QFile::exists(p.window.mExcelFile));
        QVERIFY(dialogs.asked.empty());
    }

    void closingThePreviewStoresTheLists()
    {
        testing::ScriptedDialogs dialogs;
        platform::registerExcelApplication("builtin");
        shell::Form1 w;
        QVERIFY(w.Form_Load());
        QSignalSpy ending(&w, &shell::Form1::programEnding);
        w.PushButton6_Click();
        w.PushButton1_Click();
        QVERIFY(w.form2().isVisible());
        w.form2().close();
        QCOMPARE(ending.count(), 1);
        QSettings s(QSettings::IniFormat, QSettings::UserScope, "Quillmark");
        QCOMPARE(s.value("Pantrimo/List2").toString(), QStringLiteral("Milk"));
        QCOMPARE(QDir(m_env.tempPath()).entryList(QDir::Files), QStringList());
        QCOMPARE(dialogs.messages(), QStringList());
    }

    void backThenANewRunShowsTheNewListZoomedFromTheTopLeft()
    {
        testing::ScriptedDialogs dialogs;
        platform::registerExcelApplication("builtin");
        shell::Form1 w;
        QVERIFY(w.Form_Load());
        w.show();
        w.List1[0]->addItem("First list");
        w.PushButton1_Click();
        Form2 &preview = w.form2();
        QTRY_VERIFY(preview.isVisible());
        const QImage first = preview.viewport().zoomOri()->picture().copy();
        preview.PushButton1_Click();
        preview.PushButton1_Click();
        preview.viewport().hScroll1()->setValue(20);
        preview.PushButton8_Click();
        QVERIFY(w.isVisible());

        w.PushButton5_Click();
        w.List1[14]->addItem("Second list");
        w.PushButton1_Click();
        QTRY_COMPARE(preview.viewport().viewport().zoom(), 1.0f);
        QVERIFY(preview.viewport().zoomOri()->picture() != first);
        preview.PushButton1_Click();
        QCOMPARE(preview.viewport().viewport().zoom(), 1.25f);
        QCOMPARE(preview.viewport().picture1()->pos(), QPoint(0, 0));
        // The built-in server's workbook is drawn from its sheet, at the zoomed size.
        QVERIFY(preview.viewport().drawsSheet());
        QCOMPARE(preview.viewport().picture1()->width(), qFloor(preview.viewport().zoomOri()->picture().width() * 1.25));
        QCOMPARE(dialogs.messages(), QStringList());
    }

    void saveThroughTheRealDialogsAndMessageBoxes()
    {
        Preview p(m_env);
        QVERIFY(p.ready);
        const QString target = p.target("real.xls");
        QVERIFY(testing::writeFile(target, "old"));
        p.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&p.window));
        QStringList seen;
        // Each step finds the modal widget the program is waiting in and answers it.
        std::function<void()> answer = [&] {
            QWidget *modal = QApplication::activeModalWidget();
            if (auto *dlg = qobject_cast<QFileDialog *>(modal)) {
                seen << "dialog:" + dlg->windowTitle() + ":" + dlg->nameFilters().join(";");
                auto *edit = dlg->findChild<QLineEdit *>("fileNameEdit");
                edit->setText(target);
                QTimer::singleShot(50, answer);
                QTest::keyClick(edit, Qt::Key_Return);
            } else if (auto *box = qobject_cast<QMessageBox *>(modal)) {
                seen << "box:" + box->text();
                QAbstractButton *button = box->button(QMessageBox::Yes) ? box->button(QMessageBox::Yes)
                                                                         : box->button(QMessageBox::Ok);
                if (box->text() != "Done.")
                    QTimer::singleShot(50, answer);
                button->click();
            } else {
                QTimer::singleShot(20, answer);
            }
        };
        QTimer::singleShot(50, answer);
        p.window.PushButton6_Click();
        QCOMPARE(seen, QStringList({"dialog:Save File:Excel Files (*.xls)",
                                    "box:Are you sure you wish to overwrite " + target + " ?", "box:Done."}));
        QCOMPARE(testing::fileBytes(target), p.workbook);
    }

private:
    testing::TestEnvironment m_env;
};

QTEST_MAIN(TestForm2)
#include "test_form2.moc"
