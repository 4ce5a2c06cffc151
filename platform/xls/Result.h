#pragma once
// The engine's single way of saying "this file is bad": an error value whose text names the
// file, the record and the stream offset. Caller mistakes are preconditions (Q_ASSERT or a
// thrown std::invalid_argument at the API edge), never mixed with these.

#include <QString>
#include <optional>
#include <utility>
#include <variant>

namespace xls {

struct Error {
    QString message;
};

// A value or the error that prevented it.
template<class T>
class Result {
public:
    Result(T value) : m_v(std::move(value)) {}
    Result(Error e) : m_v(std::move(e)) {}

    bool ok() const { return m_v.index() == 0; }
    explicit operator bool() const { return ok(); }
    T &value() { return std::get<0>(m_v); }
    const T &value() const { return std::get<0>(m_v); }
    T &operator*() { return value(); }
    T *operator->() { return &value(); }
    const Error &error() const { return std::get<1>(m_v); }

private:
    std::variant<T, Error> m_v;
};

// Success, or the error.
class Status {
public:
    Status() = default;
    Status(Error e) : m_error(std::move(e)) {}
    bool ok() const { return !m_error; }
    explicit operator bool() const { return ok(); }
    const Error &error() const { return *m_error; }

private:
    std::optional<Error> m_error;
};

} // namespace xls
