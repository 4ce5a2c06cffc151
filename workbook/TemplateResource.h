#pragma once
// The template workbook every grocery list starts from, carried inside the program as
// the resource of type "CUSTOM" with the id 101.

#include <QByteArray>

namespace workbook {

// The resource's bytes, whole and unchanged; raises an AutomationError when the
// program was built without it.
QByteArray LoadResData(int id, const char *type);

inline QByteArray LoadTemplateBytes() { return LoadResData(101, "CUSTOM"); }

} // namespace workbook
