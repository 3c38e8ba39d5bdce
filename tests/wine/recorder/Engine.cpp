// A stand-in for the page engine (the WebBrowser control), for the tests under Wine, whose own
// engine needs a Gecko package this machine does not have. It implements only what the program
// calls: IOleObject (SetClientSite, DoVerb, Close), IWebBrowser2 (put_Silent, Navigate,
// get_ReadyState, get_Document) and the document's IViewObject::Draw; every other slot is empty.
// It writes one line per call to the file named by TARNWICK_ENGINE_LOG (a Windows path).
//
// What it draws, the page decides: the page's bgcolor over the bounds it is given, and a 16-pixel
// magenta mark whose corner is the page's own corner (the first "width=W height=H" in the page),
// so a picture drawn at another size than the page's shows it. From the site it asks what a real
// engine asks: the host's flags (IDocHostUIHandler::GetHostInfo), the ambient download control,
// and the security manager (IServiceProvider) about the page's URL and every src= and href= of
// the page, logging each answer; a URL the manager refuses is not fetched. A page that holds
// "tarnwick-engine-slow" never completes (it plays a page that loads for a minute);
// "tarnwick-engine-fail" fails to load.
#define CINTERFACE
#include <windows.h>
#include <exdisp.h>
#include <mshtmdid.h>
#include <mshtmhst.h>
#include <urlmon.h>

#include <cstdio>
#include <string>
#include <vector>

#include "Log.h"

