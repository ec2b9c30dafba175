// The patch's digest: the builder's side and the installer's.
#include "payload/digest_area.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "base/little_endian.h"
#include "payload/extract.h"
#include "payload/region.h"
#include "platform/digest.h"

namespace payload {

namespace {

bool is_area_at(std::span<const std::uint8_t> image, std::size_t at) {
    if (image.size() - at < kDigestAreaBytes || std::memcmp(image.data() + at, kDigestMarker, kDigestMarkerLength) != 0)
        return false;
    std::uint8_t state = image[at + kDigestStateAt];
    return state == kDigestUnset || state == kDigestSet || state == kDigestUnsetOlder || state == kDigestSetOlder;
}

bool digest_of(std::span<const std::uint8_t> bytes, plat::Sha256Digest* out) {
    plat::Sha256 hash;
    hash.update(bytes.data(), bytes.size());
    return hash.finish(out);
}

constexpr char kDamaged[] = "The patch is damaged: download it again.";

}  // namespace

FindResult find_digest_area(std::span<const std::uint8_t> image, std::size_t* offset) {
    FindResult found = FindResult::NotFound;
    for (auto it = image.begin();; ++it) {
        it = std::search(it, image.end(), kDigestMarker, kDigestMarker + kDigestMarkerLength);
        if (it == image.end()) break;
        std::size_t at = static_cast<std::size_t>(it - image.begin());
        if (!is_area_at(image, at)) continue;
        if (found == FindResult::Found) return FindResult::Ambiguous;
        found = FindResult::Found;
        *offset = at;
    }
    return found;
}

Result stamp_digest(std::span<std::uint8_t> area, std::span<const std::uint8_t> region) {
    if (area.size() != kDigestAreaBytes || region.size() != kRegionBytes) return Result::failed("wrong sizes");
    if (area[kDigestStateAt] == kDigestUnsetOlder)
        return Result::failed("the template is of an older kind, whose digest would not cover the whole patch: "
                              "use the DravoPatch.exe built with this version of the kit");
    if (area[kDigestStateAt] != kDigestUnset) return Result::failed("the template's digest area is stamped already");
    if (!walk_entry_list(region, nullptr, nullptr)) return Result::failed("the stamped region does not read back whole");
    plat::Sha256Digest digest;
    if (!digest_of(region, &digest)) return Result::failed("the digest could not be computed");
    area[kDigestStateAt] = kDigestSet;
    le::put32(area.data() + kDigestCoveredAt, static_cast<std::uint32_t>(region.size()));
    std::copy(digest.begin(), digest.end(), area.begin() + kDigestValueAt);
    return Result::applied();
}

std::string recorded_digest(std::span<const std::uint8_t> area) {
    if (area.size() != kDigestAreaBytes || area[kDigestStateAt] != kDigestSet) return {};
    plat::Sha256Digest digest;
    std::copy(area.begin() + kDigestValueAt, area.end(), digest.begin());
    return plat::to_hex(digest);
}

Result verify_region(std::span<const std::uint8_t> region, std::span<const std::uint8_t> area) {
    if (region.size() != kRegionBytes) return Result::failed(kDamaged);
    if (area.size() == kDigestAreaBytes && area[kDigestStateAt] == kDigestSetOlder)
        return Result::failed("The patch was stamped by an older version of the kit, whose digest does not cover all "
                              "of it, so it cannot be checked. Stamp it again with \"dravo pack build\", or download "
                              "it again.");
    if (area.size() != kDigestAreaBytes || area[kDigestStateAt] != kDigestSet)
        return Result::failed("The patch is damaged: it carries no digest of its files, so it cannot be checked. "
                              "Stamp it again with \"dravo pack build\", or download it again.");
    plat::Sha256Digest digest;
    if (le::get32(area.data() + kDigestCoveredAt) != region.size() || !digest_of(region, &digest) ||
        !std::equal(digest.begin(), digest.end(), area.begin() + kDigestValueAt))
        return Result::failed(kDamaged);
    return Result::applied();
}

}  // namespace payload
