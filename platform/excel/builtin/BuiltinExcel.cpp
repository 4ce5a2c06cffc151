#include "platform/excel/builtin/BuiltinExcel.h"
#include "platform/excel/SaveAsArguments.h"

#include <QDir>
#include <QFileInfo>
#include <cmath>
#include <mutex>

using automation::Args;
using automation::AutomationError;
using automation::ObjectRef;
using automation::Variant;

namespace excel {

namespace {

// Excel's file format codes that write an Excel 97-2003 workbook.
const QString kVersion = QStringLiteral("16.0");

constexpr int kMaxRows = 65536;
constexpr int kMaxColumns = 256;

std::mutex g_handlerMutex;
CopyPictureHandler g_copyPicture;

} // namespace

struct AppState {
    bool quit = false;
    bool displayAlerts = true;
    std::vector<std::shared_ptr<WorkbookState>> workbooks;

    void checkAlive() const
    {
        if (quit)
            throw AutomationError(QStringLiteral("The Excel application has quit; its objects can no longer be used"));
    }
};

struct WorkbookState {
    std::weak_ptr<AppState> app;
    std::unique_ptr<xls::Workbook> model; // null once closed
    QString path;

    xls::Workbook &live() const
    {
        if (auto a = app.lock())
            a->checkAlive();
        if (!model)
            throw AutomationError(QStringLiteral("The workbook %1 has been closed").arg(QFileInfo(path).fileName()));
        return *model;
    }
};

const xls::Workbook &RangeRef::workbook() const { return book->live(); }
const xls::Worksheet &RangeRef::sheet() const { return book->live().sheet(sheetIndex); }

void setCopyPictureHandler(CopyPictureHandler handler)
{
    std::lock_guard lock(g_handlerMutex);
    g_copyPicture = std::move(handler);
}

namespace {

// 1-based sheet coordinates from a late-bound argument, checked against the sheet's size.
uint16_t rowArg(const QString &who, const Variant &v)
{
    const int32_t r = v.toInt32();
    if (r < 1 || r > kMaxRows)
        throw AutomationError(QStringLiteral("%1: row %2 is outside the sheet (1 to %3)").arg(who).arg(r).arg(kMaxRows));
    return uint16_t(r - 1);
}

uint16_t columnArg(const QString &who, const Variant &v)
{
    const int32_t c = v.toInt32();
    if (c < 1 || c > kMaxColumns)
        throw AutomationError(QStringLiteral("%1: column %2 is outside the sheet (1 to %3)").arg(who).arg(c).arg(kMaxColumns));
    return uint16_t(c - 1);
}

// A cell's error code (0x07 #DIV/0! ...) is the CVErr number less 2000.
constexpr int32_t kCvErrBase = 2000;
constexpr uint8_t kCellErrors[] = {0x00, 0x07, 0x0F, 0x17, 0x1D, 0x24, 0x2A};

Variant errorValue(uint8_t code) { return Variant::fromError(kCvErrBase + code); }

uint8_t cellErrorCode(const Variant &v)
{
    const int32_t code = v.errorCode() - kCvErrBase;
    for (uint8_t known : kCellErrors)
        if (code == known)
            return known;
    throw AutomationError(QStringLiteral("Range.Value: Error %1 is not an error value a cell can hold").arg(v.errorCode()));
}

Variant cellValue(const xls::Workbook &wb, const xls::Cell *cell)
{
    if (!cell)
        return {};
    switch (cell->type) {
    case xls::CellType::Blank:
        return {};
    case xls::CellType::Number:
        return cell->number;
    case xls::CellType::Text:
        return wb.text(*cell);
    case xls::CellType::Boolean:
        return Variant::fromBool(cell->code != 0);
    case xls::CellType::Error:
        return errorValue(cell->code);
    case xls::CellType::Formula:
        switch (cell->formula->result) {
        case xls::FormulaResult::Number:
            return cell->number;
        case xls::FormulaResult::Text:
            return wb.text(*cell);
        case xls::FormulaResult::Boolean:
            return Variant::fromBool(cell->code != 0);
        case xls::FormulaResult::Error:
            return errorValue(cell->code);
        case xls::FormulaResult::EmptyText:
            return QString();
        }
    }
    return {};
}

// Members are looked up in a static table per class, case-insensitively, without building
// anything per object: a generation run makes two objects per cell it writes.
template<class Self>
class MemberObject : public automation::AutomationObject {
public:
    Variant invoke(QStringView member, automation::InvokeKind kind, const Args &args) override
    {
        for (const Member &m : Self::kMembers) {
            if (member.compare(m.name, Qt::CaseInsensitive) != 0)
                continue;
            Self &self = static_cast<Self &>(*this);
            if (kind == automation::InvokeKind::Get && m.get)
                return (self.*m.get)(args);
            if (kind == automation::InvokeKind::Put && m.put) {
                if (args.positional.empty())
                    throw AutomationError(QStringLiteral("Argument not optional: %1.%2").arg(className(), member.toString()));
                Args index = args;
                const Variant value = index.positional.back();
                index.positional.pop_back();
                (self.*m.put)(index, value);
                return {};
            }
            throw AutomationError(QStringLiteral("%1.%2 cannot be %3")
                                      .arg(className(), member.toString(),
                                           kind == automation::InvokeKind::Put ? QStringLiteral("assigned") : QStringLiteral("read")));
        }
        throwUnknownMember(member);
    }

protected:
    struct Member {
        QStringView name;
        Variant (Self::*get)(const Args &);
        void (Self::*put)(const Args &, const Variant &);
    };

