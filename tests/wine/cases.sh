#!/usr/bin/env bash
# End-to-end cases of the Windows program under Wine. Run one case: cases.sh NAME
# ("prefix" makes the pristine prefix the other cases copy). tests/wine/CMakeLists.txt runs them.

source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

readonly SHELL_STATE='1C 00 00 00 63 08 00 00 00 00 00 00 00 00 00 00 00 00 00 00 01 00 00 00 0A 00 00 00'
readonly SUPPORT_TEXT='For support contact us at support@tarnwick.example.com or visit our website at '\
'https://www.tarnwick.example.com.'
readonly OTHER_STATE='DEADBEEF'

# An older page, left by an earlier run.
write_old_page() {
    printf 'an older page\r\n' >"$PAGE"
    cp "$PAGE" "$CASE_DIR/old.htm"
}

expect_old_page() {
    expect_file_bytes "$PAGE" "$CASE_DIR/old.htm"
}

expect_no_page() {
    [[ ! -e $PAGE ]] || fail "2.htm was written"
}

expect_page() {
    if [[ -n ${TW_ZIP:-} ]]; then
        # The shipped sample has no comma and no item that begins with a quote: each line, without
        # its blanks around, is an item.
        LC_ALL=C grep -q ',\|^[[:blank:]]*"' "$TEMPLATE" && fail "the sample's page needs the item rules"
        { printf '\r\n' && sed -e 's/^[[:blank:]]*//; s/[[:blank:]]*\r$/\r/' -e "s/800/$1/g; s/600/$2/g" "$TEMPLATE" &&
            printf '\r\n'; } >"$CASE_DIR/expected.htm"
    else
        expected_test_page "$1" "$2" >"$CASE_DIR/expected.htm"
    fi
    expect_file_bytes "$PAGE" "$CASE_DIR/expected.htm"
}

# expect_wallpaper_log PATH [LINE...]: see wallpaper_calls.
expect_wallpaper_log() {
    local lines
    mapfile -t lines < <(wallpaper_calls "$@")
    expect_log "${lines[@]}"
}

