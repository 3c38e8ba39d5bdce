#!/usr/bin/env bash
# The benchmark in one command: builds bench_page (preset linux), times the programs' start-up
# when they are built (the Linux program under Xvfb; the Windows program's size and start-up
# under Wine), then runs the page benchmark, which prints everything as one table.
#
# Start-up time is from starting the process until xdotool finds its window "Tarnwick" mapped,
# polled without sleeping; the median of several starts. Wine's prefix is made first and the
# program started once untimed, so the figure leaves out Wine's first-time set-up; wineserver is
# stopped between starts, so each start includes starting it.
#
# Environment: TARNWICK_BUILD (default build/linux), TARNWICK_WINDOWS_BUILD (default
# build/windows), TMPDIR for the work folder (the page benchmark writes there, 64 MiB files).
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${TARNWICK_BUILD:-$root/build/linux}
winbuild=${TARNWICK_WINDOWS_BUILD:-$root/build/windows}
starts=${TARNWICK_BENCH_STARTS:-5}

median() {
    sort -n | awk '{ v[NR] = $1 } END { if (NR) print v[int((NR + 1) / 2)] }'
}

now_us() {
    local t=${EPOCHREALTIME/./}
    echo "$t"
}

# time_window_ms COMMAND...: starts the command in the background, polls for the window, prints
# the elapsed milliseconds (empty on a 30 s timeout) and stops what it started.
time_window_ms() {
    local t0 t1 found=""
    t0=$(now_us)
    "$@" >/dev/null 2>>"${TARNWICK_BENCH_LOG:-/dev/null}" &
    started_pid=$!
    while (($(now_us) - t0 < 30000000)); do
        if xdotool search --onlyvisible --name '^Tarnwick$' >/dev/null 2>&1; then
            found=1
            break
        fi
        kill -0 "$started_pid" 2>/dev/null || break
    done
    t1=$(now_us)
    local status=0
    if [[ -z $found ]] && ! kill -0 "$started_pid" 2>/dev/null; then
        wait "$started_pid" 2>/dev/null || status=$?
        echo "no window: the program ended with status $status after $(((t1 - t0) / 1000)) ms" \
            >>"${TARNWICK_BENCH_LOG:-/dev/null}"
    fi
    kill "$started_pid" 2>/dev/null || true
    wait "$started_pid" 2>/dev/null || true
    started_pid=""
    [[ -n $found ]] && awk -v d=$((t1 - t0)) 'BEGIN { printf "%.0f\n", d / 1000 }'
    return 0
}

# time_run_ms PROGRAM: starts the program, clicks "Run Tarnwick" once its window is there and
# prints the milliseconds from the click until the root window holds a new background pixmap
# (_XROOTPMAP_ID changes): the page drawn, written and shown. Empty on a 30 s timeout.
time_run_ms() {
    local before t0 t1 found="" X Y WIDTH HEIGHT SCREEN WINDOW win
    "$1" >/dev/null 2>>"${TARNWICK_BENCH_LOG:-/dev/null}" &
    started_pid=$!
    win=$(timeout 30 xdotool search --sync --onlyvisible --name '^Tarnwick$' 2>/dev/null | head -n1)
    if [[ -n $win ]]; then
        eval "$(xdotool getwindowgeometry --shell "$win")"
        before=$(xprop -root _XROOTPMAP_ID 2>/dev/null)
        t0=$(now_us)
        xdotool mousemove $((X + 98)) $((Y + 208)) click 1
        while (($(now_us) - t0 < 30000000)); do
            if [[ $(xprop -root _XROOTPMAP_ID 2>/dev/null) != "$before" ]]; then
                found=1
                break
            fi
        done
        t1=$(now_us)
    fi
    wait "$started_pid" 2>/dev/null || true
    started_pid=""
    [[ -n $found ]] && awk -v d=$((t1 - t0)) 'BEGIN { printf "%.0f\n", d / 1000 }'
    return 0
}

# Runs on the X server that with_xvfb started: "times FILE PROGRAM ARGS..." appends one figure a line to FILE.
if [[ ${1:-} == --inside-x ]]; then
    shift
    out=$1
    kind=$2
    shift 2
    if [[ $kind == wine ]]; then
        wineboot -i >/dev/null 2>&1 || true
        wineserver -w 2>/dev/null || true
        time_window_ms "$@" >/dev/null  # the first start loads Wine's own pieces
        wineserver -k 2>/dev/null || true
    fi
    for ((i = 0; i < starts; i++)); do
        if [[ $kind == run ]]; then
            time_run_ms "$@" >>"$out"
            continue
        fi
        time_window_ms "$@" >>"$out"
        [[ $kind == wine ]] && { wineserver -k 2>/dev/null || true; }
    done
    exit 0
fi

if [[ ! -f $build/CMakeCache.txt ]]; then
    (cd "$root" && cmake --preset linux >/dev/null)
fi
cmake --build "$build" --target bench_page -j2 >/dev/null

