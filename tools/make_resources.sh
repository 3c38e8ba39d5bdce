#!/usr/bin/env bash
# Regenerates the program's pictures in resources/: picture.jpg, picture.bmp, tarnwick.ico,
# hand.cur, and the icon's 32-bit frames as PNGs (icons/tarnwick-16.png, -32, -48) for the
# desktops' icon theme on Linux. Builds tools/render_resources.cpp, runs it, turns its picture
# into a baseline JPEG with ImageMagick, decodes that JPEG into the 24-bit bitmap the Windows
# program draws (so both programs show the same pixels), extracts the icon's PNGs and lists the
# icon and cursor with icotool.
# Needs g++ (C++20), ImageMagick's convert and identify, and icotool (icoutils).
set -euo pipefail

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
out="$root/resources"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"${CXX:-g++}" -std=c++20 -O2 -Wall -Wextra -Wpedantic -Wshadow -Werror \
  "$root/tools/render_resources.cpp" -o "$work/render_resources"
"$work/render_resources" "$work"

# Baseline (not progressive), 8-bit YCbCr, 4:2:0, no metadata beyond the JFIF header.
convert "$work/picture.ppm" -strip -type TrueColor -colorspace sRGB -interlace none \
  -sampling-factor 2x2,1x1,1x1 -quality 92 "JPEG:$out/picture.jpg"
# A bottom-up BITMAPINFOHEADER DIB, 24 bits per pixel, no colour profile: what every Windows reads.
convert "$out/picture.jpg" -strip -type TrueColor -define bmp:format=bmp3 -compress none "BMP3:$out/picture.bmp"
cp "$work/tarnwick.ico" "$work/hand.cur" "$out/"
mkdir -p "$out/icons"
for size in 16 32 48; do
  icotool -x --width=$size --height=$size --bit-depth=32 -o "$out/icons/tarnwick-$size.png" "$out/tarnwick.ico"
done

identify -format '%f: %m %wx%h %[colorspace] %[interlace] depth %z\n' "$out/picture.jpg" "$out/picture.bmp"
icotool -l "$out/tarnwick.ico" "$out/hand.cur"
