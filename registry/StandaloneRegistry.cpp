#include "registry/StandaloneRegistry.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <new>
#include <stdexcept>
#include <string_view>
#include <system_error>
#include <utility>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include "base/win32/Owners.h"
#else
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

#include "base/AnsiText.h"
#include "base/AppError.h"
#include "base/FileIO.h"

namespace tarnwick {

namespace fs = std::filesystem;

namespace {

// Win32 statuses used below besides those in RegistryOps.h.
constexpr int32_t kErrorTooManyOpenFiles = 4;
constexpr int32_t kErrorPathNotFound = 3;
constexpr int32_t kErrorWriteFault = 29;
constexpr int32_t kErrorDiskFull = 112;
constexpr int32_t kErrorAlreadyExists = 183;
constexpr int32_t kErrorFilenameTooLong = 206;
constexpr int32_t kErrorFileTooLarge = 223;
constexpr int32_t kErrorIoDevice = 1117;

// Windows' documented limit on value names, in characters (one byte each in Windows-1252).
constexpr std::size_t kMaxValueNameLength = 16383;

// Access rights that allow setting and deleting values.
constexpr uint32_t kKeySetValue = 0x0002;
constexpr uint32_t kGenericWrite = 0x40000000;
constexpr uint32_t kGenericAll = 0x10000000;
constexpr uint32_t kMaximumAllowed = 0x02000000;

std::atomic<RegKey> g_nextHandle{0x100};

int32_t StatusFromErrno(int error)
{
    switch (error) {
    case EACCES:
    case EPERM:
    case EROFS:
    case EISDIR:
        return kErrorAccessDenied;
    case ENOENT:
    case ENOTDIR:
        return kErrorPathNotFound;
    case ENOSPC:
#ifdef EDQUOT
    case EDQUOT:
#endif
        return kErrorDiskFull;
    case ENOMEM:
        return kErrorNotEnoughMemory;
    case EEXIST:
        return kErrorAlreadyExists;
    case ENAMETOOLONG:
        return kErrorFilenameTooLong;
    case EFBIG:
        return kErrorFileTooLarge;
    case EMFILE:
    case ENFILE:
        return kErrorTooManyOpenFiles;
    case EIO:
        return kErrorIoDevice;
    default:
        return kErrorWriteFault;
    }
}

int32_t StatusFromErrorCode(const std::error_code& ec)
{
#ifdef _WIN32
    if (ec.category() == std::system_category())
        return static_cast<int32_t>(ec.value());
#endif
    return StatusFromErrno(ec.value());
}

std::string Describe(const fs::path& path)
{
    return "'" + FilePath(path).ToUtf8() + "'";
}

fs::path FolderOf(const fs::path& file)
{
    fs::path folder = file.parent_path();
    return folder.empty() ? fs::path(".") : folder;
}

bool AllowsSetValue(uint32_t samDesired)
{
    return (samDesired & (kKeySetValue | kGenericWrite | kGenericAll | kMaximumAllowed)) != 0;
}

// The predefined root a RegKey stands for (also in its sign-extended 64-bit form), or 0.
uint32_t PredefinedRootOf(RegKey key)
{
    const uint32_t low = static_cast<uint32_t>(key);
    if (!RegModel::IsRoot(low))
        return 0;
    if constexpr (sizeof(RegKey) > 4) {
        const auto high = static_cast<uint64_t>(key) >> 32;
        if (high != 0 && high != 0xFFFFFFFFu)
            return 0;
    }
    return low;
}

std::string CutAtNul(const std::string& name)
{
    return name.substr(0, name.find('\0'));
}

// Splits a sub key path as the ANSI functions read it; 0 or a status.
int32_t SplitSubKey(const std::string& subKey, std::vector<std::string>& names)
{
    const std::string path = CutAtNul(subKey);
    if (!path.empty() && path.front() == '\\')
        return kErrorBadPathname;
    std::size_t start = 0;
    while (start <= path.size()) {
        std::size_t end = path.find('\\', start);
        if (end == std::string::npos)
            end = path.size();
        if (end > start) {
            std::string name = path.substr(start, end - start);
            if (!IsValidKeyName(name))
                return kErrorInvalidParameter;
            names.push_back(std::move(name));
        }
        start = end + 1;
    }
    return kErrorSuccess;
}

// An advisory lock on the lock file, held until destruction.
class FileLock {
public:
    FileLock() = default;
    FileLock(const FileLock&) = delete;
    FileLock& operator=(const FileLock&) = delete;

#ifdef _WIN32
    ~FileLock()
    {
        if (file_) {
            OVERLAPPED overlapped{};
            UnlockFileEx(file_.get(), 0, 1, 0, &overlapped);
        }
    }

