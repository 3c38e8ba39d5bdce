#include "desktop/linux/FastPng.h"

#include <QImage>

#include <zlib.h>

#include <algorithm>
#include <cstdint>
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

// The strip's rows, filtered, as raw deflate: ended by a flush to a byte boundary, or by the
// final block for the last strip.
void DeflateStrip(const QImage& image, Strip& strip)
{
    const int width = image.width();
    std::string raw;
    raw.reserve(static_cast<size_t>(strip.endRow - strip.firstRow) * (1 + 3 * static_cast<size_t>(width)));
    for (int y = strip.firstRow; y < strip.endRow; ++y) {
        const auto* pixels = reinterpret_cast<const QRgb*>(image.constScanLine(y));
        raw.push_back(1);  // Sub
        int r0 = 0, g0 = 0, b0 = 0;
        for (int x = 0; x < width; ++x) {
            const int r = qRed(pixels[x]), g = qGreen(pixels[x]), b = qBlue(pixels[x]);
            raw.push_back(static_cast<char>(r - r0));
            raw.push_back(static_cast<char>(g - g0));
            raw.push_back(static_cast<char>(b - b0));
            r0 = r, g0 = g, b0 = b;
        }
    }
    strip.rawSize = raw.size();
    strip.adler = adler32(1, reinterpret_cast<const Bytef*>(raw.data()), static_cast<uInt>(raw.size()));
    z_stream stream{};
    if (deflateInit2(&stream, 1, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        return;
    strip.deflated.resize(deflateBound(&stream, static_cast<uLong>(raw.size())) + 16);
    stream.next_in = reinterpret_cast<Bytef*>(raw.data());
    stream.avail_in = static_cast<uInt>(raw.size());
    stream.next_out = reinterpret_cast<Bytef*>(strip.deflated.data());
    stream.avail_out = static_cast<uInt>(strip.deflated.size());
    const int result = deflate(&stream, strip.last ? Z_FINISH : Z_SYNC_FLUSH);
    strip.ok = strip.last ? result == Z_STREAM_END : (result == Z_OK && stream.avail_in == 0);
    strip.deflated.resize(stream.total_out);
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
