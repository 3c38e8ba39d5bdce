#!/usr/bin/env bash
# Regenerates the program's pictures in resources/: picture.jpg, tarnwick.ico and hand.cur.
# Builds tools/render_resources.cpp, runs it, turns its picture into a baseline JPEG with
# ImageMagick and lists the icon and cursor with icotool.
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
cp "$work/tarnwick.ico" "$work/hand.cur" "$out/"

identify -format 'picture.jpg: %m %wx%h %[colorspace] %[interlace] depth %z\n' "$out/picture.jpg"
icotool -l "$out/tarnwick.ico" "$out/hand.cur"
