#include "platform/automation/Variant.h"

#include "platform/automation/AutomationError.h"

#include <QLocale>
#include <charconv>
#include <cstdlib>
#include <cmath>
#include <limits>

namespace automation {

Variant::Type Variant::type() const
{
    switch (m_value.index()) {
    case 0: return Type::Empty;
    case 1: return Type::Bool;
    case 2: return Type::Int16;
    case 3: return Type::Int32;
    case 4: return Type::Double;
    case 5: return Type::String;
    case 6: return Type::Object;
    default: return Type::Error;
    }
}

int32_t Variant::errorCode() const
{
    if (type() != Type::Error)
        throw AutomationError(kTypeMismatch);
    return std::get<ErrorValue>(m_value).code;
}

bool Variant::isNumeric() const
{
    const Type t = type();
    return t == Type::Bool || t == Type::Int16 || t == Type::Int32 || t == Type::Double;
}

double Variant::toDouble() const
{
    switch (type()) {
    case Type::Empty: return 0.0;
    case Type::Bool: return std::get<Bool16>(m_value).v;
    case Type::Int16: return std::get<int16_t>(m_value);
    case Type::Int32: return std::get<int32_t>(m_value);
    case Type::Double: return std::get<double>(m_value);
    case Type::String: {
        // Text converts with the user's regional settings, as a scripting runtime does;
        // this is why the version text is normalised to the local decimal separator first.
        bool ok = false;
        const double d = QLocale().toDouble(std::get<QString>(m_value).trimmed(), &ok);
        if (!ok)
            throw AutomationError(kTypeMismatch);
        return d;
    }
    case Type::Object:
    case Type::Error: break;
    }
    throw AutomationError(kTypeMismatch);
}

namespace {
template <typename Int>
Int roundToInt(double d)
{
    // Scripting conversions round halves to the even neighbour.
    const double r = std::nearbyint(d);
    if (!std::isfinite(r) || r < double(std::numeric_limits<Int>::min()) || r > double(std::numeric_limits<Int>::max()))
        throw AutomationError(kOverflow);
    return static_cast<Int>(r);
}
} // namespace

int16_t Variant::toInt16() const { return roundToInt<int16_t>(toDouble()); }
int32_t Variant::toInt32() const { return roundToInt<int32_t>(toDouble()); }

bool Variant::toBool() const
{
    if (type() == Type::String) {
        const QString s = std::get<QString>(m_value).trimmed();
        if (s.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0)
            return true;
        if (s.compare(QLatin1String("false"), Qt::CaseInsensitive) == 0)
            return false;
    }
    return toDouble() != 0.0;
}

namespace {
// A number as a scripting runtime writes it: no grouping, a point, the fewest digits that read
// back as the same double, and an exponent ("1E+20", "1E-05") beyond fifteen integer digits
// or below 0.0001. It never depends on the locale, so a number written into a text cell reads
// the same on every machine.
QString numberText(double d)
{
    if (d == 0)
        return QStringLiteral("0");
    if (!std::isfinite(d))
        return std::isnan(d) ? QStringLiteral("NaN") : (d > 0 ? QStringLiteral("Infinity") : QStringLiteral("-Infinity"));
    // The shortest digits that read back as d, from the standard library, which never
    // looks at the locale: "d.ddde[+-]xx".
    char buf[64];
    const auto res = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::scientific);
    const QString sci = QString::fromLatin1(buf, res.ptr - buf);
    const qsizetype e = sci.indexOf(QLatin1Char('e'));
    const int exponent = sci.mid(e + 1).toInt();
    QString digits = sci.left(e);
    digits.remove(QLatin1Char('-')).remove(QLatin1Char('.'));
    const int count = int(digits.size());
    QString text = d < 0 ? QStringLiteral("-") : QString();
    if (exponent >= 15 || exponent < -4) {
        text += digits.left(1);
        if (count > 1)
            text += QLatin1Char('.') + digits.mid(1);
        text += QStringLiteral("E%1%2").arg(exponent < 0 ? QLatin1Char('-') : QLatin1Char('+')).arg(std::abs(exponent), 2, 10, QLatin1Char('0'));
    } else if (exponent < 0) {
        text += QStringLiteral("0.") + QString(-exponent - 1, QLatin1Char('0')) + digits;
    } else if (exponent + 1 >= count) {
        text += digits + QString(exponent + 1 - count, QLatin1Char('0'));
    } else {
        text += digits.left(exponent + 1) + QLatin1Char('.') + digits.mid(exponent + 1);
    }
    return text;
}
} // namespace

QString Variant::toString() const
{
    switch (type()) {
    case Type::Empty: return {};
    case Type::Bool: return std::get<Bool16>(m_value).v ? QStringLiteral("True") : QStringLiteral("False");
    case Type::Int16: return QString::number(std::get<int16_t>(m_value));
    case Type::Int32: return QString::number(std::get<int32_t>(m_value));
    case Type::Double: return numberText(std::get<double>(m_value));
    case Type::String: return std::get<QString>(m_value);
    case Type::Object:
    case Type::Error: break;
    }
    throw AutomationError(kTypeMismatch);
}

ObjectRef Variant::toObject() const
{
    if (type() != Type::Object)
        throw AutomationError(kObjectRequired);
    return std::get<ObjectRef>(m_value);
}

} // namespace automation
