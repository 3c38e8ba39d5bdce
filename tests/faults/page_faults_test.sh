#!/usr/bin/env bash
# Page writing under faults: each case makes the Run command fail (or die) while an older 2.htm
# exists, and checks that the older page is byte-identical afterwards, that the failure is
# reported, and that no temporary file is left.
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

# The program folder cannot be written: the new page cannot even be started, and the report says
# why and what to do.
case_readonly_folder() {
    small_template
    old_page
    chmod 444 "$PROG/2.htm"
    chmod 555 "$PROG"
    local as_user=() driver=$DRIVER
    if ((EUID == 0)); then
        # Root ignores permissions: run the driver as nobody, from a copy in the case folder in
        # case the build folder is not open to other users.
        command -v setpriv >/dev/null || skip "setpriv is missing"
        as_user=(setpriv --reuid=nobody --regid="$(id -gn nobody)" --clear-groups)
        driver=$CASE_DIR/fault_driver
        cp "$DRIVER" "$driver" && chmod 755 "$driver" || fail "cannot copy the driver"
        "${as_user[@]}" test -x "$driver" || fail "nobody cannot run $driver"
        "${as_user[@]}" test -r "$PROG/1.htm" || fail "nobody cannot read the template"
        ! "${as_user[@]}" test -w "$PROG" || fail "nobody can still write the program folder"
    fi
    "${as_user[@]}" "$driver" run "$PROG" "$STORE" >"$OUT" 2>"$ERR"
    STATUS=$?
    expect_failure "Cannot write the page .*2\.htm\. This user may not write in the program's folder: keep the program \
in a folder this user may write, such as one in Documents\." "Error 13: Permission denied"
    chmod 755 "$PROG"
    expect_old_page
    expect_no_temporaries
}

# 2.htm is a folder: the new page is written, then cannot take its place.
case_page_is_folder() {
    small_template
    mkdir "$PROG/2.htm"
    printf 'keep me\n' >"$PROG/2.htm/inside.txt"
    driver run "$PROG" "$STORE"
    expect_failure "Cannot write the page .*2\.htm" "Error 21: Is a directory"
    [[ -d $PROG/2.htm && $(cat "$PROG/2.htm/inside.txt") == "keep me" ]] || fail "the folder 2.htm was changed"
    [[ $(ls -A "$PROG/2.htm") == inside.txt ]] || fail "the folder 2.htm gained entries"
    expect_no_temporaries
    [[ ! -e $STORE ]] || fail "the wallpaper was set although the page failed"
}

# 1.htm is a folder: nothing is written at all.
case_template_is_folder() {
    mkdir "$PROG/1.htm"
    old_page
    driver run "$PROG" "$STORE"
    expect_failure "Cannot read the template .*1\.htm" "Error 21: Is a directory"
    expect_old_page
    expect_no_temporaries
    [[ ! -e $STORE ]] || fail "the wallpaper was set although the page failed"
}

case_template_missing() {
    old_page
    driver run "$PROG" "$STORE"
    expect_failure "Cannot read the template .*1\.htm" "Error 2: No such file or directory"
    expect_old_page
    expect_no_temporaries
}

# A file size limit cuts the page write short (EFBIG, as a full disk would: the write fails part
# way through).
case_write_cut_by_size_limit() {
    # About 1 MiB of template, 256 KiB allowed.
    yes '<td width="800" height="600">a cell, another</td>' | head -c 1048576 >"$PROG/1.htm"
    old_page
    (
        trap '' XFSZ # the write then fails with EFBIG instead of the signal killing the driver
        ulimit -f 256
        exec "$DRIVER" run "$PROG" "$STORE" >"$OUT" 2>"$ERR"
    )
    STATUS=$?
    ((STATUS < 128)) || fail "the driver was killed by signal $((STATUS - 128))"
    expect_failure "Cannot write the page .*2\.htm" "Error 27: File too large"
    expect_old_page
    expect_no_temporaries
}

