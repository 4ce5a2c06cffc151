#include "platform/render/Clipboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>
#include <QRandomGenerator>

namespace render {

namespace {
const QString kMarkFormat = QStringLiteral("application/x-pantrimo-copy-mark");

QByteArray &latestMark()
{
    static QByteArray mark;
    return mark;
}

bool haveGui() { return qobject_cast<QGuiApplication *>(QCoreApplication::instance()) != nullptr; }
} // namespace

bool copyImageToClipboard(const QImage &image)
{
    if (image.isNull() || !haveGui())
        return false;
    quint32 words[4];
    QRandomGenerator::system()->fillRange(words);
    const QByteArray mark(reinterpret_cast<const char *>(words), sizeof words);
    auto *data = new QMimeData;
    data->setImageData(image);
    data->setData(kMarkFormat, mark);
    latestMark() = mark;
    QGuiApplication::clipboard()->setMimeData(data);
    return true;
}

QImage clipboardImage()
{
    if (!haveGui())
        return {};
    const QImage picture = QGuiApplication::clipboard()->image();
    return picture.isNull() ? clipboardBitmap() : picture;
}

namespace {
bool g_unmarkedAccepted = false;
}

void acceptUnmarkedPictures() { g_unmarkedAccepted = true; }

QImage ownClipboardImage()
{
    if (!haveGui())
        return {};
    // The formats first: a foreign owner is asked for its list only, not for its picture.
    const QMimeData *data = QGuiApplication::clipboard()->mimeData();
    if (g_unmarkedAccepted && !(data && data->hasFormat(kMarkFormat)))
        return clipboardImage();
    if (latestMark().isEmpty())
        return {};
    if (!data || !data->hasFormat(kMarkFormat) || data->data(kMarkFormat) != latestMark())
        return {};
    return qvariant_cast<QImage>(data->imageData());
}

} // namespace render
