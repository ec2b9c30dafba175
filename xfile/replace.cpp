// Container member replacement.
//
// The container is never changed in place: everything goes to "<container>~" first, every
// read and write is checked, the temporary file is flushed, and only then does it replace the
// container in one step. Any failure deletes the temporary file and leaves the container as
// it was, byte for byte.
#include "xfile/replace.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "config/file_table.h"
#include "config/text.h"
#include "platform/little_endian.h"
#include "platform/platform.h"
#include "shell/report.h"
#include "xfile/container.h"
#include "xfile/transfer.h"
#include "xfile/xfile.h"

namespace {

constexpr char kReplacedTag[3] = {'0', '2', 0};

bool is_name_end(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

ReplaceResult failed(const char* problem) { return {WorkResult::Failed, problem}; }

// One rewrite: the container held exclusively, the temporary file, and the header image.
class Rewrite {
public:
    ~Rewrite() { abandon(); }

    ReplaceResult run(const char* container_path, char* member, char* source);

private:
    bool copy_range(std::int64_t length);  // container -> temp, `length` bytes from here
    bool copy_rest();                      // container -> temp, up to the container's end
    bool copy_source(XFileHandle* h, std::int32_t size);
    bool write_temp(const void* data, std::uint32_t count);
    std::uint8_t* entry(int i) { return header_ + kContainerDirectoryOffset + i * kContainerEntrySize; }
    int find_entry(const char* member);
    void shift_offsets(int index, std::int32_t difference);
    void abandon();

    plat::Handle container_ = plat::Handle::Invalid;
    plat::Handle temp_ = plat::Handle::Invalid;
    std::string temp_path_;
    std::int64_t container_size_ = 0;
    std::uint8_t header_[kContainerHeaderSize];
};

void Rewrite::abandon() {
    if (temp_ != plat::Handle::Invalid) {
        plat::close_file(temp_);
        temp_ = plat::Handle::Invalid;
        plat::delete_file(temp_path_.c_str());
    }
    if (container_ != plat::Handle::Invalid) {
        plat::close_file(container_);
        container_ = plat::Handle::Invalid;
    }
}

bool Rewrite::write_temp(const void* data, std::uint32_t count) {
    std::uint32_t put = 0;
    return plat::write_file(temp_, data, count, &put) && put == count;
}

bool Rewrite::copy_range(std::int64_t length) {
    std::uint8_t* buf = xfile::transfer_buffer();
    while (length > 0) {
        std::uint32_t want = static_cast<std::uint32_t>(
            length < static_cast<std::int64_t>(xfile::kTransferBufferSize) ? length : xfile::kTransferBufferSize);
        std::uint32_t got = 0;
        if (!plat::read_file(container_, buf, want, &got) || got == 0) return false;  // shorter than it says
        if (!write_temp(buf, got)) return false;
        length -= got;
    }
    return true;
}

bool Rewrite::copy_rest() {
    std::uint8_t* buf = xfile::transfer_buffer();
    for (;;) {
        std::uint32_t got = 0;
        if (!plat::read_file(container_, buf, xfile::kTransferBufferSize, &got)) return false;
        if (got == 0) return true;
        if (!write_temp(buf, got)) return false;
    }
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
    }
    return true;
}

int Rewrite::find_entry(const char* member) {
    for (int i = 0; i < kContainerMembers; ++i) {
        const std::uint8_t* e = entry(i);
        if (e[0] && std::strncmp(reinterpret_cast<const char*>(e), member, 20) == 0 && std::memchr(e, 0, 20))
            return i;
    }
    return -1;
}

// Every other member whose data lies at or behind the end of the replaced member's old data
// moves by the difference. Comparing with the end rather than the start keeps a member that
// shares the start offset of an empty replaced member pointing at its own data.
void Rewrite::shift_offsets(int index, std::int32_t difference) {
    std::uint8_t* e = entry(index);
    std::int32_t offset = le::get32s(e + 40);
    std::int32_t old_size = le::get32s(e + 32);
    std::int64_t old_end = static_cast<std::int64_t>(offset) + old_size;
    le::put32s(e + 32, old_size + difference);
    for (int i = 0; i < kContainerMembers; ++i) {
        if (i == index) continue;
        std::uint8_t* other = entry(i);
        std::int32_t other_offset = le::get32s(other + 40);
        if (other_offset >= old_end) le::put32s(other + 40, other_offset + difference);
    }
}

ReplaceResult Rewrite::run(const char* container_path, char* member, char* source) {
    if (!plat::file_exists(container_path)) return failed("the container does not exist");
    container_ = plat::open_file(container_path, plat::Access::ReadWrite, plat::Disposition::OpenExisting);
    if (container_ == plat::Handle::Invalid) return failed("cannot open the container");
    container_size_ = plat::file_size(container_);
    std::uint32_t got = 0;
    if (!plat::read_file(container_, header_, kContainerHeaderSize, &got) || got != kContainerHeaderSize)
        return failed("the container's header is short");
    if (std::strncmp(reinterpret_cast<const char*>(header_ + 17), kReplacedTag, 3) > 0)
        return {WorkResult::Skipped, "the container has a newer version tag"};

    char progress[plat::kMaxPath + 32];
    std::snprintf(progress, sizeof progress, "@Change %s files ...", member);
    report::progress_text(progress);

    int index = find_entry(member);
    if (index < 0) return failed("the container has no member of that name");
    std::int32_t offset = le::get32s(entry(index) + 40);
    std::int32_t old_size = le::get32s(entry(index) + 32);
    if (offset < kContainerHeaderSize || old_size < 0 ||
        static_cast<std::int64_t>(offset) + old_size > container_size_)
        return failed("the member's directory entry points outside the container");

    temp_path_ = std::string(container_path) + "~";
    if (temp_path_.size() > plat::kMaxPath) return failed("the container's path is too long");
    temp_ = plat::open_file(temp_path_.c_str(), plat::Access::ReadWrite, plat::Disposition::CreateAlways);
    if (temp_ == plat::Handle::Invalid) return failed("cannot create the temporary file");

    if (plat::seek_file(container_, 0, plat::SeekFrom::Begin) != 0 || !copy_range(offset))
        return failed("cannot copy the container");

    XFileHandle* h = nullptr;
    if (xfile_open(source, kXModeReadWhole, &h) < 0) return failed("cannot open the new data");
    std::int32_t new_size = xfile_size(h);
    bool copied = copy_source(h, new_size);
    xfile_close(h);
    if (!copied) return failed("cannot copy the new data");
    if (static_cast<std::int64_t>(new_size) - old_size + container_size_ > INT32_MAX)
        return failed("the container would grow past 2 GiB");

    if (plat::seek_file(container_, static_cast<std::int64_t>(offset) + old_size, plat::SeekFrom::Begin) < 0 ||
        !copy_rest())
        return failed("cannot copy the container");

    shift_offsets(index, new_size - old_size);
    std::memcpy(header_ + 17, kReplacedTag, sizeof kReplacedTag);
    if (plat::seek_file(temp_, 0, plat::SeekFrom::Begin) != 0 || !write_temp(header_, kContainerHeaderSize))
        return failed("cannot write the container's header");
    if (!plat::flush_file(temp_)) return failed("cannot flush the new container");

    plat::close_file(temp_);
    temp_ = plat::Handle::Invalid;
    plat::close_file(container_);
    container_ = plat::Handle::Invalid;
    if (!plat::replace_file(temp_path_.c_str(), container_path)) {
        plat::delete_file(temp_path_.c_str());
        return failed("cannot put the new container in place");
    }
    return {WorkResult::Applied, nullptr};
}

}  // namespace

ReplaceResult replace_member_in(const char* container_path, char* member, char* source) {
    config::trim(member);
    config::lower(member);
    Rewrite rewrite;
    return rewrite.run(container_path, member, source);
}

ReplaceResult replace_container_member(const char* text) {
    char source[plat::kMaxPath + 1] = {};
    char member[plat::kMaxPath + 1] = {};
    std::size_t n = 0;
    while (text[n] && !is_name_end(text[n])) ++n;
    if (n > plat::kMaxPath || std::strlen(text + n) > plat::kMaxPath) return failed("the work line is too long");
    std::memcpy(source, text, n);
    std::strcpy(member, text + n);
    config::trim(member);

    if (config::resolve_logical_name(member) != config::kContainerMember)
        return failed("the member's container is not in the game");
    char container_path[plat::kMaxPath + 1];
    std::strcpy(container_path, config::file_table().result);
    return replace_member_in(container_path, member, source);
}
