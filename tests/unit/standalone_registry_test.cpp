// The registry kept in a REGEDIT4 file: Win32 statuses, persistence, and care of the store.
#include "registry/StandaloneRegistry.h"

#include "TestSupport.h"
#include "registry/clsRegistry.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <stdexcept>
#include <string>
#ifdef _GLIBCXX_HAS_GTHREADS
#include <thread>
#endif
#include <vector>

#ifndef _WIN32
#include <csignal>
#include <cstdlib>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace tarnwick {
namespace {

namespace fs = std::filesystem;

constexpr uint32_t HKCU = HKEY_CURRENT_USER_VALUE;
constexpr uint32_t kKeyRead = 0x20019;
constexpr uint32_t kKeyWrite = 0x20006;

std::string ReadFile(const fs::path& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const fs::path& path, const std::string& bytes)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

std::vector<std::string> Entries(const fs::path& folder)
{
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end());
    return names;
}

StoredValue Bytes(uint32_t type, std::string_view bytes)
{
    return StoredValue{type, std::vector<uint8_t>(bytes.begin(), bytes.end())};
}

class StandaloneRegistryTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        static std::atomic<int> counter{0};
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        folder_ =
            fs::temp_directory_path() / ("tarnwick-registry-" + std::string(info->name()) + "-" +
                                         std::to_string(std::random_device{}()) + "-" + std::to_string(counter++));
        fs::remove_all(folder_);
        store_ = folder_ / "config" / "registry.reg";
    }
    void TearDown() override
    {
        std::error_code ec;
#ifndef _WIN32
        if (fs::exists(folder_ / "config", ec))
            fs::permissions(folder_ / "config", fs::perms::owner_all, fs::perm_options::add, ec);
#endif
        fs::remove_all(folder_, ec);
    }

    // Writes the store directly (creating its folder).
    void WriteStore(const std::string& text)
    {
        fs::create_directories(store_.parent_path());
        WriteFile(store_, text);
    }

    static int32_t Create(StandaloneRegistry& reg, uint32_t root, const std::string& path, RegKey* key,
                          uint32_t* disposition = nullptr, uint32_t sam = kKeyAccess)
    {
        return reg.RegCreateKeyExA(root, path, 0, nullptr, 0, sam, nullptr, key, disposition);
    }
    static int32_t Open(StandaloneRegistry& reg, uint32_t root, const std::string& path, RegKey* key,
                        uint32_t sam = kKeyAccess)
    {
        return reg.RegOpenKeyExA(root, path, 0, sam, key);
    }
    static int32_t Set(StandaloneRegistry& reg, RegKey key, const std::string& name, const StoredValue& value)
    {
        return reg.RegSetValueExA(key, name, 0, value.type, value.data.data(),
                                  static_cast<uint32_t>(value.data.size()));
    }
    static int32_t SetText(StandaloneRegistry& reg, RegKey key, const std::string& name, const std::string& text)
    {
        return reg.RegSetValueExA(key, name, 0, kRegSz, reinterpret_cast<const uint8_t*>(text.c_str()),
                                  static_cast<uint32_t>(text.size() + 1));
    }
    static StoredValue Text(const std::string& text)
    {
        StoredValue v = Bytes(kRegSz, text);
        v.data.push_back(0);
        return v;
    }

    fs::path folder_;
    fs::path store_;
};

