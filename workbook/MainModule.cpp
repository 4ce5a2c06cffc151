#include "workbook/MainModule.h"

#include "workbook/Excel1.h"

#include "platform/automation/ClassRegistry.h"
#include "platform/services/FileSystem.h"
#include "platform/services/Paths.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QFile>
#include <QLocale>


using namespace automation;

namespace workbook {

void WriteBytesToFile(const QByteArray &bytes, const QString &path)
{
    QCoreApplication::processEvents();
    if (FileExists(path))
        return;
    // Never over an existing file, not even one that appeared just now, never through a
    // link, and never half a file under the name: a partial template would later be
    // opened as a whole one.
    files::WriteOptions options;
    options.replace = false;
    options.followLink = false;
    options.durable = false;
    platform::ReplaceFile(path, bytes, options);
}

void RemoveRunWorkbook(const QString &path)
{
    RemoveFile(path);
    platform::removeRunFolder(platform::runFolderOf(path));
}

void ForceDeleteFile(const QString &path)
{
    ObjectRef fso = requireObject(Variant(createObject(QStringLiteral("Scripting.FileSystemObject"))));
    fso->call(u"DeleteFile", {path, Variant::fromBool(true)});
}

void RemoveFile(const QString &path)
{
    QCoreApplication::processEvents();
    try {
        platform::Kill(path);
    } catch (...) {
        try {
            ForceDeleteFile(path);
        } catch (...) {
            // Quiet by intent: a file that cannot be removed is left where it is.
        }
    }
}

QImage GetClipboardPicture(int /*format: the reader picks the picture format itself*/)
{
    QImage picture;
    for (int attempt = 0; attempt < 1000 && picture.isNull(); ++attempt) {
        try {
            if (QClipboard *clipboard = QGuiApplication::clipboard())
                picture = clipboard->image();
        } catch (...) {
            // A failed attempt is retried at once, as the clipboard may be held by another program.
        }
    }
    return picture;
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
