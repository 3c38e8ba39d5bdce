#!/bin/bash
# The portal road against GNOME's own portal (xdg-desktop-portal with xdg-desktop-portal-gnome),
# on a private session bus that starts it on demand, under Xvfb, in a home of the case's own.
# With the wallpaper permission granted beforehand, the picture from a folder named in Greek and
# with a byte that is not UTF-8 becomes GNOME's background (its settings name GNOME's copy of
# it), and so does a plain picture; with the permission refused, the request fails with a clear
# report, the background stays as it was, and the report's command to undo the refusal works.
set -uo pipefail

if [[ ${1:-} != --inside ]]; then
    for var in TARNWICK_PORTAL_SHOW TARNWICK_BUS_CONFIG; do
        if [[ ! -f ${!var:-} ]]; then
            echo "$var must name an existing file (ctest sets it)" >&2
            exit 2
        fi
    done
    for tool in /usr/libexec/xdg-desktop-portal /usr/libexec/xdg-desktop-portal-gnome \
        /usr/libexec/xdg-permission-store dbus-daemon gdbus gsettings xvfb-run convert cmp mountpoint; do
        if ! command -v "$tool" >/dev/null; then
            echo "SKIP: $tool is not installed"
            exit 77
        fi
    done
    status=0
    for case in granted refused; do
        xvfb-run -a -s "-screen 0 1024x768x24 -nolisten tcp" bash "$0" --inside "$case"
        rc=$?
        printf '%-6s %s\n' "$([[ $rc -eq 0 ]] && echo ok || echo FAILED)" "$case"
        [[ $rc -eq 0 ]] || status=1
    done
    exit $status
fi

CASE=$2
DIR=$(mktemp -d "${TMPDIR:-/tmp}/tarnwick-gnome.XXXXXX") || exit 1
BUS_PID=""
finish() {
    local status=$?
    [[ -n $BUS_PID ]] && kill "$BUS_PID" 2>/dev/null && wait "$BUS_PID" 2>/dev/null
    # The services the bus started end with it; the document portal's file system goes with them.
    local tenths=50
    while mountpoint -q "$DIR/runtime/doc" 2>/dev/null && ((tenths-- > 0)); do
        sleep 0.1
    done
    if [[ $status -eq 0 ]]; then
        rm -rf "$DIR" 2>/dev/null || { sleep 1; rm -rf "$DIR"; }
    else
        echo "  [$CASE] case folder kept: $DIR"
    fi
}
trap finish EXIT

fail() {
    echo "FAIL [$CASE]: $*" >&2
    [[ -f $DIR/show.err ]] && cat "$DIR/show.err" >&2
    exit 1
}

export HOME="$DIR/home" XDG_CONFIG_HOME="$DIR/home/.config" XDG_DATA_HOME="$DIR/home/.local/share" \
    XDG_CACHE_HOME="$DIR/home/.cache" XDG_RUNTIME_DIR="$DIR/runtime" XDG_CURRENT_DESKTOP=GNOME NO_AT_BRIDGE=1
mkdir -p "$XDG_CONFIG_HOME" "$XDG_DATA_HOME" "$XDG_CACHE_HOME"
mkdir -p -m 700 "$XDG_RUNTIME_DIR"
dbus-daemon --config-file="$TARNWICK_BUS_CONFIG" --nofork --print-address=3 3>"$DIR/bus" 2>"$DIR/bus.err" &
BUS_PID=$!
tenths=100
until [[ -s $DIR/bus ]]; do
    ((tenths-- > 0)) || fail "the private bus did not start"
    sleep 0.1
done
export DBUS_SESSION_BUS_ADDRESS=$(head -n1 "$DIR/bus")

# permit yes|no: the answer GNOME's portal finds for programs outside a sandbox (app id "").
permit() {
    timeout 20 gdbus call --session --dest org.freedesktop.impl.portal.PermissionStore \
        --object-path /org/freedesktop/impl/portal/PermissionStore \
        --method org.freedesktop.impl.portal.PermissionStore.SetPermission wallpaper true wallpaper '' "['$1']" \
        >/dev/null || fail "cannot set the wallpaper permission"
}

# The picture GNOME's settings name for the background.
background() {
    local uri
    uri=$(gsettings get org.gnome.desktop.background picture-uri) || fail "cannot read GNOME's settings"
    uri=${uri#\'}
    uri=${uri%\'}
    printf '%s' "${uri#file://}"
}

# wait_background FILE: GNOME's settings come to name a copy of FILE (dconf writes them a moment
# after the portal answers).
wait_background() {
    local tenths=50
    until cmp -s "$(background)" "$1"; do
        ((tenths-- > 0)) || fail "GNOME's background is $(background), not a copy of $1"
        sleep 0.1
    done
}

show() { # [--plain] PICTURE
    timeout 60 "$TARNWICK_PORTAL_SHOW" "$@" 2>"$DIR/show.err"
}

folder="$DIR/Ελληνικά caf"$'\xe9'
mkdir -p "$folder"
picture="$folder/page.png"
plain="$folder/plain.png"
convert -size 1024x768 xc:'#1e90c8' "png:$picture" && convert -size 1024x768 xc:black "png:$plain" ||
    fail "cannot make the pictures"
before=$(background)

case $CASE in
granted)
    permit yes
    show "$picture" || fail "the page's picture was not taken (status $?)"
    wait_background "$picture"
    echo "  [$CASE] GNOME shows the picture: picture-uri names its copy $(background)"
    show --plain "$plain" || fail "the plain picture was not taken (status $?)"
    wait_background "$plain"
    echo "  [$CASE] and then the plain one"
    ;;
refused)
    permit no
    show "$picture"
    rc=$?
    [[ $rc -eq 1 ]] || fail "status $rc, expected 1"
    grep -qF "Error 5: The desktop did not change the background: it failed, or the change is not allowed. A refusal is remembered" \
        "$DIR/show.err" || fail "no clear report"
    sleep 1
    [[ $(background) == "$before" ]] || fail "the background changed"
    echo "  [$CASE] $(tr '\n' ' ' <"$DIR/show.err" | cut -c1-200)..."
    # The report's way to undo the refusal, run as given, takes it out of the permission store.
    undo=$(grep -o 'gdbus call .*' "$DIR/show.err") || fail "the report gives no command to undo the refusal"
    eval "timeout 20 $undo" >/dev/null || fail "the report's command failed: $undo"
    lookup=$(timeout 20 gdbus call --session --dest org.freedesktop.impl.portal.PermissionStore \
        --object-path /org/freedesktop/impl/portal/PermissionStore \
        --method org.freedesktop.impl.portal.PermissionStore.Lookup wallpaper wallpaper 2>&1)
    [[ $lookup != *"'': ['no']"* ]] || fail "the refusal is still stored: $lookup"
    echo "  [$CASE] the report's command removed the refusal: $lookup"
    ;;
esac
