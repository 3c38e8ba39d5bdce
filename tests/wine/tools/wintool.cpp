// Looks at Tarnwick's windows from another process in the same Wine prefix, for the test
// scripts. Output is one "key=value" line per fact, UTF-8.
//   wintool main               the main window: client rectangle on screen, styles, icons
//   wintool box [seconds]      waits for a message box captioned "Tarnwick" and describes it
//   wintool boxes              how many message boxes captioned "Tarnwick" are open
//   wintool close              asks the main window to close (WM_CLOSE), as another program would
//   wintool cancel-mode        tells the main window to cancel its mode (WM_CANCELMODE), as the
//                              system does when a dialog or menu takes over; it loses the capture
//   wintool steal-capture      takes the mouse capture from the main window for a window of its
//                              own (input attached to the program's thread) and releases it, as
//                              another window does: the program sees WM_CAPTURECHANGED only
//   wintool ok                 presses the OK button of the open message box
//   wintool caption-colour     the active caption colour as "R G B"
//   wintool version            the version record: "major.minor platform"
//   wintool getversion         what GetVersion says: "build=N nt=0|1"
//   wintool dpi                the display's logical dots per inch
//   wintool hold FILE UNTIL    keeps FILE open for reading, sharing reading, writing and deletion
//                              as a virus scanner does, says "held", and closes it once the file
//                              UNTIL exists (two minutes at most)
//   wintool wallpaper [FILE]   sets FILE as the wallpaper the way a person's settings do
//                              (SystemParametersInfo, saved and announced); prints the wallpaper
//                              SystemParametersInfo names then
//   wintool stay               a program with a window of its own (never shown) that runs until it
//                              is ended: Wine's own desktop stays while one of its programs runs
// Exit status 0 on success, 1 when the window looked for is not there, 2 on bad usage.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr wchar_t kTitle[] = L"Tarnwick";
constexpr wchar_t kDialogClass[] = L"#32770";
constexpr int kMessageTextId = 0xFFFF;  // the text of a message box
constexpr int kMessageIconId = 0x0440;  // the icon of a message box

std::string Utf8(const std::wstring& text)
{
    int bytes =
        WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), result.data(), bytes, nullptr,
                        nullptr);
    return result;
}

// Line ends become "\n", so that a value stays on one line.
std::string OneLine(const std::wstring& text)
{
    std::string out;
    for (char c : Utf8(text)) {
        if (c == '\r')
            continue;
        if (c == '\n')
            out += "\\n";
        else
            out += c;
    }
    return out;
}

std::wstring WindowText(HWND window)
{
    wchar_t text[4096] = {};
    GetWindowTextW(window, text, 4096);
    return text;
}

std::wstring ClassName(HWND window)
{
    wchar_t name[256] = {};
    GetClassNameW(window, name, 256);
    return name;
}

struct Found {
    std::vector<HWND> mains;
    std::vector<HWND> boxes;
};

BOOL CALLBACK Collect(HWND window, LPARAM param)
{
    auto* found = reinterpret_cast<Found*>(param);
    if (!IsWindowVisible(window) || WindowText(window) != kTitle)
        return TRUE;
    if (ClassName(window) == kDialogClass)
        found->boxes.push_back(window);
    else
        found->mains.push_back(window);
    return TRUE;
}

Found FindWindows()
{
    Found found;
    EnumWindows(Collect, reinterpret_cast<LPARAM>(&found));
    return found;
}

