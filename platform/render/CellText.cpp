#include "platform/render/CellText.h"

namespace render {
namespace {

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

xls::FormattedValue formattedValue(const xls::Workbook &book, const xls::Cell &cell, const xls::NumberFormat &format,
                                   int maxChars)
{
    const bool isError = cell.type == xls::CellType::Error
        || (cell.type == xls::CellType::Formula && cell.formula && cell.formula->result == xls::FormulaResult::Error);
    xls::FormattedValue out;
    switch (valueKind(cell)) {
    case ValueKind::Empty: break;
    case ValueKind::Text: out = format.applyToText(book.text(cell)); break;
    case ValueKind::Number:
        out = format.apply(cell.number, book.uses1904Dates() ? xls::DateSystem::From1904 : xls::DateSystem::From1900, maxChars);
        break;
    case ValueKind::Logical:
        out.text = isError ? errorText(cell.code) : cell.code ? QStringLiteral("TRUE") : QStringLiteral("FALSE");
        break;
    }
    return out;
}

QString displayText(const xls::Workbook &book, const xls::Cell &cell, int maxChars)
{
    const xls::NumberFormat format(book.numberFormat(book.xf(cell.xf).formatIndex));
    return formattedValue(book, cell, format, maxChars).text;
}

} // namespace render
