// The registry class's typing, statuses and key handling, against the stand-alone registry and,
// on Windows, against the system's own registry.
#include <gtest/gtest.h>

#include <stdexcept>
#include <memory>
#include <random>

#include "TestSupport.h"
#include "registry/StandaloneRegistry.h"
#include "registry/clsRegistry.h"

#ifdef _WIN32
#include <windows.h>

#include "registry/win32/Win32Registry.h"
#endif

namespace tarnwick {
namespace {

// Counts the calls and remembers what was handed to the registry, passing everything through.
class CountingRegistry : public IRegistryOps {
public:
    explicit CountingRegistry(IRegistryOps& inner) : inner_(inner) {}

    int32_t RegCreateKeyExA(uint32_t hKey, const std::string& subKey, uint32_t reserved, const char* className,
                            uint32_t options, uint32_t samDesired, const RegSecurityAttributes* sa, RegKey* result,
                            uint32_t* disposition) override
    {
        ++creates;
        access = samDesired;
        if (sa != nullptr)
            securityLength = sa->nLength, inherit = sa->bInheritHandle;
        int32_t status =
            inner_.RegCreateKeyExA(hKey, subKey, reserved, className, options, samDesired, sa, result, disposition);
        if (status == 0)
            ++open;
        return status;
    }
    int32_t RegSetValueExA(RegKey key, const std::string& name, uint32_t reserved, uint32_t type, const uint8_t* data,
                           uint32_t cbData) override
    {
        ++sets;
        lastCount = cbData;
        return inner_.RegSetValueExA(key, name, reserved, type, data, cbData);
    }
    int32_t RegOpenKeyExA(uint32_t hKey, const std::string& subKey, uint32_t options, uint32_t samDesired,
                          RegKey* result) override
    {
        access = samDesired;
        int32_t status = inner_.RegOpenKeyExA(hKey, subKey, options, samDesired, result);
        if (status == 0)
            ++open;
        return status;
    }
    int32_t RegDeleteValueA(RegKey key, const std::string& name) override { return inner_.RegDeleteValueA(key, name); }
    int32_t RegCloseKey(RegKey key) override
    {
        --open;
        return inner_.RegCloseKey(key);
    }

    int creates = 0, sets = 0, open = 0;
    uint32_t access = 0, securityLength = 0, lastCount = 0;
    int32_t inherit = 0;

private:
    IRegistryOps& inner_;
};

// A registry to test against, with a way to read back what was stored. Every test works below
// its own key, so runs never see each other.
class Backend {
public:
    virtual ~Backend() = default;
    virtual IRegistryOps& Ops() = 0;
    virtual std::optional<StoredValue> Query(const std::string& key, const std::string& name) = 0;
    virtual bool KeyExists(const std::string& key) = 0;
    const std::string& Base() const { return base_; }

protected:
    std::string base_ = "Software\\TarnwickTest\\" + std::to_string(std::random_device{}());
};

class StandaloneBackend : public Backend {
public:
    StandaloneBackend() : registry_(folder_ / "registry.reg") {}
    IRegistryOps& Ops() override { return registry_; }
    std::optional<StoredValue> Query(const std::string& key, const std::string& name) override
    {
        return registry_.QueryValue(HKEY_CURRENT_USER_VALUE, key, name);
    }
    bool KeyExists(const std::string& key) override { return registry_.KeyExists(HKEY_CURRENT_USER_VALUE, key); }

private:
    test::TempFolder folder_;
    StandaloneRegistry registry_;
};

#ifdef _WIN32
class SystemBackend : public Backend {
public:
    ~SystemBackend() override { RegDeleteTreeA(HKEY_CURRENT_USER, base_.c_str()); }
    IRegistryOps& Ops() override { return registry_; }
    std::optional<StoredValue> Query(const std::string& key, const std::string& name) override
    {
        HKEY opened = nullptr;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, KEY_QUERY_VALUE, &opened) != ERROR_SUCCESS)
            return std::nullopt;
        DWORD type = 0, size = 0;
        std::optional<StoredValue> result;
        if (RegQueryValueExA(opened, name.c_str(), nullptr, &type, nullptr, &size) == ERROR_SUCCESS) {
            StoredValue value;
            value.type = type;
            value.data.resize(size);
            if (RegQueryValueExA(opened, name.c_str(), nullptr, &type, value.data.data(), &size) == ERROR_SUCCESS) {
                value.data.resize(size);
                result = value;
            }
        }
        RegCloseKey(opened);
        return result;
    }
    bool KeyExists(const std::string& key) override
    {
        HKEY opened = nullptr;
        if (RegOpenKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, KEY_QUERY_VALUE, &opened) != ERROR_SUCCESS)
            return false;
        RegCloseKey(opened);
        return true;
    }