TEST_F(StandaloneRegistryTest, CreateOpenAndDisposition)
{
    StandaloneRegistry reg(store_);
    RegKey key = 0;
    uint32_t disposition = 0;
    ASSERT_EQ(Create(reg, HKCU, "Software\\Tarnwick\\Deep", &key, &disposition), 0);
    EXPECT_NE(key, 0u);
    EXPECT_EQ(disposition, 1u);
    EXPECT_TRUE(reg.KeyExists(HKCU, "Software"));
    EXPECT_TRUE(reg.KeyExists(HKCU, "software\\TARNWICK"));
    EXPECT_TRUE(reg.KeyExists(HKCU, ""));
    EXPECT_FALSE(reg.KeyExists(HKEY_LOCAL_MACHINE_VALUE, "Software"));

    RegKey again = 0;
    ASSERT_EQ(Create(reg, HKCU, "SOFTWARE\\tarnwick\\deep", &again, &disposition), 0);
    EXPECT_EQ(disposition, 2u);
    EXPECT_NE(again, key);  // every open gives its own handle
    EXPECT_NE(ReadFile(store_).find("[HKEY_CURRENT_USER\\Software\\Tarnwick\\Deep]\r\n"), std::string::npos);

    // Created under an opened key, and opened through one.
    RegKey parent = 0, child = 0, reopened = 0;
    ASSERT_EQ(Open(reg, HKCU, "Software", &parent), 0);
    ASSERT_EQ(Create(reg, static_cast<uint32_t>(parent), "Tarnwick\\Other", &child, &disposition), 0);
    EXPECT_EQ(disposition, 1u);
    EXPECT_TRUE(reg.KeyExists(HKCU, "Software\\Tarnwick\\Other"));
    EXPECT_EQ(Open(reg, static_cast<uint32_t>(parent), "tarnwick\\other", &reopened), 0);

    // Empty, doubled and trailing separators.
    RegKey root = 0;
    EXPECT_EQ(Create(reg, HKCU, "", &root, &disposition), 0);
    EXPECT_EQ(disposition, 2u);
    EXPECT_EQ(Open(reg, HKCU, "", &root), 0);
    EXPECT_EQ(Open(reg, HKCU, "Software\\\\Tarnwick\\", &root), 0);

    // A missing key is not created by opening it.
    RegKey missing = 12345;
    EXPECT_EQ(Open(reg, HKCU, "Software\\Nope", &missing), kErrorFileNotFound);
    EXPECT_EQ(missing, 0u);
    EXPECT_FALSE(reg.KeyExists(HKCU, "Software\\Nope"));

    // Names are cut at a NUL, as the ANSI functions see them.
    EXPECT_EQ(Create(reg, HKCU, std::string("Cut\0Away", 8), &root, &disposition), 0);
    EXPECT_TRUE(reg.KeyExists(HKCU, "Cut"));
    EXPECT_FALSE(reg.KeyExists(HKCU, "Cut\\Away"));

    for (RegKey k : {key, again, parent, child, reopened})
        EXPECT_EQ(reg.RegCloseKey(k), 0);
}

