#!/usr/bin/env bash
# The clean room: the committed tree on a fresh Debian 12, as a person gets it.
#
#   1. A fresh root (debootstrap --variant=minbase, from the Debian sources this machine's apt
#      uses) gets the committed files (git archive HEAD) and runs the README's commands there:
#      `make test`, then `make dist` (whose checks include the Windows zip unpacked into a fresh
#      Wine prefix and one Run case from it).
#   2. A second fresh root installs the package `make dist` made (apt-get install ./...), checks
#      that nothing of it is missing (ldd, its drawing process where the package put it), and runs
#      the installed program as a normal user, with Chromium's sandbox, on a plain Xvfb: Run shows
#      the shipped sample on the root window, Close takes it away.
#
# Each root is entered in a mount and PID namespace of its own (pivot_root, so Chromium's sandbox
# may make its user namespace as it does on a real machine): its mounts (/proc, /sys, /dev,
# /dev/shm, binfmt_misc for qemu, and this machine's /tmp, whose X display locks the roots' Xvfb
# must see) and its processes go when the namespace ends, whatever ends it. Nothing is kept from
# one run to the next but downloaded .deb files, which apt takes only where they match its fresh
# lists. Prints each stage's duration; ends non-zero naming the stage that failed.
#
# Usage (as root): tools/clean-room.sh [PACKAGE.deb]
#   with a package given, only the second root's stages run, on that package
#   TARNWICK_CLEAN_ROOM_DIR    where the roots are made (/var/tmp)
#   TARNWICK_CLEAN_ROOM_CACHE  the downloaded .deb files (/var/cache/tarnwick-clean-room)
#   TARNWICK_CLEAN_ROOM_KEEP=1 keeps the roots and logs of a failed run
set -uo pipefail

SOURCE=$(cd "$(dirname "$0")/.." && pwd)
SUITE=bookworm
CACHE=${TARNWICK_CLEAN_ROOM_CACHE:-/var/cache/tarnwick-clean-room}
TRIES=4                   # a registry that does not answer: tries before the run fails
RUN_X=98 RUN_Y=208        # the panel's "Run Tarnwick" and "Close Tarnwick" lines
CLOSE_X=92 CLOSE_Y=240

STAGE="start"
STAGE_START=$SECONDS
TIMINGS=()
WORK=""
XVFB_PID=""
BINFMT_BEFORE=""
ROOT_PID=""               # the namespace a root's command runs in, while it runs

say() { echo "clean room: $*"; }

fail() {
    say "FAILED in stage \"$STAGE\": $*" >&2
    exit 1
}

# stage NAME: ends the stage before (printing its duration) and begins NAME.
stage() {
    if [[ $STAGE != start ]]; then
        TIMINGS+=("$(printf '%-22s %5d s' "$STAGE" $((SECONDS - STAGE_START)))")
        say "stage \"$STAGE\" done in $((SECONDS - STAGE_START)) s"
    fi
    STAGE=$1
    STAGE_START=$SECONDS
    [[ -z $1 ]] || say "stage \"$1\" ($(date -u +%H:%M:%S) UTC)"
}

cleanup() {
    local status=$?
    trap - EXIT INT TERM
    local pid
    # Killing unshare kills its namespace's first process (--kill-child), and with it every
    # process of that namespace.
    for pid in $ROOT_PID $XVFB_PID; do
        kill -KILL "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
    done
    # A binfmt registration a root's Wine set-up made names a program of that root.
    if [[ -e /proc/sys/fs/binfmt_misc/tarnwick-i386 && $BINFMT_BEFORE != yes ]]; then
        echo -1 >/proc/sys/fs/binfmt_misc/tarnwick-i386 || say "could not remove the binfmt registration tarnwick-i386"
    fi
    if [[ -n $WORK ]]; then
        # The roots' mounts live in their own namespaces: here the roots are plain folders.
        if grep -q " ${WORK}/" /proc/self/mountinfo; then
            say "mounts left under $WORK; not removing it" >&2
            status=1
        elif [[ $status != 0 && ${TARNWICK_CLEAN_ROOM_KEEP:-} == 1 ]]; then
            say "kept $WORK"
        else
            rm -rf --one-file-system "$WORK"
        fi
    fi
    [[ $status == 0 ]] || TIMINGS+=("$(printf '%-22s %5d s (failed)' "$STAGE" $((SECONDS - STAGE_START)))")
    [[ $status != 0 ]] || stage ""
    say "stage durations:"
    printf '  %s\n' ${TIMINGS[@]+"${TIMINGS[@]}"}
    say "$([[ $status == 0 ]] && echo passed || echo failed) after $((SECONDS / 60)) min $((SECONDS % 60)) s; load: $(cat /proc/loadavg)"
    exit "$status"
}
trap cleanup EXIT
trap 'fail "interrupted"' INT TERM

