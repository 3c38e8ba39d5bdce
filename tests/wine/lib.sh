# Shared helpers for the end-to-end tests of the Windows program under Wine. Each case runs in a
# Wine prefix of its own (a copy of one pristine prefix made once per test run), on an X server
# of its own (Xvfb), from a program folder of its own, and plays the user with xdotool.
#
# The environment names the pieces (tests/wine/CMakeLists.txt sets it):
#   TW_PROGRAM   tarnwick.exe            TW_RECORDER  recorder.dll, the recording Active Desktop
#   TW_WINTOOL   wintool.exe             TW_XCHECK    xcheck.py
#   TW_OBJDUMP   the cross objdump
#   TW_SOURCE    the source tree         TW_WORK      where the prefixes and case folders go
# TW_KEEP=1 keeps every case's folder; a failing case's folder is always kept.

set -uo pipefail

for name in TW_PROGRAM TW_RECORDER TW_WINTOOL TW_XCHECK TW_OBJDUMP TW_SOURCE TW_WORK; do
    [[ -n ${!name:-} ]] || { echo "$name is not set: run the cases through ctest" >&2; exit 2; }
done

readonly TW_CLSID='{75048700-EF1F-11D0-9888-006097DEACF9}'
readonly TW_SERVER_KEY="HKLM\\Software\\Classes\\CLSID\\$TW_CLSID\\InprocServer32"
# The WebBrowser control's class, which the program creates for the page engine on Vista and later.
readonly TW_ENGINE_KEY='HKLM\Software\Classes\CLSID\{8856F961-340A-11D0-A96B-00C04FD705A2}\InprocServer32'
# The shell's wallpaper of each monitor (8 and later): the recorder's stand-in only where a case registers it.
readonly TW_MONITORS_KEY='HKLM\Software\Classes\CLSID\{C2CF3110-460E-4FC1-B9D0-8A1C0C9CC4BD}\InprocServer32'
readonly TW_EXPLORER_KEY='HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer'
readonly TW_PRISTINE=$TW_WORK/pristine
# The caption colour the pristine prefix is given, so that the lines are seen to follow it.
readonly TW_CAPTION_RGB='10 200 90'

CASE=""
CASE_DIR=""
APP=""
PAGE=""
TEMPLATE=""
LOG=""
PID=""
STATUS=""
XVFB_PID=""
DPI=96
WIN_LEFT=0
WIN_TOP=0

fail() {
    echo "FAIL [$CASE]: $*" >&2
    if [[ -n $XVFB_PID ]]; then
        # What the screen showed, and any box the program had open.
        import -window root "$CASE_DIR/failure.png" 2>/dev/null && echo "  screen: $CASE_DIR/failure.png" >&2
        timeout 10 wine "$TW_WINTOOL" box 0 2>/dev/null | tr -d '\r' | sed 's/^/  open box: /' >&2
    fi
    [[ -n $CASE_DIR ]] && echo "  case folder kept: $CASE_DIR" >&2
    exit 1
}

note() {
    echo "  [$CASE] $*"
}

