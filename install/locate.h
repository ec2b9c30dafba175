// Finding the game: its shortcut "Dravo.lnk" in the Start menu's program folders or below
// the Windows directory, resolved to the game's program, whose directory is the game
// directory.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "base/result.h"

namespace install::locate {

constexpr char kShortcutName[] = "Dravo.lnk";
// The game path buffer: 255 characters and the NUL.
constexpr std::size_t kGamePathBytes = 256;

// What the shortcut's target gives for a game directory.
enum class TargetStatus {
    Found,
    NoDirectory,   // the target has no backslash
    TooLong,       // the target is longer than 255 characters
};

// The folders searched, in order: the Start menu's program folders, then the Windows
// directory (the search of each covers its whole tree).
std::vector<std::string> shortcut_search_roots(const std::string& windows_dir);

// The first Dravo.lnk below the roots, searched one root after the other.
bool find_shortcut(const std::vector<std::string>& roots, std::string* shortcut);

// Cuts the target directly behind its last backslash, keeping it: "c:\games\dravo\dravo.exe"
// gives "c:\games\dravo\". `game_dir` holds kGamePathBytes.
TargetStatus game_directory_of(const char* target, char* game_dir);

struct GameLocation {
    std::string searched;  // the first folder searched, which a failure to find the shortcut concerns
    std::string shortcut;
    std::string target;
    std::string game_dir;
    long shell_result = 0;  // of the resolution
};

// The whole search. `windows_dir` empty: the system's Windows directory. Applied with the
// game directory in `out`, or failed with the reason in words; `out` holds what was found on
// the way, and its shortcut stays empty when there is none (the reason then concerns the
// folder `searched`, or the shortcut's name when there was no folder to search).
Result locate_game(const std::string& windows_dir, void* owner_window, GameLocation* out);

// The path a failure of locate_game concerns, as the user reads it: the shortcut once found,
// else the first folder searched, else the shortcut's name.
std::string failure_path(const GameLocation& where);

}  // namespace install::locate
