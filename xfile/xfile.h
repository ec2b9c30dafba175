// XFile: the game's file library. One handle type over plain files and container members,
// opened by logical name through the file table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/platform.h"

struct XFileContainer;

// An open file or member. The same record, field for field, is a container's directory
// entry (the container layer reads and writes it through explicit little-endian helpers).
struct XFileHandle {
    char name[20];               // logical name as the resolver left it, cut at 19 characters
    plat::Handle os_handle;      // for a member: its container's file
    std::uint32_t reserved;      // 0 when a member is opened or created
    std::uint32_t mode;          // the opener's mode; bit value 2 is the grow flag
    std::int32_t size;           // bytes of data
    std::int32_t position;       // absolute offset in the OS file of the next byte
    std::int32_t base;           // absolute offset where the data begins; 0 for a plain file
    std::uint16_t open;          // bit 0 while open
    std::uint16_t attribute;     // member attribute
    XFileContainer* container;   // null for a plain file
};

// Mode values of the callers.
constexpr std::uint32_t kXModeRead = 0;        // message files and records
constexpr std::uint32_t kXModeUpdate = 2;      // bytes of the message tables in place
constexpr std::uint32_t kXModeReadWhole = 4;   // record files, a member's new data
constexpr std::uint32_t kXModeCreate = 12;     // create adds the grow flag: handles carry 14
constexpr std::uint32_t kXGrowFlag = 2;        // writes may pass the end; size follows them

// Results.
constexpr int kXPlainCreated = 1;    // xfile_create made a plain file
constexpr int kXOk = 0;
constexpr int kXAllocFailed = -1;
constexpr int kXCreateFailed = -2;   // xfile_create: the plain file could not be made
constexpr int kXNoFreeEntry = -3;    // member create: the directory is full
constexpr int kXNotOpen = -4;        // handle not open; container missing, short or damaged
constexpr int kXNoSuchMember = -5;
constexpr int kXAlreadyOpen = -6;
constexpr int kXOpenFailed = -7;     // xfile_open: the plain file could not be opened
constexpr int kXWriteFailed = -9;
constexpr int kXEntryBusy = 10;      // member create only: the free entry found is busy

// `name` is resolved in place (trimmed, lower-cased) through the file table.
int xfile_open(char* name, std::uint32_t mode, XFileHandle** out);
// Opens a plain file by its path as given, without the file table (no trimming, no
// lower-casing): a file a person named. A path that does not fit a path buffer is refused.
int xfile_open_path(const char* path, std::uint32_t mode, XFileHandle** out);
// Creates a plain file (returns 1) or a new member (returns 0). `path`, when not empty, is
// the container's OS path to use instead of resolving `name`.
int xfile_create(char* name, std::uint32_t mode, XFileHandle** out, const char* path,
                 std::uint16_t attribute);
int xfile_read(XFileHandle* h, void* buffer, std::int32_t count);
int xfile_write(XFileHandle* h, const void* buffer, std::int32_t count);
// whence: 0 from the data's start, 1 from the position, 2 from the data's end, other: from
// the OS pointer. Returns `offset` (not the new position), or -4.
int xfile_seek(XFileHandle* h, std::int32_t offset, int whence);
int xfile_size(XFileHandle* h);
int xfile_close(XFileHandle* h);
// Puts what was written through the handle on the disk: 0, or -4 / -9.
int xfile_flush(XFileHandle* h);

// Memory blocks of the library, tagged so that a foreign pointer is caught when freed.
void* XAlloc(std::size_t n);
void XFree(void* area);

namespace xfile {

// The OS open that every XFile open goes through: a file that another opener holds for a
// moment is tried again for up to 15 ms.
plat::Handle retrying_open(const char* path, plat::Access access, plat::Disposition how);
// The OS read that every XFile read goes through. A short count before the end of the file
// is tried again for up to 5000 ms; at the end of the file it is final at once.
std::uint32_t retrying_read(plat::Handle h, void* buffer, std::uint32_t count);

// Why the last open of a plain file failed, in words: the system's, or the file's size.
const std::string& open_problem();

// Closes every plain handle and every loaded container, for tests and repeated headless runs.
void reset_xfile();

}  // namespace xfile
