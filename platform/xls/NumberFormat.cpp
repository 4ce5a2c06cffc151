#include "platform/xls/NumberFormat.h"

#include <QDate>
#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>

namespace xls {
namespace {

using Kind = NumberFormat::Kind;
using Op = NumberFormat::Op;
using Token = NumberFormat::Token;
using Section = NumberFormat::Section;

// Digits a spreadsheet keeps of a number: what lies beyond the 15th is noise of the binary
// form (1.005 is stored as 1.00499999999999989...), and rounding it would show 1.00.
constexpr int kSignificantDigits = 15;
// The last day a date can show, 31 December 9999, and the days of the 1900 system before
// its phantom 29 February.
constexpr double kLastSerial = 2958465.0;
constexpr int kPhantomLeapDay = 60;
constexpr int kSecondsPerDay = 86400;
// A fraction's denominator is at most this many digits, whatever the code asks.
constexpr int kMaxDenominatorDigits = 4;

const std::array<const char *, 12> kMonths = {"January", "February", "March", "April", "May", "June", "July",
                                              "August", "September", "October", "November", "December"};
const std::array<const char *, 7> kDays = {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};

// The eight colour names a format may give, as indices of the palette (Color1 is index 8).
std::optional<uint16_t> colorByName(const QString &name)
{
    static const std::array<const char *, 8> names = {"black", "white", "red", "green", "blue", "yellow", "magenta", "cyan"};
    const QString lower = name.toLower();
    for (size_t i = 0; i < names.size(); ++i)
        if (lower == QLatin1String(names[i]))
            return uint16_t(8 + i);
    if (lower.startsWith(QLatin1String("color"))) {
        bool ok = false;
        const int n = lower.mid(5).toInt(&ok);
        if (ok && n >= 1 && n <= 56)
            return uint16_t(7 + n);
    }
    return std::nullopt;
}

// ---- Parsing ---------------------------------------------------------------------------

QStringList splitSections(const QString &code)
{
    QStringList sections;
    QString current;
    bool quoted = false;
    int bracket = 0;
    for (qsizetype i = 0; i < code.size(); ++i) {
        const QChar c = code[i];
        if (quoted) {
            quoted = c != u'"';
        } else if (c == u'"') {
            quoted = true;
        } else if (c == u'\\' || c == u'_' || c == u'*') {
            current += c;
            if (i + 1 < code.size())
                current += code[++i];
            continue;
        } else if (c == u'[') {
            ++bracket;
        } else if (c == u']') {
            bracket = std::max(0, bracket - 1);
        } else if (c == u';' && bracket == 0) {
            sections << current;
            current.clear();
            continue;
        }
        current += c;
    }
    sections << current;
    return sections;
}

void addLiteral(Section &s, const QString &text)
{
    if (!s.tokens.empty() && s.tokens.back().kind == Kind::Literal)
        s.tokens.back().text += text;
    else
        s.tokens.push_back({Kind::Literal, text, {}, 1});
}

// [...] : a colour, a condition, an elapsed time or a currency symbol with its locale.
void parseBracket(Section &s, const QString &b)
{
    if (b.isEmpty())
        return;
    if (auto color = colorByName(b)) {
        s.colorIndex = color;
        return;
    }
    const QChar first = b[0].toLower();
    if (first == u'<' || first == u'>' || first == u'=') {
        qsizetype n = 1;
        if (b.startsWith(QLatin1String("<=")))
            s.op = Op::LessEqual, n = 2;
        else if (b.startsWith(QLatin1String(">=")))
            s.op = Op::GreaterEqual, n = 2;
        else if (b.startsWith(QLatin1String("<>")))
            s.op = Op::NotEqual, n = 2;
        else
            s.op = first == u'<' ? Op::Less : first == u'>' ? Op::Greater : Op::Equal;
        bool ok = false;
        s.bound = b.mid(n).trimmed().toDouble(&ok);
        if (!ok)
            s.op = Op::None;
        return;
    }
    if (first == u'h' || first == u'm' || first == u's') {
        if (std::all_of(b.begin(), b.end(), [&](QChar c) { return c.toLower() == first; })) {
            const Kind kind = first == u'h' ? Kind::ElapsedHours : first == u'm' ? Kind::ElapsedMinutes : Kind::ElapsedSeconds;
            s.tokens.push_back({kind, {}, {}, int(b.size())});
        }
        return;
    }
    if (first == u'$') {
        // [$€-407]: the symbol, then the locale it came from, which changes nothing here.
        const qsizetype dash = b.indexOf(u'-');
        addLiteral(s, b.mid(1, dash < 0 ? -1 : dash - 1));
    }
    // Anything else ([DBNum1], [natnum1] ...) changes how a script writes digits: left out.
}

// A run of one letter (case-insensitive) from i.
int runLength(const QString &t, qsizetype i)
{
    const QChar c = t[i].toLower();
    int n = 0;
    while (i + n < t.size() && t[i + n].toLower() == c)
        ++n;
    return n;
}

Section parseSection(const QString &t)
{
    Section s;
    for (qsizetype i = 0; i < t.size();) {
        const QChar c = t[i];
        const QChar lc = c.toLower();
        if (c == u'"') {
            const qsizetype end = t.indexOf(u'"', i + 1);
            addLiteral(s, t.mid(i + 1, end < 0 ? -1 : end - i - 1));
            i = end < 0 ? t.size() : end + 1;
        } else if (c == u'\\' || c == u'_' || c == u'*') {
            const QChar next = i + 1 < t.size() ? t[i + 1] : QChar(u' ');
            if (c == u'\\')
                addLiteral(s, QString(next));
            else
                s.tokens.push_back({c == u'_' ? Kind::Pad : Kind::Fill, {}, next, 1});
            i += 2;
        } else if (c == u'[') {
            const qsizetype end = t.indexOf(u']', i + 1);
            parseBracket(s, t.mid(i + 1, end < 0 ? -1 : end - i - 1));
            i = end < 0 ? t.size() : end + 1;
        } else if (t.mid(i, 7).compare(QLatin1String("General"), Qt::CaseInsensitive) == 0) {
            s.tokens.push_back({Kind::General, {}, {}, 1});
            i += 7;
        } else if (c == u'0' || c == u'#' || c == u'?') {
            s.tokens.push_back({Kind::Digit, {}, c, 1});
            ++i;
        } else if (c == u'.') {
            s.tokens.push_back({Kind::Point, {}, c, 1});
            ++i;
        } else if (c == u',') {
            s.tokens.push_back({Kind::Thousands, {}, c, 1}); // sorted out below
            ++i;
        } else if (c == u'%') {
            s.tokens.push_back({Kind::Percent, {}, c, 1});
            ++s.percents;
            ++i;
        } else if (lc == u'e' && i + 1 < t.size() && (t[i + 1] == u'+' || t[i + 1] == u'-')) {
            s.tokens.push_back({Kind::Exponent, {}, t[i + 1], 1});
            i += 2;
        } else if (c == u'/') {
            s.tokens.push_back({Kind::Slash, {}, c, 1});
            ++i;
        } else if (c == u'@') {
            s.tokens.push_back({Kind::Text, {}, c, 1});
            s.hasText = true;
            ++i;
        } else if (t.mid(i, 5).compare(QLatin1String("AM/PM"), Qt::CaseInsensitive) == 0) {
            s.tokens.push_back({Kind::AmPm, t.mid(i, 5), {}, 1});
            i += 5;
        } else if (t.mid(i, 3).compare(QLatin1String("A/P"), Qt::CaseInsensitive) == 0) {
            s.tokens.push_back({Kind::AmPm, t.mid(i, 3), {}, 1});
            i += 3;
        } else if (lc == u'y' || lc == u'd' || lc == u'h' || lc == u's' || lc == u'm') {
            const int n = runLength(t, i);
            const Kind kind = lc == u'y' ? Kind::Year : lc == u'd' ? Kind::Day : lc == u'h' ? Kind::Hour
                : lc == u's' ? Kind::Second : Kind::Month;
            s.tokens.push_back({kind, {}, {}, n});
            i += n;
        } else if (lc == u'b' && i + 1 < t.size() && (t[i + 1] == u'1' || t[i + 1] == u'2')) {
            i += 2; // a calendar switch: left out
        } else {
            addLiteral(s, QString(c));
            ++i;
        }
    }
    return s;
}

bool isDateTimeKind(Kind k)
{
    return k >= Kind::Year;
}

// m and mm are minutes right after an hour or right before a second, months otherwise; .0
// after seconds is a fraction of a second.
void resolveDateTime(Section &s)
{
    auto &tk = s.tokens;
    for (size_t i = 0; i < tk.size(); ++i) {
        if (tk[i].kind != Kind::Month || tk[i].count > 2)
            continue;
        bool minute = false;
        for (size_t j = i; j-- > 0;) {
            if (!isDateTimeKind(tk[j].kind))
                continue;
            minute = tk[j].kind == Kind::Hour || tk[j].kind == Kind::ElapsedHours;
            break;
        }
        for (size_t j = i + 1; j < tk.size() && !minute; ++j) {
            if (!isDateTimeKind(tk[j].kind))
                continue;
            minute = tk[j].kind == Kind::Second || tk[j].kind == Kind::ElapsedSeconds;
            break;
        }
        if (minute)
            tk[i].kind = Kind::Minute;
    }
    for (const Token &t : tk) {
        s.dateTime = s.dateTime || isDateTimeKind(t.kind);
        s.hasDate = s.hasDate || t.kind == Kind::Year || t.kind == Kind::Month || t.kind == Kind::Day;
        s.elapsed = s.elapsed || t.kind == Kind::ElapsedHours || t.kind == Kind::ElapsedMinutes || t.kind == Kind::ElapsedSeconds;
        s.twelveHour = s.twelveHour || t.kind == Kind::AmPm;
    }
    if (!s.dateTime)
        return;
    // In a date or time, digits only follow a second's decimal point; anything else that a
    // number would use shows as it is.
    std::vector<Token> out;
    for (size_t i = 0; i < tk.size(); ++i) {
        const Token &t = tk[i];
        const bool afterSecond = !out.empty() && (out.back().kind == Kind::Second || out.back().kind == Kind::ElapsedSeconds);
        if (t.kind == Kind::Point && afterSecond && i + 1 < tk.size() && tk[i + 1].kind == Kind::Digit && tk[i + 1].ch == u'0') {
            int n = 0;
            while (i + 1 < tk.size() && tk[i + 1].kind == Kind::Digit && tk[i + 1].ch == u'0')
                ++n, ++i;
            out.push_back({Kind::FracSecond, {}, {}, std::min(n, 3)});
            s.secondDecimals = std::min(n, 3);
        } else if (t.kind == Kind::Exponent) {
            out.push_back({Kind::Literal, QStringLiteral("E") + t.ch, {}, 1}); // in a date, e is left out
        } else if (t.kind == Kind::Digit || t.kind == Kind::Point || t.kind == Kind::Thousands || t.kind == Kind::Slash
                   || t.kind == Kind::Percent) {
            out.push_back({Kind::Literal, QString(t.ch), {}, 1});
        } else {
            out.push_back(t);
        }
    }
    tk = std::move(out);
}

// A comma between digit placeholders groups thousands (once for the whole figure); one or
// more right after the last placeholder of a figure divide by 1000 each; any other shows.
void resolveCommas(Section &s)
{
    auto &tk = s.tokens;
    std::vector<Token> out;
    bool grouping = false;
    for (size_t i = 0; i < tk.size(); ++i) {
        if (tk[i].kind != Kind::Thousands) {
            out.push_back(tk[i]);
            continue;
        }
        const bool digitBefore = !out.empty() && (out.back().kind == Kind::Digit || out.back().kind == Kind::Thousands);
        size_t j = i;
        while (j < tk.size() && tk[j].kind == Kind::Thousands)
            ++j;
        const bool digitAfter = j < tk.size() && tk[j].kind == Kind::Digit;
        if (digitBefore && digitAfter) {
            grouping = true;
            i = j - 1;
        } else if (digitBefore) {
            s.scaling += int(j - i);
            i = j - 1;
        } else {
            out.push_back({Kind::Literal, QStringLiteral(","), {}, 1});
        }
    }
    if (grouping)
        out.insert(out.begin(), {Kind::Thousands, {}, u',', 1}); // a flag for the whole figure
    tk = std::move(out);
}

// ---- Numbers ---------------------------------------------------------------------------

// a >= 0 rounded half away from zero at 10^-decimals, on its first 15 significant digits:
// the integer digits (empty for none) and exactly `decimals` decimals.
struct Decimal {
    QString integer, fraction;
    bool isZero() const
    {
        return integer.isEmpty() && std::all_of(fraction.begin(), fraction.end(), [](QChar c) { return c == u'0'; });
    }
};

Decimal roundDecimal(double a, int decimals)
{
    Decimal d;
    if (!(a > 0) || !std::isfinite(a)) {
        d.fraction = QString(decimals, u'0');
        return d;
    }
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.*e", kSignificantDigits - 1, a);
    QString digits;
    for (const char *p = buf; *p && *p != 'e'; ++p)
        if (*p >= '0' && *p <= '9')
            digits += QLatin1Char(*p);
    int exp = std::atoi(std::strchr(buf, 'e') + 1); // digits[0] stands for 10^exp
    const int keep = exp + 1 + decimals;              // digits down to 10^-decimals
    if (keep < 0) {
        digits.clear();
    } else if (keep < digits.size()) {
        const bool up = digits[keep] >= u'5';
        digits.truncate(keep);
        if (up) {
            int k = keep - 1;
            for (; k >= 0 && digits[k] == u'9'; --k)
                digits[k] = u'0';
            if (k >= 0) {
                digits[k] = QChar(digits[k].unicode() + 1);
            } else {
                digits.prepend(u'1');
                ++exp;
            }
        }
    }
    const int intCount = exp + 1;
    if (intCount > 0) {
        d.integer = digits.left(intCount);
        if (d.integer.size() < intCount)
            d.integer += QString(intCount - d.integer.size(), u'0');
        d.fraction = digits.mid(intCount);
    } else {
        d.fraction = QString(-intCount, u'0') + digits;
    }
    d.fraction = d.fraction.left(decimals);
    if (d.fraction.size() < decimals)
        d.fraction += QString(decimals - d.fraction.size(), u'0');
    while (!d.integer.isEmpty() && d.integer[0] == u'0')
        d.integer.remove(0, 1);
    return d;
}

QString scientific(double a, int maxChars)
{
    for (int decimals = std::max(0, maxChars - 6); decimals >= 0; --decimals) {
        char buf[48];
        std::snprintf(buf, sizeof buf, "%.*E", decimals, a);
        QString s = QString::fromLatin1(buf);
        const qsizetype e = s.indexOf(QLatin1Char('E'));
        QString mantissa = s.left(e);
        QString exponent = s.mid(e + 1);
        if (mantissa.contains(QLatin1Char('.'))) {
            while (mantissa.endsWith(QLatin1Char('0')))
                mantissa.chop(1);
            if (mantissa.endsWith(QLatin1Char('.')))
                mantissa.chop(1);
        }
        const QChar sign = exponent.at(0);
        QString digits = exponent.mid(1);
        while (digits.size() > 2 && digits.startsWith(QLatin1Char('0')))
            digits.remove(0, 1);
        QString out = mantissa + QLatin1Char('E') + sign + digits;
        if (out.size() <= maxChars || decimals == 0)
            return out;
    }
    return {};
}

QString fixedTrimmed(double a, int decimals)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, a);
    QString s = QString::fromLatin1(buf);
    if (s.contains(QLatin1Char('.'))) {
        while (s.endsWith(QLatin1Char('0')))
            s.chop(1);
        if (s.endsWith(QLatin1Char('.')))
            s.chop(1);
    }
    return s;
}

