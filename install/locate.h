// Finding the game: its shortcut "Dravo.lnk" in the Start menu's program folders or below
// the Windows directory, resolved to the game's program, whose directory is the game
// directory.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace locate {

constexpr char kShortcutName[] = "Dravo.lnk";
// The game path buffer: 255 characters and the NUL.
constexpr std::size_t kGamePathBytes = 256;

enum class LocateStatus {
    Found,
    NoShortcut,    // no Dravo.lnk in any folder searched
    Unresolved,    // the shortcut could not be resolved (or named no target)
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
LocateStatus game_directory_of(const char* target, char* game_dir);

struct GameLocation {
    std::string shortcut;
    std::string target;
    std::string game_dir;
    long shell_result = 0;  // of the resolution
};

// The whole search. `windows_dir` empty: the system's Windows directory.
LocateStatus locate_game(const std::string& windows_dir, void* owner_window, GameLocation* out);

std::string describe(LocateStatus status);

}  // namespace locate
