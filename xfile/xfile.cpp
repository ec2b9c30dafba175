// XFile handles over plain files, the retrying open and read, and the memory blocks.
// Member handles are directory entries of a loaded container; their open, create and close
// are handed to container.cpp, and their reads and writes are clamped to the member here.
#include "xfile/xfile.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "config/file_table.h"
#include "base/text.h"
#include "base/report.h"
#include "xfile/container.h"

namespace {

constexpr std::uint32_t kOpenRetryMs = 15;
constexpr std::uint32_t kReadRetryMs = 5000;
// Member create keeps answering "busy" while the first free entry is busy: starting again
// cannot help more than a few times.
constexpr int kCreateAttempts = 3;

constexpr std::uint16_t kBlockTag = 0x1234;
// A block is the caller's area behind a prefix that holds the tag 10 bytes before the area
// and the address of the whole block just before the area. 16 bytes keep the area aligned.
constexpr std::size_t kBlockPrefix = 16;

std::vector<XFileHandle*>& plain_handles() {
    static std::vector<XFileHandle*> handles;
    return handles;
}

void forget_plain_handle(XFileHandle* h) {
    auto& v = plain_handles();
    v.erase(std::remove(v.begin(), v.end(), h), v.end());
}

void copy_name(char (&dst)[20], const char* name) {
    std::strncpy(dst, name, sizeof dst - 1);
    dst[sizeof dst - 1] = 0;
}

XFileHandle* new_plain_handle(const char* name, plat::Handle os, std::uint32_t mode, std::int32_t size) {
    void* area = XAlloc(sizeof(XFileHandle));
    if (!area) return nullptr;
    auto* h = new (area) XFileHandle{};
    copy_name(h->name, name);
    h->os_handle = os;
    h->mode = mode;
    h->size = size;
    h->open = 1;
    plain_handles().push_back(h);
    return h;
}

bool is_member(const XFileHandle* h) { return h->container != nullptr; }

// Moves the container's file pointer to the member's position unless it already stands there.
void sync_member_position(XFileHandle* h) {
    XFileContainer* c = h->container;
    if (c->cached_position != h->position) {
        plat::seek_file(h->os_handle, h->position, plat::SeekFrom::Begin);
        c->cached_position = h->position;
    }
}

}  // namespace

namespace xfile {

plat::Handle retrying_open(const char* path, plat::Access access, plat::Disposition how) {
    std::uint32_t start = plat::tick_count();
    for (;;) {
        plat::Handle h = plat::open_file(path, access, how);
        if (h != plat::Handle::Invalid || plat::tick_count() - start >= kOpenRetryMs) return h;
        // Only another opener's hold can go away; a missing file or folder stays missing.
        if (plat::last_error() != plat::Error::SharingViolation) return h;
        plat::sleep_ms(1);
    }
}

std::uint32_t retrying_read(plat::Handle h, void* buffer, std::uint32_t count) {
    auto* out = static_cast<std::uint8_t*>(buffer);
    std::uint32_t total = 0;
    std::uint32_t start = plat::tick_count();
    for (;;) {
        std::uint32_t got = 0;
        bool ok = plat::read_file(h, out + total, count - total, &got);
        total += got;
        if (total == count || !ok) return total;
        std::int64_t position = plat::seek_file(h, 0, plat::SeekFrom::Current);
        std::int64_t size = plat::file_size(h);
        if (position < 0 || size < 0 || position >= size) return total;  // the true end
        if (plat::tick_count() - start >= kReadRetryMs) return total;
        plat::sleep_ms(1);
    }
}

void reset_xfile() {
    while (XFileContainer* c = loaded_containers()) container_close(c);
    std::vector<XFileHandle*> handles;
    handles.swap(plain_handles());
    for (XFileHandle* h : handles) {
        plat::close_file(h->os_handle);
        XFree(h);
    }
}

}  // namespace xfile

namespace {

// Modes that only read open the file for reading: a read-only file (a patch's data on a
// write-protected medium, a table the owner protected) can still be read, and the check a
// work item makes before it writes is not mistaken for a missing table.
plat::Access access_for(std::uint32_t mode) {
    return mode == kXModeRead || mode == kXModeReadWhole ? plat::Access::Read : plat::Access::ReadWrite;
}

std::string g_open_problem;

int open_plain(const char* path, const char* name, std::uint32_t mode, XFileHandle** out) {
    g_open_problem.clear();
    plat::File os(xfile::retrying_open(path, access_for(mode), plat::Disposition::OpenExisting));
    if (!os) {
        g_open_problem = plat::last_error_text();
        return kXOpenFailed;
    }
    std::int64_t size = plat::file_size(os.get());
    if (size < 0 || size > INT32_MAX) {  // positions are 32-bit: such a file is not the game's
        g_open_problem = size < 0 ? plat::last_error_text() : "the file is 2 GiB or larger, too large for the game";
        return kXOpenFailed;
    }
    XFileHandle* h = new_plain_handle(name, os.get(), mode, static_cast<std::int32_t>(size));
    if (!h) return kXAllocFailed;
    os.release();  // the handle owns it now
    *out = h;
    return kXOk;
}

}  // namespace

int xfile_open(char* name, std::uint32_t mode, XFileHandle** out) {
    *out = nullptr;
    int kind = config::resolve_logical_name(name);
    char path[plat::kMaxPath + 1];
    std::strcpy(path, config::file_table().result);
    if (kind == config::kContainerMember) return xfile::member_open(path, name, mode, out);
    return open_plain(path, name, mode, out);
}

