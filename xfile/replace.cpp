// Container member replacement, and adding a member.
//
// The container is never changed in place: everything goes to a scratch file beside it first
// (plat::OutputFile), every read and write is checked, the scratch file is flushed, and only
// then does it replace the container in one step. The container stays open, and so locked
// against every other writer, from the first read of its header to that swap. Any failure
// removes the scratch file and leaves the container as it was, byte for byte. Adding a member
// follows the same route: the copy beside the container gets the new member.
#include "xfile/replace.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "config/file_table.h"
#include "base/text.h"
#include "platform/rewrite/output_file.h"
#include "platform/platform.h"
#include "platform/rules/winpath.h"
#include "base/report.h"
#include "xfile/container.h"
#include "xfile/transfer.h"
#include "xfile/xfile.h"

namespace {

ReplaceResult failed(std::string problem) { return {WorkResult::Failed, std::move(problem)}; }

// Why a container cannot be rewritten, in the replacement's words; applied when it is held.
Result held_problem(const xfile::HeldContainer& held) {
    using Problem = xfile::HeldContainer::Problem;
    switch (held.problem) {
        case Problem::None: return Result::applied();
        case Problem::InUse: return failed("the container is in use by another program");
        case Problem::CannotOpen: return failed("cannot open the container for writing: " + held.detail);
        case Problem::CannotRead: return failed("cannot read the container: " + held.detail);
        case Problem::Damaged: return failed("the container is damaged: " + held.detail);
    }
    return failed("the container cannot be held");
}

// One rewrite: the container held exclusively, the scratch file, and the header image.
class Rewrite {
public:
    ~Rewrite() { abandon(); }

    ReplaceResult run(const char* container_path, const char* member, const char* source, SourceKind kind);

private:
    ReplaceResult open_container(const char* container_path);
    bool copy_range(std::int64_t from, std::int64_t length);  // container -> scratch
    bool copy_source(XFileHandle* h, std::int32_t size);
    bool write_temp(const void* data, std::uint32_t count);
    void abandon();

    xfile::HeldContainer container_;
    plat::OutputFile temp_;
};

void Rewrite::abandon() {
    temp_.discard();
    container_.file.close();
}

bool Rewrite::write_temp(const void* data, std::uint32_t count) {
    return temp_.write(data, count);
}

// The container's own bytes are copied by the system, file to file, without the transfer
// buffer: they are most of a large container, and only the new member's data has to be read
// through the file library.
bool Rewrite::copy_range(std::int64_t from, std::int64_t length) {
    return temp_.copy_from(container_.file.get(), from, length);
}

bool Rewrite::copy_source(XFileHandle* h, std::int32_t size) {
    std::uint8_t* buf = xfile::transfer_buffer();
    std::int32_t written = 0;
    while (written < size) {
        std::int32_t want = size - written;
        if (want > static_cast<std::int32_t>(xfile::kTransferBufferSize)) want = xfile::kTransferBufferSize;
        int got = xfile_read(h, buf, want);
        if (got <= 0) return false;  // the source delivered less than its size
        if (!write_temp(buf, static_cast<std::uint32_t>(got))) return false;
        written += got;
        report::keep_alive();
    }
    return true;
}

ReplaceResult Rewrite::open_container(const char* container_path) {
    if (plat::is_directory(container_path)) return failed("the container is a directory, not a file");
    if (!plat::file_exists(container_path)) return failed("the container does not exist");
    container_ = xfile::hold_container(container_path);
    return held_problem(container_);
}

ReplaceResult Rewrite::run(const char* container_path, const char* member, const char* source, SourceKind kind) {
    if (ReplaceResult r = open_container(container_path); r.result != WorkResult::Applied) return r;
    if (container_.header.tag_newer_than_replaced())
        return {WorkResult::Skipped, "the container has a newer version tag"};

    char progress[plat::kMaxPath + 32];
    std::snprintf(progress, sizeof progress, "@Change %s files ...", member);
    report::progress_text(progress);

    int index = container_.header.find_member(member);
    if (index < 0) return failed("the container has no member named " + std::string(member));
    std::int32_t offset = container_.header.entry(index).offset;
    std::int32_t old_size = container_.header.entry(index).size;

    // The new data is opened before anything is written, so that a missing or unreadable
    // source is named as such and leaves no scratch file behind.
    XFileHandle* h = nullptr;
    char name[plat::kMaxPath + 1];
    int opened = kXOpenFailed;
    if (kind == SourceKind::Path) {
        opened = xfile_open_path(source, kXModeReadWhole, &h);
    } else if (text::copy_if_fits(name, plat::kMaxPath, source)) {
        opened = xfile_open(name, kXModeReadWhole, &h);
    }
    if (opened < 0) {
        const std::string& why = xfile::open_problem();
        return failed("cannot open the new data " + std::string(source) + (why.empty() ? "" : ": " + why));
    }
    std::int32_t new_size = xfile_size(h);
    if (static_cast<std::int64_t>(new_size) - old_size + container_.size > INT32_MAX) {
        xfile_close(h);
        return failed("the container would grow past 2 GiB");
    }

    if (!temp_.create(container_path)) {
        xfile_close(h);
        return failed("cannot write beside the container: " + temp_.problem());
    }
    if (!copy_range(0, offset)) {
        xfile_close(h);
        return failed("cannot copy the container: " + temp_.problem());
    }
    bool copied = copy_source(h, new_size);
    xfile_close(h);
    if (!copied) return failed("cannot copy the new data: " + temp_.problem());

    std::int64_t behind = static_cast<std::int64_t>(offset) + old_size;
    if (!copy_range(behind, container_.size - behind))
        return failed("cannot copy the container: " + temp_.problem());

    container_.header.resize_member(index, new_size);
    container_.header.stamp_replaced();
    if (plat::seek_file(temp_.handle(), 0, plat::SeekFrom::Begin) != 0 ||
        !write_temp(container_.header.bytes().data(), kContainerHeaderSize))
        return failed("cannot write the container's header: " + temp_.problem());

    if (!temp_.keep(container_.file.release()))
        return failed("cannot put the new container in place: " + temp_.problem());
    return {WorkResult::Applied, {}};
}

}  // namespace