// The characters one digit placeholder shows where the figure has no digit for it.
QString emptyPlaceholder(QChar ch)
{
    return ch == u'0' ? QStringLiteral("0") : ch == u'?' ? QStringLiteral(" ") : QString();
}

// Integer digits into the placeholders (in order), right-aligned: the first
// placeholder takes any surplus digits. Returns, per placeholder, what it shows.
std::vector<QString> fillInteger(const QString &digits, const std::vector<QChar> &placeholders, bool grouping)
{
    std::vector<QString> shown(placeholders.size());
    qsizetype next = digits.size() - 1; // next digit to place, from the right
    int position = 0;                   // power of ten of the place being filled
    auto withGroup = [&](QString s) {
        if (grouping && position > 0 && position % 3 == 0)
            s += u',';
        return s;
    };
    for (size_t k = placeholders.size(); k-- > 0;) {
        QString here;
        if (k == 0) {
            for (; next >= 0; --next, ++position)
                here.prepend(withGroup(QString(digits[next])));
            if (here.isEmpty())
                here = withGroup(emptyPlaceholder(placeholders[k]));
        } else if (next >= 0) {
            here = withGroup(QString(digits[next--]));
            ++position;
        } else {
            const QString pad = emptyPlaceholder(placeholders[k]);
            here = pad == u'0' ? withGroup(pad) : pad;
            if (!pad.isEmpty())
                ++position;
        }
        shown[k] = here;
    }
    return shown;
}