    // 0 or a status; message explains a failure.
    int32_t Acquire(const fs::path& path, bool exclusive, std::string& message)
    {
        file_.reset(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file_) {
            const DWORD error = GetLastError();
            message = "cannot open the lock file " + Describe(path) + ": " +
                      DescribeSystemError(static_cast<uint32_t>(error));
            return static_cast<int32_t>(error);
        }
        OVERLAPPED overlapped{};
        if (!LockFileEx(file_.get(), exclusive ? LOCKFILE_EXCLUSIVE_LOCK : 0, 0, 1, 0, &overlapped)) {
            const DWORD error = GetLastError();
            file_.reset();
            message = "cannot lock " + Describe(path) + ": " + DescribeSystemError(static_cast<uint32_t>(error));
            return static_cast<int32_t>(error);
        }
        return kErrorSuccess;
    }

private:
    win32::FileHandle file_;
#else
    ~FileLock()
    {
        if (fd_ >= 0)
            close(fd_);  // closing releases the lock
    }

    int32_t Acquire(const fs::path& path, bool exclusive, std::string& message)
    {
        fd_ = open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0666);
        if (fd_ < 0 && !exclusive && (errno == EACCES || errno == EROFS))
            fd_ = open(path.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd_ < 0) {
            const int error = errno;
            message = "cannot open the lock file " + Describe(path) + ": " +
                      DescribeSystemError(static_cast<uint32_t>(error));
            return StatusFromErrno(error);
        }
        int rc;
        do {
            rc = flock(fd_, exclusive ? LOCK_EX : LOCK_SH);
        } while (rc != 0 && errno == EINTR);
        if (rc != 0) {
            const int error = errno;
            close(fd_);
            fd_ = -1;
            message = "cannot lock " + Describe(path) + ": " + DescribeSystemError(static_cast<uint32_t>(error));
            return StatusFromErrno(error);
        }
        return kErrorSuccess;
    }

private:
    int fd_ = -1;
#endif
};

// Whether a system error number from base/FileIO means that the file is not there.
bool IsMissingFile(uint32_t number)
{
#ifdef _WIN32
    return number == ERROR_FILE_NOT_FOUND || number == ERROR_PATH_NOT_FOUND;
#else
    return number == ENOENT || number == ENOTDIR;
#endif
}

// The status for a system error number from base/FileIO.
int32_t StatusFromSystemError(uint32_t number)
{
#ifdef _WIN32
    return static_cast<int32_t>(number);
#else
    return StatusFromErrno(static_cast<int>(number));
#endif
}

template <typename Body>
int32_t Guarded(Body&& body)
{
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return kErrorNotEnoughMemory;
    }
}

}  // namespace

StandaloneRegistry::StandaloneRegistry(fs::path storePath) : storePath_(std::move(storePath))
{
    if (storePath_.empty())
        throw std::invalid_argument("StandaloneRegistry: the store path is empty");
    lockPath_ = storePath_;
    lockPath_ += ".lock";
}

StandaloneRegistry::~StandaloneRegistry() = default;

std::string StandaloneRegistry::LastError() const
{
    std::lock_guard<Mutex> guard(mutex_);
    return lastError_;
}

fs::path StandaloneRegistry::DefaultStorePath()
{
#ifdef _WIN32
    return {};
#else
    const char* config = std::getenv("XDG_CONFIG_HOME");
    if (config != nullptr && config[0] == '/')
        return fs::path(config) / "tarnwick" / "registry.reg";
    const char* home = std::getenv("HOME");
    if (home != nullptr && home[0] != '\0')
        return fs::path(home) / ".config" / "tarnwick" / "registry.reg";
    return {};
#endif
}

// ---- store access ----

int32_t StandaloneRegistry::ReadStore(RegModel& model) const
{
    std::string text;
    try {
        text = ReadWholeFile(storePath_);
    } catch (const AppError& e) {
        if (IsMissingFile(e.Number())) {
            model = RegModel();
            return kErrorSuccess;
        }
        lastError_ = "cannot read " + Describe(storePath_) + ": " + e.Description();
        return kErrorBadRegistryFile;
    }
    try {
        model = ParseRegFile(text);
    } catch (const RegFileError& e) {
        lastError_ = Describe(storePath_) + " " + e.what();
        return kErrorBadRegistryFile;
    }
    return kErrorSuccess;
}