TEST_F(StandaloneRegistryTest, ParameterAndHandleStatuses)
{
    StandaloneRegistry reg(store_);
    RegKey key = 0;
    uint32_t disposition = 0;
    ASSERT_EQ(Create(reg, HKCU, "Software\\App", &key), 0);
    const uint8_t byte = 1;

    // 87: null result, reserved not 0, null data with a size, names the store cannot hold.
    EXPECT_EQ(reg.RegCreateKeyExA(HKCU, "X", 0, nullptr, 0, kKeyAccess, nullptr, nullptr, &disposition),
              kErrorInvalidParameter);
    EXPECT_EQ(reg.RegOpenKeyExA(HKCU, "Software", 0, kKeyAccess, nullptr), kErrorInvalidParameter);
    RegKey other = 0;
    EXPECT_EQ(reg.RegCreateKeyExA(HKCU, "X", 1, nullptr, 0, kKeyAccess, nullptr, &other, nullptr),
              kErrorInvalidParameter);
    EXPECT_EQ(reg.RegSetValueExA(key, "v", 1, kRegBinary, &byte, 1), kErrorInvalidParameter);
    EXPECT_EQ(reg.RegSetValueExA(key, "v", 0, kRegBinary, nullptr, 1), kErrorInvalidParameter);
    EXPECT_EQ(reg.RegSetValueExA(key, "v", 0, kRegBinary, nullptr, 0), 0);  // empty data needs no pointer
    EXPECT_EQ(reg.RegSetValueExA(key, "line\nbreak", 0, kRegBinary, &byte, 1), kErrorInvalidParameter);
    EXPECT_EQ(reg.RegSetValueExA(key, std::string(16383, 'v'), 0, kRegBinary, &byte, 1), 0);
    EXPECT_EQ(reg.RegSetValueExA(key, std::string(16384, 'v'), 0, kRegBinary, &byte, 1), kErrorInvalidParameter);
    EXPECT_EQ(Create(reg, HKCU, "Bad\rName", &other), kErrorInvalidParameter);
    EXPECT_EQ(Create(reg, HKCU, std::string(256, 'k'), &other), kErrorInvalidParameter);
    EXPECT_EQ(Create(reg, HKCU, std::string(255, 'k'), &other), 0);
    std::string deep;
    for (std::size_t i = 0; i < kMaxKeyDepth; ++i)
        deep += "d\\";
    EXPECT_EQ(Create(reg, HKCU, deep + "d", &other), kErrorInvalidParameter);
    EXPECT_FALSE(reg.KeyExists(HKCU, "Bad\rName"));

    // 161: a sub key beginning with a backslash.
    EXPECT_EQ(Create(reg, HKCU, "\\Software", &other), kErrorBadPathname);
    EXPECT_EQ(Open(reg, HKCU, "\\Software", &other), kErrorBadPathname);

    // 6: unknown roots and handles, closed handles, another object's handles.
    EXPECT_EQ(Create(reg, 0x80000004u, "X", &other), kErrorInvalidHandle);  // HKEY_PERFORMANCE_DATA
    EXPECT_EQ(Open(reg, 0x12345u, "X", &other), kErrorInvalidHandle);
    EXPECT_EQ(reg.RegSetValueExA(0x12345u, "v", 0, kRegBinary, &byte, 1), kErrorInvalidHandle);
    EXPECT_EQ(reg.RegDeleteValueA(0, "v"), kErrorInvalidHandle);
    EXPECT_EQ(reg.RegCloseKey(0x12345u), kErrorInvalidHandle);
    StandaloneRegistry second(store_);
    EXPECT_EQ(second.RegSetValueExA(key, "v", 0, kRegBinary, &byte, 1), kErrorInvalidHandle);
    EXPECT_EQ(reg.RegCloseKey(key), 0);
    EXPECT_EQ(reg.RegCloseKey(key), kErrorInvalidHandle);
    EXPECT_EQ(reg.RegSetValueExA(key, "v", 0, kRegBinary, &byte, 1), kErrorInvalidHandle);
    EXPECT_EQ(reg.RegDeleteValueA(key, "v"), kErrorInvalidHandle);

    // The predefined roots work as handles and closing one succeeds.
    EXPECT_EQ(reg.RegSetValueExA(HKCU, "at root", 0, kRegBinary, &byte, 1), 0);
    EXPECT_EQ(reg.QueryValue(HKCU, "", "AT ROOT"), Bytes(kRegBinary, "\x01"));
    EXPECT_EQ(reg.RegCloseKey(HKCU), 0);

    // 2: missing values.
    ASSERT_EQ(Open(reg, HKCU, "Software\\App", &key), 0);
    EXPECT_EQ(reg.RegDeleteValueA(key, "never set"), kErrorFileNotFound);
}

TEST_F(StandaloneRegistryTest, AccessRightsOfTheHandle)
{
    StandaloneRegistry reg(store_);
    RegKey full = 0, readOnly = 0, writeOnly = 0, created = 0;
    ASSERT_EQ(Create(reg, HKCU, "Rights", &full), 0);
    ASSERT_EQ(SetText(reg, full, "v", "x"), 0);
    ASSERT_EQ(Open(reg, HKCU, "Rights", &readOnly, kKeyRead), 0);
    EXPECT_EQ(SetText(reg, readOnly, "v", "y"), kErrorAccessDenied);
    EXPECT_EQ(reg.RegDeleteValueA(readOnly, "v"), kErrorAccessDenied);
    ASSERT_EQ(Create(reg, HKCU, "Rights", &created, nullptr, 0), 0);
    EXPECT_EQ(SetText(reg, created, "v", "y"), kErrorAccessDenied);
    ASSERT_EQ(Open(reg, HKCU, "Rights", &writeOnly, kKeyWrite), 0);
    EXPECT_EQ(SetText(reg, writeOnly, "v", "z"), 0);
    EXPECT_EQ(reg.QueryValue(HKCU, "Rights", "v"), Text("z"));
}

