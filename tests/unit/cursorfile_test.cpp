// The cursor file reader: the program's own hand cursor, decoding of each supported image kind,
// and refusal of malformed or hostile files.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "resources/CursorFile.h"

namespace tarnwick {
namespace {

std::vector<uint8_t> ReadHandCursor()
{
    const std::string path = std::string(TARNWICK_SOURCE_DIR) + "/resources/hand.cur";
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot open " + path);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

uint32_t Alpha(uint32_t argb)
{
    return argb >> 24;
}
uint32_t Red(uint32_t argb)
{
    return (argb >> 16) & 0xFF;
}
uint32_t Green(uint32_t argb)
{
    return (argb >> 8) & 0xFF;
}
uint32_t Blue(uint32_t argb)
{
    return argb & 0xFF;
}

uint32_t PixelAt(const CursorImage& image, int x, int y)
{
    return image.argb.at(static_cast<size_t>(y) * static_cast<size_t>(image.width) + static_cast<size_t>(x));
}

// ---- Building small files by hand ------------------------------------------------------------

void Put16(std::vector<uint8_t>& out, uint32_t v)
{
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void Put32(std::vector<uint8_t>& out, uint32_t v)
{
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

struct DibSpec {
    int32_t width = 0;
    int32_t heightField = 0;  // twice the image height
    uint16_t bitsPerPixel = 0;
    uint32_t coloursUsed = 0;
    uint32_t compression = 0;
    uint16_t planes = 1;
    std::vector<uint32_t> palette;  // 0x00RRGGBB
    std::vector<uint8_t> rows;      // colour rows then mask rows, exactly as stored (bottom row first)
};

std::vector<uint8_t> Dib(const DibSpec& spec)
{
    std::vector<uint8_t> out;
    Put32(out, 40);
    Put32(out, static_cast<uint32_t>(spec.width));
    Put32(out, static_cast<uint32_t>(spec.heightField));
    Put16(out, spec.planes);
    Put16(out, spec.bitsPerPixel);
    Put32(out, spec.compression);
    Put32(out, 0);
    Put32(out, 0);
    Put32(out, 0);
    Put32(out, spec.coloursUsed);
    Put32(out, 0);
    for (uint32_t c : spec.palette)
        Put32(out, c);
    out.insert(out.end(), spec.rows.begin(), spec.rows.end());
    return out;
}

// A file of one image: a cursor (type 2) with the given hot spot, or an icon (type 1).
std::vector<uint8_t> OneImageFile(const std::vector<uint8_t>& dib, uint16_t type = 2, uint16_t hotX = 0,
                                  uint16_t hotY = 0)
{
    std::vector<uint8_t> out;
    Put16(out, 0);
    Put16(out, type);
    Put16(out, 1);
    out.insert(out.end(), {0, 0, 0, 0});
    Put16(out, hotX);
    Put16(out, hotY);
    Put32(out, static_cast<uint32_t>(dib.size()));
    Put32(out, 22);
    out.insert(out.end(), dib.begin(), dib.end());
    return out;
}

void ExpectRejected(const std::vector<uint8_t>& bytes)
{
    EXPECT_THROW(ParseCursorFile(bytes), std::runtime_error);
}

// ---- The program's hand cursor ---------------------------------------------------------------

class HandCursor : public ::testing::Test {
protected:
    void SetUp() override { image_ = ParseCursorFile(ReadHandCursor()); }
    CursorImage image_;
};

TEST_F(HandCursor, Is32By32WithTheHotSpotOnTheFingertip)
{
    EXPECT_EQ(image_.width, 32);
    EXPECT_EQ(image_.height, 32);
    ASSERT_EQ(image_.argb.size(), 32u * 32u);
    EXPECT_EQ(image_.hotSpotX, 12);
    EXPECT_EQ(image_.hotSpotY, 1);

    // The hot spot is on the hand, at the very top of the finger, and the finger below it is
    // drawn in the hand's colours (white or grey inside a black outline, never blue).
    EXPECT_EQ(Alpha(PixelAt(image_, 12, 1)), 0xFFu);
    EXPECT_EQ(Alpha(PixelAt(image_, 12, 0)), 0u);
    for (int y = 1; y <= 4; ++y) {
        for (int x = 11; x <= 13; ++x) {
            const uint32_t p = PixelAt(image_, x, y);
            EXPECT_EQ(Alpha(p), 0xFFu) << x << "," << y;
            EXPECT_EQ(Red(p), Blue(p)) << x << "," << y;  // grey scale: white, grey or black
            EXPECT_EQ(Green(p), Blue(p)) << x << "," << y;
        }
    }
    EXPECT_EQ(PixelAt(image_, 12, 3), 0xFFFFFFFFu);
}

TEST_F(HandCursor, IsTransparentAroundTheHandWithABlueCuff)
{
    for (auto [x, y] : {std::pair{0, 0}, {31, 0}, {0, 31}, {31, 31}})
        EXPECT_EQ(PixelAt(image_, x, y), 0u);

    int transparent = 0, blue = 0, white = 0, black = 0;
    for (uint32_t p : image_.argb) {
        ASSERT_TRUE(Alpha(p) == 0 || Alpha(p) == 0xFF);  // a mask, no partial transparency
        if (Alpha(p) == 0) {
            ++transparent;
        } else if (Blue(p) > Red(p) + 60 && Blue(p) > Green(p) + 30) {
            ++blue;
        } else if (p == 0xFFFFFFFFu) {
            ++white;
        } else if (p == 0xFF000000u) {
            ++black;
        }
    }
    EXPECT_GT(transparent, 32 * 32 / 3);
    EXPECT_GT(blue, 30);
    EXPECT_GT(white, 150);
    EXPECT_GT(black, 60);
}

// ---- Decoding each kind of image -------------------------------------------------------------

TEST(CursorFileDecoding, OneBitImageReadsRowsBottomUpWithPaddingAndMask)
{
    // 3 x 2: top row = colour 1, 0, 1; bottom row = 0, 1, 0; the mask hides the top right pixel.
    DibSpec spec{3, 4, 1, 0, 0, 1, {0x000000, 0x11AA33}, {}};
    spec.rows = {0x40, 0, 0, 0, /* bottom colour row */ 0xA0, 0, 0, 0, /* top colour row */
                 0x00, 0, 0, 0, /* bottom mask row */ 0x20,   0, 0, 0 /* top mask row */};
    const CursorImage image = ParseCursorFile(OneImageFile(Dib(spec), 2, 2, 1));
    ASSERT_EQ(image.width, 3);
    ASSERT_EQ(image.height, 2);
    EXPECT_EQ(image.hotSpotX, 2);
    EXPECT_EQ(image.hotSpotY, 1);
    EXPECT_EQ(image.argb, (std::vector<uint32_t>{0xFF11AA33, 0xFF000000, 0x00000000,  //
                                                 0xFF000000, 0xFF11AA33, 0xFF000000}));
}

TEST(CursorFileDecoding, FourAndEightBitImagesUseTheirPalettes)
{
    DibSpec four{3, 2, 4, 0, 0, 1, std::vector<uint32_t>(16, 0), {0x2F, 0x30, 0, 0, 0x00, 0, 0, 0}};
    four.palette[2] = 0xFF0000;
    four.palette[3] = 0x0000FF;
    four.palette[15] = 0xFFFFFF;
    const CursorImage a = ParseCursorFile(OneImageFile(Dib(four)));
    EXPECT_EQ(a.argb, (std::vector<uint32_t>{0xFFFF0000, 0xFFFFFFFF, 0xFF0000FF}));

    // A short palette (coloursUsed = 2) is honoured, so the mask comes right after it.
    DibSpec eight{2, 4, 8, 2, 0, 1, {0x102030, 0x405060}, {}};
    eight.rows = {1, 0, 0, 0, /* bottom */ 0, 1, 0, 0, /* top */ 0x40, 0, 0, 0, 0x00, 0, 0, 0};
    const CursorImage b = ParseCursorFile(OneImageFile(Dib(eight)));
    EXPECT_EQ(b.argb, (std::vector<uint32_t>{0xFF102030, 0xFF405060, 0xFF405060, 0x00000000}));

    // A pixel naming a colour past the end of the palette is an error.
    eight.rows[0] = 2;
    ExpectRejected(OneImageFile(Dib(eight)));
}

TEST(CursorFileDecoding, ThirtyTwoBitImagesUseAlphaOrFallBackToTheMask)
{
    // 1 x 2, stored bottom row first as B, G, R, A.
    DibSpec withAlpha{1, 4, 32, 0, 0, 1, {}, {0x30, 0x20, 0x10, 0x80, /* bottom */ 0x03, 0x02, 0x01, 0xFF}};
    // No mask rows at all: with real alpha they are not needed.
    const CursorImage a = ParseCursorFile(OneImageFile(Dib(withAlpha)));
    EXPECT_EQ(a.argb, (std::vector<uint32_t>{0xFF010203, 0x80102030}));

    DibSpec noAlpha{1, 4, 32, 0, 0, 1, {}, {0x30, 0x20, 0x10, 0, 0x03, 0x02, 0x01, 0}};
    ExpectRejected(OneImageFile(Dib(noAlpha)));  // the mask is then required
    noAlpha.rows.insert(noAlpha.rows.end(), {0x80, 0, 0, 0, /* top */ 0x00, 0, 0, 0});
    const CursorImage b = ParseCursorFile(OneImageFile(Dib(noAlpha)));
    EXPECT_EQ(b.argb, (std::vector<uint32_t>{0xFF010203, 0x00000000}));
}

TEST(CursorFileDecoding, IconFilesHaveTheHotSpotInTheCorner)
{
    DibSpec spec{1, 2, 24, 0, 0, 1, {}, {0xCC, 0xBB, 0xAA, 0, /* mask */ 0, 0, 0, 0}};
    // The icon entry's planes and bit count sit where a cursor keeps its hot spot.
    const CursorImage image = ParseCursorFile(OneImageFile(Dib(spec), 1, 1, 24));
    EXPECT_EQ(image.hotSpotX, 0);
    EXPECT_EQ(image.hotSpotY, 0);
    EXPECT_EQ(image.argb, std::vector<uint32_t>{0xFFAABBCC});
}

// ---- Malformed and hostile input -------------------------------------------------------------

TEST(CursorFileRejects, BadHeadersAndDirectories)
{
    ExpectRejected({});
    ExpectRejected({0, 0, 2, 0});
    ExpectRejected({0, 0, 2, 0, 0, 0});          // no images
    ExpectRejected({1, 0, 2, 0, 1, 0});          // reserved field set
    ExpectRejected({0, 0, 3, 0, 1, 0});          // neither icon nor cursor
    ExpectRejected({0, 0, 2, 0, 2, 0, 32, 32});  // directory cut short

    std::vector<uint8_t> bytes = ReadHandCursor();
    bytes[18] = 0xF0;  // image offset far past the end of the file
    bytes[19] = 0xFF;
    bytes[20] = 0xFF;
    bytes[21] = 0xFF;
    ExpectRejected(bytes);

    bytes = ReadHandCursor();
    bytes[14] = 0xFF;  // image size runs past the end of the file
    bytes[15] = 0xFF;
    bytes[16] = 0xFF;
    bytes[17] = 0xFF;
    ExpectRejected(bytes);
}

TEST(CursorFileRejects, EveryTruncationOfTheHandCursor)
{
    const std::vector<uint8_t> bytes = ReadHandCursor();
    for (size_t length = 0; length < bytes.size(); ++length) {
        const std::vector<uint8_t> prefix(bytes.begin(), bytes.begin() + static_cast<long>(length));
        EXPECT_THROW(ParseCursorFile(prefix), std::runtime_error) << "length " << length;
    }
    // And an image that claims less data than its header needs.
    std::vector<uint8_t> shortImage = ReadHandCursor();
    shortImage[14] = 100;
    shortImage[15] = 0;
    ExpectRejected(shortImage);
}

TEST(CursorFileRejects, ImpossibleOrUnsupportedImages)
{
    const std::vector<uint8_t> rows(4096, 0);
    const auto build = [&](int32_t width, int32_t heightField, uint16_t bits, uint32_t compression = 0,
                           uint16_t planes = 1, uint32_t coloursUsed = 0) {
        return OneImageFile(Dib({width, heightField, bits, coloursUsed, compression, planes,
                                 std::vector<uint32_t>(bits <= 8 ? 1u << bits : 0u, 0), rows}));
    };
    EXPECT_NO_THROW(ParseCursorFile(build(4, 8, 4)));  // the baseline the cases below vary

    ExpectRejected(build(100000, 200000, 4));  // oversized dimensions
    ExpectRejected(build(257, 8, 4));
    ExpectRejected(build(4, 1000, 4));
    ExpectRejected(build(0, 8, 4));
    ExpectRejected(build(-4, 8, 4));
    ExpectRejected(build(4, -8, 4));  // top-down images do not occur in cursors
    ExpectRejected(build(4, 7, 4));   // colour and mask rows must pair up
    ExpectRejected(build(4, 8, 2));   // bit depths outside 1, 4, 8, 24, 32
    ExpectRejected(build(4, 8, 16));
    ExpectRejected(build(4, 8, 8, 1));         // RLE compression
    ExpectRejected(build(4, 8, 4, 0, 2));      // planes other than 1
    ExpectRejected(build(4, 8, 4, 0, 1, 17));  // palette larger than the bit depth allows
    ExpectRejected(build(128, 256, 8));        // larger than the data present

    std::vector<uint8_t> header(40, 0);
    header[0] = 12;  // an old-style 12-byte header
    ExpectRejected(OneImageFile(header));

    const std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13};
    ExpectRejected(OneImageFile(png));
}

TEST(CursorFileRejects, HotSpotOutsideTheImage)
{
    std::vector<uint8_t> bytes = ReadHandCursor();
    bytes[10] = 32;  // x = 32 in a 32-wide image
    ExpectRejected(bytes);
    bytes = ReadHandCursor();
    bytes[12] = 0;
    bytes[13] = 1;  // y = 256
    ExpectRejected(bytes);
}

TEST(CursorFileRejects, RandomDamageNeverYieldsAnInconsistentImage)
{
    const std::vector<uint8_t> original = ReadHandCursor();
    std::mt19937 random(12345);
    std::uniform_int_distribution<size_t> position(0, original.size() - 1);
    std::uniform_int_distribution<int> value(0, 255);
    std::uniform_int_distribution<int> damage(1, 6);
    for (int round = 0; round < 3000; ++round) {
        std::vector<uint8_t> bytes = original;
        for (int n = damage(random); n > 0; --n) {
            // Favour the headers, where damage matters most.
            const size_t at = round % 2 == 0 ? position(random) % 70 : position(random);
            bytes[at] = static_cast<uint8_t>(value(random));
        }
        try {
            const CursorImage image = ParseCursorFile(bytes);
            ASSERT_GT(image.width, 0);
            ASSERT_GT(image.height, 0);
            ASSERT_EQ(image.argb.size(), static_cast<size_t>(image.width) * static_cast<size_t>(image.height));
            ASSERT_LT(image.hotSpotX, image.width);
            ASSERT_LT(image.hotSpotY, image.height);
        } catch (const std::runtime_error&) {
            // Rejected: fine.
        }
    }
    // Pure noise with a plausible directory in front of it.
    for (int round = 0; round < 500; ++round) {
        std::vector<uint8_t> noise(22 + static_cast<size_t>(round), 0);
        for (uint8_t& b : noise)
            b = static_cast<uint8_t>(value(random));
        const std::vector<uint8_t> head = {0, 0, 2, 0, 1, 0};
        std::copy(head.begin(), head.end(), noise.begin());
        try {
            const CursorImage image = ParseCursorFile(noise);
            ASSERT_EQ(image.argb.size(), static_cast<size_t>(image.width) * static_cast<size_t>(image.height));
        } catch (const std::runtime_error&) {
        }
    }
}

}  // namespace
}  // namespace tarnwick
