// The window's layout table, fixed in twips, and its conversion to pixels and hit-testing.
// Both windows (Win32 and Qt) draw from here and hand their clicks back here.
#pragma once

#include <optional>
#include <span>
#include <string_view>

namespace tarnwick {

enum class ControlId { Label1, Line1, Picture1, Line2, Run, Line3, Close, Line4, Label2, Line5 };
enum class ControlKind { Label, Line, Picture };
enum class TextAlign { Left, Centre };

struct TwipRect {
    int left, top, width, height;
};

struct Control {
    ControlId id;
    ControlKind kind;
    std::u16string_view caption;  // labels only
    TwipRect twips;               // a line: (left, top) to (left + width, top); height 0
    TextAlign align;
};

struct PixelRect {
    int left, top, right, bottom;  // right and bottom exclusive
    bool Contains(int x, int y) const { return x >= left && x < right && y >= top && y < bottom; }
};

inline constexpr int kTwipsPerInch = 1440;
inline constexpr int kFormWidthTwips = 2940;
inline constexpr int kFormHeightTwips = 4500;
inline constexpr int kPictureWidthPixels = 180;
inline constexpr int kPictureHeightPixels = 135;

// Label text: Arial bold (weight 700), 9.75 points, RGB(224, 224, 224), no background. A caption
// is drawn on a single line from the top of its label (left-aligned or centred), never wrapped;
// whatever does not fit in the label's rectangle is clipped. Both windows follow this rule.
inline constexpr char16_t kLabelFontFace[] = u"Arial";
inline constexpr int kLabelFontWeight = 700;
inline constexpr double kLabelFontPoints = 9.75;
inline constexpr unsigned kLabelTextRgb = 0xE0E0E0;

// The controls from top to bottom.
std::span<const Control> Controls();

const Control& ControlById(ControlId id);

// A length of the screen in twips: pixels * 1440 / the display's logical dots per inch, each
// step in single precision.
float PixelsToTwips(int pixels, float dotsPerInch);

// Twips to pixels at the display's logical dots per inch, rounded to the nearest pixel.
int TwipsToPixels(int twips, int dotsPerInch);

// The window's drawing area in pixels.
int FormWidthPixels(int dotsPerInch);
int FormHeightPixels(int dotsPerInch);

// Where a control lies in pixels. A line is one pixel high, its right end exclusive. The picture
// keeps its natural size at every setting; only its position follows the twips.
PixelRect ControlPixels(const Control& control, int dotsPerInch);

// The control under a point of the window, lines included; none over the bare background.
std::optional<ControlId> ControlAt(int x, int y, int dotsPerInch);

// The hand cursor is shown over the four text labels, the title among them.
bool ShowsHandCursor(std::optional<ControlId> control);

}  // namespace tarnwick
