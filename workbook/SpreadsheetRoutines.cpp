#include "workbook/SpreadsheetRoutines.h"

#include "workbook/Capture.h"

#include "shell/ErrorReport.h"
#include "platform/automation/ClassRegistry.h"
#include "platform/files/AtomicFile.h"

#include <QBuffer>
#include <QClipboard>
#include <QGuiApplication>
#include <QLocale>

using namespace automation;

namespace workbook {

namespace {
const QString kExcelProgId = QStringLiteral("Excel.Application");
}

ObjectRef OpenInNewExcel(const QString &path)
{
    ObjectRef app = requireObject(Variant(createObject(kExcelProgId)));
    requireObject(app->get(u"Workbooks"))->call(u"Open", {path});
    return app;
}

int32_t GetExcelFileFormat(const ObjectRef &application)
{
    QString versionText;
    if (!application) {
        ObjectRef app = requireObject(Variant(createObject(kExcelProgId)));
        versionText = app->get(u"Version").toString();
        app->call(u"Quit");
    } else {
        versionText = application->get(u"Version").toString();
    }
    const int16_t version = Variant(NormalizeDecimalText(versionText)).toInt16();
    return version > 11 ? xlExcel8 : xlNormal;
}

namespace {
// The last row or column of the used range: UsedRange.Rows(UsedRange.Rows.count).Row.
int32_t lastOfUsedRange(const ObjectRef &sheet, QStringView lines, QStringView number)
{
    ObjectRef part = requireObject(requireObject(sheet->get(u"UsedRange"))->get(lines));
    return requireObject(part->call(u"Item", {part->get(u"count")}))->get(number).toInt32();
}

void writePicture(const QImage &picture, const QString &path)
{
    if (picture.isNull())
        throw AutomationError(QStringLiteral("The clipboard holds no picture"));
    // Encoded whole first: the BMP writer's line-by-line writes cost more than the encoding.
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!picture.save(&buffer, "BMP"))
        throw AutomationError(QStringLiteral("Could not encode the picture for %1").arg(path));
    files::WriteOptions options;
    options.followLink = false;
    options.durable = false;
    const files::WriteOutcome outcome = files::writeFileAtomically(path, bytes, options);
    if (!outcome.written())
        throw AutomationError(QStringLiteral("Could not write the picture %1: %2").arg(path, outcome.reason));
}
} // namespace

void saveCellsActivesheet(const ObjectRef &workbook, const QString &path)
{
    shell::Guard g(u"Excel1.saveCellsActivesheet");
    ObjectRef sheet;
    int32_t lastRow = 0, lastColumn = 0;
    g.step(100, [&] { sheet = requireObject(requireObject(Variant(workbook))->get(u"ActiveSheet")); });
    g.step(102, [&] { lastRow = lastOfUsedRange(requireObject(Variant(sheet)), u"Rows", u"Row"); });
    g.step(104, [&] { lastColumn = lastOfUsedRange(requireObject(Variant(sheet)), u"Columns", u"Column"); });
    if (!g.test(106, [&] { return lastRow > 1 && lastColumn > 1; }))
        return;
    g.step(110, [&] {
        // Whatever picture the clipboard held before (an earlier run's, another
        // program's) must never be taken for this sheet's when the copy fails.
        if (QClipboard *clipboard = QGuiApplication::clipboard())
            clipboard->clear();
        requireObject(requireObject(Variant(sheet))->get(u"UsedRange"))->call(u"CopyPicture");
    });
    g.step(112, [&] { writePicture(GetClipboardPicture(0), path); });
}

QString GetDecimalSeparator()
{
    return QLocale().toString(0.5).trimmed().mid(1, 1);
}

QString NormalizeDecimalText(const QString &text)
{
    const QString separator = GetDecimalSeparator();
    QString normalized = text;
    normalized.replace(QLatin1Char('.'), separator);
    normalized.replace(QLatin1Char(','), separator);
    return normalized;
}

} // namespace workbook
