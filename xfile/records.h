// The table record files (multigen.dat, patch.dat): which logical names live in which
// container. Records never add names; they complete entries of the file table.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace xfile {

constexpr std::size_t kRecordSize = 42;

// One 42-byte record:
//
//   0 name(20, NUL-terminated)  20 container(20, NUL-terminated)  40 unused(1)  41 CD flag(1)
constexpr std::size_t kRecordNameOffset = 0;
constexpr std::size_t kRecordContainerOffset = 20;
constexpr std::size_t kRecordTextBytes = 20;
constexpr std::size_t kRecordCdFlagOffset = 41;

struct TableRecord {
    char name[kRecordTextBytes];
    char container[kRecordTextBytes];
    std::uint8_t cd_flag;
};
// Names are cut at 19 characters, so that a record without a NUL still decodes to strings.
TableRecord decode_record(std::span<const std::uint8_t, kRecordSize> bytes);
// The unused byte is written as zero.
void encode_record(const TableRecord& record, std::span<std::uint8_t, kRecordSize> bytes);

// Applies one record to the file table; false when the table has no such name.
bool apply_record(const TableRecord& record);

// Loads a record file through XFile. Returns 1 when it could be opened, else 0.
int load_record_file(const char* path);

}  // namespace xfile
