// A registry kept in one REGEDIT4 text file (format: see RegFile.h), for Linux and for side-by-
// side comparison with the real registry on Windows.
//
// Store and locking: every operation reads the store file afresh, holding an advisory lock on a
// separate lock file beside it ("<store>.lock": flock on POSIX, LockFileEx on Windows; shared for
// reading, exclusive for changing), so several processes and several objects interleave safely. A
// change is saved by writing "<store>.<pid>.tmp" in the same folder, flushing it to disk (fsync /
// FlushFileBuffers) and renaming it over the store (rename / MoveFileExW with
// MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH), so readers see the old or the new store,
// never a torn one; the temporary file is removed on every failure path, and temporaries left by
// killed writers are removed before the next save. An operation that changes nothing writes
// nothing. A missing store is an empty registry; its folder is created when the first change is
// saved. A store that exists but cannot be read or parsed makes the operations fail with
// kErrorBadRegistryFile (1009) and is never written over. The lock file is left in place.
//
// Behaviour follows the Windows registry: statuses 0 success, 2 missing key or value, 5 a handle
// opened without KEY_SET_VALUE (or a generic/maximum right that implies it) used to set or delete
// a value, 6 unknown root or unknown/closed handle, 87 a null result pointer, a nonzero reserved
// argument, null data with a nonzero size, or a name the store cannot hold (CR or LF in a name, a
// key name over 255 bytes, a value name over 16383 bytes, keys nested over 512 levels), 161 a sub
// key beginning with '\', 1018 a handle whose key has disappeared from the store, 1009 an
// unreadable store, and Win32 statuses derived from errno/GetLastError when the store cannot be
// written. Names are cut at the first NUL, as the ANSI functions see them. In a sub key path empty
// names between backslashes and a trailing backslash are ignored. RegCreateKeyExA and
// RegOpenKeyExA also accept an opened key handle as parent. The predefined root values also work
// as RegKey handles (full access), and closing one succeeds. Handles are opaque nonzero numbers,
// unique across all objects of the process and never reused. Options, class names, security
// attributes and WOW64 view flags are accepted and ignored; keys are never volatile.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "base/Mutex.h"
#include "registry/RegFile.h"
#include "registry/RegistryOps.h"

namespace tarnwick {

class StandaloneRegistry : public IRegistryOps {
public:
    // storePath must not be empty (std::invalid_argument otherwise). Nothing is read yet.
    explicit StandaloneRegistry(std::filesystem::path storePath);
    ~StandaloneRegistry() override;
    StandaloneRegistry(const StandaloneRegistry&) = delete;
    StandaloneRegistry& operator=(const StandaloneRegistry&) = delete;

    int32_t RegCreateKeyExA(uint32_t hKey, const std::string& subKey, uint32_t reserved, const char* className,
                            uint32_t options, uint32_t samDesired, const RegSecurityAttributes* securityAttributes,
                            RegKey* result, uint32_t* disposition) override;
    int32_t RegSetValueExA(RegKey key, const std::string& valueName, uint32_t reserved, uint32_t type,
                           const uint8_t* data, uint32_t cbData) override;
    int32_t RegOpenKeyExA(uint32_t hKey, const std::string& subKey, uint32_t options, uint32_t samDesired,
                          RegKey* result) override;
    int32_t RegDeleteValueA(RegKey key, const std::string& valueName) override;
    int32_t RegCloseKey(RegKey key) override;

    // The value valueName of the key keyPath (names separated by '\', empty for the root) under a
    // predefined root; nullopt when the key or value is missing or the store cannot be read.
    std::optional<StoredValue> QueryValue(uint32_t root, const std::string& keyPath,
                                          const std::string& valueName) const;
    bool KeyExists(uint32_t root, const std::string& keyPath) const;

    // $XDG_CONFIG_HOME/tarnwick/registry.reg when that variable holds an absolute path, else
    // $HOME/.config/tarnwick/registry.reg; empty when neither applies, and always on Windows.
    static std::filesystem::path DefaultStorePath();

    const std::filesystem::path& StorePath() const noexcept { return storePath_; }
    // Why the most recent operation failed to read or write the store (with the line number for
    // a parse error); empty when it did not.
    std::string LastError() const;

private:
    struct OpenKey {
        uint32_t root;
        std::vector<std::string> path;
        bool canSetValue;
    };

    int32_t OpenOrCreate(uint32_t hKey, const std::string& subKey, uint32_t samDesired, bool create, RegKey* result,
                         uint32_t* disposition);
    bool ResolveHandle(RegKey key, OpenKey& out) const;
    int32_t ChangeValue(RegKey key, const std::string& valueName, const StoredValue* newValue);

    // Reads the store into model under a shared lock; 0 or a status.
    int32_t Load(RegModel& model) const;
    // Reads the store under an exclusive lock, applies change (which returns a status and sets
    // its flag when it changed the model) and saves the result when it changed.
    template <typename Change>
    int32_t Update(Change&& change);
    int32_t ReadStore(RegModel& model) const;
    int32_t SaveStore(const RegModel& model) const;

    std::filesystem::path storePath_;
    std::filesystem::path lockPath_;
    mutable Mutex mutex_;
    mutable std::string lastError_;
    std::unordered_map<RegKey, OpenKey> handles_;
};

}  // namespace tarnwick
