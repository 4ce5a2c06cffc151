#include "workbook/GenerationRun.h"

#include "workbook/Capture.h"
#include "workbook/FileRoutines.h"
#include "workbook/SpreadsheetRoutines.h"
#include "workbook/TemplateResource.h"

#include "shell/ErrorReport.h"
#include "shell/WindowPointer.h"
#include "platform/automation/ClassRegistry.h"
#include "lists/CategoryCatalog.h"
#include "platform/services/Paths.h"
#include "platform/facts/CellMapping.h"

#include <QImageReader>

using namespace automation;

namespace workbook {

namespace {
const QString kTemplateName = QStringLiteral("template.xlt");
const QString kPictureName = QStringLiteral("temp.bmp");

// The lines of the cell writes of the three column groups: right half (number, text)
// and left half (number, text).
struct GroupLines {
    int rightNumber, rightText, leftNumber, leftText;
};
constexpr GroupLines kGroupLines[3] = {
    {166, 168, 170, 172},
    {200, 202, 204, 206},
    {234, 236, 238, 240},
};

QImage loadPicture(const QString &path)
{
    QImageReader reader(path);
    reader.setDecideFormatFromContent(true);
    QImage picture = reader.read();
    if (picture.isNull())
        throw AutomationError(QStringLiteral("Could not load the picture %1: %2").arg(path, reader.errorString()));
    return picture;
}
} // namespace

NameDrawer::NameDrawer() : m_engine(std::random_device{}()) {}
NameDrawer::NameDrawer(std::mt19937::result_type seed) : m_engine(seed) {}

QString NameDrawer::draw()
{
    std::uniform_int_distribution<int> digit(1, 9);
    QString name = QStringLiteral("wendle");
    for (int d = 0; d < 8; ++d)
        name += QChar(u'0' + digit(m_engine));
    return name;
}

void PushButton1_Click(RunWindows &windows, NameDrawer &names)
{
    bool &generating = windows.generatingFlag();
    if (generating) // 100
        return;
    shell::Guard g(u"Form1.PushButton1_Click");
    g.step(102, [&] { generating = true; });
    g.step(104, [&] { windows.setMousePointer(shell::vbHourglass); });
    QByteArray bytes;
    g.step(106, [&] { bytes = LoadTemplateBytes(); });

    // Without a temporary folder every step that names a file fails in turn, rather
    // than writing next to the root of the file system.
    QString temp;
    const auto tempPath = [&temp](const QString &name) {
        if (temp.isEmpty())
            throw FollowOnError(QStringLiteral("No temporary folder to write %1 in").arg(name));
        return platform::joinPath(temp, name);
    };
    g.step(108, [&] {
        // Each run writes its files in a new private folder of its own: in a shared TEMP
        // another user's template.xlt, or a link named like one of our files, would
        // otherwise be opened, written through, or saved as this user's list.
        temp = platform::createRunFolder();
        WriteBytesToFile(bytes, tempPath(kTemplateName));
    });

    ObjectRef appA, bookW;
    g.step(110, [&] { appA = requireObject(Variant(createObject(QStringLiteral("Excel.Application")))); });
    g.step(112, [&] {
        ObjectRef books = requireObject(requireObject(Variant(appA))->get(u"Workbooks"));
        bookW = requireObject(books->call(u"Open", {tempPath(kTemplateName)}));
    });

    // 114 to 248: one late-bound write per cell.
    const auto writeCell = [&](int line, int row, int column, const std::function<Variant()> &value) {
        g.step(line, [&] {
            ObjectRef sheet = requireObject(requireObject(Variant(bookW))->get(u"ActiveSheet"));
            requireObject(sheet->call(u"Cells", {int16_t(row), int16_t(column)}))->put(u"Value", value());
        });
    };
    for (int i = 0; i < lists::kCategoryCount; ++i) { // 114
        int16_t n = 1; // 116; the row follows from the mapping (118 to 136, 242)
        const GroupLines &lines = kGroupLines[i % 3];
        // Items past the twentieth (only a restored list can hold them) would overwrite
        // the next band; they stay in the list but are not written to the sheet.
        const int count = std::min(g.loopCount(138, [&] { return windows.itemCount(i); }), facts::kItemsOnSheet);
        for (int k = 0; k < count; ++k) {
            const facts::ItemCells cells = facts::itemCells(i, k);
            const auto number = [n] { return Variant(n); };
            const auto text = [&] { return Variant(windows.item(i, k)); };
            if (k >= facts::kItemsPerHalf) {
                writeCell(lines.rightNumber, cells.row, cells.numberColumn, number);
                writeCell(lines.rightText, cells.row, cells.textColumn, text);
            } else {
                writeCell(lines.leftNumber, cells.row, cells.numberColumn, number);
                writeCell(lines.leftText, cells.row, cells.textColumn, text);
            }
            ++n; // 244
        } // 246
    } // 248

    g.step(250, [&] { windows.setMousePointer(shell::vbDefault); });
    QString path;
    do {
        const QString name = names.draw(); // 252 to 262
        g.step(264, [&] { path = tempPath(name + QStringLiteral(".xls")); });
    } while (g.test(266, [&] { return FileExists(path); }));

    g.step(268, [&] {
        const Variant format(GetExcelFileFormat(appA));
        requireObject(Variant(bookW))->call(u"SaveAs", {path}, {{QStringLiteral("FileFormat"), format}});
    });
    g.step(270, [&] { requireObject(Variant(appA))->put(u"DisplayAlerts", Variant::fromBool(false)); });
    g.step(272, [&] { requireObject(Variant(bookW))->call(u"Close"); });
    g.step(274, [&] { requireObject(Variant(appA))->call(u"Quit"); });
    g.step(276, [&] { bookW.reset(); appA.reset(); });
    g.step(278, [&] { RemoveFile(tempPath(kTemplateName)); });

    ObjectRef appB, bookV;
    g.step(280, [&] { appB = OpenInNewExcel(path); });
    g.step(282, [&] { windows.setMousePointer(shell::vbHourglass); });
    g.step(284, [&] {
        ObjectRef books = requireObject(requireObject(Variant(appB))->get(u"Workbooks"));
        bookV = requireObject(books->call(u"Item", {books->get(u"count")}));
    });
    ClipboardKeeper clipboard; // the capture goes through the user's clipboard
    QImage written;
    g.step(286, [&] { written = saveCellsActivesheet(bookV, tempPath(kPictureName)); });
    clipboard.captureDone();
    g.step(288, [&] { requireObject(Variant(appB))->put(u"DisplayAlerts", Variant::fromBool(false)); });
    g.step(290, [&] { requireObject(Variant(bookV))->call(u"Close"); });
    g.step(292, [&] { requireObject(Variant(appB))->call(u"Quit"); });
    g.step(294, [&] { windows.setMousePointer(shell::vbDefault); });

    g.step(296, [&] {
        // Emptied first: a picture that fails to load must not leave an earlier run's
        // picture beside this run's workbook.
        windows.setPreviewPicture(QImage());
        // The file in the run's private folder holds what was just written: decoding it again
        // would cost more than the rest of the run. Without a picture in hand it is loaded, and
        // a missing file fails here as it always did.
        windows.setPreviewPicture(written.isNull() ? loadPicture(tempPath(kPictureName)) : written);
    });
    g.step(298, [&] { windows.setPreviewWorkbook(path); });
    g.step(300, [&] { windows.showPreview(); });
    g.step(302, [&] { windows.hideMain(); });
    g.step(304, [&] { RemoveFile(tempPath(kPictureName)); });
    clipboard.restore();
    g.step(306, [&] { generating = false; });
}

} // namespace workbook
