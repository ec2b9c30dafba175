// Loaded containers: the in-memory record of a container's header and the members opened
// and created through it. The file's layout is in container_format.h.
#pragma once

#include <cstdint>
#include <string>

#include "xfile/container_format.h"
#include "xfile/xfile.h"

constexpr int kContainerPathChars = 299;

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

// The on-disk header and the in-memory record. Run-time fields are not read, and written as
// zero.
void decode_header(const container_format::ContainerHeader& header, XFileContainer& c);
container_format::ContainerHeader encode_header(const XFileContainer& c);
// One entry; only the name, size, offset and attribute are stored.
void decode_entry(const container_format::ContainerEntry& stored, XFileHandle& e);
container_format::ContainerEntry encode_entry(const XFileHandle& e);

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

// A container held for a rewrite: open for reading and writing without sharing, so that no
// other writer can change it until the new one is in place (plat::OutputFile::keep takes the
// handle for that), with its header read and checked against the file's size.
struct HeldContainer {
    // What kept the container from being held; each face words it for its own reader.
    enum class Problem { None, InUse, CannotOpen, CannotRead, Damaged };
    Problem problem = Problem::None;
    std::string detail;  // the system's words, or what is wrong with the header
    plat::File file;
    std::int64_t size = 0;
    container_format::ContainerHeader header;  // whole when the container is held
};

// Holds an existing container. A file another program has open is InUse; one whose header is
// short or whose directory points outside the file is Damaged.
HeldContainer hold_container(const char* path);

}  // namespace xfile
