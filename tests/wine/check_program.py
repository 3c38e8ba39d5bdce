#!/usr/bin/env python3
"""Checks the shipped Windows program as a file: a 32-bit PE image that Windows 95 and NT 4 load,
small, importing only functions that Windows 95 and Windows 98's msvcrt.dll export, using no SSE
instructions, loading no library of its own and no trace of OLE Automation, and starting at its own
entry point, whose code (with everything it calls before the C runtime starts) runs on a Pentium.
Usage: check_program.py OBJDUMP tarnwick.exe tarnwick-symbols.exe (the same program before its
symbols were stripped)"""

import os
import re
import struct
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
# LoadLibraryA, GetProcAddress and FreeLibrary come from libgcc's frame registration, which takes
# its DLL only when that is loaded already (GetModuleHandleA first); LoadLibraryW from mingw's
# rand_s. The program's own code loads no library (checked below).
#
# USER32, GDI32, ADVAPI32, OLE32: the Win32 functions that Windows 95 implements (the ANSI entry
# points; MessageBoxW is one of the few wide ones it implements itself). CoInitialize rather than
# CoInitializeEx, which needs DCOM on Windows 95.
#
# OLE Automation (OLEAUT32) is neither imported nor loaded: the picture is a bitmap resource.
#
# MSVCRT: the C runtime entry points that msvcrt.dll has exported since Visual C++ 4.2, which
# Windows 98 (and 95 OSR2) ship; not the 64-bit stat/find/time family or ___lc_codepage_func,
# which came later.
ALLOWED = {
    "KERNEL32.DLL": """
        CloseHandle CreateFileA CreateFileW CreateSemaphoreW DeleteCriticalSection DeleteFileA
        DeleteFileW EnterCriticalSection ExitProcess FindClose FindFirstFileA FindFirstFileW
        FindNextFileA FindNextFileW FlushFileBuffers FormatMessageA FreeLibrary
        GetACP GetCurrentProcessId GetFileAttributesA GetCurrentThreadId GetExitCodeProcess GetLastError GetModuleFileNameA
        GetModuleFileNameW GetModuleHandleA GetModuleHandleW GetProcAddress GetStartupInfoA
        GetStartupInfoW GetTickCount GetVersion GetVersionExA InitializeCriticalSection IsDBCSLeadByteEx
        LeaveCriticalSection LoadLibraryA LoadLibraryW LocalFree MoveFileA MoveFileExW MulDiv
        MultiByteToWideChar OpenProcess ReadFile ReleaseSemaphore SetLastError
        SetUnhandledExceptionFilter Sleep TlsAlloc TlsFree TlsGetValue TlsSetValue VirtualProtect VirtualQuery
        WaitForSingleObject WideCharToMultiByte WriteFile""",
    "USER32.DLL": """
        AdjustWindowRectEx BeginPaint CreateWindowExA DefWindowProcA DestroyWindow
        DispatchMessageA DrawTextA EndPaint FillRect GetClientRect GetCursorPos GetDC GetMessageA
        GetSysColorBrush GetSystemMetrics GetWindowLongA InvalidateRect LoadCursorA LoadIconA LoadImageA MessageBoxA MessageBoxW
        GetCapture PeekMessageA PostQuitMessage RegisterClassExA ReleaseCapture ReleaseDC ScreenToClient SetCapture
        SetCursor SetWindowLongA ShowWindow SystemParametersInfoA TranslateMessage UpdateWindow""",
    "GDI32.DLL": """
        BitBlt CreateCompatibleDC CreateDIBSection CreateFontA CreateHalftonePalette DeleteDC DeleteObject GdiFlush GetDeviceCaps
        GetObjectA GetStockObject RealizePalette SelectObject SelectPalette SetBkMode SetBrushOrgEx
        SetStretchBltMode SetTextColor StretchBlt""",
    "ADVAPI32.DLL": "RegCloseKey RegCreateKeyExA RegDeleteValueA RegOpenKeyExA RegSetValueExA",
    "OLE32.DLL": "CoCreateInstance CoInitialize CoUninitialize",
    "MSVCRT.DLL": """
        __getmainargs __initenv __mb_cur_max __p__acmdln __p__commode __p__fmode __set_app_type
        __setusermatherr _amsg_exit _cexit _close _errno _initterm _iob _onexit _read abort atoi
        calloc exit fprintf fputc fputs free fwrite localeconv malloc memchr memcmp memcpy memmove
        memset realloc setlocale signal strchr strcmp strerror strlen strncmp vfprintf wcslen""",
}


