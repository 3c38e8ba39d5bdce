#include "app/win32/MainWindow.h"

#include <windowsx.h>

#include <algorithm>
#include <string>
#include <string_view>

#include "base/AppError.h"
#include "base/SystemFamily.h"
#include "base/win32/Errors.h"
#include "base/win32/Owners.h"
#include "app/Layout.h"
#include "app/Painter.h"
#include "app/win32/Win32Platform.h"
#include "resources/ResourceIds.h"

namespace tarnwick {

namespace {

// The window's own texts are ASCII, and it uses the ANSI entry points, which every Windows has
// (the wide ones are stubs on 95, 98 and ME).
constexpr char kClassName[] = "TarnwickMainWindow";

std::string Ascii(std::u16string_view text)
{
    return std::string(text.begin(), text.end());
}

COLORREF ColourFromRgb(unsigned rgb)
{
    return RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
}

// The window's outer size for a drawing area of the form's size, centred in the work area.
RECT CentredBounds(int dpi, DWORD style, DWORD exStyle)
{
    RECT bounds{0, 0, FormWidthPixels(dpi), FormHeightPixels(dpi)};
    AdjustWindowRectEx(&bounds, style, FALSE, exStyle);
    const LONG width = bounds.right - bounds.left;
    const LONG height = bounds.bottom - bounds.top;
    RECT work{};
    if (!SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0))
        work = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    const LONG left = work.left + std::max(0L, (work.right - work.left - width) / 2);
    const LONG top = work.top + std::max(0L, (work.bottom - work.top - height) / 2);
    return RECT{left, top, left + width, top + height};
}

// Selects a palette into a device context and realises it, in the foreground or the background,
// and selects the previous one back when it ends. No palette, nothing done.
class RealizedPalette {
public:
    RealizedPalette(HDC dc, HPALETTE palette, bool background)
        : dc_(dc), previous_(palette != nullptr ? SelectPalette(dc, palette, background) : nullptr),
          changed_(previous_ != nullptr ? RealizePalette(dc) : 0)
    {
    }
    ~RealizedPalette()
    {
        if (previous_ != nullptr)
            SelectPalette(dc_, previous_, TRUE);
    }
    RealizedPalette(const RealizedPalette&) = delete;
    RealizedPalette& operator=(const RealizedPalette&) = delete;

    // How many entries of the system palette realising changed (GDI_ERROR when it failed).
    UINT Changed() const { return changed_; }

private:
    HDC dc_;
    HPALETTE previous_;
    UINT changed_;
};

}  // namespace

MainWindow::MainWindow(HINSTANCE instance, frmMain& form, int dotsPerInch)
    : instance_(instance), form_(form), dpi_(dotsPerInch)
{
}

void MainWindow::Create()
{
    LoadIconsAndCursors();
    LoadPicture();
    CreatePicturePalette();
    CreateLabelFont();
    RegisterWindowClass();
    CreateHiddenWindow();
}

// A resource that cannot be had leaves the window as it is without it: the system's application
// icon, the arrow cursor, no picture (the black panel). The window still opens and works.
void MainWindow::LoadIconsAndCursors()
{
    bigIcon_ = static_cast<HICON>(LoadImageA(instance_, MAKEINTRESOURCEA(IDI_TARNWICK), IMAGE_ICON,
                                             GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), LR_SHARED));
    smallIcon_ =
        static_cast<HICON>(LoadImageA(instance_, MAKEINTRESOURCEA(IDI_TARNWICK), IMAGE_ICON,
                                      GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), LR_SHARED));
    if (bigIcon_ == nullptr || smallIcon_ == nullptr) {
        // The system draws the small one from the large one.
        bigIcon_ = LoadIconA(nullptr, MAKEINTRESOURCEA(32512));  // IDI_APPLICATION
        smallIcon_ = nullptr;
    }
    arrowCursor_ = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
    handCursor_ = LoadCursorA(instance_, MAKEINTRESOURCEA(IDC_HAND_CURSOR));
    if (handCursor_ == nullptr)
        handCursor_ = arrowCursor_;
}

// The picture is a device-independent bitmap among the resources, drawn with GDI: every Windows
// reads it without a decoder.
void MainWindow::LoadPicture()
{
    picture_.reset(static_cast<HBITMAP>(
        LoadImageA(instance_, MAKEINTRESOURCEA(IDB_PICTURE), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION)));
    BITMAP info{};
    if (!picture_ || GetObjectA(picture_.get(), sizeof info, &info) == 0) {
        picture_.reset();
        pictureSize_ = {0, 0};
        return;
    }
    pictureSize_ = {info.bmWidth, info.bmHeight};
}

