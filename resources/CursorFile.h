#pragma once

// Reads Windows cursor (.cur) and icon (.ico) files without any platform API, so the Linux
// build can show the same hand cursor as the Windows one.

#include <cstdint>
#include <span>
#include <vector>

namespace tarnwick {

struct CursorImage {
    int width = 0;
    int height = 0;
    int hotSpotX = 0;
    int hotSpotY = 0;
    std::vector<uint32_t> argb;  // width * height pixels, row-major, top row first, 0xAARRGGBB
};

// Decodes the first image of a cursor file (or of an icon file, whose hot spot is then 0, 0).
// Handles BMP-style images of 1, 4 and 8 bits per pixel (palette plus AND mask) and of 24 and
// 32 bits per pixel (32: alpha channel, or the AND mask when every alpha byte is zero).
// Throws std::runtime_error naming the problem for anything malformed or unsupported; it never
// reads outside 'bytes'.
CursorImage ParseCursorFile(std::span<const uint8_t> bytes);

}  // namespace tarnwick
