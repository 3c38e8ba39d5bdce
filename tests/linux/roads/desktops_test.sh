#!/bin/bash
# The desktops' own background roads against Debian's real desktop programs, each under Xvfb with
# a window manager and a private session bus (dbus-launch, which starts dconf on demand):
#   mate    caja drawing MATE's desktop (org.mate.background through GSettings and dconf); then
#           Cinnamon's keys (org.cinnamon.desktop.background), read back from dconf
#   plasma  KDE Plasma 5's plasmashell (its desktop scripting over D-Bus) with two desktops (two
#           activities), each with the person's own picture; then the real program, on the same
#           bus and home, shows a page through Plasma and Close gives each desktop its own back;
#           a desktop whose wallpaper is locked (kiosk) makes a Run report
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

# Two of Plasma's saved lists of desktops say the same, whatever their order.
same_desktops() {
    python3 -c 'import json,sys; k=lambda d: d["id"]; sys.exit(sorted(json.load(open(sys.argv[1])), key=k) != sorted(json.load(open(sys.argv[2])), key=k))' "$1" "$2"
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
    # plasmashell, once it answers on the session bus.
    start_plasma() {
        plasmashell >>"$DIR/plasma.log" 2>&1 &
        desktop=$!
        PIDS+=($desktop)
        tenths=600
        until timeout 5 "$TARNWICK_BACKGROUND_ROAD" plasma save "$DIR/probe" 2>/dev/null; do
            ((tenths -= 5)) > 0 || fail "plasmashell did not answer on the session bus"
            sleep 0.5
        done
        note "plasmashell answered after $(((600 - tenths) / 10)) s"
    }
    start_plasma
    # Two desktops (a second activity has a desktop of its own; Plasma under Xvfb sees one
    # monitor), each with a picture of the person's own, the one on screen first.
    plasma_script() { gdbus call --session -d org.kde.plasmashell -o /PlasmaShell -m org.kde.PlasmaShell.evaluateScript "$1"; }
    tenths=300
    until first=$(plasma_script 'print(currentActivity())' | tr -dc '0-9a-f-') && [[ -n $first ]]; do
        ((tenths -= 5)) > 0 || fail "Plasma names no current activity"
        sleep 0.5
    done
    plasma_script 'print(createActivity("Second"))' >/dev/null || fail "Plasma made no second activity"
    tenths=300
    until [[ $(plasma_script 'print(desktops().length)') == "('2',)" ]]; do
        ((tenths -= 5)) > 0 || fail "Plasma has not two desktops"
        sleep 0.5
    done
    mine=() MINE_COLOURS=('120,90,60' '40,110,150')
    for i in 0 1; do
        mine+=("$DIR/mine$i.png")
        convert -size 1024x768 "xc:rgb(${MINE_COLOURS[i]})" "png24:${mine[i]}" || fail "cannot make the person's pictures"
    done
    [[ $(plasma_script "var mine = [\"file://${mine[0]}\", \"file://${mine[1]}\"];
        var ds = desktops().sort(function(a, b) { return b.screen - a.screen; });
        for (var i = 0; i < ds.length; ++i) {
          ds[i].wallpaperPlugin = \"org.kde.image\";
          ds[i].currentConfigGroup = [\"Wallpaper\", \"org.kde.image\", \"General\"];
          ds[i].writeConfig(\"Image\", mine[i]);
        }
        print(ds.length);") == "('2',)" ]] || fail "Plasma has not two desktops"
    OWN=()
    for at in 300,200 800,200 300,600 800,600; do
        OWN+=("$at=srgb(${MINE_COLOURS[0]})")
    done
    wait_screen "the person's own wallpaper" "${OWN[@]}"
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
    python3 -c 'import json,sys; sys.exit(json.load(open(sys.argv[1]))[0] not in json.load(open(sys.argv[2])))' \
        "$DIR/odd" "$DIR/odd-again" || fail "Plasma holds $(cat "$DIR/odd-again"), not $(cat "$DIR/odd")"
fi
road restore "$DIR/saved" "$plain"
wait_screen "the desktop's own background again" "${OWN[@]}"
if [[ $ROAD == plasma ]]; then
    # Each desktop its own wallpaper back, not the first one's.
    road save "$DIR/restored"
    same_desktops "$DIR/saved" "$DIR/restored" || fail "Plasma's desktops hold $(cat "$DIR/restored"), not $(cat "$DIR/saved")"
fi
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
    road save "$DIR/closed"
    same_desktops "$DIR/saved" "$DIR/closed" || fail "after Close Plasma's desktops hold $(cat "$DIR/closed"), not $(cat "$DIR/saved")"
    # The other desktop, on screen: its own picture.
    gdbus call --session -d org.kde.ActivityManager -o /ActivityManager/Activities \
        -m org.kde.ActivityManager.Activities.SetCurrentActivity "$first" >/dev/null || fail "cannot show the first activity"
    OTHER=()
    for spot in "${OWN[@]}"; do
        OTHER+=("${spot%%=*}=srgb(${MINE_COLOURS[1]})")
    done
    wait_screen "the second desktop's own wallpaper after Close" "${OTHER[@]}"
    kill -0 "$desktop" || fail "plasmashell is no longer running"
    note "the program showed the page through Plasma and Close brought Plasma's own wallpaper back"

    # One desktop whose wallpaper the administrator locked (KDE's kiosk mark on its settings
    # group, read when plasmashell starts) does not take the page: a report, no success.
    locked=$(python3 -c 'import json,sys; print(max(d["id"] for d in json.load(open(sys.argv[1]))))' "$DIR/saved")
    kill "$desktop" && wait "$desktop"
    sed -i "s/^\(\[Containments\]\[$locked\]\[Wallpaper\]\[org.kde.image\]\[General\]\)\$/\1[\$i]/" \
        "$XDG_CONFIG_HOME/plasma-org.kde.plasma.desktop-appletsrc"
    grep -qxF "[Containments][$locked][Wallpaper][org.kde.image][General][\$i]" \
        "$XDG_CONFIG_HOME/plasma-org.kde.plasma.desktop-appletsrc" || fail "cannot lock desktop $locked's wallpaper"
    start_plasma
    timeout 60 "$TARNWICK_BACKGROUND_ROAD" plasma show "$picture" 2>"$DIR/locked.err" && fail "a Run one desktop refused reported success"
    grep -qF "Plasma took the change on 1 of its 2 desktops" "$DIR/locked.err" || fail "no clear report: $(cat "$DIR/locked.err")"
    note "a desktop with a locked wallpaper: the road reports that 1 of 2 desktops took the page"
fi