work=$(mktemp -d "${TMPDIR:-/tmp}/tarnwick-bench.XXXXXX")
started_pid=""
cleanup() {
    [[ -n $started_pid ]] && kill "$started_pid" 2>/dev/null
    if [[ -d $work/wineprefix ]]; then
        WINEPREFIX=$work/wineprefix wineserver -k 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

# with_xvfb COMMAND...: runs the command on an X server of its own. Xvfb picks a free display
# itself (-displayfd), which xvfb-run -a does not do safely when other tests start servers too.
with_xvfb() {
    local fdfile=$work/display xpid tries=0 status=0
    : >"$fdfile"
    # -noreset: no server reset (and refused connections) each time the last client leaves.
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$fdfile" 2>/dev/null &
    xpid=$!
    until [[ -s $fdfile ]]; do
        ((tries++ < 1000)) && kill -0 "$xpid" 2>/dev/null || { kill "$xpid" 2>/dev/null; return 1; }
        sleep 0.01
    done
    DISPLAY=:$(head -n1 "$fdfile") "$@" || status=$?
    kill "$xpid" 2>/dev/null
    wait "$xpid" 2>/dev/null
    return $status
}

rows=()
have_x=""
command -v Xvfb >/dev/null && command -v xdotool >/dev/null && have_x=1

# The Linux program, from a program folder of its own with a home of its own.
linux_program=$build/tarnwick
if [[ -x $linux_program && -n $have_x ]]; then
    mkdir -p "$work/linux/program" "$work/linux/home/.config" "$work/linux/runtime"
    chmod 700 "$work/linux/runtime"
    cp "$linux_program" "$work/linux/program/tarnwick"
    HOME=$work/linux/home XDG_CONFIG_HOME=$work/linux/home/.config XDG_RUNTIME_DIR=$work/linux/runtime \
        TARNWICK_BENCH_LOG=$work/linux/stderr TARNWICK_BENCH_STARTS=$starts with_xvfb \
        "$0" --inside-x "$work/linux/times" linux "$work/linux/program/tarnwick" || true
    figure=$( [[ -f $work/linux/times ]] && median <"$work/linux/times" )
    n=$( [[ -f $work/linux/times ]] && wc -l <"$work/linux/times" || echo 0 )
    if [[ -n $figure ]]; then
        rows+=("Linux program: start -> window shown (Xvfb)|$figure ms|median of $n of $starts starts")
    else
        rows+=("Linux program: start -> window shown (Xvfb)|failed|no window: $(head -c 200 "$work/linux/stderr" 2>/dev/null | tr '\n' ' ')")
    fi
    # Run -> the page on the root window (no session bus, so no portal), the sample page.
    cp "$root/resources/1.htm" "$work/linux/program/1.htm"
    (
        unset DBUS_SESSION_BUS_ADDRESS
        HOME=$work/linux/home XDG_CONFIG_HOME=$work/linux/home/.config XDG_DATA_HOME=$work/linux/home/data \
            XDG_RUNTIME_DIR=$work/linux/runtime TARNWICK_BENCH_LOG=$work/linux/run-stderr \
            TARNWICK_BENCH_STARTS=$starts with_xvfb "$0" --inside-x "$work/linux/runs" run "$work/linux/program/tarnwick"
    ) || true
    figure=$( [[ -f $work/linux/runs ]] && median <"$work/linux/runs" )
    n=$( [[ -f $work/linux/runs ]] && wc -l <"$work/linux/runs" || echo 0 )
    if [[ -n $figure ]]; then
        rows+=("Linux program: Run -> page on the desktop|$figure ms|median of $n of $starts runs, 1024x768, X root window, software drawing")
    else
        rows+=("Linux program: Run -> page on the desktop|failed|$(head -c 200 "$work/linux/run-stderr" 2>/dev/null | tr '\n' ' ')")
    fi
elif [[ -x $linux_program ]]; then
    rows+=("Linux program: start -> window shown (Xvfb)|n/a|Xvfb or xdotool missing")
else
    rows+=("Linux program: start -> window shown (Xvfb)|n/a|$linux_program not built")
fi

# The 32-bit Windows program under Wine's 32-bit side, in a prefix of its own.
windows_program=$winbuild/tarnwick.exe
if [[ -f $windows_program ]]; then
    size=$(stat -c %s "$windows_program")
    imports=$(i686-w64-mingw32-objdump -p "$windows_program" 2>/dev/null | awk '/DLL Name/ { printf "%s%s", sep, $3; sep = " " }')
    rows+=("Windows program: size of tarnwick.exe|$size bytes|$(awk -v s="$size" 'BEGIN { printf "%.0f KiB of 512 KiB allowed", s / 1024 }'); 32-bit; imports ${imports:-?}")
    if [[ -n $have_x ]] && command -v wine >/dev/null; then
        mkdir -p "$work/windows/program"
        cp "$windows_program" "$work/windows/program/tarnwick.exe"
        WINEPREFIX=$work/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" \
            TARNWICK_BENCH_LOG=$work/windows/stderr TARNWICK_BENCH_STARTS=$starts with_xvfb \
            "$0" --inside-x "$work/windows/times" wine wine "$work/windows/program/tarnwick.exe" || true
        figure=$( [[ -f $work/windows/times ]] && median <"$work/windows/times" )
        n=$( [[ -f $work/windows/times ]] && wc -l <"$work/windows/times" || echo 0 )
        if [[ -n $figure ]]; then
            rows+=("Windows program: start -> window shown (Wine)|$figure ms|median of $n of $starts starts, prefix made beforehand")
        else
            rows+=("Windows program: start -> window shown (Wine)|failed|no window: $(head -c 200 "$work/windows/stderr" 2>/dev/null | tr '\n' ' ')")
        fi
    else
        rows+=("Windows program: start -> window shown (Wine)|n/a|wine, Xvfb or xdotool missing")
    fi
else
    rows+=("Windows program: size of tarnwick.exe|n/a|$windows_program not built")
    rows+=("Windows program: start -> window shown (Wine)|n/a|$windows_program not built")
fi

"$build/bench/bench_page" "$work/page" "${rows[@]}"
