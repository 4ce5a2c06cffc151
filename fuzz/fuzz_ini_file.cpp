// libFuzzer entry point over the settings file reader: read, set the program's keys, write,
// read again. The keys set must read back as set, every other key as it read the first time,
// and what was written must read without damage: a line the writer misplaces shows up here.

#include "platform/services/IniFile.h"

#include <cstdio>
#include <cstdlib>

using platform::IniFile;

namespace {
[[noreturn]] void fail(const char *what, const QString &section, const QString &key)
{
    std::fprintf(stderr, "%s: [%s] %s\n", what, qPrintable(section), qPrintable(key));
    std::abort();
}

bool same(const IniFile::Value &a, const IniFile::Value &b) { return a.kind == b.kind && a.text == b.text; }
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(data), qsizetype(size));
    const IniFile first = IniFile::parse(bytes);
    const auto keys = first.keys();
    for (const auto &[section, key] : keys)
        (void)first.value(section, key);

    // The program's own section and keys, one of them set to text taken from the input so
    // that every character the encoder must escape is tried.
    const QString section = QStringLiteral("Pantrimo");
    const QString set[] = {QString::fromUtf8(bytes.first(std::min<qsizetype>(bytes.size(), 64))),
                           QStringLiteral("Milk;Eggs"), QString()};
    IniFile edited = IniFile::parse(bytes);
    for (int i = 0; i < 3; ++i)
        edited.setValue(section, QStringLiteral("List%1").arg(i), set[i]);
    const IniFile again = IniFile::parse(edited.bytes());

    if (again.firstDamagedLine() != 0)
        fail("the written file is damaged", {}, {});
    for (int i = 0; i < 3; ++i) {
        const QString key = QStringLiteral("List%1").arg(i);
        if (!same(again.value(section, key), {IniFile::Kind::Text, set[i]}) ||
            !same(edited.value(section, key), {IniFile::Kind::Text, set[i]}))
            fail("a value set does not read back", section, key);
    }
    for (const auto &[s, k] : keys) {
        if (s == section && (k == u"List0" || k == u"List1" || k == u"List2"))
            continue;
        if (!same(again.value(s, k), first.value(s, k)))
            fail("a value not set changed", s, k);
    }
    // Written twice, the file is written the same: nothing grows with every save.
    IniFile twice = IniFile::parse(edited.bytes());
    for (int i = 0; i < 3; ++i)
        twice.setValue(section, QStringLiteral("List%1").arg(i), set[i]);
    if (twice.bytes() != edited.bytes())
        fail("a second save changes the file", {}, {});
    return 0;
}
