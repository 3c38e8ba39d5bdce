// The program's window on Win32: a frameless black panel that paints the layout table and hands
// its mouse presses and releases to the core window object.
#pragma once

#include <windows.h>

#include <exception>

#include "app/frmMain.h"
#include "base/win32/Owners.h"

namespace tarnwick {

class MainWindow {
public:
    // Lays itself out at the display's dots per inch.
    MainWindow(HINSTANCE instance, frmMain& form, int dotsPerInch);
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    // Loads the icons, the cursors and the picture and creates the window, still hidden. A
    // resource that cannot be loaded gives way to the system's icon, the arrow or no picture;
    // throws AppError when the font, the class or the window cannot be had.
    void Create();
    void Show(int showCommand);
    HWND Handle() const { return window_.get(); }

    // Dispatches messages until the window is closed (answers 0) or a command fails (throws
    // that failure; the window stays, so the report can be modal to it).
    int RunMessageLoop();

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void Paint(HDC dc);
    // The steps of Create, in this order.
    void LoadIconsAndCursors();
    void LoadPicture();
    void CreatePicturePalette();
    void CreateLabelFont();
    void RegisterWindowClass();
    void CreateHiddenWindow();
    bool RealizeOwnPalette(bool background);
    bool SetCursorForPoint();
    void MouseDown(MouseButton button, LPARAM lParam);
    void MouseUp(MouseButton button, WPARAM wParam, LPARAM lParam);

    HINSTANCE instance_;
    frmMain& form_;
    int dpi_;
    // Icons and cursors loaded shared (LR_SHARED, LoadCursor) belong to the system.
    HICON bigIcon_ = nullptr;
    HICON smallIcon_ = nullptr;
    HCURSOR handCursor_ = nullptr;
    HCURSOR arrowCursor_ = nullptr;
    win32::GdiObject<HFONT> labelFont_;
    win32::GdiObject<HBITMAP> picture_;
    SIZE pictureSize_{};
    win32::GdiObject<HPALETTE> palette_;  // on a palette display only
    bool releasingCapture_ = false;  // the window gives up the capture itself
    std::exception_ptr failure_;     // a command's failure, waiting to be reported
    // Last, so that it is destroyed first: the messages of its end still find every other
    // member alive.
    win32::Window window_;
};

}  // namespace tarnwick
