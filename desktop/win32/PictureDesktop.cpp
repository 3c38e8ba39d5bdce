#include "desktop/win32/PictureDesktop.h"

#include <windows.h>

#include <algorithm>
#include <cstring>

#include "base/AppError.h"
#include "base/win32/Owners.h"
#include "desktop/win32/DesktopWallpaper.h"

namespace tarnwick {

namespace {

// A function of a DLL the program has loaded already, looked up on first use.
template <class Function>
Function* Api(const char* module, const char* name)
{
    HMODULE handle = GetModuleHandleA(module);
    return handle != nullptr ? reinterpret_cast<Function*>(reinterpret_cast<void*>(GetProcAddress(handle, name)))
                             : nullptr;
}

template <class Function>
Function& Required(const char* module, const char* name)
{
    Function* function = Api<Function>(module, name);
    if (function == nullptr)
        throw AppError(ERROR_PROC_NOT_FOUND, DescribeSystemError(ERROR_PROC_NOT_FOUND),
                       std::string("This Windows has no ") + name + " in " + module + ".");
    return *function;
}

using RegOpenKeyExWFn = LSTATUS WINAPI(HKEY, LPCWSTR, DWORD, REGSAM, PHKEY);
using RegCreateKeyExWFn = LSTATUS WINAPI(HKEY, LPCWSTR, DWORD, LPWSTR, DWORD, REGSAM, LPSECURITY_ATTRIBUTES, PHKEY,
                                         LPDWORD);
using RegQueryValueExWFn = LSTATUS WINAPI(HKEY, LPCWSTR, LPDWORD, LPDWORD, LPBYTE, LPDWORD);
using RegSetValueExWFn = LSTATUS WINAPI(HKEY, LPCWSTR, DWORD, DWORD, const BYTE*, DWORD);
using RegDeleteValueWFn = LSTATUS WINAPI(HKEY, LPCWSTR);
using SystemParametersInfoWFn = BOOL WINAPI(UINT, UINT, PVOID, UINT);
using GetEnvironmentVariableWFn = DWORD WINAPI(LPCWSTR, LPWSTR, DWORD);
using CreateDirectoryWFn = BOOL WINAPI(LPCWSTR, LPSECURITY_ATTRIBUTES);

constexpr wchar_t kDesktopKey[] = L"Control Panel\\Desktop";
constexpr wchar_t kProgramKey[] = L"Software\\Tarnwick";
constexpr wchar_t kSavedPath[] = L"SavedWallpaper";
constexpr wchar_t kSavedStyle[] = L"SavedWallpaperStyle";
constexpr wchar_t kSavedTile[] = L"SavedTileWallpaper";
// Each monitor's picture, as lines "device path TAB picture".
constexpr wchar_t kSavedMonitors[] = L"SavedMonitorWallpapers";

std::u16string U16(const std::wstring& text)
{
    return std::u16string(text.begin(), text.end());
}

std::wstring Wide(const std::u16string& text)
{
    return std::wstring(text.begin(), text.end());
}

win32::RegistryKey OpenKey(HKEY root, const wchar_t* path)
{
    HKEY key = nullptr;
    if (Required<RegOpenKeyExWFn>("advapi32.dll", "RegOpenKeyExW")(root, path, 0, KEY_QUERY_VALUE, &key) !=
        ERROR_SUCCESS)
        return win32::RegistryKey();
    return win32::RegistryKey(key);
}

// A text or number value; nullopt where it is missing.
std::optional<std::wstring> ReadText(HKEY root, const wchar_t* path, const wchar_t* name)
{
    const win32::RegistryKey key = OpenKey(root, path);
    if (!key)
        return std::nullopt;
    auto& query = Required<RegQueryValueExWFn>("advapi32.dll", "RegQueryValueExW");
    DWORD type = 0, bytes = 0;
    if (query(key.get(), name, nullptr, &type, nullptr, &bytes) != ERROR_SUCCESS)
        return std::nullopt;
    std::wstring data(bytes / sizeof(wchar_t) + 1, L'\0');
    bytes = static_cast<DWORD>(data.size() * sizeof(wchar_t));
    if (query(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &bytes) != ERROR_SUCCESS)
        return std::nullopt;
    if (type == REG_DWORD) {
        DWORD number = 0;
        std::memcpy(&number, data.data(), sizeof number);
        std::wstring digits;
        do {
            digits.insert(digits.begin(), static_cast<wchar_t>(L'0' + number % 10));
            number /= 10;
        } while (number != 0);
        return digits;
    }
    if (type != REG_SZ && type != REG_EXPAND_SZ)
        return std::nullopt;
    data.resize(bytes / sizeof(wchar_t));
    while (!data.empty() && data.back() == L'\0')
        data.pop_back();
    return data;
}

AppError RegistryFailure(LSTATUS status, const std::string& what)
{
    return AppError(static_cast<uint32_t>(status), DescribeSystemError(static_cast<uint32_t>(status)), what);
}

// Writes (or, for nullopt, removes) the values of one key under HKEY_CURRENT_USER.
void WriteValues(const wchar_t* path,
                 std::initializer_list<std::pair<const wchar_t*, std::optional<std::wstring>>> values,
                 const std::string& what)
{
    HKEY opened = nullptr;
    LSTATUS status = Required<RegCreateKeyExWFn>("advapi32.dll", "RegCreateKeyExW")(
        HKEY_CURRENT_USER, path, 0, nullptr, 0, KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, &opened, nullptr);
    if (status != ERROR_SUCCESS)
        throw RegistryFailure(status, what);
    const win32::RegistryKey key(opened);
    for (const auto& [name, value] : values) {
        if (value) {
            status = Required<RegSetValueExWFn>("advapi32.dll", "RegSetValueExW")(
                key.get(), name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value->c_str()),
                static_cast<DWORD>((value->size() + 1) * sizeof(wchar_t)));
        } else {
            status = Required<RegDeleteValueWFn>("advapi32.dll", "RegDeleteValueW")(key.get(), name);
            if (status == ERROR_FILE_NOT_FOUND)
                status = ERROR_SUCCESS;
        }
        if (status != ERROR_SUCCESS)
            throw RegistryFailure(status, what);
    }
}

std::optional<std::wstring> Environment(const wchar_t* name)
{
    auto* get = Api<GetEnvironmentVariableWFn>("kernel32.dll", "GetEnvironmentVariableW");
    wchar_t value[MAX_PATH * 2] = {};
    const DWORD length = get != nullptr ? get(name, value, MAX_PATH * 2) : 0;
    if (length == 0 || length >= MAX_PATH * 2)
        return std::nullopt;
    return std::wstring(value, length);
}

// The shell's wallpaper of each monitor; null where this Windows has none (before 8).
win32::ComPtr<win32::IDesktopWallpaper> MonitorWallpapers()
{
    win32::ComPtr<win32::IDesktopWallpaper> wallpapers;
    if (FAILED(CoCreateInstance(win32::kClsidDesktopWallpaper, nullptr, CLSCTX_ALL, win32::kIidDesktopWallpaper,
                                wallpapers.put_void())))
        wallpapers.reset();
    return wallpapers;
}

// A text the shell allocated, taken over.
std::u16string Taken(wchar_t* text)
{
    std::u16string result = text != nullptr ? U16(text) : u"";
    if (auto* free = Api<void WINAPI(void*)>("ole32.dll", "CoTaskMemFree"); free != nullptr && text != nullptr)
        free(text);
    return result;
}

std::optional<std::wstring> NonEmpty(std::optional<std::wstring> text)
{
    return text && !text->empty() ? text : std::nullopt;
}

}  // namespace

