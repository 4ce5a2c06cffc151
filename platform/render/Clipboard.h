#pragma once
// The system clipboard as a picture store: what a range's CopyPicture puts there and what
// the capture reads back. Both need a running QGuiApplication.

#include <QImage>

namespace render {

// Places the image on the system clipboard, replacing what is there. False (and the
// clipboard untouched) when there is no GUI application or the image is null.
bool copyImageToClipboard(const QImage &image);

// The picture on the system clipboard; a null image when it holds none (or there is no GUI
// application). Qt's reader first, then the platform's own bitmap (clipboardBitmap).
QImage clipboardImage();

// The bitmap on the platform's own clipboard, read without Qt: on Windows CF_DIB, else
// CF_BITMAP, as a spreadsheet program leaves its copied picture there (a bitmap that another
// process put there may not reach Qt's OLE reader in a form it takes: under Wine the
// device-independent form made from it is offered with no storage medium). A null image
// where there is no such reader (X11's clipboard is Qt's) or no bitmap.
QImage clipboardBitmap();

} // namespace render
