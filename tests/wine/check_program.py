#!/usr/bin/env python3
"""Checks the shipped Windows program as a file: a 32-bit PE image that Windows 95 and NT 4 load,
small, importing only functions that Windows 95 and Windows 98's msvcrt.dll export, and using no
SSE instructions. Usage: check_program.py OBJDUMP tarnwick.exe tarnwick-symbols.exe (the same
program before its symbols were stripped)"""

import os
import re
import subprocess
import sys

MAX_BYTES = 512 * 1024

# Every function the program may import, per DLL.
#
# KERNEL32: each name is among the exports of Windows 95's kernel32.dll (ordinals 1 to 780, as an
# early Wine's kernel32.spec lists them under "Functions exported by the Win95 kernel32.dll").
# Where Windows 95 exports only a stub (the wide file functions, MoveFileExW, OpenProcess before
# OSR2), the program calls it on the NT family only; the Windows 95 family test under Wine's
# relay log checks which wide functions the program calls. GetModuleHandleW, GetStartupInfo*,
# CreateSemaphoreW and LoadLibraryW come from the compiler's runtime, which copes with their
# failure (LoadLibraryW sits in mingw's rand_s, which nothing of the program calls).
#
# USER32, GDI32, ADVAPI32, OLE32: the Win32 functions that Windows 95 implements (the ANSI entry
# points; MessageBoxW is one of the few wide ones it implements itself). CoInitialize rather than
# CoInitializeEx, which needs DCOM on Windows 95.
#
# OLEAUT32 is not imported at all: OleLoadPicture, which the first Windows 95 may lack, is looked
# up when the picture is loaded.
#
# MSVCRT: the C runtime entry points that msvcrt.dll has exported since Visual C++ 4.2, which
# Windows 98 (and 95 OSR2) ship; not the 64-bit stat/find/time family or ___lc_codepage_func,
# which came later.
ALLOWED = {
    "KERNEL32.DLL": """
        CloseHandle CreateFileA CreateFileW CreateSemaphoreW DeleteCriticalSection DeleteFileA
        DeleteFileW EnterCriticalSection ExitProcess FindClose FindFirstFileA FindFirstFileW
        FindNextFileA FindNextFileW FindResourceA FlushFileBuffers FormatMessageA FreeLibrary
        GetACP GetCurrentProcessId GetCurrentThreadId GetExitCodeProcess GetLastError GetModuleFileNameA
        GetModuleFileNameW GetModuleHandleA GetModuleHandleW GetProcAddress GetStartupInfoA
        GetStartupInfoW GetVersion GetVersionExA GlobalAlloc GlobalFree GlobalLock GlobalUnlock
        InitializeCriticalSection IsDBCSLeadByteEx LeaveCriticalSection LoadLibraryA LoadLibraryW
        LoadResource LocalFree LockResource MoveFileA MoveFileExW MulDiv MultiByteToWideChar
        OpenProcess ReadFile ReleaseSemaphore SetLastError SetUnhandledExceptionFilter
        SizeofResource Sleep TlsAlloc TlsFree TlsGetValue TlsSetValue VirtualProtect VirtualQuery
        WaitForSingleObject WideCharToMultiByte WriteFile""",
    "USER32.DLL": """
        AdjustWindowRectEx BeginPaint CopyImage CreateWindowExA DefWindowProcA DestroyWindow
        DispatchMessageA DrawTextA EndPaint FillRect GetCursorPos GetDC GetMessageA
        GetSysColorBrush GetSystemMetrics GetWindowLongA LoadCursorA LoadImageA MessageBoxW
        GetCapture PostQuitMessage RegisterClassExA ReleaseCapture ReleaseDC ScreenToClient SetCapture
        SetCursor SetWindowLongA ShowWindow SystemParametersInfoA TranslateMessage UpdateWindow""",
    "GDI32.DLL": """
        BitBlt CreateCompatibleDC CreateFontA DeleteDC DeleteObject GetDeviceCaps GetObjectA
        GetStockObject SelectObject SetBkMode SetTextColor""",
    "ADVAPI32.DLL": "RegCloseKey RegCreateKeyExA RegDeleteValueA RegOpenKeyExA RegSetValueExA",
    "OLE32.DLL": "CoCreateInstance CoInitialize CoUninitialize CreateStreamOnHGlobal",
    "MSVCRT.DLL": """
        __getmainargs __initenv __mb_cur_max __p__acmdln __p__commode __p__fmode __set_app_type
        __setusermatherr _amsg_exit _cexit _close _errno _initterm _iob _onexit _read abort atoi
        calloc exit fprintf fputc fputs free fwrite localeconv malloc memchr memcmp memcpy memmove
        memset realloc setlocale signal strchr strcmp strerror strlen strncmp vfprintf wcslen""",
}


