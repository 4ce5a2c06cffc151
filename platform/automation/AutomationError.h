#pragma once
// A failure raised by an automation server or by the automation layer itself. Its
// description is what the error report shows, worded as the server worded it.

#include <QString>
#include <stdexcept>

namespace automation {

class AutomationError : public std::runtime_error {
public:
    explicit AutomationError(const QString &description)
        : std::runtime_error(description.toStdString()), m_description(description) {}
    const QString &description() const { return m_description; }

private:
    QString m_description;
};

// A failure that only follows from an earlier one: an object, a folder or a file that a step
// which already failed should have made is not there ("Object variable not set"). The error
// report counts it; within one run, after a failure was reported, it does not show it again.
class FollowOnError : public AutomationError {
public:
    using AutomationError::AutomationError;
};

// The descriptions a scripting runtime gives for its own failures.
inline const QString kTypeMismatch = QStringLiteral("Type mismatch");
inline const QString kOverflow = QStringLiteral("Overflow");
inline const QString kObjectRequired = QStringLiteral("Object required");
inline const QString kCannotCreateObject = QStringLiteral("ActiveX component can't create object");

// The description of any exception, for the error report.
QString describe(const std::exception &e);

} // namespace automation
