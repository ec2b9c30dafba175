// The files a run holds, by name.
#include "platform/intercept/held_files.h"

#include <algorithm>
#include <cctype>
#include <list>
#include <mutex>
#include <vector>

#include "platform/os/os.h"

namespace plat {

namespace {

struct Held {
    std::vector<std::string> keys;  // the names it answers for
    std::string location;           // where it lies, as the caller named it
    File file;
};

std::mutex g_lock;
std::list<Held> g_held;

// The absolute path in lower case, '/' as '\', "." and empty names dropped and ".." taken back,
// so that every spelling of one name finds the same file.
std::string key_of(const char* path) {
    std::string p = path;
    std::replace(p.begin(), p.end(), '/', '\\');
    if (!(p.size() >= 2 && p[1] == ':')) {
        std::string cwd = os::file_system().current_directory();
        if (!p.empty() && p[0] == '\\') {
            p = cwd.substr(0, 2) + p;
        } else {
            if (!cwd.empty() && cwd.back() != '\\') cwd += '\\';
            p = cwd + p;
        }
    }
    std::vector<std::string> parts;
    std::size_t at = 2;
    while (at <= p.size()) {
        std::size_t end = p.find('\\', at);
        if (end == std::string::npos) end = p.size();
        std::string part = p.substr(at, end - at);
        if (part == "..") {
            if (!parts.empty()) parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        at = end + 1;
    }
    std::string key = p.substr(0, 2);
    for (const std::string& part : parts) key += "\\" + part;
    for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return key;
}

std::list<Held>::iterator find_held(const std::string& key) {
    return std::find_if(g_held.begin(), g_held.end(), [&](const Held& h) {
        return std::find(h.keys.begin(), h.keys.end(), key) != h.keys.end();
    });
}

}  // namespace

void hold_file(const std::string& path, File file) {
    std::string key = key_of(path.c_str());
    std::lock_guard guard(g_lock);
    if (auto it = find_held(key); it != g_held.end()) g_held.erase(it);
    g_held.push_back(Held{{key}, path, std::move(file)});
}

bool hold_also_as(const char* path, const char* also) {
    std::string key = key_of(path), other = key_of(also);
    std::lock_guard guard(g_lock);
    auto it = find_held(key);
    if (it == g_held.end()) return false;
    if (auto taken = find_held(other); taken != g_held.end() && taken != it) g_held.erase(taken);
    it->keys.push_back(other);
    return true;
}

bool holds_file(const char* path) {
    std::string key = key_of(path);
    std::lock_guard guard(g_lock);
    return find_held(key) != g_held.end();
}

void release_held_files() {
    std::list<Held> gone;
    {
        std::lock_guard guard(g_lock);
        gone.swap(g_held);
    }
    // The handles close outside the lock, through the file system that made them.
    for (Held& h : gone) os::file_system().close_file(h.file.release());
}

namespace detail {

Handle held_open(const char* path, bool* answered) {
    *answered = false;
    std::lock_guard guard(g_lock);
    if (g_held.empty()) return Handle::Invalid;
    auto it = find_held(key_of(path));
    if (it == g_held.end()) return Handle::Invalid;
    *answered = true;
    return os::file_system().duplicate_file(it->file.get());
}

Handle held_handle(const char* path, std::string* location) {
    std::lock_guard guard(g_lock);
    auto it = find_held(key_of(path));
    if (it == g_held.end()) return Handle::Invalid;
    *location = it->location;
    return it->file.get();
}

void held_moved(const char* from, const char* to) {
    std::string key = key_of(from), other = key_of(to);
    std::lock_guard guard(g_lock);
    auto it = find_held(key);
    if (it == g_held.end()) return;
    if (auto taken = find_held(other); taken != g_held.end() && taken != it) {
        os::file_system().close_file(taken->file.release());
        g_held.erase(taken);
    }
    it->keys = {other};
    it->location = to;
}

void held_let_go(const char* path) {
    Handle h = Handle::Invalid;
    {
        std::lock_guard guard(g_lock);
        if (g_held.empty()) return;
        auto it = find_held(key_of(path));
        if (it == g_held.end()) return;
        h = it->file.release();
        g_held.erase(it);
    }
    os::file_system().close_file(h);
}

}  // namespace detail

}  // namespace plat
