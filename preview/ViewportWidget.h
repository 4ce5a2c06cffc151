#pragma once
// The preview viewport on screen. ViewportWidget puts the viewport's controls on the
// preview window at their places and keeps them in step with a Viewport, which holds
// the state and does all the arithmetic in twips:
//
//   Picture2  a framed, white view with the size-all pointer (QFrame); the picture is
//             clipped to the inside of its frame
//   Picture1  a PictureBox moving inside Picture2; its left and top are the pan offset
//   Zoom_Ori  a hidden PictureBox holding the unscaled capture that every zoom starts from
//
//   HScroll1, VScroll1  scroll bars reporting only finished moves (no tracking)
//
// Picture1 shows the zoomed picture in one of two ways:
//   - from the sheet (when the window hands over the workbook the built-in server made and
//     pictured, setSheetSource): each paint draws only the visible part, straight from the
//     sheet at the zoom times the screen's pixel ratio, so text stays sharp at 400 % and on
//     dense screens, and no zoomed picture is kept in memory;
//   - from the capture (any other server's picture): stretched into memory kept from one zoom
//     to the next (its persistent image): a zoomed full list is some 100 MB, and mapping that
//     afresh on every zoom costs more than the drawing itself.
// Either way the viewport's twips arithmetic decides every size and position.
//
// Events arrive here, go to the Viewport in twips, and the controls are then moved to
// where the Viewport says. Only an accepted zoom scales the picture (once, from
// Zoom_Ori); dragging and scrolling only move Picture1.
//
// Steering as in any viewer: over the picture the wheel scrolls down and up, with Shift
// sideways, and with Ctrl zooms one step about the pointer; in the window the arrow keys,
// Page Up/Down and Home/End scroll, Ctrl++, Ctrl+- and Ctrl+0 zoom in, out and to 100 %.
// Every move goes through the scroll bars' values, so the picture only ever stands where a
// scroll bar can put it.
//
// The window wires its zoom buttons to zoomIn() and zoomOut(), calls setCapture() with
// the generation run's picture and initialise() when it becomes active with a new
// capture, and installs a HandlerGuard to report failures of the handlers.

#include "preview/Viewport.h"

#include <QImage>
#include <QObject>
#include <QPixmap>
#include <QString>
#include <QWidget>

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>

class QFrame;
class QScrollBar;
class QWheelEvent;

namespace preview {

// A sheet laid out for drawing, with the workbook it was read from.
struct SheetSource;

// A picture box without a border: its picture at the top left corner on white, or a sheet
// drawn at a scale.
class PictureBox : public QWidget {
public:
    explicit PictureBox(QWidget *parent);

    // Shows the picture (and no sheet).
    void setPicture(const QImage &picture);
    // Shows the sheet instead of a picture, scaled from the sheet's pixels to this box's.
    void setSheet(std::shared_ptr<const SheetSource> sheet, QSizeF scale);
    // Picture1's image is redrawn in place by the next zoom: copy() it to keep it. Null while
    // the box shows a sheet.
    const QImage &picture() const { return m_picture; }
    bool showsSheet() const { return m_sheet != nullptr; }
    QSizeF sheetScale() const { return m_scale; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QImage m_picture;
    std::shared_ptr<const SheetSource> m_sheet;
    QSizeF m_scale{1, 1};
};

class ViewportWidget : public QObject {
    Q_OBJECT
public:
    // Runs one handler (or the drawing step of the redraw) under the name the error
    // report shows, e.g. "Form2.PushButton1_Click". A guard that catches a failure and
    // reports it lets the handler's caller go on with its next step. Without a guard,
    // failures are dropped, so that none unwinds through the event loop.
    using HandlerGuard =
        std::function<void(const QString &location, const std::function<void()> &handler)>;

    // Creates the controls as children of window, at their places in twips from its
    // top left corner.
    explicit ViewportWidget(QWidget *window);

    ~ViewportWidget() override;

