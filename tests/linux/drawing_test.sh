#!/bin/bash
# The page's drawing as the program does it, end to end on the X root window: the drawing process
# never maps a window (only the panel is ever seen during Run), draws at the screen's exact size
# in pixels under a scale factor, starts as root without being told to leave Chromium's sandbox
# off, and ends with the panel on every road: after Run, and when the panel is killed. The root
# window shows the picture file's very pixels at both sizes.
source "$(dirname "$0")/lib.sh"

BLOCK='60,138,81'
unset DBUS_SESSION_BUS_ADDRESS XDG_DATA_HOME

# The root window shows the picture file's pixels exactly, every one of them (the program hands
# the X server the drawn pixels themselves, not the file it wrote).
expect_root_shows() { # PICTURE
    import -window root "$CASE_DIR/root.png" || fail "the root window could not be read"
    local differ
    differ=$(compare -metric AE "$1" "$CASE_DIR/root.png" null: 2>&1)
    [[ $differ == 0 ]] || fail "the root window shows other pixels than the picture file: $differ differ"
}

# The 800 x 600 block fills the screen; the rest of the page has another colour.
block_template() {
    printf '%s' '<html><body style="margin:0;background:#c02020"><div style="position:fixed;left:0;top:0;width:800px;height:600px;background:#3c8a51"></div></body></html>' >"$PROG_DIR/1.htm"
}

# Every process below the program, one a line.
descendants() { # PID
    ps -e -o pid=,ppid= | awk -v root="$1" '
        { parent[$1] = $2 }
        END { for (p in parent) { q = p; while (q in parent && q != root && q > 1) q = parent[q]; if (q == root && p != root) print p } }'
}

# Waits for the drawing process (with its renderer, where it has one of its own) to have
# started; their ids go to TREE.
wait_tree() {
    local tenths=150
    until TREE=$(descendants "$PID") && [[ -n $TREE ]]; do
        ((tenths-- > 0)) || fail "the drawing process did not start"
        sleep 0.1
    done
    sleep 0.5
    TREE=$(descendants "$PID")
}

