#include "platform/services/IniFile.h"

#include <QStringDecoder>
#include <QStringList>

#include <algorithm>
#include <utility>

namespace platform {

namespace {
const QByteArray kByteOrderMark = QByteArrayLiteral("\xEF\xBB\xBF");

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }
bool isHexDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
int hexValue(char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; }
bool isOctDigit(char c) { return c >= '0' && c <= '7'; }

// Where the physical line that holds pos ends, past its line break. Qt's reader ends a line
// at "\n", "\r" or "\r\n" alike, so a file saved with old Mac endings, or a hand edit that
// left a lone "\r", has lines that no "\n" closes.
qsizetype afterLineBreak(QByteArrayView data, qsizetype pos)
{
    const qsizetype n = data.size();
    while (pos < n && data[pos] != '\n' && data[pos] != '\r')
        ++pos;
    if (pos < n && data[pos] == '\r' && pos + 1 < n && data[pos + 1] == '\n')
        return pos + 2;
    return pos < n ? pos + 1 : n;
}

// The number of the physical line that begins at or holds pos, counted as Qt's reader counts
// line breaks.
int lineNumberAt(QByteArrayView data, qsizetype pos)
{
    int line = 1;
    for (qsizetype i = 0; i < pos; ++i)
        if (data[i] == '\n' || (data[i] == '\r' && (i + 1 >= data.size() || data[i + 1] != '\n')))
            ++line;
    return line;
}

// QString::fromUtf8 drops a byte-order mark at the start of what it converts; inside a value,
// after an escape, that mark is a character of the text.
QString fromUtf8KeepingMarks(QByteArrayView raw)
{
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom);
    return decoder.decode(raw);
}

struct Line {
    qsizetype start = 0, end = 0, equals = -1;
    bool open = false; // the data ended inside quotes or after a backslash
};

// One logical line from pos on. A quoted part may run over line breaks; a ";" at the start
// of a line makes it a comment, and one later outside quotes ends the line (the rest is a
// comment); a backslash takes the next character with it. False at the end of the data.
bool nextLine(QByteArrayView data, qsizetype &pos, Line &line)
{
    const qsizetype n = data.size();
    qsizetype i = pos;
    while (i < n && isBlank(data[i]))
        ++i;
    line = Line{i, i, -1};
    bool quoted = false;
    while (i < n) {
        const char c = data[i++];
        if (c == '=') {
            if (!quoted && line.equals < 0)
                line.equals = i - 1;
        } else if (c == '\n' || c == '\r') {
            if (!quoted) {
                --i;
                break;
            }
        } else if (c == '\\') {
            if (i == n)
                line.open = true;
            if (i < n) {
                const char escaped = data[i++];
                if (i < n && ((escaped == '\n' && data[i] == '\r') || (escaped == '\r' && data[i] == '\n')))
                    ++i;
            }
        } else if (c == '"') {
            quoted = !quoted;
        } else if (c == ';') {
            if (i - 1 == line.start) {
                while (i < n && data[i] != '\n' && data[i] != '\r')
                    ++i;
                while (i < n && isBlank(data[i]))
                    ++i;
                line.start = i;
            } else if (!quoted) {
                --i;
                break;
            }
        }
    }
    pos = i;
    line.end = i;
    line.open = line.open || quoted;
    return line.end > line.start;
}

// Keys and section names: "%XX" and "%UXXXX" stand for characters, "\" for "/".
QString decodeKey(QByteArrayView raw)
{
    const QString text = QString::fromUtf8(raw);
    QString key;
    key.reserve(text.size());
    for (qsizetype i = 0; i < text.size();) {
        const QChar c = text[i];
        if (c == u'\\') {
            key += u'/';
            ++i;
            continue;
        }
        if (c != u'%' || i == text.size() - 1) {
            key += c;
            ++i;
            continue;
        }
        const bool wide = text[i + 1] == u'U';
        const qsizetype first = i + 1 + (wide ? 1 : 0);
        const int digits = wide ? 4 : 2;
        bool ok = false;
        const ushort code = first + digits <= text.size() ? text.mid(first, digits).toUShort(&ok, 16) : 0;
        if (!ok) {
            key += u'%';
            ++i;
            continue;
        }
        key += QChar(code);
        i = first + digits;
    }
    return key;
}

