#!/bin/bash
# The desktops' own background roads against Debian's real desktop programs, each under Xvfb with
# a window manager and a private session bus (dbus-launch, which starts dconf on demand):
#   mate    caja drawing MATE's desktop (org.mate.background through GSettings and dconf); then
#           Cinnamon's keys (org.cinnamon.desktop.background), read back from dconf
#   plasma  KDE Plasma 5's plasmashell (its desktop scripting over D-Bus); then the real program,
#           on the same bus and home, shows a page through Plasma and Close brings Plasma's back
# A background of the desktop's own stands first; the road saves it, shows a picture of four
# coloured quarters from a folder whose name needs quoting (the screen, as `import -window root`
# takes it, shows the quarters in place), then restores (the screen shows the earlier background
# again). The desktop's own program is still running after both.
#
#   desktops_test.sh mate|plasma
set -uo pipefail

ROAD=${1:-}
if [[ $ROAD != --inside ]]; then
    if [[ ! -x ${TARNWICK_BACKGROUND_ROAD:-} ]]; then
        echo "TARNWICK_BACKGROUND_ROAD must name the road driver (ctest sets it)" >&2
        exit 2
    fi
    case $ROAD in
    mate) needs="caja gsettings /usr/libexec/dconf-service" ;;
    plasma) needs="plasmashell /usr/lib/x86_64-linux-gnu/libexec/kactivitymanagerd xdotool compare" ;;
    *) echo "usage: $0 mate|plasma" >&2 && exit 2 ;;
    esac
    for tool in $needs xvfb-run dbus-launch xfwm4 import convert python3; do
        command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed" && exit 77; }
    done
    xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp -noreset" bash "$0" --inside "$ROAD"
    rc=$?
    printf '%-6s %s\n' "$([[ $rc -eq 0 ]] && echo ok || echo FAILED)" "$ROAD"
    exit $rc
fi

ROAD=$2
DIR=$(mktemp -d "${TMPDIR:-/tmp}/tarnwick-road.XXXXXX") || exit 1
PIDS=()
DBUS_SESSION_BUS_PID=""
finish() {
    local status=$? pid environ
    for pid in "${PIDS[@]}" $DBUS_SESSION_BUS_PID; do
        kill "$pid" 2>/dev/null
    done
    # What the session started besides (services the bus started, the desktop's helpers): every
    # other process whose environment names this case's bus.
    for environ in /proc/[0-9]*/environ; do
        pid=${environ#/proc/}
        pid=${pid%/environ}
        [[ $pid != "$$" && -n ${DBUS_SESSION_BUS_ADDRESS:-} ]] &&
            grep -qzxF "DBUS_SESSION_BUS_ADDRESS=$DBUS_SESSION_BUS_ADDRESS" "$environ" 2>/dev/null && kill "$pid" 2>/dev/null
    done
    for pid in "${PIDS[@]}"; do
        wait "$pid" 2>/dev/null
    done
    if [[ $status -eq 0 && -z ${TARNWICK_KEEP:-} ]]; then
        rm -rf "$DIR"
    else
        echo "  [$ROAD] case folder kept: $DIR"
    fi
}
trap finish EXIT

fail() {
    echo "FAIL [$ROAD]: $*" >&2
    [[ -f $DIR/road.err ]] && cat "$DIR/road.err" >&2
    exit 1
}
note() { echo "  [$ROAD] $*"; }

export HOME="$DIR/home" XDG_CONFIG_HOME="$DIR/home/.config" XDG_DATA_HOME="$DIR/home/.local/share" \
    XDG_CACHE_HOME="$DIR/home/.cache" XDG_RUNTIME_DIR="$DIR/runtime" NO_AT_BRIDGE=1
mkdir -p "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_CACHE_HOME"
mkdir -p -m 700 "$XDG_RUNTIME_DIR"
eval "$(dbus-launch --sh-syntax)" || fail "no session bus"
xfwm4 --compositor=off >"$DIR/wm.log" 2>&1 &
PIDS+=($!)

road() { # ACTION ARG...
    timeout 60 "$TARNWICK_BACKGROUND_ROAD" "$ROAD" "$@" 2>"$DIR/road.err" || fail "$* ended with status $?"
}

# The colour the screen shows at X,Y.
pixel() { convert "$DIR/screen.png" -format "%[pixel:p{$1}]" info:; }

# wait_screen WHAT X,Y=RGB...: within 30 s the screen shows each colour at its place (away from
# the desktop's icons at the left and its panel at the bottom).
wait_screen() {
    local what=$1 tenths=300 spot ok
    shift
    while :; do
        import -window root "$DIR/screen.png" 2>/dev/null
        ok=1
        for spot in "$@"; do
            [[ $(pixel "${spot%%=*}") == "${spot#*=}" ]] || ok=0
        done
        ((ok)) && return 0
        ((tenths -= 5)) > 0 || fail "the screen does not show $what (kept as $DIR/screen.png)"
        sleep 0.5
    done
}

folder="$DIR/pictures \"ü\\ 'x"
mkdir -p "$folder"
picture="$folder/page.png"
plain="$folder/plain.png"
convert -size 512x384 xc:'rgb(200,30,30)' xc:'rgb(30,200,30)' +append \( -size 512x384 xc:'rgb(30,30,200)' \
    xc:'rgb(200,200,30)' +append \) -append "png24:$picture" && convert -size 1024x768 xc:black "png24:$plain" ||
    fail "cannot make the pictures"
QUARTERS=('300,200=srgb(200,30,30)' '800,200=srgb(30,200,30)' '300,600=srgb(30,30,200)' '800,600=srgb(200,200,30)')

case $ROAD in
mate)
    export XDG_CURRENT_DESKTOP=MATE
    own="$DIR/own.png"
    convert -size 64x64 xc:'rgb(120,90,60)' "png24:$own" || fail "cannot make MATE's own picture"
    gsettings set org.mate.background picture-filename "$own" && gsettings set org.mate.background picture-options zoom ||
        fail "cannot set MATE's own background"
    caja --force-desktop -n >"$DIR/caja.log" 2>&1 &
    desktop=$!
    PIDS+=($desktop)
    OWN=('300,200=srgb(120,90,60)' '800,600=srgb(120,90,60)')
    wait_screen "MATE's own background drawn by caja" "${OWN[@]}"
    ;;
