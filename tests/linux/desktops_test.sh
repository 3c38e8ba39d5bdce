#!/bin/bash
# The page on the desktops that draw their own desktop window, against Debian's real programs on
# a private session bus: Xfce (xfdesktop, through xfconf), LXDE and LXQt (pcmanfm --desktop,
# pcmanfm-qt --desktop, through their command line), each with xfwm4 as the window manager. Run
# shows the page over the whole screen and keeps the person's backdrop; Close brings it back; the
# desktop program runs on. GNOME's portal backend is installed but never asked. A desktop window
# of no known kind: Run reports the picture's path, status 1, nothing changed.
source "$(dirname "$0")/lib.sh"

export QTWEBENGINE_DISABLE_SANDBOX=1
BLOCK='60,138,81'
BACKDROP='32,80,160'
SESSION_PIDS=()
BUS_PID=""

for tool in dbus-launch dbus-monitor xfwm4 xfdesktop xfconf-query pcmanfm pcmanfm-qt gdbus; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done

block_template() {
    printf '%s' '<html><body style="margin:0;background:#c02020"><div style="position:fixed;left:0;top:0;width:800px;height:600px;background:#3c8a51"></div></body></html>' >"$PROG_DIR/1.htm"
}

# The screen's four corners and middle, as the person sees it.
screen_colours() {
    import -window root "$CASE_DIR/screen-$1.png" || fail "no screenshot"
    local p out=""
    for p in 0,0 1023,0 0,767 1023,767 512,384; do
        out+="$(convert "$CASE_DIR/screen-$1.png" -format "%[fx:round(255*p{$p}.r)],%[fx:round(255*p{$p}.g)],%[fx:round(255*p{$p}.b)]" info:) "
    done
    echo "${out% }"
}

# wait_screen NAME COLOUR [MIDDLE]: the whole screen shows the colour within a few seconds (the
# middle MIDDLE where given: a centred picture).
wait_screen() {
    local tenths=80 got
    until got=$(screen_colours "$1") && [[ $got == "$2 $2 $2 $2 ${3:-$2}" ]]; do
        ((tenths-- > 0)) || fail "the screen shows $got after $1, expected $2 at the corners and ${3:-$2} in the middle"
        sleep 0.1
    done
}

stop_session() {
    local pid
    for pid in "${SESSION_PIDS[@]}" "$BUS_PID"; do
        [[ -n $pid ]] && kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
    done
    SESSION_PIDS=()
    BUS_PID=""
}

# start_session DESKTOP: the desktop's session bus (the same home as the program's), a watch on
# everything that reaches the wallpaper portal, and the window manager.
start_session() {
    trap 'status=$?; stop_session; (exit $status); cleanup_case' EXIT
    mkdir -p -m 700 "$CASE_DIR/runtime"
    export HOME="$HOME_DIR" XDG_CONFIG_HOME="$HOME_DIR/.config" XDG_RUNTIME_DIR="$CASE_DIR/runtime" \
        XDG_CURRENT_DESKTOP="$1" XDG_SESSION_TYPE=x11 NO_AT_BRIDGE=1
    eval "$(dbus-launch --sh-syntax)" || fail "no session bus"
    BUS_PID=$DBUS_SESSION_BUS_PID
    dbus-monitor --session "arg0='org.freedesktop.portal.Wallpaper'" "interface='org.freedesktop.portal.Wallpaper'" \
        >"$CASE_DIR/portal-calls" 2>&1 &
    SESSION_PIDS+=($!)
    xfwm4 --compositor=off >"$CASE_DIR/wm.log" 2>&1 &
    SESSION_PIDS+=($!)
    DESKTOP_PID=""
}

# The desktop's own program, started as its session starts it, and its desktop window mapped.
start_desktop() { # COMMAND...
    "$@" >"$CASE_DIR/desktop.log" 2>&1 &
    DESKTOP_PID=$!
    SESSION_PIDS+=("$DESKTOP_PID")
    local tenths=150
    until xdotool search --onlyvisible --pid "$DESKTOP_PID" --name . >/dev/null 2>&1; do
        ((tenths-- > 0)) || fail "$1 showed no window"
        sleep 0.1
    done
}

expect_desktop_running() {
    kill -0 "$DESKTOP_PID" 2>/dev/null || fail "the desktop's own program ended"
}

# Run and Close through the program: status 0, quiet, the saved state as each leaves it.
run_program() { # RUN|CLOSE
    start_program
    if [[ $1 == RUN ]]; then click "$RUN_X" "$RUN_Y"; else click "$CLOSE_X" "$CLOSE_Y"; fi
    expect_exit 0
    expect_desktop_running
}

