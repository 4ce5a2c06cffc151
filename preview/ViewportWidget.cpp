#include "preview/ViewportWidget.h"

#include "shell/LookAndFeel.h"
#include "platform/render/SheetRenderer.h"
#include "platform/xls/Workbook.h"

#include <QAction>
#include <QApplication>
#include <QFrame>
#include <QImage>
#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <optional>
#include <cstring>
#include <stdexcept>
#include <vector>

#ifdef __linux__
#include <sys/mman.h>
#endif

namespace preview {

namespace {

const QString kRedrawImage = QStringLiteral("Form2.RedrawImage");
const QString kZoomInClick = QStringLiteral("Form2.PushButton1_Click");
const QString kZoomOutClick = QStringLiteral("Form2.PushButton2_Click");
const QString kMouseDown = QStringLiteral("Form2.picture1_MouseDown");
const QString kMouseMove = QStringLiteral("Form2.picture1_MouseMove");
const QString kMouseUp = QStringLiteral("Form2.Picture1_MouseUp");
const QString kMouseWheel = QStringLiteral("Form2.Picture1_MouseWheel");
const QString kKeyDown = QStringLiteral("Form2.Form_KeyDown");

// One line of scrolling, by a key or a wheel's line: an item row of the sheet.
constexpr double kLineTwips = 300;
// A wheel's notch, in the eighths of a degree wheel events count.
constexpr int kWheelNotch = 120;

int px(double twips)
{
    return twipsToPixels(twips);
}

QRect pixelRect(const TwipsRect &r)
{
    return QRect(px(r.left), px(r.top), px(r.width), px(r.height));
}

QScrollBar *makeScrollBar(Qt::Orientation orientation, const TwipsRect &place, QWidget *window)
{
    auto *bar = new QScrollBar(orientation, window);
    bar->setGeometry(pixelRect(place));
    const ScrollBarState initial;
    bar->setRange(initial.minimum, initial.maximum);
    bar->setSingleStep(initial.smallChange);
    bar->setPageStep(initial.largeChange);
    bar->setValue(initial.value);
    // Only a finished move counts: the picture stays put while the thumb is dragged.
    bar->setTracking(false);
    return bar;
}

// Memory for a persistent image. On Linux it is asked for in 2 MB pages: a zoomed full
// list touches some 23,000 ordinary pages the first time, which on some machines costs
// hundreds of milliseconds of page faults.
std::shared_ptr<uchar> allocateCanvas(std::size_t bytes)
{
    void *data = nullptr;
#ifdef __linux__
    constexpr std::size_t kHugePage = std::size_t(2) << 20;
    if (bytes >= kHugePage) {
        bytes = (bytes + kHugePage - 1) / kHugePage * kHugePage;
        data = std::aligned_alloc(kHugePage, bytes);
        if (data)
            madvise(data, bytes, MADV_HUGEPAGE); // only advice: plain pages work as well
    }
#endif
    if (!data)
        data = std::malloc(bytes);
    return std::shared_ptr<uchar>(static_cast<uchar *>(data), std::free);
}

// A plain stretch copy, no smoothing: every target pixel takes the source pixel under its
// centre. Rows that repeat a source row are copied whole, which is most of them when
// zooming in. Both images are 32 bits a pixel and source lies inside from.
void stretchCopy(const QImage &from, const QRect &source, QImage &to)
{
    const int width = to.width();
    const int height = to.height();
    std::vector<int> columns(static_cast<std::size_t>(width));
    for (int x = 0; x < width; ++x)
        columns[std::size_t(x)] =
            source.x() + int((2 * qint64(x) + 1) * source.width() / (2 * qint64(width)));

    const std::size_t rowBytes = std::size_t(width) * sizeof(quint32);
    int previous = -1;
    for (int y = 0; y < height; ++y) {
        const int row = source.y() + int((2 * qint64(y) + 1) * source.height() / (2 * qint64(height)));
        auto *out = reinterpret_cast<quint32 *>(to.scanLine(y));
        if (row == previous) {
            std::memcpy(out, to.constScanLine(y - 1), rowBytes);
            continue;
        }
        const auto *in = reinterpret_cast<const quint32 *>(from.constScanLine(row));
        for (int x = 0; x < width; ++x)
            out[x] = in[columns[std::size_t(x)]];
        previous = row;
    }
}

void applyScrollBar(QScrollBar *bar, const ScrollBarState &state)
{
    // The viewport has already run its change handler for this value.
    const QSignalBlocker blocker(bar);
    bar->setRange(state.minimum, state.maximum);
    bar->setValue(state.value);
    bar->setEnabled(state.enabled);
}

} // namespace

struct SheetSource {
    explicit SheetSource(xls::Workbook workbook) : book(std::move(workbook)) {}
    xls::Workbook book;
    std::optional<render::RangeDrawing> drawing; // refers to book
};

PictureBox::PictureBox(QWidget *parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void PictureBox::setPicture(const QImage &picture)
{
    m_picture = picture;
    m_sheet.reset();
    update();
}

void PictureBox::setSheet(std::shared_ptr<const SheetSource> sheet, QSizeF scale)
{
    m_picture = QImage();
    m_sheet = std::move(sheet);
    m_scale = scale;
    update();
}

void PictureBox::paintEvent(QPaintEvent *event)
{
    QPainter painter(this);
    const QRect area = event->rect();
    if (m_sheet && m_sheet->drawing) {
        // Only the part being repainted, drawn from the sheet at the box's scale; the painter
        // already carries the screen's pixel ratio, so the text is set at full resolution.
        painter.fillRect(area, Qt::white);
        painter.scale(m_scale.width(), m_scale.height());
        render::PaintOptions options;
        options.clip = QRectF(area.x() / m_scale.width(), area.y() / m_scale.height(),
                              area.width() / m_scale.width(), area.height() / m_scale.height());
        m_sheet->drawing->paint(painter, options);
        return;
    }
    const QRect covered = area & m_picture.rect();
    if (covered != area)
        painter.fillRect(area, Qt::white);
    if (!covered.isEmpty())
        painter.drawImage(covered, m_picture, covered);
}

// Brings the controls in line with the viewport when a handler ends, even by a failure,
// so that the screen always shows the state the viewport holds.
struct SyncOnExit {
    std::function<void()> sync;
    ~SyncOnExit() { sync(); }
};

ViewportWidget::ViewportWidget(QWidget *window)
    : QObject(window), m_viewport(Borders{float(kPicture2Border), 0, 0})
{
    m_picture2 = new QFrame(window);
    m_picture2->setFrameStyle(QFrame::Box | QFrame::Plain);
    m_picture2->setLineWidth(px(kPicture2Border));
    m_picture2->setGeometry(pixelRect(layout::kPicture2));
    m_picture2->setCursor(Qt::SizeAllCursor);
    shell::setBackColor(m_picture2, Qt::white);

    m_picture2Inside = new QWidget(m_picture2);
    m_picture2Inside->setGeometry(m_picture2->contentsRect());
    shell::setBackColor(m_picture2Inside, Qt::white);

    m_picture1 = new PictureBox(m_picture2Inside);
    m_picture1->installEventFilter(this);
    // The wheel over the picture or the white around it.
    m_picture2->installEventFilter(this);
    m_picture2Inside->installEventFilter(this);

    m_zoomOri = new PictureBox(window);
    m_zoomOri->hide();

    m_hScroll1 = makeScrollBar(Qt::Horizontal, layout::kHScroll1, window);
    m_vScroll1 = makeScrollBar(Qt::Vertical, layout::kVScroll1, window);
    connect(m_hScroll1, &QScrollBar::valueChanged, this, [this](int value) {
        const SyncOnExit s{[this] { sync(); }};
        m_viewport.setHScrollValue(int16_t(value));
    });
    connect(m_vScroll1, &QScrollBar::valueChanged, this, [this](int value) {
        const SyncOnExit s{[this] { sync(); }};
        m_viewport.setVScrollValue(int16_t(value));
    });

    wireKeys(window);
    sync();
}

ViewportWidget::~ViewportWidget() = default;

void ViewportWidget::wireKeys(QWidget *window)
{
    const auto add = [&](const QList<QKeySequence> &keys, const std::function<void()> &command) {
        auto *action = new QAction(window);
        action->setShortcuts(keys);
        action->setShortcutContext(Qt::WindowShortcut);
        connect(action, &QAction::triggered, this, command);
        window->addAction(action);
    };
    const auto page = [this](Qt::Orientation o) {
        // A page keeps one line of the last one in view.
        const Box &view = m_viewport.picture2();
        return (o == Qt::Horizontal ? view.innerWidth() : view.innerHeight()) - kLineTwips;
    };
    const auto key = [this](const std::function<void()> &command) { return [this, command] { guard(kKeyDown, command); }; };
    add({Qt::Key_Up}, key([this] { scrollBy(Qt::Vertical, -kLineTwips); }));
    add({Qt::Key_Down}, key([this] { scrollBy(Qt::Vertical, kLineTwips); }));
    add({Qt::Key_Left}, key([this] { scrollBy(Qt::Horizontal, -kLineTwips); }));
    add({Qt::Key_Right}, key([this] { scrollBy(Qt::Horizontal, kLineTwips); }));
    add({Qt::Key_PageUp}, key([this, page] { scrollBy(Qt::Vertical, -page(Qt::Vertical)); }));
    add({Qt::Key_PageDown}, key([this, page] { scrollBy(Qt::Vertical, page(Qt::Vertical)); }));
    add({Qt::Key_Home}, key([this] { scrollToEnd(Qt::Vertical, false); }));
    add({Qt::Key_End}, key([this] { scrollToEnd(Qt::Vertical, true); }));
    // Ctrl+= as well: the plus sign shares its key with it on many keyboards.
    add({QKeySequence::ZoomIn, QKeySequence(Qt::CTRL | Qt::Key_Equal)}, [this] { zoomIn(); });
    add({QKeySequence::ZoomOut}, [this] { zoomOut(); });
    add({QKeySequence(Qt::CTRL | Qt::Key_0)}, [this] { zoomToActualSize(); });
}

void ViewportWidget::scrollBy(Qt::Orientation orientation, double twips)
{
    const bool across = orientation == Qt::Horizontal;
    const int16_t step = across ? m_viewport.hStep() : m_viewport.vStep();
    if (step == 0)
        return; // the picture fits: nothing to scroll
    const ScrollBarState &bar = across ? m_viewport.hScroll() : m_viewport.vScroll();
    setScrollValue(orientation, bar.value + int(std::lround(twips / step)));
}

void ViewportWidget::scrollToEnd(Qt::Orientation orientation, bool last)
{
    const bool across = orientation == Qt::Horizontal;
    if ((across ? m_viewport.hStep() : m_viewport.vStep()) == 0)
        return;
    const ScrollBarState &bar = across ? m_viewport.hScroll() : m_viewport.vScroll();
    setScrollValue(orientation, last ? bar.maximum : bar.minimum);
}

void ViewportWidget::setScrollValue(Qt::Orientation orientation, int value)
{
    const SyncOnExit s{[this] { sync(); }};
    const ScrollBarState &bar = orientation == Qt::Horizontal ? m_viewport.hScroll() : m_viewport.vScroll();
    const auto v = int16_t(std::clamp(value, int(bar.minimum), int(bar.maximum)));
    if (orientation == Qt::Horizontal)
        m_viewport.setHScrollValue(v);
    else
        m_viewport.setVScrollValue(v);
}

void ViewportWidget::zoomAt(bool zoomOut, QPointF at)
{
    runGuarded(zoomOut ? kZoomOutClick : kZoomInClick, [&] {
        const float before = m_viewport.zoom();
        const QPointF view = at * kTwipsPerPixel;
        const QPointF onPicture = view - QPointF(m_viewport.picture1().left, m_viewport.picture1().top);
        const std::optional<Drawing> drawing = m_viewport.zoomStep(zoomOut ? 1 : 0);
        redraw(drawing);
        if (!drawing)
            return;
        // The zoom put the picture at its top left corner; the point goes back under the
        // pointer by the scroll bars, as near as their steps allow.
        const QPointF moved = onPicture * (double(m_viewport.zoom()) / before) - view;
        const auto value = [](const ScrollBarState &bar, int16_t step, double twips) {
            return int16_t(std::clamp(int(std::lround(twips / step)), int(bar.minimum), int(bar.maximum)));
        };
        if (m_viewport.hStep() != 0)
            m_viewport.setHScrollValue(value(m_viewport.hScroll(), m_viewport.hStep(), moved.x()));
        if (m_viewport.vStep() != 0)
            m_viewport.setVScrollValue(value(m_viewport.vScroll(), m_viewport.vStep(), moved.y()));
    });
}

void ViewportWidget::wheel(const QWheelEvent &event, QWidget *over)
{
    QPoint delta = event.angleDelta();
    if (event.modifiers() & Qt::ControlModifier) {
        // Fine-stepped wheels turn a notch in pieces: a zoom step for every whole notch.
        m_wheelZoom += delta.y() != 0 ? delta.y() : delta.x();
        const QPointF at = over->mapTo(m_picture2Inside, event.position());
        while (std::abs(m_wheelZoom) >= kWheelNotch) {
            const bool out = m_wheelZoom < 0;
            m_wheelZoom += out ? kWheelNotch : -kWheelNotch;
            zoomAt(out, at);
        }
        return;
    }
    // Shift turns the wheel sideways, where the system has not done so already.
    if ((event.modifiers() & Qt::ShiftModifier) && delta.x() == 0)
        delta = QPoint(delta.y(), 0);
    const double line = kLineTwips * QApplication::wheelScrollLines() / kWheelNotch;
    guard(kMouseWheel, [&] {
        if (delta.x() != 0)
            scrollBy(Qt::Horizontal, -delta.x() * line);
        if (delta.y() != 0)
            scrollBy(Qt::Vertical, -delta.y() * line);
    });
}

void ViewportWidget::setCapture(const QPixmap &capture)
{
    setCapture(capture.toImage());
}

void ViewportWidget::setCapture(const QImage &capture)
{
    // Flattened onto white, as the picture box shows it: every later copy is then a plain
    // copy of opaque pixels.
    if (capture.hasAlphaChannel()) {
        m_capture = QImage(capture.size(), QImage::Format_RGB32);
        m_capture.fill(Qt::white);
        QPainter painter(&m_capture);
        painter.drawImage(0, 0, capture);
    } else {
        m_capture = capture.convertToFormat(QImage::Format_RGB32);
    }
    dropSheet();
    m_picture1->setPicture(m_capture);
    m_viewport.assignPicture(float(capture.width() * kTwipsPerPixel),
                             float(capture.height() * kTwipsPerPixel));
    sync();
}

bool ViewportWidget::setSheetSource(const QString &workbookPath)
{
    dropSheet();
    if (workbookPath.isEmpty())
        return false;
    xls::Result<xls::Workbook> book = xls::Workbook::open(workbookPath);
    if (!book)
        return false;
    auto source = std::make_shared<SheetSource>(std::move(*book));
    // The capture pictures the active sheet's used range (an empty sheet's is A1).
    const int index = source->book.activeSheetIndex();
    if (index < 0 || index >= source->book.sheetCount())
        return false;
    const xls::CellRange range = source->book.sheet(index).usedRange().value_or(xls::CellRange{});
    xls::Result<render::RangeDrawing> drawing = render::RangeDrawing::layOut(source->book, index, range);
    // A sheet that does not draw to the capture's size is not what the capture shows: the
    // viewport's arithmetic is the capture's, so the capture stays what is shown.
    if (!drawing || drawing->size() != m_capture.size())
        return false;
    source->drawing.emplace(std::move(*drawing));
    m_sheet = std::move(source);
    // No zoomed picture is kept from now on.
    m_canvas.reset();
    m_canvasBytes = 0;
    return true;
}

void ViewportWidget::dropSheet()
{
    if (m_picture1->showsSheet())
        m_picture1->setPicture(m_capture);
    m_sheet.reset();
}

void ViewportWidget::setHandlerGuard(HandlerGuard guard)
{
    m_guard = std::move(guard);
}

void ViewportWidget::setHScrollbarByPercent(int16_t percent)
{
    const SyncOnExit s{[this] { sync(); }};
    m_viewport.setHScrollbarByPercent(percent);
}

void ViewportWidget::setVScrollbarByPercent(int16_t percent)
{
    const SyncOnExit s{[this] { sync(); }};
    m_viewport.setVScrollbarByPercent(percent);
}

void ViewportWidget::initialise()
{
    const SyncOnExit s{[this] { sync(); }};
    // Zoom_Ori shares the capture itself; every zoom scales from it.
    m_picture1->setPicture(m_capture);
    m_zoomOri->setPicture(m_capture);
    redraw(m_viewport.initialise());
}

void ViewportWidget::zoomIn()
{
    runGuarded(kZoomInClick, [this] { redraw(m_viewport.zoomStep(0)); });
}

void ViewportWidget::zoomOut()
{
    runGuarded(kZoomOutClick, [this] { redraw(m_viewport.zoomStep(1)); });
}

void ViewportWidget::zoomToActualSize()
{
    runGuarded(kKeyDown, [this] { redraw(m_viewport.setZoom(1.0f)); });
}

void ViewportWidget::runGuarded(const QString &location, const std::function<void()> &handler)
{
    guard(location, [&] {
        const SyncOnExit s{[this] { sync(); }};
        handler();
    });
}

void ViewportWidget::guard(const QString &location, const std::function<void()> &handler)
{
    if (m_guard) {
        m_guard(location, handler);
        return;
    }
    try {
        handler();
    } catch (...) {
    }
}

void ViewportWidget::redraw(const std::optional<Drawing> &drawing)
{
    if (!drawing)
        return;
    // A failed drawing is reported on its own and the pointer still goes back, as the
    // handler that asked for the drawing goes on.
    guard(kRedrawImage, [&] { draw(*drawing); });
    emit pointerReset();
}

void ViewportWidget::draw(const Drawing &drawing)
{
    // Cleared and resized first: a drawing that fails leaves an empty white picture of
    // the new size, never the old picture at the wrong scale.
    const QSize size(px(drawing.width), px(drawing.height));
    m_picture1->setPicture(QImage());
    m_picture1->resize(size);
    if (size.isEmpty())
        return;

    const QRect sourceRect(0, 0, px(drawing.sourceWidth), px(drawing.sourceHeight));
    if (m_sheet && !sourceRect.isEmpty()) {
        // The same mapping as the stretch below, from the sheet itself: drawn when shown.
        m_picture1->setSheet(m_sheet, QSizeF(double(size.width()) / sourceRect.width(),
                                             double(size.height()) / sourceRect.height()));
        emit pictureRedrawn(size);
        return;
    }
    const QImage &source = m_zoomOri->picture();
    QImage image = canvas(size);
    if (source.rect().contains(sourceRect) && !sourceRect.isEmpty()) {
        stretchCopy(source, sourceRect, image);
    } else {
        // Whatever the source rectangle leaves out of the capture stays white.
        image.fill(Qt::white);
        QPainter painter(&image);
        painter.drawImage(QRect(QPoint(0, 0), size), source, sourceRect);
    }
    m_picture1->setPicture(image);
    emit pictureRedrawn(size);
}

QImage ViewportWidget::canvas(QSize size)
{
    const std::size_t bytes = std::size_t(size.width()) * std::size_t(size.height()) * 4;
    if (bytes > m_canvasBytes) {
        m_canvas.reset(); // before the new one: at most one large image in memory
        m_canvasBytes = 0;
        m_canvas = allocateCanvas(bytes);
        if (!m_canvas)
            throw std::runtime_error("Out of memory");
        m_canvasBytes = bytes;
    }
    // The image keeps the memory alive for as long as any copy of it exists.
    auto *owner = new std::shared_ptr<uchar>(m_canvas);
    return QImage(
        m_canvas.get(), size.width(), size.height(), qsizetype(size.width()) * 4,
        QImage::Format_RGB32, [](void *info) { delete static_cast<std::shared_ptr<uchar> *>(info); },
        owner);
}

void ViewportWidget::sync()
{
    const Box &p1 = m_viewport.picture1();
    m_picture1->setGeometry(px(p1.left), px(p1.top), px(p1.width), px(p1.height));
    const Box &z = m_viewport.zoomOri();
    m_zoomOri->setGeometry(px(z.left), px(z.top), px(z.width), px(z.height));
    applyScrollBar(m_hScroll1, m_viewport.hScroll());
    applyScrollBar(m_vScroll1, m_viewport.vScroll());
    const int percent = int(std::lround(m_viewport.zoom() * 100));
    if (percent != m_shownPercent) {
        m_shownPercent = percent;
        emit zoomChanged(percent);
    }
}

QPointF ViewportWidget::toPicture1Twips(const QPointF &pixelPos) const
{
    // Measured from where the viewport holds Picture1 rather than from its whole-pixel
    // place on screen, so that rounding never creeps into a long drag.
    const QPointF inView = (pixelPos + m_picture1->pos()) * kTwipsPerPixel;
    return inView - QPointF(m_viewport.picture1().left, m_viewport.picture1().top);
}

bool ViewportWidget::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Wheel && (watched == m_picture1 || watched == m_picture2Inside || watched == m_picture2)) {
        const auto *we = static_cast<QWheelEvent *>(event);
        // Picture1 lies on the inside, which lies on Picture2: the first that sees it takes it.
        wheel(*we, static_cast<QWidget *>(watched));
        return true;
    }
    if (watched != m_picture1)
        return QObject::eventFilter(watched, event);

    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick: { // the second press of a double click grabs too
        const auto *me = static_cast<QMouseEvent *>(event);
        runGuarded(kMouseDown, [&] {
            const QPointF at = toPicture1Twips(me->position());
            m_viewport.mouseDown(float(at.x()), float(at.y()));
        });
        return true;
    }
    case QEvent::MouseMove: {
        const auto *me = static_cast<QMouseEvent *>(event);
        runGuarded(kMouseMove, [&] {
            const QPointF at = toPicture1Twips(me->position());
            m_viewport.mouseMove(me->buttons() != Qt::NoButton, float(at.x()), float(at.y()));
        });
        return true;
    }
    case QEvent::MouseButtonRelease:
        runGuarded(kMouseUp, [&] { m_viewport.mouseUp(); });
        return true;
    default:
        return QObject::eventFilter(watched, event);
    }
}

} // namespace preview
