#!/bin/bash
# "Run Tarnwick": the page 2.htm made from the template for the screen's size, the wallpaper
# record pointing at it, and the program's end with status 0.
source "$(dirname "$0")/lib.sh"
# What the desktop kept beside the record is the desktop cases' matter: the record alone here.
RECORD_ALONE=1

# Window pixels inside the command labels.

# The page the template gives, worked out here on its own terms: CR LF, then every item of the
# template followed by CR LF, then CR LF. Items end at commas and line ends outside double
# quotes; blanks before an item, and before the delimiter of an unquoted item, are dropped; a
# quoted item loses its quotes and whatever follows them up to the delimiter. Every 800 becomes
# the width and every 600 the height.
expected_page() { # TEMPLATE WIDTH HEIGHT
    perl -e '
        my ($w, $h) = @ARGV[1, 2];
        open my $in, "<:raw", $ARGV[0] or die "$ARGV[0]: $!";
        local $/;
        my $t = <$in>;
        my $out = "\r\n";
        pos($t) = 0;
        while (pos($t) < length $t) {
            $t =~ /\G[ \t]*/gc;
            my $item;
            if ($t =~ /\G"([^"]*)"?[^,\r\n]*/gc) { $item = $1 }
            else { $t =~ /\G([^,\r\n]*)/gc; ($item = $1) =~ s/[ \t]+\z// }
            $t =~ /\G(?:,|\r\n|\r|\n)?/gc;
            $item =~ s/(800|600)/$1 eq "800" ? $w : $h/ge;
            $out .= "$item\r\n";
        }
        print $out, "\r\n";' "$@"
}

run_and_check() { # WIDTH HEIGHT
    start_program
    click "$RUN_X" "$RUN_Y"
    expect_exit 0
    expect_quiet
    [[ -f $PAGE ]] || fail "no 2.htm"
}

# A template written to exercise the item rules, and its page spelled out by hand.
case_run_template_rules() {
    prepare_case none
    printf '<p style="width:800px">, a,b\r\n  "x, 600 ,\r\ny" tail,last 800600 \t\n\r\n\tend' >"$PROG_DIR/1.htm"
    run_and_check
    expect_section "\"Wallpaper\"=\"$PROG_DIR/2.htm\"" '"WallpaperStyle"="2"'
    local expected=$CASE_DIR/expected.htm
    printf '\r\n<p style="width:1024px">\r\na\r\nb\r\nx, 768 ,\r\ny\r\nlast 1024768\r\n\r\nend\r\n\r\n' >"$expected"
    cmp "$PAGE" "$expected" || fail "2.htm differs from the page worked out by hand"
    # The independent reckoning agrees with the hand-made page, so it can be trusted below.
    cmp <(expected_page "$PROG_DIR/1.htm" 1024 768) "$expected" || fail "the test's own page rules disagree"
    note "2.htm and the wallpaper record are right at 1024 x 768"
}

# The shipped sample template, with a store that already holds someone else's values.
case_run_sample() {
    prepare_case "$TARNWICK_SAMPLE"
    seed_record
    run_and_check
    cmp "$PAGE" <(expected_page "$TARNWICK_SAMPLE" 1024 768) || fail "2.htm differs from the expected page"
    grep -q 'width=1024 height=768' "$PAGE" || fail "the table does not fill the screen"
    expect_section "\"Wallpaper\"=\"$PROG_DIR/2.htm\"" '"WallpaperStyle"="2"' '"TileWallpaper"="0"'
    note "the sample page and the record are right; other values are kept"
}

case_run_large_screen() {
    prepare_case none
    printf 'width=800 height=600' >"$PROG_DIR/1.htm"
    run_and_check
    expect_section "\"Wallpaper\"=\"$PROG_DIR/2.htm\"" '"WallpaperStyle"="2"'
    cmp "$PAGE" <(printf '\r\nwidth=1600 height=1200\r\n\r\n') || fail "2.htm is not sized for 1600 x 1200"
    note "the page is sized 1600 x 1200"
}

run_cases 1024x768:case_run_template_rules 1024x768:case_run_sample 1600x1200:case_run_large_screen