TEST_F(StandaloneRegistryTest, ValuesKeepTypeBytesAndNameSpelling)
{
    StandaloneRegistry reg(store_);
    RegKey key = 0;
    ASSERT_EQ(Create(reg, HKCU, "Software\\Values", &key), 0);
    std::string all;
    for (int b = 0; b < 256; ++b)
        all += static_cast<char>(b);
    const std::vector<std::pair<std::string, StoredValue>> values = {
        {"", Text("default")},
        {"Text", Text("C:\\Path \"quoted\"")},
        {"NoTerminator", Bytes(kRegSz, "abc")},
        {"ZeroLength", Bytes(kRegSz, "")},
        {"Expand", Bytes(kRegExpandSz, std::string("%TEMP%\0", 7))},
        {"Binary", Bytes(kRegBinary, all)},
        {"Dword", Bytes(kRegDword, std::string("\x1c\0\0\0", 4))},
        {"ShortDword", Bytes(kRegDword, "\x1c")},
        {"Multi", Bytes(kRegMultiSz, std::string("a\0b\0\0", 5))},
        {"None", Bytes(kRegNone, "")},
        {"Qword", Bytes(11, std::string("\1\0\0\0\0\0\0\0", 8))},
    };
    for (const auto& [name, value] : values)
        ASSERT_EQ(Set(reg, key, name, value), 0) << name;
    StandaloneRegistry fresh(store_);
    for (const auto& [name, value] : values)
        EXPECT_EQ(fresh.QueryValue(HKCU, "software\\values", name), value) << name;

    // Case-insensitive names keep the first spelling.
    ASSERT_EQ(SetText(reg, key, "TEXT", "replaced"), 0);
    EXPECT_EQ(reg.QueryValue(HKCU, "Software\\Values", "text"), Text("replaced"));
    const std::string file = ReadFile(store_);
    EXPECT_NE(file.find("\"Text\"=\"replaced\"\r\n"), std::string::npos);
    EXPECT_EQ(file.find("\"TEXT\""), std::string::npos);

    // A value name is cut at a NUL.
    ASSERT_EQ(SetText(reg, key, std::string("Cut\0off", 7), "c"), 0);
    EXPECT_EQ(reg.QueryValue(HKCU, "Software\\Values", "Cut"), Text("c"));

    EXPECT_EQ(reg.RegDeleteValueA(key, "dWoRd"), 0);
    EXPECT_EQ(reg.QueryValue(HKCU, "Software\\Values", "Dword"), std::nullopt);
    EXPECT_EQ(reg.RegDeleteValueA(key, "Dword"), kErrorFileNotFound);
    EXPECT_EQ(reg.QueryValue(HKCU, "Software\\Missing", "x"), std::nullopt);
    EXPECT_EQ(reg.QueryValue(0x12345u, "Software\\Values", "Text"), std::nullopt);
}

TEST_F(StandaloneRegistryTest, PersistsAcrossObjectsAndReadsOtherWriters)
{
    {
        StandaloneRegistry first(store_);
        RegKey key = 0;
        ASSERT_EQ(Create(first, HKCU, "Software\\Shared", &key), 0);
        ASSERT_EQ(SetText(first, key, "From", "first"), 0);
    }
    StandaloneRegistry second(store_);
    EXPECT_EQ(second.QueryValue(HKCU, "Software\\Shared", "From"), Text("first"));

    // Each operation reads the store afresh: another object's changes are seen at once.
    StandaloneRegistry third(store_);
    RegKey secondKey = 0, thirdKey = 0;
    ASSERT_EQ(Open(second, HKCU, "Software\\Shared", &secondKey), 0);
    ASSERT_EQ(Open(third, HKCU, "Software\\Shared", &thirdKey), 0);
    ASSERT_EQ(SetText(second, secondKey, "A", "a"), 0);
    ASSERT_EQ(SetText(third, thirdKey, "B", "b"), 0);
    EXPECT_EQ(second.QueryValue(HKCU, "Software\\Shared", "B"), Text("b"));
    EXPECT_EQ(third.QueryValue(HKCU, "Software\\Shared", "A"), Text("a"));

    // The store is a REGEDIT4 file.
    const std::string file = ReadFile(store_);
    EXPECT_EQ(file.rfind("REGEDIT4\r\n\r\n", 0), 0u);
    EXPECT_TRUE(ParseRegFile(file).FindKey(HKCU, {"Software", "Shared"}) != nullptr);

    // A key taken away by another writer reports 1018 through handles that point at it.
    WriteStore("REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software]\r\n");
    const std::string without = ReadFile(store_);
    RegKey under = 0;
    EXPECT_EQ(SetText(second, secondKey, "A", "again"), kErrorKeyDeleted);
    EXPECT_EQ(second.RegDeleteValueA(secondKey, "A"), kErrorKeyDeleted);
    EXPECT_EQ(Open(second, static_cast<uint32_t>(secondKey), "", &under), kErrorKeyDeleted);
    EXPECT_EQ(Create(second, static_cast<uint32_t>(secondKey), "Sub", &under), kErrorKeyDeleted);
    EXPECT_EQ(ReadFile(store_), without);
    EXPECT_EQ(second.RegCloseKey(secondKey), 0);
}

