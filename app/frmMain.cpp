#include "app/frmMain.h"

#include "base/NumberText.h"
#include "app/OperatingSystem.h"

namespace tarnwick {

std::u16string SupportMessage()
{
    return std::u16string(u"For support contact us at ") + kSupportAddress + u" or visit our website at " +
           kSupportWebsite + u".";
}

frmMain::frmMain(Platform& platform) : platform_(platform) {}

namespace {
std::optional<VersionRecord> QueryVersion(IVersionQuery& query)
{
    VersionRecord record;
    if (!query.Query(record))
        return std::nullopt;
    return record;
}
}  // namespace

std::u16string frmMain::IdentifyOperatingSystem()
{
    return OperatingSystemNameFor(QueryVersion(platform_.versionQuery));
}

void frmMain::Load()
{
    SystemVersion = QueryVersion(platform_.versionQuery);
    OperatingSystemName = OperatingSystemNameFor(SystemVersion);
    // Each step a float of its own, so that the 32-bit build rounds it to single precision.
    const float widthTwips = platform_.screen.WidthTwips();
    const float width = widthTwips / 15.0f;
    ScreenWidth = TypedValue::Single(width);
    const float heightTwips = platform_.screen.HeightTwips();
    const float height = heightTwips / 15.0f;
    ScreenHeightText = SingleToText(height);
}

void frmMain::ShowSupport()
{
    platform_.messageBox.Show(SupportMessage(), kProgramTitle);
}

void frmMain::Click(ControlId control)
{
    switch (control) {
    case ControlId::Run:
        RunCommand();
        break;
    case ControlId::Close:
        CloseCommand();
        break;
    case ControlId::Label2:
        ShowSupport();
        break;
    default:
        break;
    }
}

void frmMain::MouseDown(MouseButton button, int x, int y, int dotsPerInch)
{
    if (button == MouseButton::Other)
        return;
    pressed_[static_cast<int>(button)] = ControlAt(x, y, dotsPerInch);
}

void frmMain::MouseUp(MouseButton button, int x, int y, int dotsPerInch)
{
    if (button == MouseButton::Other)
        return;
    std::optional<ControlId> pressed = pressed_[static_cast<int>(button)];
    pressed_[static_cast<int>(button)].reset();
    if (pressed && pressed == ControlAt(x, y, dotsPerInch))
        Click(*pressed);
}

void frmMain::CancelPress()
{
    for (std::optional<ControlId>& pressed : pressed_)
        pressed.reset();
}

}  // namespace tarnwick
