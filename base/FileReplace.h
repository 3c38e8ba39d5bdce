// Putting a new file in an older one's place on Windows, step by step over the system's file
// functions, so that every path through it (a refused rename, a put-back, a share that cannot
// rename an open file) can be played. AtomicFileWriter's Commit runs it on Windows.
#pragma once

#include <cstdint>

#include "base/FilePath.h"

namespace tarnwick {

// The Win32 error numbers the steps look at.
inline constexpr uint32_t kReplaceAccessDenied = 5;       // ERROR_ACCESS_DENIED
inline constexpr uint32_t kReplaceSharingViolation = 32;  // ERROR_SHARING_VIOLATION
inline constexpr uint32_t kReplaceFileExists = 80;        // ERROR_FILE_EXISTS
inline constexpr uint32_t kReplaceAlreadyExists = 183;    // ERROR_ALREADY_EXISTS

// A rename that another program's handle on the file blocks for a moment (an indexer, a virus
// scanner) is tried this often, a pause apart, before it is reported.
inline constexpr int kReplaceTries = 5;

// The file functions a replacement takes. Each answers false on failure, with the system's
// reason in LastError().
class IReplaceSteps {
public:
    virtual ~IReplaceSteps() = default;
    // Renames from to to. On NT an existing to is replaced; 95, 98 and ME fail with
    // ERROR_ALREADY_EXISTS where to exists.
    virtual bool Move(const FilePath& from, const FilePath& to) = 0;
    // Whether the existing to may be replaced: false where its attributes cannot be read, and
    // (ERROR_ACCESS_DENIED) for a folder or a read-only file, which NT refuses to replace too.
    virtual bool Replaceable(const FilePath& to) = 0;
    virtual bool Remove(const FilePath& path) = 0;
    // Closes the new file, where it is still open.
    virtual bool CloseNew() = 0;
    // A name beside to for its older file, as new files are named; attempt counts the names tried.
    virtual FilePath AsideName(const FilePath& to, int attempt) = 0;
    // Waits between two tries.
    virtual void Pause() = 0;
    virtual uint32_t LastError() = 0;
};

enum class Replaced {
    Done,    // from is in to's place
    Failed,  // to is as it was
    Kept,    // to's older file was set aside and cannot come back: from stays under its own name
};

struct Replacement {
    Replaced result = Replaced::Done;
    uint32_t error = 0;  // why, where it is not Done
};

// Puts from in to's place. A refusal for a moment (sharing violation, access denied) is tried
// again, kReplaceTries times in all.
// - NT (nt): one rename over to, from still open; after the last refusal from is closed and
//   renamed once more, as shares served by Windows 9x, NT 4, old Samba or NetWare cannot rename
//   an open file.
// - 95, 98 and ME cannot rename over an existing file: the older file is set aside under a new
//   file's name, from renamed in its place and the older one removed; where from cannot take its
//   place the older one is put back, tried as often as the rename. Should that fail too, the
//   older file stays set aside and from under its own name (Kept).
Replacement PutInPlace(IReplaceSteps& steps, const FilePath& from, const FilePath& to, bool nt);

}  // namespace tarnwick
