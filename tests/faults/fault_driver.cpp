// Drives the core for the fault tests, the way the Linux program does, without a window.
//
//   fault_driver run PROGRAM_FOLDER STORE [--os 98]
//       Load + RunCommand over the real stand-alone registry and desktop (store file STORE),
//       a 1024 x 768 screen and no operating-system record ("NONE"; --os 98 gives Windows 98,
//       so ShellState is written too). Prints "ok", or the error report on stderr and exits 1.
//   fault_driver set STORE NAME TEXT | delete STORE NAME
//       One value of HKEY_CURRENT_USER\Software\TarnwickFaults. Exits with 0, or prints the
//       status and the store's LastError and exits 1.
//   fault_driver hammer STORE ID SECONDS MAX
//       Iteration i (until SECONDS pass or MAX iterations): sets "p<ID>-<i>" = dword i and the
//       value "p<ID>-last" = i, and when i % 3 == 2 deletes "p<ID>-<i-1>". Any failing status
//       stops it with exit 1. Prints the number of iterations done.
//   fault_driver verify STORE ID COUNT
//       Checks the store holds exactly what `hammer ID` leaves after COUNT iterations.
//   fault_driver verify-killed STORE ID
//       The same for a `hammer ID` killed at an unknown point: "p<ID>-last" = L says iterations
//       before L finished; their values must be as left, and the value of iteration L present.
//   fault_driver watch STORE SECONDS
//       Reads and parses the store file again and again without a lock (a replacement by rename
//       shows the whole old or the whole new file); exits 1 at the first file that does not parse.
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "base/AppError.h"
#include "app/frmMain.h"
#include "desktop/StandaloneDesktop.h"
#include "registry/RegFile.h"
#include "registry/StandaloneRegistry.h"
#include "unit/TestSupport.h"

namespace {

using namespace tarnwick;
namespace fs = std::filesystem;

constexpr char kFaultKey[] = "Software\\TarnwickFaults";

int Run(const fs::path& folder, const fs::path& store, bool windows98)
{
    test::FixedVersion version(windows98 ? std::optional<VersionRecord>(VersionRecord{4, 10, 1}) : std::nullopt);
    test::FixedScreen screen(1024, 768, 96);
    test::RecordingMessageBox messages;
    test::RecordingEnd end;
    try {
        StandaloneRegistry registry(store);
        StandaloneDesktop desktop(registry);
        Platform platform{version, screen, registry, desktop, messages, end, PageFiles::InFolder(folder)};
        frmMain form(platform);
        form.Load();
        form.RunCommand();
    } catch (const AppError& error) {
        std::fprintf(stderr, "%s\n", error.Report().c_str());
        return 1;
    }
    if (end.ends != 1) {
        std::fprintf(stderr, "the Run command did not end the program\n");
        return 1;
    }
    std::printf("ok\n");
    return 0;
}

struct FaultKey {
    StandaloneRegistry registry;
    RegKey key = 0;
    explicit FaultKey(const fs::path& store) : registry(store) {}
};

// Opens (creating) the fault key; prints the failure and returns false.
bool Open(FaultKey& k)
{
    int32_t status = k.registry.RegCreateKeyExA(HKEY_CURRENT_USER_VALUE, kFaultKey, 0, nullptr, 0, kKeyAccess, nullptr,
                                                &k.key, nullptr);
    if (status != kErrorSuccess) {
        std::fprintf(stderr, "RegCreateKeyExA: status %d: %s\n", status, k.registry.LastError().c_str());
        return false;
    }
    return true;
}

bool Check(FaultKey& k, int32_t status, const char* call, const std::string& name)
{
    if (status == kErrorSuccess)
        return true;
    std::fprintf(stderr, "%s(%s): status %d: %s\n", call, name.c_str(), status, k.registry.LastError().c_str());
    return false;
}

bool SetDword(FaultKey& k, const std::string& name, uint32_t value)
{
    uint8_t bytes[4] = {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                        static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)};
    return Check(k, k.registry.RegSetValueExA(k.key, name, 0, kRegDword, bytes, 4), "RegSetValueExA", name);
}

int SetText(const fs::path& store, const std::string& name, const std::string& text)
{
    FaultKey k(store);
    if (!Open(k))
        return 1;
    std::string data = text + '\0';
    return Check(k,
                 k.registry.RegSetValueExA(k.key, name, 0, kRegSz, reinterpret_cast<const uint8_t*>(data.data()),
                                           static_cast<uint32_t>(data.size())),
                 "RegSetValueExA", name)
               ? 0
               : 1;
}

int Delete(const fs::path& store, const std::string& name)
{
    FaultKey k(store);
    if (!Open(k))
        return 1;
    return Check(k, k.registry.RegDeleteValueA(k.key, name), "RegDeleteValueA", name) ? 0 : 1;
}

std::string ValueName(const std::string& id, long i)
{
    return "p" + id + "-" + std::to_string(i);
}