# The entry point of the program's own, and the runtime's, which it hands over to.
ENTRY = "_TarnwickEntry@0"
RUNTIME_ENTRY = "_WinMainCRTStartup"
# The Pentium's instructions that a compiler emits for integer code (AT&T names, any size
# suffix) and the x87's. Anything else in the code that runs before the C runtime fails the check.
PENTIUM = re.compile(r"""(mov|movz[bw][wl]?|movs[bw][wl]?|movs[bwl]?|lea|push[lw]?|pop[lw]?|pushf[lw]?|popf[lw]?|
    xor|and|or|not|neg|add|adc|sub|sbb|inc|dec|cmp|test|sh[lr]|sa[lr]|ro[lr]|rc[lr]|sh[lr]d|imul|mul|div|idiv|
    cltd|cwtl|cbtw|cwtd|cdq|j[a-z]+|call|ret|leave|enter|nop|xchg|set[a-z]+|cpuid|bt[src]?|bs[fr]|bswap|
    cmpxchg(8b)?|xadd|int3|lock|rep[a-z]*|stos[bwl]?|lods[bwl]?|cld|std|sahf|lahf|f[a-z0-9]+)[bwlq]?""", re.X)
# Named for a clear report: the Pentium Pro's and later processors' instructions.
NEWER = re.compile(r"^(f?cmov|fu?comip?|ud2|sysenter|sysexit|rdpmc|fxsave|fxrstor|[lsm]fence|prefetch|clflush|"
                   r"movnt|pause|endbr|nop[lw]|fisttp)")


def disassembly_by_function(listing):
    """{name: (address, [(mnemonic, operands)])} from objdump's disassembly."""
    result, name = {}, None
    for line in listing.splitlines():
        match = re.match(r"([0-9a-f]+) <(.*)>:$", line)
        if match:
            name = match.group(2)
            result[name] = (int(match.group(1), 16), [])
            continue
        match = re.match(r"\s+[0-9a-f]+:\t(\S+)\s*(.*)$", line)
        if name and match:
            result[name][1].append((match.group(1), match.group(2)))
    return result


def older_than_pentium_pro(code, roots, stop):
    """Failures for the code reachable from roots by direct calls and jumps (not into stop)."""
    failures, seen, todo = [], set(), list(roots)
    while todo:
        name = todo.pop()
        if name in seen:
            continue
        seen.add(name)
        if name not in code:
            failures.append(f"no code for {name}")
            continue
        for mnemonic, operands in code[name][1]:
            target = re.search(r"<([^+>]+)(\+0x[0-9a-f]+)?>", operands)
            if mnemonic.startswith(("call", "j")) and target and target.group(1) not in (name, stop):
                todo.append(target.group(1))
            registers = re.search(r"%x?mm\d", operands)
            if NEWER.match(mnemonic) or registers or (mnemonic == "nop" and operands):
                failures.append(f"{name}: {mnemonic} {operands} needs a Pentium Pro or later")
            elif not PENTIUM.fullmatch(mnemonic):
                failures.append(f"{name}: {mnemonic} {operands} is not among the Pentium's instructions")
    return failures, sorted(seen)


