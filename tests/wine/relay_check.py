#!/usr/bin/env python3
"""Reads Wine's relay log of a run of the program (WINEDEBUG=+relay,+pid,+loaddll) and fails on any
wide (...W) entry point of the system that the program's own image called, other than those the
Windows 95 family implements itself. Other Wine processes write to the same log: only the lines of
the process that loaded the program count, and only calls returning into the program's image.
Usage: relay_check.py LOG tarnwick.exe OBJDUMP [FUNCTION...]: each FUNCTION (DLL.Name) must have
been called from the image, which proves the log saw the program's calls."""

import re
import subprocess
import sys

# What Windows 95, 98 and ME implement of the wide entry points, and what the compiler's runtime
# calls and copes with when it fails.
IMPLEMENTED_WIDE = set("""
    MessageBoxW MessageBoxExW TextOutW ExtTextOutW GetTextExtentPoint32W GetTextExtentPointW
    GetTextExtentExPointW GetCharWidthW lstrlenW GetCommandLineW FindResourceW FindResourceExW
    EnumResourceLanguagesW EnumResourceNamesW EnumResourceTypesW
    GetModuleHandleW GetStartupInfoW CreateSemaphoreW
""".split())
SYSTEM_DLLS = {"KERNEL32", "USER32", "GDI32", "ADVAPI32", "SHELL32", "OLE32", "OLEAUT32", "COMCTL32", "SHLWAPI"}


def is_wide(name):
    return re.search(r"([a-z0-9]|Ex)W$", name) is not None


def main():
    log_path, program, objdump = sys.argv[1:4]
    required = set(sys.argv[4:])
    headers = subprocess.run([objdump, "-p", program], check=True, capture_output=True, text=True).stdout
    image_size = int(re.search(r"^SizeOfImage\s+([0-9a-fA-F]+)", headers, re.MULTILINE).group(1), 16)

    with open(log_path, encoding="latin-1") as log:
        lines = log.read().splitlines()
    pid = base = None
    for line in lines:
        match = re.match(r"([0-9a-f]+):[0-9a-f]+:trace:loaddll:\S+ Loaded L\"[^\"]*\\\\tarnwick\.exe\" at ([0-9a-f]+)", line)
        if match:
            pid, base = match.group(1), int(match.group(2), 16)
            break
    if pid is None:
        print("FAIL: the log does not show the program being loaded")
        return 1

    called, wide = set(), {}
    call = re.compile(r"[0-9a-f]+:[0-9a-f]+:Call ([A-Za-z0-9_]+)\.([A-Za-z0-9_]+)\(.*\) ret=([0-9a-f]+)$")
    for line in lines:
        if not line.startswith(pid + ":"):
            continue
        match = call.match(line)
        if not match or not base <= int(match.group(3), 16) < base + image_size:
            continue
        dll, name = match.group(1).upper(), match.group(2)
        called.add(f"{dll}.{name}")
        if dll in SYSTEM_DLLS and is_wide(name) and name not in IMPLEMENTED_WIDE:
            wide.setdefault(f"{dll}.{name}", line)

    print(f"process {pid}: {len(called)} distinct system functions called from the program's image")
    failures = [f"the program called {name}: {line}" for name, line in sorted(wide.items())]
    failures += [f"no call of {name} from the program's image" for name in sorted(required - called)]
    for failure in failures:
        print(f"FAIL: {failure}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