expect_portal_untouched() {
    grep -q 'member=' <(grep -v 'NameAcquired\|NameLost' "$CASE_DIR/portal-calls") &&
        fail "the wallpaper portal was asked: $(cat "$CASE_DIR/portal-calls")"
    [[ ! -e $HOME_DIR/.config/background ]] || fail "GNOME's portal backend copied the picture"
    return 0
}

xfconf_backdrops() {
    xfconf-query -c xfce4-desktop -l -v | grep -E '/(last-image|image-style) '
}

case_xfce() {
    prepare_case none
    block_template
    start_session XFCE
    start_desktop xfdesktop
    # The person's backdrop: a picture of their own on every monitor and workspace, zoomed.
    convert -size 1024x768 "xc:rgb($BACKDROP)" "$CASE_DIR/mine.png"
    local property tenths=100
    until xfconf-query -c xfce4-desktop -l 2>/dev/null | grep -q '/last-image$'; do
        ((tenths-- > 0)) || fail "xfdesktop wrote no backdrops"
        sleep 0.1
    done
    gdbus call --session -d org.freedesktop.DBus -o /org/freedesktop/DBus -m org.freedesktop.DBus.NameHasOwner \
        org.xfce.Xfconf | grep -q true || fail "xfconfd is not on the private bus"
    for property in $(xfconf-query -c xfce4-desktop -l | grep '/last-image$'); do
        xfconf-query -c xfce4-desktop -p "$property" -s "$CASE_DIR/mine.png" || fail "cannot set $property"
        xfconf-query -c xfce4-desktop -p "${property%last-image}image-style" -n -t int -s 4 || fail "cannot set its style"
    done
    # A backdrop the person never set (another workspace's): xfdesktop's own default there.
    xfconf-query -c xfce4-desktop -p "$(xfconf-query -c xfce4-desktop -l | grep '/last-image$' | grep -v workspace0 |
        head -n1)" -r || fail "cannot reset a backdrop"
    wait_screen backdrop "$BACKDROP"
    xfconf_backdrops >"$CASE_DIR/before"
    [[ $(grep -c last-image "$CASE_DIR/before") -ge 3 ]] || fail "xfdesktop has fewer than 4 backdrops"

    # Close with no Run before it leaves the person's backdrops.
    run_program CLOSE
    xfconf_backdrops | diff "$CASE_DIR/before" - || fail "Close without Run changed the backdrops"
    wait_screen close-first "$BACKDROP"

    run_program RUN
    wait_screen run "$BLOCK"
    local picture
    picture=$(find "$HOME_DIR/.local/share/tarnwick" -name 'tarnwick-*.png')
    [[ $(xfconf_backdrops | grep -c "last-image *$picture$") == $(grep -c image-style "$CASE_DIR/before") ]] ||
        fail "not every backdrop shows the page: $(xfconf_backdrops)"
    xfconf_backdrops | grep image-style | grep -qv 'image-style *3$' && fail "not every backdrop is stretched"
    desktop_section | grep -qx "\"Wallpaper\"=\"$PAGE\"" || fail "no record: $(desktop_section)"
    desktop_section | grep -qx '"TarnwickDesktops"="XFCE Xfce.s%20desktop%20settings%20(xfconf) tarnwick-.*"' || fail "the backdrop was not kept: $(desktop_section)"
    run_program RUN  # a second Run keeps the person's backdrop, not the page
    run_program CLOSE
    wait_screen close "$BACKDROP"
    xfconf_backdrops | diff "$CASE_DIR/before" - || fail "Close did not put the backdrops back"
    desktop_section | grep -q TarnwickDesktops && fail "the saved backdrop stayed: $(desktop_section)"

    # Run, then the person picks another backdrop on the workspace they see: Close leaves it
    # and gives the others back.
    run_program RUN
    wait_screen run-again "$BLOCK"
    local theirs mine_now='200,120,40'
    theirs=$(xfconf-query -c xfce4-desktop -l | grep 'workspace0/last-image$')
    convert -size 1024x768 "xc:rgb($mine_now)" "$CASE_DIR/other.png"
    xfconf-query -c xfce4-desktop -p "$theirs" -s "$CASE_DIR/other.png" || fail "cannot pick another backdrop"
    wait_screen other "$mine_now"
    run_program CLOSE
    wait_screen close-theirs "$mine_now"
    # (the style is the one Run gave it: the person changed only the picture)
    xfconf_backdrops | diff <(sed "s|^\($theirs *\).*|\1$CASE_DIR/other.png|; s|^\(${theirs%last-image}image-style *\).*|\13|" \
        "$CASE_DIR/before") - ||
        fail "Close took the person's new backdrop or left the page elsewhere"

    # A store that cannot be written: Run reports, and the person's backdrop stays on screen.
    xfconf_backdrops >"$CASE_DIR/before-read-only"
    run_program RUN
    run_program CLOSE
    start_program_read_only_store
    click "$RUN_X" "$RUN_Y"
    wait_report
    dismiss_box
    expect_exit 1
    wait_screen read-only "$mine_now"
    xfconf_backdrops | diff "$CASE_DIR/before-read-only" - || fail "a Run that could not keep its record changed the backdrops"
    expect_desktop_running
    expect_portal_untouched
    # A picture folder whose name is not UTF-8 cannot be named in xfconf's text: reported, unchanged.
    export XDG_DATA_HOME="$HOME_DIR/data "$'\xff'
    start_program
    click "$RUN_X" "$RUN_Y"
    wait_report
    grep -qF "Xfce's settings (xfconf) take a picture's path as UTF-8 text" "$CASE_DIR/err" || fail "no clear report"
    dismiss_box
    expect_exit 1
    xfconf_backdrops | diff "$CASE_DIR/before-read-only" - || fail "a refused picture changed the backdrops"
    note "xfdesktop showed the page on all $(grep -c image-style "$CASE_DIR/before") backdrops, stretched; Close put the person's back, left alone what the person chose, did nothing without a Run; a read-only store left the person's backdrop"
}