int xfile_open_path(const char* path, std::uint32_t mode, XFileHandle** out) {
    *out = nullptr;
    if (std::strlen(path) > plat::kMaxPath) {
        g_open_problem = "the path is longer than 260 characters";
        return kXOpenFailed;
    }
    return open_plain(path, path, mode, out);
}

const std::string& xfile::open_problem() { return g_open_problem; }

int xfile_create(char* name, std::uint32_t mode, XFileHandle** out, const char* path,
                 std::uint16_t attribute) {
    *out = nullptr;
    for (int attempt = 0; attempt < kCreateAttempts; ++attempt) {
        char target[plat::kMaxPath + 1];
        int kind = config::kContainerMember;
        if (!path || !path[0]) {
            kind = config::resolve_logical_name(name);
            std::strcpy(target, config::file_table().result);
        } else if (!text::copy_if_fits(target, plat::kMaxPath, path)) {
            return kXCreateFailed;
        }
        if (kind != config::kContainerMember) {
            plat::File os(xfile::retrying_open(target, plat::Access::Write, plat::Disposition::CreateAlways));
            if (!os) return kXCreateFailed;
            XFileHandle* h = new_plain_handle(name, os.get(), mode | kXGrowFlag, 0);
            if (!h) return kXAllocFailed;
            plat::seek_file(os.get(), 0, plat::SeekFrom::Begin);
            os.release();  // the handle owns it now
            *out = h;
            return kXPlainCreated;
        }
        int rc = xfile::member_create(target, name, attribute, out);
        if (rc != kXEntryBusy) return rc;
    }
    return kXNoFreeEntry;  // only busy free entries are left: the directory is as good as full
}

int xfile_read(XFileHandle* h, void* buffer, std::int32_t count) {
    if (!h || !(h->open & 1)) return kXNotOpen;
    if (count < 0) count = 0;
    if (is_member(h)) {
        std::int64_t left = static_cast<std::int64_t>(h->size) - (h->position - h->base);
        count = static_cast<std::int32_t>(std::clamp<std::int64_t>(left, 0, count));
        sync_member_position(h);
    }
    std::uint32_t got = xfile::retrying_read(h->os_handle, buffer, static_cast<std::uint32_t>(count));
    h->position += static_cast<std::int32_t>(got);
    if (is_member(h)) h->container->cached_position = h->position;
    return static_cast<int>(got);
}

int xfile_write(XFileHandle* h, const void* buffer, std::int32_t count) {
    if (!h || !(h->open & 1)) return kXNotOpen;
    if (count < 0) count = 0;
    if (is_member(h)) {
        std::int64_t left = static_cast<std::int64_t>(h->size) - (h->position - h->base);
        if (count > left && !(h->mode & kXGrowFlag))
            count = static_cast<std::int32_t>(std::max<std::int64_t>(left, 0));
        sync_member_position(h);
    }
    std::uint32_t put = 0;
    bool ok = plat::write_file(h->os_handle, buffer, static_cast<std::uint32_t>(count), &put);
    h->position += static_cast<std::int32_t>(put);
    if (is_member(h)) h->container->cached_position = h->position;
    if (h->mode & kXGrowFlag) h->size = h->position - h->base;
    if (!ok) return kXWriteFailed;
    return static_cast<int>(put);
}

int xfile_seek(XFileHandle* h, std::int32_t offset, int whence) {
    if (!h || !(h->open & 1)) return kXNotOpen;
    std::int64_t anchor = -1;
    if (whence == 0) anchor = h->base;
    else if (whence == 1) anchor = h->position;
    else if (whence == 2) anchor = static_cast<std::int64_t>(h->base) + h->size;
    if (anchor >= 0 && plat::seek_file(h->os_handle, anchor, plat::SeekFrom::Begin) < 0) return kXNotOpen;
    std::int64_t now = plat::seek_file(h->os_handle, offset, plat::SeekFrom::Current);
    if (now < 0 || now > INT32_MAX) return kXNotOpen;
    h->position = static_cast<std::int32_t>(now);
    if (is_member(h)) h->container->cached_position = h->position;
    return offset;
}

int xfile_size(XFileHandle* h) { return h ? h->size : kXNotOpen; }

int xfile_close(XFileHandle* h) {
    if (!h) return 0;
    if (is_member(h)) return xfile::member_close(h);
    forget_plain_handle(h);
    plat::close_file(h->os_handle);
    XFree(h);
    return 0;
}

int xfile_flush(XFileHandle* h) {
    if (!h || !(h->open & 1)) return kXNotOpen;
    return plat::flush_file(h->os_handle) ? kXOk : kXWriteFailed;
}

void* XAlloc(std::size_t n) {
    auto* block = static_cast<std::uint8_t*>(plat::memory_alloc(n + kBlockPrefix));
    if (!block) {
        report::error_box(plat::last_error_text().c_str(), "GetLastError");
        return nullptr;
    }
    std::uint8_t* area = block + kBlockPrefix;
    std::uint16_t tag = kBlockTag;
    std::memcpy(area - 10, &tag, sizeof tag);
    std::memcpy(area - sizeof block, &block, sizeof block);
    return area;
}

void XFree(void* p) {
    if (!p) return;
    auto* area = static_cast<std::uint8_t*>(p);
    std::uint16_t tag = 0;
    std::memcpy(&tag, area - 10, sizeof tag);
    if (tag != kBlockTag) {
        report::error_box("Bad XMEM Memory.", "XFree Error");
        return;
    }
    std::uint8_t* block = nullptr;
    std::memcpy(&block, area - sizeof block, sizeof block);
    tag = 0;
    std::memcpy(area - 10, &tag, sizeof tag);
    plat::memory_free(block);
}
