#include "app/Layout.h"

#include <array>
#include <stdexcept>

namespace tarnwick {

namespace {
using enum ControlId;

constexpr std::array<Control, 10> kControls = {{
    {Label1, ControlKind::Label, u"TARNWICK MENU", {360, 120, 2295, 255}, TextAlign::Left},
    {Line1, ControlKind::Line, u"", {120, 480, 2680, 0}, TextAlign::Left},
    {Picture1, ControlKind::Picture, u"", {120, 720, 2700, 2025}, TextAlign::Left},
    {Line2, ControlKind::Line, u"", {120, 2880, 2680, 0}, TextAlign::Left},
    {Run, ControlKind::Label, u"Run Tarnwick", {360, 3000, 2055, 255}, TextAlign::Centre},
    {Line3, ControlKind::Line, u"", {120, 3360, 2680, 0}, TextAlign::Left},
    {Close, ControlKind::Label, u"Close Tarnwick", {240, 3480, 2295, 255}, TextAlign::Centre},
    {Line4, ControlKind::Line, u"", {120, 3840, 2680, 0}, TextAlign::Left},
    {Label2, ControlKind::Label, u"Support", {720, 3960, 1455, 255}, TextAlign::Centre},
    {Line5, ControlKind::Line, u"", {120, 4320, 2680, 0}, TextAlign::Left},
}};
}  // namespace

std::span<const Control> Controls()
{
    return kControls;
}

const Control& ControlById(ControlId id)
{
    for (const Control& control : kControls)
        if (control.id == id)
            return control;
    throw std::out_of_range("unknown control");
}

float PixelsToTwips(int pixels, float dotsPerInch)
{
    // Named steps: the 32-bit build stores each one, dropping the x87 registers' extra precision.
    const float product = static_cast<float>(pixels) * static_cast<float>(kTwipsPerInch);
    const float twips = product / dotsPerInch;
    return twips;
}

int TwipsToPixels(int twips, int dotsPerInch)
{
    return (twips * dotsPerInch + kTwipsPerInch / 2) / kTwipsPerInch;
}

int FormWidthPixels(int dotsPerInch)
{
    return TwipsToPixels(kFormWidthTwips, dotsPerInch);
}

int FormHeightPixels(int dotsPerInch)
{
    return TwipsToPixels(kFormHeightTwips, dotsPerInch);
}

PixelRect ControlPixels(const Control& control, int dotsPerInch)
{
    const TwipRect& t = control.twips;
    int left = TwipsToPixels(t.left, dotsPerInch);
    int top = TwipsToPixels(t.top, dotsPerInch);
    switch (control.kind) {
    case ControlKind::Line:
        return {left, top, TwipsToPixels(t.left + t.width, dotsPerInch), top + 1};
    case ControlKind::Picture:
        return {left, top, left + kPictureWidthPixels, top + kPictureHeightPixels};
    case ControlKind::Label:
        break;
    }
    return {left, top, TwipsToPixels(t.left + t.width, dotsPerInch), TwipsToPixels(t.top + t.height, dotsPerInch)};
}

std::optional<ControlId> ControlAt(int x, int y, int dotsPerInch)
{
    for (const Control& control : kControls)
        if (ControlPixels(control, dotsPerInch).Contains(x, y))
            return control.id;
    return std::nullopt;
}

bool ShowsHandCursor(std::optional<ControlId> control)
{
    return control && ControlById(*control).kind == ControlKind::Label;
}

}  // namespace tarnwick