int32_t StandaloneRegistry::SaveStore(const RegModel& model) const
{
    const std::string text = SerializeRegFile(model);
    try {
        ReplaceFileAtomically(storePath_, {text});
    } catch (const AppError& e) {
        lastError_ = "cannot write " + Describe(storePath_) + ": " + e.Description();
        return StatusFromSystemError(e.Number());
    }
    return kErrorSuccess;
}

int32_t StandaloneRegistry::Load(RegModel& model) const
{
    std::error_code ec;
    if (!fs::is_directory(FolderOf(storePath_), ec)) {
        model = RegModel();
        return kErrorSuccess;
    }
    // Reading without the lock (when the lock file cannot be opened, as in a read-only folder)
    // is still safe: the store is only ever replaced whole by a rename.
    FileLock lock;
    std::string ignored;
    (void)lock.Acquire(lockPath_, false, ignored);
    return ReadStore(model);
}

template <typename Change>
int32_t StandaloneRegistry::Update(Change&& change)
{
    std::error_code ec;
    const fs::path folder = FolderOf(storePath_);
    if (!fs::is_directory(folder, ec)) {
        // No store yet: find out on an empty registry whether anything is to be saved at all.
        RegModel empty;
        bool changed = false;
        const int32_t status = change(empty, changed);
        if (status != kErrorSuccess || !changed)
            return status;
        fs::create_directories(folder, ec);
        if (ec) {
            lastError_ = "cannot create the folder " + Describe(folder) + ": " + ec.message();
            return StatusFromErrorCode(ec);
        }
    }
    FileLock lock;
    if (const int32_t status = lock.Acquire(lockPath_, true, lastError_); status != kErrorSuccess)
        return status;
    RegModel model;
    if (const int32_t status = ReadStore(model); status != kErrorSuccess)
        return status;
    bool changed = false;
    const int32_t status = change(model, changed);
    if (status != kErrorSuccess || !changed)
        return status;
    return SaveStore(model);
}

// ---- handles ----

bool StandaloneRegistry::ResolveHandle(RegKey key, OpenKey& out) const
{
    if (const uint32_t root = PredefinedRootOf(key); root != 0) {
        out = OpenKey{root, {}, true};
        return true;
    }
    const auto it = handles_.find(key);
    if (it == handles_.end())
        return false;
    out = it->second;
    return true;
}

int32_t StandaloneRegistry::OpenOrCreate(uint32_t hKey, const std::string& subKey, uint32_t samDesired, bool create,
                                         RegKey* result, uint32_t* disposition)
{
    OpenKey base;
    if (RegModel::IsRoot(hKey)) {
        base = OpenKey{hKey, {}, true};
    } else if (!ResolveHandle(hKey, base)) {
        return kErrorInvalidHandle;
    }
    std::vector<std::string> names;
    if (const int32_t status = SplitSubKey(subKey, names); status != kErrorSuccess)
        return status;
    OpenKey opened{base.root, base.path, AllowsSetValue(samDesired)};
    opened.path.insert(opened.path.end(), names.begin(), names.end());
    if (opened.path.size() > kMaxKeyDepth)
        return kErrorInvalidParameter;

    uint32_t how = 0;
    int32_t status;
    if (create) {
        status = Update([&](RegModel& model, bool& changed) -> int32_t {
            if (model.FindKey(base.root, base.path) == nullptr)
                return kErrorKeyDeleted;
            changed = model.CreateKey(opened.root, opened.path).second;
            how = changed ? 1 : 2;
            return kErrorSuccess;
        });
    } else {
        RegModel model;
        status = Load(model);
        if (status == kErrorSuccess && model.FindKey(base.root, base.path) == nullptr)
            status = kErrorKeyDeleted;
        if (status == kErrorSuccess && model.FindKey(opened.root, opened.path) == nullptr)
            status = kErrorFileNotFound;
    }
    if (status != kErrorSuccess)
        return status;

    RegKey handle = g_nextHandle.fetch_add(4);
    handles_.emplace(handle, std::move(opened));
    *result = handle;
    if (disposition != nullptr)
        *disposition = how;
    return kErrorSuccess;
}

