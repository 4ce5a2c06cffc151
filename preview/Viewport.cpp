#include "preview/Viewport.h"

#include <algorithm>
#include <climits>
#include <cmath>

namespace preview {

namespace {

constexpr int16_t kScrollLimit = INT16_MAX;

Box boxAt(const TwipsRect &r, float border)
{
    return Box{float(r.left), float(r.top), float(r.width), float(r.height), border};
}

// Values beyond the 16-bit range only ever meet guards that refuse anything above 100 %
// or above a maximum, so pinning them to the range keeps every outcome and avoids the
// overflow a plain conversion would raise.
int16_t toInt16Saturated(double v)
{
    if (std::isnan(v))
        return 0;
    return int16_t(std::clamp(v, double(INT16_MIN), double(INT16_MAX)));
}

// The offset Picture1 may take in one direction, given how far it could go
// (view inner size - picture outer size). A picture that fits stays at 0 instead of
// being pushed against the far edge.
float clampedOffset(float wanted, float lowest)
{
    return std::clamp(wanted, std::min(lowest, 0.0f), 0.0f);
}

} // namespace

double roundHalfEven(double x)
{
    const double lower = std::floor(x);
    const double diff = x - lower;
    if (diff < 0.5)
        return lower;
    if (diff > 0.5)
        return lower + 1;
    return std::fmod(lower, 2.0) == 0 ? lower : lower + 1;
}

Viewport::Viewport(Borders borders)
    : m_picture2(boxAt(layout::kPicture2, borders.picture2)),
      m_picture1(boxAt(layout::kPicture1, borders.picture1)),
      m_zoomOri(boxAt(layout::kZoomOri, borders.zoomOri))
{
}

void Viewport::assignPicture(float width, float height)
{
    m_pictureWidth = std::max(width, 0.0f);
    m_pictureHeight = std::max(height, 0.0f);
    if (m_autoSize) {
        m_picture1.width = m_pictureWidth + 2 * m_picture1.border;
        m_picture1.height = m_pictureHeight + 2 * m_picture1.border;
    }
}

std::optional<Drawing> Viewport::initialise()
{
    // Auto-size takes the picture's size at once. A zoom has already replaced Picture1's
    // picture by its drawing when the capture is shown a second time without a new one;
    // starting again from the capture itself keeps the unscaled copy intact.
    m_autoSize = true;
    assignPicture(m_pictureWidth, m_pictureHeight);

    m_zoomOri.width = m_picture1.width;
    m_zoomOri.height = m_picture1.height;

    m_zoom = 1.0f;
    takeOrigSize();
    m_zoomWidth = m_origWidth;
    m_zoomHeight = m_origHeight;
    const std::optional<Drawing> drawing = redrawImage();
    initScrollbars();
    return drawing;
}

void Viewport::takeOrigSize()
{
    // The two twips are part of the rule whatever the border. An empty capture gives an
    // empty picture rather than a negative size.
    m_origWidth = std::max<int32_t>(0, int32_t(roundHalfEven(m_zoomOri.innerWidth() - 2.0f)));
    m_origHeight = std::max<int32_t>(0, int32_t(roundHalfEven(m_zoomOri.innerHeight() - 2.0f)));
}

std::optional<Drawing> Viewport::redrawImage()
{
    const double width = std::floor(double(m_origWidth) * double(m_zoom));
    const double height = std::floor(double(m_origHeight) * double(m_zoom));

    // Counted in pixels: in twips the limit would already refuse 125 % of a full list.
    if (twipsToPixels(width) >= kMaxZoomedPixels || twipsToPixels(height) >= kMaxZoomedPixels) {
        m_zoom = 1.0f;
        takeOrigSize();
        m_zoomWidth = m_origWidth;
        m_zoomHeight = m_origHeight;
        return std::nullopt;
    }
    m_zoomWidth = int32_t(width);
    m_zoomHeight = int32_t(height);

    m_picture1.width = float(m_zoomWidth);
    m_picture1.height = float(m_zoomHeight);
    setScrollValue(Axis::Horizontal, 0);
    setScrollValue(Axis::Vertical, 0);
    // Inner sizes here, outer ones in initScrollbars(), which always runs next and decides.
    m_hScroll.enabled = m_picture2.innerWidth() < float(m_zoomWidth);
    m_vScroll.enabled = m_picture2.innerHeight() < float(m_zoomHeight);
    return Drawing{m_zoomWidth, m_zoomHeight, m_origWidth, m_origHeight};
}

void Viewport::initScrollbars()
{
    m_picture1.top = 0;
    m_picture1.left = 0;
    initScrollbar(Axis::Horizontal);
    initScrollbar(Axis::Vertical);
}

void Viewport::initScrollbar(Axis a)
{
    AxisRef ax = axis(a);
    if (ax.size <= ax.viewOuter) {
        ax.bar.enabled = false;
        ax.step = 0;
        return;
    }
    const float overflow = ax.size - ax.viewOuter;
    ax.bar.enabled = true;
    if (overflow <= kFineOverflow) {
        setScrollMaximum(a, int16_t(roundHalfEven(overflow)));
        ax.step = 1;
    } else {
        // Ten twips a unit. Only pictures over about 22,000 pixels would need more units
        // than a 16-bit maximum holds; they take a coarser step instead of overflowing.
        int16_t step = 10;
        double units = roundHalfEven(overflow / 10.0f);
        while (units > kScrollLimit && step < 10000) {
            step = int16_t(step * 10);
            units = roundHalfEven(overflow / float(step));
        }
        setScrollMaximum(a, toInt16Saturated(units));
        ax.step = step;
    }
    setScrollValue(a, 0);
}

std::optional<Drawing> Viewport::zoomStep(int32_t zoomOut)
{
    const float factor = zoomOut != 0 ? m_zoom - kZoomIncrement : m_zoom + kZoomIncrement;
    return setZoom(factor);
}

std::optional<Drawing> Viewport::setZoom(float factor)
{
    // Quarter steps from 1.0 are exact in binary, so the bounds compare exactly.
    if (!(factor >= kMinZoom && factor <= kMaxZoom))
        return std::nullopt;
    m_zoom = factor;
    const std::optional<Drawing> drawing = redrawImage();
    initScrollbars();
    return drawing;
}

void Viewport::hScrollChange()
{
    scrollChange(Axis::Horizontal);
}

void Viewport::vScrollChange()
{
    scrollChange(Axis::Vertical);
}

void Viewport::scrollChange(Axis a)
{
    AxisRef ax = axis(a);
    // 32-bit: at 400 % a full list scrolls over 80,000 twips, far past a 16-bit product.
    ax.offset = -float(int32_t(ax.step) * int32_t(ax.bar.value));
}

void Viewport::setHScrollValue(int16_t v)
{
    setScrollValue(Axis::Horizontal, v);
}

void Viewport::setVScrollValue(int16_t v)
{
    setScrollValue(Axis::Vertical, v);
}

void Viewport::setScrollValue(Axis a, int16_t v)
{
    ScrollBarState &bar = axis(a).bar;
    v = std::clamp(v, bar.minimum, bar.maximum);
    if (v == bar.value)
        return;
    bar.value = v;
    scrollChange(a);
}

void Viewport::setScrollMaximum(Axis a, int16_t m)
{
    ScrollBarState &bar = axis(a).bar;
    bar.maximum = std::max(m, bar.minimum);
    // A bar pulls its value inside a shrunken range, and that is a change like any other.
    if (bar.value > bar.maximum)
        setScrollValue(a, bar.maximum);
}

void Viewport::mouseDown(float x, float y)
{
    m_dragX = x;
    m_dragY = y;
}

void Viewport::mouseMove(bool buttonHeld, float x, float y)
{
    if (!buttonHeld)
        return;
    // x and y are measured inside the moving picture, so the grabbed point stays under
    // the pointer.
    const float left = clampedOffset(m_picture1.left - m_dragX + x,
                                     m_picture2.innerWidth() - m_picture1.width);
    const float top = clampedOffset(m_picture1.top - m_dragY + y,
                                    m_picture2.innerHeight() - m_picture1.height);
    m_picture1.left = left;
    m_picture1.top = top;
}

void Viewport::mouseUp()
{
    const int16_t hp = releasePercent(Axis::Horizontal);
    const int16_t vp = releasePercent(Axis::Vertical);
    setHScrollbarByPercent(hp);
    setVScrollbarByPercent(vp);
}

int16_t Viewport::releasePercent(Axis a)
{
    AxisRef ax = axis(a);
    const float span = ax.size - ax.viewOuter;
    // A picture exactly as large as the view cannot have moved: a plain click.
    if (span == 0)
        return 0;
    const float percent = std::fabs(ax.offset) / span * 100.0f;
    return toInt16Saturated(roundHalfEven(percent));
}

void Viewport::setHScrollbarByPercent(int16_t percent)
{
    setScrollbarByPercent(Axis::Horizontal, percent);
}

void Viewport::setVScrollbarByPercent(int16_t percent)
{
    setScrollbarByPercent(Axis::Vertical, percent);
}

void Viewport::setScrollbarByPercent(Axis a, int16_t percent)
{
    if (percent < 0)
        return;
    const ScrollBarState &bar = axis(a).bar;
    const double v = percent / 100.0 * bar.maximum;
    if (v > bar.maximum)
        return;
    setScrollValue(a, int16_t(roundHalfEven(v)));
}

Viewport::AxisRef Viewport::axis(Axis a)
{
    if (a == Axis::Horizontal)
        return AxisRef{m_picture1.left, m_picture1.width, m_picture2.width,
                       m_picture2.innerWidth(), m_hScroll, m_hStep};
    return AxisRef{m_picture1.top, m_picture1.height, m_picture2.height,
                   m_picture2.innerHeight(), m_vScroll, m_vStep};
}

} // namespace preview
