// The look of both windows: the skin beside the program and what it may restyle, the
// button-face colour of the preview, the five calls to the skin control, and the hover
// pointer with its hand and hourglass.

#include "shell/ErrorReport.h"
#include "app/Form1.h"
#include "shell/LookAndFeel.h"
#include "preview/Form2.h"
#include "tests/support/FakeServer.h"
#include "tests/support/ScriptedDialogs.h"
#include "tests/support/TestEnvironment.h"
#include "platform/services/Paths.h"
#include "platform/skin/SkinFramework.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFrame>
#include <QGroupBox>
#include <QLineEdit>
#include <QListWidget>
#include <QRegularExpression>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTest>

using automation::Args;
using automation::InvokeKind;
using automation::Variant;
using shell::Form1;

namespace {
const QString kLookDir = QStringLiteral(PANTRIMO_LOOK_DIR);
const QColor kSkinWindow(0xdc, 0xe4, 0xeb); // the default skin's desk
const QColor kSkinFrame(0xf5, 0xf8, 0xfa);  // and its cards

// A program folder of the test's own, with whichever optional files the test lays there.
struct ProgramFolder {
    QTemporaryDir dir;
    ProgramFolder() { platform::overrideProgramFolder(dir.path()); }
    ~ProgramFolder() { platform::overrideProgramFolder(QString()); }

    QString skinPath() const { return dir.filePath(shell::kSkinFile); }
    // Both false when the file is not in place; the test checks.
    [[nodiscard]] bool putSkin(const QByteArray &bytes) const
    {
        QDir(dir.path()).mkpath("x");
        QFile f(skinPath());
        return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size() && f.flush();
    }
    [[nodiscard]] bool putShippedFile(const QString &name) const
    {
        QDir(dir.path()).mkpath("x");
        return QFile::copy(kLookDir + "/" + name, dir.filePath(name));
    }
};

// What the skin control was asked, in order.
struct Call {
    int id;
    InvokeKind kind;
    std::vector<Variant> args;
};

class RecordingSkin : public automation::AutomationObject {
public:
    explicit RecordingSkin(std::vector<Call> &calls) : m_calls(calls) {}
    QString className() const override { return QStringLiteral("SkinFramework"); }
    Variant invoke(QStringView member, InvokeKind, const Args &) override { throwUnknownMember(member); }
    Variant invokeById(int dispId, InvokeKind kind, const Args &args) override
    {
        m_calls.push_back({dispId, kind, args.positional});
        return dispId == platform::skin_id::kApplyOptions && kind == InvokeKind::Get ? Variant(int32_t(0x140))
                                                                                      : Variant();
    }

private:
    std::vector<Call> &m_calls;
};

QColor pixel(QWidget *w, QPoint at) { return w->grab().toImage().pixelColor(at); }

// The style may tint the inside of a frame a shade; the colour is that of the frame still.
bool near(const QColor &a, const QColor &b)
{
    return qAbs(a.red() - b.red()) <= 4 && qAbs(a.green() - b.green()) <= 4 && qAbs(a.blue() - b.blue()) <= 4;
}

// A point of the frame that no control covers, well inside its border.
QPoint bareSpotOf(QGroupBox *frame)
{
    for (int y = frame->height() - 6; y > 24; --y)
        for (int x = 6; x < frame->width() - 6; ++x)
            if (!frame->childAt(x, y))
                return {x, y};
    return {};
}

// The pointer shown over a widget: its own, or the nearest one set above it.
QCursor cursorOver(QWidget *w)
{
    for (QWidget *p = w; p; p = p->isWindow() ? nullptr : p->parentWidget())
        if (p->testAttribute(Qt::WA_SetCursor))
            return p->cursor();
    return QCursor(Qt::ArrowCursor);
}

bool showsHand(QWidget *w)
{
    const QCursor c = cursorOver(w);
    return c.shape() == Qt::BitmapCursor && c.hotSpot() == QPoint(11, 1);
}

// A real pointer move: the platform delivers it to whatever control lies there.
int moves = 0;
void moveOver(QWidget *w)
{
    auto *frame = qobject_cast<QGroupBox *>(w);
    const QPoint at = (frame ? bareSpotOf(frame) : w->rect().center()) + QPoint(0, moves++ % 3);
    QTest::mouseMove(w, at);
}
} // namespace

