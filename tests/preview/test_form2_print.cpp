// The preview window's Print... and Export PDF...: from the context menu and the keys, through
// the scripted and the real dialogs, onto real files; failures reported, old files kept.

#include "shell/AppTitle.h"
#include "preview/Form2.h"
#include "tests/support/ScriptedDialogs.h"
#include "tests/support/SmallDisk.h"
#include "tests/support/TestEnvironment.h"
#include "platform/services/FileSystem.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPageSize>
#include <QPrinter>
#include <QProcess>
#include <QTest>
#include <QTimer>

#include <csignal>
#include <optional>
#include <sys/resource.h>

using preview::Form2;

namespace {


// pdfinfo's "Key: value" lines.
QMap<QString, QString> pdfInfo(const QString &path)
{
    QProcess p;
    p.start(QStringLiteral("pdfinfo"), {path});
    p.waitForFinished(30000);
    QMap<QString, QString> info;
    for (const QString &line : QString::fromUtf8(p.readAllStandardOutput()).split(QLatin1Char('\n'))) {
        const qsizetype colon = line.indexOf(QLatin1Char(':'));
        if (colon > 0)
            info[line.left(colon)] = line.mid(colon + 1).trimmed();
    }
    return info;
}

// A loaded preview window over a copy of the template as its temporary workbook.
struct Preview {
    QTemporaryDir out;
    Form2 window;
    bool ready = false; // its temporary workbook is in place: the test checks

    explicit Preview(const testing::TestEnvironment &env)
    {
        shell::SetAppTitle();
        window.Form_Load();
        QImage capture(300, 200, QImage::Format_RGB32);
        capture.fill(Qt::white);
        window.setCapture(capture);
        window.mExcelFile = QDir(env.tempPath()).filePath("wendle12345678.xls");
        ready = QFile::copy(QStringLiteral(PANTRIMO_TEMPLATE_XLS), window.mExcelFile);
    }
    QString target(const QString &name) const { return out.filePath(name); }
};

// Answers the print dialog by printing to a PDF file.
class PrintToFile : public testing::ScriptedDialogs {
public:
    QString file;
    bool accept = true;
    int asked = 0;
    std::optional<QPageSize> paper; // what the user picks in the dialog, if anything
    bool choosePrinter(QPrinter &printer) override
    {
        ++asked;
        printer.setOutputFormat(QPrinter::PdfFormat);
        printer.setOutputFileName(file);
        if (paper)
            printer.setPageSize(*paper);
        return accept;
    }
};

} // namespace

class TestForm2Print : public QObject {
    Q_OBJECT
private slots:
    void init() { m_env.isolate(); }
    void cleanup() { m_env.restore(); }
    void initTestCase() { platform::registerFileSystemObject(); }

    void exportAddsTheExtensionAndWritesAVectorPdf_data()
    {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("written");
        QTest::newRow("no extension: .pdf added") << "list" << "list.pdf";
        QTest::newRow("an extension is kept") << "list.PDF" << "list.PDF";
    }
    void exportAddsTheExtensionAndWritesAVectorPdf()
    {
        QFETCH(QString, typed);
        QFETCH(QString, written);
        Preview p(m_env);
        QVERIFY(p.ready);
        testing::ScriptedDialogs dialogs;
        dialogs.saveAnswers = {p.target(typed)};
        p.window.mnuExportPdf_Click();
        QCOMPARE(dialogs.asked[0].kind, testing::AskedDialog::Save);
        QCOMPARE(dialogs.asked[0].text, QStringLiteral("Export PDF"));
        QCOMPARE(dialogs.asked[0].title, QStringLiteral("PDF Files (*.pdf)|*.pdf|"));
        QCOMPARE(dialogs.messages(), QStringList{"Done."});
        QCOMPARE(QDir(p.out.path()).entryList(QDir::Files | QDir::Hidden), QStringList{written});
        const QMap<QString, QString> info = pdfInfo(p.target(written));
        QCOMPARE(info.value("Title"), QStringLiteral("Grocery List"));
        QCOMPARE(info.value("Pages"), QStringLiteral("1"));
        QVERIFY2(info.value("Page size").startsWith("612 x 792"), qPrintable(info.value("Page size")));
    }

