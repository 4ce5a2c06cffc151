// UNO headers first: Qt's keyword macros must not reach them.
#include <com/sun/star/beans/PropertyValue.hpp>
#include <com/sun/star/beans/XPropertySet.hpp>
#include <com/sun/star/bridge/UnoUrlResolver.hpp>
#include <com/sun/star/bridge/XUnoUrlResolver.hpp>
#include <com/sun/star/connection/NoConnectException.hpp>
#include <com/sun/star/container/XIndexAccess.hpp>
#include <com/sun/star/container/XNamed.hpp>
#include <com/sun/star/frame/Desktop.hpp>
#include <com/sun/star/frame/XController.hpp>
#include <com/sun/star/frame/XDesktop2.hpp>
#include <com/sun/star/frame/XModel.hpp>
#include <com/sun/star/frame/XStorable.hpp>
#include <com/sun/star/lang/DisposedException.hpp>
#include <com/sun/star/sheet/FormulaResult.hpp>
#include <com/sun/star/sheet/XCellRangeAddressable.hpp>
#include <com/sun/star/sheet/XSheetCellCursor.hpp>
#include <com/sun/star/sheet/XSpreadsheet.hpp>
#include <com/sun/star/sheet/XSpreadsheetDocument.hpp>
#include <com/sun/star/sheet/XSpreadsheetView.hpp>
#include <com/sun/star/sheet/XSpreadsheets.hpp>
#include <com/sun/star/sheet/XUsedAreaCursor.hpp>
#include <com/sun/star/table/CellContentType.hpp>
#include <com/sun/star/table/XCell.hpp>
#include <com/sun/star/table/XCellRange.hpp>
#include <com/sun/star/text/XText.hpp>
#include <com/sun/star/uno/XComponentContext.hpp>
#include <com/sun/star/util/XCloseable.hpp>
#include <com/sun/star/view/XSelectionSupplier.hpp>
#include <cppuhelper/bootstrap.hxx>
#include <rtl/bootstrap.hxx>

#include "excel/SaveAsArguments.h"
#include "files/Leftovers.h"

#include "LibreOfficeExcel.h"
#include "OfficeProcess.h"

#include <QClipboard>
#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHash>
#include <QImage>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QUrl>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cmath>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace css = com::sun::star;
using css::uno::Reference;
using rtl::OUString;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;
using automation::Args;
using automation::AutomationError;
using automation::ObjectRef;
using automation::Variant;

