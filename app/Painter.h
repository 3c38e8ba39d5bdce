// The form's drawing order, for both windows: each window only offers the three primitives.
#pragma once

#include <string_view>

#include "app/Layout.h"

namespace tarnwick {

// What a window draws with, in its own pixels. The window fills its background black itself.
class ICanvas {
public:
    virtual ~ICanvas() = default;
    // A solid line filling the area (one pixel high) in the colour of the active caption.
    virtual void Line(const PixelRect& area) = 0;
    // The picture at its natural size, its top-left corner at the area's.
    virtual void Picture(const PixelRect& area) = 0;
    // A caption in the labels' font and colour, with no background: one line from the top of
    // the area, aligned within it, never wrapped, clipped to it.
    virtual void Label(const PixelRect& area, std::u16string_view caption, TextAlign align) = 0;
};

// Draws every control of the layout, top to bottom, at the display's dots per inch.
void PaintForm(ICanvas& canvas, int dotsPerInch);

}  // namespace tarnwick
