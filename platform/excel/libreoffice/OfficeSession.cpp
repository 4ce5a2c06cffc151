// UNO headers first: Qt's keyword macros must not reach them.
#include <com/sun/star/beans/PropertyValue.hpp>
#include "platform/facts/Environment.h"
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
#include <com/sun/star/sheet/XCellRangeData.hpp>
#include <com/sun/star/sheet/XSheetCellCursor.hpp>
#include <com/sun/star/sheet/XSpreadsheet.hpp>
#include <com/sun/star/sheet/XSpreadsheetDocument.hpp>
#include <com/sun/star/sheet/XSpreadsheetView.hpp>
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

#include "platform/automation/AutomationError.h"
#include "platform/files/Leftovers.h"
#include "platform/render/Clipboard.h"

#include "platform/excel/libreoffice/OfficeProcess.h"
#include "platform/excel/libreoffice/OfficeProfile.h"
#include "platform/excel/libreoffice/OfficeSession.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImage>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QUrl>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <map>
#include <mutex>
#include <optional>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

namespace css = com::sun::star;
using css::uno::Reference;
using rtl::OUString;
using css::uno::UNO_QUERY;
using css::uno::UNO_QUERY_THROW;
using automation::AutomationError;
using automation::Variant;
using backend::CellRect;

namespace lo {

namespace {

// soffice.bin leaves with this code after it has made a new profile, expecting its launcher
// to start it again.
constexpr int kRestartExitCode = 81;
constexpr int kMaxRestarts = 3;
constexpr auto kConnectRetry = std::chrono::milliseconds(20);
// Names that carry the owning program's process id, so leftovers of a killed program can be
// told from those of a running one.
const QString kWorkPrefix = QStringLiteral("pantrimo-office-");
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
        .arg(QRandomGenerator::system()->generate64(), 16, 16, QLatin1Char('0'));
}

// The URL the office hashes for its single-instance pipe: it resolves links first.
QString pipeUrlOf(const QString &profile)
{
    const QString real = QFileInfo(profile).canonicalFilePath();
    return QUrl::fromLocalFile(real.isEmpty() ? profile : real).toString(QUrl::FullyEncoded);
}

// A pipe of that name in /tmp that is not a socket of this user's: the office would hand
// itself over to whoever made it, or fail to start at all.
bool pipeTakenByAnother(const QString &profileUrl)
{
    const QByteArray utf16(reinterpret_cast<const char *>(profileUrl.utf16()), profileUrl.size() * 2);
    QString hash;
    for (const char byte : QCryptographicHash::hash(utf16, QCryptographicHash::Md5))
        hash += QString::number(quint8(byte), 16);
    struct stat st {};
    const QByteArray path = QFile::encodeName(QStringLiteral("/tmp/OSL_PIPE_%1_SingleOfficeIPC_%2").arg(::getuid()).arg(hash));
    return ::lstat(path.constData(), &st) == 0 && (!S_ISSOCK(st.st_mode) || st.st_uid != ::getuid());
}

// A program that was killed leaves its office's private folder and pipes behind (the office
// dies with it). Both carry the program's process id; whatever belongs to a process that no
// longer exists is removed by the next program that starts an office.
void sweepAfterEndedPrograms()
{
    // Only real folders of ours, named as we name them: a link planted in the shared
    // temporary folder under such a name is never followed.
    files::sweepAbandoned(QDir::tempPath(), kWorkPrefix, [](const QString &path) {
        removePipes(QString(), QUrl::fromLocalFile(path).toString(QUrl::FullyEncoded));
        for (const QString &profile : QDir(path).entryList({QStringLiteral("profile-*")}, QDir::Dirs | QDir::NoSymLinks))
            removePipes(QString(), QUrl::fromLocalFile(QDir(path).filePath(profile)).toString(QUrl::FullyEncoded));
    });
    static const QRegularExpression pipeOwner(QStringLiteral("^OSL_PIPE_\\d+_%1(\\d+)_").arg(kPipePrefix));
    for (const QString &entry : QDir(QStringLiteral("/tmp")).entryList({QStringLiteral("OSL_PIPE_%1_%2*").arg(::getuid()).arg(kPipePrefix)}, QDir::System)) {
        bool ok = false;
        const pid_t owner = pid_t(pipeOwner.match(entry).captured(1).toInt(&ok));
        if (ok && owner != ::getpid() && ::kill(owner, 0) != 0 && errno == ESRCH)
            unlinkSocket(QStringLiteral("/tmp/") + entry);
    }
}

AutomationError cannotStart(const QString &why)
{
    return AutomationError(automation::kCannotCreateObject + QStringLiteral(" (LibreOffice %1)").arg(why));
}

// ---- the office process, its bridge and the call deadline ----

class Office {
public:
    Office(const Options &options, QString binary) : options(options), binary(std::move(binary)) {}
    ~Office() { end(); }

