// The system's calls on POSIX systems, with the file semantics a Windows program sees under
// Wine: '\' and '/' both separate; drive letters map through a drive table; a path component
// that does not exist as written is matched without regard to case; every open is exclusive.
// Names are in the core's code page on this side and in UTF-8 on the host's (codepage.h).
// This file holds the errors and the operations, plain mappings with no hook (the chain in
// front of them is intercept/chain.cpp); the drive table, the path translation and the
// open-file registry live beside it in posix/.
#include "platform/platform.h"
#include "base/report.h"
#include "platform/code_pages.h"
#include "platform/codepage.h"
#include "platform/os/os.h"
#include "platform/os/posix/posix_internal.h"

#include <dirent.h>
#include <signal.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <optional>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>

namespace plat {

using namespace detail;

namespace {

thread_local Error g_last_error = Error::None;
thread_local int g_last_errno = 0;

Error error_from_errno(int err) {
    switch (err) {
        case ENOENT: return Error::FileNotFound;
        case ENOTDIR: return Error::PathNotFound;
        case EACCES:
        case EPERM:
        case EISDIR:
        case EROFS: return Error::AccessDenied;
        case ENOSPC:
        case EDQUOT: return Error::DiskFull;
        case ENAMETOOLONG: return Error::NameTooLong;
        case EWOULDBLOCK: return Error::SharingViolation;
        case EEXIST: return Error::AlreadyExists;
        default: return Error::Other;
    }
}

}  // namespace

void detail::set_error(Error e, int err) {
    g_last_error = e;
    g_last_errno = err;
}

void detail::set_errno_error(int err) { set_error(error_from_errno(err), err); }

void os::set_error_kind(Error e) {
    switch (e) {
        case Error::None: set_error(e, 0); break;
        case Error::FileNotFound: set_error(e, ENOENT); break;
        case Error::PathNotFound: set_error(e, ENOENT); break;
        case Error::AlreadyExists: set_error(e, EEXIST); break;
        case Error::AccessDenied: set_error(e, EACCES); break;
        case Error::SharingViolation: set_error(e, EBUSY); break;
        case Error::DiskFull: set_error(e, ENOSPC); break;
        default: set_error(e, EIO); break;
    }
}

os::SavedError os::saved_error() { return {g_last_error, g_last_errno}; }
void os::restore_error(SavedError saved) { set_error(saved.error, static_cast<int>(saved.code)); }

// ---- files ---------------------------------------------------------------------------------

Handle os::open_file(const char* path, Access access, Disposition disposition) {
    Translated t = translate(path);
    if (!t.ok || t.parent_missing) {
        set_refusal_error(path, t);
        return Handle::Invalid;
    }
    bool wants_write = access != Access::Read;
    struct stat st;
    bool exists = ::stat(t.host.c_str(), &st) == 0;
    if (exists && S_ISDIR(st.st_mode)) {
        set_error(Error::AccessDenied, EISDIR);
        return Handle::Invalid;
    }
    // A pipe or a device would block the open or the reads: refused before it is opened.
    if (exists && !S_ISREG(st.st_mode)) {
        set_error(Error::AccessDenied, ESPIPE);
        return Handle::Invalid;
    }
    if (exists && disposition == Disposition::CreateNew) {
        set_error(Error::AlreadyExists, EEXIST);
        return Handle::Invalid;
    }
    // Windows refuses to open a read-only file for writing, even to an administrator.
    if (exists && (wants_write || disposition == Disposition::CreateAlways) &&
        has_no_write_permission(st)) {
        set_error(Error::AccessDenied);
        return Handle::Invalid;
    }
    int flags = access == Access::Read ? O_RDONLY : access == Access::Write ? O_WRONLY : O_RDWR;
    if (disposition == Disposition::CreateAlways) flags |= O_CREAT;
    if (disposition == Disposition::CreateNew) flags |= O_CREAT | O_EXCL;
    // O_NONBLOCK: should a pipe have taken the file's place since the look above, the open
    // returns at once and the check below refuses it.
    int fd = ::open(t.host.c_str(), flags | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0666);
    if (fd < 0) {
        set_errno_error(errno);
        return Handle::Invalid;
    }
    struct stat looked = st;
    if (::fstat(fd, &st) != 0) {
        set_errno_error(errno);
        ::close(fd);
        return Handle::Invalid;
    }
    if (!S_ISREG(st.st_mode) || (exists && (st.st_dev != looked.st_dev || st.st_ino != looked.st_ino))) {
        if (S_ISREG(st.st_mode)) set_error(Error::SharingViolation);  // another file took the name meanwhile
        else set_error(Error::AccessDenied, ESPIPE);
        ::close(fd);
        return Handle::Invalid;
    }
    FileKey key{st.st_dev, st.st_ino};
    if (!claim_open_file(fd, key)) {
        ::close(fd);
        set_error(Error::SharingViolation);
        return Handle::Invalid;
    }
    // Truncate only once the file is ours: CREATE_ALWAYS on a file someone holds must fail
    // without destroying its contents.
    if (disposition == Disposition::CreateAlways && ::ftruncate(fd, 0) != 0) {
        int err = errno;
        os::close_file(static_cast<Handle>(fd));
        set_errno_error(err);
        return Handle::Invalid;
    }
    set_error(Error::None);
    return static_cast<Handle>(fd);
}

bool os::read_file(Handle h, void* buffer, std::uint32_t count, std::uint32_t* bytes_read) {
    *bytes_read = 0;
    auto* out = static_cast<char*>(buffer);
    while (*bytes_read < count) {
        ssize_t n = ::read(fd_of(h), out + *bytes_read, count - *bytes_read);
        if (n < 0) {
            if (errno == EINTR) continue;
            set_errno_error(errno);
            return false;
        }
        if (n == 0) break;
        *bytes_read += static_cast<std::uint32_t>(n);
    }
    return true;
}

bool os::read_at(Handle h, std::int64_t offset, void* buffer, std::uint32_t count, std::uint32_t* bytes_read) {
    *bytes_read = 0;
    auto* out = static_cast<char*>(buffer);
    while (*bytes_read < count) {
        ssize_t n = ::pread(fd_of(h), out + *bytes_read, count - *bytes_read, static_cast<off_t>(offset + *bytes_read));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) break;
        *bytes_read += static_cast<std::uint32_t>(n);
    }
    return true;
}

