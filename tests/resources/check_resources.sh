#!/usr/bin/env bash
# Checks the resources built into the Windows program: icon group, hand cursor, picture,
# manifest and version record.
# Usage: check_resources.sh path/to/tarnwick.exe
# Needs wrestool and icotool (icoutils) and exiftool. Prints each check; stops with a non-zero
# exit status at the first failure.
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
for tool in wrestool icotool exiftool; do
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

# --- Picture 102 (RCDATA): baseline JPEG, 180 x 135, 3 components of 8 bits ----------------------
wrestool -x --raw --type=10 --name=102 "$exe" >"$work/picture.jpg" 2>/dev/null || true
[ -s "$work/picture.jpg" ] || fail "RCDATA 102 (picture) missing"
jpeg() { exiftool -s3 -"$1" "$work/picture.jpg"; }
expect "picture file type" "$(exiftool -s3 -FileType "$work/picture.jpg")" "JPEG"
expect "picture encoding" "$(jpeg EncodingProcess)" "Baseline DCT, Huffman coding"
expect "picture size" "$(jpeg ImageWidth)x$(jpeg ImageHeight)" "180x135"
expect "picture colour components" "$(jpeg ColorComponents)" "3"
expect "picture bits per sample" "$(jpeg BitsPerSample)" "8"

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

echo "All resource checks passed."