namespace lo {

namespace {

// The limits of the Excel 97-2003 sheet the workbooks are saved as.
constexpr int32_t kMaxRows = 65536;
constexpr int32_t kMaxColumns = 256;
constexpr int32_t kMaxTextLength = 32767;
// The caller picks the save format from this; 12 and later select format 56, which the
// "MS Excel 97" filter writes. LibreOffice's own version (7.x) would make a caller believe it
// talks to a spreadsheet program from before 2007.
const QString kVersion = QStringLiteral("16.0");
// soffice.bin leaves with this code after it has made a new profile, expecting its launcher
// to start it again.
constexpr int kRestartExitCode = 81;
constexpr int kMaxRestarts = 3;
constexpr auto kConnectRetry = std::chrono::milliseconds(100);
// Names that carry the owning program's process id, so leftovers of a killed program can be
// told from those of a running one.
const QString kProfilePrefix = QStringLiteral("pantrimo-office-");
const QString kPipePrefix = QStringLiteral("pantrimo_lo_");

OUString toOU(const QString &s) { return OUString(reinterpret_cast<const sal_Unicode *>(s.utf16()), s.size()); }
QString toQ(const OUString &s) { return QString::fromUtf16(reinterpret_cast<const char16_t *>(s.getStr()), s.getLength()); }
OUString fileUrl(const QString &path) { return toOU(QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded)); }

template<class T>
css::beans::PropertyValue property(const char *name, const T &value)
{
    css::beans::PropertyValue p;
    p.Name = OUString::createFromAscii(name);
    p.Value <<= value;
    return p;
}

template<class... P>
css::uno::Sequence<css::beans::PropertyValue> properties(const P &...p)
{
    const css::beans::PropertyValue all[] = {p...};
    return css::uno::Sequence<css::beans::PropertyValue>(all, sizeof...(P));
}

// The UNO runtime of this process, made once and kept to the end: tearing it down while
// proxies of a remote office may still exist is not worth the risk at exit.
Reference<css::uno::XComponentContext> localContext()
{
    static std::mutex mutex;
    static Reference<css::uno::XComponentContext> *context = nullptr;
    std::lock_guard lock(mutex);
    if (context)
        return *context;
    const QString program = QStringLiteral(PANTRIMO_LIBREOFFICE_PROGRAM);
    const OUString dir = fileUrl(program);
    try {
        rtl::Bootstrap::set(OUString("URE_INTERNAL_LIB_DIR"), dir);
        rtl::Bootstrap::set(OUString("UNO_TYPES"), dir + "/types.rdb " + dir + "/types/offapi.rdb");
        rtl::Bootstrap::set(OUString("UNO_SERVICES"), dir + "/services.rdb");
        context = new Reference<css::uno::XComponentContext>(cppu::defaultBootstrap_InitialComponentContext());
    } catch (const css::uno::Exception &e) {
        throw AutomationError(automation::kCannotCreateObject +
                              QStringLiteral(" (the UNO runtime from %1 did not start: %2)").arg(program, toQ(e.Message)));
    }
    return *context;
}

// An office that was killed cannot remove its pipes from /tmp: the one we named, and its
// single-instance pipe, named after the MD5 of its profile URL in UTF-16, one unpadded hex
// number per byte.
void unlinkSocket(const QString &path)
{
    const QByteArray native = QFile::encodeName(path);
    struct stat st {};
    if (::lstat(native.constData(), &st) == 0 && S_ISSOCK(st.st_mode) && st.st_uid == ::getuid())
        ::unlink(native.constData());
}

void removePipes(const QString &acceptPipe, const QString &profileUrl)
{
    const QByteArray utf16(reinterpret_cast<const char *>(profileUrl.utf16()), profileUrl.size() * 2);
    QString hash;
    for (const char byte : QCryptographicHash::hash(utf16, QCryptographicHash::Md5))
        hash += QString::number(quint8(byte), 16);
    for (const QString &name : {acceptPipe, QStringLiteral("SingleOfficeIPC_") + hash}) {
        if (!name.isEmpty() && !profileUrl.isEmpty())
            unlinkSocket(QStringLiteral("/tmp/OSL_PIPE_%1_%2").arg(::getuid()).arg(name));
    }
}

QString pipeNameFor(pid_t owner, unsigned serial)
{
    return QStringLiteral("%1%2_%3_%4")
        .arg(kPipePrefix)
        .arg(owner)
        .arg(serial)
        .arg(QRandomGenerator::global()->generate(), 8, 16, QLatin1Char('0'));
}

// A program that was killed leaves its offices' profiles and pipes behind (the offices die
// with it). Both carry the program's process id; whatever belongs to a process that no longer
// exists is removed by the next program that starts an office.
void sweepAfterEndedPrograms()
{
    // Only real folders of ours, named as we name profiles: a link planted in the shared
    // temporary folder under such a name is never followed.
    files::sweepAbandoned(QDir::tempPath(), kProfilePrefix, [](const QString &path) {
        removePipes(QString(), QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded));
    });
    static const QRegularExpression pipeOwner(QStringLiteral("^OSL_PIPE_\\d+_%1(\\d+)_").arg(kPipePrefix));
    for (const QString &entry : QDir(QStringLiteral("/tmp")).entryList({QStringLiteral("OSL_PIPE_%1_%2*").arg(::getuid()).arg(kPipePrefix)}, QDir::System)) {
        bool ok = false;
        const pid_t owner = pid_t(pipeOwner.match(entry).captured(1).toInt(&ok));
        if (ok && owner != ::getpid() && ::kill(owner, 0) != 0 && errno == ESRCH)
            unlinkSocket(QStringLiteral("/tmp/") + entry);
    }
}

// One open document and the sheet the caller works on.
struct Sheet {
    Reference<css::sheet::XSpreadsheet> sheet;
    // A cell fetched over the bridge costs a round trip; the caller writes the same sheet's
    // cells again and again through fresh Range objects.
    QHash<quint32, Reference<css::table::XCell>> cells;
};

struct Book {
    Reference<css::lang::XComponent> document;
    QString path;
    bool closed = false;
    // The active sheet changes only through the office's user interface, which no one sees.
    std::shared_ptr<Sheet> activeSheet;
};

class Office {
public:
    explicit Office(const Options &options)
        : options(options), profile(QDir::temp().filePath(QStringLiteral("%1%2-XXXXXX").arg(kProfilePrefix).arg(::getpid())))
    {
    }
    // An instance released without Quit (the start-up test does that) still ends its office.
    ~Office()
    {
        try {
            if (!quit && process && watchdog)
                shutDown();
        } catch (...) {
            // nothing may leave a destructor; the process is killed below in any case
        }
        books.clear();
        desktop.clear();
        context.clear();
        std::lock_guard lock(processMutex);
        if (process) {
            process->kill();
            removeLeftoverPipes();
        }
        process.reset();
        watchdog.reset();
    }

