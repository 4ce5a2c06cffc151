#pragma once
// Answers creation by programmatic identifier ("Excel.Application"), as the
// platform's class registry does for late-bound callers.

#include "platform/automation/AutomationObject.h"

#include <QHash>
#include <QString>
#include <functional>

namespace automation {

class ClassRegistry {
public:
    using Factory = std::function<ObjectRef()>;

    static ClassRegistry &instance();

    // A factory may throw AutomationError, or return nullptr for "no object".
    void registerClass(const QString &progId, Factory factory);
    void unregisterClass(const QString &progId);
    bool isRegistered(const QString &progId) const;

    // Throws AutomationError when the identifier is unknown or the factory fails.
    ObjectRef create(const QString &progId) const;

private:
    QHash<QString, Factory> m_factories; // keyed by lower-case identifier
};

inline ObjectRef createObject(const QString &progId) { return ClassRegistry::instance().create(progId); }

} // namespace automation
