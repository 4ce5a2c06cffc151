#include "workbook/SpreadsheetRoutines.h"

#include "workbook/Capture.h"

#include "shell/ErrorReport.h"
#include "platform/automation/ClassRegistry.h"
#include "platform/files/AtomicFile.h"

#include <QBuffer>
#include <QClipboard>
#include <QGuiApplication>
#include <QLocale>
#include <QMimeData>

using namespace automation;

namespace workbook {

namespace {
const QString kExcelProgId = QStringLiteral("Excel.Application");
// Copies made again when another program took the clipboard before the picture was read.
constexpr int kCopyAgain = 3;
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

// What loading the BMP file gives back, without reading it: the BMP writer takes 24 bits of
// each pixel's colour, unpremultiplied, and drops the alpha (it does not blend). A null image
// for the pictures it writes otherwise (8 bits or fewer a pixel): those are loaded from the file.
QImage asWritten(const QImage &picture)
{
    if (picture.format() == QImage::Format_RGB32)
        return picture;
    if (picture.depth() <= 8)
        return {};
    if (!picture.hasAlphaChannel())
        return picture.convertToFormat(QImage::Format_RGB32);
    QImage opaque = picture.convertToFormat(QImage::Format_ARGB32);
    for (int y = 0; y < opaque.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(opaque.scanLine(y));
        for (int x = 0; x < opaque.width(); ++x)
            line[x] |= 0xff000000u;
    }
    opaque.reinterpretAsFormat(QImage::Format_RGB32);
    return opaque;
}

// Answers the picture as the file holds it (asWritten).
QImage writePicture(const QImage &picture, const QString &path)
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
    return asWritten(picture);
}
} // namespace

QImage saveCellsActivesheet(const ObjectRef &workbook, const QString &path)
{
    QImage written;
    shell::Guard g(u"Excel1.saveCellsActivesheet");
    ObjectRef sheet;
    int32_t lastRow = 0, lastColumn = 0;
    g.step(100, [&] { sheet = requireObject(requireObject(Variant(workbook))->get(u"ActiveSheet")); });
    g.step(102, [&] { lastRow = lastOfUsedRange(requireObject(Variant(sheet)), u"Rows", u"Row"); });
    g.step(104, [&] { lastColumn = lastOfUsedRange(requireObject(Variant(sheet)), u"Columns", u"Column"); });
    if (!g.test(106, [&] { return lastRow > 1 && lastColumn > 1; }))
        return written;
    const auto copy = [&] {
        // Whatever picture the clipboard held before (an earlier run's, another
        // program's) must never be taken for this sheet's when the copy fails.
        if (QClipboard *clipboard = QGuiApplication::clipboard())
            clipboard->clear();
        requireObject(requireObject(Variant(sheet))->get(u"UsedRange"))->call(u"CopyPicture");
    };
    bool copied = false;
    g.step(110, [&] {
        copy();
        copied = true;
    });
    g.step(112, [&] {
        QImage picture = GetClipboardPicture(0);
        // Another program took the clipboard between the copy and the read: copied again, a
        // few times, for one that only passed by; one that keeps taking it is named.
        for (int again = 0; copied && picture.isNull() && again < kCopyAgain; ++again) {
            copy();
            picture = GetClipboardPicture(0);
        }
        const QClipboard *clipboard = QGuiApplication::clipboard();
        const QMimeData *held = clipboard ? clipboard->mimeData() : nullptr;
        if (copied && picture.isNull() && held && held->hasImage())
            throw AutomationError(QStringLiteral("The picture of the sheet was taken by another program; please try again."));
        written = writePicture(picture, path);
    });
    return written;
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
