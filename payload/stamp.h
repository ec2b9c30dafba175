// The pack builder: finds the payload region in a copy of the installer and stamps a patch's
// files into it, scrambled with the key, the way extraction reads them back.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "base/result.h"

namespace payload {

struct PackFile {
    std::string name;                   // the base name the installer writes
    std::vector<std::uint8_t> content;  // plain
};

enum class FindResult { Found, NotFound, Ambiguous };

// The one region in template state in a program image: "Begin", '.' fill, "End" and the NUL
// at the region's last byte.
FindResult find_template_region(std::span<const std::uint8_t> image, std::size_t* offset);

// The one region, stamped or not, found by its end ("End", NUL, with a '.' before "End") and
// by a start that is "Begin", a '.' (an empty patch) or a well-formed entry name.
FindResult find_region(std::span<const std::uint8_t> image, std::size_t* offset);

// Bytes the files take in the region: a 24-byte header each, the contents, the closing '.'.
std::size_t packed_size(const std::vector<PackFile>& files);

// Checks the files (names the installer writes, no two equal without regard to case, room in
// the region) and decides their order: as given, except that a first file whose name begins
// with "Begin" would make the region look unstamped, so the first file that does not is
// moved to the front. Failed, with the reason, when the files cannot be packed.
Result plan_pack(const std::vector<PackFile>& files, std::vector<std::size_t>* order);

// Stamps the files into a region in template state (kRegionBytes long). The region is left as
// it was when this fails.
Result stamp_region(std::span<std::uint8_t> region, const std::vector<PackFile>& files);

}  // namespace payload
