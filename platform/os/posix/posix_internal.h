// The pieces of the POSIX platform layer that its files share; not for the core.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cstdint>
#include <map>
#include <string>
#include <utility>

#include "platform/platform.h"

namespace plat::detail {

// ---- errors (os_posix.cpp) -----------------------------------------------------------------

// The system's errno when there is one; the Windows rules this layer adds (exclusive opens,
// read-only files refused to root as well) have no errno of their own and get their own words.
void set_error(Error e, int err = 0);
void set_errno_error(int err);

// ---- drive table (drive_table.cpp) ---------------------------------------------------------

std::string real_path_or_self(const std::string& p);
std::string strip_trailing_slashes(std::string s);

struct DriveTable {
    std::map<char, std::string> roots;  // letter -> host directory without trailing '/'

    DriveTable();
    void add_wine_prefix(const std::string& prefix);
    const std::string* root_of(char letter) const;
    // The drive whose root is the longest prefix of an absolute host path, and the rest.
    std::pair<char, std::string> drive_of(const std::string& abs) const;
};

DriveTable& drives();
std::string host_cwd();

// ---- path translation (path_translation.cpp) -----------------------------------------------

struct Translated {
    std::string host;
    bool parent_missing = false;  // a directory on the way does not exist
    bool ok = true;               // false: the path cannot name anything (unknown drive, UNC)
    bool bad_name = false;        // not ok, as it holds a wildcard, as Windows refuses it
};

Translated translate(const char* path);
// The error of a path that translate() refused or found no parent directory for.
void set_refusal_error(const char* path, const Translated& t);
bool host_exists(const std::string& p);
std::string join(const std::string& base, const std::string& name);

// ---- the open-file registry (open_files.cpp) -----------------------------------------------

// Every open is exclusive, as Windows opens without sharing are: the registry knows which
// files (device and inode) this process holds, and a flock keeps other processes out.
using FileKey = std::pair<dev_t, ino_t>;

// Takes the file open as `fd` for this process; false when it is held already, here or by
// another process.
bool claim_open_file(int fd, FileKey key);
// Forgets the file open as `fd`, before it is closed.
void forget_open_file(int fd);
bool is_held_open(const std::string& host);
// Whether someone other than the holder of `allowed` holds the file at `host` open.
bool held_by_other_than(const std::string& host, Handle allowed);

// A file written in bulk gets its writeback started every few MiB, so that the disk works
// while the writer goes on and the final flush before a replacement has little left to do.
constexpr std::uint64_t kWritebackStep = 8u << 20;
void note_written(int fd, std::uint32_t bytes);
// The file open as `fd` is a scratch copy: no writeback is started for it.
void note_scratch(int fd);

inline int fd_of(Handle h) { return static_cast<int>(static_cast<std::intptr_t>(h)); }

inline bool has_no_write_permission(const struct stat& st) {
    return (st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0;
}

}  // namespace plat::detail
