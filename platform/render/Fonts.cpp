#include "platform/render/Fonts.h"

#include <QHash>

namespace render {
namespace {

// FONT record family byte (the Windows LOGFONT pitch-and-family high nibble, shifted).
constexpr uint8_t kFamilyRoman = 1, kFamilySwiss = 2, kFamilyModern = 3;

const QHash<QString, QString> &standIns()
{
    // Keys lower-case: workbook font names are matched without regard to case.
    static const QHash<QString, QString> map = {
        {QStringLiteral("century gothic"), QStringLiteral("URW Gothic")},
        {QStringLiteral("arial"), QStringLiteral("Liberation Sans")},
        {QStringLiteral("helvetica"), QStringLiteral("Liberation Sans")},
        {QStringLiteral("times new roman"), QStringLiteral("Liberation Serif")},
        {QStringLiteral("courier new"), QStringLiteral("Liberation Mono")},
    };
    return map;
}

} // namespace

QString screenFamily(const QString &workbookFamily)
{
    return standIns().value(workbookFamily.trimmed().toLower(), workbookFamily);
}

QFont screenFont(const xls::Font &font)
{
    const QString family = screenFamily(font.name.isEmpty() ? QStringLiteral("Arial") : font.name);
    QFont f(family);
    f.setPointSizeF(std::max(1, int(font.heightTwips)) / 20.0);
    f.setBold(font.bold());
    f.setItalic(font.italic);
    f.setUnderline(font.underline != 0);
    f.setStrikeOut(font.strikeout);
    f.setKerning(false); // spreadsheet applications lay cell text out without kerning
    switch (font.family) {
    case kFamilyRoman: f.setStyleHint(QFont::Serif); break;
    case kFamilyModern: f.setStyleHint(QFont::Monospace); break;
    case kFamilySwiss:
    default: f.setStyleHint(QFont::SansSerif); break;
    }
    return f;
}

} // namespace render
