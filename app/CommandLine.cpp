#include "app/CommandLine.h"

#include "shell/AppTitle.h"
#include "shell/ErrorReport.h"
#include "lists/CategoryLists.h"
#include "lists/ListFile.h"
#include "preview/Export.h"
#include "platform/automation/AutomationError.h"
#include "platform/facts/Settings.h"
#include "platform/files/AtomicFile.h"
#include "platform/services/Dialogs.h"
#include "platform/services/SettingsStore.h"
#include "workbook/FileRoutines.h"
#include "workbook/GenerationRun.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QListWidget>
#include <array>
#include <cstdio>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

using automation::AutomationError;

namespace shell {

namespace {

// Every report goes to stderr as the message box would have shown it; the run goes on as
// it does behind a message box, and the count decides the exit code.
class ConsoleDialogs : public platform::Dialogs {
public:
    int reports = 0;
    int messageBox(const QString &text, int style, const QString &) override
    {
        ++reports;
        std::fprintf(stderr, "%s\n", qPrintable(platform::QtDialogs::displayText(text)));
        return (style & 0x7) == platform::vbYesNo ? platform::vbNo : platform::vbOK;
    }
    std::optional<QString> inputBox(const QString &, const QString &) override { return std::nullopt; }
    QString saveFileName(const QString &, const QString &) override { return {}; }
};

// What the generation run needs of the windows, without windows: the stored lists in list
// boxes that are never shown, and the run's workbook kept instead of handed to a preview.
class StoredListRun : public workbook::RunWindows {
public:
    StoredListRun()
    {
        for (auto &box : m_boxes)
            box = new QListWidget(&m_owner);
    }
    lists::ListBoxes &boxes() { return m_boxes; }
    QString workbookPath;

    bool &generatingFlag() override { return m_generating; }
    int itemCount(int category) override { return m_boxes[size_t(category)]->count(); }
    QString item(int category, int k) override
    {
        const QListWidgetItem *entry = m_boxes[size_t(category)]->item(k);
        if (!entry)
            throw AutomationError(QStringLiteral("Invalid procedure call or argument"));
        return entry->text();
    }
    void setMousePointer(int) override {}
    void setPreviewPicture(const QImage &) override {}
    void setPreviewWorkbook(const QString &path) override { workbookPath = path; }
    void showPreview() override {}
    void hideMain() override {}

private:
    QWidget m_owner;
    lists::ListBoxes m_boxes{};
    bool m_generating = false;
};

QByteArray readWhole(const QString &path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly))
        throw AutomationError(QStringLiteral("Could not read %1: %2").arg(path, f.errorString()));
    QByteArray bytes = f.readAll();
    if (f.error() != QFileDevice::NoError)
        throw AutomationError(QStringLiteral("Could not read %1: %2").arg(path, f.errorString()));
    return bytes;
}

// The lists of a --list file, or nothing after saying on stderr which line is wrong.
std::optional<lists::ListTexts> listsFromFile(const QString &path)
{
    const bool standardInput = path == QStringLiteral("-");
    const QString shownName = standardInput ? QStringLiteral("standard input") : path;
    QFile f(standardInput ? QString() : path);
    const bool opened = standardInput ? f.open(stdin, QIODevice::ReadOnly) : f.open(QIODevice::ReadOnly);
    QByteArray bytes;
    if (opened)
        bytes = f.readAll();
    if (!opened || f.error() != QFileDevice::NoError) {
        std::fprintf(stderr, "Could not read the list %s: %s\n", qPrintable(shownName), qPrintable(f.errorString()));
        return std::nullopt;
    }
    auto read = lists::readListFile(bytes);
    if (const auto *problem = std::get_if<lists::ListFileProblem>(&read)) {
        std::fprintf(stderr, "%s, line %d: %s\n", qPrintable(shownName), problem->line, qPrintable(problem->reason));
        return std::nullopt;
    }
    return std::get<lists::ListTexts>(std::move(read));
}

const QString kStandardOutput = QStringLiteral("-");

// The file a target names, for comparing two of them: links resolved as they would be
// followed, and the same file under two names found by its identity when it exists.
struct FileIdentity {
    QString file;
    dev_t device = 0;
    ino_t inode = 0;
    bool exists = false;
    bool sameAs(const FileIdentity &other) const
    {
        return file == other.file || (exists && other.exists && device == other.device && inode == other.inode);
    }
};

FileIdentity identify(const QString &path)
{
    FileIdentity id;
    id.file = files::checkTarget(path, preview::documentOptions()).file;
    struct stat st {};
    id.exists = ::stat(QFile::encodeName(id.file).constData(), &st) == 0;
    id.device = st.st_dev;
    id.inode = st.st_ino;
    return id;
}

