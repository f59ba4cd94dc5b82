#pragma once

#include "window/ProgramIdentity.h"

#include <array>
#include <optional>
#include <string_view>

namespace quindral {

// The main window as designed, in twips (1/1440 inch; 15 twips are one pixel at 96 dots per
// inch). Each platform builds its controls from this table.

inline constexpr std::string_view kCaption = QUINDRAL_PRODUCT_NAME;
inline constexpr float kClientWidthTwips = 7485;
inline constexpr float kClientHeightTwips = 3960;

inline constexpr std::array<std::string_view, 2> kProviders = {"GC", "LDAP"};

struct TwipsRect {
    float left;
    float top;
    float width;
    float height;
};

enum class ControlKind { Label, DropDownList, PushButton, MultiLineText };

struct ControlDesign {
    std::string_view name;
    ControlKind kind;
    std::string_view text;
    TwipsRect rect;
    int tabIndex; // 0 comes first and holds the focus when the window opens
};

inline constexpr ControlDesign kLabel1{
    "Label1", ControlKind::Label, "Contact", {120, 150, 975, 255}, 2};
inline constexpr ControlDesign kCbo1{
    "cbo1", ControlKind::DropDownList, "", {840, 120, 1575, 315}, 3};
inline constexpr ControlDesign kLabel2{
    "Label2", ControlKind::Label, "rootDSE", {2520, 150, 975, 255}, 4};
inline constexpr ControlDesign kCommand1{
    "Command1", ControlKind::PushButton, "Fetch Attributes", {5640, 120, 1695, 375}, 0};
inline constexpr ControlDesign kTxtResult{
    "txtResult", ControlKind::MultiLineText, "", {120, 600, 7215, 3135}, 1};

inline constexpr std::array<ControlDesign, 5> kControls = {kLabel1, kCbo1, kLabel2, kCommand1,
                                                           kTxtResult};

// What a screen reader calls the result pane, which has no label of its own. The selector is
// named by Label1, the button by its text.
inline constexpr std::string_view kPaneAccessibleName = "Result";

// The controls that take the focus, in tab order.
inline constexpr std::array<std::string_view, 3> kTabOrder = {"Command1", "txtResult", "cbo1"};

// Twips and pixels at a given resolution (96 dots per inch unless the screen says otherwise).
int TwipsToPixels(float twips, float dotsPerInch = 96);
float PixelsToTwips(int pixels, float dotsPerInch = 96);

// The result pane's new size for a client area, in twips. The pane keeps its own left offset as a
// margin to its left, its right and below it, and keeps its top. A dimension that would come out
// below zero is not given: the pane keeps its previous value there, while the other still
// follows the window.
struct PaneSize {
    std::optional<float> width;
    std::optional<float> height;
};
PaneSize ResizeRule(float clientWidthTwips, float clientHeightTwips,
                    const TwipsRect& pane = kTxtResult.rect);

} // namespace quindral
