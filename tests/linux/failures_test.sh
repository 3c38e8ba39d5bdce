#!/bin/bash
# Failures end the program with one error box (and the report on stderr), status 1, and lose
# nothing: an older page and the wallpaper record stay as they were. Without a display the
# program says so in one line.
source "$(dirname "$0")/lib.sh"


# Shows the error box with the report, keeps it up against further clicks, ends with status 1.
expect_error_box() { # REPORT-FRAGMENT...
    wait_box
    box_has_red || fail "the error box has no error icon"
    local fragment
    for fragment; do
        grep -qF -- "$fragment" "$CASE_DIR/err" || fail "the report lacks: $fragment"
    done
    click "$RUN_X" "$RUN_Y"
    click 92 240
    sleep 0.3
    is_running || fail "the program ended before the box was dismissed"
    [[ $(boxes | wc -l) -eq 1 ]] || fail "more than one box"
    dismiss_box
    expect_exit 1
}

case_missing_template() {
    prepare_case none
    seed_record
    printf 'an older page\r\n' >"$PAGE"
    snapshot_files
    start_program
    click "$RUN_X" "$RUN_Y"
    expect_error_box "Cannot read the template $PROG_DIR/1.htm." "Error 2: No such file or directory"
    expect_files_unchanged
    note "error box, status 1, the older page and the record kept"
}

case_corrupt_store() {
    prepare_case "$TARNWICK_SAMPLE"
    seed_store 'this is not a registry file'
    snapshot_files
    start_program
    click "$RUN_X" "$RUN_Y"
    expect_error_box "The desktop wallpaper could not be set" "Error 0x800703F1"
    cmp -s "$STORE" "$CASE_DIR/before/registry.reg" || fail "the unreadable store was written over"
    note "error box, status 1, the unreadable store left alone"
}

case_no_home() {
    prepare_case "$TARNWICK_SAMPLE"
    (cd "$CASE_DIR" && exec env -u HOME -u XDG_CONFIG_HOME "$PROG_DIR/tarnwick" >"$CASE_DIR/out" 2>"$CASE_DIR/err") &
    PID=$!
    WIN=none
    expect_error_box "Neither XDG_CONFIG_HOME nor HOME is set"
    note "error box at start, status 1"
}

# expect_one_line FRAGMENT...: the program ended at once with status 1 and one line on stderr.
expect_one_line() {
    expect_exit 1
    [[ ! -s $CASE_DIR/out ]] || fail "unexpected output on stdout"
    [[ $(wc -l <"$CASE_DIR/err") -eq 1 ]] || fail "stderr is not one line: $(cat "$CASE_DIR/err")"
    local fragment
    for fragment; do
        grep -qF -- "$fragment" "$CASE_DIR/err" || fail "the line lacks: $fragment"
    done
    note "$(cat "$CASE_DIR/err")"
}

case_no_display() {
    prepare_case "$TARNWICK_SAMPLE"
    (cd "$CASE_DIR" && exec env HOME="$HOME_DIR" "$PROG_DIR/tarnwick" >"$CASE_DIR/out" 2>"$CASE_DIR/err") &
    PID=$!
    expect_one_line "no display" "xvfb-run -a '$PROG_DIR/tarnwick'"
    expect_files_unchanged
}

# DISPLAY names a server that is not there.
case_unreachable_display() {
    prepare_case "$TARNWICK_SAMPLE"
    (cd "$CASE_DIR" && exec env HOME="$HOME_DIR" DISPLAY=:59731 "$PROG_DIR/tarnwick" >"$CASE_DIR/out" 2>"$CASE_DIR/err") &
    PID=$!
    expect_one_line 'cannot open the display ":59731"' "xvfb-run -a '$PROG_DIR/tarnwick'"
    expect_files_unchanged
}

run_cases 1024x768:case_missing_template 1024x768:case_corrupt_store 1024x768:case_no_home \
    none:case_no_display none:case_unreachable_display
