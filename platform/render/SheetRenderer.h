#pragma once
// Coordinates: everything here is painted in the sheet's 96-dpi pixels. (0, 0) is the range's
// top-left grid line; each column adds its pixel width and each row its height, and one more
// pixel holds the right and bottom grid line, so A1:M58 of the template covers
// (sum of column widths + 1) x (sum of row heights + 1). The painter's transform decides where
// that lands and how large: identity on a 96-dpi image gives today's picture pixel for pixel,
// a scale of 4 gives a sharp 400 % view, a page transform gives print or PDF.
//
// The picture of a cell range as a spreadsheet application shows it: column widths and row
// heights as laid out, fills, borders, cell text in its fonts and alignment, merged areas
// drawn as one cell, grid lines when the sheet shows them (or as the caller forces them), and
// the pictures anchored on the sheet. Text is drawn as text (a PDF embeds the fonts), lines
// and fills as rectangles and paths, pictures from their own pixels.
//
// Numbers show under their number formats (xls::NumberFormat) with the format's colour; the
// runs of rich text keep their fonts and colours. Text is shaped without ligatures, so that
// a PDF's text layer holds the characters as typed.
//
// Not drawn (yet): rotated and shrink-to-fit text (shown level, at full size), text running
// into the range from a cell outside it, comments and charts.

#include "platform/render/Geometry.h"
#include "platform/xls/Result.h"
#include "platform/xls/Workbook.h"

#include <QImage>
#include <QRectF>
#include <QSize>

#include <memory>
#include <optional>

class QPainter;

namespace render {

// Largest picture drawn: a side of a QImage fits in 16 bits anyway, and the area cap keeps
// a whole-sheet range from allocating gigabytes (64 M pixels = 256 MB at 4 bytes a pixel).
constexpr int kMaxPictureSide = 32767;
constexpr int64_t kMaxPicturePixels = 64ll * 1024 * 1024;
// One indent level moves text by three spaces of the default font (Arial 10: 3.7 px each).
constexpr int kIndentPx = 11;
// Space between the grid line and the text, each side; with the grid line itself these are
// the 5 px of padding a column width includes.
constexpr int kTextPaddingPx = 2;
constexpr uint32_t kGridColor = 0xD0D7E5;

// Whether the light grid between cells is drawn: as the sheet's view says (the screen
// picture), or forced off or on (printing without or with printed grid lines).
enum class GridLines { AsSheetShows, Hidden, Shown };

struct PaintOptions {
    GridLines gridLines = GridLines::AsSheetShows;
    // In sheet pixels: only what intersects it need be painted (a preview's visible part).
    // Things that cross its edge are painted whole; the caller clips if it must.
    std::optional<QRectF> clip;
};

// "A1:M58" for messages.
QString rangeName(xls::CellRange range);

// The picture size of a range, or an error when the range is reversed, lies outside the sheet
// or is larger than kMaxPictureSide / kMaxPicturePixels.
xls::Result<QSize> pictureSize(const SheetGeometry &geometry, xls::CellRange range);

// A cell range laid out once (cells, text, borders, decoded pictures) and painted as often as
// needed, through any QPainter. It refers to the workbook, which must outlive it and not
// change while it is used. Needs a QGuiApplication for the fonts.
class RangeDrawing {
public:
    // Errors: no such sheet, not a worksheet, a reversed range, one past column IV, or more
    // cells than a picture may hold. A workbook with unknown fonts or pictures that do not
    // decode still lays out.
    // columnStretch lays the columns out that much wider than their screen pixels (paper
    // gives a digit the font's true advance); text keeps its size.
    static xls::Result<RangeDrawing> layOut(const xls::Workbook &book, int sheetIndex, xls::CellRange range,
                                            double columnStretch = 1.0);

    RangeDrawing(RangeDrawing &&) noexcept;
    RangeDrawing &operator=(RangeDrawing &&) noexcept;
    ~RangeDrawing();

    xls::CellRange range() const;
    // Width and height in sheet pixels, the closing grid lines included.
    QSize size() const;
    // Nothing to draw: no text, fill, border, diagonal or picture (grid lines do not count).
    bool isBlank() const;

    // Paints the range, white background first, in sheet pixels under the painter's current
    // transform; the painter's state is as it was afterwards.
    void paint(QPainter &painter, const PaintOptions &options = {}) const;

    class Layout;

private:
    explicit RangeDrawing(std::unique_ptr<Layout> layout);
    std::unique_ptr<Layout> m_layout;
};

// range widened to the right over the empty cells that text running out of its last
// columns covers, as far as limitCol, as the sheet shows that text.
xls::CellRange rangeWithOverflow(const xls::Workbook &book, int sheetIndex, xls::CellRange range,
                                 int limitCol = kColumns - 1);

// Lays out and paints the range in one go.
xls::Status paintRange(QPainter &painter, const xls::Workbook &book, int sheetIndex, xls::CellRange range,
                       const PaintOptions &options = {});

// The 96-dpi picture: the range painted onto a white image of pictureSize(). Errors as for
// layOut, plus a range too large for a picture.
xls::Result<QImage> renderRange(const xls::Workbook &book, int sheetIndex, xls::CellRange range);

} // namespace render
