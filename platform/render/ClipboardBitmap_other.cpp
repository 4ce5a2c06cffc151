#include "platform/render/Clipboard.h"

namespace render {

// X11's clipboard (and Wayland's) is read through Qt alone.
QImage clipboardBitmap() { return {}; }

} // namespace render
