#!/bin/bash
# The Debian package as a person gets it (make dist makes it, then runs this): its fields and
# files, Debian's own checkers, and the same files from `cmake --install`; then the program run
# from the package's files unpacked into a read-only root, by a user with a fresh home, on a plain
# X server (no desktop, no session bus: the X root window). Run draws the installed sample and
# writes the page into the user's data folder; a template of the user's own in the config folder
# comes first, and its page goes beside it. The record names the page written each time.
source "$(dirname "$0")/../linux/lib.sh"
# What the desktop kept beside the record is the desktop cases' matter: the record alone here.
RECORD_ALONE=1

RUN_X=98 RUN_Y=208
export QTWEBENGINE_DISABLE_SANDBOX=1
unset DBUS_SESSION_BUS_ADDRESS XDG_CONFIG_HOME XDG_DATA_HOME
DEB=$TARNWICK_DIST/tarnwick_${TARNWICK_VERSION}_$(dpkg --print-architecture).deb
FILES='bin/tarnwick
libexec/tarnwick/tarnwick-drawer
share/applications/com.example.tarnwick.desktop
share/doc/tarnwick/changelog.gz
share/doc/tarnwick/copyright
share/icons/hicolor/16x16/apps/tarnwick.png
share/icons/hicolor/32x32/apps/tarnwick.png
share/icons/hicolor/48x48/apps/tarnwick.png
share/man/man1/tarnwick.1.gz
share/metainfo/com.example.tarnwick.metainfo.xml
share/tarnwick/1.htm'

new_case_dir() {
    CASE_DIR=$(mktemp -d "${TMPDIR:-/tmp}/tarnwick-dist.XXXXXX") || fail "no temporary folder"
    chmod 755 "$CASE_DIR"
    [[ -f $DEB ]] || fail "no $DEB: make dist makes it"
}

files_under() { (cd "$1" && find . -type f | sed 's|^\./||' | LC_ALL=C sort); }

