// Every control of both windows against the window designs: kind, caption, position and size in
// twips (in its container), font, colours and tab order, and the focus at start. The numbers
// here are the designs' own, written out, not taken from the program's constants.

#include "app/Form1.h"
#include "shell/PushButton.h"
#include "preview/Form2.h"
#include "tests/support/FakeServer.h"
#include "tests/support/ScriptedDialogs.h"
#include "tests/support/TestEnvironment.h"

#include <QApplication>
#include <QGroupBox>
#include <QLineEdit>
#include <QListWidget>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTest>

using shell::Form1;
using preview::Form2;

namespace {

enum class Kind { TextBox, PushButton, Frame, ListBox, PictureBox, HScrollBar, VScrollBar };

// One pixel is 15 twips at 96 dpi.
int px(int twips) { return qRound(twips / 15.0); }

struct Control {
    QWidget *widget = nullptr;
    QWidget *container = nullptr;
};

QString kindOf(QWidget *w)
{
    if (qobject_cast<shell::PushButton *>(w))
        return "push button";
    if (qobject_cast<QLineEdit *>(w))
        return "text box";
    if (qobject_cast<QGroupBox *>(w))
        return "frame";
    if (qobject_cast<QListWidget *>(w))
        return "list box";
    if (auto *s = qobject_cast<QScrollBar *>(w))
        return s->orientation() == Qt::Horizontal ? "horizontal scroll bar" : "vertical scroll bar";
    return "picture box";
}

QString captionOf(QWidget *w)
{
    if (auto *b = qobject_cast<QAbstractButton *>(w))
        return b->text();
    if (auto *f = qobject_cast<QGroupBox *>(w))
        return f->title();
    if (auto *t = qobject_cast<QLineEdit *>(w))
        return t->text();
    return QString();
}

// The named controls of the main window. Frames, lists and the Add/Delete buttons are
// "Frame1(3)", "List1(3)" and so on.
QWidget *mainControl(Form1 &w, const QString &name)
{
    static const QRegularExpression indexed("^(\\w+)\\((\\d+)\\)$");
    if (const auto m = indexed.match(name); m.hasMatch()) {
        const int i = m.captured(2).toInt();
        const QString base = m.captured(1);
        if (base == "Frame1")
            return w.Frame1[i];
        if (base == "List1")
            return w.List1[i];
        if (base == "PushButton2")
            return w.PushButton2[i];
        return w.PushButton3[i];
    }
    if (name == "Text1")
        return w.Text1;
    if (name == "PushButton1")
        return w.PushButton1;
    if (name == "PushButton5")
        return w.PushButton5;
    return w.PushButton6;
}

QWidget *previewControl(Form2 &w, const QString &name)
{
    preview::ViewportWidget &v = w.viewport();
    const QMap<QString, QWidget *> controls{
        {"Picture2", v.picture2()}, {"Picture1", v.picture1()}, {"Zoom_Ori", v.zoomOri()},
        {"VScroll1", v.vScroll1()}, {"HScroll1", v.hScroll1()}, {"Frame1", w.Frame1},
        {"PushButton1", w.PushButton1}, {"PushButton2", w.PushButton2}, {"PushButton6", w.PushButton6},
        {"PushButton8", w.PushButton8}, {"PushButton9", w.PushButton9}, {"PushButton10", w.PushButton10}};
    return controls.value(name);
}

bool takesTabFocus(const QWidget *w) { return w->focusPolicy() & Qt::TabFocus; }

// The focus chain restricted to the given controls, in the order Tab visits them. Controls
// that never take the focus (frames, picture boxes) have no place in a Qt focus chain; the
// order is compared among those that do.
QList<QWidget *> tabOrder(QWidget *first, const QList<QWidget *> &controls)
{
    QList<QWidget *> order;
    QWidget *w = first;
    do {
        if (controls.contains(w) && !order.contains(w) && takesTabFocus(w))
            order << w;
        w = w->nextInFocusChain();
    } while (w && w != first);
    return order;
}

QList<QWidget *> focusable(QList<QWidget *> controls)
{
    controls.removeIf([](const QWidget *w) { return !takesTabFocus(w); });
    return controls;
}

void addRow(const char *name, const char *kind, const char *caption, const char *container, int left, int top,
            int width, int height)
{
    QTest::newRow(name) << QString(name) << QString(kind) << QString::fromUtf8(caption) << QString(container) << left << top
                        << width << height;
}

void columns()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("container");
    QTest::addColumn<int>("left");
    QTest::addColumn<int>("top");
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
}

const char *const kCaptions[15] = {"Meat/Seafood", "Produce", "Dairy", "Natural/Organic", "Canned ",
                                   "Frozen", "Spices/Condiments", "Beverages", "Pet Food", "Household Items",
                                   "Pharmacy", "Personal Hygiene", "Cereal/Grain/Pasta", "Snacks", "Other"};