ScreenPixels Win32PictureDesktop::ScreenSize()
{
    return {GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
}

std::optional<std::string> Win32PictureDesktop::Refusal()
{
    for (HKEY root : {HKEY_CURRENT_USER, HKEY_LOCAL_MACHINE}) {
        const std::optional<std::wstring> forbidden = ReadText(
            root, L"Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\ActiveDesktop", L"NoChangingWallPaper");
        if (forbidden && *forbidden != L"0")
            return "this system's policy forbids changing the wallpaper (NoChangingWallPaper).";
        if (NonEmpty(ReadText(root, L"Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System", L"Wallpaper")))
            return "this system's policy sets the wallpaper (the policy Desktop Wallpaper).";
    }
    return std::nullopt;
}

PictureWallpaper Win32PictureDesktop::Current()
{
    PictureWallpaper current;
    const std::vector<std::u16string> names = ShownNames();
    if (!names.empty())
        current.path = names.front();
    current.style = U16(ReadText(HKEY_CURRENT_USER, kDesktopKey, L"WallpaperStyle").value_or(L""));
    current.tile = U16(ReadText(HKEY_CURRENT_USER, kDesktopKey, L"TileWallpaper").value_or(L""));
    return current;
}

void Win32PictureDesktop::Show(const PictureWallpaper& wallpaper)
{
    const auto text = [](const std::u16string& value) {
        return value.empty() ? std::nullopt : std::optional<std::wstring>(Wide(value));
    };
    WriteValues(kDesktopKey, {{L"WallpaperStyle", text(wallpaper.style)}, {L"TileWallpaper", text(wallpaper.tile)}},
                "Windows' wallpaper placement (HKEY_CURRENT_USER\\Control Panel\\Desktop) cannot be written.");
    std::wstring path = Wide(wallpaper.path);
    auto& set = Required<SystemParametersInfoWFn>("user32.dll", "SystemParametersInfoW");
    SetLastError(0);
    if (!set(SPI_SETDESKWALLPAPER, 0, path.data(), SPIF_UPDATEINIFILE | SPIF_SENDCHANGE)) {
        const DWORD error = GetLastError() != 0 ? GetLastError() : static_cast<DWORD>(ERROR_INVALID_DATA);
        throw AppError(
            error, DescribeSystemError(error),
            "Windows refused " +
                (path.empty() ? std::string("to clear the wallpaper") : "the picture " + FilePath(path).ToUtf8()) +
                " (SystemParametersInfo).");
    }
}

std::vector<std::u16string> Win32PictureDesktop::ShownNames()
{
    std::vector<std::u16string> names;
    wchar_t answer[MAX_PATH + 1] = {};
    auto& get = Required<SystemParametersInfoWFn>("user32.dll", "SystemParametersInfoW");
    if (get(SPI_GETDESKWALLPAPER, MAX_PATH, answer, 0) && answer[0] != L'\0')
        names.push_back(U16(answer));
    if (const std::optional<std::wstring> setting = NonEmpty(ReadText(HKEY_CURRENT_USER, kDesktopKey, L"Wallpaper")))
        names.push_back(U16(*setting));
    return names;
}

std::vector<MonitorWallpaper> Win32PictureDesktop::Monitors()
{
    std::vector<MonitorWallpaper> monitors;
    const auto wallpapers = MonitorWallpapers();
    UINT count = 0;
    if (!wallpapers || FAILED(wallpapers->GetMonitorDevicePathCount(&count)))
        return monitors;
    for (UINT i = 0; i < count; ++i) {
        wchar_t* text = nullptr;
        MonitorWallpaper monitor;
        if (SUCCEEDED(wallpapers->GetMonitorDevicePathAt(i, &text)))
            monitor.id = Taken(text);
        const std::wstring id = Wide(monitor.id);
        RECT rect{};
        if (monitor.id.empty() || FAILED(wallpapers->GetMonitorRECT(id.c_str(), &rect)))
            continue;  // a monitor that is not attached
        monitor.left = rect.left;
        monitor.top = rect.top;
        monitor.size = {rect.right - rect.left, rect.bottom - rect.top};
        text = nullptr;
        if (SUCCEEDED(wallpapers->GetWallpaper(id.c_str(), &text)))
            monitor.path = Taken(text);
        monitors.push_back(monitor);
    }
    return monitors;
}

void Win32PictureDesktop::ShowOn(const std::u16string& monitor, const std::u16string& path)
{
    const auto wallpapers = MonitorWallpapers();
    HRESULT hr = wallpapers ? wallpapers->SetPosition(win32::kPositionStretch) : E_NOINTERFACE;
    if (SUCCEEDED(hr))
        hr = wallpapers->SetWallpaper(Wide(monitor).c_str(), Wide(path).c_str());
    if (FAILED(hr))
        throw AppError(static_cast<uint32_t>(hr), DescribeSystemError(static_cast<uint32_t>(hr)),
                       "Windows refused the picture " + FilePath::FromUtf16(path).ToUtf8() + " for the monitor " +
                           FilePath::FromUtf16(monitor).ToUtf8() + " (IDesktopWallpaper).");
}

FilePath Win32PictureDesktop::PictureFolder()
{
    std::optional<std::wstring> base = NonEmpty(Environment(L"LOCALAPPDATA"));
    if (!base)
        base = NonEmpty(Environment(L"APPDATA"));
    return base ? FilePath(*base) / "Tarnwick" : FilePath();
}

std::vector<std::string> Win32PictureDesktop::FileNames(const FilePath& folder)
{
    std::vector<std::string> names;
    WIN32_FIND_DATAW found;
    win32::FindHandle find(FindFirstFileW((folder / "*").Native().c_str(), &found));
    if (!find)
        return names;
    do {
        std::string name;
        for (const wchar_t* c = found.cFileName; *c != L'\0'; ++c)
            name.push_back(*c >= 0x20 && *c < 0x7F ? static_cast<char>(*c) : '?');
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
            names.push_back(name);
    } while (FindNextFileW(find.get(), &found));
    return names;
}

void Win32PictureDesktop::MakeFolder(const FilePath& folder)
{
    auto& create = Required<CreateDirectoryWFn>("kernel32.dll", "CreateDirectoryW");
    if (!create(folder.Native().c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
        const DWORD error = GetLastError();
        throw AppError(error, DescribeSystemError(error), "The picture folder " + folder.ToUtf8() + " cannot be made.");
    }
}

void Win32PictureDesktop::RemoveFile(const FilePath& file)
{
    DeleteFileW(file.Native().c_str());
}

std::optional<PictureWallpaper> Win32PictureDesktop::Kept()
{
    const std::optional<std::wstring> path = ReadText(HKEY_CURRENT_USER, kProgramKey, kSavedPath);
    if (!path)
        return std::nullopt;
    PictureWallpaper kept{U16(*path), U16(ReadText(HKEY_CURRENT_USER, kProgramKey, kSavedStyle).value_or(L"")),
                          U16(ReadText(HKEY_CURRENT_USER, kProgramKey, kSavedTile).value_or(L"")),
                          {}};
    const std::wstring lines = ReadText(HKEY_CURRENT_USER, kProgramKey, kSavedMonitors).value_or(L"");
    for (size_t start = 0, end; start < lines.size(); start = end + 1) {
        end = std::min(lines.find(L'\n', start), lines.size());
        const std::wstring line = lines.substr(start, end - start);
        const size_t tab = line.find(L'\t');
        if (tab != std::wstring::npos)
            kept.monitors.emplace_back(U16(line.substr(0, tab)), U16(line.substr(tab + 1)));
    }
    return kept;
}

void Win32PictureDesktop::Keep(const PictureWallpaper& wallpaper)
{
    std::wstring monitors;
    for (const auto& [id, path] : wallpaper.monitors)
        monitors += Wide(id) + L'\t' + Wide(path) + L'\n';
    // The path last: its presence says that a whole record is kept.
    WriteValues(kProgramKey,
                {{kSavedStyle, Wide(wallpaper.style)},
                 {kSavedTile, Wide(wallpaper.tile)},
                 {kSavedMonitors, monitors.empty() ? std::nullopt : std::optional<std::wstring>(monitors)},
                 {kSavedPath, Wide(wallpaper.path)}},
        "the person's wallpaper cannot be kept in HKEY_CURRENT_USER\\Software\\Tarnwick.");
}

void Win32PictureDesktop::Forget()
{
    WriteValues(kProgramKey, {{kSavedPath, std::nullopt}, {kSavedStyle, std::nullopt}, {kSavedTile, std::nullopt}, {kSavedMonitors, std::nullopt}},
                "The record of the person's wallpaper in HKEY_CURRENT_USER\\Software\\Tarnwick cannot be removed.");
}

}  // namespace tarnwick
