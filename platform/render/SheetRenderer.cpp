#include "platform/render/SheetRenderer.h"

#include "platform/render/CellText.h"
#include "platform/render/Fonts.h"
#include "platform/render/Strokes.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QTextCharFormat>
#include <QTextLayout>
#include <algorithm>
#include <climits>
#include <cmath>
#include <optional>
#include <tuple>
#include <utility>
#include <unordered_map>

namespace render {
namespace {

constexpr uint32_t kWhite = 0xFFFFFF;
constexpr uint16_t kAutomaticColor = 0x7FFF;
constexpr int kDotsPerMeter96Dpi = 3780;      // 96 / 0.0254, rounded
constexpr size_t kMaxCells = 4u * 1024 * 1024; // cells held while painting one picture
// A thick border reaches a pixel to each side of its grid line; what lies this close outside
// the caller's clip is painted too, so nothing at the clip's edge is cut short.
constexpr int kClipMarginPx = 2;

// Horizontal alignment codes of the XF record.
enum HAlign : uint8_t { General = 0, Left = 1, Centre = 2, Right = 3, Fill = 4, Justify = 5, CentreAcross = 6, Distributed = 7 };
// Vertical alignment codes.
enum VAlign : uint8_t { Top = 0, Middle = 1, Bottom = 2, VJustify = 3, VDistributed = 4 };

QString columnName(int col)
{
    QString name;
    for (int c = col + 1; c > 0; c = (c - 1) / 26)
        name.prepend(QChar(u'A' + (c - 1) % 26));
    return name;
}

// Text is measured and laid out at 96 dpi whatever it is finally painted on, so that a PDF or
// a 400 % view puts every line where the screen picture puts it.
const QImage &metricsDevice()
{
    static const QImage device = [] {
        QImage image(1, 1, QImage::Format_RGB32);
        image.setDotsPerMeterX(kDotsPerMeter96Dpi);
        image.setDotsPerMeterY(kDotsPerMeter96Dpi);
        return image;
    }();
    return device;
}

struct Edge {
    bool horizontal = true;
    int at = 0;          // the pixel row (horizontal) or column (vertical) of the grid line
    int from = 0, to = 0; // inclusive span along the line
    xls::BorderLine line;
};

// Solid pieces of border lines in one colour, in picture pixels, painted in one call: a
// dotted line is a rectangle a dot.
struct StrokeBatch {
    QColor color;
    std::vector<QRect> rects;
};

// An image the painter draws on unscaled and unclipped, which whole-pixel rectangles can go
// straight into: a dotted border is a rectangle a dot, and thousands of them through the
// painter cost more than the rest of a picture. Null for any other device or transform.
struct PixelTarget {
    QImage *image = nullptr;
    QPoint offset;
};

PixelTarget pixelTarget(QPainter &p)
{
    QPaintDevice *device = p.device();
    if (!device || device->devType() != QInternal::Image || p.hasClipping())
        return {};
    auto *image = static_cast<QImage *>(device);
    const QTransform t = p.deviceTransform();
    const QImage::Format f = image->format();
    if (t.type() > QTransform::TxTranslate || t.dx() != std::floor(t.dx()) || t.dy() != std::floor(t.dy())
        || (f != QImage::Format_RGB32 && f != QImage::Format_ARGB32 && f != QImage::Format_ARGB32_Premultiplied)
        || !image->isDetached())
        return {};
    return {image, QPoint(int(t.dx()), int(t.dy()))};
}

// A view shrunk below one device pixel a sheet pixel: a one-pixel line would fall between the
// device's pixels and vanish, and the dots of a pattern would be sampled away, turning the fill
// plain. Lines and fills are then set on whole device pixels, a line at least one wide, and a
// pattern repeats its tile pixel for pixel, so both look as they do at 100 %. Fills and lines
// meet as the unscaled rectangles would: a pixel belongs to whichever covers its centre.
class DevicePixels {
public:
    static std::optional<DevicePixels> of(const QPainter &p)
    {
        const QTransform t = p.deviceTransform();
        if (t.type() > QTransform::TxScale || t.m11() <= 0 || t.m22() <= 0 || (t.m11() >= 1 && t.m22() >= 1))
            return std::nullopt;
        return DevicePixels(p.worldTransform(), t);
    }
    QRect map(const QRect &r) const
    {
        const auto span = [](double from, double to) {
            const int first = int(std::ceil(from - 0.5));
            return std::pair{first, std::max(first + 1, int(std::ceil(to - 0.5)))};
        };
        const auto [x1, x2] = span(r.left() * m_toDevice.m11() + m_toDevice.dx(), (r.right() + 1) * m_toDevice.m11() + m_toDevice.dx());
        const auto [y1, y2] = span(r.top() * m_toDevice.m22() + m_toDevice.dy(), (r.bottom() + 1) * m_toDevice.m22() + m_toDevice.dy());
        return QRect(x1, y1, x2 - x1, y2 - y1);
    }
    // Where the sheet's point lands on the device.
    QPointF map(const QPointF &at) const { return m_toDevice.map(at); }
    // The painter then draws in device pixels; the caller restores its transform.
    void drawInDevicePixels(QPainter &p) const { p.setWorldTransform(m_deviceWorld); }

private:
    DevicePixels(const QTransform &world, const QTransform &toDevice)
        : m_toDevice(toDevice), m_deviceWorld(toDevice.inverted() * world)
    {
    }
    QTransform m_toDevice;
    QTransform m_deviceWorld;
};

// Rectangles that meet along a whole side become one: a line several pixels thick, laid out
// a pixel row at a time, is then mapped to device pixels as one line.
void mergeTouching(std::vector<QRect> &rects)
{
    const auto merge = [&rects](auto order, auto joins) {
        std::sort(rects.begin(), rects.end(), order);
        size_t kept = 0;
        for (size_t i = 0; i < rects.size(); ++i) {
            if (kept > 0 && joins(rects[kept - 1], rects[i]))
                rects[kept - 1] |= rects[i];
            else
                rects[kept++] = rects[i];
        }
        rects.resize(kept);
    };
    merge([](const QRect &a, const QRect &b) { return std::tuple(a.left(), a.right(), a.top()) < std::tuple(b.left(), b.right(), b.top()); },
          [](const QRect &a, const QRect &b) { return a.left() == b.left() && a.right() == b.right() && b.top() == a.bottom() + 1; });
    merge([](const QRect &a, const QRect &b) { return std::tuple(a.top(), a.bottom(), a.left()) < std::tuple(b.top(), b.bottom(), b.left()); },
          [](const QRect &a, const QRect &b) { return a.top() == b.top() && a.bottom() == b.bottom() && b.left() == a.right() + 1; });
}

// Fills the rectangles (those meeting visible) in one opaque colour, without outline.
void fillRects(QPainter &p, const PixelTarget &target, const QColor &color, const std::vector<QRect> &rects,
               const QRect &visible, std::vector<QRect> &scratch)
{
    scratch.clear();
    for (const QRect &r : rects)
        if (r.intersects(visible))
            scratch.push_back(r);
    if (scratch.empty())
        return;
    if (target.image) {
        const QRgb value = 0xFF000000u | color.rgb();
        const QRect bounds = target.image->rect();
        for (const QRect &r : scratch) {
            const QRect at = r.translated(target.offset) & bounds;
            for (int y = at.top(); y <= at.bottom(); ++y) {
                QRgb *line = reinterpret_cast<QRgb *>(target.image->scanLine(y));
                std::fill(line + at.left(), line + at.right() + 1, value);
            }
        }
        return;
    }
    p.setPen(Qt::NoPen);
    p.setBrush(color);
    if (const std::optional<DevicePixels> device = DevicePixels::of(p)) {
        const QTransform world = p.worldTransform();
        mergeTouching(scratch);
        for (QRect &r : scratch)
            r = device->map(r);
        device->drawInDevicePixels(p);
        p.drawRects(scratch.data(), int(scratch.size()));
        p.setWorldTransform(world);
        return;
    }
    p.drawRects(scratch.data(), int(scratch.size()));
}

// A cell's (or merged area's) fill: the cell and both of its grid lines.
struct FillJob {
    QRect rect;
    QBrush brush;
};

struct DiagonalJob {
    QPen pen;
    QLine line;
};

// The picture's pixels; a null image for a kind nothing here draws or bytes that do not decode.
QImage decodeImage(const xls::StoredImage &stored)
{
    const char *format = nullptr;
    switch (stored.kind) {
    case xls::ImageKind::Png: format = "PNG"; break;
    case xls::ImageKind::Jpeg: format = "JPEG"; break;
    case xls::ImageKind::Tiff: format = "TIFF"; break;
    case xls::ImageKind::Bmp: format = "BMP"; break;
    case xls::ImageKind::None:
    case xls::ImageKind::Metafile: return {};
    }
    const std::span<const uint8_t> bytes = stored.bytes();
    return QImage::fromData(bytes.data(), int(std::min<size_t>(bytes.size(), size_t(INT_MAX))), format);
}

struct PictureJob {
    QRectF target;
    QImage image;
};

// A part of one line drawn in its own font or colour, or apart from its neighbours (the room
// of a format's _x, a *x fill), at x from the line's start.
struct TextPiece {
    QString text;
    qreal x = 0;
    uint16_t fontIndex = 0;
    std::optional<QColor> color;
};

// One cell's text, placed: drawn after the fills, clipped to its box.
struct TextJob {
    QString text;
    uint16_t fontIndex = 0;
    QRect clip;          // the pixels the text may cover
    QRectF area;         // where it is laid out (wrapped text) or starts (one line)
    QPointF origin;      // baseline start of a single line; top left of a wrapped block
    bool wrapped = false;
    int flags = 0;       // Qt alignment flags for wrapped text
    bool needsClip = false;
    std::shared_ptr<QTextLayout> layout; // wrapped text, laid out at 96 dpi
    std::optional<QColor> color;         // the number format's colour, over the font's
    std::vector<TextPiece> pieces;       // a single line in parts; empty: text in one
    std::vector<QTextLayout::FormatRange> runs; // wrapped rich text: fonts and colours
};

struct FontEntry {
    QFont font;
    QFontMetricsF metrics;
    QColor color;
};

} // namespace

// Everything about one range that does not depend on the device: laid out once, painted on
// demand.
class RangeDrawing::Layout {
public:
    Layout(const xls::Workbook &book, const xls::Worksheet &sheet, SheetGeometry geometry, xls::CellRange range,
           double columnStretch = 1.0)
        : m_book(book), m_sheet(sheet), m_geo(std::move(geometry)), m_range(range),
          m_rows(range.lastRow - range.firstRow + 1), m_cols(range.lastCol - range.firstCol + 1),
          m_x0(m_geo.columnX(range.firstCol)), m_y0(m_geo.rowY(range.firstRow)), m_stretch(columnStretch),
          m_size(x(range.lastCol + 1) + 1, int(m_geo.rowY(range.lastRow + 1) - m_y0 + 1))
    {
    }

