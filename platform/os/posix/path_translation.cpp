// Path translation of the POSIX platform layer: a Windows path of the core, in its code page,
// becomes a host path in UTF-8. '\\' and '/' both separate; a drive letter maps through the
// drive table; a component that does not exist as written is matched without regard to case.
#include "platform/codepage.h"
#include "platform/os/posix/posix_internal.h"
#include "platform/rules/winpath.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

namespace plat::detail {

// Finds the entry of `dir` (a host path) that equals `name` (in the code page) without regard
// to case; empty when none. An entry whose name the code page cannot hold, or that is not
// UTF-8, matches nothing: its '?' must not stand for a character of another name.
std::string match_ignoring_case(const std::string& dir, const std::string& name) {
    DIR* d = ::opendir(dir.empty() ? "." : dir.c_str());
    if (!d) return {};
    std::string found;
    std::string entry;
    while (dirent* e = ::readdir(d)) {
        if (utf8_to_code_page(e->d_name, &entry) && names_equal_ignoring_case(entry, name)) {
            found = e->d_name;
            break;
        }
    }
    ::closedir(d);
    return found;
}

bool host_exists(const std::string& p) {
    struct stat st;
    return ::lstat(p.c_str(), &st) == 0;
}


// Wildcards are no part of a Windows name; '?' is also what stands for a host character
// that the code page cannot hold.
bool has_wildcard(const char* path) { return std::strpbrk(path, "?*") != nullptr; }

// The error of a path that translate() refused or found no parent directory for.
void set_refusal_error(const char* path, const Translated& t) {
    if (t.bad_name) set_error(Error::Other, EILSEQ);
    else if (std::strlen(path) > kMaxPath) set_error(Error::NameTooLong, ENAMETOOLONG);
    else set_error(Error::PathNotFound, ENOENT);
}

std::string join(const std::string& base, const std::string& name) {
    if (base.empty()) return name;
    if (base.back() == '/') return base + name;
    return base + "/" + name;
}

Translated translate(const char* path) {
    Translated t;
    if (std::strlen(path) > kMaxPath) {
        t.ok = false;
        return t;
    }
    if (has_wildcard(path)) {
        t.ok = false;
        t.bad_name = true;
        return t;
    }
    WindowsPath wp = parse_windows_path(path);
    if (wp.unc || *path == 0) {
        t.ok = false;
        return t;
    }
    const DriveTable& table = drives();
    auto [cur_drive, cur_rest] = table.drive_of(host_cwd());

    std::string base;
    if (wp.drive) {
        const std::string* root = table.root_of(wp.drive);
        if (!root) {
            t.ok = false;
            return t;
        }
        if (wp.rooted || wp.drive != cur_drive) {
            base = *root;
        } else {
            base = "";  // "c:name" on the current drive is relative to the current directory
        }
    } else if (wp.rooted) {
        base = *table.root_of(cur_drive);
    }

    std::string cur = base;
    for (std::size_t i = 0; i < wp.components.size(); ++i) {
        const std::string& part = wp.components[i];
        std::string next = join(cur, code_page_to_utf8(part));
        if (!t.parent_missing && !host_exists(next)) {
            std::string match = match_ignoring_case(cur, part);
            if (!match.empty()) next = join(cur, match);
            else if (i + 1 < wp.components.size()) t.parent_missing = true;
        }
        cur = next;
    }
    if (cur.empty()) cur = base.empty() ? "." : base;
    t.host = cur;
    return t;
}

}  // namespace plat::detail
