#include "platform/automation/ClassRegistry.h"

namespace automation {

ClassRegistry &ClassRegistry::instance()
{
    static ClassRegistry registry;
    return registry;
}

void ClassRegistry::registerClass(const QString &progId, Factory factory)
{
    m_factories.insert(progId.toLower(), std::move(factory));
}

void ClassRegistry::unregisterClass(const QString &progId) { m_factories.remove(progId.toLower()); }

bool ClassRegistry::isRegistered(const QString &progId) const { return m_factories.contains(progId.toLower()); }

ObjectRef ClassRegistry::create(const QString &progId) const
{
    auto it = m_factories.constFind(progId.toLower());
    if (it == m_factories.constEnd())
        throw AutomationError(kCannotCreateObject + QStringLiteral(" (%1 is not registered)").arg(progId));
    return (*it)();
}

} // namespace automation
