#!/usr/bin/env bash
# Start-up cases of the Windows program under Wine. Run one case: start_cases.sh NAME.
#   bare           the program built without its resources (TW_BARE) opens its window as the
#                  black panel without the picture, with the system's icon and the arrow over the
#                  labels, and Run still works
#   old-processor  the program's entry point (TW_ENTRY_PROBE, told the processor's answer) hands
#                  over to the C runtime where the processor has CMOV, and where it has not shows
#                  its ANSI box and ends before the runtime starts
# tests/wine/CMakeLists.txt runs them.

source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

readonly OLD_PROCESSOR_TEXT='Tarnwick needs a Pentium Pro class processor or later (one that runs CMOV instructions). '\
'This processor is older.'

case_bare() {
    TW_PROGRAM=$TW_BARE begin_case bare 1024x768
    set_windows_version win98
    start_program
    expect_eq "window size" "$WIN_SIZE" 196x300
    point_at 2 2
    screenshot "$CASE_DIR/window.png"
    local failures
    failures=$(python3 "$TW_XCHECK" layout "$CASE_DIR/window.png" "$WIN_LEFT" "$WIN_TOP" 96 "$TW_CAPTION_RGB" \
        none) || fail "layout without the picture: $failures"
    failures=$(python3 "$TW_XCHECK" icon "$XWIN" "$TW_SOURCE/resources/tarnwick.ico")
    grep -q 'differs from' <<<"$failures" ||
        fail "the window's icon is not the system's: ${failures:-it is the program icon}"

    # The arrow over the labels as everywhere else.
    local arrow now control x y
    point_at $((WIN_LEFT + 100)) $((WIN_TOP + 188))
    sleep 0.3
    arrow=$(python3 "$TW_XCHECK" cursor)
    for control in title run close support; do
        read -r x y <<<"$(control_middle "$control")"
        point_at $((WIN_LEFT + x)) $((WIN_TOP + y))
        sleep 0.3
        now=$(python3 "$TW_XCHECK" cursor)
        expect_eq "cursor over $control" "$now" "$arrow"
    done

    click run
    wait_exit 20
    expect_eq "exit status" "$STATUS" 0
    expected_test_page 1024 768 >"$CASE_DIR/expected.htm"
    expect_file_bytes "$PAGE" "$CASE_DIR/expected.htm"
    local lines
    mapfile -t lines < <(PROBE=1 wallpaper_calls "$(winpath "$PAGE")")
    expect_log "${lines[@]}"
    note "black panel without the picture, system icon, arrow cursor; Run set the page"
}

case_old_processor() {
    begin_case old-processor 1024x768 none
    cp "$TW_ENTRY_PROBE" "$APP/entry-probe.exe" || fail "cannot copy the entry probe"
    local status
    (cd "$APP" && TARNWICK_TEST_CMOV=1 timeout 60 wine entry-probe.exe) >"$CASE_DIR/with-cmov.out" 2>&1
    status=$?
    expect_eq "exit status with CMOV (WinMain's, through the C runtime)" "$status" 42

    (cd "$APP" && TARNWICK_TEST_CMOV=0 exec wine entry-probe.exe) >"$CASE_DIR/program.out" 2>&1 &
    PID=$!
    wait_box 30
    expect_eq "box text" "$BOX_TEXT" "$OLD_PROCESSOR_TEXT"
    expect_eq "box icon" "$BOX_ICON" yes
    expect_eq "box buttons" "$BOX_BUTTONS" OK
    expect_eq "box owner" "$BOX_OWNER" none
    wintool ok >/dev/null || fail "cannot press OK"
    wait_exit 20
    expect_eq "exit status without CMOV" "$STATUS" 1
    note "CMOV: handed over to the runtime; none: the box, then status 1 without the runtime"
}

case ${1:-} in
bare) case_bare ;;
old-processor) case_old_processor ;;
*)
    echo "usage: $0 bare|old-processor" >&2
    exit 2
    ;;
esac
