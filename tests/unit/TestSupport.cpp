#include "TestSupport.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "base/AnsiText.h"
#include "base/AppError.h"

namespace tarnwick::test {

namespace fs = std::filesystem;

TempFolder::TempFolder()
{
    static std::atomic<int> counter{0};
    auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    path_ = fs::temp_directory_path() / ("tarnwick-test-" + std::to_string(stamp) + "-" + std::to_string(counter++));
    fs::create_directories(path_);
}

TempFolder::~TempFolder()
{
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

std::string ReadBytes(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + path.string());
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

void WriteBytes(const fs::path& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + path.string());
}

std::vector<std::string> FolderEntries(const fs::path& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

bool FixedVersion::Query(VersionRecord& record)
{
    if (!record_)
        return false;
    record = *record_;
    return true;
}

namespace {
class RecordingDesktop : public IActiveDesktopObject {
public:
    explicit RecordingDesktop(RecordingShell& shell) : shell_(shell) {}
    ~RecordingDesktop() override { shell_.calls.push_back("Release"); }
    RecordingDesktop(const RecordingDesktop&) = delete;
    RecordingDesktop& operator=(const RecordingDesktop&) = delete;

    int32_t SetWallpaperOptions(const WallpaperOptions& options, uint32_t reserved) override
    {
        return Record("SetWallpaperOptions", "size=" + std::to_string(options.dwSize) +
                                                 " style=" + std::to_string(options.dwStyle) +
                                                 " reserved=" + std::to_string(reserved));
    }
    int32_t GetWallpaperOptions(WallpaperOptions& options, uint32_t reserved) override
    {
        return Record("GetWallpaperOptions",
                      "size=" + std::to_string(options.dwSize) + " reserved=" + std::to_string(reserved));
    }
    int32_t SetWallpaper(const std::u16string& path, uint32_t reserved) override
    {
        return Record("SetWallpaper", "path=" + ToUtf8(path) + " reserved=" + std::to_string(reserved));
    }
    int32_t GetWallpaper(std::u16string& path, uint32_t flags) override
    {
        path = shell_.wallpaper;
        return Record("GetWallpaper", "flags=" + std::to_string(flags));
    }
    int32_t ApplyChanges(uint32_t flags) override { return Record("ApplyChanges", "flags=" + std::to_string(flags)); }
    int32_t GetDesktopItemOptions(DesktopItemOptions& options, uint32_t reserved) override
    {
        const int32_t hr = Record("GetDesktopItemOptions",
                                  "size=" + std::to_string(options.dwSize) + " reserved=" + std::to_string(reserved));
        if (hr >= 0) {
            options.fEnableComponents = shell_.itemOptions.fEnableComponents;
            options.fActiveDesktop = shell_.itemOptions.fActiveDesktop;
        }
        return hr;
    }
    int32_t SetDesktopItemOptions(const DesktopItemOptions& options, uint32_t reserved) override
    {
        const int32_t hr = Record(
            "SetDesktopItemOptions",
            "size=" + std::to_string(options.dwSize) + " components=" + std::to_string(options.fEnableComponents) +
                " active=" + std::to_string(options.fActiveDesktop) + " reserved=" + std::to_string(reserved));
        if (hr >= 0)
            shell_.itemOptions = options;
        return hr;
    }

private:
    int32_t Record(const std::string& name, const std::string& arguments)
    {
        shell_.calls.push_back(name + " " + arguments);
        return name == shell_.failCall ? shell_.failStatus : 0;
    }
    RecordingShell& shell_;
};
}  // namespace

std::unique_ptr<IActiveDesktopObject> RecordingShell::CreateActiveDesktop()
{
    calls.push_back("Create");
    if (failCreate != 0)
        throw AppError(static_cast<uint32_t>(failCreate), DescribeStatus(failCreate), "creating the Active Desktop");
    return std::make_unique<RecordingDesktop>(*this);
}

std::string RecordingShell::DescribeStatus(int32_t hr)
{
    return "status " + std::to_string(static_cast<uint32_t>(hr));
}

namespace {
// Bytes as they lie in memory, in hex.
template <typename T>
std::string HexBytes(const T& object)
{
    unsigned char bytes[sizeof(T)];
    std::memcpy(bytes, &object, sizeof(T));
    std::string text;
    for (unsigned char byte : bytes) {
        text += "0123456789abcdef"[byte >> 4];
        text += "0123456789abcdef"[byte & 15];
    }
    return text;
}

std::string Hex(uint32_t number)
{
    char text[9];
    std::snprintf(text, sizeof text, "%x", number);
    return text;
}
}  // namespace

// Keys are named by their text (a root in hex), security records by their fields' bytes.
int32_t RecordingRegistry::RegCreateKeyExA(uint32_t hKey, const std::string& subKey, uint32_t reserved,
                                           const char* className, uint32_t options, uint32_t samDesired,
                                           const RegSecurityAttributes* sa, RegKey* result, uint32_t* disposition)
{
    std::string security = "none";
    if (sa != nullptr)
        security = HexBytes(sa->nLength) + (sa->lpSecurityDescriptor ? ",descriptor," : ",null,") +
                   HexBytes(sa->bInheritHandle);
    if (int32_t status = Record("RegCreateKeyExA",
                                Hex(hKey) + " " + subKey + " access=" + Hex(samDesired) + " security=" + security))
        return status;
    return inner_.RegCreateKeyExA(hKey, subKey, reserved, className, options, samDesired, sa, result, disposition);
}

int32_t RecordingRegistry::RegSetValueExA(RegKey key, const std::string& valueName, uint32_t reserved, uint32_t type,
                                          const uint8_t* data, uint32_t cbData)
{
    if (int32_t status =
            Record("RegSetValueExA", valueName + " type=" + std::to_string(type) + " size=" + std::to_string(cbData)))
        return status;
    return inner_.RegSetValueExA(key, valueName, reserved, type, data, cbData);
}

int32_t RecordingRegistry::RegOpenKeyExA(uint32_t hKey, const std::string& subKey, uint32_t options,
                                         uint32_t samDesired, RegKey* result)
{
    if (int32_t status = Record("RegOpenKeyExA", Hex(hKey) + " " + subKey + " access=" + Hex(samDesired)))
        return status;
    return inner_.RegOpenKeyExA(hKey, subKey, options, samDesired, result);
}

int32_t RecordingRegistry::RegDeleteValueA(RegKey key, const std::string& valueName)
{
    if (int32_t status = Record("RegDeleteValueA", valueName))
        return status;
    return inner_.RegDeleteValueA(key, valueName);
}

int32_t RecordingRegistry::RegCloseKey(RegKey key)
{
    if (int32_t status = Record("RegCloseKey", ""))
        return status;
    return inner_.RegCloseKey(key);
}

int RecordingRegistry::Count(const std::string& operation) const
{
    return static_cast<int>(std::count_if(calls.begin(), calls.end(), [&](const std::string& call) {
        return call.compare(0, operation.size() + 1, operation + " ") == 0 || call == operation;
    }));
}

int32_t RecordingRegistry::Record(const std::string& name, const std::string& arguments)
{
    calls.push_back(arguments.empty() ? name : name + " " + arguments);
    return name == failCall || calls.back().starts_with(failCall + " ") ? failStatus : 0;
}

void RecordingMessageBox::Show(const std::u16string& text, const std::u16string& caption)
{
    shown.emplace_back(text, caption);
}

}  // namespace tarnwick::test
