#include "platform/render/Clipboard.h"

#include <QClipboard>
#include <QGuiApplication>

namespace render {

bool copyImageToClipboard(const QImage &image)
{
    if (image.isNull() || !qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
        return false;
    QGuiApplication::clipboard()->setImage(image);
    return true;
}

QImage clipboardImage()
{
    if (!qobject_cast<QGuiApplication *>(QCoreApplication::instance()))
        return {};
    const QImage picture = QGuiApplication::clipboard()->image();
    return picture.isNull() ? clipboardBitmap() : picture;
}

} // namespace render