class TestLookAndFeel : public QObject {
    Q_OBJECT
private slots:
    void init()
    {
        m_env.isolate();
        testing::registerFakeExcel();
        platform::registerSkinFramework();
    }
    void cleanup()
    {
        shell::setStepProbe({});
        qApp->setStyleSheet(QString());
        m_env.restore();
    }

    void withoutASkinTheMainWindowStaysWhiteAndThePreviewTurnsButtonFace()
    {
        testing::ScriptedDialogs dialogs;
        ProgramFolder program;
        Form1 w;
        QVERIFY(w.Form_Load());
        QVERIFY(!w.SkinFramework1);
        QCOMPARE(w.palette().color(QPalette::Window), QColor(Qt::white));
        QCOMPARE(pixel(&w, {2, 2}), QColor(Qt::white));
        for (QGroupBox *frame : w.Frame1) {
            QCOMPARE(frame->palette().color(QPalette::Window), QColor(Qt::white));
            QVERIFY(near(pixel(frame, bareSpotOf(frame)), Qt::white));
        }
        QVERIFY(!w.mousePointer().hasCustomCursor());

        preview::Form2 &preview = w.form2();
        const QColor face = shell::buttonFaceColor();
        QVERIFY(face != QColor(Qt::white));
        QCOMPARE(preview.palette().color(QPalette::Window), face);
        QCOMPARE(preview.Frame1->palette().color(QPalette::Window), face);
        QVERIFY(near(pixel(preview.Frame1, bareSpotOf(preview.Frame1)), face));
        auto &view = preview.viewport();
        for (QWidget *picture : {static_cast<QWidget *>(view.picture2()), static_cast<QWidget *>(view.picture1()),
                                 static_cast<QWidget *>(view.zoomOri())})
            QVERIFY(!picture->testAttribute(Qt::WA_SetPalette) ||
                    picture->palette().color(QPalette::Window) == QColor(Qt::white));
        QCOMPARE(pixel(view.picture2(), {view.picture2()->width() / 2, view.picture2()->height() / 2}),
                 QColor(Qt::white));
        QVERIFY(dialogs.asked.empty());
    }

    void theSkinRestylesOnlyTheWindowAndItsFrames()
    {
        testing::ScriptedDialogs dialogs;
        ProgramFolder program;
        // The same window without a skin, to compare every other control with.
        Form1 plain;
        QVERIFY(plain.Form_Load());
        QVERIFY(program.putShippedFile(shell::kSkinFile));
        Form1 w;
        QVERIFY(w.Form_Load());
        QVERIFY(dialogs.asked.empty());

        QCOMPARE(pixel(&w, {2, 2}), kSkinWindow);
        for (QGroupBox *frame : w.Frame1)
            QCOMPARE(pixel(frame, bareSpotOf(frame)), kSkinFrame);
        QList<QWidget *> untouched{w.Text1, w.PushButton1, w.PushButton5, w.PushButton6};
        QList<QWidget *> plainOnes{plain.Text1, plain.PushButton1, plain.PushButton5, plain.PushButton6};
        for (int i = 0; i < lists::kCategoryCount; ++i) {
            untouched << w.List1[i] << w.PushButton2[i] << w.PushButton3[i];
            plainOnes << plain.List1[i] << plain.PushButton2[i] << plain.PushButton3[i];
        }
        for (qsizetype k = 0; k < untouched.size(); ++k)
            QVERIFY2(untouched[k]->grab().toImage() == plainOnes[k]->grab().toImage(),
                     qPrintable(untouched[k]->objectName() + " " + untouched[k]->metaObject()->className()));

        // The preview window is not skinned: it looks as it does without the skin file.
        preview::Form2 &preview = w.form2();
        QVERIFY(qApp->styleSheet().isEmpty());
        QVERIFY(near(pixel(preview.Frame1, bareSpotOf(preview.Frame1)), shell::buttonFaceColor()));
        QVERIFY(preview.PushButton6->grab().toImage() == plain.form2().PushButton6->grab().toImage());
    }

