// The windows without a mouse: keys on the push buttons, and what a screen reader names.

#include "app/Form1.h"
#include "preview/Form2.h"
#include "shell/PushButton.h"
#include "tests/support/FakeServer.h"
#include "tests/support/ScriptedDialogs.h"
#include "tests/support/TestEnvironment.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAccessible>
#include <QGroupBox>
#include <QListWidget>
#include <QSignalSpy>
#include <QTest>

#include <memory>

namespace {
QString accessibleName(QWidget *w)
{
    QAccessibleInterface *iface = QAccessible::queryAccessibleInterface(w);
    return iface ? iface->text(QAccessible::Name) : QString();
}
} // namespace

class TestKeyboardAccess : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        m_env.isolate();
        testing::registerFakeExcel();
    }
    void cleanup() { m_env.restore(); }

    void keysOnAFocusedButton_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<Qt::KeyboardModifiers>("modifiers");
        QTest::addColumn<int>("clicks");
        QTest::newRow("Space") << int(Qt::Key_Space) << Qt::KeyboardModifiers() << 1;
        QTest::newRow("Return") << int(Qt::Key_Return) << Qt::KeyboardModifiers() << 1;
        QTest::newRow("Enter on the keypad") << int(Qt::Key_Enter) << Qt::KeyboardModifiers(Qt::KeypadModifier) << 1;
        QTest::newRow("Ctrl+Return is not a press") << int(Qt::Key_Return) << Qt::KeyboardModifiers(Qt::ControlModifier) << 0;
        QTest::newRow("a letter is not a press") << int(Qt::Key_A) << Qt::KeyboardModifiers() << 0;
    }
    void keysOnAFocusedButton()
    {
        QFETCH(int, key);
        QFETCH(Qt::KeyboardModifiers, modifiers);
        QFETCH(int, clicks);
        testing::ScriptedDialogs dialogs;
        shell::Form1 w;
        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        w.PushButton6->setFocus();
        QTRY_VERIFY(w.PushButton6->hasFocus());
        QSignalSpy clicked(w.PushButton6, &QPushButton::clicked);
        QTest::keyClick(w.PushButton6, Qt::Key(key), modifiers);
        QCOMPARE(clicked.count(), clicks);
        QCOMPARE(w.List1[2]->count(), clicks); // the sample's "Milk": the command ran
    }

    // A screen reader must tell fifteen "Add" buttons apart, and say what each one does.
    void everyControlHasAnAccessibleNameOfItsOwn_data()
    {
        QTest::addColumn<bool>("preview");
        QTest::newRow("main window") << false;
        QTest::newRow("preview") << true;
    }
    void everyControlHasAnAccessibleNameOfItsOwn()
    {
        QFETCH(bool, preview);
        testing::ScriptedDialogs dialogs;
        std::unique_ptr<QWidget> window;
        if (preview)
            window = std::make_unique<preview::Form2>();
        else
            window = std::make_unique<shell::Form1>();
        QList<QWidget *> controls;
        for (QAbstractButton *b : window->findChildren<QAbstractButton *>())
            controls << b;
        for (QAbstractItemView *v : window->findChildren<QAbstractItemView *>())
            controls << v;
        for (QGroupBox *g : window->findChildren<QGroupBox *>())
            controls << g;
        // Whatever else was given a name of its own (the picture) must not repeat one either.
        for (QWidget *w : window->findChildren<QWidget *>())
            if (!w->accessibleName().isEmpty() && !controls.contains(w))
                controls << w;
        QVERIFY(controls.size() >= (preview ? 4 : 48));
        QHash<QString, QString> owner;
        for (QWidget *w : controls) {
            const QString name = accessibleName(w);
            QVERIFY2(!name.isEmpty(), qPrintable(w->objectName() + " has no accessible name"));
            QVERIFY2(!owner.contains(name), qPrintable(QString("\"%1\" names both %2 and %3").arg(name, owner.value(name), w->objectName())));
            owner.insert(name, w->objectName());
        }
        if (!preview) {
            auto &main = static_cast<shell::Form1 &>(*window);
            QCOMPARE(accessibleName(main.PushButton2[0]), QStringLiteral("Add an item to Meat/Seafood"));
            QCOMPARE(accessibleName(main.PushButton3[2]), QStringLiteral("Delete the selected item of Dairy"));
            QCOMPARE(accessibleName(main.List1[4]), QStringLiteral("Items of Canned"));
            QCOMPARE(accessibleName(main.PushButton5), QStringLiteral("Clear all lists"));
        }
    }

private:
    testing::TestEnvironment m_env;
};

QTEST_MAIN(TestKeyboardAccess)
#include "test_keyboard_access.moc"
