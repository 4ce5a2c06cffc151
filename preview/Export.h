#pragma once
// Printing and the PDF of a generated workbook. Both read the saved workbook file with the
// workbook engine and lay its active sheet out in pages as its print settings say, so they
// come out the same whichever spreadsheet server made the file.
//
// Failures raise an AutomationError whose description names the file and the cause, for the
// calling handler's error report.

#include "platform/files/AtomicFile.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

class QPrinter;

namespace preview {

// The document title of every PDF the program writes.
inline const QString kPdfTitle = QStringLiteral("Grocery List");

// How a document the user names is written (a saved workbook, a PDF): made as any of the
// user's files would be (0666 less the umask), and never through another user's link.
files::WriteOptions documentOptions();

// The PDF of the workbook at workbookPath, in memory. notes receives the print settings
// that had to be replaced (an unknown paper size ...).
QByteArray pdfOfWorkbook(const QString &workbookPath, QStringList *notes = nullptr);

// Writes that PDF to pdfPath, replacing the file there only once all of it is on the disk.
void ExportPdf(const QString &workbookPath, const QString &pdfPath, QStringList *notes = nullptr);

// Sets the printer to the sheet's paper and orientation, so the print dialog offers them
// where the printer has no default of its own.
void PreparePrinter(QPrinter &printer, const QString &workbookPath);

// Prints the workbook's pages on the printer the user chose in the print dialog, with its
// copies, page range, paper and orientation; the rest (margins, scale or fitting, centring)
// is the sheet's.
void PrintWorkbook(QPrinter &printer, const QString &workbookPath, QStringList *notes = nullptr);

} // namespace preview
