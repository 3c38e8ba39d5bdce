// The Win32 handle owners: each handle is given back once, by its last owner.
#ifdef _WIN32
#include <gtest/gtest.h>

#include <utility>

#include "TestSupport.h"
#include "base/win32/Owners.h"

namespace tarnwick {
namespace {

// Opened without sharing: a second open fails while the first handle lives.
HANDLE OpenExclusively(const std::filesystem::path& path)
{
    return CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

TEST(Owners, AFileHandleClosesOnceWhenItsLastOwnerEnds)
{
    test::TempFolder folder;
    const auto path = folder.Path() / "file";
    test::WriteBytes(path, "x");
    {
        win32::FileHandle first(OpenExclusively(path));
        ASSERT_TRUE(first);
        win32::FileHandle second(std::move(first));
        EXPECT_FALSE(first);
        first = win32::FileHandle();  // a moved-from owner closes nothing
        EXPECT_FALSE(win32::FileHandle(OpenExclusively(path)));
        EXPECT_NE(second.close(), 0);
        EXPECT_FALSE(second);
    }
    EXPECT_TRUE(win32::FileHandle(OpenExclusively(path)));
}

// Counts its references as a COM object does; ComPtr calls nothing but Release.
struct CountedObject {
    ULONG Release() { return --references; }
    ULONG references = 1;
};

TEST(Owners, AComPointerReleasesItsOneReference)
{
    CountedObject object;
    {
        win32::ComPtr<CountedObject> first;
        *first.put() = &object;
        win32::ComPtr<CountedObject> second(std::move(first));
        EXPECT_FALSE(first);
        EXPECT_EQ(object.references, 1u);
    }
    EXPECT_EQ(object.references, 0u);
}

}  // namespace
}  // namespace tarnwick
#endif