// Raises what would stop the target being written: the rule every saved document follows,
// a folder that is missing or not writable, the file the lists are kept in.
void checkOutput(const QString &target)
{
    if (target == kStandardOutput)
        return;
    const auto refuse = [&](const QString &reason) {
        throw AutomationError(QStringLiteral("Could not write %1: %2").arg(target, reason));
    };
    const files::TargetCheck check = files::checkTarget(target, preview::documentOptions());
    if (!check.allowed())
        refuse(check.refusal);
    const QString folder = QFileInfo(check.file).absolutePath();
    const QByteArray nativeFolder = QFile::encodeName(folder);
    struct stat st {};
    if (::stat(nativeFolder.constData(), &st) != 0)
        refuse(QStringLiteral("the folder %1 does not exist").arg(folder));
    if (!S_ISDIR(st.st_mode))
        refuse(QStringLiteral("the folder %1 is a file").arg(folder));
    if (::faccessat(AT_FDCWD, nativeFolder.constData(), W_OK | X_OK, AT_EACCESS) != 0)
        refuse(QStringLiteral("the folder %1 cannot be written to").arg(folder));
    if (identify(target).sameAs(identify(platform::settingsFilePath(facts::kSettingsApplication))))
        refuse(QStringLiteral("it is the file the lists are kept in"));
}

void checkDistinct(const QString &xlsTarget, const QString &pdfTarget)
{
    if (xlsTarget == pdfTarget || identify(xlsTarget).sameAs(identify(pdfTarget)))
        throw AutomationError(QStringLiteral("The workbook and the PDF cannot both be written to %1").arg(pdfTarget));
}

struct Output {
    bool toStandardOutput = false;
    QString target;
    QByteArray bytes;
    files::PreparedFile file;
};

Output prepareOutput(const QString &target, const QByteArray &bytes)
{
    Output output;
    output.target = target;
    if (target == kStandardOutput) {
        output.toStandardOutput = true;
        output.bytes = bytes;
        return output;
    }
    output.file = files::prepareFile(target, bytes, preview::documentOptions());
    if (!output.file.ready())
        throw AutomationError(QStringLiteral("Could not write %1: %2").arg(target, output.file.outcome().reason));
    return output;
}

void commitOutput(Output &output)
{
    const files::WriteOutcome outcome = output.file.commit();
    if (!outcome.written())
        throw AutomationError(QStringLiteral("Could not write %1: %2").arg(output.target, outcome.reason));
}

void writeToStandardOutput(const QByteArray &bytes)
{
    std::fflush(stdout);
    // A reader that went away is a failed write, not the end of the program.
    ::signal(SIGPIPE, SIG_IGN);
    if (!files::writeAll(STDOUT_FILENO, bytes))
        throw AutomationError(QStringLiteral("Could not write to standard output: %1").arg(files::describeError(errno)));
}

} // namespace

bool runsWithoutWindows(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        const char *a = argv[i];
        for (const char *option : {"--pdf", "--xls", "--list", "--help", "-h", "--help-all", "--version", "-v"})
            if (std::strcmp(a, option) == 0 || (std::strncmp(a, option, std::strlen(option)) == 0 && a[std::strlen(option)] == '='))
                return true;
    }
    return false;
}

