// Reading files and crash-safe replacement of a file, with failures raised as AppError carrying
// the system's error number (GetLastError on Windows, errno elsewhere).
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

#include "base/FilePath.h"

namespace tarnwick {

// A file open for reading from its start.
class InputFile {
public:
    explicit InputFile(const FilePath& path);
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    // Reads up to size bytes; 0 at the end of the file.
    size_t Read(char* buffer, size_t size);

private:
    FilePath path_;
    std::intptr_t handle_;
};

// Writes a new file beside path and, on Commit, puts it in path's place: flushed to disk, then
// renamed over path. Until then path is untouched; a writer destroyed without Commit (a failure
// on the way) removes its new file. The new file is created exclusively under a name of its own
// ("<name>.<process id>[.<n>].tmp"), never through a link someone left there. Such files that
// earlier, killed runs left behind are removed when the writer starts, links never followed. The
// new file keeps the permission bits of the one it replaces.
//
// Windows 95, 98 and ME cannot rename over an existing file: there the older file is deleted
// and the new one renamed in its place. The file is still never torn and no new file outlives
// the run, but a system that stops between the two steps leaves no file at path until the next
// run writes it again.
class AtomicFileWriter {
public:
    explicit AtomicFileWriter(const FilePath& path);
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
    FilePath temporary_;
    std::intptr_t handle_;
    uint64_t written_ = 0;  // bytes written so far
    uint64_t started_ = 0;  // bytes whose writing to disk has been started
    bool committed_ = false;
};

// The whole file's bytes.
std::string ReadWholeFile(const FilePath& path);

// Replaces path by a file holding the pieces one after another (see AtomicFileWriter).
void ReplaceFileAtomically(const FilePath& path, std::initializer_list<std::string_view> pieces);

}  // namespace tarnwick
