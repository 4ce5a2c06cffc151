#include "app/CommandLine.h"

#include "shell/AppTitle.h"
#include "shell/ErrorReport.h"
#include "lists/CategoryLists.h"
#include "lists/ListFile.h"
#include "preview/Export.h"
#include "platform/services/FileSystem.h"
#include "platform/services/Dialogs.h"
#include "workbook/FileRoutines.h"
#include "workbook/GenerationRun.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QFile>
#include <QListWidget>
#include <array>
#include <cstdio>
#include <cstring>

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
    const QCommandLineOption pdf(QStringLiteral("pdf"), QStringLiteral("Write the list's printed pages as a PDF to <file>."),
                                 QStringLiteral("file"));
    const QCommandLineOption xls(QStringLiteral("xls"), QStringLiteral("Write the filled workbook (Excel 97-2003) to <file>."),
                                 QStringLiteral("file"));
    const QCommandLineOption list(QStringLiteral("list"),
                                  QStringLiteral("Take the lists from the text <file> (\"-\": standard input) for this run only."),
                                  QStringLiteral("file"));
    parser.addOption(pdf);
    parser.addOption(xls);
    parser.addOption(list);
    parser.process(arguments);
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

    // Everything is made in memory before anything is written, so a failure on the way
    // leaves no file behind.
    QByteArray xlsBytes, pdfBytes;
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
        files::WriteOptions options;
        options.newFileMode = 0644;
        if (console.reports == 0 && !request.xlsPath.isEmpty())
            g.step(104, [&] { platform::ReplaceFile(request.xlsPath, xlsBytes, options); });
        if (console.reports == 0 && !request.pdfPath.isEmpty())
            g.step(106, [&] { platform::ReplaceFile(request.pdfPath, pdfBytes, options); });
    } else if (console.reports == 0) {
        Guard g(u"Main.CommandLine");
        g.step(108, [&] { throw AutomationError(QStringLiteral("The workbook was not made")); });
    }
    if (!run.workbookPath.isEmpty())
        workbook::RemoveRunWorkbook(run.workbookPath);
    platform::setDialogs(nullptr);
    return console.reports == 0 ? 0 : 1;
}

} // namespace shell