# run VERSION: "Run Tarnwick" writes the page, sets ShellState on the Windows 95 family only, sets
# the page as the wallpaper and ends the program. On 2000 and XP the recorder reports web content
# off, as those systems ship, and Run turns it on; on NT 4 it reports it on, and Run only reads it.
# Then Close gives the web content back as Run found it: off again on 2000 and XP, on on NT 4. On
# 2000, a policy that keeps it off (the recorder plays NoActiveDesktop) makes Run put the person's
# wallpaper back and report, non-zero. On 95 without an Active Desktop class, ShellState stays.
case_run() {
    begin_case "run-$1" 1024x768
    set_windows_version "$1"
    set_shell_state "$OTHER_STATE"
    local items=() PROBE= READ_FIRST=
    case $1 in
    win2k | winxp)
        export TARNWICK_RECORDER_WEB_CONTENT=off
        items=("$ITEMS_OFF" "$ITEMS_TURNED_ON")
        ;;
    nt40) items=("$ITEMS_ON") ;;
    *) PROBE=1 ;;
    esac
    ((${#items[@]})) && READ_FIRST=$READ_NONE
    # New files of killed runs, none open: from ten minutes ago, from a minute ago and from a
    # moment ago.
    printf 'half a page' >"$APP/~TW0A1B2.TMP"
    touch -d '10 minutes ago' "$APP/~TW0A1B2.TMP"
    printf 'half a page' >"$APP/~TW0E5F6.TMP"
    touch -d '1 minute ago' "$APP/~TW0E5F6.TMP"
    printf 'half a page' >"$APP/~TW0C3D4.TMP"
    start_program
    expect_eq "window size" "$WIN_SIZE" 196x300
    click run
    wait_exit 20
    expect_eq "exit status" "$STATUS" 0
    expect_page 1024 768
    case $1 in
    win95 | win98 | winme) expect_eq ShellState "$(shell_state)" "REG_BINARY ${SHELL_STATE// /}" ;;
    *) expect_eq ShellState "$(shell_state)" "REG_BINARY $OTHER_STATE" ;;
    esac
    expect_wallpaper_log "$(winpath "$PAGE")" "${items[@]}"
    # NT removes every one no one holds open; the 95 family only one last written over two
    # minutes ago, which no running copy's can be.
    local left shipped="1.htm 2.htm${TW_ZIP:+ README.txt} tarnwick.exe"
    left=$(cd "$APP" && LC_ALL=C && echo *)
    case $1 in
    win95 | win98 | winme) expect_eq "files left" "$left" "$shipped ~TW0C3D4.TMP ~TW0E5F6.TMP" ;;
    *) expect_eq "files left" "$left" "$shipped" ;;
    esac
    [[ ! -e $ENGINE_LOG ]] || fail "the page engine was created on $1"
    note "page, ShellState and wallpaper as expected on $1"
    if [[ $1 == win95 ]]; then
        set_shell_state "$OTHER_STATE"
        reg delete "${TW_SERVER_KEY%\\*}" /f /reg:32 || fail "cannot remove the Active Desktop class"
        start_program
        click run
        expect_report "The desktop wallpaper could not be set: the Active Desktop object could not be created*\
Error 0x80040154: No Active Desktop class is registered"
        expect_eq "ShellState without the desktop update" "$(shell_state)" "REG_BINARY $OTHER_STATE"
    fi
    ((${#items[@]})) || return 0
    READ_FIRST=
    rm -f "$LOG"
    start_program
    click close
    wait_exit 20
    expect_eq "exit status of Close" "$STATUS" 0
    expect_log "$(if [[ $1 == nt40 ]]; then wallpaper_calls ""; else wallpaper_calls "" "$ITEMS_ON" "${ITEMS_TURNED_ON/1 r/0 r}" |
        head -n 7; fi)"
    expect_eq "web content after Close" "$(reg_value "$TW_RECORDER_KEY" WebContent)" "$([[ $1 == nt40 ]] && echo 0x1 || echo 0x0)"
    expect_eq "the program's note" "$(reg_value "$TW_PROGRAM_KEY" WebContentTurnedOn)" absent
    note "Close: the web content as Run found it"
    [[ $1 == win2k ]] || return 0
    rm -f "$LOG"
    local own='C:\users\Public\holiday.bmp'
    reg add "$TW_RECORDER_KEY" /v Wallpaper /d "$own" /f || fail "cannot set the person's wallpaper"
    TARNWICK_RECORDER_POLICY=web-content-off start_program
    click run
    expect_report "The page * does not show as the desktop wallpaper: this system's policy keeps the desktop's web \
content (the Active Desktop) off. The wallpaper you had (*) was put back.*Error 1260: A policy keeps the desktop's web \
content off"
    # The wallpaper read first, and put back with the style it had (the page's is 2).
    expect_eq "wallpaper after the report" "$(reg_value "$TW_RECORDER_KEY" Wallpaper)" "$own"
    grep -qxF "SetWallpaperOptions size=8 style=0 reserved=0" "$LOG" || fail "the style was not put back"
    note "policy: reported: ${BOX_TEXT//\\n/ }; the person's wallpaper is back"
}

# The page the vista cases draw: its colour and size for the stand-in engine, and addresses that
# the security manager refuses (the network's) and allows (the page's own files).
write_engine_template() {
    printf '%s\r\n' '<html><body bgcolor="#1e90c8">' '<div style="width=800 height=600">' \
        '<img src="http://example.com/tracker.png">' '<script src="file:///C:/page.js"></script>' \
        '<a href="https://example.com/">away</a>' "${1:-}" '</body></html>' >"$TEMPLATE"
}

readonly PERSON_RGB='200 120 40' OTHER_RGB='40 160 60' PAGE_RGB='30 144 200'

# expect_screen WHAT "R G B" [mark]: Wine's desktop shows one colour (with the page's mark).
expect_screen() {
    sleep 1
    screenshot "$CASE_DIR/$1.png"
    local failures
    failures=$(python3 "$TW_XCHECK" screen "$CASE_DIR/$1.png" 1024x768 "$2" ${3:-}) || fail "screen $1: $failures"
}

# The person's wallpaper kept by Run, as "path|style|tile", or "absent".
kept_wallpaper() {
    local path
    path=$(reg_value "$TW_PROGRAM_KEY" SavedWallpaper)
    [[ $path == absent ]] && echo absent || echo "$path|$(reg_value "$TW_PROGRAM_KEY" SavedWallpaperStyle)"
}

# Our pictures in the person's local application data.
pictures() {
    (cd "$WINEPREFIX/drive_c/users/$(id -un)/AppData/Local/Tarnwick" 2>/dev/null && LC_ALL=C && echo tarnwick-*.bmp)
}

# vista VERSION (win7, win10), on Wine's own desktop, with the stand-in engine: a person's bitmap is
# on screen; Run draws the page at the screen's size and the screen shows it, unscaled (the mark in
# its corner), the person's wallpaper kept; a second Run keeps it still; Close shows the person's
# bitmap again and forgets it. A person who chose another wallpaper after Run keeps it through Close.
# Run reports, names 2.htm, ends non-zero and leaves the screen as it was where the page loads too
# slowly (win10), where the engine fails (win7) and where a policy forbids changing the wallpaper
# or sets one (win7). On win10 the program folder is named beyond the ANSI code page, and the build number is
# 16384 or more, where a test of GetVersion's wrong bit takes NT for Windows 95; 10 in Windows 95
# and XP compatibility mode does as 10 does and says that the mode is not needed.
case_vista() {
    export LC_ALL=C.UTF-8
    [[ $1 == win10 ]] && APP_NAME='Tarnwick Ελληνικά'
    begin_case "vista-$1" 1024x768
    set_windows_version "$1"
    local version
    version=$(wintool version)
    [[ $1 == win7 && $version == "6.1 2" || $1 == win10 && $version == "10.0 2" ]] ||
        fail "version record on $1: $version"
    if [[ $1 == win10 ]]; then
        local build
        build=$(wintool getversion | sed -n 's/^build=\([0-9]*\) nt=1$/\1/p')
        ((${build:-0} >= 16384)) || fail "GetVersion on win10 gives build '${build}', not 16384 or more"
    fi
    use_virtual_desktop 1024x768
    write_engine_template
    local public=$WINEPREFIX/drive_c/users/Public
    python3 "$TW_XCHECK" bitmap "$public/holiday.bmp" 1024x768 "$PERSON_RGB" &&
        python3 "$TW_XCHECK" bitmap "$public/other.bmp" 1024x768 "$OTHER_RGB" || fail "cannot write the bitmaps"
    wintool wallpaper 'C:\users\Public\holiday.bmp' >/dev/null || fail "cannot set the person's wallpaper"
    expect_screen person "$PERSON_RGB"

    local round
    for round in 1 2; do
        start_program
        click run
        wait_exit 30
        expect_eq "exit status of Run $round" "$STATUS" 0
        expect_screen "page$round" "$PAGE_RGB" mark
        expect_eq "kept after Run $round" "$(kept_wallpaper)" 'C:\users\Public\holiday.bmp|absent'
    done
    { printf '\r\n' && sed -e "s/800/1024/; s/600/768/" "$TEMPLATE" && printf '\r\n'; } >"$CASE_DIR/expected.htm"
    expect_file_bytes "$PAGE" "$CASE_DIR/expected.htm"
    [[ $(pictures) == tarnwick-????????????????.bmp ]] || fail "pictures: $(pictures)"
    local url=file:///$(winpath "$PAGE" | sed 's|\\|/|g; s| |%20|g; s|Ελληνικά|%CE%95%CE%BB%CE%BB%CE%B7%CE%BD%CE%B9%CE%BA%CE%AC|')
    local line
    for line in "DoVerb verb=-5 site=same area=1024x768 window=1024x768 hidden" "put_Silent 1" \
        "DownloadControl hr=0x0 value=0x70008710" \
        "ProcessUrlAction url=$url hr=0x800c0011 policy=0xffffffff fetched" \
        "ProcessUrlAction url=http://example.com/tracker.png hr=0x1 policy=0x3 refused" \
        "ProcessUrlAction url=file:///C:/page.js hr=0x800c0011 policy=0xffffffff fetched" \
        "ProcessUrlAction url=https://example.com/ hr=0x1 policy=0x3 refused" \
        "Draw aspect=1 bounds=0,0,1024,768 page=1024x768 bgcolor=#1e90c8" "Release refs=0"; do
        grep -qxF "$line" "$ENGINE_LOG" || fail "the engine was not asked: $line
$(cat "$ENGINE_LOG")"
    done
    note "Run: the page's picture on screen, the person's wallpaper kept"

    start_program
    click close
    wait_exit 20
    expect_eq "exit status of Close" "$STATUS" 0
    expect_screen closed "$PERSON_RGB"
    expect_eq "kept after Close" "$(kept_wallpaper)" absent
    expect_eq "pictures after Close" "$(pictures)" 'tarnwick-*.bmp'
    note "Close: the person's bitmap on screen again"

    start_program
    click run
    wait_exit 30
    wintool wallpaper 'C:\users\Public\other.bmp' >/dev/null || fail "cannot choose another wallpaper"
    start_program
    click close
    wait_exit 20
    expect_screen chosen "$OTHER_RGB"
    expect_eq "kept after Close" "$(kept_wallpaper)" absent
    note "the person's later choice stays through Close"

    local failure
    local policies='HKCU\Software\Microsoft\Windows\CurrentVersion\Policies'
    for failure in $([[ $1 == win10 ]] && echo slow || echo fail policy wallpaper-policy); do
        if [[ $failure == policy ]]; then
            reg add "$policies\ActiveDesktop" /v NoChangingWallPaper /t REG_DWORD /d 1 /f || fail "cannot set the policy"
        elif [[ $failure == wallpaper-policy ]]; then
            reg delete "$policies\ActiveDesktop" /v NoChangingWallPaper /f &&
                reg add "$policies\System" /v Wallpaper /d 'C:\users\Public\other.bmp' /f || fail "cannot set the policy"
        else
            write_engine_template "<!-- tarnwick-engine-$failure -->"
        fi
        expect_run_unchanged "$failure" "$OTHER_RGB"
    done
    [[ $1 == win10 ]] || return 0

    # 10 with the program in Windows 95, then XP, compatibility mode (Wine tells tarnwick.exe alone
    # the older version; the shared data page stays 10's): Run as on 10, and it says so.
    write_engine_template
    local mode
    for mode in win95 winxp; do
        reg add 'HKCU\Software\Wine\AppDefaults\tarnwick.exe' /v Version /d "$mode" /f || fail "no mode $mode"
        start_program
        click run
        wait_box 30
        [[ $BOX_TEXT == "The page is the desktop wallpaper. Tarnwick runs in a compatibility mode for an older "\
"Windows, which it does not need"* ]] || fail "report in $mode mode: '$BOX_TEXT'"
        press Return
        wait_exit 20
        expect_eq "exit status in $mode mode" "$STATUS" 0
        expect_screen "$mode" "$PAGE_RGB" mark
    done
    start_program
    click close
    wait_exit 20
    expect_screen closed-mode "$OTHER_RGB"
    note "compatibility modes: as on 10, and said so"
}

# vista-monitors: 10 with two monitors (the recorder's stand-in for each monitor's wallpaper; the
# primary one, 1024x768, comes second, beside a larger one), the person's own picture on each: Run
# draws the page at the primary monitor's size and puts it there alone, stretched, through the
# monitors' interface, not the single wallpaper; Close gives each monitor its own back. After
# another Run the person chooses another picture for the primary monitor: Close leaves it.
case_vista_monitors() {
    begin_case vista-monitors 1024x768
    set_windows_version win10
    reg add "$TW_MONITORS_KEY" /ve /d 'C:\tarnwick-test\recorder.dll' /f /reg:32 &&
        reg add "$TW_MONITORS_KEY" /v ThreadingModel /d Apartment /f /reg:32 &&
        reg add "$TW_RECORDER_KEY" /v 'Monitor1' /d 'C:\side.bmp' /f &&
        reg add "$TW_RECORDER_KEY" /v 'Monitor2' /d 'C:\main.bmp' /f || fail "cannot set up the monitors"
    write_engine_template
    local single folder
    single=$(reg_value 'HKCU\Control Panel\Desktop' Wallpaper)
    folder="C:\\users\\$(id -un)\\AppData\\Local\\Tarnwick"
    monitors() { echo "$(reg_value "$TW_RECORDER_KEY" 'Monitor1') $(reg_value "$TW_RECORDER_KEY" 'Monitor2')"; }

    start_program
    click run
    wait_exit 30
    expect_eq "exit status of Run" "$STATUS" 0
    local picture
    picture=$(pictures)
    [[ $picture == tarnwick-????????????????.bmp ]] || fail "pictures: $picture"
    expect_eq "monitors after Run" "$(monitors)" "C:\\side.bmp $folder\\$picture"
    expect_eq "the single wallpaper after Run" "$(reg_value 'HKCU\Control Panel\Desktop' Wallpaper)" "$single"
    grep -qxF "SetPosition 2" "$LOG" || fail "the picture was not stretched: $(cat "$LOG")"
    expect_eq "monitors Run set" "$(grep -c '^SetWallpaper' "$LOG")" 1
    grep -qF "Draw aspect=1 bounds=0,0,1024,768 " "$ENGINE_LOG" || fail "not drawn at the primary's size"
    local failures
    failures=$(python3 "$TW_XCHECK" screen "$WINEPREFIX/drive_c/users/$(id -un)/AppData/Local/Tarnwick/$picture" \
        1024x768 "$PAGE_RGB" mark) || fail "the picture: $failures"
    note "Run: the page on the primary monitor at its size, the other keeps the person's"

    start_program
    click close
    wait_exit 20
    expect_eq "exit status of Close" "$STATUS" 0
    expect_eq "monitors after Close" "$(monitors)" 'C:\side.bmp C:\main.bmp'
    expect_eq "kept after Close" "$(kept_wallpaper)" absent
    expect_eq "pictures after Close" "$(pictures)" 'tarnwick-*.bmp'

    start_program
    click run
    wait_exit 30
    reg add "$TW_RECORDER_KEY" /v 'Monitor2' /d 'C:\other.bmp' /f || fail "cannot choose another picture"
    start_program
    click close
    wait_exit 20
    expect_eq "monitors after the person's choice and Close" "$(monitors)" 'C:\side.bmp C:\other.bmp'
    expect_eq "kept after Close" "$(kept_wallpaper)" absent
    note "Close: each monitor's own back; the person's later choice stays"
}

# With Wine's own engine, whose MSHTML draws nothing without its Gecko package: Run reports, names
# 2.htm, ends non-zero, and the person's bitmap stays on screen; nothing is kept.
case_vista_no_engine() {
    begin_case vista-no-engine 1024x768
    set_windows_version win10
    restore_wine_engine
    use_virtual_desktop 1024x768
    write_engine_template
    python3 "$TW_XCHECK" bitmap "$WINEPREFIX/drive_c/users/Public/holiday.bmp" 1024x768 "$PERSON_RGB" ||
        fail "cannot write the bitmap"
    wintool wallpaper 'C:\users\Public\holiday.bmp' >/dev/null || fail "cannot set the person's wallpaper"
    expect_run_unchanged no-engine "$PERSON_RGB"
    [[ ! -e $ENGINE_LOG ]] || fail "the stand-in engine was used"
}

# expect_run_unchanged WHAT "R G B": Run reports that the page, named, did not become the wallpaper
# and ends non-zero; the screen still shows the colour and nothing is kept.
expect_run_unchanged() {
    start_program
    click run
    expect_report "The page was written to *2.htm, but it did not become the desktop wallpaper: * The wallpaper \
was left as it was.*Error *" 40
    expect_screen "$1" "$2"
    expect_eq "kept after a failed Run" "$(kept_wallpaper)" absent
    note "$1: ${BOX_TEXT//\\n/ }"
}

# expect_report PATTERN [SECONDS]: a report matching PATTERN (no paths: backslashes escape) within
# SECONDS (20); OK ends it, non-zero.
expect_report() {
    wait_box "${2:-20}"
    [[ $BOX_TEXT == $1 ]] || fail "report: '$BOX_TEXT'"
    press Return
    wait_exit 20
    [[ $STATUS != 0 ]] || fail "exit status 0 after the report"
}

# relay VERSION: on the Windows 95 family the program's own code calls only the ANSI entry points
# and the few wide ones those systems implement: start-up and Run under Wine's relay log, which
# also shows that the file and window functions taken were the ANSI ones. On NT (winxp, and win10
# from a folder named beyond the ANSI code page, where Run draws the page with the stand-in engine
# and the page's picture is written like the page) the file functions taken are the wide ones. On both, the new page is flushed after its last write and before it is
# renamed over 2.htm. The display has 256 colours: the picture is drawn through a halftone palette.
case_relay() {
    local nt=0
    case $1 in
    win95 | win98 | winme) ;;
    win10)
        nt=1
        export LC_ALL=C.UTF-8
        APP_NAME='Tarnwick Ελληνικά'
        ;;
    *) nt=1 ;;
    esac
    DEPTH=8 begin_case "relay-$1" 1024x768
    set_windows_version "$1"
    PROGRAM_WINEDEBUG=+relay,+pid,+loaddll PROGRAM_START_SECONDS=120 start_program
    click run
    wait_exit 120
    expect_eq "exit status" "$STATUS" 0
    # The page engine is created on Vista and later only, the Active Desktop object before Vista only.
    if [[ $1 == win10 ]]; then
        expect_no_log
        grep -qx 'CreateInstance ok' "$ENGINE_LOG" || fail "the page engine was not created on 10"
    else
        [[ ! -e $ENGINE_LOG ]] || fail "the page engine was created on $1"
    fi
    expect_page 1024 768
    local report
    if ((nt)); then
        [[ $1 == win10 ]] || expect_eq ShellState "$(shell_state)" absent
        report=$(python3 "$TW_SOURCE/tests/wine/relay_check.py" --nt "$CASE_DIR/program.out" "$TW_PROGRAM" \
            "$TW_OBJDUMP" KERNEL32.CreateFileW KERNEL32.MoveFileExW KERNEL32.FindFirstFileW \
            KERNEL32.GetModuleFileNameW KERNEL32.FlushFileBuffers GDI32.CreateHalftonePalette \
            $([[ $1 == win10 ]] && echo USER32.SystemParametersInfoW GDI32.CreateDIBSection ADVAPI32.RegQueryValueExW)) ||
            fail "relay log: $report"
    else
        expect_eq ShellState "$(shell_state)" "REG_BINARY ${SHELL_STATE// /}"
        report=$(python3 "$TW_SOURCE/tests/wine/relay_check.py" "$CASE_DIR/program.out" "$TW_PROGRAM" "$TW_OBJDUMP" \
            KERNEL32.CreateFileA KERNEL32.MoveFileA KERNEL32.GetModuleFileNameA USER32.CreateWindowExA \
            USER32.DrawTextA ADVAPI32.RegSetValueExA OLE32.CoInitialize KERNEL32.FlushFileBuffers \
            GDI32.CreateHalftonePalette) ||
            fail "relay log: $report"
    fi
    note "${report//$'\n'/; }"
}