    Options options;
    QTemporaryDir profile;
    QString pipeName;
    QString profileUrl;
    std::mutex processMutex; // the watchdog kills whichever process is current
    std::unique_ptr<OfficeProcess> process;
    std::unique_ptr<Watchdog> watchdog;
    Reference<css::uno::XComponentContext> context;
    Reference<css::frame::XDesktop2> desktop;
    std::vector<std::shared_ptr<Book>> books;
    bool displayAlerts = true;
    bool quit = false;

    void spawn(const QString &binary, const QStringList &args)
    {
        auto next = std::make_unique<OfficeProcess>(binary, args);
        std::lock_guard lock(processMutex);
        process = std::move(next);
    }

    void killFromWatchdog()
    {
        std::lock_guard lock(processMutex);
        if (process)
            process->kill();
    }

    // Closes the documents and asks the office to end; kills it when it will not.
    void shutDown()
    {
        const auto forget = qScopeGuard([this] {
            for (const auto &book : books) {
                book->closed = true;
                book->activeSheet.reset();
                book->document.clear();
            }
            books.clear();
            desktop.clear();
            context.clear();
            quit = true;
        });
        bool terminated = false;
        if (!process->hasEnded() && desktop.is()) {
            try {
                // A hung office must not hold the caller longer than the quit deadline.
                remoteWithin(u"Application.Quit", options.quitTimeout, [&] {
                    for (const auto &book : books)
                        Reference<css::util::XCloseable>(book->document, UNO_QUERY_THROW)->close(true);
                    terminated = desktop->terminate();
                });
            } catch (const AutomationError &) {
                // The bridge may go away before terminate() answers: the process is what counts.
                terminated = true;
            }
        }
        if (!terminated || !process->waitForEnd(options.quitTimeout))
            process->kill();
        removeLeftoverPipes();
        profile.remove();
    }

    void removeLeftoverPipes() const
    {
        if (process && process->hasEnded())
            removePipes(pipeName, profileUrl);
    }

    void live(QStringView who) const
    {
        if (quit)
            throw AutomationError(QStringLiteral("%1: the Excel application has quit; its objects can no longer be used").arg(who));
        if (process->hasEnded())
            throw AutomationError(endedMessage(who));
    }

    // Runs one or more calls over the bridge under the call deadline, turning what the office
    // raises into automation errors.
    template<class F>
    auto remote(QStringView who, F &&f) -> decltype(f())
    {
        return remoteWithin(who, options.callTimeout, std::forward<F>(f));
    }

    template<class F>
    auto remoteWithin(QStringView who, std::chrono::milliseconds timeout, F &&f) -> decltype(f())
    {
        live(who);
        if (!armed++)
            armedTimeout = timeout;
        watchdog->arm(timeout);
        auto disarm = qScopeGuard([this] {
            --armed;
            watchdog->disarm();
        });
        try {
            return f();
        } catch (const css::lang::DisposedException &e) {
            throw translate(who, e, true);
        } catch (const css::uno::Exception &e) {
            throw translate(who, e, false);
        }
    }

private:
    int armed = 0;
    std::chrono::milliseconds armedTimeout{0}; // of the outermost call: the one the watchdog watches

    QString endedMessage(QStringView who) const
    {
        if (watchdog->fired())
            return QStringLiteral("%1: LibreOffice did not answer within %2 s and was ended")
                .arg(who)
                .arg(double(armedTimeout.count()) / 1000.0);
        return QStringLiteral("%1: the LibreOffice process has ended (%2)").arg(who, process->howItEnded());
    }

    AutomationError translate(QStringView who, const css::uno::Exception &e, bool disposed) const
    {
        // A bridge that went away means the process went away; give it a moment to be collected.
        if (watchdog->fired() || disposed || process->hasEnded()) {
            if (process->waitForEnd(std::chrono::milliseconds(2000)))
                return AutomationError(endedMessage(who));
        }
        return AutomationError(QStringLiteral("%1: %2").arg(who, toQ(e.Message)));
    }
};

// Settings of the private profile, in place before the office first reads it. No lock files:
// a killed or hung office would leave a stale ".~lock" beside the caller's workbook, and the
// next office to open it would refuse without a word.
void writeProfileSettings(const QString &profile)
{
    QDir(profile).mkpath(QStringLiteral("user"));
    QFile file(QDir(profile).filePath(QStringLiteral("user/registrymodifications.xcu")));
    if (!file.open(QIODevice::WriteOnly))
        return; // the office then runs with its defaults, locking included
    file.write(R"(<?xml version="1.0" encoding="UTF-8"?>
<oor:items xmlns:oor="http://openoffice.org/2001/registry" xmlns:xs="http://www.w3.org/2001/XMLSchema" xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance">
<item oor:path="/org.openoffice.Office.Common/Misc"><prop oor:name="UseLocking" oor:op="fuse"><value>false</value></prop></item>
</oor:items>
)");
}

