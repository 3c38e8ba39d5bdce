// The Windows program: the core window object over the Win32 platform pieces, the real
// registry, the shell's Active Desktop object and, for Vista and later, the page engine and the
// picture wallpaper.
#include <windows.h>

#include <string>

#include "base/AnsiText.h"
#include "base/AppError.h"
#include "app/frmMain.h"
#include "app/win32/MainWindow.h"
#include "app/win32/Win32Platform.h"
#include "base/win32/Owners.h"
#include "desktop/win32/ActiveDesktopShell.h"
#include "desktop/win32/PictureDesktop.h"
#include "registry/win32/Win32Registry.h"

namespace {

// The one report of a failure that ends the program, modal to the window when there is one.
int ReportFailure(HWND owner, const tarnwick::AppError& error)
{
    const std::u16string text = tarnwick::FromUtf8(error.Report());
    MessageBoxW(owner, reinterpret_cast<const wchar_t*>(text.c_str()),
                reinterpret_cast<const wchar_t*>(tarnwick::kProgramTitle), MB_OK | MB_ICONERROR);
    return 1;
}

int Run(HINSTANCE instance, int showCommand)
{
    using namespace tarnwick;
    Win32VersionQuery version;
    Win32ScreenMetrics screen;
    Win32Registry registry;
    ActiveDesktopShell wallpaper;
    Win32MessageBox messageBox;
    Win32ProgramEnd programEnd;
    MshtmlEngine pageEngine;
    Win32PictureDesktop pictureDesktop;
    Platform platform{version, screen, registry, wallpaper, messageBox, programEnd, {}, &pageEngine, &pictureDesktop};
    frmMain form(platform);
    // The window outlives the failure handlers below, so that the report is modal to it.
    MainWindow window(instance, form, screen.DotsPerInch());
    // Start-up, as on every platform: the window is made (hidden), the load step fills the
    // launcher state, then the window is shown.
    try {
        platform.pages = PageFiles::InFolder(ProgramFolder());
        window.Create();
        messageBox.SetOwner(window.Handle());
        form.Load();
        window.Show(showCommand);
        return window.RunMessageLoop();
    } catch (...) {
        return ReportFailure(window.Handle(), FailureReport(std::current_exception()));
    }
}

}  // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCommand)
{
    // The shell's Active Desktop object wants a single-threaded apartment.
    const tarnwick::win32::ComApartment com;
    if (FAILED(com.Status()))
        return ReportFailure(nullptr, tarnwick::SystemError(static_cast<uint32_t>(com.Status()), "Cannot start COM."));
    return Run(instance, showCommand);
}