int Main()
{
    Found found = FindWindows();
    if (found.mains.size() != 1) {
        std::printf("mains=%zu\n", found.mains.size());
        return 1;
    }
    HWND window = found.mains[0];
    RECT client{};
    GetClientRect(window, &client);
    POINT origin{0, 0};
    ClientToScreen(window, &origin);
    RECT bounds{};
    GetWindowRect(window, &bounds);
    LONG_PTR style = GetWindowLongPtrW(window, GWL_STYLE);
    LONG_PTR exStyle = GetWindowLongPtrW(window, GWL_EXSTYLE);
    std::printf("client=%ld,%ld,%ld,%ld\n", origin.x, origin.y, client.right, client.bottom);
    std::printf("window=%ld,%ld,%ld,%ld\n", bounds.left, bounds.top, bounds.right - bounds.left,
                bounds.bottom - bounds.top);
    std::printf("popup=%d caption=%d sizing=%d appwindow=%d\n", (style & WS_POPUP) != 0,
                (style & WS_CAPTION) == WS_CAPTION, (style & WS_THICKFRAME) != 0, (exStyle & WS_EX_APPWINDOW) != 0);
    std::printf("enabled=%d foreground=%d\n", IsWindowEnabled(window) != 0, GetForegroundWindow() == window);
    return 0;
}

int Box(int seconds)
{
    Found found;
    for (int tries = 0; tries <= seconds * 10; ++tries) {
        found = FindWindows();
        if (!found.boxes.empty())
            break;
        Sleep(100);
    }
    if (found.boxes.empty()) {
        std::printf("boxes=0\n");
        return 1;
    }
    HWND box = found.boxes[0];
    HWND owner = GetWindow(box, GW_OWNER);
    HWND icon = GetDlgItem(box, kMessageIconId);
    int buttons = 0;
    std::wstring labels;
    for (HWND child = GetWindow(box, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        if (ClassName(child) == L"Button" && IsWindowVisible(child)) {
            ++buttons;
            labels += (labels.empty() ? L"" : L",") + WindowText(child);
        }
    }
    std::printf("boxes=%zu\n", found.boxes.size());
    std::printf("text=%s\n", OneLine(WindowText(GetDlgItem(box, kMessageTextId))).c_str());
    // The icon control is there in every box; it holds an icon only when one was asked for.
    bool hasIcon = icon != nullptr && IsWindowVisible(icon) && SendMessageW(icon, STM_GETICON, 0, 0) != 0;
    std::printf("icon=%s\n", hasIcon ? "yes" : "no");
    std::printf("buttons=%s\n", OneLine(labels).c_str());
    std::printf("owner=%s\n", owner == nullptr                                     ? "none"
                              : found.mains.size() == 1 && owner == found.mains[0] ? "main"
                                                                                   : "other");
    std::printf("mainenabled=%d\n", found.mains.size() == 1 && IsWindowEnabled(found.mains[0]));
    return 0;
}

int Boxes()
{
    std::printf("boxes=%zu\n", FindWindows().boxes.size());
    return 0;
}

int Close()
{
    Found found = FindWindows();
    if (found.mains.size() != 1)
        return 1;
    return PostMessageW(found.mains[0], WM_CLOSE, 0, 0) ? 0 : 1;
}

int CancelMode()
{
    Found found = FindWindows();
    if (found.mains.size() != 1)
        return 1;
    return SendMessageW(found.mains[0], WM_CANCELMODE, 0, 0) == 0 ? 0 : 1;
}

int StealCapture()
{
    Found found = FindWindows();
    if (found.mains.size() != 1)
        return 1;
    const HWND main = found.mains[0];
    const DWORD programThread = GetWindowThreadProcessId(main, nullptr);
    const HWND own = CreateWindowExW(0, L"STATIC", L"wintool", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                     GetModuleHandleW(nullptr), nullptr);
    if (own == nullptr || !AttachThreadInput(GetCurrentThreadId(), programThread, TRUE))
        return 1;
    const HWND before = GetCapture();
    SetCapture(own);
    const HWND taken = GetCapture();
    ReleaseCapture();
    AttachThreadInput(GetCurrentThreadId(), programThread, FALSE);
    DestroyWindow(own);
    std::printf("before=%s taken=%d\n", before == main ? "main" : before == nullptr ? "none" : "other", taken == own);
    return before == main && taken == own ? 0 : 1;
}

int Ok()
{
    Found found = FindWindows();
    if (found.boxes.empty())
        return 1;
    return PostMessageW(found.boxes[0], WM_COMMAND, IDOK, 0) ? 0 : 1;
}

int CaptionColour()
{
    COLORREF colour = GetSysColor(COLOR_ACTIVECAPTION);
    std::printf("%u %u %u\n", GetRValue(colour), GetGValue(colour), GetBValue(colour));
    return 0;
}

int Version()
{
    OSVERSIONINFOA info;
    ZeroMemory(&info, sizeof info);
    info.dwOSVersionInfoSize = sizeof info;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
    if (!GetVersionExA(&info))
        return 1;
#pragma GCC diagnostic pop
    std::printf("%lu.%lu %lu\n", info.dwMajorVersion, info.dwMinorVersion, info.dwPlatformId);
    return 0;
}

int GetVersionBuild()
{
    const DWORD version = GetVersion();
    const bool nt = (version & 0x80000000u) == 0;
    std::printf("build=%lu nt=%d\n", nt ? (version >> 16) & 0x7FFFu : 0ul, nt);
    return 0;
}

int Dpi()
{
    HDC screen = GetDC(nullptr);
    std::printf("%d %d\n", GetDeviceCaps(screen, LOGPIXELSX), GetDeviceCaps(screen, LOGPIXELSY));
    ReleaseDC(nullptr, screen);
    return 0;
}

int Hold(const wchar_t* path, const wchar_t* until)
{
    const HANDLE file = CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE || std::printf("held\n") < 0 || std::fflush(stdout) != 0)
        return 1;
    for (int tries = 0; tries < 1200 && GetFileAttributesW(until) == INVALID_FILE_ATTRIBUTES; ++tries)
        Sleep(100);
    return CloseHandle(file) ? 0 : 1;
}

