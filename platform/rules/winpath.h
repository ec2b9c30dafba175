// Windows path rules as pure functions, so that they run and are tested on any host: the
// POSIX side of the platform layer uses them to give Linux paths Windows meaning.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace plat {

inline bool is_path_separator(char c) { return c == '\\' || c == '/'; }

// A Windows path taken apart. "c:\a\..\b" -> drive 'c', rooted, {"b"};
// "x\y" -> no drive, relative, {"x","y"}; "\x" -> no drive, rooted, {"x"}.
struct WindowsPath {
    char drive = 0;       // lower-case drive letter, 0 when the path names none
    bool rooted = false;  // a separator follows the drive (or starts the path)
    bool unc = false;     // "\\server\share": not supported by the game, refused
    bool trailing_separator = false;
    std::vector<std::string> components;  // "." dropped, ".." applied (never above the root)
};
WindowsPath parse_windows_path(std::string_view path);

// "c=/srv/game-c;d=/media/cd" -> {{'c',"/srv/game-c"},{'d',"/media/cd"}}. Malformed items are
// skipped; letters are lower-cased.
std::vector<std::pair<char, std::string>> parse_drive_list(std::string_view list);

// What a Windows name is, from the attributes the system gives for it (GetFileAttributes,
// FindFirstFile): a reparse point (symbolic link, junction, mount point) counts as a link
// whatever else it is. Returns the plat::EntryKind value (File, Directory, Link or Other).
int entry_kind_of_attributes(unsigned long attributes);
constexpr unsigned long kAttributeDirectory = 0x10, kAttributeDevice = 0x40, kAttributeReparsePoint = 0x400;

// Case-insensitive equality of two names in the single-byte character set.
bool names_equal_ignoring_case(std::string_view a, std::string_view b);

}  // namespace plat
