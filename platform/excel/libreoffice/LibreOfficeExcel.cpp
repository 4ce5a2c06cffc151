#include "platform/excel/libreoffice/LibreOfficeExcel.h"

#include "platform/excel/SaveAsArguments.h"

#include <QClipboard>
#include <QFileInfo>
#include <QGuiApplication>

using automation::Args;
using automation::AutomationError;
using automation::ObjectRef;
using automation::Variant;

namespace lo {

namespace {

// The limits of the Excel 97-2003 sheet the workbooks are saved as.
constexpr int32_t kMaxRows = 65536;
constexpr int32_t kMaxColumns = 256;
// The caller picks the save format from this; 12 and later select format 56, which the
// "MS Excel 97" filter writes. LibreOffice's own version (7.x) would make a caller believe it
// talks to a spreadsheet program from before 2007.
const QString kVersion = QStringLiteral("16.0");

using SessionRef = std::shared_ptr<Session>;
using DocumentRef = std::shared_ptr<Document>;

// The checks every member of a workbook's objects makes first.
void liveDocument(const Session &session, const Document &book, QStringView className, QStringView member)
{
    session.live(member);
    if (book.isClosed())
        throw AutomationError(QStringLiteral("%1.%2: the workbook %3 has been closed").arg(className, member, QFileInfo(book.path()).fileName()));
}

class RangeObject : public automation::DispatchObject {
public:
    enum class Kind { Cells, Rows, Columns };

