// Reading files and crash-safe replacement of a file, with failures raised as AppError carrying
// the system's error number (GetLastError on Windows, errno elsewhere).
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <string>
#include <string_view>

namespace tarnwick {

// A file open for reading from its start.
class InputFile {
public:
    explicit InputFile(const std::filesystem::path& path);
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    // Reads up to size bytes; 0 at the end of the file.
    size_t Read(char* buffer, size_t size);

private:
    std::filesystem::path path_;
    std::intptr_t handle_;
};

// Writes a new file beside path and, on Commit, puts it in path's place in one step: flushed to
// disk, then renamed over path. Until then path is untouched; a writer destroyed without Commit
// (a failure on the way) removes its new file. Files that earlier, killed runs left behind are
// removed when the writer starts. The new file keeps the permission bits of the one it replaces.
class AtomicFileWriter {
public:
    explicit AtomicFileWriter(const std::filesystem::path& path);
    ~AtomicFileWriter();
    AtomicFileWriter(const AtomicFileWriter&) = delete;
    AtomicFileWriter& operator=(const AtomicFileWriter&) = delete;

    void Write(std::string_view bytes);
    void Commit();

private:
    void Fail(uint32_t error);

    std::filesystem::path path_;
    std::filesystem::path temporary_;
    std::intptr_t handle_;
    uint64_t written_ = 0;  // bytes written so far
    uint64_t started_ = 0;  // bytes whose writing to disk has been started
    bool committed_ = false;
};

// The whole file's bytes.
std::string ReadWholeFile(const std::filesystem::path& path);

// Replaces path by a file holding the pieces one after another (see AtomicFileWriter).
void ReplaceFileAtomically(const std::filesystem::path& path, std::initializer_list<std::string_view> pieces);

}  // namespace tarnwick
