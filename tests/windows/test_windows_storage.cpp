// The compound document through the system's structured storage: a tree with class ids,
// empty, small (mini stream) and large streams, and enough entries to need more than one
// directory sector comes back as it went in; the limits that keep a hostile file small
// hold here as they do over libgsf.

#include "platform/xls/CompoundFile.h"

#include <QTest>

using xls::CompoundFile;
using xls::StorageEntry;

namespace {
std::vector<uint8_t> pattern(size_t size, uint8_t seed)
{
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i)
        bytes[i] = uint8_t(seed + i * 7 + (i >> 9));
    return bytes;
}

StorageEntry stream(const QByteArray &name, std::vector<uint8_t> data) { return StorageEntry{name, false, std::move(data), {}, {}}; }

const StorageEntry *child(const StorageEntry &parent, const QByteArray &name)
{
    for (const StorageEntry &e : parent.children)
        if (e.name == name)
            return &e;
    return nullptr;
}

void compareTrees(const StorageEntry &got, const StorageEntry &want)
{
    QCOMPARE(got.classId, want.classId);
    QCOMPARE(got.children.size(), want.children.size());
    for (const StorageEntry &w : want.children) {
        const StorageEntry *g = child(got, w.name);
        QVERIFY2(g, w.name.constData());
        QCOMPARE(g->isStorage, w.isStorage);
        if (w.isStorage)
            compareTrees(*g, w);
        else
            QVERIFY2(g->data == w.data, w.name.constData());
    }
}

// A chain of storages, depth levels below the root.
CompoundFile nested(int depth)
{
    CompoundFile cf;
    cf.root().isStorage = true;
    StorageEntry *at = &cf.root();
    for (int level = 0; level < depth; ++level) {
        at->children.push_back(StorageEntry{"level" + QByteArray::number(level), true, {}, {}, {}});
        at = &at->children.back();
    }
    at->children.push_back(stream("leaf", {1}));
    return cf;
}
} // namespace

class TestWindowsStorage : public QObject {
    Q_OBJECT
private slots:
    void aTreeComesBackAsItWentIn()
    {
        CompoundFile cf;
        cf.root().isStorage = true;
        cf.root().classId = {0x20, 0x08, 0x02, 0, 0, 0, 0, 0, 0xC0, 0, 0, 0, 0, 0, 0, 0x46};
        cf.setStream("Workbook", pattern(70000, 1));            // regular sectors, several FAT entries
        cf.setStream("\x05SummaryInformation", pattern(200, 2)); // the mini stream
        cf.setStream("Empty", {});
        StorageEntry objects{"_VBA_PROJECT_CUR", true, {}, {}, {}};
        objects.classId[0] = 0x42;
        objects.children.push_back(stream("PROJECT", pattern(5000, 3)));
        objects.children.push_back(StorageEntry{"VBA", true, {}, {stream("dir", pattern(10, 4))}, {}});
        cf.root().children.push_back(objects);
        // Four entries fill a 512-byte directory sector: these need dozens.
        for (int i = 0; i < 150; ++i)
            cf.setStream("s" + QByteArray::number(i), pattern(size_t(i * 37), uint8_t(i)));

        xls::Result<std::vector<uint8_t>> bytes = cf.serialize();
        QVERIFY2(bytes.ok(), bytes.ok() ? "" : qPrintable(bytes.error().message));
        QVERIFY(std::equal(xls::kCompoundSignature.begin(), xls::kCompoundSignature.end(), bytes->begin()));
        xls::Result<CompoundFile> back = CompoundFile::parse(*bytes);
        QVERIFY2(back.ok(), back.ok() ? "" : qPrintable(back.error().message));
        compareTrees(back->root(), cf.root());
        QVERIFY(back->findStream("WORKBOOK")); // found as Excel finds it, whatever the case
    }

    void storagesNestedTooDeepAreRefused()
    {
        xls::Result<std::vector<uint8_t>> deepest = nested(CompoundFile::kMaxDepth).serialize();
        QVERIFY(deepest.ok());
        QVERIFY(CompoundFile::parse(*deepest).ok());
        xls::Result<std::vector<uint8_t>> deeper = nested(CompoundFile::kMaxDepth + 1).serialize();
        QVERIFY(deeper.ok());
        xls::Result<CompoundFile> refused = CompoundFile::parse(*deeper);
        QVERIFY(!refused.ok());
        QCOMPARE(refused.error().message, QStringLiteral("the compound document nests storages deeper than 16 levels"));
    }

    void tooManyEntriesAreRefused()
    {
        CompoundFile cf;
        cf.root().isStorage = true;
        for (size_t i = 0; i <= CompoundFile::kMaxEntries; ++i)
            cf.root().children.push_back(stream("e" + QByteArray::number(qulonglong(i)), {}));
        xls::Result<std::vector<uint8_t>> bytes = cf.serialize();
        QVERIFY(bytes.ok());
        xls::Result<CompoundFile> refused = CompoundFile::parse(*bytes);
        QVERIFY(!refused.ok());
        QCOMPARE(refused.error().message, QStringLiteral("the compound document has more than 4096 entries"));
    }

    void aNameStructuredStorageCannotHoldIsAnErrorNotACrash()
    {
        CompoundFile cf;
        cf.root().isStorage = true;
        cf.setStream(QByteArray(40, 'x'), {1, 2, 3}); // names hold at most 31 characters
        xls::Result<std::vector<uint8_t>> bytes = cf.serialize();
        QVERIFY(!bytes.ok());
        QVERIFY2(bytes.error().message.startsWith(QStringLiteral("cannot create \"xxxx")), qPrintable(bytes.error().message));
    }
};

QTEST_GUILESS_MAIN(TestWindowsStorage)
#include "test_windows_storage.moc"
