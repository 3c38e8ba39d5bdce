// A stand-in for the shell's Active Desktop object, for the tests under Wine: an in-process COM
// server for the same class that writes one line per call to the file named by the environment
// variable TARNWICK_RECORDER_LOG (a Windows path). It keeps the wallpaper and the web content (off
// where TARNWICK_RECORDER_WEB_CONTENT is "off", as 2000 and XP ship; kept off by TARNWICK_RECORDER_POLICY
// "web-content-off", as NoActiveDesktop does) under HKCU\Software\Tarnwick Recorder, saved by ApplyChanges.
// TARNWICK_RECORDER_CREATE "null" makes the class answer success without an object.
// The same server makes the stand-in page engine (Engine.cpp) for the WebBrowser control's class,
// and the stand-in for each monitor's wallpaper (Monitors.cpp) for the shell's class of it.
#include <windows.h>
#include <wininet.h>
#include <shlobj.h>

#include <atomic>
#include <cstdio>
#include <string>

#include "Log.h"
#include "desktop/win32/DesktopWallpaper.h"

namespace {

// {75048700-EF1F-11D0-9888-006097DEACF9}
constexpr CLSID kClsidActiveDesktop = {0x75048700, 0xEF1F, 0x11D0, {0x98, 0x88, 0x00, 0x60, 0x97, 0xDE, 0xAC, 0xF9}};
// {F490EB00-1240-11D1-9888-006097DEACF9}
constexpr IID kIidActiveDesktop = {0xF490EB00, 0x1240, 0x11D1, {0x98, 0x88, 0x00, 0x60, 0x97, 0xDE, 0xAC, 0xF9}};

std::atomic<long> g_objects{0};
std::atomic<long> g_locks{0};

std::string Utf8(const wchar_t* text)
{
    if (text == nullptr)
        return "(null)";
    int bytes = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<size_t>(bytes > 0 ? bytes - 1 : 0), '\0');
    if (bytes > 1)
        WideCharToMultiByte(CP_UTF8, 0, text, -1, result.data(), bytes, nullptr, nullptr);
    return result;
}

std::string GuidText(REFGUID guid)
{
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    return Utf8(text);
}

void Log(const std::string& line)
{
    AppendLine(L"TARNWICK_RECORDER_LOG", line);
}

std::string Number(unsigned long value)
{
    return std::to_string(value);
}

bool WebContentOffAtStart()
{
    char value[8] = {};
    const DWORD length = GetEnvironmentVariableA("TARNWICK_RECORDER_WEB_CONTENT", value, sizeof value);
    return length == 3 && lstrcmpiA(value, "off") == 0;
}

constexpr wchar_t kStateKey[] = L"Software\\Tarnwick Recorder";

struct DesktopState {
    std::wstring wallpaper;
    BOOL webContent = WebContentOffAtStart() ? FALSE : TRUE;
    DWORD style = 0;  // an object's own, from 0 (centred)

    static DesktopState Load()
    {
        DesktopState state;
        wchar_t path[1024] = {};
        DWORD size = sizeof path, web = 0;
        if (!RegGetValueW(HKEY_CURRENT_USER, kStateKey, L"Wallpaper", RRF_RT_REG_SZ, nullptr, path, &size))
            state.wallpaper = path;
        size = sizeof web;
        if (!RegGetValueW(HKEY_CURRENT_USER, kStateKey, L"WebContent", RRF_RT_REG_DWORD, nullptr, &web, &size))
            state.webContent = web != 0;
        return state;
    }
    void Save() const
    {
        const DWORD web = webContent ? 1 : 0;
        RegSetKeyValueW(HKEY_CURRENT_USER, kStateKey, L"Wallpaper", REG_SZ, wallpaper.c_str(),
                        static_cast<DWORD>((wallpaper.size() + 1) * sizeof(wchar_t)));
        RegSetKeyValueW(HKEY_CURRENT_USER, kStateKey, L"WebContent", REG_DWORD, &web, sizeof web);
    }
};

class Recorder final : public IActiveDesktop {
public:
    Recorder() : state_(DesktopState::Load()) { ++g_objects; }
    ~Recorder() { --g_objects; }
    Recorder(const Recorder&) = delete;
    Recorder& operator=(const Recorder&) = delete;

    // Without a log line: used by the class factory while it creates the object.
    HRESULT Bind(REFIID riid, void** object)
    {
        if (object == nullptr)
            return E_POINTER;
        *object = nullptr;
        if (riid != IID_IUnknown && riid != kIidActiveDesktop)
            return E_NOINTERFACE;
        *object = static_cast<IActiveDesktop*>(this);
        ++refs_;
        return S_OK;
    }

