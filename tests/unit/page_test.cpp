// The template reader, the substitution and the page bytes, through frmMain's Run path and the
// page functions.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>

#ifdef _WIN32
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "TestSupport.h"
#include "base/AppError.h"
#include "page/DesktopPage.h"
#include "base/FileIO.h"

namespace tarnwick {
namespace {

std::vector<std::string> Items(std::string_view text)
{
    std::vector<std::string> items;
    TemplateReader reader(text);
    while (!reader.AtEnd())
        items.emplace_back(reader.ReadItem());
    return items;
}

std::string Page(std::string_view templateText, std::string_view width = "1024", std::string_view height = "768")
{
    return "\r\n" + BuildPageText(templateText, width, height).pageText + "\r\n";
}

using Strings = std::vector<std::string>;

TEST(TemplateReader, SplitsAtCommasAndLineEndsAndDropsLeadingBlanks)
{
    EXPECT_EQ(Items("a,b, c\r\n"), (Strings{"a", "b", "c"}));
    EXPECT_EQ(Items("    <td>x</td>\r\n\t\t<tr>\r\n"), (Strings{"<td>x</td>", "<tr>"}));
    EXPECT_EQ(Items("a  ,b\t,c  \r\n"), (Strings{"a", "b", "c"}));  // blanks before a delimiter go too
}

TEST(TemplateReader, QuotedItemsKeepCommasAndLoseTheirQuotes)
{
    EXPECT_EQ(Items("\"a, b\"\r\nnext\r\n"), (Strings{"a, b", "next"}));
    EXPECT_EQ(Items("  \"x,y\",z\r\n"), (Strings{"x,y", "z"}));
    EXPECT_EQ(Items("\"one\r\ntwo\",three"), (Strings{"one\r\ntwo", "three"}));  // spans a line end
    EXPECT_EQ(Items("\"open, never closed\r\n"), (Strings{"open, never closed\r\n"}));
    EXPECT_EQ(Items("\"kept\" dropped,after\r\n"), (Strings{"kept", "after"}));
    EXPECT_EQ(Items("a \"b\" c,d"), (Strings{"a \"b\" c", "d"}));  // quotes inside an item stay
    EXPECT_EQ(Items("\"\"\r\n"), (Strings{""}));
}

TEST(TemplateReader, LineEndsAndBlankLines)
{
    EXPECT_EQ(Items(""), Strings{});
    EXPECT_EQ(Items("last line without end"), (Strings{"last line without end"}));
    EXPECT_EQ(Items("a\nb\rc\r\nd"), (Strings{"a", "b", "c", "d"}));  // lone LF and lone CR end lines
    EXPECT_EQ(Items("a\r\n\r\nb\r\n"), (Strings{"a", "", "b"}));      // a blank line is an empty item
    EXPECT_EQ(Items("a\r\n\r\n"), (Strings{"a", ""}));
    EXPECT_EQ(Items("a,\r\n"), (Strings{"a", ""}));
    EXPECT_EQ(Items("   \r\n"), (Strings{""}));
    EXPECT_EQ(Items(","), (Strings{""}));
}

TEST(Substitution, ReplacesEveryPlaceholderInOnePass)
{
    auto substituted = [](std::string_view text, std::string_view width, std::string_view height) {
        std::string out;
        AppendSubstituted(out, text, width, height);
        return out;
    };
    EXPECT_EQ(substituted("width=800 height=600", "1024", "768"), "width=1024 height=768");
    // Text inserted for a placeholder is never searched again.
    EXPECT_EQ(substituted("width=800 height=600", "1600", "1200"), "width=1600 height=1200");
    EXPECT_EQ(substituted("800", "6006", "x"), "6006");
    EXPECT_EQ(substituted("80000", "1026", "x"), "102600");  // the "600" it makes stays
    // Matches inside other text.
    EXPECT_EQ(substituted("#800000", "1024", "768"), "#1024000");
    EXPECT_EQ(substituted("8000", "1024", "768"), "10240");
    EXPECT_EQ(substituted("#600600", "1024", "768"), "#768768");
    EXPECT_EQ(substituted("8600 6800 880 00 0800", "W", "H"), "8H 6W 880 00 0W");
    EXPECT_EQ(substituted("", "W", "H"), "");
    EXPECT_EQ(substituted("80", "W", "H"), "80");
}

// Placeholders at every offset of texts of every length around the 16-byte blocks the search
// works in, against a plain reading of the rule. (A 17-byte text once made the search read one
// byte before the text.)
TEST(Substitution, EveryOffsetAndLengthAgreesWithThePlainRule)
{
    auto plain = [](const std::string& text) {
        std::string out;
        for (size_t i = 0; i < text.size();) {
            if (text.compare(i, 3, "800") == 0) {
                out += "W", i += 3;
            } else if (text.compare(i, 3, "600") == 0) {
                out += "H", i += 3;
            } else {
                out += text[i++];
            }
        }
        return out;
    };
    for (size_t length = 0; length <= 40; ++length) {
        for (size_t at = 0; at + 3 <= length; ++at) {
            for (const char* placeholder : {"800", "600", "8000", "0600"}) {
                std::string text(length, '0');
                text.replace(at, std::min(std::strlen(placeholder), length - at), placeholder, 0,
                             std::min(std::strlen(placeholder), length - at));
                std::string out;
                AppendSubstituted(out, text, "W", "H");
                EXPECT_EQ(out, plain(text)) << text;
            }
        }
        std::string out;
        const std::string ones(length, '1');
        AppendSubstituted(out, ones, "W", "H");
        EXPECT_EQ(out, ones);
    }
    std::string out;
    AppendSubstituted(out,
                      "\x03"
                      "806880?800600?008",
                      "W", "H");
    EXPECT_EQ(out, "\x03"
                   "806880?WH?008");
}

TEST(PageBytes, Layout)
{
    EXPECT_EQ(Page(""), "\r\n\r\n");
    EXPECT_EQ(Page("width=800 height=600\r\n"), "\r\nwidth=1024 height=768\r\n\r\n");
    EXPECT_EQ(Page("width=800 height=600\r\n", "1600", "1200"), "\r\nwidth=1600 height=1200\r\n\r\n");
    EXPECT_EQ(Page("w=800", "819.2", "614.4"), "\r\nw=819.2\r\n\r\n");
    EXPECT_EQ(Page("a,b, c\n  <p>\n\"x,y\""), "\r\na\r\nb\r\nc\r\n<p>\r\nx,y\r\n\r\n");

    PageResult result = BuildPageText("first,800\r\nlast 600", "1", "2");
    EXPECT_EQ(result.lastItem, "last 600");
    EXPECT_EQ(result.pageText, "first\r\n1\r\nlast 2\r\n");
}

// Feeds the template in windows of the given size, the way the page is built from the file.
std::string PageInWindows(std::string_view templateText, size_t windowSize)
{
    PageBuilder builder("W", "H");
    std::string out, window;
    size_t offered = 0;
    for (bool end = false; !end;) {
        const size_t take = std::min(windowSize, templateText.size() - offered);
        window.append(templateText.substr(offered, take));
        offered += take;
        end = take == 0;
        window.erase(0, builder.Feed(window, end, out));
    }
    return out;
}

TEST(PageBuilder, AnyWindowSizeGivesTheSamePage)
{
    const std::string samples[] = {
        "a,b, c\r\n  \"x,\r\ny\" tail,z\r\n\r\nw=800 h=600\r\n",
        "lone\rcr\nlf\r\n\r\r\n\n,,\t, \"unclosed, 800\r\n600",
        "8\r\n00 6\r00 80\n0 \"800\"600,\"\"",
        "",
        "   ",
        "\r",
        "x\r",
    };
    for (const std::string& sample : samples) {
        const std::string whole = BuildPageText(sample, "W", "H").pageText;
        for (size_t windowSize : {size_t{1}, size_t{2}, size_t{3}, size_t{5}, size_t{8}, size_t{64}})
            EXPECT_EQ(PageInWindows(sample, windowSize), whole) << "window " << windowSize << " on " << sample;
    }
}

// Short replacement texts take a faster road through the builder than long ones; on random
// templates made of the bytes that matter, both give the same page.
TEST(PageBuilder, ShortAndLongReplacementsAgree)
{
    const std::string alphabet = "a ,\"\r\n\t860";
    const std::string longWidth(20, 'W'), longHeight(20, 'H');
    uint32_t state = 12345;
    for (int sample = 0; sample < 300; ++sample) {
        std::string text;
        for (int i = 0; i < 1 + sample * 7; ++i) {
            state = state * 1103515245u + 12345u;
            text += alphabet[(state >> 16) % alphabet.size()];
        }
        std::string slow = BuildPageText(text, longWidth, longHeight).pageText;
        for (size_t at; (at = slow.find(longWidth)) != std::string::npos;)
            slow.replace(at, longWidth.size(), "W");
        for (size_t at; (at = slow.find(longHeight)) != std::string::npos;)
            slow.replace(at, longHeight.size(), "H");
        EXPECT_EQ(BuildPageText(text, "W", "H").pageText, slow) << text;
        EXPECT_EQ(PageInWindows(text, 1 + sample % 40), slow) << text;
    }
}

TEST(PageFile, ReplaceFileWritesAllPiecesAndLeavesNoTemporary)
{
    test::TempFolder folder;
    const auto page = folder / "2.htm";
    test::WriteBytes(page, "old");
    ReplaceFileAtomically(page, {"\r\n", "body", "\r\n"});
    EXPECT_EQ(test::ReadBytes(page), "\r\nbody\r\n");
    EXPECT_EQ(test::FolderEntries(folder.Path()), (std::vector<std::string>{"2.htm"}));
}

TEST(PageFile, AFailedReplacementLeavesTheOldFileAndNoTemporary)
{
    test::TempFolder folder;
    const auto page = folder / "2.htm";
    std::filesystem::create_directory(page);  // a folder cannot be replaced by a file
    EXPECT_THROW(ReplaceFileAtomically(page, {"x"}), AppError);
    EXPECT_TRUE(std::filesystem::is_directory(page));
    EXPECT_EQ(test::FolderEntries(folder.Path()), (std::vector<std::string>{"2.htm"}));
}

#ifndef _WIN32
TEST(PageFile, LeftoversOfDeadRunsAreRemovedButOtherFilesStay)
{
    test::TempFolder folder;
    const auto page = folder / "2.htm";
    test::WriteBytes(folder / "2.htm.999999999.tmp", "half a page");  // no such process
    test::WriteBytes(folder / "2.htm.notes.tmp", "not ours");
    test::WriteBytes(folder / "2.htm.bak", "not ours");
    ReplaceFileAtomically(page, {"new"});
    EXPECT_EQ(test::FolderEntries(folder.Path()), (std::vector<std::string>{"2.htm", "2.htm.bak", "2.htm.notes.tmp"}));
}

// The new file never takes a name that is there already: what someone planted under the names it
// would use (a folder, links to a missing or to an existing file) is neither followed nor
// removed, and the page goes where it belongs.
TEST(PageFile, TheNewFileIsCreatedUnderANameOfItsOwn)
{
    namespace fs = std::filesystem;
    test::TempFolder folder;
    const auto page = folder / "2.htm";
    const std::string pid = std::to_string(getpid());
    std::vector<std::string> planted{"2.htm." + pid + ".tmp"};
    fs::create_directory(folder / planted[0]);
    test::WriteBytes(folder / "victim", "keep me");
    planted.push_back("2.htm." + pid + ".1.tmp");
    fs::create_symlink(folder / "created-through-a-link", folder / planted.back());
    planted.push_back("2.htm." + pid + ".2.tmp");
    fs::create_symlink(folder / "victim", folder / planted.back());
    ReplaceFileAtomically(page, {"the page"});
    EXPECT_EQ(test::ReadBytes(page), "the page");
    EXPECT_FALSE(fs::is_symlink(page));
    std::vector<std::string> expected = planted;
    expected.push_back("2.htm");
    expected.push_back("victim");
    EXPECT_EQ(test::ReadBytes(folder / "victim"), "keep me");
    std::sort(expected.begin(), expected.end());
    EXPECT_EQ(test::FolderEntries(folder.Path()), expected);  // nothing created through a link
}
#else
HANDLE OpenAs(const std::filesystem::path& path, DWORD access, DWORD share, DWORD disposition)
{
    return CreateFileW(path.wstring().c_str(), access, share, nullptr, disposition, FILE_ATTRIBUTE_NORMAL, nullptr);
}

// New files have 8.3 names. Those of killed runs go; a live writer's file (open, as a writer
// keeps it until its rename), a folder of that name and names of other shapes stay; two writers
// at once each take a name of their own.
TEST(PageFile, ShortNamesLeftoversOfDeadRunsGoButNotThoseOfLiveWriters)
{
    test::TempFolder folder;
    const auto page = folder / "2.htm";
    test::WriteBytes(folder / "~TW0A1B2.TMP", "half a page");
    test::WriteBytes(folder / "~twfe3d4.tmp", "half a page");
    test::WriteBytes(folder / "~TW12.TMP", "not ours");
    test::WriteBytes(folder / "~TW0A1BG.TMP", "not ours");
    test::WriteBytes(folder / "2.htm.bak", "not ours");
    std::filesystem::create_directory(folder / "~TW0E5F6.TMP");
    const HANDLE live = OpenAs(folder / "~TW0C3D4.TMP", GENERIC_WRITE, FILE_SHARE_DELETE, CREATE_NEW);
    ASSERT_NE(live, INVALID_HANDLE_VALUE);

    AtomicFileWriter first(page, "first");
    AtomicFileWriter second(page, "second");
    const std::string firstName = std::filesystem::path(first.TemporaryPath().Native()).filename().string();
    const std::string secondName = std::filesystem::path(second.TemporaryPath().Native()).filename().string();
    ASSERT_EQ(firstName.size(), 12u);
    EXPECT_EQ(firstName.substr(0, 3), "~TW");
    EXPECT_EQ(firstName.substr(8), ".TMP");
    EXPECT_NE(firstName, secondName);
    first.Write("first page");
    second.Write("second page");
    first.Commit();
    EXPECT_EQ(test::ReadBytes(page), "first page");
    second.Commit();
    EXPECT_EQ(test::ReadBytes(page), "second page");
    CloseHandle(live);
    EXPECT_EQ(
        test::FolderEntries(folder.Path()),
        (std::vector<std::string>{"2.htm", "2.htm.bak", "~TW0A1BG.TMP", "~TW0C3D4.TMP", "~TW0E5F6.TMP", "~TW12.TMP"}));
}

struct Holder {
    HANDLE file;
    DWORD milliseconds;
};

DWORD WINAPI CloseLater(void* parameter)
{
    auto* holder = static_cast<Holder*>(parameter);
    Sleep(holder->milliseconds);
    CloseHandle(holder->file);
    return 0;
}

// Another program holds the page open for a while without sharing deletion, as an indexer or a
// virus scanner does: for a moment the rename is tried again and succeeds; for longer it is
// reported, the older page stays and no new file is left.
TEST(PageFile, ARenameBlockedForAMomentIsRetriedAndALongerBlockIsReported)
{
    test::TempFolder folder;
    const auto page = folder / "2.htm";
    for (DWORD hold : {200u, 3000u}) {
        // Written the same way first, so that the flush of the next page has little left to do
        // and the rename comes well within the hold.
        ReplaceFileAtomically(page, {"older page"});
        Holder holder{OpenAs(page, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, OPEN_EXISTING), hold};
        ASSERT_NE(holder.file, INVALID_HANDLE_VALUE);
        const HANDLE thread = CreateThread(nullptr, 0, CloseLater, &holder, 0, nullptr);
        ASSERT_NE(thread, nullptr);
        std::optional<AppError> failure;
        try {
            ReplaceFileAtomically(page, {"new page"});
        } catch (const AppError& error) {
            failure = error;
        }
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
        if (hold < 400) {
            EXPECT_FALSE(failure) << failure->Report();
            EXPECT_EQ(test::ReadBytes(page), "new page");
        } else {
            ASSERT_TRUE(failure);
            EXPECT_TRUE(failure->Number() == ERROR_ACCESS_DENIED || failure->Number() == ERROR_SHARING_VIOLATION)
                << failure->Report();
            EXPECT_EQ(test::ReadBytes(page), "older page");
        }
        EXPECT_EQ(test::FolderEntries(folder.Path()), (std::vector<std::string>{"2.htm"}));
    }
}
#endif

#ifndef _WIN32
// A folder whose name is not UTF-8 (a Latin-1 system's "café"): its bytes are used as they are,
// shown with U+FFFD, and converted to UTF-16 and back without loss.
TEST(PageFile, AFolderNamedInAnotherEncodingIsUsedByItsBytes)
{
    test::TempFolder folder;
    const std::filesystem::path latin1 = folder.Path() / "caf\xE9";
    std::filesystem::create_directory(latin1);
    const FilePath page = FilePath(latin1) / "2.htm";
    ReplaceFileAtomically(page, {"the page"});
    EXPECT_EQ(test::ReadBytes(latin1 / "2.htm"), "the page");
    EXPECT_EQ(FilePath::FromUtf16(page.ToUtf16()), page);
    EXPECT_NE(page.ToUtf8().find("caf\xEF\xBF\xBD/2.htm"), std::string::npos);
    EXPECT_EQ(page.Parent(), FilePath(latin1));
}
#endif

TEST(PageFile, ReadingAMissingFileNamesTheFailure)
{
    test::TempFolder folder;
    try {
        ReadWholeFile(folder / "1.htm");
        FAIL() << "no error";
    } catch (const AppError& error) {
        EXPECT_EQ(error.Number(), 2u);  // file not found, on both platforms
        EXPECT_NE(error.Report().find("1.htm"), std::string::npos);
    }
}

TEST(PageFile, FileFailuresCarryTheContextGivenAtConstruction)
{
    test::TempFolder folder;
    try {
        InputFile missing(folder / "1.htm", "Reading the template.");
        FAIL() << "no error";
    } catch (const AppError& error) {
        EXPECT_EQ(error.Context(), "Reading the template.");
    }
    const auto page = folder / "2.htm";
    std::filesystem::create_directory(page);  // the rename at the end fails
    AtomicFileWriter writer(page, "Writing the page.");
    writer.Write("x");
    try {
        writer.Commit();
        FAIL() << "no error";
    } catch (const AppError& error) {
        EXPECT_EQ(error.Context(), "Writing the page.");
    }
}

}  // namespace
}  // namespace tarnwick
