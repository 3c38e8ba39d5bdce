#!/bin/bash
# "Close Tarnwick" clears the wallpaper record and ends; "Support" shows its box every time and
# the window stays.
source "$(dirname "$0")/lib.sh"

SUPPORT_X=96 SUPPORT_Y=272

case_close_clears_record() {
    prepare_case "$TARNWICK_SAMPLE"
    seed_record
    start_program
    click "$CLOSE_X" "$CLOSE_Y"
    expect_exit 0
    expect_quiet
    expect_section '"Wallpaper"=""' '"WallpaperStyle"="2"' '"TileWallpaper"="0"'
    [[ -e $PAGE ]] && fail "Close made a page"
    note "the record is cleared, other values kept, no page made"
}

# Without any record yet, Close leaves an empty one.
case_close_without_record() {
    prepare_case "$TARNWICK_SAMPLE"
    start_program
    click "$CLOSE_X" "$CLOSE_Y" 3
    expect_exit 0
    expect_section '"Wallpaper"=""' '"WallpaperStyle"="2"'
    note "a right click closes too and leaves an empty record"
}

case_support_box_each_time() {
    prepare_case "$TARNWICK_SAMPLE"
    seed_record
    snapshot_files
    start_program
    local shown=()
    for button in 1 3 1; do
        click "$SUPPORT_X" "$SUPPORT_Y" "$button"
        wait_box
        box_has_red && fail "the Support box shows an icon"
        shown+=("$BOX")
        [[ $(boxes | wc -l) -eq 1 ]] || fail "more than one box"
        # Modal: a click on Close while the box is up does nothing.
        click "$CLOSE_X" "$CLOSE_Y"
        sleep 0.3
        is_running || fail "Close worked through the Support box"
        dismiss_box
        expect_still_there
    done
    note "the box came three times (${shown[*]}), the window stayed"
    expect_files_unchanged
    close_request
    expect_exit 0
    expect_quiet
    expect_files_unchanged
}

run_cases 1024x768:case_close_clears_record 1024x768:case_close_without_record \
    1024x768:case_support_box_each_time
