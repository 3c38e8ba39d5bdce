// Start-up and the launcher window's behaviour: number text, system names, layout and clicks.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <new>
#include <optional>
#include <stdexcept>
#include <vector>

#include "TestSupport.h"
#include "base/AppError.h"
#include "base/NumberText.h"
#include "app/OperatingSystem.h"
#include "app/Painter.h"
#include "app/frmMain.h"
#include "desktop/StandaloneDesktop.h"
#include "registry/StandaloneRegistry.h"

namespace tarnwick {
namespace {

TEST(NumberText, SevenSignificantDigitsInPlainDecimal)
{
    EXPECT_EQ(SingleToText(1024.0f), u"1024");
    EXPECT_EQ(SingleToText(768.0f), u"768");
    EXPECT_EQ(SingleToText(12288.0f / 15.0f), u"819.2");
    EXPECT_EQ(SingleToText(0.0f), u"0");
    EXPECT_EQ(SingleToText(-2.5f), u"-2.5");
    EXPECT_EQ(SingleToText(0.000125f), u"0.000125");      // no exponent for small values
    EXPECT_EQ(SingleToText(123456789.0f), u"123456800");  // nor for large ones
    EXPECT_EQ(SingleToText(1.9999999f), u"2");            // rounding carries into a new digit
    EXPECT_EQ(SingleToText(12345678.0f), u"12345680");
    EXPECT_EQ(SingleToText(1.0f / 3.0f), u"0.3333333");
    EXPECT_EQ(SingleToText(1366.0f * 1440.0f / 144.0f / 15.0f), u"910.6667");
}

TEST(OperatingSystem, EveryRowOfTheVersionTable)
{
    auto name = [](int32_t platform, int32_t major, int32_t minor) {
        return OperatingSystemNameFor(VersionRecord{major, minor, platform});
    };
    EXPECT_EQ(OperatingSystemNameFor(std::nullopt), u"NONE");
    EXPECT_EQ(name(0, 3, 10), u"Win32s");
    EXPECT_EQ(name(1, 4, 0), u"Windows 95");
    EXPECT_EQ(name(1, 4, 10), u"Windows 98");
    EXPECT_EQ(name(1, 4, 90), u"Windows 98");  // only major 5 and up reads as ME
    EXPECT_EQ(name(1, 5, 0), u"Windows ME");
    EXPECT_EQ(name(1, 3, 95), u"Windows 95");
    EXPECT_EQ(name(2, 3, 51), u"Windows NT");
    EXPECT_EQ(name(2, 4, 0), u"Windows NT");
    EXPECT_EQ(name(2, 5, 0), u"Windows 2000");
    EXPECT_EQ(name(2, 5, 1), u"Windows XP");
    EXPECT_EQ(name(2, 5, 2), u"Windows XP");
    EXPECT_EQ(name(2, 6, 0), u"Windows 2000");
    EXPECT_EQ(name(2, 6, 1), u"Windows XP");
    EXPECT_EQ(name(2, -1, 0), u"Windows NT");  // compared as signed numbers
    EXPECT_EQ(name(3, 5, 0), u"NONE");
    EXPECT_EQ(name(-1, 5, 0), u"NONE");
}

TEST(OperatingSystem, BothSidesOfEveryLimit)
{
    auto name = [](int32_t platform, int32_t major, int32_t minor) {
        return OperatingSystemNameFor(VersionRecord{major, minor, platform});
    };
    constexpr int32_t kMin = INT32_MIN, kMax = INT32_MAX;
    // Windows 95 family: major 5 and up is ME; 4 with any positive minor is 98.
    for (int32_t minor : {1, 2, 9, 10, 89, 90, 91, kMax})
        EXPECT_EQ(name(1, 4, minor), u"Windows 98") << "4." << minor;
    for (int32_t minor : {0, -1, kMin})
        EXPECT_EQ(name(1, 4, minor), u"Windows 95") << "4." << minor;
    for (int32_t major : {3, 0, -1, kMin})
        EXPECT_EQ(name(1, major, 10), u"Windows 95") << major;
    for (auto [major, minor] : {std::pair{5, -1}, {5, 1}, {6, 0}, {kMax, kMin}})
        EXPECT_EQ(name(1, major, minor), u"Windows ME") << major << "." << minor;
    // NT family: below 5 is NT whatever the minor; from 5 on, minor 0 is 2000 and any other XP.
    for (auto [major, minor] : {std::pair{4, 0}, {4, 90}, {-1, 1}, {kMin, 0}})
        EXPECT_EQ(name(2, major, minor), u"Windows NT") << major << "." << minor;
    for (int32_t major : {5, 10, kMax})
        EXPECT_EQ(name(2, major, 0), u"Windows 2000") << major;
    for (int32_t minor : {1, -1, kMin, kMax})
        EXPECT_EQ(name(2, 5, minor), u"Windows XP") << minor;
    // Platform ids beside the three known ones.
    EXPECT_EQ(name(0, kMin, kMin), u"Win32s");
    for (int32_t platform : {3, -1, kMin, kMax})
        EXPECT_EQ(name(platform, 4, 10), u"NONE") << platform;
}

TEST(Layout, PixelsAt96And120DotsPerInch)
{
    EXPECT_EQ(FormWidthPixels(96), 196);
    EXPECT_EQ(FormHeightPixels(96), 300);
    PixelRect title = ControlPixels(ControlById(ControlId::Label1), 96);
    EXPECT_EQ((std::array{title.left, title.top, title.right, title.bottom}), (std::array{24, 8, 177, 25}));
    PixelRect line = ControlPixels(ControlById(ControlId::Line3), 96);
    EXPECT_EQ((std::array{line.left, line.top, line.right, line.bottom}), (std::array{8, 224, 187, 225}));
    PixelRect picture = ControlPixels(ControlById(ControlId::Picture1), 96);
    EXPECT_EQ((std::array{picture.left, picture.top, picture.right, picture.bottom}), (std::array{8, 48, 188, 183}));
    PixelRect support = ControlPixels(ControlById(ControlId::Label2), 96);
    EXPECT_EQ((std::array{support.left, support.top, support.right, support.bottom}), (std::array{48, 264, 145, 281}));

    EXPECT_EQ(FormWidthPixels(120), 245);
    EXPECT_EQ(FormHeightPixels(120), 375);
    PixelRect bigPicture = ControlPixels(ControlById(ControlId::Picture1), 120);
    EXPECT_EQ((std::array{bigPicture.left, bigPicture.top, bigPicture.right, bigPicture.bottom}),
              (std::array{10, 60, 190, 195}));  // keeps its natural size
}

TEST(Layout, NoTwoControlsOverlapAndAllLieInsideTheWindow)
{
    for (int dpi : {96, 120, 144}) {
        for (const Control& a : Controls()) {
            PixelRect ra = ControlPixels(a, dpi);
            EXPECT_LE(ra.right, FormWidthPixels(dpi));
            EXPECT_LE(ra.bottom, FormHeightPixels(dpi));
            for (const Control& b : Controls()) {
                if (a.id == b.id)
                    continue;
                PixelRect rb = ControlPixels(b, dpi);
                bool apart = ra.right <= rb.left || rb.right <= ra.left || ra.bottom <= rb.top || rb.bottom <= ra.top;
                EXPECT_TRUE(apart) << "controls overlap at " << dpi << " dpi";
            }
        }
    }
}

TEST(Layout, HitTestingAndTheHandCursor)
{
    EXPECT_EQ(ControlAt(100, 205, 96), ControlId::Run);
    EXPECT_EQ(ControlAt(24, 200, 96), ControlId::Run);
    EXPECT_EQ(ControlAt(160, 216, 96), ControlId::Run);
    EXPECT_EQ(ControlAt(161, 205, 96), std::nullopt);  // right of the label
    EXPECT_EQ(ControlAt(16, 232, 96), ControlId::Close);
    EXPECT_EQ(ControlAt(60, 270, 96), ControlId::Label2);
    EXPECT_EQ(ControlAt(30, 10, 96), ControlId::Label1);
    EXPECT_EQ(ControlAt(50, 100, 96), ControlId::Picture1);
    EXPECT_EQ(ControlAt(50, 192, 96), ControlId::Line2);
    EXPECT_EQ(ControlAt(2, 2, 96), std::nullopt);
    EXPECT_EQ(ControlAt(100, 250, 120), ControlId::Run);  // 3000..3255 twips is rows 250..271 at 120 dpi

    EXPECT_TRUE(ShowsHandCursor(ControlId::Label1));  // the title too, although it runs nothing
    EXPECT_TRUE(ShowsHandCursor(ControlId::Run));
    EXPECT_TRUE(ShowsHandCursor(ControlId::Close));
    EXPECT_TRUE(ShowsHandCursor(ControlId::Label2));
    EXPECT_FALSE(ShowsHandCursor(ControlId::Picture1));
    EXPECT_FALSE(ShowsHandCursor(ControlId::Line1));
    EXPECT_FALSE(ShowsHandCursor(std::nullopt));
}

// Both windows paint through PaintForm: every control, top to bottom, at the given dpi.
TEST(Layout, PaintFormDrawsEveryControlInOrder)
{
    struct RecordingCanvas : ICanvas {
        std::vector<std::string> calls;
        static std::string At(const PixelRect& r)
        {
            return std::to_string(r.left) + "," + std::to_string(r.top) + "-" + std::to_string(r.right) + "," +
                   std::to_string(r.bottom);
        }
        void Line(const PixelRect& area) override { calls.push_back("line " + At(area)); }
        void Picture(const PixelRect& area) override { calls.push_back("picture " + At(area)); }
        void Label(const PixelRect& area, std::u16string_view caption, TextAlign align) override
        {
            calls.push_back("label " + At(area) + " " + std::string(caption.begin(), caption.end()) +
                            (align == TextAlign::Centre ? " centred" : " left"));
        }
    } canvas;
    PaintForm(canvas, 96);
    EXPECT_EQ(canvas.calls, (std::vector<std::string>{
                                "label 24,8-177,25 TARNWICK MENU left", "line 8,32-187,33", "picture 8,48-188,183",
                                "line 8,192-187,193", "label 24,200-161,217 Run Tarnwick centred", "line 8,224-187,225",
                                "label 16,232-169,249 Close Tarnwick centred", "line 8,256-187,257",
                                "label 48,264-145,281 Support centred", "line 8,288-187,289"}));
    RecordingCanvas large;
    PaintForm(large, 120);
    EXPECT_EQ(large.calls.front(), "label 30,10-221,31 TARNWICK MENU left");
    EXPECT_EQ(large.calls[2], "picture 10,60-190,195");  // the picture keeps its natural size
}

// A window over recording platform pieces and a stand-alone registry in a temporary folder.
struct Window {
    explicit Window(std::optional<VersionRecord> version, int width = 1024, int height = 768, int dpi = 96)
        : versionQuery(version), screen(width, height, dpi), registry(folder / "registry.reg"),
          platform{versionQuery, screen, registry, shell, messageBox, end, PageFiles::InFolder(folder.Path())},
          form(platform)
    {
        form.Load();
    }

