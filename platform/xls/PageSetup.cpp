// The sheet's page setup block (SETUP, WSBOOL, the margin and centring records, HEADER,
// FOOTER, PRINTGRIDLINES, PRINTHEADERS, the page breaks) and the workbook's Print_Area
// names, read from the records the model keeps. One reader per record, each tolerant:
// a record too short or out of range leaves the default in place.

#include "platform/xls/PageSetup.h"

#include <QLocale>
#include <algorithm>
#include <cmath>

namespace xls {

namespace {

constexpr double kMmPerInch = 25.4;
constexpr double kPointsPerInch = 72.0;
// Margins beyond this are not a page's margins; the file is damaged.
constexpr double kMaxMarginInches = 50.0;

struct PaperEntry {
    uint16_t code;
    const char *name;
    double width, height; // in the unit below
    bool mm;
};

// The BIFF8 paper codes (the printer driver's DMPAPER numbers) as spreadsheet files use them.
constexpr PaperEntry kPapers[] = {
    {1, "Letter", 8.5, 11, false},          {2, "Letter Small", 8.5, 11, false},
    {3, "Tabloid", 11, 17, false},          {4, "Ledger", 17, 11, false},
    {5, "Legal", 8.5, 14, false},           {6, "Statement", 5.5, 8.5, false},
    {7, "Executive", 7.25, 10.5, false},    {8, "A3", 297, 420, true},
    {9, "A4", 210, 297, true},              {10, "A4 Small", 210, 297, true},
    {11, "A5", 148, 210, true},             {12, "B4 (JIS)", 257, 364, true},
    {13, "B5 (JIS)", 182, 257, true},       {14, "Folio", 8.5, 13, false},
    {15, "Quarto", 215, 275, true},         {16, "10x14", 10, 14, false},
    {17, "11x17", 11, 17, false},           {18, "Note", 8.5, 11, false},
    {19, "Envelope #9", 3.875, 8.875, false}, {20, "Envelope #10", 4.125, 9.5, false},
    {21, "Envelope #11", 4.5, 10.375, false}, {22, "Envelope #12", 4.75, 11, false},
    {23, "Envelope #14", 5, 11.5, false},   {24, "C", 17, 22, false},
    {25, "D", 22, 34, false},               {26, "E", 34, 44, false},
    {27, "Envelope DL", 110, 220, true},    {28, "Envelope C5", 162, 229, true},
    {29, "Envelope C3", 324, 458, true},    {30, "Envelope C4", 229, 324, true},
    {31, "Envelope C6", 114, 162, true},    {32, "Envelope C65", 114, 229, true},
    {33, "Envelope B4", 250, 353, true},    {34, "Envelope B5", 176, 250, true},
    {36, "Envelope Italy", 110, 230, true}, {37, "Envelope Monarch", 3.875, 7.5, false},
    {38, "Envelope 6 3/4", 3.625, 6.5, false}, {39, "US Std Fanfold", 14.875, 11, false},
    {40, "German Std Fanfold", 8.5, 12, false}, {41, "German Legal Fanfold", 8.5, 13, false},
    {70, "A6", 105, 148, true},
};

PaperSize toPaper(const PaperEntry &e)
{
    const double k = e.mm ? kPointsPerInch / kMmPerInch : kPointsPerInch;
    return PaperSize{e.code, QString::fromLatin1(e.name), QSizeF(e.width * k, e.height * k)};
}

bool readU16At(const Record &r, size_t off, uint16_t &v)
{
    ByteCursor c(r.data);
    return c.skip(off) && c.readU16(v);
}

bool readDoubleAt(const Record &r, size_t off, double &v)
{
    ByteCursor c(r.data);
    return c.skip(off) && c.readDouble(v);
}

// A margin as stored, or the default when it is not a length a page can have.
double margin(const Record &r, size_t off, double fallback)
{
    double v = 0;
    if (!readDoubleAt(r, off, v) || !std::isfinite(v) || v < 0 || v > kMaxMarginInches)
        return fallback;
    return v;
}

// XLUnicodeString of HEADER and FOOTER; an empty record means none.
QString readHeaderFooter(const Record &r)
{
    ByteCursor c(r.data);
    uint16_t cch = 0;
    uint8_t options = 0;
    if (!c.readU16(cch) || !c.readU8(options))
        return {};
    const bool high = options & biff::str::kHighByte;
    // A damaged count is cut to what the record holds, and to what a header may hold.
    const size_t width = high ? 2 : 1;
    const size_t count = std::min<size_t>({cch, c.remaining() / width, biff::headerfooter::kMaxChars});
    std::span<const uint8_t> b;
    c.readBytes(count * width, b);
    QString out;
    out.reserve(qsizetype(count));
    for (size_t i = 0; i < count; ++i)
        out.append(high ? QChar(char16_t(b[2 * i] | b[2 * i + 1] << 8)) : QChar(char16_t(b[i])));
    return out;
}

std::vector<uint16_t> readBreaks(const Record &r, uint16_t limit)
{
    ByteCursor c(r.data);
    uint16_t count = 0;
    c.readU16(count);
    std::vector<uint16_t> out;
    const size_t n = std::min<size_t>(count, biff::pagebreaks::kMaxBreaks);
    out.reserve(n);
    for (size_t i = 0; i < n; ++i) {
        uint16_t at = 0;
        if (!c.readU16(at) || !c.skip(4))
            break;
        // A break before the first row or past the sheet splits nothing.
        if (at > 0 && at <= limit)
            out.push_back(at);
    }
    std::sort(out.begin(), out.end());
    out.erase(std::unique(out.begin(), out.end()), out.end());
    return out;
}

// The areas of a built-in name's formula, in order, up to the first token we cannot read.
std::vector<CellRange> readNameAreas(std::span<const uint8_t> rgce)
{
    using namespace biff::name;
    std::vector<CellRange> areas;
    ByteCursor c(rgce);
    while (!c.atEnd() && areas.size() < kMaxAreas) {
        uint8_t token = 0;
        c.readU8(token);
        const uint8_t base = token & kTokenClassMask;
        uint16_t ixti = 0, r1 = 0, r2 = 0, c1 = 0, c2 = 0;
        switch (base) {
        case ptgMemFunc:
            if (!c.skip(2)) // the size of the areas that follow; they are read in turn
                return areas;
            continue;
        case ptgUnion:
            continue;
        case ptgArea3d:
            c.readU16(ixti);
            [[fallthrough]];
        case ptgArea:
            c.readU16(r1);
            c.readU16(r2);
            c.readU16(c1);
            c.readU16(c2);
            if (!c.ok())
                return areas;
            areas.push_back(CellRange{std::min(r1, r2), std::max(r1, r2), uint16_t(std::min(c1 & kColumnMask, c2 & kColumnMask)),
                                      uint16_t(std::max(c1 & kColumnMask, c2 & kColumnMask))});
            continue;
        case ptgRef3d:
            c.readU16(ixti);
            c.readU16(r1);
            c.readU16(c1);
            if (!c.ok())
                return areas;
            areas.push_back(CellRange{r1, r1, uint16_t(c1 & kColumnMask), uint16_t(c1 & kColumnMask)});
            continue;
        default:
            return areas;
        }
    }
    return areas;
}

// The areas of the built-in name `code` (Print_Area, Print_Titles) of the sheet with this
// index, from the NAME records of the workbook globals.
std::vector<CellRange> findBuiltInName(const Workbook &book, int sheetIndex, uint8_t code)
{
    using namespace biff::name;
    for (const Record &r : book.globalRecords()) {
        if (r.id != biff::rec::NAME)
            continue;
        ByteCursor c(r.data);
        uint16_t options = 0, cce = 0, itab = 0;
        uint8_t cch = 0, nameOptions = 0, builtin = 0;
        c.readU16(options);
        c.skip(kNameLength - 2);
        c.readU8(cch);
        c.readU16(cce);
        c.skip(kSheet - kFormulaSize - 2);
        c.readU16(itab);
        c.seek(kNameString);
        c.readU8(nameOptions);
        c.readU8(builtin);
        if (!c.ok() || !(options & kBuiltIn) || builtin != code || itab != sheetIndex + 1 || cch < 1)
            continue;
        // The name is one character, one byte or two wide; the formula follows it.
        if (nameOptions & biff::str::kHighByte)
            c.skip(1);
        std::span<const uint8_t> rgce;
        if (!c.readBytes(std::min<size_t>(cce, c.remaining()), rgce))
            continue;
        std::vector<CellRange> areas = readNameAreas(rgce);
        if (!areas.empty())
            return areas;
    }
    return {};
}

// Print_Area of the sheet: its first area. Column fields carry flags in their top bits; a
// column past IV cannot be on the sheet.
std::optional<CellRange> findPrintArea(const Workbook &book, int sheetIndex, bool &outsideSheet)
{
    outsideSheet = false;
    const std::vector<CellRange> areas = findBuiltInName(book, sheetIndex, biff::name::kPrintArea);
    if (areas.empty())
        return std::nullopt;
    // Column fields are 16 bits wide in the formula but the sheet ends at IV.
    if (areas[0].firstCol > biff::cell::kMaxCol || areas[0].lastCol > biff::cell::kMaxCol) {
        outsideSheet = true;
        return std::nullopt;
    }
    return areas[0];
}

// Print_Titles: an area across every column is the rows repeated at the top of each page,
// one down every row the columns repeated at its left.
void findPrintTitles(const Workbook &book, int sheetIndex, PageSetup &s)
{
    for (const CellRange &a : findBuiltInName(book, sheetIndex, biff::name::kPrintTitles)) {
        if (a.firstCol == 0 && a.lastCol >= biff::cell::kMaxCol && !s.titleRows)
            s.titleRows = std::pair<uint16_t, uint16_t>(a.firstRow, a.lastRow);
        else if (a.firstRow == 0 && a.lastRow >= biff::cell::kMaxRow && a.lastCol <= biff::cell::kMaxCol && !s.titleColumns)
            s.titleColumns = std::pair<uint16_t, uint16_t>(a.firstCol, a.lastCol);
    }
}

// The records of the sheet's own substream: an embedded chart's BOF..EOF carries page
// setup records of its own, which are not the sheet's.
template<class F>
void forEachSheetRecord(const Worksheet &sheet, F &&f)
{
    int depth = 0;
    bool first = true;
    for (const Record &r : sheet.records()) {
        if (r.id == biff::rec::BOF) {
            if (!first)
                ++depth;
            first = false;
            continue;
        }
        if (r.id == biff::rec::EOF_) {
            --depth;
            continue;
        }
        if (depth == 0)
            f(r);
    }
}

} // namespace

std::optional<PaperSize> paperForCode(uint16_t code)
{
    for (const PaperEntry &e : kPapers)
        if (e.code == code)
            return toPaper(e);
    return std::nullopt;
}

PaperSize systemDefaultPaper()
{
    const bool inches = QLocale::system().measurementSystem() == QLocale::ImperialUSSystem;
    return *paperForCode(inches ? 1 : 9);
}

PageSetup readPageSetup(const Workbook &book, int sheetIndex)
{
    PageSetup s;
    if (sheetIndex < 0 || sheetIndex >= book.sheetCount())
        return s;
    const Worksheet &sheet = book.sheet(sheetIndex);
    const PageMargins defaults;
    forEachSheetRecord(sheet, [&](const Record &r) {
        uint16_t v = 0;
        switch (r.id) {
        case biff::rec::SETUP: {
            using namespace biff::setup;
            uint16_t paper = 0, scale = 0, first = 0, fitW = 0, fitH = 0, options = 0;
            if (!readU16At(r, kOptions, options))
                break; // too short to say anything
            readU16At(r, kPaper, paper);
            readU16At(r, kScale, scale);
            readU16At(r, kFirstPage, first);
            readU16At(r, kFitWidth, fitW);
            readU16At(r, kFitHeight, fitH);
            s.overThenDown = options & kOverThenDown;
            if (options & kUseFirstPage)
                s.firstPageNumber = first;
            s.margins.header = margin(r, kHeaderMargin, defaults.header);
            s.margins.footer = margin(r, kFooterMargin, defaults.footer);
            // Fit counts are the sheet's wish even when the printer fields are not set.
            s.fitWidth = fitW;
            s.fitHeight = fitH;
            if (options & kNotInitialised)
                break;
            if (!(options & kNoOrientation))
                s.landscape = !(options & kPortrait);
            if (std::optional<PaperSize> p = paperForCode(paper)) {
                s.paper = *p;
            } else if (paper != 0) {
                s.notes << QStringLiteral("The sheet asks for paper size %1, which is not known here; it prints on %2, the system's default.")
                               .arg(paper)
                               .arg(s.paper.name);
            }
            s.scalePercent = std::clamp(scale, kMinScale, kMaxScale);
            if (scale == 0)
                s.scalePercent = kDefaultScale;
            break;
        }
        case biff::rec::WSBOOL:
            if (readU16At(r, 0, v))
                s.fitToPages = v & biff::wsbool::kFitToPage;
            break;
        case biff::rec::LEFTMARGIN: s.margins.left = margin(r, 0, defaults.left); break;
        case biff::rec::RIGHTMARGIN: s.margins.right = margin(r, 0, defaults.right); break;
        case biff::rec::TOPMARGIN: s.margins.top = margin(r, 0, defaults.top); break;
        case biff::rec::BOTTOMMARGIN: s.margins.bottom = margin(r, 0, defaults.bottom); break;
        case biff::rec::HCENTER: s.centreHorizontally = readU16At(r, 0, v) && v == 1; break;
        case biff::rec::VCENTER: s.centreVertically = readU16At(r, 0, v) && v == 1; break;
        case biff::rec::PRINTGRIDLINES: s.printGridLines = readU16At(r, 0, v) && v == 1; break;
        case biff::rec::PRINTHEADERS: s.printHeadings = readU16At(r, 0, v) && v == 1; break;
        case biff::rec::HEADER: s.header = readHeaderFooter(r); break;
        case biff::rec::FOOTER: s.footer = readHeaderFooter(r); break;
        case biff::rec::HORIZONTALPAGEBREAKS: s.rowBreaks = readBreaks(r, biff::cell::kMaxRow); break;
        case biff::rec::VERTICALPAGEBREAKS: s.columnBreaks = readBreaks(r, biff::cell::kMaxCol); break;
        default: break;
        }
    });
    // Fit to nothing at all is no fit: the pages come out at the scale instead.
    if (s.fitToPages && s.fitWidth == 0 && s.fitHeight == 0)
        s.fitToPages = false;
    bool outside = false;
    s.printArea = findPrintArea(book, sheetIndex, outside);
    if (outside)
        s.notes << QStringLiteral("The sheet's print area lies outside the sheet; the used range prints instead.");
    findPrintTitles(book, sheetIndex, s);
    return s;
}

CellRange printRange(const Workbook &book, int sheetIndex, const PageSetup &setup)
{
    if (setup.printArea)
        return *setup.printArea;
    if (sheetIndex < 0 || sheetIndex >= book.sheetCount())
        return CellRange{};
    // The cells and the pictures: a sheet whose content is a picture prints that picture.
    const Worksheet &sheet = book.sheet(sheetIndex);
    std::optional<CellRange> range = sheet.usedRange();
    for (const SheetPicture &picture : sheet.pictures()) {
        const CellAnchor &a = picture.anchor;
        const CellRange covers{std::min(a.row1, a.row2), std::max(a.row1, a.row2), std::min(a.col1, a.col2),
                               std::min<uint16_t>(std::max(a.col1, a.col2), 255)};
        if (!range) {
            range = covers;
            continue;
        }
        range->firstRow = std::min(range->firstRow, covers.firstRow);
        range->lastRow = std::max(range->lastRow, covers.lastRow);
        range->firstCol = std::min(range->firstCol, covers.firstCol);
        range->lastCol = std::max(range->lastCol, covers.lastCol);
    }
    return range.value_or(CellRange{});
}

HeaderFooterSections expandHeaderFooter(const QString &text, const PageContext &context)
{
    HeaderFooterSections out;
    QString *section = &out.centre;
    const QLocale locale = QLocale::system();
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar ch = text[i];
        if (ch != u'&' || i + 1 >= text.size()) {
            section->append(ch);
            continue;
        }
        const QChar code = text[++i];
        switch (code.toUpper().unicode()) {
        case u'L': section = &out.left; break;
        case u'C': section = &out.centre; break;
        case u'R': section = &out.right; break;
        case u'P': section->append(QString::number(context.page)); break;
        case u'N': section->append(QString::number(context.pages)); break;
        case u'D': section->append(locale.toString(context.now.date(), QLocale::ShortFormat)); break;
        case u'T': section->append(locale.toString(context.now.time(), QLocale::ShortFormat)); break;
        case u'F': section->append(context.fileName); break;
        case u'A': section->append(context.sheetName); break;
        case u'&': section->append(u'&'); break;
        case u'"': // &"font,style": up to the closing quote
            while (i + 1 < text.size() && text[i + 1] != u'"')
                ++i;
            ++i;
            break;
        case u'K': // &Krrggbb, or a theme colour &Kxx+nnn / &Kxx-nnn
            i += std::min<qsizetype>(6, text.size() - 1 - i);
            break;
        default:
            if (code.isDigit()) { // &nn: font size in points
                while (i + 1 < text.size() && text[i + 1].isDigit())
                    ++i;
            }
            // &B, &I, &U, &E, &S, &X, &Y, &Z, &G and the unknown: formatting only.
            break;
        }
    }
    return out;
}

} // namespace xls