std::shared_ptr<Office> startOffice(const Options &options)
{
    const QString binary = findOfficeBinary(options.officeProgram);
    if (binary.isEmpty())
        throw AutomationError(automation::kCannotCreateObject +
                              QStringLiteral(" (LibreOffice is not installed: no soffice.bin found%1)")
                                  .arg(options.officeProgram.isEmpty() ? QString() : QStringLiteral(" for ") + options.officeProgram));
    const Reference<css::uno::XComponentContext> local = localContext();

    sweepAfterEndedPrograms();
    auto office = std::make_shared<Office>(options);
    if (!office->profile.isValid())
        throw AutomationError(automation::kCannotCreateObject +
                              QStringLiteral(" (no private LibreOffice profile folder: %1)").arg(office->profile.errorString()));
    writeProfileSettings(office->profile.path());
    static std::atomic<unsigned> serial{0};
    const QString pipe = pipeNameFor(::getpid(), serial++);
    office->pipeName = pipe;
    office->profileUrl = QUrl::fromLocalFile(office->profile.path()).toString(QUrl::FullyEncoded);
    const QStringList args{QStringLiteral("--headless"),
                           QStringLiteral("--invisible"),
                           QStringLiteral("--norestore"),
                           QStringLiteral("--nologo"),
                           QStringLiteral("--nodefault"),
                           QStringLiteral("--nolockcheck"),
                           QStringLiteral("--accept=pipe,name=%1;urp;").arg(pipe),
                           QStringLiteral("-env:UserInstallation=") + office->profileUrl};
    const auto fail = [&](const QString &why) {
        return AutomationError(automation::kCannotCreateObject + QStringLiteral(" (LibreOffice %1)").arg(why));
    };
    const auto spawn = [&] {
        try {
            office->spawn(binary, args);
        } catch (const std::exception &e) {
            throw fail(QStringLiteral("could not be started: %1").arg(QString::fromLocal8Bit(e.what())));
        }
    };
    spawn();
    Office *raw = office.get();
    office->watchdog = std::make_unique<Watchdog>([raw] { raw->killFromWatchdog(); });

    // The whole start-up, a connect that hangs included, is bounded by the start deadline.
    office->watchdog->arm(options.startTimeout);
    auto disarm = qScopeGuard([raw] { raw->watchdog->disarm(); });
    const auto deadline = std::chrono::steady_clock::now() + options.startTimeout;
    const OUString url = "uno:pipe,name=" + toOU(pipe) + ";urp;StarOffice.ComponentContext";
    int restarts = 0;
    Reference<css::bridge::XUnoUrlResolver> resolver;
    try {
        resolver = css::bridge::UnoUrlResolver::create(local);
    } catch (const css::uno::Exception &e) {
        throw fail(QStringLiteral("cannot be reached: no UNO connector in this process (%1)").arg(toQ(e.Message)));
    }
    for (;;) {
        if (office->watchdog->fired())
            throw fail(QStringLiteral("did not start within %1 s").arg(double(options.startTimeout.count()) / 1000.0));
        if (office->process->hasEnded()) {
            if (office->process->exitCode() == kRestartExitCode && restarts++ < kMaxRestarts) {
                spawn();
                continue;
            }
            throw fail(QStringLiteral("ended during start-up (%1)").arg(office->process->howItEnded()));
        }
        try {
            office->context.set(resolver->resolve(url), UNO_QUERY_THROW);
            office->desktop = css::frame::Desktop::create(office->context);
            break;
        } catch (const css::connection::NoConnectException &) {
            // not listening yet
        } catch (const css::uno::Exception &e) {
            if (!office->process->hasEnded() && !office->watchdog->fired())
                throw fail(QStringLiteral("refused the connection: %1").arg(toQ(e.Message)));
        }
        if (std::chrono::steady_clock::now() >= deadline)
            throw fail(QStringLiteral("did not start within %1 s").arg(double(options.startTimeout.count()) / 1000.0));
        std::this_thread::sleep_for(kConnectRetry);
    }
    return office;
}

// ---- automation objects ----

class RangeObject : public automation::DispatchObject {
public:
    enum class Kind { Cells, Rows, Columns };
    struct Rect {
        int32_t firstRow, lastRow, firstCol, lastCol; // counted from 0, inclusive
    };

