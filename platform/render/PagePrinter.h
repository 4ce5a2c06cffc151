#pragma once
// The printed pages of a workbook: the active sheet laid out as PageLayout says, each page
// painted onto a paged device (a PDF writer, a printer) with the sheet painter, under the
// sheet's header and footer. Text stays text and lines stay lines, so a PDF is vector with
// its fonts embedded.
//
// The device's painter origin must be the paper's top-left corner: a QPdfWriter with no
// page margins, a QPrinter with full-page painting. Needs a QGuiApplication for the fonts.

#include "platform/render/PageLayout.h"
#include "platform/xls/Result.h"

#include <QDateTime>
#include <QStringList>

class QPagedPaintDevice;

namespace render {

struct PrintRequest {
    // &F of the header and footer: the workbook's name as the user knows it.
    QString fileName;
    QDateTime now = QDateTime::currentDateTime();
    // Take the paper the device is set to instead of setting the device to the sheet's.
    bool keepDevicePaper = false;
    // Only the pages from..to of those the sheet makes, counted from 1; 0 = all.
    int fromPage = 0, toPage = 0;
};

struct PrintResult {
    int pages = 0;
    QStringList notes;        // settings that were replaced, for the user
};

// Sets the device's page size and orientation to the sheet's (unless keepDevicePaper) and
// paints every page. Errors: no worksheet to print, or a painter the device refuses.
xls::Result<PrintResult> printWorkbook(QPagedPaintDevice &device, const xls::Workbook &book, const PrintRequest &request);

// The sheet's paper as a device page layout: size, orientation, no margins.
void applySheetPaper(QPagedPaintDevice &device, const xls::PageSetup &setup);

} // namespace render
