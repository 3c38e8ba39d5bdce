#!/bin/bash
# The page on sway, Debian's real compositor, headless as a normal user: sway draws its outputs
# into memory (wlroots' headless backend, pixman), runs Xwayland, where the panel runs (Qt's xcb
# platform) and xdotool clicks it, and grim takes the screen as the person sees it.
#   Run: sway's background program shows the page over the whole output, and what the person had
#   (their own picture, from their config) is kept; an X11 program's desktop window on Xwayland
#   does not decide the road. Close: the person's picture again. sway without its background
#   program, or with one that ends at once: Run reports, status 1, nothing kept; the road reads
#   the person's background from sway's config. Close with no Run before it, or after the person
#   set another background, leaves the person's.
# The tests run as root: sway and the program run as the user nobody (setpriv).
source "$(dirname "$0")/lib.sh"

export QTWEBENGINE_DISABLE_SANDBOX=1
PAGE_COLOUR='60,138,81'
MINE='32,80,160'
THEIRS='170,60,140'
SWAY_PID=""
PROBE_PID=""
OTHER_SWAY=""

for tool in sway swaybg swaymsg grim Xwayland setpriv; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done

# As nobody where the tests run as root, else as the one running them.
AS_USER=()
((EUID == 0)) && AS_USER=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
as_user() { "${AS_USER[@]}" "$@"; }

stop_sway() {
    [[ -n $PROBE_PID ]] && kill "$PROBE_PID" 2>/dev/null && wait "$PROBE_PID" 2>/dev/null
    [[ -n $SWAY_PID ]] && kill "$SWAY_PID" 2>/dev/null && wait "$SWAY_PID" 2>/dev/null
    SWAY_PID="" PROBE_PID=""
}

# start_sway PATH: sway with the person's config (their own picture, Xwayland on), its PATH the
# one given; DISPLAY, WAYLAND_DISPLAY and SWAYSOCK name it.
start_sway() {
    stop_sway
    rm -f "$RUNTIME"/sway-ipc.* "$RUNTIME"/wayland-* "$CASE_DIR/display"
    mkdir -p "$HOME_DIR/.config/sway"
    printf '%s\n' 'xwayland enable' "set \$mine $CASE_DIR/mine.png" 'output * bg $mine fill' >"$HOME_DIR/.config/sway/config"
    chown -R nobody:nogroup "$CASE_DIR" 2>/dev/null
    "${AS_USER[@]}" env -i PATH="$1" HOME="$HOME_DIR" XDG_RUNTIME_DIR="$RUNTIME" WLR_BACKENDS=headless \
        WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman "$(command -v sway)" >"$CASE_DIR/sway.log" 2>&1 &
    SWAY_PID=$!
    local tenths=150
    export XDG_RUNTIME_DIR=$RUNTIME
    until SWAYSOCK=$(ls "$RUNTIME"/sway-ipc.*.sock 2>/dev/null) && [[ -n $SWAYSOCK ]] &&
        swaymsg -s "$SWAYSOCK" -t get_version >/dev/null 2>&1; do
        ((tenths-- > 0)) || fail "sway did not start: $(tail -5 "$CASE_DIR/sway.log")"
        sleep 0.1
    done
    export SWAYSOCK WAYLAND_DISPLAY
    WAYLAND_DISPLAY=$(cd "$RUNTIME" && ls wayland-? | head -n1)
    # Xwayland starts once sway is up: sway's own children know its display.
    tenths=150
    until swaymsg exec "echo \$DISPLAY >$CASE_DIR/display" >/dev/null && sleep 0.2 && [[ -s $CASE_DIR/display ]]; do
        ((tenths -= 2)) > 0 || fail "sway named no X display"
    done
    export DISPLAY
    DISPLAY=$(cat "$CASE_DIR/display")
    # Xwayland lets in its own user only: the test's tools come in as well.
    tenths=150
    until as_user xhost "+si:localuser:$(id -un)" >/dev/null 2>&1 && xdpyinfo >/dev/null 2>&1; do
        ((tenths-- > 0)) || fail "sway's Xwayland ($DISPLAY) does not answer"
        sleep 0.1
    done
}

