#include "shell/AppTitle.h"
#include "shell/ErrorReport.h"
#include "platform/automation/AutomationError.h"
#include "tests/support/ScriptedDialogs.h"

#include <QTest>
#include <stdexcept>

using namespace shell;

class TestErrorReport : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { setStepProbe({}); }

    void reportTextHasDescriptionLocationBlankLineAndSupport()
    {
        QCOMPARE(errorReportText(locationText(u"Form1.Form_QueryUnload"), 114, "Permission denied"),
                 QStringLiteral("Permission denied\r\n"
                                "in Larderly2021/08/31.Form1.Form_QueryUnload at line 114\r\r"
                                "Please email screenshot of this message to support@pantrimo.example"));
    }

    void reportIsAWarningBoxTitledApplicationError()
    {
        testing::ScriptedDialogs dialogs;
        Guard g(u"Form2.picture1_MouseMove");
        g.step(100, [] { throw automation::AutomationError("Overflow"); });
        QCOMPARE(dialogs.asked.size(), size_t(1));
        QCOMPARE(dialogs.asked[0].style, 48);
        QCOMPARE(dialogs.asked[0].title, QStringLiteral("Application Error"));
        QVERIFY(dialogs.asked[0].text.contains("Form2.picture1_MouseMove at line 100"));
    }

    void failedStepIsReportedAndTheNextStepRuns()
    {
        testing::ScriptedDialogs dialogs;
        Guard g(u"Form1.PushButton5_Click");
        QStringList ran;
        g.step(100, [&] { ran << "100"; throw std::runtime_error("first"); });
        g.step(102, [&] { ran << "102"; });
        QCOMPARE(ran, QStringList({"100", "102"}));
        QCOMPARE(g.reports(), 1);
        QVERIFY(dialogs.messages().at(0).startsWith("first\r\n"));
    }

    void aReportAlreadyShownInThisRunIsNotShownAgain()
    {
        testing::ScriptedDialogs dialogs;
        Guard g(u"Form1.PushButton1_Click");
        int ran = 0;
        for (int k = 0; k < 300; ++k) {
            g.step(170, [&] { ++ran; throw automation::AutomationError("Object variable not set"); });
            g.step(172, [&] { throw automation::AutomationError("Object variable not set"); });
        }
        g.step(170, [] { throw automation::AutomationError("Disk full"); });
        QCOMPARE(ran, 300);
        QCOMPARE(g.reports(), 601);
        QCOMPARE(dialogs.messages().size(), 3);
        QVERIFY(dialogs.messages()[0].contains("at line 170"));
        QVERIFY(dialogs.messages()[1].contains("at line 172"));
        QVERIFY(dialogs.messages()[2].startsWith("Disk full"));
        Guard next(u"Form1.PushButton1_Click");
        next.step(170, [] { throw automation::AutomationError("Object variable not set"); });
        QCOMPARE(dialogs.messages().size(), 4); // a new run reports afresh
    }

    // Within one run (a procedure and those it calls), once a failure was reported, what
    // only follows from it is counted and not shown; a new run starts afresh.
    void aFollowOnFailureIsCountedButNotShownAfterAReport()
    {
        testing::ScriptedDialogs dialogs;
        const auto unset = [] { throw automation::FollowOnError("Object variable not set"); };
        {
            Guard run(u"Form1.PushButton1_Click");
            run.step(112, unset); // nothing was reported before it: shown
            run.step(170, unset);
            Guard capture(u"Excel1.saveCellsActivesheet");
            capture.step(100, unset);
            capture.step(112, [] { throw automation::AutomationError("Disk full"); });
            QCOMPARE(run.reports() + capture.reports(), 4);
        }
        QCOMPARE(dialogs.messages().size(), 2);
        QVERIFY(dialogs.messages()[0].contains("PushButton1_Click at line 112"));
        QVERIFY(dialogs.messages()[1].startsWith("Disk full\r\n"));
        Guard next(u"Form1.PushButton1_Click");
        next.step(170, unset);
        QCOMPARE(dialogs.messages().size(), 3);
    }

    void failedTestCountsAsPassedAndFailedLoopHeadEntersTheBodyOnce()
    {
        testing::ScriptedDialogs dialogs;
        Guard g(u"Form1.Form_Load");
        QVERIFY(g.test(132, []() -> bool { throw std::runtime_error("no value"); }));
        QCOMPARE(g.loopCount(138, []() -> int { throw std::runtime_error("no count"); }), 1);
        QCOMPARE(g.value(130, []() -> QString { throw std::runtime_error("x"); }, QString("fallback")),
                 QStringLiteral("fallback"));
        QCOMPARE(dialogs.messages().size(), 3);
    }

    void probeMakesTheChosenStepFail()
    {
        testing::ScriptedDialogs dialogs;
        setStepProbe([](const QString &proc, int line) {
            if (proc == "Form1.Form_Load" && line == 102)
                throw std::runtime_error("injected");
        });
        Guard g(u"Form1.Form_Load");
        bool ran102 = false, ran104 = false;
        g.step(102, [&] { ran102 = true; });
        g.step(104, [&] { ran104 = true; });
        QVERIFY(!ran102);
        QVERIFY(ran104);
        QVERIFY(dialogs.messages().at(0).contains("at line 102"));
    }

    void programEndPassesThroughGuards()
    {
        Guard g(u"Form2.Form_QueryUnload");
        QVERIFY_THROWS_EXCEPTION(ProgramEnd, g.step(100, [] { throw ProgramEnd{}; }));
    }

    void applicationTitleCutsWordsFromTheEnd_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("title");
        QTest::newRow("one word is kept") << "Pantrimo" << "Pantrimo";
        QTest::newRow("short name loses its last word") << "Grocery List Maker" << "Grocery List";
        QTest::newRow("long name loses words until 40 or fewer")
            << "The Extraordinarily Comprehensive Grocery List Template Maker Pro"
            << "The Extraordinarily Comprehensive";
        QTest::newRow("exactly 40 after the first cut")
            << QString("aaaaaaaaa bbbbbbbbb ccccccccc dddddddddd eee") << QString("aaaaaaaaa bbbbbbbbb ccccccccc dddddddddd");
    }
    void applicationTitleCutsWordsFromTheEnd()
    {
        QFETCH(QString, name);
        QFETCH(QString, title);
        QCOMPARE(applicationTitleFor(name), title);
    }
};

QTEST_MAIN(TestErrorReport)
#include "test_error_report.moc"
