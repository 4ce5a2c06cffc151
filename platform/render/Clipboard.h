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
// application).
QImage clipboardImage();

// The picture on the system clipboard when it carries the mark of this program's latest
// copy; a null image otherwise.
QImage ownClipboardImage();

} // namespace render