# A Unix path as the program sees it: through the prefix's drive C: for its files, else Z:.
winpath() {
    local path=$1 drive=Z:
    if [[ -n ${WINEPREFIX:-} && $path == "$WINEPREFIX/drive_c/"* ]]; then
        path=/${path#"$WINEPREFIX/drive_c/"} drive=C:
    fi
    printf '%s%s' "$drive" "${path//\//\\}"
}

# ------------------------------------------------------------------------------ prefixes

# Makes the pristine prefix: a booted Wine prefix with the recording Active Desktop object
# registered for the current user and a distinctive caption colour.
make_pristine_prefix() {
    CASE=prefix
    rm -rf "$TW_PRISTINE" "$TW_WORK/cases"
    mkdir -p "$TW_PRISTINE" "$TW_WORK/cases" || fail "cannot make $TW_WORK"
    export WINEPREFIX=$TW_PRISTINE WINEDEBUG=-all
    # No display: wineboot needs none, and must not depend on one.
    DISPLAY= wineboot -i >"$TW_WORK/wineboot.log" 2>&1 || fail "wineboot failed (see $TW_WORK/wineboot.log)"
    mkdir -p "$TW_PRISTINE/drive_c/tarnwick-test"
    cp "$TW_RECORDER" "$TW_PRISTINE/drive_c/tarnwick-test/recorder.dll" || fail "cannot copy the recorder"
    # Wine registers its own Active Desktop object in HKLM\Software\Classes and, unlike Windows,
    # does not let a per-user registration (HKCU\Software\Classes) stand in front of it: the
    # recorder takes its place there, in the registry view of 32-bit programs, which load it.
    # Wine's own server is kept for the cases that want it.
    DISPLAY= wine reg query "$TW_SERVER_KEY" /ve /reg:32 2>/dev/null | tr -d '\r' |
        sed -n 's/^ *(Default) *REG_SZ *//p' >"$TW_WORK/wine-server.txt"
    [[ -s $TW_WORK/wine-server.txt ]] || fail "Wine has no 32-bit Active Desktop object registered"
    # The same for the page engine: the recorder's server makes the stand-in engine too.
    DISPLAY= wine reg query "$TW_ENGINE_KEY" /ve /reg:32 2>/dev/null | tr -d '\r' |
        sed -n 's/^ *(Default) *REG_SZ *//p' >"$TW_WORK/wine-engine.txt"
    [[ -s $TW_WORK/wine-engine.txt ]] || fail "Wine has no 32-bit WebBrowser control registered"
    {
        DISPLAY= wine reg add "$TW_SERVER_KEY" /ve /d 'C:\tarnwick-test\recorder.dll' /f /reg:32 &&
            DISPLAY= wine reg add "$TW_SERVER_KEY" /v ThreadingModel /d Apartment /f /reg:32 &&
            DISPLAY= wine reg add "$TW_ENGINE_KEY" /ve /d 'C:\tarnwick-test\recorder.dll' /f /reg:32 &&
            DISPLAY= wine reg add "$TW_ENGINE_KEY" /v ThreadingModel /d Apartment /f /reg:32 &&
            DISPLAY= wine reg add 'HKCU\Control Panel\Colors' /v ActiveTitle /d "$TW_CAPTION_RGB" /f
    } >>"$TW_WORK/wineboot.log" 2>&1 || fail "cannot register the test settings"
    wineserver -w
    touch "$TW_PRISTINE/.tarnwick-ready"
}

# Copies the pristine prefix. The system DLL folders are only ever read and are hard-linked;
# everything else is copied, above all the registry files, which Wine rewrites in place.
copy_prefix() {
    local target=$1
    mkdir -p "$target"
    tar -C "$TW_PRISTINE" --exclude=./drive_c/windows/system32 --exclude=./drive_c/windows/winsxs -cf - . |
        tar -C "$target" -xf - || return 1
    local dir
    for dir in system32 winsxs; do
        cp -al "$TW_PRISTINE/drive_c/windows/$dir" "$target/drive_c/windows/$dir" 2>/dev/null ||
            cp -a "$TW_PRISTINE/drive_c/windows/$dir" "$target/drive_c/windows/$dir" || return 1
    done
}

# ------------------------------------------------------------------------------ cases

# begin_case NAME WIDTHxHEIGHT [TEMPLATE|none]: an X server with a screen of that size, a fresh
# prefix, and a program folder (with a space in its name, or named APP_NAME) holding the program
# and, unless "none", the template as 1.htm (the test template by default). The X server comes
# first: the first Wine command in a prefix starts its desktop process, which stays on the display
# it found.
begin_case() {
    CASE=$1
    [[ -f $TW_PRISTINE/.tarnwick-ready ]] || fail "no pristine prefix: run the wine_prefix test first"
    CASE_DIR=$(mktemp -d "$TW_WORK/cases/$CASE.XXXXXX") || fail "no case folder"
    trap end_case EXIT
    export WINEPREFIX=$CASE_DIR/prefix WINEDEBUG=-all
    copy_prefix "$WINEPREFIX" || fail "cannot copy the pristine prefix"
    start_display "${2%x*}" "${2#*x}"
    APP="$CASE_DIR/${APP_NAME:-Tarnwick Program}"
    [[ -n ${TW_ZIP:-} ]] && APP=$WINEPREFIX/drive_c/Tarnwick
    PAGE=$APP/2.htm
    TEMPLATE=$APP/1.htm
    LOG=$CASE_DIR/recorder.log
    ENGINE_LOG=$CASE_DIR/engine.log
    export TARNWICK_RECORDER_LOG TARNWICK_ENGINE_LOG
    TARNWICK_RECORDER_LOG=$(winpath "$LOG")
    TARNWICK_ENGINE_LOG=$(winpath "$ENGINE_LOG")
    if [[ -n ${TW_ZIP:-} ]]; then
        unpack_release_zip
        return
    fi
    mkdir -p "$APP"
    cp "$TW_PROGRAM" "$APP/tarnwick.exe" || fail "cannot copy the program"
    case ${3:-test} in
    none) ;;
    test) write_test_template ;;
    *) cp "$3" "$TEMPLATE" || fail "cannot copy the template $3" ;;
    esac
}