TEST_F(StandaloneRegistryTest, WritesNothingWhenNothingChanges)
{
    StandaloneRegistry reg(store_);
    RegKey key = 0;
    // No store yet: operations that change nothing do not even create the folder.
    EXPECT_EQ(Open(reg, HKCU, "Software", &key), kErrorFileNotFound);
    EXPECT_EQ(Create(reg, HKCU, "", &key), 0);
    EXPECT_EQ(reg.RegDeleteValueA(key, "nothing"), kErrorFileNotFound);
    EXPECT_FALSE(reg.KeyExists(HKCU, "Software"));
    EXPECT_FALSE(fs::exists(store_.parent_path()));

    ASSERT_EQ(Create(reg, HKCU, "Software\\Same", &key), 0);
    ASSERT_EQ(SetText(reg, key, "v", "same"), 0);
    // Our writer never writes comments, so the marker shows whether the store was rewritten.
    WriteFile(store_, ReadFile(store_) + "; untouched\r\n");
    const std::string before = ReadFile(store_);
    RegKey again = 0;
    uint32_t disposition = 0;
    EXPECT_EQ(Create(reg, HKCU, "software\\same", &again, &disposition), 0);
    EXPECT_EQ(disposition, 2u);
    EXPECT_EQ(SetText(reg, key, "v", "same"), 0);
    EXPECT_EQ(SetText(reg, key, "V", "same"), 0);
    EXPECT_EQ(reg.RegDeleteValueA(key, "missing"), kErrorFileNotFound);
    EXPECT_EQ(Open(reg, HKCU, "Software\\Same", &again), 0);
    EXPECT_EQ(reg.RegCloseKey(again), 0);
    EXPECT_EQ(reg.QueryValue(HKCU, "Software\\Same", "v"), Text("same"));
    EXPECT_EQ(ReadFile(store_), before);

    // A real change rewrites it.
    EXPECT_EQ(SetText(reg, key, "v", "different"), 0);
    EXPECT_EQ(ReadFile(store_).find("; untouched"), std::string::npos);
    EXPECT_EQ(Entries(store_.parent_path()), (std::vector<std::string>{"registry.reg", "registry.reg.lock"}));
}

