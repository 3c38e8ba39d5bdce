# Shared helpers of the fault tests. A test script sources this file, defines its cases as
# functions case_NAME and ends with `run_case "$@"`; CTest runs each case as its own test.
# TARNWICK_FAULT_DRIVER names the driver (tests/faults/fault_driver.cpp). A case that cannot run
# here exits 77 (reported as skipped). TARNWICK_KEEP=1 keeps the case folder; a failing case's
# folder is always kept.

set -uo pipefail

DRIVER=${TARNWICK_FAULT_DRIVER:?TARNWICK_FAULT_DRIVER is not set}
CASE=""
CASE_DIR=""
PROG=""
STORE=""
OUT=""
ERR=""
STATUS=0

fail() {
    echo "FAIL [$CASE]: $*" >&2
    [[ -s $ERR ]] && { echo "--- driver's stderr:" >&2; cat "$ERR" >&2; }
    echo "case folder kept: $CASE_DIR" >&2
    exit 1
}

skip() {
    echo "SKIP [$CASE]: $*"
    cleanup_case
    exit 77
}

note() {
    echo "  [$CASE] $*"
}

# A case folder readable by every user (the read-only case runs the driver as another user), a
# program folder with a space in its name, and a store path in a folder of its own.
setup_case() {
    CASE_DIR=$(mktemp -d "${TMPDIR:-/tmp}/tarnwick-faults.XXXXXX") || fail "no temporary folder"
    chmod 755 "$CASE_DIR"
    PROG="$CASE_DIR/program folder"
    STORE="$CASE_DIR/home/registry.reg"
    OUT="$CASE_DIR/out"
    ERR="$CASE_DIR/err"
    mkdir -p "$PROG" "$CASE_DIR/home" || fail "cannot make the case folders"
}

cleanup_case() {
    [[ -n $CASE_DIR && -d $CASE_DIR ]] || return 0
    chmod -R u+rwX "$CASE_DIR" 2>/dev/null
    [[ ${TARNWICK_KEEP:-} == 1 ]] || rm -rf "$CASE_DIR"
}

# driver ARGS...: runs the driver; its exit status goes to STATUS, its output to $OUT and $ERR.
driver() {
    "$DRIVER" "$@" >"$OUT" 2>"$ERR"
    STATUS=$?
}

# A small template with placeholders, a quoted item and a comma.
small_template() {
    printf '<img width="800" height="600">, "quoted, 800"\n' >"$PROG/1.htm"
}

# The page small_template gives on a 1024 x 768 screen.
small_page() {
    printf '\r\n<img width="1024" height="768">\r\nquoted, 1024\r\n\r\n'
}

# An older page that must survive a failed run, and a copy to compare it with.
old_page() {
    printf '\r\nan older page, 1024 x 768\r\n\r\n' >"$PROG/2.htm"
    cp -p "$PROG/2.htm" "$CASE_DIR/old-2.htm"
}

expect_old_page() {
    [[ -f $PROG/2.htm ]] || fail "the older 2.htm is gone"
    cmp -s "$PROG/2.htm" "$CASE_DIR/old-2.htm" || fail "the older 2.htm was changed"
}

# expect_failure PATTERN...: the driver failed and its report matches every pattern (grep -E).
expect_failure() {
    ((STATUS != 0)) || fail "the run succeeded; expected a failure"
    local pattern
    for pattern in "$@"; do
        grep -Eq -- "$pattern" "$ERR" || fail "the report does not mention /$pattern/"
    done
    note "reported: $(tr '\n' ' ' <"$ERR")"
}

expect_success() {
    ((STATUS == 0)) || fail "the driver failed (exit $STATUS)"
}

# No temporary file anywhere in the case's folders.
expect_no_temporaries() {
    local stray
    stray=$(find "$CASE_DIR" -name '*.tmp' 2>/dev/null | head -n1)
    [[ -z $stray ]] || fail "left behind: $stray"
}

run_case() {
    CASE=${1:?usage: $0 CASE}
    declare -F "case_$CASE" >/dev/null || { echo "unknown case $CASE" >&2; exit 2; }
    setup_case
    "case_$CASE"
    cleanup_case
    echo "PASS [$CASE]"
}
