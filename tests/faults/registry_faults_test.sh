#!/usr/bin/env bash
# The stand-alone registry store under faults: concurrent writers, and damaged store files.
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

SECONDS_OF_WORK=${TARNWICK_FAULT_SECONDS:-3}

# Two processes set and delete values of the same key for a bounded time while a third parses
# the store file over and over: no update is lost, no deleted value comes back, and every
# version of the store that could be seen parses.
case_concurrent_writers() {
    "$DRIVER" hammer "$STORE" A "$SECONDS_OF_WORK" 5000 >"$CASE_DIR/a.out" 2>"$CASE_DIR/a.err" &
    local a=$!
    "$DRIVER" hammer "$STORE" B "$SECONDS_OF_WORK" 5000 >"$CASE_DIR/b.out" 2>"$CASE_DIR/b.err" &
    local b=$!
    "$DRIVER" watch "$STORE" "$SECONDS_OF_WORK" >"$CASE_DIR/w.out" 2>"$CASE_DIR/w.err" &
    local w=$!
    local sa=0 sb=0 sw=0
    wait "$a" || sa=$?
    wait "$b" || sb=$?
    wait "$w" || sw=$?
    ERR="$CASE_DIR/a.err"
    ((sa == 0)) || fail "writer A failed (exit $sa)"
    ERR="$CASE_DIR/b.err"
    ((sb == 0)) || fail "writer B failed (exit $sb)"
    ERR="$CASE_DIR/w.err"
    ((sw == 0)) || fail "a reader saw a store that does not parse"
    local na nb
    na=$(cat "$CASE_DIR/a.out")
    nb=$(cat "$CASE_DIR/b.out")
    ((na >= 3 && nb >= 3)) || fail "too little work done to mean anything (A $na, B $nb iterations)"
    note "A: $na iterations, B: $nb iterations, reader: $(cat "$CASE_DIR/w.out")"
    ERR="$CASE_DIR/err"
    driver verify "$STORE" A "$na"
    ((STATUS == 0)) || fail "updates of A were lost"
    driver verify "$STORE" B "$nb"
    ((STATUS == 0)) || fail "updates of B were lost"
    expect_no_temporaries
}

# A writer killed at arbitrary points (SIGKILL, five times): every store left behind parses,
# holds every update the killed writer finished before its last one, and the next writer works.
# Each writer is killed a varying moment after the store first shows a finished iteration of it:
# a fixed delay from its start was sometimes too short on a busy machine, when the start and the
# flushes were slow, and the kill then came before anything was finished.
case_writer_killed() {
    local round pid status tenths
    for round in 1 2 3 4 5; do
        "$DRIVER" hammer "$STORE" "K$round" 120 100000 >"$CASE_DIR/k.out" 2>"$CASE_DIR/k.err" &
        pid=$!
        tenths=0
        until grep -qs "^\"pK$round-last\"=" "$STORE"; do
            kill -0 "$pid" 2>/dev/null || { ERR="$CASE_DIR/k.err"; fail "the writer ended before it finished anything"; }
            ((tenths++ < 600)) || { kill -9 "$pid"; fail "round $round: the writer finished nothing in a minute"; }
            sleep 0.1
        done
        sleep "0.$((round * 7 % 5))"
        kill -9 "$pid" 2>/dev/null || { ERR="$CASE_DIR/k.err"; fail "the writer ended before it was killed"; }
        wait "$pid"
        status=$?
        ((status == 137)) || fail "the writer was not killed (exit $status)"
        driver watch "$STORE" 0.01
        ((STATUS == 0)) || fail "round $round: the store left by the killed writer does not parse"
        driver set "$STORE" "after-$round" "written after the kill"
        expect_success
    done
    # What each killed writer finished is still there.
    for round in 1 2 3 4 5; do
        driver verify-killed "$STORE" "K$round"
        ((STATUS == 0)) || fail "round $round: finished updates were lost"
        note "$(cat "$OUT")"
    done
    local leftovers
    leftovers=$(find "$CASE_DIR" -name '*.tmp' | wc -l)
    note "store parses after every kill; temporary files left by killed writers: $leftovers"
}