    RangeObject(SessionRef session, DocumentRef book, CellRect rect, Kind kind)
        : m_session(std::move(session)), m_book(std::move(book)), m_rect(rect), m_kind(kind)
    {
        addGetter(QStringLiteral("Value"), [this](const Args &a) { return value(a); });
        addSetter(QStringLiteral("Value"), [this](const Args &a, const Variant &v) { setValue(a, v); });
        addGetter(QStringLiteral("Row"), [this](const Args &a) { return noArgs(u"Row", a), Variant(m_rect.firstRow + 1); });
        addGetter(QStringLiteral("Column"), [this](const Args &a) { return noArgs(u"Column", a), Variant(m_rect.firstCol + 1); });
        addGetter(QStringLiteral("Count"), [this](const Args &a) { return noArgs(u"Count", a), Variant(count()); });
        addGetter(QStringLiteral("Rows"), [this](const Args &a) { return part(u"Rows", Kind::Rows, a); });
        addGetter(QStringLiteral("Columns"), [this](const Args &a) { return part(u"Columns", Kind::Columns, a); });
        addGetter(QStringLiteral("Item"), [this](const Args &a) { return item(a); });
        addGetter(QString(), [this](const Args &a) { return item(a); }); // Rows(3)
        addGetter(QStringLiteral("CopyPicture"), [this](const Args &a) { return copyPicture(a); });
    }
    QString className() const override { return QStringLiteral("Range"); }

private:
    void live(QStringView member) const { liveDocument(*m_session, *m_book, u"Range", member); }
    void noArgs(QStringView member, const Args &a) const
    {
        live(member);
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

    Variant item(const Args &a)
    {
        live(u"Item");
        expectArgs(u"Item", a, 1, 1);
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
        return ObjectRef(std::make_shared<RangeObject>(m_session, m_book, r, Kind::Cells));
    }

    Variant part(QStringView member, Kind kind, const Args &a)
    {
        live(member);
        expectArgs(member, a, 0, 1);
        auto all = std::make_shared<RangeObject>(m_session, m_book, m_rect, kind);
        if (a.count() == 0)
            return ObjectRef(all);
        return all->item(a);
    }

    Variant value(const Args &a)
    {
        live(u"Value");
        expectArgs(u"Value", a, 0, 1);
        if (m_rect.firstRow != m_rect.lastRow || m_rect.firstCol != m_rect.lastCol)
            throw AutomationError(QStringLiteral("Range.Value: reading a range of several cells is not supported"));
        return m_book->read(u"Range.Value", m_rect.firstRow, m_rect.firstCol);
    }

    void setValue(const Args &a, const Variant &v)
    {
        live(u"Value");
        expectArgs(u"Value", a, 0, 1);
        for (int32_t r = m_rect.firstRow; r <= m_rect.lastRow; ++r)
            for (int32_t c = m_rect.firstCol; c <= m_rect.lastCol; ++c)
                m_book->write(r, c, v);
    }

    Variant copyPicture(const Args &a)
    {
        live(u"CopyPicture");
        expectArgs(u"CopyPicture", a, 0, 2); // Appearance and Format: the picture is always as on screen
        if (!qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
            throw AutomationError(QStringLiteral("Range.CopyPicture: there is no clipboard without a running GUI application"));
        const QImage picture = m_book->picture(u"Range.CopyPicture", m_rect);
        if (picture.isNull())
            throw AutomationError(QStringLiteral("Range.CopyPicture: LibreOffice wrote no picture of the range"));
        QGuiApplication::clipboard()->setImage(picture);
        return {};
    }

    SessionRef m_session;
    DocumentRef m_book;
    CellRect m_rect;
    Kind m_kind;
};

class WorksheetObject : public automation::DispatchObject {
public:
    WorksheetObject(SessionRef session, DocumentRef book) : m_session(std::move(session)), m_book(std::move(book))
    {
        addGetter(QStringLiteral("Cells"), [this](const Args &a) { return cells(a); });
        addGetter(QStringLiteral("UsedRange"), [this](const Args &a) { return usedRange(a); });
        addGetter(QStringLiteral("Name"), [this](const Args &a) { return live(u"Name", a, 0, 0), Variant(m_book->sheetName(u"Worksheet.Name")); });
    }
    QString className() const override { return QStringLiteral("Worksheet"); }

private:
    void live(QStringView member, const Args &a, size_t min, size_t max) const
    {
        liveDocument(*m_session, *m_book, u"Worksheet", member);
        expectArgs(member, a, min, max);
    }

    Variant cells(const Args &a)
    {
        live(u"Cells", a, 2, 2);
        const int32_t r = a.at(0).toInt32(), c = a.at(1).toInt32();
        if (r < 1 || r > kMaxRows)
            throw AutomationError(QStringLiteral("Worksheet.Cells: row %1 is outside the sheet (1 to %2)").arg(r).arg(kMaxRows));
        if (c < 1 || c > kMaxColumns)
            throw AutomationError(QStringLiteral("Worksheet.Cells: column %1 is outside the sheet (1 to %2)").arg(c).arg(kMaxColumns));
        return range({r - 1, r - 1, c - 1, c - 1});
    }

    Variant usedRange(const Args &a)
    {
        live(u"UsedRange", a, 0, 0);
        return range(m_book->usedRange(u"Worksheet.UsedRange"));
    }

    Variant range(CellRect rect) { return ObjectRef(std::make_shared<RangeObject>(m_session, m_book, rect, RangeObject::Kind::Cells)); }

    SessionRef m_session;
    DocumentRef m_book;
};

class WorkbookObject : public automation::DispatchObject {
public:
    WorkbookObject(SessionRef session, DocumentRef book) : m_session(std::move(session)), m_book(std::move(book))
    {
        addGetter(QStringLiteral("ActiveSheet"), [this](const Args &a) {
            live(u"ActiveSheet", a, 0, 0);
            return Variant(ObjectRef(std::make_shared<WorksheetObject>(m_session, m_book)));
        });
        addGetter(QStringLiteral("SaveAs"), [this](const Args &a) {
            live(u"SaveAs", a, 0, 2);
            m_book->saveAs(u"Workbook.SaveAs", excel::saveAsPath(a));
            return Variant();
        });
        addGetter(QStringLiteral("Close"), [this](const Args &a) {
            // SaveChanges is not honoured: the caller saves with SaveAs first, and a close never prompts.
            live(u"Close", a, 0, 3);
            m_book->close(u"Workbook.Close");
            return Variant();
        });
        addGetter(QStringLiteral("Name"), [this](const Args &a) { return live(u"Name", a, 0, 0), Variant(QFileInfo(m_book->path()).fileName()); });
        addGetter(QStringLiteral("FullName"), [this](const Args &a) { return live(u"FullName", a, 0, 0), Variant(m_book->path()); });
    }
    QString className() const override { return QStringLiteral("Workbook"); }

private:
    void live(QStringView member, const Args &a, size_t min, size_t max) const
    {
        liveDocument(*m_session, *m_book, u"Workbook", member);
        expectArgs(member, a, min, max);
    }

    SessionRef m_session;
    DocumentRef m_book;
};

class WorkbooksObject : public automation::DispatchObject {
public:
    explicit WorkbooksObject(SessionRef session) : m_session(std::move(session))
    {
        addGetter(QStringLiteral("Open"), [this](const Args &a) { return open(a); });
        addGetter(QStringLiteral("Count"), [this](const Args &a) {
            m_session->live(u"Workbooks.Count");
            expectArgs(u"Count", a, 0, 0);
            return Variant(int32_t(m_session->documents().size()));
        });
        addGetter(QStringLiteral("Item"), [this](const Args &a) { return item(a); });
        addGetter(QString(), [this](const Args &a) { return item(a); });
    }
    QString className() const override { return QStringLiteral("Workbooks"); }

    Variant item(const Args &a)
    {
        m_session->live(u"Workbooks.Item");
        expectArgs(u"Item", a, 1, 1);
        const int32_t i = a.at(0).toInt32();
        const auto books = m_session->documents();
        if (i < 1 || i > int32_t(books.size()))
            throw AutomationError(QStringLiteral("Workbooks.Item: index %1 is outside 1 to %2 (subscript out of range)").arg(i).arg(books.size()));
        return ObjectRef(std::make_shared<WorkbookObject>(m_session, books[size_t(i - 1)]));
    }

private:
    Variant open(const Args &a)
    {
        m_session->live(u"Workbooks.Open");
        expectArgs(u"Open", a, 0, 1);
        const QString path = a.at(0, u"Filename").toString();
        if (path.isEmpty())
            throw AutomationError(QStringLiteral("Workbooks.Open: the file name is empty"));
        return ObjectRef(std::make_shared<WorkbookObject>(m_session, m_session->open(u"Workbooks.Open", path)));
    }

    SessionRef m_session;
};

class ApplicationObject : public automation::DispatchObject {
public:
    explicit ApplicationObject(SessionRef session) : m_session(std::move(session))
    {
        addGetter(QStringLiteral("Workbooks"), [this](const Args &a) { return workbooks(a); });
        addGetter(QStringLiteral("Version"), [this](const Args &a) { return noArgs(u"Version", a), Variant(kVersion); });
        addGetter(QStringLiteral("DisplayAlerts"), [this](const Args &a) { return noArgs(u"DisplayAlerts", a), Variant::fromBool(m_displayAlerts); });
        addSetter(QStringLiteral("DisplayAlerts"), [this](const Args &a, const Variant &v) {
            noArgs(u"DisplayAlerts", a);
            m_displayAlerts = v.toBool();
        });
        // An instance of this server is never shown.
        addGetter(QStringLiteral("Visible"), [this](const Args &a) { return noArgs(u"Visible", a), Variant::fromBool(false); });
        addGetter(QStringLiteral("Quit"), [this](const Args &a) {
            if (m_session->hasQuit())
                throw AutomationError(QStringLiteral("Application.Quit: the Excel application has quit already"));
            expectArgs(u"Quit", a, 0, 0);
            m_session->quit();
            return Variant();
        });
    }
    QString className() const override { return QStringLiteral("Application"); }

    pid_t processId() const { return m_session->processId(); }

private:
    void noArgs(QStringView member, const Args &a) const
    {
        m_session->live(member);
        expectArgs(member, a, 0, 0);
    }

    Variant workbooks(const Args &a)
    {
        m_session->live(u"Workbooks");
        expectArgs(u"Workbooks", a, 0, 1);
        auto books = std::make_shared<WorkbooksObject>(m_session);
        if (a.count() == 1)
            return books->item(a);
        return ObjectRef(books);
    }

    SessionRef m_session;
    bool m_displayAlerts = true;
};

} // namespace

pid_t officeProcessId(const ObjectRef &application)
{
    auto *app = dynamic_cast<const ApplicationObject *>(application.get());
    return app ? app->processId() : 0;
}

} // namespace lo

ObjectRef createLibreOfficeExcelApplication(const lo::Options &options)
{
    return std::make_shared<lo::ApplicationObject>(lo::Session::start(options));
}