QByteArray encodeKey(const QString &key)
{
    QByteArray raw;
    for (const QChar c : key) {
        const ushort u = c.unicode();
        if (u == '/')
            raw += '\\';
        else if ((u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || u == '_' || u == '-' ||
                 u == '.')
            raw += char(u);
        else if (u <= 0xFF)
            raw += '%' + QByteArray::number(u, 16).toUpper().rightJustified(2, '0');
        else
            raw += "%U" + QByteArray::number(u, 16).toUpper().rightJustified(4, '0');
    }
    return raw;
}

void chopTrailingBlanks(QString &s, qsizetype limit)
{
    qsizetype n = s.size();
    while (n > limit && (s[n - 1] == u' ' || s[n - 1] == u'\t'))
        --n;
    s.truncate(n);
}

// The "@" forms QSettings writes for values that are not plain text.
IniFile::Value interpretAtForms(const QString &s)
{
    using Kind = IniFile::Kind;
    if (s.startsWith(u'@') && s.endsWith(u')')) {
        if (s.startsWith(QLatin1String("@ByteArray(")))
            return {Kind::Text, QString::fromLatin1(QStringView(s).sliced(11).chopped(1).toLatin1())};
        if (s.startsWith(QLatin1String("@String(")))
            return {Kind::Text, s.sliced(8).chopped(1)};
        for (const char *form : {"@Variant(", "@DateTime(", "@Rect(", "@Size(", "@Point("})
            if (s.startsWith(QLatin1String(form)))
                return {Kind::NotText, s};
        if (s == QLatin1String("@Invalid()"))
            return {Kind::Missing, {}};
    }
    if (s.startsWith(QLatin1String("@@")))
        return {Kind::Text, s.sliced(1)};
    return {Kind::Text, s};
}
} // namespace

IniFile::Value IniFile::decodeValue(QByteArrayView raw)
{
    QStringList pieces;
    bool isList = false, inQuotes = false, pieceQuoted = false, endedInEscape = false;
    QString piece;
    qsizetype i = 0;
    const qsizetype n = raw.size();
    const auto skipSpaces = [&] {
        while (i < n && (raw[i] == ' ' || raw[i] == '\t'))
            ++i;
    };
    skipSpaces();
    qsizetype chopLimit = 0;
    while (i < n) {
        const char c = raw[i];
        if (c == '\\') {
            if (++i >= n) {
                endedInEscape = true;
                break;
            }
            const char e = raw[i++];
            static constexpr char kSimple[][2] = {{'a', '\a'}, {'b', '\b'}, {'f', '\f'}, {'n', '\n'},
                                                  {'r', '\r'}, {'t', '\t'}, {'v', '\v'}, {'"', '"'},
                                                  {'?', '?'},  {'\'', '\''}, {'\\', '\\'}};
            const auto simple = std::find_if(std::begin(kSimple), std::end(kSimple), [e](auto &p) { return p[0] == e; });
            if (simple != std::end(kSimple)) {
                piece += QLatin1Char((*simple)[1]);
            } else if (e == 'x' && i < n && isHexDigit(raw[i])) {
                char16_t code = 0;
                while (i < n && isHexDigit(raw[i]))
                    code = char16_t((code << 4) + hexValue(raw[i++]));
                piece += QChar(code);
            } else if (isOctDigit(e)) {
                char16_t code = char16_t(e - '0');
                while (i < n && isOctDigit(raw[i]))
                    code = char16_t((code << 3) + (raw[i++] - '0'));
                piece += QChar(code);
            } else if (e == '\n' || e == '\r') {
                if (i < n && (raw[i] == '\n' || raw[i] == '\r') && raw[i] != e)
                    ++i;
            }
            chopLimit = piece.size();
        } else if (c == '"') {
            ++i;
            pieceQuoted = true;
            inQuotes = !inQuotes;
            if (!inQuotes) {
                skipSpaces();
                chopLimit = piece.size();
            }
        } else if (c == ',' && !inQuotes) {
            if (!pieceQuoted)
                chopTrailingBlanks(piece, chopLimit);
            isList = true;
            pieces.append(piece);
            piece.clear();
            pieceQuoted = false;
            ++i;
            skipSpaces();
            chopLimit = 0;
        } else {
            qsizetype j = i + 1;
            while (j < n && raw[j] != '\\' && raw[j] != '"' && raw[j] != ',')
                ++j;
            piece += fromUtf8KeepingMarks(raw.sliced(i, j - i));
            i = j;
        }
    }
    if (!pieceQuoted && !endedInEscape)
        chopTrailingBlanks(piece, chopLimit);
    if (isList) {
        // Qt reads unquoted commas (a hand edit) as a list; the commas belong to the text.
        pieces.append(piece);
        return {Kind::Text, pieces.join(u',')};
    }
    return interpretAtForms(piece);
}