    RangeObject(std::shared_ptr<Office> office, std::shared_ptr<Book> book, std::shared_ptr<Sheet> sheet, Rect rect, Kind kind)
        : m_office(std::move(office)), m_book(std::move(book)), m_sheet(std::move(sheet)), m_rect(rect), m_kind(kind)
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
    void live(QStringView member) const
    {
        m_office->live(member);
        if (m_book->closed)
            throw AutomationError(QStringLiteral("Range.%1: the workbook %2 has been closed").arg(member, QFileInfo(m_book->path).fileName()));
    }
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
        Rect r = m_rect;
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
        return ObjectRef(std::make_shared<RangeObject>(m_office, m_book, m_sheet, r, Kind::Cells));
    }

    Variant part(QStringView member, Kind kind, const Args &a)
    {
        live(member);
        expectArgs(member, a, 0, 1);
        auto all = std::make_shared<RangeObject>(m_office, m_book, m_sheet, m_rect, kind);
        if (a.count() == 0)
            return ObjectRef(all);
        return all->item(a);
    }

    // Called inside remote().
    Reference<css::table::XCell> cell(int32_t row, int32_t column)
    {
        const quint32 key = quint32(row) << 8 | quint32(column);
        auto it = m_sheet->cells.constFind(key);
        if (it != m_sheet->cells.constEnd())
            return *it;
        Reference<css::table::XCell> c = m_sheet->sheet->getCellByPosition(column, row);
        m_sheet->cells.insert(key, c);
        return c;
    }

    Variant value(const Args &a)
    {
        live(u"Value");
        expectArgs(u"Value", a, 0, 1);
        if (m_rect.firstRow != m_rect.lastRow || m_rect.firstCol != m_rect.lastCol)
            throw AutomationError(QStringLiteral("Range.Value: reading a range of several cells is not supported"));
        return m_office->remote(u"Range.Value", [&]() -> Variant {
            const Reference<css::table::XCell> c = cell(m_rect.firstRow, m_rect.firstCol);
            bool number = false;
            switch (c->getType()) {
            case css::table::CellContentType_EMPTY:
                return {};
            case css::table::CellContentType_VALUE:
                number = true;
                break;
            case css::table::CellContentType_FORMULA: {
                const Reference<css::beans::XPropertySet> props(c, UNO_QUERY_THROW);
                number = props->getPropertyValue(OUString("FormulaResultType2")).get<sal_Int32>() == css::sheet::FormulaResult::VALUE;
                break;
            }
            default:
                break;
            }
            if (number)
                return c->getValue();
            return toQ(Reference<css::text::XText>(c, UNO_QUERY_THROW)->getString());
        });
    }

    void setValue(const Args &a, const Variant &v)
    {
        live(u"Value");
        expectArgs(u"Value", a, 0, 1);
        if (v.isObject())
            throw AutomationError(automation::kTypeMismatch + QStringLiteral(" (Range.Value cannot hold an object)"));
        OUString text;
        if (v.type() == Variant::Type::String) {
            const QString s = v.toString();
            if (s.size() > kMaxTextLength)
                throw AutomationError(QStringLiteral("Range.Value: a cell holds at most 32,767 characters; this text has %1").arg(s.size()));
            text = toOU(s);
        }
        if (v.isNumeric() && v.type() != Variant::Type::Bool && !std::isfinite(v.toDouble()))
            throw AutomationError(QStringLiteral("Range.Value: %1 is not a number a cell can hold").arg(v.toDouble()));
        m_office->remote(u"Range.Value", [&] {
            for (int32_t r = m_rect.firstRow; r <= m_rect.lastRow; ++r)
                for (int32_t col = m_rect.firstCol; col <= m_rect.lastCol; ++col) {
                    const Reference<css::table::XCell> c = cell(r, col);
                    switch (v.type()) {
                    case Variant::Type::Empty:
                        c->setFormula(OUString());
                        break;
                    case Variant::Type::Bool: // a spreadsheet's logical value is a formula's result here
                        c->setFormula(v.toBool() ? OUString("=TRUE()") : OUString("=FALSE()"));
                        break;
                    case Variant::Type::String:
                        // Not setFormula: a text such as "=1+1" or "12" must stay the text it is.
                        Reference<css::text::XText>(c, UNO_QUERY_THROW)->setString(text);
                        break;
                    default:
                        c->setValue(v.toDouble());
                        break;
                    }
                }
        });
    }

    Variant copyPicture(const Args &a)
    {
        live(u"CopyPicture");
        expectArgs(u"CopyPicture", a, 0, 2); // Appearance and Format: the picture is always as on screen
        if (!qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
            throw AutomationError(QStringLiteral("Range.CopyPicture: there is no clipboard without a running GUI application"));
        const QString file = m_office->profile.filePath(QStringLiteral("picture.png"));
        QFile::remove(file);
        m_office->remote(u"Range.CopyPicture", [&] {
            const Reference<css::frame::XModel> model(m_book->document, UNO_QUERY_THROW);
            // The PNG filter draws the current selection; a hidden document keeps its controller.
            const Reference<css::view::XSelectionSupplier> selection(model->getCurrentController(), UNO_QUERY_THROW);
            const Reference<css::table::XCellRange> range =
                m_sheet->sheet->getCellRangeByPosition(m_rect.firstCol, m_rect.firstRow, m_rect.lastCol, m_rect.lastRow);
            selection->select(css::uno::Any(range));
            const css::uno::Sequence<css::beans::PropertyValue> props = properties(property("FilterName", OUString("calc_png_Export")),
                                                                      property("SelectionOnly", true));
            Reference<css::frame::XStorable>(model, UNO_QUERY_THROW)->storeToURL(fileUrl(file), props);
        });
        const QImage picture(file);
        QFile::remove(file);
        if (picture.isNull())
            throw AutomationError(QStringLiteral("Range.CopyPicture: LibreOffice wrote no picture of the range"));
        QGuiApplication::clipboard()->setImage(picture);
        return {};
    }

    std::shared_ptr<Office> m_office;
    std::shared_ptr<Book> m_book;
    std::shared_ptr<Sheet> m_sheet;
    Rect m_rect;
    Kind m_kind;
};

