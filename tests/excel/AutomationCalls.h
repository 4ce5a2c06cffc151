#pragma once
// Late-bound calls as the program makes them, for the spreadsheet servers' tests.

#include "platform/automation/AutomationObject.h"

#include <functional>

namespace testing {

inline automation::ObjectRef obj(const automation::Variant &v) { return automation::requireObject(v); }

inline automation::ObjectRef cells(const automation::ObjectRef &sheet, int r, int c)
{
    return obj(sheet->call(u"Cells", {automation::Variant(int16_t(r)), automation::Variant(int16_t(c))}));
}

// The description of the automation error f raises; empty when it raises none.
inline QString raised(const std::function<void()> &f)
{
    try {
        f();
    } catch (const automation::AutomationError &e) {
        return e.description();
    }
    return QString();
}

} // namespace testing