    STDMETHODIMP QueryInterface(REFIID riid, void** object) override
    {
        HRESULT hr = Bind(riid, object);
        Log("QueryInterface iid=" + GuidText(riid) + (SUCCEEDED(hr) ? " ok" : " none"));
        return hr;
    }
    STDMETHODIMP_(ULONG) AddRef() override
    {
        ULONG refs = static_cast<ULONG>(++refs_);
        Log("AddRef refs=" + Number(refs));
        return refs;
    }
    STDMETHODIMP_(ULONG) Release() override
    {
        ULONG refs = static_cast<ULONG>(--refs_);
        Log("Release refs=" + Number(refs));
        if (refs == 0)
            delete this;
        return refs;
    }

    STDMETHODIMP ApplyChanges(DWORD flags) override
    {
        Log("ApplyChanges flags=" + Number(flags));
        char policy[32] = {};
        if (GetEnvironmentVariableA("TARNWICK_RECORDER_POLICY", policy, sizeof policy) == 15 &&
            lstrcmpiA(policy, "web-content-off") == 0)
            state_.webContent = FALSE;  // what the policy lets the desktop show
        if (flags & AD_APPLY_SAVE)
            state_.Save();
        return S_OK;
    }
    STDMETHODIMP SetWallpaper(PCWSTR path, DWORD reserved) override
    {
        Log("SetWallpaper path=" + Utf8(path) + " reserved=" + Number(reserved));
        if (path != nullptr)
            state_.wallpaper = path;
        return S_OK;
    }
    STDMETHODIMP GetWallpaper(PWSTR path, UINT size, DWORD flags) override
    {
        Log("GetWallpaper size=" + Number(size) + " flags=" + Number(flags) + " path=" + Utf8(state_.wallpaper.data()));
        if (path == nullptr || size <= state_.wallpaper.size())
            return E_INVALIDARG;
        lstrcpynW(path, state_.wallpaper.c_str(), static_cast<int>(size));
        return S_OK;
    }
    STDMETHODIMP SetWallpaperOptions(LPCWALLPAPEROPT options, DWORD reserved) override
    {
        if (options == nullptr) {
            Log("SetWallpaperOptions options=null reserved=" + Number(reserved));
            return E_POINTER;
        }
        Log("SetWallpaperOptions size=" + Number(options->dwSize) + " style=" + Number(options->dwStyle) +
            " reserved=" + Number(reserved));
        state_.style = options->dwStyle;
        return S_OK;
    }
    STDMETHODIMP GetWallpaperOptions(LPWALLPAPEROPT options, DWORD reserved) override
    {
        Log("GetWallpaperOptions size=" + Number(options->dwSize) + " reserved=" + Number(reserved) +
            " style=" + Number(state_.style));
        options->dwStyle = state_.style;
        return options->dwSize == sizeof(WALLPAPEROPT) ? S_OK : E_INVALIDARG;
    }
    STDMETHODIMP GetPattern(PWSTR, UINT, DWORD) override { return NotImplemented("GetPattern"); }
    STDMETHODIMP SetPattern(PCWSTR, DWORD) override { return NotImplemented("SetPattern"); }
    STDMETHODIMP GetDesktopItemOptions(LPCOMPONENTSOPT options, DWORD reserved) override
    {
        if (options == nullptr) {
            Log("GetDesktopItemOptions options=null reserved=" + Number(reserved));
            return E_POINTER;
        }
        if (options->dwSize != sizeof(COMPONENTSOPT)) {
            Log("GetDesktopItemOptions size=" + Number(options->dwSize) + " reserved=" + Number(reserved));
            return E_INVALIDARG;
        }
        options->fEnableComponents = TRUE;
        options->fActiveDesktop = state_.webContent;
        Log("GetDesktopItemOptions size=" + Number(options->dwSize) + " reserved=" + Number(reserved) +
            " components=" + Number(options->fEnableComponents) + " active=" + Number(options->fActiveDesktop));
        return S_OK;
    }
    STDMETHODIMP SetDesktopItemOptions(LPCCOMPONENTSOPT options, DWORD reserved) override
    {
        if (options == nullptr) {
            Log("SetDesktopItemOptions options=null reserved=" + Number(reserved));
            return E_POINTER;
        }
        Log("SetDesktopItemOptions size=" + Number(options->dwSize) +
            " components=" + Number(options->fEnableComponents) + " active=" + Number(options->fActiveDesktop) +
            " reserved=" + Number(reserved));
        if (options->dwSize != sizeof(COMPONENTSOPT))
            return E_INVALIDARG;
        state_.webContent = options->fActiveDesktop;
        return S_OK;
    }
    STDMETHODIMP AddDesktopItem(LPCCOMPONENT, DWORD) override { return NotImplemented("AddDesktopItem"); }
    STDMETHODIMP AddDesktopItemWithUI(HWND, LPCOMPONENT, DWORD) override
    {
        return NotImplemented("AddDesktopItemWithUI");
    }
    STDMETHODIMP ModifyDesktopItem(LPCCOMPONENT, DWORD) override { return NotImplemented("ModifyDesktopItem"); }
    STDMETHODIMP RemoveDesktopItem(LPCCOMPONENT, DWORD) override { return NotImplemented("RemoveDesktopItem"); }
    STDMETHODIMP GetDesktopItemCount(int*, DWORD) override { return NotImplemented("GetDesktopItemCount"); }
    STDMETHODIMP GetDesktopItem(int, LPCOMPONENT, DWORD) override { return NotImplemented("GetDesktopItem"); }
    STDMETHODIMP GetDesktopItemByID(ULONG_PTR, LPCOMPONENT, DWORD) override
    {
        return NotImplemented("GetDesktopItemByID");
    }
    STDMETHODIMP GenerateDesktopItemHtml(PCWSTR, LPCOMPONENT, DWORD) override
    {
        return NotImplemented("GenerateDesktopItemHtml");
    }
    STDMETHODIMP AddUrl(HWND, PCWSTR, LPCOMPONENT, DWORD) override { return NotImplemented("AddUrl"); }
    STDMETHODIMP GetDesktopItemBySource(PCWSTR, LPCOMPONENT, DWORD) override
    {
        return NotImplemented("GetDesktopItemBySource");
    }

private:
    static HRESULT NotImplemented(const char* method)
    {
        Log(std::string(method) + " not implemented");
        return E_NOTIMPL;
    }

