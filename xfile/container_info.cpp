// Reading a container's directory for people.
#include "xfile/container_info.h"

#include <algorithm>
#include <optional>
#include <set>

#include "platform/platform.h"
#include "xfile/container.h"

ContainerInfo container_info_from_header(const container_format::ContainerHeader& header, std::int64_t file_size) {
    ContainerInfo info;
    info.file_size = file_size;
    info.header_complete = true;
    info.tag = header.tag();
    for (int i = 0; i < kContainerMembers; ++i) {
        container_format::ContainerEntry e = header.entry(i);
        if (!e.used()) continue;
        info.members.push_back({i, std::string(e.name_text()), e.offset, e.size, e.attribute});
    }
    return info;
}

ContainerInfo container_info_from_header(std::span<const std::uint8_t> header, std::int64_t file_size) {
    std::optional<container_format::ContainerHeader> decoded = container_format::ContainerHeader::decode(header);
    if (!decoded) {
        ContainerInfo info;
        info.file_size = file_size;
        return info;
    }
    return container_info_from_header(*decoded, file_size);
}

bool read_container_info(const char* path, ContainerInfo& info) {
    plat::File file = plat::File::open(path, plat::Access::Read, plat::Disposition::OpenExisting);
    if (!file) return false;
    static std::uint8_t header[kContainerHeaderSize];
    std::uint32_t got = 0;
    if (!plat::read_file(file.get(), header, kContainerHeaderSize, &got)) return false;
    std::int64_t size = plat::file_size(file.get());
    info = container_info_from_header(std::span<const std::uint8_t>(header, got), size);
    return true;
}

namespace {

bool lies_inside(const ContainerMemberInfo& m, std::int64_t file_size) {
    return container_format::entry_inside_file(m.offset, m.size, file_size);
}

std::string outside_problem(const ContainerMemberInfo& m, std::int64_t file_size) {
    return m.name + ": offset " + std::to_string(m.offset) + " size " + std::to_string(m.size) +
           " lies outside the file's data (" + std::to_string(file_size) + " bytes)";
}

std::string short_header_problem(std::int64_t file_size) {
    return "the header is short: " + std::to_string(file_size) + " of " + std::to_string(kContainerHeaderSize) +
           " bytes";
}

}  // namespace

std::string structural_problem(const ContainerInfo& info) {
    if (!info.header_complete) return short_header_problem(info.file_size);
    for (const ContainerMemberInfo& m : info.members)
        if (!lies_inside(m, info.file_size)) return outside_problem(m, info.file_size);
    return {};
}

std::vector<std::string> check_container(const ContainerInfo& info) {
    std::vector<std::string> problems;
    if (!info.header_complete) {
        problems.push_back(short_header_problem(info.file_size));
        return problems;
    }
    std::set<std::string> names;
    std::vector<const ContainerMemberInfo*> inside;
    for (const ContainerMemberInfo& m : info.members) {
        if (m.name.size() > 19) problems.push_back("entry " + std::to_string(m.index) + ": the name has no end");
        if (!names.insert(m.name).second) problems.push_back(m.name + ": the name appears twice");
        if (!lies_inside(m, info.file_size)) {
            problems.push_back(outside_problem(m, info.file_size));
        } else {
            inside.push_back(&m);
        }
    }
    std::sort(inside.begin(), inside.end(),
              [](auto* a, auto* b) { return a->offset != b->offset ? a->offset < b->offset : a->size < b->size; });
    // Against the member reaching furthest so far, so that one large member covering several
    // others is reported with each of them.
    const ContainerMemberInfo* furthest = nullptr;
    auto end_of = [](const ContainerMemberInfo* m) { return static_cast<std::int64_t>(m->offset) + m->size; };
    for (const ContainerMemberInfo* cur : inside) {
        if (cur->size == 0) continue;
        if (furthest && end_of(furthest) > cur->offset)
            problems.push_back(furthest->name + " and " + cur->name + " overlap");
        if (!furthest || end_of(cur) > end_of(furthest)) furthest = cur;
    }
    return problems;
}
