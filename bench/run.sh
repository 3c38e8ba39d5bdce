#!/usr/bin/env bash
# The benchmark in one command: builds bench_page and bench_root_wait (preset linux), times the
# programs' start-up when they are built (the Linux program under Xvfb; the Windows program's size
# and start-up under Wine), the Linux program's Run at 1024x768, 1920x1080 and 3840x2160 with the
# peak memory of its process tree and where its time went (the stages the program logs,
# base/StageClock.h), beside Chromium's own headless screenshot of the same page, then runs the
# page benchmark, which prints everything as one table.
#
# Start-up time is from starting the process until xdotool finds its window "Tarnwick" mapped,
# polled without sleeping; the median of several starts. Wine's prefix is made first and the
# program started once untimed, so the figure leaves out Wine's first-time set-up; wineserver is
# stopped between starts, so each start includes starting it.
#
# Environment: TARNWICK_BUILD (default build/linux), TARNWICK_WINDOWS_BUILD (default
# build/windows), TMPDIR for the work folder (the page benchmark writes there, 64 MiB files).
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
root=$(dirname "$here")
build=${TARNWICK_BUILD:-$root/build/linux}
winbuild=${TARNWICK_WINDOWS_BUILD:-$root/build/windows}
starts=${TARNWICK_BENCH_STARTS:-5}
rss_runs=${TARNWICK_BENCH_RSS_RUNS:-3}

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

# time_run_ms PROGRAM [RSS-FILE]: starts the program, clicks "Run Tarnwick" a second after its
# window is there (a person takes that long; the program starts its drawing process meanwhile)
# and prints the milliseconds from the click until the root window holds a new background pixmap
# (_XROOTPMAP_ID changes, as the server tells bench_root_wait, which sleeps till then): the page
# drawn, written and shown. Empty on a 30 s timeout. With RSS-FILE, the peak resident memory of
# the program's whole process tree is appended there (KiB) instead, sampled from the window's
# showing (the drawing process starts meanwhile) to the program's end; the sampling costs time,
# so those runs are not timed. Timed runs append their
# stages' milliseconds to TARNWICK_BENCH_STAGES (see base/StageClock.h), one "STAGE MS" a line.
time_run_ms() {
    local t0 t1="" ready="" waiter X Y WIDTH HEIGHT SCREEN WINDOW win sampler="" stages=""
    # Timed runs write where their time went (the drawing process's and the panel's stages).
    [[ -z ${2:-} ]] && stages=${TARNWICK_BENCH_STAGES:-}
    TARNWICK_STAGE_LOG=$stages "$1" >/dev/null 2>>"${TARNWICK_BENCH_LOG:-/dev/null}" &
    started_pid=$!
    win=$(timeout 30 xdotool search --sync --onlyvisible --name '^Tarnwick$' 2>/dev/null | head -n1)
    if [[ -n $win ]]; then
        eval "$(xdotool getwindowgeometry --shell "$win")"
        if [[ -n ${2:-} ]]; then
            "$here/tree_rss.py" --pid "$started_pid" >>"$2" &
            sampler=$!
        fi
        sleep 1
        exec {waiter}< <("$build/bench/bench_root_wait" 30 2>>"${TARNWICK_BENCH_LOG:-/dev/null}")
        read -r -u "$waiter" ready || true
        if [[ $ready == ready ]]; then
            t0=$(now_us)
            xdotool mousemove $((X + 98)) $((Y + 208)) click 1
            read -r -u "$waiter" t1 || true
        fi
        exec {waiter}<&-
        # Unclicked, or a Run that failed and waits on its message for the person: nobody is there.
        [[ -n $t1 ]] || kill "$started_pid" 2>/dev/null || true
    fi
    wait "$started_pid" 2>/dev/null || true
    started_pid=""
    [[ -n $sampler ]] && { wait "$sampler" 2>/dev/null || true; return 0; }
    [[ -n $t1 ]] && awk -v d=$((t1 - t0)) 'BEGIN { printf "%.0f\n", d / 1000 }'
    return 0
}

