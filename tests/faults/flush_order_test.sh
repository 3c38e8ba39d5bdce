#!/usr/bin/env bash
# Durability on the real program: the page and the registry store each reach the disk before they
# replace the older file. The driver's Run command is traced with strace; every rename onto the
# target must come after a flush (fsync or fdatasync) of the file being renamed, and after the
# last write to it. The temporary file's name does not matter: it is whatever is renamed.
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

TRACE_CALLS=write,pwrite64,writev,pwritev,pwritev2,fsync,fdatasync,rename,renameat,renameat2

# traced_run: the Run command (Windows 98, so the store is written several times) under strace.
traced_run() {
    command -v strace >/dev/null || skip "strace is missing"
    strace -qq -o /dev/null true 2>/dev/null || skip "strace cannot trace here (ptrace not permitted)"
    small_template
    old_page
    # The leak checker of a sanitizer build cannot run under ptrace.
    ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}detect_leaks=0" \
        strace -f -y -qq -s 0 -e trace="$TRACE_CALLS" -o "$CASE_DIR/trace" "$DRIVER" run "$PROG" "$STORE" --os 98 \
        >"$OUT" 2>"$ERR"
    STATUS=$?
    expect_success
}

# expect_flushed_before_rename TARGET: at least one rename onto TARGET, each of a flushed file.
expect_flushed_before_rename() {
    local verdict
    verdict=$(python3 - "$CASE_DIR/trace" "$1" <<'PY'
import os, re, sys

trace, target = sys.argv[1], os.path.realpath(sys.argv[2])
flushed = set()  # files flushed since their last write, by the path of the descriptor
renames = 0
for line in open(trace, encoding="utf-8", errors="replace"):
    m = re.match(r"\d+\s+(\w+)\((.*)\)\s+=\s+(-?\d+)", line)
    if not m or int(m.group(3)) < 0:
        continue
    call, args = m.group(1), m.group(2)
    if call.startswith("rename"):
        old, new = [os.path.realpath(p) for p in re.findall(r'"((?:[^"\\]|\\.)*)"', args)[:2]]
        if new == target:
            renames += 1
            if old not in flushed:
                print(f"renamed onto the target without a flush since its last write: {old}")
                sys.exit(1)
        flushed.discard(old)
        continue
    fd = re.match(r"\d+<(.*?)>", args)
    if fd is None:
        continue
    path = os.path.realpath(fd.group(1))
    if call in ("fsync", "fdatasync"):
        flushed.add(path)
    else:
        flushed.discard(path)
if renames == 0:
    print("nothing was renamed onto the target")
    sys.exit(1)
print(f"{renames} replacement(s), each flushed first")
PY
    ) || fail "$1: $verdict (trace kept in the case folder)"
    note "$(basename "$1"): $verdict"
}

case_page() {
    traced_run
    expect_flushed_before_rename "$PROG/2.htm"
}

case_store() {
    traced_run
    expect_flushed_before_rename "$STORE"
}

run_case "$@"
