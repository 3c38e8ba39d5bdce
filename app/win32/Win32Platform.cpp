#include "app/win32/Win32Platform.h"

#include <algorithm>
#include <string>

#include "base/AnsiText.h"
#include "app/Layout.h"
#include "base/SystemFamily.h"
#include "base/win32/Errors.h"
#include "base/win32/Owners.h"

namespace tarnwick {

bool Win32VersionQuery::Query(VersionRecord& record)
{
    OSVERSIONINFOA info;
    ZeroMemory(&info, sizeof info);
    info.dwOSVersionInfoSize = sizeof info;
    static_assert(sizeof(OSVERSIONINFOA) == 148);
    // GetVersionExA is deprecated, but Windows 95 has no other; it gives what the system tells programs.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    BOOL ok = GetVersionExA(&info);
#pragma GCC diagnostic pop
    if (!ok)
        return false;
    record.majorVersion = static_cast<int32_t>(info.dwMajorVersion);
    record.minorVersion = static_cast<int32_t>(info.dwMinorVersion);
    record.platformId = static_cast<int32_t>(info.dwPlatformId);
    // The family, and on NT the version, come from the one place that knows the real system.
    const RunningWindows& running = Running();
    if (running.nt) {
        record.platformId = VER_PLATFORM_WIN32_NT;
        if (running.ntMajor != 0) {
            record.majorVersion = static_cast<int32_t>(running.ntMajor);
            record.minorVersion = static_cast<int32_t>(running.ntMinor);
        }
    } else if (info.dwPlatformId != VER_PLATFORM_WIN32s) {
        record.platformId = VER_PLATFORM_WIN32_WINDOWS;
    }
    record.compatibilityMode = record.platformId != static_cast<int32_t>(info.dwPlatformId) ||
                               record.majorVersion != static_cast<int32_t>(info.dwMajorVersion) ||
                               record.minorVersion != static_cast<int32_t>(info.dwMinorVersion);
    return true;
}

float Win32ScreenMetrics::WidthTwips()
{
    const win32::WindowDc screen(nullptr);
    return PixelsToTwips(GetSystemMetrics(SM_CXSCREEN), static_cast<float>(GetDeviceCaps(screen.get(), LOGPIXELSX)));
}

float Win32ScreenMetrics::HeightTwips()
{
    const win32::WindowDc screen(nullptr);
    return PixelsToTwips(GetSystemMetrics(SM_CYSCREEN), static_cast<float>(GetDeviceCaps(screen.get(), LOGPIXELSY)));
}

void Win32MessageBox::Show(const std::u16string& text, const std::u16string& caption)
{
    MessageBoxW(owner_, reinterpret_cast<const wchar_t*>(text.c_str()),
                reinterpret_cast<const wchar_t*>(caption.c_str()), MB_OK);
}

void Win32ProgramEnd::EndProgram()
{
    ExitProcess(0);
}

int Win32ScreenMetrics::DotsPerInch()
{
    const win32::WindowDc screen(nullptr);
    return GetDeviceCaps(screen.get(), LOGPIXELSX);
}

FilePath ProgramFolder()
{
    // 95/98/ME only fill the ANSI form; NT keeps every character of the name in the wide one.
    FilePath::String module;
    for (DWORD room = MAX_PATH;; room *= 2) {
        DWORD length = 0;
        if (IsWindows9x()) {
            std::string ansi(room, '\0');
            length = GetModuleFileNameA(nullptr, ansi.data(), room);
            ansi.resize(std::min<DWORD>(length, room));
            module = FilePath::FromUtf16(FromAnsi(ansi)).Native();
        } else {
            module.assign(room, L'\0');
            length = GetModuleFileNameW(nullptr, module.data(), room);
            module.resize(std::min<DWORD>(length, room));
        }
        win32::ThrowLastErrorIf(length == 0, "Cannot find the program's own folder.");
        if (length < room)
            break;  // else truncated: try again with more room
    }
    return FilePath(module).Parent();
}

}  // namespace tarnwick