# A program folder named beyond ASCII: the program finds its template there and hands the page's
# full name to the shell.
case_unicode_folder() {
    # Wine reads Unix file names in the locale's character set.
    export LC_ALL=C.UTF-8
    APP_NAME='Tarnwick Prögram Ελληνικά 日本'
    begin_case unicode-folder 1024x768
    set_windows_version winxp
    start_program
    click run
    wait_exit 20
    expect_eq "exit status" "$STATUS" 0
    expect_page 1024 768
    READ_FIRST=$READ_NONE expect_wallpaper_log "$(winpath "$PAGE")" "$ITEMS_ON"
    note "page written and set in $(winpath "$APP")"
}

# The page carries the screen's size: 1600 x 1200 pixels at 96 dpi.
case_screen_1600() {
    begin_case screen-1600 1600x1200
    set_windows_version winxp
    start_program
    expect_eq "window size" "$WIN_SIZE" 196x300
    click run
    wait_exit 20
    expect_eq "exit status" "$STATUS" 0
    expect_page 1600 1200
    note "width=1600 height=1200"
}

# At 120 dpi the size is in twips / 15: 1280 x 1024 pixels give 1024 x 819.2. The window and its
# controls grow with the dpi, the picture keeps its size.
case_screen_120dpi() {
    begin_case screen-120dpi 1280x1024
    set_windows_version win98
    set_dpi 120
    start_program
    expect_eq "window size" "$WIN_SIZE" 245x375
    screenshot "$CASE_DIR/window.png"
    local failures
    failures=$(python3 "$TW_XCHECK" layout "$CASE_DIR/window.png" "$WIN_LEFT" "$WIN_TOP" 120 \
        "$TW_CAPTION_RGB" "$TW_SOURCE/resources/picture.jpg") || fail "layout at 120 dpi: $failures"
    click run
    wait_exit 20
    expect_eq "exit status" "$STATUS" 0
    expect_page 1024 819.2
    expect_eq ShellState "$(shell_state)" "REG_BINARY ${SHELL_STATE// /}"
    PROBE=1 expect_wallpaper_log "$(winpath "$PAGE")"
    note "1024 x 819.2, window 245x375, layout scaled"
}

