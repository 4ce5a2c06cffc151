#pragma once
// The system clipboard as a picture store: what a range's CopyPicture puts there and what
// the capture reads back. Both need a running QGuiApplication.

#include <QImage>

namespace render {

// Places the image on the system clipboard, replacing what is there. False (and the
// clipboard untouched) when there is no GUI application or the image is null.
bool copyImageToClipboard(const QImage &image);

// The picture on the system clipboard; a null image when it holds none (or there is no GUI
// application).
QImage clipboardImage();

} // namespace render