// Decimals into their placeholders, left to right; trailing zeros are dropped under # and
// blanked under ?.
std::vector<QString> fillDecimals(const QString &digits, const std::vector<QChar> &placeholders)
{
    std::vector<QString> shown(placeholders.size());
    for (size_t k = 0; k < placeholders.size(); ++k)
        shown[k] = QString(digits[qsizetype(k)]);
    for (size_t k = placeholders.size(); k-- > 0;) {
        if (digits[qsizetype(k)] != u'0' || placeholders[k] == u'0')
            break;
        shown[k] = emptyPlaceholder(placeholders[k]);
    }
    return shown;
}

struct Output {
    FormattedValue value;
    void add(const QString &s) { value.text += s; }
};

// Everything of a section that is not a number or date part: literals, pads, fills, @.
bool addCommon(Output &out, const Token &t, const QString &textValue)
{
    switch (t.kind) {
    case Kind::Literal: out.add(t.text); return true;
    case Kind::Percent: out.add(QStringLiteral("%")); return true;
    case Kind::Pad:
        out.value.pads.push_back({int(out.value.text.size()), t.ch});
        out.add(QStringLiteral(" "));
        return true;
    case Kind::Fill:
        if (out.value.fillAt < 0) {
            out.value.fillAt = int(out.value.text.size());
            out.value.fill = t.ch;
        }
        return true;
    case Kind::Text: out.add(textValue); return true;
    default: return false;
    }
}