TEST_F(StandaloneRegistryTest, DamagedStoreIsReportedAndNeverOverwritten)
{
    std::string valid;
    {
        StandaloneRegistry writer(store_);
        RegKey key = 0;
        ASSERT_EQ(Create(writer, HKCU, "Software\\Kept", &key), 0);
        ASSERT_EQ(Set(writer, key, "Blob", Bytes(kRegBinary, std::string(200, '\x5a'))), 0);
        valid = ReadFile(store_);
    }
    const std::size_t cut = valid.find("5a,5a,\\\r\n") + 9;  // after the first continuation
    const std::vector<std::pair<std::string, std::string>> damaged = {
        {std::string("\x89PNG\r\n\x1a\n\0\0garbage", 16), "line 1"},
        {valid.substr(0, cut), "continues past the end of the file"},
        {"REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Software]\r\n\"x\"=-\r\n", "line 4: deleting values"},
    };
    for (const auto& [bytes, why] : damaged) {
        WriteStore(bytes);
        StandaloneRegistry reg(store_);
        RegKey key = 0;
        const uint8_t byte = 7;
        EXPECT_EQ(Create(reg, HKCU, "Software\\New", &key), kErrorBadRegistryFile);
        EXPECT_NE(reg.LastError().find(why), std::string::npos) << reg.LastError();
        EXPECT_EQ(key, 0u);
        EXPECT_EQ(Create(reg, HKCU, "", &key), kErrorBadRegistryFile);
        EXPECT_EQ(Open(reg, HKCU, "Software", &key), kErrorBadRegistryFile);
        EXPECT_EQ(reg.RegSetValueExA(HKCU, "v", 0, kRegBinary, &byte, 1), kErrorBadRegistryFile);
        EXPECT_EQ(reg.RegDeleteValueA(HKCU, "v"), kErrorBadRegistryFile);
        EXPECT_EQ(reg.QueryValue(HKCU, "Software\\Kept", "Blob"), std::nullopt);
        EXPECT_FALSE(reg.KeyExists(HKCU, "Software"));
        EXPECT_NE(reg.LastError().find("registry.reg"), std::string::npos) << reg.LastError();
        EXPECT_EQ(ReadFile(store_), bytes);
        EXPECT_EQ(Entries(store_.parent_path()), (std::vector<std::string>{"registry.reg", "registry.reg.lock"}));
    }

    // A store that cannot be read at all (here a folder in its place) is left alone too.
    fs::remove(store_);
    fs::create_directories(store_ / "inside");
    StandaloneRegistry reg(store_);
    RegKey key = 0;
    EXPECT_EQ(Create(reg, HKCU, "Software", &key), kErrorBadRegistryFile);
    EXPECT_TRUE(fs::is_directory(store_ / "inside"));

    // Repaired, it works again.
    fs::remove_all(store_);
    WriteFile(store_, valid);
    EXPECT_EQ(Create(reg, HKCU, "Software\\New", &key), 0);
    EXPECT_EQ(reg.LastError(), "");
    EXPECT_EQ(reg.QueryValue(HKCU, "Software\\Kept", "Blob"), Bytes(kRegBinary, std::string(200, '\x5a')));
}

TEST_F(StandaloneRegistryTest, UnwritableStoreReportsAndLeavesNoTemporaryFile)
{
    // The store's folder cannot be made because a file is in the way.
    fs::create_directories(folder_);
    WriteFile(folder_ / "config", "not a folder");
    StandaloneRegistry blocked(store_);
    RegKey key = 0;
    const int32_t status = Create(blocked, HKCU, "Software", &key);
    EXPECT_NE(status, 0);
    EXPECT_NE(status, kErrorBadRegistryFile);
    EXPECT_EQ(key, 0u);
    EXPECT_NE(blocked.LastError(), "");
    EXPECT_EQ(ReadFile(folder_ / "config"), "not a folder");
    fs::remove(folder_ / "config");

#ifndef _WIN32
    StandaloneRegistry reg(store_);
    ASSERT_EQ(Create(reg, HKCU, "Software", &key), 0);
    const std::string before = ReadFile(store_);

    // A file size limit makes writing the new store fail part-way (in a child process, so the
    // limit stays there).
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::signal(SIGXFSZ, SIG_IGN);
        rlimit limit{static_cast<rlim_t>(before.size() + 10), static_cast<rlim_t>(before.size() + 10)};
        setrlimit(RLIMIT_FSIZE, &limit);
        StandaloneRegistry limited(store_);
        RegKey k = 0;
        if (Create(limited, HKCU, "Software", &k) != 0)
            _exit(2);
        const int32_t result = Set(limited, k, "big", Bytes(kRegBinary, std::string(5000, 'x')));
        _exit(result == 223 ? 0 : 1);  // ERROR_FILE_TOO_LARGE
    }
    int wstatus = 0;
    ASSERT_EQ(waitpid(child, &wstatus, 0), child);
    EXPECT_TRUE(WIFEXITED(wstatus) && WEXITSTATUS(wstatus) == 0) << wstatus;
    EXPECT_EQ(ReadFile(store_), before);
    EXPECT_EQ(Entries(store_.parent_path()), (std::vector<std::string>{"registry.reg", "registry.reg.lock"}));

    // A read-only folder (meaningless for root, who may write anyway).
    if (geteuid() != 0) {
        fs::permissions(store_.parent_path(), fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                        fs::perm_options::remove);
        EXPECT_EQ(SetText(reg, key, "v", "x"), kErrorAccessDenied);
        EXPECT_NE(reg.LastError().find("registry.reg"), std::string::npos) << reg.LastError();
        EXPECT_EQ(reg.QueryValue(HKCU, "Software", "v"), std::nullopt);  // reading still works
        EXPECT_TRUE(reg.KeyExists(HKCU, "Software"));
        EXPECT_EQ(ReadFile(store_), before);
        EXPECT_EQ(Entries(store_.parent_path()), (std::vector<std::string>{"registry.reg", "registry.reg.lock"}));
    }
