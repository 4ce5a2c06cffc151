// render-sheet: paints a cell range of a workbook to a PNG (or BMP) file, or prints it to PDF.
//
//   render-sheet [--fill full|sample] [--save FILLED.xls] [--range A1:M58] [--sheet N] IN.xls OUT.png
//   render-sheet [--fill full|sample] IN.xls OUT.pdf
//
// OUT.pdf prints the active sheet as its print settings say, through the program's own Export
// PDF (the filled workbook, when --fill is given, is saved to a temporary file first).
// --fill writes the grocery template's item cells first (twenty items in every category,
// or the sample list); --save keeps that filled workbook so that other applications can
// render the very same file. Without --range the sheet's used range is drawn.

#include "platform/render/SheetRenderer.h"
#include "preview/Export.h"
#include "tools/render-sheet/TemplateFill.h"

#include <QCommandLineParser>
#include <QGuiApplication>
#include <QTemporaryDir>
#include <cstdio>
#include <exception>

namespace {

int printToPdf(const QString &workbook, const QString &pdf)
{
    try {
        QStringList notes;
        preview::ExportPdf(workbook, pdf, &notes);
        for (const QString &note : notes)
            std::printf("note: %s\n", qPrintable(note));
    } catch (const std::exception &e) {
        std::fprintf(stderr, "%s\n", e.what());
        return 1;
    }
    std::printf("%s: printed\n", qPrintable(pdf));
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QCommandLineParser cli;
    cli.setApplicationDescription(QStringLiteral("Paints a cell range of a workbook to a picture file."));
    cli.addHelpOption();
    const QCommandLineOption fill(QStringLiteral("fill"), QStringLiteral("Fill the template: full or sample."), QStringLiteral("kind"));
    const QCommandLineOption save(QStringLiteral("save"), QStringLiteral("Save the filled workbook here."), QStringLiteral("path"));
    const QCommandLineOption range(QStringLiteral("range"), QStringLiteral("Cell range, e.g. A1:M58."), QStringLiteral("range"));
    const QCommandLineOption sheetOption(QStringLiteral("sheet"), QStringLiteral("Sheet number, from 1."), QStringLiteral("n"), QStringLiteral("1"));
    cli.addOptions({fill, save, range, sheetOption});
    cli.addPositionalArgument(QStringLiteral("in"), QStringLiteral("Workbook (.xls)."));
    cli.addPositionalArgument(QStringLiteral("out"), QStringLiteral("Picture file (.png, .bmp), or .pdf to print the active sheet."));
    cli.process(app);
    const QStringList args = cli.positionalArguments();
    if (args.size() != 2)
        cli.showHelp(2);

    xls::Result<xls::Workbook> book = xls::Workbook::open(args[0]);
    if (!book) {
        std::fprintf(stderr, "%s\n", qPrintable(book.error().message));
        return 1;
    }
    const int sheetIndex = cli.value(sheetOption).toInt() - 1;
    if (sheetIndex < 0 || sheetIndex >= book->sheetCount()) {
        std::fprintf(stderr, "no sheet %s\n", qPrintable(cli.value(sheetOption)));
        return 2;
    }
    xls::Worksheet &sheet = book->sheet(sheetIndex);
    if (cli.value(fill) == QLatin1String("full"))
        render::tools::fillFull(sheet);
    else if (cli.value(fill) == QLatin1String("sample"))
        render::tools::fillSample(sheet);
    else if (cli.isSet(fill)) {
        std::fprintf(stderr, "--fill takes full or sample\n");
        return 2;
    }
    const bool pdf = args[1].endsWith(QLatin1String(".pdf"), Qt::CaseInsensitive);
    QTemporaryDir scratch;
    QString savedAs = cli.value(save);
    if (pdf && cli.isSet(fill) && savedAs.isEmpty())
        savedAs = scratch.filePath(QStringLiteral("filled.xls"));
    if (!savedAs.isEmpty()) {
        if (xls::Status s = book->saveAs(savedAs); !s) {
            std::fprintf(stderr, "%s\n", qPrintable(s.error().message));
            return 1;
        }
    }
    if (pdf)
        return printToPdf(cli.isSet(fill) ? savedAs : args[0], args[1]);
    std::optional<xls::CellRange> cells = cli.isSet(range) ? render::tools::parseRange(cli.value(range)) : sheet.usedRange();
    if (!cells) {
        std::fprintf(stderr, "no range to draw\n");
        return 2;
    }
    xls::Result<QImage> image = render::renderRange(*book, sheetIndex, *cells);
    if (!image) {
        std::fprintf(stderr, "%s\n", qPrintable(image.error().message));
        return 1;
    }
    if (!image->save(args[1])) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(args[1]));
        return 1;
    }
    std::printf("%s: %s, %d x %d pixels\n", qPrintable(args[1]), qPrintable(render::rangeName(*cells)), image->width(), image->height());
    return 0;
}