    void cancelAndNoWriteNothing()
    {
        Preview p(m_env);
        QVERIFY(p.ready);
        testing::ScriptedDialogs dialogs;
        p.window.mnuExportPdf_Click(); // cancelled: no file, no message
        QCOMPARE(dialogs.messages(), QStringList());
        const QString target = p.target("list.pdf");
        QVERIFY(testing::writeFile(target, "mine"));
        dialogs.saveAnswers = {target};
        dialogs.messageAnswers = {platform::vbNo};
        p.window.mnuExportPdf_Click();
        QCOMPARE(dialogs.messages(), QStringList{"Are you sure you wish to overwrite " + target + " ?"});
        QCOMPARE(testing::fileBytes(target), QByteArray("mine"));
    }

    void failuresAreReportedAndTheOldFileSurvives_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("the workbook is damaged") << "damaged";
        QTest::newRow("the disk fills up") << "full";
    }
    void failuresAreReportedAndTheOldFileSurvives()
    {
        QFETCH(QString, how);
        Preview p(m_env);
        QVERIFY(p.ready);
        testing::ScriptedDialogs dialogs;
        QString target = p.target("list.pdf");
        QVERIFY(testing::writeFile(target, "mine"));
        if (how == "damaged")
            QVERIFY(testing::writeFile(p.window.mExcelFile, "not a workbook at all"));
        dialogs.saveAnswers = {target};
        struct rlimit old {};
        void (*oldHandler)(int) = nullptr;
        if (how == "full") {
            ::getrlimit(RLIMIT_FSIZE, &old);
            oldHandler = std::signal(SIGXFSZ, SIG_IGN);
            struct rlimit small = old;
            small.rlim_cur = 16 * 1024; // the PDF of the template is far larger
            ::setrlimit(RLIMIT_FSIZE, &small);
        }
        p.window.mnuExportPdf_Click();
        if (how == "full") {
            ::setrlimit(RLIMIT_FSIZE, &old);
            std::signal(SIGXFSZ, oldHandler);
        }
        const QStringList shown = dialogs.messages();
        QVERIFY(!shown.contains("Done."));
        QVERIFY2(shown.constLast().contains("Form2.mnuExportPdf_Click at line 112"), qPrintable(shown.join('|')));
        if (how == "full")
            QVERIFY2(shown.constLast().contains("File too large"), qPrintable(shown.constLast()));
        QCOMPARE(testing::fileBytes(p.target("list.pdf")), QByteArray("mine"));
        QCOMPARE(QDir(p.out.path()).entryList(QDir::Files | QDir::Hidden), QStringList{"list.pdf"});
    }

    void exportOntoThePreviewedWorkbookIsRefused()
    {
        Preview p(m_env);
        QVERIFY(p.ready);
        testing::ScriptedDialogs dialogs;
        dialogs.saveAnswers = {p.window.mExcelFile};
        p.window.mnuExportPdf_Click();
        QCOMPARE(dialogs.messages().size(), 1);
        QVERIFY(dialogs.messages()[0].startsWith(p.window.mExcelFile + " is the temporary workbook this preview shows"));
        QCOMPARE(dialogs.asked[1].style, int(platform::vbExclamation));
        QCOMPARE(testing::fileBytes(p.window.mExcelFile), testing::fileBytes(PANTRIMO_TEMPLATE_XLS));
    }

    void keysAndContextMenuReachBothCommands()
    {
        Preview p(m_env);
        QVERIFY(p.ready);
        p.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&p.window));
        PrintToFile dialogs;
        dialogs.file = p.target("printed.pdf");
        dialogs.saveAnswers = {p.target("keys")};
        QTest::keyClick(&p.window, Qt::Key_E, Qt::ControlModifier);
        QVERIFY(QFile::exists(p.target("keys.pdf")));
        QTest::keyClick(&p.window, Qt::Key_P, Qt::ControlModifier);
        QCOMPARE(dialogs.asked, 1);
        QVERIFY(QFile::exists(p.target("printed.pdf")));
        for (QWidget *picture : {static_cast<QWidget *>(p.window.viewport().picture1()), static_cast<QWidget *>(p.window.viewport().picture2())}) {
            QCOMPARE(picture->contextMenuPolicy(), Qt::ActionsContextMenu);
            QCOMPARE(picture->actions(), (QList<QAction *>{p.window.mnuPrint, p.window.mnuExportPdf}));
        }
        QCOMPARE(p.window.mnuPrint->text(), QStringLiteral("&Print..."));
        QCOMPARE(p.window.mnuExportPdf->text(), QStringLiteral("&Export PDF..."));

        // And the two buttons on the window.
        dialogs.saveAnswers = {p.target("button")};
        QTest::mouseClick(p.window.PushButton10, Qt::LeftButton);
        QVERIFY(QFile::exists(p.target("button.pdf")));
        QVERIFY(QFile::remove(dialogs.file));
        QTest::mouseClick(p.window.PushButton9, Qt::LeftButton);
        QCOMPARE(dialogs.asked, 2);
        QVERIFY(QFile::exists(dialogs.file));
    }

    void printGoesThroughThePrinterTheUserChose_data()
    {
        QTest::addColumn<bool>("a4");
        QTest::addColumn<QString>("pageSize");
        // The dialog offers the sheet's paper, Letter, where the printer knows no other.
        QTest::newRow("the paper offered") << false << "612 x 792";
        QTest::newRow("A4 chosen in the dialog") << true << "595 x 842";
    }
    void printGoesThroughThePrinterTheUserChose()
    {
        QFETCH(bool, a4);
        QFETCH(QString, pageSize);
        Preview p(m_env);
        QVERIFY(p.ready);
        PrintToFile dialogs;
        dialogs.file = p.target("printed.pdf");
        if (a4)
            dialogs.paper = QPageSize(QPageSize::A4);
        p.window.mnuPrint_Click();
        QCOMPARE(dialogs.messages(), QStringList());
        const QMap<QString, QString> info = pdfInfo(dialogs.file);
        // The sheet asks to be fitted on one page: on whichever paper.
        QCOMPARE(info.value("Pages"), QStringLiteral("1"));
        QVERIFY2(info.value("Page size").startsWith(pageSize), qPrintable(info.value("Page size")));

        dialogs.accept = false;
        dialogs.file = p.target("cancelled.pdf");
        p.window.mnuPrint_Click();
        QVERIFY(!QFile::exists(dialogs.file));
    }

    void printWithoutTheWorkbookReportsAndAsksNothing()
    {
        Preview p(m_env);
        QVERIFY(p.ready);
        PrintToFile dialogs;
        dialogs.file = p.target("printed.pdf");
        QFile::remove(p.window.mExcelFile);
        p.window.mnuPrint_Click();
        QCOMPARE(dialogs.asked, 0);
        QCOMPARE(dialogs.messages().size(), 1);
        QVERIFY(dialogs.messages()[0].contains("Form2.mnuPrint_Click at line 100"));
        QVERIFY(dialogs.messages()[0].contains("does not exist"));
    }

    void exportThroughTheRealDialogAndMessageBox()
    {
        Preview p(m_env);
        QVERIFY(p.ready);
        const QString typed = p.target("real");
        p.window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&p.window));
        QStringList seen;
        std::function<void()> answer = [&] {
            QWidget *modal = QApplication::activeModalWidget();
            if (auto *dlg = qobject_cast<QFileDialog *>(modal)) {
                seen << "dialog:" + dlg->windowTitle() + ":" + dlg->nameFilters().join(";");
                auto *edit = dlg->findChild<QLineEdit *>("fileNameEdit");
                edit->setText(typed);
                QTimer::singleShot(50, answer);
                QTest::keyClick(edit, Qt::Key_Return);
            } else if (auto *box = qobject_cast<QMessageBox *>(modal)) {
                seen << "box:" + box->text();
                box->button(QMessageBox::Ok)->click();
            } else {
                QTimer::singleShot(20, answer);
            }
        };
        QTimer::singleShot(50, answer);
        p.window.mnuExportPdf_Click();
        QCOMPARE(seen, QStringList({"dialog:Export PDF:PDF Files (*.pdf)", "box:Done."}));
        QCOMPARE(pdfInfo(typed + ".pdf").value("Title"), QStringLiteral("Grocery List"));
    }

private:
    testing::TestEnvironment m_env;
};

QTEST_MAIN(TestForm2Print)
#include "test_form2_print.moc"