# TW_ZIP, the release zip, unpacked into C:\ as a person would: one folder, C:\Tarnwick, with the
# program, the shipped sample as the template and a README.txt in ASCII with CR LF line ends, which
# Windows 95's Notepad shows (under 64 KiB), naming the version of the program's version record.
unpack_release_zip() {
    (cd "$WINEPREFIX/drive_c" && cmake -E tar xf "$TW_ZIP") || fail "cannot unpack $TW_ZIP"
    expect_eq "unpacked files" "$(cd "$APP" && LC_ALL=C && echo *)" "1.htm README.txt tarnwick.exe"
    local readme=$APP/README.txt version
    LC_ALL=C grep -q $'[^\t\r -~]' "$readme" && fail "README.txt is not plain ASCII"
    [[ $(grep -c $'\r$' "$readme") == $(wc -l <"$readme") && $(wc -c <"$readme") -lt 65536 ]] ||
        fail "README.txt is not CR LF text Notepad opens"
    version=$(exiftool -s3 -FileVersion "$APP/tarnwick.exe")
    expect_eq "README.txt's first line" "$(head -n1 "$readme")" $'Tarnwick '"$version"$'\r'
}

end_case() {
    local status=$?
    if [[ -n $PID ]] && kill -0 "$PID" 2>/dev/null; then
        kill "$PID" 2>/dev/null
    fi
    [[ -n ${WINEPREFIX:-} && -d ${WINEPREFIX:-} ]] && wineserver -k 2>/dev/null
    [[ -n $XVFB_PID ]] && kill "$XVFB_PID" 2>/dev/null && wait "$XVFB_PID" 2>/dev/null
    if [[ $status -eq 0 && ${TW_KEEP:-0} != 1 && -n $CASE_DIR ]]; then
        rm -rf "$CASE_DIR"
    elif [[ -n $CASE_DIR ]]; then
        echo "  case folder: $CASE_DIR"
    fi
    exit "$status"
}

# A template with the screen size in two places, numbers that hold the placeholders next to each
# other, within a longer number and after a digit, two items split by a comma, a quoted item
# that keeps its comma and loses what follows its closing quote, and bytes beyond ASCII.
write_test_template() {
    printf '%s\r\n' '<html><body>' \
        '<div style="width=800 height=600">' \
        'x800600x 8000 1600' \
        'first,second' \
        '"quoted, kept" gone,after' \
        $'caf\xe9 \xa3800' \
        '</body></html>' >"$TEMPLATE"
}

