#include "preview/Export.h"

#include "platform/automation/AutomationError.h"
#include "platform/render/PagePrinter.h"
#include "platform/services/FileSystem.h"
#include "platform/xls/Workbook.h"

#include <QBuffer>
#include <QDir>
#include <QPdfWriter>
#include <QPrinter>

using automation::AutomationError;

namespace preview {

namespace {

// PDF coordinates are points; a finer device resolution keeps text placement exact.
constexpr int kPdfResolution = 1200;

xls::Workbook openWorkbook(const QString &path)
{
    xls::Result<xls::Workbook> book = xls::Workbook::open(path);
    if (!book)
        throw AutomationError(book.error().message);
    return std::move(*book);
}

void takeNotes(const render::PrintResult &result, QStringList *notes)
{
    if (notes)
        *notes << result.notes;
}

} // namespace

files::WriteOptions documentOptions()
{
    files::WriteOptions options;
    options.newFileMode = 0666;
    options.applyUmask = true;
    return options;
}

QByteArray pdfOfWorkbook(const QString &workbookPath, QStringList *notes)
{
    const xls::Workbook book = openWorkbook(workbookPath);
    // The PDF engine writes in many small pieces: room for the full list's PDF up front.
    constexpr qsizetype kExpectedPdfBytes = 256 * 1024;
    QByteArray bytes;
    bytes.reserve(kExpectedPdfBytes);
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    {
        QPdfWriter pdf(&buffer);
        pdf.setTitle(kPdfTitle);
        pdf.setCreator(QStringLiteral("Pantrimo"));
        pdf.setResolution(kPdfResolution);
        render::PrintRequest request;
        request.fileName = workbookPath;
        xls::Result<render::PrintResult> printed = render::printWorkbook(pdf, book, request);
        if (!printed)
            throw AutomationError(QStringLiteral("Could not make the PDF of %1: %2")
                                      .arg(QDir::toNativeSeparators(workbookPath), printed.error().message));
        takeNotes(*printed, notes);
    }
    if (bytes.isEmpty())
        throw AutomationError(QStringLiteral("Could not make the PDF of %1").arg(QDir::toNativeSeparators(workbookPath)));
    return bytes;
}

void ExportPdf(const QString &workbookPath, const QString &pdfPath, QStringList *notes)
{
    platform::ReplaceFile(pdfPath, pdfOfWorkbook(workbookPath, notes), documentOptions());
}

void PreparePrinter(QPrinter &printer, const QString &workbookPath)
{
    const xls::Workbook book = openWorkbook(workbookPath);
    for (int i = 0; i < book.sheetCount(); ++i) {
        if (i == book.activeSheetIndex() && book.sheet(i).isWorksheet()) {
            render::applySheetPaper(printer, xls::readPageSetup(book, i));
            break;
        }
    }
    printer.setDocName(kPdfTitle);
}

void PrintWorkbook(QPrinter &printer, const QString &workbookPath, QStringList *notes)
{
    const xls::Workbook book = openWorkbook(workbookPath);
    // The painter's origin at the paper's corner: the sheet's margins place everything.
    printer.setFullPage(true);
    render::PrintRequest request;
    request.fileName = workbookPath;
    // The paper is the one the print dialog showed: the sheet's where nothing else was known,
    // a CUPS queue's default (its dialog puts that in the printer whatever was offered) or
    // what the user chose. The sheet is laid out on it, fitted and centred as it asks.
    request.keepDevicePaper = true;
    if (printer.printRange() == QPrinter::PageRange) {
        request.fromPage = printer.fromPage();
        request.toPage = printer.toPage();
    }
    xls::Result<render::PrintResult> printed = render::printWorkbook(printer, book, request);
    if (!printed)
        throw AutomationError(QStringLiteral("Could not print %1: %2")
                                  .arg(QDir::toNativeSeparators(workbookPath), printed.error().message));
    if (printer.printerState() == QPrinter::Error)
        throw AutomationError(QStringLiteral("The printer %1 reported an error while printing").arg(printer.printerName()));
    takeNotes(*printed, notes);
}

} // namespace preview
