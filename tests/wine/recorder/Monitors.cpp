// A stand-in for the shell's wallpaper of each monitor (IDesktopWallpaper, Windows 8 and later),
// which Wine cannot play with one screen: two monitors of different sizes, the primary one second
// ("\\?\DISPLAY#TW#2", 1024x768 at 0,0) and to its left "\\?\DISPLAY#TW#1" (1280x1024). Each
// monitor's picture and the placement are kept under HKCU\Software\Tarnwick Recorder (values
// "MonitorN" and MonitorPosition), so they last from one process to the next. Only what
// the program calls is implemented; every call is logged to TARNWICK_RECORDER_LOG.
#include <windows.h>

#include <atomic>
#include <string>

#include "Log.h"
#include "desktop/win32/DesktopWallpaper.h"

namespace {

constexpr wchar_t kStateKey[] = L"Software\\Tarnwick Recorder";

struct Monitor {
    const wchar_t* id;
    const wchar_t* value;
    RECT rect;
};
constexpr Monitor kMonitors[] = {{L"\\\\?\\DISPLAY#TW#1", L"Monitor1", {-1280, 0, 0, 1024}},
                                 {L"\\\\?\\DISPLAY#TW#2", L"Monitor2", {0, 0, 1024, 768}}};

std::string Utf8(const wchar_t* text)
{
    std::string result;
    for (; text != nullptr && *text != L'\0'; ++text)
        result.push_back(*text < 0x80 ? static_cast<char>(*text) : '?');
    return text == nullptr ? "(null)" : result;
}

const Monitor* Find(LPCWSTR id)
{
    for (const Monitor& monitor : kMonitors)
        if (id != nullptr && lstrcmpW(id, monitor.id) == 0)
            return &monitor;
    return nullptr;
}

void Log(const std::string& line)
{
    AppendLine(L"TARNWICK_RECORDER_LOG", line);
}

LPWSTR Copy(const std::wstring& text)
{
    auto* copy = static_cast<LPWSTR>(CoTaskMemAlloc((text.size() + 1) * sizeof(wchar_t)));
    if (copy != nullptr)
        lstrcpyW(copy, text.c_str());
    return copy;
}

class Wallpapers final : public tarnwick::win32::IDesktopWallpaper {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** object) override
    {
        *object = nullptr;
        if (riid != IID_IUnknown && riid != tarnwick::win32::kIidDesktopWallpaper)
            return E_NOINTERFACE;
        *object = static_cast<IDesktopWallpaper*>(this);
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++refs_); }
    STDMETHODIMP_(ULONG) Release() override
    {
        const long refs = --refs_;
        if (refs == 0)
            delete this;
        return static_cast<ULONG>(refs);
    }

    // A null monitor sets every monitor's picture, as the shell does.
    STDMETHODIMP SetWallpaper(LPCWSTR id, LPCWSTR wallpaper) override
    {
        const Monitor* monitor = Find(id);
        Log("SetWallpaper monitor=" + Utf8(id) + " path=" + Utf8(wallpaper));
        if (wallpaper == nullptr || (id != nullptr && monitor == nullptr))
            return E_INVALIDARG;
        for (const Monitor& each : kMonitors)
            if (monitor == nullptr || monitor == &each)
                RegSetKeyValueW(HKEY_CURRENT_USER, kStateKey, each.value, REG_SZ, wallpaper,
                                static_cast<DWORD>((lstrlenW(wallpaper) + 1) * sizeof(wchar_t)));
        return S_OK;
    }
    STDMETHODIMP GetWallpaper(LPCWSTR id, LPWSTR* wallpaper) override
    {
        *wallpaper = nullptr;
        const Monitor* monitor = Find(id);
        if (monitor == nullptr)
            return E_INVALIDARG;
        wchar_t path[1024] = {};
        DWORD size = sizeof path;
        RegGetValueW(HKEY_CURRENT_USER, kStateKey, monitor->value, RRF_RT_REG_SZ, nullptr, path, &size);
        *wallpaper = Copy(path);
        return *wallpaper != nullptr ? S_OK : E_OUTOFMEMORY;
    }
    STDMETHODIMP GetMonitorDevicePathAt(UINT index, LPWSTR* id) override
    {
        *id = index < 2 ? Copy(kMonitors[index].id) : nullptr;
        return *id != nullptr ? S_OK : E_INVALIDARG;
    }
    STDMETHODIMP GetMonitorDevicePathCount(UINT* count) override
    {
        Log("GetMonitorDevicePathCount");
        *count = 2;
        return S_OK;
    }
    STDMETHODIMP GetMonitorRECT(LPCWSTR id, RECT* rect) override
    {
        const Monitor* monitor = Find(id);
        Log("GetMonitorRECT monitor=" + Utf8(id));
        if (monitor == nullptr)
            return E_INVALIDARG;
        *rect = monitor->rect;
        return S_OK;
    }
    STDMETHODIMP SetBackgroundColor(COLORREF) override { return E_NOTIMPL; }
    STDMETHODIMP GetBackgroundColor(COLORREF*) override { return E_NOTIMPL; }
    STDMETHODIMP SetPosition(int position) override
    {
        Log("SetPosition " + std::to_string(position));
        const DWORD value = static_cast<DWORD>(position);
        RegSetKeyValueW(HKEY_CURRENT_USER, kStateKey, L"MonitorPosition", REG_DWORD, &value, sizeof value);
        return S_OK;
    }

private:
    std::atomic<long> refs_{1};
};

}  // namespace

HRESULT CreateMonitorWallpapers(REFIID iid, void** object)
{
    auto* wallpapers = new Wallpapers();
    const HRESULT hr = wallpapers->QueryInterface(iid, object);
    wallpapers->Release();
    return hr;
}
