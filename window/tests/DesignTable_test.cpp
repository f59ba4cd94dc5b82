#include "window/DesignTable.h"

#include <gtest/gtest.h>

namespace quindral {
namespace {

struct PixelRect {
    int left, top, width, height;
    friend bool operator==(const PixelRect&, const PixelRect&) = default;
};

PixelRect AtDpi(const TwipsRect& r, float dpi) {
    return {TwipsToPixels(r.left, dpi), TwipsToPixels(r.top, dpi), TwipsToPixels(r.width, dpi),
            TwipsToPixels(r.height, dpi)};
}

TEST(DesignTable, ControlsInPixelsAtStandardResolution) {
    EXPECT_EQ(AtDpi(kLabel1.rect, 96), (PixelRect{8, 10, 65, 17}));
    EXPECT_EQ(AtDpi(kCbo1.rect, 96), (PixelRect{56, 8, 105, 21}));
    EXPECT_EQ(AtDpi(kLabel2.rect, 96), (PixelRect{168, 10, 65, 17}));
    EXPECT_EQ(AtDpi(kCommand1.rect, 96), (PixelRect{376, 8, 113, 25}));
    EXPECT_EQ(AtDpi(kTxtResult.rect, 96), (PixelRect{8, 40, 481, 209}));
    EXPECT_EQ(TwipsToPixels(kClientWidthTwips), 499);
    EXPECT_EQ(TwipsToPixels(kClientHeightTwips), 264);
    EXPECT_EQ(AtDpi(kCommand1.rect, 192), (PixelRect{752, 16, 226, 50}));
    EXPECT_EQ(PixelsToTwips(499), 7485);
}

TEST(DesignTable, ButtonAndPaneShareTheirRightEdgeAndTabOrderFollowsTabIndex) {
    EXPECT_EQ(kCommand1.rect.left + kCommand1.rect.width, 7335);
    EXPECT_EQ(kTxtResult.rect.left + kTxtResult.rect.width, 7335);
    int previous = -1;
    for (const auto name : kTabOrder) {
        for (const auto& control : kControls) {
            if (control.name == name) {
                EXPECT_GT(control.tabIndex, previous) << control.name;
                previous = control.tabIndex;
            }
        }
    }
    EXPECT_EQ(kCommand1.tabIndex, 0);
}

TEST(ResizeRule, PaneFillsTheClientAreaLessItsMargins) {
    const PaneSize design = ResizeRule(kClientWidthTwips, kClientHeightTwips);
    EXPECT_EQ(design.width, 7245);
    EXPECT_EQ(design.height, 3240);

    const PaneSize wider = ResizeRule(kClientWidthTwips + 1500, kClientHeightTwips);
    EXPECT_EQ(wider.width, 7245 + 1500);
    EXPECT_EQ(wider.height, 3240);
}

TEST(ResizeRule, DimensionBelowZeroIsNotGivenTheOtherStillIs) {
    const PaneSize narrow = ResizeRule(239, 2000);
    EXPECT_EQ(narrow.width, std::nullopt);
    EXPECT_EQ(narrow.height, 2000 - 720);

    const PaneSize edge = ResizeRule(240, 720);
    EXPECT_EQ(edge.width, 0);
    EXPECT_EQ(edge.height, 0);

    const PaneSize flat = ResizeRule(3000, 700);
    EXPECT_EQ(flat.width, 3000 - 240);
    EXPECT_EQ(flat.height, std::nullopt);
}

} // namespace
} // namespace quindral
