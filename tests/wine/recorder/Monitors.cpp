// A stand-in for the shell's wallpaper of each monitor (IDesktopWallpaper, 8 and later), which Wine
// cannot play: the primary monitor (1024x768 at 0,0) second, beside a larger one. Each monitor's
// picture and the placement last across processes under HKCU\Software\Tarnwick Recorder (MonitorN,
// MonitorPosition). Only what the program calls is implemented; calls go to TARNWICK_RECORDER_LOG.
#include <windows.h>

#include <string>

#include "Log.h"
#include "desktop/win32/DesktopWallpaper.h"

namespace {

constexpr wchar_t kStateKey[] = L"Software\\Tarnwick Recorder";
constexpr const wchar_t* kIds[] = {L"\\\\?\\DISPLAY#TW#1", L"\\\\?\\DISPLAY#TW#2"};
constexpr RECT kRects[] = {{-1280, 0, 0, 1024}, {0, 0, 1024, 768}};

// The monitor's index, or -1; the text logged.
int Find(LPCWSTR id, std::string& text)
{
    for (; id != nullptr && *id != L'\0'; ++id)
        text.push_back(static_cast<char>(*id));
    for (int i = 0; i < 2; ++i)
        if (text == std::string(kIds[i], kIds[i] + lstrlenW(kIds[i])))
            return i;
    return -1;
}

LPWSTR Copy(const wchar_t* text)
{
    auto* copy = static_cast<LPWSTR>(CoTaskMemAlloc((lstrlenW(text) + 1) * sizeof(wchar_t)));
    return copy != nullptr ? lstrcpyW(copy, text) : nullptr;
}

class Wallpapers final : public tarnwick::win32::IDesktopWallpaper {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** object) override
    {
        const bool known = riid == IID_IUnknown || riid == tarnwick::win32::kIidDesktopWallpaper;
        *object = known ? this : nullptr;
        return known ? (AddRef(), S_OK) : E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++refs_; }
    STDMETHODIMP_(ULONG) Release() override
    {
        const ULONG refs = --refs_;
        if (refs == 0)
            delete this;
        return refs;
    }
    // A null monitor sets every monitor's picture, as the shell does.
    STDMETHODIMP SetWallpaper(LPCWSTR id, LPCWSTR wallpaper) override
    {
        std::string monitor, path;
        const int index = Find(id, monitor);
        Find(wallpaper, path);
        AppendLine(L"TARNWICK_RECORDER_LOG", "SetWallpaper monitor=" + monitor + " path=" + path);
        if (wallpaper == nullptr || (id != nullptr && index < 0))
            return E_INVALIDARG;
        for (int i = 0; i < 2; ++i)
            if (index < 0 || index == i)
                RegSetKeyValueW(HKEY_CURRENT_USER, kStateKey, i == 0 ? L"Monitor1" : L"Monitor2", REG_SZ, wallpaper,
                                static_cast<DWORD>((lstrlenW(wallpaper) + 1) * sizeof(wchar_t)));
        return S_OK;
    }
    STDMETHODIMP GetWallpaper(LPCWSTR id, LPWSTR* wallpaper) override
    {
        std::string monitor;
        const int index = Find(id, monitor);
        wchar_t path[1024] = {};
        DWORD size = sizeof path;
        if (index >= 0)
            RegGetValueW(HKEY_CURRENT_USER, kStateKey, index == 0 ? L"Monitor1" : L"Monitor2", RRF_RT_REG_SZ, nullptr,
                         path, &size);
        *wallpaper = index >= 0 ? Copy(path) : nullptr;
        return *wallpaper != nullptr ? S_OK : E_INVALIDARG;
    }
    STDMETHODIMP GetMonitorDevicePathAt(UINT index, LPWSTR* id) override
    {
        *id = index < 2 ? Copy(kIds[index]) : nullptr;
        return *id != nullptr ? S_OK : E_INVALIDARG;
    }
    STDMETHODIMP GetMonitorDevicePathCount(UINT* count) override
    {
        *count = 2;
        return S_OK;
    }
    STDMETHODIMP GetMonitorRECT(LPCWSTR id, RECT* rect) override
    {
        std::string monitor;
        const int index = Find(id, monitor);
        if (index >= 0)
            *rect = kRects[index];
        return index >= 0 ? S_OK : E_INVALIDARG;
    }
    STDMETHODIMP SetBackgroundColor(COLORREF) override { return E_NOTIMPL; }
    STDMETHODIMP GetBackgroundColor(COLORREF*) override { return E_NOTIMPL; }
    STDMETHODIMP SetPosition(int position) override
    {
        AppendLine(L"TARNWICK_RECORDER_LOG", "SetPosition " + std::to_string(position));
        const DWORD value = static_cast<DWORD>(position);
        RegSetKeyValueW(HKEY_CURRENT_USER, kStateKey, L"MonitorPosition", REG_DWORD, &value, sizeof value);
        return S_OK;
    }

private:
    ULONG refs_ = 1;
};

}  // namespace

HRESULT CreateMonitorWallpapers(REFIID iid, void** object)
{
    auto* wallpapers = new Wallpapers();
    const HRESULT hr = wallpapers->QueryInterface(iid, object);
    wallpapers->Release();
    return hr;
}
