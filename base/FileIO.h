// Reading files and crash-safe replacement of a file, with failures raised as AppError carrying
// the system's error number (GetLastError on Windows, errno elsewhere).
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>
#include <string_view>

#include "base/FilePath.h"

namespace tarnwick {

// An open file of the system (a HANDLE on Windows, a descriptor elsewhere), closed when its
// owner ends.
class SystemFile {
public:
    static constexpr std::intptr_t kNone = -1;  // INVALID_HANDLE_VALUE on Windows

    SystemFile() = default;
    explicit SystemFile(std::intptr_t handle) : handle_(handle) {}
    SystemFile(SystemFile&& other) noexcept : handle_(other.handle_) { other.handle_ = kNone; }
    SystemFile& operator=(SystemFile&& other) noexcept;
    ~SystemFile();
    SystemFile(const SystemFile&) = delete;
    SystemFile& operator=(const SystemFile&) = delete;

    std::intptr_t Get() const { return handle_; }
    explicit operator bool() const { return handle_ != kNone; }

    // Closes the file now; false when closing failed (the system's last error says why).
    bool Close();

private:
    std::intptr_t handle_ = kNone;
};

// A file open for reading from its start. Every failure is reported with context, the text of
// what the program was doing ("Cannot read the template X.").
class InputFile {
public:
    InputFile(const FilePath& path, std::string context);
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    // Reads up to size bytes; 0 at the end of the file.
    size_t Read(char* buffer, size_t size);

private:
    std::string context_;
    SystemFile file_;
};

// Writes a new file beside path and, on Commit, puts it in path's place: flushed to disk, then
// renamed over path. Until then path is untouched; a writer destroyed without Commit (a failure
// on the way) removes its new file. The new file is created exclusively under a name of its own,
// never through a link someone left there: "<name>.<process id>[.<n>].tmp" on Linux, and on
// Windows an 8.3 name, "~TW" + five hex digits + ".TMP", which every volume and share takes.
// Such files that earlier, killed runs left behind are removed when the writer starts (on
// Windows 95, 98 and ME only once the new file is in place, as there such a file may be an older
// file set aside or a new one a failed run kept and named), never a running writer's, links never
// followed. On Linux the new file keeps the permission bits of the one it replaces.
//
// On Windows the new file takes path's place as PutInPlace (base/FileReplace.h) describes: a
// rename refused for a moment is tried again, five times in all, 100 ms apart; on NT an open new
// file that a share cannot rename is closed and renamed once more; on 95, 98 and ME the older
// file is set aside and, where the new one cannot take its place, put back. Should that fail too,
// the new file is kept and the failure's report names it. A folder or a read-only file at path is
// never replaced.
// A system that stops between the steps leaves no file at path until the next run writes it.
//
// Every failure is reported with context, the text of what the program was doing.
class AtomicFileWriter {
public:
    AtomicFileWriter(const FilePath& path, std::string context);
    ~AtomicFileWriter();
    AtomicFileWriter(const AtomicFileWriter&) = delete;
    AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

    void Write(std::string_view bytes);
    void Commit();

    // The new file's path while it is written.
    const FilePath& TemporaryPath() const { return temporary_; }

private:
    [[noreturn]] void Fail(uint32_t error);

    FilePath path_;
    std::string context_;
    FilePath temporary_;
    SystemFile file_;
    uint64_t written_ = 0;          // bytes written so far
    uint64_t started_ = 0;          // bytes whose writing to disk has been started
    std::optional<uint64_t> made_;  // 95, 98 and ME: when the new file was made, on the folder's clock
    bool committed_ = false;
};

#ifndef _WIN32
// Removes the new files an AtomicFileWriter of path left behind in processes that no longer run
// ("<name>.<process id>.tmp"); only plain files go.
void RemoveLeftTemporaries(const FilePath& path);
#endif

// The whole file's bytes; a failure says "Cannot read the file X.".
std::string ReadWholeFile(const FilePath& path);

// Replaces path by a file holding the pieces one after another (see AtomicFileWriter); a failure
// says "Cannot write the file X.".
void ReplaceFileAtomically(const FilePath& path, std::initializer_list<std::string_view> pieces);

}  // namespace tarnwick
