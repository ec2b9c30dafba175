// What the game's location needs from the system's shell: the Windows directory, the Start
// menu's program folders, a search of a directory tree, and the resolution of a shortcut.
//
// shortcuts_win32.cpp asks the Windows shell (SHGetFolderPathA, SearchTreeForFile of the
// image-help library, the shell-link object through COM). shortcuts_posix.cpp answers the same
// for a Wine prefix (WINEPREFIX, or ~/.wine), reading shortcut files with the portable
// reader of shell_link.h.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace plat {

// The Windows directory, in this layer's form; empty when the system names none.
std::string windows_directory();

// The folders that hold the Start menu's programs, all users' first, then the user's; only
// those the system reports and that exist.
std::vector<std::string> start_menu_program_folders();

// The full path of the first file named `name` (matched without regard to case) in the tree
// below `root`, or false when the tree holds none.
bool search_tree_for_file(const char* root, const char* name, std::string* found);

// Readies the shell for shortcut resolution on this thread (COM). Once per thread is enough;
// its result is not needed, as a failed start shows in the resolution.
void initialize_shell();

// Shell results: negative means failure (the COM convention).
using ShellResult = long;
constexpr ShellResult kShellOk = 0;
constexpr ShellResult kShellFailed = static_cast<long>(0x80004005UL);  // E_FAIL

// Resolves the shortcut file at `link_path` to its target's path, in its short (8.3) form
// where the system has one and in this layer's form. `out` holds `out_size` bytes (at least
// kMaxPath + 1); it is emptied first, so that it stays empty after any failure. Returns the
// last shell result; `owner_window` (an HWND, or null) parents any window the shell shows.
ShellResult resolve_shortcut(void* owner_window, const char* link_path, char* out, std::size_t out_size);

}  // namespace plat
