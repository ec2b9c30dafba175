// The table record loader: any bytes as multigen.dat against a small file table; and every
// whole record, decoded and encoded, must decode to the same record.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <span>
#include <string>

#include "config/config.h"
#include "config/file_table.h"
#include "xfile/records.h"
#include "platform/platform.h"
#include "xfile/xfile.h"
#include "fuzz/memory_files.h"

namespace {

const char kGame[] =
    "[path]\n"
    "hero                c:\\game\\\n"
    "map                 c:\\game\\maps\\\n"
    "                    \n";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    config::reset_configuration();
    xfile::reset_xfile();
    std::FILE* ini = fmemopen(const_cast<char*>(kGame), sizeof kGame - 1, "rb");
    config::read_configuration_from(ini, config::ConfigMode::Game);
    std::fclose(ini);

    for (std::size_t at = 0; at + xfile::kRecordSize <= size; at += xfile::kRecordSize) {
        std::span<const std::uint8_t, xfile::kRecordSize> bytes(data + at, xfile::kRecordSize);
        xfile::TableRecord r = xfile::decode_record(bytes);
        std::uint8_t again[xfile::kRecordSize];
        xfile::encode_record(r, again);
        xfile::TableRecord back = xfile::decode_record(again);
        if (std::strcmp(back.name, r.name) || std::strcmp(back.container, r.container) || back.cd_flag != r.cd_flag)
            __builtin_trap();
    }

    use_memory_files();
    std::string path = "m:\\multigen.dat";
    std::FILE* out = plat::open_text(path.c_str(), "wb");
    if (!out) return 0;
    std::fwrite(data, 1, size, out);
    std::fclose(out);
    if (xfile::load_record_file(path.c_str()) != 1) __builtin_trap();
    for (const char* n : {"hero", "map"}) {
        const config::FileEntry* e = config::find_entry(n);
        if (!e || std::strlen(e->container) > config::kNameChars) __builtin_trap();
    }
    return 0;
}
