#include "lists/ListFile.h"

#include <QStringDecoder>

namespace lists {

namespace {
int categoryOfCaption(QStringView caption)
{
    for (int i = 0; i < kCategoryCount; ++i)
        // "Canned " is shown without its trailing blank.
        if (QStringView(kCategoryCaptions[size_t(i)]).trimmed().compare(caption.trimmed(), Qt::CaseInsensitive) == 0)
            return i;
    return -1;
}

QString knownCaptions()
{
    QStringList names;
    for (const QString &caption : kCategoryCaptions)
        names << caption.trimmed();
    return names.join(QStringLiteral(", "));
}
} // namespace

std::variant<ListTexts, ListFileProblem> readListFile(const QByteArray &bytes)
{
    ListTexts lists;
    int category = -1;
    const QList<QByteArray> lines = bytes.split('\n');
    for (qsizetype n = 0; n < lines.size(); ++n) {
        const int lineNumber = int(n) + 1;
        QByteArray raw = lines[n];
        if (raw.endsWith('\r'))
            raw.chop(1);
        // A fresh decoder for every line, so a bad byte is told against its own line. A
        // multi-byte sequence never holds the byte of a line feed.
        QStringDecoder utf8(QStringDecoder::Utf8);
        const QString line = utf8.decode(raw);
        if (utf8.hasError() || raw.contains('\0'))
            return ListFileProblem{lineNumber, QStringLiteral("this is not UTF-8 text")};
        if (line.trimmed().isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        if (line.trimmed().endsWith(QLatin1Char(':'))) {
            const QStringView caption = QStringView(line).trimmed().chopped(1);
            category = categoryOfCaption(caption);
            if (category < 0)
                return ListFileProblem{lineNumber, QStringLiteral("\"%1\" is not a category (the categories are %2)")
                                                       .arg(caption.toString(), knownCaptions())};
            continue;
        }
        if (category < 0)
            return ListFileProblem{lineNumber, QStringLiteral("the item \"%1\" comes before any category caption").arg(line)};
        if (line.contains(kItemSeparator))
            return ListFileProblem{lineNumber, QStringLiteral("the item \"%1\" contains \";\", which a list cannot hold").arg(line)};
        QStringList &items = lists[size_t(category)];
        if (items.size() >= kMaxItemsByAdd)
            return ListFileProblem{lineNumber, QStringLiteral("more than %1 items in %2")
                                                   .arg(kMaxItemsByAdd)
                                                   .arg(kCategoryCaptions[size_t(category)].trimmed())};
        items.append(line);
    }
    return lists;
}

} // namespace lists