# The page the test template gives for WIDTH and HEIGHT: a line end, each item and a line end,
# then a line end.
expected_test_page() {
    local w=$1 h=$2
    printf '\r\n'
    printf '%s\r\n' '<html><body>' \
        "<div style=\"width=$w height=$h\">" \
        "x$w${h}x ${w}0 1$h" \
        'first' 'second' \
        'quoted, kept' 'after' \
        $'caf\xe9 \xa3'"$w" \
        '</body></html>'
    printf '\r\n'
}

# --------------------------------------------------------------------------- the registry

reg() {
    wine reg "$@" >/dev/null 2>&1
}

# Wine's server fills the kernel's shared data page (the real version, which the program reads)
# from the prefix's version when it starts: the one this starts is let end.
set_windows_version() {
    reg add 'HKCU\Software\Wine' /v Version /d "$1" /f || fail "cannot set the Windows version $1"
    wineserver -w
}

set_dpi() {
    DPI=$1
    # Wine 8 reads the per-user setting first and the machine-wide one after it.
    reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$1" /f &&
        reg add 'HKLM\System\CurrentControlSet\Hardware Profiles\Current\Software\Fonts' \
            /v LogPixels /t REG_DWORD /d "$1" /f || fail "cannot set $1 dpi"
}

# set_shell_state HEX: a REG_BINARY ShellState value, as another program left it.
set_shell_state() {
    reg add "$TW_EXPLORER_KEY" /v ShellState /t REG_BINARY /d "$1" /f || fail "cannot preset ShellState"
}

# The ShellState value as "TYPE HEX" (upper-case hex digits), or "absent".
shell_state() {
    local out
    out=$(wine reg query "$TW_EXPLORER_KEY" /v ShellState 2>/dev/null | tr -d '\r' |
        awk '$1 == "ShellState" { print $2, $3 }')
    echo "${out:-absent}"
}

# reg_value KEY NAME: a value's data as reg prints it ("0x1", text), or "absent" (also when empty).
reg_value() {
    wine reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' | awk -v n="$2" '$1 == n { v = $3 } END { print (v == "" ? "absent" : v) }'
}

# Where the recorder saves the desktop (Wallpaper, WebContent), and the program's own key.
readonly TW_RECORDER_KEY='HKCU\Software\Tarnwick Recorder'
readonly TW_PROGRAM_KEY='HKCU\Software\Tarnwick'

# Puts Wine's own WebBrowser control (whose MSHTML has no Gecko here) back in the stand-in's place.
restore_wine_engine() {
    reg add "$TW_ENGINE_KEY" /ve /d "$(cat "$TW_WORK/wine-engine.txt")" /f /reg:32 || fail "cannot restore Wine's engine"
}

# use_virtual_desktop WIDTHxHEIGHT (after set_windows_version): every program of the prefix runs on
# Wine's own desktop, a window filling the X screen that draws the wallpaper Windows' settings name,
# shown from now on by its own process (explorer /desktop), whichever program comes and goes. Its
# windows are no X windows then: the program's window is found through wintool.
use_virtual_desktop() {
    reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f &&
        reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d "$1" /f || fail "cannot set Wine's desktop"
    wineserver -w
    wine explorer "/desktop=Default,$1" >"$CASE_DIR/desktop.out" 2>&1 &
    # The desktop ends with the last program on it that had a window: this one stays.
    wine "$TW_WINTOOL" stay >/dev/null 2>&1 &
    local i
    for ((i = 0; i < 200; i++)); do
        xdotool search --name '^Default - Wine desktop$' >/dev/null 2>&1 && break
        sleep 0.1
    done
    ((i < 200)) || fail "Wine's desktop did not appear"
    VIRTUAL_DESKTOP=1
}

# Puts Wine's own Active Desktop object back in the recorder's place.
restore_wine_server() {
    reg add "$TW_SERVER_KEY" /ve /d "$(cat "$TW_WORK/wine-server.txt")" /f /reg:32 || fail "cannot restore Wine's server"
}

