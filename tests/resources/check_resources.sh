#!/usr/bin/env bash
# Checks the resources built into the Windows program: icon group, hand cursor, picture,
# manifest and version record. The picture is compared with resources/picture.jpg beside this
# script's folder.
# Usage: check_resources.sh path/to/tarnwick.exe
# Needs wrestool and icotool (icoutils), exiftool, python3 and ImageMagick's compare. Prints each
# check; stops with a non-zero exit status at the first failure.
set -euo pipefail

if [ $# -ne 1 ]; then
  echo "usage: $0 path/to/tarnwick.exe" >&2
  exit 2
fi
exe=$1
if [ ! -f "$exe" ]; then
  echo "FAIL: no such file: $exe" >&2
  exit 1
fi
for tool in wrestool icotool exiftool python3 compare; do
  command -v "$tool" >/dev/null || { echo "FAIL: $tool is not installed" >&2; exit 1; }
done

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() {
  echo "FAIL: $*" >&2
  exit 1
}

# expect LABEL ACTUAL WANTED
expect() {
  if [ "$2" = "$3" ]; then
    echo "ok: $1 is $3"
  else
    fail "$1 is '$2', expected '$3'"
  fi
}

echo "Checking resources of $exe"

# --- Icon group 1: six images, 16/32/48 pixels, each in 8 and 32 bits per pixel ----------------
wrestool -x --type=14 --name=1 "$exe" >"$work/icon.ico" 2>/dev/null || true
[ -s "$work/icon.ico" ] || fail "icon group 1 missing"
icons=$(icotool -l "$work/icon.ico" 2>&1) || fail "icotool cannot read icon group 1: $icons"
summary=$(sed -E 's/.*--width=([0-9]+) --height=([0-9]+) --bit-depth=([0-9]+).*/\1x\2x\3/' <<<"$icons" | sort -V | paste -sd' ')
expect "icon group (width x height x bits)" "$summary" "16x16x8 16x16x32 32x32x8 32x32x32 48x48x8 48x48x32"
# Where the 32-bit images' mask is transparent their alpha is 0 and they have no colour, so that a
# system that ignores alpha draws no halo around them.
halo=$(python3 - "$work/icon.ico" <<'PY'
import struct, sys
data = open(sys.argv[1], "rb").read()
for i in range(struct.unpack_from("<H", data, 4)[0]):
    width, height, _, _, _, _, _, offset = struct.unpack_from("<BBBBHHII", data, 6 + 16 * i)
    header, _, _, _, bits = struct.unpack_from("<IiiHH", data, offset)
    if bits != 32:
        continue
    colours, mask, stride = offset + header, offset + header + 4 * width * height, (width + 31) // 32 * 4
    for y in range(height):
        for x in range(width):
            b, g, r, a = data[colours + 4 * (y * width + x):][:4]
            clear = data[mask + y * stride + x // 8] >> (7 - x % 8) & 1
            if clear != (a == 0) or (a == 0 and (r, g, b) != (0, 0, 0)):
                print(f"{width}x{height} pixel {x},{height - 1 - y}: alpha {a}, colour {r},{g},{b}, mask {clear}")
                sys.exit()
PY
)
expect "32-bit icon pixels whose mask, alpha and colour disagree" "${halo:-none}" "none"

# --- Cursor group 101: one 32 x 32 image, 16 colours, hot spot 12,1 -----------------------------
wrestool -x --type=12 --name=101 "$exe" >"$work/hand.cur" 2>/dev/null || true
[ -s "$work/hand.cur" ] || fail "cursor group 101 missing"
cursors=$(icotool -l "$work/hand.cur" 2>&1)
if ! grep -q -- '--cursor' <<<"$cursors"; then
  # wrestool copies the group entry's byte count, which also counts the 4-byte hot spot header
  # of the cursor resource, into the rebuilt file; icotool then refuses it. Take the 4 off.
  stored=$(od -An -tu4 -j14 -N4 "$work/hand.cur" | tr -d ' ')
  size=$((stored - 4))
  printf '%b' "$(printf '\\x%02x\\x%02x\\x%02x\\x%02x' $((size & 255)) $((size >> 8 & 255)) $((size >> 16 & 255)) $((size >> 24 & 255)))" |
    dd of="$work/hand.cur" bs=1 seek=14 conv=notrunc status=none
  cursors=$(icotool -l "$work/hand.cur" 2>&1)
fi
grep -q -- '--cursor' <<<"$cursors" || fail "icotool cannot read cursor group 101: $cursors"
expect "cursor image count" "$(grep -c -- '--cursor' <<<"$cursors")" "1"
expect "cursor size" "$(sed -nE 's/.*--width=([0-9]+) --height=([0-9]+).*/\1x\2/p' <<<"$cursors")" "32x32"
expect "cursor bits per pixel" "$(sed -nE 's/.*--bit-depth=([0-9]+).*/\1/p' <<<"$cursors")" "4"
expect "cursor palette size" "$(sed -nE 's/.*--palette-size=([0-9]+).*/\1/p' <<<"$cursors")" "16"
expect "cursor hot spot" "$(sed -nE 's/.*--hotspot-x=([0-9]+) --hotspot-y=([0-9]+).*/\1,\2/p' <<<"$cursors")" "12,1"

# --- Picture 102 (BITMAP): a 180 x 135 DIB, 24 bits per pixel, the pixels of resources/picture.jpg -
wrestool -x --raw --type=2 --name=102 "$exe" >"$work/picture.dib" 2>/dev/null || true
[ -s "$work/picture.dib" ] || fail "BITMAP 102 (picture) missing"
wrestool -x --raw --type=10 --name=102 "$exe" 2>/dev/null | grep -q . && fail "the picture is still an RCDATA resource"
dib() { od -An -t"$1" -j"$2" -N"$3" "$work/picture.dib" | tr -d ' '; }
expect "picture header size" "$(dib u4 0 4)" "40"
expect "picture size" "$(dib d4 4 4)x$(dib d4 8 4)" "180x135"
expect "picture bits per pixel" "$(dib u2 14 2)" "24"
expect "picture compression" "$(dib u4 16 4)" "0"
expect "picture palette size" "$(dib u4 32 4)" "0"
# As a BMP file (a 14-byte file header in front), against the JPEG the Linux window shows.
size=$(stat -c %s "$work/picture.dib")
python3 -c 'import struct, sys; d = open(sys.argv[1], "rb").read(); sys.stdout.buffer.write(struct.pack("<2sIHHI", b"BM", 14 + len(d), 0, 0, 54) + d)' \
  "$work/picture.dib" >"$work/picture.bmp"
[ "$(stat -c %s "$work/picture.bmp")" = $((size + 14)) ] || fail "cannot rebuild the picture as a BMP file"
jpeg=$(dirname "$0")/../../resources/picture.jpg
differing=$(compare -metric AE "$work/picture.bmp" "$jpeg" null: 2>&1) || true
expect "picture pixels differing from picture.jpg" "$differing" "0"

# --- Manifest 1 (type 24): runs as the invoking user and is DPI aware ---------------------------
wrestool -x --raw --type=24 --name=1 "$exe" >"$work/manifest.xml" 2>/dev/null || true
[ -s "$work/manifest.xml" ] || fail "manifest (type 24, id 1) missing"
grep -q 'level="asInvoker"' "$work/manifest.xml" || fail "manifest does not ask for asInvoker"
echo "ok: manifest asks for asInvoker"
grep -Eq '<dpiAware[^>]*>[[:space:]]*true[[:space:]]*</dpiAware>' "$work/manifest.xml" || fail "manifest is not dpiAware"
echo "ok: manifest is dpiAware"

# --- Version record --------------------------------------------------------------------------
version() { exiftool -s3 "$@" "$exe"; }
expect "FileVersion number" "$(version -FileVersionNumber)" "1.0.0.0"
expect "ProductVersion number" "$(version -ProductVersionNumber)" "1.0.0.0"
expect "FileVersion text" "$(version -FileVersion)" "1.00"
expect "ProductVersion text" "$(version -ProductVersion)" "1.00"
expect "ProductName" "$(version -ProductName)" "Tarnwick"
expect "version language" "$(version -n -LanguageCode)" "0409"
expect "version character set" "$(version -n -CharacterSet)" "04B0"
expect "version file OS (VOS__WINDOWS32)" "$(version -n -FileOS)" "4"

echo "All resource checks passed."
