// Loader of the table record files: a sequence of 42-byte records with no header; a tail
// shorter than a record is ignored. A later file overrides an earlier one's record.
#include "xfile/records.h"

#include <cstring>

#include "config/file_table.h"
#include "base/text.h"
#include "platform/platform.h"
#include "xfile/xfile.h"

namespace config {

TableRecord decode_record(const std::uint8_t* bytes) {
    TableRecord r{};
    std::memcpy(r.name, bytes, 20);
    r.name[19] = 0;
    std::memcpy(r.container, bytes + 20, 20);
    r.container[19] = 0;
    r.cd_flag = bytes[41];
    return r;
}

bool apply_record(const TableRecord& record) {
    FileEntry* e = find_entry(record.name);
    if (!e) return false;
    std::strcpy(e->container, record.container);
    e->cd_flag = record.cd_flag;
    return true;
}

int load_record_file(const char* path) {
    char name[plat::kMaxPath + 1];
    if (!copy_if_fits(name, plat::kMaxPath, path)) return 0;
    XFileHandle* h = nullptr;
    if (xfile_open(name, kXModeReadWhole, &h) < 0) return 0;
    std::uint8_t bytes[kRecordSize];
    while (xfile_read(h, bytes, kRecordSize) == static_cast<int>(kRecordSize))
        apply_record(decode_record(bytes));
    xfile_close(h);
    return 1;
}

}  // namespace config
