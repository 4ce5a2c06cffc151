#include "platform/render/Clipboard.h"

#include <QByteArray>

#include <windows.h>

namespace render {

namespace {

// The clipboard, held for as long as this object lives; another program may hold it for a
// moment, and the caller retries.
class OpenedClipboard {
public:
    OpenedClipboard() : m_open(OpenClipboard(nullptr)) {}
    ~OpenedClipboard()
    {
        if (m_open)
            CloseClipboard();
    }
    OpenedClipboard(const OpenedClipboard &) = delete;
    OpenedClipboard &operator=(const OpenedClipboard &) = delete;
    explicit operator bool() const { return m_open; }

private:
    bool m_open;
};

// A packed DIB (header, colour table or masks, pixels) as the .bmp file it is the body of.
QImage fromPackedDib(const uchar *dib, size_t size)
{
    if (size < sizeof(BITMAPINFOHEADER))
        return {};
    BITMAPINFOHEADER header;
    memcpy(&header, dib, sizeof header);
    if (header.biSize < sizeof(BITMAPINFOHEADER) || header.biSize > size)
        return {};
    size_t colours = header.biClrUsed;
    if (colours == 0 && header.biBitCount <= 8)
        colours = size_t(1) << header.biBitCount;
    // Three masks follow a plain header when the pixels are bit fields.
    const size_t masks = header.biSize == sizeof(BITMAPINFOHEADER) && header.biCompression == BI_BITFIELDS ? 12 : 0;
    const size_t pixelsAt = header.biSize + masks + colours * 4;
    if (pixelsAt > size)
        return {};
    BITMAPFILEHEADER file{};
    file.bfType = 0x4D42; // "BM"
    file.bfSize = DWORD(sizeof file + size);
    file.bfOffBits = DWORD(sizeof file + pixelsAt);
    QByteArray bmp(reinterpret_cast<const char *>(&file), sizeof file);
    bmp.append(reinterpret_cast<const char *>(dib), qsizetype(size));
    return QImage::fromData(bmp, "BMP");
}

QImage fromDibHandle(HANDLE handle)
{
    const auto size = size_t(GlobalSize(handle));
    const auto *dib = static_cast<const uchar *>(GlobalLock(handle));
    if (!dib)
        return {};
    QImage picture = fromPackedDib(dib, size);
    GlobalUnlock(handle);
    return picture;
}

} // namespace

QImage clipboardBitmap()
{
    OpenedClipboard clipboard;
    if (!clipboard)
        return {};
    if (HANDLE dib = GetClipboardData(CF_DIB))
        if (QImage picture = fromDibHandle(dib); !picture.isNull())
            return picture;
    // The clipboard owns the bitmap: it is read, never freed, here.
    if (HANDLE bitmap = GetClipboardData(CF_BITMAP))
        return QImage::fromHBITMAP(static_cast<HBITMAP>(bitmap));
    return {};
}

} // namespace render