// Best fraction n/d of x (0 <= x < 1) with d below maxDen: the smallest error, the smallest
// denominator among equals.
std::pair<int64_t, int64_t> bestFraction(double x, int64_t maxDen)
{
    int64_t bestN = 0, bestD = 1;
    double bestErr = x;
    for (int64_t d = 1; d <= maxDen; ++d) {
        const int64_t n = int64_t(std::llround(x * double(d)));
        const double err = std::fabs(x - double(n) / double(d));
        if (err < bestErr - 1e-12) {
            bestErr = err, bestN = n, bestD = d;
            if (err == 0)
                break;
        }
    }
    return {bestN, bestD};
}

FormattedValue formatNumberSection(const Section &s, double v, bool showMinus, int generalMaxChars)
{
    Output out;
    const auto &tk = s.tokens;
    double a = std::fabs(v);
    for (int i = 0; i < s.percents; ++i)
        a *= 100;
    for (int i = 0; i < s.scaling; ++i)
        a /= 1000;

    // Where the figure's parts are.
    const bool grouping = !tk.empty() && tk.front().kind == Kind::Thousands;
    std::optional<size_t> point, exponent, slash;
    for (size_t i = 0; i < tk.size(); ++i) {
        if (tk[i].kind == Kind::Point && !point && !exponent)
            point = i;
        else if (tk[i].kind == Kind::Exponent && !exponent)
            exponent = i;
        else if (tk[i].kind == Kind::Slash && !slash && i > 0 && tk[i - 1].kind == Kind::Digit && !exponent)
            slash = i;
    }
    const size_t mantissaEnd = exponent ? *exponent : tk.size();
    std::vector<size_t> intAt, fracAt, expAt;
    for (size_t i = 0; i < tk.size(); ++i) {
        if (tk[i].kind != Kind::Digit)
            continue;
        if (exponent && i > *exponent)
            expAt.push_back(i);
        else if (point && i > *point && i < mantissaEnd)
            fracAt.push_back(i);
        else
            intAt.push_back(i);
    }
    auto chars = [&](const std::vector<size_t> &at) {
        std::vector<QChar> c;
        for (size_t i : at)
            c.push_back(tk[i].ch);
        return c;
    };
    std::vector<QString> shown(tk.size());
    std::vector<uint8_t> blanked(tk.size()); // literals a whole number turns into spaces
    bool zero = false;
    QString general;

    if (slash) {
        // Numerator: the placeholders right before the slash; whole number: any before that.
        size_t numStart = *slash;
        while (numStart > 0 && tk[numStart - 1].kind == Kind::Digit)
            --numStart;
        std::vector<size_t> wholeAt, numAt, denAt;
        for (size_t i : intAt)
            (i < numStart ? wholeAt : i < *slash ? numAt : denAt).push_back(i);
        int64_t whole = 0;
        double rest = a;
        if (!wholeAt.empty()) {
            whole = int64_t(std::floor(a));
            rest = a - double(whole);
        }
        // A denominator written as digits is fixed; placeholders bound it.
        int64_t fixedDen = 0;
        size_t denLiteral = *slash + 1;
        if (denAt.empty() && denLiteral < tk.size() && tk[denLiteral].kind == Kind::Literal) {
            const QString t = tk[denLiteral].text;
            qsizetype n = 0;
            while (n < t.size() && t[n].isDigit())
                ++n;
            fixedDen = t.left(n).toLongLong();
        }
        int64_t num = 0, den = 1;
        if (fixedDen > 0) {
            den = fixedDen;
            num = std::llround(rest * double(den));
        } else {
            const int digits = std::clamp(int(denAt.size()), 1, kMaxDenominatorDigits);
            int64_t maxDen = 1;
            for (int i = 0; i < digits; ++i)
                maxDen *= 10;
            std::tie(num, den) = bestFraction(rest - std::floor(rest), maxDen - 1);
            num += int64_t(std::floor(rest)) * den;
        }
        if (!wholeAt.empty() && num >= den && fixedDen == 0) {
            whole += num / den;
            num %= den;
        }
        zero = whole == 0 && num == 0;
        const bool hideFraction = num == 0 && !wholeAt.empty();
        const std::vector<QString> w = fillInteger(whole ? QString::number(whole) : QString(), chars(wholeAt), false);
        for (size_t k = 0; k < wholeAt.size(); ++k)
            shown[wholeAt[k]] = w[k];
        if (!wholeAt.empty() && whole == 0 && hideFraction) // 0.01 as "# ?/?" shows 0, not nothing
            shown[wholeAt.back()] = QStringLiteral("0");
        const std::vector<QString> n = fillInteger(num ? QString::number(num) : QString(), chars(numAt), false);
        for (size_t k = 0; k < numAt.size(); ++k)
            shown[numAt[k]] = n[k];
        // The denominator stands left-aligned against the slash, padded to its placeholders.
        const QString denText = QString::number(den);
        for (size_t k = 0; k < denAt.size(); ++k) {
            if (k == 0)
                shown[denAt[k]] = denText;
            else
                shown[denAt[k]] = qsizetype(k) < denText.size() ? QString() : emptyPlaceholder(tk[denAt[k]].ch);
        }
        shown[*slash] = QStringLiteral("/");
        if (hideFraction) {
            // A whole number keeps the fraction's room, in spaces.
            const size_t last = denAt.empty() ? *slash + 1 : denAt.back();
            for (size_t i = numStart; i <= last && i < tk.size(); ++i) {
                if (tk[i].kind == Kind::Literal) {
                    qsizetype n = 0;
                    while (n < tk[i].text.size() && tk[i].text[n].isDigit())
                        ++n;
                    shown[i] = QString(n, u' ') + tk[i].text.mid(n);
                    blanked[i] = 1;
                } else {
                    shown[i] = QString(std::max<qsizetype>(1, shown[i].size()), u' ');
                }
            }
        }
    } else if (exponent) {
        const int intPlaces = std::max<int>(1, int(intAt.size()));
        const bool engineering = intAt.size() > 1 && tk[intAt.front()].ch == u'#';
        const int decimals = int(fracAt.size());
        int exp = 0;
        Decimal m;
        if (a > 0) {
            exp = int(std::floor(std::log10(a)));
            for (int attempt = 0; attempt < 2; ++attempt) {
                int e = exp;
                if (engineering)
                    e = exp - ((exp % intPlaces) + intPlaces) % intPlaces;
                m = roundDecimal(a / std::pow(10.0, e), decimals);
                const int limit = engineering ? intPlaces : 1;
                if (m.integer.size() > limit) { // 9.99 rounded up to 10.0
                    ++exp;
                    continue;
                }
                exp = e;
                break;
            }
        } else {
            m = roundDecimal(0, decimals);
        }
        zero = m.isZero();
        const std::vector<QString> in = fillInteger(m.integer, chars(intAt), false);
        for (size_t k = 0; k < intAt.size(); ++k)
            shown[intAt[k]] = in[k];
        const std::vector<QString> fr = fillDecimals(m.fraction, chars(fracAt));
        for (size_t k = 0; k < fracAt.size(); ++k)
            shown[fracAt[k]] = fr[k];
        QString e = QString::number(std::abs(exp));
        const std::vector<QString> ex = fillInteger(e, chars(expAt), false);
        for (size_t k = 0; k < expAt.size(); ++k)
            shown[expAt[k]] = ex[k];
        shown[*exponent] = QStringLiteral("E") + (exp < 0 ? QStringLiteral("-") : tk[*exponent].ch == u'+' ? QStringLiteral("+") : QString());
    } else if (!intAt.empty() || !fracAt.empty()) {
        const Decimal d = roundDecimal(a, int(fracAt.size()));
        zero = d.isZero();
        std::vector<QChar> ic = chars(intAt);
        const std::vector<QString> in = fillInteger(d.integer, ic, grouping);
        for (size_t k = 0; k < intAt.size(); ++k)
            shown[intAt[k]] = in[k];
        const std::vector<QString> fr = fillDecimals(d.fraction, chars(fracAt));
        for (size_t k = 0; k < fracAt.size(); ++k)
            shown[fracAt[k]] = fr[k];
    } else {
        // No figure: only text, or General.
        general = formatGeneral(a, generalMaxChars);
        zero = general == u'0';
    }

    if (showMinus && v < 0 && !zero)
        out.add(QStringLiteral("-"));
    for (size_t i = 0; i < tk.size(); ++i) {
        const Token &t = tk[i];
        if (blanked[i]) {
            out.add(shown[i]);
            continue;
        }
        switch (t.kind) {
        case Kind::Digit:
        case Kind::Exponent: out.add(shown[i]); break;
        case Kind::Slash: out.add(slash && i == *slash ? shown[i] : QStringLiteral("/")); break;
        case Kind::Point: out.add(QStringLiteral(".")); break;
        case Kind::General: out.add(general); break;
        case Kind::Thousands: break;
        default:
            // @ in a number's section stands for the number as General.
            addCommon(out, t, t.kind == Kind::Text ? formatGeneral(a, generalMaxChars) : QString());
        }
    }
    return std::move(out.value);
}

