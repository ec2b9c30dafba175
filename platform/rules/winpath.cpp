// Windows path rules as pure functions; see winpath.h.
#include "platform/rules/winpath.h"

#include "platform/trust.h"

#include <cctype>

namespace plat {

namespace {

char lower_ascii(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

bool is_drive_prefix(std::string_view p) {
    return p.size() >= 2 && p[1] == ':' && std::isalpha(static_cast<unsigned char>(p[0]));
}

}  // namespace

WindowsPath parse_windows_path(std::string_view path) {
    WindowsPath out;
    if (is_drive_prefix(path)) {
        out.drive = lower_ascii(path[0]);
        path.remove_prefix(2);
    } else if (path.size() >= 2 && is_path_separator(path[0]) && is_path_separator(path[1])) {
        out.unc = true;
    }
    if (!path.empty() && is_path_separator(path[0])) out.rooted = true;
    if (!path.empty() && is_path_separator(path.back())) out.trailing_separator = true;

    std::size_t i = 0;
    while (i < path.size()) {
        while (i < path.size() && is_path_separator(path[i])) ++i;
        std::size_t start = i;
        while (i < path.size() && !is_path_separator(path[i])) ++i;
        std::string_view part = path.substr(start, i - start);
        if (part.empty() || part == ".") continue;
        if (part == "..") {
            if (!out.components.empty() && out.components.back() != "..") {
                out.components.pop_back();
            } else if (!out.rooted && !out.drive) {
                out.components.emplace_back(part);  // relative path climbing out of "."
            }
            continue;
        }
        out.components.emplace_back(part);
    }
    return out;
}

std::vector<std::pair<char, std::string>> parse_drive_list(std::string_view list) {
    std::vector<std::pair<char, std::string>> drives;
    while (!list.empty()) {
        std::size_t end = list.find(';');
        std::string_view item = list.substr(0, end);
        list = end == std::string_view::npos ? std::string_view{} : list.substr(end + 1);
        if (item.size() < 3 || item[1] != '=' || !std::isalpha(static_cast<unsigned char>(item[0])))
            continue;
        drives.emplace_back(lower_ascii(item[0]), std::string(item.substr(2)));
    }
    return drives;
}

bool names_equal_ignoring_case(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (lower_ascii(a[i]) != lower_ascii(b[i])) return false;
    return true;
}

int entry_kind_of_attributes(unsigned long attributes) {
    if (attributes & kAttributeReparsePoint) return static_cast<int>(EntryKind::Link);
    if (attributes & kAttributeDirectory) return static_cast<int>(EntryKind::Directory);
    if (attributes & kAttributeDevice) return static_cast<int>(EntryKind::Other);
    return static_cast<int>(EntryKind::File);
}

}  // namespace plat