# "Close Tarnwick" clears the wallpaper and ends; the page and the registry stay as they were.
case_close() {
    begin_case close 1024x768
    set_windows_version win98
    set_shell_state "$OTHER_STATE"
    write_old_page
    start_program
    click close
    wait_exit 20
    expect_eq "exit status" "$STATUS" 0
    expect_wallpaper_log ""
    expect_old_page
    expect_eq ShellState "$(shell_state)" "REG_BINARY $OTHER_STATE"
    note "wallpaper cleared, nothing else changed"
}

# "Support" shows the same box each time, modal to the window, which stays.
case_support() {
    begin_case support 1024x768
    start_program
    local round
    for round in 1 2 3; do
        if [[ $round == 2 ]]; then
            click support 3  # the right button works as well
        else
            click support
        fi
        wait_box 10
        expect_eq "box text" "$BOX_TEXT" "$SUPPORT_TEXT"
        expect_eq "box icon" "$BOX_ICON" no
        expect_eq "box buttons" "$BOX_BUTTONS" OK
        expect_eq "box owner" "$BOX_OWNER" main
        expect_eq "main window enabled under the box" "$BOX_MAIN_ENABLED" 0
        expect_eq "open boxes" "$BOX_COUNT" 1
        [[ $round == 1 ]] && screenshot "$CASE_DIR/support.png"
        press Return
        wait_no_box 10
        expect_running "after dismissing the support box"
    done
    expect_no_page
    expect_no_log
    wintool close || fail "cannot ask the window to close"
    wait_exit 20
    expect_eq "exit status" "$STATUS" 0
    note "support box shown three times, window stayed"
}

