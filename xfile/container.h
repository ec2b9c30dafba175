// Container files: a 26344-byte header with a directory of 500 entries, then member data.
//
//   offset  size   field
//        0    17   signature "XFile V1.0 DS:SI" and NUL (written on create, never checked)
//       17     3   version tag: zeros, or "02" after a member replacement
//       20   300   path when loaded              (run-time, written as zero)
//      320     4   OS file handle                (run-time, zero)
//      324     4   reserved
//      328     4   file size when loaded         (run-time, zero)
//      332     4   cached OS position            (run-time, zero)
//      336     2   members created since load    (run-time, zero)
//      338     2   reserved
//      340     4   next loaded container         (run-time, zero)
//      344 26000   500 directory entries of 52 bytes:
//                    0 20 name (first byte 0: free)   32 4 size       40 4 data offset
//                   46  2 attribute (2: made by the installer; a free entry with 2 is busy)
//                  the other fields (20..31, 36..39, 44..45, 48..51) are run-time, zero.
#pragma once

#include <cstdint>

#include "xfile/xfile.h"

constexpr int kContainerMembers = 500;
constexpr int kContainerHeaderSize = 26344;
constexpr int kContainerEntrySize = 52;
constexpr int kContainerDirectoryOffset = 344;
constexpr int kContainerPathChars = 299;
inline constexpr char kContainerSignature[] = "XFile V1.0 DS:SI";

// A loaded container: its header and the run-time state that goes with it. The directory
// entries are the handles of its members.
struct XFileContainer {
    char signature[17];
    char version_tag[3];
    char path[kContainerPathChars + 1];
    plat::Handle os_handle;
    std::uint32_t reserved1;
    std::int64_t file_size;
    std::int64_t cached_position;
    std::uint16_t create_count;
    std::uint16_t reserved2;
    XFileContainer* next;
    XFileHandle entries[kContainerMembers];
};

namespace xfile {

// The on-disk header and the in-memory record, through explicit little-endian helpers.
// Run-time fields are not read, and written as zero.
void decode_header(const std::uint8_t* image, XFileContainer& c);
void encode_header(const XFileContainer& c, std::uint8_t* image);
// One entry; only the name, size, offset and attribute are stored.
void decode_entry(const std::uint8_t* image, XFileHandle& e);
void encode_entry(const XFileHandle& e, std::uint8_t* image);

// The hand-overs from xfile_open, xfile_create and xfile_close.
int member_open(const char* container_path, const char* name, std::uint32_t mode, XFileHandle** out);
int member_create(char* container_path, char* name, std::uint16_t attribute, XFileHandle** out);
int member_close(XFileHandle* member);

// The newest loaded container first; null when none is loaded.
XFileContainer* loaded_containers();
// Closes one loaded container; returns the header write's result, or 0 if none was needed.
int container_close(XFileContainer* c);
// Writes the header image at offset 0; returns the bytes written (0 on failure).
int write_container_header(XFileContainer* c);

}  // namespace xfile
