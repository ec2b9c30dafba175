// The watcher of file changes and the calls the system files make to it.
#include "platform/intercept/file_changes.h"

namespace plat {

namespace {

FileChanges* g_watcher = nullptr;
// Set while the watcher runs: what it does to files itself is not shown to it again.
bool g_in_watcher = false;

class InWatcher {
public:
    InWatcher() { g_in_watcher = true; }
    ~InWatcher() { g_in_watcher = false; }
};

bool watching() { return g_watcher != nullptr && !g_in_watcher; }

}  // namespace

void watch_file_changes(FileChanges* watcher) { g_watcher = watcher; }
FileChanges* file_changes_watcher() { return g_watcher; }

namespace detail {

bool announce_write(const char* path, Access access, Disposition disposition) {
    if (!watching() || (access == Access::Read && disposition == Disposition::OpenExisting)) return true;
    InWatcher guard;
    return g_watcher->before_write(path, disposition);
}

bool announce_text_write(const char* path, const char* mode) {
    if (!watching() || mode[0] == 'r') return true;
    InWatcher guard;
    // "w" truncates or creates; "a" adds to what is there, as an open for update does.
    return g_watcher->before_write(path, mode[0] == 'w' ? Disposition::CreateAlways : Disposition::OpenExisting);
}

bool announce_replace(const char* source, const char* target, Handle held) {
    if (!watching()) return true;
    InWatcher guard;
    return g_watcher->before_replace(source, target, held);
}

void announce_flushing(const char* path, Handle h, const char* target, Handle target_h) {
    if (!watching()) return;
    InWatcher guard;
    g_watcher->flushing(path, h, target, target_h);
}

void announce_flushed(const char* path) {
    if (!watching()) return;
    InWatcher guard;
    g_watcher->flushed(path);
}

int announce_delete(const char* path) {
    if (!watching()) return 0;
    InWatcher guard;
    bool handled = false;
    if (!g_watcher->before_delete(path, &handled)) return -1;
    return handled ? 1 : 0;
}

}  // namespace detail

}  // namespace plat
