#include "platform/excel/ExcelApplication.h"

#include "platform/excel/SaveAsArguments.h"
#include "platform/excel/builtin/BuiltinExcel.h"

#include <QFileInfo>
#include <algorithm>
#include <cmath>

using automation::Args;
using automation::AutomationError;
using automation::ObjectRef;
using automation::Variant;
using backend::CellRect;

namespace excel {

namespace {

// The caller picks the save format from this; 12 and later select format 56. An office's own
// version (7.x) would make a caller believe it talks to a spreadsheet program from before 2007.
const QString kVersion = QStringLiteral("16.0");

using SessionRef = std::shared_ptr<backend::Session>;
using DocumentRef = std::shared_ptr<backend::Document>;

// The error values a cell can hold; another error number is no value to write.
constexpr int32_t kCellErrors[] = {Variant::kErrNull, Variant::kErrDiv0, Variant::kErrValue, Variant::kErrRef,
                                   Variant::kErrName, Variant::kErrNum,  Variant::kErrNA};

void checkAlive(const backend::Session &session, QStringView who)
{
    if (session.hasQuit())
        throw AutomationError(QStringLiteral("The Excel application has quit; its objects can no longer be used"));
    session.checkRunning(who);
}

// What every member of a workbook's objects checks first.
void checkOpen(const backend::Session &session, const backend::Document &book, QStringView who)
{
    checkAlive(session, who);
    if (book.isClosed())
        throw AutomationError(QStringLiteral("The workbook %1 has been closed").arg(QFileInfo(book.path()).fileName()));
}

// 1-based sheet coordinates from a late-bound argument, checked against the sheet's size.
int32_t rowArg(const Variant &v)
{
    const int32_t r = v.toInt32();
    if (r < 1 || r > backend::kMaxRows)
        throw AutomationError(QStringLiteral("Worksheet.Cells: row %1 is outside the sheet (1 to %2)").arg(r).arg(backend::kMaxRows));
    return r - 1;
}

int32_t columnArg(const Variant &v)
{
    const int32_t c = v.toInt32();
    if (c < 1 || c > backend::kMaxColumns)
        throw AutomationError(QStringLiteral("Worksheet.Cells: column %1 is outside the sheet (1 to %2)").arg(c).arg(backend::kMaxColumns));
    return c - 1;
}

// Raises for a value no cell can hold, before anything reaches the workbook.
void checkCellValue(const Variant &v)
{
    if (v.isObject())
        throw AutomationError(automation::kTypeMismatch + QStringLiteral(" (Range.Value cannot hold an object)"));
    if (v.type() == Variant::Type::String && v.toString().size() > backend::kMaxTextLength)
        throw AutomationError(QStringLiteral("Range.Value: a cell holds at most 32,767 characters; this text has %1").arg(v.toString().size()));
    if (v.isNumeric() && v.type() != Variant::Type::Bool && !std::isfinite(v.toDouble()))
        throw AutomationError(QStringLiteral("Range.Value: %1 is not a number a cell can hold").arg(v.toDouble()));
    if (v.isError() && std::find(std::begin(kCellErrors), std::end(kCellErrors), v.errorCode()) == std::end(kCellErrors))
        throw AutomationError(QStringLiteral("Range.Value: Error %1 is not an error value a cell can hold").arg(v.errorCode()));
}

// The position (from 0) of a collection's item named by its index from 1.
size_t itemIndex(QStringView who, const Variant &index, size_t count)
{
    const int32_t i = index.toInt32();
    if (i < 1 || size_t(i) > count)
        throw AutomationError(QStringLiteral("%1: index %2 is outside 1 to %3 (subscript out of range)").arg(who).arg(i).arg(count));
    return size_t(i - 1);
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

    // who is "Class.Member", as the error texts name a member.
    void expectArgs(QStringView who, const Args &args, size_t min, size_t max) const
    {
        if (args.positional.size() < min || args.positional.size() > max)
            throw AutomationError(QStringLiteral("Wrong number of arguments or invalid property assignment: %1").arg(who));
    }
};

// What the objects of one workbook share: the instance, the workbook, and for a sheet's
// objects the sheet.
struct SheetRef {
    SessionRef session;
    DocumentRef book;
    int sheet = 0;

    void check(QStringView who) const { checkOpen(*session, *book, who); }
};

class RangeObject : public MemberObject<RangeObject> {
public:
    enum class Kind { Cells, Rows, Columns };
    static const Member kMembers[];

