#include "app/FileIO.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
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

// One system call moves at most this much, so the counts fit the Win32 DWORD.
constexpr size_t kMaxTransfer = size_t{1} << 30;

#ifdef _WIN32
const std::intptr_t kNoHandle = reinterpret_cast<std::intptr_t>(INVALID_HANDLE_VALUE);

HANDLE AsHandle(std::intptr_t handle)
{
    return reinterpret_cast<HANDLE>(handle);
}

uint32_t LastError()
{
    return GetLastError();
}

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

void CloseQuietly(std::intptr_t handle)
{
    if (handle != kNoHandle)
        CloseHandle(AsHandle(handle));
}
#else
const std::intptr_t kNoHandle = -1;

int AsHandle(std::intptr_t handle)
{
    return static_cast<int>(handle);
}

uint32_t LastError()
{
    return static_cast<uint32_t>(errno);
}

uint32_t CurrentProcessId()
{
    return static_cast<uint32_t>(getpid());
}

bool ProcessIsRunning(uint32_t pid)
{
    return kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

void CloseQuietly(std::intptr_t handle)
{
    if (handle != kNoHandle)
        close(AsHandle(handle));
}
#endif

// The name of the new file while it is written: "<name>.<process id>.tmp".
fs::path TemporaryPathFor(const fs::path& path)
{
    fs::path temporary = path;
    temporary += "." + std::to_string(CurrentProcessId()) + ".tmp";
    return temporary;
}

// Removes the new files of path that were left by processes no longer running.
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

}  // namespace

InputFile::InputFile(const fs::path& path) : path_(path), handle_(kNoHandle)
{
#ifdef _WIN32
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        throw SystemError(LastError(), "Cannot read the file " + Describe(path) + ".");
    handle_ = reinterpret_cast<std::intptr_t>(file);
#else
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        throw SystemError(LastError(), "Cannot read the file " + Describe(path) + ".");
    handle_ = fd;
    struct stat info {};
    if (fstat(fd, &info) != 0 || S_ISDIR(info.st_mode)) {
        const uint32_t error = S_ISDIR(info.st_mode) ? EISDIR : LastError();
        CloseQuietly(handle_);
        throw SystemError(error, "Cannot read the file " + Describe(path) + ".");
    }
    posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
}

InputFile::~InputFile()
{
    CloseQuietly(handle_);
}

size_t InputFile::Read(char* buffer, size_t size)
{
    size = std::min(size, kMaxTransfer);
#ifdef _WIN32
    DWORD read = 0;
    if (!ReadFile(AsHandle(handle_), buffer, static_cast<DWORD>(size), &read, nullptr))
        throw SystemError(LastError(), "Cannot read the file " + Describe(path_) + ".");
    return read;
#else
    for (;;) {
        ssize_t n = read(AsHandle(handle_), buffer, size);
        if (n >= 0)
            return static_cast<size_t>(n);
        if (errno != EINTR)
            throw SystemError(LastError(), "Cannot read the file " + Describe(path_) + ".");
    }
#endif
}

AtomicFileWriter::AtomicFileWriter(const fs::path& path)
    : path_(path), temporary_(TemporaryPathFor(path)), handle_(kNoHandle)
{
    RemoveStaleTemporaries(path);
#ifdef _WIN32
    HANDLE file = CreateFileW(temporary_.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        throw SystemError(LastError(), "Cannot write the file " + Describe(path) + ".");
    handle_ = reinterpret_cast<std::intptr_t>(file);
#else
    int fd = open(temporary_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        throw SystemError(LastError(), "Cannot write the file " + Describe(path) + ".");
    handle_ = fd;
    struct stat old {};
    if (stat(path.c_str(), &old) == 0 && S_ISREG(old.st_mode))
        (void)fchmod(fd, old.st_mode & 07777);
#endif
}

AtomicFileWriter::~AtomicFileWriter()
{
    if (committed_)
        return;
    CloseQuietly(handle_);
    std::error_code ignored;
    fs::remove(temporary_, ignored);
}

void AtomicFileWriter::Fail(uint32_t error)
{
    throw SystemError(error, "Cannot write the file " + Describe(path_) + ".");
}

void AtomicFileWriter::Write(std::string_view bytes)
{
    while (!bytes.empty()) {
        const size_t chunk = std::min(bytes.size(), kMaxTransfer);
#ifdef _WIN32
        DWORD written = 0;
        if (!WriteFile(AsHandle(handle_), bytes.data(), static_cast<DWORD>(chunk), &written, nullptr))
            Fail(LastError());
#else
        ssize_t written = write(AsHandle(handle_), bytes.data(), chunk);
        if (written < 0 && errno == EINTR)
            continue;
        if (written < 0)
            Fail(LastError());
#endif
        bytes.remove_prefix(static_cast<size_t>(written));
        written_ += static_cast<uint64_t>(written);
    }
#if defined(__linux__)
    // Start writing what is there to disk now, so that the flush in Commit has less to wait for.
    // Only a hint: the flush still decides.
    if (written_ - started_ >= (uint64_t{1} << 20)) {
        (void)sync_file_range(AsHandle(handle_), static_cast<off_t>(started_), static_cast<off_t>(written_ - started_),
                              SYNC_FILE_RANGE_WRITE);
        started_ = written_;
    }
#endif
}

void AtomicFileWriter::Commit()
{
#ifdef _WIN32
    if (!FlushFileBuffers(AsHandle(handle_)))
        Fail(LastError());
    const bool closed = CloseHandle(AsHandle(handle_)) != 0;
    handle_ = kNoHandle;
    if (!closed)
        Fail(LastError());
    if (!MoveFileExW(temporary_.c_str(), path_.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        Fail(LastError());
    committed_ = true;
#else
    if (fsync(AsHandle(handle_)) != 0)
        Fail(LastError());
    const bool closed = close(AsHandle(handle_)) == 0;
    handle_ = kNoHandle;
    if (!closed)
        Fail(LastError());
    if (rename(temporary_.c_str(), path_.c_str()) != 0)
        Fail(LastError());
    committed_ = true;
    // Make the rename itself durable.
    const fs::path folder = path_.parent_path().empty() ? fs::path(".") : path_.parent_path();
    int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0) {
        fsync(fd);
        close(fd);
    }
#endif
}

std::string ReadWholeFile(const fs::path& path)
{
    InputFile file(path);
    std::string bytes;
    size_t done = 0;
    for (;;) {
        if (done == bytes.size())
            bytes.resize(std::max<size_t>(bytes.size() * 2, 65536));
        const size_t n = file.Read(bytes.data() + done, bytes.size() - done);
        if (n == 0)
            break;
        done += n;
    }
    bytes.resize(done);
    return bytes;
}

void ReplaceFileAtomically(const fs::path& path, std::initializer_list<std::string_view> pieces)
{
    AtomicFileWriter writer(path);
    for (std::string_view piece : pieces)
        writer.Write(piece);
    writer.Commit();
}

}  // namespace tarnwick
