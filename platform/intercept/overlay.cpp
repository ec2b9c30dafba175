// The overlay's view; see overlay.h. Its own file operations go to the disk, never through the
// view: a guard turns the view off while they run.
#include "platform/intercept/overlay.h"

#include <algorithm>
#include <cctype>

#include "platform/os/os.h"
#include "platform/rules/winpath.h"

namespace plat {

namespace {

Overlay* g_overlay = nullptr;
thread_local bool g_inside = false;  // the overlay's own operations are under way

class OwnOperations {
public:
    OwnOperations() : was_(g_inside) { g_inside = true; }
    ~OwnOperations() { g_inside = was_; }

private:
    bool was_;
};

bool active() { return g_overlay && !g_inside; }

std::string parent_of(const std::string& path) {
    std::size_t cut = path.find_last_of("\\/");
    return cut == std::string::npos ? "" : path.substr(0, cut + 1);
}

// A copy of the whole file `from` as the new file `to`.
bool copy_whole_file(const std::string& from, const std::string& to) {
    File in = File::open(from.c_str(), Access::Read, Disposition::OpenExisting);
    if (!in.is_open()) return false;
    File out = File::open(to.c_str(), Access::Write, Disposition::CreateNew);
    if (!out.is_open()) return false;
    os::file_system().leave_in_cache(out.get());
    std::int64_t size = file_size(in.get());
    return size >= 0 && copy_range(in.get(), 0, out.get(), size) && out.close();
}

}  // namespace

Overlay::~Overlay() {
    OwnOperations own;
    for (const auto& [key, e] : entries_)
        if (!e.scratch.empty()) delete_file(e.scratch.c_str());
}

std::string Overlay::key_of(const char* path) {
    std::string p = path;
    WindowsPath parsed = parse_windows_path(p);
    if (!parsed.drive && !parsed.rooted) {
        std::string cwd = current_directory();
        if (!cwd.empty() && cwd.back() != '\\') cwd += '\\';
        parsed = parse_windows_path(cwd + p);
    }
    std::string key(1, parsed.drive ? parsed.drive : '?');
    key += ":";
    for (const std::string& c : parsed.components) {
        key += '\\';
        for (char ch : c) key += static_cast<char>(std::tolower(static_cast<unsigned char>(ch)));
    }
    return key;
}

Overlay::Entry* Overlay::find(const std::string& key) {
    auto it = entries_.find(key);
    return it == entries_.end() ? nullptr : &it->second;
}

std::string Overlay::new_scratch_name() { return scratch_dir_ + "view" + std::to_string(++next_); }

Overlay::Entry& Overlay::entry_for(const std::string& key, const char* path) {
    Entry& e = entries_[key];
    if (e.order == 0) {
        e.path = path;
        e.order = ++next_;
        e.existed = file_exists(path) && !is_directory(path);
    }
    return e;
}

bool Overlay::resolve(const char* path, Use use, std::string* actual) {
    OwnOperations own;
    std::string key = key_of(path);
    Entry* e = find(key);
    if (e && !e->deleted) {
        if (use == Use::CreateNew) {
            os::set_error_kind(Error::AlreadyExists);
            return false;
        }
        *actual = e->scratch;
        return true;
    }
    if (use == Use::Read) {
        if (e) {  // deleted in the view
            os::set_error_kind(Error::FileNotFound);
            return false;
        }
        *actual = path;
        return true;
    }
    if (!is_directory(parent_of(key_of(path)).c_str())) {
        os::set_error_kind(Error::PathNotFound);
        return false;
    }
    bool on_disk = !e && file_exists(path);
    if (on_disk && is_directory(path)) {
        os::set_error_kind(Error::AccessDenied);
        return false;
    }
    if (use == Use::CreateNew && on_disk) {
        os::set_error_kind(Error::AlreadyExists);
        return false;
    }
    // Windows refuses to write a read-only file; so does the view.
    if (on_disk && is_read_only(path)) {
        os::set_error_kind(Error::AccessDenied);
        return false;
    }
    if (use == Use::Write && !on_disk) {
        os::set_error_kind(Error::FileNotFound);
        return false;
    }
    std::string scratch = new_scratch_name();
    if (use == Use::Write && !copy_whole_file(path, scratch)) {
        Error why = last_error();
        delete_file(scratch.c_str());
        os::set_error_kind(why == Error::None ? Error::Other : why);
        return false;
    }
    Entry& entry = entry_for(key, path);
    entry.deleted = false;
    entry.scratch = scratch;
    *actual = scratch;
    return true;
}

bool Overlay::exists(const char* path, bool* answered) {
    OwnOperations own;
    Entry* e = find(key_of(path));
    *answered = e != nullptr;
    return e && !e->deleted;
}

bool Overlay::adopt(const std::string& path, const std::string& file) {
    OwnOperations own;
    std::string scratch = new_scratch_name();
    if (!copy_whole_file(file, scratch)) return false;
    Entry& e = entry_for(key_of(path.c_str()), path.c_str());
    if (!e.scratch.empty()) delete_file(e.scratch.c_str());
    e.deleted = false;
    e.scratch = scratch;
    return true;
}

bool Overlay::rename(const char* from, const char* to, bool replace) {
    OwnOperations own;
    std::string from_key = key_of(from), to_key = key_of(to);
    if (from_key == to_key) return true;
    Entry* source = find(from_key);
    bool source_on_disk = !source && file_exists(from) && !is_directory(from);
    if ((source && source->deleted) || (!source && !source_on_disk)) {
        os::set_error_kind(Error::FileNotFound);
        return false;
    }
    Entry* target = find(to_key);
    bool target_exists = target ? !target->deleted : file_exists(to);
    if (target_exists && !replace) {
        os::set_error_kind(Error::AlreadyExists);
        return false;
    }
    if (!target && !is_directory(parent_of(to_key).c_str())) {
        os::set_error_kind(Error::PathNotFound);
        return false;
    }
    std::string content;
    if (source) {
        content = source->scratch;
        source->scratch.clear();
        source->deleted = true;
    } else {
        content = new_scratch_name();
        if (!copy_whole_file(from, content)) {
            delete_file(content.c_str());
            return false;
        }
        entry_for(from_key, from).deleted = true;
    }
    Entry& t = entry_for(to_key, to);
    if (!t.scratch.empty()) delete_file(t.scratch.c_str());
    t.deleted = false;
    t.scratch = content;
    return true;
}

bool Overlay::remove(const char* path) {
    OwnOperations own;
    std::string key = key_of(path);
    Entry* e = find(key);
    if (e ? e->deleted : !(file_exists(path) && !is_directory(path))) {
        os::set_error_kind(Error::FileNotFound);
        return false;
    }
    Entry& entry = e ? *e : entry_for(key, path);
    if (!entry.scratch.empty()) delete_file(entry.scratch.c_str());
    entry.scratch.clear();
    entry.deleted = true;
    return true;
}

std::vector<Overlay::Change> Overlay::changes() const {
    std::vector<const Entry*> sorted;
    for (const auto& [key, e] : entries_) sorted.push_back(&e);
    std::sort(sorted.begin(), sorted.end(), [](const Entry* a, const Entry* b) { return a->order < b->order; });
    std::vector<Change> out;
    for (const Entry* e : sorted) {
        if (e->deleted && !e->existed) continue;  // made and removed again in the view
        Kind kind = e->deleted ? Kind::Deleted : e->existed ? Kind::Changed : Kind::Created;
        out.push_back({e->path, kind, e->scratch});
    }
    return out;
}

void use_overlay(Overlay* overlay) { g_overlay = overlay; }
Overlay* current_overlay() { return g_overlay; }

namespace detail {

bool overlay_resolve(const char* path, Overlay::Use use, std::string* actual) {
    if (!active()) {
        *actual = path;
        return true;
    }
    return g_overlay->resolve(path, use, actual);
}

bool overlay_exists(const char* path, bool* result) {
    if (!active()) return false;
    bool answered = false;
    *result = g_overlay->exists(path, &answered);
    return answered;
}

bool overlay_rename(const char* from, const char* to, bool replace, bool* result) {
    if (!active()) return false;
    *result = g_overlay->rename(from, to, replace);
    return true;
}

bool overlay_remove(const char* path, bool* result) {
    if (!active()) return false;
    *result = g_overlay->remove(path);
    return true;
}

bool overlay_active() { return active(); }

Overlay::Use overlay_use(Access access, Disposition disposition) {
    if (disposition == Disposition::CreateNew) return Overlay::Use::CreateNew;
    if (disposition == Disposition::CreateAlways) return Overlay::Use::WriteFresh;
    return access == Access::Read ? Overlay::Use::Read : Overlay::Use::Write;
}

Overlay::Use overlay_use(const char* path, const char* mode) {
    std::string m = mode;
    if (m.find('w') != std::string::npos) return Overlay::Use::WriteFresh;
    if (m.find('a') != std::string::npos) {
        bool exists = false;
        if (!overlay_exists(path, &exists)) exists = file_exists(path);
        return exists ? Overlay::Use::Write : Overlay::Use::WriteFresh;
    }
    return m.find('+') != std::string::npos ? Overlay::Use::Write : Overlay::Use::Read;
}

}  // namespace detail

}  // namespace plat
