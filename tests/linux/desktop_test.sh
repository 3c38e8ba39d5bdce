#!/bin/bash
# The page as the real desktop picture, on the X root window (no session bus, so no portal):
# Run draws the page at the screen's size and the root window shows it; Close in the same X
# session takes it away. Failures report, end with status 1 and leave the root window, the
# older picture and the record as they were.
source "$(dirname "$0")/lib.sh"

export QTWEBENGINE_DISABLE_SANDBOX=1
unset DBUS_SESSION_BUS_ADDRESS XDG_DATA_HOME

# The 800 x 600 block has a colour of its own; the rest of the page is another.
BLOCK='60,138,81'
block_template() {
    printf '%s' '<html><body style="margin:0;background:#c02020"><div style="position:fixed;left:0;top:0;width:800px;height:600px;background:#3c8a51"></div></body></html>' >"$PROG_DIR/1.htm"
}

PICTURES() { echo "$HOME_DIR/.local/share/tarnwick"; }

# root_colours: the colours of the root window's four corners and middle, one line.
root_colours() {
    import -window root "$CASE_DIR/root.png" || fail "no screenshot of the root window"
    local w h
    read -r w h < <(identify -format '%w %h' "$CASE_DIR/root.png")
    local p out=""
    for p in 0,0 $((w - 1)),0 0,$((h - 1)) $((w - 1)),$((h - 1)) $((w / 2)),$((h / 2)); do
        out+="$(convert "$CASE_DIR/root.png" -format "%[fx:round(255*p{$p}.r)],%[fx:round(255*p{$p}.g)],%[fx:round(255*p{$p}.b)]" info:) "
    done
    echo "${out% }"
}

expect_root() { # COLOUR
    local got
    got=$(root_colours)
    [[ $got == "$1 $1 $1 $1 $1" ]] || fail "the root window shows $got, expected $1 everywhere"
}

