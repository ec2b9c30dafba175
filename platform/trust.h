// What the kit may trust of names it finds on disk. The installer runs with the system's
// rights while the game folder (and the folder the installer was started from) may be
// writable by every user: a link, a folder or a pipe planted where the kit expects its own
// file must never make it read, write or delete something else. These calls look at a name
// without following a link at its end, and make the kit's own folders so that no one else can
// change them.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "platform/platform.h"

namespace plat {

// What a name is, not following a link at its end. Link covers symbolic links and, on
// Windows, every reparse point (junctions and mount points too). Other: a pipe, a device, a
// socket.
enum class EntryKind { Missing, File, Directory, Link, Other };
EntryKind entry_kind(const char* path);
const char* entry_kind_words(EntryKind kind);  // "a link", "a folder", ...

// Whether the file or folder at `path` (not a link) belongs to the user running this process
// or to the system's administrators, and no one else may write it (POSIX: owner uid and no
// group or other write bit; Windows: the owner and the access list).
bool owned_safely(const char* path);

// Why `path` may not be taken for a name below the folder `root`, or "" when it may: it must
// begin with `root` (without regard to case) and continue with names that are not empty, "."
// or "..", hold no '/' or ':', and of which none that exists is a link. The root itself may be
// reached through links (every drive of a Wine prefix is one); nothing below it may.
std::string why_not_beneath(const std::string& root, const std::string& path);

// A new folder that only this user (and the administrators) may write: mode 0700, or 0755
// with `others_read`; on Windows an access list of its own with the same meaning. Fails when
// the name exists, whatever it is, so that nothing planted there is ever used.
bool create_private_directory(const char* path, bool others_read = false);

// A folder that the administrators and the system may change and every other user may only
// read and run programs from: what an elevated program keeps for later runs. Made with that
// access list, or, when it is there as a folder (not a link), given it. POSIX: mode 0755.
bool create_admin_directory(const char* path);

// Takes group and other write permission from an open file this process made (on Windows its
// folder's access list already says who may write, so nothing is done).
bool restrict_to_owner_writes(const char* path);

// Fills `buffer` with bytes from the system's random source; false when it has none.
bool random_bytes(void* buffer, std::size_t count);
// Sixteen hex digits of random_bytes, for names nobody can guess; empty on failure.
std::string random_name_part();

// A new folder of this process's own in the system's scratch folder: `prefix` and 64 random
// bits, created so that a name that exists (planted by anyone) fails and another is drawn,
// for this user only. In drive form with a trailing backslash; empty, with the error set, on
// failure.
std::string make_scratch_folder(const std::string& prefix);

// A text stream appending to `path` (created when missing) that is refused, with
// AccessDenied, when the name is a link or anything but a plain file: the install's log.
std::FILE* open_append_no_follow(const char* path);

// Keeps the system from looking for the DLLs this process loads in the program's own folder
// (where anyone may have left one beside a downloaded installer) or the current one: only the
// system folder is searched. The first statement of each program's entry. Nothing on POSIX.
void restrict_dll_search();

// Opens the folder itself and holds it while the handle is open, refused (AccessDenied) when
// the name is a link, a reparse point or no folder. On Windows it is held without delete
// sharing, so that no one else can rename or remove it meanwhile; on POSIX a folder can be
// renamed whatever is open, and the handle goes on naming the folder. Close it with
// close_file before removing the folder.
Handle hold_folder(const char* path);

// Which file a name stands for (device and inode; on Windows the volume's serial number and
// the file index), so that a command can refuse to write onto one of its own inputs.
struct FileIdentity {
    std::uint64_t volume = 0;
    std::uint64_t index = 0;
    bool operator==(const FileIdentity&) const = default;
};
// False when the name does not exist (or cannot be looked at).
bool file_identity(const char* path, FileIdentity* out);

}  // namespace plat