    Office(const Office &) = delete;
    Office &operator=(const Office &) = delete;

    const Options options; // of the session that started it: the start and end deadlines
    const QString binary;
    std::unique_ptr<OfficeProfile> profile;
    QString profileUrl;
    QString pipeName;
    std::unique_ptr<Watchdog> watchdog;
    Reference<css::uno::XComponentContext> context;
    Reference<css::frame::XDesktop2> desktop;

    void start();
    bool startTimedOut = false; // start() gave up at its deadline

    pid_t pid() const { return process ? process->pid() : 0; }

    // True once the process has ended; what it held (its pipes, the profile and its lock) is
    // let go the first time that is seen, so a new office can have them at once.
    bool hasEnded()
    {
        if (process && !process->hasEnded())
            return false;
        letGo();
        return true;
    }

    void live(QStringView who)
    {
        if (hasEnded())
            throw AutomationError(endedMessage(who));
    }

    // Runs calls over the bridge under a deadline, turning what the office raises into
    // automation errors. Nested calls run under the outermost one's deadline.
    template<class F>
    auto remote(QStringView who, std::chrono::milliseconds timeout, F &&f) -> decltype(f())
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

    // A bridge that went away means the process went away; give it a moment to be collected.
    bool endedAfterFailure(bool disposed)
    {
        if (watchdog->fired() || disposed || hasEnded())
            return process->waitForEnd(std::chrono::milliseconds(2000)) && hasEnded();
        return false;
    }

    // Whether an office kept warm still answers; one that does not is ended.
    bool answers(std::chrono::milliseconds timeout)
    {
        try {
            remote(u"Excel.Application", timeout, [&] { desktop->getCurrentComponent(); });
            return true;
        } catch (const AutomationError &) {
            end();
            return false;
        }
    }

    // Asks the office to end within the quit deadline, then makes sure of it.
    void end()
    {
        if (!process)
            return;
        if (!process->hasEnded() && desktop.is() && watchdog && !watchdog->fired()) {
            bool terminated = false;
            try {
                remote(u"LibreOffice", options.quitTimeout, [&] { terminated = desktop->terminate(); });
            } catch (const AutomationError &) {
                terminated = true; // the bridge may go before terminate() answers: the process is what counts
            }
            if (!terminated || !process->waitForEnd(options.quitTimeout))
                kill();
        } else {
            kill();
        }
        desktop.clear();
        context.clear();
        hasEnded();
    }

    void kill()
    {
        std::lock_guard lock(processMutex);
        if (process)
            process->kill();
    }

private:
    std::mutex processMutex; // the watchdog kills whichever process is current
    std::unique_ptr<OfficeProcess> process;
    int armed = 0;
    std::chrono::milliseconds armedTimeout{0}; // of the outermost call: the one the watchdog watches
    bool letGoDone = false;

    void spawn(const QStringList &args)
    {
        auto next = std::make_unique<OfficeProcess>(binary, args, profile->lockFd(),
                                                    QStringList{QStringLiteral("TMPDIR=") + profile->temporaryFolder()});
        std::lock_guard lock(processMutex);
        process = std::move(next);
    }

    void letGo()
    {
        if (letGoDone || !process)
            return;
        letGoDone = true;
        removePipes(pipeName, profileUrl);
        profile.reset();
    }

    QString endedMessage(QStringView who) const
    {
        if (watchdog && watchdog->fired())
            return QStringLiteral("%1: LibreOffice did not answer within %2 s and was ended")
                .arg(who)
                .arg(double(armedTimeout.count()) / 1000.0);
        return QStringLiteral("%1: the LibreOffice process has ended (%2)").arg(who, process ? process->howItEnded() : QStringLiteral("never started"));
    }