    void build();
    void paint(QPainter &p, const PaintOptions &options) const;

    xls::CellRange range() const { return m_range; }
    QSize size() const { return m_size; }
    bool isBlank() const
    {
        return m_text.empty() && m_fills.empty() && m_strokes.empty() && m_diagonals.empty() && m_pictures.empty();
    }
    // Only where single lines of text reach: the cells and their text, no wrapped lines
    // (they never run on), fills, borders or pictures.
    void buildTextReach()
    {
        m_textReachOnly = true;
        collectCells();
        layoutText();
    }
    // The last column any text of the range reaches into.
    int textReach() const
    {
        int reach = m_range.firstCol;
        for (const TextJob &job : m_text)
            for (int c = m_range.lastCol; c > reach; --c)
                if (job.clip.right() >= x(c)) {
                    reach = c;
                    break;
                }
        return reach;
    }

private:
    // Columns may be laid out wider than their screen pixels (on paper a digit takes the
    // font's true advance); text keeps its own size, so it fits what it fits on paper.
    int x(int sheetCol) const
    {
        const int64_t px = m_geo.columnX(sheetCol) - m_x0;
        return m_stretch == 1.0 ? int(px) : int(std::lround(double(px) * m_stretch));
    }
    int y(int sheetRow) const { return int(m_geo.rowY(sheetRow) - m_y0); }
    size_t slot(int r, int c) const { return size_t(r - m_range.firstRow) * size_t(m_cols) + size_t(c - m_range.firstCol); }
    bool inRange(int r, int c) const
    {
        return r >= m_range.firstRow && r <= m_range.lastRow && c >= m_range.firstCol && c <= m_range.lastCol;
    }

    void collectCells();
    int formatAt(int r, int c) const;        // XF a cell shows, -1 for none
    int mergeAt(int r, int c) const;         // index into m_merges, -1 for none
    uint32_t rgb(uint16_t colorIndex, uint32_t automatic) const;
    const FontEntry &fontFor(uint16_t fontIndex);
    const xls::NumberFormat &numberFormatFor(uint16_t formatIndex);
    qreal placePieces(TextJob &job, const xls::FormattedValue &value, const xls::Cell &cell, uint16_t fontIndex, qreal avail);

    void layoutFills();
    void addFill(const xls::CellFormat &f, int x1, int y1, int x2, int y2);
    void layoutText();
    void layoutCellText(int r, int c, const xls::Cell &cell, const xls::CellRange &box);
    void layoutWrapped(TextJob &job);
    void layoutBorders();
    void addStrokes(const Edge &e);
    void layoutDiagonals();
    void layoutPictures();

    void paintGrid(QPainter &p, int firstRow, int lastRow, int firstCol, int lastCol) const;
    void paintText(QPainter &p, const QRect &visible) const;

