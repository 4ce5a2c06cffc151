#pragma once
// The preview viewport without any widget: the frame Picture2 through which the picture
// box Picture1 is seen, the hidden unscaled copy Zoom_Ori, the scroll bars HScroll1 and
// VScroll1, the zoom factor and the drag state.
//
// Every length here is in twips, the unit the controls' positions and sizes and the
// mouse coordinates are given in; ViewportWidget maps them to pixels and back. Handlers
// run synchronously, as the platform runs them: setting a scroll bar's value runs that
// bar's change handler before the next statement, and only when the value changes.
//
// The viewport never calls out while it changes: each step finishes the new state and
// returns the drawing Picture1 needs, if any; the widget then draws once and moves its
// controls to the state held here.
//
// Widths and heights are kept as the controls keep them (single precision), so that
// comparisons between Picture1 and Picture2 see exactly what the controls hold.

#include "platform/facts/Twips.h"

#include <cstdint>
#include <optional>

namespace preview {

// The nearest whole pixel of a length in twips (what the screen can show of it).
using facts::kTwipsPerPixel;
using facts::twipsToPixels;

// The nearest integer, halves going to the even neighbour.
double roundHalfEven(double x);

struct TwipsRect {
    int left, top, width, height;
};

// Where the viewport's controls sit on the preview window, in twips.
namespace layout {
inline constexpr TwipsRect kPicture2{120, 120, 9330, 7425};
inline constexpr TwipsRect kPicture1{0, 0, 2340, 3435}; // inside Picture2; until the first capture
inline constexpr TwipsRect kZoomOri{10320, 480, 735, 375}; // outside the visible client area
inline constexpr TwipsRect kVScroll1{9450, 120, 255, 7425};
inline constexpr TwipsRect kHScroll1{120, 7545, 9330, 255};
inline constexpr TwipsRect kFrame1{120, 7860, 9600, 855};
inline constexpr TwipsRect kPushButton1{240, 300, 4440, 405}; // inside Frame1, "Zoom In"
inline constexpr TwipsRect kPushButton2{4800, 300, 4560, 405}; // inside Frame1, "Zoom Out"
} // namespace layout

// A picture box: position in its container, outer size (border included) and the
// border's thickness on each side. The inner size is what it can draw into.
struct Box {
    float left = 0;
    float top = 0;
    float width = 0;
    float height = 0;
    float border = 0;

    float innerWidth() const { return width - 2 * border; }
    float innerHeight() const { return height - 2 * border; }
};

// The parts of a scroll bar the viewport reads or changes; the program changes only
// enabled, maximum and value.
struct ScrollBarState {
    bool enabled = true;
    int16_t minimum = 0;
    int16_t maximum = 32767;
    int16_t smallChange = 1;
    int16_t largeChange = 1;
    int16_t value = 0;
};

// One redraw of Picture1: cleared, resized to width x height, and Zoom_Ori's picture
// stretched into it from the source rectangle at 0,0.
struct Drawing {
    int32_t width = 0;
    int32_t height = 0;
    int32_t sourceWidth = 0;
    int32_t sourceHeight = 0;
};

struct Borders {
    float picture2 = 0;
    float picture1 = 0;
    float zoomOri = 0;
};

class Viewport {
public:
    // A zoomed picture this many pixels wide or high (or more) is refused.
    static constexpr int kMaxZoomedPixels = 25000;
    static constexpr float kMinZoom = 0.25f;
    static constexpr float kMaxZoom = 4.0f;
    static constexpr float kZoomIncrement = 0.25f;
    // Up to this overflow the picture moves one twip per scroll unit, beyond it ten.
    static constexpr float kFineOverflow = 100;

    explicit Viewport(Borders borders = {});

    // A capture (size in twips) becomes Picture1's picture. Picture1 takes its size at
    // once when auto-size is on, which the first initialisation turns on.
    void assignPicture(float width, float height);

    // A returned drawing is Picture1's picture to draw anew, after which the window's
    // mouse pointer goes back to the default one; none when the picture stays as it is.

    // The first showing of a capture: factor 1, the picture at the top left corner.
    [[nodiscard]] std::optional<Drawing> initialise();
    // Scales Zoom_Ori's picture into Picture1 at the current factor; nothing when the
    // result would be too large (the factor then goes back to 1).
    std::optional<Drawing> redrawImage();
    // Picture1 back to the top left corner; scroll bars from the outer sizes.
    void initScrollbars();
    [[nodiscard]] std::optional<Drawing> zoomStep(int32_t zoomOut);
    [[nodiscard]] std::optional<Drawing> setZoom(float factor);

    // The scroll bars' change handlers: Picture1 follows the bar's value.
    void hScrollChange();
    void vScrollChange();
    // The user has moved a scroll bar to v; its change handler runs if that changed it.
    void setHScrollValue(int16_t v);
    void setVScrollValue(int16_t v);

    // Drag-panning; x and y are relative to Picture1.
    void mouseDown(float x, float y);
    void mouseMove(bool buttonHeld, float x, float y);
    void mouseUp();

    void setHScrollbarByPercent(int16_t percent);
    void setVScrollbarByPercent(int16_t percent);

    float zoom() const { return m_zoom; }
    int32_t origWidth() const { return m_origWidth; }
    int32_t origHeight() const { return m_origHeight; }
    int32_t zoomWidth() const { return m_zoomWidth; }
    int32_t zoomHeight() const { return m_zoomHeight; }
    int16_t hStep() const { return m_hStep; }
    int16_t vStep() const { return m_vStep; }
    float dragX() const { return m_dragX; }
    float dragY() const { return m_dragY; }
    const Box &picture2() const { return m_picture2; }
    const Box &picture1() const { return m_picture1; }
    const Box &zoomOri() const { return m_zoomOri; }
    const ScrollBarState &hScroll() const { return m_hScroll; }
    const ScrollBarState &vScroll() const { return m_vScroll; }

private:
    enum class Axis { Horizontal, Vertical };
    // One direction's share of the state, so that each rule is written once.
    struct AxisRef {
        float &offset; // Picture1's left or top
        float &size; // Picture1's outer width or height
        float viewOuter; // Picture2's outer width or height
        float viewInner; // Picture2's inner width or height
        ScrollBarState &bar;
        int16_t &step;
    };
    AxisRef axis(Axis a);

    void takeOrigSize();
    void initScrollbar(Axis a);
    void scrollChange(Axis a);
    void setScrollValue(Axis a, int16_t v);
    void setScrollMaximum(Axis a, int16_t m);
    void setScrollbarByPercent(Axis a, int16_t percent);
    int16_t releasePercent(Axis a);

    Box m_picture2;
    Box m_picture1;
    Box m_zoomOri;
    ScrollBarState m_hScroll;
    ScrollBarState m_vScroll;

    float m_pictureWidth = 0; // Picture1's picture as last assigned
    float m_pictureHeight = 0;
    bool m_autoSize = false;

    float m_zoom = 1.0f;
    int32_t m_origWidth = 0;
    int32_t m_origHeight = 0;
    int32_t m_zoomWidth = 0;
    int32_t m_zoomHeight = 0;
    float m_dragX = 0;
    float m_dragY = 0;
    int16_t m_hStep = 0;
    int16_t m_vStep = 0;
};

} // namespace preview
