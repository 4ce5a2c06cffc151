// The skin control: which files it takes as skins, its members by dispatch id, and where
// an applied skin reaches.

#include "platform/skin/SkinFramework.h"

#include <QApplication>
#include <QFile>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

using automation::Args;
using automation::AutomationError;
using automation::InvokeKind;
using automation::Variant;
using platform::SkinFramework;
namespace id = platform::skin_id;

namespace {
QString writeFile(const QTemporaryDir &dir, const QString &name, const QByteArray &bytes)
{
    const QString path = dir.filePath(name);
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly) || f.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(path));
    return path;
}

QString failureOf(const std::function<void()> &f)
{
    try {
        f();
    } catch (const AutomationError &e) {
        return e.description();
    }
    return {};
}

const QString kSheet = QStringLiteral("#main { background-color: #123456; }");
} // namespace

class TestSkinFramework : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { qApp->setStyleSheet(QString()); }

    void styleSheetsThatAreReadable_data()
    {
        QTest::addColumn<QString>("text");
        QTest::newRow("one rule") << "QWidget { color: red; }";
        QTest::newRow("selector list and comment") << "/* a { */ #Form1, QGroupBox::title { left: 9px }";
        QTest::newRow("brace inside a string") << "QLabel { qproperty-text: \"{ not a block\"; }";
        QTest::newRow("escaped quote in a string") << "QLabel { qproperty-text: 'it\\'s }'; }";
        QTest::newRow("attribute selector with a string") << "QWidget[name=\"a b\"] { color: blue }";
        QTest::newRow("empty block") << "QFrame {}";
    }
    void styleSheetsThatAreReadable()
    {
        QFETCH(QString, text);
        QCOMPARE(platform::styleSheetProblem(text), QString());
    }

    void styleSheetsThatAreNot_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("problem");
        QTest::newRow("empty") << "" << "has no rule";
        QTest::newRow("only a comment") << "/* nothing */  " << "has no rule";
        QTest::newRow("block never closed") << "QWidget { color: red;" << "has a block that is never closed";
        QTest::newRow("stray closing brace") << "QWidget { } }" << "has a closing brace without an opening one";
        QTest::newRow("block inside a block") << "A { B { } }" << "has a block inside a block";
        QTest::newRow("block without selector") << "{ color: red }" << "has a block without a selector";
        QTest::newRow("comment never closed") << "QWidget { } /* tail" << "has a comment that is never closed";
        QTest::newRow("string never closed") << "QLabel { qproperty-text: \"abc }" << "has a string that is never closed";
        QTest::newRow("string across a line") << "QLabel { qproperty-text: 'a\nb' }" << "has a string that is never closed";
        QTest::newRow("selector without block") << "QWidget { } QLabel" << "ends with a selector that has no block";
        QTest::newRow("plain prose") << "This is not a skin." << "ends with a selector that has no block";
        QTest::newRow("NUL character") << QStringLiteral("QWidget { }") + QChar(0) << "contains a NUL character";
    }
    void styleSheetsThatAreNot()
    {
        QFETCH(QString, text);
        QFETCH(QString, problem);
        QCOMPARE(platform::styleSheetProblem(text), problem);
    }

    void loadSkinRaisesNamingTheFile_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("expected");
        QTest::newRow("not UTF-8") << QByteArray("QWidget { color: \xff\xfe; }") << "is not UTF-8 text";
        QTest::newRow("NUL byte") << QByteArray("QWidget {\0}", 11) << "contains a NUL character";
        QTest::newRow("unbalanced") << QByteArray("QWidget {") << "has a block that is never closed";
        QTest::newRow("too large") << QByteArray((1 << 20) + 1, ' ') << "is too large to be a skin";
    }
    void loadSkinRaisesNamingTheFile()
    {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, expected);
        QTemporaryDir dir;
        const QString path = writeFile(dir, "o.cjs", bytes);
        SkinFramework skin;
        const QString failure = failureOf([&] { skin.invokeById(id::kLoadSkin, InvokeKind::Get, {path, ""}); });
        QVERIFY2(failure.contains(path) && failure.contains(expected), qPrintable(failure));
        QVERIFY(skin.styleSheet().isEmpty());
    }

    void loadSkinRaisesForAMissingFileOrAFolder()
    {
        QTemporaryDir dir;
        SkinFramework skin;
        const QString missing = dir.filePath("none.cjs");
        QVERIFY(failureOf([&] { skin.invokeById(id::kLoadSkin, InvokeKind::Get, {missing, ""}); }).contains(missing));
        QVERIFY(failureOf([&] { skin.invokeById(id::kLoadSkin, InvokeKind::Get, {dir.path(), ""}); })
                    .contains(dir.path()));
    }

    void aFailedLoadKeepsTheSkinLoadedBefore()
    {
        QTemporaryDir dir;
        SkinFramework skin;
        skin.invokeById(id::kLoadSkin, InvokeKind::Get, {writeFile(dir, "good.cjs", kSheet.toUtf8()), ""});
        const QString bad = writeFile(dir, "bad.cjs", "QWidget {");
        QVERIFY(!failureOf([&] { skin.invokeById(id::kLoadSkin, InvokeKind::Get, {bad, ""}); }).isEmpty());
        QCOMPARE(skin.styleSheet(), kSheet);
    }

    void optionsReadBackAsWritten()
    {
        SkinFramework skin;
        QCOMPARE(skin.invokeById(id::kApplyOptions, InvokeKind::Get, {}).toInt32(), 0);
        skin.invokeById(id::kApplyOptions, InvokeKind::Put, {Variant(int32_t(0x41))});
        QCOMPARE(skin.invokeById(id::kApplyOptions, InvokeKind::Get, {}).toInt32(), 0x41);
        skin.invokeById(id::kFramesOption, InvokeKind::Put, {Variant::fromBool(true)});
        skin.invokeById(id::kBackgroundOption, InvokeKind::Put, {Variant(int16_t(-1))});
        QVERIFY(skin.framesOption() && skin.backgroundOption());
        QVERIFY(!failureOf([&] { skin.invokeById(id::kApplyOptions, InvokeKind::Put, {Variant("many")}); })
                     .isEmpty());
        QVERIFY(!failureOf([&] { skin.invokeById(42, InvokeKind::Get, {}); }).isEmpty());
        QVERIFY(!failureOf([&] { skin.invokeById(id::kLoadSkin, InvokeKind::Put, {Variant("x")}); }).isEmpty());
    }

    void applyConfinedToTheWindowLeavesOtherWindowsAlone()
    {
        QTemporaryDir dir;
        QWidget main;
        main.setObjectName("main");
        auto *button = new QPushButton("b", &main);
        QWidget other;
        SkinFramework skin;
        skin.invokeById(id::kLoadSkin, InvokeKind::Get, {writeFile(dir, "o.cjs", kSheet.toUtf8()), ""});
        skin.invokeById(id::kApplyOptions, InvokeKind::Put, {Variant(platform::kConfineToWindow)});
        skin.invokeById(id::kApplyWindow, InvokeKind::Get, {Variant(int32_t(quint32(main.winId())))});
        QCOMPARE(main.styleSheet(), kSheet);
        QVERIFY(button->styleSheet().isEmpty());
        QVERIFY(other.styleSheet().isEmpty());
        QVERIFY(qApp->styleSheet().isEmpty());
    }

    void applyWithoutConfiningSkinsTheWholeApplication()
    {
        QTemporaryDir dir;
        QWidget main;
        SkinFramework skin;
        skin.invokeById(id::kLoadSkin, InvokeKind::Get, {writeFile(dir, "o.cjs", kSheet.toUtf8()), ""});
        skin.invokeById(id::kApplyWindow, InvokeKind::Get, {Variant(int32_t(quint32(main.winId())))});
        QCOMPARE(qApp->styleSheet(), kSheet);
        QVERIFY(main.styleSheet().isEmpty());
    }

    void applyRaisesWithoutASkinOrAWindow()
    {
        QTemporaryDir dir;
        QWidget main;
        const Variant handle(int32_t(quint32(main.winId())));
        SkinFramework skin;
        QCOMPARE(failureOf([&] { skin.invokeById(id::kApplyWindow, InvokeKind::Get, {handle}); }),
                 QStringLiteral("No skin is loaded"));
        skin.invokeById(id::kLoadSkin, InvokeKind::Get, {writeFile(dir, "o.cjs", kSheet.toUtf8()), ""});
        QVERIFY(failureOf([&] { skin.invokeById(id::kApplyWindow, InvokeKind::Get, {Variant(int32_t(0x7ffffff0))}); })
                    .startsWith("No window has the handle"));
        QVERIFY(main.styleSheet().isEmpty() && qApp->styleSheet().isEmpty());
    }
};

QTEST_MAIN(TestSkinFramework)
#include "test_skin_framework.moc"