    test::TempFolder folder;
    test::FixedVersion versionQuery;
    test::FixedScreen screen;
    StandaloneRegistry registry;
    test::RecordingShell shell;
    test::RecordingMessageBox messageBox;
    test::RecordingEnd end;
    Platform platform;
    frmMain form;
};

TEST(Load, FillsTheLauncherState)
{
    Window win98(VersionRecord{4, 10, 1});
    EXPECT_EQ(win98.form.OperatingSystemName, u"Windows 98");
    EXPECT_EQ(win98.form.ScreenWidth, TypedValue::Single(1024.0f));
    EXPECT_EQ(win98.form.ScreenHeightText, u"768");
    EXPECT_TRUE(win98.form.TemplateItem.empty());
    EXPECT_FALSE(win98.form.Registry);

    Window large(std::nullopt, 1280, 1024, 120);
    EXPECT_EQ(large.form.OperatingSystemName, u"NONE");
    EXPECT_EQ(large.form.ScreenWidth.Type(), VarType::Single);
    EXPECT_EQ(large.form.ScreenWidth.AsSingle(), 1024.0f);
    EXPECT_EQ(large.form.ScreenHeightText, u"819.2");
}

// Each step rounded to single precision on every build, the 32-bit one's x87 registers included:
// the texts are those of the correctly rounded single-precision results.
TEST(Load, ScreenSizesAreSinglePrecisionOnEveryBuild)
{
    Window window(std::nullopt);
    int mismatches = 0;
    std::string first;
    for (int dpi : {72, 96, 120, 127, 144, 192}) {
        for (int pixels = 1; pixels <= 4096; ++pixels) {
            // Reference: double quotients of single-precision operands, each stored as a float.
            volatile float twips = static_cast<float>(static_cast<double>(pixels) * 1440.0 / dpi);
            volatile float size = static_cast<float>(static_cast<double>(twips) / 15.0);
            window.screen.Set(pixels, pixels, dpi);
            window.form.Load();
            const float width = window.form.ScreenWidth.AsSingle();
            if (std::memcmp(&width, const_cast<const float*>(&size), sizeof width) != 0 ||
                window.form.ScreenHeightText != SingleToText(size)) {
                if (mismatches++ == 0)
                    first = std::to_string(pixels) + " pixels at " + std::to_string(dpi) + " dpi";
            }
        }
    }
    EXPECT_EQ(mismatches, 0) << "first at " << first;
}

TEST(Commands, CloseClearsTheWallpaperThenEndsAndTouchesNothingElse)
{
    Window window(VersionRecord{4, 10, 1});
    test::WriteBytes(window.folder / "2.htm", "older page");
    window.form.CloseCommand();
    EXPECT_EQ(window.shell.calls,
              (std::vector<std::string>{"Create", "SetWallpaperOptions size=8 style=2 reserved=0",
                                        "SetWallpaper path= reserved=0", "ApplyChanges flags=7", "Release"}));
    EXPECT_EQ(window.end.ends, 1);
    EXPECT_EQ(test::ReadBytes(window.folder / "2.htm"), "older page");
    EXPECT_FALSE(std::filesystem::exists(window.folder / "registry.reg"));
}

TEST(Commands, SupportShowsTheBoxEachTimeAndChangesNothing)
{
    Window window(VersionRecord{4, 10, 1});
    window.form.ShowSupport();
    window.form.ShowSupport();
    ASSERT_EQ(window.messageBox.shown.size(), 2u);
    EXPECT_EQ(window.messageBox.shown[0].first, u"For support contact us at support@tarnwick.example.com or visit "
                                                u"our website at https://www.tarnwick.example.com.");
    EXPECT_EQ(window.messageBox.shown[0].second, u"Tarnwick");
    EXPECT_EQ(window.end.ends, 0);
    EXPECT_TRUE(window.shell.calls.empty());
}

TEST(Commands, AFailingShellCallEndsTheCommandWithItsStatus)
{
    Window window(std::nullopt);
    window.shell.failCall = "SetWallpaper";
    try {
        window.form.CloseCommand();
        FAIL() << "no error";
    } catch (const AppError& error) {
        EXPECT_EQ(error.Number(), 0x80004001u);
        EXPECT_NE(error.Report().find("0x80004001"), std::string::npos);
    }
    // Nothing after the failure ran: no ApplyChanges, and the program was not ended normally.
    EXPECT_EQ(window.shell.calls, (std::vector<std::string>{"Create", "SetWallpaperOptions size=8 style=2 reserved=0",
                                                            "SetWallpaper path= reserved=0", "Release"}));
    EXPECT_EQ(window.end.ends, 0);
}

TEST(Commands, AFailingApplyChangesEndsTheCommandAfterTheOtherCalls)
{
    Window window(std::nullopt);
    window.shell.failCall = "ApplyChanges";
    window.shell.failStatus = static_cast<int32_t>(0x80000000u);  // the most negative failure code
    try {
        window.form.CloseCommand();
        FAIL() << "no error";
    } catch (const AppError& error) {
        EXPECT_EQ(error.Number(), 0x80000000u);
        EXPECT_NE(error.Report().find("ApplyChanges"), std::string::npos);
    }
    EXPECT_EQ(window.shell.calls.size(), 5u);
    EXPECT_EQ(window.end.ends, 0);
}

TEST(Commands, EverySuccessCodeOfTheShellIsSuccess)
{
    for (const char* call : {"SetWallpaperOptions", "SetWallpaper", "ApplyChanges"}) {
        for (int32_t hr : {1, 0x7FFFFFFF}) {  // S_FALSE and the largest success code
            Window window(std::nullopt);
            window.shell.failCall = call;
            window.shell.failStatus = hr;
            EXPECT_NO_THROW(window.form.CloseCommand()) << call << " answering " << hr;
            EXPECT_EQ(window.shell.calls.size(), 5u);
            EXPECT_EQ(window.end.ends, 1);
        }
    }
}

// Both front ends report whatever ended the program through FailureReport, with numbers that
// keep their platform's meaning.
TEST(Commands, EveryFailureIsReportedWithItsPlatformsNumber)
{
    auto reportOf = [](auto thrower) {
        try {
            thrower();
        } catch (...) {
            return FailureReport(std::current_exception());
        }
        return AppError(0, "", "nothing thrown");
    };
    const AppError own = reportOf([] { throw AppError(2, "No such file", "Cannot read the template x."); });
    EXPECT_EQ(own.Number(), 2u);
    EXPECT_EQ(own.Report(), "Cannot read the template x.\n\nError 2: No such file");
    const AppError memory = reportOf([] { throw std::bad_alloc(); });
    EXPECT_EQ(memory.Number(), kErrorOutOfMemory);
    EXPECT_EQ(memory.Context(), "Tarnwick ran out of memory.");
    const AppError other = reportOf([] { throw std::runtime_error("odd state"); });
    EXPECT_EQ(other.Number(), kErrorUnexpected);
    EXPECT_EQ(other.Description(), "odd state");
    EXPECT_EQ(reportOf([] { throw 42; }).Number(), kErrorUnexpected);
#ifdef _WIN32
    EXPECT_EQ(kErrorOutOfMemory, 8u);          // ERROR_NOT_ENOUGH_MEMORY
    EXPECT_EQ(kErrorBadData, 13u);             // ERROR_INVALID_DATA
    EXPECT_EQ(kErrorUnexpected, 0x8000FFFFu);  // E_UNEXPECTED
#else
    EXPECT_EQ(kErrorOutOfMemory, static_cast<uint32_t>(ENOMEM));
    EXPECT_EQ(kErrorBadData, static_cast<uint32_t>(EBADMSG));  // not 13, which is EACCES here
#endif
}

TEST(Clicks, PressAndReleaseOverTheSameCommandLabelRunIt)
{
    Window window(std::nullopt);
    window.form.MouseDown(MouseButton::Left, 60, 270, 96);
    window.form.MouseUp(MouseButton::Left, 100, 275, 96);
    window.form.MouseDown(MouseButton::Right, 60, 270, 96);  // the right button too
    window.form.MouseUp(MouseButton::Right, 60, 270, 96);
    EXPECT_EQ(window.messageBox.shown.size(), 2u);

    window.form.MouseDown(MouseButton::Left, 60, 270, 96);  // released elsewhere: nothing
    window.form.MouseUp(MouseButton::Left, 60, 100, 96);
    window.form.MouseDown(MouseButton::Left, 60, 100, 96);  // pressed elsewhere: nothing
    window.form.MouseUp(MouseButton::Left, 60, 270, 96);
    window.form.MouseUp(MouseButton::Left, 60, 270, 96);  // a release without a press: nothing
    window.form.MouseDown(MouseButton::Other, 60, 270, 96);
    window.form.MouseUp(MouseButton::Other, 60, 270, 96);
    EXPECT_EQ(window.messageBox.shown.size(), 2u);
}

TEST(Clicks, APressForgottenWhenTheCaptureIsLostRunsNothing)
{
    Window window(std::nullopt);
    window.form.MouseDown(MouseButton::Left, 60, 270, 96);
    window.form.MouseDown(MouseButton::Right, 20, 240, 96);
    window.form.CancelPress();
    window.form.MouseUp(MouseButton::Left, 60, 270, 96);
    window.form.MouseUp(MouseButton::Right, 20, 240, 96);
    EXPECT_TRUE(window.messageBox.shown.empty());
    EXPECT_EQ(window.end.ends, 0);

    window.form.MouseDown(MouseButton::Left, 60, 270, 96);  // a new press works as before
    window.form.MouseUp(MouseButton::Left, 60, 270, 96);
    EXPECT_EQ(window.messageBox.shown.size(), 1u);
}

TEST(Clicks, TheTitlePictureLinesAndBackgroundDoNothing)
{
    Window window(VersionRecord{4, 10, 1});
    for (auto [x, y] : {std::pair{30, 10}, {50, 100}, {50, 32}, {50, 288}, {2, 2}, {190, 296}}) {
        window.form.MouseDown(MouseButton::Left, x, y, 96);
        window.form.MouseUp(MouseButton::Left, x, y, 96);
    }
    EXPECT_TRUE(window.shell.calls.empty());
    EXPECT_TRUE(window.messageBox.shown.empty());
    EXPECT_EQ(window.end.ends, 0);
    EXPECT_FALSE(std::filesystem::exists(window.folder / "2.htm"));
}

TEST(Clicks, CloseLabelRunsCloseCommand)
{
    Window window(std::nullopt);
    window.form.MouseDown(MouseButton::Right, 20, 240, 96);
    window.form.MouseUp(MouseButton::Right, 20, 240, 96);
    EXPECT_EQ(window.end.ends, 1);
    EXPECT_EQ(window.shell.calls.at(2), "SetWallpaper path= reserved=0");
}

TEST(StandaloneDesktop, KeepsTheWallpaperInTheRegistryWhenSaved)
{
    test::TempFolder folder;
    StandaloneRegistry registry(folder / "registry.reg");
    StandaloneDesktop desktop(registry);
    auto text = [&](const char* name) {
        auto value = registry.QueryValue(HKEY_CURRENT_USER_VALUE, kDesktopKey, name);
        return value ? std::string(value->data.begin(), value->data.end()) : std::string("<none>");
    };

    auto object = desktop.CreateActiveDesktop();
    EXPECT_EQ(object->SetWallpaperOptions({8, 2}, 0), 0);
    EXPECT_EQ(object->SetWallpaper(u"/opt/t/2.htm", 0), 0);
    EXPECT_EQ(object->ApplyChanges(kApplyRefresh), 0);
    EXPECT_EQ(text(kWallpaperValue), "<none>");  // not saved without the save flag
    EXPECT_EQ(object->ApplyChanges(kApplyAll), 0);
    EXPECT_EQ(text(kWallpaperValue), std::string("/opt/t/2.htm") + '\0');
    EXPECT_EQ(text(kWallpaperStyleValue), std::string("2") + '\0');
    EXPECT_EQ(registry.QueryValue(HKEY_CURRENT_USER_VALUE, kDesktopKey, kWallpaperValue)->type, kRegSz);

    auto second = desktop.CreateActiveDesktop();
    EXPECT_EQ(second->SetWallpaperOptions({8, 2}, 0), 0);
    EXPECT_EQ(second->SetWallpaper(u"", 0), 0);
    EXPECT_EQ(second->ApplyChanges(kApplyAll), 0);
    EXPECT_EQ(text(kWallpaperValue), std::string(1, '\0'));  // cleared

    EXPECT_EQ(second->SetWallpaperOptions({12, 2}, 0), kEInvalidArg);
    EXPECT_EQ(second->SetWallpaper(u"x", 1), kEInvalidArg);
}

TEST(StandaloneDesktop, KeepsItsItemOptionsPerObjectAndChecksTheirSize)
{
    test::TempFolder folder;
    StandaloneRegistry registry(folder / "registry.reg");
    StandaloneDesktop desktop(registry);
    auto first = desktop.CreateActiveDesktop();
    DesktopItemOptions read;
    ASSERT_EQ(first->GetDesktopItemOptions(read, 0), 0);
    EXPECT_EQ(read.dwSize, 12u);
    EXPECT_EQ(read.fEnableComponents, 1);
    EXPECT_EQ(read.fActiveDesktop, 1);
    ASSERT_EQ(first->SetDesktopItemOptions({12, 0, 0}, 0), 0);
    ASSERT_EQ(first->GetDesktopItemOptions(read, 0), 0);
    EXPECT_EQ(read.fEnableComponents, 0);
    EXPECT_EQ(read.fActiveDesktop, 0);
    // Another object starts afresh, and nothing reached the store.
    auto second = desktop.CreateActiveDesktop();
    ASSERT_EQ(second->GetDesktopItemOptions(read, 0), 0);
    EXPECT_EQ(read.fActiveDesktop, 1);
    EXPECT_FALSE(std::filesystem::exists(folder / "registry.reg"));

    DesktopItemOptions small{8, 0, 0};
    EXPECT_EQ(second->GetDesktopItemOptions(small, 0), kEInvalidArg);
    EXPECT_EQ(small.fActiveDesktop, 0);
    EXPECT_EQ(second->SetDesktopItemOptions({12, 1, 0}, 1), kEInvalidArg);
    ASSERT_EQ(second->GetDesktopItemOptions(read, 0), 0);
    EXPECT_EQ(read.fActiveDesktop, 1);
}

TEST(StandaloneDesktop, APathBeyondTheStoresCodePageIsNeverRecordedFalsely)
{
    test::TempFolder folder;
    StandaloneRegistry registry(folder / "registry.reg");
    StandaloneDesktop desktop(registry);
    auto wallpaper = [&]() -> std::optional<std::vector<uint8_t>> {
        auto value = registry.QueryValue(HKEY_CURRENT_USER_VALUE, kDesktopKey, kWallpaperValue);
        return value ? std::optional(value->data) : std::nullopt;
    };
    auto first = desktop.CreateActiveDesktop();
    ASSERT_EQ(first->SetWallpaperOptions({8, 0}, 0), 0);
    ASSERT_EQ(first->SetWallpaper(u"/opt/Caf\u00E9 ?/2.htm", 0), 0);  // in the code page, '?' included
    ASSERT_EQ(first->ApplyChanges(kApplyAll), 0);
    EXPECT_EQ(wallpaper(), (std::vector<uint8_t>{'/', 'o', 'p', 't', '/', 'C', 'a', 'f', 0xE9, ' ', '?', '/', '2', '.',
                                                 'h', 't', 'm', 0}));

    // Greek letters, a character beyond the BMP, a byte that is not UTF-8 (as FilePath hands it
    // on): each is taken, the earlier path is no longer recorded, no '?' stands in for a letter,
    // and the style is still saved.
    for (const std::u16string& path :
         {std::u16string(u"/opt/\u0395\u03BB\u03BB\u03B7\u03BD\u03B9\u03BA\u03AC/2.htm"),
          std::u16string(u"/opt/\U0001F600/2.htm"), std::u16string(u"/opt/caf\xDCE9/2.htm")}) {
        ASSERT_EQ(first->ApplyChanges(kApplyAll), 0);
        ASSERT_TRUE(wallpaper().has_value());
        auto object = desktop.CreateActiveDesktop();
        ASSERT_EQ(object->SetWallpaperOptions({8, 2}, 0), 0);
        EXPECT_EQ(object->SetWallpaper(path, 0), 0);
        EXPECT_EQ(object->ApplyChanges(kApplyAll), 0);
        EXPECT_EQ(wallpaper(), std::nullopt);
        EXPECT_EQ(registry.QueryValue(HKEY_CURRENT_USER_VALUE, kDesktopKey, kWallpaperStyleValue)->data,
                  (std::vector<uint8_t>{'2', 0}));
        EXPECT_EQ(object->ApplyChanges(kApplyAll), 0);  // nothing to remove the second time
    }
}

TEST(StandaloneDesktop, AnUnreadableStoreFailsTheApplyAndStaysAsItWas)
{
    test::TempFolder folder;
    test::WriteBytes(folder / "registry.reg", "not a registry file");
    StandaloneRegistry registry(folder / "registry.reg");
    StandaloneDesktop desktop(registry);
    auto object = desktop.CreateActiveDesktop();
    object->SetWallpaper(u"/x/2.htm", 0);
    int32_t hr = object->ApplyChanges(kApplyAll);
    EXPECT_EQ(static_cast<uint32_t>(hr), 0x800703F1u);
    EXPECT_EQ(desktop.DescribeStatus(hr), "The configuration registry database is corrupt");
    EXPECT_EQ(test::ReadBytes(folder / "registry.reg"), "not a registry file");
}

}  // namespace
}  // namespace tarnwick