    void expectArgs(QStringView member, const Args &args, size_t min, size_t max) const
    {
        if (args.positional.size() < min || args.positional.size() > max)
            throw AutomationError(QStringLiteral("Wrong number of arguments or invalid property assignment: %1.%2")
                                      .arg(className(), member.toString()));
    }
};

class RangeObject : public MemberObject<RangeObject> {
public:
    enum class Kind { Cells, Rows, Columns };
    static const Member kMembers[];

    RangeObject(RangeRef ref, Kind kind) : m_ref(std::move(ref)), m_kind(kind) {}
    QString className() const override { return QStringLiteral("Range"); }
    const RangeRef &ref() const { return m_ref; }

    Variant row(const Args &a)
    {
        noArgs(u"Row", a);
        return int32_t(m_ref.rect.firstRow + 1);
    }
    Variant column(const Args &a)
    {
        noArgs(u"Column", a);
        return int32_t(m_ref.rect.firstCol + 1);
    }
    Variant countMember(const Args &a)
    {
        noArgs(u"Count", a);
        return count();
    }
    Variant rowsMember(const Args &a) { return part(u"Rows", Kind::Rows, a); }
    Variant columnsMember(const Args &a) { return part(u"Columns", Kind::Columns, a); }

    // The i-th row, column or cell of the range, counted from 1.
    Variant item(const Args &a)
    {
        m_ref.book->live();
        expectArgs(u"Item", a, 1, 1);
        const int32_t i = a.at(0).toInt32();
        if (i < 1 || i > count())
            throw AutomationError(QStringLiteral("Range.Item: index %1 is outside 1 to %2").arg(i).arg(count()));
        RangeRef r = m_ref;
        switch (m_kind) {
        case Kind::Rows:
            r.rect.firstRow = r.rect.lastRow = uint16_t(m_ref.rect.firstRow + i - 1);
            break;
        case Kind::Columns:
            r.rect.firstCol = r.rect.lastCol = uint16_t(m_ref.rect.firstCol + i - 1);
            break;
        case Kind::Cells:
            r.rect.firstRow = r.rect.lastRow = uint16_t(m_ref.rect.firstRow + (i - 1) / columns());
            r.rect.firstCol = r.rect.lastCol = uint16_t(m_ref.rect.firstCol + (i - 1) % columns());
            break;
        }
        return ObjectRef(std::make_shared<RangeObject>(r, Kind::Cells));
    }