// ---- Dates and times -------------------------------------------------------------------

double roundTo(double x, int decimals)
{
    const double f = std::pow(10.0, decimals);
    return std::round(x * f) / f;
}

struct Clock {
    int64_t day = 0;          // serial day
    int64_t seconds = 0;      // of the day, or in all for elapsed time
    double fraction = 0;      // of the second, rounded to the shown decimals
};

// Times are cut, not rounded, to what they show: 23:59:59.99 stays 23:59:59, as the
// spreadsheet we compare with shows it; only a value that includes a date rounds to its
// shown second (and may carry into the next day).
Clock clockOf(double v, const Section &s)
{
    Clock c;
    if (s.hasDate && !s.elapsed) {
        double day = std::floor(v);
        double sec = roundTo((v - day) * kSecondsPerDay, s.secondDecimals);
        if (sec >= kSecondsPerDay) {
            sec -= kSecondsPerDay;
            day += 1;
        }
        c.day = int64_t(day);
        c.seconds = int64_t(std::floor(sec));
        c.fraction = sec - std::floor(sec);
        return c;
    }
    const double day = std::floor(v);
    // Keep the digits the value really has: a date in it leaves fewer for the seconds.
    int dec = 9;
    if (std::fabs(v) >= 1.0)
        dec = std::clamp(10 - int(std::ceil(std::log10(std::fabs(v)))), 2, 9);
    double sec = roundTo((v - day) * kSecondsPerDay, dec);
    if (sec >= kSecondsPerDay)
        sec -= 1e-9;
    c.day = int64_t(day);
    c.seconds = int64_t(std::floor(sec));
    double frac = sec - std::floor(sec);
    if (s.secondDecimals > 0) {
        const double r = roundTo(frac, s.secondDecimals);
        const double f = std::pow(10.0, s.secondDecimals);
        frac = r >= 1.0 ? std::floor(frac * f) / f : r;
    }
    c.fraction = frac;
    if (s.elapsed)
        c.seconds += c.day * kSecondsPerDay;
    return c;
}

