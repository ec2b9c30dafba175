// Containers built in memory for the tests, and a reader of their directory entries.
#pragma once

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "xfile/container.h"
#include "xfile/container_format.h"

namespace testing_support {

struct Member {
    std::string name;
    std::string data;
    std::uint16_t attribute = 2;
};

// A container file as the game stores it: header, directory, then the members' data in order.
// Names are stored as given, up to all 20 bytes, so that a test can write one without an end.
inline std::string make_container(const std::vector<Member>& members, const char* tag = "") {
    container_format::ContainerHeader header;
    std::array<char, container_format::kTagBytes> tag_bytes{};
    std::memcpy(tag_bytes.data(), tag, std::min(std::strlen(tag), tag_bytes.size()));
    header.set_tag_bytes(tag_bytes);
    std::string data;
    for (std::size_t i = 0; i < members.size(); ++i) {
        container_format::ContainerEntry e;
        std::memcpy(e.name.data(), members[i].name.data(), std::min(members[i].name.size(), e.name.size()));
        e.size = static_cast<std::int32_t>(members[i].data.size());
        e.offset = static_cast<std::int32_t>(kContainerHeaderSize + data.size());
        e.attribute = members[i].attribute;
        header.set_entry(static_cast<int>(i), e);
        data += members[i].data;
    }
    return std::string(reinterpret_cast<const char*>(header.bytes().data()), kContainerHeaderSize) + data;
}

struct EntryOnDisk {
    std::string name;
    std::int32_t size, offset;
    std::uint16_t attribute;
};
inline EntryOnDisk entry_on_disk(const std::string& file, int i) {
    std::span<const std::uint8_t> bytes(reinterpret_cast<const std::uint8_t*>(file.data()), kContainerHeaderSize);
    container_format::ContainerEntry e = container_format::ContainerHeader::decode(bytes)->entry(i);
    return {std::string(e.name_text()), e.size, e.offset, e.attribute};
}

}  // namespace testing_support