bool os::write_file(Handle h, const void* buffer, std::uint32_t count, std::uint32_t* bytes_written) {
    *bytes_written = 0;
    const auto* in = static_cast<const char*>(buffer);
    while (*bytes_written < count) {
        ssize_t n = ::write(fd_of(h), in + *bytes_written, count - *bytes_written);
        if (n < 0) {
            if (errno == EINTR) continue;
            set_errno_error(errno);
            return false;
        }
        *bytes_written += static_cast<std::uint32_t>(n);
    }
    note_written(fd_of(h), *bytes_written);
    return true;
}

std::int64_t os::seek_file(Handle h, std::int64_t offset, SeekFrom from) {
    int whence = from == SeekFrom::Begin ? SEEK_SET : from == SeekFrom::Current ? SEEK_CUR : SEEK_END;
    off_t r = ::lseek(fd_of(h), static_cast<off_t>(offset), whence);
    if (r < 0) {
        set_errno_error(errno);
        return -1;
    }
    return r;
}

std::int64_t os::file_size(Handle h) {
    struct stat st;
    if (::fstat(fd_of(h), &st) != 0) {
        set_errno_error(errno);
        return -1;
    }
    return st.st_size;
}

bool os::flush_file(Handle h) {
    if (::fsync(fd_of(h)) != 0) {
        set_errno_error(errno);
        return false;
    }
    return true;
}