def tls_callbacks(program):
    """The thread-local storage callbacks, which run even before the entry point: the zero-ended
    list of addresses that the PE file's TLS directory (data directory 9) names."""
    data = open(program, "rb").read()
    word = lambda offset, form="<I": struct.unpack_from(form, data, offset)[0]
    pe = word(0x3C)
    base, tls, table = word(pe + 52), word(pe + 24 + 96 + 9 * 8), pe + 24 + word(pe + 20, "<H")
    sections = [struct.unpack_from("<II4xI", data, table + 40 * i + 8) for i in range(word(pe + 6, "<H"))]
    at = lambda rva: next(word(raw + rva - start) for size, start, raw in sections if start <= rva < start + size)
    callbacks, slot = [], (at(tls + 12) - base) if tls else 0  # AddressOfCallBacks
    while slot and (address := at(slot)):
        callbacks.append(address)
        slot += 4
    return callbacks


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

    # The program starts at its own entry point, and that and everything it calls before the C
    # runtime (and the runtime's thread-local storage callbacks, which run even earlier) runs on a
    # Pentium: the runtime itself is built for the Pentium Pro.
    listing = disassembly_by_function(code)
    start = int(header("AddressOfEntryPoint") or "0", 16) + int(header("ImageBase") or "0", 16)
    if ENTRY not in listing:
        failures.append(f"the symbols copy has no {ENTRY}")
    else:
        expect("entry point", f"{start:#x}", f"{listing[ENTRY][0]:#x}")
    names = {address: name for name, (address, _) in listing.items()}
    before_entry = [names.get(address, f"{address:#x}") for address in tls_callbacks(program)]
    print(f"ok: thread-local storage callbacks: {', '.join(before_entry) or 'none'}")
    problems, reached = older_than_pentium_pro(listing, [ENTRY] + before_entry, RUNTIME_ENTRY)
    if problems:
        failures += problems
    else:
        print(f"ok: {', '.join(reached)} use no instruction newer than the Pentium")
    if not any(RUNTIME_ENTRY in operands for mnemonic, operands in listing.get(ENTRY, (0, []))[1]
               if mnemonic == "call"):
        failures.append(f"{ENTRY} does not hand over to {RUNTIME_ENTRY}")

    # The program's own code loads no library: the only calls of LoadLibrary are the runtime's.
    # Calls of imported functions go through their import address slots ("call *0x4533c4").
    sections = {int(m.group(1)) + 1: int(m.group(2), 16) for m in re.finditer(
        r"^\s+(\d+) \S+\s+[0-9a-f]+\s+([0-9a-f]+)", subprocess.run(
            [objdump, "-h", unstripped], check=True, capture_output=True, text=True).stdout, re.MULTILINE)}
    symbols = subprocess.run([objdump, "-t", unstripped], check=True, capture_output=True, text=True).stdout
    imports_by_address = {f"{sections[int(m.group(1))] + int(m.group(2), 16):#x}": m.group(3) for m in re.finditer(
        r"\(sec\s+(\d+)\).*\s0x([0-9a-f]+) __imp_(\S+)$", symbols, re.MULTILINE) if int(m.group(1)) in sections}
    loaders = sorted(name for name, (_, instructions) in listing.items()
                     if any(mnemonic == "call" and re.search(r"LoadLibrary[AW]", operands + imports_by_address.get(
                         operands.lstrip("*"), "")) for mnemonic, operands in instructions))
    expect("functions that call LoadLibrary", " ".join(loaders) or "none", "___gcc_register_frame _init_rand_s")
    data = open(program, "rb").read().lower()
    for trace in (b"oleaut32", b"oleloadpicture"):
        if trace in data:
            failures.append(f"the program holds \"{trace.decode()}\": OLE Automation is still used")
    print("ok: no trace of OLE Automation" if not any(t in data for t in (b"oleaut32", b"oleloadpicture")) else "")

    for failure in failures:
        print(f"FAIL: {failure}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