    AutomationError translate(QStringView who, const css::uno::Exception &e, bool disposed)
    {
        if (endedAfterFailure(disposed))
            return AutomationError(endedMessage(who));
        return AutomationError(QStringLiteral("%1: %2").arg(who, toQ(e.Message)));
    }
};

void Office::start()
{
    const Reference<css::uno::XComponentContext> local = localContext();
    sweepAfterEndedPrograms();
    try {
        profile = OfficeProfile::acquire(binary);
        // No office of ours runs on this profile now (we hold it): a single-instance pipe of
        // a killed one would only mislead the next.
        removePipes(QString(), pipeUrlOf(profile->path()));
        // The kept profile's path can be worked out by others, and so the name of its pipe:
        // one made first by someone else is not ours to remove, so a private profile serves.
        if (pipeTakenByAnother(pipeUrlOf(profile->path()))) {
            profile.reset();
            profile = OfficeProfile::acquire(binary, true);
        }
    } catch (const std::exception &e) {
        throw cannotStart(QStringLiteral("has no profile folder: %1").arg(QString::fromLocal8Bit(e.what())));
    }
    profileUrl = pipeUrlOf(profile->path());
    static std::atomic<unsigned> serial{0};
    pipeName = pipeNameFor(::getpid(), serial++);
    const QStringList args{QStringLiteral("--headless"),
                           QStringLiteral("--invisible"),
                           QStringLiteral("--norestore"),
                           QStringLiteral("--nologo"),
                           QStringLiteral("--nodefault"),
                           QStringLiteral("--nolockcheck"),
                           QStringLiteral("--accept=pipe,name=%1;urp;").arg(pipeName),
                           QStringLiteral("-env:UserInstallation=") + profile->url()};
    const auto launch = [&] {
        try {
            spawn(args);
        } catch (const std::exception &e) {
            throw cannotStart(QStringLiteral("could not be started: %1").arg(QString::fromLocal8Bit(e.what())));
        }
    };
    launch();
    watchdog = std::make_unique<Watchdog>([this] { kill(); });

    // The whole start-up, a connect that hangs included, is bounded by the start deadline.
    watchdog->arm(options.startTimeout);
    auto disarm = qScopeGuard([this] { watchdog->disarm(); });
    const auto deadline = std::chrono::steady_clock::now() + options.startTimeout;
    const QString tooLong = QStringLiteral("did not start within %1 s").arg(double(options.startTimeout.count()) / 1000.0);
    const auto failed = [&](const QString &why) {
        // Whatever the cause, the kept profile is not trusted again: the next start makes it anew.
        if (profile)
            profile->rebuild();
        return cannotStart(why);
    };
    const OUString url = "uno:pipe,name=" + toOU(pipeName) + ";urp;StarOffice.ComponentContext";
    int restarts = 0;
    bool rebuilt = false;
    Reference<css::bridge::XUnoUrlResolver> resolver;
    try {
        resolver = css::bridge::UnoUrlResolver::create(local);
    } catch (const css::uno::Exception &e) {
        throw cannotStart(QStringLiteral("cannot be reached: no UNO connector in this process (%1)").arg(toQ(e.Message)));
    }
    for (;;) {
        if (watchdog->fired()) {
            startTimedOut = true;
            throw failed(tooLong);
        }
        if (process->hasEnded()) {
            if (process->exitCode() == kRestartExitCode && restarts++ < kMaxRestarts) {
                launch();
                continue;
            }
            // A kept profile the office will not start with is made again, once.
            if (!rebuilt && profile->isWarm() && profile->rebuild()) {
                rebuilt = true;
                launch();
                continue;
            }
            throw failed(QStringLiteral("ended during start-up (%1)").arg(process->howItEnded()));
        }
        try {
            context.set(resolver->resolve(url), UNO_QUERY_THROW);
            desktop = css::frame::Desktop::create(context);
            break;
        } catch (const css::connection::NoConnectException &) {
            // not listening yet
        } catch (const css::uno::Exception &e) {
            if (!process->hasEnded() && !watchdog->fired())
                throw failed(QStringLiteral("refused the connection: %1").arg(toQ(e.Message)));
        }
        if (std::chrono::steady_clock::now() >= deadline) {
            startTimedOut = true;
            throw failed(tooLong);
        }
        std::this_thread::sleep_for(kConnectRetry);
    }
    profile->markStarted();
}

// The program's office: one at a time, kept until the program ends. Never destroyed with the
// other statics: a bridge torn down that late could hang the exit; an office still running
// then dies with the program.
std::mutex g_officeMutex;
std::shared_ptr<Office> &g_office = *new std::shared_ptr<Office>;

void endProgramOffice()
{
    std::shared_ptr<Office> office;
    {
        std::lock_guard lock(g_officeMutex);
        office.swap(g_office);
    }
    if (office)
        office->end();
}

void endWithTheProgram()
{
    static std::once_flag once;
    std::call_once(once, [] {
        // While the Qt application exists the bridge still works, so the office can end
        // cleanly; without one, at exit.
        if (QCoreApplication::instance())
            qAddPostRoutine(endProgramOffice);
        else
            std::atexit(endProgramOffice);
    });
}

std::shared_ptr<Office> programOffice(const Options &options, const QString &binary)
{
    std::lock_guard lock(g_officeMutex);
    if (g_office && g_office->binary == binary && !g_office->hasEnded() && g_office->answers(options.callTimeout))
        return g_office;
    if (g_office) {
        g_office->end();
        g_office.reset();
    }
    // An office that did not start within its deadline is not waited for again by the same
    // run: the run's next step is told at once, instead of after another deadline.
    struct TimedOut {
        std::chrono::steady_clock::time_point at;
        QString binary;
        AutomationError error;
    };
    static std::optional<TimedOut> timedOut;
    if (timedOut && timedOut->binary == binary && std::chrono::steady_clock::now() - timedOut->at < options.startTimeout)
        throw timedOut->error;
    timedOut.reset();
    auto office = std::make_shared<Office>(options, binary);
    try {
        office->start();
    } catch (const AutomationError &e) {
        if (office->startTimedOut)
            timedOut = TimedOut{std::chrono::steady_clock::now(), binary, e};
        throw;
    }
    g_office = office;
    endWithTheProgram();
    return office;
}

// ---- the cell writes kept until something reads ----

using CellKey = std::pair<int32_t, int32_t>; // row, column
using Writes = std::map<CellKey, Variant>;

// What setDataArray takes: numbers, texts and empties. A logical value or an error value is a
// formula's result in the office, written one cell at a time.
bool sentAsData(const Variant &v) { return v.type() != Variant::Type::Bool && !v.isError(); }

// Rectangles that cover every kept write of a kind setDataArray takes and nothing else:
// setDataArray clears the whole rectangle first, so it must never reach a cell nobody wrote.
// Runs of adjacent columns in a row, stacked with the same runs of the rows below.
std::vector<CellRect> blocksOf(const Writes &writes)
{
    std::vector<CellRect> blocks;
    std::map<std::pair<int32_t, int32_t>, size_t> open; // column span → block that ends on the previous row
    int32_t row = -1;
    std::map<std::pair<int32_t, int32_t>, size_t> current;
    const auto closeRun = [&](int32_t r, int32_t first, int32_t last) {
        const auto span = std::make_pair(first, last);
        const auto it = open.find(span);
        if (it != open.end() && blocks[it->second].lastRow == r - 1) {
            blocks[it->second].lastRow = r;
            current[span] = it->second;
        } else {
            blocks.push_back({r, r, first, last});
            current[span] = blocks.size() - 1;
        }
    };
    int32_t runFirst = -1, runLast = -1;
    for (const auto &[key, value] : writes) {
        if (!sentAsData(value))
            continue;
        const auto [r, c] = key;
        if (r != row || c != runLast + 1) {
            if (runFirst >= 0)
                closeRun(row, runFirst, runLast);
            if (r != row) {
                open.swap(current);
                current.clear();
                row = r;
            }
            runFirst = c;
        }
        runLast = c;
    }
    if (runFirst >= 0)
        closeRun(row, runFirst, runLast);
    return blocks;
}

css::uno::Any cellAny(const Variant &v)
{
    switch (v.type()) {
    case Variant::Type::Empty:
        return css::uno::Any(OUString()); // an empty text clears the cell (void would be #N/A)
    case Variant::Type::String:
        return css::uno::Any(toOU(v.toString())); // taken as text: "=1+1" and "12" stay texts
    default:
        return css::uno::Any(v.toDouble());
    }
}

// The error values of a cell: the office's error number (its FormulaError) and a formula that
// gives it. The formulas compute their error where one can, because the office reads a
// formula that is only an error constant back from an Excel 97-2003 file as =NA(). No formula
// gives #NULL! or #NAME? that way in the office (an empty intersection is #REF! there): those
// two are saved right, our engine reads them, but the office itself reads them back as #N/A.
// The office's own errors that have no such value are saved as #N/A, so they read as #N/A.
struct CellError {
    int32_t cvErr;
    sal_Int32 officeCode;
    const char *formula;
};
constexpr CellError kCellErrors[] = {
    {Variant::kErrNull, 521, "=#NULL!"},          {Variant::kErrDiv0, 532, "=1/0"},   {Variant::kErrValue, 519, "=\"a\"+1"},
    {Variant::kErrRef, 524, "=INDIRECT(\"A0\")"}, {Variant::kErrName, 525, "=#NAME?"}, {Variant::kErrNum, 503, "=1E308*10"},
    {Variant::kErrNA, 32767, "=NA()"},
};

Variant errorValue(sal_Int32 officeCode)
{
    for (const CellError &e : kCellErrors)
        if (e.officeCode == officeCode)
            return Variant::fromError(e.cvErr);
    return Variant::fromError(Variant::kErrNA);
}

// The formula that gives a logical or error value.
OUString formulaOf(const Variant &v)
{
    if (v.isError()) {
        for (const CellError &e : kCellErrors)
            if (e.cvErr == v.errorCode())
                return OUString::createFromAscii(e.formula);
    }
    return v.toBool() ? OUString("=TRUE()") : OUString("=FALSE()");
}

class SessionImpl;

class DocumentImpl : public backend::Document {
public:
    DocumentImpl(std::shared_ptr<Office> office, std::chrono::milliseconds callTimeout, QString path,
                 Reference<css::lang::XComponent> document)
        : m_office(std::move(office)), m_callTimeout(callTimeout), m_path(std::move(path)), m_document(std::move(document))
    {
    }