class WorksheetObject : public automation::DispatchObject {
public:
    WorksheetObject(std::shared_ptr<Office> office, std::shared_ptr<Book> book, std::shared_ptr<Sheet> sheet)
        : m_office(std::move(office)), m_book(std::move(book)), m_sheet(std::move(sheet))
    {
        addGetter(QStringLiteral("Cells"), [this](const Args &a) { return cells(a); });
        addGetter(QStringLiteral("UsedRange"), [this](const Args &a) { return usedRange(a); });
        addGetter(QStringLiteral("Name"), [this](const Args &a) { return name(a); });
    }
    QString className() const override { return QStringLiteral("Worksheet"); }

private:
    void live(QStringView member, const Args &a, size_t min, size_t max) const
    {
        m_office->live(member);
        if (m_book->closed)
            throw AutomationError(QStringLiteral("Worksheet.%1: the workbook %2 has been closed").arg(member, QFileInfo(m_book->path).fileName()));
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
        const css::table::CellRangeAddress used = m_office->remote(u"Worksheet.UsedRange", [&] {
            const Reference<css::sheet::XSheetCellCursor> cursor = m_sheet->sheet->createCursor();
            const Reference<css::sheet::XUsedAreaCursor> area(cursor, UNO_QUERY_THROW);
            area->gotoStartOfUsedArea(false);
            area->gotoEndOfUsedArea(true);
            return Reference<css::sheet::XCellRangeAddressable>(cursor, UNO_QUERY_THROW)->getRangeAddress();
        });
        return range({used.StartRow, used.EndRow, used.StartColumn, used.EndColumn});
    }

    Variant name(const Args &a)
    {
        live(u"Name", a, 0, 0);
        return m_office->remote(u"Worksheet.Name",
                                [&] { return Variant(toQ(Reference<css::container::XNamed>(m_sheet->sheet, UNO_QUERY_THROW)->getName())); });
    }

    Variant range(RangeObject::Rect rect)
    {
        return ObjectRef(std::make_shared<RangeObject>(m_office, m_book, m_sheet, rect, RangeObject::Kind::Cells));
    }

    std::shared_ptr<Office> m_office;
    std::shared_ptr<Book> m_book;
    std::shared_ptr<Sheet> m_sheet;
};

class WorkbookObject : public automation::DispatchObject {
public:
    WorkbookObject(std::shared_ptr<Office> office, std::shared_ptr<Book> book) : m_office(std::move(office)), m_book(std::move(book))
    {
        addGetter(QStringLiteral("ActiveSheet"), [this](const Args &a) { return activeSheet(a); });
        addGetter(QStringLiteral("SaveAs"), [this](const Args &a) { return saveAs(a); });
        addGetter(QStringLiteral("Close"), [this](const Args &a) { return close(a); });
        addGetter(QStringLiteral("Name"), [this](const Args &a) { return live(u"Name", a, 0, 0), Variant(QFileInfo(m_book->path).fileName()); });
        addGetter(QStringLiteral("FullName"), [this](const Args &a) { return live(u"FullName", a, 0, 0), Variant(m_book->path); });
    }
    QString className() const override { return QStringLiteral("Workbook"); }

private:
    void live(QStringView member, const Args &a, size_t min, size_t max) const
    {
        m_office->live(member);
        if (m_book->closed)
            throw AutomationError(QStringLiteral("Workbook.%1: the workbook %2 has been closed").arg(member, QFileInfo(m_book->path).fileName()));
        expectArgs(member, a, min, max);
    }

