// Payload regions built in memory for the tests: the template state, and stamped regions
// written byte by byte so that tests can also build the damaged ones no builder would make.
#pragma once

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "payload/key.h"
#include "payload/region.h"
#include "base/little_endian.h"

namespace testing_support {

inline std::vector<std::uint8_t> template_region() {
    std::vector<std::uint8_t> r(payload::kRegionBytes, payload::kFillByte);
    std::memcpy(r.data(), "Begin", 5);
    std::memcpy(r.data() + payload::kRegionChars - 3, "End", 3);
    r[payload::kRegionChars] = 0;
    return r;
}

// A digest area as the template program carries it: the marker, "none yet", zeros.
inline std::vector<std::uint8_t> template_digest_area() {
    std::vector<std::uint8_t> area(payload::kDigestAreaBytes, 0);
    std::memcpy(area.data(), "DravoPatchDigest+", 17);
    return area;
}

// Appends one raw entry at `*at`: the 20-byte name field as given (padded with `pad`), the
// size as given, and `content` scrambled with the key.
inline void put_entry(std::vector<std::uint8_t>& region, std::size_t* at, const std::string& name_field,
                      std::int32_t size, const std::string& content, std::uint8_t pad = 0) {
    std::uint8_t* p = region.data() + *at;
    std::memset(p, pad, payload::kNameFieldSize);
    std::memcpy(p, name_field.data(), std::min(name_field.size(), payload::kNameFieldSize));
    le::put32s(p + payload::kNameFieldSize, size);
    std::memcpy(p + payload::kEntryHeaderSize, content.data(), content.size());
    payload::scramble_content(p + payload::kEntryHeaderSize, content.size());
    *at += payload::kEntryHeaderSize + content.size();
}

inline std::string pattern(std::size_t size, unsigned seed = 1) {
    std::string s(size, '\0');
    for (std::size_t i = 0; i < size; ++i) s[i] = static_cast<char>((i * 131 + seed * 7 + (i >> 8)) & 0xFF);
    return s;
}

}  // namespace testing_support
