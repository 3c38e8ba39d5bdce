#include "app/Painter.h"

namespace tarnwick {

void PaintForm(ICanvas& canvas, int dotsPerInch)
{
    for (const Control& control : Controls()) {
        const PixelRect area = ControlPixels(control, dotsPerInch);
        switch (control.kind) {
        case ControlKind::Line:
            canvas.Line(area);
            break;
        case ControlKind::Picture:
            canvas.Picture(area);
            break;
        case ControlKind::Label:
            canvas.Label(area, control.caption, control.align);
            break;
        }
    }
}

}  // namespace tarnwick