plasma)
    export XDG_CURRENT_DESKTOP=KDE KDE_FULL_SESSION=true KDE_SESSION_VERSION=5 XDG_SESSION_TYPE=x11
    /usr/lib/x86_64-linux-gnu/libexec/kactivitymanagerd >"$DIR/activities.log" 2>&1 &
    PIDS+=($!)
    plasmashell >"$DIR/plasma.log" 2>&1 &
    desktop=$!
    PIDS+=($desktop)
    tenths=600
    until timeout 5 "$TARNWICK_BACKGROUND_ROAD" plasma save "$DIR/probe" 2>/dev/null; do
        ((tenths -= 5)) > 0 || fail "plasmashell did not answer on the session bus"
        sleep 0.5
    done
    note "plasmashell answered after $(((600 - tenths) / 10)) s"
    # Plasma's own wallpaper, once two looks a second apart agree.
    OWN=() tenths=300
    while :; do
        import -window root "$DIR/screen.png"
        before="${OWN[*]}" OWN=()
        for at in 300,200 800,200 300,600 800,600; do
            OWN+=("$at=$(pixel "$at")")
        done
        [[ $before == "${OWN[*]}" ]] && break
        ((tenths -= 10)) > 0 || fail "Plasma's own wallpaper does not settle"
        sleep 1
    done
    ;;
esac

road save "$DIR/saved"
road show "$picture"
wait_screen "the picture's four quarters" "${QUARTERS[@]}"
note "the screen shows the picture: $(tr '\n' ' ' <"$DIR/saved" | cut -c1-120)"
kill -0 "$desktop" || fail "the desktop's program is no longer running"

if [[ $ROAD == plasma ]]; then
    # Saved text reaches Plasma's script as a literal, whatever it holds: it comes back exactly.
    printf '[{"id":1,"plugin":"org.kde.image","image":"x\\"); y(\\\\\\n\u2028\u00e9\x27","fillMode":"0"}]' >"$DIR/odd"
    road restore "$DIR/odd" "$plain" && road save "$DIR/odd-again"
    python3 -c 'import json,sys; sys.exit(json.load(open(sys.argv[1])) != json.load(open(sys.argv[2])))' \
        "$DIR/odd" "$DIR/odd-again" || fail "Plasma holds $(cat "$DIR/odd-again"), not $(cat "$DIR/odd")"
fi
road restore "$DIR/saved" "$plain"
wait_screen "the desktop's own background again" "${OWN[@]}"
kill -0 "$desktop" || fail "the desktop's program is no longer running"
note "after Restore the screen shows the desktop's own background again"

