#include "Variant.h"

#include "AutomationError.h"

#include <QLocale>
#include <charconv>
#include <cstdio>
#include <cstdlib>
#include <string>
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
    char buf[64];
    const auto res = std::to_chars(buf, buf + sizeof buf, d, std::chars_format::scientific);
    const std::string sci(buf, res.ptr);
    const size_t e = sci.find('e');
    const int exponent = std::stoi(sci.substr(e + 1));
    std::string digits;
    for (char ch : sci.substr(0, e))
        if (ch >= '0' && ch <= '9')
            digits += ch;
    const std::string sign = d < 0 ? "-" : "";
    std::string text;
    if (exponent >= 15 || exponent < -4) {
        text = digits.substr(0, 1);
        if (digits.size() > 1)
            text += "." + digits.substr(1);
        char exp[16];
        std::snprintf(exp, sizeof exp, "E%c%02d", exponent < 0 ? '-' : '+', std::abs(exponent));
        text += exp;
    } else if (exponent < 0) {
        text = "0." + std::string(size_t(-exponent - 1), '0') + digits;
    } else if (size_t(exponent) + 1 >= digits.size()) {
        text = digits + std::string(size_t(exponent) + 1 - digits.size(), '0');
    } else {
        text = digits.substr(0, size_t(exponent) + 1) + "." + digits.substr(size_t(exponent) + 1);
    }
    return QString::fromLatin1(sign + text);
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
