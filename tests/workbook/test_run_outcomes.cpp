// What a generation run leaves behind, beyond the filled workbook: the user's clipboard, the
// preview's picture after a failed load, the busy pointer, the random name, a server that
// answers Nothing, and a main window closed while the run lets messages through.

#include "app/Form1.h"
#include "preview/Form2.h"
#include "tests/support/ScriptedDialogs.h"
#include "tests/support/TestEnvironment.h"
#include "platform/automation/ClassRegistry.h"
#include "platform/excel/builtin/BuiltinExcel.h"
#include "platform/excel/ExcelServer.h"
#include "platform/services/FileSystem.h"
#include "workbook/GenerationRun.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QDirIterator>
#include <QGuiApplication>
#include <QListWidget>
#include <QMimeData>
#include <QRegularExpression>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>

using shell::Form1;

namespace {

// The run against windows that only record what the run asks of them.
class RecordingWindows : public workbook::RunWindows {
public:
    explicit RecordingWindows(QString temp) : m_temp(std::move(temp)) {}
    bool generating = false;
    QStringList items = {"Turkey", "Haddock"};
    // Each pointer change with what the temporary folder held at that moment.
    struct PointerChange {
        int value;
        bool workbookSaved, pictureWritten;
    };
    std::vector<PointerChange> pointer;
    QImage picture;
    QString workbook;

    bool &generatingFlag() override { return generating; }
    int itemCount(int category) override { return category == 0 ? int(items.size()) : 0; }
    QString item(int, int k) override { return items.at(k); }
    void setMousePointer(int value) override
    {
        // The run keeps its files in a folder of its own inside the temporary folder.
        QStringList files;
        for (QDirIterator it(m_temp, QDir::Files, QDirIterator::Subdirectories); it.hasNext();)
            files << QFileInfo(it.next()).fileName();
        pointer.push_back({value, !files.filter(QRegularExpression("^wendle")).isEmpty(), files.contains("temp.bmp")});
    }
    void setPreviewPicture(const QImage &p) override { picture = p; }
    void setPreviewWorkbook(const QString &path) override { workbook = path; }
    void showPreview() override {}
    void hideMain() override {}

private:
    QString m_temp;
};

// A spreadsheet server whose Workbooks answers Nothing (a null object reference).
class ServerWithoutWorkbooks : public automation::DispatchObject {
public:
    ServerWithoutWorkbooks()
    {
        addGetter("Workbooks", [](const automation::Args &) { return automation::Variant(automation::ObjectRef()); });
        addGetter("Version", [](const automation::Args &) { return automation::Variant("16.0"); });
        addGetter("Quit", [](const automation::Args &) { return automation::Variant(); });
        addSetter("DisplayAlerts", [](const automation::Args &, const automation::Variant &) {});
    }
    QString className() const override { return QStringLiteral("Application"); }
};

QList<int> reportedLines(const testing::ScriptedDialogs &dialogs, const QString &location)
{
    const QRegularExpression where("\\." + QRegularExpression::escape(location) + " at line (\\d+)");
    QList<int> lines;
    for (const QString &text : dialogs.messages())
        if (const auto m = where.match(text); m.hasMatch())
            lines << m.captured(1).toInt();
    return lines;
}

QByteArray kOwnFormat = "application/x-pantrimo-test";

} // namespace