    void theSkinControlIsCalledFiveTimesInOrder()
    {
        testing::ScriptedDialogs dialogs;
        ProgramFolder program;
        QVERIFY(program.putSkin("QWidget { }"));
        std::vector<Call> calls;
        automation::ClassRegistry::instance().registerClass(
            platform::kSkinFrameworkClass, [&calls] { return std::make_shared<RecordingSkin>(calls); });
        Form1 w;
        QVERIFY(w.Form_Load());
        QVERIFY(dialogs.asked.empty());

        QCOMPARE(calls.size(), size_t(6));
        const auto is = [&](size_t k, int id, InvokeKind kind, std::vector<Variant> args) {
            return calls[k].id == id && calls[k].kind == kind && calls[k].args == args;
        };
        QVERIFY(is(0, 2, InvokeKind::Get, {Variant(program.skinPath()), Variant(QString())}));
        QVERIFY(is(1, 1, InvokeKind::Get, {}));
        QVERIFY(is(2, 1, InvokeKind::Put, {Variant(int32_t(0x141))}));
        QVERIFY(is(3, 5, InvokeKind::Put, {Variant::fromBool(true)}));
        QVERIFY(is(4, 10, InvokeKind::Put, {Variant::fromBool(true)}));
        QVERIFY(is(5, 3, InvokeKind::Get, {Variant(int32_t(quint32(w.winId())))}));
        // Before the calls, the window and its frames went to button face; nothing else.
        QCOMPARE(w.palette().color(QPalette::Window), shell::buttonFaceColor());
        QCOMPARE(w.Frame1[9]->palette().color(QPalette::Window), shell::buttonFaceColor());
        QCOMPARE(w.PushButton2[9]->palette().color(QPalette::Button), QColor(Qt::white));
    }

    void onlyARegularFileCountsAsTheSkin()
    {
        testing::ScriptedDialogs dialogs;
        ProgramFolder program;
        QVERIFY(QDir(program.dir.path()).mkpath(shell::kSkinFile)); // a folder "x/o.cjs"
        Form1 w;
        QVERIFY(w.Form_Load());
        QVERIFY(!w.SkinFramework1);
        QCOMPARE(w.palette().color(QPalette::Window), QColor(Qt::white));
        QVERIFY(dialogs.asked.empty());
    }