ReplaceResult replace_member_in(const char* container_path, const char* member, const char* source,
                                SourceKind kind) {
    char name[plat::kMaxPath + 1];
    if (!text::copy_if_fits(name, plat::kMaxPath, member)) return failed("the member's name is too long");
    text::trim(name);
    text::lower(name);
    if (std::strlen(container_path) > plat::kMaxPath) return failed("the container's path is longer than 260 characters");
    Rewrite rewrite;
    return rewrite.run(container_path, name, source, kind);
}

void split_member_line(const char* text, std::string* source, std::string* member) {
    std::size_t n = 0;
    while (text[n] && !text::is_blank(text[n])) ++n;
    source->assign(text, n);
    std::string rest(text + n);
    std::vector<char> trimmed(rest.begin(), rest.end());
    trimmed.push_back(0);
    text::trim(trimmed.data());
    member->assign(trimmed.data());
}

namespace {

// A kind '0' line taken apart: the source's logical name, the member's, and the container
// the member resolves to.
struct MemberLine {
    char source[plat::kMaxPath + 1] = {};
    char member[plat::kMaxPath + 1] = {};
    char container[plat::kMaxPath + 1] = {};
};

Result read_member_line(const char* text, MemberLine* out) {
    std::string source, member;
    split_member_line(text, &source, &member);
    if (source.size() > plat::kMaxPath || member.size() > plat::kMaxPath) return failed("the work line is too long");
    std::strcpy(out->source, source.c_str());
    std::strcpy(out->member, member.c_str());
    char resolved[plat::kMaxPath + 1];
    std::strcpy(resolved, out->member);
    if (config::resolve_logical_name(resolved) != config::kContainerMember)
        return failed("the member's container is not in the game");
    std::strcpy(out->container, config::file_table().result);
    return Result::applied();
}

}  // namespace

ReplaceResult replace_container_member(const char* text) {
    MemberLine line;
    if (Result read = read_member_line(text, &line); read.failed()) return read;
    return replace_member_in(line.container, line.member, line.source, SourceKind::LogicalName);
}

Result check_container_member(const char* text, std::string* container, std::int64_t* container_bytes) {
    MemberLine line;
    if (Result read = read_member_line(text, &line); read.failed()) return read;
    *container = line.container;
    std::string shown = plat::display_path(line.container);
    {
        xfile::HeldContainer held = xfile::hold_container(line.container);
        if (Result r = held_problem(held); r.failed()) return failed(shown + ": " + r.problem);
        *container_bytes = held.size;
    }
    char name[plat::kMaxPath + 1];
    XFileHandle* h = nullptr;
    if (!text::copy_if_fits(name, plat::kMaxPath, line.source) || xfile_open(name, kXModeReadWhole, &h) < 0) {
        const std::string& why = xfile::open_problem();
        return failed("cannot open the new data " + std::string(line.source) + (why.empty() ? "" : ": " + why));
    }
    xfile_close(h);
    return Result::applied();
}