    Variant value(const Args &a)
    {
        const xls::Workbook &wb = m_ref.book->live();
        expectArgs(u"Value", a, 0, 1);
        if (m_ref.rect.firstRow != m_ref.rect.lastRow || m_ref.rect.firstCol != m_ref.rect.lastCol)
            throw AutomationError(QStringLiteral("Range.Value: reading a range of several cells is not supported"));
        return cellValue(wb, wb.sheet(m_ref.sheetIndex).cellAt(m_ref.rect.firstRow, m_ref.rect.firstCol));
    }

    void setValue(const Args &a, const Variant &v)
    {
        xls::Workbook &wb = m_ref.book->live();
        expectArgs(u"Value", a, 0, 1);
        xls::Worksheet &sheet = wb.sheet(m_ref.sheetIndex);
        if (v.isObject())
            throw AutomationError(automation::kTypeMismatch + QStringLiteral(" (Range.Value cannot hold an object)"));
        QString text;
        if (v.type() == Variant::Type::String) {
            text = v.toString();
            if (text.size() > 32767)
                throw AutomationError(QStringLiteral("Range.Value: a cell holds at most 32,767 characters; this text has %1")
                                          .arg(text.size()));
        }
        if (v.isNumeric() && v.type() != Variant::Type::Bool && !std::isfinite(v.toDouble()))
            throw AutomationError(QStringLiteral("Range.Value: %1 is not a number a cell can hold").arg(v.toDouble()));
        const uint8_t error = v.isError() ? cellErrorCode(v) : 0;
        // Refused before any cell changes, so a range write is all or nothing.
        if (sheet.touchesArrayFormula(m_ref.rect))
            throw AutomationError(QStringLiteral("You can't change part of an array."));
        for (uint32_t r = m_ref.rect.firstRow; r <= m_ref.rect.lastRow; ++r)
            for (uint32_t c = m_ref.rect.firstCol; c <= m_ref.rect.lastCol; ++c) {
                switch (v.type()) {
                case Variant::Type::Empty:
                    sheet.setBlank(uint16_t(r), uint16_t(c));
                    break;
                case Variant::Type::Bool:
                    sheet.setBoolean(uint16_t(r), uint16_t(c), v.toBool());
                    break;
                case Variant::Type::String:
                    sheet.setText(uint16_t(r), uint16_t(c), text);
                    break;
                case Variant::Type::Error:
                    sheet.setError(uint16_t(r), uint16_t(c), error);
                    break;
                default:
                    sheet.setNumber(uint16_t(r), uint16_t(c), v.toDouble());
                    break;
                }
            }
    }

    // The hook a picture renderer fills in; see setCopyPictureHandler.
    Variant copyPicture(const Args &a)
    {
        m_ref.book->live();
        expectArgs(u"CopyPicture", a, 0, 2); // Appearance and Format are accepted and left to the handler
        CopyPictureHandler handler;
        {
            std::lock_guard lock(g_handlerMutex);
            handler = g_copyPicture;
        }
        if (!handler)
            throw AutomationError(QStringLiteral("Range.CopyPicture: this build cannot draw a picture of a range"));
        if (const xls::Status drawn = handler(m_ref); !drawn)
            throw AutomationError(drawn.error().message);
        return {};
    }

private:
    void noArgs(QStringView member, const Args &a) const
    {
        m_ref.book->live();
        expectArgs(member, a, 0, 0);
    }

    int32_t rows() const { return m_ref.rect.lastRow - m_ref.rect.firstRow + 1; }
    int32_t columns() const { return m_ref.rect.lastCol - m_ref.rect.firstCol + 1; }
    int32_t count() const
    {
        switch (m_kind) {
        case Kind::Rows:
            return rows();
        case Kind::Columns:
            return columns();
        case Kind::Cells:
            break;
        }
        return rows() * columns();
    }

    Variant part(QStringView member, Kind kind, const Args &a)
    {
        m_ref.book->live();
        expectArgs(member, a, 0, 1);
        auto all = std::make_shared<RangeObject>(m_ref, kind);
        if (a.count() == 0)
            return ObjectRef(all);
        return all->item(a);
    }

