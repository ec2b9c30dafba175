// The digest of a stamped patch: written by the pack builder into the installer's digest
// area, checked by the installer before anything of the patch is unscrambled or written.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "base/result.h"
#include "payload/stamp.h"

namespace payload {

// The one digest area of a program image, stamped or not; found by the marker followed by a
// state byte, which a copy of the marker's text elsewhere in the program does not have.
FindResult find_digest_area(std::span<const std::uint8_t> image, std::size_t* offset);

// Records the digest of a freshly stamped region (kRegionBytes) in `area` (kDigestAreaBytes):
// the bytes from the region's start to the end of its last entry.
Result stamp_digest(std::span<std::uint8_t> area, std::span<const std::uint8_t> region);

// The digest the area records, in hexadecimal; empty when it records none.
std::string recorded_digest(std::span<const std::uint8_t> area);

// Whether the stamped region is the one the builder stamped: refused, in words for the user,
// when the area holds no digest or the bytes do not match it.
Result verify_region(std::span<const std::uint8_t> region, std::span<const std::uint8_t> area);

}  // namespace payload