# ----------------------------------------------------------------------- display and program

# start_display WIDTH HEIGHT: an X server of the case's own, of DEPTH bits per pixel (24 unless
# set; 8 is a display of 256 colours).
start_display() {
    local fifo=$CASE_DIR/display
    mkfifo "$fifo" || fail "no fifo"
    Xvfb -displayfd 3 -screen 0 "${1}x${2}x${DEPTH:-24}" -nolisten tcp 3>"$fifo" >"$CASE_DIR/xvfb.log" 2>&1 &
    XVFB_PID=$!
    local number
    read -r -t 20 number <"$fifo" || fail "Xvfb did not start (see $CASE_DIR/xvfb.log)"
    export DISPLAY=:$number
}

# Starts the program from its folder and waits for its window. PROGRAM_WINEDEBUG, when set, is
# the program's WINEDEBUG; what Wine logs goes to $CASE_DIR/program.out.
start_program() {
    (cd "$APP" && WINEDEBUG=${PROGRAM_WINEDEBUG:-$WINEDEBUG} exec wine tarnwick.exe) >"$CASE_DIR/program.out" 2>&1 &
    PID=$!
    find_main_window "${PROGRAM_START_SECONDS:-30}"
    # Wine's desktop process blackens the screen when it starts; grey again, so that the black
    # window's edges show.
    xsetroot -solid '#404040' || fail "cannot paint the X root window"
}

wintool() {
    wine "$TW_WINTOOL" "$@" 2>/dev/null | tr -d '\r'
}

# find_main_window SECONDS: waits for the main window; sets WIN_LEFT/WIN_TOP (its drawing area on
# the screen), WIN_SIZE and XWIN (its X window).
find_main_window() {
    local tries=$(($1 * 10)) i
    XWIN=""
    for ((i = 0; i < tries; i++)); do
        kill -0 "$PID" 2>/dev/null || fail "the program ended before its window appeared"
        if [[ -n ${VIRTUAL_DESKTOP:-} ]]; then
            wintool main >/dev/null && XWIN=desktop
        else
            XWIN=$(xdotool search --onlyvisible --name '^Tarnwick$' 2>/dev/null | head -n 1)
        fi
        [[ -n $XWIN ]] && break
        sleep 0.1
    done
    [[ -n $XWIN ]] || fail "no window named Tarnwick after $1 s"
    MAIN_INFO=$(wintool main) || fail "wintool sees no main window: $MAIN_INFO"
    local client
    client=$(sed -n 's/^client=//p' <<<"$MAIN_INFO")
    IFS=, read -r WIN_LEFT WIN_TOP WIN_W WIN_H <<<"$client"
    WIN_SIZE=${WIN_W}x$WIN_H
}

# Prints "left top right bottom" of a control at the case's dpi (right and bottom exclusive),
# computed from the layout table in twips.
control_rect() {
    local l t w h
    case $1 in
    title) read -r l t w h <<<'360 120 2295 255' ;;
    line1) read -r l t w h <<<'120 480 2680 0' ;;
    picture) read -r l t w h <<<'120 720 2700 2025' ;;
    line2) read -r l t w h <<<'120 2880 2680 0' ;;
    run) read -r l t w h <<<'360 3000 2055 255' ;;
    line3) read -r l t w h <<<'120 3360 2680 0' ;;
    close) read -r l t w h <<<'240 3480 2295 255' ;;
    line4) read -r l t w h <<<'120 3840 2680 0' ;;
    support) read -r l t w h <<<'720 3960 1455 255' ;;
    line5) read -r l t w h <<<'120 4320 2680 0' ;;
    *) fail "no control $1" ;;
    esac
    local px=$(((l * DPI + 720) / 1440)) py=$(((t * DPI + 720) / 1440))
    if [[ $1 == line* ]]; then
        echo "$px $py $((((l + w) * DPI + 720) / 1440)) $((py + 1))"
    elif [[ $1 == picture ]]; then
        echo "$px $py $((px + 180)) $((py + 135))"
    else
        echo "$px $py $((((l + w) * DPI + 720) / 1440)) $((((t + h) * DPI + 720) / 1440))"
    fi
}

