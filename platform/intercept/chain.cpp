// The public file operations of platform.h, each defined once as a chain in front of the
// system: a test's fault injection first (a failed call does nothing at all), then the dry
// run's overlay (which may answer the call itself, on its view), then the journal's watcher
// (which keeps the old file before it changes), then the plain call of os/. The system files
// hold no hook, so the two systems cannot drift apart in what the services see.
//
// A rename that must survive a power cut is three steps, each its own call with its own
// injection point, so that tests can cut between any two: the new file's data is flushed, the
// name changes, the folder that holds the name is flushed.
#include "platform/platform.h"

#include <cstring>
#include <string>

#include "platform/intercept/file_changes.h"
#include "platform/intercept/held_files.h"
#include "platform/intercept/intercept.h"
#include "platform/intercept/overlay.h"
#include "platform/os/os.h"
#include "platform/rules/winpath.h"

namespace plat {

namespace {

using detail::injected;

// The file system the chain ends in: the system's, or a test's in its place.
const os::FileSystem& fs() { return os::file_system(); }

Durability g_durability;

// The last file refused as in use or not writable, for the advice of a failure.
thread_local RefusedFile g_refused;

void note_refusal(const char* path) {
    Error e = last_error();
    if (e == Error::SharingViolation || e == Error::AccessDenied) g_refused = {path, e};
}

void note_folder_flush_unsupported(const std::string& dir) {
    if (g_durability.folder_flush_unsupported) return;
    g_durability.folder_flush_unsupported = true;
    g_durability.first_folder = dir;
}

// The folder that holds `path`'s last name, in the same form: "c:\game\" for "c:\game\a.dat",
// "." for a bare name (the current directory).
std::string folder_of(const char* path) {
    std::string p = path;
    std::size_t cut = p.find_last_of("\\/");
    if (cut == std::string::npos) return p.size() >= 2 && p[1] == ':' ? p.substr(0, 2) : ".";
    return p.substr(0, cut + 1);
}

bool same_folder(const std::string& a, const std::string& b) { return names_equal_ignoring_case(a, b); }

// Makes the name changes in `dir` durable. A file system that cannot flush a folder counts as
// done, and is noted once for the log; an I/O error fails the step.
bool flush_folder_step(const std::string& dir) {
    if (injected(FaultOp::FlushFolder)) return false;
    if (detail::overlay_active()) return true;  // the view changes no folder on the disk
    switch (fs().flush_folder(dir.c_str())) {
        case os::FolderFlush::Done: return true;
        case os::FolderFlush::Unsupported: note_folder_flush_unsupported(dir); return true;
        case os::FolderFlush::Failed: return false;
    }
    return false;
}

// The file's data reaches the disk before any name points at it. The view's files are
// scratch copies, removed when the run ends: nothing of them has to last, as with folders.
bool flush_data_step(const char* path) {
    if (injected(FaultOp::Flush)) return false;
    return detail::overlay_active() || fs().flush_named_file(path);
}

// Both folders of a rename hold a changed entry: the new name's, and the old name's removal.
bool flush_folders_of_rename(const char* from, const char* to) {
    std::string target = folder_of(to), source = folder_of(from);
    if (!flush_folder_step(target)) return false;
    return same_folder(source, target) || flush_folder_step(source);
}

// The rename itself, made durable: `from`'s data first (when asked), the rename, the folders.
bool durable_rename(const char* from, const char* to, os::RenameMode mode, Handle held, bool flush_data) {
    if (flush_data && !flush_data_step(from)) return false;
    return fs().rename_file(from, to, mode, held) && flush_folders_of_rename(from, to);
}

// Every replacement of a file by another: injection, the view, the watcher, the durable rename.
bool replace_chain(const char* from, const char* to, Handle held, bool flush_data) {
    if (injected(FaultOp::Replace)) return false;
    detail::held_let_go(from);
    detail::held_let_go(to);
    if (bool done; detail::overlay_rename(from, to, true, &done)) return done;
    return detail::announce_replace(from, to, held) &&
           durable_rename(from, to, os::RenameMode::Replace, held, flush_data);
}

}  // namespace

// ---- files ----------------------------------------------------------------------------------

Handle open_file(const char* path, Access access, Disposition disposition) {
    if (injected(FaultOp::Open)) return Handle::Invalid;
    // A file the run holds is read through its hold, never through what its name leads to now.
    if (access == Access::Read && disposition == Disposition::OpenExisting) {
        bool answered = false;
        Handle h = detail::held_open(path, &answered);
        if (answered) return h;
    } else {
        detail::held_let_go(path);
    }
    std::string in_view;
    if (!detail::overlay_resolve(path, detail::overlay_use(access, disposition), &in_view)) return Handle::Invalid;
    if (!detail::announce_write(in_view.c_str(), access, disposition)) return Handle::Invalid;
    Handle h = fs().open_file(in_view.c_str(), access, disposition);
    if (h == Handle::Invalid) note_refusal(path);
    // While a view is set, every file opened for writing is one of its scratch copies.
    if (h != Handle::Invalid && access != Access::Read && detail::overlay_active()) fs().leave_in_cache(h);
    return h;
}

std::FILE* open_text(const char* path, const char* mode) {
    if (injected(FaultOp::Open)) return nullptr;
    if (mode[0] == 'r' && !std::strchr(mode, '+')) {
        bool answered = false;
        Handle h = detail::held_open(path, &answered);
        if (answered) return h == Handle::Invalid ? nullptr : fs().open_text_on(h, mode);
    } else {
        detail::held_let_go(path);
    }
    std::string in_view;
    if (!detail::overlay_resolve(path, detail::overlay_use(path, mode), &in_view)) return nullptr;
    if (!detail::announce_text_write(in_view.c_str(), mode)) return nullptr;
    return fs().open_text(in_view.c_str(), mode);
}

bool read_file(Handle h, void* buffer, std::uint32_t count, std::uint32_t* bytes_read) {
    *bytes_read = 0;
    return !injected(FaultOp::Read) && fs().read_file(h, buffer, count, bytes_read);
}

bool write_file(Handle h, const void* buffer, std::uint32_t count, std::uint32_t* bytes_written) {
    *bytes_written = 0;
    return !injected(FaultOp::Write) && fs().write_file(h, buffer, count, bytes_written);
}

// Every file written while a view is set is the view's: see flush_data_step.
bool flush_file(Handle h) {
    if (injected(FaultOp::Flush)) return false;
    return detail::overlay_active() || fs().flush_file(h);
}

bool copy_range(Handle from, std::int64_t from_offset, Handle to, std::int64_t length) {
    return !injected(FaultOp::Copy) && fs().copy_range(from, from_offset, to, length);
}

bool read_at(Handle h, std::int64_t offset, void* buffer, std::uint32_t count, std::uint32_t* bytes_read) {
    return fs().read_at(h, offset, buffer, count, bytes_read);
}

std::int64_t seek_file(Handle h, std::int64_t offset, SeekFrom from) { return fs().seek_file(h, offset, from); }
std::int64_t file_size(Handle h) { return fs().file_size(h); }
bool close_file(Handle h) { return fs().close_file(h); }

// ---- names ----------------------------------------------------------------------------------

bool file_exists(const char* path) {
    if (bool in_view; detail::overlay_exists(path, &in_view)) return in_view;
    return fs().exists(path);
}

bool is_directory(const char* path) {
    if (bool in_view; detail::overlay_exists(path, &in_view)) return false;  // the view holds files only
    return fs().is_directory(path);
}

bool is_read_only(const char* path) {
    std::string in_view;
    return detail::overlay_resolve(path, Overlay::Use::Read, &in_view) && fs().is_read_only(in_view.c_str());
}

bool delete_file(const char* path) {
    if (injected(FaultOp::Delete)) return false;
    detail::held_let_go(path);
    if (bool done; detail::overlay_remove(path, &done)) return done;
    if (int announced = detail::announce_delete(path); announced != 0) return announced > 0;
    if (fs().delete_file(path)) return true;
    note_refusal(path);
    return false;
}

bool replace_file(const char* from, const char* to) {
    if (replace_chain(from, to, Handle::Invalid, true)) return true;
    note_refusal(to);
    return false;
}

bool replace_locked_file(const char* from, const char* to, Handle target_lock) {
    File lock(target_lock);  // closed in every case
    // Windows renames nothing over a file that is open without delete sharing, and the game's
    // files are opened without sharing: there the lock is let go just before the rename, and
    // for that moment another program could open the old file. POSIX renames over a held
    // file, so there the lock is kept through the rename: an opener before it finds the file
    // locked, one after it gets the new file.
    if (!fs().renames_over_held_files()) lock.close();
    // The safe rewrite, its one caller, flushed the new file through its own handle just before.
    bool ok = replace_chain(from, to, lock.get(), false);
    if (!ok) note_refusal(to);
    os::SavedError why = os::saved_error();
    lock.close();
    os::restore_error(why);
    return ok;
}

bool move_held_file(const char* from, const char* to) {
    if (injected(FaultOp::Replace)) return false;
    std::string location;
    Handle h = detail::held_handle(from, &location);
    // The view of a dry run holds its carried files where they lie (hold_also_as).
    if (h == Handle::Invalid || detail::overlay_active()) {
        os::set_error_kind(Error::AccessDenied);
        return false;
    }
    detail::held_let_go(to);
    if (!detail::announce_replace(location.c_str(), to, Handle::Invalid)) return false;
    if (injected(FaultOp::Flush) || !fs().flush_file(h)) return false;
    if (!fs().rename_held(h, location.c_str(), to)) return false;
    // Held under its new name from the rename on, so that a roll-back after a failed folder
    // flush lets it go before it removes the name.
    detail::held_moved(from, to);
    return flush_folders_of_rename(location.c_str(), to);
}

bool move_file(const char* from, const char* to, Handle held) {
    if (injected(FaultOp::Replace)) return false;
    detail::held_let_go(to);
    if (bool done; detail::overlay_rename(from, to, false, &done)) return done;
    return durable_rename(from, to, os::RenameMode::NoReplace, held, false);
}

bool flush_folder(const char* dir) { return flush_folder_step(dir); }

RefusedFile last_refused_file() { return g_refused; }
void clear_refused_file() { g_refused = {}; }

const Durability& durability() { return g_durability; }
void reset_durability() { g_durability = Durability{}; }

bool copy_file_attributes(const char* from, const char* to) {
    std::string from_view, to_view;
    return detail::overlay_resolve(from, Overlay::Use::Read, &from_view) &&
           detail::overlay_resolve(to, Overlay::Use::Read, &to_view) &&
           fs().copy_file_attributes(from_view.c_str(), to_view.c_str());
}

bool set_read_only(const char* path, bool read_only) {
    std::string in_view;
    return detail::overlay_resolve(path, Overlay::Use::Write, &in_view) && fs().set_read_only(in_view.c_str(), read_only);
}

// The view holds files only: while it is set, nothing may change a folder.
bool create_directory(const char* path) {
    if (detail::overlay_active()) {
        os::set_error_kind(Error::AccessDenied);
        return false;
    }
    return fs().create_directory(path);
}

bool remove_directory(const char* path) {
    if (detail::overlay_active()) {
        os::set_error_kind(Error::AccessDenied);
        return false;
    }
    return fs().remove_directory(path);
}

bool list_directory(const char* dir, std::vector<std::string>* names) { return fs().list_directory(dir, names); }
std::int64_t free_disk_bytes(const char* dir) { return fs().free_disk_bytes(dir); }
std::int64_t modified_time(const char* path) { return fs().modified_time(path); }
std::string long_path_name(const char* path) { return fs().long_path_name(path); }

bool copy_file(const char* from, const char* to) {
    if (injected(FaultOp::Copy)) return false;
    // The view holds the game's files only; a copy is made elsewhere or not at all.
    if (detail::overlay_active()) {
        os::set_error_kind(Error::AccessDenied);
        return false;
    }
    return fs().copy_file(from, to);
}

bool delete_at_restart(const char* path) {
    if (detail::overlay_active()) {
        os::set_error_kind(Error::AccessDenied);
        return false;
    }
    return fs().delete_at_restart(path);
}

// ---- the current directory ------------------------------------------------------------------

std::string current_directory() { return fs().current_directory(); }
bool change_directory(const char* path) { return fs().change_directory(path); }
std::string temp_directory() { return fs().temp_directory(); }

bool process_running(std::uint32_t id) { return fs().process_running(id); }

}  // namespace plat