    const xls::Workbook &m_book;
    const xls::Worksheet &m_sheet;
    const SheetGeometry m_geo;
    const xls::CellRange m_range;
    const int m_rows, m_cols;
    const int64_t m_x0, m_y0;
    const double m_stretch;
    const QSize m_size;

    std::vector<const xls::Cell *> m_cells;   // per slot; null for no record
    std::vector<xls::CellRange> m_merges;     // merged areas that touch the range or its rim
    std::vector<int> m_mergeSlot;             // per slot; -1 for none
    std::vector<uint8_t> m_noVerticalGrid;    // per slot: text runs across the cell's left grid line
    std::unordered_map<uint16_t, FontEntry> m_fonts;
    std::unordered_map<uint16_t, xls::NumberFormat> m_numberFormats;
    std::vector<FillJob> m_fills;
    std::unordered_map<uint64_t, QBrush> m_patterns; // pattern and colours -> brush
    std::vector<TextJob> m_text;
    std::vector<StrokeBatch> m_strokes;       // weakest line first: where lines cross the stronger shows
    std::vector<DiagonalJob> m_diagonals;
    std::vector<PictureJob> m_pictures;
    bool m_textReachOnly = false;
};

void RangeDrawing::Layout::build()
{
    collectCells();
    // Text is laid out first: where it runs on into empty neighbours the grid line between
    // them disappears.
    layoutText();
    layoutFills();
    layoutBorders();
    layoutDiagonals();
    layoutPictures();
}

void RangeDrawing::Layout::paint(QPainter &p, const PaintOptions &options) const
{
    QRect visible(QPoint(0, 0), m_size);
    if (options.clip)
        visible &= options.clip->toAlignedRect().adjusted(-kClipMarginPx, -kClipMarginPx, kClipMarginPx, kClipMarginPx);
    if (visible.isEmpty())
        return;
    // The rows and columns the visible part touches.
    int firstRow = m_range.firstRow, lastRow = m_range.lastRow, firstCol = m_range.firstCol, lastCol = m_range.lastCol;
    while (firstRow < lastRow && y(firstRow + 1) < visible.top())
        ++firstRow;
    while (lastRow > firstRow && y(lastRow) > visible.bottom())
        --lastRow;
    while (firstCol < lastCol && x(firstCol + 1) < visible.left())
        ++firstCol;
    while (lastCol > firstCol && x(lastCol) > visible.right())
        --lastCol;

    p.save();
    p.setRenderHint(QPainter::Antialiasing, false);
    p.fillRect(visible, QColor::fromRgb(kWhite));

    const bool grid = options.gridLines == GridLines::Shown
        || (options.gridLines == GridLines::AsSheetShows && m_sheet.view().showGrid);
    if (grid)
        paintGrid(p, firstRow, lastRow, firstCol, lastCol);

    // The patterns are anchored to the sheet, so they run on seamlessly from cell to cell and
    // from one picture of the sheet to the next.
    const QPointF patternOrigin(-double(m_x0 & 7), -double(m_y0 & 7));
    if (const std::optional<DevicePixels> device = DevicePixels::of(p)) {
        const QTransform world = p.worldTransform();
        device->drawInDevicePixels(p);
        p.setBrushOrigin(device->map(patternOrigin));
        for (const FillJob &f : m_fills)
            if (f.rect.intersects(visible))
                p.fillRect(device->map(f.rect), f.brush);
        p.setWorldTransform(world);
    } else {
        p.setBrushOrigin(patternOrigin);
        for (const FillJob &f : m_fills)
            if (f.rect.intersects(visible))
                p.fillRect(f.rect, f.brush);
    }

    p.setRenderHint(QPainter::TextAntialiasing);
    paintText(p, visible);

    std::vector<QRect> scratch;
    const PixelTarget target = pixelTarget(p);
    for (const StrokeBatch &batch : m_strokes)
        fillRects(p, target, batch.color, batch.rects, visible, scratch);

    for (const DiagonalJob &d : m_diagonals) {
        if (!QRect(d.line.p1(), d.line.p2()).normalized().intersects(visible))
            continue;
        p.setPen(d.pen);
        p.drawLine(d.line);
    }

    p.setRenderHint(QPainter::SmoothPixmapTransform);
    for (const PictureJob &picture : m_pictures)
        if (picture.target.intersects(visible))
            p.drawImage(picture.target, picture.image);
    p.restore();
}

void RangeDrawing::Layout::collectCells()
{
    const size_t n = size_t(m_rows) * size_t(m_cols);
    m_cells.assign(n, nullptr);
    m_mergeSlot.assign(n, -1);
    m_noVerticalGrid.assign(n, 0);
    const auto &cells = m_sheet.cells();
    for (auto it = cells.lower_bound(xls::cellKey(m_range.firstRow, 0)); it != cells.end(); ++it) {
        const int r = xls::keyRow(it->first), c = xls::keyCol(it->first);
        if (r > m_range.lastRow)
            break;
        if (c >= m_range.firstCol && c <= m_range.lastCol)
            m_cells[slot(r, c)] = &it->second;
    }
    for (const xls::CellRange &m : m_sheet.mergedCells()) {
        // A merge that only touches the rim still matters: it hides the edge it shares.
        if (m.lastRow + 1 < m_range.firstRow || m.firstRow > m_range.lastRow + 1 || m.lastCol + 1 < m_range.firstCol
            || m.firstCol > m_range.lastCol + 1 || m.lastRow < m.firstRow || m.lastCol < m.firstCol)
            continue;
        const int index = int(m_merges.size());
        m_merges.push_back(m);
        for (int r = std::max<int>(m.firstRow, m_range.firstRow); r <= std::min<int>(m.lastRow, m_range.lastRow); ++r)
            for (int c = std::max<int>(m.firstCol, m_range.firstCol); c <= std::min<int>(m.lastCol, m_range.lastCol); ++c)
                m_mergeSlot[slot(r, c)] = index;
    }
}

int RangeDrawing::Layout::formatAt(int r, int c) const
{
    if (r < 0 || c < 0 || r >= kRows || c >= kColumns)
        return -1;
    const xls::Cell *cell = inRange(r, c) ? m_cells[slot(r, c)] : m_sheet.cellAt(uint16_t(r), uint16_t(c));
    if (cell)
        return cell->xf;
    if (const auto row = m_sheet.rows().find(uint16_t(r)); row != m_sheet.rows().end() && row->second.xf)
        return *row->second.xf;
    return m_geo.columnXf(c);
}

int RangeDrawing::Layout::mergeAt(int r, int c) const
{
    if (inRange(r, c))
        return m_mergeSlot[slot(r, c)];
    for (size_t i = 0; i < m_merges.size(); ++i) {
        const xls::CellRange &m = m_merges[i];
        if (r >= m.firstRow && r <= m.lastRow && c >= m.firstCol && c <= m.lastCol)
            return int(i);
    }
    return -1;
}

uint32_t RangeDrawing::Layout::rgb(uint16_t colorIndex, uint32_t automatic) const
{
    if (colorIndex == kAutomaticColor)
        return automatic;
    return m_book.color(colorIndex) & 0xFFFFFF;
}

const FontEntry &RangeDrawing::Layout::fontFor(uint16_t fontIndex)
{
    auto it = m_fonts.find(fontIndex);
    if (it == m_fonts.end()) {
        const xls::Font &f = m_book.font(fontIndex);
        QFont font = screenFont(f);
        // Shaping would put ligature glyphs (fi, fl) in a PDF's text, and "filters" could then
        // not be found in it; a sheet's text is plain Latin or drawn per character anyway.
        font.setStyleStrategy(QFont::StyleStrategy(font.styleStrategy() | QFont::PreferNoShaping));
        QFontMetricsF metrics(font, &metricsDevice());
        const uint32_t color = rgb(f.colorIndex, 0x000000);
        it = m_fonts.emplace(fontIndex, FontEntry{font, metrics, QColor::fromRgb(color)}).first;
    }
    return it->second;
}

const xls::NumberFormat &RangeDrawing::Layout::numberFormatFor(uint16_t formatIndex)
{
    auto it = m_numberFormats.find(formatIndex);
    if (it == m_numberFormats.end())
        it = m_numberFormats.emplace(formatIndex, xls::NumberFormat(m_book.numberFormat(formatIndex))).first;
    return it->second;
}

// Splits a single line where it cannot be drawn in one go: the runs of rich text, the room of
// a format's _x (as wide as x) and its *x fill (repeated until the line fills avail). Returns
// the line's width.
qreal RangeDrawing::Layout::placePieces(TextJob &job, const xls::FormattedValue &value, const xls::Cell &cell,
                                        uint16_t fontIndex, qreal avail)
{
    const FontEntry &cellFont = fontFor(fontIndex);
    // Rich text: runs of (first character, font), four bytes each.
    if (cell.type == xls::CellType::Text && cell.text < m_book.strings().size()) {
        const std::vector<uint8_t> &runs = m_book.strings()[cell.text].runs;
        if (runs.size() >= 4 && value.text == m_book.text(cell)) {
            std::vector<std::pair<int, uint16_t>> starts{{0, fontIndex}};
            for (size_t i = 0; i + 4 <= runs.size(); i += 4) {
                const int at = runs[i] | runs[i + 1] << 8;
                const uint16_t font = uint16_t(runs[i + 2] | runs[i + 3] << 8);
                if (at >= job.text.size())
                    break;
                if (at == starts.back().first)
                    starts.back().second = font;
                else if (at > starts.back().first)
                    starts.push_back({at, font});
            }
            qreal x = 0;
            for (size_t i = 0; i < starts.size(); ++i) {
                const int end = i + 1 < starts.size() ? starts[i + 1].first : int(job.text.size());
                const FontEntry &fe = fontFor(starts[i].second);
                TextPiece piece{job.text.mid(starts[i].first, end - starts[i].first), x, starts[i].second, fe.color};
                x += fe.metrics.horizontalAdvance(piece.text);
                QTextCharFormat format;
                format.setFont(fe.font);
                format.setForeground(fe.color);
                job.runs.push_back({starts[i].first, end - starts[i].first, format});
                job.pieces.push_back(std::move(piece));
            }
            return x;
        }
    }
    if (value.pads.empty() && value.fillAt < 0)
        return cellFont.metrics.horizontalAdvance(job.text);
    // Cut points: each pad (a space in the text) and the fill position.
    const QFontMetricsF &m = cellFont.metrics;
    std::vector<TextPiece> pieces;
    qreal x = 0;
    int from = 0;
    size_t pad = 0;
    qreal fillX = -1;
    size_t fillPiece = 0;
    for (int i = 0; i <= job.text.size(); ++i) {
        const bool isPad = pad < value.pads.size() && value.pads[pad].at == i;
        const bool isFill = i == value.fillAt;
        if (!isPad && !isFill && i < job.text.size())
            continue;
        if (i > from) {
            pieces.push_back({job.text.mid(from, i - from), x, fontIndex, {}});
            x += m.horizontalAdvance(pieces.back().text);
        }
        from = i;
        if (isFill && fillX < 0) {
            fillX = x;
            fillPiece = pieces.size();
        }
        if (isPad) {
            x += m.horizontalAdvance(value.pads[pad].glyph);
            from = i + 1;
            ++pad;
        }
    }
    if (fillX >= 0) {
        // The fill takes whatever room is left; what follows it ends at the right edge.
        const qreal room = std::max<qreal>(0, avail - x);
        const qreal unit = m.horizontalAdvance(value.fill);
        for (size_t i = fillPiece; i < pieces.size(); ++i)
            pieces[i].x += room;
        if (unit > 0 && !value.fill.isSpace())
            pieces.insert(pieces.begin() + qsizetype(fillPiece),
                          TextPiece{QString(int(room / unit), value.fill), fillX, fontIndex, {}});
        x += room;
    }
    job.pieces = std::move(pieces);
    return x;
}

void RangeDrawing::Layout::paintGrid(QPainter &p, int firstRow, int lastRow, int firstCol, int lastCol) const
{
    std::vector<QRect> lines;
    auto line = [&](int x1, int y1, int x2, int y2) {
        const QRect r = QRect(QPoint(x1, y1), QPoint(x2, y2)) & QRect(QPoint(0, 0), m_size);
        if (!r.isEmpty())
            lines.push_back(r);
    };
    for (int r = firstRow; r <= lastRow; ++r) {
        for (int c = firstCol; c <= lastCol + 1; ++c) {
            const int left = c > 0 ? mergeAt(r, c - 1) : -1;
            if ((left != -1 && left == mergeAt(r, c)) || (c <= m_range.lastCol && m_noVerticalGrid[slot(r, c)]))
                continue;
            line(x(c), y(r), x(c), y(r + 1));
        }
    }
    for (int r = firstRow; r <= lastRow + 1; ++r) {
        for (int c = firstCol; c <= lastCol; ++c) {
            const int above = r > 0 ? mergeAt(r - 1, c) : -1;
            if (above != -1 && above == mergeAt(r, c))
                continue;
            line(x(c), y(r), x(c + 1), y(r));
        }
    }
    std::vector<QRect> scratch;
    fillRects(p, pixelTarget(p), QColor::fromRgb(kGridColor), lines, QRect(QPoint(0, 0), m_size), scratch);
}

void RangeDrawing::Layout::layoutFills()
{
    for (int r = m_range.firstRow; r <= m_range.lastRow; ++r) {
        for (int c = m_range.firstCol; c <= m_range.lastCol; ++c) {
            if (m_mergeSlot[slot(r, c)] != -1)
                continue;
            const int xf = formatAt(r, c);
            if (xf >= 0 && m_book.xf(uint16_t(xf)).fillPattern != 0)
                addFill(m_book.xf(uint16_t(xf)), x(c), y(r), x(c + 1), y(r + 1));
        }
    }
    // A merged area shows the fill of its top-left cell across the whole area.
    for (const xls::CellRange &m : m_merges) {
        const int xf = formatAt(m.firstRow, m.firstCol);
        if (xf >= 0 && m_book.xf(uint16_t(xf)).fillPattern != 0)
            addFill(m_book.xf(uint16_t(xf)), x(m.firstCol), y(m.firstRow), x(m.lastCol + 1), y(m.lastRow + 1));
    }
}

// Covers the cell and both of its grid lines: a filled cell hides the grid around it.
void RangeDrawing::Layout::addFill(const xls::CellFormat &f, int x1, int y1, int x2, int y2)
{
    if (x2 <= x1 || y2 <= y1)
        return; // hidden row or column
    const QRect rect = QRect(QPoint(x1, y1), QPoint(x2, y2)) & QRect(QPoint(0, 0), m_size);
    if (rect.isEmpty())
        return;
    // BIFF8 keeps the colour of a solid fill in the pattern colour, not the background.
    const QColor fore = QColor::fromRgb(rgb(f.patternColorIndex, 0x000000));
    if (f.fillPattern == 1) {
        m_fills.push_back({rect, QBrush(fore)});
        return;
    }
    // One 8 x 8 tile of the pattern, which the painter repeats from the sheet's origin; one
    // brush for every cell with the same pattern and colours.
    const QRgb foreValue = fore.rgb(), backValue = 0xFF000000u | rgb(f.backgroundColorIndex, kWhite);
    const uint64_t key = uint64_t(f.fillPattern) << 48 | uint64_t(foreValue & 0xFFFFFF) << 24 | (backValue & 0xFFFFFF);
    auto brush = m_patterns.find(key);
    if (brush == m_patterns.end()) {
        QImage tile(8, 8, QImage::Format_RGB32);
        for (int ty = 0; ty < 8; ++ty)
            for (int tx = 0; tx < 8; ++tx)
                tile.setPixel(tx, ty, patternBit(f.fillPattern, tx, ty) ? foreValue : backValue);
        brush = m_patterns.emplace(key, QBrush(tile)).first;
    }
    m_fills.push_back({rect, brush->second});
}

void RangeDrawing::Layout::layoutText()
{
    for (int r = m_range.firstRow; r <= m_range.lastRow; ++r) {
        for (int c = m_range.firstCol; c <= m_range.lastCol; ++c) {
            const xls::Cell *cell = m_cells[slot(r, c)];
            if (!cell)
                continue;
            const int merge = m_mergeSlot[slot(r, c)];
            if (merge == -1) {
                layoutCellText(r, c, *cell, {uint16_t(r), uint16_t(r), uint16_t(c), uint16_t(c)});
            } else {
                const xls::CellRange &m = m_merges[size_t(merge)];
                if (m.firstRow == r && m.firstCol == c)
                    layoutCellText(r, c, *cell, m);
            }
        }
    }
    // A merged area whose top-left cell lies outside the range still shows its text in the part
    // that is inside.
    for (const xls::CellRange &m : m_merges) {
        if (inRange(m.firstRow, m.firstCol))
            continue;
        if (const xls::Cell *cell = m_sheet.cellAt(m.firstRow, m.firstCol))
            layoutCellText(m.firstRow, m.firstCol, *cell, m);
    }
    for (TextJob &job : m_text)
        if (job.wrapped && !m_textReachOnly)
            layoutWrapped(job);
}

void RangeDrawing::Layout::layoutCellText(int r, int c, const xls::Cell &cell, const xls::CellRange &box)
{
    const ValueKind kind = valueKind(cell);
    if (kind == ValueKind::Empty)
        return;
    const xls::CellFormat &xf = m_book.xf(cell.xf);
    const int boxLeft = x(box.firstCol), boxRight = x(box.lastCol + 1);
    const int boxTop = y(box.firstRow), boxBottom = y(box.lastRow + 1);
    if (boxRight - boxLeft <= 1 || boxBottom - boxTop <= 1)
        return; // hidden row or column
    const bool merged = box.firstCol != box.lastCol || box.firstRow != box.lastRow;

    uint8_t h = xf.horizontal;
    if (h == General)
        h = kind == ValueKind::Number ? Right : kind == ValueKind::Logical ? Centre : Left;
    else if (h == CentreAcross || h == Distributed)
        h = Centre;
    const bool wrap = xf.wrap || h == Justify || xf.vertical == VJustify;

    int areaLeft = boxLeft + 1 + kTextPaddingPx;
    int areaRight = boxRight - kTextPaddingPx;
    if (h == Left || h == Justify || h == Fill)
        areaLeft += xf.indent * kIndentPx;
    else if (h == Right)
        areaRight -= xf.indent * kIndentPx;
    const int areaTop = boxTop + 1, areaBottom = boxBottom;
    const qreal avail = std::max(0, areaRight - areaLeft);

    const FontEntry &fe = fontFor(xf.fontIndex);
    TextJob job;
    job.fontIndex = xf.fontIndex;
    const xls::NumberFormat &format = numberFormatFor(xf.formatIndex);
    xls::FormattedValue value = formattedValue(m_book, cell, format);
    job.text = value.text;
    if (value.colorIndex)
        job.color = QColor::fromRgb(rgb(*value.colorIndex, 0x000000));
    if (job.text.isEmpty() && !value.unshowable)
        return;
    qreal width = value.unshowable ? avail + 1 : placePieces(job, value, cell, xf.fontIndex, avail);
    if (kind == ValueKind::Number && width > avail) {
        // A General number gives up digits to fit its cell; any other, or a General one when
        // not even one digit fits, shows ### across it.
        bool fits = false;
        for (int chars = kGeneralMaxChars - 1; chars >= 1 && !fits && format.isGeneral(); --chars) {
            job.text = formattedValue(m_book, cell, format, chars).text;
            width = fe.metrics.horizontalAdvance(job.text);
            fits = width <= avail;
        }
        job.pieces.clear();
        if (!fits) {
            const qreal hash = fe.metrics.horizontalAdvance(QLatin1Char('#'));
            job.text = QString(hash > 0 ? int(avail / hash) : 0, QLatin1Char('#'));
            width = fe.metrics.horizontalAdvance(job.text);
            if (job.text.isEmpty())
                return;
        }
    }
    if (h == Fill && width > 0 && width < avail && job.pieces.empty()) {
        const QString unit = job.text;
        const qreal unitWidth = width;
        for (int n = 2; unitWidth * n <= avail; ++n)
            job.text += unit;
        width = fe.metrics.horizontalAdvance(job.text);
        h = Left;
    }
    const bool multiLine = job.text.contains(QLatin1Char('\n'));
    job.clip = QRect(QPoint(boxLeft + 1, boxTop + 1), QPoint(boxRight - 1, boxBottom - 1));

    if (wrap && (width > avail || multiLine)) {
        job.wrapped = true;
        job.pieces.clear();
        job.text.remove(QLatin1Char('\r'));
        job.text.replace(QLatin1Char('\n'), QChar::LineSeparator);
        job.area = QRectF(areaLeft, areaTop, avail, areaBottom - areaTop);
        job.flags = (h == Right ? Qt::AlignRight : h == Centre ? Qt::AlignHCenter : Qt::AlignLeft)
            | (xf.vertical == Top ? Qt::AlignTop : xf.vertical == Middle ? Qt::AlignVCenter : Qt::AlignBottom);
        job.needsClip = true;
        m_text.push_back(std::move(job));
        return;
    }
    if (multiLine) {
        // Without wrapping a line break does not break the line.
        job.text.replace(QLatin1Char('\r'), QString()).replace(QLatin1Char('\n'), QLatin1Char(' '));
        width = fe.metrics.horizontalAdvance(job.text);
        job.pieces.clear();
        job.runs.clear();
    }

    qreal tx = h == Right ? areaRight - width : h == Centre ? areaLeft + (avail - width) / 2 : areaLeft;
    // Text that does not fit runs on into empty neighbours of the same row (never numbers,
    // never out of a merged area); the grid lines it crosses are not drawn.
    if (width > avail && kind != ValueKind::Number && !merged && !wrap) {
        const qreal textLeft = tx, textRight = tx + width;
        if (h == Left || h == Centre) {
            for (int cc = c + 1; cc <= m_range.lastCol && job.clip.right() + 1 < textRight + kTextPaddingPx; ++cc) {
                if (m_cells[slot(r, cc)] && valueKind(*m_cells[slot(r, cc)]) != ValueKind::Empty)
                    break;
                if (m_mergeSlot[slot(r, cc)] != -1)
                    break;
                m_noVerticalGrid[slot(r, cc)] = 1;
                job.clip.setRight(x(cc + 1) - 1);
            }
        }
        if (h == Right || h == Centre) {
            for (int cc = c - 1; cc >= m_range.firstCol && job.clip.left() > textLeft - kTextPaddingPx; --cc) {
                if (m_cells[slot(r, cc)] && valueKind(*m_cells[slot(r, cc)]) != ValueKind::Empty)
                    break;
                if (m_mergeSlot[slot(r, cc)] != -1)
                    break;
                m_noVerticalGrid[slot(r, cc + 1)] = 1;
                job.clip.setLeft(x(cc) + 1);
            }
        }
    }

    const qreal ascent = fe.metrics.ascent(), descent = fe.metrics.descent();
    const qreal innerHeight = areaBottom - areaTop;
    qreal baseline;
    if (xf.vertical == Top)
        baseline = areaTop + ascent;
    else if (xf.vertical == Middle || xf.vertical == VDistributed)
        baseline = areaTop + (innerHeight - (ascent + descent)) / 2 + ascent;
    else
        baseline = areaBottom - 1 - descent;
    job.origin = QPointF(std::round(tx), std::round(baseline));
    job.needsClip = job.origin.x() < job.clip.left() || job.origin.x() + width > job.clip.right() + 1
        || job.origin.y() - ascent < job.clip.top() || job.origin.y() + descent > job.clip.bottom() + 1;
    m_text.push_back(std::move(job));
}

void RangeDrawing::Layout::paintText(QPainter &p, const QRect &visible) const
{
    // Fonts are sized in points, which a device turns into its own pixels; the text must come
    // out in sheet pixels (96 to the inch) before the painter's transform, whatever the device.
    const int dpi = p.device() ? p.device()->logicalDpiY() : 96;
    const qreal fontScale = dpi > 0 ? 96.0 / dpi : 1.0;
    std::unordered_map<uint16_t, QFont> deviceFonts;
    auto deviceFont = [&](uint16_t index, const QFont &font) -> const QFont & {
        if (fontScale == 1.0)
            return font;
        auto it = deviceFonts.find(index);
        if (it == deviceFonts.end()) {
            QFont scaled = font;
            scaled.setPointSizeF(font.pointSizeF() * fontScale);
            it = deviceFonts.emplace(index, scaled).first;
        }
        return it->second;
    };

    for (const TextJob &job : m_text) {
        if (!job.clip.intersects(visible))
            continue;
        const FontEntry &fe = m_fonts.at(job.fontIndex);
        p.setPen(job.color ? *job.color : fe.color);
        if (job.needsClip) {
            p.save();
            p.setClipRect(job.clip, Qt::IntersectClip);
        }
        if (job.wrapped) {
            job.layout->draw(&p, job.origin);
        } else if (!job.pieces.empty()) {
            for (const TextPiece &piece : job.pieces) {
                p.setFont(deviceFont(piece.fontIndex, m_fonts.at(piece.fontIndex).font));
                p.setPen(piece.color ? *piece.color : job.color ? *job.color : fe.color);
                p.drawText(job.origin + QPointF(piece.x, 0), piece.text);
            }
        } else {
            p.setFont(deviceFont(job.fontIndex, fe.font));
            p.drawText(job.origin, job.text);
        }
        if (job.needsClip)
            p.restore();
    }
}

// Breaks at spaces where it can and inside a word only when the word alone is too wide;
// lines that do not fit the cell are cut off at the side away from the alignment.
void RangeDrawing::Layout::layoutWrapped(TextJob &job)
{
    const FontEntry &fe = fontFor(job.fontIndex);
    job.layout = std::make_shared<QTextLayout>(job.text, fe.font, &metricsDevice());
    QTextLayout &layout = *job.layout;
    QTextOption option(Qt::Alignment(job.flags & Qt::AlignHorizontal_Mask));
    option.setWrapMode(QTextOption::WrapAtWordBoundaryOrAnywhere);
    layout.setTextOption(option);
    if (!job.runs.empty())
        layout.setFormats(QList<QTextLayout::FormatRange>(job.runs.begin(), job.runs.end()));
    layout.setCacheEnabled(true);
    qreal height = 0;
    layout.beginLayout();
    for (QTextLine line = layout.createLine(); line.isValid(); line = layout.createLine()) {
        line.setLineWidth(job.area.width());
        line.setPosition(QPointF(0, height));
        height += line.height();
    }
    layout.endLayout();
    qreal top = job.area.top();
    if (job.flags & Qt::AlignBottom)
        top = job.area.bottom() - 1 - height;
    else if (job.flags & Qt::AlignVCenter)
        top += (job.area.height() - height) / 2;
    job.origin = QPointF(job.area.left(), std::round(top));
}

void RangeDrawing::Layout::layoutBorders()
{
    std::vector<Edge> edges;
    auto lineOf = [this](int r, int c, xls::BorderLine xls::CellFormat::*side) {
        const int xf = formatAt(r, c);
        return xf >= 0 ? m_book.xf(uint16_t(xf)).*side : xls::BorderLine{};
    };
    // Each edge once: the line of the cell above (left) against that of the cell below (right).
    for (int r = m_range.firstRow; r <= m_range.lastRow + 1; ++r) {
        for (int c = m_range.firstCol; c <= m_range.lastCol; ++c) {
            const int above = r > 0 ? mergeAt(r - 1, c) : -1;
            if (above != -1 && above == mergeAt(r, c))
                continue;
            const xls::BorderLine a = r > 0 ? lineOf(r - 1, c, &xls::CellFormat::bottom) : xls::BorderLine{};
            const xls::BorderLine b = lineOf(r, c, &xls::CellFormat::top);
            const xls::BorderLine line = outranks(a.style, b.style) ? a : b;
            if (line.style != 0)
                edges.push_back({true, y(r), x(c), x(c + 1), line});
        }
    }
    for (int r = m_range.firstRow; r <= m_range.lastRow; ++r) {
        for (int c = m_range.firstCol; c <= m_range.lastCol + 1; ++c) {
            const int left = c > 0 ? mergeAt(r, c - 1) : -1;
            if (left != -1 && left == mergeAt(r, c))
                continue;
            const xls::BorderLine a = c > 0 ? lineOf(r, c - 1, &xls::CellFormat::right) : xls::BorderLine{};
            const xls::BorderLine b = c < kColumns ? lineOf(r, c, &xls::CellFormat::left) : xls::BorderLine{};
            const xls::BorderLine line = outranks(a.style, b.style) ? a : b;
            if (line.style != 0)
                edges.push_back({false, x(c), y(r), y(r + 1), line});
        }
    }
    // Where lines cross, the stronger one is drawn last and shows.
    std::stable_sort(edges.begin(), edges.end(),
                     [](const Edge &a, const Edge &b) { return lineStyle(a.line.style).rank < lineStyle(b.line.style).rank; });
    for (const Edge &e : edges)
        addStrokes(e);
}

// A border line as the solid pieces between its dashes, each a rectangle of whole pixels.
void RangeDrawing::Layout::addStrokes(const Edge &e)
{
    const LineStyle &st = lineStyle(e.line.style);
    const QColor color = QColor::fromRgb(rgb(e.line.colorIndex, 0x000000));
    const int before = (st.width - 1) / 2, after = st.width / 2;
    std::array<bool, 32> on{};
    int period = 0;
    for (size_t i = 0; i < st.dash.size() && st.dash[i]; ++i)
        for (int k = 0; k < st.dash[i]; ++k)
            on[size_t(period++)] = i % 2 == 0;
    const int64_t origin = e.horizontal ? m_x0 : m_y0; // dashes line up along the whole sheet
    const int w = m_size.width(), h = m_size.height();
    // A wide line on the picture's outer edge moves inwards rather than lose its outer half.
    const int last = (e.horizontal ? h : w) - 1;
    const int at = e.at - before < 0 ? before : e.at + after > last ? last - after : e.at;
    const int alongLast = std::min(e.to + after, (e.horizontal ? w : h) - 1);
    for (int across = -before; across <= after; ++across) {
        if (st.doubled && across == 0)
            continue;
        const int line = at + across;
        if (line < 0 || line > last)
            continue;
        auto addRun = [&](int from, int to) {
            if (m_strokes.empty() || m_strokes.back().color != color)
                m_strokes.push_back({color, {}});
            m_strokes.back().rects.push_back(e.horizontal ? QRect(QPoint(from, line), QPoint(to, line))
                                                          : QRect(QPoint(line, from), QPoint(line, to)));
        };
        int runStart = -1;
        for (int along = std::max(e.from - before, 0); along <= alongLast; ++along) {
            const bool ink = !period || on[size_t((along + origin) % period)];
            if (ink && runStart < 0)
                runStart = along;
            if (!ink && runStart >= 0) {
                addRun(runStart, along - 1);
                runStart = -1;
            }
        }
        if (runStart >= 0)
            addRun(runStart, alongLast);
    }
}

// Diagonal lines cross the whole cell (the whole area of a merged cell), corner to corner.
void RangeDrawing::Layout::layoutDiagonals()
{
    constexpr uint8_t kDown = 0x1, kUp = 0x2; // top-left to bottom-right, bottom-left to top-right
    for (int r = m_range.firstRow; r <= m_range.lastRow; ++r) {
        for (int c = m_range.firstCol; c <= m_range.lastCol; ++c) {
            xls::CellRange box{uint16_t(r), uint16_t(r), uint16_t(c), uint16_t(c)};
            if (const int merge = m_mergeSlot[slot(r, c)]; merge != -1) {
                box = m_merges[size_t(merge)];
                if (box.firstRow != r || box.firstCol != c)
                    continue;
            }
            const int xf = formatAt(r, c);
            if (xf < 0)
                continue;
            const xls::CellFormat &f = m_book.xf(uint16_t(xf));
            if (!f.diagonalDirections || !f.diagonal.style)
                continue;
            const LineStyle &st = lineStyle(f.diagonal.style);
            QPen pen(QColor::fromRgb(rgb(f.diagonal.colorIndex, 0x000000)), st.width);
            if (st.dash[0]) {
                QList<qreal> dashes;
                for (size_t i = 0; i < st.dash.size() && st.dash[i]; ++i)
                    dashes << qreal(st.dash[i]) / st.width;
                pen.setDashPattern(dashes);
            }
            const QPoint topLeft(x(box.firstCol), y(box.firstRow)), bottomRight(x(box.lastCol + 1), y(box.lastRow + 1));
            if (f.diagonalDirections & kDown)
                m_diagonals.push_back({pen, QLine(topLeft, bottomRight)});
            if (f.diagonalDirections & kUp)
                m_diagonals.push_back({pen, QLine(QPoint(topLeft.x(), bottomRight.y()), QPoint(bottomRight.x(), topLeft.y()))});
        }
    }
}

void RangeDrawing::Layout::layoutPictures()
{
    const QRectF bounds(QPointF(0, 0), m_size);
    for (const xls::SheetPicture &picture : m_sheet.pictures()) {
        const xls::CellAnchor &a = picture.anchor;
        auto px = [this](uint16_t col, uint16_t dx) {
            const int c = std::min<int>(col, kColumns - 1);
            return (qreal(m_geo.columnX(c) - m_x0) + m_geo.columnWidth(c) * std::min<int>(dx, 1024) / 1024.0) * m_stretch;
        };
        auto py = [this](uint16_t row, uint16_t dy) {
            return qreal(m_geo.rowY(row) - m_y0) + m_geo.rowHeight(row) * std::min<int>(dy, 256) / 256.0;
        };
        const QRectF target(QPointF(px(a.col1, a.dx1), py(a.row1, a.dy1)), QPointF(px(a.col2, a.dx2), py(a.row2, a.dy2)));
        if (target.width() <= 0 || target.height() <= 0 || !target.intersects(bounds))
            continue;
        QImage image = decodeImage(picture.image);
        if (image.isNull())
            continue; // an undecodable picture leaves its frame empty
        m_pictures.push_back({target, std::move(image)});
    }
}

// ---- Public --------------------------------------------------------------------------

QString rangeName(xls::CellRange range)
{
    return QStringLiteral("%1%2:%3%4")
        .arg(columnName(range.firstCol)).arg(range.firstRow + 1).arg(columnName(range.lastCol)).arg(range.lastRow + 1);
}

xls::Result<QSize> pictureSize(const SheetGeometry &geometry, xls::CellRange range)
{
    if (range.lastRow < range.firstRow || range.lastCol < range.firstCol)
        return xls::Error{QStringLiteral("The range %1 is reversed.").arg(rangeName(range))};
    if (range.lastCol >= kColumns)
        return xls::Error{QStringLiteral("The range %1 reaches past column IV.").arg(rangeName(range))};
    const int64_t width = geometry.columnX(range.lastCol + 1) - geometry.columnX(range.firstCol) + 1;
    const int64_t height = geometry.rowY(range.lastRow + 1) - geometry.rowY(range.firstRow) + 1;
    if (width > kMaxPictureSide || height > kMaxPictureSide || width * height > kMaxPicturePixels)
        return xls::Error{QStringLiteral("The picture of %1 would be %2 x %3 pixels; a picture is at most %4 pixels a side "
                                         "and %5 million pixels in all.")
                              .arg(rangeName(range)).arg(width).arg(height).arg(kMaxPictureSide).arg(kMaxPicturePixels >> 20)};
    return QSize(int(width), int(height));
}

namespace {

// The checks every picture of a range passes before anything is laid out.
xls::Status checkRange(const xls::Workbook &book, int sheetIndex, xls::CellRange range)
{
    if (sheetIndex < 0 || sheetIndex >= book.sheetCount())
        return xls::Error{QStringLiteral("The workbook has no sheet %1.").arg(sheetIndex + 1)};
    const xls::Worksheet &sheet = book.sheet(sheetIndex);
    if (!sheet.isWorksheet())
        return xls::Error{QStringLiteral("The sheet \"%1\" is not a worksheet and has no cells to picture.").arg(sheet.name())};
    if (range.lastRow < range.firstRow || range.lastCol < range.firstCol)
        return xls::Error{QStringLiteral("The range %1 is reversed.").arg(rangeName(range))};
    if (range.lastCol >= kColumns)
        return xls::Error{QStringLiteral("The range %1 reaches past column IV.").arg(rangeName(range))};
    const size_t cells = size_t(range.lastRow - range.firstRow + 1) * size_t(range.lastCol - range.firstCol + 1);
    if (cells > kMaxCells)
        return xls::Error{QStringLiteral("The range %1 holds more than %2 cells.").arg(rangeName(range)).arg(kMaxCells)};
    return {};
}

} // namespace

RangeDrawing::RangeDrawing(std::unique_ptr<Layout> layout) : m_layout(std::move(layout)) {}
RangeDrawing::RangeDrawing(RangeDrawing &&) noexcept = default;
RangeDrawing &RangeDrawing::operator=(RangeDrawing &&) noexcept = default;
RangeDrawing::~RangeDrawing() = default;

xls::Result<RangeDrawing> RangeDrawing::layOut(const xls::Workbook &book, int sheetIndex, xls::CellRange range,
                                               double columnStretch)
{
    if (xls::Status s = checkRange(book, sheetIndex, range); !s)
        return s.error();
    auto layout = std::make_unique<Layout>(book, book.sheet(sheetIndex), SheetGeometry(book.sheet(sheetIndex)), range,
                                           columnStretch);
    layout->build();
    return RangeDrawing(std::move(layout));
}

xls::CellRange RangeDrawing::range() const { return m_layout->range(); }
QSize RangeDrawing::size() const { return m_layout->size(); }
bool RangeDrawing::isBlank() const { return m_layout->isBlank(); }

xls::CellRange rangeWithOverflow(const xls::Workbook &book, int sheetIndex, xls::CellRange range, int limitCol)
{
    if (sheetIndex < 0 || sheetIndex >= book.sheetCount() || range.lastCol >= limitCol || range.lastCol >= kColumns - 1)
        return range;
    const xls::Worksheet &sheet = book.sheet(sheetIndex);
    const SheetGeometry geometry(sheet);
    // The range with the columns its text may run into, its text laid out: each text job
    // reports how far its text reaches.
    xls::CellRange probe = range;
    probe.lastCol = uint16_t(std::min(limitCol, kColumns - 1));
    // Widen step by step, so a sheet with text in its last column does not lay out 256 columns
    // of every row: most text runs on over a column or two.
    int reach = range.lastCol;
    for (int step = 4; ; step *= 4) {
        probe.lastCol = uint16_t(std::min(limitCol, range.lastCol + step));
        if (checkRange(book, sheetIndex, probe).ok() == false)
            return range;
        RangeDrawing::Layout layout(book, sheet, geometry, probe);
        layout.buildTextReach();
        reach = std::max(reach, layout.textReach());
        if (reach < probe.lastCol || probe.lastCol >= limitCol)
            break;
    }
    range.lastCol = uint16_t(std::max<int>(range.lastCol, reach));
    return range;
}
void RangeDrawing::paint(QPainter &painter, const PaintOptions &options) const { m_layout->paint(painter, options); }

xls::Status paintRange(QPainter &painter, const xls::Workbook &book, int sheetIndex, xls::CellRange range,
                       const PaintOptions &options)
{
    xls::Result<RangeDrawing> drawing = RangeDrawing::layOut(book, sheetIndex, range);
    if (!drawing)
        return drawing.error();
    drawing->paint(painter, options);
    return {};
}

xls::Result<QImage> renderRange(const xls::Workbook &book, int sheetIndex, xls::CellRange range)
{
    if (sheetIndex < 0 || sheetIndex >= book.sheetCount())
        return xls::Error{QStringLiteral("The workbook has no sheet %1.").arg(sheetIndex + 1)};
    const xls::Worksheet &sheet = book.sheet(sheetIndex);
    if (!sheet.isWorksheet())
        return xls::Error{QStringLiteral("The sheet \"%1\" is not a worksheet and has no cells to picture.").arg(sheet.name())};
    // The size first: for a whole-sheet range, "too many pixels" says more than "too many cells".
    SheetGeometry geometry(sheet);
    xls::Result<QSize> size = pictureSize(geometry, range);
    if (!size)
        return size.error();
    if (xls::Status s = checkRange(book, sheetIndex, range); !s)
        return s.error();
    RangeDrawing::Layout layout(book, sheet, std::move(geometry), range);
    layout.build();
    QImage image(*size, QImage::Format_RGB32);
    if (image.isNull())
        return xls::Error{QStringLiteral("There is not enough memory for a %1 x %2 pixel picture of %3.")
                              .arg(size->width()).arg(size->height()).arg(rangeName(range))};
    image.setDotsPerMeterX(kDotsPerMeter96Dpi);
    image.setDotsPerMeterY(kDotsPerMeter96Dpi);
    QPainter painter(&image); // the painting starts with the white background
    layout.paint(painter, {});
    painter.end();
    return image;
}

} // namespace render