# Chromium's own screenshot of a page, the same size: "chromium_shot PAGE WIDTH HEIGHT [RSS-FILE]"
# prints the milliseconds from its start to its end, or with RSS-FILE appends its process tree's
# peak resident memory (KiB) there.
chromium_shot() {
    local cmd=(chromium --headless --disable-gpu --hide-scrollbars --window-size="$2,$3"
        --screenshot="$work/chromium.png" "file://$1")
    [[ $(id -u) == 0 ]] && cmd+=(--no-sandbox)
    if [[ -n ${4:-} ]]; then
        "$here/tree_rss.py" --run "${cmd[@]}" | awk '{ print $1 }' >>"$4"
        return 0
    fi
    local t0
    t0=$(now_us)
    "${cmd[@]}" >/dev/null 2>&1 || return 0
    awk -v d=$(($(now_us) - t0)) 'BEGIN { printf "%.0f\n", d / 1000 }'
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
    if [[ $kind == run ]]; then
        for ((i = 0; i < starts; i++)); do
            time_run_ms "$1" >>"$out"
        done
        for ((i = 0; i < rss_runs; i++)); do
            time_run_ms "$1" "$out.rss"
        done
        exit 0
    fi
    for ((i = 0; i < starts; i++)); do
        time_window_ms "$@" >>"$out"
        [[ $kind == wine ]] && { wineserver -k 2>/dev/null || true; }
    done
    exit 0
fi

if [[ ! -f $build/CMakeCache.txt ]]; then
    (cd "$root" && cmake --preset linux >/dev/null)
fi
cmake --build "$build" --target bench_page bench_root_wait -j2 >/dev/null

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

# with_xvfb [--size WxH] COMMAND...: runs the command on an X server of its own (1024x768 unless told). Xvfb picks a free display
# itself (-displayfd), which xvfb-run -a does not do safely when other tests start servers too.
with_xvfb() {
    local fdfile=$work/display xpid tries=0 status=0 size=1024x768
    if [[ $1 == --size ]]; then
        size=$2
        shift 2
    fi
    : >"$fdfile"
    # -noreset: no server reset (and refused connections) each time the last client leaves.
    Xvfb -displayfd 3 -screen 0 "${size}x24" -nolisten tcp -noreset 3>"$fdfile" 2>/dev/null &
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

# met FIGURE TARGET: MET when the figure is within the target.
met() {
    awk -v f="$1" -v t="$2" 'BEGIN { print (f <= t) ? "MET" : "NOT MET" }'
}

# breakdown STAGES-FILE: the median of each stage over the runs, in the order they first came,
# as "FIGURE|NOTE". The drawing process's stages (load to readback-to-shared) are within the
# panel's drawn+pixels-received; prepare-desktop (the root window's pixmap made from the shared
# pixels) runs beside png-encode; hand-to-desktop holds the root window's "root:" stages; what
# the stages leave of the Run's time is the click's way to the program and the page's file.
breakdown() {
    awk '
        NF == 2 { if (!($1 in n)) order[++count] = $1; v[$1, ++n[$1]] = $2 }
        END {
            for (i = 1; i <= count; i++) {
                s = order[i]; m = n[s]
                for (a = 1; a <= m; a++) for (b = a + 1; b <= m; b++)
                    if (v[s, b] < v[s, a]) { t = v[s, a]; v[s, a] = v[s, b]; v[s, b] = t }
                med = v[s, int((m + 1) / 2)]
                note = note sep s " " sprintf("%.0f", med); sep = ", "
            }
            printf "ms, median of each stage|%s\n", note
        }' "$1"
}

# ratio OURS THEIRS: ours as a fraction of theirs, "0.23x".
ratio() {
    awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2fx", a / b }'
}

rows=()
read -r load1 load5 load15 _ </proc/loadavg
rows+=("machine load at the start (1, 5, 15 min)|$load1 $load5 $load15|$(nproc) processors; the ratios to Chromium are from the same run")
have_x=""
command -v Xvfb >/dev/null && command -v xdotool >/dev/null && have_x=1

# The Linux program, from a program folder of its own with a home of its own.
linux_program=$build/tarnwick
if [[ -x $linux_program && -n $have_x ]]; then
    mkdir -p "$work/linux/program" "$work/linux/home/.config" "$work/linux/runtime"
    chmod 700 "$work/linux/runtime"
    cp "$linux_program" "$work/linux/program/tarnwick"
    cp "$linux_program-drawer" "$work/linux/program/tarnwick-drawer"
    HOME=$work/linux/home XDG_CONFIG_HOME=$work/linux/home/.config XDG_RUNTIME_DIR=$work/linux/runtime \
        TARNWICK_BENCH_LOG=$work/linux/stderr TARNWICK_BENCH_STARTS=$starts with_xvfb \
        "$0" --inside-x "$work/linux/times" linux "$work/linux/program/tarnwick" || true
    figure=$( [[ -f $work/linux/times ]] && median <"$work/linux/times" )
    n=$( [[ -f $work/linux/times ]] && wc -l <"$work/linux/times" || echo 0 )
    if [[ -n $figure ]]; then
        rows+=("Linux program: start -> window shown (Xvfb)|$figure ms|median of $n of $starts starts; target 150 ms: $(met "$figure" 150)")
    else
        rows+=("Linux program: start -> window shown (Xvfb)|failed|no window: $(head -c 200 "$work/linux/stderr" 2>/dev/null | tr '\n' ' ')")
    fi
    # Run -> the page on the root window (no session bus, so no portal), the sample page, at two
    # screen sizes; then Chromium's own headless screenshot of the very page Run wrote.
    cp "$root/resources/1.htm" "$work/linux/program/1.htm"
    have_chromium=""
    command -v chromium >/dev/null && have_chromium=1
    # SIZE:TARGET-MS:TARGET-MIB:TIMES-QUICKER-THAN-CHROMIUM (0: no such target)
    for size in 1024x768:200:350:0 1920x1080:250:350:10 3840x2160:0:400:6; do
        IFS=: read -r size target mib_target quicker <<<"$size"
        runs=$work/linux/runs-$size
        : >"$runs.stages"
        (
            unset DBUS_SESSION_BUS_ADDRESS
            HOME=$work/linux/home XDG_CONFIG_HOME=$work/linux/home/.config XDG_DATA_HOME=$work/linux/home/data \
                XDG_RUNTIME_DIR=$work/linux/runtime TARNWICK_BENCH_LOG=$work/linux/run-stderr \
                TARNWICK_BENCH_STAGES=$runs.stages \
                TARNWICK_BENCH_STARTS=$starts with_xvfb --size "$size" "$0" --inside-x "$runs" run \
                "$work/linux/program/tarnwick"
        ) || true
        ours=$( [[ -f $runs ]] && median <"$runs" )
        n=$( [[ -f $runs ]] && wc -l <"$runs" || echo 0 )
        peak=$( [[ -f $runs.rss ]] && sort -n "$runs.rss" | tail -n1 )
        if [[ -z $ours ]]; then
            rows+=("Linux program: Run -> page on the desktop, $size|failed|$(head -c 200 "$work/linux/run-stderr" 2>/dev/null | tr '\n' ' ')")
            continue
        fi
        goal=""
        [[ $target != 0 ]] && goal="; target $target ms: $(met "$ours" "$target")"
        rows+=("Linux program: Run -> page on the desktop, $size|$ours ms|median of $n of $starts runs, clicked 1 s after the window showed$goal")
        if [[ -s $runs.stages ]]; then
            rows+=("Linux program: where a Run's time goes, $size|$(breakdown "$runs.stages")")
        fi
        if [[ -n $peak ]]; then
            rows+=("Linux program: peak RSS of its process tree, Run, $size|$((peak / 1024)) MiB|largest of $rss_runs runs (panel, drawing process, Chromium's); target $mib_target MiB: $(met $((peak / 1024)) "$mib_target")")
        fi
        if [[ -n $have_chromium && -f $work/linux/program/2.htm ]]; then
            cp "$work/linux/program/2.htm" "$work/page-$size.htm"
            : >"$work/chromium-times" && : >"$work/chromium-rss"
            for ((i = 0; i < starts; i++)); do
                chromium_shot "$work/page-$size.htm" "${size%x*}" "${size#*x}" >>"$work/chromium-times"
            done
            for ((i = 0; i < rss_runs; i++)); do
                chromium_shot "$work/page-$size.htm" "${size%x*}" "${size#*x}" "$work/chromium-rss"
            done
            theirs=$(median <"$work/chromium-times")
            their_peak=$(sort -n "$work/chromium-rss" | tail -n1)
            if [[ -n $theirs && -n $their_peak ]]; then
                verdict=""
                if [[ $quicker != 0 ]]; then
                    verdict="; target ${quicker}x quicker: $(awk -v a="$ours" -v b="$theirs" -v q="$quicker" 'BEGIN { printf "%.1fx, %s", b / a, (b / a >= q) ? "MET" : "NOT MET" }')"
                fi
                rows+=("chromium --headless --screenshot, $size|$theirs ms, $((their_peak / 1024)) MiB|the same 2.htm; median of $starts, peak of $rss_runs; ours takes $(ratio "$ours" "$theirs") of its time${peak:+ and $(ratio "$peak" "$their_peak") of its memory}$verdict")
            else
                rows+=("chromium --headless --screenshot, $size|failed|")
            fi
        elif [[ -z $have_chromium ]]; then
            rows+=("chromium --headless --screenshot, $size|n/a|chromium is not installed (make bench installs it)")
        fi
    done
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

read -r load1 load5 load15 _ </proc/loadavg
rows+=("machine load before the page benchmark (1, 5, 15 min)|$load1 $load5 $load15|")
"$build/bench/bench_page" "$work/page" "${rows[@]}"
