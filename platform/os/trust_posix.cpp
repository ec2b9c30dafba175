// Names that others may have planted, on POSIX systems: every look is lstat, every open
// O_NOFOLLOW, and a folder tree is walked from the descriptors of its folders, so that a link
// swapped in on the way leads nowhere.
#include "platform/os/os.h"
#include "platform/os/posix/posix_internal.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <vector>

namespace plat {

using namespace detail;

namespace {

// The host path of a name, or false with the error set.
bool host_of(const char* path, std::string* host) {
    Translated t = translate(path);
    if (!t.ok || t.parent_missing) {
        set_refusal_error(path, t);
        return false;
    }
    *host = strip_trailing_slashes(t.host);
    if (host->empty()) *host = t.host.empty() ? "." : "/";
    return true;
}

EntryKind kind_of(mode_t mode) {
    if (S_ISLNK(mode)) return EntryKind::Link;
    if (S_ISDIR(mode)) return EntryKind::Directory;
    if (S_ISREG(mode)) return EntryKind::File;
    return EntryKind::Other;
}

// Removes everything in the folder open as `dir`. Each subfolder is opened from its parent's
// descriptor with O_NOFOLLOW, so that a link put in place of a folder is never entered; a link
// is unlinked itself.
bool remove_below(int dir) {
    int listing = ::dup(dir);
    DIR* d = listing < 0 ? nullptr : ::fdopendir(listing);
    if (!d) {
        if (listing >= 0) ::close(listing);
        set_errno_error(errno);
        return false;
    }
    std::vector<std::string> names;
    while (dirent* e = ::readdir(d)) {
        std::string name = e->d_name;
        if (name != "." && name != "..") names.push_back(name);
    }
    ::closedir(d);
    bool ok = true;
    for (const std::string& name : names) {
        struct stat st;
        if (::fstatat(dir, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
            ok = errno == ENOENT && ok;
            continue;
        }
        if (S_ISDIR(st.st_mode)) {
            int sub = ::openat(dir, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (sub < 0) {
                set_errno_error(errno);
                ok = false;
                continue;
            }
            bool emptied = remove_below(sub);
            ::close(sub);
            if (!emptied || ::unlinkat(dir, name.c_str(), AT_REMOVEDIR) != 0) {
                if (emptied) set_errno_error(errno);
                ok = false;
            }
        } else if (::unlinkat(dir, name.c_str(), 0) != 0) {
            set_errno_error(errno);
            ok = false;
        }
    }
    return ok;
}

}  // namespace

EntryKind os::entry_kind(const char* path) {
    Translated t = translate(path);
    if (!t.ok || t.parent_missing) return EntryKind::Missing;
    std::string host = strip_trailing_slashes(t.host);
    struct stat st;
    if (::lstat(host.empty() ? "/" : host.c_str(), &st) != 0) return EntryKind::Missing;
    return kind_of(st.st_mode);
}

bool os::owned_safely(const char* path) {
    std::string host;
    struct stat st;
    if (!host_of(path, &host) || ::lstat(host.c_str(), &st) != 0) return false;
    if (S_ISLNK(st.st_mode)) return false;
    return (st.st_uid == ::geteuid() || st.st_uid == 0) && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

bool os::create_private_directory(const char* path, bool others_read) {
    std::string host;
    if (!host_of(path, &host)) return false;
    mode_t mode = others_read ? 0755 : 0700;
    // mkdir fails on any name that exists, a link included, and follows none.
    if (::mkdir(host.c_str(), mode) != 0) {
        set_errno_error(errno);
        return false;
    }
    return true;
}

bool os::create_admin_directory(const char* path) {
    std::string host;
    if (!host_of(path, &host)) return false;
    if (::mkdir(host.c_str(), 0755) == 0) return true;
    int err = errno;
    struct stat st;
    // A folder there already (not a link): the same mode.
    if (err == EEXIST && ::lstat(host.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && ::chmod(host.c_str(), 0755) == 0)
        return true;
    set_errno_error(err);
    return false;
}

bool os::restrict_to_owner_writes(const char* path) {
    std::string host;
    if (!host_of(path, &host)) return false;
    int fd = ::open(host.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    struct stat st;
    bool ok = fd >= 0 && ::fstat(fd, &st) == 0 && ::fchmod(fd, st.st_mode & 07777 & ~(S_IWGRP | S_IWOTH)) == 0;
    if (!ok) set_errno_error(errno);
    if (fd >= 0) ::close(fd);
    return ok;
}

bool os::random_bytes(void* buffer, std::size_t count) {
    auto* out = static_cast<unsigned char*>(buffer);
    while (count > 0) {
        ssize_t n = ::getrandom(out, count, 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            set_errno_error(errno);
            return false;
        }
        out += n;
        count -= static_cast<std::size_t>(n);
    }
    return true;
}

std::FILE* os::open_append_no_follow(const char* path) {
    std::string host;
    if (!host_of(path, &host)) return nullptr;
    int fd = ::open(host.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0644);
    if (fd < 0) {
        int err = errno;
        if (err == ELOOP) set_error(Error::AccessDenied, err);  // a link
        else set_errno_error(err);
        return nullptr;
    }
    struct stat st;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        set_error(Error::AccessDenied, EACCES);
        return nullptr;
    }
    std::FILE* f = ::fdopen(fd, "ab");
    if (!f) {
        set_errno_error(errno);
        ::close(fd);
    }
    return f;
}

Handle os::hold_folder(const char* path) {
    std::string host;
    if (!host_of(path, &host)) return Handle::Invalid;
    int fd = ::open(host.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        // A link at the name (ELOOP) or anything but a folder (ENOTDIR) is refused as such.
        if (errno == ELOOP || errno == ENOTDIR) set_error(Error::AccessDenied, errno);
        else set_errno_error(errno);
        return Handle::Invalid;
    }
    return static_cast<Handle>(fd);
}

bool os::file_identity(const char* path, FileIdentity* out) {
    Translated t = translate(path);
    struct stat st;
    if (!t.ok || t.parent_missing || ::stat(t.host.c_str(), &st) != 0) return false;
    out->volume = static_cast<std::uint64_t>(st.st_dev);
    out->index = static_cast<std::uint64_t>(st.st_ino);
    return true;
}

void os::restrict_dll_search() {}

bool os::remove_tree(const char* dir) {
    std::string host;
    if (!host_of(dir, &host)) return false;
    int fd = ::open(host.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        if (errno == ELOOP || errno == ENOTDIR) set_error(Error::AccessDenied, errno);
        else set_errno_error(errno);
        return false;
    }
    bool ok = remove_below(fd);
    ::close(fd);
    if (ok && ::rmdir(host.c_str()) != 0) {
        set_errno_error(errno);
        ok = false;
    }
    return ok;
}

}  // namespace plat
