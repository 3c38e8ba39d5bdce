// The page drawer on its own, under Xvfb: what it draws, what it refuses to fetch, and how its
// failures read.
#include <gtest/gtest.h>

#include <QApplication>
#include <QBuffer>
#include <QHostAddress>
#include <QImage>
#include <QDeadlineTimer>
#include <QTcpServer>
#include <QUdpSocket>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>

#include "base/AppError.h"
#include "desktop/linux/FastPng.h"
#include "desktop/linux/WebPageDrawer.h"

namespace tarnwick {
namespace {

std::filesystem::path MakeFolder(const std::string& name)
{
    std::string pattern = (std::filesystem::temp_directory_path() / "tarnwick-drawer.XXXXXX").string();
    const char* made = ::mkdtemp(pattern.data());
    if (made == nullptr)
        throw std::runtime_error("no temporary folder");
    std::filesystem::path folder = std::filesystem::path(made) / name;
    std::filesystem::create_directories(folder);
    return folder;
}

void Write(const std::filesystem::path& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary) << text;
}

FilePath DrawingProgram()
{
    return FilePath(std::string(TARNWICK_DRAWER));
}

QImage Decode(const std::string& png)
{
    QImage image;
    EXPECT_TRUE(image.loadFromData(reinterpret_cast<const uchar*>(png.data()), static_cast<int>(png.size()), "PNG"));
    return image.convertToFormat(QImage::Format_RGB32);
}

// A page with a style, a script, a local picture and a web font from a local file, in a folder
// whose name is not UTF-8, that redefines console.log and requestAnimationFrame and tries every
// road to the network: pictures, styles, frames, fetch, WebSocket, WebRTC's STUN and TURN over
// UDP and TCP, and navigating itself away. A server on this machine listening on TCP and UDP
// must hear nothing, and the page is drawn as it is, with its font, well within the bound.
TEST(PageDrawer, DrawsTheLocalPageAtItsSizeWithItsFontAndNeverReachesTheNetwork)
{
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
    QUdpSocket udp;
    ASSERT_TRUE(udp.bind(QHostAddress::LocalHost, server.serverPort()));
    const std::string address = "127.0.0.1:" + std::to_string(server.serverPort());
    const std::string remote = "http://" + address;
    const std::filesystem::path folder = MakeFolder("caf\xE9 page");
    QImage blue(40, 40, QImage::Format_RGB32);
    blue.fill(QColor(0, 0, 255));
    QByteArray bluePng;
    QBuffer buffer(&bluePng);
    ASSERT_TRUE(buffer.open(QIODevice::WriteOnly) && blue.save(&buffer, "PNG"));
    Write(folder / "blue.png", bluePng.toStdString());
    std::filesystem::copy_file("/usr/share/fonts/truetype/liberation/LiberationMono-Regular.ttf", folder / "face.ttf");
    Write(folder / "page.htm",
          "<html><head><meta http-equiv=refresh content=\"0; url=" + remote + "/refreshed\">"
          "<style>@font-face { font-family: Face; src: url(face.ttf); }"
          " body { margin: 0; background: rgb(200, 30, 30); }"
          " #left { position: fixed; left: 0; top: 0; width: 150px; height: 100px; background: rgb(30, 160, 40); }"
          " #text { position: fixed; left: 0; top: 120px; font: 40px Face, serif; background: rgb(0, 0, 255);"
          " color: rgb(0, 0, 255); }"
          " #pic { position: fixed; left: 200px; top: 100px; }"
          " #remote { position: fixed; left: 200px; top: 10px; width: 40px; height: 40px; }</style>"
          "<link rel=stylesheet href=\"" + remote + "/style.css\"></head><body>"
          "<div id=left></div><img id=pic src=\"blue.png\"><span id=text>iiiiiiiiii</span>"
          "<img id=remote src=\"" + remote + "/picture.png\">"
          "<iframe style=\"position: fixed; left: 250px; top: 150px; width: 10px; height: 10px; border: 0\" src=\"" +
          remote + "/frame.htm\"></iframe>"
          "<script>console.log = () => { throw new Error('no'); }; window.requestAnimationFrame = () => 0;"
          " document.body.style.background = 'rgb(250, 250, 0)';"
          " fetch('" + remote + "/data').catch(() => {});"
          " try { new WebSocket('ws://" + address + "/socket'); } catch (e) {}"
          " const rtc = new RTCPeerConnection({ iceServers: [{ urls: ['stun:" + address + "', 'turn:" + address +
          "?transport=udp', 'turn:" + address + "?transport=tcp'], username: 'u', credential: 'c' }] });"
          " rtc.createDataChannel('d'); rtc.createOffer().then(offer => rtc.setLocalDescription(offer));"
          " setTimeout(() => { location.href = '" + remote + "/moved'; }, 0);</script></body></html>");

    WebPageDrawer drawer(DrawingProgram(), std::chrono::milliseconds(5000));
    const QImage image = Decode(drawer.DrawPage(FilePath((folder / "page.htm").string()), PixelSize{300, 200}));
    ASSERT_EQ(image.size(), QSize(300, 200));
    EXPECT_EQ(image.pixelColor(0, 0), QColor(30, 160, 40));  // the style
    EXPECT_EQ(image.pixelColor(149, 99), QColor(30, 160, 40));
    EXPECT_EQ(image.pixelColor(299, 199), QColor(250, 250, 0));  // the script's colour
    EXPECT_EQ(image.pixelColor(220, 120), QColor(0, 0, 255));    // the local picture
    // Ten i's in the monospaced face are 240 pixels wide; in a serif face about 110.
    EXPECT_EQ(image.pixelColor(190, 140), QColor(0, 0, 255)) << "drawn without its web font";
    // The page stays open in the drawing process: it has time to try.
    QDeadlineTimer listening(1500);
    while (!listening.hasExpired() && !server.hasPendingConnections() && !udp.hasPendingDatagrams())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 50);
    EXPECT_FALSE(server.hasPendingConnections()) << "a TCP connection reached the server";
    EXPECT_FALSE(udp.hasPendingDatagrams()) << "a UDP datagram reached the server";
    std::filesystem::remove_all(folder.parent_path());
}