const int kFrameLeft[5] = {120, 2760, 5400, 8040, 10680};
const int kFrameTop[3] = {1140, 3600, 6060};

// The checks below fail the test but return only from themselves: callers stop when
// QTest::currentTestFailed().
void checkPlace(QWidget *control, QWidget *container, int left, int top, int width, int height)
{
    // Inside a bordered box the position counts from its inner area.
    QPoint at = control->mapTo(container, QPoint(0, 0));
    if (auto *box = qobject_cast<QFrame *>(container))
        at -= box->contentsRect().topLeft();
    QCOMPARE(at, QPoint(px(left), px(top)));
    QCOMPARE(control->size(), QSize(px(width), px(height)));
}

void checkFont(QWidget *w, double points)
{
    QCOMPARE(w->font().family(), QStringLiteral("Arial"));
    QCOMPARE(w->font().pointSizeF(), points);
    QVERIFY(w->font().bold());
}

} // namespace

class TestControlTables : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        m_env.isolate();
        testing::registerFakeExcel();
    }
    void cleanup() { m_env.restore(); }

    void mainWindowControls_data()
    {
        columns();
        addRow("Text1", "text box", "Text1", "window", 4680, 8800, 1215, 525);
        addRow("PushButton1", "push button", "Start Creating Template", "window", 120, 120, 13080, 405);
        addRow("PushButton5", "push button", "Clear/Reset Data", "window", 120, 630, 6480, 405);
        addRow("PushButton6", "push button", "Load Sample/Example Data", "window", 6720, 630, 6480, 405);
        for (int i = 0; i < 15; ++i) {
            const QByteArray frame = "Frame1(" + QByteArray::number(i) + ")";
            addRow(frame, "frame", kCaptions[i], "window", kFrameLeft[i % 5], kFrameTop[i / 5], 2520, 2380);
            addRow("List1(" + QByteArray::number(i) + ")", "list box", "", frame, 240, 300, 2055, 1410);
            addRow("PushButton2(" + QByteArray::number(i) + ")", "push button", "Add", frame, 240, 1820, 960, 405);
            addRow("PushButton3(" + QByteArray::number(i) + ")", "push button", "Delete", frame, 1320, 1820, 960, 405);
        }
    }
    void mainWindowControls()
    {
        QFETCH(QString, name);
        QFETCH(QString, kind);
        QFETCH(QString, caption);
        QFETCH(QString, container);
        QFETCH(int, left);
        QFETCH(int, top);
        QFETCH(int, width);
        QFETCH(int, height);
        testing::ScriptedDialogs dialogs;
        Form1 w;
        QVERIFY(w.Form_Load());
        QWidget *control = mainControl(w, name);
        QVERIFY(control);
        QCOMPARE(kindOf(control), kind);
        QCOMPARE(captionOf(control), caption);
        checkPlace(control, container == "window" ? &w : mainControl(w, container), left, top, width, height);
        if (QTest::currentTestFailed())
            return;
        if (kind == "push button") {
            checkFont(control, 11.25);
            if (QTest::currentTestFailed())
                return;
            QCOMPARE(control->palette().color(QPalette::Button), QColor(Qt::white));
            QCOMPARE(control->palette().color(QPalette::ButtonText), QApplication::palette().color(QPalette::ButtonText));
        } else {
            checkFont(control, 9); // the window's font
            if (QTest::currentTestFailed())
                return;
        }
        if (kind == "frame")
            QCOMPARE(control->palette().color(QPalette::Window), QColor(Qt::white));
        if (auto *list = qobject_cast<QListWidget *>(control)) {
            QCOMPARE(list->selectionMode(), QAbstractItemView::SingleSelection);
            QVERIFY(!list->isSortingEnabled());
        }
    }

    void mainWindowAsAWhole()
    {
        testing::ScriptedDialogs dialogs;
        Form1 w;
        QVERIFY(w.Form_Load());
        QCOMPARE(w.windowTitle(), QStringLiteral("Pantrimo"));
        QCOMPARE(w.size(), QSize(px(13320), px(8520)));
        QCOMPARE(w.minimumSize(), w.maximumSize()); // not resizable
        checkFont(&w, 9);
        if (QTest::currentTestFailed())
            return;
        QCOMPARE(w.palette().color(QPalette::Window), QColor(Qt::white));

        // Tab order: Text1, PushButton1, then per category frame, list, Add, Delete; the two
        // commands last.
        QList<QWidget *> expected{w.Text1, w.PushButton1};
        for (int i = 0; i < 15; ++i)
            expected << w.Frame1[i] << w.List1[i] << w.PushButton2[i] << w.PushButton3[i];
        expected << w.PushButton5 << w.PushButton6;
        QCOMPARE(tabOrder(w.Text1, expected), focusable(expected));
        QCOMPARE(focusable(expected).size(), 1 + 1 + 15 * 3 + 2); // frames take no focus

        w.show();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        QCOMPARE(QApplication::focusWidget(), w.Text1);
        // Text1 lies below the visible client area.
        QVERIFY(w.Text1->geometry().top() >= w.height());
    }

    void previewWindowControls_data()
    {
        columns();
        addRow("Picture2", "picture box", "", "window", 120, 120, 9330, 7425);
        addRow("Picture1", "picture box", "", "Picture2", 0, 0, 2340, 3435);
        addRow("Zoom_Ori", "picture box", "", "window", 10320, 480, 735, 375);
        addRow("VScroll1", "vertical scroll bar", "", "window", 9450, 120, 255, 7425);
        addRow("HScroll1", "horizontal scroll bar", "", "window", 120, 7545, 9330, 255);
        addRow("Frame1", "frame", "Zoom:", "window", 120, 7860, 9600, 855);
        addRow("PushButton1", "push button", "Zoom In", "Frame1", 240, 300, 4440, 405);
        addRow("PushButton2", "push button", "Zoom Out", "Frame1", 4800, 300, 4560, 405);
        addRow("PushButton8", "push button", "< Back", "window", 120, 8850, 4680, 405);
        addRow("PushButton6", "push button", "Save Results To Excel File", "window", 4920, 8850, 4800, 405);
        // Ours, in a row of their own below the window's first four.
        addRow("PushButton9", "push button", "Print...", "window", 120, 9375, 2280, 405);
        addRow("PushButton10", "push button", "Export PDF...", "window", 2520, 9375, 2280, 405);
    }
    void previewWindowControls()
    {
        QFETCH(QString, name);
        QFETCH(QString, kind);
        QFETCH(QString, caption);
        QFETCH(QString, container);
        QFETCH(int, left);
        QFETCH(int, top);
        QFETCH(int, width);
        QFETCH(int, height);
        testing::ScriptedDialogs dialogs;
        Form2 w;
        w.Form_Load();
        QWidget *control = previewControl(w, name);
        QVERIFY(control);
        QCOMPARE(kindOf(control), kind);
        QCOMPARE(captionOf(control), caption);
        checkPlace(control, container == "window" ? &w : previewControl(w, container), left, top, width, height);
        if (QTest::currentTestFailed())
            return;
        if (kind == "push button") {
            checkFont(control, 11.25);
            if (QTest::currentTestFailed())
                return;
            QCOMPARE(control->palette().color(QPalette::Button), QColor(Qt::white));
        }
        // The picture boxes keep their own colours when the window turns button face;
        // the viewport is white.
        if (name == "Picture2")
            QCOMPARE(control->palette().color(QPalette::Window), QColor(Qt::white));
        if (name == "Frame1")
            QCOMPARE(control->palette().color(QPalette::Window), QApplication::palette().color(QPalette::Button));
        if (name == "Zoom_Ori")
            QVERIFY(control->isHidden());
        if (auto *bar = qobject_cast<QScrollBar *>(control)) {
            QCOMPARE(bar->minimum(), 0);
            QCOMPARE(bar->maximum(), 32767);
            QCOMPARE(bar->singleStep(), 1);
            QCOMPARE(bar->pageStep(), 1);
            QCOMPARE(bar->value(), 0);
        }
    }

    void previewWindowAsAWhole()
    {
        testing::ScriptedDialogs dialogs;
        Form2 w;
        w.Form_Load();
        QCOMPARE(w.windowTitle(), QStringLiteral("Pantrimo"));
        QCOMPARE(w.size(), QSize(px(9840), px(9915))); // one row of buttons taller than the first four need
        QCOMPARE(w.minimumSize(), w.maximumSize());
        checkFont(&w, 9);
        if (QTest::currentTestFailed())
            return;
        QStringList names{"HScroll1", "VScroll1", "Picture2", "Picture1", "Frame1", "Zoom_Ori",
                          "PushButton1", "PushButton2", "PushButton6", "PushButton8", "PushButton9", "PushButton10"};
        QList<QWidget *> expected;
        for (const QString &n : names)
            expected << previewControl(w, n);
        QCOMPARE(tabOrder(expected.first(), expected), focusable(expected));
        for (const char *n : {"PushButton1", "PushButton2", "PushButton6", "PushButton8", "PushButton9", "PushButton10"})
            QVERIFY2(takesTabFocus(previewControl(w, n)), n);
    }

private:
    testing::TestEnvironment m_env;
};

QTEST_MAIN(TestControlTables)
#include "test_control_tables.moc"
