#pragma once
// Taking the sheet's picture from the system clipboard.
//
// The sheet's picture travels through the system clipboard, which belongs to the user. The
// keeper takes a copy of everything the clipboard held (every format) before the capture and
// puts it back afterwards, unless some other program or part of this one has put something
// there since the capture: then that newer content is left alone.
//
//   ClipboardKeeper keeper;     // before the capture
//   ... capture, picture file written ...
//   keeper.captureDone();       // what the clipboard holds now is the capture's
//   ... the run goes on (it may let other programs run) ...
//   keeper.restore();           // also done by the destructor

#include <QImage>
#include <QMetaObject>
#include <memory>

class QMimeData;

namespace workbook {

// The picture on the system clipboard, asked for up to 1000 times without a pause; a null
// image when every attempt failed, or when the picture there is not the one this program's
// latest copy put there. Format 0 lets the reader choose.
QImage GetClipboardPicture(int format);

class ClipboardKeeper {
public:
    ClipboardKeeper();
    ~ClipboardKeeper();
    ClipboardKeeper(const ClipboardKeeper &) = delete;
    ClipboardKeeper &operator=(const ClipboardKeeper &) = delete;

    void captureDone();
    void restore();

private:
    std::unique_ptr<QMimeData> m_saved;  // null where there is no clipboard (no GUI)
    const QMimeData *m_capture = nullptr;
    bool m_captureDone = false;
    bool m_changedSince = false;
    bool m_restored = false;
    QMetaObject::Connection m_watch;
};

} // namespace workbook