TEST(PageDrawer, APageThatFailsOrNeverFinishesIsAClearErrorAndTheNextOneIsDrawn)
{
    const std::filesystem::path folder = MakeFolder("pages");
    Write(folder / "never.htm", "<html><body><script>while (true) {}</script></body></html>");
    // It never rests: a corner of it moves on all the time.
    Write(folder / "good.htm",
          "<html><head><style>@keyframes turn { to { transform: rotate(360deg); } }</style></head>"
          "<body style=\"margin:0;background:rgb(10,20,30)\">"
          "<div style=\"width:20px;height:20px;background:red;animation:turn 0.5s linear infinite\"></div></body></html>");

    WebPageDrawer drawer(DrawingProgram(), std::chrono::milliseconds(1500));
    try {
        drawer.DrawPage(FilePath((folder / "never.htm").string()), PixelSize{320, 240});
        ADD_FAILURE() << "a page that never finishes was drawn";
    } catch (const AppError& error) {
        EXPECT_EQ(error.Number(), static_cast<uint32_t>(ETIMEDOUT));
        EXPECT_NE(error.Report().find("could not be drawn for the desktop: it did not finish loading within 1.5 s."),
                  std::string::npos)
            << error.Report();
    }
    try {
        drawer.DrawPage(FilePath((folder / "missing.htm").string()), PixelSize{320, 240});
        ADD_FAILURE() << "a missing page was drawn";
    } catch (const AppError& error) {
        EXPECT_EQ(error.Number(), static_cast<uint32_t>(EIO));
        EXPECT_NE(error.Report().find("missing.htm could not be drawn for the desktop: it failed to load"),
                  std::string::npos)
            << error.Report();
    }
    const QImage image = Decode(drawer.DrawPage(FilePath((folder / "good.htm").string()), PixelSize{320, 240}));
    ASSERT_EQ(image.size(), QSize(320, 240));
    EXPECT_EQ(image.pixelColor(160, 120), QColor(10, 20, 30));

    const QImage plain = Decode(drawer.PlainPicture(PixelSize{64, 48}));
    ASSERT_EQ(plain.size(), QSize(64, 48));
    for (int y = 0; y < 48; ++y)
        for (int x = 0; x < 64; ++x)
            ASSERT_EQ(plain.pixelColor(x, y), QColor(0, 0, 0));
    std::filesystem::remove_all(folder.parent_path());
}

