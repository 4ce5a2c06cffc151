#include "workbook/Capture.h"

#include "platform/render/Clipboard.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

namespace workbook {

namespace {
QClipboard *systemClipboard()
{
    return qobject_cast<QGuiApplication *>(QCoreApplication::instance()) ? QGuiApplication::clipboard() : nullptr;
}

// A copy that stays valid when the clipboard changes hands: the data of every format, and
// the image and colour, which an in-process clipboard keeps as values rather than bytes.
std::unique_ptr<QMimeData> copyOf(const QMimeData *source)
{
    auto copy = std::make_unique<QMimeData>();
    if (!source)
        return copy;
    for (const QString &format : source->formats())
        copy->setData(format, source->data(format));
    if (source->hasImage())
        copy->setImageData(source->imageData());
    if (source->hasColor())
        copy->setColorData(source->colorData());
    return copy;
}
} // namespace

QImage GetClipboardPicture(int /*format: the reader picks the picture format itself*/)
{
    QImage picture;
    for (int attempt = 0; attempt < 1000 && picture.isNull(); ++attempt) {
        try {
            if (QGuiApplication::clipboard())
                picture = render::clipboardImage();
        } catch (...) {
            // A failed attempt is retried at once, as the clipboard may be held by another program.
        }
    }
    return picture;
}

ClipboardKeeper::ClipboardKeeper()
{
    if (QClipboard *clipboard = systemClipboard())
        m_saved = copyOf(clipboard->mimeData());
}

ClipboardKeeper::~ClipboardKeeper() { restore(); }

void ClipboardKeeper::captureDone()
{
    QClipboard *clipboard = systemClipboard();
    if (!clipboard || m_captureDone)
        return;
    m_captureDone = true;
    m_capture = clipboard->mimeData();
    m_watch = QObject::connect(clipboard, &QClipboard::dataChanged, clipboard, [this] { m_changedSince = true; });
}

void ClipboardKeeper::restore()
{
    if (m_restored || !m_saved)
        return;
    m_restored = true;
    QClipboard *clipboard = systemClipboard();
    if (!clipboard)
        return;
    QObject::disconnect(m_watch);
    // Another owner since the capture: the clipboard is theirs now.
    if (m_changedSince || (m_captureDone && clipboard->mimeData() != m_capture))
        return;
    if (m_saved->formats().isEmpty())
        clipboard->clear();
    else
        clipboard->setMimeData(m_saved.release());
}

} // namespace workbook