    std::atomic<long> refs_{0};
    DesktopState state_;
};

// Makes the recording Active Desktop (create null), or another stand-in.
class ClassFactory final : public IClassFactory {
public:
    using Create = HRESULT(REFIID, void**);
    explicit ClassFactory(Create* create) : create_(create) {}

    STDMETHODIMP QueryInterface(REFIID riid, void** object) override
    {
        if (object == nullptr)
            return E_POINTER;
        *object = nullptr;
        if (riid != IID_IUnknown && riid != IID_IClassFactory)
            return E_NOINTERFACE;
        *object = static_cast<IClassFactory*>(this);
        AddRef();
        return S_OK;
    }
    // The factory is static: counting it only keeps the DLL loaded.
    STDMETHODIMP_(ULONG) AddRef() override { return static_cast<ULONG>(++g_locks); }
    STDMETHODIMP_(ULONG) Release() override { return static_cast<ULONG>(--g_locks); }

    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** object) override
    {
        if (object == nullptr)
            return E_POINTER;
        *object = nullptr;
        if (outer != nullptr)
            return CLASS_E_NOAGGREGATION;
        if (create_ != nullptr)
            return create_(riid, object);
        if (GetEnvironmentVariableA("TARNWICK_RECORDER_CREATE", nullptr, 0) == 5)  // "null" and its end
            return Log("CreateInstance iid=" + GuidText(riid) + " null"), S_OK;
        auto* recorder = new Recorder();
        HRESULT hr = recorder->Bind(riid, object);
        Log("CreateInstance iid=" + GuidText(riid) + (SUCCEEDED(hr) ? " ok" : " none"));
        if (FAILED(hr))
            delete recorder;
        return hr;
    }
    STDMETHODIMP LockServer(BOOL lock) override
    {
        if (lock)
            ++g_locks;
        else
            --g_locks;
        return S_OK;
    }

private:
    Create* create_;
};

ClassFactory g_factory{nullptr};
ClassFactory g_engineFactory{CreateEngine};
ClassFactory g_monitorsFactory{CreateMonitorWallpapers};
// {8856F961-340A-11D0-A96B-00C04FD705A2}
constexpr CLSID kClsidWebBrowser = {0x8856F961, 0x340A, 0x11D0, {0xA9, 0x6B, 0x00, 0xC0, 0x4F, 0xD7, 0x05, 0xA2}};

}  // namespace

void AppendLine(const wchar_t* variable, const std::string& line)
{
    wchar_t path[1024];
    DWORD length = GetEnvironmentVariableW(variable, path, 1024);
    if (length == 0 || length >= 1024)
        return;
    HANDLE file = CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return;
    std::string text = line + "\n";
    DWORD written = 0;
    WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
}

extern "C" {

__declspec(dllexport) HRESULT WINAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** object)
{
    if (object == nullptr)
        return E_POINTER;
    *object = nullptr;
    if (clsid == kClsidWebBrowser)
        return g_engineFactory.QueryInterface(riid, object);
    if (clsid == tarnwick::win32::kClsidDesktopWallpaper)
        return g_monitorsFactory.QueryInterface(riid, object);
    if (clsid != kClsidActiveDesktop)
        return CLASS_E_CLASSNOTAVAILABLE;
    return g_factory.QueryInterface(riid, object);
}

__declspec(dllexport) HRESULT WINAPI DllCanUnloadNow()
{
    return g_objects == 0 && g_locks == 0 ? S_OK : S_FALSE;
}
}
