#pragma once
// The settings file as Qt's INI reader understands it, kept as the bytes it was read from,
// so that writing changes the values the program sets and nothing else: other sections,
// comments, keys of other programs and a hand edit's layout come out as they went in.
//
// Lines, quoting, escapes and the "@" forms follow the reader of QSettings::IniFormat, so
// a file written here reads back the same through QSettings and the other way round.

#include <QByteArray>
#include <QString>

#include <utility>
#include <vector>

namespace platform {

class IniFile {
public:
    enum class Kind { Missing, Text, NotText };
    struct Value {
        Kind kind = Kind::Missing;
        QString text;
    };

    // Never fails: a line that is neither a section, a key, a comment nor blank is passed
    // over (and remembered as damage), as Qt's reader does; a leading byte-order mark is one.
    static IniFile parse(QByteArray bytes);

    // The number of the first line that could not be read, 0 when there is none.
    int firstDamagedLine() const { return m_firstDamagedLine; }

    // Every section/key the file holds, in file order, repeated as often as it is there.
    std::vector<std::pair<QString, QString>> keys() const;

    // The last occurrence of section/key wins, as for Qt.
    Value value(QStringView section, QStringView key) const;

    // Replaces the key's value where it stands, or adds it at the end of its section (the
    // section at the end of the file when there is none).
    void setValue(const QString &section, const QString &key, const QString &text);

    // The file with the values set; lines that could not be read are left out.
    QByteArray bytes() const;

    // One value in the form Qt writes it ("a;b" quoted, "\n" escaped, "@" doubled).
    static QByteArray encodeValue(const QString &text);
    static Value decodeValue(QByteArrayView raw);

private:
    struct Entry {
        qsizetype start = 0, end = 0; // the line's bytes, without its line break
        QString section;
        QString key;                  // empty for a section header
        qsizetype valueStart = 0;
    };
    struct Edit {
        QString section, key;
        QByteArray line;
    };

    const Entry *find(QStringView section, QStringView key) const;

    QByteArray m_bytes;
    qsizetype m_bodyStart = 0; // after a byte-order mark
    std::vector<Entry> m_entries;
    std::vector<Edit> m_edits;
    std::vector<std::pair<qsizetype, qsizetype>> m_damaged; // lines no reader understands
    int m_firstDamagedLine = 0;
};

} // namespace platform
