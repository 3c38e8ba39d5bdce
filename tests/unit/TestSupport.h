// Shared test helpers: temporary folders, file bytes, and recording stand-ins for the platform
// pieces that the window's commands use.
#pragma once

#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/Layout.h"
#include "app/Platform.h"
#include "desktop/WallpaperShell.h"
#include "registry/RegistryOps.h"

namespace tarnwick::test {

// A fresh folder, removed with everything in it when the object goes.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;
    const std::filesystem::path& Path() const { return path_; }
    std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

private:
    std::filesystem::path path_;
};

std::string ReadBytes(const std::filesystem::path& path);
void WriteBytes(const std::filesystem::path& path, const std::string& bytes);
// The names of the entries of a folder, sorted.
std::vector<std::string> FolderEntries(const std::filesystem::path& folder);

class FixedVersion : public IVersionQuery {
public:
    explicit FixedVersion(std::optional<VersionRecord> record) : record_(record) {}
    bool Query(VersionRecord& record) override;

private:
    std::optional<VersionRecord> record_;
};

class FixedScreen : public IScreenMetrics {
public:
    FixedScreen(int widthPixels, int heightPixels, int dotsPerInch)
        : width_(widthPixels), height_(heightPixels), dpi_(dotsPerInch)
    {
    }
    void Set(int widthPixels, int heightPixels, int dotsPerInch)
    {
        width_ = widthPixels, height_ = heightPixels, dpi_ = dotsPerInch;
    }
    float WidthTwips() override { return PixelsToTwips(width_, static_cast<float>(dpi_)); }
    float HeightTwips() override { return PixelsToTwips(height_, static_cast<float>(dpi_)); }
    int DotsPerInch() override { return dpi_; }

private:
    int width_, height_, dpi_;
};

// Every call in order, as one line each, shared by all the objects a shell created.
class RecordingShell : public IWallpaperShell {
public:
    std::unique_ptr<IActiveDesktopObject> CreateActiveDesktop() override;
    std::string DescribeStatus(int32_t hr) override;

    std::vector<std::string> calls;
    int32_t failCreate = 0;  // non-zero: creation fails with this HRESULT
    std::string failCall;    // name of a call that answers failStatus (a success code too)
    int32_t failStatus = static_cast<int32_t>(0x80004001u);  // E_NOTIMPL
    // What GetDesktopItemOptions answers; SetDesktopItemOptions changes it.
    DesktopItemOptions itemOptions{sizeof(DesktopItemOptions), 1, 1};
    std::u16string wallpaper;  // what GetWallpaper answers
};

// Passes every call on to the registry beneath and records it as one line, in order. The
// operation named by failCall (or "<operation> <value name>") answers failStatus instead, without reaching the registry beneath.
class RecordingRegistry : public IRegistryOps {
public:
    explicit RecordingRegistry(IRegistryOps& inner) : inner_(inner) {}

    int32_t RegCreateKeyExA(uint32_t hKey, const std::string& subKey, uint32_t reserved, const char* className,
                            uint32_t options, uint32_t samDesired, const RegSecurityAttributes* securityAttributes,
                            RegKey* result, uint32_t* disposition) override;
    int32_t RegSetValueExA(RegKey key, const std::string& valueName, uint32_t reserved, uint32_t type,
                           const uint8_t* data, uint32_t cbData) override;
    int32_t RegOpenKeyExA(uint32_t hKey, const std::string& subKey, uint32_t options, uint32_t samDesired,
                          RegKey* result) override;
    int32_t RegDeleteValueA(RegKey key, const std::string& valueName) override;
    int32_t RegCloseKey(RegKey key) override;

    // How many recorded lines begin with the operation's name.
    int Count(const std::string& operation) const;

    std::vector<std::string> calls;
    std::string failCall;
    int32_t failStatus = 5;  // ERROR_ACCESS_DENIED

private:
    int32_t Record(const std::string& name, const std::string& arguments);

    IRegistryOps& inner_;
};

class RecordingMessageBox : public IMessageBox {
public:
    void Show(const std::u16string& text, const std::u16string& caption) override;
    std::vector<std::pair<std::u16string, std::u16string>> shown;
};

class RecordingEnd : public IProgramEnd {
public:
    void EndProgram() override { ++ends; }
    int ends = 0;
};

}  // namespace tarnwick::test