# A really full file system (a 1 MiB tmpfs as the program folder, in a mount namespace of the
# test's own): ENOSPC part way through the page.
case_write_cut_by_full_disk() {
    command -v unshare >/dev/null || skip "unshare is missing"
    unshare --mount --propagation private true 2>/dev/null || skip "cannot make a mount namespace here"
    local status=0
    unshare --mount --propagation private bash -c '
        set -u
        prog=$1 driver=$2 store=$3 out=$4 err=$5
        mount -t tmpfs -o size=1m tmpfs "$prog" || exit 77
        yes "<td width=\"800\" height=\"600\">a cell, another</td>" | head -c 716800 >"$prog/1.htm" || exit 90
        printf "\r\nan older page\r\n\r\n" >"$prog/2.htm"
        cp "$prog/2.htm" "$prog/../old-2.htm"
        "$driver" run "$prog" "$store" >"$out" 2>"$err"
        (($? != 0)) || exit 91
        cmp -s "$prog/2.htm" "$prog/../old-2.htm" || exit 92
        [[ -z $(find "$prog" -name "*.tmp") ]] || exit 93
        [[ $(ls -A "$prog") == $(printf "1.htm\n2.htm") ]] || exit 94
        exit 0
    ' bash "$PROG" "$DRIVER" "$STORE" "$OUT" "$ERR" || status=$?
    case $status in
    0) ;;
    77) skip "cannot mount a tmpfs" ;;
    91) fail "the run succeeded on a full disk" ;;
    92) fail "the older 2.htm was changed" ;;
    93) fail "a temporary file was left on the full disk" ;;
    94) fail "the full disk holds files besides 1.htm and 2.htm" ;;
    *) fail "the case failed to run (status $status)" ;;
    esac
    STATUS=1
    expect_failure "Cannot write the page .*2\.htm" "Error 28: No space left on device"
}

# SIGKILL part way through writing a 200 MiB page. The older page survives; the killed run's
# temporary file is left behind (nothing can remove it), and the next run works, writes the
# right page and removes it, but not the temporary file of a process still running.
case_killed_during_write() {
    yes '  <td width="800" height="600">a cell, 800 by 600</td>' | head -c $((200 << 20)) >"$PROG/1.htm"
    old_page
    "$DRIVER" run "$PROG" "$STORE" >"$OUT" 2>"$ERR" &
    local pid=$! temporary waited=0
    temporary="$PROG/2.htm.$pid.tmp"
    # Poll for the temporary file, then let the write get going.
    until [[ -e $temporary ]]; do
        kill -0 "$pid" 2>/dev/null || fail "the driver ended before its temporary file appeared"
        ((waited++ < 120000)) || { kill -9 "$pid"; fail "no temporary file after 2 minutes"; }
        sleep 0.001
    done
    sleep 0.05
    kill -9 "$pid" 2>/dev/null || fail "the driver had already ended"
    wait "$pid"
    STATUS=$?
    ((STATUS == 137)) || fail "the driver was not killed (exit $STATUS)"
    note "killed with $(stat -c %s "$temporary") bytes of the page written"
    expect_old_page
    [[ -e $temporary ]] || fail "the killed run's temporary file is not there (was the kill too late?)"
    [[ ! -e $STORE ]] || fail "the wallpaper was set by the killed run"

    # A temporary file of a live process must stay: sleep stands in for another running copy.
    sleep 300 &
    local live=$!
    printf 'in progress\n' >"$PROG/2.htm.$live.tmp"
    small_template
    driver run "$PROG" "$STORE"
    local live_kept=0
    [[ -e $PROG/2.htm.$live.tmp ]] && live_kept=1
    kill "$live" 2>/dev/null
    wait "$live" 2>/dev/null
    rm -f "$PROG/2.htm.$live.tmp"
    expect_success
    small_page >"$CASE_DIR/expected-2.htm"
    cmp -s "$PROG/2.htm" "$CASE_DIR/expected-2.htm" || fail "the next run wrote the wrong page"
    [[ ! -e $temporary ]] || fail "the next run did not remove the killed run's temporary file"
    ((live_kept)) || fail "the next run removed a running process's temporary file"
    expect_no_temporaries
    grep -q '"Wallpaper"=".*2\.htm"' "$STORE" || fail "the next run did not set the wallpaper"
}

run_case "$@"