    RangeObject(SheetRef sheet, CellRect rect, Kind kind) : m_sheet(std::move(sheet)), m_rect(rect), m_kind(kind) {}
    QString className() const override { return QStringLiteral("Range"); }

    Variant row(const Args &a)
    {
        noArgs(u"Range.Row", a);
        return m_rect.firstRow + 1;
    }
    Variant column(const Args &a)
    {
        noArgs(u"Range.Column", a);
        return m_rect.firstCol + 1;
    }
    Variant countMember(const Args &a)
    {
        noArgs(u"Range.Count", a);
        return count();
    }
    Variant rowsMember(const Args &a) { return part(u"Range.Rows", Kind::Rows, a); }
    Variant columnsMember(const Args &a) { return part(u"Range.Columns", Kind::Columns, a); }

    // The i-th row, column or cell of the range, counted from 1.
    Variant item(const Args &a)
    {
        m_sheet.check(u"Range.Item");
        expectArgs(u"Range.Item", a, 1, 1);
        const int32_t i = a.at(0).toInt32();
        if (i < 1 || i > count())
            throw AutomationError(QStringLiteral("Range.Item: index %1 is outside 1 to %2").arg(i).arg(count()));
        CellRect r = m_rect;
        switch (m_kind) {
        case Kind::Rows:
            r.firstRow = r.lastRow = m_rect.firstRow + i - 1;
            break;
        case Kind::Columns:
            r.firstCol = r.lastCol = m_rect.firstCol + i - 1;
            break;
        case Kind::Cells:
            r.firstRow = r.lastRow = m_rect.firstRow + (i - 1) / columns();
            r.firstCol = r.lastCol = m_rect.firstCol + (i - 1) % columns();
            break;
        }
        return ObjectRef(std::make_shared<RangeObject>(m_sheet, r, Kind::Cells));
    }

    Variant value(const Args &a)
    {
        m_sheet.check(u"Range.Value");
        expectArgs(u"Range.Value", a, 0, 1);
        if (m_rect.firstRow != m_rect.lastRow || m_rect.firstCol != m_rect.lastCol)
            throw AutomationError(QStringLiteral("Range.Value: reading a range of several cells is not supported"));
        return m_sheet.book->read(u"Range.Value", m_sheet.sheet, m_rect.firstRow, m_rect.firstCol);
    }

    void setValue(const Args &a, const Variant &v)
    {
        m_sheet.check(u"Range.Value");
        expectArgs(u"Range.Value", a, 0, 1);
        checkCellValue(v);
        m_sheet.book->write(u"Range.Value", m_sheet.sheet, m_rect, v);
    }

    Variant copyPicture(const Args &a)
    {
        m_sheet.check(u"Range.CopyPicture");
        expectArgs(u"Range.CopyPicture", a, 0, 2); // Appearance and Format: the picture is always as on screen
        m_sheet.book->copyPicture(u"Range.CopyPicture", m_sheet.sheet, m_rect);
        return {};
    }

private:
    void noArgs(QStringView member, const Args &a) const
    {
        m_sheet.check(member);
        expectArgs(member, a, 0, 0);
    }

    int32_t rows() const { return m_rect.lastRow - m_rect.firstRow + 1; }
    int32_t columns() const { return m_rect.lastCol - m_rect.firstCol + 1; }
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
        m_sheet.check(member);
        expectArgs(member, a, 0, 1);
        auto all = std::make_shared<RangeObject>(m_sheet, m_rect, kind);
        if (a.count() == 0)
            return ObjectRef(all);
        return all->item(a);
    }

    SheetRef m_sheet;
    CellRect m_rect;
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

    explicit WorksheetObject(SheetRef sheet) : m_sheet(std::move(sheet)) {}
    QString className() const override { return QStringLiteral("Worksheet"); }

    Variant name(const Args &a)
    {
        m_sheet.check(u"Worksheet.Name");
        expectArgs(u"Worksheet.Name", a, 0, 0);
        return m_sheet.book->sheetName(u"Worksheet.Name", m_sheet.sheet);
    }

    Variant cells(const Args &a)
    {
        m_sheet.check(u"Worksheet.Cells");
        expectArgs(u"Worksheet.Cells", a, 2, 2);
        const int32_t r = rowArg(a.at(0));
        const int32_t c = columnArg(a.at(1));
        return range({r, r, c, c});
    }

