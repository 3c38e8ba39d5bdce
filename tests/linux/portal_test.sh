#!/bin/bash
# The desktop portal road end to end: a private session bus with the recording portal on it, the
# program under Xvfb. Run hands the portal one file:// URI of a PNG at the screen's size that
# shows the page; Close hands it a plain picture; a portal that answers "cancelled" ends Run in
# the error report, status 1, with the wallpaper record as it was. With GNOME's own portal (and
# GNOME Shell drawing the background) Close gives the person's own background back.
source "$(dirname "$0")/lib.sh"

# The template's block: 800x600 becomes the screen's size, so the colour fills the screen.
BLOCK_RGB='srgb(30,144,200)'
BUS_PID=""
PORTAL_PID=""

for var in TARNWICK_RECORDING_PORTAL TARNWICK_BUS_CONFIG TARNWICK_GNOME_BUS_CONFIG; do
    if [[ ! -f ${!var:-} ]]; then
        echo "$var must name an existing file (ctest sets it)" >&2
        exit 2
    fi
done
for tool in dbus-daemon gdbus gsettings mountpoint /usr/libexec/xdg-desktop-portal /usr/libexec/xdg-desktop-portal-gnome; do
    if ! command -v "$tool" >/dev/null; then
        echo "SKIP: $tool is not installed"
        exit 77
    fi
done
# Chromium refuses its sandbox as root; the page is our own.
export QTWEBENGINE_DISABLE_SANDBOX=1

stop_portal_and_bus() {
    local pid
    for pid in "$PORTAL_PID" "$BUS_PID"; do
        [[ -n $pid ]] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
    done
    PORTAL_PID=""
    BUS_PID=""
    # Services the bus started end with it; the document portal's file system goes with them.
    local tenths=50
    while mountpoint -q "$CASE_DIR/runtime/doc" 2>/dev/null && ((tenths-- > 0)); do
        sleep 0.1
    done
}

# start_bus CONFIG: a session bus of the case's own, which the program is started on. The
# program's pictures go to a data folder of the case's own.
start_bus() {
    trap 'status=$?; stop_portal_and_bus; (exit $status); cleanup_case' EXIT
    export XDG_DATA_HOME="$CASE_DIR/data"
    mkdir -p -m 700 "$CASE_DIR/runtime"
    dbus-daemon --config-file="$1" --nofork --print-address=3 3>"$CASE_DIR/bus" 2>"$CASE_DIR/bus.err" &
    BUS_PID=$!
    local tenths=100
    until [[ -s $CASE_DIR/bus ]]; do
        ((tenths-- > 0)) || fail "the private bus did not start"
        sleep 0.1
    done
    export DBUS_SESSION_BUS_ADDRESS=$(head -n1 "$CASE_DIR/bus")
}

# start_portal ANSWERS: a bus with nothing to start on demand and the recording portal on it,
# answering each request in turn as ANSWERS says.
start_portal() {
    start_bus "$TARNWICK_BUS_CONFIG"
    export XDG_CURRENT_DESKTOP=GNOME  # a desktop whose own road is the portal
    PORTAL_LOG="$CASE_DIR/portal.log"
    COPIES="$CASE_DIR/copies"
    mkdir -p "$COPIES"
    "$TARNWICK_RECORDING_PORTAL" --log "$PORTAL_LOG" --copies "$COPIES" --answers "$1" >"$CASE_DIR/portal.out" &
    PORTAL_PID=$!
    local tenths=100
    until grep -qx ready "$CASE_DIR/portal.out" 2>/dev/null; do
        ((tenths-- > 0)) || fail "the recording portal did not start"
        sleep 0.1
    done
}

# GNOME's own portal (xdg-desktop-portal with its GNOME backend), started on demand by a bus whose
# services see the case's home as the program does, with the wallpaper permission granted for
# programs outside a sandbox (app id "").
start_gnome_portal() {
    export HOME="$HOME_DIR" XDG_CONFIG_HOME="$HOME_DIR/.config" XDG_RUNTIME_DIR="$CASE_DIR/runtime" \
        XDG_CURRENT_DESKTOP=GNOME NO_AT_BRIDGE=1
    start_bus "$TARNWICK_GNOME_BUS_CONFIG"
    timeout 20 gdbus call --session --dest org.freedesktop.impl.portal.PermissionStore \
        --object-path /org/freedesktop/impl/portal/PermissionStore \
        --method org.freedesktop.impl.portal.PermissionStore.SetPermission wallpaper true wallpaper '' "['yes']" \
        >/dev/null || fail "cannot grant the wallpaper permission"
}

