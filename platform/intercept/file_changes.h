// A watcher of the changes made to files, for the install's journal: while one is set, every
// open for writing, every swap of a file into a name and every delete asks it first, so that
// it can keep the old file (and write down that it did) before the change happens. The
// platform calls it from the operations themselves, so no writer above can forget to.
#pragma once

#include "platform/platform.h"

namespace plat {

class FileChanges {
public:
    virtual ~FileChanges() = default;
    // Before `path` is opened for writing with `disposition`. False refuses the open; the
    // watcher leaves last_error set.
    virtual bool before_write(const char* path, Disposition disposition) = 0;
    // Before the file `source` takes the name `target`. `held`: the caller's own handle on the
    // file now named `target`, which may be renamed while it is held.
    virtual bool before_replace(const char* source, const char* target, Handle held) = 0;
    // Before `path` is deleted. Sets `*handled` when the watcher took the file away itself
    // (it keeps what a delete would have destroyed).
    virtual bool before_delete(const char* path, bool* handled) = 0;
    // Around the flush of a finished file that is about to take the name `target`: the watcher
    // may read it meanwhile through `h` (read_at), on a thread of its own, and the old file now
    // named `target` too, through `target_h` when the caller holds it (Invalid otherwise), and
    // must be done when `flushed` returns.
    virtual void flushing(const char* path, Handle h, const char* target, Handle target_h) {
        (void)path, (void)h, (void)target, (void)target_h;
    }
    virtual void flushed(const char* path) { (void)path; }
};

// Sets the watcher (nullptr: none, the start state). The watcher's own file operations are
// not shown to it.
void watch_file_changes(FileChanges* watcher);
FileChanges* file_changes_watcher();

namespace detail {
// Called by the operations of each system before they change a file.
bool announce_write(const char* path, Access access, Disposition disposition);
bool announce_text_write(const char* path, const char* mode);
bool announce_replace(const char* source, const char* target, Handle held);
void announce_flushing(const char* path, Handle h, const char* target, Handle target_h);
void announce_flushed(const char* path);
// -1: refused; 1: the watcher handled it, the delete is done; 0: go on and delete.
int announce_delete(const char* path);
}  // namespace detail

}  // namespace plat