class TestRunOutcomes : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        m_env.isolate();
        platform::registerFileSystemObject();
        platform::registerExcelApplication("builtin");
    }
    void cleanup()
    {
        QGuiApplication::clipboard()->clear();
        m_env.restore();
    }

    void theUsersClipboardComesBackWithEveryFormat()
    {
        testing::ScriptedDialogs dialogs;
        auto *held = new QMimeData;
        held->setText("a shopping note");
        held->setHtml("<b>a shopping note</b>");
        held->setData(kOwnFormat, QByteArray("\x00\x01raw", 5));
        QGuiApplication::clipboard()->setMimeData(held);
        Form1 w;
        QVERIFY(w.Form_Load());
        w.List1[0]->addItem("Turkey");
        w.PushButton1_Click();
        QCOMPARE(dialogs.messages(), QStringList());
        QVERIFY(!w.form2().viewport().zoomOri()->picture().isNull()); // the capture did go through it
        const QMimeData *now = QGuiApplication::clipboard()->mimeData();
        QVERIFY(now);
        QCOMPARE(now->text(), QStringLiteral("a shopping note"));
        QCOMPARE(now->html(), QStringLiteral("<b>a shopping note</b>"));
        QCOMPARE(now->data(kOwnFormat), QByteArray("\x00\x01raw", 5));
        QVERIFY(!now->hasImage());
    }

    void anEmptyClipboardStaysEmpty()
    {
        testing::ScriptedDialogs dialogs;
        QGuiApplication::clipboard()->clear();
        Form1 w;
        QVERIFY(w.Form_Load());
        w.PushButton1_Click();
        QCOMPARE(dialogs.messages(), QStringList());
        const QMimeData *now = QGuiApplication::clipboard()->mimeData();
        QVERIFY(!now || now->formats().isEmpty());
    }

    void whatAnotherOwnerPutThereMeanwhileIsLeftAlone()
    {
        testing::ScriptedDialogs dialogs;
        QGuiApplication::clipboard()->setText("before the run");
        // Once the capture's picture is there, someone copies a text; it arrives while the run
        // lets messages through (removing temp.bmp).
        bool armed = true;
        QMetaObject::Connection watch = connect(QGuiApplication::clipboard(), &QClipboard::dataChanged, this, [&] {
            const QMimeData *now = QGuiApplication::clipboard()->mimeData();
            if (armed && now && now->hasImage()) {
                armed = false;
                QTimer::singleShot(0, this, [] { QGuiApplication::clipboard()->setText("copied meanwhile"); });
            }
        });
        Form1 w;
        QVERIFY(w.Form_Load());
        w.PushButton1_Click();
        disconnect(watch);
        QVERIFY(!armed);
        QCOMPARE(dialogs.messages(), QStringList());
        QCOMPARE(QGuiApplication::clipboard()->text(), QStringLiteral("copied meanwhile"));
    }

    // "< Back", then a run whose picture cannot be loaded: the preview shows no picture
    // rather than the first run's beside the second run's workbook.
    void aPictureThatFailsToLoadLeavesThePreviewEmpty()
    {
        testing::ScriptedDialogs dialogs;
        Form1 w;
        QVERIFY(w.Form_Load());
        w.show();
        w.List1[0]->addItem("Turkey");
        w.PushButton1_Click();
        QVERIFY(!w.form2().viewport().zoomOri()->picture().isNull());
        w.form2().PushButton8_Click();
        QCOMPARE(dialogs.messages(), QStringList());
        // A copy that puts no picture on the clipboard: the capture writes no file, and the
        // load fails.
        excel::setCopyPictureHandler([](const excel::RangeRef &) -> xls::Status { return {}; });
        w.List1[0]->addItem("Haddock");
        w.PushButton1_Click();
        QVERIFY(reportedLines(dialogs, "PushButton1_Click").contains(296));
        QVERIFY(w.form2().isVisible());
        QApplication::processEvents(); // the first showing initialises the viewport
        QVERIFY(w.form2().viewport().zoomOri()->picture().isNull());
        QVERIFY(w.form2().viewport().picture1()->picture().isNull());
        QVERIFY(QFile::exists(w.form2().mExcelFile));
    }

    // Closed while the run writes its template (it lets messages through there): the run goes
    // to its end, and then the program ends with nothing of the run left in the folder.
    void closingTheMainWindowDuringARunEndsWithoutLeftovers()
    {
        testing::ScriptedDialogs dialogs;
        Form1 w;
        QVERIFY(w.Form_Load());
        w.show();
        w.List1[0]->addItem("Turkey");
        QSignalSpy ending(&w, &Form1::programEnding);
        bool closed = false;
        QTimer::singleShot(0, &w, [&] { closed = w.close(); });
        QTest::mouseClick(w.PushButton1, Qt::LeftButton);
        QVERIFY(closed);
        QCOMPARE(ending.size(), 1);
        QVERIFY(!w.mGenerating);
        QVERIFY(!w.isVisible());
        QVERIFY(!w.form2().isVisible());
        QCOMPARE(QDir(m_env.tempPath()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden), QStringList());
        QCOMPARE(dialogs.messages(), QStringList());
        // The lists were stored on the close.
        QCOMPARE(m_env.storedSettings()->value("Pantrimo/List0").toString(), QStringLiteral("Turkey"));
    }

    void workbooksAnsweringNothingIsAnErrorAtItsStep()
    {
        testing::ScriptedDialogs dialogs;
        automation::ClassRegistry::instance().registerClass(
            QStringLiteral("Excel.Application"), [] { return std::make_shared<ServerWithoutWorkbooks>(); });
        RecordingWindows windows(m_env.tempPath());
        workbook::NameDrawer names(7);
        workbook::PushButton1_Click(windows, names);
        const QList<int> lines = reportedLines(dialogs, "PushButton1_Click");
        QVERIFY2(lines.size() >= 2 && lines.at(0) == 112, qPrintable(dialogs.messages().join("\n")));
        QVERIFY(dialogs.messages().at(0).startsWith("Object variable not set"));
        QVERIFY(lines.contains(280));
        QVERIFY(!windows.generating);
    }

    // Hourglass while the cells are filled (104 to 250) and while the sheet is captured (282 to
    // 294); the arrow while the workbook is saved in between.
    void theBusyPointerCoversFillingAndCapture()
    {
        testing::ScriptedDialogs dialogs;
        RecordingWindows windows(m_env.tempPath());
        workbook::NameDrawer names(7);
        workbook::PushButton1_Click(windows, names);
        QCOMPARE(dialogs.messages(), QStringList());
        QCOMPARE(windows.pointer.size(), size_t(4));
        const int values[] = {11, 0, 11, 0};
        const bool saved[] = {false, false, true, true};
        const bool pictured[] = {false, false, false, true};
        for (size_t k = 0; k < 4; ++k) {
            QCOMPARE(windows.pointer[k].value, values[k]);
            QCOMPARE(windows.pointer[k].workbookSaved, saved[k]);
            QCOMPARE(windows.pointer[k].pictureWritten, pictured[k]);
        }
    }

    // The hover handlers run while the run lets messages through, and leave the hourglass.
    void hoverDuringARunKeepsTheHourglass()
    {
        testing::ScriptedDialogs dialogs;
        Form1 w;
        QVERIFY(w.Form_Load());
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QList<int> seen;
        QTimer::singleShot(0, &w, [&] {
            seen << w.mousePointer().value();
            QTest::mouseMove(w.PushButton6, w.PushButton6->rect().center());
            seen << w.mousePointer().value();
            QTest::mouseMove(&w, {3, 3});
            seen << w.mousePointer().value();
            QTest::mouseMove(w.List1[2]->viewport(), {5, 5});
            seen << w.mousePointer().value();
        });
        QTest::mouseClick(w.PushButton1, Qt::LeftButton);
        QCOMPARE(seen, QList<int>({11, 11, 11, 11}));
        // After the run, the same moves switch as usual.
        w.form2().PushButton8_Click();
        QTest::mouseMove(w.PushButton6, w.PushButton6->rect().center() + QPoint(1, 0));
        QCOMPARE(w.mousePointer().value(), 99);
    }

    void theNameIsWendleAndEightDigitsFromOneToNine()
    {
        workbook::NameDrawer names(12345);
        const QRegularExpression form("^wendle[1-9]{8}$");
        QSet<QChar> digits;
        for (int k = 0; k < 2000; ++k) {
            const QString name = names.draw();
            QCOMPARE(name.size(), 14);
            QVERIFY2(form.match(name).hasMatch(), qPrintable(name));
            for (QChar c : name.mid(6))
                digits.insert(c);
        }
        QCOMPARE(digits.size(), 9); // every digit 1 to 9 turns up, 0 never
    }

    void aTakenNameIsDrawnAgain()
    {
        testing::ScriptedDialogs dialogs;
        workbook::NameDrawer preview(99);
        const QString taken = preview.draw(), alsoTaken = preview.draw(), free = preview.draw();
        // The names are taken in the run's own folder, once the run has made it (it lets
        // messages through while it writes the template there).
        QString runFolder;
        QTimer::singleShot(0, this, [&] {
            const QStringList made = QDir(m_env.tempPath()).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
            QCOMPARE(made.size(), 1);
            runFolder = QDir(m_env.tempPath()).filePath(made.front());
            for (const QString &name : {taken, alsoTaken}) {
                QFile f(QDir(runFolder).filePath(name + ".xls"));
                QVERIFY(f.open(QIODevice::WriteOnly));
                f.write("someone else's");
            }
        });
        RecordingWindows windows(m_env.tempPath());
        workbook::NameDrawer names(99);
        workbook::PushButton1_Click(windows, names);
        if (QTest::currentTestFailed()) // in the planting above, which returns only from itself
            return;
        QVERIFY(!runFolder.isEmpty());
        QCOMPARE(dialogs.messages(), QStringList());
        QCOMPARE(windows.workbook, QDir(runFolder).filePath(free + ".xls"));
        QFile old(QDir(runFolder).filePath(taken + ".xls"));
        QVERIFY(old.open(QIODevice::ReadOnly));
        QCOMPARE(old.readAll(), QByteArray("someone else's"));
    }

private:
    testing::TestEnvironment m_env;
};

QTEST_MAIN(TestRunOutcomes)
#include "test_run_outcomes.moc"