# The picture GNOME's settings name for the background, once it is FILE (dconf writes the
# settings a moment after the portal answers).
gnome_background() { # FILE
    local tenths=50 uri
    while :; do
        uri=$(gsettings get org.gnome.desktop.background picture-uri) || fail "cannot read GNOME's settings"
        uri=${uri#\'}
        uri=${uri%\'}
        uri=${uri#file://}
        [[ $uri == "$1" ]] && return 0
        ((tenths-- > 0)) || fail "GNOME's background is $uri, not $1"
        sleep 0.1
    done
}

prepare_block_page() {
    prepare_case none
    # No commas or double quotes: the template reader would split the page there.
    printf '<html><body style=margin:0;background:#000>\n<div style=width:800px;height:600px;background:#1e90c8></div>\n</body></html>\n' \
        >"$PROG_DIR/1.htm"
}

# expect_request N ANSWER: the portal's Nth request was handed one of our pictures in the data
# folder as an open file, the program's panel as the parent of its dialog, and the options for
# the background; its copy is COPY.
expect_request() {
    local line
    line=$(sed -n "$1p" "$PORTAL_LOG")
    [[ -n $line ]] || fail "the portal had no request $1: $(cat "$PORTAL_LOG" 2>/dev/null)"
    local picture="$CASE_DIR/data/tarnwick/tarnwick-[0-9a-f]{16}[.]png"
    local options='option handle_token=s:"[A-Za-z0-9_]+" option set-on=s:"background" option show-preview=b:false'
    local panel
    panel=$(printf 'x11:%x' "$WIN")
    local re="^SetWallpaperFile parent_window=s:\"$panel\" file=$picture $options copy ([^ ]+) answer $2\$"
    [[ $line =~ $re ]] || fail "request $1 is not as expected: $line"
    COPY=${BASH_REMATCH[1]}
    [[ -f $COPY ]] || fail "the portal could not read the picture of request $1"
}

# The picture is at the screen's size and shows colour RGB at every corner and in the middle.
expect_picture() { # FILE RGB
    local size
    size=$(identify -format '%wx%h' "$1") || fail "$1 is no picture"
    [[ $size == 1024x768 ]] || fail "the picture is $size, not the screen's 1024x768"
    local at colour
    for at in 0,0 1023,0 0,767 1023,767 512,384; do
        colour=$(convert "$1" -format "%[pixel:p{$at}]" info:)
        [[ $colour == "$2" ]] || fail "the picture is $colour at $at, expected $2"
    done
}

case_portal_run_and_close() {
    prepare_block_page
    start_portal 0
    start_program
    click "$RUN_X" "$RUN_Y"
    expect_exit 0
    expect_quiet
    [[ $(wc -l <"$PORTAL_LOG") -eq 1 ]] || fail "Run made $(wc -l <"$PORTAL_LOG") requests, not one"
    expect_request 1 0
    expect_picture "$COPY" "$BLOCK_RGB"
    note "Run handed the portal the page's picture at 1024 x 768 with the background's options"

    start_program
    click "$CLOSE_X" "$CLOSE_Y"
    expect_exit 0
    expect_quiet
    [[ $(wc -l <"$PORTAL_LOG") -eq 2 ]] || fail "Close made no request of its own"
    expect_request 2 0
    local colours
    colours=$(convert "$COPY" -format '%k' info:)
    [[ $colours == 1 ]] || fail "Close's picture has $colours colours, not one"
    [[ $(convert "$COPY" -format '%[pixel:p{512,384}]' info:) != "$BLOCK_RGB" ]] || fail "Close's picture is the page's colour"
    expect_picture "$COPY" "$(convert "$COPY" -format '%[pixel:p{0,0}]' info:)"
    note "Close handed the portal a plain picture of one colour"
}

case_portal_cancelled() {
    prepare_block_page
    seed_record
    snapshot_files
    start_portal 1
    start_program
    click "$RUN_X" "$RUN_Y"
    # The report goes to stderr just before the error box shows.
    local tenths=300 fragment
    until grep -qF "Error 125" "$CASE_DIR/err"; do
        ((tenths-- > 0)) || fail "no report"
        sleep 0.1
    done
    for fragment in "through the desktop portal" \
        "Error 125: Cancelled: the desktop did not allow the program to change the background"; do
        grep -qF -- "$fragment" "$CASE_DIR/err" || fail "the report lacks: $fragment"
    done
    wait_box
    dismiss_box
    expect_exit 1
    expect_request 1 1
    cmp -s "$STORE" "$CASE_DIR/before/registry.reg" || fail "the wallpaper record changed"
    [[ -z $(find "$CASE_DIR/data" -name '*.png' 2>/dev/null) ]] || fail "a picture the desktop refused was kept"
    note "cancelled: the report, status 1, the record as it was, no picture left"
}

# Run and Close against GNOME's own portal: its settings name its copy of the page's picture, then
# of a plain one.
# GNOME's portal on GNOME: Run shows the page through it; Close reads GNOME's settings, finds
# the portal's copy of our picture there and gives the person's own background back.
case_gnome_portal() {
    prepare_block_page
    start_gnome_portal
    local copy="$HOME_DIR/.config/background" mine="$CASE_DIR/mine.png"
    convert -size 64x48 xc:'#a05020' "$mine" || fail "cannot make the person's picture"
    gsettings set org.gnome.desktop.background picture-uri "file://$mine" || fail "cannot set GNOME's background"
    start_program
    click "$RUN_X" "$RUN_Y"
    expect_exit 0
    expect_quiet
    gnome_background "$copy"
    expect_picture "$copy" "$BLOCK_RGB"
    note "GNOME shows the page's picture at 1024 x 768"
    start_program
    click "$CLOSE_X" "$CLOSE_Y"
    expect_exit 0
    expect_quiet
    gnome_background "$mine"
    expect_picture "$copy" "$BLOCK_RGB"  # the portal was not asked again
    note "Close gave GNOME the person's own background back"
}

# GNOME Shell itself draws the background, as a person's own user runs it: on a private system
# bus with logind and upower played by python3-dbusmock, GNOME's portal on the session bus. Run
# shows the page on the Shell's background; Close gives the person's own back; the Shell runs on.
case_gnome_shell() {
    prepare_block_page
    command -v gnome-shell >/dev/null || fail "gnome-shell is not installed"
    start_person_session GNOME
    # The person's own background, and the wallpaper permission granted beforehand.
    local mine="$CASE_DIR/mine.png"
    convert -size 1024x768 xc:'#a05020' "$mine" && chmod 644 "$mine" || fail "cannot make the person's picture"
    "${PERSON[@]}" gsettings set org.gnome.desktop.background picture-uri "file://$mine" || fail "cannot set GNOME's background"
    "${PERSON[@]}" timeout 20 gdbus call --session --dest org.freedesktop.impl.portal.PermissionStore \
        --object-path /org/freedesktop/impl/portal/PermissionStore \
        --method org.freedesktop.impl.portal.PermissionStore.SetPermission wallpaper true wallpaper '' "['yes']" \
        >/dev/null || fail "cannot grant the wallpaper permission"
    as_person gnome-shell --x11 --replace >"$CASE_DIR/shell.log" 2>&1
    local shell=$!
    local tenths=300
    until "${PERSON[@]}" gdbus call --session -d org.freedesktop.DBus -o /org/freedesktop/DBus \
        -m org.freedesktop.DBus.NameHasOwner org.gnome.Shell 2>/dev/null | grep -q true; do
        ((tenths-- > 0)) || fail "GNOME Shell did not start: $(tail -n 5 "$CASE_DIR/shell.log")"
        sleep 0.1
    done
    # shell_screen NAME RGB: the Shell's background shows the colour beside the panel and below
    # its top bar. It starts in the overview, which takes keys once it is up.
    shell_screen() {
        local leave=""
        [[ $1 == own ]] && leave="xdotool key Escape"
        screen_shows "$1" "$2" "20,60 1000,60 20,750 1000,750 512,700" "$leave"
    }
    shell_screen own 'srgb(160,80,32)'
    local run
    for run in RUN CLOSE; do
        person_clicks "$run"
        if [[ $run == RUN ]]; then shell_screen run "$BLOCK_RGB"; else shell_screen close 'srgb(160,80,32)'; fi
        kill -0 "$shell" 2>/dev/null || fail "GNOME Shell ended: $(tail -n 5 "$CASE_DIR/shell.log")"
    done
    local uri
    uri=$("${PERSON[@]}" gsettings get org.gnome.desktop.background picture-uri)
    [[ $uri == "'file://$mine'" ]] || fail "GNOME's background is $uri after Close"
    note "GNOME Shell showed the page on its background, Close gave the person's own back, the Shell ran on"
}

run_cases 1024x768:case_gnome_shell 1024x768:case_portal_run_and_close 1024x768:case_portal_cancelled 1024x768:case_gnome_portal