if [[ $ROAD == mate ]]; then
    [[ $(gsettings get org.mate.background picture-filename) == "'$own'" &&
        $(gsettings get org.mate.background picture-options) == "'zoom'" ]] || fail "MATE's settings are not as they were"
    # A settings store that cannot save (dconf's file cannot be replaced) takes nothing: reported.
    dconf_file="${XDG_CONFIG_HOME:-$HOME/.config}/dconf/user"
    mv "$dconf_file" "$DIR/dconf-user" && mkdir "$dconf_file" || fail "cannot block dconf's file"
    timeout 60 "$TARNWICK_BACKGROUND_ROAD" mate show "$picture" 2>"$DIR/refused.err" && fail "a store that did not save reported success"
    grep -qF "The settings store did not take picture-filename" "$DIR/refused.err" || fail "no clear report: $(cat "$DIR/refused.err")"
    rmdir "$dconf_file" && mv "$DIR/dconf-user" "$dconf_file"
    # A record from another road is refused and changes nothing.
    printf 'org.cinnamon.desktop.background\npicture-uri %s\n' "'file:///x'" >"$DIR/other"
    "$TARNWICK_BACKGROUND_ROAD" mate restore "$DIR/other" "$plain" 2>"$DIR/other.err" && fail "another road's record was taken"
    grep -qF "The saved background is not one of MATE's background settings" "$DIR/other.err" || fail "no clear report"
    # Cinnamon's keys the same way: another process reads the picture's URI from dconf, then the earlier one.
    earlier=$(gsettings get org.cinnamon.desktop.background picture-uri)
    ROAD=cinnamon road save "$DIR/saved"
    ROAD=cinnamon road show "$picture"
    [[ $(gsettings get org.cinnamon.desktop.background picture-uri) == "'file:///"*"/page.png'" ]] || fail "Cinnamon's key"
    ROAD=cinnamon road restore "$DIR/saved" "$plain"
    [[ $(gsettings get org.cinnamon.desktop.background picture-uri) == "$earlier" ]] || fail "Cinnamon's key not back"
    note "Cinnamon's keys took the picture's URI and then their earlier value"
fi

if [[ $ROAD == plasma ]]; then
    # The program itself, from a folder of its own, with the session's home, config and runtime
    # folders, bus and desktop: Run shows the page through Plasma, Close brings Plasma's own back.
    [[ -f ${TARNWICK_PROGRAM:-} ]] || fail "TARNWICK_PROGRAM must name the program (ctest sets it)"
    source "$(dirname "$0")/../lib.sh"
    export XDG_CURRENT_DESKTOP=KDE QTWEBENGINE_DISABLE_SANDBOX=1
    CASE=$ROAD
    printf '%s' '<html><body style="margin:0;background:#3c8a51"></body></html>' >"$DIR/1.htm"
    TMPDIR=$DIR prepare_case "$DIR/1.htm"
    CASE_DIR=$DIR HOME_DIR=$HOME STORE="$XDG_CONFIG_HOME/tarnwick/registry.reg"
    import -window root "$DIR/before-run.png"
    start_program
    click 98 208
    expect_exit 0 && expect_quiet
    PAGE_COLOUR=()
    for spot in "${OWN[@]}"; do
        PAGE_COLOUR+=("${spot%%=*}=srgb(60,138,81)")
    done
    wait_screen "the page's colour where Plasma's wallpaper was" "${PAGE_COLOUR[@]}"
    cp "$DIR/screen.png" "$DIR/after-run.png"
    grep -q '^"TarnwickDesktops"="KDE KDE%20Plasma.s%20desktop%20scripting' "$STORE" || fail "Run did not keep Plasma's wallpaper: $(cat "$STORE")"
    start_program
    click 92 240
    expect_exit 0 && expect_quiet
    wait_screen "Plasma's own wallpaper after Close" "${OWN[@]}"
    # All of it, above Plasma's panel (its clock moves), as before Run.
    differ=$(compare -metric AE "$DIR/before-run.png[1024x700+0+0]" "$DIR/screen.png[1024x700+0+0]" null: 2>&1)
    [[ $differ == 0 ]] || fail "after Close $differ pixels differ from before Run (see $DIR/before-run.png)"
    kill -0 "$desktop" || fail "plasmashell is no longer running"
    note "the program showed the page through Plasma and Close brought Plasma's own wallpaper back"
fi
