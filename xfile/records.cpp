// Loader of the table record files: a sequence of 42-byte records with no header; a tail
// shorter than a record is ignored. A later file overrides an earlier one's record.
#include "xfile/records.h"

#include <algorithm>
#include <cstring>

#include "config/file_table.h"
#include "base/text.h"
#include "platform/platform.h"
#include "xfile/xfile.h"

namespace xfile {

using config::FileEntry;
using config::find_entry;
using text::copy_if_fits;

namespace {

void get_text(char (&out)[kRecordTextBytes], const std::uint8_t* in) {
    std::memcpy(out, in, kRecordTextBytes);
    out[kRecordTextBytes - 1] = 0;
}

void put_text(std::uint8_t* out, const char (&text)[kRecordTextBytes]) {
    std::memcpy(out, text, strnlen(text, kRecordTextBytes - 1));
}

}  // namespace

TableRecord decode_record(std::span<const std::uint8_t, kRecordSize> bytes) {
    TableRecord r{};
    get_text(r.name, bytes.data() + kRecordNameOffset);
    get_text(r.container, bytes.data() + kRecordContainerOffset);
    r.cd_flag = bytes[kRecordCdFlagOffset];
    return r;
}

void encode_record(const TableRecord& record, std::span<std::uint8_t, kRecordSize> bytes) {
    std::fill(bytes.begin(), bytes.end(), 0);
    put_text(bytes.data() + kRecordNameOffset, record.name);
    put_text(bytes.data() + kRecordContainerOffset, record.container);
    bytes[kRecordCdFlagOffset] = record.cd_flag;
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

}  // namespace xfile