// At 4K, while two busy threads load the machine, each time in a new drawing process: a page
// whose content its script makes after it loaded (boxes of blurred text that take a while to
// draw) holds every box in its colour, and the shipped sample page is the same picture every
// time; never a frame from before the page finished (a blank or half-drawn view).
TEST(PageDrawer, ALargePageMadeByItsScriptIsDrawnFinishedUnderLoad)
{
    const std::filesystem::path folder = MakeFolder("late");
    Write(folder / "late.htm",
          "<html><body style=\"margin:0;background:rgb(255,255,255)\"><script>"
          "addEventListener('load', () => { for (let i = 0; i < 144; ++i) {"
          " const box = document.createElement('div'); const x = i % 16, y = Math.floor(i / 16);"
          " box.style.cssText = `position:absolute;left:${x * 240}px;top:${y * 240}px;width:240px;height:240px;"
          "box-sizing:border-box;border:8px solid rgb(${x * 15},${y * 25},${(i * 7) % 256});"
          "overflow:hidden;font:11px serif;background:linear-gradient(45deg,red,blue);"
          "color:rgb(0,200,0);text-shadow:0 0 9px rgb(255,0,255),3px 3px 5px rgb(0,0,0)`;"
          " box.textContent = 'late '.repeat(400); document.body.appendChild(box); } });"
          "</script></body></html>");
    std::atomic<bool> busy{true};
    const auto spin = [&busy] {
        while (busy) {
        }
    };
    std::thread first(spin), second(spin);
    int wrong = 0;
    QImage sample;
    for (int run = 0; run < 8; ++run) {
        WebPageDrawer drawer(DrawingProgram(), std::chrono::milliseconds(15000));
        const std::string page = (run % 2 == 0 ? folder / "late.htm" : std::filesystem::path(TARNWICK_SAMPLE)).string();
        const QImage image = Decode(drawer.DrawPage(FilePath(page), PixelSize{3840, 2160}));
        ASSERT_EQ(image.size(), QSize(3840, 2160));
        if (run % 2 == 1) {
            if (sample.isNull() && image.pixelColor(10, 10) == QColor(0x07, 0x0d, 0x1c))
                sample = image;
            wrong += image == sample ? 0 : 1;
            continue;
        }
        bool whole = true;
        for (int i = 0; i < 144 && whole; ++i) {
            const int x = i % 16, y = i / 16;
            const QColor colour(x * 15, y * 25, (i * 7) % 256);
            whole = image.pixelColor(x * 240 + 3, y * 240 + 3) == colour &&
                    image.pixelColor(x * 240 + 236, y * 240 + 236) == colour &&
                    image.pixelColor(x * 240 + 120, y * 240 + 3) == colour;
        }
        wrong += whole ? 0 : 1;
    }
    busy = false;
    first.join();
    second.join();
    EXPECT_EQ(wrong, 0) << wrong << " of 8 pictures were not the finished page";
    std::filesystem::remove_all(folder.parent_path());
}

// Wider than any screen, every pixel its own: each step of the encoder gives more than its
// output buffer holds at once, and the picture decodes to exactly its pixels.
TEST(PageDrawer, TheEncoderKeepsEveryPixelOfAWideNoisyPicture)
{
    QImage picture(7680, 64, QImage::Format_RGB32);
    uint32_t seed = 12345;
    for (int y = 0; y < picture.height(); ++y) {
        auto* row = reinterpret_cast<uint32_t*>(picture.scanLine(y));
        for (int x = 0; x < picture.width(); ++x) {
            seed = seed * 1664525u + 1013904223u;
            row[x] = 0xff000000u | (seed >> 8);
        }
    }
    EXPECT_EQ(Decode(FastPng(picture)), picture);
}

}  // namespace
}  // namespace tarnwick

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
