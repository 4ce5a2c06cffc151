#include "workbook/TemplateResource.h"

#include "platform/automation/AutomationError.h"

#include <QFile>
#include <QTest>

class TestTemplateResource : public QObject {
    Q_OBJECT
private slots:
    void resourceIsTheCommittedWorkbookByteForByte()
    {
        QFile committed(QStringLiteral(TEMPLATE_FILE));
        QVERIFY(committed.open(QIODevice::ReadOnly));
        const QByteArray bytes = workbook::LoadTemplateBytes();
        QCOMPARE(bytes.size(), committed.size());
        QCOMPARE(bytes, committed.readAll());
        // An OLE2 compound document, not a compressed stream.
        QVERIFY(bytes.startsWith(QByteArray::fromHex("d0cf11e0a1b11ae1")));
    }

    void unknownResourceRaises()
    {
        QVERIFY_THROWS_EXCEPTION(automation::AutomationError, workbook::LoadResData(102, "CUSTOM"));
    }
};

QTEST_GUILESS_MAIN(TestTemplateResource)
#include "test_template_resource.moc"
