#include "base/FileIO.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "base/AnsiText.h"
#include "base/AppError.h"

#ifdef _WIN32
#include "base/FileReplace.h"
#include "base/SystemFamily.h"
#include "base/win32/Owners.h"
#else
#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace tarnwick {

namespace {

// One system call moves at most this much, so the counts fit the Win32 DWORD.
constexpr size_t kMaxTransfer = size_t{1} << 30;
// How many names a new file tries before giving up.
constexpr int kMaxTemporaryNames = 100;

#ifdef _WIN32
HANDLE AsHandle(std::intptr_t handle)
{
    return reinterpret_cast<HANDLE>(handle);
}

SystemFile Adopt(HANDLE file)
{
    return SystemFile(reinterpret_cast<std::intptr_t>(file));
}

uint32_t LastError()
{
    return GetLastError();
}

// The file functions in the system's spelling: UTF-16 on NT, the ANSI code page on 95/98/ME,
// where the wide entry points fail.
std::string AnsiPath(const FilePath& path)
{
    return ToAnsi(path.ToUtf16());
}

HANDLE CreateFileAt(const FilePath& path, DWORD access, DWORD share, DWORD disposition, DWORD flags)
{
    if (IsWindows9x())
        return CreateFileA(AnsiPath(path).c_str(), access, share, nullptr, disposition, flags, nullptr);
    return CreateFileW(path.Native().c_str(), access, share, nullptr, disposition, flags, nullptr);
}

bool DeleteFileAt(const FilePath& path)
{
    return IsWindows9x() ? DeleteFileA(AnsiPath(path).c_str()) != 0 : DeleteFileW(path.Native().c_str()) != 0;
}

constexpr DWORD kReplacePauseMs = 100;

FilePath TemporaryPathFor(const FilePath& path, int attempt);

// The replacement's steps over the system's file functions, in its spelling; new is the new
// file, open until CloseNew.
class SystemReplaceSteps : public IReplaceSteps {
public:
    explicit SystemReplaceSteps(SystemFile& newFile) : new_(newFile) {}

