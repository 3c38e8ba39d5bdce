#include "resources/CursorFile.h"

#include <array>
#include <cstddef>
#include <stdexcept>
#include <string>

namespace tarnwick {
namespace {

constexpr uint16_t kTypeIcon = 1;
constexpr uint16_t kTypeCursor = 2;
constexpr size_t kDirectoryHeaderSize = 6;
constexpr size_t kDirectoryEntrySize = 16;
constexpr size_t kInfoHeaderSize = 40;  // BITMAPINFOHEADER
constexpr int64_t kMaxDimension = 256;  // the largest image a cursor or icon directory can describe
constexpr uint32_t kCompressionNone = 0;

[[noreturn]] void Fail(const std::string& what)
{
    throw std::runtime_error("cursor file: " + what);
}

// Bounds-checked little-endian reads from one region of the file.
class Bytes {
public:
    Bytes(std::span<const uint8_t> bytes, const char* what) : bytes_(bytes), what_(what) {}

    size_t Size() const { return bytes_.size(); }

    bool Has(size_t offset, size_t count) const { return offset <= bytes_.size() && count <= bytes_.size() - offset; }

    void Require(size_t offset, size_t count) const
    {
        if (!Has(offset, count))
            Fail(std::string("truncated ") + what_);
    }

    uint8_t U8(size_t offset) const
    {
        Require(offset, 1);
        return bytes_[offset];
    }
    uint16_t U16(size_t offset) const
    {
        Require(offset, 2);
        return static_cast<uint16_t>(bytes_[offset] | (bytes_[offset + 1] << 8));
    }
    uint32_t U32(size_t offset) const
    {
        Require(offset, 4);
        return static_cast<uint32_t>(bytes_[offset]) | (static_cast<uint32_t>(bytes_[offset + 1]) << 8) |
               (static_cast<uint32_t>(bytes_[offset + 2]) << 16) | (static_cast<uint32_t>(bytes_[offset + 3]) << 24);
    }
    int32_t I32(size_t offset) const { return static_cast<int32_t>(U32(offset)); }

