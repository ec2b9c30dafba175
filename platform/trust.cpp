// Names the kit finds on disk, looked at without following links: the portable part.
#include "platform/trust.h"

#include <algorithm>

#include "platform/intercept/overlay.h"
#include "platform/os/os.h"
#include "platform/platform.h"
#include "platform/rules/winpath.h"

namespace plat {

EntryKind entry_kind(const char* path) { return os::file_system().entry_kind(path); }

const char* entry_kind_words(EntryKind kind) {
    switch (kind) {
        case EntryKind::Missing: return "missing";
        case EntryKind::File: return "a file";
        case EntryKind::Directory: return "a folder";
        case EntryKind::Link: return "a link";
        case EntryKind::Other: return "neither a file nor a folder";
    }
    return "?";
}

bool owned_safely(const char* path) { return os::file_system().owned_safely(path); }

std::string why_not_beneath(const std::string& root, const std::string& path) {
    std::string base = root;
    while (!base.empty() && (base.back() == '\\' || base.back() == '/')) base.pop_back();
    if (base.empty() || path.size() <= base.size() + 1 ||
        !names_equal_ignoring_case(std::string_view(path).substr(0, base.size()), base) || path[base.size()] != '\\')
        return "lies outside the folder";
    std::string walked = base;
    bool exists = true;  // nothing below a missing name can be a link
    for (std::size_t at = base.size() + 1; at <= path.size();) {
        std::size_t end = std::min(path.find('\\', at), path.size());
        std::string name = path.substr(at, end - at);
        if (name.empty() || name == "." || name == ".." || name.find_first_of("/:") != std::string::npos)
            return "is not written as a plain path below the folder";
        walked += "\\" + name;
        if (exists) {
            EntryKind kind = os::file_system().entry_kind(walked.c_str());
            if (kind == EntryKind::Link) return "leads through a link (" + display_path(walked) + ")";
            exists = kind != EntryKind::Missing;
        }
        at = end + 1;
    }
    return {};
}

bool create_private_directory(const char* path, bool others_read) {
    if (detail::overlay_active()) {
        os::set_error_kind(Error::AccessDenied);
        return false;
    }
    return os::file_system().create_private_directory(path, others_read);
}

bool create_admin_directory(const char* path) {
    if (detail::overlay_active()) {
        os::set_error_kind(Error::AccessDenied);
        return false;
    }
    return os::file_system().create_admin_directory(path);
}

bool restrict_to_owner_writes(const char* path) { return os::file_system().restrict_to_owner_writes(path); }

bool random_bytes(void* buffer, std::size_t count) { return os::random_bytes(buffer, count); }

std::string random_name_part() {
    unsigned char bytes[8];
    if (!random_bytes(bytes, sizeof bytes)) return {};
    static const char kHex[] = "0123456789abcdef";
    std::string out;
    for (unsigned char b : bytes) {
        out += kHex[b >> 4];
        out += kHex[b & 15];
    }
    return out;
}

std::string make_scratch_folder(const std::string& prefix) {
    for (int attempt = 0; attempt < 8; ++attempt) {
        std::string part = random_name_part();
        if (part.empty()) return {};
        std::string dir = temp_directory() + prefix + part;
        if (create_private_directory(dir.c_str())) return dir + "\\";
        if (last_error() != Error::AlreadyExists) return {};
    }
    return {};
}

std::FILE* open_append_no_follow(const char* path) { return os::file_system().open_append_no_follow(path); }

bool file_identity(const char* path, FileIdentity* out) { return os::file_system().file_identity(path, out); }

void restrict_dll_search() { os::restrict_dll_search(); }

Handle hold_folder(const char* path) { return os::file_system().hold_folder(path); }

}  // namespace plat
