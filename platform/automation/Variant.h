#pragma once
// The value that crosses a late-bound call: what a scripting caller passes to an
// automation server and gets back. Booleans are 16-bit (true = -1), as automation
// callers expect, an object value may be "Nothing" (a null reference), and an error value
// is a cell's error (#DIV/0! and the like) as a spreadsheet hands it out: CVErr(2007).

#include <QString>
#include <cstdint>
#include <memory>
#include <variant>

namespace automation {

class AutomationObject;
using ObjectRef = std::shared_ptr<AutomationObject>;

class Variant {
public:
    enum class Type { Empty, Bool, Int16, Int32, Double, String, Object, Error };

    // The error values a spreadsheet cell can hold, numbered as CVErr numbers them.
    static constexpr int32_t kErrNull = 2000, kErrDiv0 = 2007, kErrValue = 2015, kErrRef = 2023,
                             kErrName = 2029, kErrNum = 2036, kErrNA = 2042;

    Variant() = default;
    static Variant fromBool(bool b) { Variant v; v.m_value = Bool16{static_cast<int16_t>(b ? -1 : 0)}; return v; }
    Variant(int16_t i) : m_value(i) {}
    Variant(int32_t i) : m_value(i) {}
    Variant(double d) : m_value(d) {}
    Variant(const QString &s) : m_value(s) {}
    Variant(const char *s) : m_value(QString::fromUtf8(s)) {}
    Variant(ObjectRef o) : m_value(std::move(o)) {}
    static Variant fromError(int32_t code) { Variant v; v.m_value = ErrorValue{code}; return v; }
    // Without this a bool would silently become an Int32.
    Variant(bool) = delete;

    Type type() const;
    bool isEmpty() const { return type() == Type::Empty; }
    bool isObject() const { return type() == Type::Object; }
    // An object value that refers to nothing, as a failed creation answers.
    bool isNothing() const { return isObject() && !std::get<ObjectRef>(m_value); }
    bool isNumeric() const;
    bool isError() const { return type() == Type::Error; }
    // The CVErr number of an error value; anything else is a type mismatch.
    int32_t errorCode() const;

    // Conversions follow the scripting rules; an impossible one throws AutomationError
    // ("Type mismatch"), an out-of-range one "Overflow". An error value converts to nothing.
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
    struct ErrorValue {
        int32_t code = 0;
        bool operator==(const ErrorValue &) const = default;
    };
    std::variant<std::monostate, Bool16, int16_t, int32_t, double, QString, ObjectRef, ErrorValue> m_value;
};

} // namespace automation
