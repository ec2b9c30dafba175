// The file system in memory: its files and folders, the table of calls that puts it behind the
// chain, and the states a power cut could leave.
#include "platform/memory/memory_file_system.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <set>

#include "platform/os/os.h"

namespace plat::memory {

namespace {

// ---- paths ----------------------------------------------------------------------------------

std::string lower(std::string s) {
    for (char& c : s)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return s;
}

std::string key_of(const std::string& path) { return lower(path); }

// "m:\a\b" -> "m:\a"; a drive's root ("m:") is its own folder.
std::string parent_of(const std::string& path) {
    std::size_t cut = path.rfind('\\');
    return cut == std::string::npos ? path : path.substr(0, cut);
}

bool is_root(const std::string& path) { return path.size() == 2 && path[1] == ':'; }

std::string last_name(const std::string& path) { return path.substr(path.rfind('\\') + 1); }

}  // namespace

// ---- the state ------------------------------------------------------------------------------

struct DataChange {
    std::int64_t offset = 0;
    std::string bytes;
    std::int64_t new_size = -1;  // not -1: the file's size is set to this
};

struct Node {
    bool folder = false;
    bool read_only = false;
    std::string data;                   // now
    std::string durable;                // as of the last flush
    std::vector<DataChange> unflushed;  // since the last flush, in the order made
    int opened = 0;                     // exclusive opens
};

struct Entry {
    std::string path;  // as the program spelt it
    std::uint64_t node = 0;
};
using Names = std::map<std::string, Entry>;  // by key: the path in lower case

// One create, rename or delete: the entries it sets (or removes), and the folders still to be
// flushed before it lasts.
struct NameChange {
    std::vector<std::pair<std::string, std::optional<Entry>>> writes;
    std::set<std::string> unflushed_folders;
};

struct OpenFile {
    std::uint64_t node = 0;
    std::int64_t position = 0;
    bool can_read = false, can_write = false, append = false, exclusive = false, in_use = false;
};

struct MemoryFileSystem::State {
    MemoryFileSystem* owner = nullptr;
    mutable std::recursive_mutex lock;
    std::map<std::uint64_t, Node> nodes;
    Names names;
    Names durable_names;
    std::vector<NameChange> pending;
    std::vector<OpenFile> opens;
    std::string current = "m:";
    std::uint64_t next_node = 1;
    long changes = 0;
    bool model_power_cuts = true;

    void clear() {
        nodes.clear();
        names.clear();
        durable_names.clear();
        pending.clear();
        opens.clear();
        current = "m:";
        changes = 0;
    }

    void change() {
        ++changes;
        if (owner->before_change) owner->before_change();
    }

    std::uint64_t new_node(bool folder) {
        std::uint64_t id = next_node++;
        nodes[id].folder = folder;
        return id;
    }

    // The absolute path `path` names, in the program's spelling, with "." and ".." taken out;
    // nullopt for a name that no file may have.
    std::optional<std::string> absolute(const char* path) const {
        std::string p = path;
        if (p.find_first_of("*?\"<>|") != std::string::npos) return std::nullopt;
        for (char& c : p) c = c == '/' ? '\\' : c;
        std::string drive, rest;
        if (p.size() >= 2 && p[1] == ':') {
            drive = p.substr(0, 2);
            rest = p.substr(2);
        } else if (!p.empty() && p[0] == '\\') {
            drive = current.substr(0, 2);
            rest = p;
        } else {
            drive = current.substr(0, 2);
            rest = current.substr(2) + "\\" + p;
        }
        std::vector<std::string> parts;
        std::size_t at = 0;
        while (at <= rest.size()) {
            std::size_t end = rest.find('\\', at);
            if (end == std::string::npos) end = rest.size();
            std::string part = rest.substr(at, end - at);
            if (part == "..") {
                if (!parts.empty()) parts.pop_back();
            } else if (!part.empty() && part != ".") {
                parts.push_back(part);
            }
            at = end + 1;
        }
        // Each folder on the way, and the name itself, as spelt when it was made.
        std::string out = drive;
        for (const std::string& part : parts) {
            out += "\\" + part;
            if (const Entry* e = find(out)) out = e->path;
        }
        return out;
    }

