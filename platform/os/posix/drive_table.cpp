// The drive table of the POSIX platform layer: which host directory each drive letter names.
// z: is "/", more drives come from the prefix named by WINEPREFIX (its dosdevices links) and
// from DRAVO_DRIVES ("c=/srv/game-c;d=/media/cd"), which wins over both.
#include "platform/os/posix/posix_internal.h"
#include "platform/rules/winpath.h"

#include <dirent.h>
#include <unistd.h>

#include <cctype>
#include <climits>
#include <cstdlib>

namespace plat::detail {

std::string real_path_or_self(const std::string& p) {
    char buf[PATH_MAX];
    if (::realpath(p.c_str(), buf)) return buf;
    return p;
}

std::string strip_trailing_slashes(std::string s) {
    while (s.size() > 1 && s.back() == '/') s.pop_back();
    return s;
}


DriveTable::DriveTable() {
    roots['z'] = "/";
    if (const char* prefix = std::getenv("WINEPREFIX")) add_wine_prefix(prefix);
    if (const char* list = std::getenv("DRAVO_DRIVES"))
        for (auto& [letter, root] : parse_drive_list(list))
            roots[letter] = strip_trailing_slashes(real_path_or_self(root));
}

void DriveTable::add_wine_prefix(const std::string& prefix) {
    std::string dev = prefix + "/dosdevices";
    DIR* d = ::opendir(dev.c_str());
    if (!d) return;
    while (dirent* e = ::readdir(d)) {
        std::string name = e->d_name;
        if (name.size() != 2 || name[1] != ':') continue;
        char letter = static_cast<char>(std::tolower(static_cast<unsigned char>(name[0])));
        if (letter < 'a' || letter > 'z') continue;
        char buf[PATH_MAX];
        if (::realpath((dev + "/" + name).c_str(), buf)) roots[letter] = buf;
    }
    ::closedir(d);
}

const std::string* DriveTable::root_of(char letter) const {
    auto it = roots.find(letter);
    return it == roots.end() ? nullptr : &it->second;
}

std::pair<char, std::string> DriveTable::drive_of(const std::string& abs) const {
    char best = 0;
    std::size_t best_len = 0;
    for (const auto& [letter, root] : roots) {
        std::size_t len = root == "/" ? 0 : root.size();
        bool prefix = root == "/" || (abs.compare(0, len, root) == 0 &&
                                      (abs.size() == len || abs[len] == '/'));
        if (prefix && (best == 0 || len > best_len || (len == best_len && letter == 'z'))) {
            best = letter;
            best_len = len;
        }
    }
    return {best ? best : 'z', abs.substr(best_len)};
}

DriveTable& drives() {
    static DriveTable table;
    return table;
}

std::string host_cwd() {
    char buf[PATH_MAX];
    if (!::getcwd(buf, sizeof buf)) return "/";
    return buf;
}

}  // namespace plat::detail