# The middle of a control, in window pixels.
control_middle() {
    local l t r b
    read -r l t r b <<<"$(control_rect "$1")"
    echo "$(((l + r) / 2)) $(((t + b) / 2))"
}

# point_at X Y: moves the pointer to a point of the screen and waits until it is there. (xdotool
# waits in vain when the pointer is there already, so that case is left alone.)
point_at() {
    local X Y SCREEN WINDOW
    eval "$(xdotool getmouselocation --shell 2>/dev/null)"
    [[ ${X:-} == "$1" && ${Y:-} == "$2" ]] && return 0
    xdotool mousemove --sync "$1" "$2" || fail "xdotool cannot move the pointer to $1,$2"
}

# click_at X Y [BUTTON]: a click at a point of the window's drawing area.
click_at() {
    point_at $((WIN_LEFT + $1)) $((WIN_TOP + $2))
    xdotool click "${3:-1}" || fail "xdotool cannot click at $1,$2"
}

# click CONTROL [BUTTON]: a click in the middle of a control.
click() {
    local x y
    read -r x y <<<"$(control_middle "$1")"
    click_at "$x" "$y" "${2:-1}"
}

# drag CONTROL1 CONTROL2: presses the left button over one control and releases it over another.
drag() {
    local x1 y1 x2 y2
    read -r x1 y1 <<<"$(control_middle "$1")"
    read -r x2 y2 <<<"$(control_middle "$2")"
    point_at $((WIN_LEFT + x1)) $((WIN_TOP + y1))
    xdotool mousedown 1 || fail "xdotool cannot press the button"
    point_at $((WIN_LEFT + x2)) $((WIN_TOP + y2))
    xdotool mouseup 1 || fail "xdotool cannot release the button"
}

# press_on CONTROL [BUTTON] and release_on CONTROL [BUTTON]: the two halves of a click.
press_on() {
    local x y
    read -r x y <<<"$(control_middle "$1")"
    point_at $((WIN_LEFT + x)) $((WIN_TOP + y))
    xdotool mousedown "${2:-1}" || fail "xdotool cannot press the button"
}

release_on() {
    local x y
    read -r x y <<<"$(control_middle "$1")"
    point_at $((WIN_LEFT + x)) $((WIN_TOP + y))
    xdotool mouseup "${2:-1}" || fail "xdotool cannot release the button"
}

# press KEY...: keys to the window that has the keyboard (the program's, once clicked).
press() {
    xdotool key --delay 50 "$@" || fail "xdotool cannot press $*"
}

# wait_exit SECONDS: waits for the program to end; sets STATUS.
wait_exit() {
    local tries=$(($1 * 10)) i
    for ((i = 0; i < tries; i++)); do
        kill -0 "$PID" 2>/dev/null || break
        sleep 0.1
    done
    kill -0 "$PID" 2>/dev/null && fail "the program still runs after $1 s"
    wait "$PID"
    STATUS=$?
    PID=""
}

expect_running() {
    kill -0 "$PID" 2>/dev/null || fail "the program has ended: $*"
    local info
    info=$(wintool main) || fail "the main window is gone: $*"
}

# wait_box SECONDS: waits for a message box captioned "Tarnwick" and reads it into BOX_TEXT,
# BOX_ICON (yes/no), BOX_BUTTONS, BOX_OWNER (main/none/other) and BOX_MAIN_ENABLED.
wait_box() {
    local info
    info=$(wintool box "$1") || fail "no message box captioned Tarnwick within $1 s"
    BOX_TEXT=$(sed -n 's/^text=//p' <<<"$info")
    BOX_ICON=$(sed -n 's/^icon=//p' <<<"$info")
    BOX_BUTTONS=$(sed -n 's/^buttons=//p' <<<"$info")
    BOX_OWNER=$(sed -n 's/^owner=//p' <<<"$info")
    BOX_MAIN_ENABLED=$(sed -n 's/^mainenabled=//p' <<<"$info")
    BOX_COUNT=$(sed -n 's/^boxes=//p' <<<"$info")
}

