#include "workbook/FileRoutines.h"

#include "platform/automation/ClassRegistry.h"
#include "platform/services/FileSystem.h"
#include "platform/services/Paths.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>

using namespace automation;

namespace workbook {

bool FileExists(const QString &path)
{
    if (path.isEmpty())
        return false;
    // Through links, as the system's existence test goes; QFileInfo takes every name Windows
    // can spell, where stat() there takes only those of the local code page.
    return QFileInfo::exists(path);
}

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

} // namespace workbook