namespace {

// The source of a copy ended before the length asked for; ENODATA carries it to the words.
void set_ended_early_error() { set_error(Error::Other, ENODATA); }

// Writes all of `count` bytes, going on after a signal or a partial write.
bool write_fully(int fd, const char* bytes, std::size_t count) {
    while (count > 0) {
        ssize_t n = ::write(fd, bytes, count);
        if (n < 0) {
            if (errno == EINTR) continue;
            set_errno_error(errno);
            return false;
        }
        bytes += n;
        count -= static_cast<std::size_t>(n);
    }
    return true;
}

// Asks the kernel to copy, in steps of the writeback size so that the disk starts writing
// while the copy goes on. Leaves `*unsupported` set, having copied what it did, where the
// kernel cannot copy between these two files (another file system, an old kernel).
bool copy_in_kernel(int in, off_t* offset, int out, std::int64_t* left, bool* unsupported) {
    while (*left > 0) {
        std::size_t step = static_cast<std::size_t>(std::min<std::int64_t>(*left, kWritebackStep));
        ssize_t n = ::copy_file_range(in, offset, out, nullptr, step, 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            if (errno == EXDEV || errno == ENOSYS || errno == EINVAL || errno == EOPNOTSUPP) {
                *unsupported = true;
                return false;
            }
            set_errno_error(errno);
            return false;
        }
        if (n == 0) {
            set_ended_early_error();
            return false;
        }
        *left -= n;
        note_written(out, static_cast<std::uint32_t>(n));
        report::keep_alive();
    }
    return true;
}

bool copy_through_buffer(int in, off_t offset, int out, std::int64_t left) {
    std::unique_ptr<char[]> buffer(new char[kCopyBufferSize]);
    while (left > 0) {
        std::size_t want = static_cast<std::size_t>(std::min<std::int64_t>(left, kCopyBufferSize));
        ssize_t got = ::pread(in, buffer.get(), want, offset);
        if (got < 0) {
            if (errno == EINTR) continue;
            set_errno_error(errno);
            return false;
        }
        if (got == 0) {
            set_ended_early_error();
            return false;
        }
        if (!write_fully(out, buffer.get(), static_cast<std::size_t>(got))) return false;
        note_written(out, static_cast<std::uint32_t>(got));
        offset += got;
        left -= got;
        report::keep_alive();
    }
    return true;
}

}  // namespace

void os::leave_in_cache(Handle h) { note_scratch(fd_of(h)); }

// The source is read with sharing, as Windows' CopyFile reads it: past the layer's own
// exclusive opens (a plain descriptor), so that a file another opener holds can be copied. The
// copy is a new file of the layer's own.
bool os::copy_file(const char* from, const char* to) {
    Translated t = translate(from);
    if (!t.ok || t.parent_missing) {
        set_refusal_error(from, t);
        return false;
    }
    int in = ::open(t.host.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    struct stat st;
    if (in < 0 || ::fstat(in, &st) != 0 || !S_ISREG(st.st_mode)) {
        in < 0 ? set_errno_error(errno) : set_error(Error::AccessDenied, EISDIR);
        if (in >= 0) ::close(in);
        return false;
    }
    Handle out = os::open_file(to, Access::Write, Disposition::CreateNew);
    bool ok = out != Handle::Invalid;
    std::vector<char> buffer(ok ? 1 << 20 : 0);
    while (ok) {
        ssize_t got = ::read(in, buffer.data(), buffer.size());
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) set_errno_error(errno);
        if (got <= 0) {
            ok = got == 0;
            break;
        }
        std::uint32_t put = 0;
        ok = os::write_file(out, buffer.data(), static_cast<std::uint32_t>(got), &put) && put == static_cast<std::uint32_t>(got);
    }
    ok = ok && os::flush_file(out);
    SavedError why = saved_error();
    if (out != Handle::Invalid && !os::close_file(out) && ok) ok = false, why = saved_error();
    ::close(in);
    restore_error(why);
    return ok;
}

// POSIX names have no short forms; the layer matches a name's case when it opens it.
std::string os::long_path_name(const char* path) { return path; }

// No system service deletes a file at the next start.
bool os::delete_at_restart(const char*) {
    set_errno_error(ENOSYS);
    return false;
}