    RangeRef m_ref;
    Kind m_kind;
};

const RangeObject::Member RangeObject::kMembers[] = {
    {u"Value", &RangeObject::value, &RangeObject::setValue},
    {u"Row", &RangeObject::row, nullptr},
    {u"Column", &RangeObject::column, nullptr},
    {u"Count", &RangeObject::countMember, nullptr},
    {u"Rows", &RangeObject::rowsMember, nullptr},
    {u"Columns", &RangeObject::columnsMember, nullptr},
    {u"Item", &RangeObject::item, nullptr},
    {u"", &RangeObject::item, nullptr}, // a collection called with an index, Rows(3)
    {u"CopyPicture", &RangeObject::copyPicture, nullptr},
};

class WorksheetObject : public MemberObject<WorksheetObject> {
public:
    static const Member kMembers[];

    WorksheetObject(std::shared_ptr<WorkbookState> book, int index) : m_book(std::move(book)), m_index(index) {}
    QString className() const override { return QStringLiteral("Worksheet"); }

    Variant name(const Args &a)
    {
        const xls::Worksheet &s = sheet();
        expectArgs(u"Name", a, 0, 0);
        return s.name();
    }

    Variant cells(const Args &a)
    {
        sheet();
        expectArgs(u"Cells", a, 2, 2);
        const uint16_t r = rowArg(QStringLiteral("Worksheet.Cells"), a.at(0));
        const uint16_t c = columnArg(QStringLiteral("Worksheet.Cells"), a.at(1));
        return ObjectRef(std::make_shared<RangeObject>(RangeRef{m_book, m_index, {r, r, c, c}}, RangeObject::Kind::Cells));
    }

    Variant usedRange(const Args &a)
    {
        const xls::Worksheet &s = sheet();
        expectArgs(u"UsedRange", a, 0, 0);
        // An empty sheet's used range is A1, as Excel answers.
        const xls::CellRange rect = s.usedRange().value_or(xls::CellRange{});
        return ObjectRef(std::make_shared<RangeObject>(RangeRef{m_book, m_index, rect}, RangeObject::Kind::Cells));
    }

private:
    xls::Worksheet &sheet() const { return m_book->live().sheet(m_index); }

    std::shared_ptr<WorkbookState> m_book;
    int m_index;
};

const WorksheetObject::Member WorksheetObject::kMembers[] = {
    {u"Cells", &WorksheetObject::cells, nullptr},
    {u"UsedRange", &WorksheetObject::usedRange, nullptr},
    {u"Name", &WorksheetObject::name, nullptr},
};

// The workbook's worksheets (chart and macro sheets are not among them), by position from 1
// or by name, as Excel finds them: the name without regard to case.
class WorksheetsObject : public MemberObject<WorksheetsObject> {
public:
    static const Member kMembers[];

    explicit WorksheetsObject(std::shared_ptr<WorkbookState> book) : m_book(std::move(book)) {}
    QString className() const override { return QStringLiteral("Worksheets"); }

    Variant countMember(const Args &a)
    {
        const std::vector<int> sheets = worksheets();
        expectArgs(u"Count", a, 0, 0);
        return int32_t(sheets.size());
    }

    Variant item(const Args &a)
    {
        const std::vector<int> sheets = worksheets();
        expectArgs(u"Item", a, 1, 1);
        const Variant &which = a.at(0);
        if (which.type() == Variant::Type::String) {
            const QString name = which.toString();
            for (int i : sheets)
                if (m_book->live().sheet(i).name().compare(name, Qt::CaseInsensitive) == 0)
                    return ObjectRef(std::make_shared<WorksheetObject>(m_book, i));
            throw AutomationError(QStringLiteral("Worksheets.Item: there is no worksheet \"%1\" (subscript out of range)").arg(name));
        }
        const int32_t i = which.toInt32();
        if (i < 1 || i > int32_t(sheets.size()))
            throw AutomationError(QStringLiteral("Worksheets.Item: index %1 is outside 1 to %2 (subscript out of range)")
                                      .arg(i)
                                      .arg(sheets.size()));
        return ObjectRef(std::make_shared<WorksheetObject>(m_book, sheets[size_t(i - 1)]));
    }

private:
    std::vector<int> worksheets() const
    {
        const xls::Workbook &wb = m_book->live();
        std::vector<int> out;
        for (int i = 0; i < wb.sheetCount(); ++i)
            if (wb.sheet(i).isWorksheet())
                out.push_back(i);
        return out;
    }