namespace {

constexpr std::size_t kMemberNameChars = 19;

// Closes the containers loaded since `before` was the newest: the copy a member was added
// to must be closed before it can take the container's place.
void close_loaded_since(const XFileContainer* before) {
    while (XFileContainer* c = xfile::loaded_containers()) {
        if (c == before) break;
        xfile::container_close(c);
    }
}

// Holds an existing container for an add: it stays open, and so locked against every other
// writer, until the new one is in place. Refuses a file that is not a container, or that has
// a member of the new one's name already.
Result hold_for_add(const char* container_path, const char* member, xfile::HeldContainer* out) {
    using Problem = xfile::HeldContainer::Problem;
    xfile::HeldContainer held = xfile::hold_container(container_path);
    switch (held.problem) {
        case Problem::None: break;
        case Problem::InUse: return failed("in use by another program (another dravo may be changing it)");
        case Problem::CannotOpen: return failed("cannot open for writing: " + held.detail);
        case Problem::CannotRead: return failed("cannot read: " + held.detail);
        case Problem::Damaged: return failed("not a container (" + held.detail + "): nothing was added");
    }
    for (int i = 0; i < kContainerMembers; ++i) {
        container_format::ContainerEntry e = held.header.entry(i);
        std::string name(e.name_text());
        if (e.used() && plat::names_equal_ignoring_case(name, member))
            return failed("a member named " + name + " exists already: use replace");
    }
    *out = std::move(held);
    return Result::applied();
}

// Whether the member create loaded the copy of `held`, rather than starting a new, empty
// container in its place as it does with a file whose header it cannot read: the new member
// must begin where the copy ends, and every other entry must be the held container's.
bool created_in_copy(const XFileHandle* out, const xfile::HeldContainer& held) {
    if (!held.file) return true;  // a new container: nothing to lose
    if (out->base != held.size) return false;
    const XFileContainer* c = out->container;
    for (int i = 0; i < kContainerMembers; ++i) {
        if (&c->entries[i] == out) continue;
        container_format::ContainerEntry was = held.header.entry(i), now = xfile::encode_entry(c->entries[i]);
        if (was.name_text() != now.name_text() || was.size != now.size || was.offset != now.offset ||
            was.attribute != now.attribute)
            return false;
    }
    return true;
}

// Writes `length` bytes of the source through a new member of the copy at `path` of the
// container `held` (none: a new one), and closes it. A source that delivers less is a
// failure, not a shorter member.
Result append_member(const std::string& path, const xfile::HeldContainer& held, const char* member, XFileHandle* in,
                     std::int64_t length) {
    char container[plat::kMaxPath + 1];
    char name[plat::kMaxPath + 1];
    if (!text::copy_if_fits(container, plat::kMaxPath, path.c_str())) return failed("the container's path is too long");
    std::strcpy(name, member);
    const XFileContainer* before = xfile::loaded_containers();
    XFileHandle* out = nullptr;
    int rc = xfile_create(name, kXModeCreate, &out, container, 2);
    if (rc < 0) {
        close_loaded_since(before);
        return failed(rc == kXNoFreeEntry ? "the directory is full" : "cannot create the member");
    }
    Result result = Result::applied();
    if (!created_in_copy(out, held))
        result = failed("cannot read the copy of the container: " + plat::last_error_text());
    std::uint8_t* buf = xfile::transfer_buffer();
    for (std::int64_t left = length; left > 0 && !result.failed();) {
        std::int32_t want = static_cast<std::int32_t>(std::min<std::int64_t>(left, xfile::kTransferBufferSize));
        int got = xfile_read(in, buf, want);
        if (got <= 0)
            result = failed("cannot read the new data: " + plat::last_error_text());
        else if (xfile_write(out, buf, got) != got)
            result = failed("cannot write the member: " + plat::last_error_text());
        else
            left -= got;
        report::keep_alive();
    }
    if (!result.failed()) {
        XFileContainer* c = out->container;
        if (xfile_close(out) != kContainerHeaderSize || !plat::flush_file(c->os_handle))
            result = failed("cannot write the directory: " + plat::last_error_text());
    }
    close_loaded_since(before);
    return result;
}

}  // namespace

Result add_member_to(const char* container_path, const char* member, XFileHandle* source) {
    std::size_t name_length = std::strlen(member);
    if (name_length == 0 || name_length > kMemberNameChars) return failed("a member name has 1 to 19 characters");
    if (std::strlen(container_path) > plat::kMaxPath)
        return failed("the container's path is longer than 260 characters");
    xfile::HeldContainer held;
    if (plat::file_exists(container_path)) {
        if (plat::is_directory(container_path)) return failed("is a directory, not a container");
        if (Result r = hold_for_add(container_path, member, &held); r.failed()) return r;
    }
    // What is left of the source from where it stands; the member's offsets are 32 bits.
    std::int64_t length = std::int64_t{xfile_size(source)} - (source->position - source->base);
    if (length < 0) length = 0;
    if ((held.file ? held.size : kContainerHeaderSize) + length > INT32_MAX)
        return failed("the container would grow past 2 GiB");
    plat::OutputFile temp;
    if (!temp.create(container_path)) return failed(temp.problem());
    if (held.file && !temp.copy_from(held.file.get(), 0, held.size))
        return failed("cannot copy the container: " + temp.problem());
    if (!temp.close_handle()) return failed(temp.problem());
    if (Result r = append_member(temp.scratch_path(), held, member, source, length); r.failed()) return r;
    if (!temp.keep(held.file.release())) return failed(temp.problem());
    return Result::applied();
}