CommandLineRequest parseCommandLine(const QStringList &arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Turns a grocery list kept in fifteen categories into a printable workbook.\n"
                       "Without options the program opens its window. With --pdf or --xls it makes the\n"
                       "workbook from the stored lists without a window, writes the files and exits\n"
                       "(0 on success; 1 after printing the error report on stderr).\n"
                       "\n"
                       "--list takes the lists from a text file instead, for this run only (nothing is\n"
                       "stored): a category's caption on a line of its own ending in \":\" (as the window\n"
                       "shows it, in any case), then its items one per line. Blank lines and lines\n"
                       "starting with \"#\" are skipped. An unknown caption, an item with \";\", more than\n"
                       "20 items in a category or a file that is not UTF-8 text stops the program with a\n"
                       "message naming the line and exit status 1, and nothing is written."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption pdf(QStringLiteral("pdf"), QStringLiteral("Write the list's printed pages as a PDF to <file> (- for standard output)."),
                                 QStringLiteral("file"));
    const QCommandLineOption xls(QStringLiteral("xls"), QStringLiteral("Write the filled workbook (Excel 97-2003) to <file> (- for standard output)."),
                                 QStringLiteral("file"));
    const QCommandLineOption list(QStringLiteral("list"),
                                  QStringLiteral("Take the lists from the text <file> (\"-\": standard input) for this run only."),
                                  QStringLiteral("file"));
    parser.addOption(pdf);
    parser.addOption(xls);
    parser.addOption(list);
    parser.process(arguments);
    for (const QCommandLineOption *option : {&pdf, &xls}) {
        if (parser.isSet(*option) && parser.value(*option).isEmpty()) {
            std::fprintf(stderr, "%s: --%s needs a file name (or - for standard output)\n",
                         qPrintable(QCoreApplication::applicationName()), qPrintable(option->names().constFirst()));
            std::exit(1);
        }
    }
    if (!parser.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "%s: unexpected argument %s\n\n%s", qPrintable(QCoreApplication::applicationName()),
                     qPrintable(parser.positionalArguments().constFirst()), qPrintable(parser.helpText()));
        std::exit(1);
    }
    if (parser.isSet(list) && !parser.isSet(pdf) && !parser.isSet(xls)) {
        std::fprintf(stderr, "%s: --list needs --pdf or --xls\n\n%s", qPrintable(QCoreApplication::applicationName()),
                     qPrintable(parser.helpText()));
        std::exit(1);
    }
    return {parser.value(pdf), parser.value(xls), parser.value(list)};
}

int runCommandLine(const CommandLineRequest &request)
{
    ConsoleDialogs console;
    platform::setDialogs(&console);
    SetAppTitle();
    const auto finish = [&] {
        platform::setDialogs(nullptr);
        return console.reports == 0 ? 0 : 1;
    };
    // Every target is checked before the run: a mistake in one costs no work and no file.
    {
        Guard g(u"Main.CommandLine");
        if (!request.xlsPath.isEmpty())
            g.step(104, [&] { checkOutput(request.xlsPath); });
        if (!request.pdfPath.isEmpty())
            g.step(106, [&] { checkOutput(request.pdfPath); });
        if (!request.xlsPath.isEmpty() && !request.pdfPath.isEmpty())
            g.step(106, [&] { checkDistinct(request.xlsPath, request.pdfPath); });
    }
    if (console.reports != 0)
        return finish();

    StoredListRun run;
    workbook::NameDrawer names;
    if (!request.listPath.isEmpty()) {
        const std::optional<lists::ListTexts> given = listsFromFile(request.listPath);
        if (!given) {
            platform::setDialogs(nullptr);
            return 1;
        }
        lists::putTexts(run.boxes(), *given);
    } else {
        Guard g(u"Main.CommandLine");
        lists::LoadCategoryLists(g, run.boxes());
    }
    if (console.reports == 0)
        workbook::PushButton1_Click(run, names);

    // Each output is made whole beside its target, and all are put in place together at the
    // end: a failure on the way leaves none of them written.
    QByteArray xlsBytes, pdfBytes;
    std::vector<Output> outputs;
    if (console.reports == 0 && !run.workbookPath.isEmpty()) {
        Guard g(u"Main.CommandLine");
        if (!request.xlsPath.isEmpty())
            g.step(100, [&] { xlsBytes = readWhole(run.workbookPath); });
        if (!request.pdfPath.isEmpty()) {
            QStringList notes;
            g.step(102, [&] { pdfBytes = preview::pdfOfWorkbook(run.workbookPath, &notes); });
            for (const QString &note : notes)
                std::fprintf(stderr, "%s\n", qPrintable(note));
        }
        if (console.reports == 0 && !request.xlsPath.isEmpty())
            g.step(104, [&] { outputs.push_back(prepareOutput(request.xlsPath, xlsBytes)); });
        if (console.reports == 0 && !request.pdfPath.isEmpty())
            g.step(106, [&] { outputs.push_back(prepareOutput(request.pdfPath, pdfBytes)); });
        // Standard output first: what went there cannot be taken back, a file not yet in
        // place can.
        for (Output &output : outputs)
            if (console.reports == 0 && output.toStandardOutput)
                g.step(110, [&] { writeToStandardOutput(output.bytes); });
        for (Output &output : outputs)
            if (console.reports == 0 && !output.toStandardOutput)
                g.step(112, [&] { commitOutput(output); });
    } else if (console.reports == 0) {
        Guard g(u"Main.CommandLine");
        g.step(108, [&] { throw AutomationError(QStringLiteral("The workbook was not made")); });
    }
    if (!run.workbookPath.isEmpty())
        workbook::RemoveRunWorkbook(run.workbookPath);
    return finish();
}

} // namespace shell
