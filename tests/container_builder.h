// Containers built in memory for the tests, and a reader of their directory entries.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "base/little_endian.h"
#include "xfile/container.h"

namespace testing_support {

struct Member {
    std::string name;
    std::string data;
    std::uint16_t attribute = 2;
};

// A container file as the game stores it: header, directory, then the members' data in order.
inline std::string make_container(const std::vector<Member>& members, const char* tag = "") {
    std::string file(kContainerHeaderSize, '\0');
    std::memcpy(&file[0], kContainerSignature, sizeof kContainerSignature);
    std::memcpy(&file[17], tag, std::strlen(tag));
    for (std::size_t i = 0; i < members.size(); ++i) {
        auto* e = reinterpret_cast<std::uint8_t*>(&file[kContainerDirectoryOffset + i * kContainerEntrySize]);
        std::memcpy(e, members[i].name.data(), members[i].name.size());
        le::put32s(e + 32, static_cast<std::int32_t>(members[i].data.size()));
        le::put32s(e + 40, static_cast<std::int32_t>(file.size()));
        le::put16(e + 46, members[i].attribute);
        file += members[i].data;
    }
    return file;
}

struct EntryOnDisk {
    std::string name;
    std::int32_t size, offset;
    std::uint16_t attribute;
};
inline EntryOnDisk entry_on_disk(const std::string& file, int i) {
    const auto* e = reinterpret_cast<const std::uint8_t*>(&file[kContainerDirectoryOffset + i * kContainerEntrySize]);
    return {reinterpret_cast<const char*>(e), le::get32s(e + 32), le::get32s(e + 40), le::get16(e + 46)};
}

}  // namespace testing_support