expect_tree_gone() {
    local tenths=50 p alive
    while :; do
        alive=""
        for p in $TREE; do
            [[ -d /proc/$p && $(awk '{ print $3 }' "/proc/$p/stat" 2>/dev/null) != Z ]] && alive+=" $p"
        done
        [[ -z $alive ]] && return 0
        ((tenths-- > 0)) || fail "$1: still running:$alive $(ps -o pid,args -p "${alive// /,}" | tail -n +2)"
        sleep 0.1
    done
}

# Until the file "stop" appears: every window mapped on the display, one id a line, into "seen".
watch_windows() {
    while [[ ! -e $CASE_DIR/stop ]]; do
        xdotool search --onlyvisible --name '' 2>/dev/null
    done | sort -u >"$CASE_DIR/seen"
}

# No window but the panel from the program's start to its end after Run (the shipped sample
# page), and nothing of the program left once it has ended.
case_no_window_and_nothing_left() {
    prepare_case none
    cp "$TARNWICK_SAMPLE" "$PROG_DIR/1.htm"  # gradients and text: every kind of row
    export QTWEBENGINE_DISABLE_SANDBOX=1 TARNWICK_STAGE_LOG=$CASE_DIR/stages
    watch_windows &
    local watcher=$! tenths=100
    start_program
    wait_tree
    sleep 0.3
    click "$RUN_X" "$RUN_Y"
    while is_running && ((tenths-- > 0)); do sleep 0.1; done
    touch "$CASE_DIR/stop"
    wait "$watcher"
    local others root
    root=$(($(xwininfo -root | awk '/Window id:/ { print $4 }')))
    others=$(grep -vx -e "$WIN" -e "$root" "$CASE_DIR/seen")
    [[ -z $others ]] || fail "windows other than the panel were mapped during Run: $(for w in $others; do xwininfo -id "$w" | grep -E 'xwininfo|geometry'; done)"
    grep -qx "$WIN" "$CASE_DIR/seen" || fail "the watch did not even see the panel"
    expect_exit 0
    expect_quiet
    expect_tree_gone "after Run"
    [[ $(identify -format '%wx%h' "$HOME_DIR"/.local/share/tarnwick/tarnwick-*.png) == 1024x768 ]] || fail "the picture is not 1024x768"
    expect_root_shows "$HOME_DIR"/.local/share/tarnwick/tarnwick-*.png
    # The root window took the drawn pixels from memory: its picture was never decoded from the file.
    grep -q '^prepare-desktop ' "$CASE_DIR/stages" && ! grep -q '^root:png-decode ' "$CASE_DIR/stages" ||
        fail "the root window did not take the pixels from memory: $(tr '\n' ' ' <"$CASE_DIR/stages")"
    unset TARNWICK_STAGE_LOG

    # The panel killed while its drawing process waits: that goes too, with its renderer.
    start_program
    wait_tree
    kill -KILL "$PID"
    wait "$PID" 2>/dev/null
    PID=""
    expect_tree_gone "after the panel was killed"
    note "only the panel was mapped during Run; the drawing process and its renderer ended with the panel, killed or not"
}

# At a scale of 1.25, as root, with QTWEBENGINE_DISABLE_SANDBOX unset: the page (800 x 600 become
# the logical 1280 x 960) fills the 1600 x 1200 screen, and the picture is exactly its size.
case_scaled_as_root() {
    prepare_case none
    block_template
    unset QTWEBENGINE_DISABLE_SANDBOX
    export QT_SCALE_FACTOR=1.25
    [[ $(id -u) == 0 ]] || note "not root here: the drawing process keeps its sandbox"
    # The panel is 1.25 times its size too: the window is found, and clicked, on those terms.
    mkdir -p -m 700 "$CASE_DIR/runtime"
    (cd "$CASE_DIR" && exec env HOME="$HOME_DIR" XDG_CONFIG_HOME="$HOME_DIR/.config" \
        XDG_RUNTIME_DIR="$CASE_DIR/runtime" "$PROG_DIR/tarnwick" >"$CASE_DIR/out" 2>"$CASE_DIR/err") &
    PID=$!
    local X Y WIDTH HEIGHT SCREEN WINDOW
    WIN=$(timeout 15 xdotool search --sync --onlyvisible --pid "$PID" --name '^Tarnwick$' 2>/dev/null | head -n1)
    [[ -n $WIN ]] || fail "the window did not appear"
    eval "$(xdotool getwindowgeometry --shell "$WIN")"
    WIN_X=$X WIN_Y=$Y
    click $((RUN_X * 5 / 4)) $((RUN_Y * 5 / 4))
    expect_exit 0
    expect_quiet
    local picture
    picture=$(find "$HOME_DIR/.local/share/tarnwick" -name 'tarnwick-*.png')
    [[ $(identify -format '%wx%h' "$picture") == 1600x1200 ]] || fail "the picture is $(identify -format '%wx%h' "$picture"), not 1600x1200"
    local colours
    colours=$(convert "$picture" -format '%[fx:round(255*p{0,0}.r)],%[fx:round(255*p{0,0}.g)],%[fx:round(255*p{0,0}.b)] %[fx:round(255*p{1599,1199}.r)],%[fx:round(255*p{1599,1199}.g)],%[fx:round(255*p{1599,1199}.b)]' info:)
    [[ $colours == "$BLOCK $BLOCK" ]] || fail "the page does not fill the screen at 1.25: corners $colours"
    expect_root_shows "$picture"
    note "at QT_SCALE_FACTOR=1.25, as $(id -un) without QTWEBENGINE_DISABLE_SANDBOX: 1600x1200, the page fills it"
}

run_cases 1024x768:case_no_window_and_nothing_left 1600x1200:case_scaled_as_root