QByteArray IniFile::encodeValue(const QString &text)
{
    const QString s = text.startsWith(u'@') ? u'@' + text : text;
    QByteArray out;
    out.reserve(s.size() + 8);
    bool needsQuotes = false, escapeNextIfHex = false;
    QString plain; // a run of characters written as UTF-8, converted together so pairs stay whole
    const auto flush = [&] {
        out += plain.toUtf8();
        plain.clear();
    };
    for (const QChar qc : s) {
        const ushort c = qc.unicode();
        if (c == ';' || c == ',' || c == '=')
            needsQuotes = true;
        if (escapeNextIfHex && c < 0x80 && isHexDigit(char(c))) {
            flush();
            out += "\\x" + QByteArray::number(c, 16);
            continue;
        }
        escapeNextIfHex = false;
        const char *escape = nullptr;
        switch (c) {
        case '\a': escape = "\\a"; break;
        case '\b': escape = "\\b"; break;
        case '\f': escape = "\\f"; break;
        case '\n': escape = "\\n"; break;
        case '\r': escape = "\\r"; break;
        case '\t': escape = "\\t"; break;
        case '\v': escape = "\\v"; break;
        case '"': escape = "\\\""; break;
        case '\\': escape = "\\\\"; break;
        default: break;
        }
        if (escape) {
            flush();
            out += escape;
        } else if (c == 0) {
            flush();
            out += "\\0";
            escapeNextIfHex = true;
        } else if (c <= 0x1F || c == 0xFEFF) {
            // A byte-order mark is escaped too: Qt's reader drops one that follows an escape.
            flush();
            out += "\\x" + QByteArray::number(c, 16);
            escapeNextIfHex = true;
        } else {
            plain += qc;
        }
    }
    flush();
    if (needsQuotes || (!out.isEmpty() && (out.front() == ' ' || out.back() == ' ')))
        out = '"' + out + '"';
    return out;
}

IniFile IniFile::parse(QByteArray bytes)
{
    IniFile file;
    file.m_bytes = std::move(bytes);
    const QByteArrayView data(file.m_bytes);
    file.m_bodyStart = data.startsWith(kByteOrderMark) ? kByteOrderMark.size() : 0;
    QString section;
    qsizetype pos = file.m_bodyStart;
    Line line;
    const auto damaged = [&] {
        if (file.m_firstDamagedLine == 0)
            file.m_firstDamagedLine = lineNumberAt(data, line.start);
        file.m_damaged.push_back({line.start, line.end});
    };
    while (nextLine(data, pos, line)) {
        const QByteArrayView text = data.sliced(line.start, line.end - line.start);
        if (line.open) {
            // Whatever is written after such a line would be read as part of it; no writer
            // leaves one, so it is damage, kept in the backup.
            damaged();
        } else if (text.startsWith('[')) {
            const qsizetype close = text.indexOf(']');
            if (close < 0) {
                // Qt would file every later key under a nameless section; keeping the one
                // in force loses nothing that can still be read.
                damaged();
                continue;
            }
            const QByteArrayView name = text.sliced(1, close - 1).trimmed();
            if (name.compare("general", Qt::CaseInsensitive) == 0)
                section.clear();
            else if (name.compare("%general", Qt::CaseInsensitive) == 0)
                section = QString::fromLatin1(name.sliced(1));
            else
                section = decodeKey(name);
            file.m_entries.push_back({line.start, line.end, section, {}, line.end});
        } else if (line.equals < 0) {
            damaged();
        } else {
            const QString key = decodeKey(data.sliced(line.start, line.equals - line.start).trimmed());
            file.m_entries.push_back({line.start, line.end, section, key, line.equals + 1});
        }
    }
    return file;
}

const IniFile::Entry *IniFile::find(QStringView section, QStringView key) const
{
    for (auto it = m_entries.rbegin(); it != m_entries.rend(); ++it)
        if (!it->key.isEmpty() && it->key == key && it->section == section)
            return &*it;
    return nullptr;
}

