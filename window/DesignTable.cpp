#include "DesignTable.h"

#include <cmath>

namespace quindral {

namespace {
constexpr float kTwipsPerInch = 1440;
}

int TwipsToPixels(float twips, float dotsPerInch) {
    return static_cast<int>(std::lround(twips * dotsPerInch / kTwipsPerInch));
}

float PixelsToTwips(int pixels, float dotsPerInch) {
    return static_cast<float>(pixels) * kTwipsPerInch / dotsPerInch;
}

PaneSize ResizeRule(float clientWidthTwips, float clientHeightTwips, const TwipsRect& pane) {
    PaneSize size;
    const float width = clientWidthTwips - 2 * pane.left;
    const float height = clientHeightTwips - pane.top - pane.left;
    if (width >= 0) {
        size.width = width;
    }
    if (height >= 0) {
        size.height = height;
    }
    return size;
}

} // namespace quindral
