#include "app/FileIO.h"

#include <cerrno>
#include <cstdlib>
#include <system_error>

#include "app/AnsiText.h"
#include "app/AppError.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace tarnwick {

namespace fs = std::filesystem;

namespace {

std::string Describe(const fs::path& path)
{
    return ToUtf8(path.u16string());
}

#ifdef _WIN32
uint32_t CurrentProcessId()
{
    return GetCurrentProcessId();
}

bool ProcessIsRunning(uint32_t pid)
{
    HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (process == nullptr)
        return GetLastError() == ERROR_ACCESS_DENIED;
    DWORD code = 0;
    bool running = GetExitCodeProcess(process, &code) && code == STILL_ACTIVE;
    CloseHandle(process);
    return running;
}

class File {
public:
    explicit File(HANDLE handle) : handle_(handle) {}
    ~File() { Close(); }
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    HANDLE Get() const { return handle_; }
    bool Close()
    {
        bool ok = true;
        if (handle_ != INVALID_HANDLE_VALUE)
            ok = CloseHandle(handle_) != 0;
        handle_ = INVALID_HANDLE_VALUE;
        return ok;
    }

private:
    HANDLE handle_;
};
#else
uint32_t CurrentProcessId()
{
    return static_cast<uint32_t>(getpid());
}

bool ProcessIsRunning(uint32_t pid)
{
    return kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

class File {
public:
    explicit File(int fd) : fd_(fd) {}
    ~File() { Close(); }
    File(const File&) = delete;
    File& operator=(const File&) = delete;
    int Get() const { return fd_; }
    bool Close()
    {
        bool ok = true;
        if (fd_ >= 0)
            ok = close(fd_) == 0;
        fd_ = -1;
        return ok;
    }

private:
    int fd_;
};
#endif

// Removes the new file unless the replacement went through.
class TemporaryGuard {
public:
    explicit TemporaryGuard(fs::path path) : path_(std::move(path)) {}
    ~TemporaryGuard()
    {
        if (!path_.empty()) {
            std::error_code ignored;
            fs::remove(path_, ignored);
        }
    }
    TemporaryGuard(const TemporaryGuard&) = delete;
    TemporaryGuard& operator=(const TemporaryGuard&) = delete;
    void Keep() { path_.clear(); }

private:
    fs::path path_;
};

}  // namespace

fs::path TemporaryPathFor(const fs::path& path)
{
    fs::path temporary = path;
    temporary += "." + std::to_string(CurrentProcessId()) + ".tmp";
    return temporary;
}

void RemoveStaleTemporaries(const fs::path& path)
{
    std::error_code error;
    const std::string prefix = path.filename().string() + ".";
    fs::directory_iterator it(path.parent_path().empty() ? fs::path(".") : path.parent_path(), error);
    for (; !error && it != fs::directory_iterator(); it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (name.size() <= prefix.size() + 4 || name.compare(0, prefix.size(), prefix) != 0 ||
            name.compare(name.size() - 4, 4, ".tmp") != 0)
            continue;
        const std::string digits = name.substr(prefix.size(), name.size() - prefix.size() - 4);
        if (digits.empty() || digits.size() > 10 || digits.find_first_not_of("0123456789") != std::string::npos)
            continue;
        const auto pid = static_cast<uint32_t>(std::strtoull(digits.c_str(), nullptr, 10));
        if (pid == CurrentProcessId() || !ProcessIsRunning(pid)) {
            std::error_code ignored;
            if (it->is_regular_file(ignored))
                fs::remove(it->path(), ignored);
        }
    }
}

#ifdef _WIN32
std::string ReadWholeFile(const fs::path& path)
{
    const std::string context = "Cannot read the file " + Describe(path) + ".";
    File file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (file.Get() == INVALID_HANDLE_VALUE)
        throw SystemError(GetLastError(), context);
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(file.Get(), &size))
        throw SystemError(GetLastError(), context);
    std::string bytes(static_cast<size_t>(size.QuadPart), '\0');
    size_t done = 0;
    while (done < bytes.size()) {
        DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size() - done, 1u << 30));
        DWORD read = 0;
        if (!ReadFile(file.Get(), bytes.data() + done, chunk, &read, nullptr))
            throw SystemError(GetLastError(), context);
        if (read == 0)
            break;
        done += read;
    }
    bytes.resize(done);
    return bytes;
}