    Variant usedRange(const Args &a)
    {
        m_sheet.check(u"Worksheet.UsedRange");
        expectArgs(u"Worksheet.UsedRange", a, 0, 0);
        return range(m_sheet.book->usedRange(u"Worksheet.UsedRange", m_sheet.sheet));
    }

private:
    Variant range(const CellRect &rect) const { return ObjectRef(std::make_shared<RangeObject>(m_sheet, rect, RangeObject::Kind::Cells)); }

    SheetRef m_sheet;
};

const WorksheetObject::Member WorksheetObject::kMembers[] = {
    {u"Cells", &WorksheetObject::cells, nullptr},
    {u"UsedRange", &WorksheetObject::usedRange, nullptr},
    {u"Name", &WorksheetObject::name, nullptr},
};

// The workbook's worksheets, by position from 1 or by name, as Excel finds them: the name
// without regard to case.
class WorksheetsObject : public MemberObject<WorksheetsObject> {
public:
    static const Member kMembers[];

    WorksheetsObject(SessionRef session, DocumentRef book) : m_session(std::move(session)), m_book(std::move(book)) {}
    QString className() const override { return QStringLiteral("Worksheets"); }

    Variant countMember(const Args &a)
    {
        checkOpen(*m_session, *m_book, u"Worksheets.Count");
        expectArgs(u"Worksheets.Count", a, 0, 0);
        return int32_t(m_book->worksheets(u"Worksheets.Count").size());
    }

    Variant item(const Args &a)
    {
        checkOpen(*m_session, *m_book, u"Worksheets.Item");
        expectArgs(u"Worksheets.Item", a, 1, 1);
        const std::vector<int> sheets = m_book->worksheets(u"Worksheets.Item");
        const Variant &which = a.positional.front();
        if (which.type() == Variant::Type::String) {
            const QString name = which.toString();
            for (int i : sheets)
                if (m_book->sheetName(u"Worksheets.Item", i).compare(name, Qt::CaseInsensitive) == 0)
                    return sheet(i);
            throw AutomationError(QStringLiteral("Worksheets.Item: there is no worksheet \"%1\" (subscript out of range)").arg(name));
        }
        return sheet(sheets[itemIndex(u"Worksheets.Item", which, sheets.size())]);
    }

private:
    Variant sheet(int index) const { return ObjectRef(std::make_shared<WorksheetObject>(SheetRef{m_session, m_book, index})); }

    SessionRef m_session;
    DocumentRef m_book;
};

const WorksheetsObject::Member WorksheetsObject::kMembers[] = {
    {u"Count", &WorksheetsObject::countMember, nullptr},
    {u"Item", &WorksheetsObject::item, nullptr},
    {u"", &WorksheetsObject::item, nullptr},
};

class WorkbookObject : public MemberObject<WorkbookObject> {
public:
    static const Member kMembers[];

    WorkbookObject(SessionRef session, DocumentRef book) : m_session(std::move(session)), m_book(std::move(book)) {}
    QString className() const override { return QStringLiteral("Workbook"); }

    Variant activeSheet(const Args &a)
    {
        check(u"Workbook.ActiveSheet", a, 0, 0);
        const int sheet = m_book->activeSheet(u"Workbook.ActiveSheet");
        return ObjectRef(std::make_shared<WorksheetObject>(SheetRef{m_session, m_book, sheet}));
    }

    Variant worksheets(const Args &a)
    {
        check(u"Workbook.Worksheets", a, 0, 1);
        auto sheets = std::make_shared<WorksheetsObject>(m_session, m_book);
        if (a.count() == 1)
            return sheets->item(a);
        return ObjectRef(sheets);
    }

    Variant name(const Args &a)
    {
        check(u"Workbook.Name", a, 0, 0);
        return QFileInfo(m_book->path()).fileName();
    }

    Variant fullName(const Args &a)
    {
        check(u"Workbook.FullName", a, 0, 0);
        return m_book->path();
    }

    Variant saveAs(const Args &a)
    {
        check(u"Workbook.SaveAs", a, 0, 2);
        m_book->saveAs(u"Workbook.SaveAs", saveAsPath(a));
        return {};
    }

