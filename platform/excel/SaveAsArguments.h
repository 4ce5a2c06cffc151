#pragma once
// The arguments of Workbook.SaveAs as every spreadsheet server here takes them: a file
// name (positional or Filename:=) and an optional FileFormat:= that must name the
// Excel 97-2003 workbook format.

#include "platform/automation/AutomationObject.h"

#include <QFileInfo>

namespace excel {

// Excel's codes for the Excel 97-2003 format (version 12 on) and the earlier normal format.
constexpr int32_t kXlExcel8 = 56;
constexpr int32_t kXlNormal = -4143;

// The absolute path to save to; raises an AutomationError for an unknown named argument,
// an empty name or another format.
inline QString saveAsPath(const automation::Args &a)
{
    using automation::AutomationError;
    for (const automation::NamedArg &n : a.named)
        if (n.name.compare(u"FileFormat", Qt::CaseInsensitive) != 0 && n.name.compare(u"Filename", Qt::CaseInsensitive) != 0)
            throw AutomationError(QStringLiteral("Workbook.SaveAs: unknown named argument %1").arg(n.name));
    const QString path = a.at(0, u"Filename").toString();
    if (path.isEmpty())
        throw AutomationError(QStringLiteral("Workbook.SaveAs: the file name is empty"));
    const automation::Variant format = a.at(1, u"FileFormat");
    if (!format.isEmpty()) {
        const int32_t code = format.toInt32();
        if (code != kXlExcel8 && code != kXlNormal)
            throw AutomationError(QStringLiteral("Workbook.SaveAs: file format %1 is not supported; "
                                                 "use 56 or -4143 (Excel 97-2003 workbook)")
                                      .arg(code));
    }
    return QFileInfo(path).absoluteFilePath();
}

} // namespace excel
