#include "app/qt/QtPlatform.h"

#include <QApplication>
#include <QCoreApplication>
#include <QFile>
#include <QGuiApplication>
#include <QMessageBox>
#include <QScreen>
#include <QString>

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <system_error>

#include "base/AppError.h"
#include "app/Layout.h"
#include "registry/StandaloneRegistry.h"

namespace tarnwick {

namespace {
QScreen& PrimaryScreen()
{
    QScreen* screen = QGuiApplication::primaryScreen();
    if (screen == nullptr)
        throw SystemError(ENODEV, "The screen size could not be read: the display has no screen.");
    return *screen;
}

float ToTwips(int pixels, const QScreen& screen)
{
    return PixelsToTwips(pixels, static_cast<float>(screen.logicalDotsPerInch()));
}

bool IsRegularFile(const FilePath& path)
{
    struct stat info {};
    return ::stat(path.Native().c_str(), &info) == 0 && S_ISREG(info.st_mode);
}
}  // namespace

bool QtVersionQuery::Query(VersionRecord&)
{
    return false;
}

float QtScreenMetrics::WidthTwips()
{
    QScreen& screen = PrimaryScreen();
    return ToTwips(screen.size().width(), screen);
}

float QtScreenMetrics::HeightTwips()
{
    QScreen& screen = PrimaryScreen();
    return ToTwips(screen.size().height(), screen);
}

int QtScreenMetrics::DotsPerInch()
{
    return static_cast<int>(std::lround(PrimaryScreen().logicalDotsPerInch()));
}

void QtMessageBox::Show(const std::u16string& text, const std::u16string& caption)
{
    QMessageBox box(QMessageBox::NoIcon, QString::fromStdU16String(caption), QString::fromStdU16String(text),
                    QMessageBox::Ok, parent_);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

namespace {
bool applying = false;

class BusyActiveDesktop : public IActiveDesktopObject {
public:
    explicit BusyActiveDesktop(std::unique_ptr<IActiveDesktopObject> inner) : inner_(std::move(inner)) {}

    int32_t SetWallpaperOptions(const WallpaperOptions& options, uint32_t reserved) override
    {
        return inner_->SetWallpaperOptions(options, reserved);
    }
    int32_t GetWallpaperOptions(WallpaperOptions& options, uint32_t reserved) override
    {
        return inner_->GetWallpaperOptions(options, reserved);
    }
    int32_t SetWallpaper(const std::u16string& path, uint32_t reserved) override
    {
        return inner_->SetWallpaper(path, reserved);
    }
    int32_t GetWallpaper(std::u16string& path, uint32_t flags) override
    {
        return inner_->GetWallpaper(path, flags);
    }
    int32_t GetDesktopItemOptions(DesktopItemOptions& options, uint32_t reserved) override
    {
        return inner_->GetDesktopItemOptions(options, reserved);
    }
    int32_t SetDesktopItemOptions(const DesktopItemOptions& options, uint32_t reserved) override
    {
        return inner_->SetDesktopItemOptions(options, reserved);
    }
    int32_t ApplyChanges(uint32_t flags) override
    {
        struct Scope {
            Scope()
            {
                applying = true;
                QApplication::setOverrideCursor(Qt::WaitCursor);
            }
            ~Scope()
            {
                QApplication::restoreOverrideCursor();
                applying = false;
            }
        } scope;
        return inner_->ApplyChanges(flags);
    }

private:
    std::unique_ptr<IActiveDesktopObject> inner_;
};
}  // namespace

std::unique_ptr<IActiveDesktopObject> BusyWallpaperShell::CreateActiveDesktop()
{
    return std::make_unique<BusyActiveDesktop>(inner_.CreateActiveDesktop());
}

bool BusyWallpaperShell::Busy()
{
    return applying;
}

void QtProgramEnd::EndProgram()
{
    std::cout.flush();
    std::cerr.flush();
    std::fflush(nullptr);
    std::exit(0);
}

FilePath RunningProgramFolder()
{
    // /proc/self/exe keeps the file name's exact bytes; Qt's answer is the fallback.
    std::error_code error;
    std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
    if (!error && exe.is_absolute())
        return FilePath(exe.native()).Parent();
    QString folder = QCoreApplication::applicationDirPath();
    if (folder.isEmpty())
        throw SystemError(static_cast<uint32_t>(error.value() != 0 ? error.value() : ENOENT),
                          "The program's folder could not be found.");
    return FilePath(QFile::encodeName(folder).toStdString());
}

PageFiles LinuxPageFiles(const FilePath& programFolder, const FilePath& configFolder, const FilePath& dataFolder)
{
    const FilePath installed = programFolder / TARNWICK_DATA_FROM_PROGRAM / "1.htm";
    FilePath templatePath = programFolder / "1.htm";
    if (!IsRegularFile(templatePath)) {
        if (!configFolder.Empty() && IsRegularFile(configFolder / "1.htm"))
            templatePath = configFolder / "1.htm";
        else if (IsRegularFile(installed))
            templatePath = installed;
    }
    // The installed sample's folder belongs to the package manager, even for root.
    const FilePath folder = templatePath.Parent();
    if ((templatePath != installed && ::access(folder.Native().c_str(), W_OK) == 0) || dataFolder.Empty())
        return {templatePath, folder / "2.htm"};
    // The pictures' folder, private like them; a folder that cannot be made is reported by Run,
    // which cannot write the page there.
    std::error_code ignored;
    std::filesystem::create_directories(dataFolder.Parent().Native(), ignored);
    ::mkdir(dataFolder.Native().c_str(), 0700);
    return {templatePath, dataFolder / "2.htm"};
}

FilePath LinuxDrawingProgram(const FilePath& programFolder, const char* programName)
{
    const FilePath beside = programFolder / programName;
    if (IsRegularFile(beside))
        return beside;
    const FilePath installed = FilePath(
        std::filesystem::path((programFolder / TARNWICK_DRAWER_FROM_PROGRAM / programName).Native()).lexically_normal().native());
    if (IsRegularFile(installed))
        return installed;
    struct stat info {};
    const FilePath sampleFolder = programFolder / TARNWICK_DATA_FROM_PROGRAM;
    return ::stat(sampleFolder.Native().c_str(), &info) == 0 && S_ISDIR(info.st_mode) ? installed : beside;
}

std::filesystem::path RegistryStorePath()
{
    std::filesystem::path store = StandaloneRegistry::DefaultStorePath();
    if (store.empty())
        throw AppError(ENOENT, DescribeSystemError(ENOENT),
                       "Neither XDG_CONFIG_HOME nor HOME is set, so there is no place to keep the wallpaper setting.");
    return store;
}

}  // namespace tarnwick