int32_t StandaloneRegistry::ChangeValue(RegKey key, const std::string& valueName, const StoredValue* newValue)
{
    OpenKey target;
    if (!ResolveHandle(key, target))
        return kErrorInvalidHandle;
    if (!target.canSetValue)
        return kErrorAccessDenied;
    const std::string name = CutAtNul(valueName);
    return Update([&](RegModel& model, bool& changed) -> int32_t {
        RegKeyNode* node = model.FindKey(target.root, target.path);
        if (node == nullptr)
            return kErrorKeyDeleted;
        if (newValue != nullptr) {
            changed = node->SetValue(name, *newValue);
            return kErrorSuccess;
        }
        if (!node->DeleteValue(name))
            return kErrorFileNotFound;
        changed = true;
        return kErrorSuccess;
    });
}

// ---- the five operations ----

int32_t StandaloneRegistry::RegCreateKeyExA(uint32_t hKey, const std::string& subKey, uint32_t reserved,
                                            const char* /*className*/, uint32_t /*options*/, uint32_t samDesired,
                                            const RegSecurityAttributes* /*securityAttributes*/, RegKey* result,
                                            uint32_t* disposition)
{
    std::lock_guard<Mutex> guard(mutex_);
    lastError_.clear();
    if (result == nullptr)
        return kErrorInvalidParameter;
    *result = 0;
    if (reserved != 0)
        return kErrorInvalidParameter;
    return Guarded([&] { return OpenOrCreate(hKey, subKey, samDesired, true, result, disposition); });
}

int32_t StandaloneRegistry::RegOpenKeyExA(uint32_t hKey, const std::string& subKey, uint32_t /*options*/,
                                          uint32_t samDesired, RegKey* result)
{
    std::lock_guard<Mutex> guard(mutex_);
    lastError_.clear();
    if (result == nullptr)
        return kErrorInvalidParameter;
    *result = 0;
    return Guarded([&] { return OpenOrCreate(hKey, subKey, samDesired, false, result, nullptr); });
}

int32_t StandaloneRegistry::RegSetValueExA(RegKey key, const std::string& valueName, uint32_t reserved, uint32_t type,
                                           const uint8_t* data, uint32_t cbData)
{
    std::lock_guard<Mutex> guard(mutex_);
    lastError_.clear();
    OpenKey target;
    if (!ResolveHandle(key, target))
        return kErrorInvalidHandle;
    if (reserved != 0 || (data == nullptr && cbData != 0))
        return kErrorInvalidParameter;
    const std::string name = CutAtNul(valueName);
    if (!IsValidValueName(name) || name.size() > kMaxValueNameLength)
        return kErrorInvalidParameter;
    return Guarded([&] {
        StoredValue value{type, std::vector<uint8_t>(data, data + cbData)};
        return ChangeValue(key, valueName, &value);
    });
}

int32_t StandaloneRegistry::RegDeleteValueA(RegKey key, const std::string& valueName)
{
    std::lock_guard<Mutex> guard(mutex_);
    lastError_.clear();
    return Guarded([&] { return ChangeValue(key, valueName, nullptr); });
}

int32_t StandaloneRegistry::RegCloseKey(RegKey key)
{
    std::lock_guard<Mutex> guard(mutex_);
    lastError_.clear();
    if (PredefinedRootOf(key) != 0)
        return kErrorSuccess;
    return handles_.erase(key) == 0 ? kErrorInvalidHandle : kErrorSuccess;
}

// ---- direct queries ----

std::optional<StoredValue> StandaloneRegistry::QueryValue(uint32_t root, const std::string& keyPath,
                                                          const std::string& valueName) const
{
    std::lock_guard<Mutex> guard(mutex_);
    lastError_.clear();
    std::vector<std::string> names;
    if (!RegModel::IsRoot(root) || SplitSubKey(keyPath, names) != kErrorSuccess)
        return std::nullopt;
    RegModel model;
    if (Load(model) != kErrorSuccess)
        return std::nullopt;
    const RegKeyNode* key = model.FindKey(root, names);
    if (key == nullptr)
        return std::nullopt;
    const StoredValue* value = key->FindValue(CutAtNul(valueName));
    if (value == nullptr)
        return std::nullopt;
    return *value;
}

bool StandaloneRegistry::KeyExists(uint32_t root, const std::string& keyPath) const
{
    std::lock_guard<Mutex> guard(mutex_);
    lastError_.clear();
    std::vector<std::string> names;
    if (!RegModel::IsRoot(root) || SplitSubKey(keyPath, names) != kErrorSuccess)
        return false;
    RegModel model;
    if (Load(model) != kErrorSuccess)
        return false;
    return model.FindKey(root, names) != nullptr;
}

}  // namespace tarnwick
