#pragma once
// The system clipboard as a picture store: what a range's CopyPicture puts there and what
// the capture reads back. Both need a running QGuiApplication.
//
// The clipboard is shared with every other program on the display, which may take it at any
// moment (a clipboard manager, another copy of this program). Each copy is marked with a
// private format holding a value drawn afresh for it, and the capture takes only a picture
// that carries the mark of this program's latest copy.

#include <QImage>

namespace render {

// Places the image on the system clipboard with a new mark, replacing what is there. False
// (and the clipboard untouched) when there is no GUI application or the image is null.
bool copyImageToClipboard(const QImage &image);

// The picture on the system clipboard; a null image when it holds none (or there is no GUI
// application). Qt's reader first, then the platform's own bitmap (clipboardBitmap).
QImage clipboardImage();

// The picture on the system clipboard when it carries the mark of this program's latest
// copy; a null image otherwise. Once acceptUnmarkedPictures() was called, a picture with no
// mark at all is taken too.
QImage ownClipboardImage();

// A spreadsheet server in another process (an installed spreadsheet program, through COM)
// copies its pictures without this program's mark, and cannot be asked to add one: from the
// moment such a server is started, its unmarked pictures are the run's own.
void acceptUnmarkedPictures();

// The bitmap on the platform's own clipboard, read without Qt: on Windows CF_DIB, else
// CF_BITMAP, as a spreadsheet program leaves its copied picture there (a bitmap that another
// process put there may not reach Qt's OLE reader in a form it takes: under Wine the
// device-independent form made from it is offered with no storage medium). A null image
// where there is no such reader (X11's clipboard is Qt's) or no bitmap.
QImage clipboardBitmap();

} // namespace render
