#pragma once
// Screen fonts for the font names workbooks use. The faces the template asks for are not
// installed here; metric-compatible or look-alike free faces stand in for them, chosen
// explicitly so that the picture does not depend on how fontconfig ranks its guesses.

#include "platform/xls/Workbook.h"

#include <QFont>
#include <QString>

namespace render {

// The installed family drawn for a workbook font name ("Century Gothic" -> "URW Gothic",
// "Arial" -> "Liberation Sans"); names without a stand-in come back unchanged.
QString screenFamily(const QString &workbookFamily);

// The QFont for a workbook font at 96 dpi: family, size, bold, italic, underline, strikeout.
// A family that is not installed still gives a usable font (the generic family of the
// font record's family byte, then the system default).
QFont screenFont(const xls::Font &font);

} // namespace render
