// "Start Creating Template" on the real main window with PANTRIMO_EXCEL=libreoffice: the
// program above the server is unchanged, so its workbook must equal the built-in server's
// cell for cell (read by xlrd), and its preview must show a picture of the same sheet.

#include "app/Form1.h"
#include "libreoffice/LibreOfficeExcel.h"
#include "preview/Form2.h"
#include "ScriptedDialogs.h"
#include "TestEnvironment.h"
#include "services/ExcelServer.h"
#include "services/FileSystem.h"

#include <QDir>
#include <QListWidget>
#include <QProcess>
#include <QRegularExpression>
#include <QTest>

using shell::Form1;

namespace {

struct RunResult {
    QString workbook; // a copy, outliving the run's temporary folder
    QImage picture;
    QStringList messages;
    QStringList tempFiles;
};

using Fill = std::function<void(Form1 &)>;

RunResult generate(const QString &server, const Fill &fill, const QString &keepAs)
{
    testing::IsolatedFolders folders;
    testing::ScriptedDialogs dialogs;
    platform::registerExcelApplication(server);
    RunResult result;
    Form1 w;
    if (!w.Form_Load())
        return result;
    fill(w);
    w.PushButton1_Click();
    result.messages = dialogs.messages();
    result.tempFiles = folders.runFiles() + QDir(folders.tempPath()).entryList(QDir::Files | QDir::Hidden);
    result.picture = w.form2().viewport().zoomOri()->picture();
    if (QFile::copy(w.form2().mExcelFile, keepAs))
        result.workbook = keepAs;
    return result;
}

QString compareBooks(const QString &a, const QString &b)
{
    QProcess p;
    p.start("/usr/bin/python3", {QStringLiteral(COMPARE_BOOKS), a, b});
    p.waitForFinished(120000);
    if (p.exitCode() == 77)
        return QStringLiteral("(xlrd missing)");
    return p.exitCode() == 0 ? QString() : QString::fromUtf8(p.readAll());
}

bool officeInstalled() { return !lo::findOfficeBinary(QString()).isEmpty(); }

} // namespace

class TestLibreOfficeRun : public QObject {
    Q_OBJECT
    QTemporaryDir m_keep;

private slots:
    void init()
    {
        platform::registerFileSystemObject();
        qunsetenv("PANTRIMO_SOFFICE");
    }
    void cleanup() { qunsetenv("PANTRIMO_SOFFICE"); }

    void sameWorkbookAndPictureAsTheBuiltinServer_data()
    {
        QTest::addColumn<Fill>("fill");
        QTest::newRow("all lists empty") << Fill([](Form1 &) {});
        QTest::newRow("eleventh item goes right") << Fill([](Form1 &w) {
            for (int k = 1; k <= 11; ++k)
                w.List1[5]->addItem(QStringLiteral("Peas %1").arg(k));
        });
        QTest::newRow("every list full, awkward texts") << Fill([](Form1 &w) {
            for (int i = 0; i < 15; ++i)
                for (int k = 0; k < 20; ++k)
                    w.List1[i]->addItem(QStringLiteral("Item %1-%2").arg(i).arg(k + 1));
            w.List1[3]->item(0)->setText(QString::fromUtf8("Crème fraîche 🥕"));
            w.List1[14]->item(19)->setText(QStringLiteral("Foil;Wrap \"heavy\", 30 m"));
            w.List1[7]->item(10)->setText(QStringLiteral(" "));
            w.List1[8]->item(2)->setText(QStringLiteral("=SUM(A1:A3)"));
            w.List1[9]->item(4)->setText(QStringLiteral("0042"));
        });
    }

    void sameWorkbookAndPictureAsTheBuiltinServer()
    {
        if (!officeInstalled())
            QSKIP("LibreOffice is not installed (no soffice.bin): the run through it is not tested");
        QFETCH(Fill, fill);
        const QString tag = QString::fromLatin1(QTest::currentDataTag()).replace(' ', '_');
        const RunResult builtin = generate("builtin", fill, m_keep.filePath(tag + "_builtin.xls"));
        const RunResult office = generate("libreoffice", fill, m_keep.filePath(tag + "_libreoffice.xls"));

        QCOMPARE(office.messages, QStringList());
        QVERIFY(!office.workbook.isEmpty());
        QVERIFY(!builtin.workbook.isEmpty());
        // Only the workbook is left: no template, picture or office lock file.
        QCOMPARE(office.tempFiles.size(), 1);
        QVERIFY(office.tempFiles[0].contains(QRegularExpression("^wendle[1-9]{8}\\.xls$")));
        const QString differences = compareBooks(builtin.workbook, office.workbook);
        if (differences == QLatin1String("(xlrd missing)"))
            QSKIP("python3-xlrd is not installed: the workbooks were not compared");
        QVERIFY2(differences.isEmpty(), qPrintable(differences));

        // The same sheet, drawn by another renderer: the whole used range, in the same shape.
        QVERIFY(!office.picture.isNull());
        const double officeShape = double(office.picture.height()) / office.picture.width();
        const double builtinShape = double(builtin.picture.height()) / builtin.picture.width();
        QVERIFY2(std::abs(officeShape / builtinShape - 1.0) < 0.2,
                 qPrintable(QStringLiteral("%1x%2 against %3x%4")
                                .arg(office.picture.width())
                                .arg(office.picture.height())
                                .arg(builtin.picture.width())
                                .arg(builtin.picture.height())));
    }

    void startUpTestWithoutLibreOfficeShowsTheFiveParagraphs()
    {
        testing::IsolatedFolders folders;
        testing::ScriptedDialogs dialogs;
        qputenv("PANTRIMO_SOFFICE", QDir(folders.tempPath()).filePath("not-installed/soffice").toLocal8Bit());
        platform::registerExcelApplication("libreoffice");
        Form1 w;
        QVERIFY(!w.Form_Load());
        QCOMPARE(dialogs.asked.size(), size_t(1));
        const QStringList paragraphs = dialogs.asked[0].text.split("\r\n\r\n");
        QCOMPARE(paragraphs.size(), 5);
        QCOMPARE(paragraphs[0], QStringLiteral("Error 842001. A normal instance of Excel could not be created."));
    }
};

QTEST_MAIN(TestLibreOfficeRun)
#include "test_libreoffice_run.moc"
