// The workbook model itself: what it answers and how it is edited. Reading and writing the
// records live in WorkbookReader.cpp and WorkbookWriter.cpp; this file only calls them.

#include "platform/xls/Workbook.h"
#include "platform/xls/WorkbookReader.h"

#include "platform/files/AtomicFile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <stdexcept>

namespace xls {

namespace {

// The XF a new cell takes when neither its row nor its column has one: the first cell XF
// after the fifteen style XFs every BIFF8 file starts with.
constexpr uint16_t kDefaultCellXf = 15;

bool isDrawingRecord(uint16_t id)
{
    using namespace biff::rec;
    return id == MSODRAWING || id == OBJ || id == TXO || id == NOTE || id == MSODRAWINGSELECTION;
}

constexpr uint32_t kDefaultPalette[biff::palette::kCount] = {
    0x000000, 0xFFFFFF, 0xFF0000, 0x00FF00, 0x0000FF, 0xFFFF00, 0xFF00FF, 0x00FFFF, // 8-15
    0x800000, 0x008000, 0x000080, 0x808000, 0x800080, 0x008080, 0xC0C0C0, 0x808080, // 16-23
    0x9999FF, 0x993366, 0xFFFFCC, 0xCCFFFF, 0x660066, 0xFF8080, 0x0066CC, 0xCCCCFF, // 24-31
    0x000080, 0xFF00FF, 0xFFFF00, 0x00FFFF, 0x800080, 0x800000, 0x008080, 0x0000FF, // 32-39
    0x00CCFF, 0xCCFFFF, 0xCCFFCC, 0xFFFF99, 0x99CCFF, 0xFF99CC, 0xCC99FF, 0xFFCC99, // 40-47
    0x3366FF, 0x33CCCC, 0x99CC00, 0xFFCC00, 0xFF9900, 0xFF6600, 0x666699, 0x969696, // 48-55
    0x003366, 0x339966, 0x003300, 0x333300, 0x993300, 0x993366, 0x333399, 0x333333, // 56-63
};

} // namespace

// ---- Opening and reading -------------------------------------------------------------

Result<Workbook> Workbook::open(const QString &path)
{
    const QString shown = QDir::toNativeSeparators(path);
    QFile f(path);
    if (!QFileInfo::exists(path))
        return Error{QStringLiteral("%1: the file does not exist").arg(shown)};
    if (QFileInfo(path).isDir())
        return Error{QStringLiteral("%1: is a folder, not a workbook file").arg(shown)};
    if (!f.open(QIODevice::ReadOnly))
        return Error{QStringLiteral("%1: cannot be opened: %2").arg(shown, f.errorString())};
    if (f.size() > kMaxFileSize)
        return Error{QStringLiteral("%1: the file is larger than %2 MB").arg(shown).arg(kMaxFileSize / (1024 * 1024))};
    const QByteArray bytes = f.readAll();
    if (f.error() != QFileDevice::NoError)
        return Error{QStringLiteral("%1: cannot be read: %2").arg(shown, f.errorString())};
    return fromBytes({reinterpret_cast<const uint8_t *>(bytes.constData()), size_t(bytes.size())}, shown);
}

Result<Workbook> Workbook::fromBytes(std::span<const uint8_t> bytes, const QString &name)
{
    return WorkbookReader::read(bytes, name);
}

Workbook::Workbook()
    : m_strings(std::make_unique<std::vector<SharedString>>()),
      m_palette(std::begin(kDefaultPalette), std::end(kDefaultPalette))
{
}
Workbook::Workbook(Workbook &&) noexcept = default;
Workbook &Workbook::operator=(Workbook &&) noexcept = default;
Workbook::~Workbook() = default;

const QString &Workbook::text(const Cell &cell) const
{
    static const QString empty;
    if ((cell.type != CellType::Text && cell.type != CellType::Formula) || cell.text >= m_strings->size())
        return empty;
    if (cell.type == CellType::Formula && (!cell.formula || cell.formula->result != FormulaResult::Text))
        return empty;
    return (*m_strings)[cell.text].text;
}

const CellFormat &Workbook::xf(uint16_t index) const
{
    static const CellFormat fallback;
    return index < m_xfs.size() ? m_xfs[index] : fallback;
}

const Font &Workbook::font(uint16_t index) const
{
    static const Font fallback{200, 400, false, false, 0, 0, 0x7FFF, 0, 0, QStringLiteral("Arial")};
    const size_t i = index >= 4 ? size_t(index) - 1 : index;
    if (index == 4 || i >= m_fonts.size())
        return m_fonts.empty() ? fallback : m_fonts.front();
    return m_fonts[i];
}

QString Workbook::numberFormat(uint16_t index) const
{
    if (auto it = m_formats.find(index); it != m_formats.end())
        return it->second;
    static const std::map<uint16_t, const char *> builtin = {
        {0, "General"}, {1, "0"}, {2, "0.00"}, {3, "#,##0"}, {4, "#,##0.00"},
        {5, "\"$\"#,##0_);(\"$\"#,##0)"}, {6, "\"$\"#,##0_);[Red](\"$\"#,##0)"},
        {7, "\"$\"#,##0.00_);(\"$\"#,##0.00)"}, {8, "\"$\"#,##0.00_);[Red](\"$\"#,##0.00)"},
        {9, "0%"}, {10, "0.00%"}, {11, "0.00E+00"}, {12, "# ?/?"}, {13, "# ?\?/?\?"}, {14, "m/d/yy"},
        {15, "d-mmm-yy"}, {16, "d-mmm"}, {17, "mmm-yy"}, {18, "h:mm AM/PM"}, {19, "h:mm:ss AM/PM"},
        {20, "h:mm"}, {21, "h:mm:ss"}, {22, "m/d/yy h:mm"}, {37, "#,##0_);(#,##0)"},
        {38, "#,##0_);[Red](#,##0)"}, {39, "#,##0.00_);(#,##0.00)"}, {40, "#,##0.00_);[Red](#,##0.00)"},
        {45, "mm:ss"}, {46, "[h]:mm:ss"}, {47, "mm:ss.0"}, {48, "##0.0E+0"}, {49, "@"}};
    if (auto it = builtin.find(index); it != builtin.end())
        return QString::fromLatin1(it->second);
    return QStringLiteral("General");
}

uint32_t Workbook::color(uint16_t index) const
{
    if (index < biff::palette::kFirstIndex)
        return kDefaultPalette[index];
    if (index < biff::palette::kFirstIndex + biff::palette::kCount)
        return m_palette[index - biff::palette::kFirstIndex];
    return index == 65 ? 0xFFFFFF : 0x000000;
}

std::vector<const Record *> Workbook::drawingGroupRecords() const
{
    std::vector<const Record *> out;
    for (size_t i = 0; i < m_globals.size();) {
        if (m_globals[i].id != biff::rec::MSODRAWINGGROUP) {
            ++i;
            continue;
        }
        for (const size_t end = continuedEnd(m_globals, i); i < end; ++i)
            out.push_back(&m_globals[i]);
    }
    return out;
}

const Cell *Worksheet::cellAt(uint16_t row, uint16_t col) const
{
    auto it = m_cells.find(cellKey(row, col));
    return it == m_cells.end() ? nullptr : &it->second;
}

std::optional<CellRange> Worksheet::usedRange() const
{
    if (m_cells.empty())
        return std::nullopt;
    CellRange r{keyRow(m_cells.begin()->first), keyRow(m_cells.rbegin()->first), 0xFFFF, 0};
    for (const auto &[key, cell] : m_cells) {
        r.firstCol = std::min(r.firstCol, keyCol(key));
        r.lastCol = std::max(r.lastCol, keyCol(key));
    }
    return r;
}

RowInfo Worksheet::row(uint16_t row) const
{
    if (auto it = m_rowInfo.find(row); it != m_rowInfo.end())
        return it->second;
    RowInfo info;
    info.heightTwips = m_defaultRowHeight;
    return info;
}

std::vector<const Record *> Worksheet::drawingRecords() const
{
    std::vector<const Record *> out;
    for (size_t i = 0; i < m_records.size();) {
        if (!isDrawingRecord(m_records[i].id)) {
            ++i;
            continue;
        }
        for (const size_t end = continuedEnd(m_records, i); i < end; ++i)
            out.push_back(&m_records[i]);
    }
    return out;
}

// ---- Edits ---------------------------------------------------------------------------

Cell &Worksheet::cellForWrite(uint16_t row, uint16_t col)
{
    if (!m_isWorksheet)
        throw std::invalid_argument("cells can only be written on a worksheet");
    if (col > biff::cell::kMaxCol)
        throw std::invalid_argument("column past IV");
    if (touchesArrayFormula({row, row, col, col}))
        throw std::invalid_argument("You can't change part of an array.");
    auto [it, fresh] = m_cells.try_emplace(cellKey(row, col));
    if (fresh) {
        // A new cell takes the row's format, else its column's, as Excel does.
        uint16_t xf = kDefaultCellXf;
        if (auto r = m_rowInfo.find(row); r != m_rowInfo.end() && r->second.xf) {
            xf = *r->second.xf;
        } else {
            for (const ColumnInfo &c : m_columns)
                if (col >= c.firstCol && col <= c.lastCol)
                    xf = c.xf;
        }
        it->second.xf = xf;
    }
    if (it->second.formula)
        releaseSharedFormula(row, col, *it->second.formula);
    it->second.formula.reset();
    return it->second;
}

void Worksheet::setNumber(uint16_t row, uint16_t col, double value)
{
    Cell &c = cellForWrite(row, col);
    c.type = CellType::Number;
    c.number = value;
}

void Worksheet::setText(uint16_t row, uint16_t col, const QString &text)
{
    if (text.size() > qsizetype(biff::kMaxStringChars))
        throw std::invalid_argument("text longer than 32767 characters");
    Cell &c = cellForWrite(row, col);
    c.type = CellType::Text;
    c.number = 0;
    m_strings->push_back(SharedString{text, {}, {}});
    c.text = uint32_t(m_strings->size() - 1);
}

void Worksheet::setBoolean(uint16_t row, uint16_t col, bool value)
{
    Cell &c = cellForWrite(row, col);
    c.type = CellType::Boolean;
    c.code = value ? 1 : 0;
}

void Worksheet::setError(uint16_t row, uint16_t col, uint8_t code)
{
    Cell &c = cellForWrite(row, col);
    c.type = CellType::Error;
    c.number = 0;
    c.code = code;
}

void Worksheet::setBlank(uint16_t row, uint16_t col)
{
    Cell &c = cellForWrite(row, col);
    c.type = CellType::Blank;
    c.number = 0;
    c.code = 0;
}

// ---- Saving --------------------------------------------------------------------------

Result<std::vector<uint8_t>> Workbook::toBytes() const
{
    CompoundFile cf = m_container; // the other streams go out as they came in
    cf.setStream(m_streamName, WorkbookWriter::writeStream(*this));
    return cf.serialize();
}

Status Workbook::saveAs(const QString &path, bool durable) const
{
    const QString shown = QDir::toNativeSeparators(path);
    Result<std::vector<uint8_t>> bytes = toBytes();
    if (!bytes)
        return Error{QStringLiteral("%1: %2").arg(shown, bytes.error().message)};
    // Never half a workbook under the caller's name, even on a full disk: the bytes reach
    // the disk under a temporary name first and replace the target in one step.
    files::WriteOptions options;
    options.newFileMode = 0644;
    options.durable = durable;
    const files::WriteOutcome outcome = files::writeFileAtomically(path, {bytes->data(), qsizetype(bytes->size())}, options);
    if (!outcome.written())
        return Error{QStringLiteral("%1: cannot be written: %2").arg(shown, outcome.reason)};
    return {};
}

} // namespace xls
