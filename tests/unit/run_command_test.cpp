// The Run command from page to wallpaper: its order, its registry bytes and its failures.
#include <gtest/gtest.h>

#include <algorithm>

#include "TestSupport.h"
#include "base/AppError.h"
#include "app/frmMain.h"
#include "desktop/ShellState.h"
#include "registry/StandaloneRegistry.h"

namespace tarnwick {
namespace {

const std::vector<uint8_t> kShellState = {0x1C, 0x00, 0x00, 0x00, 0x63, 0x08, 0x00, 0x00, 0x00, 0x00,
                                          0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                                          0x01, 0x00, 0x00, 0x00, 0x0A, 0x00, 0x00, 0x00};
const std::string kExplorer = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer";

// Records, when the shell object is created, what the page and the registry held at that moment.
class ObservingShell : public test::RecordingShell {
public:
    ObservingShell(const std::filesystem::path& page, StandaloneRegistry& registry) : page_(page), registry_(registry)
    {
    }
    std::unique_ptr<IActiveDesktopObject> CreateActiveDesktop() override
    {
        pageAtCreate = std::filesystem::exists(page_) ? test::ReadBytes(page_) : "<missing>";
        shellStateAtCreate = registry_.QueryValue(HKEY_CURRENT_USER_VALUE, kExplorer, "ShellState");
        return RecordingShell::CreateActiveDesktop();
    }
    std::string pageAtCreate;
    std::optional<StoredValue> shellStateAtCreate;

private:
    std::filesystem::path page_;
    StandaloneRegistry& registry_;
};

// The context of the AppError that f raises, or "no error".
template <class F>
std::string FailureOf(F f)
{
    try {
        f();
    } catch (const AppError& error) {
        return std::to_string(error.Number()) + " " + error.Context();
    }
    return "no error";
}

struct RunFixture {
    explicit RunFixture(std::optional<VersionRecord> version, int width = 1024, int height = 768, int dpi = 96)
        : versionQuery(version), screen(width, height, dpi), registry(folder / "registry.reg"), recording(registry),
          shell(folder / "2.htm", registry),
          platform{versionQuery, screen, recording, shell, messageBox, end, PageFiles::InFolder(folder.Path())},
          form(platform)
    {
        form.Load();
    }

    std::optional<StoredValue> ShellState()
    {
        return registry.QueryValue(HKEY_CURRENT_USER_VALUE, kExplorer, "ShellState");
    }

    std::string WallpaperPath() const { return (folder.Path() / "2.htm").string(); }

