// The shell operations for a Wine prefix: the folders a Windows program in the prefix would
// be told, a tree search over the host's directories, and shortcut files read with the
// portable reader. The prefix is WINEPREFIX, or ~/.wine as for Wine itself. Host names are
// UTF-8 and the core's are in its code page (codepage.h); names are converted where they cross.
#include "platform/shortcuts.h"

#include <dirent.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "platform/codepage.h"
#include "platform/platform.h"
#include "platform/rules/shell_link.h"
#include "platform/rules/winpath.h"

namespace plat {

namespace {

// No shortcut is this large; a bigger file is not one.
constexpr std::int64_t kMaxLinkFileSize = 1 << 20;
// Deep enough for any Start menu or Windows directory, and an end to any cycle of links.
constexpr int kMaxSearchDepth = 32;

std::string wine_prefix() {
    if (const char* p = std::getenv("WINEPREFIX"); p && *p) return p;
    const char* home = std::getenv("HOME");
    if (!home || !*home) {
        const passwd* pw = ::getpwuid(::getuid());
        home = pw ? pw->pw_dir : "/";
    }
    return std::string(home) + "/.wine";
}

// Wine names the user's folder after the login name.
std::string user_name() {
    if (const char* u = std::getenv("USER"); u && *u) return u;
    const passwd* pw = ::getpwuid(::getuid());
    return pw ? pw->pw_name : "root";
}

bool host_is_directory(const std::string& p) {
    struct stat st;
    return ::stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// The host directory behind a drive of the prefix, from its dosdevices link; drive c: falls
// back to drive_c, which is where Wine keeps it.
std::string drive_root(char letter) {
    letter = static_cast<char>(std::tolower(static_cast<unsigned char>(letter)));
    std::string device = wine_prefix() + "/dosdevices/" + letter + ":";
    char buf[PATH_MAX];
    if (::realpath(device.c_str(), buf)) return buf;
    if (letter == 'c' && ::realpath((wine_prefix() + "/drive_c").c_str(), buf)) return buf;
    return {};
}

// A Windows path of the prefix ("C:\Games\Dravo\DRAVO.EXE", in the code page) in this
// layer's form: its drive through the prefix's dosdevices, each existing component matched
// without regard to case.
std::string from_prefix_path(const std::string& windows_path) {
    if (windows_path.size() < 2 || windows_path[1] != ':' ||
        !std::isalpha(static_cast<unsigned char>(windows_path[0])))
        return {};
    std::string root = drive_root(windows_path[0]);
    if (root.empty()) return {};
    // The drive's root in the layer's form, then the path below it, matched as a Windows path
    // is; from_native_path then names the match by the best drive.
    std::string in_layer = from_native_path(root.c_str());
    if (in_layer.back() != '\\') in_layer += '\\';
    std::size_t rest = windows_path.find_first_not_of("\\/", 2);
    if (rest != std::string::npos) in_layer += windows_path.substr(rest);
    std::string host = to_native_path(in_layer.c_str());
    std::string out = from_native_path(host.c_str());
    if (is_path_separator(windows_path.back()) && !out.empty() && out.back() != '\\') out += '\\';
    return out;
}

std::string folder_of(const std::string& path) {
    std::size_t cut = path.find_last_of("\\/");
    return cut == std::string::npos ? std::string() : path.substr(0, cut);
}

bool read_small_file(const char* path, std::vector<std::uint8_t>* bytes) {
    Handle h = open_file(path, Access::Read, Disposition::OpenExisting);
    if (h == Handle::Invalid) return false;
    std::int64_t size = file_size(h);
    bool ok = size >= 0 && size <= kMaxLinkFileSize;
    if (ok) {
        bytes->resize(static_cast<std::size_t>(size));
        std::uint32_t got = 0;
        ok = read_file(h, bytes->data(), static_cast<std::uint32_t>(size), &got) && got == size;
    }
    close_file(h);
    return ok;
}

// Files of a directory before its subdirectories, each in name order, so that the first
// match does not depend on the order the host lists them in. Links to directories are not
// followed: the prefix links the user's folders to the host's home and z: to the root.
// Entries whose names the code page cannot hold are passed over, as the core could not name
// what lies below them.
bool search_below(const std::string& dir, const char* name, int depth, std::string* found) {
    DIR* d = ::opendir(dir.c_str());
    if (!d) return false;
    std::vector<std::string> files, subdirs;
    std::string in_code_page;
    while (dirent* e = ::readdir(d)) {
        std::string entry = e->d_name;
        if (entry == "." || entry == "..") continue;
        if (!utf8_to_code_page(entry, &in_code_page)) continue;
        struct stat st;
        if (::lstat((dir + "/" + entry).c_str(), &st) != 0) continue;
        if (S_ISDIR(st.st_mode)) subdirs.push_back(entry);
        else if (names_equal_ignoring_case(in_code_page, name)) files.push_back(entry);
    }
    ::closedir(d);
    if (!files.empty()) {
        *found = dir + "/" + *std::min_element(files.begin(), files.end());
        return true;
    }
    if (depth >= kMaxSearchDepth) return false;
    std::sort(subdirs.begin(), subdirs.end());
    for (const std::string& sub : subdirs)
        if (search_below(dir + "/" + sub, name, depth + 1, found)) return true;
    return false;
}

}  // namespace

std::string windows_directory() {
    std::string root = drive_root('c');
    if (root.empty()) return {};
    std::string dir = root + "/windows";
    return host_is_directory(dir) ? from_native_path(dir.c_str()) : std::string();
}

std::vector<std::string> start_menu_program_folders() {
    std::string root = drive_root('c');
    if (root.empty()) return {};
    std::vector<std::string> folders;
    for (const std::string& f :
         {root + "/ProgramData/Microsoft/Windows/Start Menu/Programs",
          root + "/users/" + user_name() + "/AppData/Roaming/Microsoft/Windows/Start Menu/Programs"})
        if (host_is_directory(f)) folders.push_back(from_native_path(f.c_str()));
    return folders;
}

bool search_tree_for_file(const char* root, const char* name, std::string* found) {
    std::string host_root = to_native_path(root);
    std::string host;
    if (!host_is_directory(host_root) || !search_below(host_root, name, 0, &host)) return false;
    *found = from_native_path(host.c_str());
    return true;
}

void initialize_shell() {}

ShellResult resolve_shortcut(void*, const char* link_path, char* out, std::size_t out_size) {
    if (out_size == 0) return kShellFailed;
    out[0] = 0;
    std::vector<std::uint8_t> bytes;
    ShellLink link;
    if (!read_small_file(link_path, &bytes) || !parse_shell_link(bytes, &link)) return kShellFailed;
    LinkTarget target = shell_link_target(link);
    // A target stored in UTF-16 must reach the core in its code page, like the others.
    if (target.utf8) {
        std::string in_code_page;
        if (!utf8_to_code_page(target.path, &in_code_page)) return kShellFailed;
        target.path = in_code_page;
    }
    std::string path;
    switch (target.kind) {
        case LinkTarget::Kind::None: return kShellFailed;
        case LinkTarget::Kind::RelativePath:
            path = join_relative_path(folder_of(link_path), target.path);
            break;
        case LinkTarget::Kind::LocalPath:
        case LinkTarget::Kind::WorkingDirectory: path = from_prefix_path(target.path); break;
    }
    if (path.empty() || path.size() >= out_size) return kShellFailed;
    std::memcpy(out, path.c_str(), path.size() + 1);
    return kShellOk;
}

}  // namespace plat