private:
    Win32Registry registry_;
};
#endif

std::unique_ptr<Backend> MakeBackend(const std::string& name)
{
#ifdef _WIN32
    if (name == "System")
        return std::make_unique<SystemBackend>();
#endif
    if (name != "Standalone")
        throw std::invalid_argument("no backend " + name);
    return std::make_unique<StandaloneBackend>();
}

// The parameter is the backend's name, so that test names stay readable and stable.
class RegistryClass : public testing::TestWithParam<std::string> {
protected:
    void SetUp() override
    {
        backend = MakeBackend(GetParam());
        recording = std::make_unique<test::RecordingRegistry>(backend->Ops());
        counting = std::make_unique<CountingRegistry>(*recording);
        registry = std::make_unique<clsRegistry>(*counting);
        key = backend->Base() + "\\Typed";
        wkey = std::u16string(key.begin(), key.end());
    }

    StoredValue Stored(const char* name)
    {
        auto value = backend->Query(key, name);
        return value ? *value : StoredValue{0xFFFFFFFFu, {}};
    }

    std::unique_ptr<Backend> backend;
    std::unique_ptr<test::RecordingRegistry> recording;  // can make one operation fail
    std::unique_ptr<CountingRegistry> counting;
    std::unique_ptr<clsRegistry> registry;
    std::string key;
    std::u16string wkey;
};

using Bytes = std::vector<uint8_t>;

TEST_P(RegistryClass, NumbersAreWrittenAsDwords)
{
    EXPECT_TRUE(registry->SetRegistryValue(HKEY_CURRENT_USER_VALUE, wkey, u"i16", TypedValue::Integer(-1)));
    EXPECT_TRUE(registry->SetRegistryValue(HKEY_CURRENT_USER_VALUE, wkey, u"i32", TypedValue::Long(0x01020304)));
    EXPECT_TRUE(registry->SetRegistryValue(HKEY_CURRENT_USER_VALUE, wkey, u"byte", TypedValue::Byte(200)));
    EXPECT_EQ(Stored("i16"), (StoredValue{kRegDword, Bytes{0xFF, 0xFF, 0xFF, 0xFF}}));
    EXPECT_EQ(Stored("i32"), (StoredValue{kRegDword, Bytes{0x04, 0x03, 0x02, 0x01}}));
    EXPECT_EQ(Stored("byte"), (StoredValue{kRegDword, Bytes{0xC8, 0x00, 0x00, 0x00}}));
    EXPECT_EQ(counting->lastCount, 4u);
}