// A display of 256 colours or fewer shows only the colours of the palette realised on it, by
// default the 20 the system keeps: the 24-bit picture would be reduced to those. There the
// window realises a halftone palette, an even spread of colours, and draws the picture into it.
void MainWindow::CreatePicturePalette()
{
    const win32::WindowDc screen(nullptr);
    if (screen.get() == nullptr || (GetDeviceCaps(screen.get(), RASTERCAPS) & RC_PALETTE) == 0)
        return;
    palette_.reset(CreateHalftonePalette(screen.get()));  // none: the system's colours, as before
}

// Realises the window's palette in the foreground (it is becoming active) or the background
// (another window realised one); where that changed the colours, the window is drawn again.
// Answers whether it has a palette.
bool MainWindow::RealizeOwnPalette(bool background)
{
    if (!palette_)
        return false;
    const win32::WindowDc dc(window_.get());
    const RealizedPalette realized(dc.get(), palette_.get(), background);
    if (realized.Changed() != 0 && realized.Changed() != GDI_ERROR)
        InvalidateRect(window_.get(), nullptr, FALSE);
    return true;
}

void MainWindow::CreateLabelFont()
{
    labelFont_.reset(CreateFontA(-MulDiv(static_cast<int>(kLabelFontPoints * 100), dpi_, 7200), 0, 0, 0,
                                 kLabelFontWeight, FALSE, FALSE, FALSE, ANSI_CHARSET, OUT_DEFAULT_PRECIS,
                                 CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE,
                                 Ascii(kLabelFontFace).c_str()));
    win32::ThrowLastErrorIf(!labelFont_, "Cannot create the font of the window's labels.", ERROR_INVALID_PARAMETER);
}

void MainWindow::RegisterWindowClass()
{
    WNDCLASSEXA windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance_;
    windowClass.hIcon = bigIcon_;
    windowClass.hIconSm = smallIcon_;
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    windowClass.lpszClassName = kClassName;
    // No class cursor: WM_SETCURSOR picks the hand or the arrow.
    win32::ThrowLastErrorIf(RegisterClassExA(&windowClass) == 0, "Cannot register the window class.");
}

void MainWindow::CreateHiddenWindow()
{
    // A popup has no frame: the window is exactly its drawing area.
    const DWORD style = WS_POPUP | WS_CLIPSIBLINGS;
    const DWORD exStyle = WS_EX_APPWINDOW;
    const RECT bounds = CentredBounds(dpi_, style, exStyle);
    // The window procedure takes the new window into window_ as it is created.
    const HWND created =
        CreateWindowExA(exStyle, kClassName, Ascii(kProgramTitle).c_str(), style, bounds.left, bounds.top,
                        bounds.right - bounds.left, bounds.bottom - bounds.top, nullptr, nullptr, instance_, this);
    win32::ThrowLastErrorIf(created == nullptr, "Cannot create the program's window.");
}

void MainWindow::Show(int showCommand)
{
    ShowWindow(window_.get(), showCommand);
    UpdateWindow(window_.get());
}

int MainWindow::RunMessageLoop()
{
    MSG message{};
    for (;;) {
        BOOL result = GetMessageA(&message, nullptr, 0, 0);
        if (result == 0)
            break;
        win32::ThrowLastErrorIf(result == -1, "The program's message loop failed.");
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    if (failure_)
        std::rethrow_exception(failure_);
    return static_cast<int>(message.wParam);
}

LRESULT CALLBACK MainWindow::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        auto* create = reinterpret_cast<CREATESTRUCTA*>(lParam);
        auto* self = static_cast<MainWindow*>(create->lpCreateParams);
        self->window_.reset(window);
        SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (self == nullptr)
        return DefWindowProcA(window, message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrA(window, GWLP_USERDATA, 0);
        self->window_.release();  // the system destroys it
        return DefWindowProcA(window, message, wParam, lParam);
    }
    // No exception may cross into the system's code: it ends the message loop instead, and the
    // failure is reported once the loop has stopped.
    try {
        return self->HandleMessage(message, wParam, lParam);
    } catch (...) {
        if (!self->failure_)
            self->failure_ = std::current_exception();
        PostQuitMessage(1);
        return 0;
    }
}

LRESULT MainWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_PAINT: {
        PAINTSTRUCT paint;
        HDC dc = BeginPaint(window_.get(), &paint);
        Paint(dc);
        EndPaint(window_.get(), &paint);
        return 0;
    }
    case WM_QUERYNEWPALETTE:
        return RealizeOwnPalette(false) ? TRUE : FALSE;
    case WM_PALETTECHANGED:
        if (reinterpret_cast<HWND>(wParam) != window_.get())
            RealizeOwnPalette(true);
        return 0;
    case WM_SETCURSOR:
        if (LOWORD(lParam) == HTCLIENT && SetCursorForPoint())
            return TRUE;
        break;
    case WM_LBUTTONDOWN:
        MouseDown(MouseButton::Left, lParam);
        return 0;
    case WM_RBUTTONDOWN:
        MouseDown(MouseButton::Right, lParam);
        return 0;
    case WM_LBUTTONUP:
        MouseUp(MouseButton::Left, wParam, lParam);
        return 0;
    case WM_RBUTTONUP:
        MouseUp(MouseButton::Right, wParam, lParam);
        return 0;
    case WM_CAPTURECHANGED:
        // Taken away (a menu, another window, the system): a later release is no click.
        if (!releasingCapture_)
            form_.CancelPress();
        return 0;
    case WM_CANCELMODE:
        form_.CancelPress();
        break;  // the default releases the capture
    case WM_DESTROY:
        // Closed from outside (the taskbar, Alt+F4, another program): the program ends, changing
        // nothing.
        PostQuitMessage(0);
        return 0;
    default:
        break;
    }
    return DefWindowProcA(window_.get(), message, wParam, lParam);
}