case_package_files() {
    new_case_dir
    [[ $(dpkg-deb --field "$DEB" Package Version Section) == "Package: tarnwick
Version: $TARNWICK_VERSION
Section: x11" ]] || fail "fields: $(dpkg-deb --field "$DEB")"
    local depends
    depends=$(dpkg-deb --field "$DEB" Depends)
    for package in libqt6webenginewidgets6 libqt6webenginecore6-bin libqt6widgets6 libc6 fonts-liberation fonts-dejavu-core; do
        [[ ", $depends," == *", $package"[\ ,]* ]] || fail "Depends lacks $package: $depends"
    done
    dpkg-deb -x "$DEB" "$CASE_DIR/root" || fail "cannot unpack"
    [[ $(files_under "$CASE_DIR/root/usr") == "$FILES" ]] || fail "the package holds $(files_under "$CASE_DIR/root")"
    [[ $(dpkg-deb --contents "$DEB" | awk '$2 != "root/root"') == "" ]] || fail "files not owned by root"
    cmake --install "$TARNWICK_BUILD" --prefix "$CASE_DIR/prefix" --strip >/dev/null || fail "cmake --install failed"
    [[ $(files_under "$CASE_DIR/prefix") == "$FILES" ]] || fail "cmake --install gives $(files_under "$CASE_DIR/prefix")"
    # The icon theme's pictures are the program's own icon.
    local size
    for size in 16 32 48; do
        icotool -x --width=$size --height=$size --bit-depth=32 -o "$CASE_DIR/icon.png" "$TARNWICK_SOURCE/resources/tarnwick.ico"
        [[ $(compare -metric AE "$CASE_DIR/icon.png" "$CASE_DIR/root/usr/share/icons/hicolor/${size}x$size/apps/tarnwick.png" null: 2>&1) == 0 ]] ||
            fail "the ${size}px icon is not the program's"
    done
    lintian --fail-on error,warning "$DEB" >"$CASE_DIR/lintian" 2>&1 || fail "lintian: $(cat "$CASE_DIR/lintian")"
    grep '^[EW]:' "$CASE_DIR/lintian" | sed 's/^/  lintian /'
    desktop-file-validate "$CASE_DIR/root/usr/share/applications/"*.desktop || fail "desktop-file-validate"
    appstreamcli validate --no-net --pedantic "$CASE_DIR/root/usr/share/metainfo/"*.xml >"$CASE_DIR/appstream" ||
        fail "appstreamcli: $(cat "$CASE_DIR/appstream")"
    note "fields, files, lintian, desktop entry and metainfo as expected; cmake --install gives the same files"
}

# run_installed PAGE CORNER_COLOUR: starts the unpacked program as the case's user, presses Run,
# and checks the page written, the record naming it and the root window's corner.
run_installed() {
    mkdir -p -m 700 "$CASE_DIR/runtime" && chown "$USER_ID" "$CASE_DIR/runtime"
    (cd "$CASE_DIR" && exec "${AS_USER[@]}" env HOME="$HOME_DIR" XAUTHORITY="$CASE_DIR/xauthority" \
        XDG_RUNTIME_DIR="$CASE_DIR/runtime" "$PROG_DIR/tarnwick" >"$CASE_DIR/out" 2>"$CASE_DIR/err") &
    PID=$!
    wait_main_window
    click "$RUN_X" "$RUN_Y"
    expect_exit 0
    expect_quiet
    [[ -f $1 ]] || fail "no page at $1"
    grep -q 'width=1024 height=768' "$1" || fail "$1 is not the template filled for 1024x768"
    expect_section "\"Wallpaper\"=\"$1\"" '"WallpaperStyle"="2"'
    import -window root -crop 1x1+2+2 "$CASE_DIR/corner.png" || fail "no screenshot"
    local corner
    corner=$(convert "$CASE_DIR/corner.png" -format '%[fx:round(255*r)],%[fx:round(255*g)],%[fx:round(255*b)]' info:)
    [[ $corner == "$2" ]] || fail "the root window shows $corner, expected $2"
}

case_installed_read_only() {
    new_case_dir
    PROG_DIR=$CASE_DIR/root/usr/bin
    HOME_DIR=$CASE_DIR/home
    STORE=$HOME_DIR/.config/tarnwick/registry.reg
    dpkg-deb -x "$DEB" "$CASE_DIR/root" && chmod -R a-w "$CASE_DIR/root" || fail "cannot unpack"
    mkdir -p "$HOME_DIR" && cp "$XAUTHORITY" "$CASE_DIR/xauthority" && chmod 644 "$CASE_DIR/xauthority"
    # Root writes even where no one may: the program runs as another user.
    AS_USER=() USER_ID=$(id -u)
    if [[ $USER_ID == 0 ]]; then
        USER_ID=nobody AS_USER=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
        chown -R nobody "$HOME_DIR"
    fi
    # The sample's first cell is #070d1c.
    run_installed "$HOME_DIR/.local/share/tarnwick/2.htm" 7,13,28
    [[ -z $(find "$CASE_DIR/root" -name 2.htm) ]] || fail "a page was written beside the program or the sample"
    note "installed sample drawn, page in the data folder, recorded"

    printf '%s' '<html><body style="margin:0;background:#3c8a51" width=800 height=600></body></html>' \
        >"$HOME_DIR/.config/tarnwick/1.htm"
    chown -R "$USER_ID" "$HOME_DIR"
    run_installed "$HOME_DIR/.config/tarnwick/2.htm" 60,138,81
    note "the user's own template drawn, page beside it, recorded"
    if [[ ${#AS_USER[@]} -gt 0 ]]; then
        # Root, who may write anywhere, leaves the package's folder alone all the same.
        rm "$HOME_DIR/.config/tarnwick/1.htm" "$HOME_DIR/.local/share/tarnwick/2.htm"
        AS_USER=() USER_ID=0
        run_installed "$HOME_DIR/.local/share/tarnwick/2.htm" 7,13,28
        [[ -z $(find "$CASE_DIR/root" -name 2.htm) ]] || fail "root wrote a page into the package's folders"
        note "as root too, the page goes to the data folder"
    fi
    chmod -R u+w "$CASE_DIR/root"
}

run_cases none:case_package_files 1024x768:case_installed_read_only
