#include "TestSupport.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <sstream>
#include <stdexcept>

#include "app/AnsiText.h"
#include "app/AppError.h"

namespace tarnwick::test {

namespace fs = std::filesystem;

TempFolder::TempFolder()
{
    static std::atomic<int> counter{0};
    auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    path_ = fs::temp_directory_path() /
            ("tarnwick-test-" + std::to_string(stamp) + "-" + std::to_string(counter++));
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
    int32_t SetWallpaper(const std::u16string& path, uint32_t reserved) override
    {
        return Record("SetWallpaper", "path=" + ToUtf8(path) + " reserved=" + std::to_string(reserved));
    }
    int32_t ApplyChanges(uint32_t flags) override { return Record("ApplyChanges", "flags=" + std::to_string(flags)); }

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

void RecordingMessageBox::Show(const std::u16string& text, const std::u16string& caption)
{
    shown.emplace_back(text, caption);
}

}  // namespace tarnwick::test
