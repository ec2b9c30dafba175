// Files a run wrote itself and keeps open to its end, so that what it reads of them later is
// what it wrote. The patch's files are unpacked into a folder that others may be able to
// rename, and then moved into a game folder that others may write: a name there can be
// swapped for a link to any file between two opens. While a file is held, every open of its
// name for reading (open_file, open_text) is answered from the held handle instead of the
// name, and a change of the name (an open for writing, a rename over it, a delete) lets the
// hold go first, so the run's own later writes go by name as before.
//
// The names are compared as absolute paths in the drive form, "." and ".." taken away and
// without regard to case; a relative name is taken against the current directory.
#pragma once

#include <string>

#include "platform/platform.h"

namespace plat {

// Holds `file` (open for reading and writing, as made) under `path`, where it lies now. A file
// already held under that name is let go.
void hold_file(const std::string& path, File file);
// The held file at `from` takes the name `to`, replacing a file there, through the journal's
// watcher as replace_file does: its data is flushed through the handle, it is renamed through
// the handle where the system can (Windows) or by name while the name is still the held file
// (POSIX), and the folders are flushed. From then on it is held under `to`.
bool move_held_file(const char* from, const char* to);
// The held file at `path` answers for `also` too, while it stays where it is: a dry run's
// carried files, which lie in its scratch folder and stand for the game folder's.
bool hold_also_as(const char* path, const char* also);
// Whether a file is held under `path`.
bool holds_file(const char* path);
// Closes every held file.
void release_held_files();

namespace detail {
// For the chain. A handle reading the held file of that name from its start, or Invalid when
// none is held (`*answered` false) or the handle could not be made (`*answered` true).
Handle held_open(const char* path, bool* answered);
// The held handle and where the file lies, for a move; Invalid when none is held.
Handle held_handle(const char* path, std::string* location);
void held_moved(const char* from, const char* to);
// The name is about to change: its hold is let go.
void held_let_go(const char* path);
}  // namespace detail

}  // namespace plat
