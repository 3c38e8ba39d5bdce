#!/bin/bash
# Everything but a click on a command does nothing: clicks on the title, the picture, the lines
# and the background, clicks with other buttons, presses and releases on different places, and
# keys. A close request from outside ends the program with status 0, changing nothing.
source "$(dirname "$0")/lib.sh"

prepare_untouchable() {
    prepare_case "$TARNWICK_SAMPLE"
    seed_record
    printf 'an older page\r\n' >"$PAGE"
    snapshot_files
}

case_inert_clicks_and_keys() {
    prepare_untouchable
    start_program

    local button point
    # Title, picture, every line, and bare background around and between the labels.
    for button in 1 3; do
        for point in "60 15" "98 115" "100 32" "100 192" "100 224" "100 256" "100 288" \
            "2 2" "193 297" "4 150" "10 210" "170 208" "8 240" "180 272" "98 226" "98 286"; do
            click $point "$button"
        done
    done
    click 60 15 1 && click 60 15 1  # a double click on the title
    expect_still_there
    note "left and right clicks beside the commands did nothing"

    # The middle button and the wheel over the commands.
    for button in 2 4 5; do
        click 98 208 "$button"
        click 92 240 "$button"
        click 96 272 "$button"
    done
    expect_still_there
    note "middle clicks and the wheel over the commands did nothing"

    # Pressed on one place and released on another.
    drag 98 208 98 100       # Run, then the picture
    drag 98 100 98 208       # the picture, then Run
    drag 92 240 98 208       # Close, then Run
    drag 96 272 92 240 3     # Support, then Close, right button
    drag 92 240 300 240      # Close, then outside the window
    expect_still_there
    note "presses and releases on different places did nothing"

    # Keys, with the window holding the keyboard focus.
    xdotool windowfocus "$WIN"
    [[ $(xdotool getwindowfocus) == "$WIN" ]] || fail "the window did not get the keyboard focus"
    xdotool key Return KP_Enter space Escape Tab a R c s F1 F10 alt+F4 ctrl+w ctrl+q alt+r shift+F10 Menu
    expect_still_there
    note "keys did nothing"
    expect_files_unchanged

    # The same clicks do reach the window: Support still answers.
    click 96 272
    wait_box
    dismiss_box
    expect_still_there

    close_request
    expect_exit 0
    expect_quiet
    expect_files_unchanged
    note "the close request ended it with status 0 and nothing changed"
}

# A press whose window loses the focus before the release is forgotten: the release over the
# same label does nothing, and the next whole click works.
case_press_forgotten_when_focus_lost() {
    prepare_untouchable
    start_program
    xdotool windowfocus "$WIN"
    [[ $(xdotool getwindowfocus) == "$WIN" ]] || fail "the window did not get the keyboard focus"
    local root
    root=$(xwininfo -root -int | awk '/Window id:/ { print $4 }')
    xdotool mousemove "$((WIN_X + 96))" "$((WIN_Y + 272))" mousedown 1
    sleep 0.3
    xdotool windowfocus "$root"
    sleep 0.5
    xdotool mouseup 1
    expect_still_there
    note "a release after the focus went elsewhere did nothing"
    click 96 272
    wait_box
    dismiss_box
    close_request
    expect_exit 0
    expect_files_unchanged
}

# A close request straight after start, with no template and no store at all.
case_close_request_at_once() {
    prepare_case none
    snapshot_files
    start_program
    close_request
    expect_exit 0
    expect_quiet
    expect_files_unchanged
    note "closed at once with status 0, nothing made"
}

run_cases 1024x768:case_inert_clicks_and_keys 1024x768:case_close_request_at_once \
    1024x768:case_press_forgotten_when_focus_lost
