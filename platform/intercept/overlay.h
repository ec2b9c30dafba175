// A view of the files in which nothing changes on disk: while an overlay is set, a file opened
// for writing is first copied into a scratch folder and opened there, a file created goes
// there, and a rename or delete changes only the view. Every later open, in this process, sees
// the view: reads of a file the view changed go to its scratch copy. That is how a dry run of
// an install runs the installer's own code, item after item, and leaves the game as it was.
// The platform's operations ask the overlay themselves, so no code above can forget to.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace plat {

class Overlay {
public:
    enum class Kind { Changed, Created, Deleted };
    struct Change {
        std::string path;     // as the install named it first
        Kind kind;
        std::string scratch;  // the file that holds its content in the view (not for Deleted)
    };

    // `scratch_dir`: an empty folder (core form, ending with a backslash) for the copies.
    explicit Overlay(std::string scratch_dir) : scratch_dir_(std::move(scratch_dir)) {}
    Overlay(const Overlay&) = delete;
    Overlay& operator=(const Overlay&) = delete;
    ~Overlay();  // removes the scratch copies (not the folder)

    // Puts `file` (a scratch file of the caller's) into the view as `path`, as a move would.
    bool adopt(const std::string& path, const std::string& file);
    // What the view changed, in the order the paths were first changed. A file written again
    // with the very same bytes counts as changed; compare the scratch copy to tell.
    std::vector<Change> changes() const;

    // ---- for the platform's operations (detail::) ----
    enum class Use { Read, Write, WriteFresh, CreateNew };
    // The path an operation on `path` works on: the scratch copy when the view has one (made by
    // copying the file on the first Write); false when the view has no such file and the use
    // needs one (the error is set), or when a CreateNew finds one.
    bool resolve(const char* path, Use use, std::string* actual);
    bool exists(const char* path, bool* answered);
    // A rename `from` -> `to` in the view; `replace`: `to` may exist.
    bool rename(const char* from, const char* to, bool replace);
    bool remove(const char* path);

private:
    struct Entry {
        std::string path;      // the first name it was met by
        bool existed = false;  // the file existed on disk when the view first changed it
        bool deleted = false;  // the view has no file of this name
        std::string scratch;   // the view's content when not deleted
        std::uint64_t order = 0;
    };
    static std::string key_of(const char* path);
    Entry* find(const std::string& key);
    std::string new_scratch_name();
    Entry& entry_for(const std::string& key, const char* path);

    std::string scratch_dir_;
    std::map<std::string, Entry> entries_;
    std::uint64_t next_ = 0;
};

// Sets the overlay of this process (nullptr: none, the start state).
void use_overlay(Overlay* overlay);
Overlay* current_overlay();

namespace detail {
// For the operations of each system: `actual` receives the path to work on (the path itself
// without an overlay). False: refuse the operation, the error is set.
bool overlay_resolve(const char* path, Overlay::Use use, std::string* actual);
// True when the overlay answered (in `*result`); the operation then does nothing itself.
bool overlay_exists(const char* path, bool* result);
bool overlay_rename(const char* from, const char* to, bool replace, bool* result);
bool overlay_remove(const char* path, bool* result);
// True while an overlay is set: operations that would change folders are refused.
bool overlay_active();
// What an open asks of the view.
Overlay::Use overlay_use(Access access, Disposition disposition);
Overlay::Use overlay_use(const char* path, const char* mode);  // a C stream's mode
}  // namespace detail

}  // namespace plat
