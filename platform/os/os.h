// The system's own file operations, one plain mapping each, for the interceptor chain in front
// of them (intercept/chain.cpp) and nothing else. The chain defines the public operations of
// platform.h once: fault injection, the dry run's overlay and the journal's watcher, in that
// order, then one of these calls. os_posix.cpp and os_win32.cpp implement them with no hook of
// their own, so what a test or a dry run sees is the same on both systems.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "platform/trust.h"

namespace plat::os {

// ---- files ----------------------------------------------------------------------------------

Handle open_file(const char* path, Access access, Disposition disposition);
bool read_file(Handle h, void* buffer, std::uint32_t count, std::uint32_t* bytes_read);
bool write_file(Handle h, const void* buffer, std::uint32_t count, std::uint32_t* bytes_written);
bool flush_file(Handle h);
bool read_at(Handle h, std::int64_t offset, void* buffer, std::uint32_t count, std::uint32_t* bytes_read);
std::int64_t seek_file(Handle h, std::int64_t offset, SeekFrom from);
std::int64_t file_size(Handle h);
bool close_file(Handle h);
bool copy_range(Handle from, std::int64_t from_offset, Handle to, std::int64_t length);
// The file open as `h` is a scratch copy that is removed before anything relies on it (the dry
// run's view): what is written to it may stay in the system's cache, with no writing to the
// disk started early, so that its removal has no blocks on the disk to free.
void leave_in_cache(Handle h);
std::FILE* open_text(const char* path, const char* mode);
// Another handle on the file open as `h`, for reading it from its start; closing it leaves `h`
// open. It may share `h`'s position (POSIX dup, DuplicateHandle), so one reader at a time.
Handle duplicate_file(Handle h);
// A text stream of the C runtime over the open handle `h`, which it takes over (its fclose
// closes it); null on failure, when `h` is closed too.
std::FILE* open_text_on(Handle h, const char* mode);
// Gives the file open as `h`, now named `from`, the name `to`, replacing a file there, on one
// volume. Windows renames through the handle (SetFileInformationByHandle, FileRenameInfo),
// since a file held without delete sharing cannot be renamed by name; the handle needs DELETE
// access, which a create of a new file asks for. POSIX renames `from` with `h` as the caller's
// own hold.
bool rename_held(Handle h, const char* from, const char* to);

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

bool list_directory(const char* dir, std::vector<std::string>* names);
std::int64_t free_disk_bytes(const char* dir);
std::int64_t modified_time(const char* path);
// The path with every component in its long form, as the system spells it (Windows: 8.3 short
// names expanded); the path itself where the system has no short names or it cannot tell.
std::string long_path_name(const char* path);
// Copies the file `from` to the new name `to` (AlreadyExists when it is taken), reading `from`
// with read sharing, so that a running program's own file can be copied; `to` is flushed.
bool copy_file(const char* from, const char* to);
// Has the system delete the file or empty folder when the machine next starts (Windows:
// MoveFileEx with MOVEFILE_DELAY_UNTIL_REBOOT); Unsupported where it cannot.
bool delete_at_restart(const char* path);

// ---- the current directory and scratch space ------------------------------------------------

std::string current_directory();
bool change_directory(const char* path);
std::string temp_directory();

// ---- processes ------------------------------------------------------------------------------

bool process_running(std::uint32_t id);

// Whether a file opened without sharing may be renamed over while it is held. POSIX allows it;
// Windows refuses a rename over a file open without delete sharing.
bool renames_over_held_files();

// ---- the file system behind the chain -----------------------------------------------------------

// The calls above that touch files, as one table. The chain calls the system through it, so
// that a test can put a file system of its own in the system's place (one in memory, say,
// that keeps what a power cut would leave, or that lets a fuzz target write files at the
// speed of memory) while everything in front of it stays as it is.
struct FileSystem {
    Handle (*open_file)(const char* path, Access access, Disposition disposition);
    bool (*read_file)(Handle h, void* buffer, std::uint32_t count, std::uint32_t* bytes_read);
    bool (*write_file)(Handle h, const void* buffer, std::uint32_t count, std::uint32_t* bytes_written);
    bool (*read_at)(Handle h, std::int64_t offset, void* buffer, std::uint32_t count, std::uint32_t* bytes_read);
    std::int64_t (*seek_file)(Handle h, std::int64_t offset, SeekFrom from);
    std::int64_t (*file_size)(Handle h);
    bool (*flush_file)(Handle h);
    bool (*close_file)(Handle h);
    bool (*copy_range)(Handle from, std::int64_t from_offset, Handle to, std::int64_t length);
    std::FILE* (*open_text)(const char* path, const char* mode);
    Handle (*duplicate_file)(Handle h);
    std::FILE* (*open_text_on)(Handle h, const char* mode);
    bool (*rename_held)(Handle h, const char* from, const char* to);
    bool (*exists)(const char* path);
    bool (*is_directory)(const char* path);
    bool (*is_read_only)(const char* path);
    bool (*delete_file)(const char* path);
    bool (*create_directory)(const char* path);
    bool (*remove_directory)(const char* path);
    bool (*set_read_only)(const char* path, bool read_only);
    bool (*copy_file_attributes)(const char* from, const char* to);
    bool (*flush_named_file)(const char* path);
    bool (*rename_file)(const char* from, const char* to, RenameMode mode, Handle held);
    FolderFlush (*flush_folder)(const char* dir);
    bool (*renames_over_held_files)();
    bool (*list_directory)(const char* dir, std::vector<std::string>* names);
    std::int64_t (*free_disk_bytes)(const char* dir);
    std::int64_t (*modified_time)(const char* path);
    std::string (*current_directory)();
    bool (*change_directory)(const char* path);
    std::string (*temp_directory)();
    // Whether a process that may still write its scratch files runs: after a power cut that a
    // test simulates, none of the processes from before it does.
    bool (*process_running)(std::uint32_t id);
    // Names that others may have planted (trust.h).
    EntryKind (*entry_kind)(const char* path);
    bool (*owned_safely)(const char* path);
    bool (*create_private_directory)(const char* path, bool others_read);
    bool (*restrict_to_owner_writes)(const char* path);
    std::FILE* (*open_append_no_follow)(const char* path);
    bool (*file_identity)(const char* path, FileIdentity* out);
    bool (*remove_tree)(const char* dir);
    void (*leave_in_cache)(Handle h);
    Handle (*hold_folder)(const char* path);
    std::string (*long_path_name)(const char* path);
    bool (*delete_at_restart)(const char* path);
    bool (*create_admin_directory)(const char* path);
    bool (*copy_file)(const char* from, const char* to);
};

// The system's own calls, the ones declared above.
const FileSystem& system_file_system();
// The table the chain calls now: the system's unless a test set another.
const FileSystem& file_system();
// Sets the table (nullptr: the system's again). For tests, between runs of the code under test:
// handles of one file system mean nothing to another.
void use_file_system(const FileSystem* fs);

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

// ---- names that others may have planted (os/trust_posix.cpp, os/trust_win32.cpp) ------------

// What the name is, not following a link at its end.
EntryKind entry_kind(const char* path);
bool owned_safely(const char* path);
// Fails when the name exists, whatever it is.
bool create_private_directory(const char* path, bool others_read);
bool create_admin_directory(const char* path);
bool restrict_to_owner_writes(const char* path);
bool random_bytes(void* buffer, std::size_t count);
std::FILE* open_append_no_follow(const char* path);
bool file_identity(const char* path, FileIdentity* out);
void restrict_dll_search();
// Removes the folder and everything in it, never following a link: a link inside is removed
// itself, and a root that is a link is refused (AccessDenied). Goes on past what it cannot
// remove; false when anything is left.
bool remove_tree(const char* dir);
Handle hold_folder(const char* path);

}  // namespace plat::os
