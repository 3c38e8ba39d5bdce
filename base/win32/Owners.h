// Move-only owners for the Win32 handles the program uses: each gives its handle back to the
// system exactly once, when it ends or when it is reset. Windows only.
#pragma once

#include <windows.h>
#include <objbase.h>

#include <utility>

namespace tarnwick::win32 {

// Owns one handle; Traits names the empty value and how the handle is given back.
template <class Traits>
class Owner {
public:
    using Handle = typename Traits::Handle;

    Owner() noexcept = default;
    explicit Owner(Handle handle) noexcept : handle_(handle) {}
    Owner(Owner&& other) noexcept : handle_(other.release()) {}
    Owner& operator=(Owner&& other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    ~Owner() { reset(); }
    Owner(const Owner&) = delete;
    Owner& operator=(const Owner&) = delete;

    Handle get() const noexcept { return handle_; }
    explicit operator bool() const noexcept { return handle_ != Traits::Empty(); }

    // Gives the handle up without closing it: someone else owns it now.
    Handle release() noexcept { return std::exchange(handle_, Traits::Empty()); }

    // Closes the handle held, if any, and takes the new one. The old handle stays visible while
    // it closes: a window's procedure still sees it in the messages of DestroyWindow.
    void reset(Handle handle = Traits::Empty()) noexcept
    {
        if (handle_ != Traits::Empty())
            Traits::Close(handle_);
        handle_ = handle;
    }

    // Closes the handle now and answers the system's result (an empty owner's value is handed
    // over too, so the system reports it as it would).
    auto close() noexcept { return Traits::Close(release()); }

private:
    Handle handle_ = Traits::Empty();
};

template <class H, class Result, Result(WINAPI* CloseFunction)(H)>
struct NullEmptyTraits {
    using Handle = H;
    static Handle Empty() noexcept { return nullptr; }
    static Result Close(Handle handle) noexcept { return CloseFunction(handle); }
};

template <class H, class Result, Result(WINAPI* CloseFunction)(H)>
struct InvalidEmptyTraits {
    using Handle = H;
    static Handle Empty() noexcept { return INVALID_HANDLE_VALUE; }
    static Result Close(Handle handle) noexcept { return CloseFunction(handle); }
};

// A registry key (RegCloseKey; close() answers its status).
using RegistryKey = Owner<NullEmptyTraits<HKEY, LSTATUS, ::RegCloseKey>>;

// A file from CreateFile (INVALID_HANDLE_VALUE when empty).
using FileHandle = Owner<InvalidEmptyTraits<HANDLE, BOOL, ::CloseHandle>>;
// A kernel object whose functions answer null on failure, a process for example.
using KernelHandle = Owner<NullEmptyTraits<HANDLE, BOOL, ::CloseHandle>>;
// A search from FindFirstFile.
using FindHandle = Owner<InvalidEmptyTraits<HANDLE, BOOL, ::FindClose>>;

// A module from LoadLibraryA.
using Module = Owner<NullEmptyTraits<HMODULE, BOOL, ::FreeLibrary>>;

// A memory device context from CreateCompatibleDC.
using MemoryDc = Owner<NullEmptyTraits<HDC, BOOL, ::DeleteDC>>;

// Memory from GlobalAlloc; release() it when a stream takes it over.
using GlobalMemory = Owner<NullEmptyTraits<HGLOBAL, HGLOBAL, ::GlobalFree>>;

// A window, destroyed with its owner. The window procedure release()s it on WM_NCDESTROY, when
// the system destroys the window by itself.
using Window = Owner<NullEmptyTraits<HWND, BOOL, ::DestroyWindow>>;

template <class H>
struct GdiObjectTraits {
    using Handle = H;
    static Handle Empty() noexcept { return nullptr; }
    static BOOL Close(Handle handle) noexcept { return ::DeleteObject(handle); }
};

// A font, bitmap, brush or pen (DeleteObject).
template <class H>
using GdiObject = Owner<GdiObjectTraits<H>>;

template <class P>
struct LocalMemoryTraits {
    using Handle = P;
    static Handle Empty() noexcept { return nullptr; }
    static HLOCAL Close(Handle pointer) noexcept { return ::LocalFree(pointer); }
};

// A buffer the system allocated with LocalAlloc for the caller, FormatMessage's for example.
template <class P>
using LocalMemory = Owner<LocalMemoryTraits<P>>;

// The device context of a window, or of the screen for none, from GetDC.
class WindowDc {
public:
    explicit WindowDc(HWND window) noexcept : window_(window), dc_(::GetDC(window)) {}
    WindowDc(WindowDc&& other) noexcept : window_(other.window_), dc_(std::exchange(other.dc_, nullptr)) {}
    WindowDc& operator=(WindowDc&&) = delete;
    ~WindowDc()
    {
        if (dc_ != nullptr)
            ::ReleaseDC(window_, dc_);
    }
    WindowDc(const WindowDc&) = delete;
    WindowDc& operator=(const WindowDc&) = delete;

    HDC get() const noexcept { return dc_; }

private:
    HWND window_;
    HDC dc_;
};

// Selects an object into a device context and selects the previous one back when it ends.
class SelectedObject {
public:
    SelectedObject(HDC dc, HGDIOBJ object) noexcept : dc_(dc), previous_(::SelectObject(dc, object)) {}
    SelectedObject(SelectedObject&& other) noexcept : dc_(other.dc_), previous_(std::exchange(other.previous_, nullptr))
    {
    }
    SelectedObject& operator=(SelectedObject&&) = delete;
    ~SelectedObject()
    {
        if (previous_ != nullptr)
            ::SelectObject(dc_, previous_);
    }
    SelectedObject(const SelectedObject&) = delete;
    SelectedObject& operator=(const SelectedObject&) = delete;

private:
    HDC dc_;
    HGDIOBJ previous_;
};

// One reference to a COM object.
template <class T>
class ComPtr {
public:
    ComPtr() noexcept = default;
    ComPtr(ComPtr&& other) noexcept : pointer_(other.release()) {}
    ComPtr& operator=(ComPtr&& other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    ~ComPtr() { reset(); }
    ComPtr(const ComPtr&) = delete;
    ComPtr& operator=(const ComPtr&) = delete;

    T* get() const noexcept { return pointer_; }
    T* operator->() const noexcept { return pointer_; }
    explicit operator bool() const noexcept { return pointer_ != nullptr; }

    T* release() noexcept { return std::exchange(pointer_, nullptr); }
    void reset(T* pointer = nullptr) noexcept
    {
        if (T* old = std::exchange(pointer_, pointer))
            old->Release();
    }

    // Where a creating function puts the new reference; any held one is released first.
    T** put() noexcept
    {
        reset();
        return &pointer_;
    }
    void** put_void() noexcept { return reinterpret_cast<void**>(put()); }

private:
    T* pointer_ = nullptr;
};

// The thread's COM apartment: CoInitialize (a single-threaded apartment on every Windows;
// CoInitializeEx needs DCOM on Windows 95), and CoUninitialize when it ends if it started.
class ComApartment {
public:
    ComApartment() noexcept : status_(::CoInitialize(nullptr)) {}
    ~ComApartment()
    {
        if (SUCCEEDED(status_))
            ::CoUninitialize();
    }
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;

    HRESULT Status() const noexcept { return status_; }

private:
    HRESULT status_;
};

}  // namespace tarnwick::win32
