// The installer's payload region, in template state until the pack builder stamps a patch
// into a copy of the program.
//
// The array must stay one writable, initialised object of its full size: non-const, so that
// it sits in .data (extraction unscrambles it in place) and can be neither merged with an
// equal constant nor moved to read-only data; external linkage and `used`, so that no
// optimisation drops it. The text is built from string literals joined by the preprocessor,
// which costs the compiler nothing, where a constexpr loop of 1.2 million steps would pass
// the compilers' evaluation limits.
#include "payload/region.h"

#define DRAVO_DOTS10 ".........."
#define DRAVO_DOTS100 \
    DRAVO_DOTS10 DRAVO_DOTS10 DRAVO_DOTS10 DRAVO_DOTS10 DRAVO_DOTS10 \
    DRAVO_DOTS10 DRAVO_DOTS10 DRAVO_DOTS10 DRAVO_DOTS10 DRAVO_DOTS10
#define DRAVO_DOTS1K \
    DRAVO_DOTS100 DRAVO_DOTS100 DRAVO_DOTS100 DRAVO_DOTS100 DRAVO_DOTS100 \
    DRAVO_DOTS100 DRAVO_DOTS100 DRAVO_DOTS100 DRAVO_DOTS100 DRAVO_DOTS100
#define DRAVO_DOTS10K \
    DRAVO_DOTS1K DRAVO_DOTS1K DRAVO_DOTS1K DRAVO_DOTS1K DRAVO_DOTS1K \
    DRAVO_DOTS1K DRAVO_DOTS1K DRAVO_DOTS1K DRAVO_DOTS1K DRAVO_DOTS1K
#define DRAVO_DOTS100K \
    DRAVO_DOTS10K DRAVO_DOTS10K DRAVO_DOTS10K DRAVO_DOTS10K DRAVO_DOTS10K \
    DRAVO_DOTS10K DRAVO_DOTS10K DRAVO_DOTS10K DRAVO_DOTS10K DRAVO_DOTS10K

// 1,219,592 dots: 12 x 100,000 + 10,000 + 9 x 1,000 + 5 x 100 + 9 x 10 + 2.
#define DRAVO_REGION_FILL                                                                    \
    DRAVO_DOTS100K DRAVO_DOTS100K DRAVO_DOTS100K DRAVO_DOTS100K DRAVO_DOTS100K               \
    DRAVO_DOTS100K DRAVO_DOTS100K DRAVO_DOTS100K DRAVO_DOTS100K DRAVO_DOTS100K               \
    DRAVO_DOTS100K DRAVO_DOTS100K                                                            \
    DRAVO_DOTS10K                                                                            \
    DRAVO_DOTS1K DRAVO_DOTS1K DRAVO_DOTS1K DRAVO_DOTS1K DRAVO_DOTS1K DRAVO_DOTS1K            \
    DRAVO_DOTS1K DRAVO_DOTS1K DRAVO_DOTS1K                                                   \
    DRAVO_DOTS100 DRAVO_DOTS100 DRAVO_DOTS100 DRAVO_DOTS100 DRAVO_DOTS100                    \
    DRAVO_DOTS10 DRAVO_DOTS10 DRAVO_DOTS10 DRAVO_DOTS10 DRAVO_DOTS10 DRAVO_DOTS10            \
    DRAVO_DOTS10 DRAVO_DOTS10 DRAVO_DOTS10 ".."

#define DRAVO_REGION_TEXT "Begin" DRAVO_REGION_FILL "End"

// Exactly the array's size, NUL included: a literal one byte short would be padded with a
// NUL in place of the last '.', and the pack builder would no longer find the region.
static_assert(sizeof(DRAVO_REGION_TEXT) == payload::kRegionBytes, "the region text has the region's size");

[[gnu::used]] char dravo_payload_region[payload::kRegionBytes] = DRAVO_REGION_TEXT;

// The marker, the state "none yet" and zeros for the covered length and the digest; non-const
// and used for the same reasons as the region, so that it stays one object in the image.
[[gnu::used]] char dravo_payload_digest[payload::kDigestAreaBytes] = "DravoPatchDigest+";
static_assert(sizeof("DravoPatchDigest+") - 1 == payload::kDigestCoveredAt, "the marker and the state fill the head");

namespace payload {

std::span<std::uint8_t> installer_region() {
    return {reinterpret_cast<std::uint8_t*>(dravo_payload_region), kRegionBytes};
}

std::span<const std::uint8_t> installer_digest_area() {
    return {reinterpret_cast<const std::uint8_t*>(dravo_payload_digest), kDigestAreaBytes};
}

}  // namespace payload