# Clicks away from the commands, drags between them and keys do nothing.
case_inert() {
    begin_case inert 1024x768
    set_windows_version win98
    set_shell_state "$OTHER_STATE"
    start_program
    local control
    for control in title picture line1 line2 line3 line4 line5; do
        click "$control"
        click "$control" 3
    done
    click_at 2 2
    click_at 192 120
    click_at 100 296 3
    drag run support
    drag support run
    drag close run
    # A press whose capture the system takes away: the release over the same label is no click.
    press_on run
    wintool cancel-mode || fail "cannot send WM_CANCELMODE"
    release_on run
    # The same when another window takes the capture without WM_CANCELMODE: the program is told
    # only by WM_CAPTURECHANGED.
    local taken
    press_on run
    taken=$(wintool steal-capture) || fail "cannot take the capture from the window: $taken"
    release_on run
    sleep 1
    expect_running "after a release whose press lost the capture to another window"
    expect_no_page
    press_on close 3
    wintool cancel-mode || fail "cannot send WM_CANCELMODE"
    release_on close 3
    local info
    info=$(wintool main)
    grep -q 'foreground=1' <<<"$info" || fail "the window does not have the keyboard: $info"
    press Return Escape space Tab a r s c x F1 Up Down KP_Enter BackSpace Delete
    sleep 1
    expect_running "after the clicks and keys"
    expect_eq "open boxes" "$(box_count)" 0
    # The input so far has been handled once a later click is: Support shows its box.
    click support
    wait_box 10
    press Return
    wait_no_box 10
    expect_no_page
    expect_no_log
    expect_eq ShellState "$(shell_state)" "REG_BINARY $OTHER_STATE"
    expect_running "at the end"
    wintool close || fail "cannot ask the window to close"
    wait_exit 20
    expect_eq "exit status" "$STATUS" 0
    note "nothing happened"
}