# pcmanfm_desktop DESKTOP PROGRAM SETTINGS: the running PROGRAM --desktop of an LXDE or LXQt
# session, with the person's picture (smaller than the screen) centred on black, as SETTINGS
# (written before, in the program's own form) name it; MINE is the picture.
pcmanfm_desktop() {
    block_template
    start_session "$1"
    convert -size 256x192 "xc:rgb($BACKDROP)" "$MINE" || fail "cannot make the person's picture"
    start_desktop "$2" --desktop
    wait_screen backdrop 0,0,0 "$BACKDROP"

    run_program RUN
    wait_screen run "$BLOCK"
    grep -qix "wallpaper=$HOME_DIR/.local/share/tarnwick/tarnwick-.*png" "$HOME_DIR/.config/$3" ||
        fail "$2 names another picture: $(cat "$HOME_DIR/.config/$3")"
    desktop_section | grep -qx "\"Wallpaper\"=\"$PAGE\"" || fail "no record: $(desktop_section)"
    run_program CLOSE
    wait_screen close 0,0,0 "$BACKDROP"
    expect_portal_untouched
    note "$2 --desktop showed the page; Close put the person's centred picture back"
}

case_lxde() {
    # A profile the user never changed: only the system's settings name the picture.
    prepare_case none
    MINE="$CASE_DIR/mine.png"
    export XDG_CONFIG_DIRS="$CASE_DIR/xdg"
    mkdir -p "$CASE_DIR/xdg/pcmanfm/default"
    printf '[config]\nbm_open_method=0\n\n[desktop]\nwallpaper_mode=center\nwallpaper=%s\ndesktop_bg=#000000\n' "$MINE" \
        >"$CASE_DIR/xdg/pcmanfm/default/pcmanfm.conf"
    pcmanfm_desktop LXDE pcmanfm pcmanfm/default/desktop-items-0.conf
    # pcmanfm's command line first on the panel's PATH, holding its answer (up to 30 s): a panel
    # killed once the page is on screen (a log-out), and one that ends the command line that never
    # answers, each leave the person's wallpaper for the next Close; one that loses the request is
    # reported, and the person's wallpaper stays.
    mkdir -p "$CASE_DIR/bin" && touch "$CASE_DIR/hold"
    printf '#!/bin/sh\n[ -e "%s/lose" ] || /usr/bin/pcmanfm "$@"\nfor t in $(seq 300); do [ -e "%s/hold" ] && sleep 0.1; done\n' \
        "$CASE_DIR" "$CASE_DIR" >"$CASE_DIR/bin/pcmanfm"
    chmod +x "$CASE_DIR/bin/pcmanfm" || fail "cannot write pcmanfm's stand-in"
    local held
    for held in killed bound; do
        PATH="$CASE_DIR/bin:$PATH" start_program
        click "$RUN_X" "$RUN_Y"
        screen_shows "run-$held" "srgb($BLOCK)" "0,0 1023,0 0,767 1023,767" # the panel in the middle
        if [[ $held == killed ]]; then
            kill -KILL "$PID" && wait "$PID" 2>/dev/null
            PID=""
        else
            wait_exit 20
            [[ $STATUS == 0 ]] && expect_quiet || fail "a Run whose command line never ended ended with $STATUS"
        fi
        run_program CLOSE
        wait_screen "close-$held" 0,0,0 "$BACKDROP"
    done
    touch "$CASE_DIR/lose"
    PATH="$CASE_DIR/bin:$PATH" start_program
    click "$RUN_X" "$RUN_Y"
    wait_report
    grep -qF '`pcmanfm --set-wallpaper` did not end' "$CASE_DIR/err" || fail "no clear report"
    dismiss_box
    expect_exit 1
    wait_screen lost 0,0,0 "$BACKDROP"
    rm "$CASE_DIR/hold" "$CASE_DIR/lose"
    local settings="$HOME_DIR/.config/pcmanfm/default/desktop-items-0.conf"
    grep -qx "wallpaper=$MINE" "$settings" && grep -qx "wallpaper_mode=center" "$settings" ||
        fail "Close did not put the system's wallpaper back: $(cat "$settings")"

    # A picture folder whose name is not UTF-8: refused with a report, nothing changed.
    cp "$settings" "$CASE_DIR/settings-before"
    export XDG_DATA_HOME="$HOME_DIR/data "$'\xff'
    start_program
    click "$RUN_X" "$RUN_Y"
    wait_report
    grep -qF "pcmanfm takes a picture's path as UTF-8 text, and the path" "$CASE_DIR/err" || fail "no clear report"
    dismiss_box
    expect_exit 1
    cmp -s "$settings" "$CASE_DIR/settings-before" || fail "pcmanfm's settings changed: $(cat "$settings")"
    wait_screen refused 0,0,0 "$BACKDROP"

}

