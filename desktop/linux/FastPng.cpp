#include "desktop/linux/FastPng.h"

#include <QImage>

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <stdexcept>
#include <thread>
#include <vector>

namespace tarnwick {

namespace {

void Put32(std::string& out, uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<char>((value >> shift) & 0xff));
}

void Chunk(std::string& out, const char* type, const std::string& data)
{
    Put32(out, static_cast<uint32_t>(data.size()));
    const size_t start = out.size();
    out.append(type, 4);
    out += data;
    Put32(out, static_cast<uint32_t>(
                   crc32(0, reinterpret_cast<const Bytef*>(out.data() + start), static_cast<uInt>(out.size() - start))));
}

struct Strip {
    int firstRow = 0;
    int endRow = 0;
    bool last = false;
    std::string deflated;
    uLong adler = 1;
    size_t rawSize = 0;
    bool ok = false;
};

// Adler-32 continued over count zero bytes: the sum stays, the sum of sums grows by it each byte.
uLong AdlerOfZeros(uLong adler, size_t count)
{
    constexpr uLong kBase = 65521;
    const uLong sum = adler & 0xffff;
    const uLong sums = ((adler >> 16) + (count % kBase) * sum) % kBase;
    return (sums << 16) | sum;
}

// One row with the Sub filter: each byte less its left neighbour's, all three bytes of a pixel
// at once (a borrow never crosses from one byte to the next). out has a byte to spare at its end.
unsigned char* SubRow(const uint32_t* pixels, int width, unsigned char* out)
{
    constexpr uint32_t kHigh = 0x80808080u;
    *out++ = 1;
    uint32_t left = 0;
    for (int x = 0; x < width; ++x) {
        const uint32_t pixel = pixels[x];
        const uint32_t difference = ((pixel | kHigh) - (left & ~kHigh)) ^ ((pixel ^ ~left) & kHigh);
        const uint32_t rgb = __builtin_bswap32(difference) >> 8;  // red, green, blue in memory
        std::memcpy(out, &rgb, 4);
        out += 3;
        left = pixel;
    }
    return out;
}

// The strip's rows, filtered a few at a time into a small buffer and deflated as they come, as
// raw deflate: ended by a flush to a byte boundary, or by the final block for the last strip. A
// row the same as the one above it gets the Up filter, all zeros, which costs next to nothing;
// any other the Sub filter. Run-length matching suits what those filters leave of a page (long
// runs of zeros) and is quicker than zlib's fastest hashing.
void DeflateStrip(const QImage& image, Strip& strip)
{
    const int width = image.width();
    const size_t rowBytes = 1 + 3 * static_cast<size_t>(width);
    constexpr int kRowsAtOnce = 16;
    std::vector<unsigned char> raw(rowBytes * kRowsAtOnce + 1);
    z_stream stream{};
    if (deflateInit2(&stream, 1, Z_DEFLATED, -15, 8, Z_RLE) != Z_OK)
        return;
    const size_t rows = static_cast<size_t>(strip.endRow - strip.firstRow);
    strip.rawSize = rows * rowBytes;
    // The output grows as it comes: a buffer as large as deflate's bound would be most of a
    // picture's raw size in memory, where a page deflates to a small part of it.
    std::vector<unsigned char> chunk(256 * 1024);
    const size_t pixelBytes = 4 * static_cast<size_t>(width);
    bool ok = true;
    for (int y = strip.firstRow; y < strip.endRow && ok;) {
        const int count = std::min(kRowsAtOnce, strip.endRow - y);
        unsigned char* out = raw.data();
        for (int i = 0; i < count; ++i, ++y) {
            const auto* pixels = reinterpret_cast<const uint32_t*>(image.constScanLine(y));
            if (y > 0 && std::memcmp(pixels, image.constScanLine(y - 1), pixelBytes) == 0) {
                const unsigned char up = 2;
                strip.adler = AdlerOfZeros(adler32(strip.adler, &up, 1), rowBytes - 1);
                *out = up;
                std::memset(out + 1, 0, rowBytes - 1);
                out += rowBytes;
                continue;
            }
            unsigned char* const row = out;
            out = SubRow(pixels, width, out);
            strip.adler = adler32(strip.adler, row, static_cast<uInt>(rowBytes));
        }
        stream.next_in = raw.data();
        stream.avail_in = static_cast<uInt>(out - raw.data());
        const bool end = y == strip.endRow;
        const int flush = end ? (strip.last ? Z_FINISH : Z_SYNC_FLUSH) : Z_NO_FLUSH;
        int result;
        do {
            stream.next_out = chunk.data();
            stream.avail_out = static_cast<uInt>(chunk.size());
            result = deflate(&stream, flush);
            strip.deflated.append(reinterpret_cast<const char*>(chunk.data()), chunk.size() - stream.avail_out);
        } while (result == Z_OK && stream.avail_out == 0);
        // No progress left to make (the output ended just at a buffer's end) is no failure.
        ok = end && strip.last ? result == Z_STREAM_END
                               : ((result == Z_OK || result == Z_BUF_ERROR) && stream.avail_in == 0);
    }
    strip.ok = ok;
    deflateEnd(&stream);
}

}  // namespace

std::string FastPng(const QImage& image)
{
    if (image.format() != QImage::Format_RGB32 || image.isNull())
        throw std::invalid_argument("FastPng takes a QImage in Format_RGB32");
    const int height = image.height();
    const int count = std::clamp(static_cast<int>(std::thread::hardware_concurrency()), 1, std::min(8, height));
    std::vector<Strip> strips(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        strips[i].firstRow = height * i / count;
        strips[i].endRow = height * (i + 1) / count;
        strips[i].last = i == count - 1;
    }
    std::vector<std::thread> helpers;
    for (int i = 1; i < count; ++i)
        helpers.emplace_back(DeflateStrip, std::cref(image), std::ref(strips[i]));
    DeflateStrip(image, strips[0]);
    for (std::thread& helper : helpers)
        helper.join();

    std::string data("\x78\x01", 2);  // zlib: deflate, 32 KiB window, fastest
    uLong adler = 1;
    for (const Strip& strip : strips) {
        if (!strip.ok)
            throw std::runtime_error("zlib could not deflate the picture");
        data += strip.deflated;
        adler = adler32_combine(adler, strip.adler, static_cast<z_off_t>(strip.rawSize));
    }
    Put32(data, static_cast<uint32_t>(adler));

    std::string header;
    Put32(header, static_cast<uint32_t>(image.width()));
    Put32(header, static_cast<uint32_t>(height));
    header += std::string("\x08\x02\x00\x00\x00", 5);  // 8 bits, RGB, deflate, adaptive filters, no interlace
    std::string png("\x89PNG\r\n\x1a\n", 8);
    Chunk(png, "IHDR", header);
    Chunk(png, "IDAT", data);
    Chunk(png, "IEND", std::string());
    return png;
}

}  // namespace tarnwick
