#include "app/win32/MainWindow.h"

#include <windowsx.h>
#include <ole2.h>
#include <olectl.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

#include "base/AppError.h"
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

// The thread's last error, or the fallback when a call failed without setting one.
uint32_t LastErrorOr(DWORD fallback)
{
    DWORD error = GetLastError();
    return error != 0 ? error : fallback;
}

COLORREF ColourFromRgb(unsigned rgb)
{
    return RGB((rgb >> 16) & 0xFF, (rgb >> 8) & 0xFF, rgb & 0xFF);
}

// A memory device context with one bitmap selected, for copying the picture.
class BitmapDc {
public:
    BitmapDc(HDC compatible, HBITMAP bitmap) : dc_(CreateCompatibleDC(compatible))
    {
        old_ = SelectObject(dc_, bitmap);
    }
    ~BitmapDc()
    {
        SelectObject(dc_, old_);
        DeleteDC(dc_);
    }
    BitmapDc(const BitmapDc&) = delete;
    BitmapDc& operator=(const BitmapDc&) = delete;
    HDC Get() const { return dc_; }

private:
    HDC dc_;
    HGDIOBJ old_;
};

// Decodes an image held in memory with the system's own decoders (OleLoadPicture reads JPEG)
// and answers a copy of it as a device-independent bitmap.
HBITMAP DecodeImage(const void* bytes, DWORD size)
{
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, size);
    if (memory == nullptr)
        throw SystemError(GetLastError(), "Cannot load the program's picture.");
    void* target = GlobalLock(memory);
    std::memcpy(target, bytes, size);
    GlobalUnlock(memory);

    IStream* stream = nullptr;
    HRESULT hr = CreateStreamOnHGlobal(memory, TRUE, &stream);  // the stream frees the memory
    if (FAILED(hr)) {
        GlobalFree(memory);
        throw SystemError(static_cast<uint32_t>(hr), "Cannot load the program's picture.");
    }
    // OleLoadPicture comes with OLE Automation 2.20 and later; the first Windows 95 may lack it.
    using LoadPictureFunction = HRESULT(WINAPI*)(IStream*, LONG, BOOL, REFIID, void**);
    HMODULE automation = LoadLibraryA("oleaut32.dll");
    auto loadPicture = automation != nullptr
                           ? reinterpret_cast<LoadPictureFunction>(
                                 reinterpret_cast<void (*)()>(GetProcAddress(automation, "OleLoadPicture")))
                           : nullptr;
    if (loadPicture == nullptr) {
        stream->Release();
        throw SystemError(ERROR_PROC_NOT_FOUND, "Cannot decode the program's picture: OleLoadPicture is missing.");
    }
    IPicture* picture = nullptr;
    hr = loadPicture(stream, static_cast<LONG>(size), FALSE, IID_IPicture, reinterpret_cast<void**>(&picture));
    stream->Release();
    if (FAILED(hr) || picture == nullptr)
        throw SystemError(static_cast<uint32_t>(hr), "Cannot decode the program's picture.");

    OLE_HANDLE handle = 0;
    SHORT type = PICTYPE_UNINITIALIZED;
    HBITMAP copy = nullptr;
    if (SUCCEEDED(picture->get_Type(&type)) && type == PICTYPE_BITMAP && SUCCEEDED(picture->get_Handle(&handle)))
        copy = static_cast<HBITMAP>(CopyImage(reinterpret_cast<HBITMAP>(static_cast<UINT_PTR>(handle)), IMAGE_BITMAP,
                                              0, 0, LR_CREATEDIBSECTION));
    picture->Release();
    if (copy == nullptr)
        throw AppError(static_cast<uint32_t>(E_FAIL), DescribeSystemError(static_cast<uint32_t>(E_FAIL)),
                       "Cannot decode the program's picture: it is not a bitmap image.");
    return copy;
}

}  // namespace

MainWindow::MainWindow(HINSTANCE instance, frmMain& form, int dotsPerInch)
    : instance_(instance), form_(form), dpi_(dotsPerInch)
{
}

MainWindow::~MainWindow()
{
    if (window_ != nullptr)
        DestroyWindow(window_);
    if (labelFont_ != nullptr)
        DeleteObject(labelFont_);
    if (picture_ != nullptr)
        DeleteObject(picture_);
    // Icons and cursors from LoadImage/LoadCursor with LR_SHARED belong to the system.
}

void MainWindow::LoadPicture()
{
    HRSRC resource = FindResourceA(instance_, MAKEINTRESOURCEA(IDR_PICTURE), MAKEINTRESOURCEA(10));  // RT_RCDATA
    HGLOBAL loaded = resource != nullptr ? LoadResource(instance_, resource) : nullptr;
    const void* bytes = loaded != nullptr ? LockResource(loaded) : nullptr;
    DWORD size = resource != nullptr ? SizeofResource(instance_, resource) : 0;
    if (bytes == nullptr || size == 0)
        throw SystemError(LastErrorOr(ERROR_RESOURCE_DATA_NOT_FOUND),
                          "Cannot find the program's picture among its resources.");
    picture_ = DecodeImage(bytes, size);
    BITMAP info{};
    GetObjectA(picture_, sizeof info, &info);
    pictureSize_ = {info.bmWidth, info.bmHeight};
}

