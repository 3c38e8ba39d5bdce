// Whole-file reading and crash-safe replacement of a file, with failures raised as AppError
// carrying the system's error number.
#pragma once

#include <filesystem>
#include <initializer_list>
#include <string>
#include <string_view>

namespace tarnwick {

// The whole file's bytes.
std::string ReadWholeFile(const std::filesystem::path& path);

// Replaces path by a file holding the pieces one after another: they are written to a new file
// in the same folder, flushed to disk and renamed over path in one step. On any failure path is
// left as it was and the new file is removed. Files that an earlier, killed run left behind are
// removed first. On POSIX systems the new file keeps the permission bits of the file it
// replaces (a file made new gets 0644 less the umask).
void ReplaceFileAtomically(const std::filesystem::path& path, std::initializer_list<std::string_view> pieces);

// The name pattern of the new file while it is written: "<name>.<process id>.tmp".
std::filesystem::path TemporaryPathFor(const std::filesystem::path& path);

// Removes the new files of path that were left by processes no longer running.
void RemoveStaleTemporaries(const std::filesystem::path& path);

}  // namespace tarnwick
