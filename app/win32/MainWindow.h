// The program's window on Win32: a frameless black panel that paints the layout table and hands
// its mouse presses and releases to the core window object.
#pragma once

#include <windows.h>

#include <exception>

#include "app/frmMain.h"

namespace tarnwick {

class MainWindow {
public:
    // Lays itself out at the display's dots per inch.
    MainWindow(HINSTANCE instance, frmMain& form, int dotsPerInch);
    ~MainWindow();
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    // Loads the icons, the cursor and the picture and creates the window, still hidden.
    // Throws AppError when one of them cannot be had.
    void Create();
    void Show(int showCommand);
    HWND Handle() const { return window_; }

    // Dispatches messages until the window is closed (answers 0) or a command fails (throws
    // that failure; the window stays, so the report can be modal to it).
    int RunMessageLoop();

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void Paint(HDC dc);
    void LoadPicture();
    bool SetCursorForPoint();
    void MouseDown(MouseButton button, LPARAM lParam);
    void MouseUp(MouseButton button, WPARAM wParam, LPARAM lParam);

    HINSTANCE instance_;
    frmMain& form_;
    HWND window_ = nullptr;
    int dpi_;
    HICON bigIcon_ = nullptr;
    HICON smallIcon_ = nullptr;
    HCURSOR handCursor_ = nullptr;
    HCURSOR arrowCursor_ = nullptr;
    HFONT labelFont_ = nullptr;
    HBITMAP picture_ = nullptr;
    SIZE pictureSize_{};
    bool releasingCapture_ = false;  // the window gives up the capture itself
    std::exception_ptr failure_;  // a command's failure, waiting to be reported
};

}  // namespace tarnwick