    void aDamagedSkinIsReportedOnceAtLine102AndTheWindowStillOpens_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("unbalanced braces") << QByteArray("#Form1 { background: red;");
        QTest::newRow("binary") << QByteArray("\x89PNG\r\n\x1a\n\0\0\0\rIHDR", 16);
        QTest::newRow("no rule") << QByteArray("   /* empty */  ");
    }
    void aDamagedSkinIsReportedOnceAtLine102AndTheWindowStillOpens()
    {
        QFETCH(QByteArray, bytes);
        testing::ScriptedDialogs dialogs;
        ProgramFolder program;
        QVERIFY(program.putSkin(bytes));
        QVERIFY(program.putShippedFile(shell::kHandCursorFile));
        Form1 w;
        QVERIFY(w.Form_Load());
        QCOMPARE(dialogs.messages().size(), 1);
        const QString report = dialogs.messages().first();
        QVERIFY2(report.contains("Form1.Form_Load at line 102"), qPrintable(report));
        QVERIFY2(report.contains(program.skinPath()), qPrintable(report));
        QCOMPARE(dialogs.asked.front().title, shell::kReportTitle);
        // The rest of the skin step was skipped; the steps after it ran.
        QVERIFY(w.styleSheet().isEmpty() && qApp->styleSheet().isEmpty());
        QCOMPARE(w.windowTitle(), QStringLiteral("Pantrimo"));
        QVERIFY(w.mousePointer().hasCustomCursor());
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        QTest::mouseClick(w.PushButton6, Qt::LeftButton);
        QVERIFY(w.List1[0]->count() > 0);
    }

    void theHandCursorLoadsWithItsHotSpot()
    {
        const QCursor hand = shell::loadCursorFile(kLookDir + "/" + shell::kHandCursorFile);
        QCOMPARE(hand.hotSpot(), QPoint(11, 1));
        const QImage image = hand.pixmap().toImage();
        QCOMPARE(image.size(), QSize(32, 32));
        QCOMPARE(image.pixelColor(0, 0).alpha(), 0);       // clear around the hand
        QCOMPARE(image.pixelColor(11, 6).alpha(), 255);    // the index finger
        QVERIFY(image.pixelColor(11, 6).lightness() > 200); // white inside the outline
        QVERIFY(image.pixelColor(11, 1).lightness() < 120); // the dark tip it points with
    }

    void aDamagedCursorFileRaisesNamingTheFile_data()
    {
        QTest::addColumn<int>("keep"); // bytes of the shipped file kept
        QTest::addColumn<int>("type"); // the directory's type field
        QTest::newRow("an icon, not a cursor") << -1 << 1;
        QTest::newRow("directory only") << 6 << 2;
        QTest::newRow("image cut short") << 400 << 2;
    }
    void aDamagedCursorFileRaisesNamingTheFile()
    {
        QFETCH(int, keep);
        QFETCH(int, type);
        QFile shipped(kLookDir + "/" + shell::kHandCursorFile);
        QVERIFY(shipped.open(QIODevice::ReadOnly));
        QByteArray bytes = shipped.readAll();
        if (keep >= 0)
            bytes.truncate(keep);
        bytes[2] = char(type);
        QTemporaryDir dir;
        const QString path = dir.filePath("bad.cur");
        QFile f(path);
        QVERIFY(f.open(QIODevice::WriteOnly));
        f.write(bytes);
        f.close();
        try {
            shell::loadCursorFile(path);
            QFAIL("no failure");
        } catch (const automation::AutomationError &e) {
            QVERIFY2(e.description().contains(path), qPrintable(e.description()));
        }
    }

    void mainWindowHover_data()
    {
        QTest::addColumn<int>("before");
        QTest::addColumn<QString>("over");
        QTest::addColumn<int>("after");
        QTest::newRow("start button shows the hand") << 0 << "PushButton1" << 99;
        QTest::newRow("an Add button inside its frame keeps the hand") << 0 << "PushButton2_7" << 99;
        QTest::newRow("a Delete button") << 0 << "PushButton3_14" << 99;
        QTest::newRow("Load Sample") << 0 << "PushButton6" << 99;
        QTest::newRow("a list shows the arrow") << 99 << "List1_3" << 0;
        QTest::newRow("a frame shows the arrow") << 99 << "Frame1_11" << 0;
        QTest::newRow("the background shows the arrow") << 99 << "background" << 0;
        QTest::newRow("hourglass stays over a button") << 11 << "PushButton5" << 11;
        QTest::newRow("hourglass stays over the background") << 11 << "background" << 11;
        QTest::newRow("hourglass stays over a list") << 11 << "List1_0" << 11;
    }
    void mainWindowHover()
    {
        QFETCH(int, before);
        QFETCH(QString, over);
        QFETCH(int, after);
        testing::ScriptedDialogs dialogs;
        ProgramFolder program;
        QVERIFY(program.putShippedFile(shell::kHandCursorFile));
        Form1 w;
        QVERIFY(w.Form_Load());
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        w.mousePointer().setValue(before);
        QWidget *target = &w;
        if (over.startsWith("List1"))
            target = w.findChild<QListWidget *>(over)->viewport();
        else if (over != "background")
            target = w.findChild<QWidget *>(over);
        QVERIFY(target);
        if (target == &w) {
            QTest::mouseMove(&w, {3, 3 + moves++ % 3});
        } else {
            moveOver(target);
        }
        QCOMPARE(w.mousePointer().value(), after);
        // The window's pointer shows over every control, whatever pointer it has itself.
        if (after == 99)
            QVERIFY(showsHand(w.Text1) && showsHand(w.List1[5]->viewport()) && showsHand(&w));
        if (after == 11)
            QCOMPARE(cursorOver(w.Text1).shape(), Qt::WaitCursor);
        if (after == 0)
            QCOMPARE(cursorOver(w.Text1).shape(), Qt::IBeamCursor);
        QVERIFY(dialogs.asked.empty());
    }

    void previewHoverKeepsTheHandOverThePictureAndScrollBars()
    {
        testing::ScriptedDialogs dialogs;
        ProgramFolder program;
        QVERIFY(program.putShippedFile(shell::kHandCursorFile));
        preview::Form2 preview;
        preview.Form_Load();
        QImage capture(1500, 1500, QImage::Format_RGB32);
        capture.fill(Qt::yellow);
        preview.setCapture(capture);
        preview.show();
        QVERIFY(QTest::qWaitForWindowExposed(&preview));
        auto &view = preview.viewport();
        shell::WindowPointer &pointer = preview.mousePointer();
        QCOMPARE(cursorOver(view.picture1()).shape(), Qt::SizeAllCursor);

        for (QWidget *button : {static_cast<QWidget *>(preview.PushButton1), static_cast<QWidget *>(preview.PushButton2),
                                static_cast<QWidget *>(preview.PushButton6), static_cast<QWidget *>(preview.PushButton8),
                                static_cast<QWidget *>(preview.PushButton9), static_cast<QWidget *>(preview.PushButton10)}) {
            pointer.setValue(shell::vbDefault);
            moveOver(button);
            QCOMPARE(pointer.value(), 99);
        }
        // From a button onto the picture and the scroll bars: still the hand, and the
        // picture area shows it instead of its own size-all arrow.
        for (QWidget *quiet : {static_cast<QWidget *>(view.picture1()), static_cast<QWidget *>(view.hScroll1()),
                               static_cast<QWidget *>(view.vScroll1())}) {
            moveOver(quiet);
            QCOMPARE(pointer.value(), 99);
        }
        QVERIFY(showsHand(view.picture1()));
        // A held button dragged along a scroll bar stays with it too.
        QTest::mousePress(view.vScroll1(), Qt::LeftButton, {}, {5, 30});
        QTest::mouseMove(view.vScroll1(), {5, 60});
        QTest::mouseRelease(view.vScroll1(), Qt::LeftButton, {}, {5, 60});
        QCOMPARE(pointer.value(), 99);
        // So does one dragged along the picture area's border, and over a scroll bar
        // that has nothing to scroll. (Neither takes such a press for itself.)
        for (int k = 0; k < 3; ++k)
            QTest::ignoreMessage(QtWarningMsg, QRegularExpression("not accepted by receiving widget"));
        QTest::mousePress(view.picture2(), Qt::LeftButton, {}, {0, 10});
        QTest::mouseMove(view.picture2(), {0, 20});
        QTest::mouseRelease(view.picture2(), Qt::LeftButton, {}, {0, 20});
        view.hScroll1()->setEnabled(false);
        QTest::mousePress(view.hScroll1(), Qt::LeftButton, {}, {30, 5});
        QTest::mouseMove(view.hScroll1(), {60, 5});
        QTest::mouseRelease(view.hScroll1(), Qt::LeftButton, {}, {60, 5});
        QCOMPARE(pointer.value(), 99);

        moveOver(preview.Frame1);
        QCOMPARE(pointer.value(), 0);
        QCOMPARE(cursorOver(view.picture1()).shape(), Qt::SizeAllCursor);
        moveOver(preview.PushButton2);
        QTest::mouseMove(&preview, {2, 2});
        QCOMPARE(pointer.value(), 0);

        pointer.setValue(shell::vbHourglass);
        moveOver(preview.PushButton6);
        moveOver(preview.Frame1);
        QCOMPARE(pointer.value(), 11);
        QCOMPARE(cursorOver(view.picture1()).shape(), Qt::WaitCursor);
        QVERIFY(dialogs.asked.empty());
    }

    void withoutTheCursorFileTheHandlersStillSetTheValue()
    {
        testing::ScriptedDialogs dialogs;
        ProgramFolder program;
        Form1 w;
        QVERIFY(w.Form_Load());
        w.show();
        QVERIFY(QTest::qWaitForWindowExposed(&w));
        moveOver(w.PushButton1);
        QCOMPARE(w.mousePointer().value(), 99);
        QCOMPARE(cursorOver(w.PushButton1).shape(), Qt::ArrowCursor);
        QVERIFY(dialogs.asked.empty());
    }

private:
    testing::TestEnvironment m_env;
};

QTEST_MAIN(TestLookAndFeel)
#include "test_look_and_feel.moc"