# The output's corners, edges' middles and a spot beside the panel, as grim takes them.
screen_colours() {
    grim "$CASE_DIR/screen-$1.png" 2>/dev/null || return 1
    local p out=""
    for p in 0,0 1279,0 0,719 1279,719 640,0 640,719 0,360 1279,360 200,360; do
        out+="$(convert "$CASE_DIR/screen-$1.png" -format "%[fx:round(255*p{$p}.r)],%[fx:round(255*p{$p}.g)],%[fx:round(255*p{$p}.b)]" info:) "
    done
    echo "${out% }"
}

# wait_screen NAME COLOUR: every spot shows the colour within a few seconds.
wait_screen() {
    local tenths=100 got want
    want=$(printf "$2 %.0s" {1..9})
    until got=$(screen_colours "$1") && [[ "$got " == "$want" ]]; do
        ((tenths-- > 0)) || fail "the screen shows $got after $1, expected $2 everywhere"
        sleep 0.1
    done
}

# The running swaybg's command line.
swaybg_line() {
    local pid
    for pid in $(pgrep -x swaybg); do
        { tr '\0' '\n' <"/proc/$pid/environ" | grep -qxF "SWAYSOCK=$SWAYSOCK" &&
            tr '\0' ' ' <"/proc/$pid/cmdline" && echo; } 2>/dev/null
    done
}

run_program() { # RUN|CLOSE
    start_program
    if [[ $1 == RUN ]]; then click "$RUN_X" "$RUN_Y"; else click "$CLOSE_X" "$CLOSE_Y"; fi
}

