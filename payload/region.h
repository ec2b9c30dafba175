// The payload region: the fixed-size character array in the installer's initialised data
// into which the pack builder stamps a patch's files.
//
//   template state:  "Begin", 1,219,592 x '.', "End", NUL         (nothing to install)
//   stamped state:   entry entry ... '.' '.' ... "End" NUL
//   entry:           name[20] (NUL inside) | size (int32, little-endian) | content[size]
//
// The layout constants live here for every reader; the array itself is defined in region.cpp,
// which only the programs that carry a payload link.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace payload {

constexpr std::size_t kRegionChars = 1219600;            // the characters before the NUL
constexpr std::size_t kRegionBytes = kRegionChars + 1;   // the array, NUL included
constexpr char kBeginWord[] = "Begin";
constexpr char kEndWord[] = "End";
constexpr std::size_t kBeginLength = 5;
constexpr std::size_t kEndLength = 3;
// The region's last four bytes, "End" and the NUL, are never part of an entry, so that a
// stamped region can still be found by its end.
constexpr std::size_t kEntryCapacity = kRegionChars - kEndLength;
constexpr char kFillByte = '.';

constexpr std::size_t kNameFieldSize = 20;
constexpr std::size_t kNameMaxChars = kNameFieldSize - 1;
constexpr std::size_t kEntryHeaderSize = kNameFieldSize + 4;

// The digest area: a small array of its own beside the region, where the pack builder puts
// the SHA-256 of the stamped region so that the installer can refuse a damaged patch before
// it unscrambles or writes anything.
//
//   "DravoPatchDigest" | state | covered (uint32, little-endian) | SHA-256[32]
//
// The state byte: '+' none yet, '#' stamped, the digest covering the whole region
// (`covered` = kRegionBytes), so that no byte the extraction could read is left out. The
// kit's first templates had '-' (none yet) and '=' (stamped, `covered` counting only the
// bytes up to the end of the last entry, which left the fill behind the list unchecked): both
// are still found, so that such a template or installer is refused with words that say what
// to do, rather than taken for something else. The builder finds the area by its marker and
// state, as it finds the region.
constexpr char kDigestMarker[] = "DravoPatchDigest";
constexpr std::size_t kDigestMarkerLength = 16;
constexpr std::uint8_t kDigestUnset = '+';
constexpr std::uint8_t kDigestSet = '#';
constexpr std::uint8_t kDigestUnsetOlder = '-';
constexpr std::uint8_t kDigestSetOlder = '=';
constexpr std::size_t kDigestStateAt = kDigestMarkerLength;
constexpr std::size_t kDigestCoveredAt = kDigestStateAt + 1;
constexpr std::size_t kDigestValueAt = kDigestCoveredAt + 4;
constexpr std::size_t kDigestAreaBytes = kDigestValueAt + 32;

// The region of this program, writable: extraction unscrambles it in place.
std::span<std::uint8_t> installer_region();
// This program's digest area.
std::span<const std::uint8_t> installer_digest_area();

}  // namespace payload