# retry WHAT COMMAND...: runs the command until it succeeds, TRIES times at most, waiting longer
# each time.
retry() {
    local what=$1 try
    shift
    for ((try = 1; try <= TRIES; try++)); do
        "$@" && return 0
        ((try < TRIES)) && { say "$what failed (try $try of $TRIES); again in $((15 * try)) s"; sleep $((15 * try)); }
    done
    return 1
}

# ----------------------------------------------------------------------------- roots

# The Debian sources this machine's apt uses, one "deb URI SUITE COMPONENT" line each.
apt_sources() {
    apt-get indextargets --format '$(REPO_URI) $(RELEASE) $(COMPONENT)' 'Identifier: Packages' |
        sort -u | sed 's/^/deb /'
}

# make_root FOLDER: a fresh minimal Debian 12, with this machine's sources and retries for apt.
make_root() {
    local root=$1 mirror
    mirror=$(apt_sources | awk -v suite="$SUITE" '$3 == suite { print $2; exit }')
    [[ -n $mirror ]] || fail "this machine's apt has no source for $SUITE"
    mkdir -p "$CACHE/debootstrap" "$CACHE/archives/partial"
    attempt() {
        rm -rf --one-file-system "$root"
        debootstrap --variant=minbase --cache-dir="$CACHE/debootstrap" "$SUITE" "$root" "$mirror" \
            >"$WORK/$(basename "$root")-debootstrap.log" 2>&1
    }
    retry "debootstrap from $mirror" attempt ||
        fail "debootstrap failed: $(tail -n 5 "$WORK/$(basename "$root")-debootstrap.log")"
    apt_sources >"$root/etc/apt/sources.list"
    printf 'Acquire::Retries "%s";\n' "$TRIES" >"$root/etc/apt/apt.conf.d/80retries"
}

