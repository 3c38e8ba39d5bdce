// The page drawer on its own, under Xvfb: what it draws, what it refuses to fetch, and how its
// failures read.
#include <gtest/gtest.h>

#include <QApplication>
#include <QBuffer>
#include <QHostAddress>
#include <QImage>
#include <QTcpServer>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "base/AppError.h"
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

QImage Decode(const std::string& png)
{
    QImage image;
    EXPECT_TRUE(image.loadFromData(reinterpret_cast<const uchar*>(png.data()), static_cast<int>(png.size()), "PNG"));
    return image.convertToFormat(QImage::Format_RGB32);
}

// A page with a style, a script and a local picture, in a folder whose name is not UTF-8, that
// also asks for things on the network: a listening server on this machine must hear nothing.
TEST(PageDrawer, DrawsTheLocalPageAtTheGivenSizeAndNeverReachesTheNetwork)
{
    QTcpServer server;
    ASSERT_TRUE(server.listen(QHostAddress::LocalHost));
    const std::string remote = "http://127.0.0.1:" + std::to_string(server.serverPort());
    const std::filesystem::path folder = MakeFolder("caf\xE9 page");
    QImage blue(40, 40, QImage::Format_RGB32);
    blue.fill(QColor(0, 0, 255));
    QByteArray bluePng;
    QBuffer buffer(&bluePng);
    ASSERT_TRUE(buffer.open(QIODevice::WriteOnly) && blue.save(&buffer, "PNG"));
    Write(folder / "blue.png", bluePng.toStdString());
    Write(
        folder / "page.htm",
        "<html><head><style>body { margin: 0; background: rgb(200, 30, 30); }"
        " #left { position: fixed; left: 0; top: 0; width: 150px; height: 200px; background: rgb(30, 160, 40); }"
        " #pic { position: fixed; left: 200px; top: 100px; }"
        " #remote { position: fixed; left: 200px; top: 10px; width: 40px; height: 40px; }</style></head><body>"
        "<div id=left></div><img id=pic src=\"blue.png\">"
        "<img id=remote src=\"" +
            remote +
            "/picture.png\">"
            "<link rel=stylesheet href=\"" +
            remote +
            "/style.css\">"
            "<iframe style=\"position: fixed; left: 250px; top: 150px; width: 10px; height: 10px; border: 0\" src=\"" +
            remote +
            "/frame.htm\"></iframe>"
            "<script>document.body.style.background = 'rgb(250, 250, 0)';"
            " fetch('" +
            remote + "/data').catch(() => {});</script></body></html>");

    WebPageDrawer drawer;
    const QImage image = Decode(drawer.DrawPage(FilePath((folder / "page.htm").string()), PixelSize{300, 200}));
    ASSERT_EQ(image.size(), QSize(300, 200));
    EXPECT_EQ(image.pixelColor(0, 0), QColor(30, 160, 40));  // the style
    EXPECT_EQ(image.pixelColor(149, 199), QColor(30, 160, 40));
    EXPECT_EQ(image.pixelColor(299, 199), QColor(250, 250, 0));  // the script's colour
    EXPECT_EQ(image.pixelColor(220, 120), QColor(0, 0, 255));    // the local picture
    EXPECT_FALSE(server.waitForNewConnection(200));
    EXPECT_FALSE(server.hasPendingConnections());
    std::filesystem::remove_all(folder.parent_path());
}

TEST(PageDrawer, APageThatFailsOrNeverFinishesIsAClearErrorAndTheNextOneIsDrawn)
{
    const std::filesystem::path folder = MakeFolder("pages");
    Write(folder / "never.htm", "<html><body><script>while (true) {}</script></body></html>");
    Write(folder / "good.htm", "<html><body style=\"margin:0;background:rgb(10,20,30)\"></body></html>");

    WebPageDrawer drawer(std::chrono::milliseconds(1500));
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

}  // namespace
}  // namespace tarnwick

int main(int argc, char** argv)
{
    tarnwick::PrepareWebEngine();
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
