// A new file put in an older one's place, on a played folder; which Windows runs the program.
#include <gtest/gtest.h>

#include <map>

#include "base/FileReplace.h"
#include "base/SystemFamily.h"

namespace tarnwick {
namespace {

using Files = std::map<std::string, std::string>;
constexpr char kNew[] = "~TWNEW00.TMP";

// A rename onto an existing name fails on the 95 family, replaces it on NT. refusals: how often
// "from>to" is refused for a moment. openRefused: an old share never renames an open new file.
struct PlayedFolder : IReplaceSteps {
    bool Move(const FilePath& from, const FilePath& to) override
    {
        const std::string source = from.ToUtf8(), target = to.ToUtf8();
        ++moves;
        if (!files.count(source) || (files.count(target) && !nt) || (openRefused && source == kNew && open))
            return Fail(!files.count(source) ? 2 : files.count(target) && !nt ? kReplaceAlreadyExists : 5);
        if (refusals[source + ">" + target]-- > 0)
            return Fail(kReplaceSharingViolation);
        files[target] = files[source];
        files.erase(source);
        return true;
    }
    bool Replaceable(const FilePath& to) override { return files.count(to.ToUtf8()) || Fail(2); }
    bool Remove(const FilePath& path) override { return files.erase(path.ToUtf8()) || Fail(2); }
    bool CloseNew() override { return !(open = false); }
    FilePath AsideName(const FilePath&, int attempt) override { return FilePath("~TW" + std::to_string(attempt)); }
    void Pause() override { ++pauses; }
    uint32_t LastError() override { return error; }
    bool Fail(uint32_t why) { return (error = why, false); }

    Replacement Put() { return PutInPlace(*this, FilePath(kNew), FilePath("2.htm"), nt); }

    bool nt = false, openRefused = false, open = true;
    Files files{{kNew, "new"}, {"2.htm", "older"}};
    std::map<std::string, int> refusals;
    int pauses = 0, moves = 0;
    uint32_t error = 0;
};

TEST(FileReplacement, The95FamilyPutsTheOlderFileBackWhereTheNewOneCannotTakeItsPlace)
{
    // The new file refused every time, the older one refused its way back twice (it is back), or
    // for good (both stay, the older one set aside: Kept).
    for (int backRefused : {2, 99}) {
        PlayedFolder folder;
        folder.refusals = {{std::string(kNew) + ">2.htm", 99}, {"~TW0>2.htm", backRefused}};
        const Replacement replacement = folder.Put();
        EXPECT_EQ(replacement.result, backRefused == 2 ? Replaced::Failed : Replaced::Kept);
        EXPECT_EQ(replacement.error, kReplaceSharingViolation);
        EXPECT_EQ(folder.files, (Files{{kNew, "new"}, {backRefused == 2 ? "2.htm" : "~TW0", "older"}}));
    }
}

TEST(FileReplacement, OnNtAShareThatCannotRenameAnOpenFileGetsItClosedAndRenamedOnceMore)
{
    PlayedFolder share;
    share.nt = share.openRefused = true;
    EXPECT_EQ(share.Put().result, Replaced::Done);
    EXPECT_EQ(share.files, (Files{{"2.htm", "new"}}));
    EXPECT_EQ(share.moves, kReplaceTries + 1);
}

// ntdll.dll loaded is NT, the shared page only tells the version (Wine playing 95 writes type 0).
TEST(SystemFamily, NtdllLoadedIsNtWhateverThePageSays)
{
    auto text = [](const RunningWindows& r) { return std::to_string(r.nt) + " " + std::to_string(r.ntMajor); };
    EXPECT_EQ(text(DecideRunning(false, std::nullopt)), "0 0");
    EXPECT_EQ(text(DecideRunning(true, SharedPage{0, 0, 0})), "0 0");
    EXPECT_EQ(text(DecideRunning(true, std::nullopt)), "1 0");
    EXPECT_EQ(text(DecideRunning(true, SharedPage{1, 10, 0})), "1 10");
    EXPECT_EQ(text(DecideRunning(true, SharedPage{7, 10, 0})), "1 0");
}

}  // namespace
}  // namespace tarnwick