bool os::copy_range(Handle from, std::int64_t from_offset, Handle to, std::int64_t length) {
    if (from_offset < 0 || length < 0) {
        set_error(Error::Other, EINVAL);
        return false;
    }
    off_t offset = static_cast<off_t>(from_offset);
    std::int64_t left = length;
    bool unsupported = false;
    if (copy_in_kernel(fd_of(from), &offset, fd_of(to), &left, &unsupported)) return true;
    return unsupported && copy_through_buffer(fd_of(from), offset, fd_of(to), left);
}

bool os::close_file(Handle h) {
    int fd = fd_of(h);
    forget_open_file(fd);
    if (::close(fd) != 0) {
        set_errno_error(errno);
        return false;
    }
    return true;
}

Error last_error() { return g_last_error; }

std::string last_error_text() {
    // A lock held by another opener surfaces as EWOULDBLOCK, whose words mean nothing here.
    if (g_last_error == Error::SharingViolation) return "the file is in use by another program";
    if (g_last_errno == ENODATA) return "the file ended before the bytes to be copied";
    if (g_last_errno == ESPIPE) return "it is not a plain file (a pipe, a device or a socket)";
    if (g_last_errno == ESTALE) return "the name no longer names the file that was written: something took its place";
    if (g_last_errno == EILSEQ)
        return "the file name holds a wildcard, or a character that code page " + std::to_string(code_page().number) +
               " cannot hold";
    if (g_last_errno) return std::strerror(g_last_errno);
    switch (g_last_error) {
        case Error::None: return "no error was reported";
        case Error::FileNotFound:
        case Error::PathNotFound: return std::strerror(ENOENT);
        case Error::SharingViolation: break;
        case Error::AccessDenied: return "the file is read-only";
        case Error::DiskFull: return std::strerror(ENOSPC);
        case Error::NameTooLong: return std::strerror(ENAMETOOLONG);
        case Error::AlreadyExists: return std::strerror(EEXIST);
        case Error::Other: break;
    }
return "unknown error";
}

// ---- names ---------------------------------------------------------------------------------

bool os::exists(const char* path) {
    Translated t = translate(path);
    return t.ok && !t.parent_missing && host_exists(t.host);
}

