// The table record files (multigen.dat, patch.dat): which logical names live in which
// container. Records never add names; they complete entries of the file table.
#pragma once

#include <cstddef>
#include <cstdint>

namespace config {

constexpr std::size_t kRecordSize = 42;

// One 42-byte record: name (20, NUL-terminated), container (20), unused byte, CD flag.
struct TableRecord {
    char name[20];
    char container[20];
    std::uint8_t cd_flag;
};
TableRecord decode_record(const std::uint8_t* bytes);

// Applies one record to the file table; false when the table has no such name.
bool apply_record(const TableRecord& record);

// Loads a record file through XFile. Returns 1 when it could be opened, else 0.
int load_record_file(const char* path);

}  // namespace config