    std::shared_ptr<WorkbookState> m_book;
};

const WorksheetsObject::Member WorksheetsObject::kMembers[] = {
    {u"Count", &WorksheetsObject::countMember, nullptr},
    {u"Item", &WorksheetsObject::item, nullptr},
    {u"", &WorksheetsObject::item, nullptr},
};

class WorkbookObject : public MemberObject<WorkbookObject> {
public:
    static const Member kMembers[];

    WorkbookObject(std::shared_ptr<WorkbookState> book, std::shared_ptr<AppState> app)
        : m_book(std::move(book)), m_app(std::move(app))
    {
    }
    QString className() const override { return QStringLiteral("Workbook"); }

    Variant activeSheet(const Args &a)
    {
        const xls::Workbook &wb = m_book->live();
        expectArgs(u"ActiveSheet", a, 0, 0);
        return ObjectRef(std::make_shared<WorksheetObject>(m_book, wb.activeSheetIndex()));
    }

    Variant name(const Args &a)
    {
        m_book->live();
        expectArgs(u"Name", a, 0, 0);
        return QFileInfo(m_book->path).fileName();
    }

    Variant worksheets(const Args &a)
    {
        m_book->live();
        expectArgs(u"Worksheets", a, 0, 1);
        auto sheets = std::make_shared<WorksheetsObject>(m_book);
        if (a.count() == 1)
            return sheets->item(a);
        return ObjectRef(sheets);
    }

    Variant fullName(const Args &a)
    {
        m_book->live();
        expectArgs(u"FullName", a, 0, 0);
        return m_book->path;
    }

    Variant saveAs(const Args &a)
    {
        const xls::Workbook &wb = m_book->live();
        expectArgs(u"SaveAs", a, 0, 2);
        const QString absolute = saveAsPath(a);
        if (xls::Status s = wb.saveAs(absolute); !s)
            throw AutomationError(QStringLiteral("Workbook.SaveAs: %1").arg(s.error().message));
        m_book->path = absolute;
        return {};
    }

    Variant close(const Args &a)
    {
        m_book->live();
        expectArgs(u"Close", a, 0, 3);
        // SaveChanges is not honoured: the program saves with SaveAs before it closes, and a
        // close never prompts.
        m_book->model.reset();
        if (m_app)
            std::erase(m_app->workbooks, m_book);
        return {};
    }

private:
    std::shared_ptr<WorkbookState> m_book;
    std::shared_ptr<AppState> m_app;
};

const WorkbookObject::Member WorkbookObject::kMembers[] = {
    {u"ActiveSheet", &WorkbookObject::activeSheet, nullptr},
    {u"Worksheets", &WorkbookObject::worksheets, nullptr},
    {u"SaveAs", &WorkbookObject::saveAs, nullptr},
    {u"Close", &WorkbookObject::close, nullptr},
    {u"Name", &WorkbookObject::name, nullptr},
    {u"FullName", &WorkbookObject::fullName, nullptr},
};

class WorkbooksObject : public MemberObject<WorkbooksObject> {
public:
    static const Member kMembers[];

    explicit WorkbooksObject(std::shared_ptr<AppState> app) : m_app(std::move(app)) {}
    QString className() const override { return QStringLiteral("Workbooks"); }

    Variant countMember(const Args &a)
    {
        m_app->checkAlive();
        expectArgs(u"Count", a, 0, 0);
        return int32_t(m_app->workbooks.size());
    }