    std::span<const uint8_t> Sub(size_t offset, size_t count) const
    {
        Require(offset, count);
        return bytes_.subspan(offset, count);
    }

private:
    std::span<const uint8_t> bytes_;
    const char* what_;
};

uint32_t Opaque(uint8_t r, uint8_t g, uint8_t b)
{
    return 0xFF000000u | (static_cast<uint32_t>(r) << 16) | (static_cast<uint32_t>(g) << 8) | b;
}

// Bytes in one stored row: rows are padded to whole 32-bit words.
size_t RowBytes(size_t width, size_t bitsPerPixel)
{
    return (width * bitsPerPixel + 31) / 32 * 4;
}

CursorImage DecodeDib(const Bytes& dib, int hotSpotX, int hotSpotY, bool hasHotSpot)
{
    if (dib.Has(0, 8) && dib.U32(0) == 0x474E5089u && dib.U32(4) == 0x0A1A0A0Du)
        Fail("PNG-compressed images are not supported");
    if (!dib.Has(0, 4))
        Fail("truncated image header");
    const uint32_t headerSize = dib.U32(0);
    if (headerSize < kInfoHeaderSize)
        Fail("unsupported image header of " + std::to_string(headerSize) + " bytes");
    if (!dib.Has(0, headerSize))
        Fail("truncated image header");

    const int64_t width = dib.I32(4);
    const int64_t doubledHeight = dib.I32(8);  // the colour rows plus the mask rows
    const uint16_t planes = dib.U16(12);
    const uint16_t bitsPerPixel = dib.U16(14);
    const uint32_t compression = dib.U32(16);
    const uint32_t coloursUsed = dib.U32(32);

    if (width < 1 || width > kMaxDimension)
        Fail("image width " + std::to_string(width) + " is out of range");
    if (doubledHeight < 2 || doubledHeight % 2 != 0 || doubledHeight / 2 > kMaxDimension)
        Fail("image height field " + std::to_string(doubledHeight) + " is out of range");
    const int64_t height = doubledHeight / 2;
    if (planes != 1)
        Fail("image has " + std::to_string(planes) + " planes, expected 1");
    if (compression != kCompressionNone)
        Fail("compressed images (method " + std::to_string(compression) + ") are not supported");
    if (bitsPerPixel != 1 && bitsPerPixel != 4 && bitsPerPixel != 8 && bitsPerPixel != 24 && bitsPerPixel != 32)
        Fail(std::to_string(bitsPerPixel) + " bits per pixel is not supported");

    size_t paletteSize = 0;
    if (bitsPerPixel <= 8) {
        const size_t maxColours = size_t{1} << bitsPerPixel;
        if (coloursUsed > maxColours)
            Fail("palette of " + std::to_string(coloursUsed) + " colours is too large for " +
                 std::to_string(bitsPerPixel) + " bits per pixel");
        paletteSize = coloursUsed == 0 ? maxColours : coloursUsed;
    } else if (coloursUsed > 256) {
        Fail("palette of " + std::to_string(coloursUsed) + " colours is too large");
    } else {
        paletteSize = coloursUsed;  // an optional palette before direct-colour rows: skipped
    }

    if (hasHotSpot && (hotSpotX >= width || hotSpotY >= height))
        Fail("hot spot (" + std::to_string(hotSpotX) + ", " + std::to_string(hotSpotY) + ") lies outside the " +
             std::to_string(width) + " x " + std::to_string(height) + " image");

    const auto w = static_cast<size_t>(width);
    const auto h = static_cast<size_t>(height);
    const size_t paletteOffset = headerSize;
    if (!dib.Has(paletteOffset, paletteSize * 4))
        Fail("truncated palette");
    const size_t colourOffset = paletteOffset + paletteSize * 4;
    const size_t colourStride = RowBytes(w, bitsPerPixel);
    if (!dib.Has(colourOffset, colourStride * h))
        Fail("truncated pixel data");
    const size_t maskOffset = colourOffset + colourStride * h;
    const size_t maskStride = RowBytes(w, 1);
    const bool hasMask = dib.Has(maskOffset, maskStride * h);

    const std::span<const uint8_t> palette = dib.Sub(paletteOffset, paletteSize * 4);
    const std::span<const uint8_t> colours = dib.Sub(colourOffset, colourStride * h);

    CursorImage image;
    image.width = static_cast<int>(width);
    image.height = static_cast<int>(height);
    image.hotSpotX = hotSpotX;
    image.hotSpotY = hotSpotY;
    image.argb.assign(w * h, 0);

    bool anyAlpha = false;
    for (size_t y = 0; y < h; ++y) {
        const std::span<const uint8_t> row = colours.subspan((h - 1 - y) * colourStride, colourStride);
        for (size_t x = 0; x < w; ++x) {
            uint32_t pixel = 0;
            if (bitsPerPixel <= 8) {
                const size_t bitOffset = x * bitsPerPixel;
                const unsigned shift = static_cast<unsigned>(8 - bitsPerPixel - bitOffset % 8);
                const size_t index = (row[bitOffset / 8] >> shift) & ((1u << bitsPerPixel) - 1);
                if (index >= paletteSize)
                    Fail("pixel uses colour " + std::to_string(index) + " of a " + std::to_string(paletteSize) +
                         "-colour palette");
                pixel = Opaque(palette[index * 4 + 2], palette[index * 4 + 1], palette[index * 4]);
            } else if (bitsPerPixel == 24) {
                pixel = Opaque(row[x * 3 + 2], row[x * 3 + 1], row[x * 3]);
            } else {
                const uint8_t alpha = row[x * 4 + 3];
                anyAlpha = anyAlpha || alpha != 0;
                pixel = (static_cast<uint32_t>(alpha) << 24) | (static_cast<uint32_t>(row[x * 4 + 2]) << 16) |
                        (static_cast<uint32_t>(row[x * 4 + 1]) << 8) | row[x * 4];
            }
            image.argb[y * w + x] = pixel;
        }
    }

    // A 32-bit image with real alpha needs no mask. Otherwise the AND mask decides: a set bit
    // lets the screen show through. (Set bits over non-black colour invert the screen on
    // Windows; with no screen to invert they count as transparent here.)
    const bool useAlpha = bitsPerPixel == 32 && anyAlpha;
    if (useAlpha)
        return image;
    if (!hasMask)
        Fail("truncated transparency mask");
    const std::span<const uint8_t> mask = dib.Sub(maskOffset, maskStride * h);
    for (size_t y = 0; y < h; ++y) {
        const std::span<const uint8_t> row = mask.subspan((h - 1 - y) * maskStride, maskStride);
        for (size_t x = 0; x < w; ++x) {
            uint32_t& pixel = image.argb[y * w + x];
            if ((row[x / 8] >> (7 - x % 8)) & 1u)
                pixel = 0;
            else
                pixel |= 0xFF000000u;
        }
    }
    return image;
}

}  // namespace

CursorImage ParseCursorFile(std::span<const uint8_t> bytes)
{
    const Bytes file(bytes, "file header");
    if (file.Size() < kDirectoryHeaderSize)
        Fail("too short for a cursor or icon header");
    const uint16_t reserved = file.U16(0);
    const uint16_t type = file.U16(2);
    const uint16_t count = file.U16(4);
    if (reserved != 0 || (type != kTypeCursor && type != kTypeIcon))
        Fail("not a cursor or icon file");
    if (count == 0)
        Fail("the file holds no images");
    if (!file.Has(kDirectoryHeaderSize, kDirectoryEntrySize * count))
        Fail("truncated image directory");

    // The first directory entry.
    const size_t entry = kDirectoryHeaderSize;
    const bool isCursor = type == kTypeCursor;
    const int hotSpotX = isCursor ? file.U16(entry + 4) : 0;
    const int hotSpotY = isCursor ? file.U16(entry + 6) : 0;
    const uint32_t imageSize = file.U32(entry + 8);
    const uint32_t imageOffset = file.U32(entry + 12);
    if (!file.Has(imageOffset, imageSize))
        Fail("image data lies outside the file");

    return DecodeDib(Bytes(file.Sub(imageOffset, imageSize), "image"), hotSpotX, hotSpotY, isCursor);
}

}  // namespace tarnwick