    test::TempFolder folder;
    test::FixedVersion versionQuery;
    test::FixedScreen screen;
    StandaloneRegistry registry;
    test::RecordingRegistry recording;  // what the program asked of the registry
    ObservingShell shell;
    test::RecordingMessageBox messageBox;
    test::RecordingEnd end;
    Platform platform;
    frmMain form;
};

TEST(ShellStateValue, TwentySevenItemsGiveTwentyEightBytes)
{
    EXPECT_EQ(std::string_view(kShellStateText).size(), 80u);
    EXPECT_EQ(ShellStateBytes(), kShellState);
}

TEST(RunCommand, OnTheWindows95FamilyThePageThenShellStateThenTheWallpaper)
{
    for (VersionRecord version : {VersionRecord{4, 0, 1}, VersionRecord{4, 10, 1}, VersionRecord{5, 0, 1}}) {
        RunFixture run(version);
        test::WriteBytes(run.folder / "1.htm", "<body width=800 height=600>\r\n");
        // Whatever ShellState held before, and whatever its type, it ends up as the 28 bytes.
        RegKey key = 0;
        ASSERT_EQ(run.registry.RegCreateKeyExA(HKEY_CURRENT_USER_VALUE, kExplorer, 0, nullptr, 0, kKeyAccess, nullptr,
                                               &key, nullptr),
                  0);
        const uint8_t old[] = {'o', 'l', 'd', 0};
        ASSERT_EQ(run.registry.RegSetValueExA(key, "ShellState", 0, kRegSz, old, 4), 0);
        run.registry.RegCloseKey(key);

        run.form.RunCommand();

        const std::string page = "\r\n<body width=1024 height=768>\r\n\r\n";
        EXPECT_EQ(test::ReadBytes(run.folder / "2.htm"), page);
        EXPECT_EQ(run.shell.pageAtCreate, page);  // the page existed before the shell was asked
        ASSERT_TRUE(run.shell.shellStateAtCreate);
        EXPECT_EQ(*run.shell.shellStateAtCreate, (StoredValue{kRegBinary, kShellState}));
        // An object is seen to exist before ShellState changes; the one that sets the wallpaper after.
        EXPECT_EQ(run.shell.calls, (std::vector<std::string>{"Create", "Release", "Create",
                                                             "SetWallpaperOptions size=8 style=2 reserved=0",
                                                             "SetWallpaper path=" + run.WallpaperPath() + " reserved=0",
                                                             "ApplyChanges flags=7", "Release"}));
        EXPECT_EQ(run.end.ends, 1);
        EXPECT_TRUE(run.form.Registry);
    }
}

TEST(RunCommand, ShellStateIsWrittenWhenItWasMissing)
{
    RunFixture run(VersionRecord{4, 10, 1});
    test::WriteBytes(run.folder / "1.htm", "");
    run.form.RunCommand();
    EXPECT_EQ(run.ShellState(), (StoredValue{kRegBinary, kShellState}));
    EXPECT_EQ(test::ReadBytes(run.folder / "2.htm"), "\r\n\r\n");
}

TEST(RunCommand, ShellStateIsDeletedThenWrittenEachThroughAKeyOfItsOwn)
{
    RunFixture run(VersionRecord{4, 0, 1});
    test::WriteBytes(run.folder / "1.htm", "");
    const std::string key = "80000001 " + kExplorer + " access=3f";
    const std::string create = "RegCreateKeyExA " + key + " security=0a000000,null,ffff0000";
    const std::string set = "RegSetValueExA ShellState type=3 size=28";

    run.form.RunCommand();  // nothing there yet: the key cannot be opened, so nothing is deleted
    EXPECT_EQ(run.recording.calls, (std::vector<std::string>{"RegOpenKeyExA " + key, create, set, "RegCloseKey"}));
    run.recording.calls.clear();
    run.form.RunCommand();
    EXPECT_EQ(run.recording.calls, (std::vector<std::string>{"RegOpenKeyExA " + key, "RegDeleteValueA ShellState",
                                                             "RegCloseKey", create, set, "RegCloseKey"}));
}

TEST(RunCommand, OtherSystemsLeaveTheRegistryAlone)
{
    for (std::optional<VersionRecord> version :
         {std::optional<VersionRecord>{VersionRecord{5, 1, 2}}, std::optional<VersionRecord>{VersionRecord{4, 0, 2}},
          std::optional<VersionRecord>{}}) {
        RunFixture run(version);
        test::WriteBytes(run.folder / "1.htm", "x=800\r\n");
        run.form.RunCommand();
        EXPECT_EQ(test::ReadBytes(run.folder / "2.htm"), "\r\nx=1024\r\n\r\n");
        EXPECT_FALSE(std::filesystem::exists(run.folder / "registry.reg"));
        EXPECT_FALSE(run.form.Registry);
        // NT reads the Active Desktop's state as well (found on, so not set).
        EXPECT_EQ(run.shell.calls.size(), version ? 11u : 5u);
        EXPECT_EQ(run.end.ends, 1);
    }
}

// NT 4, 2000 and XP: the Active Desktop is turned on, on the same object, just before the changes
// are applied, then read back; whether the desktop's items show stays as it was. Close turns it off.
TEST(RunCommand, OnNtBeforeVistaTheActiveDesktopIsTurnedOnBeforeTheChangesAreApplied)
{
    for (VersionRecord version : {VersionRecord{4, 0, 2}, VersionRecord{5, 0, 2}, VersionRecord{5, 1, 2}}) {
        for (int32_t components : {0, 1}) {
            RunFixture run(version);
            test::WriteBytes(run.folder / "1.htm", "x\r\n");
            run.shell.itemOptions = {12, components, 0};
            run.form.RunCommand();
            EXPECT_EQ(run.shell.calls, (std::vector<std::string>{
                                           "Create", "GetWallpaper flags=0", "GetWallpaperOptions size=8 reserved=0",
                                           "SetWallpaperOptions size=8 style=2 reserved=0",
                                           "SetWallpaper path=" + run.WallpaperPath() + " reserved=0",
                                           "GetDesktopItemOptions size=12 reserved=0",
                                           "SetDesktopItemOptions size=12 components=" + std::to_string(components) +
                                               " active=1 reserved=0",
                                           "ApplyChanges flags=7", "Release", "Create",
                                           "GetDesktopItemOptions size=12 reserved=0", "Release"}));
            EXPECT_EQ(run.end.ends, 1);

            // Once on, it is only read.
            run.shell.calls.clear();
            run.form.RunCommand();
            EXPECT_EQ(run.shell.calls.at(5), "GetDesktopItemOptions size=12 reserved=0");
            EXPECT_EQ(run.shell.calls.at(6), "ApplyChanges flags=7");
            run.shell.calls.clear();
            run.form.CloseCommand();
            EXPECT_EQ(run.shell.calls.size(), 7u);
            EXPECT_EQ(run.shell.itemOptions.fActiveDesktop, 0);
        }
    }
    // A failing read or write of the options ends Run with its status before anything is applied.
    for (std::string failing : {"GetDesktopItemOptions", "SetDesktopItemOptions"}) {
        RunFixture run(VersionRecord{5, 1, 2});
        test::WriteBytes(run.folder / "1.htm", "x\r\n");
        run.shell.itemOptions.fActiveDesktop = 0;
        run.shell.failCall = failing;
        run.shell.failStatus = static_cast<int32_t>(0x80070005u);
        try {
            run.form.RunCommand();
            FAIL() << "no error";
        } catch (const AppError& error) {
            EXPECT_EQ(error.Number(), 0x80070005u);
            EXPECT_NE(error.Context().find("IActiveDesktop::" + failing), std::string::npos) << error.Context();
        }
        EXPECT_EQ(std::count(run.shell.calls.begin(), run.shell.calls.end(), "ApplyChanges flags=7"), 0);
        EXPECT_EQ(run.shell.calls.back(), "Release");
        EXPECT_EQ(run.end.ends, 0);
    }
}

// Vista and later: the page is written, the shell is never asked, and the report says why and
// where the page is; Close clears the wallpaper only where it is our page. The name table is not
// what decides: it calls 6.0 and 10.0 "Windows 2000", 6.1 "Windows XP".
TEST(RunCommand, FromVistaOnThePageIsWrittenAndReportedButNotMadeTheWallpaper)
{
    for (VersionRecord version :
         {VersionRecord{6, 0, 2}, VersionRecord{6, 1, 2}, VersionRecord{6, 2, 2}, VersionRecord{10, 0, 2, true}}) {
        RunFixture run(version);
        test::WriteBytes(run.folder / "1.htm", "width=800\r\n");
        test::WriteBytes(run.folder / "2.htm", "older page");
        try {
            run.form.RunCommand();
            FAIL() << "no error";
        } catch (const AppError& error) {
            EXPECT_EQ(error.Number(), kErrorNotSupported);
            EXPECT_NE(error.Context().find("The page was written to " + run.WallpaperPath() + ","), std::string::npos)
                << error.Context();
            EXPECT_NE(error.Context().find("no longer shows a page as the desktop wallpaper"), std::string::npos);
            EXPECT_NE(error.Context().find("only up to Windows XP"), std::string::npos);
            EXPECT_EQ(error.Description(), DescribeSystemError(kErrorNotSupported));
        }
        EXPECT_EQ(test::ReadBytes(run.folder / "2.htm"), "\r\nwidth=1024\r\n\r\n");
        EXPECT_EQ(test::FolderEntries(run.folder.Path()), (std::vector<std::string>{"1.htm", "2.htm"}));
        EXPECT_TRUE(run.shell.calls.empty());
        EXPECT_FALSE(run.form.Registry);
        EXPECT_EQ(run.end.ends, 0);
        EXPECT_EQ(run.form.OperatingSystemName, version.minorVersion == 0 ? u"Windows 2000" : u"Windows XP");

        run.shell.wallpaper = FilePath(run.folder.Path() / "2.htm").ToUtf16();
        run.form.CloseCommand();
        EXPECT_EQ(run.shell.calls,
                  (std::vector<std::string>{"Create", "GetWallpaper flags=2",
                                            "SetWallpaperOptions size=8 style=2 reserved=0",
                                            "SetWallpaper path= reserved=0", "ApplyChanges flags=7", "Release"}));
        EXPECT_EQ(run.end.ends, 1);
    }
    // A wallpaper that cannot be read is left as it is, and the report says that.
    RunFixture run(VersionRecord{6, 1, 2});
    run.shell.failCall = "GetWallpaper";
    EXPECT_EQ(FailureOf([&] { run.form.CloseCommand(); }),
              "2147500033 The desktop wallpaper could not be read, so it was left as it was: "
              "IActiveDesktop::GetWallpaper failed.");
}

TEST(RunCommand, ScreenSizesReachThePage)
{
    RunFixture big(std::nullopt, 1600, 1200);
    test::WriteBytes(big.folder / "1.htm", "width=800 height=600\r\n");
    big.form.RunCommand();
    EXPECT_EQ(test::ReadBytes(big.folder / "2.htm"), "\r\nwidth=1600 height=1200\r\n\r\n");

    RunFixture scaled(std::nullopt, 1280, 1024, 120);
    test::WriteBytes(scaled.folder / "1.htm", "width=800 height=600\r\n");
    scaled.form.RunCommand();
    EXPECT_EQ(test::ReadBytes(scaled.folder / "2.htm"), "\r\nwidth=1024 height=819.2\r\n\r\n");
    EXPECT_EQ(scaled.form.TemplateItem, "width=800 height=600");
}

TEST(RunCommand, LargeTemplatesAndItemsLongerThanTheReadWindow)
{
    // Lines cross every read window, and one quoted item alone is bigger than a window.
    std::string templateText;
    std::string expected = "\r\n";
    for (int i = 0; i < 40000; ++i) {
        const std::string cell(1 + i % 7, static_cast<char>('a' + i % 26));
        templateText += "  <td width=800>" + cell + ", 600</td>\r\n";
        expected += "<td width=1024>" + cell + "\r\n768</td>\r\n";
    }
    const std::string big(3 << 20, 'q');
    templateText += "\"" + big + ",800\"\r\nlast";
    expected += big + ",1024\r\nlast\r\n\r\n";

    RunFixture run(std::nullopt);
    test::WriteBytes(run.folder / "1.htm", templateText);
    run.form.RunCommand();
    const std::string page = test::ReadBytes(run.folder / "2.htm");
    EXPECT_EQ(page.size(), expected.size());
    EXPECT_EQ(std::mismatch(page.begin(), page.end(), expected.begin(), expected.end()).first - page.begin(),
              static_cast<std::ptrdiff_t>(std::min(page.size(), expected.size())));
    EXPECT_EQ(run.form.TemplateItem, "last");
    for (const std::string& name : test::FolderEntries(run.folder.Path()))
        EXPECT_EQ(name.find(".tmp"), std::string::npos) << name;
}

TEST(RunCommand, AMissingTemplateStopsEverythingAndKeepsTheOlderPage)
{
    RunFixture run(VersionRecord{4, 10, 1});
    test::WriteBytes(run.folder / "2.htm", "older page");
    try {
        run.form.RunCommand();
        FAIL() << "no error";
    } catch (const AppError& error) {
        EXPECT_EQ(error.Number(), 2u);
        EXPECT_NE(error.Context().find("1.htm"), std::string::npos);
    }
    EXPECT_EQ(test::ReadBytes(run.folder / "2.htm"), "older page");
    EXPECT_EQ(test::FolderEntries(run.folder.Path()), (std::vector<std::string>{"2.htm"}));
    EXPECT_TRUE(run.shell.calls.empty());
    EXPECT_EQ(run.end.ends, 0);
}

TEST(RunCommand, AnUnwritablePageStopsBeforeTheRegistryAndTheWallpaper)
{
    RunFixture run(VersionRecord{4, 10, 1});
    test::WriteBytes(run.folder / "1.htm", "x\r\n");
    std::filesystem::create_directory(run.folder / "2.htm");
    EXPECT_THROW(run.form.RunCommand(), AppError);
    EXPECT_FALSE(std::filesystem::exists(run.folder / "registry.reg"));
    EXPECT_TRUE(run.shell.calls.empty());
    EXPECT_EQ(test::FolderEntries(run.folder.Path()), (std::vector<std::string>{"1.htm", "2.htm"}));
}

TEST(RunCommand, AFailingShellComesAfterThePageAndLeavesShellStateAlone)
{
    RunFixture run(VersionRecord{4, 10, 1});
    test::WriteBytes(run.folder / "1.htm", "x\r\n");
    run.shell.failCreate = static_cast<int32_t>(0x80004001u);
    EXPECT_THROW(run.form.RunCommand(), AppError);
    EXPECT_EQ(test::ReadBytes(run.folder / "2.htm"), "\r\nx\r\n\r\n");
    EXPECT_FALSE(run.ShellState());
    EXPECT_EQ(run.end.ends, 0);
}

// XP: a refused note of the web content turned on is reported with the registry's own status. A
// Close that fails keeps the note, so that the next Close turns the web content off.
TEST(RunCommand, TheWebContentNoteOnXp)
{
    RunFixture run(VersionRecord{5, 1, 2});
    test::WriteBytes(run.folder / "1.htm", "x\r\n");
    run.shell.itemOptions.fActiveDesktop = 0;
    run.recording.failCall = "RegSetValueExA";
    run.recording.failStatus = kErrorBadRegistryFile;
    EXPECT_EQ(FailureOf([&] { run.form.RunCommand(); }).substr(0, 5), "1009 ");
    run.recording.failCall.clear();
    run.shell.itemOptions.fActiveDesktop = 0;
    run.form.RunCommand();
    const auto note = [&] {
        return run.registry.QueryValue(HKEY_CURRENT_USER_VALUE, "Software\\Tarnwick", "WebContentTurnedOn");
    };
    run.shell.failCall = "SetDesktopItemOptions";
    EXPECT_EQ(FailureOf([&] { run.form.CloseCommand(); }),
              "2147500033 The desktop wallpaper could not be cleared: IActiveDesktop::SetDesktopItemOptions failed.");
    EXPECT_TRUE(note());
    run.shell.failCall.clear();
    run.form.CloseCommand();
    EXPECT_EQ(run.shell.itemOptions.fActiveDesktop, 0);
    EXPECT_FALSE(note());
}

TEST(RunCommand, RegistryFailuresDoNotStopTheWallpaper)
{
    RunFixture run(VersionRecord{4, 10, 1});
    test::WriteBytes(run.folder / "1.htm", "x\r\n");
    test::WriteBytes(run.folder / "registry.reg", "garbage");
    run.form.RunCommand();
    EXPECT_EQ(test::ReadBytes(run.folder / "registry.reg"), "garbage");
    EXPECT_EQ(run.shell.calls.size(), 7u);
    EXPECT_EQ(run.end.ends, 1);
}

}  // namespace
}  // namespace tarnwick
