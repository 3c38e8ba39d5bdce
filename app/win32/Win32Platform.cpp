#include "app/win32/Win32Platform.h"

#include <string>

#include "app/AppError.h"

namespace tarnwick {

bool Win32VersionQuery::Query(VersionRecord& record)
{
    OSVERSIONINFOA info;
    ZeroMemory(&info, sizeof info);
    info.dwOSVersionInfoSize = sizeof info;
    static_assert(sizeof(OSVERSIONINFOA) == 148);
    // GetVersionExA is deprecated, but the record it gives is exactly what the program asks for.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    BOOL ok = GetVersionExA(&info);
#pragma GCC diagnostic pop
    if (!ok)
        return false;
    record.majorVersion = static_cast<int32_t>(info.dwMajorVersion);
    record.minorVersion = static_cast<int32_t>(info.dwMinorVersion);
    record.platformId = static_cast<int32_t>(info.dwPlatformId);
    return true;
}

namespace {
struct ScreenDc {
    ScreenDc() : dc(GetDC(nullptr)) {}
    ~ScreenDc() { ReleaseDC(nullptr, dc); }
    ScreenDc(const ScreenDc&) = delete;
    ScreenDc& operator=(const ScreenDc&) = delete;
    HDC dc;
};

float Twips(int pixels, int dotsPerInch)
{
    return static_cast<float>(pixels) * 1440.0f / static_cast<float>(dotsPerInch);
}
}  // namespace

float Win32ScreenMetrics::WidthTwips()
{
    ScreenDc screen;
    return Twips(GetSystemMetrics(SM_CXSCREEN), GetDeviceCaps(screen.dc, LOGPIXELSX));
}

float Win32ScreenMetrics::HeightTwips()
{
    ScreenDc screen;
    return Twips(GetSystemMetrics(SM_CYSCREEN), GetDeviceCaps(screen.dc, LOGPIXELSY));
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

int DisplayDotsPerInch()
{
    ScreenDc screen;
    return GetDeviceCaps(screen.dc, LOGPIXELSX);
}

std::filesystem::path ProgramFolder()
{
    std::wstring module(MAX_PATH, L'\0');
    for (;;) {
        DWORD length = GetModuleFileNameW(nullptr, module.data(), static_cast<DWORD>(module.size()));
        if (length == 0)
            throw SystemError(GetLastError(), "Cannot find the program's own folder.");
        if (length < module.size()) {
            module.resize(length);
            break;
        }
        module.resize(module.size() * 2);  // truncated: try again with more room
    }
    // The parent keeps a separator only at a drive's root (C:\), where it has to stay.
    return std::filesystem::path(module).parent_path();
}

}  // namespace tarnwick