# The one picture in the picture folder, named after its content, at the screen's size.
expect_one_picture() { # WIDTHxHEIGHT
    local files
    mapfile -t files < <(find "$(PICTURES)" -mindepth 1)
    [[ ${#files[@]} -eq 1 ]] || fail "the picture folder holds ${#files[@]} entries: ${files[*]}"
    [[ ${files[0]} =~ /tarnwick-[0-9a-f]{16}\.png$ ]] || fail "unexpected picture name ${files[0]}"
    [[ $(identify -format '%wx%h' "${files[0]}") == "$1" ]] || fail "the picture is not $1"
    PICTURE=${files[0]}
}

run_page() { # WIDTHxHEIGHT
    start_program
    click "$RUN_X" "$RUN_Y"
    expect_exit 0
    expect_quiet
    expect_root "$BLOCK"
    expect_one_picture "$1"
}

close_page() { # WIDTHxHEIGHT
    start_program
    click "$CLOSE_X" "$CLOSE_Y"
    expect_exit 0
    expect_quiet
    expect_root '0,0,0'
    expect_one_picture "$1"
    [[ $(convert "$PICTURE" -format '%[fx:maxima.r+maxima.g+maxima.b]' info:) == 0 ]] || fail "the plain picture is not black"
    expect_section '"Wallpaper"=""' '"WallpaperStyle"="2"'
}

case_run_then_close_1024() {
    prepare_case none
    block_template
    xsetroot -solid '#202080'
    run_page 1024x768
    # The desktop is kept by its name with the picture it shows; the root window cannot be read back.
    local kept="\"TarnwickDesktops\"=\"an%20X%20window%20manager the%20X%20root%20window ${PICTURE##*/} \""
    expect_section "$kept" "\"Wallpaper\"=\"$PROG_DIR/2.htm\"" '"WallpaperStyle"="2"'
    close_page 1024x768
    note "the page filled 1024 x 768 on the root window; Close left it black"
}

case_run_then_close_1600() {
    prepare_case none
    block_template
    run_page 1600x1200
    close_page 1600x1200
    note "the page filled 1600 x 1200 on the root window; Close left it black"
}

case_greek_folder() {
    prepare_case none
    mv "$PROG_DIR" "$CASE_DIR/Ελληνικά" && PROG_DIR="$CASE_DIR/Ελληνικά" && PAGE="$PROG_DIR/2.htm"
    block_template
    seed_record
    run_page 1024x768
    # The store cannot spell the folder: no path is recorded rather than a wrong one.
    expect_section '"WallpaperStyle"="2"' '"TileWallpaper"="0"' \
        "\"TarnwickDesktops\"=\"an%20X%20window%20manager the%20X%20root%20window ${PICTURE##*/} \""
    note "shown from a folder named Ελληνικά; the record names no path"
}

# After one good Run, a failing one: the report, status 1, the same root window, the same
# picture file, the same page record, nothing left over.
expect_nothing_changed() { # ROOT-BEFORE PICTURE-COPY
    [[ $(root_colours) == "$1" ]] || fail "the root window changed"
    expect_one_picture 1024x768
    cmp -s "$PICTURE" "$2" || fail "the older picture was changed"
    expect_files_unchanged
    local stray
    stray=$(find "$(PICTURES)" -name '*.tmp' | head -n1)
    [[ -z $stray ]] || fail "left behind: $stray"
}

case_page_never_finishes() {
    prepare_case none
    block_template
    run_page 1024x768
    cp -p "$PICTURE" "$CASE_DIR/picture-before"
    local before
    before=$(root_colours)
    printf '<html><body><script>while (true) {}</script></body></html>' >"$PROG_DIR/1.htm"
    snapshot_files
    start_program
    # While it works: the busy cursor (neither the arrow nor the hand); a close request and
    # further clicks are ignored, so there is one report, once the bound has run out.
    xdotool mousemove "$((WIN_X + 2))" "$((WIN_Y + 2))"
    sleep 0.3
    local arrow hand cursor tenths=50
    arrow=$("$TARNWICK_XPROBE" cursor)
    xdotool mousemove "$((WIN_X + RUN_X))" "$((WIN_Y + RUN_Y))"
    until hand=$("$TARNWICK_XPROBE" cursor) && [[ $hand != "$arrow" ]]; do
        ((tenths-- > 0)) || fail "no hand over Run"
        sleep 0.1
    done
    click "$RUN_X" "$RUN_Y"
    tenths=50
    until cursor=$("$TARNWICK_XPROBE" cursor) && [[ $cursor != "$arrow" && $cursor != "$hand" ]]; do
        ((tenths-- > 0)) || fail "no busy cursor while the page is drawn (still $cursor)"
        sleep 0.1
    done
    close_request
    click "$RUN_X" "$RUN_Y"
    click "$CLOSE_X" "$CLOSE_Y"
    sleep 1
    is_running || fail "the program ended on a close request while it worked"
    wait_report
    grep -qF "could not be drawn for the desktop: it did not finish loading within 15.0 s." "$CASE_DIR/err" ||
        fail "the report does not name the bound: $(cat "$CASE_DIR/err")"
    # The report is up: over its box the arrow again, not the busy cursor.
    eval "$(xdotool getwindowgeometry --shell "$BOX")"
    xdotool mousemove "$((X + 3))" "$((Y + 3))"
    sleep 0.3
    cursor=$("$TARNWICK_XPROBE" cursor)
    [[ $cursor == "$arrow" ]] || fail "the busy cursor stays after the failure ($cursor)"
    sleep 0.5
    [[ $(grep -c "could not be drawn" "$CASE_DIR/err") -eq 1 && $(boxes | wc -l) -eq 1 ]] ||
        fail "more than one report: $(cat "$CASE_DIR/err")"
    dismiss_box
    expect_exit 1
    # 2.htm is written before the wallpaper is set, as on Windows; the record is not touched.
    rm -f "$CASE_DIR/before/2.htm"
    cp -p "$PAGE" "$CASE_DIR/before/2.htm"
    expect_nothing_changed "$before" "$CASE_DIR/picture-before"
    note "a page that never finishes: busy cursor, clicks and close ignored, reported after 15 s, nothing changed"
}

# The picture folder read-only for the user who runs the program (CI runs as root, who may
# write anywhere, so this runs as nobody).
case_picture_folder_read_only() {
    prepare_case none
    block_template
    chmod 755 "$CASE_DIR"
    cp "$XAUTHORITY" "$CASE_DIR/xauthority" && chmod 644 "$CASE_DIR/xauthority"
    chown -R nobody "$PROG_DIR" "$HOME_DIR"
    start_as_nobody
    click "$RUN_X" "$RUN_Y"
    expect_exit 0
    expect_root "$BLOCK"
    expect_one_picture 1024x768
    cp -p "$PICTURE" "$CASE_DIR/picture-before"
    local before
    before=$(root_colours)

    printf '%s' '<html><body style="margin:0;background:#d0d0d0"></body></html>' >"$PROG_DIR/1.htm"
    chmod 555 "$(PICTURES)"
    snapshot_files
    start_as_nobody
    click "$RUN_X" "$RUN_Y"
    wait_report
    grep -qF "Cannot write the desktop picture $(PICTURES)/tarnwick-" "$CASE_DIR/err" ||
        fail "the report does not name the picture: $(cat "$CASE_DIR/err")"
    grep -qF "Permission denied" "$CASE_DIR/err" || fail "the report does not say why"
    dismiss_box
    expect_exit 1
    rm -f "$CASE_DIR/before/2.htm"
    cp -p "$PAGE" "$CASE_DIR/before/2.htm"
    expect_nothing_changed "$before" "$CASE_DIR/picture-before"
    note "run as nobody, picture folder read-only: reported, nothing changed"
}

# root_pixmap: the one pixmap both properties of the root window name, in ROOT_PIXMAP.
root_pixmap() {
    ROOT_PIXMAP=$(xprop -root _XROOTPMAP_ID ESETROOT_PMAP_ID |
        awk '/pixmap id/ { n++; id[$NF] } END { if (n == 2 && length(id) == 1) for (i in id) print i }')
    [[ -n $ROOT_PIXMAP ]]
}

# Two monitors on a plain window manager (1000 x 768 at the left, the primary 1024 x 768 to its
# right): the page at the primary's size from its own corner, the left one plain. Then caja draws
# the desktop from a pixmap named in both properties: Run and Close leave it running.
case_two_monitors() {
    prepare_case none
    # Red, a green square at the top left corner, a blue one at the bottom right.
    printf '%s' '<html><body style="margin:0;background:#c02020"><div style="position:fixed;left:0;top:0;width:40px;height:40px;background:#3c8a51"></div><div style="position:fixed;right:0;bottom:0;width:40px;height:40px;background:#2040c0"></div></body></html>' >"$PROG_DIR/1.htm"
    xrandr --setmonitor '*primary' 1024/270x768/203+1000+0 screen >/dev/null &&
        xrandr --setmonitor left 1000/264x768/198+0+0 none >/dev/null || fail "cannot make the monitors"
    local bus pids=() tenths=300 plain
    # The bus, and so dconf, lives in the program's own home, as in a session.
    mkdir -p -m 700 "$CASE_DIR/runtime"
    export HOME="$HOME_DIR" XDG_CONFIG_HOME="$HOME_DIR/.config" XDG_RUNTIME_DIR="$CASE_DIR/runtime"
    bus=$(dbus-launch --sh-syntax --exit-with-x11) || fail "no session bus"
    (eval "$bus" && exec xfwm4 --compositor=off >"$CASE_DIR/xfwm4.log" 2>&1) &
    pids+=($!)
    timeout 10 bash -c 'until xprop -root _NET_SUPPORTING_WM_CHECK | grep -q "window id"; do sleep 0.1; done' ||
        fail "xfwm4 did not start: $(cat "$CASE_DIR/xfwm4.log")"
    start_program
    click "$RUN_X" "$RUN_Y"
    expect_exit 0
    expect_quiet
    expect_one_picture 1024x768
    import -window root "$CASE_DIR/root.png" && convert "$CASE_DIR/root.png" -crop 1024x768+1000+0 "$CASE_DIR/primary.png" &&
        [[ $(compare -metric AE "$CASE_DIR/primary.png" "$PICTURE" null: 2>&1) == 0 &&
            $(convert "$CASE_DIR/root.png" -crop 1000x768+0+0 -format '%[fx:maxima]' info:) == 0 ]] ||
        fail "the primary monitor does not show the picture from its corner, or the left one is not black"
    close_page 1024x768
    root_pixmap || fail "no pixmap named in both properties"
    plain=$ROOT_PIXMAP
    # caja now draws the desktop (its window over the root, its own pixmap named in both
    # properties): the program, on caja's bus, takes MATE's road, and the root is left alone.
    (eval "$bus" && exec caja --force-desktop -n >"$CASE_DIR/caja.log" 2>&1) &
    pids+=($!)
    until root_pixmap && [[ $ROOT_PIXMAP != "$plain" ]]; do
        ((tenths-- > 0)) || fail "caja did not set its background: $(cat "$CASE_DIR/caja.log")"
        sleep 0.1
    done
    eval "$bus"
    # The person's own background, and caja showing it.
    convert -size 1024x768 xc:'rgb(200,120,40)' "$CASE_DIR/mine.png" && convert -size 1024x768 xc:'rgb(40,160,200)' \
        "$CASE_DIR/other.png" || fail "cannot make the person's pictures"
    gsettings set org.mate.background picture-filename "$CASE_DIR/mine.png" || fail "cannot set MATE's background"
    local before shown
    before=$(gsettings get org.mate.background picture-filename)
    mate_screen mine '200,120,40'
    run_or_close() { # RUN|CLOSE [STATUS]
        if [[ $1 == RUN* ]]; then click "$RUN_X" "$RUN_Y"; else click "$CLOSE_X" "$CLOSE_Y"; fi
        if [[ ${2:-0} != 0 ]]; then wait_report && dismiss_box; fi
        expect_exit "${2:-0}"
    }
    start_program && run_or_close CLOSE  # no Run before it: nothing changes
    [[ $(gsettings get org.mate.background picture-filename) == "$before" ]] || fail "Close without Run changed MATE's background"
    start_program && run_or_close RUN
    shown=$(gsettings get org.mate.background picture-filename)
    [[ $shown == *"/.local/share/tarnwick/tarnwick-"*.png"'" ]] || fail "MATE's background is $shown after Run"
    grep -q '^"TarnwickDesktops"="Caja MATE.s%20background%20settings%20(org.mate.background) tarnwick-' "$STORE" || fail "Run did not keep MATE's background: $(cat "$STORE")"
    mate_screen run 192,32,32  # the page's own background there
    start_program && run_or_close CLOSE
    [[ $(gsettings get org.mate.background picture-filename) == "$before" ]] ||
        fail "Close did not bring back MATE's background $before"
    mate_screen close '200,120,40'
    # Run, the person picks another, Close: theirs stays.
    start_program && run_or_close RUN
    gsettings set org.mate.background picture-filename "$CASE_DIR/other.png"
    start_program && run_or_close CLOSE
    [[ $(gsettings get org.mate.background picture-filename) == "'$CASE_DIR/other.png'" ]] || fail "Close took the person's new background"
    mate_screen theirs '40,160,200'
    # Run, Close, a store that cannot be written, Run: reported, the person's background on screen.
    start_program && run_or_close RUN
    start_program && run_or_close CLOSE
    start_program_read_only_store && run_or_close RUN 1
    [[ $(gsettings get org.mate.background picture-filename) == "'$CASE_DIR/other.png'" ]] || fail "a Run that could not keep its record changed MATE's background"
    mate_screen read-only '40,160,200'
    sleep 1
    kill -0 "${pids[1]}" || fail "caja ended: $(cat "$CASE_DIR/caja.log")"
    kill "${pids[@]}" && wait "${pids[@]}"
    note "the primary monitor showed the page from its corner, the left one black; with caja, MATE's road: Close gave the person's own back, left what the person chose since, did nothing without a Run; a read-only store left theirs on screen; caja ran on"
}

# mate_screen NAME R,G,B: caja shows the colour on the primary monitor within a few seconds.
mate_screen() {
    local tenths=100 got
    until got=$(import -window root "$CASE_DIR/mate-$1.png" &&
        convert "$CASE_DIR/mate-$1.png" -format '%[fx:round(255*p{1700,700}.r)],%[fx:round(255*p{1700,700}.g)],%[fx:round(255*p{1700,700}.b)]' info:) &&
        [[ $got == "$2" ]]; do
        ((tenths-- > 0)) || fail "caja shows $got after $1, expected $2"
        sleep 0.1
    done
}

start_as_nobody() {
    mkdir -p -m 700 "$CASE_DIR/runtime" && chown nobody "$CASE_DIR/runtime"
    (cd "$CASE_DIR" && exec setpriv --reuid=nobody --regid=nogroup --clear-groups \
        env HOME="$HOME_DIR" XDG_CONFIG_HOME="$HOME_DIR/.config" XAUTHORITY="$CASE_DIR/xauthority" \
        XDG_RUNTIME_DIR="$CASE_DIR/runtime" "$PROG_DIR/tarnwick" >"$CASE_DIR/out" 2>"$CASE_DIR/err") &
    PID=$!
    wait_main_window
}

run_cases 1024x768:case_run_then_close_1024 1600x1200:case_run_then_close_1600 1024x768:case_greek_folder \
    1024x768:case_page_never_finishes 1024x768:case_picture_folder_read_only 2024x768:case_two_monitors
