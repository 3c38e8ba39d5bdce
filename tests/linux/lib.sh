# Shared helpers for the end-to-end tests of the Linux program. Each case runs in an X server of
# its own (xvfb-run), with its own program folder (a copy of the program and a template) and its
# own home, and drives the program with xdotool as a user would.
#
# A test script sources this file, defines its cases as functions and ends with
#   run_cases WIDTHxHEIGHT:case_function ...     (the size "none" runs the case without a server)
# The environment names the pieces (tests/linux/CMakeLists.txt sets it):
#   TARNWICK_PROGRAM   the built program        TARNWICK_SAMPLE   the shipped sample template
#   TARNWICK_XPROBE    the X helper (xprobe.c)  TARNWICK_PICTURE  the picture the program shows
# TARNWICK_KEEP=1 keeps every case's folder; a failing case's folder is always kept.

set -uo pipefail
# The program decides the road from the desktop it runs on: the cases name theirs themselves,
# never the session the tests were started from.
unset XDG_CURRENT_DESKTOP XDG_SESSION_TYPE WAYLAND_DISPLAY

SCRIPT_ARGS=("$@")
CASE=""
CASE_DIR=""
PID=""
WIN=""
WIN_X=0
WIN_Y=0
STATUS=""
# Where the panel's "Run Tarnwick" and "Close Tarnwick" lines are, in its window.
RUN_X=98 RUN_Y=208
CLOSE_X=92 CLOSE_Y=240

fail() {
    echo "FAIL [$CASE]: $*" >&2
    if [[ -n $CASE_DIR && -f $CASE_DIR/err ]]; then
        echo "--- program's stderr:" >&2
        cat "$CASE_DIR/err" >&2
    fi
    exit 1
}

note() {
    echo "  [$CASE] $*"
}

# ----------------------------------------------------------------------------- case folders

# prepare_case TEMPLATE|none: a program folder (with a space in its name) holding the program and,
# unless "none", the template as 1.htm; a home with an empty config folder.
prepare_case() {
    CASE_DIR=$(mktemp -d "${TMPDIR:-/tmp}/tarnwick-e2e.XXXXXX") || fail "no temporary folder"
    PROG_DIR="$CASE_DIR/program folder"
    HOME_DIR="$CASE_DIR/home"
    STORE="$HOME_DIR/.config/tarnwick/registry.reg"
    PAGE="$PROG_DIR/2.htm"
    mkdir -p "$PROG_DIR" "$HOME_DIR/.config" || fail "cannot make the case folders"
    cp "$TARNWICK_PROGRAM" "$PROG_DIR/tarnwick" || fail "cannot copy the program"
    # Its drawing process, beside it as in a portable folder.
    cp "$(dirname "$TARNWICK_PROGRAM")/tarnwick-drawer" "$PROG_DIR/" || fail "cannot copy the drawing process"
    if [[ $1 != none ]]; then
        cp "$1" "$PROG_DIR/1.htm" || fail "cannot copy the template $1"
    fi
}

# seed_store LINE...: a store file made of the lines, CR LF ended, as the registry writes it.
seed_store() {
    mkdir -p "$(dirname "$STORE")"
    printf '%s\r\n' "$@" >"$STORE"
}

# A store holding a wallpaper record and a value of someone else's.
seed_record() {
    seed_store 'REGEDIT4' '' \
        '[HKEY_CURRENT_USER]' '' \
        '[HKEY_CURRENT_USER\Control Panel]' '' \
        '[HKEY_CURRENT_USER\Control Panel\Desktop]' \
        '"Wallpaper"="/old/place/2.htm"' \
        '"WallpaperStyle"="0"' \
        '"TileWallpaper"="0"' ''
}

