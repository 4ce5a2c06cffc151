#pragma once
// The twip, the unit windows and sheets are designed in: 1440 to the inch, so 15 to a pixel
// at 96 dpi. Every conversion to pixels goes through here.

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>

namespace facts {

inline constexpr int kTwipsPerPixel = 15;

// The nearest whole pixel of a whole number of twips. Since 15 is odd no length lies
// halfway, so this is exact integer arithmetic that agrees with the double version below;
// the product is taken in 64 bits so no int can overflow it.
constexpr int twipsToPixels(int twips)
{
    const int64_t twice = int64_t(twips) * 2;
    return int(twice >= 0 ? (twice + kTwipsPerPixel) / (2 * kTwipsPerPixel)
                          : -((-twice + kTwipsPerPixel) / (2 * kTwipsPerPixel)));
}

// The nearest whole pixel of a length in twips that may carry a fraction (a zoomed picture),
// halves away from zero, held within int.
inline int twipsToPixels(double twips)
{
    const double px = std::round(twips / kTwipsPerPixel);
    return int(std::clamp(px, double(INT_MIN), double(INT_MAX)));
}

static_assert(twipsToPixels(0) == 0 && twipsToPixels(7) == 0 && twipsToPixels(8) == 1 && twipsToPixels(15) == 1);
static_assert(twipsToPixels(22) == 1 && twipsToPixels(23) == 2 && twipsToPixels(-7) == 0 && twipsToPixels(-8) == -1);

} // namespace facts
