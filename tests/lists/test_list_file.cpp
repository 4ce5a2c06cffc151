// Lists written by hand for the command line: what is taken, and the line that stops it.

#include "lists/ListFile.h"

#include <QTest>

using lists::ListFileProblem;
using lists::ListTexts;

using Expected = QMap<int, QStringList>; // category index -> items; the rest empty

class TestListFile : public QObject {
    Q_OBJECT
private slots:
    void readsTheLists_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<Expected>("lists");
        QTest::newRow("captions in any case, comments and blank lines skipped")
            << QByteArray("# for Saturday\n\nDAIRY:\nMilk\n\n   \nmeat/seafood:\nTurkey\n")
            << Expected{{2, {"Milk"}}, {0, {"Turkey"}}};
        QTest::newRow("items exactly as written, CR LF line ends")
            << QByteArray("Produce:\r\n  Kale  \r\nKale\r\n#not an item\r\n") << Expected{{1, {"  Kale  ", "Kale"}}};
        QTest::newRow("the caption with its blank, or without") << QByteArray("Canned :\nTuna\ncanned:\nPeas")
                                                                << Expected{{4, {"Tuna", "Peas"}}};
        QTest::newRow("a caption again goes on with its list")
            << QByteArray("Other:\nFoil\nSnacks:\nNuts\nOTHER:\nTape\n") << Expected{{14, {"Foil", "Tape"}}, {13, {"Nuts"}}};
        QTest::newRow("byte order mark and UTF-8 text") << QByteArray("\xEF\xBB\xBF" "Dairy:\nCr\xC3\xA8me fra\xC3\xAE" "che")
                                                        << Expected{{2, {QString::fromUtf8("Cr\xC3\xA8me fra\xC3\xAE" "che")}}};
        QTest::newRow("nothing at all") << QByteArray() << Expected{};
    }
    void readsTheLists()
    {
        QFETCH(QByteArray, text);
        QFETCH(Expected, lists);
        const auto read = lists::readListFile(text);
        if (const auto *problem = std::get_if<ListFileProblem>(&read))
            QFAIL(qPrintable(QStringLiteral("line %1: %2").arg(problem->line).arg(problem->reason)));
        const ListTexts &got = std::get<ListTexts>(read);
        for (int i = 0; i < lists::kCategoryCount; ++i)
            QCOMPARE(got[size_t(i)], lists.value(i));
    }

    void stopsAtTheFirstWrongLine_data()
    {
        QByteArray twentyOne("Snacks:\n");
        for (int k = 1; k <= 21; ++k)
            twentyOne += "Snack " + QByteArray::number(k) + '\n';
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<int>("line");
        QTest::addColumn<QString>("reason");
        QTest::newRow("unknown caption") << QByteArray("Dairy:\nMilk\n\nFish:\nCod\n") << 4
                                         << "\"Fish\" is not a category (the categories are Meat/Seafood, Produce, Dairy, "
                                            "Natural/Organic, Canned, Frozen, Spices/Condiments, Beverages, Pet Food, "
                                            "Household Items, Pharmacy, Personal Hygiene, Cereal/Grain/Pasta, Snacks, Other)";
        QTest::newRow("item before any caption") << QByteArray("# list\nMilk\nDairy:\n") << 2
                                                 << "the item \"Milk\" comes before any category caption";
        QTest::newRow("item with the separator") << QByteArray("Other:\nFoil;Wrap\n") << 2
                                                 << "the item \"Foil;Wrap\" contains \";\", which a list cannot hold";
        QTest::newRow("21st item") << twentyOne << 22 << "more than 20 items in Snacks";
        QTest::newRow("Latin-1, not UTF-8") << QByteArray("Dairy:\nMilk\nCr\xE8me\n") << 3 << "this is not UTF-8 text";
        QTest::newRow("a NUL byte") << QByteArray("Dairy:\nMi\0lk\n", 13) << 2 << "this is not UTF-8 text";
        QTest::newRow("a caption cut in a sequence") << QByteArray("Dairy\xC3:\n") << 1 << "this is not UTF-8 text";
    }
    void stopsAtTheFirstWrongLine()
    {
        QFETCH(QByteArray, text);
        QFETCH(int, line);
        QFETCH(QString, reason);
        const auto read = lists::readListFile(text);
        const auto *problem = std::get_if<ListFileProblem>(&read);
        QVERIFY(problem);
        QCOMPARE(problem->line, line);
        QCOMPARE(problem->reason, reason);
    }
};

QTEST_GUILESS_MAIN(TestListFile)
#include "test_list_file.moc"
