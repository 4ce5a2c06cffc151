#include "platform/services/FileSystem.h"

#include "platform/automation/ClassRegistry.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <cstring>
#include <unistd.h>

using namespace automation;

namespace platform {

namespace {
[[noreturn]] void raiseErrno(const QString &what, const QString &path)
{
    throw AutomationError(QStringLiteral("%1 %2: %3").arg(what, path, QString::fromLocal8Bit(std::strerror(errno))));
}

void deleteFile(const QString &path, bool force)
{
    const QFileInfo info(path);
    if (!info.exists() && !info.isSymLink())
        throw AutomationError(QStringLiteral("File not found: %1").arg(path));
    if (info.isDir() && !info.isSymLink())
        throw AutomationError(QStringLiteral("Path is a folder, not a file: %1").arg(path));
    const QByteArray native = QFile::encodeName(path);
    // The owner's write bit stands for the read-only attribute; checked by hand, since
    // access() would let root through.
    if (!info.isSymLink() && !(info.permissions() & QFileDevice::WriteOwner)) {
        if (!force)
            throw AutomationError(QStringLiteral("Permission denied: %1 is read-only").arg(path));
        QFile::setPermissions(path, info.permissions() | QFileDevice::WriteOwner);
    }
    if (::unlink(native.constData()) != 0)
        raiseErrno(QStringLiteral("Could not delete"), path);
}

class FileSystemObject : public DispatchObject {
public:
    FileSystemObject()
    {
        addGetter(QStringLiteral("DeleteFile"), [this](const Args &a) {
            expectArgs(u"DeleteFile", a, 1, 2);
            deleteFile(a.at(0).toString(), a.at(1, u"force").toBool());
            return Variant();
        });
        addGetter(QStringLiteral("FileExists"), [this](const Args &a) {
            expectArgs(u"FileExists", a, 1, 1);
            return Variant::fromBool(QFileInfo(a.at(0).toString()).isFile());
        });
    }
    QString className() const override { return QStringLiteral("FileSystemObject"); }
};
} // namespace

void Kill(const QString &path) { deleteFile(path, false); }

bool ReplaceFile(const QString &path, QByteArrayView bytes, const files::WriteOptions &options)
{
    const files::WriteOutcome outcome = files::writeFileAtomically(path, bytes, options);
    if (outcome.status == files::WriteStatus::Failed)
        throw AutomationError(QStringLiteral("Could not write %1: %2").arg(path, outcome.reason));
    return outcome.written();
}

void registerFileSystemObject()
{
    ClassRegistry::instance().registerClass(QStringLiteral("Scripting.FileSystemObject"),
                                            [] { return std::make_shared<FileSystemObject>(); });
}

} // namespace platform