    QString path() const override { return m_path; }
    bool isClosed() const override { return m_closed; }

    // Nobody sees the office, so nobody changes the active sheet: it is looked up once.
    int activeSheet(QStringView who) override
    {
        if (m_active < 0) {
            m_active = remote(who, [&] {
                const Reference<css::frame::XModel> model(m_document, UNO_QUERY_THROW);
                const Reference<css::sheet::XSpreadsheetView> view(model->getCurrentController(), UNO_QUERY);
                if (!view.is())
                    return 0;
                return int(Reference<css::sheet::XCellRangeAddressable>(view->getActiveSheet(), UNO_QUERY_THROW)->getRangeAddress().Sheet);
            });
        }
        return m_active;
    }

    std::vector<int> worksheets(QStringView who) override
    {
        const sal_Int32 count = remote(who, [&] { return sheets()->getCount(); });
        std::vector<int> out;
        for (int i = 0; i < count; ++i)
            out.push_back(i);
        return out;
    }

    QString sheetName(QStringView who, int index) override
    {
        return remote(who, [&] { return toQ(Reference<css::container::XNamed>(sheet(index), UNO_QUERY_THROW)->getName()); });
    }

    void write(QStringView, int index, const CellRect &range, const Variant &value) override
    {
        Writes &writes = m_pending[index];
        for (int32_t r = range.firstRow; r <= range.lastRow; ++r)
            for (int32_t c = range.firstCol; c <= range.lastCol; ++c)
                writes[{r, c}] = value;
    }

