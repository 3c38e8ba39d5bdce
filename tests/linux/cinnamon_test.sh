#!/bin/bash
# Cinnamon 5.6 draws the background itself: its session (cinnamon-session, as a normal user on
# Xvfb) runs the shell on Muffin (cinnamon --replace), which shows the root window's picture, and
# csd-background, which paints it from org.cinnamon.desktop.background. The person's own picture
# is on screen; Run shows the page through Cinnamon's settings, Close gives the person's own back;
# Cinnamon runs on.
source "$(dirname "$0")/lib.sh"

for tool in cinnamon-session cinnamon csd-background nemo-desktop; do
    command -v "$tool" >/dev/null || { echo "SKIP: $tool is not installed"; exit 77; }
done
export QTWEBENGINE_DISABLE_SANDBOX=1

# cinnamon_screen NAME RGB: the background shows the colour at the corners and the middle,
# above Cinnamon's panel at the bottom.
cinnamon_screen() { SCREEN_TENTHS=300 screen_shows "$1" "$2" "10,10 1013,10 10,700 1013,700 512,384"; }

case_cinnamon() {
    prepare_case none
    printf '<html><body style=margin:0;background:#000>\n<div style=width:800px;height:600px;background:#1e90c8></div>\n</body></html>\n' \
        >"$PROG_DIR/1.htm"
    start_person_session X-Cinnamon
    local mine="$CASE_DIR/mine.png" own='srgb(160,80,32)'
    convert -size 1024x768 xc:'#a05020' "$mine" && chmod 644 "$mine" || fail "cannot make the person's picture"
    "${PERSON[@]}" gsettings set org.cinnamon.desktop.background picture-uri "file://$mine" ||
        fail "cannot set Cinnamon's background"
    # Its session as a display manager starts it, with csd-background the one program it autostarts.
    mkdir -p "$CASE_DIR/autostart" && chmod 755 "$CASE_DIR/autostart" &&
        cp /etc/xdg/autostart/cinnamon-settings-daemon-background.desktop "$CASE_DIR/autostart/" ||
        fail "cannot copy csd-background's autostart entry"
    as_person cinnamon-session --session cinnamon --autostart "$CASE_DIR/autostart" >"$CASE_DIR/session.log" 2>&1
    cinnamon_screen own "$own"
    local shell
    shell=$(ps -s "${SESSION[-1]}" -o pid=,comm= | awk '$2 == "cinnamon" { print $1 }')
    [[ -n $shell ]] || fail "Cinnamon's shell is not running: $(tail -n 5 "$CASE_DIR/session.log")"
    local run
    for run in RUN CLOSE; do
        person_clicks "$run"
        if [[ $run == RUN ]]; then cinnamon_screen run 'srgb(30,144,200)'; else cinnamon_screen close "$own"; fi
        kill -0 "$shell" 2>/dev/null || fail "Cinnamon's shell ended: $(tail -n 5 "$CASE_DIR/session.log")"
    done
    [[ $("${PERSON[@]}" gsettings get org.cinnamon.desktop.background picture-uri) == "'file://$mine'" ]] ||
        fail "Cinnamon's background is not the person's after Close"
    note "Cinnamon showed the page on its background, Close gave the person's own back, Cinnamon ran on"
}

run_cases 1024x768:case_cinnamon
