#include "MainModule.h"

#include "workbook/Excel1.h"

#include "automation/ClassRegistry.h"
#include "services/FileSystem.h"

#include <QClipboard>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QFile>
#include <QLocale>

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

using namespace automation;

namespace workbook {

void WriteBytesToFile(const QByteArray &bytes, const QString &path)
{
    QCoreApplication::processEvents();
    if (FileExists(path))
        return;
    const QByteArray native = QFile::encodeName(path);
    // O_EXCL keeps the never-overwrite rule even against a file that appeared just now.
    const int fd = ::open(native.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0) {
        if (errno == EEXIST)
            return;
        throw AutomationError(QStringLiteral("Could not create %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno))));
    }
    const char *data = bytes.constData();
    qsizetype left = bytes.size();
    int error = 0;
    while (left > 0) {
        const ssize_t n = ::write(fd, data, size_t(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            error = errno;
            break;
        }
        data += n;
        left -= n;
    }
    if (::close(fd) != 0 && error == 0)
        error = errno;
    if (error != 0) {
        // A half-written file would later be taken for a whole one.
        ::unlink(native.constData());
        throw AutomationError(QStringLiteral("Could not write %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(error))));
    }
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