#endif
}

TEST_F(StandaloneRegistryTest, ASaveRemovesKilledWritersFilesAndKeepsTheStoresPermissions)
{
    StandaloneRegistry reg(store_);
    RegKey key = 0;
    ASSERT_EQ(Create(reg, HKCU, "Software", &key), 0);
    // A half-written store of a writer that was killed (no process has that number), and a file
    // that only looks similar.
    fs::path dead = store_, similar = store_;
#ifdef _WIN32
    dead = store_.parent_path() / "~TW0A1B2.TMP";  // new files have 8.3 names there
#else
    dead += ".999999999.tmp";
#endif
    similar += ".notes.tmp";
    WriteFile(dead, "REGEDIT4\r\n\r\n[HKEY_CURRENT_USER\\Soft");
    WriteFile(similar, "not ours");
    ASSERT_EQ(SetText(reg, key, "v", "x"), 0);
    EXPECT_EQ(Entries(store_.parent_path()),
              (std::vector<std::string>{"registry.reg", "registry.reg.lock", "registry.reg.notes.tmp"}));
    EXPECT_EQ(reg.QueryValue(HKCU, "Software", "v"), Text("x"));

#ifndef _WIN32
    using P = fs::perms;
    for (const P mode : {P::owner_read | P::owner_write,
                         P::owner_read | P::owner_write | P::group_read | P::group_write | P::others_read}) {
        fs::permissions(store_, mode);
        ASSERT_EQ(SetText(reg, key, "v", std::to_string(static_cast<int>(mode))), 0);
        EXPECT_EQ(fs::status(store_).permissions() & P::mask, mode);
    }
#endif
}

#ifndef _WIN32
// A store in a folder whose name is not UTF-8: registry calls answer, they never raise.
TEST(StandaloneRegistryPath, AFolderNamedInAnotherEncodingServes)
{
    test::TempFolder folder;
    StandaloneRegistry store(folder.Path() / "caf\xE9" / "registry.reg");
    clsRegistry registry(store);
    EXPECT_TRUE(registry.SetRegistryValue(HKEY_CURRENT_USER_VALUE, u"Software\\T", u"v", TypedValue::Long(7), 0));
    EXPECT_TRUE(registry.DeleteRegistryValueOrKey(HKEY_CURRENT_USER_VALUE, u"Software\\T", u"v"));
    EXPECT_FALSE(registry.DeleteRegistryValueOrKey(HKEY_CURRENT_USER_VALUE, u"Software\\T", u"v"));
}
#endif

// The 32-bit Windows build's thread model has no std::thread.
#ifdef _GLIBCXX_HAS_GTHREADS
TEST_F(StandaloneRegistryTest, ObjectsInThreadsLoseNoUpdate)
{
    constexpr int kRounds = 25;
    auto work = [this](const std::string& prefix, int32_t& failures) {
        StandaloneRegistry reg(store_);
        RegKey key = 0;
        if (Create(reg, HKCU, "Software\\Busy", &key) != 0)
            ++failures;
        for (int i = 0; i < kRounds; ++i) {
            if (SetText(reg, key, prefix + std::to_string(i), prefix) != 0)
                ++failures;
        }
    };
    int32_t failuresA = 0, failuresB = 0;
    std::thread a(work, "a", std::ref(failuresA));
    std::thread b(work, "b", std::ref(failuresB));
    a.join();
    b.join();
    EXPECT_EQ(failuresA + failuresB, 0);
    StandaloneRegistry reg(store_);
    for (int i = 0; i < kRounds; ++i) {
        EXPECT_EQ(reg.QueryValue(HKCU, "Software\\Busy", "a" + std::to_string(i)), Text("a"));
        EXPECT_EQ(reg.QueryValue(HKCU, "Software\\Busy", "b" + std::to_string(i)), Text("b"));
    }
}
#endif