int Wallpaper(wchar_t* path)
{
    if (path != nullptr && !SystemParametersInfoW(SPI_SETDESKWALLPAPER, 0, path, SPIF_UPDATEINIFILE | SPIF_SENDCHANGE))
        return 1;
    wchar_t shown[MAX_PATH + 1] = {};
    if (!SystemParametersInfoW(SPI_GETDESKWALLPAPER, MAX_PATH, shown, 0))
        return 1;
    std::printf("wallpaper=%ls\n", shown);
    return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv)
{
    // Real pixels, like the program itself.
    SetProcessDPIAware();
    std::wstring command = argc > 1 ? argv[1] : L"";
    if (command == L"main")
        return Main();
    if (command == L"box")
        return Box(argc > 2 ? _wtoi(argv[2]) : 10);
    if (command == L"boxes")
        return Boxes();
    if (command == L"close")
        return Close();
    if (command == L"cancel-mode")
        return CancelMode();
    if (command == L"steal-capture")
        return StealCapture();
    if (command == L"ok")
        return Ok();
    if (command == L"caption-colour")
        return CaptionColour();
    if (command == L"version")
        return Version();
    if (command == L"getversion")
        return GetVersionBuild();
    if (command == L"dpi")
        return Dpi();
    if (command == L"hold" && argc == 4)
        return Hold(argv[2], argv[3]);
    if (command == L"stay") {
        CreateWindowExW(0, L"STATIC", L"wintool", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
        for (MSG message; GetMessageW(&message, nullptr, 0, 0) > 0;)
            DispatchMessageW(&message);
        return 0;
    }
    if (command == L"wallpaper")
        return Wallpaper(argc > 2 ? argv[2] : nullptr);
    std::fprintf(stderr, "usage: wintool main|box [seconds]|boxes|close|cancel-mode|steal-capture|ok|"
                         "caption-colour|version|getversion|dpi|hold FILE UNTIL|wallpaper [FILE]\n");
    return 2;
}
