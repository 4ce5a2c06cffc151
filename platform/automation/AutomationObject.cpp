#include "platform/automation/AutomationObject.h"

namespace automation {

QString describe(const std::exception &e)
{
    if (auto *ae = dynamic_cast<const AutomationError *>(&e))
        return ae->description();
    return QString::fromLocal8Bit(e.what());
}

Variant Args::at(size_t i, QStringView name) const
{
    if (!name.isEmpty()) {
        for (const NamedArg &a : named)
            if (QStringView(a.name).compare(name, Qt::CaseInsensitive) == 0)
                return a.value;
    }
    return i < positional.size() ? positional[i] : Variant();
}

Variant AutomationObject::invokeById(int dispId, InvokeKind, const Args &)
{
    throw AutomationError(QStringLiteral("Object doesn't support this property or method (dispatch id %1 of %2)")
                              .arg(dispId)
                              .arg(className()));
}

void AutomationObject::put(QStringView member, const Variant &value, const Args &index)
{
    Args args = index;
    args.positional.push_back(value);
    invoke(member, InvokeKind::Put, args);
}

void AutomationObject::throwUnknownMember(QStringView member) const
{
    throw AutomationError(QStringLiteral("Object doesn't support this property or method: %1.%2")
                              .arg(className(), member.toString()));
}

ObjectRef requireObject(const Variant &v)
{
    ObjectRef o = v.toObject();
    if (!o)
        throw FollowOnError(QStringLiteral("Object variable not set"));
    return o;
}

Variant DispatchObject::invoke(QStringView member, InvokeKind kind, const Args &args)
{
    const QString key = member.toString().toLower();
    if (kind == InvokeKind::Get) {
        auto it = m_getters.constFind(key);
        if (it != m_getters.constEnd())
            return (*it)(args);
    } else {
        auto it = m_setters.constFind(key);
        if (it != m_setters.constEnd()) {
            if (args.positional.empty())
                throw AutomationError(QStringLiteral("Argument not optional: %1.%2").arg(className(), member.toString()));
            Args index = args;
            const Variant value = index.positional.back();
            index.positional.pop_back();
            (*it)(index, value);
            return {};
        }
    }
    throwUnknownMember(member);
}

void DispatchObject::addGetter(const QString &name, Getter g) { m_getters.insert(name.toLower(), std::move(g)); }
void DispatchObject::addSetter(const QString &name, Setter s) { m_setters.insert(name.toLower(), std::move(s)); }

void DispatchObject::expectArgs(QStringView member, const Args &args, size_t min, size_t max) const
{
    if (args.positional.size() < min || args.positional.size() > max)
        throw AutomationError(QStringLiteral("Wrong number of arguments or invalid property assignment: %1.%2")
                                  .arg(className(), member.toString()));
}

} // namespace automation
