#!/usr/bin/env python3
"""Reads Wine's relay log of a run of the program (WINEDEBUG=+relay,+pid,+loaddll). On the Windows 95
family it fails on any wide (...W) entry point of the system that the program's own image called,
other than those that family implements itself; with --nt wide calls are what NT expects. Either
way the page must be made durable before it takes 2.htm's place: the file renamed over 2.htm
(MoveFileA or MoveFileExW) must have been flushed (FlushFileBuffers on the handle it was created
with) after its last write and before the rename. Other Wine processes write to the same log:
only the lines of the process that loaded the program count, and only calls returning into the
program's image. On the display of 256 colours the tests give it, the picture is drawn after the
halftone palette was selected and realised and the stretch mode set: HALFTONE on NT, COLORONCOLOR
on the 95 family, which lacks HALFTONE.
Usage: relay_check.py [--nt] LOG tarnwick.exe OBJDUMP [FUNCTION...]: each FUNCTION (DLL.Name) must
have been called from the image, which proves the log saw the program's calls."""

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


def first_string(arguments):
    """The first string argument of a relay line's call, unescaped enough to compare names."""
    match = re.search(r'L?"((?:[^"\\]|\\.)*)"', arguments)
    return match.group(1).replace("\\\\", "\\") if match else None


def check_flush(calls):
    """calls: (name, arguments, retval) of the program's calls in order. Returns failures."""
    renames = [i for i, (name, args, _) in enumerate(calls)
               if name in ("KERNEL32.MoveFileA", "KERNEL32.MoveFileExW")
               and re.search(r'\\2\.htm"', args)]
    if not renames:
        return ["no rename over 2.htm"]
    failures = []
    for rename in renames:
        source = first_string(calls[rename][1])
        created = [i for i, (name, args, _) in enumerate(calls[:rename])
                   if name in ("KERNEL32.CreateFileA", "KERNEL32.CreateFileW") and first_string(args) == source]
        if not created:
            failures.append(f"the renamed file {source} was not created by the program")
            continue
        handle = calls[created[-1]][2]
        if handle is None:
            failures.append(f"the log shows no handle returned for {source}")
            continue
        uses = [(i, name) for i, (name, args, _) in enumerate(calls[created[-1] + 1:rename], created[-1] + 1)
                if re.match(r"\(?" + handle + r"\b", args.lstrip("("))]
        writes = [i for i, name in uses if name == "KERNEL32.WriteFile"]
        if not writes:
            failures.append(f"nothing was written to {source} (handle {handle})")
            continue
        flushes = [i for i, name in uses if name == "KERNEL32.FlushFileBuffers" and i > writes[-1]]
        if not flushes:
            failures.append(f"{source} (handle {handle}) was not flushed between its last write and its rename")
    return failures


def check_palette(calls, nt):
    steps = [name[6:] + (f"({args.split(',')[1]})" if name.endswith("Mode") else "") for name, args, _ in calls
             if name in ("GDI32.SelectPalette", "GDI32.RealizePalette", "GDI32.SetStretchBltMode", "GDI32.StretchBlt")]
    wanted = f"SelectPalette RealizePalette SetStretchBltMode({4 if nt else 3:08x}) StretchBlt"
    return [] if wanted in " ".join(steps) else [f"the picture's palette steps: {' '.join(steps)}"]


def main():
    arguments = sys.argv[1:]
    nt = arguments[:1] == ["--nt"]
    if nt:
        arguments = arguments[1:]
    log_path, program, objdump = arguments[:3]
    required = set(arguments[3:])
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

    called, wide, calls = set(), {}, []
    call = re.compile(r"[0-9a-f]+:([0-9a-f]+):Call ([A-Za-z0-9_]+)\.([A-Za-z0-9_]+)\((.*)\) ret=([0-9a-f]+)$")
    ret = re.compile(r"[0-9a-f]+:([0-9a-f]+):Ret  ([A-Za-z0-9_]+)\.([A-Za-z0-9_]+)\(\) retval=([0-9a-f]+) ret=([0-9a-f]+)$")
    open_calls = {}  # (thread, function, return address) -> index in calls
    for line in lines:
        if not line.startswith(pid + ":"):
            continue
        match = call.match(line)
        if match and base <= int(match.group(5), 16) < base + image_size:
            dll, name = match.group(2).upper(), match.group(3)
            called.add(f"{dll}.{name}")
            if not nt and dll in SYSTEM_DLLS and is_wide(name) and name not in IMPLEMENTED_WIDE:
                wide.setdefault(f"{dll}.{name}", line)
            open_calls[(match.group(1), f"{dll}.{name}", match.group(5))] = len(calls)
            calls.append([f"{dll}.{name}", match.group(4), None])
            continue
        match = ret.match(line)
        if match:
            key = (match.group(1), f"{match.group(2).upper()}.{match.group(3)}", match.group(5))
            if key in open_calls:
                calls[open_calls.pop(key)][2] = match.group(4)

    print(f"process {pid}: {len(called)} distinct system functions called from the program's image")
    failures = [f"the program called {name}: {line}" for name, line in sorted(wide.items())]
    failures += [f"no call of {name} from the program's image" for name in sorted(required - called)]
    failures += check_flush(calls) + check_palette(calls, nt)
    for failure in failures:
        print(f"FAIL: {failure}")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