struct CivilDate {
    int year = 1900, month = 1, day = 0;
    int weekday = 0;          // 0 Sunday
};

std::optional<CivilDate> civilDate(int64_t serial, DateSystem dates)
{
    if (serial < 0 || serial > int64_t(kLastSerial))
        return std::nullopt;
    CivilDate d;
    if (dates == DateSystem::From1900 && serial <= kPhantomLeapDay) {
        // The 1900 system counts a 29 February 1900 that never was (and a 0 January); day 1
        // is a Sunday to it.
        d.weekday = int((serial + 6) % 7);
        if (serial == kPhantomLeapDay)
            d.month = 2, d.day = 29;
        else if (serial > 31)
            d.month = 2, d.day = int(serial - 31);
        else
            d.day = int(serial);
        return d;
    }
    const QDate base = dates == DateSystem::From1904 ? QDate(1904, 1, 1) : QDate(1899, 12, 30);
    const QDate date = base.addDays(serial);
    d.year = date.year(), d.month = date.month(), d.day = date.day();
    d.weekday = date.dayOfWeek() % 7;
    return d;
}

QString twoDigits(int64_t n)
{
    return QStringLiteral("%1").arg(n, 2, 10, QLatin1Char('0'));
}

FormattedValue formatDateSection(const Section &s, double v, DateSystem dates)
{
    Output out;
    if (v < 0 || v >= kLastSerial + 1) {
        out.value.unshowable = true;
        return std::move(out.value);
    }
    const Clock c = clockOf(v, s);
    std::optional<CivilDate> date = civilDate(c.day, dates);
    if (!date) {
        out.value.unshowable = true;
        return std::move(out.value);
    }
    const int64_t secOfDay = s.elapsed ? c.seconds % kSecondsPerDay : c.seconds;
    const int hour = int(secOfDay / 3600), minute = int(secOfDay / 60 % 60), second = int(secOfDay % 60);
    // Elapsed units: the first one shown takes the whole count, those after it what is left.
    bool elapsedSeen = false;
    for (const Token &t : s.tokens) {
        switch (t.kind) {
        case Kind::Year:
            out.add(t.count <= 2 ? twoDigits(date->year % 100) : QString::number(date->year));
            break;
        case Kind::Month:
            if (t.count == 1)
                out.add(QString::number(date->month));
            else if (t.count == 2)
                out.add(twoDigits(date->month));
            else if (t.count == 3)
                out.add(QString::fromLatin1(kMonths[size_t(date->month - 1)]).left(3));
            else if (t.count == 5)
                out.add(QString::fromLatin1(kMonths[size_t(date->month - 1)]).left(1));
            else
                out.add(QString::fromLatin1(kMonths[size_t(date->month - 1)]));
            break;
        case Kind::Day:
            if (t.count == 1)
                out.add(QString::number(date->day));
            else if (t.count == 2)
                out.add(twoDigits(date->day));
            else if (t.count == 3)
                out.add(QString::fromLatin1(kDays[size_t(date->weekday)]).left(3));
            else
                out.add(QString::fromLatin1(kDays[size_t(date->weekday)]));
            break;
        case Kind::Hour: {
            int h = hour;
            if (s.twelveHour)
                h = h % 12 == 0 ? 12 : h % 12;
            out.add(t.count == 1 ? QString::number(h) : twoDigits(h));
            break;
        }
        case Kind::Minute: out.add(t.count == 1 ? QString::number(minute) : twoDigits(minute)); break;
        case Kind::Second: out.add(t.count == 1 ? QString::number(second) : twoDigits(second)); break;
        case Kind::ElapsedHours:
        case Kind::ElapsedMinutes:
        case Kind::ElapsedSeconds: {
            const int64_t unit = t.kind == Kind::ElapsedHours ? 3600 : t.kind == Kind::ElapsedMinutes ? 60 : 1;
            int64_t n = c.seconds / unit;
            // [h]:mm - the minutes below the hours, not all of them.
            if (t.kind == Kind::ElapsedMinutes && elapsedSeen)
                n %= 60;
            if (t.kind == Kind::ElapsedSeconds && elapsedSeen)
                n %= 60;
            elapsedSeen = true;
            QString digits = QString::number(n);
            if (digits.size() < t.count)
                digits.prepend(QString(t.count - digits.size(), u'0'));
            out.add(digits);
            break;
        }
        case Kind::FracSecond: {
            const QString f = QString::number(c.fraction, 'f', t.count);
            out.add(f.mid(f.indexOf(u'.')));
            break;
        }
        case Kind::AmPm: {
            const bool pm = hour >= 12;
            if (t.text.size() == 5)
                out.add(t.text.mid(pm ? 3 : 0, 2));
            else
                out.add(t.text.mid(pm ? 2 : 0, 1));
            break;
        }
        case Kind::General: out.add(formatGeneral(v)); break;
        default: addCommon(out, t, QString());
        }
    }
    return std::move(out.value);
}

