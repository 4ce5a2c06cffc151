#pragma once
// Objects whose members are found at run time by name (case-insensitive) or by
// numeric dispatch id, as a late-bound caller reaches an outside component.
//
//   ObjectRef app = ClassRegistry::instance().create("Excel.Application");
//   ObjectRef wb = requireObject(requireObject(app->get("Workbooks"))->call("Open", {path}));
//   wb->call("SaveAs", {path}, {{"FileFormat", 56}});
//
// A getter with arguments (Cells(r, c)) and a method call are the same kind of
// invocation here; a property write is its own kind.

#include "platform/automation/AutomationError.h"
#include "platform/automation/Variant.h"

#include <QHash>
#include <QString>
#include <functional>
#include <memory>
#include <vector>

namespace automation {

struct NamedArg {
    QString name;
    Variant value;
};

struct Args {
    std::vector<Variant> positional;
    std::vector<NamedArg> named;

    Args() = default;
    Args(std::initializer_list<Variant> p) : positional(p) {}
    Args(std::vector<Variant> p, std::vector<NamedArg> n = {})
        : positional(std::move(p)), named(std::move(n)) {}

    size_t count() const { return positional.size(); }
    // Positional argument i, or the named argument of that name; Empty when absent.
    Variant at(size_t i, QStringView name = {}) const;
};

enum class InvokeKind { Get, Put };

class AutomationObject : public std::enable_shared_from_this<AutomationObject> {
public:
    virtual ~AutomationObject() = default;

    // The class the object reports in error descriptions, e.g. "Workbook".
    virtual QString className() const = 0;
    virtual Variant invoke(QStringView member, InvokeKind kind, const Args &args) = 0;
    // Components reached by dispatch id override this; the default knows no ids.
    virtual Variant invokeById(int dispId, InvokeKind kind, const Args &args);

    Variant get(QStringView member, const Args &args = {}) { return invoke(member, InvokeKind::Get, args); }
    Variant call(QStringView member, const Args &args = {}) { return invoke(member, InvokeKind::Get, args); }
    Variant call(QStringView member, std::vector<Variant> positional, std::vector<NamedArg> named)
    {
        return invoke(member, InvokeKind::Get, Args(std::move(positional), std::move(named)));
    }
    void put(QStringView member, const Variant &value, const Args &index = {});

protected:
    [[noreturn]] void throwUnknownMember(QStringView member) const;
};

// Follows a property chain such as "ActiveSheet" on a value that must be an object;
// "Object required" when it is not, as a scripting runtime says.
ObjectRef requireObject(const Variant &v);

// A convenient base: members registered by name with a handler each.
class DispatchObject : public AutomationObject {
public:
    using Getter = std::function<Variant(const Args &)>;
    using Setter = std::function<void(const Args &, const Variant &)>;

    Variant invoke(QStringView member, InvokeKind kind, const Args &args) override;

protected:
    void addGetter(const QString &name, Getter g);
    void addSetter(const QString &name, Setter s);
    // Checks the positional argument count; "Wrong number of arguments" otherwise.
    void expectArgs(QStringView member, const Args &args, size_t min, size_t max) const;

private:
    QHash<QString, Getter> m_getters;
    QHash<QString, Setter> m_setters;
};

} // namespace automation