    const Entry* find(const std::string& path) const {
        auto it = names.find(key_of(path));
        return it == names.end() ? nullptr : &it->second;
    }
    bool is_folder(const std::string& path) const {
        if (is_root(path)) return true;
        const Entry* e = find(path);
        return e && nodes.at(e->node).folder;
    }
    // The error for a path whose last name is missing: the file, or a folder on the way.
    Error missing_error(const std::string& path) const {
        return is_folder(parent_of(path)) ? Error::FileNotFound : Error::PathNotFound;
    }

    // Applies a name change now, and keeps it pending until its folders are flushed.
    void make(NameChange c) {
        change();
        std::vector<std::uint64_t> unnamed;
        for (const auto& [key, entry] : c.writes) {
            if (auto it = names.find(key); it != names.end()) unnamed.push_back(it->second.node);
            if (entry) names[key] = *entry;
            else names.erase(key);
        }
        if (model_power_cuts) pending.push_back(std::move(c));
        else for (std::uint64_t node : unnamed) forget_if_unused(node);
    }

    // Without a model of power cuts, a file that no name and no handle reaches is gone, so that
    // a long fuzzing run does not fill the memory with the files it replaced.
    void forget_if_unused(std::uint64_t node) {
        for (const auto& [key, entry] : names)
            if (entry.node == node) return;
        for (const OpenFile& f : opens)
            if (f.in_use && f.node == node) return;
        nodes.erase(node);
    }

    NameChange create_entry(const std::string& path, std::uint64_t node) const {
        NameChange c;
        c.writes.push_back({key_of(path), Entry{path, node}});
        c.unflushed_folders.insert(key_of(parent_of(path)));
        return c;
    }

    NameChange remove_entry(const std::string& path) const {
        NameChange c;
        c.writes.push_back({key_of(path), std::nullopt});
        c.unflushed_folders.insert(key_of(parent_of(path)));
        return c;
    }

    void write_data(Node& node, std::int64_t offset, const void* bytes, std::size_t count) {
        change();
        if (!model_power_cuts) {  // no history to keep: straight into the file
            put(node.data, offset, static_cast<const char*>(bytes), count);
            return;
        }
        DataChange d;
        d.offset = offset;
        d.bytes.assign(static_cast<const char*>(bytes), count);
        apply(node.data, d);
        if (model_power_cuts) node.unflushed.push_back(std::move(d));
    }

    void set_size(Node& node, std::int64_t size) {
        change();
        DataChange d;
        d.new_size = size;
        apply(node.data, d);
        if (model_power_cuts) node.unflushed.push_back(std::move(d));
    }

    void flush(Node& node) {
        change();
        if (!model_power_cuts) return;
        node.durable = node.data;
        node.unflushed.clear();
    }

    static void apply(std::string& data, const DataChange& d) {
        if (d.new_size >= 0) {
            data.resize(static_cast<std::size_t>(d.new_size));
            return;
        }
        put(data, d.offset, d.bytes.data(), d.bytes.size());
    }

    // Writes at `offset`, the file growing as it must (a write behind its end leaves zeros).
    static void put(std::string& data, std::int64_t offset, const char* bytes, std::size_t count) {
        auto at = static_cast<std::size_t>(offset);
        if (at == data.size()) {
            data.append(bytes, count);
            return;
        }
        if (data.size() < at + count) data.resize(at + count);
        std::memcpy(data.data() + at, bytes, count);
    }

    OpenFile* open_of(Handle h) {
        auto slot = static_cast<std::size_t>(static_cast<std::intptr_t>(h) - kFirstHandle);
        if (slot >= opens.size() || !opens[slot].in_use) return nullptr;
        return &opens[slot];
    }

    Handle open_node(std::uint64_t node, bool read, bool write, bool append, bool exclusive) {
        std::size_t slot = 0;
        while (slot < opens.size() && opens[slot].in_use) ++slot;
        if (slot == opens.size()) opens.emplace_back();
        opens[slot] = OpenFile{node, 0, read, write, append, exclusive, true};
        if (exclusive) ++nodes[node].opened;
        return static_cast<Handle>(kFirstHandle + static_cast<std::intptr_t>(slot));
    }