void MainWindow::Create()
{
    bigIcon_ = static_cast<HICON>(LoadImageA(instance_, MAKEINTRESOURCEA(IDI_TARNWICK), IMAGE_ICON,
                                             GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), LR_SHARED));
    smallIcon_ = static_cast<HICON>(LoadImageA(instance_, MAKEINTRESOURCEA(IDI_TARNWICK), IMAGE_ICON,
                                               GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON),
                                               LR_SHARED));
    if (bigIcon_ == nullptr || smallIcon_ == nullptr)
        throw SystemError(LastErrorOr(ERROR_RESOURCE_DATA_NOT_FOUND), "Cannot load the program's icon.");
    handCursor_ = LoadCursorA(instance_, MAKEINTRESOURCEA(IDC_HAND_CURSOR));
    if (handCursor_ == nullptr)
        throw SystemError(LastErrorOr(ERROR_RESOURCE_DATA_NOT_FOUND), "Cannot load the program's hand cursor.");
    arrowCursor_ = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512));  // IDC_ARROW
    LoadPicture();

    labelFont_ = CreateFontA(-MulDiv(static_cast<int>(kLabelFontPoints * 100), dpi_, 7200), 0, 0, 0, kLabelFontWeight,
                             FALSE, FALSE, FALSE, ANSI_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                             DEFAULT_QUALITY, DEFAULT_PITCH | FF_DONTCARE, Ascii(kLabelFontFace).c_str());
    if (labelFont_ == nullptr)
        throw SystemError(LastErrorOr(ERROR_INVALID_PARAMETER), "Cannot create the font of the window's labels.");

    WNDCLASSEXA windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = instance_;
    windowClass.hIcon = bigIcon_;
    windowClass.hIconSm = smallIcon_;
    windowClass.hbrBackground = static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH));
    windowClass.lpszClassName = kClassName;
    // No class cursor: WM_SETCURSOR picks the hand or the arrow.
    if (RegisterClassExA(&windowClass) == 0)
        throw SystemError(GetLastError(), "Cannot register the window class.");

    // A popup has no frame: the window is exactly its drawing area.
    const DWORD style = WS_POPUP | WS_CLIPSIBLINGS;
    const DWORD exStyle = WS_EX_APPWINDOW;
    RECT bounds{0, 0, FormWidthPixels(dpi_), FormHeightPixels(dpi_)};
    AdjustWindowRectEx(&bounds, style, FALSE, exStyle);
    const int width = bounds.right - bounds.left;
    const int height = bounds.bottom - bounds.top;
    RECT work{};
    if (!SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0))
        work = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    const int left = work.left + std::max(0L, (work.right - work.left - width) / 2);
    const int top = work.top + std::max(0L, (work.bottom - work.top - height) / 2);

    window_ = CreateWindowExA(exStyle, kClassName, Ascii(kProgramTitle).c_str(), style, left, top, width, height, nullptr,
                              nullptr, instance_, this);
    if (window_ == nullptr)
        throw SystemError(GetLastError(), "Cannot create the program's window.");
}

void MainWindow::Show(int showCommand)
{
    ShowWindow(window_, showCommand);
    UpdateWindow(window_);
}

int MainWindow::RunMessageLoop()
{
    MSG message{};
    for (;;) {
        BOOL result = GetMessageA(&message, nullptr, 0, 0);
        if (result == 0)
            break;
        if (result == -1)
            throw SystemError(GetLastError(), "The program's message loop failed.");
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
        self->window_ = window;
        SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    }
    auto* self = reinterpret_cast<MainWindow*>(GetWindowLongPtrA(window, GWLP_USERDATA));
    if (self == nullptr)
        return DefWindowProcA(window, message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrA(window, GWLP_USERDATA, 0);
        self->window_ = nullptr;
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
        HDC dc = BeginPaint(window_, &paint);
        Paint(dc);
        EndPaint(window_, &paint);
        return 0;
    }
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
    return DefWindowProcA(window_, message, wParam, lParam);
}

bool MainWindow::SetCursorForPoint()
{
    POINT point;
    if (!GetCursorPos(&point) || !ScreenToClient(window_, &point))
        return false;
    SetCursor(ShowsHandCursor(ControlAt(point.x, point.y, dpi_)) ? handCursor_ : arrowCursor_);
    return true;
}

void MainWindow::MouseDown(MouseButton button, LPARAM lParam)
{
    if (failure_)
        return;
    if (GetCapture() != window_)
        SetCapture(window_);
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
    DcCanvas(HDC dc, HFONT font, HBITMAP picture, SIZE pictureSize)
        : dc_(dc), picture_(picture), pictureSize_(pictureSize), oldFont_(SelectObject(dc, font))
    {
        SetTextColor(dc_, ColourFromRgb(kLabelTextRgb));
        SetBkMode(dc_, TRANSPARENT);
    }
    ~DcCanvas() override { SelectObject(dc_, oldFont_); }
    DcCanvas(const DcCanvas&) = delete;
    DcCanvas& operator=(const DcCanvas&) = delete;

    void Line(const PixelRect& area) override
    {
        const RECT rect = ToRect(area);
        FillRect(dc_, &rect, GetSysColorBrush(COLOR_ACTIVECAPTION));
    }

    void Picture(const PixelRect& area) override
    {
        BitmapDc source(dc_, picture_);
        BitBlt(dc_, area.left, area.top, std::min<LONG>(pictureSize_.cx, area.right - area.left),
               std::min<LONG>(pictureSize_.cy, area.bottom - area.top), source.Get(), 0, 0, SRCCOPY);
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
    HGDIOBJ oldFont_;
};

}  // namespace

void MainWindow::Paint(HDC dc)
{
    DcCanvas canvas(dc, labelFont_, picture_, pictureSize_);
    PaintForm(canvas, dpi_);
}

}  // namespace tarnwick
