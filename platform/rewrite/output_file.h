// A file rewritten safely: the new contents go to a scratch file beside the target, created
// exclusively under a name no other writer uses ("<target>~<process>.<n>", so that leftovers
// are easy to find), and replace the target in one step only once everything was written and
// flushed, by keep(). A failure, or an object destroyed without keep(), removes the scratch
// file and leaves the target as it was; a writer never removes a file it did not create.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/platform.h"

namespace plat {

class OutputFile {
public:
    OutputFile() = default;
    ~OutputFile() { discard(); }
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // Creates the scratch file for `target`. Refuses a target that is a directory or
    // read-only, and a path that leaves no room for the scratch name.
    bool create(const std::string& target);

    Handle handle() const { return file_.get(); }
    const std::string& scratch_path() const { return scratch_; }
    const std::string& target() const { return target_; }

    // Writes all of `bytes`, in pieces the system takes.
    bool write(const void* bytes, std::size_t count);
    // Appends `length` bytes of `from`, starting at `from_offset`, without passing them
    // through a buffer of the caller (platform copy_range).
    bool copy_from(Handle from, std::int64_t from_offset, std::int64_t length);
    // Lets go of the handle, for writers that reopen the scratch file by its name; the
    // scratch file stays this object's to keep or discard.
    bool close_handle();
    // Flushes, gives the scratch file the target's permissions, and puts it in the target's
    // place. With `target_lock`, an open handle on the target that the caller held since it
    // read the old contents, no other program can slip in between; the handle is closed.
    bool keep(Handle target_lock = Handle::Invalid);
    // Removes the scratch file if this object created it and did not keep it.
    void discard();

    // What went wrong, in words, for the last failed call.
    const std::string& problem() const { return problem_; }

private:
    bool fail(const std::string& what);

    std::string target_;
    std::string scratch_;
    File file_;
    bool created_ = false;
    std::string problem_;
};

}  // namespace plat
