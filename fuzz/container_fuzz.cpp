// Container files of any bytes: the header must decode and encode back to the same bytes,
// and the listing and check, member open and read of every member, and a replacement, must
// neither crash nor read out of bounds, and a refused replacement must leave the file as it was.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <optional>
#include <span>
#include <string>

#include "config/config.h"
#include "platform/platform.h"
#include "xfile/container.h"
#include "xfile/container_format.h"
#include "xfile/container_info.h"
#include "xfile/replace.h"
#include "xfile/xfile.h"
#include "fuzz/memory_files.h"

namespace {

void write_all(const std::string& path, const std::uint8_t* data, std::size_t size) {
    std::FILE* f = plat::open_text(path.c_str(), "wb");
    if (!f) return;
    std::fwrite(data, 1, size, f);
    std::fclose(f);
}

std::string read_all(const std::string& path) {
    std::FILE* f = plat::open_text(path.c_str(), "rb");
    std::string out;
    if (!f) return out;
    char buf[65536];
    std::size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, f)) > 0) out.append(buf, n);
    std::fclose(f);
    return out;
}

// Whatever the bytes, a whole header decodes, and encoding it and each of its entries gives
// the same bytes back.
void check_round_trip(const std::uint8_t* data, std::size_t size) {
    using container_format::ContainerHeader;
    std::span<const std::uint8_t> bytes(data, size < kContainerHeaderSize ? size : kContainerHeaderSize);
    std::optional<ContainerHeader> header = ContainerHeader::decode(bytes);
    if (header.has_value() != (size >= kContainerHeaderSize)) __builtin_trap();
    if (!header) return;
    static std::uint8_t again[kContainerHeaderSize];
    if (!header->encode(again) || std::memcmp(again, data, kContainerHeaderSize) != 0) __builtin_trap();
    ContainerHeader rebuilt = *header;
    for (int i = 0; i < kContainerMembers; ++i) {
        container_format::ContainerEntry e = header->entry(i);
        rebuilt.set_entry(i, e);
        container_format::ContainerEntry back = rebuilt.entry(i);
        if (back.name != e.name || back.size != e.size || back.offset != e.offset || back.attribute != e.attribute)
            __builtin_trap();
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    config::reset_configuration();
    xfile::reset_xfile();
    use_memory_files();
    std::string path = "m:\\dravo.mul";
    std::string source = "m:\\hero.new";
    check_round_trip(data, size);
    write_all(path, data, size);
    static const std::uint8_t kNew[] = "replacement data";
    write_all(source, kNew, sizeof kNew - 1);

    ContainerInfo info;
    if (!read_container_info(path.c_str(), info)) return 0;
    check_container(info);

    char buf[4096];
    for (const ContainerMemberInfo& m : info.members) {
        char name[20];
        std::snprintf(name, sizeof name, "%s", m.name.c_str());
        XFileHandle* h = nullptr;
        if (xfile::member_open(path.c_str(), name, kXModeRead, &h) == kXOk) {
            while (xfile_read(h, buf, sizeof buf) > 0) {
            }
            xfile_close(h);
        }
    }
    xfile::reset_xfile();

    if (!info.members.empty()) {
        std::string before(reinterpret_cast<const char*>(data), size);
        char member[20];
        std::snprintf(member, sizeof member, "%s", info.members.front().name.c_str());
        std::string src = source;
        ReplaceResult r = replace_member_in(path.c_str(), member, src.data(), SourceKind::Path);
        if (r.result != WorkResult::Applied && read_all(path) != before) __builtin_trap();
    }
    return 0;
}