def main():
    objdump, program, unstripped = sys.argv[1], sys.argv[2], sys.argv[3]
    headers = subprocess.run([objdump, "-p", program], check=True, capture_output=True, text=True).stdout
    failures = []

    def header(name):
        match = re.search(rf"^{name}\s+(\S+)", headers, re.MULTILINE)
        return match.group(1) if match else None

    def expect(what, got, wanted):
        if got != wanted:
            failures.append(f"{what} is {got}, expected {wanted}")
        else:
            print(f"ok: {what} is {wanted}")

    expect("PE magic", header("Magic"), "010b")
    expect("subsystem", header("Subsystem"), "00000002")
    expect("subsystem version", f"{header('MajorSubsystemVersion')}.{header('MinorSubsystemVersion')}", "4.0")
    expect("operating system version", f"{header('MajorOSystemVersion')}.{header('MinorOSystemVersion')}", "4.0")

    size = os.path.getsize(program)
    if size > MAX_BYTES:
        failures.append(f"the program is {size} bytes, more than {MAX_BYTES}")
    else:
        print(f"ok: the program is {size} bytes ({size / 1024:.0f} KiB), at most {MAX_BYTES // 1024} KiB")

    imports = {}
    dll = None
    for line in headers.splitlines():
        match = re.match(r"\s*DLL Name: (\S+)", line)
        if match:
            dll = match.group(1).upper()
            imports.setdefault(dll, set())
            continue
        match = re.match(r"\s+[0-9a-f]+\s+\d+\s+([A-Za-z_]\w*)$", line)
        if dll and match:
            imports[dll].add(match.group(1))
        elif not line.strip():
            dll = None
    if not imports:
        failures.append("no imports found")
    for name, functions in sorted(imports.items()):
        allowed = set(ALLOWED.get(name, "").split())
        if name not in ALLOWED:
            failures.append(f"imports {name}, which is not on the list")
            continue
        extra = sorted(functions - allowed)
        if extra:
            failures.append(f"imports from {name} what Windows 95 may lack: {' '.join(extra)}")
        else:
            print(f"ok: {len(functions)} imports from {name}, all on the list")

    # No SSE or SSE2: Windows 95 runs on processors without them.
    # The code of every function; the tables of exception handling share the code section.
    code = subprocess.run([objdump, "-d", "--no-show-raw-insn", unstripped], check=True, capture_output=True,
                          text=True).stdout
    sse, symbol = [], ""
    for line in code.splitlines():
        match = re.match(r"[0-9a-f]+ <(.*)>:$", line)
        if match:
            symbol = match.group(1)
        elif re.search(r"%xmm\d", line) and not symbol.startswith(".gcc_except_table"):
            sse.append(f"{symbol}: {line.strip()}")
    if sse:
        failures.append(f"{len(sse)} SSE instructions, the first: {sse[0]}")
    else:
        print("ok: no SSE instructions")

    for failure in failures:
        print(f"FAIL: {failure}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