TEST_P(RegistryClass, TextKeepsItsBytesAndItsTerminatorAndTheFlagPicksTheType)
{
    const Bytes abc{0x61, 0x62, 0x63, 0x00};
    EXPECT_TRUE(registry->SetRegistryValue(HKEY_CURRENT_USER_VALUE, wkey, u"sz", TypedValue::String(u"abc"), 0));
    EXPECT_EQ(counting->lastCount, 4u);
    EXPECT_TRUE(registry->SetRegistryValue(HKEY_CURRENT_USER_VALUE, wkey, u"expand", TypedValue::String(u"abc"), 1));
    EXPECT_TRUE(registry->SetRegistryValue(HKEY_CURRENT_USER_VALUE, wkey, u"multi", TypedValue::String(u"abc"), 2));
    EXPECT_TRUE(registry->SetRegistryValue(HKEY_CURRENT_USER_VALUE, wkey, u"three", TypedValue::String(u"abc"), 3));
    EXPECT_TRUE(registry->SetRegistryValue(HKEY_CURRENT_USER_VALUE, wkey, u"empty", TypedValue::String(u""), 0));
    EXPECT_TRUE(registry->SetRegistryValue(HKEY_CURRENT_USER_VALUE, wkey, u"emptyx", TypedValue::String(u""), 1));
    EXPECT_EQ(Stored("sz"), (StoredValue{kRegSz, abc}));
    EXPECT_EQ(Stored("expand"), (StoredValue{kRegExpandSz, abc}));
    EXPECT_EQ(Stored("multi"), (StoredValue{kRegMultiSz, abc}));
    EXPECT_EQ(Stored("three"), (StoredValue{kRegSz, abc}));
    EXPECT_EQ(Stored("empty"), (StoredValue{kRegSz, Bytes{0x00}}));
    EXPECT_EQ(Stored("emptyx"), (StoredValue{kRegExpandSz, Bytes{0x00}}));

    // A multi-string brings its own separators; the final terminator is added.
    EXPECT_TRUE(registry->SetRegistryValue(HKEY_CURRENT_USER_VALUE, wkey, u"list",
                                           TypedValue::String(std::u16string(u"a\0b\0", 4)), 2));
    EXPECT_EQ(Stored("list"), (StoredValue{kRegMultiSz, Bytes{0x61, 0x00, 0x62, 0x00, 0x00}}));
}

TEST_P(RegistryClass, ByteArraysAreWrittenWholeAsBinary)
{
    Bytes shellState{0x1C, 0, 0, 0, 0x63, 0x08, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x01, 0, 0, 0, 0x0A, 0, 0, 0};
    EXPECT_TRUE(
        registry->SetRegistryValue(HKEY_CURRENT_USER_VALUE, wkey, u"ShellState", TypedValue::Bytes(shellState)));
    EXPECT_EQ(Stored("ShellState"), (StoredValue{kRegBinary, shellState}));
    EXPECT_EQ(counting->lastCount, 28u);

    EXPECT_TRUE(registry->SetRegistryValue(HKEY_CURRENT_USER_VALUE, wkey, u"none", TypedValue::Bytes({})));
    EXPECT_EQ(Stored("none"), (StoredValue{kRegBinary, Bytes{}}));
}

TEST_P(RegistryClass, OtherTypesWriteNothingCreateNothingAndAnswerFalse)
{
    for (const TypedValue& value :
         {TypedValue(), TypedValue::Null(), TypedValue::Boolean(true), TypedValue::Single(1.5f),
          TypedValue::Double(2.5), TypedValue::Date(45000.0), TypedValue::Currency(10000), TypedValue::Object()}) {
        EXPECT_FALSE(registry->SetRegistryValue(HKEY_CURRENT_USER_VALUE, wkey, u"v", value));
    }
    EXPECT_EQ(counting->creates, 0);
    EXPECT_FALSE(backend->KeyExists(key));
}

TEST_P(RegistryClass, MissingKeysAreCreatedWithTheirParentsAndEveryKeyIsClosed)
{
    const std::u16string deep = wkey + u"\\One\\Two";
    EXPECT_TRUE(registry->SetRegistryValue(HKEY_CURRENT_USER_VALUE, deep, u"v", TypedValue::Long(7)));
    EXPECT_TRUE(backend->KeyExists(key + "\\One"));
    EXPECT_EQ(counting->open, 0);
    EXPECT_EQ(counting->access, 0x3Fu);
    EXPECT_EQ(counting->securityLength, 10u);
    EXPECT_NE(counting->inherit, 0);
}

