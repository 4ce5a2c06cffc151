// The arithmetic under the picture: column and row pixels, General numbers, which border line
// wins.

#include "platform/render/CellText.h"
#include "platform/render/Geometry.h"
#include "platform/render/Strokes.h"

#include <QtTest>

using namespace render;

class TestRenderRules : public QObject {
    Q_OBJECT
private slots:
    void columnWidth_data();
    void columnWidth();
    void rowHeight_data();
    void rowHeight();
    void defaultColumnWidthRoundsToEight();
    void general_data();
    void general();
    void strongerLineWins();
};

void TestRenderRules::columnWidth_data()
{
    QTest::addColumn<int>("stored");
    QTest::addColumn<int>("pixels");
    QTest::newRow("3.43 chars") << 1060 << 29;
    QTest::newRow("18.71 chars") << 4973 << 136;
    QTest::newRow("3.29 chars") << 1024 << 28;
    QTest::newRow("3.71 chars") << 1133 << 31;
    QTest::newRow("8.43 chars") << 2340 << 64;
    QTest::newRow("zero") << 0 << 0;
    QTest::newRow("widest") << 65535 << 1792;
}

void TestRenderRules::columnWidth()
{
    QFETCH(int, stored);
    QFETCH(int, pixels);
    QCOMPARE(columnWidthPx(uint16_t(stored)), pixels);
}

void TestRenderRules::rowHeight_data()
{
    QTest::addColumn<int>("twips");
    QTest::addColumn<int>("pixels");
    QTest::newRow("50.1 pt title") << 1002 << 67;
    QTest::newRow("21.95 pt caption") << 439 << 29;
    QTest::newRow("21.75 pt caption") << 435 << 29;
    QTest::newRow("18 pt item") << 360 << 24;
    QTest::newRow("13.5 pt default") << 270 << 18;
    QTest::newRow("12.75 pt") << 255 << 17;
    QTest::newRow("zero") << 0 << 0;
}

void TestRenderRules::rowHeight()
{
    QFETCH(int, twips);
    QFETCH(int, pixels);
    QCOMPARE(rowHeightPx(uint16_t(twips)), pixels);
}

void TestRenderRules::defaultColumnWidthRoundsToEight()
{
    QCOMPARE(defaultColumnWidthPx(8), 64);
    QCOMPARE(defaultColumnWidthPx(10), 80);
    QCOMPARE(defaultColumnWidthPx(0), 8);
}

void TestRenderRules::general_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<QString>("text");
    QTest::newRow("integer") << 20.0 << QStringLiteral("20");
    QTest::newRow("zero") << 0.0 << QStringLiteral("0");
    QTest::newRow("negative zero") << -0.0 << QStringLiteral("0");
    QTest::newRow("binary fraction noise") << 0.1 + 0.2 << QStringLiteral("0.3");
    QTest::newRow("third") << 1.0 / 3 << QStringLiteral("0.333333333");
    QTest::newRow("negative third") << -1.0 / 3 << QStringLiteral("-0.333333333");
    QTest::newRow("eleven digits") << 12345678901.0 << QStringLiteral("12345678901");
    QTest::newRow("twelve digits") << 123456789012.0 << QStringLiteral("1.23457E+11");
    QTest::newRow("rounds up to twelve digits") << 99999999999.6 << QStringLiteral("1E+11");
    QTest::newRow("small") << 0.0001234 << QStringLiteral("0.0001234");
    QTest::newRow("tiny") << 0.00001234 << QStringLiteral("1.234E-05");
    QTest::newRow("huge") << 1e300 << QStringLiteral("1E+300");
    QTest::newRow("decimals cut") << 1234567.891234 << QStringLiteral("1234567.891");
}

void TestRenderRules::general()
{
    QFETCH(double, value);
    QFETCH(QString, text);
    QCOMPARE(formatGeneral(value), text);
    QVERIFY(formatGeneral(value).remove(QLatin1Char('-')).size() <= kGeneralMaxChars);
}

void TestRenderRules::strongerLineWins()
{
    constexpr uint8_t thin = 1, medium = 2, dashed = 3, dotted = 4, thick = 5, dbl = 6, hair = 7;
    QVERIFY(outranks(thick, thin));
    QVERIFY(outranks(thick, dbl));
    QVERIFY(outranks(dbl, medium));
    QVERIFY(outranks(medium, thin));
    QVERIFY(outranks(thin, dashed));
    QVERIFY(outranks(dashed, dotted));
    QVERIFY(outranks(dotted, hair));
    QVERIFY(outranks(hair, 0));
    QVERIFY(!outranks(thin, thin)); // a tie goes to the second cell
    QCOMPARE(lineStyle(15).width, 1); // a style number a damaged file may hold still draws
}

QTEST_GUILESS_MAIN(TestRenderRules)
#include "test_render_rules.moc"