    Variant activeSheet(const Args &a)
    {
        live(u"ActiveSheet", a, 0, 0);
        if (!m_book->activeSheet) {
            auto sheet = std::make_shared<Sheet>();
            sheet->sheet = m_office->remote(u"Workbook.ActiveSheet", [&] {
                const Reference<css::frame::XModel> model(m_book->document, UNO_QUERY_THROW);
                const Reference<css::sheet::XSpreadsheetView> view(model->getCurrentController(), UNO_QUERY);
                if (view.is())
                    return view->getActiveSheet();
                const Reference<css::sheet::XSpreadsheetDocument> doc(model, UNO_QUERY_THROW);
                const Reference<css::container::XIndexAccess> sheets(doc->getSheets(), UNO_QUERY_THROW);
                return Reference<css::sheet::XSpreadsheet>(sheets->getByIndex(0), UNO_QUERY_THROW);
            });
            m_book->activeSheet = std::move(sheet);
        }
        return ObjectRef(std::make_shared<WorksheetObject>(m_office, m_book, m_book->activeSheet));
    }

    Variant saveAs(const Args &a)
    {
        live(u"SaveAs", a, 0, 2);
        const QString absolute = excel::saveAsPath(a);
        m_office->remote(u"Workbook.SaveAs", [&] {
            const css::uno::Sequence<css::beans::PropertyValue> props = properties(property("FilterName", OUString("MS Excel 97")),
                                                                      property("Overwrite", true));
            Reference<css::frame::XStorable>(m_book->document, UNO_QUERY_THROW)->storeAsURL(fileUrl(absolute), props);
        });
        m_book->path = absolute;
        return {};
    }

    Variant close(const Args &a)
    {
        live(u"Close", a, 0, 3);
        // SaveChanges is not honoured: the caller saves with SaveAs first, and a close never prompts.
        const auto forget = qScopeGuard([&] {
            m_book->closed = true;
            m_book->activeSheet.reset();
            m_book->document.clear();
            std::erase(m_office->books, m_book);
        });
        m_office->remote(u"Workbook.Close", [&] { Reference<css::util::XCloseable>(m_book->document, UNO_QUERY_THROW)->close(true); });
        return {};
    }

    std::shared_ptr<Office> m_office;
    std::shared_ptr<Book> m_book;
};

class WorkbooksObject : public automation::DispatchObject {
public:
    explicit WorkbooksObject(std::shared_ptr<Office> office) : m_office(std::move(office))
    {
        addGetter(QStringLiteral("Open"), [this](const Args &a) { return open(a); });
        addGetter(QStringLiteral("Count"), [this](const Args &a) {
            m_office->live(u"Workbooks.Count");
            expectArgs(u"Count", a, 0, 0);
            return Variant(int32_t(m_office->books.size()));
        });
        addGetter(QStringLiteral("Item"), [this](const Args &a) { return item(a); });
        addGetter(QString(), [this](const Args &a) { return item(a); });
    }
    QString className() const override { return QStringLiteral("Workbooks"); }

    Variant item(const Args &a)
    {
        m_office->live(u"Workbooks.Item");
        expectArgs(u"Item", a, 1, 1);
        const int32_t i = a.at(0).toInt32();
        if (i < 1 || i > int32_t(m_office->books.size()))
            throw AutomationError(QStringLiteral("Workbooks.Item: index %1 is outside 1 to %2 (subscript out of range)")
                                      .arg(i)
                                      .arg(m_office->books.size()));
        return ObjectRef(std::make_shared<WorkbookObject>(m_office, m_office->books[size_t(i - 1)]));
    }

private:
    Variant open(const Args &a)
    {
        m_office->live(u"Workbooks.Open");
        expectArgs(u"Open", a, 0, 1);
        const QString path = a.at(0, u"Filename").toString();
        if (path.isEmpty())
            throw AutomationError(QStringLiteral("Workbooks.Open: the file name is empty"));
        const QFileInfo info(path);
        if (!info.isFile())
            throw AutomationError(QStringLiteral("Workbooks.Open: %1 could not be found").arg(path));
        auto book = std::make_shared<Book>();
        book->path = info.absoluteFilePath();
        book->document = m_office->remote(u"Workbooks.Open", [&] {
            // A template (.xlt) is opened as itself, not as a new document made from it, so that
            // SaveAs writes the filled template; no macro runs and no link is updated.
            const css::uno::Sequence<css::beans::PropertyValue> props = properties(
                property("Hidden", true), property("AsTemplate", false), property("MacroExecutionMode", sal_Int16(0)),
                property("UpdateDocMode", sal_Int16(0)));
            Reference<css::lang::XComponent> doc =
                m_office->desktop->loadComponentFromURL(fileUrl(book->path), OUString("_blank"), 0, props);
            if (!doc.is())
                throw AutomationError(QStringLiteral("Workbooks.Open: LibreOffice could not open %1").arg(path));
            if (!Reference<css::sheet::XSpreadsheetDocument>(doc, UNO_QUERY).is()) {
                if (const Reference<css::util::XCloseable> closeable{doc, UNO_QUERY}; closeable.is())
                    closeable->close(true);
                throw AutomationError(QStringLiteral("Workbooks.Open: %1 is not a workbook LibreOffice can open").arg(path));
            }
            return doc;
        });
        m_office->books.push_back(book);
        return ObjectRef(std::make_shared<WorkbookObject>(m_office, book));
    }