    bool Move(const FilePath& from, const FilePath& to) override
    {
        if (IsWindows9x())
            return MoveFileA(AnsiPath(from).c_str(), AnsiPath(to).c_str()) != 0;
        return MoveFileExW(from.Native().c_str(), to.Native().c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
    }
    // Only the 95 family asks.
    bool Replaceable(const FilePath& to) override
    {
        const DWORD attributes = GetFileAttributesA(AnsiPath(to).c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES)
            return false;
        if ((attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) == 0)
            return true;
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    bool Remove(const FilePath& path) override { return DeleteFileAt(path); }
    bool CloseNew() override { return new_.Close(); }
    FilePath AsideName(const FilePath& to, int attempt) override { return TemporaryPathFor(to, attempt); }
    void Pause() override { Sleep(kReplacePauseMs); }
    uint32_t LastError() override { return GetLastError(); }

private:
    SystemFile& new_;
};

// Calls visit(name, is a plain file, last write time) for each entry of folder matching the
// pattern.
template <class Visit>
void ForEachEntry(const FilePath& folder, std::string_view pattern, Visit visit)
{
    const DWORD notPlain = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE;
    auto time = [](const FILETIME& at) { return (uint64_t{at.dwHighDateTime} << 32) | at.dwLowDateTime; };
    const FilePath search = folder / pattern;
    if (IsWindows9x()) {
        WIN32_FIND_DATAA entry;
        const win32::FindHandle find(FindFirstFileA(AnsiPath(search).c_str(), &entry));
        if (!find)
            return;
        do {
            const std::u16string name = FromAnsi(entry.cFileName);
            visit(FilePath::FromUtf16(name).Native(), (entry.dwFileAttributes & notPlain) == 0,
                  time(entry.ftLastWriteTime));
        } while (FindNextFileA(find.get(), &entry));
    } else {
        WIN32_FIND_DATAW entry;
        const win32::FindHandle find(FindFirstFileW(search.Native().c_str(), &entry));
        if (!find)
            return;
        do {
            visit(FilePath::String(entry.cFileName), (entry.dwFileAttributes & notPlain) == 0,
                  time(entry.ftLastWriteTime));
        } while (FindNextFileW(find.get(), &entry));
    }
}

// New files are named "~TW" + five hex digits + ".TMP": an 8.3 name, which volumes and shares
// without long names (FAT, some of Windows 95's) take too. The digits come from a sequence
// seeded per process, so that two runs rarely try the same names.
FilePath TemporaryPathFor(const FilePath& path, int)
{
    static uint32_t state = (GetCurrentProcessId() * 2654435761u) ^ (GetCurrentThreadId() << 7);
    state = state * 1664525u + 1013904223u;
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string name = "~TW";
    for (int shift = 28; shift >= 12; shift -= 4)
        name += kHex[(state >> shift) & 0xF];
    name += ".TMP";
    return path.Parent() / name;
}

bool IsTemporaryName(const FilePath::String& name)
{
    auto upper = [](auto c) { return c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c; };
    auto hex = [&](auto c) { return (c >= '0' && c <= '9') || (upper(c) >= 'A' && upper(c) <= 'F'); };
    if (name.size() != 12)
        return false;
    for (size_t i = 0; i < 12; ++i) {
        const char expected = "~TW?????.TMP"[i];
        if (expected == '?' ? !hex(name[i]) : upper(name[i]) != expected)
            return false;
    }
    return true;
}

// On the Windows 95 family a new file is only removed when it was last written this long before
// the writer's own new file was made (in 100 ns units: two minutes).
constexpr uint64_t kStaleAge = 2ull * 60 * 10000000;

// Removes new files that killed runs left in own's folder, never a live writer's; own is the
// writer's own new file, just made. The name tells no owner, so the file itself must:
// - On NT a live writer holds its file open from creation until after the rename (sharing only
//   deletion, which the rename needs). The file is opened here for deletion on close and with no
//   sharing, which fails while any handle is open: a writer's file is never touched, and a
//   writer cannot open a file that is being deleted here, as it only ever creates new ones.
// - 95, 98 and ME cannot rename an open file, so a writer closes its file before the rename, and
//   a deletion between the two would lose its page. A deletion fails while the file is open,
//   and a file closed for its rename was written a moment before: one last written more than
//   two minutes before own was made (made) is no live writer's. There this runs only once own is
//   in place: till then an older file an earlier run set aside, or a new one it kept and named
//   in its report, may be all that is left of the file.
void RemoveStaleTemporaries(const FilePath& own, std::optional<uint64_t> made)
{
    struct Entry {
        FilePath::String name;
        uint64_t lastWrite;
    };
    const FilePath folder = own.Parent();
    const FilePath::String ownName = own.FileName();
    std::vector<Entry> candidates;
    ForEachEntry(folder, "~TW?????.TMP", [&](const FilePath::String& name, bool plain, uint64_t lastWrite) {
        if (name != ownName && plain && IsTemporaryName(name))
            candidates.push_back({name, lastWrite});
    });
    for (const Entry& entry : candidates) {
        const FilePath file = folder / FilePath(entry.name);
        if (IsWindows9x()) {
            if (made && *made >= entry.lastWrite && *made - entry.lastWrite >= kStaleAge)
                DeleteFileA(AnsiPath(file).c_str());
            continue;
        }
        const win32::FileHandle doomed(CreateFileW(file.Native().c_str(), DELETE, 0, nullptr, OPEN_EXISTING,
                                                   FILE_ATTRIBUTE_NORMAL | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    }
}

// When a file was last written, as its folder lists it.
std::optional<uint64_t> LastWrite(const FilePath& file)
{
    std::optional<uint64_t> time;
    const FilePath::String name = file.FileName();
    ForEachEntry(file.Parent(), "~TW?????.TMP", [&](const FilePath::String& found, bool, uint64_t lastWrite) {
        if (found == name)
            time = lastWrite;
    });
    return time;
}
#else
int AsHandle(std::intptr_t handle)
{
    return static_cast<int>(handle);
}

SystemFile Adopt(int fd)
{
    return SystemFile(fd);
}

// Closes a folder listing when it ends.
struct FolderCloser {
    void operator()(DIR* dir) const { closedir(dir); }
};
using FolderListing = std::unique_ptr<DIR, FolderCloser>;

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

bool DeleteFileAt(const FilePath& path)
{
    return unlink(path.Native().c_str()) == 0;
}

// Calls visit(name, is a plain file) for each entry of folder; links are not followed.
template <class Visit>
void ForEachEntry(const FilePath& folder, std::string_view, Visit visit)
{
    const FolderListing dir(opendir(folder.Native().c_str()));
    if (!dir)
        return;
    while (const dirent* entry = readdir(dir.get())) {
        struct stat info {};
        const bool plain =
            fstatat(dirfd(dir.get()), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(info.st_mode);
        visit(std::string(entry->d_name), plain);
    }
}
#endif

#ifndef _WIN32
// "<name>.<process id>.tmp", then "<name>.<process id>.<n>.tmp" while those names are taken.
FilePath TemporaryPathFor(const FilePath& path, int attempt)
{
    std::string suffix = "." + std::to_string(CurrentProcessId());
    if (attempt > 0)
        suffix += "." + std::to_string(attempt);
    return path + (suffix + ".tmp");
}

// The process id in a temporary name's middle part ("<pid>" or "<pid>.<n>"), or nothing.
bool ParseTemporaryOwner(const FilePath::String& middle, uint32_t& pid)
{
    size_t dot = middle.find('.');
    const FilePath::String id = middle.substr(0, dot);
    const FilePath::String attempt = dot == FilePath::String::npos ? FilePath::String() : middle.substr(dot + 1);
    auto digits = [](const FilePath::String& text, size_t most) {
        return !text.empty() && text.size() <= most &&
               std::all_of(text.begin(), text.end(), [](auto c) { return c >= '0' && c <= '9'; });
    };
    if (!digits(id, 10) || (dot != FilePath::String::npos && !digits(attempt, 3)))
        return false;
    uint64_t value = 0;
    for (auto c : id)
        value = value * 10 + static_cast<uint64_t>(c - '0');
    if (value > UINT32_MAX)
        return false;
    pid = static_cast<uint32_t>(value);
    return true;
}

// Removes the new files of path that were left by processes no longer running. Only plain
// files go: a link or a folder with such a name is left alone.
void RemoveStaleTemporaries(const FilePath& path)
{
    const FilePath folder = path.Parent();
    FilePath::String prefix = path.FileName();
    prefix.push_back('.');
    const FilePath::String suffix = FilePath(".tmp").Native();
    ForEachEntry(folder, "*.tmp", [&](const FilePath::String& name, bool plain) {
        if (!plain || name.size() <= prefix.size() + suffix.size() || name.compare(0, prefix.size(), prefix) != 0 ||
            name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0)
            return;
        uint32_t pid = 0;
        if (!ParseTemporaryOwner(name.substr(prefix.size(), name.size() - prefix.size() - suffix.size()), pid))
            return;
        if (pid == CurrentProcessId() || !ProcessIsRunning(pid))
            DeleteFileAt(folder / FilePath(name));
    });
}

#endif
}  // namespace

#ifndef _WIN32
void RemoveLeftTemporaries(const FilePath& path)
{
    RemoveStaleTemporaries(path);
}
#endif

SystemFile& SystemFile::operator=(SystemFile&& other) noexcept
{
    if (this != &other) {
        (void)Close();
        handle_ = std::exchange(other.handle_, kNone);
    }
    return *this;
}

SystemFile::~SystemFile()
{
    (void)Close();
}

bool SystemFile::Close()
{
    if (handle_ == kNone)
        return true;
#ifdef _WIN32
    return win32::FileHandle(AsHandle(std::exchange(handle_, kNone))).close() != 0;
#else
    return close(AsHandle(std::exchange(handle_, kNone))) == 0;
#endif
}

InputFile::InputFile(const FilePath& path, std::string context) : context_(std::move(context))
{
#ifdef _WIN32
    file_ = Adopt(CreateFileAt(path, GENERIC_READ, FILE_SHARE_READ, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL | FILE_FLAG_SEQUENTIAL_SCAN));
    if (!file_)
        throw SystemError(LastError(), context_);
#else
    file_ = Adopt(open(path.Native().c_str(), O_RDONLY | O_CLOEXEC));
    if (!file_)
        throw SystemError(LastError(), context_);
    struct stat info {};
    if (fstat(AsHandle(file_.Get()), &info) != 0 || S_ISDIR(info.st_mode))
        throw SystemError(S_ISDIR(info.st_mode) ? EISDIR : LastError(), context_);
    posix_fadvise(AsHandle(file_.Get()), 0, 0, POSIX_FADV_SEQUENTIAL);
#endif
}

size_t InputFile::Read(char* buffer, size_t size)
{
    size = std::min(size, kMaxTransfer);
#ifdef _WIN32
    DWORD read = 0;
    if (!ReadFile(AsHandle(file_.Get()), buffer, static_cast<DWORD>(size), &read, nullptr))
        throw SystemError(LastError(), context_);
    return read;
#else
    for (;;) {
        ssize_t n = read(AsHandle(file_.Get()), buffer, size);
        if (n >= 0)
            return static_cast<size_t>(n);
        if (errno != EINTR)
            throw SystemError(LastError(), context_);
    }
#endif
}

AtomicFileWriter::AtomicFileWriter(const FilePath& path, std::string context)
    : path_(path), context_(std::move(context))
{
#ifndef _WIN32
    RemoveStaleTemporaries(path);
#endif
    // Exclusive creation: a name that is taken, by a file or by a link planted there, is never
    // opened; the next name is tried instead.
    uint32_t error = 0;
    for (int attempt = 0; attempt < kMaxTemporaryNames && !file_; ++attempt) {
        temporary_ = TemporaryPathFor(path, attempt);
#ifdef _WIN32
        // NT: shared for deletion only, so that the rename in Commit can happen while it is open.
        file_ = Adopt(CreateFileAt(temporary_, GENERIC_WRITE, IsWindows9x() ? 0 : FILE_SHARE_DELETE, CREATE_NEW,
                                   FILE_ATTRIBUTE_NORMAL));
        error = LastError();
        const bool taken = error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS;
#else
        file_ = Adopt(open(temporary_.Native().c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
        error = LastError();
        const bool taken = error == EEXIST;
#endif
        if (!file_ && !taken)
            break;
    }
    if (!file_)
        throw SystemError(error, context_);
#ifdef _WIN32
    // After the own file is made: on 95, 98 and ME its time is the clock the others are read by,
    // and they are removed only once it is in place.
    if (IsWindows9x())
        made_ = LastWrite(temporary_);
    else
        RemoveStaleTemporaries(temporary_, std::nullopt);
#else
    struct stat old {};
    if (stat(path.Native().c_str(), &old) == 0 && S_ISREG(old.st_mode))
        (void)fchmod(AsHandle(file_.Get()), old.st_mode & 07777);
#endif
}

AtomicFileWriter::~AtomicFileWriter()
{
    if (committed_)
        return;
    file_.Close();
    DeleteFileAt(temporary_);
}

void AtomicFileWriter::Fail(uint32_t error)
{
    throw SystemError(error, context_);
}

void AtomicFileWriter::Write(std::string_view bytes)
{
    while (!bytes.empty()) {
        const size_t chunk = std::min(bytes.size(), kMaxTransfer);
#ifdef _WIN32
        DWORD written = 0;
        if (!WriteFile(AsHandle(file_.Get()), bytes.data(), static_cast<DWORD>(chunk), &written, nullptr))
            Fail(LastError());
#else
        ssize_t written = write(AsHandle(file_.Get()), bytes.data(), chunk);
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
        (void)sync_file_range(AsHandle(file_.Get()), static_cast<off_t>(started_),
                              static_cast<off_t>(written_ - started_), SYNC_FILE_RANGE_WRITE);
        started_ = written_;
    }
#endif
}

void AtomicFileWriter::Commit()
{
#ifdef _WIN32
    if (!FlushFileBuffers(AsHandle(file_.Get())))
        Fail(LastError());
    // NT renames the file still open, so that no other run's clean-up can remove it in between;
    // 95, 98 and ME cannot rename an open file.
    if (IsWindows9x() && !file_.Close())
        Fail(LastError());
    // (On NT, closed for a share that cannot rename an open file, another run's clean-up may
    // remove it before its last rename: then that rename fails, is reported, and the older file
    // stays.)
    SystemReplaceSteps steps(file_);
    const Replacement replacement = PutInPlace(steps, temporary_, path_, !IsWindows9x());
    if (replacement.result == Replaced::Kept) {
        // The older file is gone and the new one could not take its place: it stays, named.
        committed_ = true;
        context_ += " The new version is kept as " + temporary_.ToUtf8() + ".";
        Fail(replacement.error);
    }
    if (replacement.result != Replaced::Done)
        Fail(replacement.error);
    committed_ = true;
    (void)file_.Close();  // flushed and in place: nothing is left to fail
    if (IsWindows9x())
        RemoveStaleTemporaries(temporary_, made_);
#else
    if (fsync(AsHandle(file_.Get())) != 0)
        Fail(LastError());
    if (!file_.Close())
        Fail(LastError());
    if (rename(temporary_.Native().c_str(), path_.Native().c_str()) != 0)
        Fail(LastError());
    committed_ = true;
    // Make the rename itself durable.
    const SystemFile folder = Adopt(open(path_.Parent().Native().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder)
        fsync(AsHandle(folder.Get()));
#endif
}

std::string ReadWholeFile(const FilePath& path)
{
    InputFile file(path, "Cannot read the file " + path.ToUtf8() + ".");
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

void ReplaceFileAtomically(const FilePath& path, std::initializer_list<std::string_view> pieces)
{
    AtomicFileWriter writer(path, "Cannot write the file " + path.ToUtf8() + ".");
    for (std::string_view piece : pieces)
        writer.Write(piece);
    writer.Commit();
}

}  // namespace tarnwick
