#pragma once
// The value that crosses a late-bound call: what a scripting caller passes to an
// automation server and gets back. Booleans are 16-bit (true = -1), as automation
// callers expect, and an object value may be "Nothing" (a null reference).

#include <QString>
#include <cstdint>
#include <memory>
#include <variant>

namespace automation {

class AutomationObject;
using ObjectRef = std::shared_ptr<AutomationObject>;

class Variant {
public:
    enum class Type { Empty, Bool, Int16, Int32, Double, String, Object };

    Variant() = default;
    static Variant fromBool(bool b) { Variant v; v.m_value = Bool16{static_cast<int16_t>(b ? -1 : 0)}; return v; }
    Variant(int16_t i) : m_value(i) {}
    Variant(int32_t i) : m_value(i) {}
    Variant(double d) : m_value(d) {}
    Variant(const QString &s) : m_value(s) {}
    Variant(const char *s) : m_value(QString::fromUtf8(s)) {}
    Variant(ObjectRef o) : m_value(std::move(o)) {}
    // Without this a bool would silently become an Int32.
    Variant(bool) = delete;

    Type type() const;
    bool isEmpty() const { return type() == Type::Empty; }
    bool isObject() const { return type() == Type::Object; }
    // An object value that refers to nothing, as a failed creation answers.
    bool isNothing() const { return isObject() && !std::get<ObjectRef>(m_value); }
    bool isNumeric() const;

    // Conversions follow the scripting rules; an impossible one throws AutomationError
    // ("Type mismatch"), an out-of-range one "Overflow".
    bool toBool() const;
    int16_t toInt16() const;
    int32_t toInt32() const;
    double toDouble() const;
    QString toString() const;
    ObjectRef toObject() const;

    bool operator==(const Variant &other) const { return m_value == other.m_value; }

private:
    struct Bool16 {
        int16_t v = 0;
        bool operator==(const Bool16 &) const = default;
    };
    std::variant<std::monostate, Bool16, int16_t, int32_t, double, QString, ObjectRef> m_value;
};

} // namespace automation