# Without a template, Run reports the failure once and ends non-zero; nothing is changed.
case_missing_template() {
    begin_case missing-template 1024x768 none
    set_windows_version win98
    set_shell_state "$OTHER_STATE"
    write_old_page
    start_program
    click run
    wait_box 10
    local template
    template=$(winpath "$TEMPLATE")
    [[ $BOX_TEXT == "Cannot read the template $template.\n\nError 2: "* ]] ||
        fail "error report: '$BOX_TEXT'"
    expect_eq "box icon" "$BOX_ICON" yes
    expect_eq "box owner" "$BOX_OWNER" main
    expect_eq "open boxes" "$BOX_COUNT" 1
    screenshot "$CASE_DIR/error.png"
    expect_running "while the report is shown"
    press Return
    wait_exit 20
    [[ $STATUS != 0 ]] || fail "exit status 0 after a failure"
    expect_old_page
    expect_eq ShellState "$(shell_state)" "REG_BINARY $OTHER_STATE"
    expect_no_log
    note "reported: ${BOX_TEXT//\\n/ }; exit status $STATUS"
}

# A class answering success without an object, then Wine's own object, which sets no wallpaper:
# each failure is reported, in its own words, after the page was written.
case_no_server() {
    begin_case no-server 1024x768
    set_windows_version winxp
    TARNWICK_RECORDER_CREATE=null start_program
    click run
    expect_report "The desktop wallpaper could not be set: the Active Desktop object could not be created.*\
Error 0x80004003: The shell answered success but gave no object"
    expect_log "CreateInstance iid={F490EB00-1240-11D1-9888-006097DEACF9} null"
    rm -f "$LOG"
    restore_wine_server
    start_program
    click run
    wait_box 10
    [[ $BOX_TEXT == "The desktop wallpaper could not be set"*"\n\nError 0x8"* ]] || fail "error report: '$BOX_TEXT'"
    expect_eq "box icon" "$BOX_ICON" yes
    expect_page 1024 768
    press Return
    wait_exit 20
    [[ $STATUS != 0 ]] || fail "exit status 0 after a failure"
    expect_no_log
    note "reported: ${BOX_TEXT//\\n/ }; exit status $STATUS"
}