    Variant close(const Args &a)
    {
        // SaveChanges is not honoured: the program saves with SaveAs before it closes, and a
        // close never prompts.
        check(u"Workbook.Close", a, 0, 3);
        m_book->close(u"Workbook.Close");
        return {};
    }

private:
    void check(QStringView member, const Args &a, size_t min, size_t max) const
    {
        checkOpen(*m_session, *m_book, member);
        expectArgs(member, a, min, max);
    }

    SessionRef m_session;
    DocumentRef m_book;
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

    explicit WorkbooksObject(SessionRef session) : m_session(std::move(session)) {}
    QString className() const override { return QStringLiteral("Workbooks"); }

    Variant countMember(const Args &a)
    {
        checkAlive(*m_session, u"Workbooks.Count");
        expectArgs(u"Workbooks.Count", a, 0, 0);
        return int32_t(m_session->documents().size());
    }

    Variant item(const Args &a)
    {
        checkAlive(*m_session, u"Workbooks.Item");
        expectArgs(u"Workbooks.Item", a, 1, 1);
        const std::vector<DocumentRef> books = m_session->documents();
        return ObjectRef(std::make_shared<WorkbookObject>(m_session, books[itemIndex(u"Workbooks.Item", a.at(0), books.size())]));
    }

    Variant open(const Args &a)
    {
        checkAlive(*m_session, u"Workbooks.Open");
        expectArgs(u"Workbooks.Open", a, 0, 1);
        const QString path = a.at(0, u"Filename").toString();
        if (path.isEmpty())
            throw AutomationError(QStringLiteral("Workbooks.Open: the file name is empty"));
        return ObjectRef(std::make_shared<WorkbookObject>(m_session, m_session->open(u"Workbooks.Open", path)));
    }

private:
    SessionRef m_session;
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

    explicit ApplicationObject(SessionRef session) : m_session(std::move(session)) {}
    QString className() const override { return QStringLiteral("Application"); }

    pid_t processId() const { return m_session->processId(); }

    Variant workbooks(const Args &a)
    {
        check(u"Application.Workbooks", a, 0, 1);
        auto books = std::make_shared<WorkbooksObject>(m_session);
        if (a.count() == 1)
            return books->item(a);
        return ObjectRef(books);
    }

    Variant version(const Args &a)
    {
        check(u"Application.Version", a, 0, 0);
        return kVersion;
    }

    Variant displayAlerts(const Args &a)
    {
        check(u"Application.DisplayAlerts", a, 0, 0);
        return Variant::fromBool(m_displayAlerts);
    }

    void setDisplayAlerts(const Args &a, const Variant &v)
    {
        check(u"Application.DisplayAlerts", a, 0, 0);
        m_displayAlerts = v.toBool();
    }

    Variant visible(const Args &a)
    {
        check(u"Application.Visible", a, 0, 0);
        return Variant::fromBool(false); // an instance of this server is never shown
    }

    // Quitting an instance whose office has ended is not an error: there is nothing left to close.
    Variant quit(const Args &a)
    {
        if (m_session->hasQuit())
            checkAlive(*m_session, u"Application.Quit");
        expectArgs(u"Application.Quit", a, 0, 0);
        m_session->quit();
        return {};
    }

private:
    void check(QStringView member, const Args &a, size_t min, size_t max) const
    {
        checkAlive(*m_session, member);
        expectArgs(member, a, min, max);
    }

    SessionRef m_session;
    bool m_displayAlerts = true;
};

const ApplicationObject::Member ApplicationObject::kMembers[] = {
    {u"Workbooks", &ApplicationObject::workbooks, nullptr},
    {u"Version", &ApplicationObject::version, nullptr},
    {u"DisplayAlerts", &ApplicationObject::displayAlerts, &ApplicationObject::setDisplayAlerts},
    {u"Visible", &ApplicationObject::visible, nullptr},
    {u"Quit", &ApplicationObject::quit, nullptr},
};

} // namespace

ObjectRef createApplication(std::shared_ptr<backend::Session> session) { return std::make_shared<ApplicationObject>(std::move(session)); }

pid_t processId(const ObjectRef &application)
{
    auto *app = dynamic_cast<const ApplicationObject *>(application.get());
    return app ? app->processId() : 0;
}

} // namespace excel

ObjectRef createBuiltinExcelApplication() { return excel::createApplication(excel::startBuiltinSession()); }

#ifdef PANTRIMO_HAVE_LIBREOFFICE_EXCEL
ObjectRef createLibreOfficeExcelApplication(const lo::Options &options) { return excel::createApplication(lo::startSession(options)); }
#endif