# A half-written store of a killed writer ("<store>.<pid>.tmp" of a dead process) is removed by
# the next change, as the page writer does; one of a live process stays.
case_stale_temporaries_removed() {
    driver set "$STORE" Title 'first'
    expect_success
    true &
    local dead=$!
    wait "$dead"
    sleep 300 &
    local live=$!
    printf 'REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Soft' >"$STORE.$dead.tmp"
    printf 'in progress' >"$STORE.$live.tmp"
    driver set "$STORE" Title 'second'
    local live_kept=0
    [[ -e $STORE.$live.tmp ]] && live_kept=1
    kill "$live" 2>/dev/null
    wait "$live" 2>/dev/null
    rm -f "$STORE.$live.tmp"
    expect_success
    [[ ! -e $STORE.$dead.tmp ]] || fail "the killed writer's half-written store is still there"
    ((live_kept)) || fail "a running writer's temporary file was removed"
}

# A program folder whose name the store's code page cannot hold: the Run command succeeds, and
# the store records no path rather than one with '?' for the letters (the earlier one is gone).
case_page_path_beyond_code_page() {
    small_template
    driver run "$PROG" "$STORE"
    expect_success
    grep -q '^"Wallpaper"=' "$STORE" || fail "the first run recorded no wallpaper"
    local greek="$CASE_DIR/Ελληνικά"
    mkdir "$greek" && cp "$PROG/1.htm" "$greek/" || fail "cannot make the folder"
    driver run "$greek" "$STORE"
    expect_success
    cmp -s "$greek/2.htm" <(small_page) || fail "the page in the Greek folder is wrong"
    ! grep -q '"Wallpaper"=' "$STORE" || fail "a wallpaper path is still recorded: $(grep Wallpaper "$STORE")"
    grep -q '^"WallpaperStyle"="2"' "$STORE" || fail "the style was not recorded"
    ! grep -q '?' "$STORE" || fail "the store holds a '?'"
}

# A store that is already there, written by the registry itself.
valid_store() {
    driver set "$STORE" Title 'C:\Games "best"'
    expect_success
    driver set "$STORE" Long "$(printf 'a fairly long text value, number %s; ' {1..20})"
    expect_success
    driver set "$STORE" Last 'the end'
    expect_success
    grep -q '^"Long"=' "$STORE" || fail "the store does not hold the value Long"
}

# expect_rejected_store: every way in reports the store as unreadable (1009) and leaves it
# exactly as it was, not even rewritten in place.
expect_rejected_store() {
    cp -p "$STORE" "$CASE_DIR/store-before"
    local inode
    inode=$(stat -c %i "$STORE")
    driver set "$STORE" Title 'new'
    expect_failure "RegSetValueExA\(Title\): status 1009|RegCreateKeyExA: status 1009"
    driver delete "$STORE" Title
    expect_failure "status 1009"
    # The Run command: the page is written, the wallpaper cannot be kept.
    small_template
    driver run "$PROG" "$STORE" --os 98
    expect_failure "The desktop wallpaper could not be set" "0x800703F1" "corrupt"
    cmp -s "$STORE" "$CASE_DIR/store-before" || fail "the damaged store was changed"
    [[ $(stat -c %i "$STORE") == "$inode" ]] || fail "the damaged store was replaced"
    [[ $(stat -c %Y "$STORE") == $(stat -c %Y "$CASE_DIR/store-before") ]] || fail "the damaged store was rewritten"
    expect_no_temporaries
}

# Cut in the middle of a quoted value (as a crash of a writer without atomic saves would).
case_truncated_store() {
    valid_store
    local cut
    cut=$(grep -b -o '"Long"="a fairly' "$STORE" | cut -d: -f1)
    [[ -n $cut ]] || fail "cannot find where to cut the store"
    head -c $((cut + 20)) "$STORE" >"$CASE_DIR/cut" && cat "$CASE_DIR/cut" >"$STORE"
    expect_rejected_store
}

# Cut to nothing: an existing empty file is not an empty registry.
case_empty_store() {
    valid_store
    : >"$STORE"
    expect_rejected_store
}

# Bytes that are no REGEDIT4 text at all (the driver's own first 4 KiB: fixed, binary).
case_garbage_store() {
    head -c 4096 "$DRIVER" >"$STORE"
    expect_rejected_store
}

# A good header and section, then garbage.
case_garbage_after_header() {
    { printf 'REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software\\TarnwickFaults]\r\n'; head -c 512 "$DRIVER"; } >"$STORE"
    expect_rejected_store
}

run_case "$@"
