#!/bin/bash
# The window as a user sees it: a black, frameless, fixed 196 x 300 panel titled "Tarnwick" with
# the five lines, the picture and the four labels where the layout puts them at 96 dpi, the
# program's icon, and the hand cursor over the labels only.
source "$(dirname "$0")/lib.sh"

# The layout at 96 dpi, worked out from the twips by hand. Rectangles are
# "left top right bottom", inclusive.
LINE_ROWS="32 192 224 256 288"   # from x 8 to 186
PICTURE="8 48 187 182"
LABELS=(
    "title 24 8 176 24 left"
    "run 24 200 160 216 centre"
    "close 16 232 168 248 centre"
    "support 48 264 144 280 centre"
)

# A screenshot of the window once it is painted, as "x y rrggbb" lines.
window_pixels() {
    local tries=30
    while :; do
        import -window root -crop "196x300+$WIN_X+$WIN_Y" +repage "$CASE_DIR/window.png" || fail "no screenshot"
        [[ $(convert "$CASE_DIR/window.png" -format '%[hex:p{100,288}]' info:) != 000000* ]] && break
        ((tries-- > 0)) || fail "the window was never painted"
        sleep 0.1
    done
    convert "$CASE_DIR/window.png" -depth 8 txt:- |
        sed -n 's/^\([0-9]*\),\([0-9]*\):.*#\([0-9A-Fa-f]\{6\}\).*/\1 \2 \3/p' >"$CASE_DIR/pixels.txt"
    [[ $(wc -l <"$CASE_DIR/pixels.txt") -eq 58800 ]] || fail "the screenshot is not 196 x 300"
}

