// The shared facts against the forms their users held before they were gathered in one
// place: the twips conversion each caller rounded its own way, and the cell mapping the
// render tool computed with its own arithmetic.

#include "platform/facts/CellMapping.h"
#include "platform/facts/SampleList.h"
#include "platform/facts/Twips.h"

#include <QTest>
#include <climits>
#include <cmath>

class TestFacts : public QObject {
    Q_OBJECT
private slots:
    void wholeTwipsRoundAsEveryCallerDid()
    {
        for (int t = -200000; t <= 200000; ++t) {
            const int px = facts::twipsToPixels(t);
            // The preview rounded the double quotient, halves away from zero.
            QCOMPARE(px, int(std::round(t / 15.0)));
            // The main window and the sheet's row heights rounded non-negative lengths in integers.
            if (t >= 0) {
                QCOMPARE(px, (t * 2 + 15) / 30);
                QCOMPARE(px, (t + 7) / 15);
            }
        }
        // Neither end of int overflows.
        QCOMPARE(facts::twipsToPixels(INT_MAX), int(std::round(INT_MAX / 15.0)));
        QCOMPARE(facts::twipsToPixels(INT_MIN), int(std::round(INT_MIN / 15.0)));
    }

    void fractionalTwipsRoundToNearestAndStayInRange()
    {
        QCOMPARE(facts::twipsToPixels(7.49), 0);
        QCOMPARE(facts::twipsToPixels(7.5), 1); // exactly half a pixel: away from zero
        QCOMPARE(facts::twipsToPixels(-7.5), -1);
        QCOMPARE(facts::twipsToPixels(1e300), INT_MAX);
        QCOMPARE(facts::twipsToPixels(-1e300), INT_MIN);
    }

    void mappingMatchesTheBandsAndBlocks()
    {
        // Band i / 3 starts 11 rows below the last; block i % 3 is two columns wide, and the
        // right half of a block sits seven columns to the right of its left half.
        for (int category = 0; category < 15; ++category)
            for (int k = 0; k < facts::kItemsOnSheet; ++k) {
                const facts::ItemCells c = facts::itemCells(category, k);
                QCOMPARE(c.row, 3 + 11 * (category / 3) + k % 10);
                QCOMPARE(c.numberColumn, (k < 10 ? 1 : 8) + 2 * (category % 3));
                QCOMPARE(c.textColumn, c.numberColumn + 1);
            }
    }

    void sampleItemsAreInTableOrder()
    {
        // The Sample command reports a failing item by its line, so lines rise and
        // categories never go back.
        int line = 0, category = 0;
        for (const facts::SampleItem &s : facts::kSampleItems) {
            QVERIFY(s.line > line);
            QVERIFY(s.category >= category && s.category < 15);
            line = s.line;
            category = s.category;
        }
    }
};

QTEST_APPLESS_MAIN(TestFacts)
#include "test_facts.moc"
