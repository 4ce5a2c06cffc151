#include "Variant.h"

#include "AutomationError.h"

#include <QLocale>
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
    default: return Type::Object;
    }
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
    case Type::Object: break;
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

QString Variant::toString() const
{
    switch (type()) {
    case Type::Empty: return {};
    case Type::Bool: return std::get<Bool16>(m_value).v ? QStringLiteral("True") : QStringLiteral("False");
    case Type::Int16: return QString::number(std::get<int16_t>(m_value));
    case Type::Int32: return QString::number(std::get<int32_t>(m_value));
    case Type::Double: return QLocale().toString(std::get<double>(m_value), 'g', 15);
    case Type::String: return std::get<QString>(m_value);
    case Type::Object: break;
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
