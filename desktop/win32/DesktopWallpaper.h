// The shell's wallpaper of each monitor on Windows 8 and later (IDesktopWallpaper), declared here
// because the program builds against headers older than it: only the slots up to SetPosition,
// in the order of the interface's table.
#pragma once

#include <windows.h>
#include <objbase.h>

namespace tarnwick::win32 {

// {C2CF3110-460E-4FC1-B9D0-8A1C0C9CC4BD}
inline constexpr CLSID kClsidDesktopWallpaper = {
    0xC2CF3110, 0x460E, 0x4FC1, {0xB9, 0xD0, 0x8A, 0x1C, 0x0C, 0x9C, 0xC4, 0xBD}};
// {B92B56A9-8B55-4E14-9A89-0199BBB6F93B}
inline constexpr IID kIidDesktopWallpaper = {
    0xB92B56A9, 0x8B55, 0x4E14, {0x9A, 0x89, 0x01, 0x99, 0xBB, 0xB6, 0xF9, 0x3B}};
inline constexpr int kPositionStretch = 2;  // DWPOS_STRETCH

// A COM interface has no virtual destructor: its objects delete themselves in Release.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wnon-virtual-dtor"
struct IDesktopWallpaper : IUnknown {
    virtual HRESULT STDMETHODCALLTYPE SetWallpaper(LPCWSTR monitor, LPCWSTR wallpaper) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetWallpaper(LPCWSTR monitor, LPWSTR* wallpaper) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetMonitorDevicePathAt(UINT index, LPWSTR* monitor) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetMonitorDevicePathCount(UINT* count) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetMonitorRECT(LPCWSTR monitor, RECT* rect) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetBackgroundColor(COLORREF color) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetBackgroundColor(COLORREF* color) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetPosition(int position) = 0;
};
#pragma GCC diagnostic pop

}  // namespace tarnwick::win32
