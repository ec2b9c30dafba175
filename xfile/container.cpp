// Loaded containers and their members: open an existing member, create a new one at the end
// of the file, write the header back when a member closes.
//
// Loaded containers form a list, newest first, found by their path compared byte for byte.
// A container stays loaded, its file open and locked, until a member open loads another one
// or the run is reset.
#include "xfile/container.h"

#include <array>
#include <cstring>
#include <new>
#include <optional>

#include "base/text.h"
#include "xfile/container_info.h"

namespace xfile {

using container_format::ContainerEntry;
using container_format::ContainerHeader;

namespace {

XFileContainer* g_loaded = nullptr;

void unlink_container(XFileContainer* c) {
    for (XFileContainer** p = &g_loaded; *p; p = &(*p)->next) {
        if (*p == c) {
            *p = c->next;
            return;
        }
    }
}

XFileContainer* find_loaded(const char* path) {
    for (XFileContainer* c = g_loaded; c; c = c->next)
        if (std::strcmp(c->path, path) == 0) return c;
    return nullptr;
}

// Makes the loaded record from a header image and puts it at the front of the list.
XFileContainer* register_container(const ContainerHeader& header, const char* path, plat::Handle os) {
    void* area = XAlloc(sizeof(XFileContainer));
    if (!area) return nullptr;
    auto* c = new (area) XFileContainer{};
    decode_header(header, *c);
    std::strncpy(c->path, path, kContainerPathChars);
    c->path[kContainerPathChars] = 0;
    c->os_handle = os;
    c->file_size = plat::file_size(os);
    c->cached_position = 0;
    c->create_count = 0;
    for (XFileHandle& e : c->entries) e.open = 0;
    c->next = g_loaded;
    g_loaded = c;
    return c;
}

// The header images of the loads, static as the header is large.
ContainerHeader& header_scratch() {
    static ContainerHeader header;
    return header;
}

// Reads the header at the start of an open file; false when the file is shorter.
bool read_header(plat::Handle os, ContainerHeader& header) {
    static std::uint8_t image[kContainerHeaderSize];
    plat::seek_file(os, 0, plat::SeekFrom::Begin);
    if (retrying_read(os, image, kContainerHeaderSize) != static_cast<std::uint32_t>(kContainerHeaderSize))
        return false;
    std::optional<ContainerHeader> decoded = ContainerHeader::decode(image);
    if (!decoded) return false;
    header = *decoded;
    return true;
}

// The container for member open: the loaded one, or a newly loaded one for reading only.
int load_for_open(const char* path, XFileContainer** out) {
    if ((*out = find_loaded(path))) return kXOk;
    if (g_loaded) container_close(g_loaded);
    if (!plat::file_exists(path)) return kXNotOpen;
    plat::File os(retrying_open(path, plat::Access::Read, plat::Disposition::OpenExisting));
    if (!os) return kXNotOpen;
    ContainerHeader& header = header_scratch();
    if (!read_header(os.get(), header)) return kXNotOpen;
    if (!(*out = register_container(header, path, os.get()))) return kXAllocFailed;
    os.release();  // the loaded container owns it now
    return kXOk;
}

// The container for member create: the loaded one, the existing file, or a new empty one.
int load_for_create(const char* path, XFileContainer** out) {
    if ((*out = find_loaded(path))) return kXOk;
    ContainerHeader& header = header_scratch();
    plat::File os;
    if (plat::file_exists(path)) {
        os = plat::File(retrying_open(path, plat::Access::ReadWrite, plat::Disposition::OpenExisting));
        if (os && !read_header(os.get(), header)) os.close();
    }
    if (!os) {
        os = plat::File(retrying_open(path, plat::Access::ReadWrite, plat::Disposition::CreateAlways));
        if (!os) return kXWriteFailed;
        header = ContainerHeader();
        std::uint32_t put = 0;
        if (!plat::write_file(os.get(), header.bytes().data(), kContainerHeaderSize, &put) ||
            put != static_cast<std::uint32_t>(kContainerHeaderSize))
            return kXWriteFailed;
    }
    if (!(*out = register_container(header, path, os.get()))) return kXAllocFailed;
    os.release();  // the loaded container owns it now
    return kXOk;
}

}  // namespace

void decode_entry(const ContainerEntry& stored, XFileHandle& e) {
    e = XFileHandle{};
    std::memcpy(e.name, stored.name.data(), sizeof e.name);
    e.name[sizeof e.name - 1] = 0;
    e.size = stored.size;
    e.base = stored.offset;
    e.position = e.base;
    e.attribute = stored.attribute;
}

ContainerEntry encode_entry(const XFileHandle& e) {
    ContainerEntry stored;
    stored.set_name(std::string_view(e.name, strnlen(e.name, sizeof e.name)));
    stored.size = e.size;
    stored.offset = e.base;
    stored.attribute = e.attribute;
    return stored;
}

void decode_header(const ContainerHeader& header, XFileContainer& c) {
    std::array<char, container_format::kSignatureBytes> signature = header.signature();
    std::memcpy(c.signature, signature.data(), sizeof c.signature);
    std::array<char, container_format::kTagBytes> tag = header.tag_bytes();
    std::memcpy(c.version_tag, tag.data(), sizeof c.version_tag);
    c.reserved1 = header.reserved1();
    c.reserved2 = header.reserved2();
    for (int i = 0; i < kContainerMembers; ++i) decode_entry(header.entry(i), c.entries[i]);
}

namespace {

// Builds the header image in place of a temporary: it is written on every member close.
void encode_header_into(const XFileContainer& c, ContainerHeader& header) {
    header = ContainerHeader();
    std::array<char, container_format::kSignatureBytes> signature;
    std::memcpy(signature.data(), c.signature, sizeof c.signature);
    header.set_signature(signature);
    std::array<char, container_format::kTagBytes> tag;
    std::memcpy(tag.data(), c.version_tag, sizeof c.version_tag);
    header.set_tag_bytes(tag);
    header.set_reserved1(c.reserved1);
    header.set_reserved2(c.reserved2);
    for (int i = 0; i < kContainerMembers; ++i) header.set_entry(i, encode_entry(c.entries[i]));
}

}  // namespace

ContainerHeader encode_header(const XFileContainer& c) {
    ContainerHeader header;
    encode_header_into(c, header);
    return header;
}

XFileContainer* loaded_containers() { return g_loaded; }

int write_container_header(XFileContainer* c) {
    ContainerHeader& header = header_scratch();
    encode_header_into(*c, header);
    std::uint32_t put = 0;
    if (plat::seek_file(c->os_handle, 0, plat::SeekFrom::Begin) < 0) return 0;
    plat::write_file(c->os_handle, header.bytes().data(), kContainerHeaderSize, &put);
    c->cached_position = put;
    return static_cast<int>(put);
}

int container_close(XFileContainer* c) {
    int result = 0;
    for (XFileHandle& e : c->entries) {
        if (e.mode & kXGrowFlag) {
            e.mode &= ~kXGrowFlag;
            result = write_container_header(c);
            break;
        }
    }
    plat::close_file(c->os_handle);
    unlink_container(c);
    XFree(c);
    return result;
}

int member_open(const char* container_path, const char* name, std::uint32_t mode, XFileHandle** out) {
    *out = nullptr;
    XFileContainer* c = nullptr;
    if (int rc = load_for_open(container_path, &c); rc != kXOk) return rc;
    if (c->create_count >= kContainerMembers) return kXNoSuchMember;
    XFileHandle* e = nullptr;
    for (XFileHandle& candidate : c->entries) {
        if (candidate.name[0] && std::strcmp(candidate.name, name) == 0) {
            e = &candidate;
            break;
        }
    }
    if (!e) return kXNoSuchMember;
    if (e->open & 1) return kXAlreadyOpen;
    if (!container_format::entry_inside_file(e->base, e->size, c->file_size)) return kXNotOpen;
    e->reserved = 0;
    e->open = 1;
    e->mode = mode;
    plat::seek_file(c->os_handle, e->base, plat::SeekFrom::Begin);
    e->position = e->base;
    c->cached_position = e->position;
    e->os_handle = c->os_handle;
    e->container = c;
    *out = e;
    return kXOk;
}

int member_create(char* container_path, char* name, std::uint16_t attribute, XFileHandle** out) {
    *out = nullptr;
    text::lower(container_path);
    text::lower(name);
    XFileContainer* c = nullptr;
    if (int rc = load_for_create(container_path, &c); rc != kXOk) return rc;
    XFileHandle* e = nullptr;
    if (c->create_count < kContainerMembers) {
        for (XFileHandle& candidate : c->entries) {
            if (!candidate.name[0]) {
                e = &candidate;
                break;
            }
        }
    }
    if (!e) return kXNoFreeEntry;
    if (e->attribute == 2) return kXEntryBusy;
    std::strncpy(e->name, name, 19);
    e->name[19] = 0;
    for (XFileHandle& other : c->entries) other.mode &= ~kXGrowFlag;
    e->reserved = 0;
    e->mode = kXModeCreate | kXGrowFlag;
    e->size = 0;
    std::int64_t end = plat::seek_file(c->os_handle, 0, plat::SeekFrom::End);
    e->position = e->base = static_cast<std::int32_t>(end < 0 ? 0 : end);
    e->open = 1;
    e->attribute = attribute;
    c->cached_position = e->position;
    ++c->create_count;
    e->container = c;
    e->os_handle = c->os_handle;
    *out = e;
    return kXOk;
}

int member_close(XFileHandle* member) {
    member->open &= ~1u;
    member->mode &= ~kXGrowFlag;
    return write_container_header(member->container);
}

HeldContainer hold_container(const char* path) {
    using Problem = HeldContainer::Problem;
    HeldContainer held;
    // Held for reading: every open is exclusive, so that locks it against other writers as
    // well, and the rewrite writes a new file rather than this one; an install's journal then
    // sees no update in place here. A file that may not be written is refused all the same.
    if (plat::is_read_only(path)) {
        held.problem = Problem::CannotOpen;
        held.detail = "the file is read-only";
        return held;
    }
    held.file = plat::File::open(path, plat::Access::Read, plat::Disposition::OpenExisting);
    if (!held.file) {
        held.problem = plat::last_error() == plat::Error::SharingViolation ? Problem::InUse : Problem::CannotOpen;
        held.detail = plat::last_error_text();
        return held;
    }
    held.size = plat::file_size(held.file.get());
    static std::uint8_t image[kContainerHeaderSize];
    std::uint32_t got = 0;
    if (!plat::read_file(held.file.get(), image, kContainerHeaderSize, &got)) {
        held.problem = Problem::CannotRead;
        held.detail = plat::last_error_text();
        return held;
    }
    std::span<const std::uint8_t> read(image, got);
    if (std::string why = structural_problem(container_info_from_header(read, held.size)); !why.empty()) {
        held.problem = Problem::Damaged;
        held.detail = why;
        return held;
    }
    held.header = *ContainerHeader::decode(read);  // whole: the check above says so
    return held;
}

}  // namespace xfile
