#include "platform/render/CellText.h"

#include <cmath>
#include <cstdio>

namespace render {
namespace {

// "1.5E+11" style: as many mantissa digits as fit, trailing zeros dropped, at least two
// exponent digits.
QString scientific(double a, int maxChars)
{
    for (int decimals = std::max(0, maxChars - 6); decimals >= 0; --decimals) {
        char buf[48];
        std::snprintf(buf, sizeof buf, "%.*E", decimals, a);
        QString s = QString::fromLatin1(buf);
        const qsizetype e = s.indexOf(QLatin1Char('E'));
        QString mantissa = s.left(e);
        QString exponent = s.mid(e + 1);
        if (mantissa.contains(QLatin1Char('.'))) {
            while (mantissa.endsWith(QLatin1Char('0')))
                mantissa.chop(1);
            if (mantissa.endsWith(QLatin1Char('.')))
                mantissa.chop(1);
        }
        const QChar sign = exponent.at(0);
        QString digits = exponent.mid(1);
        while (digits.size() > 2 && digits.startsWith(QLatin1Char('0')))
            digits.remove(0, 1);
        QString out = mantissa + QLatin1Char('E') + sign + digits;
        if (out.size() <= maxChars || decimals == 0)
            return out;
    }
    return {};
}

QString fixed(double a, int decimals)
{
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.*f", decimals, a);
    QString s = QString::fromLatin1(buf);
    if (s.contains(QLatin1Char('.'))) {
        while (s.endsWith(QLatin1Char('0')))
            s.chop(1);
        if (s.endsWith(QLatin1Char('.')))
            s.chop(1);
    }
    return s;
}

QString errorText(uint8_t code)
{
    switch (code) {
    case 0x00: return QStringLiteral("#NULL!");
    case 0x07: return QStringLiteral("#DIV/0!");
    case 0x0F: return QStringLiteral("#VALUE!");
    case 0x17: return QStringLiteral("#REF!");
    case 0x1D: return QStringLiteral("#NAME?");
    case 0x24: return QStringLiteral("#NUM!");
    case 0x2A: return QStringLiteral("#N/A");
    default: return QStringLiteral("#N/A");
    }
}

} // namespace

QString formatGeneral(double v, int maxChars)
{
    maxChars = std::clamp(maxChars, 1, kGeneralMaxChars);
    if (std::isnan(v) || std::isinf(v))
        return QStringLiteral("#NUM!");
    const bool negative = v < 0;
    const double a = std::fabs(v);
    QString body;
    if (a == 0) {
        body = QStringLiteral("0");
    } else {
        const int intDigits = a >= 1 ? int(std::floor(std::log10(a))) + 1 : 1;
        // Below 1E-4 a plain figure would spend its characters on leading zeros.
        if (intDigits <= maxChars && a >= 1e-4) {
            const int decimals = std::max(0, maxChars - intDigits - 1);
            body = fixed(a, decimals);
            // Rounding may carry into one more digit (99999999999.6); that or a figure that
            // rounded away to nothing goes scientific instead.
            if (body.size() > maxChars || body == QLatin1String("0"))
                body = scientific(a, maxChars);
        } else {
            body = scientific(a, maxChars);
        }
    }
    return negative && body != QLatin1String("0") ? QLatin1Char('-') + body : body;
}

ValueKind valueKind(const xls::Cell &cell)
{
    switch (cell.type) {
    case xls::CellType::Blank: return ValueKind::Empty;
    case xls::CellType::Text: return ValueKind::Text;
    case xls::CellType::Number: return ValueKind::Number;
    case xls::CellType::Boolean:
    case xls::CellType::Error: return ValueKind::Logical;
    case xls::CellType::Formula:
        if (!cell.formula)
            return ValueKind::Number;
        switch (cell.formula->result) {
        case xls::FormulaResult::Number: return ValueKind::Number;
        case xls::FormulaResult::Text: return ValueKind::Text;
        case xls::FormulaResult::EmptyText: return ValueKind::Empty;
        case xls::FormulaResult::Boolean:
        case xls::FormulaResult::Error: return ValueKind::Logical;
        }
    }
    return ValueKind::Empty;
}

QString displayText(const xls::Workbook &book, const xls::Cell &cell, int maxChars)
{
    const bool isError = cell.type == xls::CellType::Error
        || (cell.type == xls::CellType::Formula && cell.formula && cell.formula->result == xls::FormulaResult::Error);
    switch (valueKind(cell)) {
    case ValueKind::Empty: return {};
    case ValueKind::Text: return book.text(cell);
    case ValueKind::Number: return formatGeneral(cell.number, maxChars);
    case ValueKind::Logical:
        if (isError)
            return errorText(cell.code);
        return cell.code ? QStringLiteral("TRUE") : QStringLiteral("FALSE");
    }
    return {};
}

} // namespace render
