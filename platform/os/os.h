// The system's own file operations, one plain mapping each, for the interceptor chain in front
// of them (intercept/chain.cpp) and nothing else. The chain defines the public operations of
// platform.h once: fault injection, the dry run's overlay and the journal's watcher, in that
// order, then one of these calls. os_posix.cpp and os_win32.cpp implement them with no hook of
// their own, so what a test or a dry run sees is the same on both systems.
#pragma once

#include <cstdio>

#include "platform/platform.h"

namespace plat::os {

// ---- files ----------------------------------------------------------------------------------

Handle open_file(const char* path, Access access, Disposition disposition);
bool read_file(Handle h, void* buffer, std::uint32_t count, std::uint32_t* bytes_read);
bool write_file(Handle h, const void* buffer, std::uint32_t count, std::uint32_t* bytes_written);
bool flush_file(Handle h);
bool copy_range(Handle from, std::int64_t from_offset, Handle to, std::int64_t length);
// The file open as `h` is a scratch copy that is removed before anything relies on it (the dry
// run's view): what is written to it may stay in the system's cache, with no writing to the
// disk started early, so that its removal has no blocks on the disk to free.
void leave_in_cache(Handle h);
std::FILE* open_text(const char* path, const char* mode);

// ---- names ----------------------------------------------------------------------------------

bool exists(const char* path);
bool is_directory(const char* path);
bool is_read_only(const char* path);
bool delete_file(const char* path);
bool create_directory(const char* path);
bool remove_directory(const char* path);
bool set_read_only(const char* path, bool read_only);
bool copy_file_attributes(const char* from, const char* to);

// Puts the data of the closed file `path` on the disk.
bool flush_named_file(const char* path);

enum class RenameMode {
    Replace,    // `to` may exist and is replaced in one step
    NoReplace,  // `to` must not exist (AlreadyExists)
};
// Renames `from` to `to` on one volume; durable only once the folders are flushed. `held`: the
// caller's own handle on `from` or `to`, which does not count as another opener.
bool rename_file(const char* from, const char* to, RenameMode mode, Handle held);

enum class FolderFlush {
    Done,
    Unsupported,  // the file system cannot flush a folder: nothing more can be done
    Failed,       // the error is set
};
// Puts the folder's own entries (the names created, renamed or deleted in it) on the disk.
FolderFlush flush_folder(const char* dir);

// Whether a file opened without sharing may be renamed over while it is held. POSIX allows it;
// Windows refuses a rename over a file open without delete sharing.
bool renames_over_held_files();

// ---- errors ---------------------------------------------------------------------------------

// Sets this thread's error as the system would give `e` (its own code for it), for the parts of
// the layer that are the same on every system: the chain's refusals and injected failures.
void set_error_kind(Error e);

// The thread's error as a whole (the kind and the system's own code), so that a clean-up call
// after a failure cannot change what the caller is told.
struct SavedError {
    Error error = Error::None;
    long code = 0;
};
SavedError saved_error();
void restore_error(SavedError saved);

}  // namespace plat::os