# The value lines of the store's section [HKEY_CURRENT_USER\Control Panel\Desktop], CRs removed;
# with RECORD_ALONE=1 the record alone, without what the desktops kept beside it.
desktop_section() {
    [[ -f $STORE ]] || return 0
    tr -d '\r' <"$STORE" | awk -v alone="${RECORD_ALONE:-}" '
        /^\[/ { inside = ($0 == "[HKEY_CURRENT_USER\\Control Panel\\Desktop]"); next }
        inside && NF && !(alone && /^"TarnwickDesktops"=/) { print }'
}

# expect_section LINE...: the section holds exactly these value lines, in this order.
expect_section() {
    local want got
    want=$(printf '%s\n' "$@")
    got=$(desktop_section)
    [[ $got == "$want" ]] || fail "wallpaper record is
$got
expected
$want"
}

# Copies of the files a case must leave alone, and the check that they are unchanged.
snapshot_files() {
    mkdir -p "$CASE_DIR/before"
    [[ -f $PAGE ]] && cp -p "$PAGE" "$CASE_DIR/before/2.htm"
    [[ -f $STORE ]] && cp -p "$STORE" "$CASE_DIR/before/registry.reg"
    return 0
}

expect_files_unchanged() {
    local pair file copy
    for pair in "$PAGE|2.htm" "$STORE|registry.reg"; do
        file=${pair%|*}
        copy="$CASE_DIR/before/${pair#*|}"
        if [[ -f $copy ]]; then
            [[ -f $file ]] || fail "$file was removed"
            cmp -s "$file" "$copy" || fail "$file was changed"
            [[ $file -nt $copy || $file -ot $copy ]] && fail "$file was rewritten"
        else
            [[ -e $file ]] && fail "$file was created"
        fi
    done
    # No temporary files left beside them either.
    local stray
    stray=$(find "$PROG_DIR" "$HOME_DIR" -name '*.tmp' | head -n1)
    [[ -z $stray ]] || fail "left behind: $stray"
    return 0
}

# ----------------------------------------------------------------------------- the program

# Started from the case folder, not the program folder: the program finds its folder itself.
start_program() {
    mkdir -p -m 700 "$CASE_DIR/runtime"
    (cd "$CASE_DIR" && exec env HOME="$HOME_DIR" XDG_CONFIG_HOME="$HOME_DIR/.config" \
        XDG_RUNTIME_DIR="$CASE_DIR/runtime" "$PROG_DIR/tarnwick" >"$CASE_DIR/out" 2>"$CASE_DIR/err") &
    PID=$!
    wait_main_window
}

# The same with a store the program cannot write: its folder mounted read-only for it alone.
start_program_read_only_store() {
    mkdir -p -m 700 "$CASE_DIR/runtime" "$(dirname "$STORE")"
    (cd "$CASE_DIR" && exec unshare -m sh -c 'mount --bind -o ro "$1" "$1" && exec env HOME="$2" \
        XDG_CONFIG_HOME="$2/.config" XDG_RUNTIME_DIR="$3" "$4"' sh "$(dirname "$STORE")" "$HOME_DIR" \
        "$CASE_DIR/runtime" "$PROG_DIR/tarnwick" >"$CASE_DIR/out" 2>"$CASE_DIR/err") &
    PID=$!
    wait_main_window
}

# The program's window: its id in WIN, its place on the screen in WIN_X, WIN_Y.
wait_main_window() {
    local X Y WIDTH HEIGHT SCREEN WINDOW
    # xdotool ends at once on an X error (a desktop's window that went while it looked): again.
    local deadline=$((SECONDS + 15))
    WIN=""
    while [[ -z $WIN ]] && ((SECONDS < deadline)); do
        WIN=$(timeout 15 xdotool search --sync --onlyvisible --pid "$PID" --name '^Tarnwick$' 2>/dev/null | head -n1)
        [[ -n $WIN ]] || sleep 0.1
    done
    [[ -n $WIN ]] || fail "the window did not appear"
    eval "$(xdotool getwindowgeometry --shell "$WIN")"
    WIN_X=$X
    WIN_Y=$Y
    [[ "${WIDTH}x$HEIGHT" == 196x300 ]] || fail "window is ${WIDTH}x$HEIGHT, expected 196x300"
}

is_running() {
    local state
    state=$(ps -o stat= -p "$PID" 2>/dev/null) || return 1
    [[ $state != Z* ]]
}

# wait_exit [SECONDS]: waits for the program to end; its exit status goes to STATUS.
wait_exit() {
    local tenths=$((${1:-10} * 10))
    while is_running; do
        ((tenths-- > 0)) || fail "the program did not end"
        sleep 0.1
    done
    wait "$PID"
    STATUS=$?
    PID=""
}

expect_exit() {
    wait_exit
    [[ $STATUS == "$1" ]] || fail "exit status $STATUS, expected $1"
}

# Nothing on stdout or stderr.
expect_quiet() {
    [[ ! -s $CASE_DIR/out && ! -s $CASE_DIR/err ]] || fail "unexpected output: $(cat "$CASE_DIR/out" "$CASE_DIR/err")"
}

# The program's other visible windows (its message boxes).
boxes() {
    xdotool search --onlyvisible --pid "$PID" --name '^Tarnwick$' 2>/dev/null | grep -vx "$WIN"
}

wait_box() {
    local tenths=100
    BOX=""
    while [[ -z $BOX ]]; do
        ((tenths-- > 0)) || fail "no message box appeared"
        sleep 0.1
        BOX=$(boxes | head -n1)
    done
}

# The report on stderr, then its box.
wait_report() {
    local tenths=300
    until [[ -s $CASE_DIR/err ]]; do
        ((tenths-- > 0)) || fail "no report"
        sleep 0.1
    done
    wait_box
}

# Presses Return in the box, as a user would, and waits for it to go.
dismiss_box() {
    xdotool windowfocus "$BOX" key Return
    local tenths=50
    while boxes | grep -qx "$BOX"; do
        ((tenths-- > 0)) || fail "the message box did not go away"
        sleep 0.1
    done
}

# Whether the box shows something strongly red (the error icon); a plain box is grey and black.
box_has_red() {
    local X Y WIDTH HEIGHT SCREEN WINDOW
    eval "$(xdotool getwindowgeometry --shell "$BOX")"
    import -window root -crop "${WIDTH}x$HEIGHT+$X+$Y" "$CASE_DIR/box.png" || fail "no screenshot"
    local red
    red=$(convert "$CASE_DIR/box.png" -fx '(r > 0.7 && g < 0.35 && b < 0.35) ? 1 : 0' -format '%[fx:round(mean*w*h)]' info:)
    ((red > 20))
}

# Still running after a moment, with its window and no box.
expect_still_there() {
    sleep 0.5
    is_running || fail "the program ended"
    xdotool search --onlyvisible --pid "$PID" --name '^Tarnwick$' 2>/dev/null | grep -qx "$WIN" ||
        fail "the window went away"
    [[ -z $(boxes) ]] || fail "a message box appeared"
}

# click X Y [BUTTON]: a click at window pixel (X, Y).
click() {
    xdotool mousemove "$((WIN_X + $1))" "$((WIN_Y + $2))" click "${3:-1}"
}

# drag X1 Y1 X2 Y2 [BUTTON]: pressed at one window pixel, released at another.
drag() {
    xdotool mousemove "$((WIN_X + $1))" "$((WIN_Y + $2))" mousedown "${5:-1}" \
        mousemove "$((WIN_X + $3))" "$((WIN_Y + $4))" mouseup "${5:-1}"
}

close_request() {
    "$TARNWICK_XPROBE" close "$WIN" || fail "cannot send the close request"
}

# ----------------------------------------------------------------------------- a person's session

# screen_shows NAME RGB POINTS [EACH_SECOND]: the screen shows RGB at every point of POINTS
# ("x,y ..."), kept as NAME.png, within 20 s (SCREEN_TENTHS tenths); EACH_SECOND runs once a second.
screen_shows() {
    local tenths=${SCREEN_TENTHS:-200} at got want=""
    for at in $3; do want+="$2 "; done
    while :; do
        import -window root "$CASE_DIR/$1.png" || fail "no screenshot"
        got=""
        for at in $3; do
            got+="$(convert "$CASE_DIR/$1.png" -format "%[pixel:p{$at}]" info:) "
        done
        [[ $got == "$want" ]] && return 0
        ((tenths-- > 0)) || fail "the screen shows $got after $1, expected $2 (kept as $CASE_DIR/$1.png)"
        [[ -n ${4:-} ]] && ((tenths % 10 == 0)) && $4
        sleep 0.1
    done
}

# start_person_session DESKTOP: the case as a desktop shell that will not run as root sees it:
# the program folder, home and runtime folder a normal user's (nobody's), the X server's cookie
# where they may read it, a system bus with logind and upower played by python3-dbusmock and a
# session bus that starts the installed services on demand (the configs TARNWICK_BUS_CONFIG and
# TARNWICK_GNOME_BUS_CONFIG). PERSON runs a command as the user; as_person starts one in a
# process session of its own, and every process of those sessions ends with the case.
start_person_session() {
    local tool
    for tool in setpriv dbus-daemon gsettings; do
        command -v "$tool" >/dev/null || fail "$tool is not installed"
    done
    /usr/bin/python3 -c 'import dbusmock' 2>/dev/null || fail "python3-dbusmock is not installed"
    chmod 755 "$CASE_DIR"
    cp "$XAUTHORITY" "$CASE_DIR/xauthority" && chmod 644 "$CASE_DIR/xauthority"
    mkdir -p -m 700 "$CASE_DIR/runtime"
    chown -R nobody "$PROG_DIR" "$HOME_DIR" "$CASE_DIR/runtime"
    SESSION=()
    trap 'status=$?; end_person_session; (exit $status); cleanup_case' EXIT
    export HOME="$HOME_DIR" XDG_CONFIG_HOME="$HOME_DIR/.config" XDG_RUNTIME_DIR="$CASE_DIR/runtime" \
        XAUTHORITY="$CASE_DIR/xauthority" XDG_CURRENT_DESKTOP="$1" XDG_SESSION_TYPE=x11 NO_AT_BRIDGE=1 \
        XDG_DATA_HOME="$HOME_DIR/.local/share" LIBGL_ALWAYS_SOFTWARE=1
    PERSON=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
    # The buses' settings where the person may read them: the checkout may sit in a home of 0700.
    cp "$TARNWICK_BUS_CONFIG" "$CASE_DIR/system.conf" && cp "$TARNWICK_GNOME_BUS_CONFIG" "$CASE_DIR/session.conf" &&
        chmod 644 "$CASE_DIR/system.conf" "$CASE_DIR/session.conf" || fail "cannot copy the buses' settings"
    local bus tenths
    for bus in system session; do
        as_person dbus-daemon --config-file="$CASE_DIR/$bus.conf" --nofork --print-address=3 \
            3>"$CASE_DIR/$bus.bus" >"$CASE_DIR/$bus.err" 2>&1
        tenths=100
        until [[ -s $CASE_DIR/$bus.bus ]]; do
            ((tenths-- > 0)) || fail "the $bus bus did not start: $(cat "$CASE_DIR/$bus.err")"
            sleep 0.1
        done
    done
    export DBUS_SYSTEM_BUS_ADDRESS=$(head -n1 "$CASE_DIR/system.bus") DBUS_SESSION_BUS_ADDRESS=$(head -n1 "$CASE_DIR/session.bus")
    for tool in logind upower; do
        as_person /usr/bin/python3 -m dbusmock --system --template "$tool" >"$CASE_DIR/$tool.log" 2>&1
    done
}

# as_person COMMAND...: started as the person, in a process session of its own (its id its pid,
# which everything it starts keeps, the services its bus starts too).
as_person() {
    setsid "${PERSON[@]}" "$@" &
    SESSION+=($!)
}

# person_clicks RUN|CLOSE [VAR=VALUE...]: the program started as the person (with the variables
# given), that line clicked; it ends with status 0 and says nothing.
person_clicks() {
    local line=$1
    shift
    (cd "$CASE_DIR" && exec "${PERSON[@]}" env "$@" "$PROG_DIR/tarnwick" >"$CASE_DIR/out" 2>"$CASE_DIR/err") &
    PID=$!
    wait_main_window
    if [[ $line == RUN ]]; then click "$RUN_X" "$RUN_Y"; else click "$CLOSE_X" "$CLOSE_Y"; fi
    expect_exit 0
    expect_quiet
}

end_person_session() {
    local sid pids
    for sid in "${SESSION[@]}"; do
        pids=$(ps -e -o pid=,sid= | awk -v sid="$sid" '$2 == sid { print $1 }')
        [[ -n $pids ]] && kill $pids 2>/dev/null
    done
    for sid in "${SESSION[@]}"; do
        wait "$sid" 2>/dev/null
    done
    SESSION=()
}

# ----------------------------------------------------------------------------- running cases

cleanup_case() {
    local status=$?
    if [[ -n $PID ]] && kill -0 "$PID" 2>/dev/null; then
        kill "$PID" 2>/dev/null
        wait "$PID" 2>/dev/null
    fi
    if [[ -n $CASE_DIR ]]; then
        if [[ $status -eq 0 && -z ${TARNWICK_KEEP:-} ]]; then
            rm -rf "$CASE_DIR"
        else
            echo "  [$CASE] case folder kept: $CASE_DIR"
        fi
    fi
}

# run_cases SIZE:FUNCTION...: each case in its own X server of that size.
run_cases() {
    if [[ ${SCRIPT_ARGS[0]:-} == --inside ]]; then
        CASE=${SCRIPT_ARGS[1]}
        trap cleanup_case EXIT
        "$CASE"
        exit $?
    fi

    local var tool
    for var in TARNWICK_PROGRAM TARNWICK_XPROBE TARNWICK_SAMPLE TARNWICK_PICTURE; do
        if [[ ! -f ${!var:-} ]]; then
            echo "$var must name an existing file (ctest sets it)" >&2
            exit 2
        fi
    done
    for tool in xvfb-run xdotool import convert compare perl; do
        if ! command -v "$tool" >/dev/null; then
            echo "SKIP: $tool is not installed"
            exit 77
        fi
    done

    local spec size name started failed=0
    for spec in "$@"; do
        size=${spec%%:*}
        name=${spec#*:}
        started=${EPOCHREALTIME/./}
        if [[ $size == none ]]; then
            env -u DISPLAY -u WAYLAND_DISPLAY bash "$0" --inside "$name"
        else
            # -noreset: a desktop always has clients connected (its window manager), but here the
            # program may be the last one, and a server that resets when it leaves drops what it
            # left on the root window.
            xvfb-run -a -s "-screen 0 ${size}x24 -nolisten tcp -noreset" bash "$0" --inside "$name"
        fi
        local rc=$?
        local tenths=$(((${EPOCHREALTIME/./} - started) / 100000))
        printf '%-6s %-28s %-10s %d.%d s\n' "$([[ $rc -eq 0 ]] && echo ok || echo FAILED)" "$name" "$size" \
            $((tenths / 10)) $((tenths % 10))
        [[ $rc -eq 0 ]] || failed=1
    done
    exit $failed
}
