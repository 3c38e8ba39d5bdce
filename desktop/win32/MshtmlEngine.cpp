// The page engine of Windows: the WebBrowser control, hosted in a window that is never shown.
#include <windows.h>
#include <exdisp.h>
#include <mshtmdid.h>
#include <mshtmhst.h>
#include <urlmon.h>

#include <cstring>

#include "base/AppError.h"
#include "base/win32/Owners.h"
#include "desktop/win32/PictureDesktop.h"

namespace tarnwick {

namespace {

// {8856F961-340A-11D0-A96B-00C04FD705A2}
constexpr CLSID kClsidWebBrowser = {0x8856F961, 0x340A, 0x11D0, {0xA9, 0x6B, 0x00, 0xC0, 0x4F, 0xD7, 0x05, 0xA2}};

// {C4D244B0-D43E-11CF-893B-00AA00BDCE1A}
constexpr IID kIidDocHostShowUI = {0xC4D244B0, 0xD43E, 0x11CF, {0x89, 0x3B, 0x00, 0xAA, 0x00, 0xBD, 0xCE, 0x1A}};

constexpr DWORD kBoundMilliseconds = 15000;
// After the document is complete, the page's own scripts have this long to change it.
constexpr DWORD kScriptMilliseconds = 500;
// Images of the page itself load; no sound, video, Java or ActiveX control, nothing from the
// network, no page that reloads itself, and no message of the engine's own.
constexpr DWORD kDownloadControl = DLCTL_DLIMAGES | DLCTL_NO_JAVA | DLCTL_NO_RUNACTIVEXCTLS | DLCTL_NO_DLACTIVEXCTLS |
                                   DLCTL_NO_BEHAVIORS | DLCTL_FORCEOFFLINE | DLCTL_NO_CLIENTPULL | DLCTL_SILENT;

AppError EngineFailure(uint32_t number, const std::string& what)
{
    return AppError(number, DescribeSystemError(number), what);
}

bool AllowedUrl(const wchar_t* url)
{
    if (url == nullptr)
        return false;
    for (const wchar_t* scheme : {L"file:", L"about:", L"res:", L"data:"}) {
        size_t i = 0;
        while (scheme[i] != L'\0' && url[i] != L'\0' &&
               (url[i] >= L'A' && url[i] <= L'Z' ? url[i] - L'A' + L'a' : url[i]) == scheme[i])
            ++i;
        if (scheme[i] == L'\0')
            return true;
    }
    return false;
}

// The engine asks its host's new-window manager before a page opens a window (Windows XP SP2 and
// later): S_FALSE refuses.
// COM interfaces have no virtual destructor by design: the site is never deleted through one.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
// {D2BC4C84-3F72-4A52-A604-7BCBF3982CBB}
constexpr IID kIidNewWindowManager = {0xD2BC4C84, 0x3F72, 0x4A52, {0xA6, 0x04, 0x7B, 0xCB, 0xF3, 0x98, 0x2C, 0xBB}};
struct NewWindowManager : public IUnknown {
    virtual HRESULT STDMETHODCALLTYPE EvaluateNewWindow(LPCWSTR url, LPCWSTR name, LPCWSTR context, LPCWSTR features,
                                                        BOOL replace, DWORD flags, DWORD userActionTime) = 0;
};

// The engine's site: the client site and its in-place window and frame, the host's wishes
// (IDocHostUIHandler, IDocHostShowUI, the ambient properties), and its services: the security
// manager and the new-window manager. It lives on the stack of the drawing and outlives the
// engine's references to it.
class Site : public IOleClientSite,
             public IOleInPlaceSite,
             public IOleInPlaceFrame,
             public IDocHostUIHandler,
             public IDocHostShowUI,
             public IDispatch,
             public IServiceProvider,
             public IInternetSecurityManager,
             public NewWindowManager {
public:
    explicit Site(HWND window) : window_(window) {}

    // IUnknown
    STDMETHODIMP QueryInterface(REFIID iid, void** object) override
    {
        *object = nullptr;
        if (iid == IID_IUnknown || iid == IID_IOleClientSite)
            *object = static_cast<IOleClientSite*>(this);
        else if (iid == IID_IOleInPlaceSite || iid == IID_IOleWindow)
            *object = static_cast<IOleInPlaceSite*>(this);
        else if (iid == IID_IOleInPlaceFrame || iid == IID_IOleInPlaceUIWindow)
            *object = static_cast<IOleInPlaceFrame*>(this);
        else if (iid == IID_IDocHostUIHandler)
            *object = static_cast<IDocHostUIHandler*>(this);
        else if (iid == kIidDocHostShowUI)
            *object = static_cast<IDocHostShowUI*>(this);
        else if (iid == IID_IDispatch)
            *object = static_cast<IDispatch*>(this);
        else if (iid == IID_IServiceProvider)
            *object = static_cast<IServiceProvider*>(this);
        else if (iid == IID_IInternetSecurityManager)
            *object = static_cast<IInternetSecurityManager*>(this);
        else if (iid == kIidNewWindowManager)
            *object = static_cast<NewWindowManager*>(this);
        else
            return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ++references_; }
    STDMETHODIMP_(ULONG) Release() override { return --references_; }

    // IOleClientSite
    STDMETHODIMP SaveObject() override { return E_NOTIMPL; }
    STDMETHODIMP GetMoniker(DWORD, DWORD, IMoniker** moniker) override
    {
        *moniker = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP GetContainer(IOleContainer** container) override
    {
        *container = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP ShowObject() override { return S_OK; }
    STDMETHODIMP OnShowWindow(BOOL) override { return S_OK; }
    STDMETHODIMP RequestNewObjectLayout() override { return E_NOTIMPL; }

    // IOleWindow, of the in-place site and the frame
    STDMETHODIMP GetWindow(HWND* window) override
    {
        *window = window_;
        return S_OK;
    }
    STDMETHODIMP ContextSensitiveHelp(BOOL) override { return E_NOTIMPL; }

    // IOleInPlaceSite
    STDMETHODIMP CanInPlaceActivate() override { return S_OK; }
    STDMETHODIMP OnInPlaceActivate() override { return S_OK; }
    STDMETHODIMP OnUIActivate() override { return S_OK; }
    STDMETHODIMP GetWindowContext(IOleInPlaceFrame** frame, IOleInPlaceUIWindow** document, LPRECT position,
                                  LPRECT clip, LPOLEINPLACEFRAMEINFO info) override
    {
        AddRef();
        *frame = this;
        *document = nullptr;
        GetClientRect(window_, position);
        GetClientRect(window_, clip);
        info->fMDIApp = FALSE;
        info->hwndFrame = window_;
        info->haccel = nullptr;
        info->cAccelEntries = 0;
        return S_OK;
    }
    STDMETHODIMP Scroll(SIZE) override { return E_NOTIMPL; }
    STDMETHODIMP OnUIDeactivate(BOOL) override { return S_OK; }
    STDMETHODIMP OnInPlaceDeactivate() override { return S_OK; }
    STDMETHODIMP DiscardUndoState() override { return E_NOTIMPL; }
    STDMETHODIMP DeactivateAndUndo() override { return E_NOTIMPL; }
    STDMETHODIMP OnPosRectChange(LPCRECT) override { return S_OK; }

    // IOleInPlaceUIWindow and IOleInPlaceFrame: no menus, tools or status line.
    STDMETHODIMP GetBorder(LPRECT) override { return INPLACE_E_NOTOOLSPACE; }
    STDMETHODIMP RequestBorderSpace(LPCBORDERWIDTHS) override { return INPLACE_E_NOTOOLSPACE; }
    STDMETHODIMP SetBorderSpace(LPCBORDERWIDTHS) override { return S_OK; }
    STDMETHODIMP SetActiveObject(IOleInPlaceActiveObject*, LPCOLESTR) override { return S_OK; }
    STDMETHODIMP InsertMenus(HMENU, LPOLEMENUGROUPWIDTHS) override { return E_NOTIMPL; }
    STDMETHODIMP SetMenu(HMENU, HOLEMENU, HWND) override { return S_OK; }
    STDMETHODIMP RemoveMenus(HMENU) override { return E_NOTIMPL; }
    STDMETHODIMP SetStatusText(LPCOLESTR) override { return S_OK; }
    STDMETHODIMP EnableModeless(BOOL) override { return S_OK; }
    STDMETHODIMP TranslateAccelerator(LPMSG, WORD) override { return S_FALSE; }

    // IDocHostUIHandler: no context menu, no borders or scroll bars, nothing of the browser's.
    STDMETHODIMP ShowContextMenu(DWORD, POINT*, IUnknown*, IDispatch*) override { return S_OK; }
    STDMETHODIMP GetHostInfo(DOCHOSTUIINFO* info) override
    {
        info->dwFlags = DOCHOSTUIFLAG_DIALOG | DOCHOSTUIFLAG_DISABLE_HELP_MENU | DOCHOSTUIFLAG_NO3DBORDER |
                        DOCHOSTUIFLAG_SCROLL_NO | DOCHOSTUIFLAG_ENABLE_INPLACE_NAVIGATION |
                        DOCHOSTUIFLAG_NO3DOUTERBORDER;
        info->dwDoubleClick = DOCHOSTUIDBLCLK_DEFAULT;
        return S_OK;
    }
    STDMETHODIMP ShowUI(DWORD, IOleInPlaceActiveObject*, IOleCommandTarget*, IOleInPlaceFrame*,
                        IOleInPlaceUIWindow*) override
    {
        return S_OK;
    }
    STDMETHODIMP HideUI() override { return S_OK; }
    STDMETHODIMP UpdateUI() override { return S_OK; }
    STDMETHODIMP OnDocWindowActivate(BOOL) override { return S_OK; }
    STDMETHODIMP OnFrameWindowActivate(BOOL) override { return S_OK; }
    STDMETHODIMP ResizeBorder(LPCRECT, IOleInPlaceUIWindow*, BOOL) override { return S_OK; }
    STDMETHODIMP TranslateAccelerator(LPMSG, const GUID*, DWORD) override { return S_FALSE; }
    STDMETHODIMP GetOptionKeyPath(LPOLESTR* key, DWORD) override
    {
        *key = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP GetDropTarget(IDropTarget*, IDropTarget** target) override
    {
        *target = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP GetExternal(IDispatch** external) override
    {
        *external = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP TranslateUrl(DWORD, LPWSTR, LPWSTR* translated) override
    {
        *translated = nullptr;
        return S_FALSE;
    }
    STDMETHODIMP FilterDataObject(IDataObject*, IDataObject** result) override
    {
        *result = nullptr;
        return S_FALSE;
    }

    // IDocHostShowUI: the page's alerts and help are taken as shown, so no box opens.
    STDMETHODIMP ShowMessage(HWND, LPOLESTR, LPOLESTR, DWORD, LPOLESTR, DWORD, LRESULT* result) override
    {
        *result = IDOK;
        return S_OK;
    }
    STDMETHODIMP ShowHelp(HWND, LPOLESTR, UINT, DWORD, POINT, IDispatch*) override { return S_OK; }

    // IDispatch: the ambient properties.
    STDMETHODIMP GetTypeInfoCount(UINT* count) override
    {
        *count = 0;
        return S_OK;
    }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo** info) override
    {
        *info = nullptr;
        return E_NOTIMPL;
    }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID member, REFIID, LCID, WORD flags, DISPPARAMS*, VARIANT* result, EXCEPINFO*,
                        UINT*) override
    {
        if ((flags & DISPATCH_PROPERTYGET) == 0 || result == nullptr)
            return DISP_E_MEMBERNOTFOUND;
        switch (member) {
        case DISPID_AMBIENT_DLCONTROL:
            result->vt = VT_I4;
            result->lVal = static_cast<LONG>(kDownloadControl);
            return S_OK;
        default:
            return DISP_E_MEMBERNOTFOUND;
        }
    }

    // IServiceProvider
    STDMETHODIMP QueryService(REFGUID service, REFIID iid, void** object) override
    {
        *object = nullptr;
        if (service == SID_SInternetSecurityManager || service == kIidNewWindowManager)
            return QueryInterface(iid, object);
        return E_NOINTERFACE;
    }

    // IInternetSecurityManager: every URL that is not of the page's own kind is refused; the
    // others take the system's answer.
    STDMETHODIMP SetSecuritySite(IInternetSecurityMgrSite*) override { return INET_E_DEFAULT_ACTION; }
    STDMETHODIMP GetSecuritySite(IInternetSecurityMgrSite** site) override
    {
        *site = nullptr;
        return INET_E_DEFAULT_ACTION;
    }
    STDMETHODIMP MapUrlToZone(LPCWSTR, DWORD*, DWORD) override { return INET_E_DEFAULT_ACTION; }
    STDMETHODIMP GetSecurityId(LPCWSTR, BYTE*, DWORD*, DWORD_PTR) override { return INET_E_DEFAULT_ACTION; }
    STDMETHODIMP ProcessUrlAction(LPCWSTR url, DWORD, BYTE* policy, DWORD policySize, BYTE*, DWORD, DWORD,
                                  DWORD) override
    {
        if (AllowedUrl(url))
            return INET_E_DEFAULT_ACTION;
        if (policy != nullptr && policySize >= sizeof(DWORD)) {
            const DWORD disallow = URLPOLICY_DISALLOW;
            std::memcpy(policy, &disallow, sizeof disallow);
        }
        return S_FALSE;
    }
    STDMETHODIMP QueryCustomPolicy(LPCWSTR url, REFGUID, BYTE** policy, DWORD* policySize, BYTE*, DWORD, DWORD) override
    {
        if (AllowedUrl(url))
            return INET_E_DEFAULT_ACTION;
        *policy = nullptr;
        *policySize = 0;
        return E_ACCESSDENIED;
    }
    STDMETHODIMP SetZoneMapping(DWORD, LPCWSTR, DWORD) override { return INET_E_DEFAULT_ACTION; }
    STDMETHODIMP GetZoneMappings(DWORD, IEnumString** mappings, DWORD) override
    {
        *mappings = nullptr;
        return INET_E_DEFAULT_ACTION;
    }

    // INewWindowManager: no page opens a window.
    STDMETHODIMP EvaluateNewWindow(LPCWSTR, LPCWSTR, LPCWSTR, LPCWSTR, BOOL, DWORD, DWORD) override { return S_FALSE; }

private:
    HWND window_;
    ULONG references_ = 1;
};

#pragma GCC diagnostic pop

// A BSTR the program owns: the length before the characters, as the engine reads it.
class OwnBstr {
public:
    explicit OwnBstr(const std::wstring& text) : data_(2 + text.size() + 1, L'\0')
    {
        const DWORD bytes = static_cast<DWORD>(text.size() * sizeof(wchar_t));
        std::memcpy(data_.data(), &bytes, sizeof bytes);
        std::memcpy(data_.data() + 2, text.data(), bytes);
    }
    BSTR get() { return data_.data() + 2; }

private:
    std::wstring data_;
};

// The page's file: URL, which the security manager allows: the path's UTF-8 bytes, every one but
// the unreserved ASCII ones, the drive's colon and the separators percent-encoded.
std::wstring FileUrl(const FilePath& page)
{
    std::wstring url = L"file:///";
    for (unsigned char c : page.ToUtf8()) {
        if (c == '\\')
            url.push_back(L'/');
        else if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
                 c == '_' || c == '~' || c == ':' || c == '/')
            url.push_back(c);
        else
            url += {L'%', L"0123456789ABCDEF"[c >> 4], L"0123456789ABCDEF"[c & 0xF]};
    }
    return url;
}

// Messages of the engine's window go on while the program waits.
void PumpFor(DWORD milliseconds)
{
    const DWORD start = GetTickCount();
    do {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        Sleep(10);
    } while (GetTickCount() - start < milliseconds);
}

std::string BitmapFile(const void* bits, int width, int height)
{
    const DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
    const DWORD pixels = stride * static_cast<DWORD>(height);
    BITMAPFILEHEADER file{};
    BITMAPINFOHEADER info{};
    file.bfType = 0x4D42;  // "BM"
    file.bfOffBits = sizeof file + sizeof info;
    file.bfSize = file.bfOffBits + pixels;
    info.biSize = sizeof info;
    info.biWidth = width;
    info.biHeight = height;
    info.biPlanes = 1;
    info.biBitCount = 24;
    info.biCompression = BI_RGB;
    info.biSizeImage = pixels;
    std::string bytes(reinterpret_cast<const char*>(&file), sizeof file);
    bytes.append(reinterpret_cast<const char*>(&info), sizeof info);
    bytes.append(static_cast<const char*>(bits), pixels);
    return bytes;
}

}  // namespace

std::string MshtmlEngine::DrawPage(const FilePath& page, ScreenPixels size)
{
    const DWORD start = GetTickCount();
    const win32::Window window(CreateWindowExA(WS_EX_TOOLWINDOW, "STATIC", "", WS_POPUP, -32000, -32000, size.width,
                                               size.height, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr));
    if (!window)
        throw EngineFailure(GetLastError(), "the window for the page engine cannot be made.");
    // The window is never shown; the engine lays the page out at its size all the same.
    Site site(window.get());

    win32::ComPtr<IOleObject> engine;
    HRESULT hr = CoCreateInstance(kClsidWebBrowser, nullptr, CLSCTX_INPROC_SERVER, IID_IOleObject, engine.put_void());
    if (FAILED(hr) || !engine)
        throw EngineFailure(static_cast<uint32_t>(hr),
                            "this Windows has no page engine (MSHTML, the WebBrowser control) the program can use.");
    struct Closing {
        IOleObject* engine;
        ~Closing()
        {
            engine->Close(OLECLOSE_NOSAVE);
            engine->SetClientSite(nullptr);
        }
    };
    hr = engine->SetClientSite(static_cast<IOleClientSite*>(&site));
    const Closing closing{engine.get()};
    RECT area{0, 0, size.width, size.height};
    if (SUCCEEDED(hr))
        hr = engine->DoVerb(OLEIVERB_INPLACEACTIVATE, nullptr, static_cast<IOleClientSite*>(&site), 0, window.get(),
                            &area);
    win32::ComPtr<IWebBrowser2> browser;
    if (SUCCEEDED(hr))
        hr = engine->QueryInterface(IID_IWebBrowser2, browser.put_void());
    if (SUCCEEDED(hr))
        hr = browser->put_Silent(VARIANT_TRUE);
    OwnBstr url(FileUrl(page));
    if (SUCCEEDED(hr))
        hr = browser->Navigate(url.get(), nullptr, nullptr, nullptr, nullptr);
    if (FAILED(hr))
        throw EngineFailure(static_cast<uint32_t>(hr), "the page engine could not load the page.");

    READYSTATE state = READYSTATE_UNINITIALIZED;
    while (SUCCEEDED(browser->get_ReadyState(&state)) && state != READYSTATE_COMPLETE &&
           GetTickCount() - start < kBoundMilliseconds)
        PumpFor(20);
    if (state == READYSTATE_COMPLETE)
        PumpFor(kScriptMilliseconds);
    if (state != READYSTATE_COMPLETE || GetTickCount() - start >= kBoundMilliseconds)
        throw EngineFailure(ERROR_TIMEOUT, "the page engine did not finish the page within 15 seconds.");

    win32::ComPtr<IDispatch> document;
    win32::ComPtr<IViewObject> view;
    hr = browser->get_Document(document.put());
    if (SUCCEEDED(hr) && document)
        hr = document->QueryInterface(IID_IViewObject, view.put_void());
    if (FAILED(hr) || !view)
        throw EngineFailure(static_cast<uint32_t>(FAILED(hr) ? hr : E_NOINTERFACE),
                            "the page engine loaded the page but offers no drawing of it.");

    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = size.width;
    info.bmiHeader.biHeight = size.height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    const win32::WindowDc screen(nullptr);
    const win32::GdiObject<HBITMAP> bitmap(CreateDIBSection(screen.get(), &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    const win32::MemoryDc dc(CreateCompatibleDC(screen.get()));
    if (!bitmap || !dc || bits == nullptr)
        throw EngineFailure(ERROR_NOT_ENOUGH_MEMORY, "there is no memory for a picture of the screen's size.");
    const win32::SelectedObject selected(dc.get(), bitmap.get());
    FillRect(dc.get(), &area, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    RECTL bounds{0, 0, size.width, size.height};
    hr = view->Draw(DVASPECT_CONTENT, -1, nullptr, nullptr, nullptr, dc.get(), &bounds, nullptr, nullptr, 0);
    if (FAILED(hr))
        throw EngineFailure(static_cast<uint32_t>(hr), "the page engine could not draw the page.");
    GdiFlush();
    return BitmapFile(bits, size.width, size.height);
}

}  // namespace tarnwick
