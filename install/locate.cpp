// The game's location. The Start menu has not lived below the Windows directory since
// Windows 2000 (nor does it under Wine), so its program folders are searched first; the
// Windows directory comes after them for the systems where it still holds the Start menu.
// The small Start-menu trees also spare the long walk through a large Windows directory.
#include "install/locate.h"

#include <cstring>

#include "platform/platform.h"
#include "platform/shortcuts.h"

namespace install::locate {

std::vector<std::string> shortcut_search_roots(const std::string& windows_dir) {
    std::vector<std::string> roots = plat::start_menu_program_folders();
    std::string windows = windows_dir.empty() ? plat::windows_directory() : windows_dir;
    if (!windows.empty()) roots.push_back(windows);
    return roots;
}

bool find_shortcut(const std::vector<std::string>& roots, std::string* shortcut) {
    for (const std::string& root : roots)
        if (plat::search_tree_for_file(root.c_str(), kShortcutName, shortcut)) return true;
    return false;
}

TargetStatus game_directory_of(const char* target, char* game_dir) {
    game_dir[0] = 0;
    std::size_t length = std::strlen(target);
    if (length >= kGamePathBytes) return TargetStatus::TooLong;
    const char* last = std::strrchr(target, '\\');
    if (!last) return TargetStatus::NoDirectory;
    std::size_t keep = static_cast<std::size_t>(last - target) + 1;
    std::memcpy(game_dir, target, keep);
    game_dir[keep] = 0;
    return TargetStatus::Found;
}

namespace {

// Why no shortcut was found, about the first folder searched (the Start menu's, where the
// system has one): "no Dravo.lnk below this folder", and the other folders searched.
std::string no_shortcut_below(const std::vector<std::string>& roots) {
    if (roots.empty())
        return std::string("no ") + kShortcutName + " to look for: there is neither a Start menu nor a Windows directory";
    std::string text = std::string("no ") + kShortcutName + " below this folder";
    for (std::size_t i = 1; i < roots.size(); ++i)
        text += (i == 1 ? ", nor below " : i + 1 == roots.size() ? " and " : ", ") + plat::display_path(roots[i]);
    return text;
}

}  // namespace

Result locate_game(const std::string& windows_dir, void* owner_window, GameLocation* out) {
    *out = GameLocation{};
    std::vector<std::string> roots = shortcut_search_roots(windows_dir);
    if (!roots.empty()) out->searched = roots.front();
    if (!find_shortcut(roots, &out->shortcut)) return Result::failed(no_shortcut_below(roots));
    plat::initialize_shell();
    char target[plat::kMaxPath + 1];
    out->shell_result = plat::resolve_shortcut(owner_window, out->shortcut.c_str(), target, sizeof target);
    out->target = target;
    if (out->shell_result < 0 || !target[0]) return Result::failed("the shortcut cannot be resolved");
    char game_dir[kGamePathBytes];
    switch (game_directory_of(target, game_dir)) {
        case TargetStatus::Found: break;
        case TargetStatus::NoDirectory: return Result::failed("the shortcut's target has no directory");
        case TargetStatus::TooLong: return Result::failed("the shortcut's target is longer than 255 characters");
    }
    out->game_dir = game_dir;
    return Result::applied();
}

std::string failure_path(const GameLocation& where) {
    if (!where.shortcut.empty()) return plat::display_path(where.shortcut);
    return where.searched.empty() ? std::string(kShortcutName) : plat::display_path(where.searched);
}

}  // namespace install::locate