#ifndef _WIN32
TEST_F(StandaloneRegistryTest, TwoProcessesLoseNoUpdate)
{
    constexpr int kRounds = 50;
    // Each process sets its values 0..kRounds-1 and deletes every even one after setting the
    // next: what must remain is every odd value of both.
    auto work = [this](const std::string& prefix) -> int {
        StandaloneRegistry reg(store_);
        RegKey key = 0;
        if (Create(reg, HKCU, "Software\\Race", &key) != 0)
            return 1;
        for (int i = 0; i < kRounds; ++i) {
            const std::string value = std::to_string(i);
            if (SetText(reg, key, prefix + value, value) != 0)
                return 2;
            if (i % 2 == 1 && reg.RegDeleteValueA(key, prefix + std::to_string(i - 1)) != 0)
                return 3;
        }
        return 0;
    };
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0)
        _exit(work("child"));
    const int parentResult = work("parent");
    int wstatus = 0;
    ASSERT_EQ(waitpid(child, &wstatus, 0), child);
    EXPECT_EQ(parentResult, 0);
    ASSERT_TRUE(WIFEXITED(wstatus));
    EXPECT_EQ(WEXITSTATUS(wstatus), 0);

    const RegModel stored = ParseRegFile(ReadFile(store_));
    const RegKeyNode* race = stored.FindKey(HKCU, {"Software", "Race"});
    ASSERT_NE(race, nullptr);
    EXPECT_EQ(race->Values().size(), static_cast<std::size_t>(kRounds));
    for (const std::string prefix : {"child", "parent"}) {
        for (int i = 0; i < kRounds; ++i) {
            const StoredValue* value = race->FindValue(prefix + std::to_string(i));
            if (i % 2 == 1) {
                ASSERT_NE(value, nullptr) << prefix << i;
                EXPECT_EQ(*value, Text(std::to_string(i)));
            } else {
                EXPECT_EQ(value, nullptr) << prefix << i;
            }
        }
    }
    EXPECT_EQ(Entries(store_.parent_path()), (std::vector<std::string>{"registry.reg", "registry.reg.lock"}));
}

TEST(StandaloneRegistryPath, DefaultStorePathFollowsXdg)
{
    const char* oldConfig = std::getenv("XDG_CONFIG_HOME");
    const char* oldHome = std::getenv("HOME");
    const std::string savedConfig = oldConfig ? oldConfig : "";
    const std::string savedHome = oldHome ? oldHome : "";

    setenv("XDG_CONFIG_HOME", "/tmp/xdg-config", 1);
    setenv("HOME", "/home/someone", 1);
    EXPECT_EQ(StandaloneRegistry::DefaultStorePath(), fs::path("/tmp/xdg-config/tarnwick/registry.reg"));
    setenv("XDG_CONFIG_HOME", "", 1);
    EXPECT_EQ(StandaloneRegistry::DefaultStorePath(), fs::path("/home/someone/.config/tarnwick/registry.reg"));
    setenv("XDG_CONFIG_HOME", "relative/ignored", 1);
    EXPECT_EQ(StandaloneRegistry::DefaultStorePath(), fs::path("/home/someone/.config/tarnwick/registry.reg"));
    unsetenv("XDG_CONFIG_HOME");
    unsetenv("HOME");
    EXPECT_EQ(StandaloneRegistry::DefaultStorePath(), fs::path());

    if (oldConfig)
        setenv("XDG_CONFIG_HOME", savedConfig.c_str(), 1);
    if (oldHome)
        setenv("HOME", savedHome.c_str(), 1);
}
#endif

TEST(StandaloneRegistryPath, EmptyStorePathIsRefused)
{
    EXPECT_THROW({ StandaloneRegistry reg{fs::path()}; }, std::invalid_argument);
}

}  // namespace
}  // namespace tarnwick
