// The checks an install makes before its first change of a game file: every container a
// work line names is sound and can be rewritten, the message tables can be rewritten, every
// new source can be opened, and each volume has room for the new copies the rewrites write
// beside the old files (which stay, kept for undo).
#pragma once

#include <string>
#include <vector>

#include "base/result.h"

namespace install {

// The folders besides `game_dir` where the game keeps its files, as its Dravo.ini names them:
// the CD and hard-disk folders and those of its [path] section, each absolute (a relative one
// is taken from the game folder), with a trailing backslash; a folder written with "." or ".."
// is left out, since no name below it could be checked as text. Reads the game's configuration
// and leaves the configuration layer reset.
std::vector<std::string> game_folders(const std::string& game_dir);

// Failed, naming it, when `path` (a container or a table about to be rewritten) is a link, or is
// reached through one below the folder that holds it: the game folder or one of `folders`.
Result check_not_linked(const std::string& path, const std::string& game_dir, const std::vector<std::string>& folders);

// Reads the work list at `patch_ini` the way the runner does, checking each line instead of
// running it. Failed, naming every line that would fail and why, or the lack of room.
// Every file a rewrite would write is checked with check_not_linked against the game folder
// (the current directory) and `folders`.
Result check_work_list(const char* patch_ini, const std::vector<std::string>& folders);

}  // namespace install