# The window as drawn: layout, colours, picture, icon, frame and cursor. Then a window manager's
# close request ends the program.
case_layout() {
    begin_case layout 1024x768
    set_windows_version win98
    set_shell_state "$OTHER_STATE"
    start_program
    expect_eq "window size" "$WIN_SIZE" 196x300
    grep -q 'popup=1 caption=0 sizing=0 appwindow=1' <<<"$MAIN_INFO" || fail "window styles: $MAIN_INFO"
    grep -q "^window=$WIN_LEFT,$WIN_TOP,196,300\$" <<<"$MAIN_INFO" || fail "the window has a frame: $MAIN_INFO"
    expect_eq "caption colour" "$(wintool caption-colour)" "$TW_CAPTION_RGB"
    # Away from the labels, so that the pointer is not in the picture.
    point_at 2 2
    screenshot "$CASE_DIR/window.png"
    local failures
    failures=$(python3 "$TW_XCHECK" layout "$CASE_DIR/window.png" "$WIN_LEFT" "$WIN_TOP" 96 \
        "$TW_CAPTION_RGB" "$TW_SOURCE/resources/picture.jpg") || fail "layout: $failures"
    failures=$(python3 "$TW_XCHECK" icon "$XWIN" "$TW_SOURCE/resources/tarnwick.ico") || fail "icon: $failures"

    # The hand over the four labels, the arrow elsewhere.
    local hand arrow now control
    hand=$(python3 "$TW_XCHECK" cursor-file "$TW_SOURCE/resources/hand.cur")
    for control in title run close support picture line2 background; do
        if [[ $control == background ]]; then
            point_at $((WIN_LEFT + 100)) $((WIN_TOP + 188))
        else
            read -r x y <<<"$(control_middle "$control")"
            point_at $((WIN_LEFT + x)) $((WIN_TOP + y))
        fi
        sleep 0.3
        now=$(python3 "$TW_XCHECK" cursor)
        case $control in
        title | run | close | support) expect_eq "cursor over $control" "$now" "$hand" ;;
        *)
            [[ $now != "$hand" ]] || fail "the hand cursor shows over $control"
            [[ -z ${arrow:-} || $now == "$arrow" ]] || fail "cursor over $control: $now, elsewhere $arrow"
            arrow=$now
            ;;
        esac
    done

    note "cursor over the labels: $hand; elsewhere: $arrow"

    python3 "$TW_XCHECK" close "$XWIN" || fail "cannot send the close request"
    wait_exit 20
    expect_eq "exit status" "$STATUS" 0
    expect_no_page
    expect_no_log
    expect_eq ShellState "$(shell_state)" "REG_BINARY $OTHER_STATE"
    note "layout, icon and cursors as drawn; closed by the window manager's request"
}

