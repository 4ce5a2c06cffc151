// When the main window restores and stores the lists, and when the preview initialises its
// viewport: the order of start-up, a session's end, and activations of one showing.

#include "app/Form1.h"
#include "preview/Form2.h"
#include "tests/support/FakeServer.h"
#include "tests/support/ListItems.h"
#include "tests/support/ScriptedDialogs.h"
#include "tests/support/TestEnvironment.h"
#include "platform/excel/ExcelServer.h"
#include "platform/services/FileSystem.h"

#include <QApplication>
#include <QListWidget>
#include <QSessionManager>
#include <QSettings>
#include <QTest>

using shell::Form1;
using testing::itemsOf;

namespace {
void writeStoredLists(const testing::TestEnvironment &env, const QMap<int, QString> &lists)
{
    const auto stored = env.storedSettings();
    for (auto it = lists.begin(); it != lists.end(); ++it)
        stored->setValue(QStringLiteral("Pantrimo/List%1").arg(it.key()), it.value());
}

// The session manager's request to save. Qt makes no QSessionManager outside a real session;
// the program's handler never looks at it, so the signal carries a stand-in.
void endTheSession()
{
    alignas(QSessionManager) static char standIn[sizeof(QSessionManager)] = {};
    emit qApp->commitDataRequest(*reinterpret_cast<QSessionManager *>(standIn));
}
} // namespace

class TestMainWindowLife : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        m_env.isolate();
        platform::registerFileSystemObject();
        testing::registerFakeExcel();
    }
    void cleanup() { m_env.restore(); }

    // The spreadsheet check comes last: when it creates its object, the lists are restored.
    void listsAreRestoredBeforeTheSpreadsheetCheck()
    {
        testing::ScriptedDialogs dialogs;
        writeStoredLists(m_env, {{0, "Turkey;Haddock"}, {14, "Tissues"}});
        Form1 w;
        QStringList seenAtCheck;
        automation::ClassRegistry::instance().registerClass(QStringLiteral("Excel.Application"), [&] {
            seenAtCheck = itemsOf(w.List1[0]) + itemsOf(w.List1[14]);
            return std::make_shared<testing::FakeExcel>();
        });
        QVERIFY(w.Form_Load());
        QCOMPARE(seenAtCheck, QStringList({"Turkey", "Haddock", "Tissues"}));
    }

    void theListsAreStoredWhenTheSessionEnds()
    {
        testing::ScriptedDialogs dialogs;
        Form1 w;
        QVERIFY(w.Form_Load());
        w.storeListsWhenTheSessionEnds(*qApp);
        w.show();
        w.List1[2]->addItem("Milk");
        w.List1[8]->addItems({"Kibble", "Treats"});
        endTheSession();
        const auto stored = m_env.storedSettings();
        QCOMPARE(stored->value("Pantrimo/List2").toString(), QStringLiteral("Milk"));
        QCOMPARE(stored->value("Pantrimo/List8").toString(), QStringLiteral("Kibble;Treats"));
        QCOMPARE(stored->value("Pantrimo/List14", QStringLiteral("missing")).toString(), QString());
        QVERIFY(w.isVisible()); // saving is all a session's request does; it may still be cancelled
        QCOMPARE(dialogs.messages(), QStringList());
    }

    // Becoming active again during one showing leaves the zoom alone; the next showing (after
    // "< Back" and a new run) starts at 1.0 again.
    void theViewportInitialisesOncePerShowing()
    {
        testing::ScriptedDialogs dialogs;
        platform::registerExcelApplication("builtin");
        Form1 w;
        QVERIFY(w.Form_Load());
        w.show();
        w.PushButton1_Click();
        preview::Form2 &preview = w.form2();
        QTRY_VERIFY(preview.isVisible());
        QTRY_COMPARE(preview.viewport().viewport().zoom(), 1.0f);
        preview.PushButton1_Click();
        QCOMPARE(preview.viewport().viewport().zoom(), 1.25f);
        for (int k = 0; k < 3; ++k) {
            preview.Form_Activate();
            QEvent activate(QEvent::WindowActivate);
            QApplication::sendEvent(&preview, &activate);
            QCOMPARE(preview.viewport().viewport().zoom(), 1.25f);
        }
        preview.PushButton8_Click();
        w.PushButton1_Click();
        QTRY_COMPARE(preview.viewport().viewport().zoom(), 1.0f);
        QCOMPARE(dialogs.messages(), QStringList());
    }

private:
    testing::TestEnvironment m_env;
};

QTEST_MAIN(TestMainWindowLife)
#include "test_main_window_life.moc"
