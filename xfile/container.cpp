// Loaded containers and their members: open an existing member, create a new one at the end
// of the file, write the header back when a member closes.
//
// Loaded containers form a list, newest first, found by their path compared byte for byte.
// A container stays loaded, its file open and locked, until a member open loads another one
// or the run is reset.
#include "xfile/container.h"

#include <algorithm>
#include <cstring>
#include <new>

#include "base/text.h"
#include "base/little_endian.h"

namespace xfile {

namespace {

XFileContainer* g_loaded = nullptr;

std::uint8_t* entry_image(std::uint8_t* image, int i) {
    return image + kContainerDirectoryOffset + i * kContainerEntrySize;
}
const std::uint8_t* entry_image(const std::uint8_t* image, int i) {
    return image + kContainerDirectoryOffset + i * kContainerEntrySize;
}

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
XFileContainer* register_container(const std::uint8_t* image, const char* path, plat::Handle os) {
    void* area = XAlloc(sizeof(XFileContainer));
    if (!area) return nullptr;
    auto* c = new (area) XFileContainer{};
    decode_header(image, *c);
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

// Reads the header at the start of an open file; false when the file is shorter.
bool read_header(plat::Handle os, std::uint8_t* image) {
    plat::seek_file(os, 0, plat::SeekFrom::Begin);
    return retrying_read(os, image, kContainerHeaderSize) == static_cast<std::uint32_t>(kContainerHeaderSize);
}

// An entry whose data does not lie within the file behind the header is damaged.
bool entry_within_file(const XFileHandle& e, std::int64_t file_size) {
    return e.base >= kContainerHeaderSize && e.size >= 0 &&
           static_cast<std::int64_t>(e.base) + e.size <= file_size;
}

// The container for member open: the loaded one, or a newly loaded one for reading only.
int load_for_open(const char* path, XFileContainer** out) {
    if ((*out = find_loaded(path))) return kXOk;
    if (g_loaded) container_close(g_loaded);
    if (!plat::file_exists(path)) return kXNotOpen;
    plat::Handle os = retrying_open(path, plat::Access::Read, plat::Disposition::OpenExisting);
    if (os == plat::Handle::Invalid) return kXNotOpen;
    static std::uint8_t image[kContainerHeaderSize];
    if (!read_header(os, image)) {
        plat::close_file(os);
        return kXNotOpen;
    }
    if (!(*out = register_container(image, path, os))) {
        plat::close_file(os);
        return kXAllocFailed;
    }
    return kXOk;
}

// The container for member create: the loaded one, the existing file, or a new empty one.
int load_for_create(const char* path, XFileContainer** out) {
    if ((*out = find_loaded(path))) return kXOk;
    static std::uint8_t image[kContainerHeaderSize];
    plat::Handle os = plat::Handle::Invalid;
    if (plat::file_exists(path)) {
        os = retrying_open(path, plat::Access::ReadWrite, plat::Disposition::OpenExisting);
        if (os != plat::Handle::Invalid && !read_header(os, image)) {
            plat::close_file(os);
            os = plat::Handle::Invalid;
        }
    }
    if (os == plat::Handle::Invalid) {
        os = retrying_open(path, plat::Access::ReadWrite, plat::Disposition::CreateAlways);
        if (os == plat::Handle::Invalid) return kXWriteFailed;
        std::memset(image, 0, sizeof image);
        std::memcpy(image, kContainerSignature, sizeof kContainerSignature);
        std::uint32_t put = 0;
        if (!plat::write_file(os, image, kContainerHeaderSize, &put) ||
            put != static_cast<std::uint32_t>(kContainerHeaderSize)) {
            plat::close_file(os);
            return kXWriteFailed;
        }
    }
    if (!(*out = register_container(image, path, os))) {
        plat::close_file(os);
        return kXAllocFailed;
    }
    return kXOk;
}

}  // namespace

void decode_entry(const std::uint8_t* p, XFileHandle& e) {
    e = XFileHandle{};
    std::memcpy(e.name, p, 20);
    e.name[19] = 0;
    e.size = le::get32s(p + 32);
    e.base = le::get32s(p + 40);
    e.position = e.base;
    e.attribute = le::get16(p + 46);
}

void encode_entry(const XFileHandle& e, std::uint8_t* p) {
    std::memset(p, 0, kContainerEntrySize);
    std::memcpy(p, e.name, std::min<std::size_t>(std::strlen(e.name), 19));
    le::put32s(p + 32, e.size);
    le::put32s(p + 40, e.base);
    le::put16(p + 46, e.attribute);
}

void decode_header(const std::uint8_t* image, XFileContainer& c) {
    std::memcpy(c.signature, image, sizeof c.signature);
    std::memcpy(c.version_tag, image + 17, sizeof c.version_tag);
    c.reserved1 = le::get32(image + 324);
    c.reserved2 = le::get16(image + 338);
    for (int i = 0; i < kContainerMembers; ++i) decode_entry(entry_image(image, i), c.entries[i]);
}

void encode_header(const XFileContainer& c, std::uint8_t* image) {
    std::memset(image, 0, kContainerHeaderSize);
    std::memcpy(image, c.signature, sizeof c.signature);
    std::memcpy(image + 17, c.version_tag, sizeof c.version_tag);
    le::put32(image + 324, c.reserved1);
    le::put16(image + 338, c.reserved2);
    for (int i = 0; i < kContainerMembers; ++i) encode_entry(c.entries[i], entry_image(image, i));
}

XFileContainer* loaded_containers() { return g_loaded; }

int write_container_header(XFileContainer* c) {
    static std::uint8_t image[kContainerHeaderSize];
    encode_header(*c, image);
    std::uint32_t put = 0;
    if (plat::seek_file(c->os_handle, 0, plat::SeekFrom::Begin) < 0) return 0;
    plat::write_file(c->os_handle, image, kContainerHeaderSize, &put);
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
    if (!entry_within_file(*e, c->file_size)) return kXNotOpen;
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
    config::lower(container_path);
    config::lower(name);
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

}  // namespace xfile
