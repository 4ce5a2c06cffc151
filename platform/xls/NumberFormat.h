#pragma once
// Number formats: the text a cell shows for its value under the format code its XF names
// (a FORMAT record or a built-in id, Workbook::numberFormat), as the sheet shows it.
//
//   NumberFormat format(code);             parsed once, used for many cells
//   format.apply(value, dates)             a number (dates: the workbook's date system)
//   format.applyToText(text)               a text cell
//
// What is understood: General (at most 11 characters, then scientific); digit placeholders
// 0 # ?, the decimal point, thousands separators and trailing-comma scaling, percent,
// scientific E+ E-, fractions (# ?/?, fixed denominators), text @; literal text in quotes,
// after a backslash, and the characters a format shows as they are ($ - + / ( ) : space ...);
// _x (a space as wide as x) and *x (x repeated to fill the cell); up to four sections
// positive;negative;zero;text with [>100]-style conditions; the colours [Red] ... and
// [ColorN]; [$sym-locale] currency symbols; dates and times (d m y h s, AM/PM, A/P,
// fractional seconds, elapsed [h] [m] [s]) in the 1900 system with its phantom
// 29 February 1900, or the 1904 system.
//
// The output is locale-free: the decimal point, the comma and the English month and day names
// are what the file stores, whichever language the machine speaks.
//
// Left out: the Asian calendars and number scripts ([DBNum], [$-F800] long system date,
// B1/B2 and e/g era codes) show as plain Gregorian figures; the system date and time formats
// of the machine ([$-F800], [$-F400]) show in the English forms above.

#include <QString>

#include <cstdint>
#include <optional>
#include <vector>

namespace xls {

enum class DateSystem : uint8_t { From1900, From1904 };

// Characters a General number may take (its minus sign not counted).
constexpr int kGeneralMaxChars = 11;

// What a format makes of one value.
struct FormattedValue {
    QString text;
    // A colour the format asks for ([Red], [Color12]): a palette index for Workbook::color().
    std::optional<uint16_t> colorIndex;
    // *x: the character x repeated at this position of text until the cell is full; -1 for none.
    int fillAt = -1;
    QChar fill;
    // _x: the text holds a space at each of these positions, which should be as wide as x.
    struct Pad {
        int at = 0;
        QChar glyph;
    };
    std::vector<Pad> pads;
    // The value cannot be shown under this format (a negative date, a date past 9999): the
    // cell shows #### instead.
    bool unshowable = false;
};

// v in the General format within maxChars characters (1..kGeneralMaxChars); the sign of a
// negative number does not count.
QString formatGeneral(double v, int maxChars = kGeneralMaxChars);

class NumberFormat {
public:
    // Any text parses: what cannot be read as a format code shows as literal text.
    explicit NumberFormat(const QString &code = QStringLiteral("General"));

    // generalMaxChars: how many characters a General part may take (a narrow cell gives fewer).
    FormattedValue apply(double value, DateSystem dates, int generalMaxChars = kGeneralMaxChars) const;
    FormattedValue applyToText(const QString &text) const;

    // Nothing but General: a number's text then depends on the width of its cell only.
    bool isGeneral() const { return m_general; }

    // One piece of a format code, as parsed.
    enum class Kind : uint8_t {
        Literal, Digit, Point, Thousands, Percent, Exponent, Slash, Text, General, Fill, Pad,
        Year, Month, Day, Hour, Minute, Second, FracSecond, AmPm, ElapsedHours, ElapsedMinutes, ElapsedSeconds
    };
    struct Token {
        Kind kind = Kind::Literal;
        QString text;        // Literal: what it shows; AmPm: "AM/PM", "am/pm", "A/P" or "a/p"
        QChar ch;            // Digit: '0', '#' or '?'; Fill and Pad: the character; Exponent: '+' or '-'
        int count = 1;       // letters in a date or time code (mmm = 3), decimals of FracSecond
    };
    enum class Op : uint8_t { None, Less, LessEqual, Greater, GreaterEqual, Equal, NotEqual };
    struct Section {
        std::vector<Token> tokens;
        Op op = Op::None;
        double bound = 0;
        std::optional<uint16_t> colorIndex;
        int percents = 0;    // each % multiplies by 100
        int scaling = 0;     // each comma after the last digit divides by 1000
        bool dateTime = false, hasDate = false, elapsed = false, twelveHour = false, hasText = false;
        int secondDecimals = 0;
    };

private:
    std::vector<Section> m_sections;
    bool m_general = true;
};

} // namespace xls