    // The generation run's picture becomes Picture1's picture (and any earlier sheet source
    // is dropped: it belonged to the earlier picture).
    void setCapture(const QImage &capture);
    void setCapture(const QPixmap &capture);
    // The workbook the capture was taken from (its active sheet's used range), when the
    // built-in server made both: from the next redraw on, Picture1 draws that sheet itself.
    // False, and the capture stretched as before, when the path is empty, the workbook
    // cannot be read or its sheet's picture is not the capture's size.
    bool setSheetSource(const QString &workbookPath);
    bool drawsSheet() const { return m_sheet != nullptr; }
    void setHandlerGuard(HandlerGuard guard);

    // Public methods of the preview window: the scroll bar follows a percentage.
    void setHScrollbarByPercent(int16_t percent);
    void setVScrollbarByPercent(int16_t percent);

    // The picture moved by about so many twips (right and down for positive), as far as
    // the scroll bar goes.
    void scrollBy(Qt::Orientation orientation, double twips);
    // To the first (false) or last (true) position of that scroll bar.
    void scrollToEnd(Qt::Orientation orientation, bool last);
    // One step in or out (zoomOut), keeping the point of Picture1 under at (in pixels of
    // the viewport's inside) where it is, as far as the scroll bars allow.
    void zoomAt(bool zoomOut, QPointF at);

    const Viewport &viewport() const { return m_viewport; }
    QFrame *picture2() const { return m_picture2; }
    PictureBox *picture1() const { return m_picture1; }
    PictureBox *zoomOri() const { return m_zoomOri; }
    QScrollBar *hScroll1() const { return m_hScroll1; }
    QScrollBar *vScroll1() const { return m_vScroll1; }

    // Borders in twips on each side; Picture1 and Zoom_Ori have none.
    static constexpr int kPicture2Border = kTwipsPerPixel;

public slots:
    // First showing of the capture: factor 1, top left corner, scroll bars set up.
    void initialise();
    void zoomIn(); // "Zoom In" (PushButton1_Click)
    void zoomOut(); // "Zoom Out" (PushButton2_Click)
    void zoomToActualSize(); // Ctrl+0: back to 100 %

signals:
    // Picture1 was scaled and drawn anew, at this size in pixels.
    void pictureRedrawn(QSize pixelSize);
    // The window's own mouse pointer goes back to the default one.
    void pointerReset();
    // The factor now shown, in whole percent, whenever it changes.
    void zoomChanged(int percent);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // The handler under its name, with the controls brought in line when it ends.
    void runGuarded(const QString &location, const std::function<void()> &handler);
    // The handler under its name, nothing more.
    void guard(const QString &location, const std::function<void()> &handler);
    // Draws what the viewport asked for, if anything, once its state has settled.
    void redraw(const std::optional<Drawing> &drawing);
    void draw(const Drawing &drawing);
    void sync();
    QPointF toPicture1Twips(const QPointF &pixelPos) const;
    QImage canvas(QSize size);

    void dropSheet();
    void wireKeys(QWidget *window);
    void wheel(const QWheelEvent &event, QWidget *over);
    void setScrollValue(Qt::Orientation orientation, int value);

    Viewport m_viewport;
    QImage m_capture; // opaque, 32 bits a pixel
    std::shared_ptr<const SheetSource> m_sheet;
    std::shared_ptr<uchar> m_canvas; // Picture1's persistent image, reused across zooms
    std::size_t m_canvasBytes = 0;
    HandlerGuard m_guard;
    int m_wheelZoom = 0; // eighths of a degree turned with Ctrl not yet used for a step
    int m_shownPercent = 0;

    QFrame *m_picture2 = nullptr;
    QWidget *m_picture2Inside = nullptr; // the inner area, which clips Picture1
    PictureBox *m_picture1 = nullptr;
    PictureBox *m_zoomOri = nullptr;
    QScrollBar *m_hScroll1 = nullptr;
    QScrollBar *m_vScroll1 = nullptr;
};

} // namespace preview
