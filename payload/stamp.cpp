// The pack builder's work on memory: finding the region, checking the files, stamping them.
// Output depends on nothing but the inputs: names are padded with NULs, the fill stays as
// the template had it, the order is the one given (but for the rule on "Begin").
#include "payload/stamp.h"

#include <algorithm>
#include <cstring>

#include "payload/extract.h"
#include "payload/key.h"
#include "payload/region.h"
#include "base/little_endian.h"
#include "platform/rules/winpath.h"

namespace payload {

namespace {

constexpr std::size_t kFillLength = kRegionChars - kBeginLength - kEndLength;

bool all_fill(const std::uint8_t* p, std::size_t n) {
    return std::all_of(p, p + n, [](std::uint8_t b) { return b == kFillByte; });
}

bool has_region_end(const std::uint8_t* region) {
    return std::memcmp(region + kRegionChars - kEndLength, kEndWord, kEndLength) == 0 &&
           region[kRegionChars] == 0;
}

bool is_template(const std::uint8_t* region) {
    return std::memcmp(region, kBeginWord, kBeginLength) == 0 && all_fill(region + kBeginLength, kFillLength) &&
           has_region_end(region);
}

bool begins_with_begin(const std::string& name) { return name.compare(0, kBeginLength, kBeginWord) == 0; }

// A start that a region can have: the template's word, an empty list, or an entry name.
bool plausible_start(const std::uint8_t* region) {
    if (region[0] == kFillByte || std::memcmp(region, kBeginWord, kBeginLength) == 0) return true;
    const void* nul = std::memchr(region, 0, kNameFieldSize);
    if (!nul) return false;
    std::size_t length = static_cast<const std::uint8_t*>(nul) - region;
    return is_valid_entry_name(reinterpret_cast<const char*>(region), length);
}

// Every offset where `word` (of `length` bytes) starts and a whole region would fit.
template <typename Visit>
void for_each_occurrence(std::span<const std::uint8_t> image, const char* word, std::size_t length,
                         std::size_t word_offset_in_region, Visit visit) {
    if (image.size() < kRegionBytes) return;
    const std::uint8_t* begin = image.data();
    const std::uint8_t* end = begin + image.size();
    const std::uint8_t* p = begin + word_offset_in_region;
    const std::uint8_t* last = end - (kRegionBytes - word_offset_in_region);
    while (p <= last) {
        p = static_cast<const std::uint8_t*>(std::memchr(p, word[0], last - p + 1));
        if (!p) return;
        if (std::memcmp(p, word, length) == 0 && !visit(static_cast<std::size_t>(p - begin) - word_offset_in_region))
            return;
        ++p;
    }
}

FindResult single(int found) { return found == 0 ? FindResult::NotFound : found == 1 ? FindResult::Found : FindResult::Ambiguous; }

}  // namespace

FindResult find_template_region(std::span<const std::uint8_t> image, std::size_t* offset) {
    int found = 0;
    for_each_occurrence(image, kBeginWord, kBeginLength, 0, [&](std::size_t start) {
        if (is_template(image.data() + start)) {
            if (found++ == 0) *offset = start;
        }
        return found < 2;
    });
    return single(found);
}

FindResult find_region(std::span<const std::uint8_t> image, std::size_t* offset) {
    int found = 0;
    // "End" and its NUL, which sit at the region's last four bytes.
    static const char kEndAndNul[] = {'E', 'n', 'd', 0};
    for_each_occurrence(image, kEndAndNul, sizeof kEndAndNul, kRegionChars - kEndLength, [&](std::size_t start) {
        const std::uint8_t* region = image.data() + start;
        if (region[kEntryCapacity - 1] == kFillByte && plausible_start(region)) {
            if (found++ == 0) *offset = start;
        }
        return found < 2;
    });
    return single(found);
}

std::size_t packed_size(const std::vector<PackFile>& files) {
    std::size_t total = 1;
    for (const PackFile& f : files) total += kEntryHeaderSize + f.content.size();
    return total;
}

Result plan_pack(const std::vector<PackFile>& files, std::vector<std::size_t>* order) {
    order->clear();
    if (files.empty()) {
        return Result::failed("no files to pack");
    }
    for (std::size_t i = 0; i < files.size(); ++i) {
        const std::string& name = files[i].name;
        if (name.size() > kNameMaxChars || std::memchr(name.data(), 0, name.size()) ||
            !is_valid_entry_name(name.c_str(), name.size())) {
            return Result::failed(name + ": the installer would refuse this name (1 to 19 characters, no '\\', "
                                         "'/' or ':', not beginning with '.', no device name)");
        }
        for (std::size_t j = 0; j < i; ++j) {
            if (plat::names_equal_ignoring_case(files[j].name, name)) {
                return Result::failed(name + ": two files of this name (" + files[j].name + " and " + name +
                                      "); Windows does not tell them apart");
            }
        }
    }
    std::size_t total = packed_size(files);
    if (total > kEntryCapacity) {
        return Result::failed("the files need " + std::to_string(total) +
                              " bytes (24 per file, the contents and one '.'), " +
                              std::to_string(total - kEntryCapacity) + " bytes more than the region's " +
                              std::to_string(kEntryCapacity));
    }
    std::size_t first = 0;
    while (first < files.size() && begins_with_begin(files[first].name)) ++first;
    if (first == files.size()) {
        return Result::failed("every file's name begins with \"Begin\": the installer would take the patch for "
                              "an empty template; add a file of another name");
    }
    order->push_back(first);
    for (std::size_t i = 0; i < files.size(); ++i)
        if (i != first) order->push_back(i);
    return Result::applied();
}

Result stamp_region(std::span<std::uint8_t> region, const std::vector<PackFile>& files) {
    if (region.size() != kRegionBytes || !is_template(region.data()))
        return Result::failed("the region is not in template state");
    std::vector<std::size_t> order;
    if (Result planned = plan_pack(files, &order); planned.failed()) return planned;
    std::uint8_t* p = region.data();
    for (std::size_t i : order) {
        const PackFile& f = files[i];
        std::memset(p, 0, kNameFieldSize);
        std::memcpy(p, f.name.data(), f.name.size());
        le::put32s(p + kNameFieldSize, static_cast<std::int32_t>(f.content.size()));
        p += kEntryHeaderSize;
        if (!f.content.empty()) std::memcpy(p, f.content.data(), f.content.size());
        scramble_content(p, f.content.size());
        p += f.content.size();
    }
    *p = kFillByte;  // the template's fill already is '.', but the list's end must not depend on it
    return Result::applied();
}

}  // namespace payload