# keep-page: 95/98/ME set the older page aside, not delete it, before the new one takes its name.
# 1: another program holds 2.htm open, sharing its deletion as a virus scanner does (deleted, the
# name would stay taken until it let go, and both pages were lost): the new page is in place.
# 2: a second spelling, 2.HTM, which Wine's case-blind lookup finds once 2.htm is set aside, keeps
# the name from both pages: the report names where the whole new page is kept.
case_keep_page() {
    begin_case keep-page 1024x768
    set_windows_version win98
    write_old_page
    (wine "$TW_WINTOOL" hold "$(winpath "$PAGE")" "$(winpath "$CASE_DIR/go")" >"$CASE_DIR/held" 2>&1) &
    local holder=$! kept
    for ((kept = 0; kept < 300; kept++)); do grep -q held "$CASE_DIR/held" && break || sleep 0.1; done
    start_program
    click run
    wait_exit 20
    expect_eq "exit status" "$STATUS" 0
    expect_page 1024 768
    touch "$CASE_DIR/go" && wait "$holder" || fail "wintool: $(cat "$CASE_DIR/held")"
    expect_eq "files left" "$(cd "$APP" && LC_ALL=C && echo *)" "1.htm 2.htm tarnwick.exe"

    write_old_page
    printf 'another spelling\r\n' >"$APP/2.HTM"
    start_program
    click run
    wait_box 20
    kept=${BOX_TEXT#*The new version is kept as "$(winpath "$APP")"\\}
    kept=${kept%%.\\n\\n*}
    [[ $BOX_TEXT == "Cannot write the page $(winpath "$PAGE"). The new version is kept as "*"\n\nError "* &&
        $kept == "~TW"?????".TMP" ]] || fail "report: '$BOX_TEXT'"
    press Return
    wait_exit 20
    [[ $STATUS != 0 ]] || fail "exit status 0 after the report"
    expected_test_page 1024 768 >"$CASE_DIR/expected.htm"
    expect_file_bytes "$APP/$kept" "$CASE_DIR/expected.htm"
    note "held 2.htm replaced; with the name taken: ${BOX_TEXT//\\n/ }"

    # 3: both stay, however old, through a Run that cannot put its page in place; then both go.
    local left aside=$(cd "$APP" && ls ~TW?????.TMP | grep -vxF "$kept")
    left=$(cd "$APP" && LC_ALL=C && echo *)
    expect_file_bytes "$APP/$aside" "$CASE_DIR/old.htm"
    touch -d '10 minutes ago' "$APP/$aside" "$APP/$kept" && chmod a-w "$APP/2.HTM"
    start_program
    click run
    expect_report "Cannot write the page *Error 5: *"
    expect_eq "files left after a refused Run" "$(cd "$APP" && LC_ALL=C && echo *)" "$left"
    chmod u+w "$APP/2.HTM" && rm "$APP/2.HTM"
    start_program
    click run
    wait_exit 20
    expect_eq "files left, exit status" "$(cd "$APP" && LC_ALL=C && echo *) $STATUS" "1.htm 2.htm tarnwick.exe 0"
    expect_page 1024 768
    note "set aside and kept through a refused Run, removed once the page is in place"
}

# Another program's WM_CLOSE ends the program with status 0 and changes nothing.
case_close_request() {
    begin_case close-request 1024x768
    set_windows_version win98
    set_shell_state "$OTHER_STATE"
    write_old_page
    start_program
    wintool close || fail "cannot send WM_CLOSE"
    wait_exit 20
    expect_eq "exit status" "$STATUS" 0
    expect_old_page
    expect_no_log
    expect_eq ShellState "$(shell_state)" "REG_BINARY $OTHER_STATE"
    note "closed, nothing changed"
}

case ${1:-} in
prefix) make_pristine_prefix ;;
run-*) case_run "${1#run-}" ;;
vista-no-engine) case_vista_no_engine ;;
vista-monitors) case_vista_monitors ;;
vista-*) case_vista "${1#vista-}" ;;
relay-*) case_relay "${1#relay-}" ;;
unicode-folder) case_unicode_folder ;;
screen-1600) case_screen_1600 ;;
screen-120dpi) case_screen_120dpi ;;
close) case_close ;;
support) case_support ;;
inert) case_inert ;;
missing-template) case_missing_template ;;
no-server) case_no_server ;;
layout) case_layout ;;
close-request) case_close_request ;;
keep-page) case_keep_page ;;
*)
    printf '%s\n' "usage: $0 prefix|run-VERSION|vista-VERSION|relay-VERSION|unicode-folder|screen-1600|screen-120dpi|close|support|inert|\
missing-template|no-server|layout|close-request|keep-page" >&2
    exit 2
    ;;
esac