namespace {

void Log(const std::string& line)
{
    AppendLine(L"TARNWICK_ENGINE_LOG", line);
}

std::string Hex(unsigned long value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%lx", value);
    return text;
}

std::string Narrow(const std::wstring& text)
{
    std::string result;
    for (wchar_t c : text)
        result.push_back(c < 0x80 ? static_cast<char>(c) : '?');
    return result;
}

// The page's file, from its file: URL (percent-encoded UTF-8); empty for any other URL.
std::string ReadPage(const std::wstring& url)
{
    if (url.rfind(L"file:///", 0) != 0)
        return {};
    std::string bytes;
    for (size_t i = 8; i < url.size(); ++i) {
        if (url[i] == L'%' && i + 2 < url.size()) {
            bytes.push_back(
                static_cast<char>(std::stoi(std::string(url.begin() + i + 1, url.begin() + i + 3), nullptr, 16)));
            i += 2;
        } else {
            bytes.push_back(url[i] == L'/' ? '\\' : static_cast<char>(url[i]));
        }
    }
    std::wstring path(bytes.size() + 1, L'\0');
    path.resize(MultiByteToWideChar(CP_UTF8, 0, bytes.data(), static_cast<int>(bytes.size()), path.data(),
                                    static_cast<int>(path.size())));
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return {};
    bytes.clear();
    char buffer[4096];
    DWORD read = 0;
    while (ReadFile(file, buffer, sizeof buffer, &read, nullptr) && read > 0)
        bytes.append(buffer, read);
    CloseHandle(file);
    return bytes;
}

// The text after key up to the next quote, blank or '>', else empty.
std::string After(const std::string& page, const std::string& key, size_t from = 0)
{
    size_t at = page.find(key, from);
    if (at == std::string::npos)
        return {};
    at += key.size();
    size_t end = page.find_first_of("\" >", at);
    return page.substr(at, end == std::string::npos ? std::string::npos : end - at);
}

struct Engine;

// One interface of the engine, and the engine it belongs to.
template <class Interface>
struct Face {
    Interface itf;
    Engine* engine;
};

template <class Interface>
Engine* Of(Interface* itf)
{
    return reinterpret_cast<Face<Interface>*>(itf)->engine;
}

// The document is the engine's IDispatch, there only to be asked for IViewObject, which draws.
// Any of the four answers for all of them.
struct Engine {
    Face<IOleObject> ole;
    Face<IWebBrowser2> browser;
    Face<IDispatch> document;
    Face<IViewObject> view;
    LONG refs = 1;
    IOleClientSite* site = nullptr;
    std::string page;
    bool navigated = false;
    DWORD navigatedAt = 0;
};

HRESULT Bind(Engine* engine, REFIID iid, void** object)
{
    *object = nullptr;
    if (iid == IID_IUnknown || iid == IID_IOleObject)
        *object = &engine->ole.itf;
    else if (iid == IID_IWebBrowser2)
        *object = &engine->browser.itf;
    else if (iid == IID_IDispatch)
        *object = &engine->document.itf;
    else if (iid == IID_IViewObject)
        *object = &engine->view.itf;
    else
        return E_NOINTERFACE;
    ++engine->refs;
    return S_OK;
}

ULONG Drop(Engine* engine)
{
    const LONG refs = --engine->refs;
    if (refs == 0) {
        Log("Release refs=0");
        if (engine->site != nullptr)
            engine->site->lpVtbl->Release(engine->site);
        delete engine;
    }
    return static_cast<ULONG>(refs);
}

// The site's service, or null.
template <class T>
T* SiteService(Engine* engine, REFGUID service, REFIID iid)
{
    IServiceProvider* provider = nullptr;
    if (engine->site == nullptr ||
        FAILED(engine->site->lpVtbl->QueryInterface(engine->site, IID_IServiceProvider, (void**)&provider)))
        return nullptr;
    T* object = nullptr;
    if (FAILED(provider->lpVtbl->QueryService(provider, service, iid, (void**)&object)))
        object = nullptr;
    provider->lpVtbl->Release(provider);
    return object;
}

// What a real engine asks of its host before it loads a page.
void AskHost(Engine* engine, const std::wstring& url)
{
    IDocHostUIHandler* handler = nullptr;
    if (SUCCEEDED(engine->site->lpVtbl->QueryInterface(engine->site, IID_IDocHostUIHandler, (void**)&handler))) {
        DOCHOSTUIINFO info{};
        info.cbSize = sizeof info;
        const HRESULT hr = handler->lpVtbl->GetHostInfo(handler, &info);
        Log("GetHostInfo hr=" + Hex(hr) + " flags=" + Hex(info.dwFlags));
        handler->lpVtbl->Release(handler);
    } else {
        Log("GetHostInfo none");
    }
    IDispatch* ambient = nullptr;
    if (SUCCEEDED(engine->site->lpVtbl->QueryInterface(engine->site, IID_IDispatch, (void**)&ambient))) {
        VARIANT result;
        result.vt = VT_EMPTY;
        DISPPARAMS none{};
        const HRESULT hr = ambient->lpVtbl->Invoke(ambient, DISPID_AMBIENT_DLCONTROL, IID_NULL, 0, DISPATCH_PROPERTYGET,
                                                   &none, &result, nullptr, nullptr);
        Log("DownloadControl hr=" + Hex(hr) + " value=" + (result.vt == VT_I4 ? Hex(result.lVal) : "none"));
        ambient->lpVtbl->Release(ambient);
    }

    IInternetSecurityManager* manager =
        SiteService<IInternetSecurityManager>(engine, SID_SInternetSecurityManager, IID_IInternetSecurityManager);
    if (manager == nullptr) {
        Log("SecurityManager none");
        return;
    }
    std::vector<std::string> urls{Narrow(url)};
    for (const char* key : {"src=\"", "href=\""})
        for (size_t at = engine->page.find(key); at != std::string::npos; at = engine->page.find(key, at + 1))
            urls.push_back(After(engine->page, key, at));
    for (const std::string& asked : urls) {
        const std::wstring wide(asked.begin(), asked.end());
        DWORD policy = 0xFFFFFFFF;
        const HRESULT hr = manager->lpVtbl->ProcessUrlAction(
            manager, wide.c_str(), URLACTION_SCRIPT_RUN, (BYTE*)&policy, sizeof policy, nullptr, 0, PUAF_DEFAULT, 0);
        const bool refused = hr == S_FALSE && policy == URLPOLICY_DISALLOW;
        Log("ProcessUrlAction url=" + asked + " hr=" + Hex(hr) + " policy=" + Hex(policy) +
            (refused ? " refused" : " fetched"));
    }
    manager->lpVtbl->Release(manager);
}

// IUnknown, the same for each interface: one object.
template <class Interface>
HRESULT STDMETHODCALLTYPE QueryInterface(Interface* self, REFIID iid, void** object)
{
    return Bind(Of(self), iid, object);
}
template <class Interface>
ULONG STDMETHODCALLTYPE AddRef(Interface* self)
{
    return static_cast<ULONG>(++Of(self)->refs);
}
template <class Interface>
ULONG STDMETHODCALLTYPE Release(Interface* self)
{
    return Drop(Of(self));
}

HRESULT STDMETHODCALLTYPE OleSetClientSite(IOleObject* self, IOleClientSite* site)
{
    Engine* engine = Of(self);
    Log(std::string("SetClientSite ") + (site != nullptr ? "site" : "null"));
    if (site != nullptr)
        site->lpVtbl->AddRef(site);
    if (engine->site != nullptr)
        engine->site->lpVtbl->Release(engine->site);
    engine->site = site;
    return S_OK;
}
HRESULT STDMETHODCALLTYPE OleClose(IOleObject*, DWORD option)
{
    Log("Close option=" + std::to_string(option));
    return S_OK;
}
HRESULT STDMETHODCALLTYPE OleDoVerb(IOleObject* self, LONG verb, LPMSG, IOleClientSite* site, LONG, HWND window,
                                    LPCRECT area)
{
    RECT client{};
    GetClientRect(window, &client);
    const bool visible = IsWindowVisible(window) != FALSE;
    Log("DoVerb verb=" + std::to_string(verb) + " site=" + (site == Of(self)->site ? "same" : "other") +
        " area=" + std::to_string(area->right - area->left) + "x" + std::to_string(area->bottom - area->top) +
        " window=" + std::to_string(client.right) + "x" + std::to_string(client.bottom) +
        (visible ? " visible" : " hidden"));
    return S_OK;
}

HRESULT STDMETHODCALLTYPE BrowserPutSilent(IWebBrowser2*, VARIANT_BOOL silent)
{
    Log("put_Silent " + std::to_string(silent != VARIANT_FALSE));
    return S_OK;
}
HRESULT STDMETHODCALLTYPE BrowserNavigate(IWebBrowser2* self, BSTR url, VARIANT* flags, VARIANT* frame, VARIANT* post,
                                          VARIANT* headers)
{
    Engine* engine = Of(self);
    const std::wstring address(url, SysStringLen(url));
    Log("Navigate url=" + Narrow(address) + " length=" + std::to_string(SysStringLen(url)) +
        (flags || frame || post || headers ? " with options" : ""));
    engine->page = ReadPage(address);
    if (engine->site != nullptr)
        AskHost(engine, address);
    if (engine->page.empty() || engine->page.find("tarnwick-engine-fail") != std::string::npos) {
        Log("Navigate failed");
        return INET_E_RESOURCE_NOT_FOUND;
    }
    engine->navigated = true;
    engine->navigatedAt = GetTickCount();
    return S_OK;
}
HRESULT STDMETHODCALLTYPE BrowserGetReadyState(IWebBrowser2* self, READYSTATE* state)
{
    Engine* engine = Of(self);
    const bool slow = engine->page.find("tarnwick-engine-slow") != std::string::npos;
    *state = !engine->navigated                                   ? READYSTATE_UNINITIALIZED
             : slow || GetTickCount() - engine->navigatedAt < 300 ? READYSTATE_INTERACTIVE
                                                                  : READYSTATE_COMPLETE;
    return S_OK;
}
HRESULT STDMETHODCALLTYPE BrowserGetDocument(IWebBrowser2* self, IDispatch** document)
{
    Engine* engine = Of(self);
    Log("get_Document");
    *document = &engine->document.itf;
    ++engine->refs;
    return S_OK;
}

HRESULT STDMETHODCALLTYPE ViewDraw(IViewObject* self, DWORD aspect, LONG, void*, DVTARGETDEVICE*, HDC, HDC dc,
                                   LPCRECTL bounds, LPCRECTL, BOOL(STDMETHODCALLTYPE*)(ULONG_PTR), ULONG_PTR)
{
    const std::string& page = Of(self)->page;
    const std::string colour = After(page, "bgcolor=\"#");
    const COLORREF background = colour.size() == 6 ? RGB(std::stoi(colour.substr(0, 2), nullptr, 16),
                                                         std::stoi(colour.substr(2, 2), nullptr, 16),
                                                         std::stoi(colour.substr(4, 2), nullptr, 16))
                                                   : RGB(255, 255, 255);
    const int width = std::atoi(After(page, "width=").c_str());
    const int height = std::atoi(After(page, "height=").c_str());
    Log("Draw aspect=" + std::to_string(aspect) + " bounds=" + std::to_string(bounds->left) + "," +
        std::to_string(bounds->top) + "," + std::to_string(bounds->right) + "," + std::to_string(bounds->bottom) +
        " page=" + std::to_string(width) + "x" + std::to_string(height) + " bgcolor=#" + colour);
    HBRUSH fill = CreateSolidBrush(background);
    RECT area{bounds->left, bounds->top, bounds->right, bounds->bottom};
    FillRect(dc, &area, fill);
    DeleteObject(fill);
    HBRUSH mark = CreateSolidBrush(RGB(255, 0, 255));
    RECT corner{bounds->left + width - 16, bounds->top + height - 16, bounds->left + width, bounds->top + height};
    FillRect(dc, &corner, mark);
    DeleteObject(mark);
    return S_OK;
}

const IOleObjectVtbl kOleVtbl = {
    .QueryInterface = QueryInterface<IOleObject>,
    .AddRef = AddRef<IOleObject>,
    .Release = Release<IOleObject>,
    .SetClientSite = OleSetClientSite,
    .Close = OleClose,
    .DoVerb = OleDoVerb,
};
const IWebBrowser2Vtbl kBrowserVtbl = {
    .QueryInterface = QueryInterface<IWebBrowser2>,
    .AddRef = AddRef<IWebBrowser2>,
    .Release = Release<IWebBrowser2>,
    .Navigate = BrowserNavigate,
    .get_Document = BrowserGetDocument,
    .get_ReadyState = BrowserGetReadyState,
    .put_Silent = BrowserPutSilent,
};
const IDispatchVtbl kDocumentVtbl = {
    .QueryInterface = QueryInterface<IDispatch>,
    .AddRef = AddRef<IDispatch>,
    .Release = Release<IDispatch>,
};
const IViewObjectVtbl kViewVtbl = {
    .QueryInterface = QueryInterface<IViewObject>,
    .AddRef = AddRef<IViewObject>,
    .Release = Release<IViewObject>,
    .Draw = ViewDraw,
};

}  // namespace

HRESULT CreateEngine(REFIID iid, void** object)
{
    auto* engine = new Engine;
    engine->ole = {{const_cast<IOleObjectVtbl*>(&kOleVtbl)}, engine};
    engine->browser = {{const_cast<IWebBrowser2Vtbl*>(&kBrowserVtbl)}, engine};
    engine->document = {{const_cast<IDispatchVtbl*>(&kDocumentVtbl)}, engine};
    engine->view = {{const_cast<IViewObjectVtbl*>(&kViewVtbl)}, engine};
    const HRESULT hr = Bind(engine, iid, object);
    Log(std::string("CreateInstance ") + (SUCCEEDED(hr) ? "ok" : "none"));
    Drop(engine);
    return hr;
}