TEST_P(RegistryClass, KeysAreCreatedWithTheTenByteSecurityRecordInheritingWithTheShortTrue)
{
    EXPECT_TRUE(registry->SetRegistryValue(HKEY_CURRENT_USER_VALUE, wkey, u"v", TypedValue::Long(7)));
    // Length 10, no descriptor, and the inherit flag 0x0000FFFF, each as its bytes lie in memory.
    EXPECT_EQ(recording->calls.at(0), "RegCreateKeyExA 80000001 " + key + " access=3f security=0a000000,null,ffff0000");
}

TEST_P(RegistryClass, AFailedWriteAnswersFalseKeepsTheNewKeyAndClosesItOnce)
{
    recording->failCall = "RegSetValueExA";
    EXPECT_FALSE(registry->SetRegistryValue(HKEY_CURRENT_USER_VALUE, wkey, u"v", TypedValue::Long(7)));
    EXPECT_TRUE(backend->KeyExists(key));
    EXPECT_FALSE(backend->Query(key, "v"));
    EXPECT_EQ(recording->Count("RegCloseKey"), 1);
}

TEST_P(RegistryClass, AFailedCloseFailsTheDeleteButNotTheWrite)
{
    recording->failCall = "RegCloseKey";
    EXPECT_TRUE(registry->SetRegistryValue(HKEY_CURRENT_USER_VALUE, wkey, u"v", TypedValue::Long(7)));
    EXPECT_EQ(Stored("v"), (StoredValue{kRegDword, Bytes{7, 0, 0, 0}}));
    EXPECT_FALSE(registry->DeleteRegistryValueOrKey(HKEY_CURRENT_USER_VALUE, wkey, u"v"));
    EXPECT_FALSE(backend->Query(key, "v"));  // gone all the same
    EXPECT_EQ(recording->Count("RegCloseKey"), 2);
}

TEST_P(RegistryClass, DeleteAnswersForMissingKeysMissingValuesAndPresentValues)
{
    EXPECT_FALSE(registry->DeleteRegistryValueOrKey(HKEY_CURRENT_USER_VALUE, wkey, u"v"));  // missing key
    EXPECT_FALSE(backend->KeyExists(key));                                                  // and not created

    ASSERT_TRUE(registry->SetRegistryValue(HKEY_CURRENT_USER_VALUE, wkey, u"v", TypedValue::Long(1)));
    EXPECT_FALSE(registry->DeleteRegistryValueOrKey(HKEY_CURRENT_USER_VALUE, wkey, u"other"));  // missing value
    EXPECT_EQ(counting->open, 0);                                                               // key was closed

    EXPECT_TRUE(registry->DeleteRegistryValueOrKey(HKEY_CURRENT_USER_VALUE, wkey, u"V"));  // names ignore case
    EXPECT_FALSE(backend->Query(key, "v"));
    EXPECT_TRUE(backend->KeyExists(key));  // only the value goes
    EXPECT_FALSE(registry->DeleteRegistryValueOrKey(HKEY_CURRENT_USER_VALUE, wkey, u"v"));
    EXPECT_EQ(counting->open, 0);
}

TEST_P(RegistryClass, AnInvalidRootChangesNothing)
{
    EXPECT_FALSE(registry->SetRegistryValue(0x12345678u, wkey, u"v", TypedValue::Long(1)));
    EXPECT_FALSE(registry->DeleteRegistryValueOrKey(0x12345678u, wkey, u"v"));
    EXPECT_FALSE(registry->SetRegistryValue(0, wkey, u"v", TypedValue::Long(1)));
    EXPECT_EQ(counting->sets, 0);
    EXPECT_FALSE(backend->KeyExists(key));
}

std::vector<std::string> Backends()
{
#ifdef _WIN32
    return {"System", "Standalone"};
#else
    return {"Standalone"};
#endif
}

std::string BackendName(const testing::TestParamInfo<std::string>& param)
{
    return param.param;
}

INSTANTIATE_TEST_SUITE_P(Backends, RegistryClass, testing::ValuesIn(Backends()), BackendName);

}  // namespace
}  // namespace tarnwick