void ReplaceFileAtomically(const fs::path& path, std::initializer_list<std::string_view> pieces)
{
    const std::string context = "Cannot write the file " + Describe(path) + ".";
    RemoveStaleTemporaries(path);
    const fs::path temporary = TemporaryPathFor(path);
    File file(CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.Get() == INVALID_HANDLE_VALUE)
        throw SystemError(GetLastError(), context);
    TemporaryGuard guard(temporary);
    for (std::string_view piece : pieces) {
        size_t done = 0;
        while (done < piece.size()) {
            DWORD chunk = static_cast<DWORD>(std::min<size_t>(piece.size() - done, 1u << 30));
            DWORD written = 0;
            if (!WriteFile(file.Get(), piece.data() + done, chunk, &written, nullptr))
                throw SystemError(GetLastError(), context);
            done += written;
        }
    }
    if (!FlushFileBuffers(file.Get()))
        throw SystemError(GetLastError(), context);
    if (!file.Close())
        throw SystemError(GetLastError(), context);
    if (!MoveFileExW(temporary.c_str(), path.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        throw SystemError(GetLastError(), context);
    guard.Keep();
}
#else
std::string ReadWholeFile(const fs::path& path)
{
    const std::string context = "Cannot read the file " + Describe(path) + ".";
    File file(open(path.c_str(), O_RDONLY | O_CLOEXEC));
    if (file.Get() < 0)
        throw SystemError(static_cast<uint32_t>(errno), context);
    struct stat info {};
    if (fstat(file.Get(), &info) != 0)
        throw SystemError(static_cast<uint32_t>(errno), context);
    if (S_ISDIR(info.st_mode))
        throw SystemError(EISDIR, context);
    std::string bytes(static_cast<size_t>(info.st_size) + 1, '\0');  // a spare byte: end of file seen without regrowing
    size_t done = 0;
    for (;;) {
        if (done == bytes.size())
            bytes.resize(bytes.size() + 65536);  // the file may have grown
        ssize_t n = read(file.Get(), bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            throw SystemError(static_cast<uint32_t>(errno), context);
        if (n == 0)
            break;
        done += static_cast<size_t>(n);
    }
    bytes.resize(done);
    return bytes;
}

void ReplaceFileAtomically(const fs::path& path, std::initializer_list<std::string_view> pieces)
{
    const std::string context = "Cannot write the file " + Describe(path) + ".";
    RemoveStaleTemporaries(path);
    const fs::path temporary = TemporaryPathFor(path);
    File file(open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644));
    if (file.Get() < 0)
        throw SystemError(static_cast<uint32_t>(errno), context);
    TemporaryGuard guard(temporary);
    // The new file keeps the permission bits of the one it replaces.
    struct stat old {};
    if (stat(path.c_str(), &old) == 0)
        (void)fchmod(file.Get(), old.st_mode & 07777);
    for (std::string_view piece : pieces) {
        size_t done = 0;
        while (done < piece.size()) {
            ssize_t n = write(file.Get(), piece.data() + done, piece.size() - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                throw SystemError(static_cast<uint32_t>(errno), context);
            done += static_cast<size_t>(n);
        }
    }
    if (fsync(file.Get()) != 0 || !file.Close())
        throw SystemError(static_cast<uint32_t>(errno), context);
    if (rename(temporary.c_str(), path.c_str()) != 0)
        throw SystemError(static_cast<uint32_t>(errno), context);
    guard.Keep();
    // Make the rename itself durable.
    File folder(open(path.parent_path().empty() ? "." : path.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.Get() >= 0)
        fsync(folder.Get());
}
#endif

}  // namespace tarnwick
