// Add, Delete, Clear/Reset and Load Sample on the real main window.

#include "app/Form1.h"
#include "tests/support/FakeServer.h"
#include "tests/support/ListItems.h"
#include "tests/support/ScriptedDialogs.h"
#include "tests/support/TestEnvironment.h"

#include <QApplication>
#include <QInputDialog>
#include <QLineEdit>
#include <QListWidget>
#include <QSettings>
#include <QTest>
#include <QTimer>

using shell::Form1;
using testing::itemsOf;

namespace {
int totalItems(const Form1 &w)
{
    int n = 0;
    for (auto *l : w.List1)
        n += l->count();
    return n;
}
} // namespace

class TestListCommands : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        m_env.isolate();
        testing::registerFakeExcel();
    }
    void cleanup() { m_env.restore(); }

    void addAsksWithTheCaptionAndAppendsExactlyWhatWasTyped_data()
    {
        QTest::addColumn<int>("category");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("prompt");
        QTest::addColumn<QString>("title");
        QTest::newRow("plain") << 2 << "Milk" << "Enter Dairy:" << "Input Dairy";
        QTest::newRow("caption with trailing blank") << 4 << "Tuna" << "Enter Canned :" << "Input Canned ";
        QTest::newRow("single blank is an item") << 0 << " " << "Enter Meat/Seafood:" << "Input Meat/Seafood";
        QTest::newRow("untrimmed") << 1 << "  Kale  " << "Enter Produce:" << "Input Produce";
        QTest::newRow("separator accepted") << 14 << "Foil;Wrap" << "Enter Other:" << "Input Other";
    }
    void addAsksWithTheCaptionAndAppendsExactlyWhatWasTyped()
    {
        QFETCH(int, category);
        QFETCH(QString, typed);
        QFETCH(QString, prompt);
        QFETCH(QString, title);
        testing::ScriptedDialogs dialogs;
        Form1 w;
        w.List1[category]->addItem("first");
        dialogs.inputAnswers.push_back(typed);
        QTest::mouseClick(w.PushButton2[category], Qt::LeftButton);
        QCOMPARE(dialogs.asked.size(), size_t(1));
        QCOMPARE(dialogs.asked[0].text, prompt);
        QCOMPARE(dialogs.asked[0].title, title);
        QCOMPARE(itemsOf(w.List1[category]), QStringList({"first", typed}));
    }

    void cancelAndEmptyEntryAddNothingButDuplicatesAreAdded()
    {
        testing::ScriptedDialogs dialogs;
        Form1 w;
        dialogs.inputAnswers = {std::nullopt, QString(""), QString("Eggs"), QString("Eggs")};
        for (int k = 0; k < 4; ++k)
            w.PushButton2_Click(5);
        QCOMPARE(itemsOf(w.List1[5]), QStringList({"Eggs", "Eggs"}));
        QCOMPARE(dialogs.messages().size(), 0);
    }

    void twentyItemsIsTheLimitOfAdd()
    {
        testing::ScriptedDialogs dialogs;
        Form1 w;
        QVERIFY(w.Form_Load());
        for (int k = 0; k < 19; ++k)
            w.List1[6]->addItem(QString::number(k));
        dialogs.inputAnswers = {QString("twentieth"), QString("never asked")};
        w.PushButton2_Click(6);
        QCOMPARE(w.List1[6]->count(), 20);
        w.PushButton2_Click(6);
        QCOMPARE(w.List1[6]->count(), 20);
        QCOMPARE(dialogs.asked.size(), size_t(2)); // one input box, then the message
        QCOMPARE(dialogs.asked[1].kind, testing::AskedDialog::Message);
        QCOMPARE(dialogs.asked[1].text, QStringLiteral("Only 20 items allowed."));
        QCOMPARE(dialogs.asked[1].style, 0);
        QCOMPARE(dialogs.asked[1].title, QStringLiteral("Pantrimo"));
    }

    void restoredListAboveTheLimitRefusesUntilBelowTwenty()
    {
        testing::ScriptedDialogs dialogs;
        QStringList many;
        for (int k = 0; k < 22; ++k)
            many << QString::number(k);
        m_env.storedSettings()->setValue("Pantrimo/List9", many.join(';'));
        Form1 w;
        QVERIFY(w.Form_Load());
        QCOMPARE(w.List1[9]->count(), 22);
        w.PushButton2_Click(9);
        for (int k = 0; k < 3; ++k) {
            w.List1[9]->setCurrentRow(0);
            w.PushButton3_Click(9);
        }
        dialogs.inputAnswers = {QString("fits")};
        w.PushButton2_Click(9);
        QCOMPARE(w.List1[9]->count(), 20);
        QCOMPARE(w.List1[9]->item(19)->text(), QStringLiteral("fits"));
        QCOMPARE(dialogs.messages(), QStringList{"Only 20 items allowed."});
    }

    void deleteRemovesOnlyTheSelectedItemAndNothingWithoutSelection()
    {
        testing::ScriptedDialogs dialogs;
        Form1 w;
        w.List1[3]->addItems({"a", "b", "c", "d"});
        w.PushButton3_Click(3);
        QCOMPARE(itemsOf(w.List1[3]), QStringList({"a", "b", "c", "d"}));
        w.List1[3]->setCurrentRow(2);
        QTest::mouseClick(w.PushButton3[3], Qt::LeftButton);
        QCOMPARE(itemsOf(w.List1[3]), QStringList({"a", "b", "d"}));
        QVERIFY(dialogs.asked.empty());
    }

    // After a removal nothing is selected, so a second Delete removes nothing more.
    void deletePressedTwiceRemovesOnlyTheChosenItem_data()
    {
        QTest::addColumn<int>("chosen");
        QTest::addColumn<QStringList>("left");
        QTest::newRow("first") << 0 << QStringList{"b", "c", "d"};
        QTest::newRow("middle") << 1 << QStringList{"a", "c", "d"};
        QTest::newRow("last") << 3 << QStringList{"a", "b", "c"};
    }
    void deletePressedTwiceRemovesOnlyTheChosenItem()
    {
        QFETCH(int, chosen);
        QFETCH(QStringList, left);
        testing::ScriptedDialogs dialogs;
        Form1 w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QListWidget *list = w.List1[5];
        list->addItems({"a", "b", "c", "d"});
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualItemRect(list->item(chosen)).center());
        QCOMPARE(list->selectedItems().size(), 1);
        QTest::mouseClick(w.PushButton3[5], Qt::LeftButton);
        QVERIFY(list->selectedItems().isEmpty());
        QCOMPARE(list->currentRow(), -1);
        QTest::mouseClick(w.PushButton3[5], Qt::LeftButton);
        QCOMPARE(itemsOf(list), left);
        QVERIFY(dialogs.asked.empty());
    }

    void loadSampleClearsFirstAndGivesTheSameTwentyFourItems()
    {
        testing::ScriptedDialogs dialogs;
        {
            Form1 w;
            QVERIFY(w.Form_Load());
            w.List1[8]->addItem("Dog food");
            QTest::mouseClick(w.PushButton6, Qt::LeftButton);
            w.PushButton6_Click();
            QCOMPARE(totalItems(w), 24);
            QCOMPARE(w.List1[8]->count(), 0);
            QCOMPARE(itemsOf(w.List1[1]), QStringList({"Green Beans", "Yellow Beans", "Butternut Squash", "Parsnips"}));
            w.close();
        }
        const auto s = m_env.storedSettings();
        QCOMPARE(s->value("Pantrimo/List14").toString(), QStringLiteral("Paper Towels;Tissues;Toilet Paper;Garbage Bags"));
        QCOMPARE(s->value("Pantrimo/List2").toString(), QStringLiteral("Milk"));
        QCOMPARE(s->value("Pantrimo/List8").toString(), QString());
        QVERIFY(dialogs.asked.empty());
    }

    void clearResetEmptiesEveryListAndNothingIsStoredBeforeClosing()
    {
        testing::ScriptedDialogs dialogs;
        m_env.storedSettings()->setValue("Pantrimo/List0", "Turkey");
        Form1 w;
        QVERIFY(w.Form_Load());
        w.PushButton6_Click();
        QTest::mouseClick(w.PushButton5, Qt::LeftButton);
        QCOMPARE(totalItems(w), 0);
        QCOMPARE(m_env.storedSettings()->value("Pantrimo/List0").toString(), QStringLiteral("Turkey"));
    }

    void addThroughTheRealInputDialog()
    {
        Form1 w;
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QString seenTitle, seenLabel;
        QTimer::singleShot(0, [&] {
            auto *dlg = qobject_cast<QInputDialog *>(QApplication::activeModalWidget());
            QVERIFY(dlg);
            seenTitle = dlg->windowTitle();
            seenLabel = dlg->labelText();
            auto *edit = dlg->findChild<QLineEdit *>();
            QTest::keyClicks(edit, QStringLiteral("Oat Milk"));
            QTest::keyClick(edit, Qt::Key_Return);
        });
        QTest::mouseClick(w.PushButton2[2], Qt::LeftButton);
        if (QTest::currentTestFailed()) // in the answer above, which returns only from itself
            return;
        QCOMPARE(seenTitle, QStringLiteral("Input Dairy"));
        QCOMPARE(seenLabel, QStringLiteral("Enter Dairy:"));
        QCOMPARE(itemsOf(w.List1[2]), QStringList{"Oat Milk"});

        QTimer::singleShot(0, [] {
            auto *dlg = qobject_cast<QInputDialog *>(QApplication::activeModalWidget());
            QVERIFY(dlg);
            dlg->reject();
        });
        w.PushButton2_Click(2);
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(w.List1[2]->count(), 1);
    }

private:
    testing::TestEnvironment m_env;
};

QTEST_MAIN(TestListCommands)
#include "test_list_commands.moc"
