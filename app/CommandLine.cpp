#include "app/CommandLine.h"

#include "shell/AppTitle.h"
#include "shell/ErrorReport.h"
#include "lists/CategoryLists.h"
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

} // namespace

bool runsWithoutWindows(int argc, char *argv[])
{
    for (int i = 1; i < argc; ++i) {
        const char *a = argv[i];
        for (const char *option : {"--pdf", "--xls", "--help", "-h", "--help-all", "--version", "-v"})
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
                       "(0 on success; 1 after printing the error report on stderr)."));
    parser.addHelpOption();
    parser.addVersionOption();
    const QCommandLineOption pdf(QStringLiteral("pdf"), QStringLiteral("Write the list's printed pages as a PDF to <file>."),
                                 QStringLiteral("file"));
    const QCommandLineOption xls(QStringLiteral("xls"), QStringLiteral("Write the filled workbook (Excel 97-2003) to <file>."),
                                 QStringLiteral("file"));
    parser.addOption(pdf);
    parser.addOption(xls);
    parser.process(arguments);
    if (!parser.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "%s: unexpected argument %s\n\n%s", qPrintable(QCoreApplication::applicationName()),
                     qPrintable(parser.positionalArguments().constFirst()), qPrintable(parser.helpText()));
        std::exit(1);
    }
    return {parser.value(pdf), parser.value(xls)};
}

int runCommandLine(const CommandLineRequest &request)
{
    ConsoleDialogs console;
    platform::setDialogs(&console);
    SetAppTitle();
    StoredListRun run;
    workbook::NameDrawer names;
    {
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