# start_in_root FOLDER COMMAND...: starts the command as root in the root, in namespaces of its
# own, with a minimal environment; ROOT_PID is the namespace's unshare.
start_in_root() {
    local root=$1
    shift
    (exec unshare --mount --pid --fork --kill-child --propagation private -- bash -c '
        set -e
        root=$1 cache=$2
        shift 2
        mount --rbind "$root" "$root"
        mount -t proc proc "$root/proc"
        mount --rbind /sys "$root/sys"
        mount --rbind /dev "$root/dev"
        mount -t tmpfs -o mode=1777,nosuid,nodev tmpfs "$root/dev/shm"
        mount --bind /tmp "$root/tmp"
        if grep -qw binfmt_misc /proc/filesystems; then
            mount -t binfmt_misc binfmt_misc "$root/proc/sys/fs/binfmt_misc" 2>/dev/null || true
        fi
        mount --bind "$cache" "$root/var/cache/apt/archives"
        cd "$root"
        mkdir -p .host
        pivot_root . .host
        cd /
        umount -l /.host
        rmdir /.host
        set +e
        env -i HOME=/root USER=root LOGNAME=root LANG=C.UTF-8 TERM=dumb \
            PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin "$@" &
        wait $!
    ' in-root "$root" "$CACHE/archives" "$@") &
    ROOT_PID=$!
}

# wait_root: waits for the command start_in_root started; ends with its status. A signal to this
# script ends the wait at once (and cleanup ends the namespace).
wait_root() {
    local status=0
    wait "$ROOT_PID" || status=$?
    ROOT_PID=""
    return "$status"
}

# in_root FOLDER COMMAND...: runs the command in the root; ends with its status.
in_root() {
    start_in_root "$@"
    wait_root
}

# in_root_logged FOLDER LOG COMMAND...: the same, its output in LOG and on the terminal.
in_root_logged() {
    local root=$1 log=$2
    shift 2
    local fd tee_pid status=0
    exec {fd}> >(tee "$log")
    tee_pid=$!
    start_in_root "$root" "$@" >&"$fd" 2>&1
    exec {fd}>&-
    wait_root || status=$?
    wait "$tee_pid" 2>/dev/null  # the log is whole before it is read
    return "$status"
}

# run_make TARGET: the README's `make TARGET` in the first root, its output in make-TARGET.log.
# A failure names the tests ctest reports failed, else the last lines make printed.
run_make() {
    local log=$WORK/make-$1.log tests
    in_root_logged "$FIRST" "$log" make -C /root/tarnwick "$1" && return 0
    tests=$(sed -n '/The following tests FAILED:/,/^[^[:space:]]/p' "$log" |
        sed -n 's/^[[:space:]]*[0-9]* - \([^ ]*\) .*/\1/p' | paste -sd, - | sed 's/,/, /g')
    [[ -n $tests ]] && fail "make $1 failed: $tests"
    fail "make $1 failed: $(grep -v '^[[:space:]]*$' "$log" | tail -n 3 | paste -sd' ' -)"
}

# run_installed LINE: the installed program as the user, who clicks LINE's place; it must end
# with status 0 and say nothing.
run_installed() {
    local x=$1 y=$2 name=$3 win="" deadline status
    start_in_root "$SECOND" sh -c 'mkdir -p -m 700 /run/user/1000 && chown person: /run/user/1000 &&
        exec runuser -u person -- env HOME=/home/person USER=person LOGNAME=person \
            XDG_RUNTIME_DIR=/run/user/1000 DISPLAY="$0" tarnwick' "$DISPLAY" \
        >"$WORK/$name.out" 2>"$WORK/$name.err"
    deadline=$((SECONDS + 60))
    while [[ -z $win ]] && ((SECONDS < deadline)); do
        win=$(xdotool search --onlyvisible --name '^Tarnwick$' 2>/dev/null | head -n1)
        [[ -n $win ]] || sleep 0.2
    done
    [[ -n $win ]] || fail "the installed program's window did not appear: $(cat "$WORK/$name.err")"
    eval "$(xdotool getwindowgeometry --shell "$win")"
    sleep 1  # a person's reach for the line; the drawing process starts meanwhile
    xdotool mousemove $((X + x)) $((Y + y)) click 1
    status=0
    wait_root || status=$?
    [[ $status == 0 ]] || fail "$name ended with status $status: $(cat "$WORK/$name.out" "$WORK/$name.err")"
    [[ ! -s $WORK/$name.out && ! -s $WORK/$name.err ]] ||
        fail "$name said: $(cat "$WORK/$name.out" "$WORK/$name.err")"
}

# The colour of one pixel of the root window, as R,G,B.
root_pixel() {
    convert "$WORK/screen.png" -crop "1x1+$1+$2" -format '%[fx:round(255*r)],%[fx:round(255*g)],%[fx:round(255*b)]' info:
}

# The first root: the README's commands on the committed tree. Sets deb, the package made.
first_room() {
    stage "first root"
    make_root "$FIRST"
    mkdir -p "$FIRST/root/tarnwick"
    git -C "$SOURCE" archive HEAD | tar -x -C "$FIRST/root/tarnwick" || fail "git archive HEAD failed"

    stage "make test"
    # A fresh Debian has no make: a person installs it first, then runs the README's command.
    retry "installing make" in_root "$FIRST" sh -c 'apt-get update -qq && apt-get install -y -qq make >/dev/null' ||
        fail "apt-get install make failed"
    run_make test
    grep -E '^[0-9]+% tests passed' "$WORK/make-test.log" | sed 's/^/  make test: /'

    stage "make dist"
    run_make dist
    grep -E 'Test +#[0-9]+: dist\.' "$WORK/make-dist.log" | sed 's/^ */  make dist: /'
    # The Windows zip, unpacked into a fresh Wine prefix in this root, and its Run case.
    grep -Eq 'Test +#[0-9]+: dist\.zip-run-win98 \.+ +Passed' "$WORK/make-dist.log" ||
        fail "make dist did not run the Windows zip's case (dist.zip-run-win98)"
    deb=$(cd "$FIRST/root/tarnwick/dist" && ls tarnwick_*.deb 2>/dev/null | head -n1)
    [[ -n $deb ]] || fail "make dist made no package in dist/"
    cp "$FIRST/root/tarnwick/dist/$deb" "$WORK/" || fail "cannot copy $deb"
    # The first root is done with: its space goes before the second is made.
    rm -rf --one-file-system "$FIRST"
}

# The second root: the package installed as a person installs it, and the program run.
second_room() {
    stage "second root"
    make_root "$SECOND"
    cp "$WORK/$deb" "$SECOND/root/" || fail "cannot copy $deb into the second root"

    stage "install the package"
    in_root "$SECOND" useradd --create-home --shell /bin/bash person || fail "cannot add the user"
    retry "installing $deb" in_root_logged "$SECOND" "$WORK/install.log" \
        sh -c "apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y ./root/$deb" ||
        fail "apt-get install ./$deb failed"
    grep -E '^[0-9]+ upgraded, [0-9]+ newly installed' "$WORK/install.log" | tail -n1 | sed 's/^/  /'

    stage "installed program"
    # Nothing of the package's is missing: every program it holds finds its libraries, and the
    # drawing process is where the package put it, not on the PATH.
    in_root "$SECOND" sh -c '
        dpkg -L tarnwick | while read -r f; do
            [ -f "$f" ] && [ "$(head -c4 "$f" | od -An -c | tr -d " ")" = "177ELF" ] || continue
            echo "$f"
            ! ldd "$f" | grep "not found" || exit 1
        done' >"$WORK/ldd.log" 2>&1 || fail "libraries not found: $(grep 'not found' "$WORK/ldd.log" | paste -sd' ' -)"
    grep -qx /usr/bin/tarnwick "$WORK/ldd.log" || fail "the package has no /usr/bin/tarnwick"
    grep -qx /usr/libexec/tarnwick/tarnwick-drawer "$WORK/ldd.log" ||
        fail "the package has no drawing process at /usr/libexec/tarnwick/tarnwick-drawer (it holds: $(paste -sd' ' "$WORK/ldd.log"))"
    say "programs of the package, each finding its libraries: $(paste -sd' ' "$WORK/ldd.log")"

    # A plain X server on this machine; the root's programs reach it through its abstract socket.
    mkfifo "$WORK/display" || fail "no fifo"
    Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -noreset 3>"$WORK/display" >"$WORK/xvfb.log" 2>&1 &
    XVFB_PID=$!
    read -r -t 30 number <"$WORK/display" || fail "Xvfb did not start: $(cat "$WORK/xvfb.log")"
    export DISPLAY=:$number

    run_installed $RUN_X $RUN_Y run
    import -window root "$WORK/screen.png" || fail "no screenshot"
    # The shipped sample at 1024x768: its first cell in the corner, the name's dark box in the middle,
    # and exactly the picture the program wrote into the user's data folder.
    [[ $(root_pixel 2 2) == 7,13,28 ]] || fail "the root window's corner is $(root_pixel 2 2), not the sample's 7,13,28"
    [[ $(root_pixel 512 300) == 11,10,16 ]] || fail "the root window's middle is $(root_pixel 512 300), not the sample's 11,10,16"
    picture=$(ls "$SECOND"/home/person/.local/share/tarnwick/tarnwick-*.png 2>/dev/null | head -n1)
    [[ -n $picture ]] || fail "Run wrote no picture into the user's data folder"
    difference=$(compare -metric AE "$WORK/screen.png" "$picture" null: 2>&1)
    [[ $difference == 0 ]] || fail "the root window differs from the picture Run wrote in $difference pixels"
    xprop -root _XROOTPMAP_ID | grep -q 'pixmap id # 0x' || fail "Run named no root pixmap"
    grep -q '^"Wallpaper"="/home/person/.local/share/tarnwick/2.htm"' "$SECOND/home/person/.config/tarnwick/registry.reg" ||
        fail "the record does not name the page Run wrote"
    say "Run: the installed sample on the root window (corner, middle, and all $(identify -format '%wx%h' "$picture") pixels as drawn)"

    run_installed $CLOSE_X $CLOSE_Y close
    import -window root "$WORK/screen.png" || fail "no screenshot"
    [[ $(convert "$WORK/screen.png" -format '%[fx:maxima]' info:) == 0 ]] || fail "after Close the root window is not plain black"
    [[ -z $(ls "$SECOND"/home/person/.local/share/tarnwick/tarnwick-*.png 2>/dev/null |
        xargs -r -n1 basename | grep -x "$(basename "$picture")") ]] || fail "Close left the page's picture"
    say "Close: the root window plain black, the page's picture gone"
    rm -rf --one-file-system "$SECOND"
}

# ----------------------------------------------------------------------------- the run

[[ $(id -u) == 0 ]] || fail "run as root (make clean-room uses sudo)"
for tool in debootstrap unshare pivot_root git Xvfb xdotool import convert compare xprop; do
    command -v "$tool" >/dev/null || fail "$tool is missing (make clean-room installs it)"
done
git -C "$SOURCE" rev-parse --verify -q HEAD >/dev/null || fail "$SOURCE is not a git checkout with a commit"
[[ -e /proc/sys/fs/binfmt_misc/tarnwick-i386 ]] && BINFMT_BEFORE=yes
WORK=$(mktemp -d "${TARNWICK_CLEAN_ROOM_DIR:-/var/tmp}/tarnwick-clean-room.XXXXXX") || fail "no work folder"
chmod 755 "$WORK"
say "$(git -C "$SOURCE" log -1 --format='%h %s' HEAD | cut -c1-90)"
say "load: $(cat /proc/loadavg)"
FIRST=$WORK/first
SECOND=$WORK/second

if [[ $# -gt 0 ]]; then
    [[ -f $1 && $1 == *.deb ]] || fail "$1 is not a package file"
    deb=$(basename "$1")
    cp "$1" "$WORK/$deb" || fail "cannot copy $1"
else
    first_room
fi
second_room