    Variant item(const Args &a)
    {
        m_app->checkAlive();
        expectArgs(u"Item", a, 1, 1);
        const int32_t i = a.at(0).toInt32();
        if (i < 1 || i > int32_t(m_app->workbooks.size()))
            throw AutomationError(QStringLiteral("Workbooks.Item: index %1 is outside 1 to %2 (subscript out of range)")
                                      .arg(i)
                                      .arg(m_app->workbooks.size()));
        return ObjectRef(std::make_shared<WorkbookObject>(m_app->workbooks[size_t(i - 1)], m_app));
    }

    Variant open(const Args &a)
    {
        m_app->checkAlive();
        expectArgs(u"Open", a, 0, 1);
        const QString path = a.at(0, u"Filename").toString();
        if (path.isEmpty())
            throw AutomationError(QStringLiteral("Workbooks.Open: the file name is empty"));
        xls::Result<xls::Workbook> wb = xls::Workbook::open(path);
        if (!wb)
            throw AutomationError(QStringLiteral("Workbooks.Open: %1").arg(wb.error().message));
        auto state = std::make_shared<WorkbookState>();
        state->app = m_app;
        state->model = std::make_unique<xls::Workbook>(std::move(*wb));
        state->path = QFileInfo(path).absoluteFilePath();
        m_app->workbooks.push_back(state);
        return ObjectRef(std::make_shared<WorkbookObject>(state, m_app));
    }

private:
    std::shared_ptr<AppState> m_app;
};

const WorkbooksObject::Member WorkbooksObject::kMembers[] = {
    {u"Open", &WorkbooksObject::open, nullptr},
    {u"Count", &WorkbooksObject::countMember, nullptr},
    {u"Item", &WorkbooksObject::item, nullptr},
    {u"", &WorkbooksObject::item, nullptr},
};

class ApplicationObject : public MemberObject<ApplicationObject> {
public:
    static const Member kMembers[];

    ApplicationObject() : m_app(std::make_shared<AppState>()) {}
    QString className() const override { return QStringLiteral("Application"); }

    Variant workbooks(const Args &a)
    {
        m_app->checkAlive();
        expectArgs(u"Workbooks", a, 0, 1);
        auto books = std::make_shared<WorkbooksObject>(m_app);
        if (a.count() == 1)
            return books->item(a);
        return ObjectRef(books);
    }

    Variant version(const Args &a)
    {
        m_app->checkAlive();
        expectArgs(u"Version", a, 0, 0);
        return kVersion;
    }

    Variant displayAlerts(const Args &a)
    {
        m_app->checkAlive();
        expectArgs(u"DisplayAlerts", a, 0, 0);
        return Variant::fromBool(m_app->displayAlerts);
    }

    void setDisplayAlerts(const Args &a, const Variant &v)
    {
        m_app->checkAlive();
        expectArgs(u"DisplayAlerts", a, 0, 0);
        m_app->displayAlerts = v.toBool();
    }

    Variant visible(const Args &a)
    {
        m_app->checkAlive();
        expectArgs(u"Visible", a, 0, 0);
        return Variant::fromBool(false); // an instance of this server is never shown
    }

    Variant quit(const Args &a)
    {
        m_app->checkAlive();
        expectArgs(u"Quit", a, 0, 0);
        for (const auto &wb : m_app->workbooks)
            wb->model.reset();
        m_app->workbooks.clear();
        m_app->quit = true;
        return {};
    }

private:
    std::shared_ptr<AppState> m_app;
};

const ApplicationObject::Member ApplicationObject::kMembers[] = {
    {u"Workbooks", &ApplicationObject::workbooks, nullptr},
    {u"Version", &ApplicationObject::version, nullptr},
    {u"DisplayAlerts", &ApplicationObject::displayAlerts, &ApplicationObject::setDisplayAlerts},
    {u"Visible", &ApplicationObject::visible, nullptr},
    {u"Quit", &ApplicationObject::quit, nullptr},
};

} // namespace

} // namespace excel

automation::ObjectRef createBuiltinExcelApplication() { return std::make_shared<excel::ApplicationObject>(); }