bool MainWindow::SetCursorForPoint()
{
    POINT point;
    if (!GetCursorPos(&point) || !ScreenToClient(window_.get(), &point))
        return false;
    SetCursor(ShowsHandCursor(ControlAt(point.x, point.y, dpi_)) ? handCursor_ : arrowCursor_);
    return true;
}

void MainWindow::MouseDown(MouseButton button, LPARAM lParam)
{
    if (failure_)
        return;
    if (GetCapture() != window_.get())
        SetCapture(window_.get());
    form_.MouseDown(button, GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam), dpi_);
}

void MainWindow::MouseUp(MouseButton button, WPARAM wParam, LPARAM lParam)
{
    if (failure_)
        return;
    // The capture holds while any button is still down, so its release reaches the window too.
    if ((wParam & (MK_LBUTTON | MK_RBUTTON | MK_MBUTTON)) == 0) {
        releasingCapture_ = true;
        ReleaseCapture();
        releasingCapture_ = false;
    }
    form_.MouseUp(button, GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam), dpi_);
}

namespace {

// The painter's primitives on a device context: GDI with the label font selected.
class DcCanvas : public ICanvas {
public:
    DcCanvas(HDC dc, HFONT font, HBITMAP picture, SIZE pictureSize, HPALETTE palette)
        : dc_(dc), picture_(picture), pictureSize_(pictureSize), palette_(palette), font_(dc, font)
    {
        SetTextColor(dc_, ColourFromRgb(kLabelTextRgb));
        SetBkMode(dc_, TRANSPARENT);
    }

    void Line(const PixelRect& area) override
    {
        const RECT rect = ToRect(area);
        FillRect(dc_, &rect, GetSysColorBrush(COLOR_ACTIVECAPTION));
    }

    void Picture(const PixelRect& area) override
    {
        if (picture_ == nullptr)
            return;  // the black panel shows through
        const win32::MemoryDc source(CreateCompatibleDC(dc_));
        const win32::SelectedObject bitmap(source.get(), picture_);
        const LONG width = std::min<LONG>(pictureSize_.cx, area.right - area.left);
        const LONG height = std::min<LONG>(pictureSize_.cy, area.bottom - area.top);
        if (palette_ == nullptr) {
            BitBlt(dc_, area.left, area.top, width, height, source.get(), 0, 0, SRCCOPY);
            return;
        }
        // On a palette display: the halftone palette realised, the picture dithered into it
        // where the system can (HALFTONE is NT's; 95, 98 and ME take the nearest colours).
        const RealizedPalette realized(dc_, palette_, false);
        const bool halftone = !IsWindows9x();
        const int previousMode = SetStretchBltMode(dc_, halftone ? HALFTONE : COLORONCOLOR);
        if (halftone)
            SetBrushOrgEx(dc_, 0, 0, nullptr);  // as HALFTONE requires
        StretchBlt(dc_, area.left, area.top, width, height, source.get(), 0, 0, width, height, SRCCOPY);
        if (previousMode != 0)
            SetStretchBltMode(dc_, previousMode);
    }

    void Label(const PixelRect& area, std::u16string_view caption, TextAlign align) override
    {
        RECT rect = ToRect(area);
        const std::string text = Ascii(caption);
        // Without DT_NOCLIP the text stays inside the label's rectangle.
        DrawTextA(dc_, text.data(), static_cast<int>(text.size()), &rect,
                  DT_TOP | DT_SINGLELINE | (align == TextAlign::Centre ? DT_CENTER : DT_LEFT));
    }

private:
    static RECT ToRect(const PixelRect& area) { return RECT{area.left, area.top, area.right, area.bottom}; }

    HDC dc_;
    HBITMAP picture_;
    SIZE pictureSize_;
    HPALETTE palette_;
    win32::SelectedObject font_;
};

}  // namespace

void MainWindow::Paint(HDC dc)
{
    DcCanvas canvas(dc, labelFont_.get(), picture_.get(), pictureSize_, palette_.get());
    PaintForm(canvas, dpi_);
}

}  // namespace tarnwick