    std::shared_ptr<Office> m_office;
};

class ApplicationObject : public automation::DispatchObject {
public:
    explicit ApplicationObject(std::shared_ptr<Office> office) : m_office(std::move(office))
    {
        addGetter(QStringLiteral("Workbooks"), [this](const Args &a) { return workbooks(a); });
        addGetter(QStringLiteral("Version"), [this](const Args &a) { return noArgs(u"Version", a), Variant(kVersion); });
        addGetter(QStringLiteral("DisplayAlerts"),
                  [this](const Args &a) { return noArgs(u"DisplayAlerts", a), Variant::fromBool(m_office->displayAlerts); });
        addSetter(QStringLiteral("DisplayAlerts"), [this](const Args &a, const Variant &v) {
            noArgs(u"DisplayAlerts", a);
            m_office->displayAlerts = v.toBool();
        });
        // An instance of this server is never shown.
        addGetter(QStringLiteral("Visible"), [this](const Args &a) { return noArgs(u"Visible", a), Variant::fromBool(false); });
        addGetter(QStringLiteral("Quit"), [this](const Args &a) { return quit(a); });
    }
    QString className() const override { return QStringLiteral("Application"); }

    pid_t processId() const
    {
        if (m_office->quit || m_office->process->hasEnded())
            return 0;
        return m_office->process->pid();
    }

private:
    void noArgs(QStringView member, const Args &a) const
    {
        m_office->live(member);
        expectArgs(member, a, 0, 0);
    }

    Variant workbooks(const Args &a)
    {
        m_office->live(u"Workbooks");
        expectArgs(u"Workbooks", a, 0, 1);
        auto books = std::make_shared<WorkbooksObject>(m_office);
        if (a.count() == 1)
            return books->item(a);
        return ObjectRef(books);
    }

    Variant quit(const Args &a)
    {
        if (m_office->quit)
            throw AutomationError(QStringLiteral("Application.Quit: the Excel application has quit already"));
        expectArgs(u"Quit", a, 0, 0);
        m_office->shutDown();
        return {};
    }

    std::shared_ptr<Office> m_office;
};

} // namespace

Options optionsFromEnvironment()
{
    Options o;
    o.officeProgram = qEnvironmentVariable("PANTRIMO_SOFFICE");
    bool ok = false;
    const int timeout = qEnvironmentVariableIntValue("PANTRIMO_LIBREOFFICE_TIMEOUT_MS", &ok);
    if (ok && timeout > 0)
        o.callTimeout = std::chrono::milliseconds(timeout);
    return o;
}

QString findOfficeBinary(const QString &hint)
{
    QString program = hint;
    if (program.isEmpty()) {
        program = QStandardPaths::findExecutable(QStringLiteral("soffice"));
        if (program.isEmpty())
            program = QStringLiteral(PANTRIMO_LIBREOFFICE_PROGRAM "/soffice.bin");
    }
    QFileInfo info(program);
    if (info.isDir()) {
        info.setFile(QDir(info.filePath()).filePath(QStringLiteral("soffice.bin")));
    } else if (info.fileName() != QLatin1String("soffice.bin")) {
        // soffice and /usr/bin/soffice are launchers that keep the real process a grandchild
        // out of reach; the office's own program lies beside the launcher they lead to.
        const QString target = info.canonicalFilePath();
        if (target.isEmpty())
            return {};
        info.setFile(QFileInfo(target).dir().filePath(QStringLiteral("soffice.bin")));
    }
    return info.isFile() && info.isExecutable() ? info.absoluteFilePath() : QString();
}

pid_t officeProcessId(const ObjectRef &application)
{
    auto *app = dynamic_cast<const ApplicationObject *>(application.get());
    return app ? app->processId() : 0;
}

} // namespace lo

ObjectRef createLibreOfficeExcelApplication(const lo::Options &options)
{
    return std::make_shared<lo::ApplicationObject>(lo::startOffice(options));
}
