// Safe rewriting of a file through a scratch file beside it.
#include "platform/rewrite/output_file.h"

#include "platform/intercept/file_changes.h"

#include <algorithm>
#include <utility>

namespace plat {

namespace {

// Scratch names taken by this process so far: the process number keeps other processes
// apart, this counter keeps two writers of one process apart.
std::uint32_t g_scratch_counter = 0;

constexpr int kNameAttempts = 64;

std::string scratch_name(const std::string& target, std::uint32_t n) {
    return target + "~" + std::to_string(process_id()) + "." + std::to_string(n);
}

}  // namespace

bool OutputFile::fail(const std::string& what) {
    problem_ = what + ": " + last_error_text();
    return false;
}

bool OutputFile::create(const std::string& target) {
    discard();
    target_ = target;
    problem_.clear();
    if (is_directory(target.c_str())) {
        problem_ = "is a directory";
        return false;
    }
    if (is_read_only(target.c_str())) {
        problem_ = "is read-only: make it writable first";
        return false;
    }
    for (int attempt = 0; attempt < kNameAttempts; ++attempt) {
        std::string name = scratch_name(target, ++g_scratch_counter);
        if (name.size() > kMaxPath) {
            problem_ = "the path is too long to write a scratch file beside it";
            return false;
        }
        File f = File::open(name.c_str(), Access::ReadWrite, Disposition::CreateNew);
        if (f) {
            scratch_ = name;
            file_ = std::move(f);
            created_ = true;
            return true;
        }
        if (last_error() != Error::AlreadyExists) return fail("cannot create a scratch file beside it");
    }
    return fail("cannot find a free scratch name beside it");
}

bool OutputFile::write(const void* bytes, std::size_t count) {
    const auto* p = static_cast<const std::uint8_t*>(bytes);
    while (count > 0) {
        auto piece = static_cast<std::uint32_t>(std::min<std::size_t>(count, 1u << 30));
        std::uint32_t put = 0;
        if (!write_file(file_.get(), p, piece, &put)) return fail("cannot write");
        if (put != piece) {
            problem_ = "cannot write: the disk took less than was written";
            return false;
        }
        p += put;
        count -= put;
    }
    return true;
}

bool OutputFile::copy_from(Handle from, std::int64_t from_offset, std::int64_t length) {
    return copy_range(from, from_offset, file_.get(), length) || fail("cannot copy");
}

bool OutputFile::close_handle() { return file_.close() || fail("cannot close the scratch file"); }

bool OutputFile::keep(Handle target_lock) {
    bool ok = true;
    if (file_) {
        // A watcher (an install's journal) may read the finished file while the disk takes it.
        detail::announce_flushing(scratch_.c_str(), file_.get(), target_.c_str(), target_lock);
        ok = flush_file(file_.get()) || fail("cannot flush");
        detail::announce_flushed(scratch_.c_str());
        ok = close_handle() && ok;
    }
    if (ok && file_exists(target_.c_str()) && !copy_file_attributes(target_.c_str(), scratch_.c_str()))
        ok = fail("cannot give the new file the old one's permissions");
    if (!ok) {
        if (target_lock != Handle::Invalid) close_file(target_lock);
        return false;
    }
    if (!replace_locked_file(scratch_.c_str(), target_.c_str(), target_lock))
        return fail("cannot put the new file in place");
    created_ = false;
    return true;
}

void OutputFile::discard() {
    file_.close();
    if (created_) {
        delete_file(scratch_.c_str());
        created_ = false;
    }
}

}  // namespace plat