int Hammer(const fs::path& store, const std::string& id, double seconds, long max)
{
    FaultKey k(store);
    if (!Open(k))
        return 1;
    const auto stop = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    long i = 0;
    for (; i < max && std::chrono::steady_clock::now() < stop; ++i) {
        if (!SetDword(k, ValueName(id, i), static_cast<uint32_t>(i)) ||
            !SetDword(k, "p" + id + "-last", static_cast<uint32_t>(i)))
            return 1;
        if (i % 3 == 2 &&
            !Check(k, k.registry.RegDeleteValueA(k.key, ValueName(id, i - 1)), "RegDeleteValueA", ValueName(id, i - 1)))
            return 1;
    }
    k.registry.RegCloseKey(k.key);
    std::printf("%ld\n", i);
    return 0;
}

StoredValue Dword(uint32_t value)
{
    return StoredValue{kRegDword,
                       {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8),
                        static_cast<uint8_t>(value >> 16), static_cast<uint8_t>(value >> 24)}};
}

int Verify(const fs::path& store, const std::string& id, long count)
{
    StandaloneRegistry registry(store);
    int failures = 0;
    auto expect = [&](const std::string& name, const std::optional<StoredValue>& want) {
        std::optional<StoredValue> got = registry.QueryValue(HKEY_CURRENT_USER_VALUE, kFaultKey, name);
        if (got != want) {
            if (++failures <= 10)
                std::fprintf(stderr, "%s: %s, expected %s\n", name.c_str(), got ? "present" : "missing",
                             want ? "present with its data" : "deleted");
        }
    };
    for (long i = 0; i < count; ++i) {
        const bool deleted = i % 3 == 1 && i + 1 < count;
        expect(ValueName(id, i), deleted ? std::nullopt : std::optional<StoredValue>(Dword(static_cast<uint32_t>(i))));
    }
    expect(ValueName(id, count), std::nullopt);
    if (count > 0)
        expect("p" + id + "-last", Dword(static_cast<uint32_t>(count - 1)));
    if (failures != 0) {
        std::fprintf(stderr, "process %s: %d lost or wrong updates (store %s)\n", id.c_str(), failures,
                     registry.LastError().c_str());
        return 1;
    }
    std::printf("process %s: all %ld iterations' updates present\n", id.c_str(), count);
    return 0;
}

int VerifyKilled(const fs::path& store, const std::string& id)
{
    StandaloneRegistry registry(store);
    std::optional<StoredValue> last = registry.QueryValue(HKEY_CURRENT_USER_VALUE, kFaultKey, "p" + id + "-last");
    if (!last || last->type != kRegDword || last->data.size() != 4) {
        std::fprintf(stderr, "process %s: no finished iteration recorded (store %s)\n", id.c_str(),
                     registry.LastError().c_str());
        return 1;
    }
    const long l = static_cast<long>(last->data[0] | last->data[1] << 8 | last->data[2] << 16 | last->data[3] << 24);
    int failures = 0;
    for (long i = 0; i <= l; ++i) {
        if (i == l - 1)
            continue;  // iteration l may or may not have deleted it
        std::optional<StoredValue> got = registry.QueryValue(HKEY_CURRENT_USER_VALUE, kFaultKey, ValueName(id, i));
        const bool deleted = i % 3 == 1 && i + 1 < l;
        if (got != (deleted ? std::nullopt : std::optional<StoredValue>(Dword(static_cast<uint32_t>(i)))) &&
            ++failures <= 10)
            std::fprintf(stderr, "%s: %s\n", ValueName(id, i).c_str(), got ? "present or wrong" : "missing");
    }
    if (failures != 0) {
        std::fprintf(stderr, "process %s: %d lost or wrong updates before iteration %ld\n", id.c_str(), failures, l);
        return 1;
    }
    std::printf("process %s: all updates of its %ld finished iterations present\n", id.c_str(), l);
    return 0;
}

int Watch(const fs::path& store, double seconds)
{
    const auto stop = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    long parsed = 0;
    while (std::chrono::steady_clock::now() < stop) {
        std::ifstream in(store, std::ios::binary);
        if (!in)
            continue;  // not written yet
        std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        try {
            ParseRegFile(text);
            ++parsed;
        } catch (const RegFileError& error) {
            std::fprintf(stderr, "the store did not parse (%zu bytes): line %zu: %s\n", text.size(), error.Line(),
                         error.Reason().c_str());
            return 1;
        }
    }
    std::printf("%ld reads parsed\n", parsed);
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    std::vector<std::string> args(argv + 1, argv + argc);
    try {
        if (args.size() >= 3 && args[0] == "run")
            return Run(args[1], args[2], args.size() == 5 && args[3] == "--os" && args[4] == "98");
        if (args.size() == 4 && args[0] == "set")
            return SetText(args[1], args[2], args[3]);
        if (args.size() == 3 && args[0] == "delete")
            return Delete(args[1], args[2]);
        if (args.size() == 5 && args[0] == "hammer")
            return Hammer(args[1], args[2], std::atof(args[3].c_str()), std::atol(args[4].c_str()));
        if (args.size() == 4 && args[0] == "verify")
            return Verify(args[1], args[2], std::atol(args[3].c_str()));
        if (args.size() == 3 && args[0] == "verify-killed")
            return VerifyKilled(args[1], args[2]);
        if (args.size() == 3 && args[0] == "watch")
            return Watch(args[1], std::atof(args[2].c_str()));
    } catch (const std::exception& error) {
        std::fprintf(stderr, "fault_driver: %s\n", error.what());
        return 1;
    }
    std::fprintf(stderr, "usage: see the comment at the top of tests/faults/fault_driver.cpp\n");
    return 2;
}