case_lxqt() {
    # Written as Qt 5's QSettings writes it: quoted for the comma, other than ASCII as \x escapes.
    prepare_case none
    local folder="Sunset, Iceland "$'\xc3\xa9'
    MINE="$CASE_DIR/$folder/mine.png"
    # A fresh profile: only the system's settings (pcmanfm-qt writes the user's at the first change).
    export XDG_CONFIG_DIRS="$CASE_DIR/xdg"
    mkdir -p "$CASE_DIR/xdg/pcmanfm-qt/default" "$CASE_DIR/$folder"
    printf '[Desktop]\nBgColor=#000000\nWallpaper="%s/Sunset, Iceland \\xe9/mine.png"\nWallpaperMode=center\n' \
        "$CASE_DIR" >"$CASE_DIR/xdg/pcmanfm-qt/default/settings.conf"
    pcmanfm_desktop LXQt pcmanfm-qt pcmanfm-qt/default/settings.conf
    grep -qxF "Wallpaper=\"$CASE_DIR/Sunset, Iceland \\xe9/mine.png\"" "$HOME_DIR/.config/pcmanfm-qt/default/settings.conf" ||
        fail "Close did not put the picture back: $(cat "$HOME_DIR/.config/pcmanfm-qt/default/settings.conf")"
}

case_unknown_desktop_window() {
    prepare_case none
    block_template
    seed_record
    start_session ""
    unset XDG_CURRENT_DESKTOP
    "$TARNWICK_XPROBE" desktop Conky >"$CASE_DIR/window" &
    SESSION_PIDS+=($!)
    wait_screen start '128,128,128'
    snapshot_files
    start_program
    click "$RUN_X" "$RUN_Y"
    wait_report
    local picture
    picture=$(find "$HOME_DIR/.local/share/tarnwick" -name 'tarnwick-*.png')
    grep -qF "(a desktop window of class Conky) sets its background itself" "$CASE_DIR/err" ||
        fail "the report does not name the desktop"
    [[ -n $picture ]] && grep -qF "The page's picture is $picture:" "$CASE_DIR/err" ||
        fail "the report does not name the picture"
    dismiss_box
    expect_exit 1
    rm -f "$CASE_DIR/before/2.htm" && cp -p "$PAGE" "$CASE_DIR/before/2.htm"
    expect_files_unchanged
    wait_screen report '128,128,128'
    note "a desktop window of class Conky: reported with $picture, status 1, nothing changed"
}

run_cases 1024x768:case_xfce 1024x768:case_lxde 1024x768:case_lxqt 1024x768:case_unknown_desktop_window