# The number of message boxes captioned "Tarnwick" now open.
box_count() {
    wintool boxes | sed -n 's/^boxes=//p'
}

# wait_no_box SECONDS
wait_no_box() {
    local tries=$(($1 * 5)) i
    for ((i = 0; i < tries; i++)); do
        [[ $(box_count) == 0 ]] && return 0
        sleep 0.2
    done
    fail "the message box is still open after $1 s"
}

# ------------------------------------------------------------------------------ checks

expect_eq() {
    [[ $2 == "$3" ]] || fail "$1: got '$2', expected '$3'"
}

# expect_file_bytes FILE EXPECTED_FILE
expect_file_bytes() {
    [[ -f $1 ]] || fail "$1 does not exist"
    if ! cmp -s "$1" "$2"; then
        echo "--- got:" >&2
        od -c "$1" | head -n 30 >&2
        echo "--- expected:" >&2
        od -c "$2" | head -n 30 >&2
        fail "$(basename "$1") is not as expected"
    fi
}

# expect_log LINE...: the recorder's log holds exactly these lines.
expect_log() {
    local want got
    want=$(printf '%s\n' "$@")
    got=$(cat "$LOG" 2>/dev/null)
    [[ $got == "$want" ]] || fail "recorder log:
$got
--- expected:
$want"
}

expect_no_log() {
    [[ ! -e $LOG ]] || fail "the Active Desktop object was used: $(cat "$LOG")"
}

# wallpaper_calls PATH [LINE...]: the recorder's log of a wallpaper set to PATH, with the lines
# given (the Active Desktop's options) just before the changes are applied, and then (Run on NT 4,
# 2000 and XP) the web content read back from a new object (READ_BACK, on unless told). Run on the
# Windows 95 family (PROBE=1) first makes an object and lets it go; Run on NT 4, 2000 and XP first
# reads the wallpaper (READ_FIRST; READ_NONE where there is none).
wallpaper_calls() {
    local created="CreateInstance iid={F490EB00-1240-11D1-9888-006097DEACF9} ok"
    [[ -z ${PROBE:-} ]] || printf '%s\n' "$created" "Release refs=0"
    echo "$created"
    [[ -z ${READ_FIRST:-} ]] || echo "$READ_FIRST"
    echo "SetWallpaperOptions size=8 style=2 reserved=0"
    echo "SetWallpaper path=$1 reserved=0"
    shift
    (($# == 0)) || printf '%s\n' "$@"
    echo "ApplyChanges flags=7"
    echo "Release refs=0"
    (($# == 0)) || printf '%s\n' "$created" "${READ_BACK:-$ITEMS_ON}" "Release refs=0"
}
readonly READ_NONE=$'GetWallpaper size=261 flags=0 path=\nGetWallpaperOptions size=8 reserved=0 style=0'

# The recorder's lines of Run on NT 4, 2000 and XP: the Active Desktop read and, where the
# recorder was told that web content is off (TARNWICK_RECORDER_WEB_CONTENT=off), turned on.
readonly ITEMS_ON='GetDesktopItemOptions size=12 reserved=0 components=1 active=1'
readonly ITEMS_OFF='GetDesktopItemOptions size=12 reserved=0 components=1 active=0'
readonly ITEMS_TURNED_ON='SetDesktopItemOptions size=12 components=1 active=1 reserved=0'

# Takes a screenshot of the whole screen.
screenshot() {
    import -window root "$1" || fail "cannot take a screenshot"
}