bool matches(Op op, double v, double bound)
{
    switch (op) {
    case Op::None: return true;
    case Op::Less: return v < bound;
    case Op::LessEqual: return v <= bound;
    case Op::Greater: return v > bound;
    case Op::GreaterEqual: return v >= bound;
    case Op::Equal: return v == bound;
    case Op::NotEqual: return v != bound;
    }
    return false;
}

bool isTextOnly(const Section &s)
{
    return s.hasText && std::none_of(s.tokens.begin(), s.tokens.end(), [](const Token &t) {
               return t.kind == Kind::Digit || t.kind == Kind::General || isDateTimeKind(t.kind);
           });
}

} // namespace

// ---- Public ----------------------------------------------------------------------------

QString formatGeneral(double v, int maxChars)
{
    maxChars = std::clamp(maxChars, 1, kGeneralMaxChars);
    if (std::isnan(v) || std::isinf(v))
        return QStringLiteral("#NUM!");
    const bool negative = v < 0;
    const double a = std::fabs(v);
    QString body;
    if (a == 0) {
        body = QStringLiteral("0");
    } else {
        const int intDigits = a >= 1 ? int(std::floor(std::log10(a))) + 1 : 1;
        // Below 1E-4 a plain figure would spend its characters on leading zeros.
        if (intDigits <= maxChars && a >= 1e-4) {
            const int decimals = std::max(0, maxChars - intDigits - 1);
            body = fixedTrimmed(a, decimals);
            // Rounding may carry into one more digit (99999999999.6); that or a figure that
            // rounded away to nothing goes scientific instead.
            if (body.size() > maxChars || body == QLatin1String("0"))
                body = scientific(a, maxChars);
        } else {
            body = scientific(a, maxChars);
        }
    }
    return negative && body != QLatin1String("0") ? QLatin1Char('-') + body : body;
}