bool os::is_directory(const char* path) {
    Translated t = translate(path);
    struct stat st;
    return t.ok && !t.parent_missing && ::stat(t.host.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool os::delete_file(const char* path) {
    Translated t = translate(path);
    if (!t.ok || t.parent_missing) {
        set_refusal_error(path, t);
        return false;
    }
    if (os::is_directory(path)) {
        set_error(Error::AccessDenied, EISDIR);
        return false;
    }
    // Windows cannot delete a file that is open without delete sharing.
    if (is_held_open(t.host)) {
        set_error(Error::SharingViolation);
        return false;
    }
    if (::unlink(t.host.c_str()) != 0) {
        set_errno_error(errno);
        return false;
    }
    return true;
}

namespace {

// Both names of a rename in host form; false, with the error set, when either is refused.
bool translate_both(const char* from, const char* to, Translated* src, Translated* dst) {
    *src = translate(from);
    *dst = translate(to);
    if (!src->ok || src->parent_missing) {
        set_refusal_error(from, *src);
        return false;
    }
    if (!dst->ok || dst->parent_missing) {
        set_refusal_error(to, *dst);
        return false;
    }
    return true;
}

bool is_unsupported_flush(int err) { return err == EINVAL || err == ENOTSUP || err == EOPNOTSUPP || err == ENOSYS; }

}  // namespace

bool os::flush_named_file(const char* path) {
    Translated t = translate(path);
    if (!t.ok || t.parent_missing) {
        set_refusal_error(path, t);
        return false;
    }
    int fd = ::open(t.host.c_str(), O_RDONLY | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) {
        set_errno_error(errno);
        return false;
    }
    bool synced = ::fsync(fd) == 0;
    int sync_errno = errno;
    ::close(fd);
    if (!synced) set_errno_error(sync_errno);
    return synced;
}

bool os::rename_file(const char* from, const char* to, RenameMode mode, Handle held) {
    Translated src, dst;
    if (!translate_both(from, to, &src, &dst)) return false;
    if (mode == RenameMode::NoReplace && host_exists(dst.host)) {
        set_error(Error::AlreadyExists, EEXIST);
        return false;
    }
    // Windows renames neither a file another opener holds nor over one.
    if (held_by_other_than(src.host, held) || held_by_other_than(dst.host, held)) {
        set_error(Error::SharingViolation);
        return false;
    }
    if (::rename(src.host.c_str(), dst.host.c_str()) != 0) {
        set_errno_error(errno);
        return false;
    }
    return true;
}

os::FolderFlush os::flush_folder(const char* dir) {
    Translated t = translate(dir);
    if (!t.ok || t.parent_missing) {
        set_refusal_error(dir, t);
        return FolderFlush::Failed;
    }
    int fd = ::open(t.host.empty() ? "." : t.host.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        set_errno_error(errno);
        return FolderFlush::Failed;
    }
    int err = ::fsync(fd) == 0 ? 0 : errno;
    ::close(fd);
    if (err == 0) return FolderFlush::Done;
    if (is_unsupported_flush(err)) return FolderFlush::Unsupported;
    set_errno_error(err);
    return FolderFlush::Failed;
}

bool os::renames_over_held_files() { return true; }

std::int64_t os::free_disk_bytes(const char* dir) {
    Translated t = translate(dir);
    struct statvfs vfs;
    if (!t.ok || t.parent_missing || ::statvfs(t.host.c_str(), &vfs) != 0) return -1;
    return static_cast<std::int64_t>(vfs.f_bavail) * static_cast<std::int64_t>(vfs.f_frsize);
}

std::int64_t os::modified_time(const char* path) {
    Translated t = translate(path);
    struct stat st;
    if (!t.ok || t.parent_missing || ::stat(t.host.c_str(), &st) != 0) return -1;
    return static_cast<std::int64_t>(st.st_mtime);
}

bool os::list_directory(const char* dir, std::vector<std::string>* names) {
    Translated t = translate(dir);
    if (!t.ok || t.parent_missing) {
        set_refusal_error(dir, t);
        return false;
    }
    DIR* d = ::opendir(t.host.c_str());
    if (!d) {
        set_errno_error(errno);
        return false;
    }
    names->clear();
    while (dirent* e = ::readdir(d)) {
        std::string name = e->d_name;
        if (name == "." || name == "..") continue;
        std::string core;
        utf8_to_code_page(name, &core);
        names->push_back(core);
    }
    ::closedir(d);
    return true;
}

bool os::copy_file_attributes(const char* from, const char* to) {
    Translated src = translate(from);
    Translated dst = translate(to);
    struct stat st;
    if (!src.ok || !dst.ok || ::stat(src.host.c_str(), &st) != 0) {
        set_error(Error::FileNotFound, ENOENT);
        return false;
    }
    if (::chmod(dst.host.c_str(), st.st_mode & 07777) != 0) {
        set_errno_error(errno);
        return false;
    }
    // Only root may give a file away; for everyone else the owner is already theirs.
    if (::chown(dst.host.c_str(), st.st_uid, st.st_gid) != 0 && errno != EPERM) {
        set_errno_error(errno);
        return false;
    }
    // chown may clear set-id bits: put the mode back once more.
    ::chmod(dst.host.c_str(), st.st_mode & 07777);
    return true;
}

bool os::is_read_only(const char* path) {
    Translated t = translate(path);
    struct stat st;
    return t.ok && !t.parent_missing && ::stat(t.host.c_str(), &st) == 0 && !S_ISDIR(st.st_mode) &&
           has_no_write_permission(st);
}

bool os::create_directory(const char* path) {
    Translated t = translate(path);
    if (!t.ok || t.parent_missing) {
        set_refusal_error(path, t);
        return false;
    }
    if (::mkdir(t.host.c_str(), 0777) != 0) {
        set_errno_error(errno);
        return false;
    }
    return true;
}

bool os::set_read_only(const char* path, bool read_only) {
    Translated t = translate(path);
    struct stat st;
    if (!t.ok || t.parent_missing || ::stat(t.host.c_str(), &st) != 0) {
        if (t.ok && !t.parent_missing) set_errno_error(errno);
        else set_refusal_error(path, t);
        return false;
    }
    mode_t mode = read_only ? (st.st_mode & ~(S_IWUSR | S_IWGRP | S_IWOTH)) : (st.st_mode | S_IWUSR);
    if (::chmod(t.host.c_str(), mode & 07777) != 0) {
        set_errno_error(errno);
        return false;
    }
    return true;
}

bool os::remove_directory(const char* path) {
    Translated t = translate(path);
    if (!t.ok || t.parent_missing || ::rmdir(t.host.c_str()) != 0) {
        if (t.ok && !t.parent_missing) set_errno_error(errno);
        else set_refusal_error(path, t);
        return false;
    }
    return true;
}

std::FILE* os::open_text(const char* path, const char* mode) {
    Translated t = translate(path);
    if (!t.ok || t.parent_missing) {
        set_refusal_error(path, t);
        return nullptr;
    }
    if (os::is_directory(path)) {
        set_error(Error::AccessDenied, EISDIR);
        return nullptr;
    }
    if (struct stat st; ::stat(t.host.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
        set_error(Error::AccessDenied, ESPIPE);  // a pipe would block the open
        return nullptr;
    }
    std::FILE* f = std::fopen(t.host.c_str(), mode);
    if (!f) set_errno_error(errno);
    return f;
}

Handle os::duplicate_file(Handle h) {
    int fd = ::fcntl(fd_of(h), F_DUPFD_CLOEXEC, 0);
    if (fd < 0) {
        set_errno_error(errno);
        return Handle::Invalid;
    }
    if (::lseek(fd, 0, SEEK_SET) < 0) {
        set_errno_error(errno);
        ::close(fd);
        return Handle::Invalid;
    }
    set_error(Error::None);
    return static_cast<Handle>(fd);
}

std::FILE* os::open_text_on(Handle h, const char* mode) {
    std::FILE* f = ::fdopen(fd_of(h), mode);
    if (!f) {
        set_errno_error(errno);
        os::close_file(h);
    }
    return f;
}

// The name is renamed only while it still names the held file: a name that another took over
// since is left alone.
bool os::rename_held(Handle h, const char* from, const char* to) {
    Translated src = translate(from);
    if (!src.ok || src.parent_missing) {
        set_refusal_error(from, src);
        return false;
    }
    struct stat held, named;
    if (::fstat(fd_of(h), &held) != 0) {
        set_errno_error(errno);
        return false;
    }
    if (::lstat(src.host.c_str(), &named) != 0 || named.st_dev != held.st_dev || named.st_ino != held.st_ino) {
        set_error(Error::AccessDenied, ESTALE);
        return false;
    }
    return os::rename_file(from, to, RenameMode::Replace, h);
}

namespace {

// A host name in the code page; see from_native_path for what becomes of what it cannot hold.
std::string core_text(const std::string& host) {
    std::string out;
    utf8_to_code_page(host, &out);
    return out;
}

}  // namespace

std::string from_native_path(const char* native) {
    std::string p = native;
    if (p.size() >= 2 && p[1] == ':' && std::isalpha(static_cast<unsigned char>(p[0]))) {
        for (char& c : p) c = c == '/' ? '\\' : c;  // already a drive path, as in the game's files
        return core_text(p);
    }
    bool trailing = !p.empty() && p.back() == '/';
    if (p.empty() || p[0] != '/') p = join(host_cwd(), p);
    std::string real = real_path_or_self(p);
    if (real == p) {
        // Not there (yet): resolve what does exist and keep the last component as given.
        std::size_t slash = p.rfind('/');
        if (slash != std::string::npos && slash > 0) {
            std::string parent = real_path_or_self(p.substr(0, slash));
            real = join(parent, p.substr(slash + 1));
        }
    }
    real = strip_trailing_slashes(real);
    auto [letter, rest] = drives().drive_of(real);
    std::string out;
    out += letter;
    out += ':';
    for (char c : core_text(rest)) out += c == '/' ? '\\' : c;
    if (out.size() == 2) out += '\\';
    else if (trailing) out += '\\';
    return out;
}

std::string to_native_path(const char* path) {
    Translated t = translate(path);
    return t.ok ? t.host : code_page_to_utf8(path);
}

std::string to_host_text(const std::string& text) { return code_page_to_utf8(text); }

void print_text(std::FILE* stream, const std::string& text, int code_page) {
    std::string host = code_page == kUtf8CodePage ? text : code_page == 0 ? to_host_text(text) : to_host_text(text, code_page);
    std::fwrite(host.data(), 1, host.size(), stream);
}

std::string to_host_text(const std::string& text, int code_page) {
    std::optional<std::array<char32_t, 256>> characters = code_page_characters(code_page);
    if (!characters) return to_host_text(text);
    std::string out;
    for (char c : text) append_utf8(&out, (*characters)[static_cast<unsigned char>(c)]);
    return out;
}

std::string os::current_directory() { return from_native_path(host_cwd().c_str()); }

bool os::change_directory(const char* path) {
    Translated t = translate(path);
    if (!t.ok || t.parent_missing || ::chdir(t.host.c_str()) != 0) {
        if (t.ok && !t.parent_missing) set_errno_error(errno);
        else set_refusal_error(path, t);
        return false;
    }
    return true;
}

std::string os::temp_directory() {
    const char* tmp = std::getenv("TMPDIR");
    std::string dir = from_native_path(tmp && *tmp ? tmp : "/tmp");
    if (dir.back() != '\\') dir += '\\';
    return dir;
}

std::string program_path() {
    // The kernel's link names the executable itself, with every symbolic link on the way
    // resolved, so a program started through a link in another folder still finds its own.
    std::string host(PATH_MAX, '\0');
    ssize_t n = ::readlink("/proc/self/exe", host.data(), host.size());
    if (n <= 0 || static_cast<std::size_t>(n) >= host.size()) {
        if (n < 0) set_errno_error(errno);
        return {};
    }
    host.resize(static_cast<std::size_t>(n));
    return from_native_path(host.c_str());
}

// In the core's code page like every text of the core; the faces convert what they print.
std::string display_path(const std::string& path) {
    std::string shown;
    utf8_to_code_page(to_native_path(path.c_str()), &shown);
    return shown;
}

std::uint32_t process_id() { return static_cast<std::uint32_t>(::getpid()); }

// Signal 0 checks without sending: a process that exists but is another user's says EPERM.
bool os::process_running(std::uint32_t id) {
    if (id > static_cast<std::uint32_t>(INT_MAX)) return false;
    return ::kill(static_cast<pid_t>(id), 0) == 0 || errno != ESRCH;
}

bool write_standard_output(const void* bytes, std::size_t count) {
    if (std::fwrite(bytes, 1, count, stdout) != count || std::fflush(stdout) != 0) {
        set_errno_error(errno);
        return false;
    }
    return true;
}

bool stdin_is_terminal() { return ::isatty(0) == 1; }

std::uint32_t tick_count() {
    timespec ts;
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<std::uint32_t>(static_cast<std::uint64_t>(ts.tv_sec) * 1000u +
                                      static_cast<std::uint64_t>(ts.tv_nsec) / 1000000u);
}

void sleep_ms(std::uint32_t ms) { ::usleep(static_cast<useconds_t>(ms) * 1000u); }

void* memory_alloc(std::size_t bytes) { return std::malloc(bytes); }
void memory_free(void* block) { std::free(block); }

}  // namespace plat
