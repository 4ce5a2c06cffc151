// libFuzzer entry point over the workbook reader. A file that loads must also save, and what
// it saves must load again with the same cells: a writer fault shows up as a crash here.
// Opening reads the drawing records too (the BLIP store, the shapes, OBJ + IMDATA), so the
// picture decoder is searched along with the rest.

#include "platform/xls/PageSetup.h"
#include "platform/xls/Workbook.h"

#include <cstdlib>
#include <set>
#include <stdexcept>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    xls::Result<xls::Workbook> wb = xls::Workbook::fromBytes({data, size}, QStringLiteral("fuzz.xls"));
    if (!wb)
        return 0;
    for (int i = 0; i < wb->sheetCount(); ++i) {
        const xls::Worksheet &s = wb->sheet(i);
        for (const auto &[key, cell] : s.cells()) {
            (void)wb->text(cell);
            (void)wb->font(wb->xf(cell.xf).fontIndex);
        }
        (void)s.usedRange();
        (void)s.drawingRecords();
        // However often the file repeats a picture, it is held once: never much more than
        // the file's own size in all.
        std::set<const void *> held;
        size_t pictureBytes = 0;
        for (const xls::SheetPicture &p : s.pictures())
            if (held.insert(p.image.data.get()).second)
                pictureBytes += p.image.bytes().size();
        if (pictureBytes > 2 * size + 64)
            abort();
        // Print settings: every value read must be one a page can use.
        const xls::PageSetup setup = xls::readPageSetup(*wb, i);
        if (setup.scalePercent < 10 || setup.scalePercent > 400 || setup.paper.points.isEmpty()
            || setup.rowBreaks.size() > 1026 || setup.columnBreaks.size() > 1026 || setup.margins.left < 0
            || setup.margins.top < 0 || setup.margins.header < 0 || (setup.fitToPages && !setup.fitWidth && !setup.fitHeight))
            abort();
        const xls::CellRange range = xls::printRange(*wb, i, setup);
        if (range.firstRow > range.lastRow || range.firstCol > range.lastCol || range.lastCol > 255)
            abort();
        (void)xls::expandHeaderFooter(setup.header + setup.footer, {1, 1, {}, QStringLiteral("f.xls"), s.name()});
    }
    if (wb->sheetCount() > 0 && wb->sheet(0).isWorksheet()) {
        try {
            wb->sheet(0).setText(0, 0, QStringLiteral("fuzz \u00e9"));
        } catch (const std::invalid_argument &) {
            // A1 inside an array of several cells: the write is refused, as a spreadsheet
            // program refuses it, and the file saves as it was read.
        }
    }
    xls::Result<std::vector<uint8_t>> bytes = wb->toBytes();
    if (!bytes)
        return 0; // the container refused; not a crash
    xls::Result<xls::Workbook> again = xls::Workbook::fromBytes(*bytes, QStringLiteral("resaved.xls"));
    if (!again) {
        fprintf(stderr, "saved workbook does not load: %s\n", qPrintable(again.error().message));
        abort();
    }
    if (again->sheetCount() != wb->sheetCount())
        abort();
    return 0;
}