case_sway() {
    prepare_case none
    printf '%s' '<html><body style="margin:0;background:#3c8a51"></body></html>' >"$PROG_DIR/1.htm"
    RUNTIME="$CASE_DIR/runtime"
    mkdir -p -m 700 "$RUNTIME"
    trap 'status=$?; stop_sway; SWAY_PID=$OTHER_SWAY; stop_sway; (exit $status); cleanup_case' EXIT
    convert -size 1280x720 "xc:rgb($MINE)" "$CASE_DIR/mine.png" || fail "cannot make the person's picture"
    start_sway /usr/local/bin:/usr/bin:/bin
    wait_screen "sway's start" "$MINE"
    export XDG_CURRENT_DESKTOP=sway XDG_SESSION_TYPE=wayland QT_QPA_PLATFORM=xcb
    # The pictures' folder holds what sway's commands and their shell-like expansion treat apart.
    DATA="$HOME_DIR/data \"x' \$HOME, é; [y] fill \\ ~"
    start_program() {
        (cd "$CASE_DIR" && exec "${AS_USER[@]}" env HOME="$HOME_DIR" XDG_CONFIG_HOME="$HOME_DIR/.config" \
            XDG_RUNTIME_DIR="$RUNTIME" XDG_DATA_HOME="$DATA" "$PROG_DIR/tarnwick" >"$CASE_DIR/out" 2>"$CASE_DIR/err") &
        PID=$!
        wait_main_window
    }
    # Close with nothing of ours shown: the person's background stays, nothing said.
    run_program CLOSE
    expect_exit 0
    expect_quiet
    wait_screen close-first "$MINE"
    [[ $(swaybg_line) == "swaybg -o * -i $CASE_DIR/mine.png -m fill " ]] || fail "swaybg runs as $(swaybg_line)"
    note "Close with no Run before it: the person's picture stays"

    # An X11 program's desktop window on Xwayland says nothing of what sway shows.
    "${AS_USER[@]}" "$TARNWICK_XPROBE" desktop xfdesktop >"$CASE_DIR/probe" 2>&1 &
    PROBE_PID=$!

    run_program RUN
    expect_exit 0
    expect_quiet
    kill "$PROBE_PID" && wait "$PROBE_PID" 2>/dev/null
    PROBE_PID=""
    wait_screen run "$PAGE_COLOUR"
    local picture
    picture=$(find "$DATA/tarnwick" -name 'tarnwick-*.png')
    [[ $(swaybg_line) == "swaybg -o * -i $picture -m stretch " ]] || fail "swaybg runs as $(swaybg_line)"
    desktop_section | grep -qx "\"Wallpaper\"=\"$PAGE\"" || fail "no record: $(desktop_section)"
    desktop_section | grep -q "^\"TarnwickDesktops\"=\"sway sway's%20background%20(swaybg) tarnwick-[0-9a-f]*\.png \*%09$CASE_DIR/mine.png%09fill%09" ||
        fail "the person's background was not kept: $(desktop_section)"
    note "Run: swaybg shows the page on the whole output (grim), the person's picture is kept"

    run_program CLOSE
    expect_exit 0
    expect_quiet
    wait_screen close "$MINE"
    [[ $(swaybg_line) == "swaybg -o * -i $CASE_DIR/mine.png -m fill " ]] || fail "swaybg runs as $(swaybg_line)"
    desktop_section | grep -q Saved && fail "the kept background stayed: $(desktop_section)"
    note "Close: the person's own picture again"

    # Run, then the person picks another background: Close leaves theirs.
    run_program RUN
    expect_exit 0
    wait_screen run-again "$PAGE_COLOUR"
    convert -size 1280x720 "xc:rgb($THEIRS)" "$CASE_DIR/theirs.png" && chown nobody:nogroup "$CASE_DIR/theirs.png" 2>/dev/null
    swaymsg "output * bg $CASE_DIR/theirs.png fill" >/dev/null || fail "sway did not take the person's new background"
    wait_screen theirs "$THEIRS"
    run_program CLOSE
    expect_exit 0
    expect_quiet
    wait_screen close-theirs "$THEIRS"
    [[ $(swaybg_line) == "swaybg -o * -i $CASE_DIR/theirs.png -m fill " ]] || fail "swaybg runs as $(swaybg_line)"
    note "Run, the person's new background, Close: theirs stays"

    # sway whose PATH has no swaybg: nothing it could show, so a report, status 1, nothing kept;
    # meanwhile the first sway, the person's other session, runs on with its swaybg showing the
    # page, which is no proof of this sway's.
    run_program RUN
    expect_exit 0
    OTHER_SWAY=$SWAY_PID OTHER_SOCK=$SWAYSOCK SWAY_PID=""
    mkdir -p "$CASE_DIR/bin"
    ln -sf /bin/sh "$CASE_DIR/bin/sh"
    start_sway "$CASE_DIR/bin"
    cp "$STORE" "$CASE_DIR/store-before"
    run_program RUN
    wait_report
    grep -qF "sway draws its background with swaybg, which is not installed" "$CASE_DIR/err" ||
        fail "the report does not say swaybg is missing"
    grep -qF "Nothing on the desktop was changed." "$CASE_DIR/err" || fail "the report does not say nothing changed"
    dismiss_box
    expect_exit 1
    cmp -s "$STORE" "$CASE_DIR/store-before" || fail "the record changed: $(desktop_section)"
    [[ -z $(swaybg_line) ]] || fail "a swaybg runs: $(swaybg_line)"
    # With no swaybg running, what the person has is what sway's config names.
    "${AS_USER[@]}" "$TARNWICK_BACKGROUND_ROAD" sway save "$CASE_DIR/saved" || fail "the road read nothing"
    [[ $(cat "$CASE_DIR/saved") == "*"$'\t'"$CASE_DIR/mine.png"$'\t'"fill"$'\t' ]] ||
        fail "the configured background is read as $(cat -A "$CASE_DIR/saved")"
    note "sway without swaybg: reported, status 1, record unchanged"

    # A swaybg that ends at once draws nothing: sway's answer is no success.
    ln -sf /bin/false "$CASE_DIR/bin/swaybg"
    run_program RUN
    wait_report
    grep -qF "but its background program swaybg does not show it" "$CASE_DIR/err" ||
        fail "the report does not say swaybg shows nothing"
    dismiss_box
    expect_exit 1
    cmp -s "$STORE" "$CASE_DIR/store-before" || fail "the record changed: $(desktop_section)"
    [[ $(SWAYSOCK=$OTHER_SOCK swaybg_line) == "swaybg -o * -i $picture -m stretch " ]] ||
        fail "the other sway's swaybg runs as $(SWAYSOCK=$OTHER_SOCK swaybg_line)"
    note "a swaybg that draws nothing: reported, status 1, though another sway's swaybg shows the page"
}

run_cases none:case_sway
