// A reader of shell-link (.lnk) files as pure code, for systems without the Windows shell:
// the POSIX side of the platform layer resolves the game's shortcut with it. It reads the
// parts that name the target and skips the rest; every length and offset in the file is
// checked against the bytes given, so any input is safe to pass.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace plat {

struct ShellLink {
    std::uint32_t flags = 0;       // the header's link flags
    bool has_link_info = false;
    std::string local_base_path;   // from the link info: "C:\Games\Dravo\DRAVO.EXE"
    bool wide_local_path = false;  // the link info's paths were UTF-16 (are now UTF-8)
    std::string common_path_suffix;
    std::string description;       // the strings that follow, when the flags announce them
    std::string relative_path;
    std::string working_directory;
    std::string arguments;
};

// Strings stored as UTF-16 come back in UTF-8; the single-byte ones as they are.
// False when the bytes are not a shell link or a part they announce does not fit.
bool parse_shell_link(std::span<const std::uint8_t> bytes, ShellLink* out);

// Where the link points, best source first: the link info's local base path and common
// suffix ("C:\Games\Dravo\DRAVO.EXE"); else the relative path, which counts from the
// folder that holds the link; else the working directory with a backslash added, which
// names the game directory though not the program.
struct LinkTarget {
    enum class Kind { None, LocalPath, RelativePath, WorkingDirectory } kind = Kind::None;
    std::string path;
    bool utf8 = false;  // stored as UTF-16, so in UTF-8 here; else in the code page of the link
};
LinkTarget shell_link_target(const ShellLink& link);

// A relative path joined to a folder and made plain: ("c:\a\b", "..\x") -> "c:\a\x".
std::string join_relative_path(const std::string& folder, const std::string& relative);

}  // namespace plat
