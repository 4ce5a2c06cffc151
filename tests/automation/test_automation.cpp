#include "platform/automation/AutomationObject.h"
#include "platform/automation/ClassRegistry.h"

#include <QLocale>
#include <functional>
#include <QTest>

using namespace automation;

namespace {
class Counter : public DispatchObject {
public:
    Counter()
    {
        addGetter("Value", [this](const Args &) { return Variant(m_value); });
        addSetter("Value", [this](const Args &, const Variant &v) { m_value = v.toInt32(); });
        addGetter("Add", [this](const Args &a) {
            expectArgs(u"Add", a, 1, 1);
            m_value += a.at(0).toInt32() * a.at(1, u"Times").toInt32();
            return Variant(m_value);
        });
    }
    QString className() const override { return "Counter"; }
    int32_t m_value = 0;
};
} // namespace

class TestAutomation : public QObject {
    Q_OBJECT
private slots:
    void cleanup() { QLocale::setDefault(QLocale::c()); }

    void membersAreFoundWhateverTheirCase()
    {
        auto c = std::make_shared<Counter>();
        c->put(u"VALUE", int32_t(5));
        QCOMPARE(c->get(u"value").toInt32(), 5);
        QCOMPARE(c->call(u"add", {int32_t(2)}, {{"times", int32_t(3)}}).toInt32(), 11);
    }

    void unknownMembersAndWrongArgumentsRaiseDescriptiveErrors()
    {
        auto c = std::make_shared<Counter>();
        try {
            c->get(u"Colour");
            QFAIL("no error raised");
        } catch (const AutomationError &e) {
            QVERIFY(e.description().contains("Counter.Colour"));
        }
        QVERIFY_THROWS_EXCEPTION(AutomationError, c->call(u"Add", {int32_t(1), int32_t(2)}));
        QVERIFY_THROWS_EXCEPTION(AutomationError, c->invokeById(5, InvokeKind::Get, {}));
    }

    void conversionsFollowScriptingRules_data()
    {
        QTest::addColumn<double>("value");
        QTest::addColumn<int>("expected");
        QTest::newRow("half rounds to even, down") << 2.5 << 2;
        QTest::newRow("half rounds to even, up") << 3.5 << 4;
        QTest::newRow("negative half") << -0.5 << 0;
        QTest::newRow("plain") << 16.4 << 16;
    }
    void conversionsFollowScriptingRules()
    {
        QFETCH(double, value);
        QFETCH(int, expected);
        QCOMPARE(Variant(value).toInt16(), expected);
    }

    void booleansAreSixteenBitMinusOne()
    {
        QCOMPARE(Variant::fromBool(true).toInt16(), -1);
        QCOMPARE(Variant::fromBool(false).toInt16(), 0);
        QVERIFY(Variant("True").toBool());
    }

    void impossibleConversionsRaise()
    {
        QVERIFY_THROWS_EXCEPTION(AutomationError, Variant("sixteen").toInt16());
        QVERIFY_THROWS_EXCEPTION(AutomationError, Variant(40000.0).toInt16());
        QVERIFY_THROWS_EXCEPTION(AutomationError, Variant(int32_t(1)).toObject());
        QVERIFY_THROWS_EXCEPTION(AutomationError, requireObject(Variant(ObjectRef())));
    }

    void textConvertsWithTheUsersDecimalSeparator()
    {
        QLocale::setDefault(QLocale(QLocale::German, QLocale::Germany));
        QCOMPARE(Variant("16,0").toInt16(), 16);
        QVERIFY_THROWS_EXCEPTION(AutomationError, Variant("16.5.1").toInt16());
    }

    // "2007" and not "2,007" (or "2.007" in German): a number passed as text must read the same
    // on every machine.
    void numbersBecomeTextWithoutGroupingInEveryLocale_data()
    {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<double>("value");
        QTest::addColumn<QString>("text");
        const struct { double value; const char *text; } cases[] = {
            {2007, "2007"}, {0.1, "0.1"}, {1e20, "1E+20"}, {-2.5, "-2.5"}, {1e15, "1E+15"},
            {123456789012345.0, "123456789012345"}, {0.0001, "0.0001"}, {0.00001, "1E-05"},
            {1.0 / 3, "0.3333333333333333"}, {1234567.125, "1234567.125"}, {0.0, "0"}, {-1.5e-300, "-1.5E-300"},
        };
        for (const char *locale : {"C", "de_DE"})
            for (const auto &c : cases)
                QTest::addRow("%s %s", locale, c.text) << QString(locale) << c.value << QString(c.text);
    }
    void numbersBecomeTextWithoutGroupingInEveryLocale()
    {
        QFETCH(QString, locale);
        QFETCH(double, value);
        QFETCH(QString, text);
        QLocale::setDefault(QLocale(locale));
        QCOMPARE(Variant(value).toString(), text);
    }

    void errorValuesAreErrorsAndConvertToNothing()
    {
        const Variant div0 = Variant::fromError(Variant::kErrDiv0);
        QVERIFY(div0.isError());
        QCOMPARE(div0.type(), Variant::Type::Error);
        QCOMPARE(div0.errorCode(), 2007);
        QVERIFY(!div0.isNumeric());
        QVERIFY(div0 == Variant::fromError(2007));
        QVERIFY(!(div0 == Variant(int32_t(2007))));
        QVERIFY(!Variant(int32_t(2007)).isError());
        QVERIFY_THROWS_EXCEPTION(AutomationError, Variant(int32_t(2007)).errorCode());
        for (const auto &convert : std::initializer_list<std::function<void()>>{
                 [&] { div0.toString(); }, [&] { div0.toDouble(); }, [&] { div0.toInt32(); },
                 [&] { div0.toInt16(); }, [&] { div0.toBool(); }}) {
            try {
                convert();
                QFAIL("an error value converted");
            } catch (const AutomationError &e) {
                QCOMPARE(e.description(), kTypeMismatch);
            }
        }
    }

    void registryCreatesByIdentifierAndReportsUnknownOnes()
    {
        auto &reg = ClassRegistry::instance();
        reg.registerClass("Test.Counter", [] { return std::make_shared<Counter>(); });
        QVERIFY(createObject("test.counter"));
        reg.unregisterClass("Test.Counter");
        try {
            createObject("Test.Counter");
            QFAIL("no error raised");
        } catch (const AutomationError &e) {
            QVERIFY(e.description().startsWith(kCannotCreateObject));
        }
    }
};

QTEST_GUILESS_MAIN(TestAutomation)
#include "test_automation.moc"