std::vector<std::pair<QString, QString>> IniFile::keys() const
{
    std::vector<std::pair<QString, QString>> all;
    for (const Entry &e : m_entries)
        if (!e.key.isEmpty())
            all.emplace_back(e.section, e.key);
    return all;
}

IniFile::Value IniFile::value(QStringView section, QStringView key) const
{
    for (auto it = m_edits.rbegin(); it != m_edits.rend(); ++it)
        if (it->section == section && it->key == key)
            return decodeValue(QByteArrayView(it->line).sliced(it->line.indexOf('=') + 1));
    const Entry *entry = find(section, key);
    if (!entry)
        return {};
    return decodeValue(QByteArrayView(m_bytes).sliced(entry->valueStart, entry->end - entry->valueStart));
}

void IniFile::setValue(const QString &section, const QString &key, const QString &text)
{
    QByteArray line = encodeKey(key) + '=' + encodeValue(text);
    for (Edit &edit : m_edits) {
        if (edit.section == section && edit.key == key) {
            edit.line = std::move(line);
            return;
        }
    }
    m_edits.push_back({section, key, std::move(line)});
}

QByteArray IniFile::bytes() const
{
    struct Splice {
        qsizetype at, removed;
        QByteArray text;
    };
    std::vector<Splice> splices;
    QByteArray appended;
    std::vector<QString> newSections;
    const QByteArrayView data(m_bytes);
    bool ledIn = false; // a last line without a break of its own gets one before the first line added after it
    for (const Edit &edit : m_edits) {
        if (const Entry *entry = find(edit.section, edit.key)) {
            splices.push_back({entry->start, entry->end - entry->start, edit.line});
            continue;
        }
        const auto last = std::find_if(m_entries.rbegin(), m_entries.rend(),
                                       [&](const Entry &e) { return e.section == edit.section; });
        if (last != m_entries.rend()) {
            const qsizetype at = afterLineBreak(data, last->end);
            // A line that runs to the end of the data has no break of its own, even when
            // its last bytes are an escaped one.
            const bool open = last->end == data.size() || (!data.endsWith('\n') && !data.endsWith('\r'));
            const bool lead = at == data.size() && open && !std::exchange(ledIn, true);
            // After an escaped "\r" at the very end, one "\n" would only complete that escape
            // (an escaped "\r\n" is one line break): the added line would join the value.
            const QByteArray leadIn = !lead ? QByteArray() : data.endsWith('\r') ? QByteArray("\n\n") : QByteArray("\n");
            splices.push_back({at, 0, leadIn + edit.line + '\n'});
        } else if (std::find(newSections.begin(), newSections.end(), edit.section) == newSections.end()) {
            newSections.push_back(edit.section);
        }
    }
    // A line no reader understands is not written back (the caller keeps the old file):
    // left in place, it would make Qt's reader file the lines after it elsewhere.
    for (const auto &[start, end] : m_damaged)
        splices.push_back({start, afterLineBreak(data, end) - start, {}});
    for (const QString &section : newSections) {
        appended += '[' + (section.isEmpty() ? QByteArray("General") : encodeKey(section)) + "]\n";
        for (const Edit &edit : m_edits)
            if (edit.section == section)
                appended += edit.line + '\n';
    }
    std::stable_sort(splices.begin(), splices.end(), [](const Splice &a, const Splice &b) {
        return a.at != b.at ? a.at < b.at : a.removed < b.removed;
    });
    QByteArray out;
    out.reserve(m_bytes.size() + appended.size() + 256);
    qsizetype from = m_bodyStart; // a byte-order mark is not written back: plain UTF-8 reads everywhere
    for (const Splice &s : splices) {
        out += data.sliced(from, s.at - from);
        out += s.text;
        from = s.at + s.removed;
    }
    out += data.sliced(from);
    // With the damaged lines before it gone, a mark that stood later in the file can come
    // first, where the next reading would take it for the file's own.
    if (out.startsWith(kByteOrderMark))
        out.remove(0, kByteOrderMark.size());
    if (!appended.isEmpty()) {
        if (!out.isEmpty())
            out += out.endsWith('\n') ? "\n" : "\n\n";
        out += appended;
    }
    return out;
}

} // namespace platform
