#!/bin/bash
# The page on KDE Plasma 5 under Wayland, as a normal user: KWin as the Wayland compositor, drawn
# into a window of the test's X server (its X11 windowed backend, QPainter), with its Xwayland,
# where the panel runs (Qt's xcb platform) and xdotool clicks it; kactivitymanagerd and
# plasmashell are Wayland clients, all in the person's session of lib.sh (its buses, nobody). `import` takes the screen from the
# test's X server, as KWin shows it. The person's own picture first; Run: the page where Plasma's
# wallpaper was, Plasma's wallpaper kept; Close: the person's picture again, plasmashell runs on.
source "$(dirname "$0")/lib.sh"

export QTWEBENGINE_DISABLE_SANDBOX=1
ACTIVITIES=/usr/lib/x86_64-linux-gnu/libexec/kactivitymanagerd
for tool in kwin_wayland plasmashell "$ACTIVITIES" Xwayland readelf \
    /usr/lib/x86_64-linux-gnu/qt5/plugins/platforms/libqwayland-generic.so; do
    [[ -e $tool ]] || command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
KWIN=$(command -v kwin_wayland)

# screen_is WHAT PICTURE: within 30 s the screen above Plasma's panel is the picture, every pixel.
screen_is() {
    local tenths=300
    until import -display "$HOST" -window root "$CASE_DIR/screen.png" 2>/dev/null &&
        [[ $(compare -metric AE "$CASE_DIR/screen.png[1024x720+0+0]" "$2[1024x720+0+0]" null: 2>&1) == 0 ]]; do
        ((tenths -= 5)) > 0 || fail "the screen does not show $1 (see $CASE_DIR/screen.png)"
        sleep 0.5
    done
}

case_plasma_wayland() {
    prepare_case none
    printf '%s' '<html><body style="margin:0;background:#3c8a51"></body></html>' >"$PROG_DIR/1.htm"
    HOST=$DISPLAY
    start_person_session KDE
    convert -size 1024x768 'xc:rgb(120,90,60)' "png24:$CASE_DIR/mine.png" &&
        convert -size 1024x768 'xc:rgb(60,138,81)' "png24:$CASE_DIR/page.png" || fail "cannot make the pictures"
    # kwin_wayland carries a file capability (CAP_SYS_RESOURCE) that a container's bounding set may
    # lack, and exec refuses it then: through its ELF interpreter the capability does not apply.
    as_person env KWIN_COMPOSE=Q KWIN_FORCE_OWN_QPA=1 "$(readelf -l "$KWIN" | sed -n 's/.*interpreter: \(.*\)]$/\1/p')" \
        "$KWIN" --x11-display "$HOST" --width 1024 --height 768 --socket "tw-plasma-$$" --xwayland \
        --no-lockscreen >"$CASE_DIR/kwin.log" 2>&1
    local kwin=${SESSION[-1]} tenths=300
    until DISPLAY=$(ps -o args= --ppid "$kwin" | sed -n 's/^[^ ]*Xwayland \(:[0-9]*\) .*/\1/p') && [[ -n $DISPLAY ]] &&
        "${PERSON[@]}" xhost "+si:localuser:$(id -un)" >/dev/null 2>&1; do
        ((tenths--)) > 0 || fail "KWin's Xwayland does not answer: $(tail -5 "$CASE_DIR/kwin.log")"
        sleep 0.1
    done
    export DISPLAY WAYLAND_DISPLAY="tw-plasma-$$" XDG_SESSION_TYPE=wayland XDG_CURRENT_DESKTOP=KDE \
        KDE_FULL_SESSION=true KDE_SESSION_VERSION=5
    as_person env QT_QPA_PLATFORM=wayland "$ACTIVITIES" >"$CASE_DIR/activities.log" 2>&1
    as_person env QT_QPA_PLATFORM=wayland plasmashell >"$CASE_DIR/plasma.log" 2>&1
    local plasma=${SESSION[-1]}
    tenths=600
    until "${PERSON[@]}" gdbus call --session -d org.kde.plasmashell -o /PlasmaShell -m org.kde.PlasmaShell.evaluateScript \
        "var ds = desktops(); for (var i = 0; i < ds.length; ++i) { ds[i].wallpaperPlugin = 'org.kde.image';
         ds[i].currentConfigGroup = ['Wallpaper', 'org.kde.image', 'General'];
         ds[i].writeConfig('Image', 'file://$CASE_DIR/mine.png'); } print(ds.length);" 2>/dev/null | grep -qx "('1',)"; do
        ((tenths -= 5)) > 0 || fail "plasmashell did not take the person's picture: $(tail -5 "$CASE_DIR/plasma.log")"
        sleep 0.5
    done
    screen_is "the person's own picture" "$CASE_DIR/mine.png"
    [[ -z $(xdotool search --class plasmashell 2>/dev/null) ]] || fail "plasmashell has a window on Xwayland"
    note "plasmashell on KWin (Wayland) shows the person's picture"

    person_clicks RUN QT_QPA_PLATFORM=xcb
    screen_is "the page where Plasma's wallpaper was" "$CASE_DIR/page.png"
    desktop_section | grep -qF "\"TarnwickDesktops\"=\"KDE KDE%20Plasma's%20desktop%20scripting%20(org.kde.plasmashell) tarnwick-" ||
        fail "Plasma's wallpaper was not kept: $(desktop_section)"
    note "Run: the page shows where Plasma's wallpaper was, Plasma's wallpaper kept"

    person_clicks CLOSE QT_QPA_PLATFORM=xcb
    screen_is "the person's own picture after Close" "$CASE_DIR/mine.png"
    kill -0 "$plasma" || fail "plasmashell is no longer running"
    note "Close: the person's own picture again, plasmashell runs on"
}

run_cases 1024x768:case_plasma_wayland
