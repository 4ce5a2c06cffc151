#include "platform/excel/com/ComExcel.h"

#include "platform/excel/com/ComApartment.h"
#include "platform/excel/com/RemoteObject.h"
#include "platform/facts/Environment.h"
#include "platform/render/Clipboard.h"

#include <QDir>
#include <QFileInfo>

#include <algorithm>

using automation::AutomationError;
using automation::ObjectRef;
using automation::Variant;
using backend::CellRect;

namespace com {

namespace {

const QString kExcelProgId = QStringLiteral("Excel.Application");

// Excel's codes for Excel 97-2003 (version 12 on) and the normal format before it; CopyPicture's
// xlScreen and xlBitmap: without them Excel puts a metafile on the clipboard, which a bitmap
// reader cannot take.
constexpr int32_t kXlExcel8 = 56;
constexpr int32_t kXlNormal = -4143;
constexpr int32_t kXlScreen = 1;
constexpr int32_t kXlBitmap = 2;
constexpr int kFirstVersionWithExcel8 = 12;

using RemoteRef = std::shared_ptr<RemoteObject>;

RemoteRef remote(const Variant &v)
{
    auto object = std::dynamic_pointer_cast<RemoteObject>(automation::requireObject(v));
    if (!object)
        throw AutomationError(automation::kObjectRequired);
    return object;
}

// The major number of a version text such as "16.0", whatever the locale's decimal separator.
int majorVersion(const QString &text)
{
    bool ok = false;
    const int major = text.section(QLatin1Char('.'), 0, 0).trimmed().toInt(&ok);
    return ok ? major : 0;
}

// What every step says once the instance is found gone, led by the member that found it.
AutomationError serverEnded(QStringView who, const Link &link)
{
    return AutomationError(QStringLiteral("%1: the spreadsheet server has ended (%2); the next run starts a new one")
                               .arg(who, link.endedReason));
}

class ComDocument final : public backend::Document {
public:
    ComDocument(std::shared_ptr<Link> link, RemoteRef book, QString path, int32_t saveFormat)
        : m_link(std::move(link)), m_book(std::move(book)), m_path(std::move(path)), m_saveFormat(saveFormat)
    {
    }

    QString path() const override { return m_path; }
    bool isClosed() const override { return !m_book; }

    int activeSheet(QStringView who) override
    {
        return run(who, [&] {
            const QString name = remote(m_book->get(u"ActiveSheet"))->get(u"Name").toString();
            const std::vector<QString> &names = sheetNames();
            const auto it = std::find(names.begin(), names.end(), name);
            if (it == names.end())
                throw AutomationError(QStringLiteral("%1: the active sheet \"%2\" is not a worksheet").arg(who, name));
            return int(it - names.begin());
        });
    }

    std::vector<int> worksheets(QStringView who) override
    {
        return run(who, [&] {
            std::vector<int> all(sheetNames().size());
            for (size_t i = 0; i < all.size(); ++i)
                all[i] = int(i);
            return all;
        });
    }

    QString sheetName(QStringView who, int sheet) override
    {
        return run(who, [&] { return sheetNames().at(size_t(sheet)); });
    }

    Variant read(QStringView who, int sheet, int32_t row, int32_t column) override
    {
        return run(who, [&] { return cell(sheet, row, column)->get(u"Value"); });
    }

    void write(QStringView who, int sheet, const CellRect &range, const Variant &value) override
    {
        run(who, [&] {
            for (int32_t r = range.firstRow; r <= range.lastRow; ++r)
                for (int32_t c = range.firstCol; c <= range.lastCol; ++c)
                    cell(sheet, r, c)->put(u"Value", value);
            return 0;
        });
    }

    CellRect usedRange(QStringView who, int sheet) override
    {
        return run(who, [&] {
            RemoteRef used = remote(worksheet(sheet)->get(u"UsedRange"));
            CellRect rect;
            rect.firstRow = used->get(u"Row").toInt32() - 1;
            rect.firstCol = used->get(u"Column").toInt32() - 1;
            rect.lastRow = rect.firstRow + remote(used->get(u"Rows"))->get(u"Count").toInt32() - 1;
            rect.lastCol = rect.firstCol + remote(used->get(u"Columns"))->get(u"Count").toInt32() - 1;
            return rect;
        });
    }

    void saveAs(QStringView who, const QString &path) override
    {
        run(who, [&] {
            m_book->call(u"SaveAs", {QDir::toNativeSeparators(path)}, {{QStringLiteral("FileFormat"), Variant(m_saveFormat)}});
            m_path = path;
            return 0;
        });
    }

    void copyPicture(QStringView who, int sheet, const CellRect &range) override
    {
        run(who, [&] {
            RemoteRef target;
            if (range.firstRow == range.lastRow && range.firstCol == range.lastCol)
                target = cell(sheet, range.firstRow, range.firstCol);
            else if (range == usedRange(who, sheet))
                target = remote(worksheet(sheet)->get(u"UsedRange"));
            else
                target = remote(worksheet(sheet)->call(u"Range", {Variant(ObjectRef(cell(sheet, range.firstRow, range.firstCol))),
                                                                   Variant(ObjectRef(cell(sheet, range.lastRow, range.lastCol)))}));
            target->call(u"CopyPicture", {Variant(kXlScreen), Variant(kXlBitmap)});
            return 0;
        });
    }

    void close(QStringView who) override
    {
        run(who, [&] {
            m_book->call(u"Close", {Variant::fromBool(false)}); // SaveChanges:=False
            return 0;
        });
        release();
    }