    Variant read(QStringView who, int index, int32_t row, int32_t column) override
    {
        flush(who);
        return remote(who, [&]() -> Variant {
            const Reference<css::table::XCell> c = sheet(index)->getCellByPosition(column, row);
            bool number = false;
            switch (c->getType()) {
            case css::table::CellContentType_EMPTY:
                return {};
            case css::table::CellContentType_VALUE:
                number = true;
                break;
            case css::table::CellContentType_FORMULA: {
                const Reference<css::beans::XPropertySet> props(c, UNO_QUERY_THROW);
                const sal_Int32 result = props->getPropertyValue(OUString("FormulaResultType2")).get<sal_Int32>();
                if (result == css::sheet::FormulaResult::ERROR)
                    return errorValue(c->getError());
                number = result == css::sheet::FormulaResult::VALUE;
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

    CellRect usedRange(QStringView who, int index) override
    {
        flush(who);
        const css::table::CellRangeAddress used = remote(who, [&] {
            const Reference<css::sheet::XSheetCellCursor> cursor = sheet(index)->createCursor();
            const Reference<css::sheet::XUsedAreaCursor> area(cursor, UNO_QUERY_THROW);
            area->gotoStartOfUsedArea(false);
            area->gotoEndOfUsedArea(true);
            return Reference<css::sheet::XCellRangeAddressable>(cursor, UNO_QUERY_THROW)->getRangeAddress();
        });
        return {used.StartRow, used.EndRow, used.StartColumn, used.EndColumn};
    }

    void saveAs(QStringView who, const QString &path) override
    {
        // The office would make a missing folder on the way, leaving a mistyped path's folders
        // behind; the file is saved into an existing folder only, as our engine does.
        if (const QString folder = QFileInfo(path).path(); !QFileInfo(folder).isDir())
            throw AutomationError(QStringLiteral("%1: %2 cannot be written: the folder %3 does not exist").arg(who, path, folder));
        flush(who);
        remote(who, [&] {
            const css::uno::Sequence<css::beans::PropertyValue> props = properties(property("FilterName", OUString("MS Excel 97")),
                                                                      property("Overwrite", true));
            Reference<css::frame::XStorable>(m_document, UNO_QUERY_THROW)->storeAsURL(fileUrl(path), props);
        });
        m_path = path;
    }

    // The office draws the range as a PNG; the picture goes on this program's clipboard.
    void copyPicture(QStringView who, int index, const CellRect &r) override
    {
        if (!qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
            throw AutomationError(QStringLiteral("%1: there is no clipboard without a running GUI application").arg(who));
        flush(who);
        m_office->live(who);
        const QString file = QDir(m_office->profile->workFolder()).filePath(QStringLiteral("picture.png"));
        QFile::remove(file);
        remote(who, [&] {
            const Reference<css::frame::XModel> model(m_document, UNO_QUERY_THROW);
            // The PNG filter draws the current selection; a hidden document keeps its controller.
            const Reference<css::view::XSelectionSupplier> selection(model->getCurrentController(), UNO_QUERY_THROW);
            selection->select(css::uno::Any(sheet(index)->getCellRangeByPosition(r.firstCol, r.firstRow, r.lastCol, r.lastRow)));
            const css::uno::Sequence<css::beans::PropertyValue> props =
                properties(property("FilterName", OUString("calc_png_Export")), property("SelectionOnly", true));
            Reference<css::frame::XStorable>(model, UNO_QUERY_THROW)->storeToURL(fileUrl(file), props);
        });
        const QImage picture(file);
        QFile::remove(file);
        if (picture.isNull())
            throw AutomationError(QStringLiteral("%1: LibreOffice wrote no picture of the range").arg(who));
        render::copyImageToClipboard(picture);
    }

    void close(QStringView who) override
    {
        // Writes that fail to arrive are reported, but the workbook closes all the same.
        std::exception_ptr unsent;
        try {
            flush(who);
        } catch (const AutomationError &) {
            unsent = std::current_exception();
        }
        const auto forget = qScopeGuard([&] { forgetDocument(); });
        try {
            remote(who, [&] { Reference<css::util::XCloseable>(m_document, UNO_QUERY_THROW)->close(true); });
        } catch (const AutomationError &) {
            if (!unsent)
                throw;
        }
        if (unsent)
            std::rethrow_exception(unsent);
    }

    // Quit: what was not sent is dropped with the document.
    void discard(std::chrono::milliseconds timeout)
    {
        m_pending.clear();
        const auto forget = qScopeGuard([&] { forgetDocument(); });
        if (!m_office->hasEnded())
            m_office->remote(u"Application.Quit", timeout, [&] { Reference<css::util::XCloseable>(m_document, UNO_QUERY_THROW)->close(true); });
    }

    std::weak_ptr<SessionImpl> session;

private:
    template<class F>
    auto remote(QStringView who, F &&f) -> decltype(f())
    {
        if (m_closed)
            throw AutomationError(QStringLiteral("%1: the workbook %2 has been closed").arg(who, QFileInfo(m_path).fileName()));
        return m_office->remote(who, m_callTimeout, std::forward<F>(f));
    }

    // Called inside remote().
    Reference<css::container::XIndexAccess> sheets()
    {
        const Reference<css::sheet::XSpreadsheetDocument> doc(m_document, UNO_QUERY_THROW);
        return Reference<css::container::XIndexAccess>(doc->getSheets(), UNO_QUERY_THROW);
    }

    Reference<css::sheet::XSpreadsheet> sheet(int index)
    {
        Reference<css::sheet::XSpreadsheet> &known = m_sheets[index];
        if (!known.is())
            known.set(sheets()->getByIndex(index), UNO_QUERY_THROW);
        return known;
    }

    void flush(QStringView who);
    void sendBlock(const Reference<css::sheet::XSpreadsheet> &target, const CellRect &block, const Writes &writes);
    void forgetDocument();

    std::shared_ptr<Office> m_office;
    std::chrono::milliseconds m_callTimeout;
    QString m_path;
    Reference<css::lang::XComponent> m_document;
    std::map<int, Reference<css::sheet::XSpreadsheet>> m_sheets;
    int m_active = -1;
    std::map<int, Writes> m_pending; // by sheet
    bool m_closed = false;
};

// One cell that the office refused, found by sending the block's cells one by one.
struct RefusedWrite {
    CellKey cell;
    QString reason;
};

void DocumentImpl::sendBlock(const Reference<css::sheet::XSpreadsheet> &target, const CellRect &block, const Writes &writes)
{
    const auto send = [&](const CellRect &r) {
        css::uno::Sequence<css::uno::Sequence<css::uno::Any>> rows(r.lastRow - r.firstRow + 1);
        for (int32_t row = r.firstRow; row <= r.lastRow; ++row) {
            css::uno::Sequence<css::uno::Any> cells(r.lastCol - r.firstCol + 1);
            for (int32_t col = r.firstCol; col <= r.lastCol; ++col)
                cells.getArray()[col - r.firstCol] = cellAny(writes.at({row, col}));
            rows.getArray()[row - r.firstRow] = cells;
        }
        const Reference<css::sheet::XCellRangeData> data(target->getCellRangeByPosition(r.firstCol, r.firstRow, r.lastCol, r.lastRow),
                                                         UNO_QUERY_THROW);
        data->setDataArray(rows);
    };
    try {
        send(block);
    } catch (const css::lang::DisposedException &) {
        throw;
    } catch (const css::uno::RuntimeException &e) {
        if (m_office->endedAfterFailure(false))
            throw;
        // The block as a whole was refused: the first cell refused on its own is the one to name.
        for (int32_t row = block.firstRow; row <= block.lastRow; ++row)
            for (int32_t col = block.firstCol; col <= block.lastCol; ++col) {
                try {
                    send({row, row, col, col});
                } catch (const css::lang::DisposedException &) {
                    throw;
                } catch (const css::uno::RuntimeException &one) {
                    throw RefusedWrite{{row, col}, toQ(one.Message)};
                }
            }
        throw RefusedWrite{{block.firstRow, block.firstCol}, toQ(e.Message)};
    }
}

void DocumentImpl::flush(QStringView who)
{
    if (m_pending.empty())
        return;
    // Sent once, whatever happens: a refused write is reported here and not again.
    std::map<int, Writes> all;
    all.swap(m_pending);
    std::optional<RefusedWrite> refused;
    const Writes *refusedIn = nullptr;
    const auto refuse = [&](const RefusedWrite &r, const Writes &writes) {
        if (!refused) {
            refused = r;
            refusedIn = &writes;
        }
    };
    remote(who, [&] {
        for (const auto &[index, writes] : all) {
            const Reference<css::sheet::XSpreadsheet> target = sheet(index);
            for (const CellRect &block : blocksOf(writes)) {
                try {
                    sendBlock(target, block, writes);
                } catch (const RefusedWrite &r) {
                    refuse(r, writes);
                }
            }
            for (const auto &[key, value] : writes) {
                if (sentAsData(value))
                    continue;
                try {
                    target->getCellByPosition(key.second, key.first)->setFormula(formulaOf(value));
                } catch (const css::lang::DisposedException &) {
                    throw;
                } catch (const css::uno::RuntimeException &e) {
                    if (m_office->endedAfterFailure(false))
                        throw;
                    refuse(RefusedWrite{key, toQ(e.Message)}, writes);
                }
            }
        }
    });
    if (refused) {
        const Variant &value = refusedIn->at(refused->cell);
        const QString shown = value.type() == Variant::Type::String ? QStringLiteral("\"%1\"").arg(value.toString())
                              : value.isError()                      ? QStringLiteral("Error %1").arg(value.errorCode())
                                                                     : value.toString();
        throw AutomationError(QStringLiteral("%1: LibreOffice did not store the value %2 written to %3 (%4)")
                                  .arg(who, shown,
                                       cellName(refused->cell.first, refused->cell.second),
                                       refused->reason.isEmpty() ? QStringLiteral("it gave no reason; the sheet may be protected") : refused->reason));
    }
}

class SessionImpl : public backend::Session, public std::enable_shared_from_this<SessionImpl> {
public:
    SessionImpl(std::shared_ptr<Office> office, const Options &options) : m_office(std::move(office)), m_options(options) {}

    ~SessionImpl() override
    {
        try {
            if (!m_quit)
                quit();
        } catch (...) {
            // nothing may leave a destructor; an office that will not close them is ended by the deadline
        }
    }

    void checkRunning(QStringView who) const override { m_office->live(who); }

    std::shared_ptr<backend::Document> open(QStringView who, const QString &path) override
    {
        checkRunning(who);
        const QFileInfo info(path);
        if (!info.isFile())
            throw AutomationError(QStringLiteral("%1: %2 could not be found").arg(who, path));
        const QString absolute = info.absoluteFilePath();
        const Reference<css::lang::XComponent> doc = m_office->remote(who, m_options.callTimeout, [&] {
            // A template (.xlt) is opened as itself, not as a new document made from it, so that
            // SaveAs writes the filled template; no macro runs and no link is updated.
            const css::uno::Sequence<css::beans::PropertyValue> props = properties(
                property("Hidden", true), property("AsTemplate", false), property("MacroExecutionMode", sal_Int16(0)),
                property("UpdateDocMode", sal_Int16(0)));
            Reference<css::lang::XComponent> loaded = m_office->desktop->loadComponentFromURL(fileUrl(absolute), OUString("_blank"), 0, props);
            if (!loaded.is())
                throw AutomationError(QStringLiteral("%1: LibreOffice could not open %2").arg(who, path));
            if (!Reference<css::sheet::XSpreadsheetDocument>(loaded, UNO_QUERY).is()) {
                if (const Reference<css::util::XCloseable> closeable{loaded, UNO_QUERY}; closeable.is())
                    closeable->close(true);
                throw AutomationError(QStringLiteral("%1: %2 is not a workbook LibreOffice can open").arg(who, path));
            }
            return loaded;
        });
        auto document = std::make_shared<DocumentImpl>(m_office, m_options.callTimeout, absolute, doc);
        document->session = weak_from_this();
        m_documents.push_back(document);
        return document;
    }

    std::vector<std::shared_ptr<backend::Document>> documents() const override { return {m_documents.begin(), m_documents.end()}; }

    void quit() override
    {
        m_quit = true;
        // A dead office has closed them already; a hung one is ended by the quit deadline.
        const auto documents = m_documents;
        for (const auto &document : documents) {
            try {
                document->discard(m_options.quitTimeout);
            } catch (const AutomationError &) {
            }
        }
        m_documents.clear();
    }

    bool hasQuit() const override { return m_quit; }

    pid_t processId() const override { return m_quit || m_office->hasEnded() ? 0 : m_office->pid(); }

    void forget(const DocumentImpl *document)
    {
        std::erase_if(m_documents, [&](const auto &d) { return d.get() == document; });
    }

private:
    std::shared_ptr<Office> m_office;
    Options m_options;
    std::vector<std::shared_ptr<DocumentImpl>> m_documents;
    bool m_quit = false;
};

void DocumentImpl::forgetDocument()
{
    m_closed = true;
    m_pending.clear();
    m_sheets.clear();
    m_document.clear();
    if (const auto owner = session.lock())
        owner->forget(this);
}

} // namespace

QString cellName(int32_t row, int32_t column)
{
    QString letters;
    for (int32_t c = column + 1; c > 0; c = (c - 1) / 26)
        letters.prepend(QChar(u'A' + (c - 1) % 26));
    return letters + QString::number(row + 1);
}

Options optionsFromEnvironment()
{
    Options o;
    o.officeProgram = qEnvironmentVariable(facts::env::kSoffice);
    bool ok = false;
    const int timeout = qEnvironmentVariableIntValue(facts::env::kLibreOfficeTimeoutMs, &ok);
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

std::shared_ptr<backend::Session> startSession(const Options &options)
{
    const QString binary = findOfficeBinary(options.officeProgram);
    if (binary.isEmpty())
        throw AutomationError(automation::kCannotCreateObject +
                              QStringLiteral(" (LibreOffice is not installed: no soffice.bin found%1)")
                                  .arg(options.officeProgram.isEmpty() ? QString() : QStringLiteral(" for ") + options.officeProgram));
    return std::make_shared<SessionImpl>(programOffice(options, binary), options);
}

void endOffice() { endProgramOffice(); }

QString runningOfficeProfile()
{
    std::lock_guard lock(g_officeMutex);
    if (!g_office || g_office->hasEnded() || !g_office->profile)
        return {};
    return g_office->profile->path();
}

pid_t runningOfficeProcess()
{
    std::lock_guard lock(g_officeMutex);
    return g_office && !g_office->hasEnded() ? g_office->pid() : 0;
}

} // namespace lo