case_layout() {
    prepare_case "$TARNWICK_SAMPLE"
    start_program
    window_pixels
    cp "$CASE_DIR/window.png" "${TARNWICK_SCREENSHOT:-/dev/null}" 2>/dev/null

    local report
    report=$(awk -v rows="$LINE_ROWS" -v picture="$PICTURE" -v labels="$(printf '%s\n' "${LABELS[@]}")" '
        function inside(x, y, r) { split(r, b, " "); return x >= b[1] && y >= b[2] && x <= b[3] && y <= b[4] }
        BEGIN {
            split(rows, r, " "); for (i in r) lineRow[r[i]] = 1
            n = split(labels, l, "\n")
            for (i = 1; i <= n; i++) {
                split(l[i], f, " "); name[i] = f[1]; rect[i] = f[2] " " f[3] " " f[4] " " f[5]; align[i] = f[6]
                minX[i] = 999; maxX[i] = -1; full[i] = 0
            }
            lineColour = ""; problems = 0
        }
        function problem(text) { if (problems++ < 10) print "problem: " text }
        {
            x = $1; y = $2; c = tolower($3)
            if ((y in lineRow) && x >= 8 && x <= 186) {
                if (lineColour == "") lineColour = c
                if (c != lineColour) problem("line pixel " x "," y " is " c ", not " lineColour)
                next
            }
            if (inside(x, y, picture)) { pictureLit += (c != "000000"); next }
            for (i = 1; i <= n; i++) if (inside(x, y, rect[i])) {
                if (c != "000000") {
                    red = substr(c, 1, 2); green = substr(c, 3, 2); blue = substr(c, 5, 2)
                    if (red != green || green != blue || red > "e0") problem(name[i] " pixel " x "," y " is " c ", not light grey")
                    if (c == "e0e0e0") full[i]++
                    if (x < minX[i]) minX[i] = x; if (x > maxX[i]) maxX[i] = x
                    if (!(i in minY)) minY[i] = y
                }
                next
            }
            if (c != "000000") problem("background pixel " x "," y " is " c)
        }
        END {
            if (lineColour == "" || lineColour == "000000") problem("the lines are not drawn")
            print "lines " lineColour
            if (pictureLit < 180 * 135 / 2) problem("the picture is mostly black")
            for (i = 1; i <= n; i++) {
                split(rect[i], b, " ")
                if (full[i] < 20) problem(name[i] ": no text in RGB(224,224,224)")
                if (align[i] == "left" && (minX[i] < b[1] || minX[i] > b[1] + 2)) problem(name[i] " text starts at x " minX[i])
                if (align[i] == "centre" && ((minX[i] + maxX[i]) / 2 - (b[1] + b[3]) / 2) ^ 2 > 4)
                    problem(name[i] " text spans x " minX[i] "-" maxX[i] ", not centred")
                if (minY[i] > b[2] + 4) problem(name[i] " text starts at y " minY[i] ", not at the top")
                print name[i] " text x " minX[i] "-" maxX[i] " from y " minY[i] ", " full[i] " full pixels"
            }
            exit problems > 0
        }' "$CASE_DIR/pixels.txt") || fail "layout:
$report"
    note "${report//$'\n'/; }"

    # The picture at its natural size, as decoded elsewhere.
    local difference
    convert "$CASE_DIR/window.png" -crop 180x135+8+48 +repage "$CASE_DIR/picture.png"
    difference=$(compare -metric RMSE "$CASE_DIR/picture.png" "$TARNWICK_PICTURE" null: 2>&1 | sed 's/.*(\(.*\))/\1/')
    awk -v d="$difference" 'BEGIN { exit !(d < 0.02) }' || fail "the picture differs from picture.jpg (RMSE $difference)"
    note "the picture matches picture.jpg (RMSE $difference)"

    # What the window tells the desktop: its title, no frame, a fixed size, the icon.
    local properties
    properties=$(xprop -id "$WIN" WM_NAME _MOTIF_WM_HINTS WM_NORMAL_HINTS _NET_WM_ICON)
    grep -q '^WM_NAME(.*) = "Tarnwick"$' <<<"$properties" || fail "title: $(grep WM_NAME <<<"$properties")"
    grep -q '^_MOTIF_WM_HINTS(_MOTIF_WM_HINTS) = 0x2, 0x[0-9a-f]*, 0x0,' <<<"$properties" || fail "the window asks for a frame"
    grep -q 'program specified minimum size: 196 by 300' <<<"$properties" || fail "no fixed minimum size"
    grep -q 'program specified maximum size: 196 by 300' <<<"$properties" || fail "no fixed maximum size"
    local size
    for size in 16 32 48; do
        grep -q "Icon ($size x $size)" <<<"$properties" || fail "no $size x $size icon"
    done
    note "title, frameless, fixed size and icons are right"

    close_request
    expect_exit 0
    expect_quiet
}

# expect_cursor X Y hand|other: moves the pointer to window pixel (X, Y) and waits for the cursor
# to be (or not be) the hand; the cursor last seen goes to SHOWN.
expect_cursor() {
    xdotool mousemove "$((WIN_X + $1))" "$((WIN_Y + $2))"
    local tenths=30
    while :; do
        SHOWN=$("$TARNWICK_XPROBE" cursor) || fail "cannot read the cursor"
        if [[ $3 == hand ]]; then [[ $SHOWN == "$HAND" ]] && return; else [[ $SHOWN != "$HAND" ]] && return; fi
        ((tenths-- > 0)) || fail "at $1,$2 the cursor is $SHOWN, expected $3 (the hand is $HAND)"
        sleep 0.1
    done
}

case_hand_cursor() {
    prepare_case "$TARNWICK_SAMPLE"
    start_program
    # The hand from hand.cur, its opaque pixels counted by ImageMagick's own decoder.
    HAND="32x32 12,1 $(convert "$(dirname "$TARNWICK_PICTURE")/hand.cur[0]" -alpha extract \
        -format '%[fx:round(mean*w*h)]' info:)"
    # In and out of the labels, so the cursor has to change back and forth.
    local spot
    for spot in "60 15 hand" "98 115 other" "98 208 hand" "100 192 other" "92 240 hand" "2 2 other" \
        "96 272 hand" "170 208 other" "30 16 hand" "100 32 other" "140 276 hand" "10 210 other"; do
        expect_cursor $spot
    done
    note "the hand ($HAND) over the labels, $SHOWN elsewhere"
    close_request
    expect_exit 0
}

run_cases 1024x768:case_layout 1024x768:case_hand_cursor