    // Lets go of every object of the workbook, so that nothing of ours keeps the server alive.
    void release()
    {
        m_sheets.clear();
        m_book.reset();
    }

private:
    // Raised failures keep the server's words; a server found gone is named at the step (who).
    template<class F>
    auto run(QStringView who, F f) -> decltype(f())
    {
        if (!m_book)
            throw AutomationError(QStringLiteral("%1: the workbook has been closed").arg(who));
        try {
            return f();
        } catch (const AutomationError &) {
            if (m_link->ended)
                throw serverEnded(who, *m_link);
            throw;
        }
    }

    // The worksheets' names in their order, read once: nothing here adds, removes or renames one.
    const std::vector<QString> &sheetNames()
    {
        if (m_sheets.empty()) {
            RemoteRef sheets = remote(m_book->get(u"Worksheets"));
            const int32_t count = sheets->get(u"Count").toInt32();
            for (int32_t i = 1; i <= count; ++i) {
                RemoteRef sheet = remote(sheets->call(u"Item", {Variant(i)}));
                m_names.push_back(sheet->get(u"Name").toString());
                m_sheets.push_back(sheet);
            }
        }
        return m_names;
    }

    const RemoteRef &worksheet(int sheet)
    {
        sheetNames();
        return m_sheets.at(size_t(sheet));
    }

    RemoteRef cell(int sheet, int32_t row, int32_t column)
    {
        return remote(worksheet(sheet)->call(u"Cells", {Variant(row + 1), Variant(column + 1)}));
    }

    std::shared_ptr<Link> m_link;
    RemoteRef m_book; // null once closed
    QString m_path;
    int32_t m_saveFormat;
    std::vector<QString> m_names;
    std::vector<RemoteRef> m_sheets;
};

class ComSession final : public backend::Session {
public:
    ComSession(RemoteRef application, std::shared_ptr<Link> link) : m_app(std::move(application)), m_link(std::move(link))
    {
        // Excel started for automation is hidden already; one started before us and handed out
        // could be shown, and only a hidden one may stay silent.
        if (m_app->get(u"Visible").toBool())
            m_app->put(u"Visible", Variant::fromBool(false));
        m_app->put(u"DisplayAlerts", Variant::fromBool(false));
        m_saveFormat = majorVersion(m_app->get(u"Version").toString()) >= kFirstVersionWithExcel8 ? kXlExcel8 : kXlNormal;
    }

    ~ComSession() override
    {
        // The start-up test releases an instance without quitting it: let Excel end now rather
        // than keep a workbook no one can reach.
        if (!m_quit) {
            try {
                quit();
            } catch (...) {
            }
        }
    }

    void checkRunning(QStringView who) const override
    {
        if (m_link->ended)
            throw serverEnded(who, *m_link);
    }

    std::shared_ptr<backend::Document> open(QStringView who, const QString &path) override
    {
        checkRunning(who);
        const QString absolute = QFileInfo(path).absoluteFilePath();
        try {
            RemoteRef book = remote(remote(m_app->get(u"Workbooks"))->call(u"Open", {QDir::toNativeSeparators(absolute)}));
            auto document = std::make_shared<ComDocument>(m_link, std::move(book), absolute, m_saveFormat);
            m_documents.push_back(document);
            return document;
        } catch (const AutomationError &) {
            if (m_link->ended)
                throw serverEnded(who, *m_link);
            throw;
        }
    }

    std::vector<std::shared_ptr<backend::Document>> documents() const override
    {
        std::vector<std::shared_ptr<backend::Document>> open;
        for (const auto &d : m_documents)
            if (!d->isClosed())
                open.push_back(d);
        return open;
    }

    void quit() override
    {
        m_quit = true;
        for (const auto &d : m_documents)
            d->release();
        m_documents.clear();
        if (!m_link->ended) {
            try {
                m_app->call(u"Quit");
            } catch (const AutomationError &) {
                if (!m_link->ended) {
                    m_app->release();
                    throw;
                }
            }
        }
        m_app->release();
    }

    bool hasQuit() const override { return m_quit; }
    // Excel's process is COM's to know; the objects above need it only for the servers they start.
    pid_t processId() const override { return 0; }

private:
    RemoteRef m_app;
    std::shared_ptr<Link> m_link;
    int32_t m_saveFormat = kXlExcel8;
    std::vector<std::shared_ptr<ComDocument>> m_documents;
    bool m_quit = false;
};

} // namespace

QString excelProgId()
{
    const QString overridden = qEnvironmentVariable(facts::env::kExcelProgId).trimmed();
    return overridden.isEmpty() ? kExcelProgId : overridden;
}

bool isRegistered(const QString &progId)
{
    enterApartment();
    CLSID clsid;
    return SUCCEEDED(CLSIDFromProgID(reinterpret_cast<LPCOLESTR>(progId.utf16()), &clsid));
}

std::shared_ptr<backend::Session> startComSession(const QString &progId)
{
    enterApartment();
    CLSID clsid;
    HRESULT hr = CLSIDFromProgID(reinterpret_cast<LPCOLESTR>(progId.utf16()), &clsid);
    if (FAILED(hr))
        throw AutomationError(automation::kCannotCreateObject + QStringLiteral(" (%1 is not registered on this computer: %2)")
                                                                     .arg(progId, describeResult(hr)));
    ComRef<IDispatch> app;
    hr = CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IDispatch, reinterpret_cast<void **>(app.out()));
    if (FAILED(hr))
        throw AutomationError(automation::kCannotCreateObject + QStringLiteral(" (%1 did not start: %2)").arg(progId, describeResult(hr)));
    render::acceptUnmarkedPictures();
    auto link = std::make_shared<Link>();
    return std::make_shared<ComSession>(std::make_shared<RemoteObject>(std::move(app), link), link);
}

} // namespace com