NumberFormat::NumberFormat(const QString &code)
{
    const QStringList parts = splitSections(code);
    for (const QString &part : parts) {
        Section s = parseSection(part);
        resolveDateTime(s);
        if (!s.dateTime)
            resolveCommas(s);
        m_sections.push_back(std::move(s));
        if (m_sections.size() == 4)
            break;
    }
    m_general = m_sections.size() == 1 && m_sections[0].tokens.size() == 1
        && m_sections[0].tokens[0].kind == Kind::General && !m_sections[0].colorIndex;
}

FormattedValue NumberFormat::apply(double value, DateSystem dates, int generalMaxChars) const
{
    if (m_general || !std::isfinite(value)) {
        FormattedValue out;
        out.text = formatGeneral(value, generalMaxChars);
        return out;
    }
    // A fourth section is for text only, and so is one of fewer that holds nothing but @.
    size_t numeric = std::min<size_t>(m_sections.size(), 3);
    while (numeric > 1 && isTextOnly(m_sections[numeric - 1]))
        --numeric;
    const bool conditions = std::any_of(m_sections.begin(), m_sections.begin() + qsizetype(numeric),
                                        [](const Section &s) { return s.op != Op::None; });
    size_t chosen = 0;
    bool showMinus = true;
    if (!conditions) {
        if (numeric == 2 && value < 0)
            chosen = 1, showMinus = false;
        else if (numeric >= 3 && value < 0)
            chosen = 1, showMinus = false;
        else if (numeric >= 3 && value == 0)
            chosen = 2;
    } else {
        // The first two sections carry conditions (or the defaults >=0 ... <0 in their
        // place); a third section takes whatever neither matched.
        chosen = numeric;
        for (size_t i = 0; i < numeric && chosen == numeric; ++i) {
            const Section &s = m_sections[i];
            Op op = s.op;
            double bound = s.bound;
            if (op == Op::None && i < 2 && numeric > i + 1) {
                op = i == 0 ? Op::GreaterEqual : Op::Less;
                bound = 0;
            }
            if (matches(op, value, bound))
                chosen = i;
        }
        if (chosen == numeric) {
            FormattedValue out;
            out.unshowable = true;
            return out;
        }
        const Section &s = m_sections[chosen];
        // A section that only negative numbers reach shows them without their sign, like the
        // plain negative section.
        showMinus = !(chosen > 0 && (s.op == Op::Less || s.op == Op::LessEqual) && s.bound <= 0);
    }
    const Section &s = m_sections[chosen];
    FormattedValue out = s.dateTime ? formatDateSection(s, value, dates)
                                    : formatNumberSection(s, value, showMinus, generalMaxChars);
    out.colorIndex = s.colorIndex;
    return out;
}

FormattedValue NumberFormat::applyToText(const QString &text) const
{
    const Section *s = nullptr;
    if (m_sections.size() == 4)
        s = &m_sections[3];
    else if (!m_sections.empty() && m_sections.front().hasText)
        s = &m_sections.front();
    else if (m_sections.size() > 1 && isTextOnly(m_sections.back()))
        s = &m_sections.back();
    FormattedValue out;
    if (!s) {
        out.text = text;
        return out;
    }
    Output o;
    for (const Token &t : s->tokens)
        addCommon(o, t, text);
    o.value.colorIndex = s->colorIndex;
    return std::move(o.value);
}

} // namespace xls