    static constexpr std::intptr_t kFirstHandle = 0x10000;
};

namespace {

MemoryFileSystem::State* g_state = nullptr;

MemoryFileSystem::State& st() { return *g_state; }

void fail(Error e) { os::set_error_kind(e); }

// ---- files ----------------------------------------------------------------------------------

Handle open_path(const char* path, bool read, bool write, Disposition disposition, bool exclusive, bool append,
                 bool create_if_missing) {
    auto& s = st();
    std::lock_guard guard(s.lock);
    std::optional<std::string> abs = s.absolute(path);
    if (!abs || is_root(*abs)) {
        fail(abs ? Error::AccessDenied : Error::PathNotFound);
        return Handle::Invalid;
    }
    if (const Entry* e = s.find(*abs)) {
        Node& node = s.nodes.at(e->node);
        if (node.folder) return fail(Error::AccessDenied), Handle::Invalid;
        if (disposition == Disposition::CreateNew) return fail(Error::AlreadyExists), Handle::Invalid;
        if (exclusive && node.opened > 0) return fail(Error::SharingViolation), Handle::Invalid;
        if (write && node.read_only) return fail(Error::AccessDenied), Handle::Invalid;
        std::uint64_t id = e->node;
        if (disposition == Disposition::CreateAlways && !node.data.empty()) s.set_size(node, 0);
        return s.open_node(id, read, write, append, exclusive);
    }
    if (disposition == Disposition::OpenExisting && !create_if_missing) return fail(s.missing_error(*abs)), Handle::Invalid;
    if (!s.is_folder(parent_of(*abs))) return fail(Error::PathNotFound), Handle::Invalid;
    std::uint64_t id = s.new_node(false);
    s.make(s.create_entry(*abs, id));
    return s.open_node(id, read, write, append, exclusive);
}

Handle open_file(const char* path, Access access, Disposition disposition) {
    return open_path(path, access != Access::Write, access != Access::Read, disposition, true, false, false);
}

bool read_file(Handle h, void* buffer, std::uint32_t count, std::uint32_t* bytes_read) {
    auto& s = st();
    std::lock_guard guard(s.lock);
    *bytes_read = 0;
    OpenFile* f = s.open_of(h);
    if (!f || !f->can_read) return fail(Error::AccessDenied), false;
    const std::string& data = s.nodes.at(f->node).data;
    if (f->position < static_cast<std::int64_t>(data.size())) {
        std::size_t n = std::min<std::size_t>(count, data.size() - static_cast<std::size_t>(f->position));
        std::memcpy(buffer, data.data() + f->position, n);
        f->position += static_cast<std::int64_t>(n);
        *bytes_read = static_cast<std::uint32_t>(n);
    }
    return true;
}

bool write_file(Handle h, const void* buffer, std::uint32_t count, std::uint32_t* bytes_written) {
    auto& s = st();
    std::lock_guard guard(s.lock);
    *bytes_written = 0;
    OpenFile* f = s.open_of(h);
    if (!f || !f->can_write) return fail(Error::AccessDenied), false;
    Node& node = s.nodes.at(f->node);
    if (f->append) f->position = static_cast<std::int64_t>(node.data.size());
    s.write_data(node, f->position, buffer, count);
    f->position += count;
    *bytes_written = count;
    return true;
}

bool read_at(Handle h, std::int64_t offset, void* buffer, std::uint32_t count, std::uint32_t* bytes_read) {
    auto& s = st();
    std::lock_guard guard(s.lock);
    *bytes_read = 0;
    OpenFile* f = s.open_of(h);
    if (!f) return false;
    const std::string& data = s.nodes.at(f->node).data;
    if (offset < static_cast<std::int64_t>(data.size())) {
        std::size_t n = std::min<std::size_t>(count, data.size() - static_cast<std::size_t>(offset));
        std::memcpy(buffer, data.data() + offset, n);
        *bytes_read = static_cast<std::uint32_t>(n);
    }
    return true;
}

std::int64_t seek_file(Handle h, std::int64_t offset, SeekFrom from) {
    auto& s = st();
    std::lock_guard guard(s.lock);
    OpenFile* f = s.open_of(h);
    if (!f) return fail(Error::Other), -1;
    std::int64_t base = from == SeekFrom::Begin     ? 0
                        : from == SeekFrom::Current ? f->position
                                                    : static_cast<std::int64_t>(s.nodes.at(f->node).data.size());
    if (base + offset < 0) return fail(Error::Other), -1;
    f->position = base + offset;
    return f->position;
}

std::int64_t file_size(Handle h) {
    auto& s = st();
    std::lock_guard guard(s.lock);
    OpenFile* f = s.open_of(h);
    if (!f) return fail(Error::Other), -1;
    return static_cast<std::int64_t>(s.nodes.at(f->node).data.size());
}

bool flush_file(Handle h) {
    auto& s = st();
    std::lock_guard guard(s.lock);
    OpenFile* f = s.open_of(h);
    if (!f) return fail(Error::Other), false;
    s.flush(s.nodes.at(f->node));
    return true;
}

bool close_file(Handle h) {
    auto& s = st();
    std::lock_guard guard(s.lock);
    OpenFile* f = s.open_of(h);
    if (!f) return fail(Error::Other), false;
    if (f->exclusive) --s.nodes.at(f->node).opened;
    std::uint64_t node = f->node;
    *f = OpenFile{};
    if (!s.model_power_cuts) s.forget_if_unused(node);
    return true;
}

bool copy_range(Handle from, std::int64_t from_offset, Handle to, std::int64_t length) {
    auto& s = st();
    std::lock_guard guard(s.lock);
    OpenFile* in = s.open_of(from);
    OpenFile* out = s.open_of(to);
    if (!in || !out || !out->can_write) return fail(Error::AccessDenied), false;
    const std::string& source = s.nodes.at(in->node).data;
    if (from_offset < 0 || length < 0 || from_offset + length > static_cast<std::int64_t>(source.size()))
        return fail(Error::Other), false;
    // A copy of the range: `from` and `to` may be one file, which the write may reallocate.
    std::string bytes = source.substr(static_cast<std::size_t>(from_offset), static_cast<std::size_t>(length));
    s.write_data(s.nodes.at(out->node), out->position, bytes.data(), bytes.size());
    out->position += length;
    return true;
}

// ---- text streams: the C runtime's FILE over a handle of this file system ----

ssize_t text_read(void* cookie, char* buffer, size_t size) {
    std::uint32_t got = 0;
    Handle h = static_cast<Handle>(reinterpret_cast<std::intptr_t>(cookie));
    return memory::read_file(h, buffer, static_cast<std::uint32_t>(size), &got) ? static_cast<ssize_t>(got) : -1;
}

ssize_t text_write(void* cookie, const char* buffer, size_t size) {
    std::uint32_t put = 0;
    Handle h = static_cast<Handle>(reinterpret_cast<std::intptr_t>(cookie));
    return memory::write_file(h, buffer, static_cast<std::uint32_t>(size), &put) ? static_cast<ssize_t>(put) : 0;
}

int text_seek(void* cookie, off64_t* offset, int whence) {
    Handle h = static_cast<Handle>(reinterpret_cast<std::intptr_t>(cookie));
    SeekFrom from = whence == SEEK_SET ? SeekFrom::Begin : whence == SEEK_CUR ? SeekFrom::Current : SeekFrom::End;
    std::int64_t at = memory::seek_file(h, *offset, from);
    if (at < 0) return -1;
    *offset = at;
    return 0;
}

int text_close(void* cookie) {
    return memory::close_file(static_cast<Handle>(reinterpret_cast<std::intptr_t>(cookie))) ? 0 : -1;
}

// The C runtime opens text streams with sharing, so they take no exclusive hold.
std::FILE* open_text(const char* path, const char* mode) {
    bool plus = std::strchr(mode, '+') != nullptr;
    Handle h = Handle::Invalid;
    switch (mode[0]) {
        case 'r': h = open_path(path, true, plus, Disposition::OpenExisting, false, false, false); break;
        case 'w': h = open_path(path, plus, true, Disposition::CreateAlways, false, false, false); break;
        case 'a': h = open_path(path, plus, true, Disposition::OpenExisting, false, true, true); break;
        default: fail(Error::Other); return nullptr;
    }
    if (h == Handle::Invalid) return nullptr;
    cookie_io_functions_t io = {text_read, text_write, text_seek, text_close};
    std::FILE* f = fopencookie(reinterpret_cast<void*>(static_cast<std::intptr_t>(h)), mode, io);
    if (!f) memory::close_file(h);
    return f;
}

// A reader of the held file with a position of its own; it does not count as an opener.
Handle duplicate_file(Handle h) {
    auto& s = st();
    std::lock_guard guard(s.lock);
    OpenFile* f = s.open_of(h);
    if (!f) return fail(Error::Other), Handle::Invalid;
    return s.open_node(f->node, true, false, false, false);
}

std::FILE* open_text_on(Handle h, const char* mode) {
    cookie_io_functions_t io = {text_read, text_write, text_seek, text_close};
    std::FILE* f = fopencookie(reinterpret_cast<void*>(static_cast<std::intptr_t>(h)), mode, io);
    if (!f) memory::close_file(h);
    return f;
}

// ---- names ----------------------------------------------------------------------------------

bool exists(const char* path) {
    auto& s = st();
    std::lock_guard guard(s.lock);
    std::optional<std::string> abs = s.absolute(path);
    return abs && (is_root(*abs) || s.find(*abs));
}

bool is_directory(const char* path) {
    auto& s = st();
    std::lock_guard guard(s.lock);
    std::optional<std::string> abs = s.absolute(path);
    return abs && s.is_folder(*abs);
}

bool is_read_only(const char* path) {
    auto& s = st();
    std::lock_guard guard(s.lock);
    std::optional<std::string> abs = s.absolute(path);
    const Entry* e = abs ? s.find(*abs) : nullptr;
    return e && s.nodes.at(e->node).read_only;
}

bool delete_file(const char* path) {
    auto& s = st();
    std::lock_guard guard(s.lock);
    std::optional<std::string> abs = s.absolute(path);
    if (!abs) return fail(Error::PathNotFound), false;
    const Entry* e = s.find(*abs);
    if (!e) return fail(s.missing_error(*abs)), false;
    const Node& node = s.nodes.at(e->node);
    if (node.folder || node.read_only) return fail(Error::AccessDenied), false;
    if (node.opened > 0) return fail(Error::SharingViolation), false;
    s.make(s.remove_entry(*abs));
    return true;
}

bool create_directory(const char* path) {
    auto& s = st();
    std::lock_guard guard(s.lock);
    std::optional<std::string> abs = s.absolute(path);
    if (!abs) return fail(Error::PathNotFound), false;
    if (is_root(*abs) || s.find(*abs)) return fail(Error::AlreadyExists), false;
    if (!s.is_folder(parent_of(*abs))) return fail(Error::PathNotFound), false;
    s.make(s.create_entry(*abs, s.new_node(true)));
    return true;
}

bool remove_directory(const char* path) {
    auto& s = st();
    std::lock_guard guard(s.lock);
    std::optional<std::string> abs = s.absolute(path);
    if (!abs || is_root(*abs)) return fail(Error::AccessDenied), false;
    const Entry* e = s.find(*abs);
    if (!e) return fail(s.missing_error(*abs)), false;
    if (!s.nodes.at(e->node).folder) return fail(Error::Other), false;
    std::string below = key_of(*abs) + "\\";
    auto next = s.names.lower_bound(below);
    if (next != s.names.end() && next->first.compare(0, below.size(), below) == 0) return fail(Error::Other), false;
    s.make(s.remove_entry(*abs));
    return true;
}

bool set_read_only(const char* path, bool read_only) {
    auto& s = st();
    std::lock_guard guard(s.lock);
    std::optional<std::string> abs = s.absolute(path);
    const Entry* e = abs ? s.find(*abs) : nullptr;
    if (!e) return fail(abs ? s.missing_error(*abs) : Error::PathNotFound), false;
    s.nodes.at(e->node).read_only = read_only;
    return true;
}

bool copy_file_attributes(const char* from, const char* to) {
    auto& s = st();
    std::lock_guard guard(s.lock);
    std::optional<std::string> a = s.absolute(from), b = s.absolute(to);
    const Entry* ea = a ? s.find(*a) : nullptr;
    const Entry* eb = b ? s.find(*b) : nullptr;
    if (!ea || !eb) return fail(Error::FileNotFound), false;
    s.nodes.at(eb->node).read_only = s.nodes.at(ea->node).read_only;
    return true;
}

bool flush_named_file(const char* path) {
    auto& s = st();
    std::lock_guard guard(s.lock);
    std::optional<std::string> abs = s.absolute(path);
    const Entry* e = abs ? s.find(*abs) : nullptr;
    if (!e) return fail(abs ? s.missing_error(*abs) : Error::PathNotFound), false;
    s.flush(s.nodes.at(e->node));
    return true;
}

// Whether an open of the file other than `held` holds it.
bool held_by_other(MemoryFileSystem::State& s, std::uint64_t node, Handle held) {
    int others = s.nodes.at(node).opened;
    if (OpenFile* f = s.open_of(held); f && f->node == node && f->exclusive) --others;
    return others > 0;
}

bool rename_file(const char* from, const char* to, os::RenameMode mode, Handle held) {
    auto& s = st();
    std::lock_guard guard(s.lock);
    std::optional<std::string> a = s.absolute(from), b = s.absolute(to);
    if (!a || !b || is_root(*a) || is_root(*b)) return fail(Error::PathNotFound), false;
    const Entry* source = s.find(*a);
    if (!source) return fail(s.missing_error(*a)), false;
    if (!s.is_folder(parent_of(*b))) return fail(Error::PathNotFound), false;
    const Entry* target = s.find(*b);
    if (target && target->node == source->node) return true;  // the same file under another case
    if (target && mode == os::RenameMode::NoReplace) return fail(Error::AlreadyExists), false;
    if (target && s.nodes.at(target->node).folder) return fail(Error::AccessDenied), false;
    if (held_by_other(s, source->node, held) || (target && held_by_other(s, target->node, held)))
        return fail(Error::SharingViolation), false;
    NameChange c;
    // A folder moves with everything below it.
    std::string from_key = key_of(*a);
    for (auto it = s.names.lower_bound(from_key); it != s.names.end(); ++it) {
        const std::string& key = it->first;
        if (key != from_key && key.compare(0, from_key.size() + 1, from_key + "\\") != 0) {
            if (key.compare(0, from_key.size(), from_key) != 0) break;
            continue;
        }
        std::string moved = *b + it->second.path.substr(a->size());
        c.writes.push_back({key, std::nullopt});
        c.writes.push_back({key_of(moved), Entry{moved, it->second.node}});
    }
    // Removals first, so that a move within the same name (another case) keeps the entry.
    std::stable_partition(c.writes.begin(), c.writes.end(), [](const auto& w) { return !w.second; });
    c.unflushed_folders = {key_of(parent_of(*a)), key_of(parent_of(*b))};
    s.make(std::move(c));
    return true;
}

bool rename_held(Handle h, const char* from, const char* to) {
    auto& s = st();
    std::lock_guard guard(s.lock);
    OpenFile* f = s.open_of(h);
    std::optional<std::string> a = s.absolute(from);
    const Entry* named = a ? s.find(*a) : nullptr;
    if (!f || !named || named->node != f->node) return fail(Error::AccessDenied), false;
    return memory::rename_file(from, to, os::RenameMode::Replace, h);
}

os::FolderFlush flush_folder(const char* dir) {
    auto& s = st();
    std::lock_guard guard(s.lock);
    std::optional<std::string> abs = s.absolute(dir);
    if (!abs || !s.is_folder(*abs)) {
        fail(Error::PathNotFound);
        return os::FolderFlush::Failed;
    }
    s.change();
    std::string key = key_of(*abs);
    std::vector<NameChange> still;
    for (NameChange& c : s.pending) {
        c.unflushed_folders.erase(key);
        if (!c.unflushed_folders.empty()) {
            still.push_back(std::move(c));
            continue;
        }
        for (const auto& [k, entry] : c.writes) {
            if (entry) s.durable_names[k] = *entry;
            else s.durable_names.erase(k);
        }
    }
    s.pending = std::move(still);
    return os::FolderFlush::Done;
}

bool renames_over_held_files() { return true; }

bool list_directory(const char* dir, std::vector<std::string>* names) {
    auto& s = st();
    std::lock_guard guard(s.lock);
    std::optional<std::string> abs = s.absolute(dir);
    if (!abs || !s.is_folder(*abs)) return fail(abs ? s.missing_error(*abs) : Error::PathNotFound), false;
    names->clear();
    std::string below = key_of(*abs) + "\\";
    for (auto it = s.names.lower_bound(below); it != s.names.end(); ++it) {
        if (it->first.compare(0, below.size(), below) != 0) break;
        if (it->first.find('\\', below.size()) == std::string::npos) names->push_back(last_name(it->second.path));
    }
    return true;
}

std::int64_t free_disk_bytes(const char*) { return std::int64_t{1} << 40; }

std::int64_t modified_time(const char*) { return -1; }  // no clock: files here have no time

std::string current_directory() {
    auto& s = st();
    std::lock_guard guard(s.lock);
    return is_root(s.current) ? s.current + "\\" : s.current;
}

bool change_directory(const char* path) {
    auto& s = st();
    std::lock_guard guard(s.lock);
    std::optional<std::string> abs = s.absolute(path);
    if (!abs || !s.is_folder(*abs)) return fail(abs ? s.missing_error(*abs) : Error::PathNotFound), false;
    const Entry* e = s.find(*abs);
    s.current = e ? e->path : *abs;
    return true;
}

std::string temp_directory() { return "m:\\tmp\\"; }

// ---- names that others may have planted: nobody plants anything here ----

EntryKind entry_kind(const char* path) {
    auto& s = st();
    std::lock_guard guard(s.lock);
    std::optional<std::string> abs = s.absolute(path);
    if (!abs) return EntryKind::Missing;
    if (s.is_folder(*abs)) return EntryKind::Directory;
    return s.find(*abs) ? EntryKind::File : EntryKind::Missing;
}

bool owned_safely(const char* path) { return entry_kind(path) != EntryKind::Missing; }

bool create_private_directory(const char* path, bool) { return create_directory(path); }

bool restrict_to_owner_writes(const char*) { return true; }

std::FILE* open_append_no_follow(const char* path) { return open_text(path, "ab"); }

bool file_identity(const char* path, FileIdentity* out) {
    auto& s = st();
    std::lock_guard guard(s.lock);
    std::optional<std::string> abs = s.absolute(path);
    const Entry* e = abs ? s.find(*abs) : nullptr;
    if (!e) return fail(abs ? s.missing_error(*abs) : Error::PathNotFound), false;
    *out = FileIdentity{1, e->node};
    return true;
}

// Deepest names first, each a change of its own, as the system's walk deletes them.
bool remove_tree(const char* dir) {
    auto& s = st();
    std::lock_guard guard(s.lock);
    std::optional<std::string> abs = s.absolute(dir);
    if (!abs || !s.is_folder(*abs) || is_root(*abs)) return fail(abs ? s.missing_error(*abs) : Error::PathNotFound), false;
    std::vector<std::string> below;
    std::string prefix = key_of(*abs) + "\\";
    for (auto it = s.names.lower_bound(prefix); it != s.names.end() && it->first.compare(0, prefix.size(), prefix) == 0; ++it)
        below.push_back(it->second.path);
    bool whole = true;
    for (auto it = below.rbegin(); it != below.rend(); ++it)
        whole &= s.is_folder(*it) ? remove_directory(it->c_str()) : delete_file(it->c_str());
    return remove_directory(abs->c_str()) && whole;
}

void leave_in_cache(Handle) {}  // memory is the only cache here

// A folder here has no links to refuse; the handle holds nothing but itself.
Handle hold_folder(const char* path) {
    auto& s = st();
    std::lock_guard guard(s.lock);
    std::optional<std::string> abs = s.absolute(path);
    const Entry* e = abs ? s.find(*abs) : nullptr;
    if (!e) return fail(abs ? s.missing_error(*abs) : Error::PathNotFound), Handle::Invalid;
    if (!s.nodes.at(e->node).folder) return fail(Error::AccessDenied), Handle::Invalid;
    return s.open_node(e->node, false, false, false, false);
}

// Names here have one spelling each, and no machine restarts.
std::string long_path_name(const char* path) { return path; }
bool delete_at_restart(const char*) { return fail(Error::Other), false; }

// The source is read with sharing, as Windows' CopyFile reads it, so that a held file can be
// copied; the copy is a new file.
bool copy_file(const char* from, const char* to) {
    Handle in = open_path(from, true, false, Disposition::OpenExisting, false, false, false);
    if (in == Handle::Invalid) return false;
    Handle out = memory::open_file(to, Access::Write, Disposition::CreateNew);
    std::int64_t size = memory::file_size(in);
    bool ok = out != Handle::Invalid && size >= 0 && memory::copy_range(in, 0, out, size) && memory::flush_file(out);
    if (out != Handle::Invalid) ok = memory::close_file(out) && ok;
    memory::close_file(in);
    return ok;
}

// The folder for the administrators: a plain folder here, made or kept.
bool create_admin_directory(const char* path) {
    return create_directory(path) || entry_kind(path) == EntryKind::Directory;
}

// After a power cut, no process from before it runs; before one, every scratch file of this
// file system is this process's own.
bool process_running(std::uint32_t) { return false; }

const os::FileSystem kMemory = {
    open_file,      read_file,        write_file,       read_at,          seek_file,
    file_size,      flush_file,       close_file,       copy_range,       open_text,
    duplicate_file, open_text_on,     rename_held,
    exists,         is_directory,     is_read_only,     delete_file,      create_directory,
    remove_directory, set_read_only,  copy_file_attributes, flush_named_file, rename_file,
    flush_folder,   renames_over_held_files, list_directory, free_disk_bytes, modified_time, current_directory,
    change_directory, temp_directory, process_running, entry_kind, owned_safely, create_private_directory,
    restrict_to_owner_writes, open_append_no_follow, file_identity, remove_tree,
    leave_in_cache, hold_folder, long_path_name, delete_at_restart, create_admin_directory,
    copy_file,
};

// ---- what a cut leaves ----------------------------------------------------------------------

enum class DataCut { None, Half, All };

std::optional<std::string> content_after(const Node& node, DataCut cut) {
    if (node.folder) return std::nullopt;
    if (cut == DataCut::All) return node.data;
    std::string data = node.durable;
    if (cut == DataCut::Half)
        for (std::size_t i = 0; i < node.unflushed.size() / 2; ++i) MemoryFileSystem::State::apply(data, node.unflushed[i]);
    return data;
}

// The tree of `names` (entries whose folder is missing are unreachable, so left out).
Tree tree_of(const MemoryFileSystem::State& s, const Names& names, DataCut cut) {
    Tree tree;
    std::set<std::string> present;
    for (const auto& [key, entry] : names) {
        std::string folder = parent_of(key);
        if (!is_root(folder) && !present.count(folder)) continue;
        present.insert(key);
        tree[entry.path] = content_after(s.nodes.at(entry.node), cut);
    }
    return tree;
}

Names with_changes(Names names, const std::vector<NameChange>& changes, std::size_t count, std::size_t skip) {
    for (std::size_t i = 0; i < count; ++i) {
        if (i == skip) continue;
        for (const auto& [key, entry] : changes[i].writes) {
            if (entry) names[key] = *entry;
            else names.erase(key);
        }
    }
    return names;
}

}  // namespace

MemoryFileSystem::MemoryFileSystem(PowerCuts power_cuts) : state_(std::make_unique<State>()) {
    state_->owner = this;
    state_->model_power_cuts = power_cuts == PowerCuts::Modelled;
    load({});
}

MemoryFileSystem::~MemoryFileSystem() = default;

void MemoryFileSystem::load(const Tree& tree) {
    State& s = *state_;
    std::lock_guard guard(s.lock);
    s.clear();
    auto add = [&](const std::string& path, const std::optional<std::string>& content) {
        std::uint64_t id = s.new_node(!content);
        Node& node = s.nodes[id];
        if (content) node.data = node.durable = *content;
        s.names[key_of(path)] = Entry{path, id};
    };
    Tree everything = tree;
    everything["m:\\tmp"] = std::nullopt;
    for (const auto& [path, content] : everything) {
        for (std::string folder = parent_of(path); !is_root(folder); folder = parent_of(folder))
            if (!s.find(folder)) add(folder, std::nullopt);
        if (!s.find(path)) add(path, content);
    }
    s.durable_names = s.names;
}

Tree MemoryFileSystem::tree_below(const std::string& dir) const {
    State& s = *state_;
    std::lock_guard guard(s.lock);
    std::optional<std::string> abs = s.absolute(dir.c_str());
    Tree all = tree_of(s, s.names, DataCut::All), below;
    std::string prefix = key_of(*abs) + "\\";
    for (auto& [path, content] : all)
        if (key_of(path).compare(0, prefix.size(), prefix) == 0) below[path.substr(prefix.size())] = std::move(content);
    return below;
}

std::vector<Tree> MemoryFileSystem::cut_states() const {
    const State& s = *state_;
    std::lock_guard guard(s.lock);
    std::size_t n = s.pending.size();
    std::vector<Names> name_states;
    for (std::size_t count = 0; count <= n; ++count) name_states.push_back(with_changes(s.durable_names, s.pending, count, n));
    for (std::size_t skip = 0; skip + 1 < n; ++skip) name_states.push_back(with_changes(s.durable_names, s.pending, n, skip));
    std::vector<Tree> states;
    for (const Names& names : name_states)
        for (DataCut cut : {DataCut::None, DataCut::Half, DataCut::All}) {
            Tree tree = tree_of(s, names, cut);
            if (std::find(states.begin(), states.end(), tree) == states.end()) states.push_back(std::move(tree));
        }
    return states;
}

long MemoryFileSystem::changes() const { return state_->changes; }

UseMemoryFileSystem::UseMemoryFileSystem(MemoryFileSystem& fs) {
    g_state = &fs.state();
    os::use_file_system(&kMemory);
}

UseMemoryFileSystem::~UseMemoryFileSystem() {
    os::use_file_system(nullptr);
    g_state = nullptr;
}

}  // namespace plat::memory
