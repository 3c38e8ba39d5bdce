// frmMain's Run command: the page, then ShellState on the Windows 95 family, then the wallpaper,
// then the end of the program.
#include <string_view>
#include <vector>

#include "app/OperatingSystem.h"
#include "app/frmMain.h"
#include "desktop/ShellState.h"
#include "desktop/WallpaperShell.h"

namespace tarnwick {

std::vector<uint8_t> ShellStateBytes()
{
    // One byte more than there are items: the last byte stays 0.
    std::string_view text = kShellStateText;
    std::vector<std::string_view> items;
    for (size_t start = 0;;) {
        size_t space = text.find(' ', start);
        items.push_back(text.substr(start, space == std::string_view::npos ? std::string_view::npos : space - start));
        if (space == std::string_view::npos)
            break;
        start = space + 1;
    }
    std::vector<uint8_t> bytes(items.size() + 1, 0);
    for (size_t i = 0; i < items.size(); ++i) {
        std::string_view digits = items[i].size() > 2 ? items[i].substr(items[i].size() - 2) : items[i];
        unsigned value = 0;
        for (char c : digits) {
            value <<= 4;
            if (c >= '0' && c <= '9')
                value |= static_cast<unsigned>(c - '0');
            else if (c >= 'a' && c <= 'f')
                value |= static_cast<unsigned>(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                value |= static_cast<unsigned>(c - 'A' + 10);
        }
        bytes[i] = static_cast<uint8_t>(value);
    }
    return bytes;
}

void frmMain::RunCommand()
{
    BuildDesktopPage();

    const std::u16string& os = OperatingSystemName;
    if (os == kOsWindows95 || os == kOsWindows98 || os == kOsWindowsMe) {
        if (!Registry)
            Registry = std::make_unique<clsRegistry>(platform_.registry);
        // Results are not looked at: a missing value or key changes nothing, and the wallpaper
        // is set whatever the registry said.
        Registry->DeleteRegistryValueOrKey(HKEY_CURRENT_USER_VALUE, kExplorerKey, kShellStateName);
        Registry->SetRegistryValue(HKEY_CURRENT_USER_VALUE, kExplorerKey, kShellStateName,
                                   TypedValue::Bytes(ShellStateBytes()), 0);
    }
    SetDesktopWallpaper(PagePath().ToUtf16(), kWallpaperStyleStretch);
    platform_.programEnd.EndProgram();
}

}  // namespace tarnwick
